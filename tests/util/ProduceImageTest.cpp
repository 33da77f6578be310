// Image factories over host memory, platform memory and IPU tensors; FrameDetail.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "util/ResourceImage.h"

namespace {

using namespace imagetest;

TEST(ProduceImageTest, HostImagesViewTheCapturedVectorAndResizeIt) {
  auto bytes = std::make_shared<std::vector<unsigned char>>();
  auto rgb = produce_ImageRgb(0, 0, bytes);
  rgb->reshape(4, 2);
  rgb->reset(1, 2, 3);  // planes R, G, B of 8 bytes each, right in the vector
  EXPECT_EQ(*bytes, (std::vector<unsigned char>{1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2,
                                                2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3}));
  rgb->reshape(6, 2);  // a new width alone is a new size
  EXPECT_EQ(bytes->size(), 36u);
  auto kept = std::make_shared<std::vector<unsigned char>>(20, 9);
  auto yuv = as<ImageYuv420sp>(produce_ImageYuv420sp(4, 2, kept));  // contents kept up to 12 bytes
  EXPECT_EQ(*kept, std::vector<unsigned char>(12, 9));
  yuv->reshape(6, 4);  // the new plane: stride 6, 4 Y rows, then 2 chroma rows
  EXPECT_EQ(yuv->uv_data(), kept->data() + 24);
  const auto& uv = *yuv->get_yuv().uv;
  EXPECT_EQ(std::make_tuple(kept->size(), uv.height, uv.width, uv.stride), std::make_tuple(36u, 2, 3, 3));
}

TEST(ProduceImageTest, PlatformImagesAlign16ReuseTheirBlobAndRoundToPages) {
  auto before = MmzStatistics::Instance()->allocations();
  auto yuv = as<ImageYuv420sp>(produce_mmz_ImageYuv420sp(1280, 720, nullptr));
  EXPECT_EQ(MmzStatistics::Instance()->allocations(), before + 1);
  EXPECT_EQ(yuv->stride() * yuv->get_yuv().image->height, 1280u * 1080);
  EXPECT_EQ(yuv->get_yuv().image->phy_capacity, 1384448);            // 1280 * 1080 rounded up to 4096
  EXPECT_EQ(yuv->get_yuv().uv->phy_capacity, 1384448 - 1280 * 720);  // the U,V view: the rest of the block
  auto blob = std::make_shared<MmzBlob>();
  auto rgb = produce_mmz_ImageRgb(0, 0, blob);
  EXPECT_EQ(rgb->phy(), 0u);  // nothing allocated yet
  rgb->reshape(17, 3);
  EXPECT_EQ(blob->shape(), (std::vector<int>{3, 3, 17}));  // stride 32 on the platform
  EXPECT_EQ(rgb->stride(), 32u);
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

TEST(ProduceImageTest, Nv12OverATensorViewsItsBufferInPlace) {
  std::vector<unsigned char> buffer;
  auto img = produce_ImageYuv420sp(tensor(buffer));
  EXPECT_EQ(img->width() * 10 + img->height(), 84u);
  img->reset(255, 255, 255);
  EXPECT_EQ(buffer[8 * 4 - 1] * 1000 + buffer[8 * 4], 255128);  // the last Y, the first U
}

TEST(ProduceImageDeathTest, TensorAndOddNv12ImagesAreRefused) {
  const std::string odd = "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ";
  EXPECT_DEATH(produce_ImageYuv420sp(4, 3, nullptr), odd);
  EXPECT_DEATH(produce_mmz_ImageYuv420sp(5, 4, nullptr), odd);
  std::vector<unsigned char> buffer;
  auto info = tensor(buffer);
  EXPECT_DEATH(produce_ImageYuv420sp(info)->reshape(16, 8),
               "Check failed: w == 0 and h == 0 cannot be resized\\.");
  info->u32ShapeVec = {4, 8};
  EXPECT_DEATH(produce_ImageYuv420sp(info), "Check failed: pBlobInfo->u32ShapeVec.size\\(\\) >= 3 ");
  info->enBlobType = MI_IPU_FORMAT_U8;
  EXPECT_DEATH(produce_ImageYuv420sp(info), "Check failed: pBlobInfo->enBlobType == MI_IPU_FORMAT_NV12 ");
}

// The rows of the first plane (R or Y; the engine may round chroma by one).
std::vector<Bytes> luma(const ImageBase& img) {
  std::vector<Bytes> out = rows(img);
  out.resize(img.height());
  return out;
}

// A uniform image resized on the engine, padded with its own colour: every pixel keeps it, whichever
// part of the ROI lies outside. The scratch is sized by produce_roi_resize_scratch (short is fatal).
TEST(ProduceImageTest, EngineResizesWithAScratchThatFitsRoisBeyondTheImage) {
  for (auto make : {produce_mmz_ImageYuv420sp, produce_mmz_ImageRgb}) {
    auto src = make(320, 180, nullptr), want = make(96, 64, nullptr), resized = make(96, 64, nullptr);
    src->reset(10, 200, 30);
    want->reset(10, 200, 30);
    resized->resize_from(src.get(), false, false);
    EXPECT_EQ(luma(*resized), luma(*want));
    const std::vector<float> rois[] = {{0.f, 0.f, 1.f, 1.f},
                                       {0.1f, 0.2f, 0.6f, 0.9f},
                                       {-0.3f, -0.2f, 1.4f, 1.1f},
                                       {0.5f, 0.5f, 0.52f, 0.53f}};
    for (const std::vector<float>& roi : rois) {
      SCOPED_TRACE(testing::Message() << roi[0] << "," << roi[1] << "," << roi[2] << "," << roi[3]);
      auto dst = make(96, 64, nullptr);
      auto scratch = produce_roi_resize_scratch(*src, *dst, roi);
      dst->roi_resize_from(src.get(), roi, scratch, 10, 200, 30, false, false);
      EXPECT_EQ(luma(*dst), luma(*want));
    }
  }
}

TEST(FrameDetailTest, MatchResolutionTakesTheFirstRatioWithinOnePercent) {
  using F = FrameDetail;
  const std::pair<std::pair<int, int>, F::ResolutionRatio> sizes[] = {
      {{1920, 1080}, F::RATIO_16_TO_9}, {{1280, 960}, F::RATIO_4_TO_3}, {{1080, 1920}, F::RATIO_9_TO_16},
      {{720, 960}, F::RATIO_3_TO_4},    {{1000, 992}, F::RATIO_1_TO_1},  // 1.0081, then 1.0101
      {{1000, 990}, F::RATIO_UNKNOWN},  {{100, 0}, F::RATIO_UNKNOWN}};
  for (const auto& row : sizes)
    EXPECT_EQ(F::match_resolution(row.first.first, row.first.second), row.second)
        << row.first.first << "x" << row.first.second;
  EXPECT_EQ(F::ratio_name(static_cast<F::ResolutionRatio>(99)), "RATIO_UNKNOWN");
}

}  // namespace
