#include "util/RgbChannel.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstdint>

#include "util/PixelKernel.h"
#include "util/RoiResize.h"

namespace rgbchannel {

void rgb2yuv(const unsigned char* rgb, unsigned char* yuv) {
  const unsigned int r = rgb[0];
  const unsigned int g = rgb[1];
  const unsigned int b = rgb[2];
  const int sr = r;
  const int sg = g;
  const int sb = b;
  yuv[0] = static_cast<unsigned char>((299000u * r + 587000u * g + 114000u * b) / 1000000u);
  yuv[1] = static_cast<unsigned char>((-169000 * sr - 331000 * sg + 500000 * sb) / 1000000 + 128);
  yuv[2] = static_cast<unsigned char>((500000 * sr - 419000 * sg - 81000 * sb) / 1000000 + 128);
}

namespace {

unsigned char clamp_scaled(int v) {
  if (v < 1000000) return 0;
  if (v >= 256000000) return 255;
  return static_cast<unsigned char>(v / 1000000);
}

}  // namespace

void yuv2rgb(const unsigned char* yuv, unsigned char* rgb) {
  const int d = yuv[1] - 128;
  const int e = yuv[2] - 128;
  const int y = 1000000 * yuv[0];
  rgb[0] = clamp_scaled(y + 1401687 * e - 930 * d);
  rgb[1] = clamp_scaled(y - 714170 * e - 343700 * d);
  rgb[2] = clamp_scaled(y + 990 * e + 1772160 * d);
}

namespace {

// The plane conversions below give exactly the bytes of rgb2yuv()/yuv2rgb() per pixel, but are
// arranged so that the compiler vectorises them (tests compare them over every input):
//
// yuv2rgb: 1000000 Y is a multiple of 1000000, so floor((1000000 Y + c) / 1000000) = Y + floor(c /
// 1000000), and "0 below 1000000, 255 from 256000000" is clamping Y + floor(c / 1000000) to
// [0, 255]. The chroma term floor(c / 1000000) depends only on the block's U,V pair and is computed
// once per pair as floor(floor(c / 64) / 15625): c / 64 (an arithmetic shift) plus a bias that makes
// it positive stays below 2^23, so it is exact in float; the float quotient by 15625 is within
// 4e-5 of the true one, which is either an integer (exact in float) or at least 1/15625 = 6.4e-5
// below the next one, so truncation yields the floor.
//
// rgb2yuv: all constants are multiples of 1000, so the quotients by 1000000 equal those of
// s = 299 R + 587 G + 114 B (and the U and V sums) by 1000. Y = floor(floor(s / 8) / 125), where
// s / 8 fits 16 bits. For U and V, |s| <= 127500 is exact in float and the float quotient by 1000
// is within 1e-5 of the true one, which is an integer or at least 1e-3 away from one, so truncation
// toward zero is exact.
//
// Hot loops are KAVO_PIXEL_KERNEL (util/PixelKernel.h): also built for AVX2 on x86-64.

constexpr int kChromaBias = 300;                    // > |c| / 1000000 for every U,V pair
constexpr int kChromaBias64 = kChromaBias * 15625;  // the bias in units of 64

inline int16_t chroma_term(int c) {
  return static_cast<int16_t>(static_cast<int>(static_cast<float>((c >> 6) + kChromaBias64) / 15625.0f) -
                              kChromaBias);
}

inline unsigned char add_clamp(unsigned char y, int16_t t) {
  int16_t v = static_cast<int16_t>(y + t);
  v = v < 0 ? 0 : v;
  v = v > 255 ? 255 : v;
  return static_cast<unsigned char>(v);
}

// t[2j] = t[2j + 1] = p[j]; one loop per array, as a loop over three arrays does not vectorise.
inline void duplicate(const int16_t* __restrict p, int16_t* __restrict t, int pairs) {
  for (int j = 0; j < pairs; ++j) t[2 * j] = t[2 * j + 1] = p[j];
}

// One block row: two rows of Y (width apart) and their chroma row to two rows of each output plane
// (also width apart). `scratch` holds 9 * width / 2 int16 values.
KAVO_PIXEL_KERNEL
void nv12_block_row_to_planes(const unsigned char* __restrict yRows, const unsigned char* __restrict uv,
                              int width, unsigned char* __restrict r, unsigned char* __restrict g,
                              unsigned char* __restrict b, int16_t* __restrict scratch) {
  const int pairs = width / 2;
  int16_t* __restrict pr = scratch;
  int16_t* __restrict pg = pr + pairs;
  int16_t* __restrict pb = pg + pairs;
  for (int j = 0; j < pairs; ++j) {
    const int d = uv[2 * j] - 128;
    const int e = uv[2 * j + 1] - 128;
    pr[j] = chroma_term(1401687 * e - 930 * d);
    pg[j] = chroma_term(-714170 * e - 343700 * d);
    pb[j] = chroma_term(990 * e + 1772160 * d);
  }
  // Each pair's terms once per pixel, so that the per-pixel loop is element-wise.
  int16_t* __restrict tr = pb + pairs;
  int16_t* __restrict tg = tr + width;
  int16_t* __restrict tb = tg + width;
  duplicate(pr, tr, pairs);
  duplicate(pg, tg, pairs);
  duplicate(pb, tb, pairs);
  for (int row = 0; row < 2; ++row) {
    const unsigned char* __restrict y = yRows + row * width;
    unsigned char* __restrict ro = r + row * width;
    unsigned char* __restrict go = g + row * width;
    unsigned char* __restrict bo = b + row * width;
    for (int x = 0; x < width; ++x) {
      ro[x] = add_clamp(y[x], tr[x]);
      go[x] = add_clamp(y[x], tg[x]);
      bo[x] = add_clamp(y[x], tb[x]);
    }
  }
}

KAVO_PIXEL_KERNEL
void planes_to_y(const unsigned char* __restrict r, const unsigned char* __restrict g,
                 const unsigned char* __restrict b, unsigned char* __restrict y, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const auto s8 = static_cast<uint16_t>((299u * r[i] + 587u * g[i] + 114u * b[i]) >> 3);
    y[i] = static_cast<unsigned char>(s8 / 125);
  }
}

// The U,V pairs of one block row from the odd pixels of its bottom row.
KAVO_PIXEL_KERNEL
void planes_to_uv(const unsigned char* __restrict r, const unsigned char* __restrict g,
                  const unsigned char* __restrict b, unsigned char* __restrict uv, int pairs) {
  for (int j = 0; j < pairs; ++j) {
    const int rr = r[2 * j + 1];
    const int gg = g[2 * j + 1];
    const int bb = b[2 * j + 1];
    const auto u = static_cast<int>(static_cast<float>(-169 * rr - 331 * gg + 500 * bb) / 1000.0f);
    const auto v = static_cast<int>(static_cast<float>(500 * rr - 419 * gg - 81 * bb) / 1000.0f);
    uv[2 * j] = static_cast<unsigned char>(u + 128);
    uv[2 * j + 1] = static_cast<unsigned char>(v + 128);
  }
}

}  // namespace

