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
  unsigned short out = 0;
  for (int s : {0, 8}) {
    auto b = [s](unsigned short v) { return static_cast<unsigned char>(v >> s); };
    out = static_cast<unsigned short>(out | bilinear(fx, fy, b(p00), b(p10), b(p01), b(p11)) << s);
  }
  return out;
}

// Reference resize, element by element as the sampling is defined, of `planes` planes of inH x inW
// with rows `inStride` apart.
template <typename T>
void reference_resize(const T* in, int planes, int inH, int inW, int inStride, T* out, int outH, int outW,
                      int outStride, const Roi& roi, T pad) {
  const float sx = inW * (roi[2] - roi[0]) / outW, sy = inH * (roi[3] - roi[1]) / outH;
  for (int p = 0; p < planes; ++p) {
    for (int i = 0; i < outH; ++i) {
      for (int j = 0; j < outW; ++j) {
        const float ys = inH * roi[1] + sy * 0.5f - 0.5f + i * sy,
                    xs = inW * roi[0] + sx * 0.5f - 0.5f + j * sx;
        T& o = out[(p * outH + i) * outStride + j];
        o = pad;
        if (!(xs >= 0 && xs < inW - 1 && ys >= 0 && ys < inH - 1)) continue;
        const int x0 = static_cast<int>(xs), y0 = static_cast<int>(ys);
        const T* r0 = in + (p * inH + y0) * inStride + x0;
        o = bilinear(xs - x0, ys - y0, r0[0], r0[inStride], r0[1], r0[inStride + 1]);
      }
    }
  }
}

// The functions under test, packed or strided.
template <typename T>
T* resize(const T* in, const Shape& is, int s1, T* out, const Shape& os, int s2, const Roi& roi, T pad,
          bool strided) {
  return strided ? roiresize::roi_resize_4corners<T>(in, is, s1, out, os, s2, roi, pad)
                 : roiresize::roi_resize_4corners<T>(in, is, out, os, roi, pad);
}
unsigned short* resize(const unsigned short* in, const Shape& is, int s1, unsigned short* out,
                       const Shape& os, int s2, const Roi& roi, unsigned short pad, bool strided) {
  return strided ? roiresize::roi_resize_2bytes(in, is, s1, out, os, s2, roi, pad)
                 : roiresize::roi_resize_2bytes(in, is, out, os, roi, pad);
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
      {"single pixel input", 1, 1, 3, 3, {0, 0, 1, 1}},
      {"two pixel wide input", 2, 3, 5, 1, {0, 0, 1, 1}},
      {"zero-width ROI", 31, 17, 8, 8, {0.5f, 0.5f, 0.5f, 0.9f}},
      {"small window, wide output", 64, 48, 37, 7, {0.2f, 0.3f, 0.7f, 0.4f}},
      {"ROI outside the image", 8, 8, 4, 4, {1.5f, 1.5f, 2, 2}},
      {"large downscale", 199, 101, 5, 3, {0.01f, 0.02f, 0.98f, 0.99f}},
  };
  for (const auto& c : cases) {
    for (int gap : {0, 3}) {
      SCOPED_TRACE(testing::Message() << c.name << ", stride gap " << gap);
      const int inStride = c.inW + gap, outStride = c.outW + 2 * gap;
      const auto in = random_values<T>(2 * c.inH * inStride, seed++, lo, hi);
      std::vector<T> expected(2 * c.outH * outStride, T(5)), actual(expected);
      reference_resize<T>(in.data(), 2, c.inH, c.inW, inStride, expected.data(), c.outH, c.outW, outStride,
                          c.roi, T(77));
      EXPECT_EQ(resize(in.data(), {2, 1, c.inH, c.inW}, inStride, actual.data(), {2, 1, c.outH, c.outW},
                       outStride, c.roi, T(77), gap > 0),
                actual.data());
      EXPECT_EQ(actual, expected);
    }
  }
}

TEST(RoiResizeTest, MatchesTheReferenceForEveryType) {
  expect_resize_matches_reference<unsigned char>(10, 0, 255);
  expect_resize_matches_reference<int>(20, -1000, 1000);
  expect_resize_matches_reference<float>(30, -1000, 1000);
  expect_resize_matches_reference<double>(40, -1000, 1000);
  expect_resize_matches_reference<unsigned short>(50, 0, 0xffff);
}

