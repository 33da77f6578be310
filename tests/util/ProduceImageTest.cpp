// Image factories over host memory, platform memory and IPU tensors; ResourceImage; FrameDetail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nn/ssc/kavo_ipu_common.h"
#include "platform/Mmz.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"
#include "util/ResourceImage.h"

namespace {

class ProduceImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};

TEST_F(ProduceImageTest, HostRgbGrowsTheCapturedVector) {
  auto bytes = std::make_shared<std::vector<unsigned char>>();
  auto img = produce_ImageRgb(0, 0, bytes);
  ASSERT_TRUE(std::dynamic_pointer_cast<ImageRgb>(img));
  EXPECT_EQ(img->width(), 0u);
  EXPECT_EQ(img->phy(), 0u);
  img->reshape(4, 2);
  EXPECT_EQ(bytes->size(), 24u);
  EXPECT_EQ(img->data(), bytes->data());
  EXPECT_EQ(img->stride(), 4u);
  img->reset(1, 2, 3);
  EXPECT_EQ((*bytes)[0], 1);
  EXPECT_EQ((*bytes)[8], 2);
  EXPECT_EQ((*bytes)[23], 3);
}

TEST_F(ProduceImageTest, HostVectorKeepsItsContentsUpToTheNewSize) {
  auto bytes = std::make_shared<std::vector<unsigned char>>(
      std::vector<unsigned char>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  auto img = produce_ImageYuv420sp(4, 2, bytes);
  ASSERT_TRUE(std::dynamic_pointer_cast<ImageYuv420sp>(img));
  EXPECT_EQ(bytes->size(), 12u);
  EXPECT_EQ(img->data()[0], 9);
  EXPECT_EQ(img->height(), 2u);
}

TEST_F(ProduceImageTest, PlatformNv12IsOneBlockRoundedToPages) {
  auto before = MmzStatistics::Instance()->allocations();
  auto img = produce_mmz_ImageYuv420sp(1280, 720, nullptr);
  auto yuv = std::dynamic_pointer_cast<ImageYuv420sp>(img);
  ASSERT_TRUE(yuv);
  EXPECT_EQ(MmzStatistics::Instance()->allocations(), before + 1);
  EXPECT_EQ(img->stride(), 1280u);
  EXPECT_NE(img->phy(), 0u);
  EXPECT_EQ(yuv->get_yuv().image->height, 1080);
  EXPECT_EQ(yuv->get_yuv().image->phy_capacity, 1384448);  // 1280 * 1080 rounded up to 4096
}

TEST_F(ProduceImageTest, PlatformImagesAlign16AndReuseTheirBlob) {
  auto blob = std::make_shared<MmzBlob>();
  auto img = produce_mmz_ImageRgb(0, 0, blob);
  EXPECT_EQ(img->phy(), 0u);  // nothing allocated yet
  img->reshape(17, 3);
  EXPECT_EQ(img->stride(), 32u);
  EXPECT_EQ(blob->shape(), (std::vector<int>{3, 3, 17}));
  EXPECT_EQ(img->phy(), blob->memory()->phy_addr());
  auto yuv = produce_mmz_ImageYuv420sp(18, 4, nullptr);
  EXPECT_EQ(yuv->stride(), 32u);
  EXPECT_EQ(yuv->height(), 4u);
}

TEST_F(ProduceImageTest, Nv12OverATensorViewsItsBufferInPlace) {
  std::vector<unsigned char> buffer(8 * 4 * 3 / 2);
  auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
  info->enBlobType = MI_IPU_FORMAT_NV12;
  info->u32ShapeVec = {1, 4, 8, 3};  // N, H, W, C
  info->u32AlignedBufSize = static_cast<uint32_t>(buffer.size());
  info->pVirAddr = buffer.data();
  auto img = produce_ImageYuv420sp(info);
  EXPECT_EQ(img->width(), 8u);
  EXPECT_EQ(img->height(), 4u);
  EXPECT_EQ(img->data(), buffer.data());
  img->reset(255, 255, 255);
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ(buffer[8 * 4], 128);
  img->reshape(8, 4);  // its own size: nothing to do
  EXPECT_EQ(img->data(), buffer.data());
}

TEST_F(ProduceImageTest, RoiResizeScratchFitsBothEnginePathsAndRoisBeyondTheImage) {
  const std::vector<std::vector<float>> rois = {
      {0.f, 0.f, 1.f, 1.f}, {0.1f, 0.2f, 0.6f, 0.9f}, {-0.3f, -0.2f, 1.4f, 1.1f}, {0.5f, 0.5f, 0.52f, 0.53f}};
  auto yuvSrc = produce_mmz_ImageYuv420sp(320, 180, nullptr);
  auto rgbSrc = produce_mmz_ImageRgb(320, 180, nullptr);
  yuvSrc->reset(10, 200, 30);
  rgbSrc->reset(10, 200, 30);
  for (const auto& roi : rois) {
    SCOPED_TRACE(testing::Message() << roi[0] << "," << roi[1] << "," << roi[2] << "," << roi[3]);
    auto yuvDst = produce_mmz_ImageYuv420sp(96, 64, nullptr);
    auto scratch = produce_roi_resize_scratch(*yuvSrc, *yuvDst, roi);
    yuvDst->roi_resize_from(yuvSrc.get(), roi, scratch, 0, 0, 0, false, false);
    auto rgbDst = produce_mmz_ImageRgb(96, 64, nullptr);
    scratch = produce_roi_resize_scratch(*rgbSrc, *rgbDst, roi);
    rgbDst->roi_resize_from(rgbSrc.get(), roi, scratch, 0, 0, 0, false, false);
    EXPECT_EQ(std::dynamic_pointer_cast<ImageRgb>(rgbDst)->plane_data(1)[32 * rgbDst->stride() + 48], 200);
  }
}

TEST_F(ProduceImageTest, ResourceImageKeepsItsImageThroughCleaning) {
  auto img = produce_ImageRgb(2, 2, nullptr);
  ResourceImage res(4, "RESOURCE_SMALL_IMAGE", "none", img);
  EXPECT_EQ(res.resId(), 4u);
  EXPECT_EQ(res.resName(), "RESOURCE_SMALL_IMAGE");
  res.clean_content();
  EXPECT_EQ(res.image(), img);
  auto other = produce_ImageYuv420sp(2, 2, nullptr);
  res.set_image(other);
  EXPECT_EQ(res.image(), other);
}

TEST(FrameDetailTest, MatchResolutionUsesTheTableOrderWithinOnePercent) {
  EXPECT_EQ(FrameDetail::match_resolution(1920, 1080), FrameDetail::RATIO_16_TO_9);
  EXPECT_EQ(FrameDetail::match_resolution(1280, 960), FrameDetail::RATIO_4_TO_3);
  EXPECT_EQ(FrameDetail::match_resolution(1080, 1920), FrameDetail::RATIO_9_TO_16);
  EXPECT_EQ(FrameDetail::match_resolution(720, 960), FrameDetail::RATIO_3_TO_4);
  EXPECT_EQ(FrameDetail::match_resolution(512, 512), FrameDetail::RATIO_1_TO_1);
  EXPECT_EQ(FrameDetail::match_resolution(100, 0), FrameDetail::RATIO_UNKNOWN);
  EXPECT_EQ(FrameDetail::match_resolution(0, 0), FrameDetail::RATIO_UNKNOWN);
  EXPECT_EQ(FrameDetail::match_resolution(640, 360), FrameDetail::RATIO_16_TO_9);
  EXPECT_EQ(FrameDetail::match_resolution(1000, 992), FrameDetail::RATIO_1_TO_1);       // 1.0081
  EXPECT_EQ(FrameDetail::match_resolution(1000, 990), FrameDetail::RATIO_UNKNOWN);      // 1.0101
  EXPECT_EQ(FrameDetail::match_resolution(1600, 900 + 5), FrameDetail::RATIO_16_TO_9);  // 1.7680
}

TEST(FrameDetailTest, DetailCarriesItsRatioAndTheWholeImageBox) {
  FrameDetail detail(42, 1920, 1080);
  EXPECT_EQ(detail.ratio, FrameDetail::RATIO_16_TO_9);
  EXPECT_EQ(detail.box.vec(true), (std::vector<float>{0.f, 0.f, 1.f, 1.f}));
  const std::string text = detail.toString();
  EXPECT_THAT(text, testing::HasSubstr("frameId=42"));
  EXPECT_THAT(text, testing::HasSubstr("RATIO_16_TO_9"));
  EXPECT_THAT(text, testing::HasSubstr("Bounding Box: xs,ys = "));
  EXPECT_EQ(FrameDetail::ratio_name(FrameDetail::RATIO_3_TO_4), "RATIO_3_TO_4");
  EXPECT_EQ(FrameDetail::ratio_name(static_cast<FrameDetail::ResolutionRatio>(99)), "RATIO_UNKNOWN");
}

using ProduceImageDeathTest = ProduceImageTest;

TEST_F(ProduceImageDeathTest, TensorImagesRefuseOtherFormatsShapesAndSizes) {
  std::vector<unsigned char> buffer(8 * 4 * 3 / 2);
  auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
  info->enBlobType = MI_IPU_FORMAT_NV12;
  info->u32ShapeVec = {1, 4, 8, 3};
  info->u32AlignedBufSize = static_cast<uint32_t>(buffer.size());
  info->pVirAddr = buffer.data();
  auto img = produce_ImageYuv420sp(info);
  EXPECT_DEATH(img->reshape(16, 8), "Check failed: w == 0 and h == 0 cannot be resized\\.");
  info->u32ShapeVec = {4, 8};
  EXPECT_DEATH(produce_ImageYuv420sp(info), "Check failed: pBlobInfo->u32ShapeVec.size\\(\\) >= 3 ");
  info->enBlobType = MI_IPU_FORMAT_U8;
  EXPECT_DEATH(produce_ImageYuv420sp(info), "Check failed: pBlobInfo->enBlobType == MI_IPU_FORMAT_NV12 ");
}

TEST_F(ProduceImageDeathTest, OddNv12SizesAreRefused) {
  EXPECT_DEATH(produce_ImageYuv420sp(4, 3, nullptr),
               "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ");
  EXPECT_DEATH(produce_mmz_ImageYuv420sp(5, 4, nullptr),
               "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ");
}

}  // namespace
