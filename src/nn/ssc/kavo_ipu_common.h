// Records shared between the IPU model channel and its users: the descriptor of one tensor (its
// element format, shape, quantisation and the buffer currently attached), the configuration a
// network wrapper hands to a channel, and the buffer copies of one tensor. Image factories view an
// NV12 input tensor through its descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mi_ipu.h"

// The largest number of buffer copies per tensor.
#define KAVO_IPU_IF_BLOB_MAX_NUM 10

// What a network wrapper hands to a model channel. Plain value.
struct KAVO_MODEL_CFG_S {
  std::string modelName;       // network name, used in messages
  std::string modelFile;       // path of the compiled model file
  uint32_t maxRoiSize = 0;     // largest number of regions per invocation
  uint32_t u32BlobCopies = 0;  // buffer copies per input and output tensor, at most 10
};

// One tensor of a model and the buffer copy currently attached to it. Plain value; the buffer is
// owned by the model channel and must outlive every view made over it.
struct KAVO_MODEL_BLOB_INFO_S {
  MI_IPU_ELEMENT_FORMAT enBlobType = MI_IPU_FORMAT_U8;  // element format
  std::vector<uint32_t> u32ShapeVec;                    // dimensions, outermost first
  uint32_t u32StrideBytes = 0;                          // innermost stride in bytes
  uint32_t u32Index = 0;                                // position among the model's inputs (or outputs)
  uint32_t u32AlignedBufSize = 0;                       // bytes of one buffer of this tensor
  float fScalar = 0.f;                                  // quantisation scale
  int64_t s64ZeroPoint = 0;                             // quantisation zero point
  void* pVirAddr = nullptr;                             // CPU address of the attached buffer
  uint64_t u64PhyAddr = 0;                              // physical address of that buffer
  std::string name;                                     // tensor name from the model
};

// The buffer copies of one tensor: slot k holds copy k; u32Size copies are in use.
struct KAVO_MODEL_MEM_INFO_S {
  void* pVirAddr[KAVO_IPU_IF_BLOB_MAX_NUM] = {};
  uint64_t u64PhyAddr[KAVO_IPU_IF_BLOB_MAX_NUM] = {};
  uint32_t u32Size = 0;
};

// Version of this IPU interface: "0.0.0.1".
std::string KAVO_IPU_IF_Version();

// Starts the IPU device once per process (later calls do nothing; thread-safe): the platform, then
// the device with the largest variable buffer any of `modelFiles` needs (0x100000 when none needs
// any, or none can tell), and its destruction at process exit. Every platform failure is fatal.
void KAVO_IPU_Init(const std::string& firmware, const std::vector<std::string>& modelFiles);

// Bytes of one element of `format` (formats 0 to 5); any other value is fatal.
int KAVO_IPU_GetDataTypeSize(MI_IPU_ELEMENT_FORMAT format);
// Printed name of `format` ("MI_IPU_FORMAT_U8" ...; formats 0 to 5, 7, 8); any other value is fatal.
std::string KAVO_IPU_DataType_Print(const MI_IPU_ELEMENT_FORMAT& format);

// Multi-line descriptions of a tensor descriptor and of a tensor's buffer copies, for logs.
std::string KAVO_IPU_BLOB_Print(const KAVO_MODEL_BLOB_INFO_S& blob);
std::string KAVO_IPU_MEM_Print(const KAVO_MODEL_MEM_INFO_S& mem);

// Describes the NV12 frame of a platform video frame record `src` (width, height, luma stride,
// luma physical address and time stamp at their fixed offsets) as an NV12 tensor of shape
// [1, 3, height, width] whose buffer is mapped with KAVO_SYS_IOMmap (the caller unmaps it with
// KAVO_SYS_Munmap(blob->pVirAddr, blob->u32AlignedBufSize)). Stores the time stamp through `pts`.
// Returns 0; mapping failures are fatal.
int KAVO_IPU_ParseSrcStru(const void* src, KAVO_MODEL_BLOB_INFO_S* blob, unsigned long long* pts);
