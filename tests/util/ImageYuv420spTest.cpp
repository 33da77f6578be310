// ImageYuv420sp: layout, CPU and platform paths against each other and hand-computed values,
// region statistics, integral sums, JPEG in 4:2:0, 4:2:2 and 4:4:4 (odd sizes included), and
// pick_nearest_pixel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "platform/Mmz.h"
#include "testing/LogCapture.h"
#include "util/ImageYuv420sp.h"
#include "util/PickNearestPixel.h"
#include "util/RgbChannel.h"

namespace {

using imagetest::chroma;
using imagetest::fill_yuv;
using imagetest::host_yuv;
using imagetest::luma;
using imagetest::mmz_yuv;
using imagetest::Rgb;

class ImageYuv420spTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};

unsigned char ypat(int x, int y) { return static_cast<unsigned char>(x * 7 + y * 13); }
Rgb uvpat(int i, int j) {
  return {static_cast<unsigned char>(100 + i * 3 + j), static_cast<unsigned char>(50 + i + 5 * j)};
}

// Every Y and chroma value of a equals b's.
void expect_same(const ImageYuv420sp& a, const ImageYuv420sp& b) {
  ASSERT_EQ(a.width(), b.width());
  ASSERT_EQ(a.height(), b.height());
  for (unsigned int y = 0; y < a.height(); ++y)
    for (unsigned int x = 0; x < a.width(); ++x) ASSERT_EQ(luma(a, x, y), luma(b, x, y)) << x << "," << y;
  for (unsigned int j = 0; j < a.height() / 2; ++j)
    for (unsigned int i = 0; i < a.width() / 2; ++i)
      ASSERT_EQ(chroma(a, i, j), chroma(b, i, j)) << i << "," << j;
}

TEST_F(ImageYuv420spTest, RawPlaneRowsAreThreeHalvesOfTheHeight) {
  std::vector<unsigned char> bytes(1280 * 1080);
  auto raw = std::make_shared<BlobPlane<unsigned char>>(bytes.data(), 1, 1080, 1280, 1280);
  ImageYuv420sp img(raw, nullptr);
  EXPECT_EQ(img.width(), 1280u);
  EXPECT_EQ(img.height(), 720u);
  EXPECT_EQ(img.get_yuv().uv->width, 640);
  EXPECT_EQ(img.get_yuv().uv->height, 360);
  EXPECT_EQ(img.get_yuv().uv->stride, 640);
  EXPECT_EQ(img.uv_data(), bytes.data() + 1280 * 720);
}

TEST_F(ImageYuv420spTest, DrawPointRawWritesLumaAndTheBlocksChromaPair) {
  auto img = host_yuv(8, 8);
  img->reset(0, 0, 0);
  img->draw_point_raw(3, 5, 255, 0, 0);  // red: Y 76, U 85, V 255
  EXPECT_EQ(luma(*img, 3, 5), 76);
  EXPECT_EQ(chroma(*img, 1, 2), (Rgb{85, 255}));
  EXPECT_EQ(luma(*img, 2, 5), 0);
  EXPECT_EQ(chroma(*img, 1, 1), (Rgb{128, 128}));
  EXPECT_EQ(chroma(*img, 0, 2), (Rgb{128, 128}));
}

TEST_F(ImageYuv420spTest, ResetToBlackGivesNeutralChroma) {
  auto img = mmz_yuv(6, 4);
  img->reset(0, 0, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(luma(*img, x, y), 0);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i) EXPECT_EQ(chroma(*img, i, j), (Rgb{128, 128}));
  img->reset(255, 255, 255);
  EXPECT_EQ(luma(*img, 5, 3), 255);
  EXPECT_EQ(chroma(*img, 2, 1), (Rgb{128, 128}));
}

