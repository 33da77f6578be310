#include <gtest/gtest.h>

#include <random>
#include <type_traits>
#include <vector>

#include "util/RoiResize.h"

namespace {

using roiresize::PadSize;
using Shape = std::vector<int>;
using Roi = std::vector<float>;

// The interpolation formula term by term: P(y0, x0), P(y0 + 1, x0), P(y0, x0 + 1), P(y0 + 1, x0 + 1).
template <typename T>
T bilinear(float fx, float fy, T p00, T p10, T p01, T p11) {
  return static_cast<T>((1 - fy) * (1 - fx) * p00 + fy * (1 - fx) * p10 + (1 - fy) * fx * p01 +
                        fy * fx * p11);
}

// The two bytes of a U,V pair each on their own.
unsigned short bilinear(float fx, float fy, unsigned short p00, unsigned short p10, unsigned short p01,
                        unsigned short p11) {
  auto lo = [](unsigned short v) { return static_cast<unsigned char>(v); };
  auto hi = [](unsigned short v) { return static_cast<unsigned char>(v >> 8); };
  return static_cast<unsigned short>(bilinear(fx, fy, lo(p00), lo(p10), lo(p01), lo(p11)) |
                                     bilinear(fx, fy, hi(p00), hi(p10), hi(p01), hi(p11)) << 8);
}

// Reference resize, element by element as the sampling is defined, of `planes` planes of inH x inW
// with rows `inStride` apart.
template <typename T>
void reference_resize(const T* in, int planes, int inH, int inW, int inStride, T* out, int outH, int outW,
                      int outStride, const Roi& roi, T pad) {
  const float sx = inW * (roi[2] - roi[0]) / outW, sy = inH * (roi[3] - roi[1]) / outH;
  for (int k = 0; k < planes * outH * outW; ++k) {
    const int p = k / (outH * outW), i = k / outW % outH, j = k % outW;
    const float ys = inH * roi[1] + sy * 0.5f - 0.5f + i * sy, xs = inW * roi[0] + sx * 0.5f - 0.5f + j * sx;
    T& o = out[(p * outH + i) * outStride + j];
    o = pad;
    if (!(xs >= 0 && xs < inW - 1 && ys >= 0 && ys < inH - 1)) continue;
    const int x0 = static_cast<int>(xs), y0 = static_cast<int>(ys);
    const T* r0 = in + (p * inH + y0) * inStride + x0;
    o = bilinear(xs - x0, ys - y0, r0[0], r0[inStride], r0[1], r0[inStride + 1]);
  }
}

template <typename T>
std::vector<T> random_values(size_t n, unsigned seed, int lo, int hi) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  std::vector<T> out(n);
  for (auto& v : out) v = static_cast<T>(dist(gen) + (std::is_floating_point<T>::value ? 0.37 : 0));
  return out;
}

// Every case on two planes, packed and with strides > widths (the gap after each row stays as it was).
template <typename T>
void expect_resize_matches_reference(unsigned seed, int lo, int hi) {
  const struct {
    const char* name;
    int inW, inH, outW, outH;
    Roi roi;
  } cases[] = {
      {"full downscale, odd sizes", 7, 5, 3, 4, {0, 0, 1, 1}},
      {"ROI past every border", 9, 13, 17, 11, {-0.3f, -0.1f, 1.2f, 1.05f}},
      {"zero-width ROI", 31, 17, 8, 8, {0.5f, 0.5f, 0.5f, 0.9f}},
      {"small window, wide output", 199, 101, 37, 7, {0.2f, 0.3f, 0.7f, 0.4f}},
      {"one usable column", 2, 3, 2, 2, {0, 0, 1, 1}},  // xs = 0 and 1
  };
  for (const auto& c : cases) {
    for (int gap : {0, 3}) {
      SCOPED_TRACE(testing::Message() << c.name << ", stride gap " << gap);
      const int inStride = c.inW + gap, outStride = c.outW + 2 * gap;
      const auto in = random_values<T>(2 * c.inH * inStride, seed++, lo, hi);
      std::vector<T> expected(2 * c.outH * outStride, T(5)), actual(expected);
      reference_resize<T>(in.data(), 2, c.inH, c.inW, inStride, expected.data(), c.outH, c.outW, outStride,
                          c.roi, T(77));
      const Shape is = {2, 1, c.inH, c.inW}, os = {2, 1, c.outH, c.outW};
      T* o = actual.data();  // packed without a gap, else strided
      if constexpr (std::is_same<T, unsigned short>::value) {
        gap ? roiresize::roi_resize_2bytes(in.data(), is, inStride, o, os, outStride, c.roi, T(77))
            : roiresize::roi_resize_2bytes(in.data(), is, o, os, c.roi, T(77));
      } else {
        gap ? roiresize::roi_resize_4corners<T>(in.data(), is, inStride, o, os, outStride, c.roi, T(77))
            : roiresize::roi_resize_4corners<T>(in.data(), is, o, os, c.roi, T(77));
      }
      EXPECT_EQ(actual, expected);
    }
  }
}

