// MI_IVE of the platform SDK stand-in: handle bookkeeping and software resize (libyuv bilinear),
// NV12 <-> planar RGB conversion (libyuv, BT.601 full range) and the inclusive integral image.
#include "mi_ive.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <libyuv.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "mi_internal.h"
#include "mi_scale.h"

namespace kavo_mi {
namespace {

struct Handles {
  std::mutex mutex;  // guards live
  bool live[MI_IVE_MAX_HANDLE] = {};
};

Handles& handles() {
  static Handles* h = new Handles;
  return *h;
}

MI_S32 check_handle(MI_IVE_HANDLE h) {
  if (h < 0 || h >= MI_IVE_MAX_HANDLE) return MI_ERR_IVE_INVALID_HANDLE;
  Handles& hs = handles();
  std::lock_guard<std::mutex> lock(hs.mutex);
  return hs.live[h] ? MI_SUCCESS : MI_ERR_IVE_UNEXIST;
}

// CPU views of the planes of a checked engine image.
struct Planes {
  std::uint8_t* data[3] = {};
  int stride[3] = {};  // in bytes
  int width = 0;
  int height = 0;
};

// Checks `img` has type `type`, sane sizes and strides, and planes inside live blocks.
MI_S32 check_image(const MI_IVE_Image_t* img, MI_IVE_ImageType_e type, Planes* out) {
  if (img == nullptr) return MI_ERR_IVE_NULL_PTR;
  if (img->eType != type) return MI_ERR_IVE_ILLEGAL_PARAM;
  int planes = 1;
  int elem = 1;
  switch (type) {
    case E_MI_IVE_IMAGE_TYPE_U8C1:
      break;
    case E_MI_IVE_IMAGE_TYPE_YUV420SP:
      planes = 2;
      break;
    case E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR:
      planes = 3;
      break;
    case E_MI_IVE_IMAGE_TYPE_U32C1:
      elem = 4;
      break;
    default:
      return MI_ERR_IVE_NOT_SUPPORT;
  }
  int w = img->u16Width;
  int h = img->u16Height;
  if (w == 0 || h == 0) return MI_ERR_IVE_ILLEGAL_PARAM;
  if (type == E_MI_IVE_IMAGE_TYPE_YUV420SP && (w % 2 != 0 || h % 2 != 0)) return MI_ERR_IVE_ILLEGAL_PARAM;
  for (int k = 0; k < planes; ++k) {
    int rows = (type == E_MI_IVE_IMAGE_TYPE_YUV420SP && k == 1) ? h / 2 : h;
    if (img->u16Stride[k] < w) return MI_ERR_IVE_ILLEGAL_PARAM;
    std::uint64_t extent = (static_cast<std::uint64_t>(img->u16Stride[k]) * (rows - 1) + w) * elem;
    if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_IVE, img->u64PhyAddr[k], extent)) return ret;
    out->data[k] = arena::view(img->u64PhyAddr[k]);
    out->stride[k] = img->u16Stride[k] * elem;
  }
  out->width = w;
  out->height = h;
  return MI_SUCCESS;
}

bool source_too_large(const MI_IVE_Image_t* src) {
  return src->u16Width > MI_IVE_MAX_SRC_WIDTH || src->u16Height > MI_IVE_MAX_SRC_HEIGHT;
}

// Rows per strip of the colour conversions: the packed intermediate stays in the cache.
constexpr int kStripRows = 16;

std::vector<std::uint8_t>& strip_buffer(std::size_t bytes) {
  thread_local std::vector<std::uint8_t> buffer;
  if (buffer.size() < bytes) buffer.resize(bytes);
  return buffer;
}

void nv12_to_rgb_planes(const Planes& s, const Planes& d) {
  int w = s.width;
  int packedStride = w * 3;
  std::uint8_t* packed = strip_buffer(static_cast<std::size_t>(packedStride) * kStripRows).data();
  for (int y = 0; y < s.height; y += kStripRows) {
    int rows = std::min(kStripRows, s.height - y);  // even: the height is even
    // NV12 to R,G,B bytes is NV21 to B,G,R bytes with the U/V-swapped matrix (libyuv's NV12ToRAWMatrix).
    libyuv::NV21ToRGB24Matrix(s.data[0] + static_cast<std::size_t>(s.stride[0]) * y, s.stride[0],
                              s.data[1] + static_cast<std::size_t>(s.stride[1]) * (y / 2), s.stride[1],
                              packed, packedStride, &libyuv::kYvuJPEGConstants, w, rows);
    libyuv::SplitRGBPlane(packed, packedStride, d.data[0] + static_cast<std::size_t>(d.stride[0]) * y,
                          d.stride[0], d.data[1] + static_cast<std::size_t>(d.stride[1]) * y, d.stride[1],
                          d.data[2] + static_cast<std::size_t>(d.stride[2]) * y, d.stride[2], w, rows);
  }
}

