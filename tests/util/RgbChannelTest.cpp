#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "util/RgbChannel.h"
#include "util/RoiResize.h"

// Sanitizer builds walk every KAVO_EXHAUSTIVE_STEP-th value of the outer loop of the whole-image
// sweep (and every inner value), so they stay fast; other builds walk them all.
#ifndef KAVO_EXHAUSTIVE_STEP
#define KAVO_EXHAUSTIVE_STEP 1
#endif

namespace {

using Bytes = std::vector<unsigned char>;

Bytes random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (auto& v : out) v = static_cast<unsigned char>(gen());
  return out;
}

// The reference harness: both plane conversions of one width x height image against the one-pixel
// conversions, pixel by pixel in row order (so each block keeps the pair of its bottom-right pixel),
// with a guard byte after each output.
void expect_planes_match_pixels(const Bytes& nv12, const Bytes& planar, int width, int height, bool bgr) {
  const size_t n = static_cast<size_t>(width) * height;
  Bytes rgb(3 * n + 1, 0xA5), yuv(n * 3 / 2 + 1, 0xA5), expectedRgb(rgb), expectedYuv(yuv);
  rgbchannel::yuv420sp2rgb(nv12.data(), rgb.data(), width, height, bgr);
  rgbchannel::rgb2yuv420sp(planar.data(), yuv.data(), width, height, bgr);
  for (size_t i = 0; i < n; ++i) {
    const size_t uv = n + i / width / 2 * width + i % width / 2 * 2;
    unsigned char in[3] = {nv12[i], nv12[uv], nv12[uv + 1]}, out[3];
    rgbchannel::yuv2rgb(in, out);
    for (int c = 0; c < 3; ++c) expectedRgb[(bgr ? 2 - c : c) * n + i] = out[c];
    for (int c = 0; c < 3; ++c) in[c] = planar[(bgr ? 2 - c : c) * n + i];
    rgbchannel::rgb2yuv(in, out);
    for (int c = 0; c < 3; ++c) expectedYuv[c ? uv + c - 1 : i] = out[c];
  }
  EXPECT_TRUE(rgb == expectedRgb) << "yuv420sp2rgb";
  EXPECT_TRUE(yuv == expectedYuv) << "rgb2yuv420sp";
}

TEST(RgbChannelTest, ConvertsOnePixelAsComputedByHand) {
  const struct {
    void (*convert)(const unsigned char*, unsigned char*);
    Bytes in, out;
  } rows[] = {
      {rgbchannel::rgb2yuv, {255, 255, 255}, {255, 128, 128}},
      // Y = 76245000 / 1e6, U = -43095000 / 1e6 + 128, V = 127500000 / 1e6 + 128.
      {rgbchannel::rgb2yuv, {255, 0, 0}, {76, 85, 255}},
      // d = -43, e = 127: R = 76e6 + 178014249 + 39990 -> 254; G = 79510 < 1e6 -> 0; B < 0 -> 0.
      {rgbchannel::yuv2rgb, {76, 85, 255}, {254, 0, 0}},
      // d = 127, e = -128: R < 0 -> 0; G = 100e6 + 91413760 - 43649900 -> 147; B = 324937600 -> 255.
      {rgbchannel::yuv2rgb, {100, 255, 0}, {0, 147, 255}},
  };
  for (const auto& row : rows) {
    Bytes out(3);
    row.convert(row.in.data(), out.data());
    EXPECT_EQ(out, row.out) << int(row.in[0]) << "," << int(row.in[1]) << "," << int(row.in[2]);
  }
}

TEST(RgbChannelTest, PlaneConversionsMatchThePixelConversions) {
  // Small images exercise the vector bodies and tails.
  unsigned seed = 1;
  for (auto [w, h] : std::vector<std::pair<int, int>>{{2, 2}, {2, 6}, {6, 2}, {18, 4}, {34, 6}, {130, 10}}) {
    for (bool bgr : {false, true}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " bgr=" << bgr);
      expect_planes_match_pixels(random_bytes(w * h * 3 / 2, seed), random_bytes(3 * w * h, seed + 1), w, h,
                                 bgr);
      seed += 2;
    }
  }
  // Every input: 512 x 128 images, one per value k of the outer loop. NV12: U = k; block b has
  // V = b / 64 and Y = b % 64 * 4 + p on its 4 pixels p, so every (Y, V) occurs. Planar: R = k, and
  // pixel i has G, B = the high and low byte of i + shift; each of the 4 shifts puts a quarter of the
  // colours on bottom-right pixels (odd row, odd column), so every colour's pair is checked once.
  const int width = 512, height = 128, n = width * height;
  Bytes nv12(n * 3 / 2), planar(3 * n);
  for (int k = 0; k < 256; k += KAVO_EXHAUSTIVE_STEP) {
    for (int b = 0; b < 16384; ++b) {
      const int row = b / 256 * 2, col = b % 256 * 2;
      nv12[n + row / 2 * width + col] = static_cast<unsigned char>(k);
      nv12[n + row / 2 * width + col + 1] = static_cast<unsigned char>(b / 64);
      for (int p = 0; p < 4; ++p) nv12[(row + p / 2) * width + col + p % 2] = b % 64 * 4 + p;
    }
    for (int shift : {0, 1, 512, 513}) {
      const bool bgr = shift % 2 == 1;
      for (int i = 0; i < n; ++i) {
        planar[(bgr ? 2 : 0) * n + i] = static_cast<unsigned char>(k);
        planar[n + i] = static_cast<unsigned char>((i + shift) >> 8);
        planar[(bgr ? 0 : 2) * n + i] = static_cast<unsigned char>(i + shift);
      }
      SCOPED_TRACE(testing::Message() << "k = " << k << ", shift = " << shift);
      expect_planes_match_pixels(nv12, planar, width, height, bgr);
    }
  }
}

