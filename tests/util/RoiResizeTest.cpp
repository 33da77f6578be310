#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

#include "util/RoiResize.h"

namespace {

using roiresize::PadSize;
using Shape = std::vector<int>;
using Roi = std::vector<float>;

int planes_of(const Shape& shape) {
  int planes = 1;
  for (size_t i = 0; i + 2 < shape.size(); ++i) planes *= shape[i];
  return planes;
}

// The sampling by definition, written out per output element: calls emit(plane, i, j, fx, fy, x0, y0)
// for every usable sample.
void reference_samples(const Shape& inShape, const Shape& outShape, const Roi& roi,
                       const std::function<void(int, int, int, float, float, int, int)>& emit) {
  const size_t n = inShape.size();
  const int inH = inShape[n - 2], inW = inShape[n - 1];
  const int outH = outShape[n - 2], outW = outShape[n - 1];
  const float hr = roi[3] - roi[1];
  const float wr = roi[2] - roi[0];
  const float sx = inW * wr / outW;
  const float sy = inH * hr / outH;
  for (int p = 0; p < planes_of(inShape); ++p) {
    for (int i = 0; i < outH; ++i) {
      const float ys = inH * roi[1] + sy * 0.5f - 0.5f + i * sy;
      if (!(ys >= 0 && ys < inH - 1)) continue;
      for (int j = 0; j < outW; ++j) {
        const float xs = inW * roi[0] + sx * 0.5f - 0.5f + j * sx;
        if (!(xs >= 0 && xs < inW - 1)) continue;
        const int x0 = static_cast<int>(xs);
        const float fx = xs - x0;
        const int y0 = static_cast<int>(ys);
        const float fy = ys - y0;
        emit(p, i, j, fx, fy, x0, y0);
      }
    }
  }
}

template <typename T>
void reference_resize(const T* in, const Shape& inShape, int inStride, T* out, const Shape& outShape,
                      int outStride, const Roi& roi, T pad) {
  const size_t n = inShape.size();
  const int inH = inShape[n - 2];
  const int outH = outShape[n - 2], outW = outShape[n - 1];
  for (int p = 0; p < planes_of(outShape); ++p) {
    for (int i = 0; i < outH; ++i) {
      for (int j = 0; j < outW; ++j) out[(p * outH + i) * outStride + j] = pad;
    }
  }
  reference_samples(inShape, outShape, roi, [&](int p, int i, int j, float fx, float fy, int x0, int y0) {
    auto P = [&](int y, int x) { return in[(p * inH + y) * inStride + x]; };
    out[(p * outH + i) * outStride + j] =
        static_cast<T>((1 - fy) * (1 - fx) * P(y0, x0) + fy * (1 - fx) * P(y0 + 1, x0) +
                       (1 - fy) * fx * P(y0, x0 + 1) + fy * fx * P(y0 + 1, x0 + 1));
  });
}

void reference_resize_2bytes(const unsigned short* in, const Shape& inShape, int inStride,
                             unsigned short* out, const Shape& outShape, int outStride, const Roi& roi,
                             unsigned short pad) {
  const size_t n = inShape.size();
  const int inH = inShape[n - 2];
  const int outH = outShape[n - 2], outW = outShape[n - 1];
  for (int p = 0; p < planes_of(outShape); ++p) {
    for (int i = 0; i < outH; ++i) {
      for (int j = 0; j < outW; ++j) out[(p * outH + i) * outStride + j] = pad;
    }
  }
  reference_samples(inShape, outShape, roi, [&](int p, int i, int j, float fx, float fy, int x0, int y0) {
    unsigned short result = 0;
    for (int shift : {0, 8}) {
      auto P = [&](int y, int x) {
        return static_cast<unsigned char>(in[(p * inH + y) * inStride + x] >> shift);
      };
      const auto byte =
          static_cast<unsigned char>((1 - fy) * (1 - fx) * P(y0, x0) + fy * (1 - fx) * P(y0 + 1, x0) +
                                     (1 - fy) * fx * P(y0, x0 + 1) + fy * fx * P(y0 + 1, x0 + 1));
      result = static_cast<unsigned short>(result | (byte << shift));
    }
    out[(p * outH + i) * outStride + j] = result;
  });
}

// out(y, x) = in(y - top, x - left) inside the input, value elsewhere; element-wise.
template <typename T>
void reference_pad_crop(const T* in, const Shape& inShape, int inStride, T* out, const Shape& outShape,
                        int outStride, const PadSize& pad, T value) {
  const size_t n = inShape.size();
  const int inH = inShape[n - 2], inW = inShape[n - 1];
  const int outH = outShape[n - 2], outW = outShape[n - 1];
  for (int p = 0; p < planes_of(inShape); ++p) {
    for (int y = 0; y < outH; ++y) {
      for (int x = 0; x < outW; ++x) {
        const int sy = y - pad.top;
        const int sx = x - pad.left;
        const bool inside = sy >= 0 && sy < inH && sx >= 0 && sx < inW;
        out[(p * outH + y) * outStride + x] = inside ? in[(p * inH + sy) * inStride + sx] : value;
      }
    }
  }
}

template <typename T>
std::vector<T> random_values(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(std::is_same<T, unsigned char>::value ? 0 : -1000,
                                          std::is_same<T, unsigned char>::value ? 255 : 1000);
  std::vector<T> out(n);
  for (auto& v : out) v = static_cast<T>(dist(gen)) + (std::is_floating_point<T>::value ? T(0.37) : T(0));
  return out;
}

std::vector<unsigned short> random_pairs(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(0, 0xffff);
  std::vector<unsigned short> out(n);
  for (auto& v : out) v = static_cast<unsigned short>(dist(gen));
  return out;
}

struct ResizeCase {
  const char* name;
  int inW, inH, outW, outH;
  Roi roi;
};

const ResizeCase kResizeCases[] = {
    {"full downscale, odd sizes", 7, 5, 3, 4, {0, 0, 1, 1}},
    {"ROI past every border", 9, 13, 17, 11, {-0.3f, -0.1f, 1.2f, 1.05f}},
    {"single pixel input", 1, 1, 3, 3, {0, 0, 1, 1}},
    {"two pixel wide input", 2, 3, 5, 1, {0, 0, 1, 1}},
    {"zero-width ROI", 31, 17, 8, 8, {0.5f, 0.5f, 0.5f, 0.9f}},
    {"small window, wide output", 64, 48, 37, 7, {0.2f, 0.3f, 0.7f, 0.4f}},
    {"ROI outside the image", 8, 8, 4, 4, {1.5f, 1.5f, 2, 2}},
    {"large downscale", 199, 101, 5, 3, {0.01f, 0.02f, 0.98f, 0.99f}},
};

template <typename T>
void expect_matches_reference(unsigned seed) {
  for (const ResizeCase& c : kResizeCases) {
    SCOPED_TRACE(c.name);
    const Shape inShape = {2, 1, c.inH, c.inW};
    const Shape outShape = {2, 1, c.outH, c.outW};
    const T pad = static_cast<T>(77);
    const auto in = random_values<T>(2 * c.inH * c.inW, seed++);
    std::vector<T> expected(2 * c.outH * c.outW, T(1));
    std::vector<T> actual(expected.size(), T(2));
    reference_resize(in.data(), inShape, c.inW, expected.data(), outShape, c.outW, c.roi, pad);
    EXPECT_EQ(roiresize::roi_resize_4corners<T>(in.data(), inShape, actual.data(), outShape, c.roi, pad),
              actual.data());
    EXPECT_EQ(actual, expected);

    // Strided: rows wider than the used widths; the gap after each row stays untouched.
    const int inStride = c.inW + 3;
    const int outStride = c.outW + 5;
    const auto inStrided = random_values<T>(2 * c.inH * inStride, seed++);
    std::vector<T> expectedStrided(2 * c.outH * outStride, T(5));
    std::vector<T> actualStrided(expectedStrided);
    reference_resize(inStrided.data(), inShape, inStride, expectedStrided.data(), outShape, outStride, c.roi,
                     pad);
    roiresize::roi_resize_4corners<T>(inStrided.data(), inShape, inStride, actualStrided.data(), outShape,
                                      outStride, c.roi, pad);
    EXPECT_EQ(actualStrided, expectedStrided);
  }
}

TEST(RoiResizeTest, MatchesTheReferenceForEveryType) {
  {
    SCOPED_TRACE("unsigned char");
    expect_matches_reference<unsigned char>(10);
  }
  {
    SCOPED_TRACE("int");
    expect_matches_reference<int>(20);
  }
  {
    SCOPED_TRACE("float");
    expect_matches_reference<float>(30);
  }
  {
    SCOPED_TRACE("double");
    expect_matches_reference<double>(40);
  }
}

TEST(RoiResizeTest, TwoBytesMatchTheReference) {
  unsigned seed = 50;
  for (const ResizeCase& c : kResizeCases) {
    SCOPED_TRACE(c.name);
    const Shape inShape = {c.inH, c.inW};
    const Shape outShape = {c.outH, c.outW};
    const int inStride = c.inW + 1;
    const int outStride = c.outW + 2;
    const auto in = random_pairs(c.inH * inStride, seed++);
    std::vector<unsigned short> expected(c.outH * outStride, 0xBEEF);
    std::vector<unsigned short> actual(expected);
    reference_resize_2bytes(in.data(), inShape, inStride, expected.data(), outShape, outStride, c.roi,
                            0x8010);
    roiresize::roi_resize_2bytes(in.data(), inShape, inStride, actual.data(), outShape, outStride, c.roi,
                                 0x8010);
    EXPECT_EQ(actual, expected);

    std::vector<unsigned short> compact(c.outH * c.outW);
    std::vector<unsigned short> compactExpected(compact.size());
    reference_resize_2bytes(in.data(), inShape, c.inW, compactExpected.data(), outShape, c.outW, c.roi,
                            0x8010);
    EXPECT_EQ(roiresize::roi_resize_2bytes(in.data(), inShape, compact.data(), outShape, c.roi, 0x8010),
              compact.data());
    EXPECT_EQ(compact, compactExpected);
  }
}

TEST(RoiResizeTest, FlatImagesFollowTheFormulasOrderOfOperations) {
  // With inexact fractions the four-term weighted sum can land just below a flat
  // value, and truncation then gives one less; any other arrangement of the arithmetic changes which
  // samples do, so flat images pin the order of operations down.
  const Roi rois[] = {{0, 0, 1, 1}, {0.1f, 0.05f, 0.93f, 0.77f}, {-0.2f, 0.3f, 0.6f, 1.3f}};
  const int outSizes[][2] = {{3, 5}, {17, 11}, {40, 29}, {64, 64}};
  const int inW = 37, inH = 23;
  const std::vector<unsigned char> in(inW * inH, 200);
  const std::vector<unsigned short> inPairs(inW * inH, 0xc8c8);
  int below = 0;
  for (const Roi& roi : rois) {
    for (const auto& size : outSizes) {
      const int outW = size[0], outH = size[1];
      std::vector<unsigned char> expected(outW * outH), actual(outW * outH);
      reference_resize(in.data(), {inH, inW}, inW, expected.data(), {outH, outW}, outW, roi,
                       (unsigned char)0);
      roiresize::roi_resize_4corners<unsigned char>(in.data(), {inH, inW}, actual.data(), {outH, outW}, roi,
                                                    0);
      EXPECT_EQ(actual, expected);
      below += static_cast<int>(std::count(expected.begin(), expected.end(), 199));

      std::vector<unsigned short> expectedPairs(outW * outH), actualPairs(outW * outH);
      reference_resize_2bytes(inPairs.data(), {inH, inW}, inW, expectedPairs.data(), {outH, outW}, outW, roi,
                              0);
      roiresize::roi_resize_2bytes(inPairs.data(), {inH, inW}, actualPairs.data(), {outH, outW}, roi, 0);
      EXPECT_EQ(actualPairs, expectedPairs);
    }
  }
  EXPECT_GT(below, 0);  // the case above does occur
}

TEST(RoiResizeTest, HalvingAveragesEachTwoByTwoBlock) {
  // sx = 2, xs = 0.5 and 2.5: every weight is 0.25. Means 3.5, 25, 103, 7.25, truncated for bytes.
  const std::vector<unsigned char> in = {1,   2,   10, 20,  //
                                         5,   6,   30, 40,  //
                                         100, 102, 7,  7,   //
                                         104, 106, 7,  8};
  std::vector<unsigned char> out(4);
  roiresize::roi_resize_4corners<unsigned char>(in.data(), {4, 4}, out.data(), {2, 2}, {0, 0, 1, 1}, 0);
  EXPECT_EQ(out, (std::vector<unsigned char>{3, 25, 103, 7}));

  const std::vector<float> inF(in.begin(), in.end());
  std::vector<float> outF(4);
  roiresize::roi_resize_4corners<float>(inF.data(), {4, 4}, outF.data(), {2, 2}, {0, 0, 1, 1}, 0);
  EXPECT_EQ(outF, (std::vector<float>{3.5f, 25, 103, 7.25f}));
}

TEST(RoiResizeTest, IntegersTruncateTowardZero) {
  const std::vector<int> in = {-1, -2, 1, 2,  //
                               -5, -6, 5, 6,  //
                               0,  0,  0, 0,  //
                               0,  0,  0, 1};
  std::vector<int> out(4);
  roiresize::roi_resize_4corners<int>(in.data(), {4, 4}, out.data(), {2, 2}, {0, 0, 1, 1}, 0);
  EXPECT_EQ(out, (std::vector<int>{-3, 3, 0, 0}));
}

TEST(RoiResizeTest, DoubleElementsKeepDoublePrecision) {
  const double big = 1e9;
  const std::vector<double> in = {big + 1, big + 2, big + 3, big + 4};
  std::vector<double> out(1);
  // 2 x 2 -> 1 x 1: xs = ys = 0.5, the mean of all four.
  roiresize::roi_resize_4corners<double>(in.data(), {2, 2}, out.data(), {1, 1}, {0, 0, 1, 1}, 0);
  EXPECT_EQ(out[0], big + 2.5);
}

TEST(RoiResizeTest, DoublingKeepsPadOutsideTheOuterPixelCentres) {
  // xs = ys = -0.25, 0.25, 0.75, 1.25: the first and last rows and columns keep the pad. Inner
  // values by hand, e.g. (1, 1): 0.5625 * 0 + 0.1875 * 200 + 0.1875 * 100 + 0.0625 * 40 = 58.75.
  const std::vector<unsigned char> in = {0, 100, 200, 40};
  std::vector<unsigned char> out(16);
  roiresize::roi_resize_4corners<unsigned char>(in.data(), {2, 2}, out.data(), {4, 4}, {0, 0, 1, 1}, 9);
  EXPECT_EQ(out, (std::vector<unsigned char>{9, 9, 9, 9,     //
                                             9, 58, 76, 9,   //
                                             9, 126, 78, 9,  //
                                             9, 9, 9, 9}));
}

std::vector<unsigned char> ramp(int width, int height) {
  std::vector<unsigned char> out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) out.push_back(static_cast<unsigned char>(10 * y + x));
  }
  return out;
}