void rgb_planes_to_nv12(const Planes& s, const Planes& d) {
  int w = s.width;
  int halfW = w / 2;
  int packedStride = w * 3;
  std::size_t packedBytes = static_cast<std::size_t>(packedStride) * kStripRows;
  std::size_t chromaBytes = static_cast<std::size_t>(halfW) * (kStripRows / 2);
  std::uint8_t* packed = strip_buffer(packedBytes + 2 * chromaBytes).data();
  std::uint8_t* u = packed + packedBytes;
  std::uint8_t* v = u + chromaBytes;
  for (int y = 0; y < s.height; y += kStripRows) {
    int rows = std::min(kStripRows, s.height - y);
    libyuv::MergeRGBPlane(s.data[0] + static_cast<std::size_t>(s.stride[0]) * y, s.stride[0],
                          s.data[1] + static_cast<std::size_t>(s.stride[1]) * y, s.stride[1],
                          s.data[2] + static_cast<std::size_t>(s.stride[2]) * y, s.stride[2], packed,
                          packedStride, w, rows);
    libyuv::RAWToJ420(packed, packedStride, d.data[0] + static_cast<std::size_t>(d.stride[0]) * y,
                      d.stride[0], u, halfW, v, halfW, w, rows);
    libyuv::MergeUVPlane(u, halfW, v, halfW, d.data[1] + static_cast<std::size_t>(d.stride[1]) * (y / 2),
                         d.stride[1], halfW, rows / 2);
  }
}

// One row of the integral image: out[x] = above[x] + in[0] + ... + in[x] (above == nullptr on row 0).
template <bool kHasAbove>
void integral_row(const std::uint8_t* in, const std::uint32_t* above, std::uint32_t* out, int width) {
  int x = 0;
  std::uint32_t sum = 0;
#if defined(__SSE2__)
  // 16 pixels per step: prefix sums inside 8 16-bit lanes (at most 8 * 255), widened to 32 bits and
  // offset by the running sum of the row so far.
  const __m128i zero = _mm_setzero_si128();
  __m128i carry = zero;  // the row sum so far, in every lane
  for (; x + 16 <= width; x += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 2));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 2));
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 4));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 4));
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 8));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 8));
    // The sums inside the step do not wait for the carry, so consecutive steps overlap.
    __m128i s0 = _mm_unpacklo_epi16(lo, zero);
    __m128i s1 = _mm_unpackhi_epi16(lo, zero);
    __m128i mid = _mm_shuffle_epi32(s1, 0xFF);
    __m128i s2 = _mm_add_epi32(_mm_unpacklo_epi16(hi, zero), mid);
    __m128i s3 = _mm_add_epi32(_mm_unpackhi_epi16(hi, zero), mid);
    __m128i step = _mm_shuffle_epi32(s3, 0xFF);
    s0 = _mm_add_epi32(s0, carry);
    s1 = _mm_add_epi32(s1, carry);
    s2 = _mm_add_epi32(s2, carry);
    s3 = _mm_add_epi32(s3, carry);
    carry = _mm_add_epi32(carry, step);
    if (kHasAbove) {
      s0 = _mm_add_epi32(s0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x)));
      s1 = _mm_add_epi32(s1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x + 4)));
      s2 = _mm_add_epi32(s2, _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x + 8)));
      s3 = _mm_add_epi32(s3, _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x + 12)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4), s1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), s2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 12), s3);
  }
  sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(carry));
#endif
  for (; x < width; ++x) {
    sum += in[x];
    out[x] = kHasAbove ? above[x] + sum : sum;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// As integral_row with AVX2: the 16 pixels of a step are prefix-summed as two 8-lane halves in one
// register, halving the instructions per pixel; chosen at run time when the CPU has AVX2.
template <bool kHasAbove>
__attribute__((target("avx2"))) void integral_row_avx2(const std::uint8_t* in, const std::uint32_t* above,
                                                       std::uint32_t* out, int width) {
  int x = 0;
  std::uint32_t sum = 0;
  const __m256i last = _mm256_set1_epi32(7);
  __m256i carry = _mm256_setzero_si256();  // the row sum so far, in every lane
  for (; x + 16 <= width; x += 16) {
    __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x)));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
    // The sums inside the step do not wait for the carry, so consecutive steps overlap.
    __m256i a = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(v));
    __m256i b = _mm256_add_epi32(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)),
                                 _mm256_permutevar8x32_epi32(a, last));
    __m256i step = _mm256_permutevar8x32_epi32(b, last);
    a = _mm256_add_epi32(a, carry);
    b = _mm256_add_epi32(b, carry);
    carry = _mm256_add_epi32(carry, step);
    if (kHasAbove) {
      a = _mm256_add_epi32(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + x)));
      b = _mm256_add_epi32(b, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + x + 8)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x + 8), b);
  }
  sum = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(carry));
  for (; x < width; ++x) {
    sum += in[x];
    out[x] = kHasAbove ? above[x] + sum : sum;
  }
}

