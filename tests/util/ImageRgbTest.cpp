// ImageRgb: DMA, engine and CPU paths against each other and a plain loop, region statistics,
// integral sums, and JPEG against raw TurboJPEG.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "platform/Mmz.h"
#include "testing/LogCapture.h"

namespace {

using namespace imagetest;

class ImageRgbTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};

int pattern(int k, int x, int y) { return k * 80 + x * 7 + y * 13; }

// Every pixel of img is expected(x, y).
void expect_pixels(const ImageRgb& img, const std::function<Bytes(int, int)>& expected) {
  for (unsigned y = 0; y < img.height(); ++y)
    for (unsigned x = 0; x < img.width(); ++x) ASSERT_EQ(get_rgb(img, x, y), expected(x, y)) << x << "," << y;
}

TEST_F(ImageRgbTest, ResizesAverageBlocksAndPadOutsideTheRoi) {
  auto src = host_rgb(4, 4);
  fill_rgb(*src, [](int k, int x, int y) { return k + 10 * x + 40 * y; });
  auto half = host_rgb(2, 2);
  half->resize_from(src.get(), false, false);  // samples at 0.5 and 2.5: the mean of each 2x2 block
  for (int k = 0; k < 3; ++k) EXPECT_EQ(at(*half, k, 1, 1) - at(*half, k, 0, 0), 100);
  EXPECT_EQ(get_rgb(*half, 1, 0), (Bytes{45, 46, 47}));
  std::shared_ptr<MmzBlob> none;
  auto roi = host_rgb(4, 2);  // ROI {-1, 0, 1, 1}: columns 0..1 sample left of the image
  roi->roi_resize_from(src.get(), {-1.f, 0.f, 1.f, 1.f}, none, 9, 8, 7, false, true);
  EXPECT_EQ(get_rgb(*roi, 1, 1), (Bytes{9, 8, 7}));
  EXPECT_EQ(get_rgb(*roi, 2, 0), (Bytes{25, 26, 27}));  // x = 0.5, y = 0.5 of the source

  auto big = mmz_rgb(64, 48);
  big->reset(90, 150, 210);
  auto scratch = std::make_shared<MmzBlob>(std::vector<int>{1, 48 * 3, 64});
  auto engine = mmz_rgb(32, 32), resized = mmz_rgb(20, 10);
  engine->roi_resize_from(big.get(), {0.25f, 0.25f, 0.75f, 0.75f}, scratch, 0, 0, 0, false, false);
  resized->resize_from(big.get(), false, false);
  for (auto* img : {engine.get(), resized.get()})
    expect_pixels(*img, [](int, int) { return Bytes{90, 150, 210}; });
}

TEST_F(ImageRgbTest, CpuDownsampleTakesTopLeftOfEachBlock) {
  auto src = host_rgb(4, 2);
  fill_rgb(*src, pattern);
  auto dst = host_rgb(3, 2);
  dst->reset(0, 0, 0);
  dst->downsample_2_from(src.get(), false);
  expect_pixels(*dst, [&](int x, int y) {
    return x < 2 && y < 1 ? get_rgb(*src, 2 * x, 0) : Bytes{0, 0, 0};
  });
}

TEST_F(ImageRgbTest, HostRoiCopyWritesNothingPastTheImage) {
  Bytes dstBytes(10 * 8 * 4, 0xee), peerBytes(4 * 4 * 4, 7);  // three planes and a guard plane after them
  ImageRgb dst(std::make_shared<BlobPlane<unsigned char>>(dstBytes.data(), 3, 8, 10, 10), nullptr);
  ImageRgb peer(std::make_shared<BlobPlane<unsigned char>>(peerBytes.data(), 3, 4, 4, 4), nullptr);
  dst.roi_copy_from(&peer, {4, 2, 4, 4}, false);
  EXPECT_EQ(get_rgb(dst, 7, 5), (Bytes{7, 7, 7}));
  EXPECT_EQ(Bytes(dstBytes.begin() + 240, dstBytes.end()), Bytes(80, 0xee));
}

TEST_F(ImageRgbTest, GrayOfRegionAndContextUseIntegerMeans) {
  auto img = host_rgb(4, 4);
  fill_rgb(*img, [](int k, int x, int y) { return k == 0 ? 10 * x + y : k == 1 ? 3 : 0; });
  // x, y in [1, 3) (the bottom edge clamps to row 3, excluded): 14/3 + 24/3 + 15/3 + 25/3 = 25; 25/2/2.
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.25f, 0.25f, 0.75f, 1.f}, true, false)), 6);
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.f, 0.f, 1.f, 1.f}, true, false)), 4);  // 39 / 3 / 3
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({-0.5f, 0.f, -0.1f, 1.f}, true, false)), 0);
  EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.5f, 0.5f, 0.5f, 0.9f}, true, false)), 0);
  auto blocks = host_rgb(8, 8);  // every 2x2 block has grey 10 * blockX + blockY
  fill_rgb(*blocks, [](int, int x, int y) { return 10 * (x / 2) + y / 2; });
  EXPECT_EQ(blocks->gray_of_context(BoundBox<float>({0.25f, 0.25f, 0.5f, 0.5f}, true, false)),
            (std::vector<int>{0, 10, 20, 1, 11, 21, 2, 12, 22}));
}