TEST(RoiResizeTest, UnitStepWindowCopiesPixels) {
  // sx = 4 * 0.5 / 2 = 1, xs = 1 and 2 with no fraction.
  const auto in = ramp(4, 4);
  std::vector<unsigned char> out(4);
  roiresize::roi_resize_4corners<unsigned char>(in.data(), {4, 4}, out.data(), {2, 2},
                                                {0.25f, 0.25f, 0.75f, 0.75f}, 0);
  EXPECT_EQ(out, (std::vector<unsigned char>{11, 12, 21, 22}));
}

TEST(RoiResizeTest, RoiLeftOfTheImageAndLastRowKeepPad) {
  // xs = -2, -1, 0, 1; ys = 0, 1, 2, 3 (3 is the last pixel centre: not usable).
  const auto in = ramp(4, 4);
  std::vector<unsigned char> out(16);
  roiresize::roi_resize_4corners<unsigned char>(in.data(), {4, 4}, out.data(), {4, 4}, {-0.5f, 0, 0.5f, 1},
                                                200);
  EXPECT_EQ(out, (std::vector<unsigned char>{200, 200, 0, 1,    //
                                             200, 200, 10, 11,  //
                                             200, 200, 20, 21,  //
                                             200, 200, 200, 200}));
}

TEST(RoiResizeTest, ZeroWidthRoiRepeatsOneSample) {
  // sx = sy = 0: every sample is at 1.5, the mean of pixels (1..2, 1..2) = 16.5.
  const auto in = ramp(4, 4);
  std::vector<unsigned char> out(6);
  roiresize::roi_resize_4corners<unsigned char>(in.data(), {4, 4}, out.data(), {2, 3},
                                                {0.5f, 0.5f, 0.5f, 0.5f}, 0);
  EXPECT_EQ(out, std::vector<unsigned char>(6, 16));
}

