// Image factories over host memory, platform memory and IPU tensors; FrameDetail.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "platform/Mmz.h"
#include "util/ResourceImage.h"

namespace {

using namespace imagetest;

class ProduceImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};

TEST_F(ProduceImageTest, HostImagesViewTheCapturedVectorAndResizeIt) {
  auto bytes = std::make_shared<std::vector<unsigned char>>();
  auto rgb = produce_ImageRgb(0, 0, bytes);
  rgb->reshape(4, 2);
  rgb->reset(1, 2, 3);  // planes R, G, B of 8 bytes each, right in the vector
  EXPECT_EQ(*bytes, (std::vector<unsigned char>{1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2,
                                                2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3}));
  EXPECT_EQ(rgb->phy(), 0u);
  rgb->reshape(6, 2);  // a new width alone is a new size
  EXPECT_EQ(bytes->size(), 36u);
  auto kept = std::make_shared<std::vector<unsigned char>>(20, 9);
  auto yuv = as<ImageYuv420sp>(produce_ImageYuv420sp(4, 2, kept));  // contents kept up to 12 bytes
  EXPECT_EQ(*kept, std::vector<unsigned char>(12, 9));
  yuv->reshape(6, 4);  // the new plane: stride 6, 4 Y rows, then 2 chroma rows
  EXPECT_EQ(kept->size(), 36u);
  EXPECT_EQ(yuv->uv_data(), kept->data() + 24);
  const auto& uv = *yuv->get_yuv().uv;
  EXPECT_EQ(std::make_tuple(uv.height, uv.width, uv.stride), std::make_tuple(2, 3, 3));  // in U,V pairs
}

TEST_F(ProduceImageTest, PlatformImagesAlign16ReuseTheirBlobAndRoundToPages) {
  auto before = MmzStatistics::Instance()->allocations();
  auto yuv = as<ImageYuv420sp>(produce_mmz_ImageYuv420sp(1280, 720, nullptr));
  EXPECT_EQ(MmzStatistics::Instance()->allocations(), before + 1);
  EXPECT_EQ(yuv->stride(), 1280u);
  EXPECT_EQ(yuv->get_yuv().image->height, 1080);
  EXPECT_EQ(yuv->get_yuv().image->phy_capacity, 1384448);            // 1280 * 1080 rounded up to 4096
  EXPECT_EQ(yuv->get_yuv().uv->phy_capacity, 1384448 - 1280 * 720);  // the U,V view: the rest of the block
  auto blob = std::make_shared<MmzBlob>();
  auto rgb = produce_mmz_ImageRgb(0, 0, blob);
  EXPECT_EQ(rgb->phy(), 0u);  // nothing allocated yet
  rgb->reshape(17, 3);
  EXPECT_EQ(rgb->stride(), 32u);
  EXPECT_EQ(blob->shape(), (std::vector<int>{3, 3, 17}));
  EXPECT_EQ(rgb->phy(), blob->memory()->phy_addr());
  EXPECT_EQ(produce_mmz_ImageYuv420sp(18, 4, nullptr)->stride(), 32u);
}

// An NV12 tensor of 8 x 4 over `buffer`.
std::shared_ptr<KAVO_MODEL_BLOB_INFO_S> tensor(std::vector<unsigned char>& buffer) {
  buffer.resize(8 * 4 * 3 / 2);
  auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
  info->enBlobType = MI_IPU_FORMAT_NV12;
  info->u32ShapeVec = {1, 4, 8, 3};  // N, H, W, C
  info->u32AlignedBufSize = static_cast<uint32_t>(buffer.size());
  info->pVirAddr = buffer.data();
  return info;
}

TEST_F(ProduceImageTest, Nv12OverATensorViewsItsBufferInPlace) {
  std::vector<unsigned char> buffer;
  auto img = produce_ImageYuv420sp(tensor(buffer));
  EXPECT_EQ(img->width(), 8u);
  EXPECT_EQ(img->height(), 4u);
  img->reset(255, 255, 255);
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ(buffer[8 * 4], 128);
}

using ProduceImageDeathTest = ProduceImageTest;

TEST_F(ProduceImageDeathTest, TensorImagesRefuseOtherSizesShapesAndFormats) {
  std::vector<unsigned char> buffer;
  auto info = tensor(buffer);
  EXPECT_DEATH(produce_ImageYuv420sp(info)->reshape(16, 8),
               "Check failed: w == 0 and h == 0 cannot be resized\\.");
  info->u32ShapeVec = {4, 8};
  EXPECT_DEATH(produce_ImageYuv420sp(info), "Check failed: pBlobInfo->u32ShapeVec.size\\(\\) >= 3 ");
  info->enBlobType = MI_IPU_FORMAT_U8;
  EXPECT_DEATH(produce_ImageYuv420sp(info), "Check failed: pBlobInfo->enBlobType == MI_IPU_FORMAT_NV12 ");
}

TEST_F(ProduceImageTest, RoiResizeScratchFitsBothEnginePathsAndRoisBeyondTheImage) {
  for (auto make : {produce_mmz_ImageYuv420sp, produce_mmz_ImageRgb}) {
    auto src = make(320, 180, nullptr);
    src->reset(10, 200, 30);
    for (const std::vector<float>& roi : std::vector<std::vector<float>>{{0.f, 0.f, 1.f, 1.f},
                                                                         {0.1f, 0.2f, 0.6f, 0.9f},
                                                                         {-0.3f, -0.2f, 1.4f, 1.1f},
                                                                         {0.5f, 0.5f, 0.52f, 0.53f}}) {
      auto dst = make(96, 64, nullptr);
      auto scratch = produce_roi_resize_scratch(*src, *dst, roi);
      dst->roi_resize_from(src.get(), roi, scratch, 0, 0, 0, false,
                           false);                                      // fatal when the scratch is short
      EXPECT_EQ(dst->data()[32 * dst->stride() + 48], src->data()[0]);  // R or Y, uniform inside the image
    }
  }
}

TEST(FrameDetailTest, MatchResolutionTakesTheFirstRatioWithinOnePercent) {
  using F = FrameDetail;
  EXPECT_EQ(F::match_resolution(1920, 1080), F::RATIO_16_TO_9);
  EXPECT_EQ(F::match_resolution(1280, 960), F::RATIO_4_TO_3);
  EXPECT_EQ(F::match_resolution(1080, 1920), F::RATIO_9_TO_16);
  EXPECT_EQ(F::match_resolution(720, 960), F::RATIO_3_TO_4);
  EXPECT_EQ(F::match_resolution(1000, 992), F::RATIO_1_TO_1);   // 1.0081
  EXPECT_EQ(F::match_resolution(1000, 990), F::RATIO_UNKNOWN);  // 1.0101
  EXPECT_EQ(F::match_resolution(100, 0), F::RATIO_UNKNOWN);
  EXPECT_EQ(F(42, 1600, 905)
                .toString()
                .find("FrameDetail: frameId=42, width/height=1600/905, ratio=RATIO_16_TO_9, "),
            0u);
  EXPECT_EQ(F::ratio_name(static_cast<F::ResolutionRatio>(99)), "RATIO_UNKNOWN");
}

TEST_F(ProduceImageDeathTest, OddNv12SizesAreRefused) {
  for (auto make :
       {+[] { produce_ImageYuv420sp(4, 3, nullptr); }, +[] { produce_mmz_ImageYuv420sp(5, 4, nullptr); }}) {
    EXPECT_DEATH(make(), "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ");
  }
}

}  // namespace
