/* MI_IPU of the platform SDK stand-in: the neural-network unit. A device is created once with the
 * firmware; each channel holds one compiled model, whose tensor descriptors tell the caller the
 * buffers to allocate. An invocation names every input and output buffer by physical address; the
 * stand-in checks that each lies inside a live block of emulated physical memory and runs the model's
 * executor in software, reading and writing the buffers in place as the chip's NPU does.
 *
 * Compiled model file: the 8-byte magic "KAVOIPU1", the JSON header length and the payload length
 * (unsigned 32-bit little-endian each), the JSON header, the payload. The header gives
 * "variableBufferSize", "inputs" and "outputs" (tensor descriptors: "name", "format" (element format
 * code), "shape", optional "innerMostStride", "scale", "zeroPoint", "alignedBufSize"), "executor" and
 * its "params". Executors: "zeros", "constant" (params.value, written to every output element),
 * "copy" (input k to output k) and "checksum" (the sum of all input bytes as unsigned 32-bit, written
 * at the start of every output), "onnx" (OpenCV dnn over the payload, see mi_ipu_onnx.cpp). */
#ifndef KAVO_MI_IPU_H_
#define KAVO_MI_IPU_H_

#include "mi_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MI_IPU_MAX_TENSOR_DIM 8
#define MI_IPU_MAX_TENSOR_NAME_LEN 128
#define MI_IPU_MAX_INPUT_TENSOR_CNT 32
#define MI_IPU_MAX_OUTPUT_TENSOR_CNT 32
#define MI_IPU_MAX_TENSOR_CNT 32

/* Module number of the IPU in error codes. */
#define KAVO_MI_MODULE_ID_IPU 0x05

#define MI_ERR_IPU_ILLEGAL_PARAM \
  MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_ILLEGAL_PARAM) /* counts, sizes */
#define MI_ERR_IPU_EXIST MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_EXIST)
/* no such file, channel or device; a tensor address outside any live block */
#define MI_ERR_IPU_UNEXIST MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_UNEXIST)
#define MI_ERR_IPU_NULL_PTR MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NULL_PTR)
/* a model file that cannot be parsed, an unknown executor */
#define MI_ERR_IPU_NOT_SUPPORT MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NOT_SUPPORT)
/* channel table full, model variable buffer larger than the device's, arena full */
#define MI_ERR_IPU_NOMEM MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NOMEM)
/* no device */
#define MI_ERR_IPU_NOTREADY MI_DEF_ERR(KAVO_MI_MODULE_ID_IPU, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SYS_NOTREADY)

/* Element formats of IPU tensors. */
typedef enum {
  MI_IPU_FORMAT_U8 = 0,
  MI_IPU_FORMAT_NV12 = 1,
  MI_IPU_FORMAT_INT16 = 2,
  MI_IPU_FORMAT_INT32 = 3,
  MI_IPU_FORMAT_INT8 = 4,
  MI_IPU_FORMAT_FP32 = 5,
  MI_IPU_FORMAT_UNKNOWN = 6,
  MI_IPU_FORMAT_ARGB8888 = 7,
  MI_IPU_FORMAT_ABGR8888 = 8,
} MI_IPU_ELEMENT_FORMAT;

typedef MI_U32 MI_IPU_CHN;

/* Reads u32Size bytes at u32Offset of a model (or firmware) into pDst; returns 0 on success. */
typedef MI_S32 (*MI_IPU_ReadFunc)(void* pDst, MI_U32 u32Offset, MI_U32 u32Size, void* pCtx);

typedef struct MI_IPU_DevAttr_s {
  MI_U32 u32MaxVariableBufSize;       /* largest variable buffer of any channel's model */
  MI_U32 u32YUV420_W_Pitch_Alignment; /* NV12 width pitch alignment */
  MI_U32 u32YUV420_H_Pitch_Alignment; /* NV12 height pitch alignment */
  MI_U32 u32XRGB_W_Pitch_Alignment;   /* XRGB width pitch alignment */
} MI_IPU_DevAttr_t;

typedef struct MI_IPU_ChnAttr_s {
  MI_U32 u32InputBufDepth;  /* input buffers owned by the channel (the stand-in allocates none) */
  MI_U32 u32OutputBufDepth; /* output buffers owned by the channel */
} MI_IPU_ChnAttr_t;

typedef struct MI_IPU_OfflineModelStaticInfo_s {
  MI_U32 u32VariableBufferSize; /* 0 when the file cannot be parsed (for example a sealed file) */
  MI_U32 u32OfflineModelSize;   /* bytes of the file */
} MI_IPU_OfflineModelStaticInfo_t;

