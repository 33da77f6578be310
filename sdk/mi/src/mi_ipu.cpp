// MI_IPU of the platform SDK stand-in: the device, model channels, tensor buffers and invocation.
// The executor of a channel's model plays the NPU: it reads the input buffers and writes the output
// buffers through the arena's view of their physical addresses.
#include "mi_ipu.h"

#include <climits>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mi_internal.h"
#include "mi_ipu_model.h"

namespace kavo_mi {
namespace {

constexpr MI_ModuleId_e kModule = static_cast<MI_ModuleId_e>(KAVO_MI_MODULE_ID_IPU);
constexpr std::size_t kMaxChannels = 64;

struct Channel {
  ipu::Model model;
};

struct Ipu {
  std::mutex mutex;  // guards everything below
  bool device = false;
  MI_IPU_DevAttr_t attr{};
  MI_IPU_CHN next = 0;
  std::map<MI_IPU_CHN, std::shared_ptr<Channel>> channels;
};

Ipu& ipu_state() {
  static Ipu* s = new Ipu;  // never destroyed: channels may be destroyed from static destructors
  return *s;
}

std::shared_ptr<Channel> find_channel(MI_IPU_CHN chn) {
  Ipu& s = ipu_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.channels.find(chn);
  return it == s.channels.end() ? nullptr : it->second;
}

// A reader over a file opened once; reads past its end fail.
class FileReader {
 public:
  explicit FileReader(const char* path) : in_(path, std::ios::binary) {}
  bool ok() const { return static_cast<bool>(in_); }
  bool read(void* dst, std::uint32_t offset, std::uint32_t size) {
    in_.clear();
    in_.seekg(offset);
    in_.read(static_cast<char*>(dst), size);
    return static_cast<std::uint32_t>(in_.gcount()) == size;
  }
  std::uint64_t size() {
    in_.clear();
    in_.seekg(0, std::ios::end);
    return static_cast<std::uint64_t>(in_.tellg());
  }

 private:
  std::ifstream in_;
};

ipu::Reader callback_reader(MI_IPU_ReadFunc fn, void* ctx) {
  return [fn, ctx](void* dst, std::uint32_t offset, std::uint32_t size) {
    return fn(dst, offset, size, ctx) == 0;
  };
}

MI_S32 get_tensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* vec, bool inputs) {
  if (vec == nullptr) return MI_ERR_IPU_NULL_PTR;
  std::shared_ptr<Channel> c = find_channel(chn);
  if (c == nullptr) return MI_ERR_IPU_UNEXIST;
  if (MI_S32 ret = arena::attach(kModule)) return ret;
  const auto& descs = inputs ? c->model.inputs : c->model.outputs;
  std::memset(vec, 0, sizeof(*vec));
  for (std::size_t i = 0; i < descs.size(); ++i) {
    MI_PHY phy = 0;
    if (arena::alloc(descs[i].u32AlignedBufSize, &phy) != MI_SUCCESS) {
      for (std::size_t k = 0; k < i; ++k) arena::free(vec->astArrayTensors[k].phyAddr);
      std::memset(vec, 0, sizeof(*vec));
      return MI_ERR_IPU_NOMEM;
    }
    vec->astArrayTensors[i].phyAddr = phy;
    vec->astArrayTensors[i].pVirAddr = arena::view(phy);
  }
  vec->u32TensorCount = static_cast<MI_U32>(descs.size());
  return MI_SUCCESS;
}

MI_S32 put_tensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* vec) {
  if (vec == nullptr) return MI_ERR_IPU_NULL_PTR;
  if (find_channel(chn) == nullptr) return MI_ERR_IPU_UNEXIST;
  if (vec->u32TensorCount > MI_IPU_MAX_TENSOR_CNT) return MI_ERR_IPU_ILLEGAL_PARAM;
  MI_S32 result = MI_SUCCESS;
  for (MI_U32 i = 0; i < vec->u32TensorCount; ++i) {
    if (arena::free(vec->astArrayTensors[i].phyAddr) != MI_SUCCESS) result = MI_ERR_IPU_UNEXIST;
  }
  std::memset(vec, 0, sizeof(*vec));
  return result;
}

