#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "util/RgbChannel.h"
#include "util/RoiResize.h"

// Sanitizer builds walk every KAVO_EXHAUSTIVE_STEP-th value of the outermost loop of the whole-image
// sweeps (and every inner value), so they stay fast; other builds walk them all. The per-pixel
// sweeps are always complete.
#ifndef KAVO_EXHAUSTIVE_STEP
#define KAVO_EXHAUSTIVE_STEP 1
#endif

namespace {

using Bytes = std::vector<unsigned char>;
using rgbchannel::rgb2yuv;
using rgbchannel::yuv2rgb;

// The conversion formulas as written, in 64-bit arithmetic.
void formula_rgb2yuv(int r, int g, int b, int* y, int* u, int* v) {
  *y = static_cast<int>((299000LL * r + 587000LL * g + 114000LL * b) / 1000000LL);
  *u = static_cast<int>((-169000LL * r - 331000LL * g + 500000LL * b) / 1000000LL + 128);
  *v = static_cast<int>((500000LL * r - 419000LL * g - 81000LL * b) / 1000000LL + 128);
}

int formula_channel(long long sum) {
  if (sum < 1000000) return 0;
  if (sum >= 256000000) return 255;
  return static_cast<int>(sum / 1000000);
}

void formula_yuv2rgb(int y, int u, int v, int* r, int* g, int* b) {
  const long long d = u - 128;
  const long long e = v - 128;
  const long long yy = 1000000LL * y;
  *r = formula_channel(yy + 1401687 * e - 930 * d);
  *g = formula_channel(yy - 714170 * e - 343700 * d);
  *b = formula_channel(yy + 990 * e + 1772160 * d);
}

Bytes random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(0, 255);
  Bytes out(n);
  for (auto& v : out) v = static_cast<unsigned char>(dist(gen));
  return out;
}

// NV12 -> planar RGB by definition: every pixel through yuv2rgb with its block's pair.
Bytes reference_yuv420sp2rgb(const Bytes& nv12, int width, int height, bool bgr) {
  const size_t planeSz = static_cast<size_t>(width) * height;
  Bytes out(3 * planeSz);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const size_t uv = planeSz + static_cast<size_t>(y / 2) * width + (x / 2) * 2;
      const unsigned char yuv[3] = {nv12[static_cast<size_t>(y) * width + x], nv12[uv], nv12[uv + 1]};
      unsigned char rgb[3];
      yuv2rgb(yuv, rgb);
      const size_t i = static_cast<size_t>(y) * width + x;
      out[i] = rgb[bgr ? 2 : 0];
      out[planeSz + i] = rgb[1];
      out[2 * planeSz + i] = rgb[bgr ? 0 : 2];
    }
  }
  return out;
}

// Planar RGB -> NV12 by definition: pixels in row order, each writing its Y and its block's pair.
Bytes reference_rgb2yuv420sp(const Bytes& planar, int width, int height, bool bgr) {
  const size_t planeSz = static_cast<size_t>(width) * height;
  Bytes out(planeSz * 3 / 2, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      const unsigned char first = planar[i];
      const unsigned char third = planar[2 * planeSz + i];
      const unsigned char rgb[3] = {bgr ? third : first, planar[planeSz + i], bgr ? first : third};
      unsigned char yuv[3];
      rgb2yuv(rgb, yuv);
      out[i] = yuv[0];
      const size_t uv = planeSz + static_cast<size_t>(y / 2) * width + (x / 2) * 2;
      out[uv] = yuv[1];
      out[uv + 1] = yuv[2];
    }
  }
  return out;
}

