// Compiled-model files through the IPU stand-in: MI_IPU_GetOfflineModeStaticInfo and MI_IPU_CreateCHN
// read the model through a read callback, as the library hands them a decrypted model; a channel
// that is created is described, invoked once on small tensors and destroyed. A file that is no model
// must be refused with an error code, and a read must never reach outside the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCommon.h"
#include "mi_ipu.h"
#include "mi_sys.h"

namespace {

// The library's callback over a decrypted model (nn/ssc): reads outside it fail.
MI_S32 read_bytes(void* dst, MI_U32 offset, MI_U32 size, void* ctx) {
  const auto* model = static_cast<const std::string*>(ctx);
  if (offset > model->size() || size > model->size() - offset) return -1;
  std::memcpy(dst, model->data() + offset, size);
  return 0;
}

constexpr uint64_t kInvokeBytes = 1 << 16;  // invoke only models whose tensors are this small

void describe_and_invoke(MI_IPU_CHN chn) {
  MI_IPU_InOutDesc_t desc;
  CHECK_EQ(MI_IPU_GetInOutTensorDesc(chn, &desc), MI_SUCCESS);
  CHECK_LE(desc.u32InputTensorCount, static_cast<MI_U32>(MI_IPU_MAX_INPUT_TENSOR_CNT));
  CHECK_LE(desc.u32OutputTensorCount, static_cast<MI_U32>(MI_IPU_MAX_OUTPUT_TENSOR_CNT));
  uint64_t bytes = 0;
  for (MI_U32 i = 0; i < desc.u32InputTensorCount; ++i)
    bytes += desc.astInputTensorDescs[i].u32AlignedBufSize;
  for (MI_U32 i = 0; i < desc.u32OutputTensorCount; ++i)
    bytes += desc.astOutputTensorDescs[i].u32AlignedBufSize;
  if (bytes > kInvokeBytes) return;
  MI_IPU_TensorVector_t in, out;
  if (MI_IPU_GetInputTensors(chn, &in) != MI_SUCCESS) return;
  if (MI_IPU_GetOutputTensors(chn, &out) == MI_SUCCESS) {
    for (MI_U32 i = 0; i < in.u32TensorCount; ++i)
      std::memset(in.astArrayTensors[i].pVirAddr, static_cast<int>(i + 1),
                  desc.astInputTensorDescs[i].u32AlignedBufSize);
    (void)MI_IPU_Invoke(chn, &in, &out);
    CHECK_EQ(MI_IPU_PutOutputTensors(chn, &out), MI_SUCCESS);
  }
  CHECK_EQ(MI_IPU_PutInputTensors(chn, &in), MI_SUCCESS);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  CHECK_EQ(MI_SYS_Init(0), MI_SUCCESS);
  const std::string firmware = "firmware";
  MI_IPU_DevAttr_t attr{};
  attr.u32MaxVariableBufSize = 0xFFFFFFFFu;
  CHECK_EQ(MI_IPU_CreateDevice(&attr, read_bytes, const_cast<std::string*>(&firmware), nullptr), MI_SUCCESS);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string model(reinterpret_cast<const char*>(data), size);
  MI_IPU_OfflineModelStaticInfo_t info;
  // The SDK hands the read callback the model argument as its context.
  CHECK_EQ(MI_IPU_GetOfflineModeStaticInfo(read_bytes, reinterpret_cast<const char*>(&model), &info),
           MI_SUCCESS);
  CHECK_LE(info.u32OfflineModelSize, size);

  MI_IPU_ChnAttr_t attr{};
  MI_IPU_CHN chn = 0;
  const MI_S32 ret = MI_IPU_CreateCHN(&chn, &attr, read_bytes, const_cast<std::string*>(&model));
  if (ret != MI_SUCCESS) {
    CHECK(ret == MI_ERR_IPU_NOT_SUPPORT || ret == MI_ERR_IPU_UNEXIST) << std::hex << ret;
    return 0;
  }
  describe_and_invoke(chn);
  CHECK_EQ(MI_IPU_DestroyCHN(chn), MI_SUCCESS);
  return 0;
}