TEST(RoiResizeTest, TwoBytesInterpolateEachByteOnItsOwn) {
  // Low bytes 255, 255, 255, 254 -> 254.75 -> 254 (no carry into the high byte); high bytes 0, 0, 0, 1
  // -> 0.25 -> 0. Second block: low 1, 2, 5, 6 -> 3; high 10, 20, 30, 41 -> 25.25 -> 25.
  const std::vector<unsigned short> in = {0x00ff, 0x00ff, 0x0a01, 0x1402,  //
                                          0x00ff, 0x01fe, 0x1e05, 0x2906};
  std::vector<unsigned short> out(2);
  roiresize::roi_resize_2bytes(in.data(), {2, 4}, out.data(), {1, 2}, {0, 0, 1, 1}, 0);
  EXPECT_EQ(out, (std::vector<unsigned short>{0x00fe, 0x1903}));
}

TEST(RoiResizeTest, PadCropShapeAddsThePadsToTheLastTwoEntries) {
  EXPECT_EQ(roiresize::pad_crop({3, 4, 5}, PadSize(1, 2, 3, 4)), (Shape{3, 11, 8}));
  EXPECT_EQ(roiresize::pad_crop({4, 5}, PadSize(-1, 1, 0, -2)), (Shape{2, 5}));
  PadSize pad;
  pad.left = -3;
  pad.bottom = 2;
  EXPECT_EQ(pad.xPad(), -3);
  EXPECT_EQ(pad.yPad(), 2);
}

