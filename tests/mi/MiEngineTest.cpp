// Tests of the image engine and the scaler in the platform SDK stand-in (MI_IVE, MI_SCL): handles,
// the crop windows they hand to their pixel code, colour conversion in every row, limits and error
// codes. The resize, scaling and conversion arithmetic itself is libyuv's and is not retested here,
// except the engine's own path for reductions by three, which must give libyuv's bytes; the
// accelerated primitives' tests compare resizes and integral images with plain references.
#include <gtest/gtest.h>
#include <libyuv.h>

#include <functional>
#include <memory>
#include <vector>

#include "mi/MiTestUtil.h"
#include "mi_ive.h"
#include "mi_scl.h"
#include "mi_test.h"

namespace {

const bool kPrivateArena = use_private_arena("MiEngineTest");

// An engine image in emulated physical memory: planes lie one after another in one block, with
// spare rows after the last, all filled with random bytes; strides count elements of the image type.
class EngineImage {
 public:
  EngineImage(MI_IVE_ImageType_e type, uint16_t width, uint16_t height, uint16_t stride) : desc_{} {
    desc_.eType = type;
    desc_.u16Width = width;
    desc_.u16Height = height;
    const int planes = type == E_MI_IVE_IMAGE_TYPE_YUV420SP      ? 2
                       : type == E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR ? 3
                                                                 : 1;
    const uint32_t elem = type == E_MI_IVE_IMAGE_TYPE_U32C1 ? 4 : 1;
    block_ = std::make_unique<TestBlock>(stride * elem * (3 * height + 1));
    uint32_t offset = 0;
    for (int k = 0; k < planes; ++k) {
      desc_.u16Stride[k] = stride;
      desc_.u64PhyAddr[k] = block_->phy() + offset;
      desc_.pu8VirAddr[k] = block_->data() + offset;
      offset += stride * rows(k) * elem;
    }
    fill_random(block_->data(), block_->size(), width * 131 + height);
  }

  int rows(int plane) const {
    return desc_.eType == E_MI_IVE_IMAGE_TYPE_YUV420SP && plane == 1 ? desc_.u16Height / 2 : desc_.u16Height;
  }
  // Byte at (x, y) of an 8-bit plane; x counts bytes.
  uint8_t& at(int plane, int x, int y) { return desc_.pu8VirAddr[plane][y * desc_.u16Stride[plane] + x]; }
  // The whole block: pixels, padding and the spare row.
  std::vector<uint8_t> bytes() const { return {block_->data(), block_->data() + block_->size()}; }
  const MI_IVE_Image_t* desc() const { return &desc_; }

 private:
  MI_IVE_Image_t desc_;
  std::unique_ptr<TestBlock> block_;
};

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

constexpr MI_IVE_HANDLE kHandle = 5;

class MiIveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPrivateArena);
    MI_TEST_ClearFaults();
    ASSERT_EQ(MI_IVE_Create(kHandle), MI_SUCCESS);
  }
  void TearDown() override { EXPECT_EQ(MI_IVE_Destroy(kHandle), MI_SUCCESS); }

  MI_S32 resize(const MI_IVE_Image_t& src, const MI_IVE_Image_t& dst, int mode) {
    MI_IVE_ResizeCtrl_t ctrl{static_cast<MI_IVE_ResizeMode_e>(mode)};
    return MI_IVE_Resize(kHandle, &src, &dst, &ctrl, 1);
  }
  MI_S32 csc(const MI_IVE_Image_t& src, const MI_IVE_Image_t& dst, int mode) {
    MI_IVE_CscCtrl_t ctrl{static_cast<MI_IVE_CscMode_e>(mode)};
    return MI_IVE_Csc(kHandle, &src, &dst, &ctrl, 1);
  }
  MI_S32 integ(const MI_IVE_Image_t& src, const MI_IVE_Image_t& dst) {
    MI_IVE_IntegCtrl_t ctrl{E_MI_IVE_INTEG_OUT_CTRL_SUM};
    return MI_IVE_Integ(kHandle, &src, &dst, &ctrl, 1);
  }
};

TEST(MiIveHandleTest, HandlesAreCreatedOnceAndDestroyedOnce) {
  ASSERT_TRUE(kPrivateArena);
  EXPECT_EQ(MI_IVE_Create(0), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Create(0), MI_ERR_IVE_EXIST);
  EXPECT_EQ(MI_IVE_Create(127), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Create(128), MI_ERR_IVE_INVALID_HANDLE);
  EXPECT_EQ(MI_IVE_Destroy(0), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Destroy(0), MI_ERR_IVE_UNEXIST);
  EXPECT_EQ(MI_IVE_Destroy(127), MI_SUCCESS);
  MI_IVE_CscCtrl_t ctrl{E_MI_IVE_CSC_TYPE_YUV2RGB};
  EXPECT_EQ(MI_IVE_Csc(9, nullptr, nullptr, &ctrl, 1), MI_ERR_IVE_UNEXIST);
}