void rgb2yuv420sp(const unsigned char* src, unsigned char* dst, unsigned int width, unsigned int height,
                  bool bgr) {
  CHECK(height % 2 == 0 and width % 2 == 0);
  const size_t planeSz = static_cast<size_t>(width) * height;
  const unsigned char* rp = src + (bgr ? 2 * planeSz : 0);
  const unsigned char* gp = src + planeSz;
  const unsigned char* bp = src + (bgr ? 0 : 2 * planeSz);
  planes_to_y(rp, gp, bp, dst, planeSz);
  // Each block keeps the pair of its bottom-right pixel (the last one written in row order).
  for (unsigned int by = 0; by < height / 2; ++by) {
    const size_t row = static_cast<size_t>(2 * by + 1) * width;
    planes_to_uv(rp + row, gp + row, bp + row, dst + planeSz + static_cast<size_t>(by) * width,
                 static_cast<int>(width / 2));
  }
}

void yuv420sp2rgb(const unsigned char* src, unsigned char* dst, unsigned int width, unsigned int height,
                  bool bgr) {
  CHECK(height % 2 == 0 and width % 2 == 0);
  const size_t planeSz = static_cast<size_t>(width) * height;
  unsigned char* rp = dst + (bgr ? 2 * planeSz : 0);
  unsigned char* gp = dst + planeSz;
  unsigned char* bp = dst + (bgr ? 0 : 2 * planeSz);
  std::vector<int16_t> scratch(9 * static_cast<size_t>(width) / 2);
  for (unsigned int by = 0; by < height / 2; ++by) {
    const size_t row = static_cast<size_t>(2 * by) * width;
    nv12_block_row_to_planes(src + row, src + planeSz + static_cast<size_t>(by) * width,
                             static_cast<int>(width), rp + row, gp + row, bp + row, scratch.data());
  }
}

