// Tests of MI_SCL in the platform SDK stand-in: NV12 crop and scale, the reduction limits of one call,
// argument checks and the retry code.
#include <gtest/gtest.h>

#include "mi/MiEngineImage.h"
#include "mi_scl.h"
#include "mi_test.h"

namespace {

const bool kPrivateArena = use_private_arena("MiSclTest");

MI_SCL_DirectBuf_t direct(const EngineImage& img) {
  MI_SCL_DirectBuf_t b{};
  b.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
  b.u32Width = img.desc()->u16Width;
  b.u32Height = img.desc()->u16Height;
  b.u32Stride[0] = img.desc()->u16Stride[0];
  b.u32Stride[1] = img.desc()->u16Stride[1];
  b.phyAddr[0] = img.desc()->u64PhyAddr[0];
  b.phyAddr[1] = img.desc()->u64PhyAddr[1];
  return b;
}

EngineImage nv12(uint16_t w, uint16_t h, uint16_t stride) {
  return EngineImage(E_MI_IVE_IMAGE_TYPE_YUV420SP, w, h, stride);
}

MI_S32 stretch(const EngineImage& src, MI_SYS_WindowRect_t crop, const EngineImage& dst) {
  MI_SCL_DirectBuf_t s = direct(src);
  MI_SCL_DirectBuf_t d = direct(dst);
  return MI_SCL_StretchBuf(&s, &crop, &d, E_MI_SCL_FILTER_TYPE_BILINEAR);
}

class MiSclTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPrivateArena);
    MI_TEST_ClearFaults();
  }
};

TEST_F(MiSclTest, CropOfTheDestinationSizeIsCopiedExactly) {
  EngineImage src = nv12(14, 10, 17);
  EngineImage dst = nv12(6, 4, 9);
  uint8_t pad = dst.at(0, 6, 1);
  ASSERT_EQ(stretch(src, {4, 2, 6, 4}, dst), MI_SUCCESS);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(dst.at(0, x, y), src.at(0, 4 + x, 2 + y)) << "Y " << x << "," << y;
  }
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(dst.at(1, x, y), src.at(1, 4 + x, 1 + y)) << "UV " << x << "," << y;
  }
  EXPECT_EQ(dst.at(0, 6, 1), pad);
}

TEST_F(MiSclTest, HalvingACropAveragesTwoByTwoBlocks) {
  EngineImage src = nv12(16, 12, 16);
  EngineImage dst = nv12(4, 4, 6);
  ASSERT_EQ(stretch(src, {2, 4, 8, 8}, dst), MI_SUCCESS);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      int sx = 2 + 2 * x, sy = 4 + 2 * y;
      int sum = src.at(0, sx, sy) + src.at(0, sx + 1, sy) + src.at(0, sx, sy + 1) + src.at(0, sx + 1, sy + 1);
      EXPECT_NEAR(dst.at(0, x, y), (sum + 2) / 4, 1) << x << "," << y;
    }
  }
}

TEST_F(MiSclTest, ReductionLimitsAreSixTimesAcrossAndFourTimesDown) {
  EngineImage src = nv12(64, 32, 64);
  EngineImage dst = nv12(4, 4, 4);
  EXPECT_EQ(stretch(src, {0, 0, 24, 16}, dst), MI_SUCCESS);
  EXPECT_EQ(stretch(src, {0, 0, 26, 16}, dst), MI_ERR_SCL_SIZE_LIMIT);
  EXPECT_EQ(stretch(src, {0, 0, 24, 18}, dst), MI_ERR_SCL_SIZE_LIMIT);
  EngineImage up = nv12(40, 30, 48);
  EXPECT_EQ(stretch(src, {0, 0, 4, 2}, up), MI_SUCCESS) << "enlargement is not limited";
}

TEST_F(MiSclTest, NullCropMeansTheWholeSource) {
  EngineImage src = nv12(8, 6, 8);
  EngineImage dst = nv12(8, 6, 10);
  MI_SCL_DirectBuf_t s = direct(src);
  MI_SCL_DirectBuf_t d = direct(dst);
  ASSERT_EQ(MI_SCL_StretchBuf(&s, nullptr, &d, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_SUCCESS);
  EXPECT_EQ(dst.at(0, 7, 5), src.at(0, 7, 5));
  EXPECT_EQ(dst.at(1, 7, 2), src.at(1, 7, 2));
}

TEST_F(MiSclTest, RefusesBadBuffersAndCrops) {
  EngineImage src = nv12(16, 8, 16);
  EngineImage dst = nv12(8, 4, 8);
  MI_SCL_DirectBuf_t s = direct(src);
  MI_SCL_DirectBuf_t d = direct(dst);
  MI_SYS_WindowRect_t crop{0, 0, 8, 4};
  EXPECT_EQ(MI_SCL_StretchBuf(nullptr, &crop, &d, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_ERR_SCL_NULL_PTR);
  EXPECT_EQ(MI_SCL_StretchBuf(&s, &crop, &d, static_cast<MI_SCL_FilterType_e>(9)), MI_ERR_SCL_NOT_SUPPORT);
  MI_SCL_DirectBuf_t i8 = s;
  i8.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  EXPECT_EQ(MI_SCL_StretchBuf(&i8, &crop, &d, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_ERR_SCL_NOT_SUPPORT);
  EXPECT_EQ(stretch(src, {1, 0, 8, 4}, dst), MI_ERR_SCL_ILLEGAL_PARAM) << "odd x";
  EXPECT_EQ(stretch(src, {0, 0, 7, 4}, dst), MI_ERR_SCL_ILLEGAL_PARAM) << "odd width";
  EXPECT_EQ(stretch(src, {10, 0, 8, 4}, dst), MI_ERR_SCL_ILLEGAL_PARAM) << "beyond the right edge";
  EXPECT_EQ(stretch(src, {0, 6, 8, 4}, dst), MI_ERR_SCL_ILLEGAL_PARAM) << "beyond the bottom";
  EXPECT_EQ(stretch(src, {0, 0, 0, 4}, dst), MI_ERR_SCL_ILLEGAL_PARAM);
  MI_SCL_DirectBuf_t narrow = d;
  narrow.u32Stride[1] = 6;
  EXPECT_EQ(MI_SCL_StretchBuf(&s, &crop, &narrow, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_ERR_SCL_ILLEGAL_PARAM);
  MI_SCL_DirectBuf_t lost = d;
  lost.phyAddr[1] = 0x12345000;
  EXPECT_EQ(MI_SCL_StretchBuf(&s, &crop, &lost, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_ERR_SCL_UNEXIST);
}

TEST_F(MiSclTest, RetryCodeCanBeInjectedForSeveralCalls) {
  EngineImage src = nv12(8, 4, 8);
  EngineImage dst = nv12(8, 4, 8);
  MI_TEST_ResetCallLog();
  ASSERT_EQ(MI_TEST_InjectFault("MI_SCL_StretchBuf", MI_ERR_SCL_RETRY, 0, 3), MI_SUCCESS);
  int calls = 1;
  MI_S32 ret;
  while ((ret = stretch(src, {0, 0, 8, 4}, dst)) == static_cast<MI_S32>(0xA009201Fu)) ++calls;
  EXPECT_EQ(ret, MI_SUCCESS);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SCL_StretchBuf"), 4u);
  EXPECT_EQ(dst.at(0, 5, 3), src.at(0, 5, 3));
}

}  // namespace