TEST_F(MiIveTest, CscConvertsEveryRowAndKnownColours) {
  // Taller than the internal strip: rows beyond the first strip are converted too. Grey stays grey;
  // Y 76, U 85, V 255 is red.
  EngineImage src(E_MI_IVE_IMAGE_TYPE_YUV420SP, 4, 38, 4), dst(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 4, 38, 5);
  for (int y = 0; y < 38; ++y)
    for (int x = 0; x < 4; ++x) src.at(0, x, y) = static_cast<uint8_t>(y < 36 ? y * 6 : 76);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 4; ++x) src.at(1, x, y) = y < 18 ? 128 : x % 2 ? 255 : 85;
  ASSERT_EQ(csc(*src.desc(), *dst.desc(), E_MI_IVE_CSC_TYPE_YUV2RGB), MI_SUCCESS);
  for (int y = 0; y < 36; ++y) EXPECT_NEAR(dst.at(1, 3, y), y * 6, 1) << y;
  EXPECT_NEAR(dst.at(0, 0, 37), 255, 2);
  EXPECT_NEAR(dst.at(1, 0, 37), 0, 2);
  EXPECT_NEAR(dst.at(2, 0, 37), 0, 2);
  // And back: red planes give Y 76, U 85, V 255 in every row of every strip.
  EngineImage red(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 4, 38, 4), back(E_MI_IVE_IMAGE_TYPE_YUV420SP, 4, 38, 6);
  for (int k = 0; k < 3; ++k)
    for (int y = 0; y < 38; ++y)
      for (int x = 0; x < 4; ++x) red.at(k, x, y) = k ? 0 : 255;
  ASSERT_EQ(csc(*red.desc(), *back.desc(), E_MI_IVE_CSC_TYPE_RGB2YUV), MI_SUCCESS);
  for (int y = 0; y < 19; ++y) {
    EXPECT_NEAR(back.at(0, 3, 2 * y + 1), 76, 1) << y;
    EXPECT_NEAR(back.at(1, 2, y), 85, 2) << y;
    EXPECT_NEAR(back.at(1, 3, y), 255, 2) << y;
  }
}