TEST_F(ImageRgbTest, IntegSumIsInclusivePerPlane) {
  auto img = mmz_rgb(3, 2);
  fill_rgb(*img, [](int k, int x, int y) { return 1 + x + 3 * y + 10 * k; });
  MI_TEST_ResetCallLog();
  auto sums = img->rgb_integ_map();
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_FlushInvCache"), 2u);  // the scratch, before and after the engine
  ASSERT_EQ(sums->shape(), (std::vector<int>{3, 2, static_cast<int>(img->stride())}));
  auto I = [&](int k, int y, int x) { return sums->data[(k * 2 + y) * img->stride() + x]; };
  EXPECT_EQ(I(0, 0, 0), 1u);  // R: 1 2 3 / 4 5 6
  EXPECT_EQ(I(0, 0, 2), 6u);
  EXPECT_EQ(I(0, 1, 0), 5u);
  EXPECT_EQ(I(0, 1, 2), 21u);
  EXPECT_EQ(I(2, 1, 2), 141u);  // B adds 20 to each of 6 pixels
}

TEST_F(ImageRgbTest, JpegMatchesRawTurboJpegExactly) {
  const int w = 37, h = 5;  // two 16-pixel shuffle blocks and a tail of 5
  Bytes rgbrgb;
  auto img = mmz_rgb(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Bytes c = noise(x, y);
      rgbrgb.insert(rgbrgb.end(), c.begin(), c.end());
      for (int k = 0; k < 3; ++k) at(*img, k, x, y) = c[k];
    }
  tjhandle handle = tjInitCompress();
  unsigned char* raw = nullptr;
  unsigned long rawSize = 0;
  ASSERT_EQ(tjCompress2(handle, rgbrgb.data(), w, 0, h, TJPF_RGB, &raw, &rawSize, TJSAMP_420, 98, 0), 0);
  const Bytes expected(raw, raw + rawSize);
  tjFree(raw);
  tjDestroy(handle);
  auto jpeg = img->encode_jpg();
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(*jpeg, expected);

  Bytes decoded(w * h * 3);  // TurboJPEG's interleaved decode: plane k of pixel i is decoded[3 i + k]
  handle = tjInitDecompress();
  ASSERT_EQ(tjDecompress2(handle, expected.data(), expected.size(), decoded.data(), w, 0, h, TJPF_RGB, 0), 0);
  tjDestroy(handle);
  const std::string path = testing::TempDir() + "/image_rgb_test.jpg";
  ASSERT_TRUE(img->save(path));
  auto back = host_rgb(0, 0);
  ASSERT_TRUE(back->load(path, ImageBase::DECODE_DEFAULT));
  ASSERT_EQ(back->width() * 100 + back->height(), 3705u);
  for (int i = 0; i < w * h * 3; ++i) ASSERT_EQ(at(*back, i % 3, i / 3 % w, i / 3 / w), decoded[i]) << i;
  EXPECT_FALSE(back->load(path + ".missing", ImageBase::DECODE_DEFAULT));
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(host_rgb(0, 0)->encode_jpg());
  EXPECT_EQ(log.count("JPEG Compression to RGB Failed."), 1);
}

using ImageRgbDeathTest = ImageRgbTest;

TEST_F(ImageRgbDeathTest, MisuseIsFatalWithTheSystemsMessages) {
  auto rgb = host_rgb(4, 4);
  EXPECT_DEATH(rgb->copy_from(host_yuv(4, 4).get(), false, false), "Check failed: peer ");
  EXPECT_DEATH(ImageRgb(nullptr, nullptr), "Check failed: producer_ ");
  ImageRgb fixed(rgb->get_blob(), nullptr);
  EXPECT_DEATH(fixed.reshape(2, 2), "Check failed: producer_ ");
  EXPECT_DEATH(rgb->integ_sum(), "Check failed: pBlob_->phy_data Only Support IVE");
  EXPECT_DEATH(rgb->roi_copy_from(host_rgb(2, 2).get(), {2, 0, 2, 2}, false),
               "Check failed: dstRoi\\[0\\] \\+ peer->width\\(\\) < width\\(\\) roi x=2, width=4");
  EXPECT_DEATH(rgb->roi_copy_from(host_rgb(2, 2).get(), {0, 0, 2, 4}, false),
               "Check failed: peer->height\\(\\) == dstRoi\\[3\\] && peer->width\\(\\) == dstRoi\\[2\\] ");
  EXPECT_DEATH(rgb->roi_copy_from(host_rgb(3, 2).get(), {0, 0, 3, 2}, false),
               "Check failed: peer->height\\(\\) % 2 == 0 and peer->width\\(\\) % 2 == 0 ");
  EXPECT_DEATH(
      host_rgb(1, 1)->downsample_2_from(rgb.get(), false),
      "Check failed: peer->height\\(\\) / 2 <= height\\(\\) and peer->width\\(\\) / 2 <= width\\(\\) ");
}

}  // namespace
