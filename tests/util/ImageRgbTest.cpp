// ImageRgb: geometry, CPU and platform paths against each other and hand-computed values, region
// statistics, integral sums, JPEG.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "platform/Mmz.h"
#include "testing/LogCapture.h"
#include "util/ImageRgb.h"

namespace {

using imagetest::at;
using imagetest::fill_rgb;
using imagetest::get_rgb;
using imagetest::host_rgb;
using imagetest::mmz_rgb;
using imagetest::Rgb;
using imagetest::set_rgb;

class ImageRgbTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};

// A value per plane and pixel that differs everywhere.
unsigned char pattern(int k, int x, int y) { return static_cast<unsigned char>(k * 80 + x * 7 + y * 13); }

TEST_F(ImageRgbTest, ReshapeKeepsThePlaneOnlyForTheSameSize) {
  auto img = host_rgb(4, 2);
  unsigned char* before = img->data();
  img->reshape(4, 2);
  EXPECT_EQ(img->data(), before);
  img->reshape(6, 3);
  EXPECT_EQ(img->width(), 6u);
  EXPECT_EQ(img->height(), 3u);
  EXPECT_EQ(img->stride(), 6u);
}

TEST_F(ImageRgbTest, ResetFillsEachPlaneWithItsValue) {
  auto img = mmz_rgb(5, 3);
  img->reset(10, 20, 30);
  EXPECT_EQ(get_rgb(*img, 0, 0), (Rgb{10, 20, 30}));
  EXPECT_EQ(get_rgb(*img, 4, 2), (Rgb{10, 20, 30}));
  EXPECT_EQ(img->plane_data(1) - img->plane_data(0), static_cast<long>(img->stride() * 3));
}

TEST_F(ImageRgbTest, CopyFromPlatformIsOneThreePlaneDmaAndMatchesCpu) {
  auto src = mmz_rgb(6, 4);
  fill_rgb(*src, pattern);
  src->refresh();
  auto dma = mmz_rgb(0, 0);
  auto cpu = mmz_rgb(0, 0);
  MI_TEST_ResetCallLog();
  dma->copy_from(src.get(), false, false);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), 3u);
  cpu->copy_from(src.get(), false, true);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), 3u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(get_rgb(*dma, x, y), get_rgb(*src, x, y));
      EXPECT_EQ(get_rgb(*cpu, x, y), get_rgb(*src, x, y));
    }
}

TEST_F(ImageRgbTest, CopyFromHostPeerUsesTheCpu) {
  auto src = host_rgb(3, 2);
  fill_rgb(*src, pattern);
  auto dst = mmz_rgb(0, 0);
  dst->copy_from(src.get(), false, false);
  EXPECT_NE(dst->phy(), 0u);
  EXPECT_EQ(get_rgb(*dst, 2, 1), get_rgb(*src, 2, 1));
}

TEST_F(ImageRgbTest, CopyFromSplitPlanesHostAndPlatform) {
  std::vector<unsigned char> planes[3];
  ImageSplitPlaneDesc desc;
  desc.width = 4;
  desc.height = 2;
  for (int k = 0; k < 3; ++k) {
    planes[k].resize(8 * 2);  // stride 8
    for (int i = 0; i < 16; ++i) planes[k][i] = static_cast<unsigned char>(k * 100 + i);
    desc.virAddr[k] = planes[k].data();
    desc.stride[k] = 8;
  }
  auto host = host_rgb(0, 0);
  host->copy_from_split_planes(desc);
  EXPECT_EQ(get_rgb(*host, 3, 1), (Rgb{11, 111, 211}));

  auto src = mmz_rgb(4, 2);
  fill_rgb(*src, pattern);
  src->refresh();
  for (int k = 0; k < 3; ++k) {
    desc.phyAddr[k] = src->plane_phy(k);
    desc.virAddr[k] = nullptr;
    desc.stride[k] = static_cast<int>(src->stride());
  }
  auto dst = mmz_rgb(0, 0);
  dst->copy_from_split_planes(desc);
  EXPECT_EQ(get_rgb(*dst, 3, 1), get_rgb(*src, 3, 1));
}