TEST(RoiResizeTest, PadCropShiftsLeftAndFillsTheLastColumn) {
  const std::vector<unsigned char> in = {1, 2, 3, 4, 5, 6};
  std::vector<unsigned char> out(6);
  roiresize::pad_crop<unsigned char>(in.data(), {2, 3}, out.data(), {2, 3}, PadSize(-1, 1, 0, 0), 9);
  EXPECT_EQ(out, (std::vector<unsigned char>{2, 3, 9, 5, 6, 9}));
}

TEST(RoiResizeTest, PadCropPadsAndCrops) {
  const std::vector<unsigned char> in = {1, 2, 3, 4};
  std::vector<unsigned char> out(9);
  roiresize::pad_crop<unsigned char>(in.data(), {2, 2}, out.data(), {3, 3}, PadSize(1, 0, 0, 1), 9);
  EXPECT_EQ(out, (std::vector<unsigned char>{9, 1, 2, 9, 3, 4, 9, 9, 9}));

  const auto rampIn = ramp(4, 4);
  std::vector<unsigned char> cropped(4);
  roiresize::pad_crop<unsigned char>(rampIn.data(), {4, 4}, cropped.data(), {2, 2}, PadSize(-1, -1, -1, -1),
                                     0);
  EXPECT_EQ(cropped, (std::vector<unsigned char>{11, 12, 21, 22}));

  // Shifted out entirely: every element is the value.
  std::vector<unsigned char> gone(4, 1);
  roiresize::pad_crop<unsigned char>(in.data(), {2, 2}, gone.data(), {2, 2}, PadSize(-3, 3, 0, 0), 7);
  EXPECT_EQ(gone, std::vector<unsigned char>(4, 7));
}