// Interleaving and splitting against plain loops, over sizes around the vector widths.
TEST(RgbChannelTest, ReordersPlanesLikeAPlainLoop) {
  for (size_t n : {0, 1, 5, 16, 17, 31, 32, 33, 97}) {
    const Bytes planar = random_bytes(3 * n, static_cast<unsigned>(n));
    Bytes interleaved(3 * n), swapped(3 * n), out = {9}, r(7), g, b(1);  // every output is resized
    for (size_t i = 0; i < 3 * n; ++i) {
      interleaved[i] = planar[i % 3 * n + i / 3], swapped[i] = planar[(2 - i % 3) * n + i / 3];
    }
    rgbchannel::convert_rrggbb2rgbrgb(planar, out, true);
    EXPECT_EQ(out, swapped);
    rgbchannel::convert_rgbrgb2rrggbb(swapped, out, true);
    EXPECT_EQ(out, planar);
    rgbchannel::convert_rgbrgb2rrggbb(interleaved, r, g, b);  // one plane each, and back
    rgbchannel::convert_rrggbb2rgbrgb(r, g, b, out);
    EXPECT_TRUE(out == interleaved && r == Bytes(planar.begin(), planar.begin() + n)) << n;
  }
}

TEST(RgbChannelTest, RotatesEveryPlane) {
  // a b c / d e f: anticlockwise c f / b e / a d, clockwise d a / e b / f c; a second plane alike.
  const std::string in = "abcdefABCDEF", acw = "cfbeadCFBEAD", cw = "daebfcDAEBFC";
  EXPECT_EQ(*rgbchannel::rotate_90_anticlockwise(Bytes(in.begin(), in.end()), 3, 2),
            Bytes(acw.begin(), acw.end()));
  EXPECT_EQ(*rgbchannel::rotate_90_clockwise(Bytes(in.begin(), in.end()), 3, 2), Bytes(cw.begin(), cw.end()));
}

TEST(RgbChannelTest, RoiResizeOfPlanesIsTheArrayResizeOfEachPlane) {
  const std::vector<float> roi = {0.1f, -0.2f, 0.9f, 1.1f};
  const Bytes planar = random_bytes(3 * 7 * 5, 3);
  Bytes expected(3 * 4 * 6), out(100), interleaved, expectedInterleaved;  // outputs are resized to fit
  roiresize::roi_resize_4corners<unsigned char>(planar.data(), {3, 5, 7}, expected.data(), {3, 4, 6}, roi, 0);
  rgbchannel::roi_resize_rrggbb(planar, 7, 5, out, 6, 4, roi);
  EXPECT_EQ(out, expected);
  rgbchannel::convert_rrggbb2rgbrgb(planar, interleaved, false);  // and the same for interleaved RGB
  rgbchannel::convert_rrggbb2rgbrgb(expected, expectedInterleaved, false);
  rgbchannel::roi_resize_rgbrgb(interleaved, 7, 5, out, 6, 4, roi);
  EXPECT_EQ(out, expectedInterleaved);
}

TEST(RgbChannelDeathTest, SizesAreChecked) {
  Bytes buf(36);
  EXPECT_DEATH(rgbchannel::yuv420sp2rgb(buf.data(), buf.data(), 4, 3, false),
               "Check failed: height % 2 == 0 and width % 2 == 0 ");
  EXPECT_DEATH(rgbchannel::convert_rgbrgb2xyzxyz(buf = Bytes(5), [](unsigned char*) {}),
               "Check failed: planeSz \\* 3 == rgbrgb.size\\(\\) \\(3 vs\\. 5\\)");
}

}  // namespace