TEST_F(ImageRgbTest, PadCropPlatformMatchesCpu) {
  auto src = mmz_rgb(8, 6);
  fill_rgb(*src, pattern);
  src->refresh();
  const roiresize::PadSize pads[] = {{0, 0, 0, 0}, {2, 3, 1, 0}, {-2, 2, -1, -1}, {-3, -1, 2, -2}};
  for (const auto& pad : pads) {
    SCOPED_TRACE(testing::Message() << pad.left << "/" << pad.right << "/" << pad.top << "/" << pad.bottom);
    auto dma = mmz_rgb(0, 0);
    auto cpu = mmz_rgb(0, 0);
    dma->pad_crop_from(src.get(), pad, 1, 2, 3, false, false);
    cpu->pad_crop_from(src.get(), pad, 1, 2, 3, false, true);
    ASSERT_EQ(dma->width(), 8u + pad.xPad());
    ASSERT_EQ(dma->height(), 6u + pad.yPad());
    ASSERT_EQ(cpu->width(), dma->width());
    for (unsigned int y = 0; y < dma->height(); ++y)
      for (unsigned int x = 0; x < dma->width(); ++x) {
        const int sx = static_cast<int>(x) - pad.left;
        const int sy = static_cast<int>(y) - pad.top;
        const bool inside = sx >= 0 && sx < 8 && sy >= 0 && sy < 6;
        const Rgb expected = inside ? get_rgb(*src, sx, sy) : Rgb{1, 2, 3};
        EXPECT_EQ(get_rgb(*dma, x, y), expected) << x << "," << y;
        EXPECT_EQ(get_rgb(*cpu, x, y), expected) << x << "," << y;
      }
  }
}

TEST_F(ImageRgbTest, CpuResizeAveragesTwoByTwoBlocks) {
  auto src = host_rgb(4, 4);
  fill_rgb(*src, [](int k, int x, int y) { return static_cast<unsigned char>(k + 10 * x + 40 * y); });
  auto dst = host_rgb(2, 2);
  dst->resize_from(src.get(), false, false);
  // ROI {0,0,1,1} 4 -> 2: samples at 0.5 and 2.5, the mean of each 2x2 block (exact here).
  EXPECT_EQ(get_rgb(*dst, 0, 0), (Rgb{25, 26, 27}));
  EXPECT_EQ(get_rgb(*dst, 1, 0), (Rgb{45, 46, 47}));
  EXPECT_EQ(get_rgb(*dst, 0, 1), (Rgb{105, 106, 107}));
  EXPECT_EQ(get_rgb(*dst, 1, 1), (Rgb{125, 126, 127}));
}

TEST_F(ImageRgbTest, CpuRoiResizeBeyondTheImageTakesThePadColour) {
  auto src = host_rgb(4, 4);
  src->reset(50, 60, 70);
  auto dst = host_rgb(4, 2);
  std::shared_ptr<MmzBlob> scratch;
  // ROI {-1, 0, 1, 1}: output columns 0..1 sample x < 0 (pad), columns 2..3 sample inside.
  dst->roi_resize_from(src.get(), {-1.f, 0.f, 1.f, 1.f}, scratch, 9, 8, 7, false, true);
  EXPECT_EQ(get_rgb(*dst, 0, 0), (Rgb{9, 8, 7}));
  EXPECT_EQ(get_rgb(*dst, 1, 1), (Rgb{9, 8, 7}));
  EXPECT_EQ(get_rgb(*dst, 2, 0), (Rgb{50, 60, 70}));
}

TEST_F(ImageRgbTest, PlatformRoiResizeOfUniformImageKeepsItsColour) {
  auto src = mmz_rgb(64, 48);
  src->reset(90, 150, 210);
  auto scratch = std::make_shared<MmzBlob>(std::vector<int>{1, 48 * 3, 64});
  auto dst = mmz_rgb(32, 32);
  dst->roi_resize_from(src.get(), {0.25f, 0.25f, 0.75f, 0.75f}, scratch, 0, 0, 0, false, false);
  EXPECT_EQ(get_rgb(*dst, 0, 0), (Rgb{90, 150, 210}));
  EXPECT_EQ(get_rgb(*dst, 31, 31), (Rgb{90, 150, 210}));
  auto resized = mmz_rgb(20, 10);
  resized->resize_from(src.get(), false, false);
  EXPECT_EQ(get_rgb(*resized, 19, 9), (Rgb{90, 150, 210}));
}

