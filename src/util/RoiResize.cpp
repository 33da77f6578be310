#include "util/RoiResize.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "util/PixelKernel.h"

namespace roiresize {
namespace {

// Hot loops are KAVO_PIXEL_KERNEL (util/PixelKernel.h): also built for AVX2 on x86-64.

// Sample positions along one axis. The positions grow with the output index (the step is >= 0), so
// the usable outputs form one run [lo, hi); i0, f and omf hold trunc(pos), pos - i0 and 1 - f for
// them, indexed from lo.
struct Axis {
  int lo = 0;
  int hi = 0;
  std::vector<int> i0;
  std::vector<float> f;
  std::vector<float> omf;
};

// `inLen` input pixels, `outLen` outputs, `start` the ROI's first fraction and `step` its sampling
// step (sx or sy). The arithmetic is the header's, in float and in this order, so that every path
// gives the same bits.
Axis sample_axis(int inLen, int outLen, float start, float step) {
  Axis axis;
  for (int k = 0; k < outLen; ++k) {
    const float pos = inLen * start + step * 0.5f - 0.5f + k * step;
    if (!(pos >= 0 && pos < inLen - 1)) continue;
    if (axis.i0.empty()) {
      axis.lo = k;
    } else if (k != axis.hi) {
      break;  // a second run cannot happen for a finite step >= 0; keep the first if it ever does
    }
    const int i0 = static_cast<int>(pos);
    const float f = pos - i0;
    axis.i0.push_back(i0);
    axis.f.push_back(f);
    axis.omf.push_back(1 - f);
    axis.hi = k + 1;
  }
  return axis;
}

struct Geometry {
  int planes = 1;
  int inH = 0;
  int inW = 0;
  int outH = 0;
  int outW = 0;
  Axis xs;
  Axis ys;
};

// The argument checks and the sampling of both axes.
Geometry prepare(const std::vector<int>& inShape, const std::vector<int>& outShape,
                 const std::vector<float>& roi) {
  CHECK(roi.size() == 4);
  CHECK(inShape.size() == outShape.size() && inShape.size() >= 2);
  Geometry g;
  const size_t shapeSplitIdx = inShape.size() - 2;
  for (size_t idx = 0; idx < shapeSplitIdx; ++idx) {
    CHECK_EQ(inShape[idx], outShape[idx]);
    g.planes *= inShape[idx];
  }
  const float hr = roi[3] - roi[1];
  const float wr = roi[2] - roi[0];
  CHECK(hr >= 0 && wr >= 0) << "(hr, wr) = (" << hr << ", " << wr << ")";
  g.inH = inShape[shapeSplitIdx];
  g.inW = inShape[shapeSplitIdx + 1];
  g.outH = outShape[shapeSplitIdx];
  g.outW = outShape[shapeSplitIdx + 1];
  if (g.planes <= 0 || g.outH <= 0 || g.outW <= 0) {
    g.planes = 0;
    return g;
  }
  const float sx = g.inW * wr / g.outW;
  const float sy = g.inH * hr / g.outH;
  g.xs = sample_axis(g.inW, g.outW, roi[0], sx);
  g.ys = sample_axis(g.inH, g.outH, roi[1], sy);
  return g;
}

void check_strides(int inWidthNotStride, int s1, int outWidthNotStride, int s2) {
  CHECK(inWidthNotStride <= s1 and outWidthNotStride <= s2);
}

// Sets every output sample the interpolation will not write to `pad`: rows outside the usable run
// whole, the others left and right of the usable columns.
template <typename T>
void fill_unsampled(const Geometry& g, T* out, int outStride, T pad) {
  for (int p = 0; p < g.planes; ++p) {
    T* plane = out + static_cast<size_t>(p) * outStride * g.outH;
    for (int i = 0; i < g.outH; ++i) {
      T* row = plane + static_cast<size_t>(i) * outStride;
      if (i < g.ys.lo || i >= g.ys.hi || g.xs.lo == g.xs.hi) {
        std::fill(row, row + g.outW, pad);
      } else {
        std::fill(row, row + g.xs.lo, pad);
        std::fill(row + g.xs.hi, row + g.outW, pad);
      }
    }
  }
}

// One output row: the four neighbours of every usable column are gathered into contiguous arrays
// first, so that the weighting loop has no indexed loads and vectorises. The weighting keeps the
// order of operations of the header's formula; `Acc` is the type the mixed float * T arithmetic of
// that formula has (float, or double for double).
template <typename Acc, typename Load>
void gather_row(const Axis& xs, Load load, Acc* p00, Acc* p01, Acc* p10, Acc* p11) {
  const int n = xs.hi - xs.lo;
  const int* x0 = xs.i0.data();
  for (int k = 0; k < n; ++k) {
    const int x = x0[k];
    p00[k] = load(0, x);
    p01[k] = load(0, x + 1);
    p10[k] = load(1, x);
    p11[k] = load(1, x + 1);
  }
}

template <typename Acc, typename Store>
void weigh_row(const Axis& xs, float fy, const Acc* p00, const Acc* p01, const Acc* p10, const Acc* p11,
               Store store) {
  const int n = xs.hi - xs.lo;
  const float* fx = xs.f.data();
  const float* omfx = xs.omf.data();
  const float omfy = 1 - fy;
  for (int k = 0; k < n; ++k) {
    store(k, omfy * omfx[k] * p00[k] + fy * omfx[k] * p10[k] + omfy * fx[k] * p01[k] + fy * fx[k] * p11[k]);
  }
}

template <typename T>
void resize_planes(const Geometry& g, const T* in, int inStride, T* out, int outStride) {
  using Acc = decltype(float() * T());
  const int n = g.xs.hi - g.xs.lo;
  if (n <= 0 || g.ys.hi <= g.ys.lo) return;
  std::vector<Acc> buffer(4 * static_cast<size_t>(n));
  Acc* p00 = buffer.data();
  Acc* p01 = p00 + n;
  Acc* p10 = p01 + n;
  Acc* p11 = p10 + n;
  for (int p = 0; p < g.planes; ++p) {
    const T* inPlane = in + static_cast<size_t>(p) * inStride * g.inH;
    T* outPlane = out + static_cast<size_t>(p) * outStride * g.outH;
    for (int i = g.ys.lo; i < g.ys.hi; ++i) {
      const int k = i - g.ys.lo;
      const T* r0 = inPlane + static_cast<size_t>(g.ys.i0[k]) * inStride;
      const T* r1 = r0 + inStride;
      gather_row<Acc>(
          g.xs, [r0, r1](int dy, int x) { return static_cast<Acc>(dy ? r1[x] : r0[x]); }, p00, p01, p10, p11);
      T* row = outPlane + static_cast<size_t>(i) * outStride + g.xs.lo;
      weigh_row<Acc>(g.xs, g.ys.f[k], p00, p01, p10, p11,
                     [row](int j, Acc v) { row[j] = static_cast<T>(v); });
    }
  }
}

// Byte elements: both horizontal neighbours of a sample are gathered as one 16-bit value (left in
// the low byte), which halves the gather work; the weighting is the same expression as above.
KAVO_PIXEL_KERNEL
void weigh_bytes(const uint16_t* __restrict top, const uint16_t* __restrict bottom,
                 const float* __restrict fx, const float* __restrict omfx, float fy,
                 unsigned char* __restrict out, int n) {
  const float omfy = 1 - fy;
  for (int k = 0; k < n; ++k) {
    const float p00 = static_cast<float>(top[k] & 0xff);
    const float p01 = static_cast<float>(top[k] >> 8);
    const float p10 = static_cast<float>(bottom[k] & 0xff);
    const float p11 = static_cast<float>(bottom[k] >> 8);
    out[k] = static_cast<unsigned char>(omfy * omfx[k] * p00 + fy * omfx[k] * p10 + omfy * fx[k] * p01 +
                                        fy * fx[k] * p11);
  }
}

// Gathers, for every usable column, byte `shift / 8` of the elements at x0 and x0 + 1 of two rows.
template <typename E>
void gather_byte_pairs(const E* row0, const E* row1, const int* x0, int n, int shift, uint16_t* top,
                       uint16_t* bottom) {
  for (int k = 0; k < n; ++k) {
    const int x = x0[k];
    top[k] = static_cast<uint16_t>(((row0[x] >> shift) & 0xff) | (((row0[x + 1] >> shift) & 0xff) << 8));
    bottom[k] = static_cast<uint16_t>(((row1[x] >> shift) & 0xff) | (((row1[x + 1] >> shift) & 0xff) << 8));
  }
}

// Bytes: on little-endian machines the two neighbours are one unaligned 16-bit load.
void gather_byte_pairs(const unsigned char* row0, const unsigned char* row1, const int* x0, int n,
                       uint16_t* top, uint16_t* bottom) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (int k = 0; k < n; ++k) {
    std::memcpy(top + k, row0 + x0[k], 2);
    std::memcpy(bottom + k, row1 + x0[k], 2);
  }
#else
  gather_byte_pairs(row0, row1, x0, n, 0, top, bottom);
#endif
}

void resize_planes(const Geometry& g, const unsigned char* in, int inStride, unsigned char* out,
                   int outStride) {
  const int n = g.xs.hi - g.xs.lo;
  if (n <= 0 || g.ys.hi <= g.ys.lo) return;
  std::vector<uint16_t> pairs(2 * static_cast<size_t>(n));
  for (int p = 0; p < g.planes; ++p) {
    const unsigned char* inPlane = in + static_cast<size_t>(p) * inStride * g.inH;
    unsigned char* outPlane = out + static_cast<size_t>(p) * outStride * g.outH;
    for (int i = g.ys.lo; i < g.ys.hi; ++i) {
      const int k = i - g.ys.lo;
      const unsigned char* r0 = inPlane + static_cast<size_t>(g.ys.i0[k]) * inStride;
      gather_byte_pairs(r0, r0 + inStride, g.xs.i0.data(), n, pairs.data(), pairs.data() + n);
      weigh_bytes(pairs.data(), pairs.data() + n, g.xs.f.data(), g.xs.omf.data(), g.ys.f[k],
                  outPlane + static_cast<size_t>(i) * outStride + g.xs.lo, n);
    }
  }
}

// The U,V variant: each byte of a 16-bit element is weighed on its own, with the same weights.
void resize_planes_2bytes(const Geometry& g, const unsigned short* in, int inStride, unsigned short* out,
                          int outStride) {
  const int n = g.xs.hi - g.xs.lo;
  if (n <= 0 || g.ys.hi <= g.ys.lo) return;
  std::vector<uint16_t> pairs(4 * static_cast<size_t>(n));
  std::vector<unsigned char> bytes(2 * static_cast<size_t>(n));
  unsigned char* lo = bytes.data();
  unsigned char* hi = lo + n;
  for (int p = 0; p < g.planes; ++p) {
    const unsigned short* inPlane = in + static_cast<size_t>(p) * inStride * g.inH;
    unsigned short* outPlane = out + static_cast<size_t>(p) * outStride * g.outH;
    for (int i = g.ys.lo; i < g.ys.hi; ++i) {
      const int k = i - g.ys.lo;
      const unsigned short* r0 = inPlane + static_cast<size_t>(g.ys.i0[k]) * inStride;
      const unsigned short* r1 = r0 + inStride;
      uint16_t* top = pairs.data();
      gather_byte_pairs(r0, r1, g.xs.i0.data(), n, 0, top, top + n);
      gather_byte_pairs(r0, r1, g.xs.i0.data(), n, 8, top + 2 * n, top + 3 * n);
      weigh_bytes(top, top + n, g.xs.f.data(), g.xs.omf.data(), g.ys.f[k], lo, n);
      weigh_bytes(top + 2 * n, top + 3 * n, g.xs.f.data(), g.xs.omf.data(), g.ys.f[k], hi, n);
      unsigned short* row = outPlane + static_cast<size_t>(i) * outStride + g.xs.lo;
      for (int j = 0; j < n; ++j) row[j] = static_cast<unsigned short>(lo[j] | (hi[j] << 8));
    }
  }
}

}  // namespace