TEST(RoiResizeTest, ResizesAsComputedByHand) {
  // Halving: sx = 2, xs = 0.5 and 2.5, every weight 0.25: means 3.5, 25, -3.5 and 7.25, truncated
  // toward zero.
  const std::vector<int> in = {1, 2, 10, 20, 5, 6, 30, 40, -1, -2, 7, 7, -5, -6, 7, 8};
  std::vector<int> out(16);
  roiresize::roi_resize_4corners<int>(in.data(), {4, 4}, out.data(), {2, 2}, {0, 0, 1, 1}, 9);
  EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + 4), (std::vector<int>{3, 25, -3, 7}));
  // Doubling: xs = ys = -0.25, 0.25, 0.75, 1.25: the outer rows and columns keep the pad; (1, 1) is
  // 0.5625 * 0 + 0.1875 * 200 + 0.1875 * 100 + 0.0625 * 40 = 58.75.
  roiresize::roi_resize_4corners<int>(std::vector<int>{0, 100, 200, 40}.data(), {2, 2}, out.data(), {4, 4},
                                      {0, 0, 1, 1}, 9);
  EXPECT_EQ(out, (std::vector<int>{9, 9, 9, 9, 9, 58, 76, 9, 9, 126, 78, 9, 9, 9, 9, 9}));
}

// out(y, x) = in(y - top, x - left) inside the input, value elsewhere; three planes, packed and
// strided, for every element type.
template <typename T>
void expect_pad_crop_matches_reference(unsigned seed) {
  const PadSize pads[] = {PadSize(0, 0, 0, 0),   PadSize(2, 1, 3, 0),   PadSize(-1, -2, -3, -1),
                          PadSize(-2, 3, 1, -2), PadSize(4, -4, -5, 5), PadSize(-9, 9, 0, 0)};
  const int inH = 5, inW = 7;
  for (const PadSize& pad : pads) {
    for (int gap : {0, 2}) {
      SCOPED_TRACE(testing::Message()
                   << pad.left << "," << pad.right << "," << pad.top << "," << pad.bottom << " gap " << gap);
      const Shape inShape = {3, inH, inW};
      const Shape outShape = roiresize::pad_crop(inShape, pad);
      const int outH = outShape[1], outW = outShape[2], s1 = inW + gap, s2 = outW + 2 * gap;
      const auto in = random_values<T>(3 * inH * s1, seed++, 0, 200);
      std::vector<T> expected(3 * outH * s2, T(4)), actual(expected);
      for (int k = 0; k < 3 * outH * outW; ++k) {
        const int p = k / (outH * outW), y = k / outW % outH, x = k % outW, sy = y - pad.top,
                  sx = x - pad.left;
        const bool inside = sy >= 0 && sy < inH && sx >= 0 && sx < inW;
        expected[(p * outH + y) * s2 + x] = inside ? in[(p * inH + sy) * s1 + sx] : T(99);
      }
      gap ? roiresize::pad_crop<T>(in.data(), inShape, s1, actual.data(), outShape, s2, pad, T(99))
          : roiresize::pad_crop<T>(in.data(), inShape, actual.data(), outShape, pad, T(99));
      EXPECT_EQ(actual, expected);
    }
  }
}

TEST(RoiResizeTest, MatchesTheReferencesForEveryType) {
  expect_resize_matches_reference<unsigned char>(10, 0, 255);
  expect_resize_matches_reference<int>(20, -1000, 1000);
  expect_resize_matches_reference<float>(30, -1000, 1000);
  expect_resize_matches_reference<double>(40, -1000, 1000);
  expect_resize_matches_reference<unsigned short>(50, 0, 0xffff);
  expect_pad_crop_matches_reference<unsigned char>(1);
  expect_pad_crop_matches_reference<unsigned short>(2);
  expect_pad_crop_matches_reference<int>(3);
  expect_pad_crop_matches_reference<float>(4);
  expect_pad_crop_matches_reference<double>(5);
}

TEST(RoiResizeDeathTest, ArgumentsAreChecked) {
  std::vector<unsigned char> buf(64);
  unsigned char* p = buf.data();
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {1, 4, 4}, p, {2, 2, 2}, {0, 0, 1, 1}, 0),
               "Check failed: inShape\\[idx\\] == outShape\\[idx\\] \\(1 vs\\. 2\\)");
  EXPECT_DEATH(roiresize::roi_resize_2bytes(nullptr, {4, 4}, nullptr, {2, 2}, {0, 0.5f, 1, 0.25f}, 0),
               "Check failed: hr >= 0 && wr >= 0 \\(hr, wr\\) = \\(-0.25, 1\\)");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {4, 4}, 3, p, {2, 2}, 2, {0, 0, 1, 1}, 0),
               "Check failed: inWidthNotStride <= s1 and outWidthNotStride <= s2 ");
  EXPECT_DEATH(roiresize::pad_crop<unsigned char>(p, {4, 4}, p, {4, 5}, PadSize(1, 1, 0, 0), 0),
               "Check failed: h2 == outShape\\[shapeSplitIdx\\] && w2 == outShape\\[shapeSplitIdx\\+1\\] ");
  EXPECT_DEATH(roiresize::pad_crop<unsigned char>(p, {4, 4}, 4, p, {5, 4}, 4, PadSize(0, 0, 1, 1), 0),
               "Check failed: h1 \\+ padSize.yPad\\(\\) == h2 and inWidthNotStride \\+ padSize.xPad\\(\\) == "
               "outWidthNotStride ");
}

}  // namespace