TEST_F(ImageYuv420spTest, DrawBoxInRedOnNv12) {
  auto img = host_yuv(16, 16);
  img->reset(0, 0, 0);
  img->draw_box({0.25f, 0.25f}, {0.75f, 0.75f}, 255, 0, 0, 1.f / 16);
  EXPECT_EQ(luma(*img, 4, 8), 76);  // left edge
  EXPECT_EQ(luma(*img, 8, 8), 0);   // inside
  EXPECT_EQ(chroma(*img, 2, 4), (Rgb{85, 255}));
  EXPECT_EQ(chroma(*img, 4, 4), (Rgb{128, 128}));
}

TEST_F(ImageYuv420spTest, CopyFromEqualStridesIsOneDmaCopy) {
  auto src = mmz_yuv(40, 6);
  fill_yuv(*src, ypat, uvpat);
  src->refresh();
  auto dma = mmz_yuv(0, 0);
  auto cpu = mmz_yuv(0, 0);
  MI_TEST_ResetCallLog();
  dma->copy_from(src.get(), false, false);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MemcpyPa"), 1u);
  cpu->copy_from(src.get(), false, true);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MemcpyPa"), 1u);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), 0u);
  expect_same(*dma, *src);
  expect_same(*cpu, *src);
}

TEST_F(ImageYuv420spTest, CopyFromDifferentStridesIsATwoDimensionalCopy) {
  auto src = mmz_yuv(40, 6);  // stride 48 (align 16)
  fill_yuv(*src, ypat, uvpat);
  src->refresh();
  auto dst = std::dynamic_pointer_cast<ImageYuv420sp>(src->produce());  // align 32
  dst->reshape(40, 6);
  ASSERT_EQ(dst->stride(), 64u);
  MI_TEST_ResetCallLog();
  dst->copy_from(src.get(), false, false);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MemcpyPa"), 0u);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), 2u);
  expect_same(*dst, *src);
}

TEST_F(ImageYuv420spTest, CopyFromSplitPlanesHostAndPlatform) {
  auto src = mmz_yuv(8, 4);
  fill_yuv(*src, ypat, uvpat);
  src->refresh();
  ImageSplitPlaneDesc desc;
  desc.width = 8;
  desc.height = 4;
  desc.virAddr[0] = src->data();
  desc.virAddr[1] = src->uv_data();
  desc.stride[0] = desc.stride[1] = static_cast<int>(src->stride());
  auto host = host_yuv(0, 0);
  host->copy_from_split_planes(desc);
  expect_same(*host, *src);
  desc.phyAddr[0] = src->phy();
  desc.phyAddr[1] = src->uv_phy();
  auto platform = mmz_yuv(0, 0);
  MI_TEST_ResetCallLog();
  platform->copy_from_split_planes(desc);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), 2u);
  expect_same(*platform, *src);
}

TEST_F(ImageYuv420spTest, PadCropPlatformAndCpuMatchTheHandLayout) {
  auto src = mmz_yuv(8, 6);
  fill_yuv(*src, ypat, uvpat);
  src->refresh();
  struct Case {
    roiresize::PadSize pad;
    unsigned char r, g, b;
  };
  // Black fills by DMA; red (U != V) makes the engine path fill with the CPU.
  const Case cases[] = {{{0, 0, 0, 0}, 0, 0, 0},
                        {{2, 4, 2, 0}, 0, 0, 0},
                        {{-2, 2, -2, 2}, 255, 0, 0},
                        {{-4, -2, 0, -2}, 255, 0, 0}};
  for (const Case& c : cases) {
    const roiresize::PadSize& pad = c.pad;
    SCOPED_TRACE(testing::Message() << pad.left << "/" << pad.right << "/" << pad.top << "/" << pad.bottom);
    const unsigned char rgb[3] = {c.r, c.g, c.b};
    unsigned char yuv[3];
    rgbchannel::rgb2yuv(rgb, yuv);
    for (bool cpu : {false, true}) {
      auto dst = mmz_yuv(0, 0);
      dst->pad_crop_from(src.get(), pad, c.r, c.g, c.b, false, cpu);
      ASSERT_EQ(dst->width(), 8u + pad.xPad());
      ASSERT_EQ(dst->height(), 6u + pad.yPad());
      for (unsigned int y = 0; y < dst->height(); ++y)
        for (unsigned int x = 0; x < dst->width(); ++x) {
          const int sx = static_cast<int>(x) - pad.left, sy = static_cast<int>(y) - pad.top;
          const bool inside = sx >= 0 && sx < 8 && sy >= 0 && sy < 6;
          ASSERT_EQ(luma(*dst, x, y), inside ? luma(*src, sx, sy) : yuv[0])
              << x << "," << y << " cpu " << cpu;
        }
      for (unsigned int j = 0; j < dst->height() / 2; ++j)
        for (unsigned int i = 0; i < dst->width() / 2; ++i) {
          const int si = static_cast<int>(i) - pad.left / 2, sj = static_cast<int>(j) - pad.top / 2;
          const bool inside = si >= 0 && si < 4 && sj >= 0 && sj < 3;
          ASSERT_EQ(chroma(*dst, i, j), inside ? chroma(*src, si, sj) : (Rgb{yuv[1], yuv[2]}))
              << i << "," << j << " cpu " << cpu;
        }
    }
  }
}

