// A reduction by an odd whole factor puts every bilinear sample on a source pixel centre, so libyuv
// point-samples it; for the factor three it does so one pixel at a time. Here the same samples
// (column and row 3i + 1) are gathered sixteen bytes at a time.
#include "mi_scale.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KAVO_MI_THIRDS 1
#endif

namespace kavo_mi {
namespace {

#ifdef KAVO_MI_THIRDS
const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");

// One output row of `n` elements of `elem` bytes (1: a plane, 2: interleaved UV) from source row `s`:
// element 3i + 1 becomes element i. Each step turns 48 source bytes into 16.
__attribute__((target("ssse3"))) void thirds_row(const std::uint8_t* s, std::uint8_t* d, int n, int elem) {
  constexpr char Z = -128;  // pshufb: a zero byte
  const __m128i bytes[3] = {_mm_setr_epi8(1, 4, 7, 10, 13, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z),
                            _mm_setr_epi8(Z, Z, Z, Z, Z, 0, 3, 6, 9, 12, 15, Z, Z, Z, Z, Z),
                            _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 2, 5, 8, 11, 14)};
  const __m128i pairs[3] = {_mm_setr_epi8(2, 3, 8, 9, 14, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z),
                            _mm_setr_epi8(Z, Z, Z, Z, Z, Z, 4, 5, 10, 11, Z, Z, Z, Z, Z, Z),
                            _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 0, 1, 6, 7, 12, 13)};
  const __m128i* m = elem == 1 ? bytes : pairs;
  const int total = n * elem;
  int i = 0;
  for (; i + 16 <= total; i += 16) {
    const std::uint8_t* p = s + 3 * i;
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), m[0]);
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), m[1]);
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), m[2]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(_mm_or_si128(a, b), c));
  }
  for (; i < total; i += elem)
    for (int k = 0; k < elem; ++k) d[i + k] = s[3 * i + elem + k];
}

// Whether a `sw` x `sh` plane reduced to `dw` x `dh` with `filter` is the point sampling above.
bool thirds(int sw, int sh, int dw, int dh, libyuv::FilterMode filter) {
  return kHaveSsse3 && (filter == libyuv::kFilterNone || filter == libyuv::kFilterBilinear) && dw > 0 &&
         dh > 0 && sw == 3 * dw && sh == 3 * dh;
}

void thirds_plane(const std::uint8_t* s, int sStride, std::uint8_t* d, int dStride, int dw, int dh,
                  int elem) {
  for (int y = 0; y < dh; ++y)
    thirds_row(s + static_cast<std::ptrdiff_t>(3 * y + 1) * sStride,
               d + static_cast<std::ptrdiff_t>(y) * dStride, dw, elem);
}
#else
bool thirds(int, int, int, int, libyuv::FilterMode) { return false; }
void thirds_plane(const std::uint8_t*, int, std::uint8_t*, int, int, int, int) {}
#endif

}  // namespace

int scale_nv12(const std::uint8_t* sy, int syStride, const std::uint8_t* suv, int suvStride, int sw, int sh,
               std::uint8_t* dy, int dyStride, std::uint8_t* duv, int duvStride, int dw, int dh,
               libyuv::FilterMode filter) {
  // libyuv rounds the chroma plane up: both planes must reduce by exactly three.
  const int suw = (sw + 1) / 2, suh = (sh + 1) / 2, duw = (dw + 1) / 2, duh = (dh + 1) / 2;
  if (!thirds(sw, sh, dw, dh, filter) || !thirds(suw, suh, duw, duh, filter))
    return libyuv::NV12Scale(sy, syStride, suv, suvStride, sw, sh, dy, dyStride, duv, duvStride, dw, dh,
                             filter);
  thirds_plane(sy, syStride, dy, dyStride, dw, dh, 1);
  thirds_plane(suv, suvStride, duv, duvStride, duw, duh, 2);
  return 0;
}

void scale_plane(const std::uint8_t* s, int sStride, int sw, int sh, std::uint8_t* d, int dStride, int dw,
                 int dh, libyuv::FilterMode filter) {
  if (thirds(sw, sh, dw, dh, filter))
    thirds_plane(s, sStride, d, dStride, dw, dh, 1);
  else
    libyuv::ScalePlane(s, sStride, sw, sh, d, dStride, dw, dh, filter);
}

}  // namespace kavo_mi