// KAVO_MI_NO_AVX2 (any value) keeps the SSE2 rows, to test them on machines with AVX2.
bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2") && std::getenv("KAVO_MI_NO_AVX2") == nullptr;
  return avx2;
}
#else
template <bool kHasAbove>
void integral_row_avx2(const std::uint8_t* in, const std::uint32_t* above, std::uint32_t* out, int width) {
  integral_row<kHasAbove>(in, above, out, width);
}
bool has_avx2() { return false; }
#endif

void integral(const Planes& s, const Planes& d) {
  const bool avx2 = has_avx2();
  const std::uint32_t* above = nullptr;
  for (int y = 0; y < s.height; ++y) {
    const std::uint8_t* in = s.data[0] + static_cast<std::size_t>(s.stride[0]) * y;
    auto* out = reinterpret_cast<std::uint32_t*>(d.data[0] + static_cast<std::size_t>(d.stride[0]) * y);
    if (above == nullptr) {
      avx2 ? integral_row_avx2<false>(in, nullptr, out, s.width)
           : integral_row<false>(in, nullptr, out, s.width);
    } else {
      avx2 ? integral_row_avx2<true>(in, above, out, s.width) : integral_row<true>(in, above, out, s.width);
    }
    above = out;
  }
}

}  // namespace
}  // namespace kavo_mi

using namespace kavo_mi;