TEST_F(ImageYuv420spTest, CpuResizeAveragesLumaAndEachChromaByte) {
  auto src = host_yuv(4, 4);
  fill_yuv(
      *src, [](int x, int y) { return static_cast<unsigned char>(10 * x + 40 * y); },
      [](int i, int j) {
        return Rgb{static_cast<unsigned char>(20 + 4 * i + 8 * j),
                   static_cast<unsigned char>(200 - i - 2 * j)};
      });
  auto dst = host_yuv(2, 2);
  dst->resize_from(src.get(), false, false);
  EXPECT_EQ(luma(*dst, 0, 0), 25);
  EXPECT_EQ(luma(*dst, 1, 0), 45);
  EXPECT_EQ(luma(*dst, 0, 1), 105);
  EXPECT_EQ(luma(*dst, 1, 1), 125);
  // Chroma 2x2 -> 1x1 samples at 0.5: the mean of the four U (20, 24, 28, 32) and V (200, 199, 198, 197).
  EXPECT_EQ(chroma(*dst, 0, 0), (Rgb{26, 198}));
}

TEST_F(ImageYuv420spTest, PlatformRoiResizeHalfOutsidePadsTheLeftHalf) {
  auto src = mmz_yuv(64, 32);
  src->reset(255, 255, 255);
  auto dst = mmz_yuv(32, 16);
  auto scratch = std::make_shared<MmzBlob>(std::vector<int>{1, 96, 64});
  dst->roi_resize_from(src.get(), {-0.5f, 0.f, 0.5f, 1.f}, scratch, 255, 0, 0, false, false);
  EXPECT_EQ(luma(*dst, 0, 0), 76);
  EXPECT_EQ(luma(*dst, 15, 15), 76);
  EXPECT_EQ(luma(*dst, 16, 0), 255);
  EXPECT_EQ(luma(*dst, 31, 15), 255);
  EXPECT_EQ(chroma(*dst, 0, 0), (Rgb{85, 255}));
  EXPECT_EQ(chroma(*dst, 15, 7), (Rgb{128, 128}));

  // The same ROI on the CPU: columns whose sample falls left of the image keep the pad colour.
  auto cpu = mmz_yuv(32, 16);
  std::shared_ptr<MmzBlob> none;
  cpu->roi_resize_from(src.get(), {-0.5f, 0.f, 0.5f, 1.f}, none, 255, 0, 0, false, true);
  EXPECT_EQ(luma(*cpu, 0, 0), 76);
  EXPECT_EQ(luma(*cpu, 20, 5), 255);
  EXPECT_EQ(chroma(*cpu, 0, 0), (Rgb{85, 255}));
  EXPECT_EQ(chroma(*cpu, 12, 3), (Rgb{128, 128}));
}

