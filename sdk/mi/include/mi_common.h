/* Common types and status codes of the platform SDK (software stand-in).
 * Every function of the SDK returns an MI_S32 status: MI_SUCCESS or an error code built with
 * MI_DEF_ERR. The stand-in runs on a PC: memory, DMA, image engine and scaler are emulated in
 * software behind the same C interface a device build gets from the vendor. */
#ifndef KAVO_MI_COMMON_H_
#define KAVO_MI_COMMON_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Defined only by the stand-in: code that must differ on a PC (the physical-memory device) tests it. */
#define KAVO_MI_STANDIN 1

typedef uint8_t MI_U8;
typedef uint16_t MI_U16;
typedef uint32_t MI_U32;
typedef uint64_t MI_U64;
typedef int8_t MI_S8;
typedef int16_t MI_S16;
typedef int32_t MI_S32;
typedef int64_t MI_S64;
typedef uint64_t MI_PHY; /* physical address; always above 4 GiB in the stand-in */
typedef uint32_t MI_BOOL;

#define MI_TRUE 1
#define MI_FALSE 0

#define MI_SUCCESS 0

/* Error code layout: 0xA0000000 | module << 16 | level << 13 | code. */
#define MI_DEF_ERR(module, level, code) \
  ((MI_S32)(0xA0000000u | ((MI_U32)(module) << 16) | ((MI_U32)(level) << 13) | (MI_U32)(code)))

typedef enum {
  E_MI_MODULE_ID_SYS = 0x01,
  E_MI_MODULE_ID_IVE = 0x02,
  E_MI_MODULE_ID_SCL = 0x09,
} MI_ModuleId_e;

typedef enum {
  E_MI_ERR_LEVEL_INFO = 0,
  E_MI_ERR_LEVEL_WARNING = 1, /* transient: the caller may repeat the call */
  E_MI_ERR_LEVEL_ERROR = 2,
} MI_ErrLevel_e;

typedef enum {
  E_MI_ERR_INVALID_DEVID = 1, /* device index other than 0 */
  E_MI_ERR_INVALID_HANDLE = 2,
  E_MI_ERR_ILLEGAL_PARAM = 3, /* size, stride, window or mode out of range */
  E_MI_ERR_EXIST = 4,         /* handle already created */
  E_MI_ERR_UNEXIST = 5,       /* handle not created, address not in a live block or mapping */
  E_MI_ERR_NULL_PTR = 6,
  E_MI_ERR_NOT_SUPPORT = 8,   /* image type, pixel format, filter or heap not supported */
  E_MI_ERR_NOMEM = 12,        /* arena full or block table full */
  E_MI_ERR_SYS_NOTREADY = 16, /* the arena could not be opened */
  E_MI_ERR_SIZE_LIMIT = 20,   /* engine source larger than the engine accepts, or reduction too large */
  E_MI_ERR_RETRY = 0x1F,      /* engine busy: repeat the call */
} MI_ErrCode_e;

#define MI_ERR_SYS_INVALID_DEVID MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_INVALID_DEVID)
#define MI_ERR_SYS_ILLEGAL_PARAM MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_ILLEGAL_PARAM)
#define MI_ERR_SYS_UNEXIST MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_UNEXIST)
#define MI_ERR_SYS_NULL_PTR MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NULL_PTR)
#define MI_ERR_SYS_NOT_SUPPORT MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NOT_SUPPORT)
#define MI_ERR_SYS_NOMEM MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NOMEM)
#define MI_ERR_SYS_NOTREADY MI_DEF_ERR(E_MI_MODULE_ID_SYS, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SYS_NOTREADY)

#define MI_ERR_IVE_INVALID_HANDLE \
  MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_INVALID_HANDLE)
#define MI_ERR_IVE_ILLEGAL_PARAM MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_ILLEGAL_PARAM)
#define MI_ERR_IVE_EXIST MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_EXIST)
#define MI_ERR_IVE_UNEXIST MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_UNEXIST)
#define MI_ERR_IVE_NULL_PTR MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NULL_PTR)
#define MI_ERR_IVE_NOT_SUPPORT MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NOT_SUPPORT)
#define MI_ERR_IVE_SIZE_LIMIT MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SIZE_LIMIT)
#define MI_ERR_IVE_NOTREADY MI_DEF_ERR(E_MI_MODULE_ID_IVE, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SYS_NOTREADY)

#define MI_ERR_SCL_ILLEGAL_PARAM MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_ILLEGAL_PARAM)
#define MI_ERR_SCL_UNEXIST MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_UNEXIST)
#define MI_ERR_SCL_NULL_PTR MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NULL_PTR)
#define MI_ERR_SCL_NOT_SUPPORT MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NOT_SUPPORT)
#define MI_ERR_SCL_SIZE_LIMIT MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SIZE_LIMIT)
#define MI_ERR_SCL_NOTREADY MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SYS_NOTREADY)
/* The scaler is busy: the caller repeats MI_SCL_StretchBuf while it gets this code (0xA009201F). */
#define MI_ERR_SCL_RETRY MI_DEF_ERR(E_MI_MODULE_ID_SCL, E_MI_ERR_LEVEL_WARNING, E_MI_ERR_RETRY)

/* Rectangle in pixels inside a frame. */
typedef struct MI_SYS_WindowRect_s {
  MI_U16 u16X;
  MI_U16 u16Y;
  MI_U16 u16Width;
  MI_U16 u16Height;
} MI_SYS_WindowRect_t;

/* Pixel formats of frame descriptions (MI_SYS) and scaler buffers (MI_SCL). */
typedef enum {
  E_MI_SYS_PIXEL_FRAME_I8 = 9,                  /* one 8-bit plane */
  E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420 = 11, /* NV12: Y plane, then interleaved U,V at half height */
} MI_SYS_PixelFormat_e;

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_COMMON_H_ */