TEST_F(ImageRgbTest, DownsampleTakesTopLeftOfEachBlock) {
  auto src = host_rgb(4, 2);
  fill_rgb(*src, pattern);
  auto dst = host_rgb(3, 2);
  dst->reset(0, 0, 0);
  dst->downsample_2_from(src.get(), false);
  EXPECT_EQ(get_rgb(*dst, 0, 0), get_rgb(*src, 0, 0));
  EXPECT_EQ(get_rgb(*dst, 1, 0), get_rgb(*src, 2, 0));
  EXPECT_EQ(get_rgb(*dst, 2, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(get_rgb(*dst, 0, 1), (Rgb{0, 0, 0}));
}

TEST_F(ImageRgbTest, PlatformDownsampleResizesAndSaysSo) {
  auto src = mmz_rgb(8, 8);
  src->reset(40, 40, 40);
  auto dst = mmz_rgb(4, 4);
  LogCapture log(google::GLOG_ERROR);
  dst->downsample_2_from(src.get(), false);
  EXPECT_EQ(log.count("Use Resize Instead for DownSample (1/2x)."), 1);
  EXPECT_EQ(get_rgb(*dst, 3, 3), (Rgb{40, 40, 40}));
}

TEST_F(ImageRgbTest, RoiCopyPlacesPeerInsideTheWindow) {
  auto src = mmz_rgb(2, 2);
  fill_rgb(*src, pattern);
  src->refresh();
  auto dst = mmz_rgb(6, 4);
  dst->reset(0, 0, 0);
  dst->roi_copy_from(src.get(), {3, 1, 2, 2}, false);
  EXPECT_EQ(get_rgb(*dst, 3, 1), get_rgb(*src, 0, 0));
  EXPECT_EQ(get_rgb(*dst, 4, 2), get_rgb(*src, 1, 1));
  EXPECT_EQ(get_rgb(*dst, 5, 1), (Rgb{0, 0, 0}));
}

TEST_F(ImageRgbTest, GrayOfRegionAveragesPerPixelThirdsWithIntegerDivisions) {
  auto img = host_rgb(4, 4);
  // R = 10x + y, G = 3, B = 0; (R + G + B) / 3 per pixel.
  fill_rgb(*img, [](int k, int x, int y) {
    return static_cast<unsigned char>(k == 0 ? 10 * x + y : k == 1 ? 3 : 0);
  });
  // Pixels x in [1, 3), y in [1, 3) (the bottom edge clamps to row 3 and is excluded):
  // 14/3 = 4, 24/3 = 8, 15/3 = 5, 25/3 = 8; (25 / 2) / 2 = 6.
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.25f, 0.25f, 0.75f, 1.f}, true, false)), 6);
  // Whole image: x, y in [0, 3).
  // Per pixel: y=0: 1,4,7; y=1: 1,4,8; y=2: 1,5,8 -> 39 / 3 / 3 = 4.
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.f, 0.f, 1.f, 1.f}, true, false)), 4);
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({-0.5f, 0.f, -0.1f, 1.f}, true, false)), 0);
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.5f, 0.5f, 0.5f, 0.9f}, true, false)), 0);
}

TEST_F(ImageRgbTest, GrayOfContextListsNeighboursRowByRow) {
  auto img = host_rgb(8, 8);
  // Every 2x2 block of the image has grey 10 * blockX + blockY.
  fill_rgb(*img, [](int, int x, int y) { return static_cast<unsigned char>(10 * (x / 2) + y / 2); });
  std::vector<int> grays = img->gray_of_context(BoundBox<float>({0.25f, 0.25f, 0.5f, 0.5f}, true, false));
  EXPECT_EQ(grays, (std::vector<int>{0, 10, 20, 1, 11, 21, 2, 12, 22}));
}