TEST_F(ImageYuv420spTest, PlatformResizeKeepsAUniformColour) {
  auto src = mmz_yuv(64, 32);
  src->reset(0, 0, 255);
  auto dst = mmz_yuv(16, 8);
  dst->resize_from(src.get(), false, false);
  EXPECT_EQ(luma(*dst, 15, 7), luma(*src, 0, 0));
  EXPECT_EQ(chroma(*dst, 7, 3), chroma(*src, 0, 0));
}

TEST_F(ImageYuv420spTest, CpuDownsamplePicksEvenPixelsAndWholePairs) {
  auto src = host_yuv(8, 4);
  fill_yuv(*src, ypat, uvpat);
  auto dst = host_yuv(4, 2);
  dst->downsample_2_from(src.get(), true);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(luma(*dst, x, y), luma(*src, 2 * x, 2 * y));
  EXPECT_EQ(chroma(*dst, 0, 0), chroma(*src, 0, 0));
  EXPECT_EQ(chroma(*dst, 1, 0), chroma(*src, 2, 0));
}

TEST_F(ImageYuv420spTest, PlatformDownsampleResizesAndSaysSo) {
  auto src = mmz_yuv(8, 8);
  src->reset(40, 40, 40);
  auto dst = mmz_yuv(4, 4);
  LogCapture log(google::GLOG_ERROR);
  dst->downsample_2_from(src.get(), false);
  EXPECT_EQ(log.count("Using Resize Instead for Downsample (1/2x)."), 1);
  EXPECT_EQ(luma(*dst, 3, 3), luma(*src, 0, 0));
}

TEST_F(ImageYuv420spTest, RoiCopyPlacesPeerInsideTheWindow) {
  auto src = mmz_yuv(4, 2);
  fill_yuv(*src, ypat, uvpat);
  src->refresh();
  auto dst = mmz_yuv(8, 6);
  dst->reset(0, 0, 0);
  dst->roi_copy_from(src.get(), {2, 2, 4, 2}, false);
  EXPECT_EQ(luma(*dst, 2, 2), luma(*src, 0, 0));
  EXPECT_EQ(luma(*dst, 5, 3), luma(*src, 3, 1));
  EXPECT_EQ(chroma(*dst, 1, 1), chroma(*src, 0, 0));
  EXPECT_EQ(chroma(*dst, 2, 1), chroma(*src, 1, 0));
  EXPECT_EQ(chroma(*dst, 3, 1), (Rgb{128, 128}));
}

TEST_F(ImageYuv420spTest, GrayOfRegionAveragesLuma) {
  auto img = host_yuv(4, 4);
  fill_yuv(
      *img, [](int x, int y) { return static_cast<unsigned char>(10 * x + y); }, uvpat);
  // x, y in [1, 3): 11 + 21 + 12 + 22 = 66; 66 / 2 / 2 = 16.
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.25f, 0.25f, 0.75f, 1.f}, true, false)), 16);
}

TEST_F(ImageYuv420spTest, GrayOfContextOnHostAndFromTheInclusiveIntegral) {
  // Every 2x2 block has luma 10 * blockX + blockY.
  auto block = [](int x, int y) { return static_cast<unsigned char>(10 * (x / 2) + y / 2); };
  const BoundBox<float> box({0.25f, 0.25f, 0.5f, 0.5f}, true, false);
  auto host = host_yuv(8, 8);
  fill_yuv(*host, block, uvpat);
  EXPECT_EQ(host->gray_of_context(box), (std::vector<int>{0, 10, 20, 1, 11, 21, 2, 12, 22}));

  // Platform: corners (x1, y1) = 2 * block, (x2, y2) one block on; the inclusive integral sums
  // columns x1+1..x2 and rows y1+1..y2, which straddle four blocks: (40 bx + 4 by + 22) / 4.
  auto platform = mmz_yuv(8, 8);
  fill_yuv(*platform, block, uvpat);
  platform->refresh();
  EXPECT_EQ(platform->gray_of_context(box), (std::vector<int>{5, 15, 25, 6, 16, 26, 7, 17, 27}));
}