void convert_rgbrgb2xyzxyz(std::vector<unsigned char>& rgbrgb,
                           const std::function<void(unsigned char*)>& fn) {
  const size_t planeSz = rgbrgb.size() / 3;
  CHECK_EQ(planeSz * 3, rgbrgb.size());
  for (size_t i = 0; i < planeSz; ++i) fn(rgbrgb.data() + 3 * i);
}

namespace {

// The one interleaving loop: pixel i of the output is (first[i], second[i], third[i]). A plain copy
// that vectorises only with byte shuffles (not in baseline x86-64), hence the AVX2 clone.
KAVO_PIXEL_KERNEL
void interleave(const unsigned char* __restrict first, const unsigned char* __restrict second,
                const unsigned char* __restrict third, unsigned char* __restrict out, size_t planeSz) {
  for (size_t i = 0; i < planeSz; ++i) {
    out[3 * i] = first[i];
    out[3 * i + 1] = second[i];
    out[3 * i + 2] = third[i];
  }
}

// The one splitting loop, the inverse of interleave().
KAVO_PIXEL_KERNEL
void deinterleave(const unsigned char* __restrict in, unsigned char* __restrict first,
                  unsigned char* __restrict second, unsigned char* __restrict third, size_t planeSz) {
  for (size_t i = 0; i < planeSz; ++i) {
    first[i] = in[3 * i];
    second[i] = in[3 * i + 1];
    third[i] = in[3 * i + 2];
  }
}

}  // namespace

void convert_rrggbb2rgbrgb(const std::vector<unsigned char>& rr, const std::vector<unsigned char>& gg,
                           const std::vector<unsigned char>& bb, std::vector<unsigned char>& rgbrgb) {
  const size_t planeSz = rr.size();
  CHECK_EQ(gg.size(), planeSz);
  CHECK_EQ(bb.size(), planeSz);
  rgbrgb.resize(3 * planeSz);
  interleave(rr.data(), gg.data(), bb.data(), rgbrgb.data(), planeSz);
}

void convert_rrggbb2rgbrgb(const std::vector<unsigned char>& rrggbb, std::vector<unsigned char>& rgbrgb,
                           bool swap) {
  const size_t planeSz = rrggbb.size() / 3;
  CHECK_EQ(planeSz * 3, rrggbb.size());
  rgbrgb.resize(rrggbb.size());
  const unsigned char* in = rrggbb.data();
  interleave(in + (swap ? 2 * planeSz : 0), in + planeSz, in + (swap ? 0 : 2 * planeSz), rgbrgb.data(),
             planeSz);
}

void convert_rgbrgb2rrggbb(const std::vector<unsigned char>& rgbrgb, std::vector<unsigned char>& rrggbb,
                           bool swap) {
  const size_t planeSz = rgbrgb.size() / 3;
  CHECK_EQ(planeSz * 3, rgbrgb.size());
  rrggbb.resize(rgbrgb.size());
  unsigned char* out = rrggbb.data();
  deinterleave(rgbrgb.data(), out + (swap ? 2 * planeSz : 0), out + planeSz, out + (swap ? 0 : 2 * planeSz),
               planeSz);
}