typedef struct MI_IPU_TensorDesc_s {
  MI_U32 u32TensorDim;
  MI_IPU_ELEMENT_FORMAT eElmFormat;
  MI_U32 u32TensorShape[MI_IPU_MAX_TENSOR_DIM]; /* outermost first */
  char name[MI_IPU_MAX_TENSOR_NAME_LEN];
  MI_U32 u32InnerMostStride; /* bytes from one innermost row to the next */
  float fScalar;
  MI_S64 s64ZeroPoint;
  MI_U32 u32AlignedBufSize; /* bytes of one buffer of this tensor */
} MI_IPU_TensorDesc_t;

typedef struct MI_IPU_InOutDesc_s {
  MI_U32 u32InputTensorCount;
  MI_U32 u32OutputTensorCount;
  MI_IPU_TensorDesc_t astInputTensorDescs[MI_IPU_MAX_INPUT_TENSOR_CNT];
  MI_IPU_TensorDesc_t astOutputTensorDescs[MI_IPU_MAX_OUTPUT_TENSOR_CNT];
} MI_IPU_InOutDesc_t;

typedef struct MI_IPU_Tensor_s {
  void* pVirAddr;
  MI_PHY phyAddr;
} MI_IPU_Tensor_t;

typedef struct MI_IPU_TensorVector_s {
  MI_U32 u32TensorCount;
  MI_IPU_Tensor_t astArrayTensors[MI_IPU_MAX_TENSOR_CNT];
} MI_IPU_TensorVector_t;

/* Creates the device. The firmware is read through pfnRead (context pReadCtx) when one is given,
 * else pszFirmware must name a readable file (MI_ERR_IPU_UNEXIST otherwise). MI_ERR_IPU_EXIST when
 * a device exists; MI_ERR_IPU_ILLEGAL_PARAM for a zero variable buffer size. */
MI_S32 MI_IPU_CreateDevice(const MI_IPU_DevAttr_t* pstDevAttr, MI_IPU_ReadFunc pfnRead, void* pReadCtx,
                           const char* pszFirmware);
/* Destroys the device; MI_ERR_IPU_UNEXIST when there is none. Channels stay usable until destroyed. */
MI_S32 MI_IPU_DestroyDevice(void);

/* Reads the header of the model file pszModel (through pfnRead with the path as context when given).
 * A missing file is MI_ERR_IPU_UNEXIST; a file that cannot be parsed succeeds with variable size 0. */
MI_S32 MI_IPU_GetOfflineModeStaticInfo(MI_IPU_ReadFunc pfnRead, const char* pszModel,
                                       MI_IPU_OfflineModelStaticInfo_t* pstInfo);

/* Loads a model into a new channel. Without pfnRead, pModel is the path of the file; with it, pModel
 * is the context handed to every read, and the whole model is read through it. Needs a device. */
MI_S32 MI_IPU_CreateCHN(MI_IPU_CHN* pChn, const MI_IPU_ChnAttr_t* pstChnAttr, MI_IPU_ReadFunc pfnRead,
                        void* pModel);
MI_S32 MI_IPU_DestroyCHN(MI_IPU_CHN chn);

MI_S32 MI_IPU_GetInOutTensorDesc(MI_IPU_CHN chn, MI_IPU_InOutDesc_t* pstDesc);

/* One buffer of each input (output) tensor of the channel, allocated in emulated physical memory at
 * the tensor's aligned size and mapped; the Put calls unmap and free them. */
MI_S32 MI_IPU_GetInputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstInput);
MI_S32 MI_IPU_PutInputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstInput);
MI_S32 MI_IPU_GetOutputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstOutput);
MI_S32 MI_IPU_PutOutputTensors(MI_IPU_CHN chn, MI_IPU_TensorVector_t* pstOutput);

/* Runs the channel's model synchronously. The tensor counts must equal the model's
 * (MI_ERR_IPU_ILLEGAL_PARAM) and every physical address must start a range of the tensor's aligned
 * size inside one live block (MI_ERR_IPU_UNEXIST); nothing is read or written otherwise. A network
 * that refuses its input fails with MI_ERR_IPU_NOT_SUPPORT. */
MI_S32 MI_IPU_Invoke(MI_IPU_CHN chn, const MI_IPU_TensorVector_t* pstInput, MI_IPU_TensorVector_t* pstOutput);

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_IPU_H_ */
