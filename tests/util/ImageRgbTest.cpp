// ImageRgb: DMA, engine and CPU paths against each other and a plain loop, region statistics,
// integral sums, and JPEG against raw TurboJPEG.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "testing/LogCapture.h"

namespace {

using namespace imagetest;

TEST(ImageRgbTest, ResizesAverageBlocksAndPadOutsideTheRoi) {
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
}

TEST(ImageRgbTest, CpuDownsampleTakesTopLeftOfEachBlock) {
  auto src = host_rgb(4, 2), dst = host_rgb(3, 2);
  fill_rgb(*src, [](int k, int x, int y) { return k * 80 + x * 7 + y * 13; });
  dst->reset(0, 0, 0);
  dst->downsample_2_from(src.get(), false);
  EXPECT_EQ(rows(*dst),
            (std::vector<Bytes>{{0, 14, 0}, {0, 0, 0}, {80, 94, 0}, {0, 0, 0}, {160, 174, 0}, {0, 0, 0}}));
}

TEST(ImageRgbTest, HostRoiCopyWritesNothingPastTheImage) {
  Bytes dstBytes(10 * 8 * 4, 0xee), peerBytes(4 * 4 * 4, 7);  // three planes and a guard plane after them
  ImageRgb dst(std::make_shared<BlobPlane<unsigned char>>(dstBytes.data(), 3, 8, 10, 10), nullptr);
  ImageRgb peer(std::make_shared<BlobPlane<unsigned char>>(peerBytes.data(), 3, 4, 4, 4), nullptr);
  dst.roi_copy_from(&peer, {4, 2, 4, 4}, false);
  EXPECT_EQ(get_rgb(dst, 7, 5), (Bytes{7, 7, 7}));
  EXPECT_EQ(Bytes(dstBytes.begin() + 240, dstBytes.end()), Bytes(80, 0xee));
}

TEST(ImageRgbTest, IntegSumIsInclusivePerPlane) {
  auto img = mmz_rgb(3, 2);
  fill_rgb(*img, [](int k, int x, int y) { return 1 + x + 3 * y + 10 * k; });
  MI_TEST_ResetCallLog();
  auto sums = img->rgb_integ_map();
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_FlushInvCache"), 2u);  // the scratch, before and after the engine
  ASSERT_EQ(sums->shape(), (std::vector<int>{3, 2, static_cast<int>(img->stride())}));
  auto I = [&](int k, int y, int x) { return sums->data[(k * 2 + y) * img->stride() + x]; };
  // R: 1 2 3 / 4 5 6; B adds 20 to each of 6 pixels.
  EXPECT_EQ(std::vector<unsigned>({I(0, 0, 0), I(0, 0, 2), I(0, 1, 0), I(0, 1, 2), I(2, 1, 2)}),
            std::vector<unsigned>({1, 6, 5, 21, 141}));
}

TEST(ImageRgbTest, SavedJpegsLoadAsRawTurboJpegDecodesThem) {
  const int w = 37, h = 5;  // two 16-pixel shuffle blocks and a tail of 5
  auto img = mmz_rgb(w, h), back = host_rgb(0, 0);
  fill_rgb(*img, [](int k, int x, int y) { return int(noise(x, y)[k]); });
  const Bytes jpeg = *img->encode_jpg();
  Bytes decoded(w * h * 3);  // TurboJPEG's interleaved decode: plane k of pixel i is decoded[3 i + k]
  tjhandle handle = tjInitDecompress();
  ASSERT_EQ(tjDecompress2(handle, jpeg.data(), jpeg.size(), decoded.data(), w, 0, h, TJPF_RGB, 0), 0);
  tjDestroy(handle);
  const std::string path = testing::TempDir() + "/image_rgb_test.jpg";
  ASSERT_TRUE(img->save(path));
  ASSERT_TRUE(back->load(path, ImageBase::DECODE_DEFAULT));
  ASSERT_EQ(back->width() * 100 + back->height(), 3705u);
  for (int i = 0; i < w * h * 3; ++i) ASSERT_EQ(at(*back, i % 3, i / 3 % w, i / 3 / w), decoded[i]) << i;
  EXPECT_FALSE(back->load(path + ".missing", ImageBase::DECODE_DEFAULT));
  LogCapture log(google::GLOG_ERROR);
  EXPECT_FALSE(host_rgb(0, 0)->encode_jpg());
  EXPECT_EQ(log.count("JPEG Compression to RGB Failed."), 1);
}

TEST(ImageRgbDeathTest, MisuseIsFatalWithTheSystemsMessages) {
  auto rgb = host_rgb(4, 4);
  EXPECT_DEATH(rgb->copy_from(host_yuv(4, 4).get(), false, false), "Check failed: peer ");
  EXPECT_DEATH(ImageRgb(nullptr, nullptr), "Check failed: producer_ ");
  ImageRgb fixed(rgb->get_blob(), nullptr);
  EXPECT_DEATH(fixed.reshape(2, 2), "Check failed: producer_ ");
  EXPECT_DEATH(rgb->integ_sum(), "Check failed: pBlob_->phy_data Only Support IVE");
  auto platform = mmz_rgb(4, 4);
  EXPECT_DEATH((MI_TEST_FailNext("MI_SYS_FlushInvCache", MI_ERR_SYS_ILLEGAL_PARAM), platform->refresh()),
               "Check failed: ok == MI_SUCCESS MI_SYS_FlushInvCache failed: 4096");
  const std::string peer = "peer->height\\(\\) ";
  const struct {
    unsigned w, h;  // of the peer
    std::vector<int> roi;
    std::string message;
  } rois[] = {
      {2,
       2,
       {2, 0, 2, 2},
       "Check failed: dstRoi\\[0\\] \\+ peer->width\\(\\) < width\\(\\) roi x=2, width=4"},
      {2,
       2,
       {0, 0, 2, 4},
       "Check failed: " + peer + "== dstRoi\\[3\\] && peer->width\\(\\) == dstRoi\\[2\\] "},
      {3, 2, {0, 0, 3, 2}, "Check failed: " + peer + "% 2 == 0 and peer->width\\(\\) % 2 == 0 "},
  };
  for (const auto& r : rois)
    EXPECT_DEATH(rgb->roi_copy_from(host_rgb(r.w, r.h).get(), r.roi, false), r.message);
  EXPECT_DEATH(host_rgb(1, 1)->downsample_2_from(rgb.get(), false),
               "Check failed: " + peer + "/ 2 <= height\\(\\) and peer->width\\(\\) / 2 <= width\\(\\) ");
}

}  // namespace