template <typename T>
T* roi_resize_4corners(const T* in, const std::vector<int>& inShape, T* out, const std::vector<int>& outShape,
                       const std::vector<float>& roi, T pad) {
  const Geometry g = prepare(inShape, outShape, roi);
  fill_unsampled(g, out, g.outW, pad);
  resize_planes(g, in, g.inW, out, g.outW);
  return out;
}

template <typename T>
T* roi_resize_4corners(const T* in, const std::vector<int>& inShape, int inStride, T* out,
                       const std::vector<int>& outShape, int outStride, const std::vector<float>& roi,
                       T pad) {
  const Geometry g = prepare(inShape, outShape, roi);
  check_strides(inShape.back(), inStride, outShape.back(), outStride);
  fill_unsampled(g, out, outStride, pad);
  resize_planes(g, in, inStride, out, outStride);
  return out;
}

unsigned short* roi_resize_2bytes(const unsigned short* in, const std::vector<int>& inShape,
                                  unsigned short* out, const std::vector<int>& outShape,
                                  const std::vector<float>& roi, unsigned short pad) {
  const Geometry g = prepare(inShape, outShape, roi);
  fill_unsampled(g, out, g.outW, pad);
  resize_planes_2bytes(g, in, g.inW, out, g.outW);
  return out;
}