TEST(RoiResizeTest, ResizesAsComputedByHand) {
  const struct {
    const char* name;
    Shape inShape, outShape;
    std::vector<int> in, expected;
  } rows[] = {
      // sx = 2, xs = 0.5 and 2.5: every weight is 0.25, the means are 3.5, 25, 103 and 7.25.
      {"halving",
       {4, 4},
       {2, 2},
       {1, 2, 10, 20, 5, 6, 30, 40, 100, 102, 7, 7, 104, 106, 7, 8},
       {3, 25, 103, 7}},
      {"toward zero", {4, 4}, {2, 2}, {-1, -2, 0, 0, -5, -6, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {-3, 0, 0, 0}},
      // xs = ys = -0.25, 0.25, 0.75, 1.25: the outer rows and columns keep the pad. (1, 1) is
      // 0.5625 * 0 + 0.1875 * 200 + 0.1875 * 100 + 0.0625 * 40 = 58.75.
      {"doubling", {2, 2}, {4, 4}, {0, 100, 200, 40}, {9, 9, 9, 9, 9, 58, 76, 9, 9, 126, 78, 9, 9, 9, 9, 9}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<int> out(r.expected.size());
    roiresize::roi_resize_4corners<int>(r.in.data(), r.inShape, out.data(), r.outShape, {0, 0, 1, 1}, 9);
    EXPECT_EQ(out, r.expected);
  }
}

TEST(RoiResizeTest, PadCropShiftsAndFills) {
  EXPECT_EQ(roiresize::pad_crop({3, 4, 5}, PadSize(1, 2, 3, 4)), (Shape{3, 11, 8}));
  const std::vector<int> in = {1, 2, 3, 4, 5, 6};
  std::vector<int> out(6);
  roiresize::pad_crop<int>(in.data(), {2, 3}, out.data(), {2, 3}, PadSize(-1, 1, 0, 0), 9);
  EXPECT_EQ(out, (std::vector<int>{2, 3, 9, 5, 6, 9}));
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

TEST(RoiResizeTest, PadCropMatchesTheReferenceForEveryType) {
  expect_pad_crop_matches_reference<unsigned char>(1);
  expect_pad_crop_matches_reference<unsigned short>(2);
  expect_pad_crop_matches_reference<int>(3);
  expect_pad_crop_matches_reference<float>(4);
  expect_pad_crop_matches_reference<double>(5);
}

TEST(RoiResizeDeathTest, ResizeArgumentsAreChecked) {
  std::vector<unsigned char> buf(64);
  unsigned char* p = buf.data();
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {4, 4}, p, {2, 2}, {0, 0, 1}, 0),
               "Check failed: roi.size\\(\\) == 4 ");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {1, 4, 4}, p, {2, 2}, {0, 0, 1, 1}, 0),
               "Check failed: inShape.size\\(\\) == outShape.size\\(\\) && inShape.size\\(\\) >= 2 ");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {1, 4, 4}, p, {2, 2, 2}, {0, 0, 1, 1}, 0),
               "Check failed: inShape\\[idx\\] == outShape\\[idx\\] ");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {4, 4}, p, {2, 2}, {0, 0.5f, 1, 0}, 0),
               "Check failed: hr >= 0 && wr >= 0 \\(hr, wr\\) = \\(-0.5, 1\\)");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {4, 4}, 3, p, {2, 2}, 2, {0, 0, 1, 1}, 0),
               "Check failed: inWidthNotStride <= s1 and outWidthNotStride <= s2 ");
  std::vector<unsigned short> pairs(16);
  EXPECT_DEATH(
      roiresize::roi_resize_2bytes(pairs.data(), {2, 2}, pairs.data(), {2, 2}, {0.5f, 0, 0.25f, 1}, 0),
      "Check failed: hr >= 0 && wr >= 0 \\(hr, wr\\) = \\(1, -0.25\\)");
}

TEST(RoiResizeDeathTest, PadCropArgumentsAreChecked) {
  std::vector<unsigned char> buf(64);
  unsigned char* p = buf.data();
  EXPECT_DEATH(roiresize::pad_crop({4}, PadSize()), "Check failed: inShape.size\\(\\) >= 2 ");
  EXPECT_DEATH(roiresize::pad_crop<unsigned char>(p, {4, 4}, p, {4, 5}, PadSize(1, 1, 0, 0), 0),
               "Check failed: h2 == outShape\\[shapeSplitIdx\\] && w2 == outShape\\[shapeSplitIdx\\+1\\] ");
  EXPECT_DEATH(roiresize::pad_crop<unsigned char>(p, {4, 4}, 4, p, {5, 4}, 4, PadSize(0, 0, 1, 1), 0),
               "Check failed: h1 \\+ padSize.yPad\\(\\) == h2 and inWidthNotStride \\+ padSize.xPad\\(\\) == "
               "outWidthNotStride ");
  EXPECT_DEATH(roiresize::pad_crop<unsigned char>(p, {4, 4}, 4, p, {4, 6}, 5, PadSize(1, 1, 0, 0), 0),
               "Check failed: inWidthNotStride <= s1 and outWidthNotStride <= s2 ");
  EXPECT_DEATH(roiresize::pad_crop<unsigned char>(p, {2, 4, 4}, p, {3, 4, 4}, PadSize(), 0),
               "Check failed: inShape\\[idx\\] == outShape\\[idx\\] ");
}

}  // namespace