TEST_F(ImageYuv420spTest, IntegSumAndRgbIntegMap) {
  auto img = mmz_yuv(4, 2);
  fill_yuv(
      *img, [](int x, int y) { return static_cast<unsigned char>(1 + x + 4 * y); },
      [](int, int) {
        return Rgb{128, 128};
      });
  img->refresh();
  auto sums = img->integ_sum();
  ASSERT_EQ(sums->shape(), (std::vector<int>{1, 2, static_cast<int>(img->stride())}));
  EXPECT_EQ(sums->data[3], 10u);                  // 1 + 2 + 3 + 4
  EXPECT_EQ(sums->data[img->stride() + 3], 36u);  // + 5 + 6 + 7 + 8
  EXPECT_EQ(sums->data[img->stride() + 0], 6u);

  img->reset(100, 100, 100);
  auto rgb = img->rgb_integ_map();
  ASSERT_EQ(rgb->shape(), (std::vector<int>{3, 2, static_cast<int>(img->stride())}));
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(rgb->data[(k * 2 + 1) * img->stride() + 3], 800.0, 8.0) << k;
}

TEST_F(ImageYuv420spTest, PickNearestPixelTakesIntegerScaledPositions) {
  auto large = host_yuv(8, 4);
  fill_yuv(*large, ypat, uvpat);
  auto small = host_yuv(6, 2);
  pick_nearest_pixel(small.get(), large.get());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(luma(*small, x, y), luma(*large, x * 8 / 6, y * 4 / 2)) << x << "," << y;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(chroma(*small, i, 0), chroma(*large, i * 4 / 3, 0)) << i;

  auto platform = mmz_yuv(4, 2);
  MI_TEST_ResetCallLog();
  pick_nearest_pixel(platform.get(), large.get());
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_FlushInvCache"), 1u);  // written by the CPU, then flushed
  EXPECT_EQ(luma(*platform, 3, 1), luma(*large, 6, 2));
}

// ---- JPEG ----

Rgb red_left_blue_right(int x, int w) { return x < w / 2 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; }

TEST_F(ImageYuv420spTest, OddSized420JpegDecodesToTheEvenSizeAbove) {
  auto jpeg =
      imagetest::make_jpeg(641, 481, TJSAMP_420, [](int x, int) { return red_left_blue_right(x, 640); });
  auto img = mmz_yuv(0, 0);
  LogCapture log(google::GLOG_WARNING);
  ASSERT_TRUE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(img->width(), 642u);
  EXPECT_EQ(img->height(), 482u);
  EXPECT_EQ(log.count("INPUT JPEG: 641/481, subsample: 2, colorspace: "), 1);
  EXPECT_EQ(log.count("WIDTH=642, HEIGHT=482"), 1);
  EXPECT_NEAR(luma(*img, 10, 10), 76, 4);
  EXPECT_NEAR(luma(*img, 600, 470), 29, 4);
  EXPECT_NEAR(luma(*img, 641, 100), 29, 6);  // the decoder fills the padding column and row
  EXPECT_NEAR(luma(*img, 300, 481), 76, 6);
  EXPECT_NEAR(chroma(*img, 5, 5)[1], 255, 6);      // red: V high
  EXPECT_NEAR(chroma(*img, 300, 239)[0], 255, 6);  // blue: U high, last chroma row
}

TEST_F(ImageYuv420spTest, OddHeight422JpegFailsTheSizeCheckAndKeepsTheImage) {
  auto jpeg =
      imagetest::make_jpeg(641, 481, TJSAMP_422, [](int x, int) { return red_left_blue_right(x, 640); });
  auto img = host_yuv(4, 2);
  img->reset(0, 0, 0);
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(log.count("Check failed: new_width * new_height * 2 == yuvSize "), 1);
  EXPECT_EQ(img->width(), 4u);
  EXPECT_EQ(chroma(*img, 0, 0), (Rgb{128, 128}));
}

