#include "nn/ssc/kavo_ipu_common.h"

#include <glog/logging.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "mi_ipu.h"
#include "mi_sys.h"
#include "nn/ssc/kavo_mm.h"

namespace {

void destroy_ipu_device_at_exit() {
  MI_S32 s32Ret = MI_IPU_DestroyDevice();
  CHECK(s32Ret == MI_SUCCESS) << "MI_IPU_DestroyDevice failed, ret=0x" << std::hex << s32Ret;
  LOG(WARNING) << "IPU Device Destroy Successfully.";
}

void init_ipu_device(const std::string& firmware, const std::vector<std::string>& modelFiles) {
  CHECK(MI_SUCCESS == MI_SYS_Init(0)) << "MI_SYS_Init failed.";
  LOG(WARNING) << "IPU Device Init ...";
  LOG(WARNING) << "Compute max variable buffer size for IPU device ...";
  MI_U32 maxVariable = 0;
  for (const std::string& file : modelFiles) {
    MI_IPU_OfflineModelStaticInfo_t info{};
    MI_S32 s32Ret = MI_IPU_GetOfflineModeStaticInfo(nullptr, file.c_str(), &info);
    CHECK(s32Ret == MI_SUCCESS) << "MI_IPU_GetOfflineModeStaticInfo failed: " << file << ", ret=0x"
                                << std::hex << s32Ret;
    LOG(WARNING) << file << " required variable buffer size: " << info.u32VariableBufferSize;
    if (info.u32VariableBufferSize > maxVariable) maxVariable = info.u32VariableBufferSize;
  }
  // A model that cannot tell its size (a sealed file) gets what a typical model needs.
  if (maxVariable == 0) maxVariable = 0x100000;
  LOG(WARNING) << "Create IPU Device: " << firmware << " with max variable buffer size: 0x" << std::hex
               << maxVariable;
  MI_IPU_DevAttr_t attr{};
  attr.u32MaxVariableBufSize = maxVariable;
  attr.u32YUV420_W_Pitch_Alignment = 16;
  attr.u32YUV420_H_Pitch_Alignment = 2;
  attr.u32XRGB_W_Pitch_Alignment = 16;
  MI_S32 s32Ret = MI_IPU_CreateDevice(&attr, nullptr, nullptr, firmware.c_str());
  CHECK(s32Ret == MI_SUCCESS) << "MI_IPU_CreateDevice failed: " << firmware << ", ret=0x" << std::hex
                              << s32Ret;
  LOG(WARNING) << "IPU Device Init Successfully.";
  std::atexit(destroy_ipu_device_at_exit);
}

template <typename T>
T read_at(const void* src, size_t offset) {
  T v;
  std::memcpy(&v, static_cast<const unsigned char*>(src) + offset, sizeof(T));
  return v;
}

}  // namespace

std::string KAVO_IPU_IF_Version() { return "0.0.0.1"; }

void KAVO_IPU_Init(const std::string& firmware, const std::vector<std::string>& modelFiles) {
  static std::once_flag once;
  std::call_once(once, [&] { init_ipu_device(firmware, modelFiles); });
}

int KAVO_IPU_GetDataTypeSize(MI_IPU_ELEMENT_FORMAT format) {
  switch (format) {
    case MI_IPU_FORMAT_U8:
    case MI_IPU_FORMAT_NV12:
    case MI_IPU_FORMAT_INT8:
      return 1;
    case MI_IPU_FORMAT_INT16:
      return 2;
    case MI_IPU_FORMAT_INT32:
    case MI_IPU_FORMAT_FP32:
      return 4;
    default:
      LOG(FATAL) << "Unknown Data Type: " << static_cast<int>(format);
  }
  return 0;
}

std::string KAVO_IPU_DataType_Print(const MI_IPU_ELEMENT_FORMAT& format) {
  switch (format) {
    case MI_IPU_FORMAT_U8:
      return "MI_IPU_FORMAT_U8";
    case MI_IPU_FORMAT_NV12:
      return "MI_IPU_FORMAT_NV12";
    case MI_IPU_FORMAT_INT16:
      return "MI_IPU_FORMAT_INT16";
    case MI_IPU_FORMAT_INT32:
      return "MI_IPU_FORMAT_INT32";
    case MI_IPU_FORMAT_INT8:
      return "MI_IPU_FORMAT_INT8";
    case MI_IPU_FORMAT_FP32:
      return "MI_IPU_FORMAT_FP32";
    case MI_IPU_FORMAT_ARGB8888:
      return "MI_IPU_FORMAT_ARGB8888";
    case MI_IPU_FORMAT_ABGR8888:
      return "MI_IPU_FORMAT_ABGR8888";
    default:
      LOG(FATAL) << "Unknown Data Type: " << static_cast<int>(format);
  }
  return "";
}

std::string KAVO_IPU_BLOB_Print(const KAVO_MODEL_BLOB_INFO_S& blob) {
  std::ostringstream os;
  os << "[Index       ]: " << blob.u32Index << "\n";
  os << "[Name        ]: " << blob.name << "\n";
  os << "[DataType    ]: " << KAVO_IPU_DataType_Print(blob.enBlobType) << "\n";
  os << "[Shape       ]: ";
  for (size_t i = 0; i < blob.u32ShapeVec.size(); ++i) os << (i == 0 ? "" : ",") << blob.u32ShapeVec[i];
  os << "\n";
  os << "[StrideBytes ]: " << blob.u32StrideBytes << "\n";
  os << "[AlignedBuf  ]: " << blob.u32AlignedBufSize << "\n";
  os << "[ZeroPoints  ]: " << blob.s64ZeroPoint << "\n";
  os << "[fScalar     ]: " << blob.fScalar << "\n";
  os << "[PHY         ]: " << blob.u64PhyAddr << "\n";
  os << "[VIR         ]: " << reinterpret_cast<uintptr_t>(blob.pVirAddr);
  return os.str();
}

std::string KAVO_IPU_MEM_Print(const KAVO_MODEL_MEM_INFO_S& mem) {
  std::ostringstream os;
  os << std::hex << "[Size ]: 0x" << mem.u32Size << "\n";
  for (uint32_t k = 0; k < mem.u32Size && k < KAVO_IPU_IF_BLOB_MAX_NUM; ++k) {
    os << "[Phy/Vir " << std::dec << k << std::hex << "]: 0x" << mem.u64PhyAddr[k] << "/0x"
       << reinterpret_cast<uintptr_t>(mem.pVirAddr[k]) << "\n";
  }
  return os.str();
}

int KAVO_IPU_ParseSrcStru(const void* src, KAVO_MODEL_BLOB_INFO_S* blob, unsigned long long* pts) {
  const uint32_t width = read_at<uint32_t>(src, 0);
  const uint32_t height = read_at<uint32_t>(src, 4);
  const uint32_t stride = read_at<uint32_t>(src, 44);
  blob->enBlobType = MI_IPU_FORMAT_NV12;
  blob->u32ShapeVec = {1, 3, height, width};
  blob->u32StrideBytes = stride;
  blob->u64PhyAddr = read_at<uint64_t>(src, 120);
  blob->u32AlignedBufSize = height * stride * 3 / 2;
  blob->pVirAddr = KAVO_SYS_IOMmap(blob->u64PhyAddr, blob->u32AlignedBufSize);
  *pts = read_at<uint64_t>(src, 240);
  return 0;
}