unsigned short* roi_resize_2bytes(const unsigned short* in, const std::vector<int>& inShape, int inStride,
                                  unsigned short* out, const std::vector<int>& outShape, int outStride,
                                  const std::vector<float>& roi, unsigned short pad) {
  const Geometry g = prepare(inShape, outShape, roi);
  check_strides(inShape.back(), inStride, outShape.back(), outStride);
  fill_unsampled(g, out, outStride, pad);
  resize_planes_2bytes(g, in, inStride, out, outStride);
  return out;
}

std::vector<int> pad_crop(const std::vector<int>& inShape, const PadSize& padSize) {
  CHECK(inShape.size() >= 2);
  std::vector<int> outShape = inShape;
  outShape[outShape.size() - 2] += padSize.yPad();
  outShape[outShape.size() - 1] += padSize.xPad();
  return outShape;
}

namespace {

// Number of stacked planes; the leading entries must agree.
int pad_crop_planes(const std::vector<int>& inShape, const std::vector<int>& outShape) {
  CHECK(inShape.size() >= 2);
  CHECK(inShape.size() == outShape.size() && inShape.size() >= 2);
  int planes = 1;
  for (size_t idx = 0; idx + 2 < inShape.size(); ++idx) {
    CHECK_EQ(inShape[idx], outShape[idx]);
    planes *= inShape[idx];
  }
  return planes;
}

// Output rows [y0, y1) and columns [x0, x1) receive the input; the rest is `value`.
template <typename T>
void pad_crop_planes(int planes, const T* in, int h1, int w1, int s1, T* out, int h2, int w2, int s2,
                     const PadSize& padSize, T value) {
  if (planes <= 0 || h2 <= 0 || w2 <= 0) return;
  const int y0 = std::max(padSize.top, 0);
  const int y1 = std::min(h2, h1 + padSize.top);
  const int x0 = std::max(padSize.left, 0);
  const int x1 = std::min(w2, w1 + padSize.left);
  const bool inside = y0 < y1 && x0 < x1;
  for (int p = 0; p < planes; ++p) {
    const T* inPlane = in + static_cast<size_t>(p) * s1 * h1;
    T* outPlane = out + static_cast<size_t>(p) * s2 * h2;
    for (int y = 0; y < h2; ++y) {
      T* row = outPlane + static_cast<size_t>(y) * s2;
      if (!inside || y < y0 || y >= y1) {
        std::fill(row, row + w2, value);
        continue;
      }
      std::fill(row, row + x0, value);
      const T* src = inPlane + static_cast<size_t>(y - padSize.top) * s1 + (x0 - padSize.left);
      std::memcpy(row + x0, src, sizeof(T) * (x1 - x0));
      std::fill(row + x1, row + w2, value);
    }
  }
}

}  // namespace