TEST_F(ImageYuv420spTest, Jpeg422TakesEvenChromaRows) {
  // Even rows red, odd rows blue: 4:2:2 keeps every row's chroma, 4:2:0 of the image takes the even
  // ones, so every chroma pair is red-ish (V > U).
  auto jpeg = imagetest::make_jpeg(
      65, 48, TJSAMP_422,
      [](int, int y) {
        return y % 2 == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
      },
      100);
  auto img = host_yuv(0, 0);
  ASSERT_TRUE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(img->width(), 66u);
  EXPECT_EQ(img->height(), 48u);
  for (int j = 0; j < 24; ++j) {
    const Rgb uv = chroma(*img, 10, j);
    EXPECT_GT(uv[1], uv[0] + 100) << "chroma row " << j;
  }
}

TEST_F(ImageYuv420spTest, OddSized444JpegTakesEvenRowsAndColumnsAndZeroesTheMissingRow) {
  // Even columns red, odd columns blue.
  auto jpeg = imagetest::make_jpeg(
      41, 31, TJSAMP_444,
      [](int x, int) {
        return x % 2 == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
      },
      100);
  auto img = host_yuv(0, 0);
  ASSERT_TRUE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(img->width(), 42u);
  EXPECT_EQ(img->height(), 32u);
  for (int x = 0; x < 42; ++x) EXPECT_EQ(luma(*img, x, 31), 0) << x;
  for (int y = 0; y < 32; ++y) EXPECT_EQ(luma(*img, 41, y), 0) << y;
  EXPECT_GT(luma(*img, 40, 5), 40);
  for (int i = 0; i < 20; ++i) {
    const Rgb uv = chroma(*img, i, 7);
    EXPECT_GT(uv[1], uv[0] + 100) << "chroma column " << i;
  }
}

TEST_F(ImageYuv420spTest, GrayscaleJpegIsRefused) {
  auto jpeg = imagetest::make_jpeg(16, 16, TJSAMP_GRAY, [](int, int) { return Rgb{9, 9, 9}; });
  auto img = host_yuv(0, 0);
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(log.count("Unsupported Subsampple: 3"), 1);
}