template <typename T>
void expect_pad_crop_matches_reference(unsigned seed) {
  const PadSize pads[] = {PadSize(0, 0, 0, 0),   PadSize(2, 1, 3, 0),   PadSize(-1, -2, -3, -1),
                          PadSize(-2, 3, 1, -2), PadSize(4, -4, -5, 5), PadSize(-9, 9, 0, 0)};
  for (const PadSize& pad : pads) {
    SCOPED_TRACE(testing::Message() << pad.left << "," << pad.right << "," << pad.top << "," << pad.bottom);
    const int inH = 5, inW = 7;
    const Shape inShape = {3, inH, inW};
    const Shape outShape = roiresize::pad_crop(inShape, pad);
    const int outH = outShape[1], outW = outShape[2];
    const auto in = random_values<T>(3 * inH * inW, seed++);
    std::vector<T> expected(3 * outH * outW, T(1));
    std::vector<T> actual(expected.size(), T(2));
    reference_pad_crop(in.data(), inShape, inW, expected.data(), outShape, outW, pad, T(99));
    roiresize::pad_crop<T>(in.data(), inShape, actual.data(), outShape, pad, T(99));
    EXPECT_EQ(actual, expected);

    const int inStride = inW + 2, outStride = outW + 3;
    const auto inStrided = random_values<T>(3 * inH * inStride, seed++);
    std::vector<T> expectedStrided(3 * outH * outStride, T(4));
    std::vector<T> actualStrided(expectedStrided);
    reference_pad_crop(inStrided.data(), inShape, inStride, expectedStrided.data(), outShape, outStride, pad,
                       T(99));
    roiresize::pad_crop<T>(inStrided.data(), inShape, inStride, actualStrided.data(), outShape, outStride,
                           pad, T(99));
    EXPECT_EQ(actualStrided, expectedStrided);
  }
}

TEST(RoiResizeTest, PadCropMatchesTheReferenceForEveryType) {
  expect_pad_crop_matches_reference<unsigned char>(1);
  expect_pad_crop_matches_reference<unsigned short>(2);
  expect_pad_crop_matches_reference<int>(3);
  expect_pad_crop_matches_reference<float>(4);
  expect_pad_crop_matches_reference<double>(5);
}

using RoiResizeDeathTest = testing::Test;

TEST(RoiResizeDeathTest, ResizeArgumentsAreChecked) {
  std::vector<unsigned char> buf(64);
  unsigned char* p = buf.data();
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {4, 4}, p, {2, 2}, {0, 0, 1}, 0),
               "Check failed: roi.size\\(\\) == 4 ");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {1, 4, 4}, p, {2, 2}, {0, 0, 1, 1}, 0),
               "Check failed: inShape.size\\(\\) == outShape.size\\(\\) && inShape.size\\(\\) >= 2 ");
  EXPECT_DEATH(roiresize::roi_resize_4corners<unsigned char>(p, {4}, p, {2}, {0, 0, 1, 1}, 0),
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