extern "C" {

MI_S32 MI_IVE_Create(MI_IVE_HANDLE hHandle) {
  KAVO_MI_ENTER(kIveCreate);
  if (hHandle < 0 || hHandle >= MI_IVE_MAX_HANDLE) return MI_ERR_IVE_INVALID_HANDLE;
  Handles& hs = handles();
  std::lock_guard<std::mutex> lock(hs.mutex);
  if (hs.live[hHandle]) return MI_ERR_IVE_EXIST;
  hs.live[hHandle] = true;
  return MI_SUCCESS;
}

MI_S32 MI_IVE_Destroy(MI_IVE_HANDLE hHandle) {
  KAVO_MI_ENTER(kIveDestroy);
  if (hHandle < 0 || hHandle >= MI_IVE_MAX_HANDLE) return MI_ERR_IVE_INVALID_HANDLE;
  Handles& hs = handles();
  std::lock_guard<std::mutex> lock(hs.mutex);
  if (!hs.live[hHandle]) return MI_ERR_IVE_UNEXIST;
  hs.live[hHandle] = false;
  return MI_SUCCESS;
}

MI_S32 MI_IVE_Resize(MI_IVE_HANDLE hHandle, const MI_IVE_SrcImage_t* pstSrc, const MI_IVE_DstImage_t* pstDst,
                     const MI_IVE_ResizeCtrl_t* pstCtrl, MI_BOOL bInstant) {
  KAVO_MI_ENTER(kIveResize);
  if (MI_S32 ret = check_handle(hHandle)) return ret;
  if (pstSrc == nullptr || pstDst == nullptr || pstCtrl == nullptr) return MI_ERR_IVE_NULL_PTR;
  // Every call completes before it returns; a queued (non-instant) call has no stand-in.
  if (bInstant != 1) return MI_ERR_IVE_NOT_SUPPORT;
  MI_IVE_ImageType_e type;
  switch (pstCtrl->eMode) {
    case E_MI_IVE_RESIZE_TYPE_U8C1:
      type = E_MI_IVE_IMAGE_TYPE_U8C1;
      break;
    case E_MI_IVE_RESIZE_TYPE_U8C3_PLANAR:
      type = E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR;
      break;
    case E_MI_IVE_RESIZE_TYPE_YUV420SP:
      type = E_MI_IVE_IMAGE_TYPE_YUV420SP;
      break;
    default:
      return MI_ERR_IVE_NOT_SUPPORT;
  }
  Planes s, d;
  if (MI_S32 ret = check_image(pstSrc, type, &s)) return ret;
  if (MI_S32 ret = check_image(pstDst, type, &d)) return ret;
  if (source_too_large(pstSrc)) return MI_ERR_IVE_SIZE_LIMIT;
  if (type == E_MI_IVE_IMAGE_TYPE_YUV420SP) {
    int r = scale_nv12(s.data[0], s.stride[0], s.data[1], s.stride[1], s.width, s.height, d.data[0],
                       d.stride[0], d.data[1], d.stride[1], d.width, d.height, libyuv::kFilterBilinear);
    return r == 0 ? MI_SUCCESS : MI_ERR_IVE_ILLEGAL_PARAM;
  }
  int planes = type == E_MI_IVE_IMAGE_TYPE_U8C1 ? 1 : 3;
  for (int k = 0; k < planes; ++k) {
    scale_plane(s.data[k], s.stride[k], s.width, s.height, d.data[k], d.stride[k], d.width, d.height,
                libyuv::kFilterBilinear);
  }
  return MI_SUCCESS;
}

MI_S32 MI_IVE_Csc(MI_IVE_HANDLE hHandle, const MI_IVE_SrcImage_t* pstSrc, const MI_IVE_DstImage_t* pstDst,
                  const MI_IVE_CscCtrl_t* pstCtrl, MI_BOOL bInstant) {
  KAVO_MI_ENTER(kIveCsc);
  if (MI_S32 ret = check_handle(hHandle)) return ret;
  if (pstSrc == nullptr || pstDst == nullptr || pstCtrl == nullptr) return MI_ERR_IVE_NULL_PTR;
  // Every call completes before it returns; a queued (non-instant) call has no stand-in.
  if (bInstant != 1) return MI_ERR_IVE_NOT_SUPPORT;
  bool toRgb;
  switch (pstCtrl->eMode) {
    case E_MI_IVE_CSC_TYPE_YUV2RGB:
      toRgb = true;
      break;
    case E_MI_IVE_CSC_TYPE_RGB2YUV:
      toRgb = false;
      break;
    default:
      return MI_ERR_IVE_NOT_SUPPORT;
  }
  Planes s, d;
  MI_IVE_ImageType_e nv12 = E_MI_IVE_IMAGE_TYPE_YUV420SP;
  MI_IVE_ImageType_e rgb = E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR;
  if (MI_S32 ret = check_image(pstSrc, toRgb ? nv12 : rgb, &s)) return ret;
  if (MI_S32 ret = check_image(pstDst, toRgb ? rgb : nv12, &d)) return ret;
  if (s.width != d.width || s.height != d.height || s.width % 2 != 0 || s.height % 2 != 0) {
    return MI_ERR_IVE_ILLEGAL_PARAM;
  }
  if (source_too_large(pstSrc)) return MI_ERR_IVE_SIZE_LIMIT;
  if (toRgb) {
    nv12_to_rgb_planes(s, d);
  } else {
    rgb_planes_to_nv12(s, d);
  }
  return MI_SUCCESS;
}

MI_S32 MI_IVE_Integ(MI_IVE_HANDLE hHandle, const MI_IVE_SrcImage_t* pstSrc, const MI_IVE_DstImage_t* pstDst,
                    const MI_IVE_IntegCtrl_t* pstCtrl, MI_BOOL bInstant) {
  KAVO_MI_ENTER(kIveInteg);
  if (MI_S32 ret = check_handle(hHandle)) return ret;
  if (pstSrc == nullptr || pstDst == nullptr || pstCtrl == nullptr) return MI_ERR_IVE_NULL_PTR;
  // Every call completes before it returns; a queued (non-instant) call has no stand-in.
  if (bInstant != 1) return MI_ERR_IVE_NOT_SUPPORT;
  if (pstCtrl->eOutCtrl != E_MI_IVE_INTEG_OUT_CTRL_SUM) return MI_ERR_IVE_NOT_SUPPORT;
  Planes s, d;
  if (MI_S32 ret = check_image(pstSrc, E_MI_IVE_IMAGE_TYPE_U8C1, &s)) return ret;
  if (MI_S32 ret = check_image(pstDst, E_MI_IVE_IMAGE_TYPE_U32C1, &d)) return ret;
  if (s.width != d.width || s.height != d.height) return MI_ERR_IVE_ILLEGAL_PARAM;
  if (source_too_large(pstSrc)) return MI_ERR_IVE_SIZE_LIMIT;
  integral(s, d);
  return MI_SUCCESS;
}

}  // extern "C"