// Checks one direction of an invocation and collects the arena views of its buffers.
MI_S32 check_tensors(const MI_IPU_TensorVector_t* vec, const std::vector<MI_IPU_TensorDesc_t>& descs,
                     std::vector<std::uint8_t*>* views) {
  if (vec->u32TensorCount != descs.size()) return MI_ERR_IPU_ILLEGAL_PARAM;
  views->resize(descs.size());
  for (std::size_t i = 0; i < descs.size(); ++i) {
    // A binary search in the arena's sorted block table: the cost does not grow with the blocks.
    MI_PHY phy = vec->astArrayTensors[i].phyAddr;
    if (MI_S32 ret = arena::check_range(kModule, phy, descs[i].u32AlignedBufSize)) return ret;
    (*views)[i] = arena::view(phy);
  }
  return MI_SUCCESS;
}

}  // namespace
}  // namespace kavo_mi

using namespace kavo_mi;

extern "C" {

MI_S32 MI_IPU_CreateDevice(const MI_IPU_DevAttr_t* pstDevAttr, MI_IPU_ReadFunc pfnRead, void* pReadCtx,
                           const char* pszFirmware) {
  KAVO_MI_ENTER(kIpuCreateDevice);
  if (pstDevAttr == nullptr || (pfnRead == nullptr && pszFirmware == nullptr)) return MI_ERR_IPU_NULL_PTR;
  if (pstDevAttr->u32MaxVariableBufSize == 0) return MI_ERR_IPU_ILLEGAL_PARAM;
  if (pfnRead != nullptr) {
    char probe[1];
    if (pfnRead(probe, 0, 1, pReadCtx) != 0) return MI_ERR_IPU_UNEXIST;
  } else if (!FileReader(pszFirmware).ok()) {
    return MI_ERR_IPU_UNEXIST;
  }
  Ipu& s = ipu_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.device) return MI_ERR_IPU_EXIST;
  s.device = true;
  s.attr = *pstDevAttr;
  return MI_SUCCESS;
}

MI_S32 MI_IPU_DestroyDevice(void) {
  KAVO_MI_ENTER(kIpuDestroyDevice);
  Ipu& s = ipu_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.device) return MI_ERR_IPU_UNEXIST;
  s.device = false;
  return MI_SUCCESS;
}

MI_S32 MI_IPU_GetOfflineModeStaticInfo(MI_IPU_ReadFunc pfnRead, const char* pszModel,
                                       MI_IPU_OfflineModelStaticInfo_t* pstInfo) {
  KAVO_MI_ENTER(kIpuGetOfflineModeStaticInfo);
  if (pszModel == nullptr || pstInfo == nullptr) return MI_ERR_IPU_NULL_PTR;
  std::memset(pstInfo, 0, sizeof(*pstInfo));
  std::string header;
  std::string payload;
  bool readFailed = false;
  bool parsed = false;
  if (pfnRead != nullptr) {
    parsed = ipu::read_model_file(callback_reader(pfnRead, const_cast<char*>(pszModel)), &header, &payload,
                                  &readFailed);
  } else {
    FileReader file(pszModel);
    if (!file.ok()) return MI_ERR_IPU_UNEXIST;
    const std::uint64_t size = file.size();
    pstInfo->u32OfflineModelSize = size > UINT_MAX ? UINT_MAX : static_cast<MI_U32>(size);
    using namespace std::placeholders;
    parsed =
        ipu::read_model_file(std::bind(&FileReader::read, &file, _1, _2, _3), &header, &payload, &readFailed);
  }
  // A file that is there but is no model (a sealed one) has no size the stand-in could know.
  ipu::Model model;
  std::string error;
  if (parsed && ipu::parse_model(header, payload, &model, &error)) {
    pstInfo->u32VariableBufferSize = model.variableBufferSize;
    if (pfnRead != nullptr)
      pstInfo->u32OfflineModelSize = static_cast<MI_U32>(16 + header.size() + payload.size());
  }
  return MI_SUCCESS;
}