TEST_F(ImageRgbTest, IntegSumIsInclusivePerPlane) {
  auto img = mmz_rgb(3, 2);
  fill_rgb(*img, [](int k, int x, int y) { return static_cast<unsigned char>(1 + x + 3 * y + 10 * k); });
  img->refresh();
  auto sums = img->integ_sum();
  ASSERT_EQ(sums->shape(), (std::vector<int>{3, 2, static_cast<int>(img->stride())}));
  EXPECT_EQ(sums->resName(), "UNKNOWN_BLOBGENERAL");
  auto I = [&](int k, int y, int x) { return sums->data[(k * 2 + y) * img->stride() + x]; };
  // R: 1 2 3 / 4 5 6.
  EXPECT_EQ(I(0, 0, 0), 1u);
  EXPECT_EQ(I(0, 0, 2), 6u);
  EXPECT_EQ(I(0, 1, 0), 5u);
  EXPECT_EQ(I(0, 1, 2), 21u);
  // B adds 20 to each of 6 pixels.
  EXPECT_EQ(I(2, 1, 2), 141u);
  EXPECT_EQ(img->rgb_integ_map()->data[(2 * 2 + 1) * img->stride() + 2], 141u);
}

TEST_F(ImageRgbTest, JpegRoundTripKeepsSizeAndPlaneOrder) {
  auto img = mmz_rgb(64, 48);
  img->reset(200, 100, 30);
  auto jpeg = img->encode_jpg();
  ASSERT_TRUE(jpeg);
  auto back = host_rgb(0, 0);
  ASSERT_TRUE(back->decode_jpg(*jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(back->width(), 64u);
  EXPECT_EQ(back->height(), 48u);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(at(*back, k, 10, 10), (Rgb{200, 100, 30})[k], 3) << "plane " << k;
}

TEST_F(ImageRgbTest, JpegPlaneShufflesMatchRawTurboJpegExactly) {
  // 37 columns: two 16-pixel blocks and a tail of 5; every byte differs from its neighbours.
  const int w = 37, h = 5;
  auto colour = [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 7 + y), static_cast<unsigned char>(250 - x * 3 - y * 11),
               static_cast<unsigned char>((x * 31 + y * 17) & 0xff)};
  };
  std::vector<unsigned char> rgbrgb;
  auto img = mmz_rgb(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb c = colour(x, y);
      rgbrgb.insert(rgbrgb.end(), c.begin(), c.end());
      set_rgb(*img, x, y, c[0], c[1], c[2]);
    }
  // Encoding: the same bytes as TurboJPEG compressing the interleaved pixels.
  tjhandle handle = tjInitCompress();
  unsigned char* raw = nullptr;
  unsigned long rawSize = 0;
  ASSERT_EQ(tjCompress2(handle, rgbrgb.data(), w, 0, h, TJPF_RGB, &raw, &rawSize, TJSAMP_420, 98, 0), 0);
  const std::vector<unsigned char> expected(raw, raw + rawSize);
  tjFree(raw);
  tjDestroy(handle);
  auto jpeg = img->encode_jpg();
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(*jpeg, expected);
  // Decoding: every plane byte equals TurboJPEG's interleaved output.
  std::vector<unsigned char> decoded(w * h * 3);
  handle = tjInitDecompress();
  ASSERT_EQ(tjDecompress2(handle, expected.data(), expected.size(), decoded.data(), w, 0, h, TJPF_RGB, 0), 0);
  tjDestroy(handle);
  auto back = mmz_rgb(0, 0);
  ASSERT_TRUE(back->decode_jpg(expected, ImageBase::DECODE_DEFAULT));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(at(*back, k, x, y), decoded[(y * w + x) * 3 + k]) << x << "," << y;
}

TEST_F(ImageRgbTest, DecodesOddSizedJpegExactly) {
  auto jpeg = imagetest::make_jpeg(33, 17, TJSAMP_422, [](int x, int) {
    return x < 16 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
  });
  auto img = host_rgb(0, 0);
  ASSERT_TRUE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(img->width(), 33u);
  EXPECT_EQ(img->height(), 17u);
  EXPECT_GT(at(*img, 0, 2, 8), 230);
  EXPECT_GT(at(*img, 2, 30, 8), 230);
}

TEST_F(ImageRgbTest, CorruptJpegFailsWithoutTouchingTheImage) {
  auto img = host_rgb(2, 2);
  img->reset(1, 2, 3);
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(img->decode_jpg({}, ImageBase::DECODE_DEFAULT));
  EXPECT_FALSE(img->decode_jpg({0xff, 0xd8, 0x00, 0x13, 0x37}, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(log.count("TJ Parse Header Failed."), 2);
  // A truncated stream: the header is intact, the scan ends early.
  auto jpeg = imagetest::make_jpeg(128, 128, TJSAMP_420, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 37 + y), static_cast<unsigned char>(y * 91 ^ x), 0};
  });
  jpeg.resize(jpeg.size() / 2);
  EXPECT_FALSE(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(log.count("TJ Parse to RGB Failed."), 1);
  EXPECT_EQ(img->width(), 2u);
  EXPECT_EQ(get_rgb(*img, 1, 1), (Rgb{1, 2, 3}));
}