template <typename T>
void pad_crop(const T* in, const std::vector<int>& inShape, T* out, const std::vector<int>& outShape,
              const PadSize& padSize, T value) {
  const int planes = pad_crop_planes(inShape, outShape);
  const size_t shapeSplitIdx = inShape.size() - 2;
  const int h1 = inShape[shapeSplitIdx];
  const int w1 = inShape[shapeSplitIdx + 1];
  const int h2 = h1 + padSize.yPad();
  const int w2 = w1 + padSize.xPad();
  // clang-format off
  CHECK(h2 == outShape[shapeSplitIdx] && w2 == outShape[shapeSplitIdx+1]);
  // clang-format on
  pad_crop_planes(planes, in, h1, w1, w1, out, h2, w2, w2, padSize, value);
}

template <typename T>
void pad_crop(const T* in, const std::vector<int>& inShape, int inStride, T* out,
              const std::vector<int>& outShape, int outStride, const PadSize& padSize, T value) {
  const int planes = pad_crop_planes(inShape, outShape);
  const size_t shapeSplitIdx = inShape.size() - 2;
  const int h1 = inShape[shapeSplitIdx];
  const int inWidthNotStride = inShape[shapeSplitIdx + 1];
  const int h2 = outShape[shapeSplitIdx];
  const int outWidthNotStride = outShape[shapeSplitIdx + 1];
  const int s1 = inStride;
  const int s2 = outStride;
  CHECK(h1 + padSize.yPad() == h2 and inWidthNotStride + padSize.xPad() == outWidthNotStride);
  CHECK(inWidthNotStride <= s1 and outWidthNotStride <= s2);
  pad_crop_planes(planes, in, h1, inWidthNotStride, s1, out, h2, outWidthNotStride, s2, padSize, value);
}

