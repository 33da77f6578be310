// Tests of MI_SCL in the platform SDK stand-in: NV12 crop windows, the reduction limits of one call,
// argument checks and the retry code (the scaling arithmetic is libyuv's).
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
  EngineImage src = nv12(14, 10, 17), dst = nv12(6, 4, 9), whole = nv12(14, 10, 15);
  const uint8_t pad = dst.at(0, 6, 1);
  ASSERT_EQ(stretch(src, {4, 2, 6, 4}, dst), MI_SUCCESS);
  for (int k = 0; k < 2; ++k)
    for (int y = 0; y < dst.rows(k); ++y)
      for (int x = 0; x < 6; ++x)
        EXPECT_EQ(dst.at(k, x, y), src.at(k, 4 + x, 2 / (k + 1) + y)) << k << x << y;
  EXPECT_EQ(dst.at(0, 6, 1), pad);
  // No crop window: the whole source.
  MI_SCL_DirectBuf_t s = direct(src), d = direct(whole);
  ASSERT_EQ(MI_SCL_StretchBuf(&s, nullptr, &d, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_SUCCESS);
  EXPECT_EQ(whole.at(0, 13, 9), src.at(0, 13, 9));
  EXPECT_EQ(whole.at(1, 13, 4), src.at(1, 13, 4));
}

TEST_F(MiSclTest, RefusesBadBuffersCropsAndReductionsBeyondSixAcrossAndFourDown) {
  EngineImage src = nv12(64, 32, 64), dst = nv12(4, 4, 4), up = nv12(40, 30, 48);
  MI_SCL_DirectBuf_t s = direct(src), d = direct(dst), i8 = s, narrow = d, lost = d;
  i8.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  narrow.u32Stride[1] = 2;
  lost.phyAddr[1] = 0x12345000;
  MI_SYS_WindowRect_t crop{0, 0, 8, 4};
  auto call = [&](const MI_SCL_DirectBuf_t* a, const MI_SCL_DirectBuf_t* b, int filter) {
    return MI_SCL_StretchBuf(a, &crop, b, static_cast<MI_SCL_FilterType_e>(filter));
  };
  const int kBilinear = E_MI_SCL_FILTER_TYPE_BILINEAR;
  EXPECT_EQ(call(nullptr, &d, kBilinear), MI_ERR_SCL_NULL_PTR);
  EXPECT_EQ(call(&s, &d, 9), MI_ERR_SCL_NOT_SUPPORT);
  EXPECT_EQ(call(&i8, &d, kBilinear), MI_ERR_SCL_NOT_SUPPORT);
  EXPECT_EQ(call(&s, &narrow, kBilinear), MI_ERR_SCL_ILLEGAL_PARAM);
  EXPECT_EQ(call(&s, &lost, kBilinear), MI_ERR_SCL_UNEXIST);
  const struct {
    MI_SYS_WindowRect_t crop;
    MI_S32 code;
  } crops[] = {{{1, 0, 8, 4}, MI_ERR_SCL_ILLEGAL_PARAM},  {{0, 0, 7, 4}, MI_ERR_SCL_ILLEGAL_PARAM},
               {{58, 0, 8, 4}, MI_ERR_SCL_ILLEGAL_PARAM}, {{0, 30, 8, 4}, MI_ERR_SCL_ILLEGAL_PARAM},
               {{0, 0, 0, 4}, MI_ERR_SCL_ILLEGAL_PARAM},  {{0, 0, 24, 16}, MI_SUCCESS},
               {{0, 0, 26, 16}, MI_ERR_SCL_SIZE_LIMIT},   {{0, 0, 24, 18}, MI_ERR_SCL_SIZE_LIMIT}};
  for (const auto& c : crops)
    EXPECT_EQ(stretch(src, c.crop, dst), c.code) << c.crop.u16X << " " << c.crop.u16Width;
  EXPECT_EQ(stretch(src, {0, 0, 4, 2}, up), MI_SUCCESS) << "enlargement is not limited";
}

}  // namespace
