/* MI_IVE: the image engine (resize, colour conversion, integral image) working on images in physical
 * memory. Every operation takes a handle made with MI_IVE_Create, reads its source and writes its
 * destination by physical address, and is complete when it returns (bInstant 1).
 *
 * Stand-in: bilinear resize and BT.601 conversion in software; sources larger than 1920x1080 are
 * refused with MI_ERR_IVE_SIZE_LIMIT, as on the chip, and bInstant other than 1 with
 * MI_ERR_IVE_NOT_SUPPORT. Thread-safe; bad arguments return error codes. */
#ifndef KAVO_MI_IVE_H_
#define KAVO_MI_IVE_H_

#include "mi_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MI_IVE_MAX_HANDLE 128 /* handles are 0 .. MI_IVE_MAX_HANDLE - 1 */
#define MI_IVE_MAX_SRC_WIDTH 1920
#define MI_IVE_MAX_SRC_HEIGHT 1080

typedef MI_S32 MI_IVE_HANDLE;

typedef enum {
  E_MI_IVE_IMAGE_TYPE_U8C1 = 0,         /* one 8-bit plane */
  E_MI_IVE_IMAGE_TYPE_YUV420SP = 2,     /* NV12: plane 0 Y, plane 1 U,V pairs at half height */
  E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR = 11, /* three 8-bit planes (R, G, B for colour conversion) */
  E_MI_IVE_IMAGE_TYPE_U32C1 = 13,       /* one 32-bit plane */
} MI_IVE_ImageType_e;

/* An image in physical memory. u16Stride[k] counts elements of the image type (bytes for the 8-bit
 * types, 4-byte words for U32C1) and must be >= u16Width. Unused planes are ignored. The engine reads
 * and writes through u64PhyAddr only; pu8VirAddr is carried for the caller. Planes are at least
 * u16Stride * (rows - 1) + u16Width elements long and lie inside live blocks. */
typedef struct MI_IVE_Image_s {
  MI_IVE_ImageType_e eType;
  MI_PHY u64PhyAddr[3];
  MI_U8* pu8VirAddr[3];
  MI_U16 u16Stride[3];
  MI_U16 u16Width;
  MI_U16 u16Height;
} MI_IVE_Image_t;

typedef MI_IVE_Image_t MI_IVE_SrcImage_t;
typedef MI_IVE_Image_t MI_IVE_DstImage_t;

typedef enum {
  E_MI_IVE_RESIZE_TYPE_U8C1 = 0,        /* source and destination U8C1 */
  E_MI_IVE_RESIZE_TYPE_U8C3_PLANAR = 1, /* source and destination U8C3_PLANAR, each plane alike */
  E_MI_IVE_RESIZE_TYPE_YUV420SP = 3,    /* source and destination YUV420SP, even sizes */
} MI_IVE_ResizeMode_e;

typedef struct MI_IVE_ResizeCtrl_s {
  MI_IVE_ResizeMode_e eMode;
} MI_IVE_ResizeCtrl_t;

typedef enum {
  E_MI_IVE_CSC_TYPE_YUV2RGB = 0, /* YUV420SP -> U8C3_PLANAR (R, G, B); equal sizes, even */
  E_MI_IVE_CSC_TYPE_RGB2YUV = 2, /* U8C3_PLANAR (R, G, B) -> YUV420SP; equal sizes, even */
} MI_IVE_CscMode_e;

typedef struct MI_IVE_CscCtrl_s {
  MI_IVE_CscMode_e eMode;
} MI_IVE_CscCtrl_t;

typedef enum {
  E_MI_IVE_INTEG_OUT_CTRL_SUM = 1, /* 32-bit sums only */
} MI_IVE_IntegOutCtrl_e;

typedef struct MI_IVE_IntegCtrl_s {
  MI_IVE_IntegOutCtrl_e eOutCtrl;
} MI_IVE_IntegCtrl_t;

/* Opens handle hHandle (0..127); creating a live handle again is MI_ERR_IVE_EXIST. Handles are
 * per process. */
MI_S32 MI_IVE_Create(MI_IVE_HANDLE hHandle);
/* Closes a live handle; MI_ERR_IVE_UNEXIST otherwise. */
MI_S32 MI_IVE_Destroy(MI_IVE_HANDLE hHandle);

/* Bilinear resize of the whole source onto the whole destination. Source at most 1920x1080. */
MI_S32 MI_IVE_Resize(MI_IVE_HANDLE hHandle, const MI_IVE_SrcImage_t* pstSrc, const MI_IVE_DstImage_t* pstDst,
                     const MI_IVE_ResizeCtrl_t* pstCtrl, MI_BOOL bInstant);
/* Colour conversion between NV12 and three-plane RGB. Source at most 1920x1080. */
MI_S32 MI_IVE_Csc(MI_IVE_HANDLE hHandle, const MI_IVE_SrcImage_t* pstSrc, const MI_IVE_DstImage_t* pstDst,
                  const MI_IVE_CscCtrl_t* pstCtrl, MI_BOOL bInstant);
/* Inclusive integral image: dst(y, x) = sum of src(r, c) over r <= y, c <= x. Source U8C1 at most
 * 1920x1080; destination U32C1 of the same width and height (stride in 32-bit elements). */
MI_S32 MI_IVE_Integ(MI_IVE_HANDLE hHandle, const MI_IVE_SrcImage_t* pstSrc, const MI_IVE_DstImage_t* pstDst,
                    const MI_IVE_IntegCtrl_t* pstCtrl, MI_BOOL bInstant);

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_IVE_H_ */