void convert_rgbrgb2rrggbb(const std::vector<unsigned char>& rgbrgb, std::vector<unsigned char>& rr,
                           std::vector<unsigned char>& gg, std::vector<unsigned char>& bb) {
  const size_t planeSz = rgbrgb.size() / 3;
  CHECK_EQ(planeSz * 3, rgbrgb.size());
  rr.resize(planeSz);
  gg.resize(planeSz);
  bb.resize(planeSz);
  deinterleave(rgbrgb.data(), rr.data(), gg.data(), bb.data(), planeSz);
}

namespace {

// Rotates every whole plane of `src` by 90 degrees. Output row r of a plane is input column x read
// bottom-up (clockwise, x = r) or top-down (anticlockwise, x = width - 1 - r).
template <bool kClockwise>
std::shared_ptr<std::vector<unsigned char>> rotate_planes(const std::vector<unsigned char>& src, int width,
                                                          int height) {
  auto out = std::make_shared<std::vector<unsigned char>>(src.size());
  if (width <= 0 || height <= 0) return out;
  const size_t planes = src.size() / width / height;
  const size_t planeSz = static_cast<size_t>(width) * height;
  for (size_t p = 0; p < planes; ++p) {
    const unsigned char* in = src.data() + p * planeSz;
    unsigned char* o = out->data() + p * planeSz;
    for (int x = 0; x < width; ++x) {
      unsigned char* orow = o + static_cast<size_t>(kClockwise ? x : width - 1 - x) * height;
      for (int y = 0; y < height; ++y) {
        orow[y] = in[static_cast<size_t>(kClockwise ? height - 1 - y : y) * width + x];
      }
    }
  }
  return out;
}

}  // namespace

std::shared_ptr<std::vector<unsigned char>> rotate_90_clockwise(const std::vector<unsigned char>& src,
                                                                int width, int height) {
  return rotate_planes<true>(src, width, height);
}

std::shared_ptr<std::vector<unsigned char>> rotate_90_anticlockwise(const std::vector<unsigned char>& src,
                                                                    int width, int height) {
  return rotate_planes<false>(src, width, height);
}

void roi_resize_planes(int planes, const std::vector<unsigned char>& in, int width, int height,
                       std::vector<unsigned char>& out, int outWidth, int outHeight,
                       const std::vector<float>& roi) {
  CHECK_GE(in.size(), static_cast<size_t>(std::max(planes, 0)) * std::max(height, 0) * std::max(width, 0))
      << " planes/height/width: " << planes << "/" << height << "/" << width;
  out.resize(static_cast<size_t>(std::max(planes, 0)) * std::max(outHeight, 0) * std::max(outWidth, 0));
  roiresize::roi_resize_4corners<unsigned char>(in.data(), {planes, height, width}, out.data(),
                                                {planes, outHeight, outWidth}, roi, 0);
}

void roi_resize_rrggbb(const std::vector<unsigned char>& in, int width, int height,
                       std::vector<unsigned char>& out, int outWidth, int outHeight,
                       const std::vector<float>& roi) {
  roi_resize_planes(3, in, width, height, out, outWidth, outHeight, roi);
}

void roi_resize_rgbrgb(const std::vector<unsigned char>& in, int width, int height,
                       std::vector<unsigned char>& out, int outWidth, int outHeight,
                       const std::vector<float>& roi) {
  std::vector<unsigned char> planar;
  convert_rgbrgb2rrggbb(in, planar, false);
  std::vector<unsigned char> resized;
  roi_resize_planes(3, planar, width, height, resized, outWidth, outHeight, roi);
  convert_rrggbb2rgbrgb(resized, out, false);
}

}  // namespace rgbchannel