TEST(RgbChannelTest, Rgb2YuvMatchesTheFormulaForEveryInput) {
  long long mismatches = 0;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                                      static_cast<unsigned char>(b)};
        unsigned char yuv[3];
        rgb2yuv(rgb, yuv);
        int y, u, v;
        formula_rgb2yuv(r, g, b, &y, &u, &v);
        if (yuv[0] != y || yuv[1] != u || yuv[2] != v) {
          if (++mismatches < 5) ADD_FAILURE() << "rgb " << r << "," << g << "," << b;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(RgbChannelTest, Yuv2RgbMatchesTheFormulaForEveryInput) {
  long long mismatches = 0;
  for (int y = 0; y < 256; ++y) {
    for (int u = 0; u < 256; ++u) {
      for (int v = 0; v < 256; ++v) {
        const unsigned char yuv[3] = {static_cast<unsigned char>(y), static_cast<unsigned char>(u),
                                      static_cast<unsigned char>(v)};
        unsigned char rgb[3];
        yuv2rgb(yuv, rgb);
        int r, g, b;
        formula_yuv2rgb(y, u, v, &r, &g, &b);
        if (rgb[0] != r || rgb[1] != g || rgb[2] != b) {
          if (++mismatches < 5) ADD_FAILURE() << "yuv " << y << "," << u << "," << v;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(RgbChannelTest, ConvertsBlackAndWhiteBothWays) {
  const unsigned char white[3] = {255, 255, 255};
  const unsigned char black[3] = {0, 0, 0};
  unsigned char yuv[3];
  rgb2yuv(white, yuv);
  EXPECT_EQ(Bytes(yuv, yuv + 3), (Bytes{255, 128, 128}));
  rgb2yuv(black, yuv);
  EXPECT_EQ(Bytes(yuv, yuv + 3), (Bytes{0, 128, 128}));

  const unsigned char yuvBlack[3] = {0, 128, 128};
  const unsigned char yuvWhite[3] = {255, 128, 128};
  unsigned char rgb[3];
  yuv2rgb(yuvBlack, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{0, 0, 0}));
  yuv2rgb(yuvWhite, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{255, 255, 255}));
}

TEST(RgbChannelTest, ConvertsSaturatedColoursWithTruncation) {
  // Hand-computed: red (255, 0, 0): Y = 76245000 / 1e6 = 76, U = -43095000 / 1e6 + 128 = -43 + 128,
  // V = 127500000 / 1e6 + 128 = 127 + 128.
  const unsigned char red[3] = {255, 0, 0};
  unsigned char yuv[3];
  rgb2yuv(red, yuv);
  EXPECT_EQ(Bytes(yuv, yuv + 3), (Bytes{76, 85, 255}));
  // (Y, U, V) = (76, 85, 255): d = -43, e = 127. R = 76e6 + 178014249 + 39990 -> 254;
  // G = 76e6 - 90699590 + 14779100 = 79510 -> below 1e6 -> 0; B = 76e6 + 125730 - 76202880 -> 0.
  unsigned char rgb[3];
  yuv2rgb(yuv, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{254, 0, 0}));
}

// Every (Y, U, V) through the plane conversion: one strip per U value holds every V in 64 blocks
// whose 4 pixels carry all 256 Y values.
TEST(RgbChannelTest, Yuv420sp2RgbMatchesThePerPixelConversionForEveryInput) {
  const int width = 512;   // 256 blocks per block row
  const int height = 128;  // 64 block rows: 16384 blocks = 256 V values x 64 blocks
  const size_t planeSz = static_cast<size_t>(width) * height;
  Bytes nv12(planeSz * 3 / 2);
  Bytes rgb(3 * planeSz);
  long long mismatches = 0;
  for (int u = 0; u < 256; u += KAVO_EXHAUSTIVE_STEP) {
    for (int block = 0; block < 16384; ++block) {
      const int bx = block % 256;
      const int by = block / 256;
      const int v = block / 64;
      const int yBase = (block % 64) * 4;
      nv12[planeSz + static_cast<size_t>(by) * width + 2 * bx] = static_cast<unsigned char>(u);
      nv12[planeSz + static_cast<size_t>(by) * width + 2 * bx + 1] = static_cast<unsigned char>(v);
      for (int k = 0; k < 4; ++k) {
        nv12[static_cast<size_t>(2 * by + k / 2) * width + 2 * bx + k % 2] =
            static_cast<unsigned char>(yBase + k);
      }
    }
    const bool bgr = (u % 2) == 1;
    rgbchannel::yuv420sp2rgb(nv12.data(), rgb.data(), width, height, bgr);
    for (size_t i = 0; i < planeSz; ++i) {
      const size_t uv = planeSz + (i / width / 2) * width + (i % width) / 2 * 2;
      const unsigned char yuv[3] = {nv12[i], nv12[uv], nv12[uv + 1]};
      unsigned char expected[3];
      yuv2rgb(yuv, expected);
      if (rgb[i] != expected[bgr ? 2 : 0] || rgb[planeSz + i] != expected[1] ||
          rgb[2 * planeSz + i] != expected[bgr ? 0 : 2]) {
        if (++mismatches < 5) ADD_FAILURE() << "yuv " << int(yuv[0]) << "," << u << "," << int(yuv[2]);
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Every (R, G, B) through the plane conversion: one 256 x 256 image per R value (G by row, B by
// column), shifted by one row and/or column in four passes so that every colour also lands on a
// bottom-right pixel, whose U,V pair the block keeps.
TEST(RgbChannelTest, Rgb2Yuv420spMatchesThePerPixelConversionForEveryInput) {
  const int side = 256;
  const size_t planeSz = static_cast<size_t>(side) * side;
  Bytes planar(3 * planeSz);
  Bytes nv12(planeSz * 3 / 2);
  long long mismatches = 0;
  for (int r = 0; r < 256; r += KAVO_EXHAUSTIVE_STEP) {
    for (int shift = 0; shift < 4; ++shift) {
      const bool bgr = (shift % 2) == 1;
      for (int row = 0; row < side; ++row) {
        for (int col = 0; col < side; ++col) {
          const size_t i = static_cast<size_t>(row) * side + col;
          planar[(bgr ? 2 : 0) * planeSz + i] = static_cast<unsigned char>(r);
          planar[planeSz + i] = static_cast<unsigned char>((row + shift / 2) & 255);
          planar[(bgr ? 0 : 2) * planeSz + i] = static_cast<unsigned char>((col + shift % 2) & 255);
        }
      }
      rgbchannel::rgb2yuv420sp(planar.data(), nv12.data(), side, side, bgr);
      for (int row = 0; row < side; ++row) {
        for (int col = 0; col < side; ++col) {
          const size_t i = static_cast<size_t>(row) * side + col;
          const unsigned char rgb[3] = {static_cast<unsigned char>(r), planar[planeSz + i],
                                        planar[(bgr ? 0 : 2) * planeSz + i]};
          unsigned char yuv[3];
          rgb2yuv(rgb, yuv);
          bool ok = nv12[i] == yuv[0];
          if (row % 2 == 1 && col % 2 == 1) {
            const size_t uv = planeSz + static_cast<size_t>(row / 2) * side + col - 1;
            ok = ok && nv12[uv] == yuv[1] && nv12[uv + 1] == yuv[2];
          }
          if (!ok && ++mismatches < 5)
            ADD_FAILURE() << "rgb " << r << "," << int(rgb[1]) << "," << int(rgb[2]);
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(RgbChannelTest, PlaneConversionsMatchTheReferenceOnSmallImages) {
  const int sizes[][2] = {{2, 2}, {2, 6}, {6, 2}, {18, 4}, {34, 6}, {66, 2}, {130, 10}};
  unsigned seed = 1;
  for (const auto& size : sizes) {
    const int width = size[0];
    const int height = size[1];
    for (bool bgr : {false, true}) {
      SCOPED_TRACE(testing::Message() << width << "x" << height << " bgr=" << bgr);
      const size_t planeSz = static_cast<size_t>(width) * height;
      const Bytes nv12 = random_bytes(planeSz * 3 / 2, seed++);
      Bytes rgb(3 * planeSz + 1, 0xA5);  // one guard byte after the image
      rgbchannel::yuv420sp2rgb(nv12.data(), rgb.data(), width, height, bgr);
      EXPECT_EQ(rgb.back(), 0xA5);
      rgb.pop_back();
      EXPECT_EQ(rgb, reference_yuv420sp2rgb(nv12, width, height, bgr));

      const Bytes planar = random_bytes(3 * planeSz, seed++);
      Bytes out(planeSz * 3 / 2 + 1, 0xA5);
      rgbchannel::rgb2yuv420sp(planar.data(), out.data(), width, height, bgr);
      EXPECT_EQ(out.back(), 0xA5);
      out.pop_back();
      EXPECT_EQ(out, reference_rgb2yuv420sp(planar, width, height, bgr));
    }
  }
}

TEST(RgbChannelTest, Rgb2Yuv420spKeepsTheBottomRightPairOfEachBlock) {
  // 2 x 2: white, black / black, pure blue. The pair is blue's: U = 127 + 128, V = -20 + 128
  // (-20.655 truncated toward zero); the Y values are the pixels' own (blue: 29.07 -> 29).
  const Bytes planar = {255, 0, 0, 0, /*G*/ 255, 0, 0, 0, /*B*/ 255, 0, 0, 255};
  Bytes nv12(6);
  rgbchannel::rgb2yuv420sp(planar.data(), nv12.data(), 2, 2, false);
  EXPECT_EQ(nv12, (Bytes{255, 0, 0, 29, 255, 108}));
}

TEST(RgbChannelTest, InterleavesAndSplitsPlanes) {
  const Bytes rr = {1, 2, 3, 4, 5};
  const Bytes gg = {11, 12, 13, 14, 15};
  const Bytes bb = {21, 22, 23, 24, 25};
  Bytes rgbrgb = {9};  // resized to fit
  rgbchannel::convert_rrggbb2rgbrgb(rr, gg, bb, rgbrgb);
  EXPECT_EQ(rgbrgb, (Bytes{1, 11, 21, 2, 12, 22, 3, 13, 23, 4, 14, 24, 5, 15, 25}));

  Bytes r2(7), g2, b2(1);
  rgbchannel::convert_rgbrgb2rrggbb(rgbrgb, r2, g2, b2);
  EXPECT_EQ(r2, rr);
  EXPECT_EQ(g2, gg);
  EXPECT_EQ(b2, bb);

  Bytes planar;
  rgbchannel::convert_rgbrgb2rrggbb(rgbrgb, planar, false);
  EXPECT_EQ(planar, (Bytes{1, 2, 3, 4, 5, 11, 12, 13, 14, 15, 21, 22, 23, 24, 25}));
  rgbchannel::convert_rgbrgb2rrggbb(rgbrgb, planar, true);
  EXPECT_EQ(planar, (Bytes{21, 22, 23, 24, 25, 11, 12, 13, 14, 15, 1, 2, 3, 4, 5}));

  Bytes back(100);
  rgbchannel::convert_rrggbb2rgbrgb(planar, back, true);
  EXPECT_EQ(back, rgbrgb);
  rgbchannel::convert_rrggbb2rgbrgb(planar, back, false);
  EXPECT_EQ(back, (Bytes{21, 11, 1, 22, 12, 2, 23, 13, 3, 24, 14, 4, 25, 15, 5}));

  Bytes empty = {1, 2};
  rgbchannel::convert_rrggbb2rgbrgb(Bytes{}, empty, false);
  EXPECT_TRUE(empty.empty());
}

TEST(RgbChannelTest, AppliesAFunctionToEveryPixelInPlace) {
  Bytes rgbrgb = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  int calls = 0;
  rgbchannel::convert_rgbrgb2xyzxyz(rgbrgb, [&calls](unsigned char* p) {
    ++calls;
    std::swap(p[0], p[2]);
  });
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(rgbrgb, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7}));
}

TEST(RgbChannelTest, RotatesAnticlockwiseSoTheLastColumnBecomesTheFirstRow) {
  // 3 wide, 2 high: a b c / d e f -> 2 wide, 3 high: c f / b e / a d.
  const Bytes in = {'a', 'b', 'c', 'd', 'e', 'f'};
  EXPECT_EQ(*rgbchannel::rotate_90_anticlockwise(in, 3, 2), (Bytes{'c', 'f', 'b', 'e', 'a', 'd'}));
  // Clockwise: d a / e b / f c.
  EXPECT_EQ(*rgbchannel::rotate_90_clockwise(in, 3, 2), (Bytes{'d', 'a', 'e', 'b', 'f', 'c'}));
}

TEST(RgbChannelTest, RotatesEveryPlaneAndUndoesTheOtherDirection) {
  const int width = 5;
  const int height = 3;
  const Bytes in = random_bytes(3 * width * height, 7);
  const auto cw = rgbchannel::rotate_90_clockwise(in, width, height);
  ASSERT_EQ(cw->size(), in.size());
  for (int p = 0; p < 3; ++p) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        EXPECT_EQ((*cw)[p * 15 + x * height + y], in[p * 15 + (height - 1 - y) * width + x]);
      }
    }
  }
  EXPECT_EQ(*rgbchannel::rotate_90_anticlockwise(*cw, height, width), in);
}

TEST(RgbChannelTest, RoiResizeOfPlanesMatchesTheArrayResize) {
  const int width = 7;
  const int height = 5;
  const std::vector<float> roi = {0.1f, -0.2f, 0.9f, 1.1f};
  const Bytes planar = random_bytes(3 * width * height, 3);
  std::vector<unsigned char> expected(3 * 4 * 6, 0xEE);
  roiresize::roi_resize_4corners<unsigned char>(planar.data(), {3, height, width}, expected.data(), {3, 4, 6},
                                                roi, 0);
  Bytes out = {1};
  rgbchannel::roi_resize_rrggbb(planar, width, height, out, 6, 4, roi);
  EXPECT_EQ(out, expected);
  rgbchannel::roi_resize_planes(3, planar, width, height, out, 6, 4, roi);
  EXPECT_EQ(out, expected);

  Bytes interleaved, expectedInterleaved;
  rgbchannel::convert_rrggbb2rgbrgb(planar, interleaved, false);
  rgbchannel::convert_rrggbb2rgbrgb(expected, expectedInterleaved, false);
  rgbchannel::roi_resize_rgbrgb(interleaved, width, height, out, 6, 4, roi);
  EXPECT_EQ(out, expectedInterleaved);
}

using RgbChannelDeathTest = testing::Test;

TEST(RgbChannelDeathTest, OddSizesAreFatal) {
  Bytes buf(3 * 4 * 3);
  EXPECT_DEATH(rgbchannel::yuv420sp2rgb(buf.data(), buf.data(), 4, 3, false),
               "Check failed: height % 2 == 0 and width % 2 == 0 ");
  EXPECT_DEATH(rgbchannel::rgb2yuv420sp(buf.data(), buf.data(), 3, 4, true),
               "Check failed: height % 2 == 0 and width % 2 == 0 ");
}

TEST(RgbChannelDeathTest, PlaneSizesMustFit) {
  Bytes out;
  EXPECT_DEATH(rgbchannel::convert_rrggbb2rgbrgb(Bytes(3), Bytes(2), Bytes(3), out),
               "Check failed: gg.size\\(\\) == planeSz ");
  EXPECT_DEATH(rgbchannel::convert_rrggbb2rgbrgb(Bytes(3), Bytes(3), Bytes(4), out),
               "Check failed: bb.size\\(\\) == planeSz ");
  EXPECT_DEATH(rgbchannel::convert_rrggbb2rgbrgb(Bytes(4), out, false),
               "Check failed: planeSz \\* 3 == rrggbb.size\\(\\) ");
  EXPECT_DEATH(rgbchannel::convert_rgbrgb2rrggbb(Bytes(5), out, false),
               "Check failed: planeSz \\* 3 == rgbrgb.size\\(\\) ");
  Bytes r, g, b;
  EXPECT_DEATH(rgbchannel::convert_rgbrgb2rrggbb(Bytes(7), r, g, b),
               "Check failed: planeSz \\* 3 == rgbrgb.size\\(\\) ");
  Bytes odd(4);
  EXPECT_DEATH(rgbchannel::convert_rgbrgb2xyzxyz(odd, [](unsigned char*) {}),
               "Check failed: planeSz \\* 3 == rgbrgb.size\\(\\) ");
}

}  // namespace