TEST_F(MiIveTest, EngineAndScalerRefuseBadDescriptionsAndLargeSources) {
  EngineImage u8(E_MI_IVE_IMAGE_TYPE_U8C1, 8, 6, 8), nv12(E_MI_IVE_IMAGE_TYPE_YUV420SP, 8, 6, 8);
  EngineImage rgb4(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 8, 4, 8);
  EngineImage wide(E_MI_IVE_IMAGE_TYPE_U8C1, 1921, 2, 1921), tall(E_MI_IVE_IMAGE_TYPE_U8C1, 2, 1081, 2);
  EngineImage widest(E_MI_IVE_IMAGE_TYPE_U8C1, 1920, 2, 1920);
  EngineImage bigNv(E_MI_IVE_IMAGE_TYPE_YUV420SP, 1922, 2, 1922),
      bigRgb(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 1922, 2, 1922);
  EngineImage wideSums(E_MI_IVE_IMAGE_TYPE_U32C1, 1921, 2, 1921),
      byteSums(E_MI_IVE_IMAGE_TYPE_U32C1, 32, 6, 32);
  MI_IVE_Image_t stride7 = *u8.desc(), pastBlock = *u8.desc(), truncated = *u8.desc(), odd = *nv12.desc();
  stride7.u16Stride[0] = 7;
  pastBlock.u64PhyAddr[0] += 4096 - 40;  // the last rows run past the end of the block
  truncated.u64PhyAddr[0] &= 0xFFFFFFFFu;
  odd.u16Width = 7;
  const int kU8 = E_MI_IVE_RESIZE_TYPE_U8C1;
  // The scaler reduces at most 6 times across and 4 times down; crops are even and inside.
  EngineImage src(E_MI_IVE_IMAGE_TYPE_YUV420SP, 64, 32, 64), dst(E_MI_IVE_IMAGE_TYPE_YUV420SP, 4, 4, 4);
  MI_SCL_DirectBuf_t s = direct(src), d = direct(dst), i8 = s, narrow = d, lost = d;
  i8.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  narrow.u32Stride[1] = 2;
  lost.phyAddr[1] = 0x12345000;
  auto scl = [&](const MI_SCL_DirectBuf_t* a, const MI_SCL_DirectBuf_t* b, uint16_t x, uint16_t y, uint16_t w,
                 uint16_t h) {
    MI_SYS_WindowRect_t crop{x, y, w, h};
    return MI_SCL_StretchBuf(a, &crop, b, E_MI_SCL_FILTER_TYPE_BILINEAR);
  };
  struct Row {
    const char* name;
    std::function<MI_S32()> call;
    MI_S32 code;
  } rows[] = {
      {"null", [&] { return MI_IVE_Resize(kHandle, nullptr, u8.desc(), nullptr, 1); }, MI_ERR_IVE_NULL_PTR},
      {"type and mode", [&] { return resize(*u8.desc(), *nv12.desc(), kU8); }, MI_ERR_IVE_ILLEGAL_PARAM},
      {"stride", [&] { return resize(stride7, *u8.desc(), kU8); }, MI_ERR_IVE_ILLEGAL_PARAM},
      {"past block", [&] { return resize(pastBlock, *u8.desc(), kU8); }, MI_ERR_IVE_UNEXIST},
      {"truncated", [&] { return resize(*u8.desc(), truncated, kU8); }, MI_ERR_IVE_UNEXIST},
      {"odd nv12", [&] { return resize(odd, *nv12.desc(), E_MI_IVE_RESIZE_TYPE_YUV420SP); },
       MI_ERR_IVE_ILLEGAL_PARAM},
      {"1921 wide", [&] { return resize(*wide.desc(), *u8.desc(), kU8); }, MI_ERR_IVE_SIZE_LIMIT},
      {"1081 tall", [&] { return resize(*tall.desc(), *u8.desc(), kU8); }, MI_ERR_IVE_SIZE_LIMIT},
      {"1920 wide", [&] { return resize(*widest.desc(), *u8.desc(), kU8); }, MI_SUCCESS},
      {"csc sizes", [&] { return csc(*nv12.desc(), *rgb4.desc(), E_MI_IVE_CSC_TYPE_YUV2RGB); },
       MI_ERR_IVE_ILLEGAL_PARAM},
      {"csc large", [&] { return csc(*bigNv.desc(), *bigRgb.desc(), E_MI_IVE_CSC_TYPE_YUV2RGB); },
       MI_ERR_IVE_SIZE_LIMIT},
      {"integ bytes", [&] { return integ(*u8.desc(), *byteSums.desc()); }, MI_ERR_IVE_ILLEGAL_PARAM},
      {"integ large", [&] { return integ(*wide.desc(), *wideSums.desc()); }, MI_ERR_IVE_SIZE_LIMIT},
      {"scl i8", [&] { return scl(&i8, &d, 0, 0, 8, 4); }, MI_ERR_SCL_NOT_SUPPORT},
      {"scl stride", [&] { return scl(&s, &narrow, 0, 0, 8, 4); }, MI_ERR_SCL_ILLEGAL_PARAM},
      {"scl lost", [&] { return scl(&s, &lost, 0, 0, 8, 4); }, MI_ERR_SCL_UNEXIST},
      {"odd x", [&] { return scl(&s, &d, 1, 0, 8, 4); }, MI_ERR_SCL_ILLEGAL_PARAM},
      {"odd w", [&] { return scl(&s, &d, 0, 0, 7, 4); }, MI_ERR_SCL_ILLEGAL_PARAM},
      {"past right", [&] { return scl(&s, &d, 58, 0, 8, 4); }, MI_ERR_SCL_ILLEGAL_PARAM},
      {"past bottom", [&] { return scl(&s, &d, 0, 30, 8, 4); }, MI_ERR_SCL_ILLEGAL_PARAM},
      {"6 x 4", [&] { return scl(&s, &d, 0, 0, 24, 16); }, MI_SUCCESS},
      {"6.5 across", [&] { return scl(&s, &d, 0, 0, 26, 16); }, MI_ERR_SCL_SIZE_LIMIT},
      {"4.5 down", [&] { return scl(&s, &d, 0, 0, 24, 18); }, MI_ERR_SCL_SIZE_LIMIT},
  };
  for (const Row& row : rows) EXPECT_EQ(row.call(), row.code) << row.name;
}