#define KAVO_ROI_RESIZE_INSTANTIATE(T)                                                                    \
  template T* roi_resize_4corners<T>(const T*, const std::vector<int>&, T*, const std::vector<int>&,      \
                                     const std::vector<float>&, T);                                       \
  template T* roi_resize_4corners<T>(const T*, const std::vector<int>&, int, T*, const std::vector<int>&, \
                                     int, const std::vector<float>&, T);
KAVO_ROI_RESIZE_INSTANTIATE(unsigned char)
KAVO_ROI_RESIZE_INSTANTIATE(int)
KAVO_ROI_RESIZE_INSTANTIATE(float)
KAVO_ROI_RESIZE_INSTANTIATE(double)
#undef KAVO_ROI_RESIZE_INSTANTIATE

#define KAVO_PAD_CROP_INSTANTIATE(T)                                                                        \
  template void pad_crop<T>(const T*, const std::vector<int>&, T*, const std::vector<int>&, const PadSize&, \
                            T);                                                                             \
  template void pad_crop<T>(const T*, const std::vector<int>&, int, T*, const std::vector<int>&, int,       \
                            const PadSize&, T);
KAVO_PAD_CROP_INSTANTIATE(unsigned char)
KAVO_PAD_CROP_INSTANTIATE(unsigned short)
KAVO_PAD_CROP_INSTANTIATE(int)
KAVO_PAD_CROP_INSTANTIATE(float)
KAVO_PAD_CROP_INSTANTIATE(double)
#undef KAVO_PAD_CROP_INSTANTIATE

}  // namespace roiresize
