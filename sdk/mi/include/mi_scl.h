/* MI_SCL: the scaler, crop and scale of NV12 buffers in physical memory.
 *
 * Stand-in: bilinear in software. Like the chip it refuses, with MI_ERR_SCL_SIZE_LIMIT, a reduction
 * of more than 6 times horizontally or 4 times vertically in one call. Thread-safe; bad arguments
 * return error codes. */
#ifndef KAVO_MI_SCL_H_
#define KAVO_MI_SCL_H_

#include "mi_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MI_SCL_MAX_REDUCTION_H 6 /* crop width <= 6 * destination width */
#define MI_SCL_MAX_REDUCTION_V 4 /* crop height <= 4 * destination height */

typedef enum {
  E_MI_SCL_FILTER_TYPE_AUTO = 0,
  E_MI_SCL_FILTER_TYPE_NEAREST = 1,
  E_MI_SCL_FILTER_TYPE_BILINEAR = 2,
} MI_SCL_FilterType_e;

/* An NV12 buffer (ePixelFormat E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420): plane 0 Y, plane 1 U,V
 * pairs with u32Height / 2 rows; strides in bytes, >= u32Width; even width and height. */
typedef struct MI_SCL_DirectBuf_s {
  MI_SYS_PixelFormat_e ePixelFormat;
  MI_U32 u32Width;
  MI_U32 u32Height;
  MI_U32 u32Stride[2];
  MI_PHY phyAddr[2];
} MI_SCL_DirectBuf_t;

/* Scales the window pstSrcCrop of pstSrc (inside the source, even origin and size; NULL means the
 * whole source) onto the whole of pstDst. May return MI_ERR_SCL_RETRY (0xA009201F) when the scaler is
 * busy: the caller repeats the same call. */
MI_S32 MI_SCL_StretchBuf(const MI_SCL_DirectBuf_t* pstSrc, const MI_SYS_WindowRect_t* pstSrcCrop,
                         const MI_SCL_DirectBuf_t* pstDst, MI_SCL_FilterType_e eFilterType);

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_SCL_H_ */