TEST_F(ImageYuv420spTest, CorruptJpegNeverCrashes) {
  auto good = imagetest::make_jpeg(128, 64, TJSAMP_420, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 37 + y), static_cast<unsigned char>(y * 91 ^ x), 7};
  });
  auto img = host_yuv(2, 2);
  img->reset(10, 20, 30);
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(img->decode_jpg({}, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(log.count("TJ Parse Header Failed."), 1);
  std::vector<unsigned char> truncated(good.begin(), good.begin() + good.size() / 2);
  EXPECT_FALSE(img->decode_jpg(truncated, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(log.count("TJ Parse to YUV420P Failed."), 1);
  EXPECT_EQ(img->width(), 2u);
  // Flipped bytes after the header: any outcome but a crash.
  std::srand(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<unsigned char> bad = good;
    for (int k = 0; k < 8; ++k)
      bad[200 + std::rand() % (bad.size() - 200)] = static_cast<unsigned char>(std::rand());
    img->decode_jpg(bad, ImageBase::DECODE_DEFAULT);
  }
}

TEST_F(ImageYuv420spTest, EncodeDecodeRoundTrip) {
  auto img = mmz_yuv(64, 32);
  fill_yuv(
      *img, [](int x, int y) { return static_cast<unsigned char>(60 + x + y); },
      [](int, int) {
        return Rgb{110, 150};
      });
  auto jpeg = img->encode_jpg();
  ASSERT_TRUE(jpeg);
  auto back = host_yuv(0, 0);
  ASSERT_TRUE(back->decode_jpg(*jpeg, ImageBase::DECODE_DEFAULT));
  ASSERT_EQ(back->width(), 64u);
  ASSERT_EQ(back->height(), 32u);
  for (int y = 0; y < 32; y += 5)
    for (int x = 0; x < 64; x += 7) EXPECT_NEAR(luma(*back, x, y), luma(*img, x, y), 2) << x << "," << y;
  EXPECT_NEAR(chroma(*back, 9, 9)[0], 110, 2);
  EXPECT_NEAR(chroma(*back, 9, 9)[1], 150, 2);
}

TEST_F(ImageYuv420spTest, JpegMatchesRawTurboJpegOnI420Exactly) {
  // 38 x 6: chroma rows of 19 pairs; a stride (48) wider than the image.
  const int w = 38, h = 6;
  auto img = mmz_yuv(w, h);
  fill_yuv(*img, ypat, uvpat);
  std::vector<unsigned char> i420(w * h * 3 / 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) i420[y * w + x] = luma(*img, x, y);
  for (int j = 0; j < h / 2; ++j)
    for (int i = 0; i < w / 2; ++i) {
      i420[w * h + j * (w / 2) + i] = chroma(*img, i, j)[0];
      i420[w * h * 5 / 4 + j * (w / 2) + i] = chroma(*img, i, j)[1];
    }
  tjhandle handle = tjInitCompress();
  unsigned char* raw = nullptr;
  unsigned long rawSize = 0;
  ASSERT_EQ(tjCompressFromYUV(handle, i420.data(), w, 1, h, TJSAMP_420, &raw, &rawSize, 98, 0), 0);
  const std::vector<unsigned char> expected(raw, raw + rawSize);
  tjFree(raw);
  tjDestroy(handle);
  auto jpeg = img->encode_jpg();
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(*jpeg, expected);

  std::vector<unsigned char> decoded(i420.size());
  handle = tjInitDecompress();
  ASSERT_EQ(tjDecompressToYUV2(handle, expected.data(), expected.size(), decoded.data(), w, 1, h, 0), 0);
  tjDestroy(handle);
  auto back = mmz_yuv(0, 0);
  ASSERT_TRUE(back->decode_jpg(expected, ImageBase::DECODE_DEFAULT));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(luma(*back, x, y), decoded[y * w + x]) << x << "," << y;
  for (int j = 0; j < h / 2; ++j)
    for (int i = 0; i < w / 2; ++i)
      ASSERT_EQ(chroma(*back, i, j),
                (Rgb{decoded[w * h + j * (w / 2) + i], decoded[w * h * 5 / 4 + j * (w / 2) + i]}))
          << i << "," << j;
}

TEST_F(ImageYuv420spTest, PhotoAsNv12AgreesWithPhotoAsRgb) {
  auto yuv = mmz_yuv(0, 0);
  ASSERT_TRUE(yuv->load(KAVO_ASTRONAUT_JPG, ImageBase::DECODE_DEFAULT));
  ASSERT_EQ(yuv->width(), 512u);
  ASSERT_EQ(yuv->height(), 512u);
  auto rgb = imagetest::mmz_rgb(0, 0);
  ASSERT_TRUE(rgb->load(KAVO_ASTRONAUT_JPG, ImageBase::DECODE_DEFAULT));
  ASSERT_EQ(rgb->width(), 512u);

  std::vector<unsigned char> nv12(512 * 512 * 3 / 2), planar(512 * 512 * 3);
  for (int y = 0; y < 512; ++y) std::copy_n(yuv->data() + y * yuv->stride(), 512, nv12.begin() + y * 512);
  for (int y = 0; y < 256; ++y)
    std::copy_n(yuv->uv_data() + y * yuv->stride(), 512, nv12.begin() + 512 * 512 + y * 512);
  rgbchannel::yuv420sp2rgb(nv12.data(), planar.data(), 512, 512, false);
  double diff = 0;
  for (int k = 0; k < 3; ++k)
    for (int y = 0; y < 512; ++y)
      for (int x = 0; x < 512; ++x)
        diff += std::abs(planar[(k * 512 + y) * 512 + x] - imagetest::at(*rgb, k, x, y));
  EXPECT_LT(diff / (3 * 512 * 512), 4.0);
}

using ImageYuv420spDeathTest = ImageYuv420spTest;

TEST_F(ImageYuv420spDeathTest, MisuseIsFatalWithTheSystemsMessages) {
  std::vector<unsigned char> bytes(1280 * 1081);
  auto raw = std::make_shared<BlobPlane<unsigned char>>(bytes.data(), 1, 1081, 1280, 1280);
  EXPECT_DEATH(ImageYuv420sp(raw, nullptr),
               "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ");
  EXPECT_DEATH(ImageYuv420sp(nullptr, nullptr), "Check failed: producer_ ");
  auto yuv = host_yuv(4, 4);
  auto rgb = imagetest::host_rgb(4, 4);
  EXPECT_DEATH(yuv->copy_from(rgb.get(), false, false), "Check failed: peer ");
  EXPECT_DEATH(yuv->integ_sum(), "Check failed: yuvData_.image->phy_data Only Support IVE");
  EXPECT_DEATH(yuv->rgb_integ_map(), "Check failed: yuvData_.image->phy_data Only Support IVE");
  auto peer = host_yuv(4, 4);
  EXPECT_DEATH(yuv->pad_crop_from(peer.get(), {1, 1, 0, 0}, 0, 0, 0, false, false), "must be even");
  EXPECT_DEATH(yuv->pad_crop_from(peer.get(), {0, 0, 0, -1}, 0, 0, 0, false, false), "must be even");

  auto big = mmz_yuv(8, 8);
  auto small = mmz_yuv(4, 4);
  EXPECT_DEATH(big->roi_copy_from(small.get(), {4, 0, 4, 4}, false),
               "Check failed: dstRoi\\[0\\] \\+ peer->get_yuv\\(\\).width < yuvData_.width ");
  EXPECT_DEATH(big->roi_copy_from(small.get(), {0, 4, 4, 4}, false),
               "Check failed: dstRoi\\[1\\] \\+ peer->get_yuv\\(\\).height < yuvData_.height ");
  EXPECT_DEATH(big->roi_copy_from(small.get(), {0, 0, 2, 4}, false),
               "Check failed: peer->get_yuv\\(\\).height == dstRoi\\[3\\] && peer->get_yuv\\(\\).width == "
               "dstRoi\\[2\\] ");
  auto hostBig = host_yuv(8, 8);
  EXPECT_DEATH(hostBig->roi_copy_from(peer.get(), {2, 2, 4, 4}, false), "Not Implemented yet\\.");
  auto tiny = host_yuv(2, 2);
  EXPECT_DEATH(
      tiny->downsample_2_from(big.get(), true),
      "Check failed: peer->get_yuv\\(\\).height / 2 <= yuvData_.height and peer->get_yuv\\(\\).width / 2 "
      "<= yuvData_.width ");
  auto six = host_yuv(6, 6);  // chroma 3x3: not a whole number of pairs to pick
  auto three = host_yuv(4, 4);
  EXPECT_DEATH(three->downsample_2_from(six.get(), true),
               "Check failed: another.width % 2 == 0 && another.height % 2 == 0 ");
  auto empty = host_yuv(0, 0);
  EXPECT_DEATH(pick_nearest_pixel(empty.get(), big.get()),
               "Check failed: pSmall->height\\(\\) > 0 and pSmall->width\\(\\) > 0 ");
  EXPECT_DEATH(pick_nearest_pixel(small.get(), empty.get()),
               "Check failed: pLarge->height\\(\\) > 0 and pLarge->width\\(\\) > 0 ");
  EXPECT_DEATH(pick_nearest_pixel(nullptr, big.get()), "Check failed: pLarge and pSmall ");
}

}  // namespace