MI_S32 MI_IPU_CreateCHN(MI_IPU_CHN* pChn, const MI_IPU_ChnAttr_t* pstChnAttr, MI_IPU_ReadFunc pfnRead,
                        void* pModel) {
  KAVO_MI_ENTER(kIpuCreateChn);
  if (pChn == nullptr || pstChnAttr == nullptr || pModel == nullptr) return MI_ERR_IPU_NULL_PTR;
  {
    Ipu& s = ipu_state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.device) return MI_ERR_IPU_NOTREADY;
  }
  std::string header;
  std::string payload;
  bool readFailed = false;
  bool read = false;
  if (pfnRead != nullptr) {
    read = ipu::read_model_file(callback_reader(pfnRead, pModel), &header, &payload, &readFailed);
  } else {
    FileReader file(static_cast<const char*>(pModel));
    if (!file.ok()) return MI_ERR_IPU_UNEXIST;
    using namespace std::placeholders;
    read =
        ipu::read_model_file(std::bind(&FileReader::read, &file, _1, _2, _3), &header, &payload, &readFailed);
  }
  if (!read) return readFailed ? MI_ERR_IPU_UNEXIST : MI_ERR_IPU_NOT_SUPPORT;
  auto channel = std::make_shared<Channel>();
  std::string error;
  if (!ipu::parse_model(header, payload, &channel->model, &error)) return MI_ERR_IPU_NOT_SUPPORT;
  Ipu& s = ipu_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.device) return MI_ERR_IPU_NOTREADY;
  if (channel->model.variableBufferSize > s.attr.u32MaxVariableBufSize) return MI_ERR_IPU_NOMEM;
  if (s.channels.size() >= kMaxChannels) return MI_ERR_IPU_NOMEM;
  while (s.channels.count(s.next) != 0) ++s.next;
  *pChn = s.next++;
  s.channels[*pChn] = std::move(channel);
  return MI_SUCCESS;
}

MI_S32 MI_IPU_DestroyCHN(MI_IPU_CHN chn) {
  KAVO_MI_ENTER(kIpuDestroyChn);
  std::shared_ptr<Channel> victim;  // released after the lock: an executor may be large
  Ipu& s = ipu_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.channels.find(chn);
  if (it == s.channels.end()) return MI_ERR_IPU_UNEXIST;
  victim = std::move(it->second);
  s.channels.erase(it);
  return MI_SUCCESS;
}

MI_S32 MI_IPU_GetInOutTensorDesc(MI_IPU_CHN chn, MI_IPU_InOutDesc_t* pstDesc) {
  KAVO_MI_ENTER(kIpuGetInOutTensorDesc);
  if (pstDesc == nullptr) return MI_ERR_IPU_NULL_PTR;
  std::shared_ptr<Channel> c = find_channel(chn);
  if (c == nullptr) return MI_ERR_IPU_UNEXIST;
  const ipu::Model& m = c->model;
  pstDesc->u32InputTensorCount = static_cast<MI_U32>(m.inputs.size());
  pstDesc->u32OutputTensorCount = static_cast<MI_U32>(m.outputs.size());
  std::copy(m.inputs.begin(), m.inputs.end(), pstDesc->astInputTensorDescs);
  std::copy(m.outputs.begin(), m.outputs.end(), pstDesc->astOutputTensorDescs);
  return MI_SUCCESS;
}

MI_S32 MI_IPU_GetInputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstInput) {
  KAVO_MI_ENTER(kIpuGetInputTensors);
  return get_tensors(chn, pstInput, true);
}

MI_S32 MI_IPU_PutInputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstInput) {
  KAVO_MI_ENTER(kIpuPutInputTensors);
  return put_tensors(chn, pstInput);
}

MI_S32 MI_IPU_GetOutputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstOutput) {
  KAVO_MI_ENTER(kIpuGetOutputTensors);
  return get_tensors(chn, pstOutput, false);
}

MI_S32 MI_IPU_PutOutputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstOutput) {
  KAVO_MI_ENTER(kIpuPutOutputTensors);
  return put_tensors(chn, pstOutput);
}

MI_S32 MI_IPU_Invoke(MI_IPU_CHN chn, const MI_IPU_TensorVector_t* pstInput,
                     MI_IPU_TensorVector_t* pstOutput) {
  KAVO_MI_ENTER(kIpuInvoke);
  if (pstInput == nullptr || pstOutput == nullptr) return MI_ERR_IPU_NULL_PTR;
  std::shared_ptr<Channel> c = find_channel(chn);
  if (c == nullptr) return MI_ERR_IPU_UNEXIST;
  std::vector<std::uint8_t*> in;
  std::vector<std::uint8_t*> out;
  if (MI_S32 ret = check_tensors(pstInput, c->model.inputs, &in)) return ret;
  if (MI_S32 ret = check_tensors(pstOutput, c->model.outputs, &out)) return ret;
  try {
    c->model.executor->run(in, out);
  } catch (const std::exception&) {
    // A network that does not accept what its recipe promised (OpenCV refuses the input).
    return MI_ERR_IPU_NOT_SUPPORT;
  }
  return MI_SUCCESS;
}

}  // extern "C"