TEST_F(MiIveTest, ScalerCropOfTheDestinationSizeIsCopiedExactly) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_YUV420SP, 14, 10, 17), dst(E_MI_IVE_IMAGE_TYPE_YUV420SP, 6, 4, 9);
  const uint8_t pad = dst.at(0, 6, 1);
  MI_SCL_DirectBuf_t s = direct(src), d = direct(dst);
  MI_SYS_WindowRect_t crop{4, 2, 6, 4};
  ASSERT_EQ(MI_SCL_StretchBuf(&s, &crop, &d, E_MI_SCL_FILTER_TYPE_BILINEAR), MI_SUCCESS);
  for (int k = 0; k < 2; ++k)
    for (int y = 0; y < dst.rows(k); ++y)
      for (int x = 0; x < 6; ++x)
        EXPECT_EQ(dst.at(k, x, y), src.at(k, 4 + x, 2 / (k + 1) + y)) << k << x << y;
  EXPECT_EQ(dst.at(0, 6, 1), pad);
}

// Reductions by exactly three take the engine's own sampling path; they, and near misses that do
// not, must leave the destination's whole block as libyuv leaves a twin of it.
TEST_F(MiIveTest, ReductionsByThreeGiveLibyuvBytes) {
  struct Case {
    const char* name;
    MI_IVE_ImageType_e type;
    uint16_t sw, sh, sStride, dw, dh, dStride;
    int scl;  // 0: engine resize; else the scaler with this filter
  } cases[] = {
      {"1080p", E_MI_IVE_IMAGE_TYPE_YUV420SP, 1920, 1080, 1920, 640, 360, 672, 0},
      {"near miss", E_MI_IVE_IMAGE_TYPE_YUV420SP, 1920, 1080, 1920, 640, 362, 640, 0},
      {"four across", E_MI_IVE_IMAGE_TYPE_YUV420SP, 1920, 1080, 1920, 480, 360, 480, 0},
      {"row tails", E_MI_IVE_IMAGE_TYPE_YUV420SP, 150, 90, 160, 50, 30, 53, 0},
      {"odd plane", E_MI_IVE_IMAGE_TYPE_U8C1, 45, 27, 47, 15, 9, 15, 0},
      {"plane miss", E_MI_IVE_IMAGE_TYPE_U8C1, 45, 27, 47, 16, 9, 16, 0},
      {"planar rgb", E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 96, 48, 96, 32, 16, 40, 0},
      {"scaler", E_MI_IVE_IMAGE_TYPE_YUV420SP, 150, 90, 160, 50, 30, 56, E_MI_SCL_FILTER_TYPE_BILINEAR},
      {"nearest", E_MI_IVE_IMAGE_TYPE_YUV420SP, 150, 90, 164, 50, 30, 50, E_MI_SCL_FILTER_TYPE_NEAREST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Images of one size start with the same bytes.
    EngineImage src(c.type, c.sw, c.sh, c.sStride), dst(c.type, c.dw, c.dh, c.dStride),
        want(c.type, c.dw, c.dh, c.dStride);
    uint8_t* const* s = src.desc()->pu8VirAddr;
    uint8_t* const* w = want.desc()->pu8VirAddr;
    const bool nv = c.type == E_MI_IVE_IMAGE_TYPE_YUV420SP;
    if (nv) {
      libyuv::NV12Scale(
          s[0], c.sStride, s[1], c.sStride, c.sw, c.sh, w[0], c.dStride, w[1], c.dStride, c.dw, c.dh,
          c.scl == E_MI_SCL_FILTER_TYPE_NEAREST ? libyuv::kFilterNone : libyuv::kFilterBilinear);
    } else {
      for (int k = 0; k < (c.type == E_MI_IVE_IMAGE_TYPE_U8C1 ? 1 : 3); ++k)
        libyuv::ScalePlane(s[k], c.sStride, c.sw, c.sh, w[k], c.dStride, c.dw, c.dh, libyuv::kFilterBilinear);
    }
    if (c.scl) {
      MI_SCL_DirectBuf_t sb = direct(src), db = direct(dst);
      ASSERT_EQ(MI_SCL_StretchBuf(&sb, nullptr, &db, static_cast<MI_SCL_FilterType_e>(c.scl)), MI_SUCCESS);
    } else {
      const int mode = nv                                   ? E_MI_IVE_RESIZE_TYPE_YUV420SP
                       : c.type == E_MI_IVE_IMAGE_TYPE_U8C1 ? E_MI_IVE_RESIZE_TYPE_U8C1
                                                            : E_MI_IVE_RESIZE_TYPE_U8C3_PLANAR;
      ASSERT_EQ(resize(*src.desc(), *dst.desc(), mode), MI_SUCCESS);
    }
    EXPECT_TRUE(dst.bytes() == want.bytes());
  }
}

}  // namespace