TEST_F(ImageRgbTest, SaveAndLoadThroughFiles) {
  auto img = host_rgb(16, 8);
  img->reset(0, 128, 255);
  const std::string path = testing::TempDir() + "/image_rgb_test.jpg";
  ASSERT_TRUE(img->save(path));
  auto back = mmz_rgb(0, 0);
  ASSERT_TRUE(back->load(path, ImageBase::DECODE_DEFAULT));
  EXPECT_EQ(back->width(), 16u);
  EXPECT_NEAR(at(*back, 2, 3, 3), 255, 3);
  EXPECT_FALSE(back->load(path + ".missing", ImageBase::DECODE_DEFAULT));
}

TEST_F(ImageRgbTest, EncodingAnEmptyImageFails) {
  auto img = host_rgb(0, 0);
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(img->encode_jpg());
  EXPECT_EQ(log.count("JPEG Compression to RGB Failed."), 1);
}

TEST_F(ImageRgbTest, ProduceMakesAnEmptyPlatformImageAlignedTo32) {
  auto made = std::dynamic_pointer_cast<ImageRgb>(host_rgb(2, 2)->produce());
  ASSERT_TRUE(made);
  EXPECT_EQ(made->width(), 0u);
  made->reshape(40, 6);
  EXPECT_NE(made->phy(), 0u);
  EXPECT_EQ(made->stride(), 64u);
  EXPECT_EQ(made->plane_phy(2) - made->plane_phy(0), 2u * 64 * 6);
}

using ImageRgbDeathTest = ImageRgbTest;

TEST_F(ImageRgbDeathTest, MisuseIsFatalWithTheSystemsMessages) {
  auto rgb = host_rgb(4, 4);
  auto yuv = imagetest::host_yuv(4, 4);
  EXPECT_DEATH(rgb->copy_from(yuv.get(), false, false), "Check failed: peer ");
  EXPECT_DEATH(ImageRgb(nullptr, nullptr), "Check failed: producer_ ");
  ImageRgb fixed(std::make_shared<BlobPlane<unsigned char>>(rgb->data(), 3, 4, 4, 4), nullptr);
  EXPECT_DEATH(fixed.reshape(2, 2), "Check failed: producer_ ");
  EXPECT_DEATH(rgb->integ_sum(), "Check failed: pBlob_->phy_data Only Support IVE");
  auto small = host_rgb(2, 2);
  EXPECT_DEATH(rgb->roi_copy_from(small.get(), {0, 0, 2, 2}, false), "Not Implemented yet\\.");
  auto big = mmz_rgb(4, 4);
  auto peer = mmz_rgb(2, 2);
  EXPECT_DEATH(big->roi_copy_from(peer.get(), {2, 0, 2, 2}, false),
               "Check failed: dstRoi\\[0\\] \\+ peer->width\\(\\) < width\\(\\) ");
  EXPECT_DEATH(big->roi_copy_from(peer.get(), {0, 0, 2, 4}, false),
               "Check failed: peer->height\\(\\) == dstRoi\\[3\\] && peer->width\\(\\) == dstRoi\\[2\\] ");
  auto odd = mmz_rgb(3, 2);
  EXPECT_DEATH(big->roi_copy_from(odd.get(), {0, 0, 3, 2}, false),
               "Check failed: peer->height\\(\\) % 2 == 0 and peer->width\\(\\) % 2 == 0 ");
  auto tiny = host_rgb(1, 1);
  EXPECT_DEATH(
      tiny->downsample_2_from(big.get(), false),
      "Check failed: peer->height\\(\\) / 2 <= height\\(\\) and peer->width\\(\\) / 2 <= width\\(\\) ");
  ImageBase* base = rgb.get();
  EXPECT_DEATH(base->ImageBase::encode_jpg(), "NotImplemented");
}

}  // namespace
