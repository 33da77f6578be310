// MI_SCL of the platform SDK stand-in: NV12 crop and bilinear scale (libyuv), with the chip's limits
// on the reduction of one call.
#include "mi_scl.h"

#include <libyuv.h>

#include "mi_internal.h"
#include "mi_scale.h"

namespace kavo_mi {
namespace {

struct View {
  std::uint8_t* y;
  std::uint8_t* uv;
};

MI_S32 check_buf(const MI_SCL_DirectBuf_t* b, View* out) {
  if (b == nullptr) return MI_ERR_SCL_NULL_PTR;
  if (b->ePixelFormat != E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420) return MI_ERR_SCL_NOT_SUPPORT;
  std::uint64_t w = b->u32Width;
  std::uint64_t h = b->u32Height;
  if (w == 0 || h == 0 || w % 2 != 0 || h % 2 != 0 || w > 0xFFFF || h > 0xFFFF)
    return MI_ERR_SCL_ILLEGAL_PARAM;
  if (b->u32Stride[0] < w || b->u32Stride[1] < w) return MI_ERR_SCL_ILLEGAL_PARAM;
  if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_SCL, b->phyAddr[0], b->u32Stride[0] * (h - 1) + w)) {
    return ret;
  }
  if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_SCL, b->phyAddr[1], b->u32Stride[1] * (h / 2 - 1) + w)) {
    return ret;
  }
  out->y = arena::view(b->phyAddr[0]);
  out->uv = arena::view(b->phyAddr[1]);
  return MI_SUCCESS;
}

}  // namespace
}  // namespace kavo_mi

using namespace kavo_mi;

extern "C" {

MI_S32 MI_SCL_StretchBuf(const MI_SCL_DirectBuf_t* pstSrc, const MI_SYS_WindowRect_t* pstSrcCrop,
                         const MI_SCL_DirectBuf_t* pstDst, MI_SCL_FilterType_e eFilterType) {
  KAVO_MI_ENTER(kSclStretchBuf);
  libyuv::FilterMode filter;
  switch (eFilterType) {
    case E_MI_SCL_FILTER_TYPE_AUTO:
    case E_MI_SCL_FILTER_TYPE_BILINEAR:
      filter = libyuv::kFilterBilinear;
      break;
    case E_MI_SCL_FILTER_TYPE_NEAREST:
      filter = libyuv::kFilterNone;
      break;
    default:
      return MI_ERR_SCL_NOT_SUPPORT;
  }
  View s, d;
  if (MI_S32 ret = check_buf(pstSrc, &s)) return ret;
  if (MI_S32 ret = check_buf(pstDst, &d)) return ret;
  MI_SYS_WindowRect_t crop{0, 0, static_cast<MI_U16>(pstSrc->u32Width),
                           static_cast<MI_U16>(pstSrc->u32Height)};
  if (pstSrcCrop != nullptr) crop = *pstSrcCrop;
  if (crop.u16Width == 0 || crop.u16Height == 0 || crop.u16X % 2 != 0 || crop.u16Y % 2 != 0 ||
      crop.u16Width % 2 != 0 || crop.u16Height % 2 != 0 || crop.u16X + crop.u16Width > pstSrc->u32Width ||
      crop.u16Y + crop.u16Height > pstSrc->u32Height) {
    return MI_ERR_SCL_ILLEGAL_PARAM;
  }
  if (crop.u16Width > MI_SCL_MAX_REDUCTION_H * pstDst->u32Width ||
      crop.u16Height > MI_SCL_MAX_REDUCTION_V * pstDst->u32Height) {
    return MI_ERR_SCL_SIZE_LIMIT;
  }
  const std::uint8_t* sy = s.y + static_cast<std::size_t>(pstSrc->u32Stride[0]) * crop.u16Y + crop.u16X;
  const std::uint8_t* suv =
      s.uv + static_cast<std::size_t>(pstSrc->u32Stride[1]) * (crop.u16Y / 2) + crop.u16X;
  int r = scale_nv12(sy, static_cast<int>(pstSrc->u32Stride[0]), suv, static_cast<int>(pstSrc->u32Stride[1]),
                     crop.u16Width, crop.u16Height, d.y, static_cast<int>(pstDst->u32Stride[0]), d.uv,
                     static_cast<int>(pstDst->u32Stride[1]), static_cast<int>(pstDst->u32Width),
                     static_cast<int>(pstDst->u32Height), filter);
  return r == 0 ? MI_SUCCESS : MI_ERR_SCL_ILLEGAL_PARAM;
}

}  // extern "C"
