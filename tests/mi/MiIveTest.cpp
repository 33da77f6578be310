// Tests of MI_IVE in the platform SDK stand-in: handles, resize, colour conversion and integral image
// against plain references on small odd sizes with strides wider than widths, limits and error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "mi/MiEngineImage.h"
#include "mi_ive.h"
#include "mi_test.h"

namespace {

const bool kPrivateArena = use_private_arena("MiIveTest");

constexpr MI_IVE_HANDLE kHandle = 5;

class MiIveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPrivateArena);
    MI_TEST_ClearFaults();
    ASSERT_EQ(MI_IVE_Create(kHandle), MI_SUCCESS);
  }
  void TearDown() override { EXPECT_EQ(MI_IVE_Destroy(kHandle), MI_SUCCESS); }

  MI_S32 resize(const EngineImage& src, const EngineImage& dst, MI_IVE_ResizeMode_e mode) {
    MI_IVE_ResizeCtrl_t ctrl{mode};
    return MI_IVE_Resize(kHandle, src.desc(), dst.desc(), &ctrl, 1);
  }
  MI_S32 csc(const EngineImage& src, const EngineImage& dst, MI_IVE_CscMode_e mode) {
    MI_IVE_CscCtrl_t ctrl{mode};
    return MI_IVE_Csc(kHandle, src.desc(), dst.desc(), &ctrl, 1);
  }
  MI_S32 integ(const EngineImage& src, const EngineImage& dst) {
    MI_IVE_IntegCtrl_t ctrl{E_MI_IVE_INTEG_OUT_CTRL_SUM};
    return MI_IVE_Integ(kHandle, src.desc(), dst.desc(), &ctrl, 1);
  }
};

// Plain bilinear sample with centre-aligned pixel grids, clamped at the edges.
double bilinear(EngineImage& img, int plane, int channels, int c, double sx, double sy, int w, int h) {
  sx = std::clamp(sx, 0.0, w - 1.0);
  sy = std::clamp(sy, 0.0, h - 1.0);
  int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
  int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
  double fx = sx - x0, fy = sy - y0;
  auto v = [&](int x, int y) { return static_cast<double>(img.at(plane, x * channels + c, y)); };
  return (v(x0, y0) * (1 - fx) + v(x1, y0) * fx) * (1 - fy) + (v(x0, y1) * (1 - fx) + v(x1, y1) * fx) * fy;
}

// Largest difference between dst and the bilinear reference of src (w x h elements of `channels`).
int max_resize_error(EngineImage& src, int srcPlane, EngineImage& dst, int dstPlane, int channels, int sw,
                     int sh, int dw, int dh) {
  int worst = 0;
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      for (int c = 0; c < channels; ++c) {
        double sx = (x + 0.5) * sw / dw - 0.5;
        double sy = (y + 0.5) * sh / dh - 0.5;
        double want = bilinear(src, srcPlane, channels, c, sx, sy, sw, sh);
        worst = std::max(
            worst, std::abs(dst.at(dstPlane, x * channels + c, y) - static_cast<int>(std::lround(want))));
      }
    }
  }
  return worst;
}

void fill_smooth(EngineImage& img, int plane, int w, int h, int ax, int ay, int b) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      img.at(plane, x, y) = static_cast<uint8_t>(std::clamp(ax * x + ay * y + b, 0, 255));
  }
}

TEST(MiIveHandleTest, HandlesAreCreatedOnceAndDestroyedOnce) {
  ASSERT_TRUE(kPrivateArena);
  EXPECT_EQ(MI_IVE_Create(0), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Create(0), MI_ERR_IVE_EXIST);
  EXPECT_EQ(MI_IVE_Create(127), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Create(128), MI_ERR_IVE_INVALID_HANDLE);
  EXPECT_EQ(MI_IVE_Create(-1), MI_ERR_IVE_INVALID_HANDLE);
  EXPECT_EQ(MI_IVE_Destroy(0), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Destroy(0), MI_ERR_IVE_UNEXIST);
  EXPECT_EQ(MI_IVE_Destroy(127), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Destroy(128), MI_ERR_IVE_INVALID_HANDLE);
  EXPECT_EQ(MI_IVE_Create(0), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Destroy(0), MI_SUCCESS);
}

TEST(MiIveHandleTest, OperationsNeedALiveHandle) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 4, 4, 4);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C1, 4, 4, 4);
  MI_IVE_ResizeCtrl_t ctrl{E_MI_IVE_RESIZE_TYPE_U8C1};
  EXPECT_EQ(MI_IVE_Resize(9, src.desc(), dst.desc(), &ctrl, 1), MI_ERR_IVE_UNEXIST);
  EXPECT_EQ(MI_IVE_Resize(200, src.desc(), dst.desc(), &ctrl, 1), MI_ERR_IVE_INVALID_HANDLE);
}

TEST_F(MiIveTest, ResizeToTheSameSizeCopiesExactly) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 7, 5, 9);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C1, 7, 5, 11);
  ASSERT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_SUCCESS);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) ASSERT_EQ(dst.at(0, x, y), src.at(0, x, y)) << x << "," << y;
  }
}

TEST_F(MiIveTest, ResizeByHalfAveragesTwoByTwoBlocksAndKeepsPaddingBytes) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 14, 10, 17);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C1, 7, 5, 9);
  uint8_t pad = dst.at(0, 7, 2);
  ASSERT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_SUCCESS);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      int sum = src.at(0, 2 * x, 2 * y) + src.at(0, 2 * x + 1, 2 * y) + src.at(0, 2 * x, 2 * y + 1) +
                src.at(0, 2 * x + 1, 2 * y + 1);
      EXPECT_NEAR(dst.at(0, x, y), (sum + 2) / 4, 1) << x << "," << y;
    }
  }
  EXPECT_EQ(dst.at(0, 7, 2), pad) << "bytes between width and stride stay untouched";
}

TEST_F(MiIveTest, ResizeFollowsBilinearReferenceOnSmoothImages) {
  struct Row {
    const char* name;
    int sw, sh, dw, dh;
  } rows[] = {{"down 13x11 -> 7x5", 13, 11, 7, 5},
              {"down 31x7 -> 5x3", 31, 7, 5, 3},
              {"up 5x3 -> 13x8", 5, 3, 13, 8}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, r.sw, r.sh, r.sw + 3);
    EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C1, r.dw, r.dh, r.dw + 5);
    fill_smooth(src, 0, r.sw, r.sh, 3, 5, 10);
    ASSERT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_SUCCESS);
    EXPECT_LE(max_resize_error(src, 0, dst, 0, 1, r.sw, r.sh, r.dw, r.dh), 2);
  }
}

TEST_F(MiIveTest, ResizeOfThreePlanesTreatsEachPlaneAlone) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 9, 7, 12);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 5, 4, 6);
  for (int k = 0; k < 3; ++k) fill_smooth(src, k, 9, 7, k + 1, 2 * k + 1, 40 * k);
  ASSERT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_U8C3_PLANAR), MI_SUCCESS);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_LE(max_resize_error(src, k, dst, k, 1, 9, 7, 5, 4), 2);
  }
}

TEST_F(MiIveTest, ResizeOfNv12ScalesLumaAndInterleavedChroma) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_YUV420SP, 12, 8, 20);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_YUV420SP, 6, 4, 10);
  ASSERT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_YUV420SP), MI_SUCCESS);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      int sum = src.at(0, 2 * x, 2 * y) + src.at(0, 2 * x + 1, 2 * y) + src.at(0, 2 * x, 2 * y + 1) +
                src.at(0, 2 * x + 1, 2 * y + 1);
      EXPECT_NEAR(dst.at(0, x, y), (sum + 2) / 4, 1) << "Y " << x << "," << y;
    }
  }
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      for (int c = 0; c < 2; ++c) {
        int sum = src.at(1, 4 * x + c, 2 * y) + src.at(1, 4 * x + 2 + c, 2 * y) +
                  src.at(1, 4 * x + c, 2 * y + 1) + src.at(1, 4 * x + 2 + c, 2 * y + 1);
        EXPECT_NEAR(dst.at(1, 2 * x + c, y), (sum + 2) / 4, 1) << "UV " << x << "," << y << " c" << c;
      }
    }
  }
}

TEST_F(MiIveTest, ResizeRefusesSourcesBeyondTheEngineLimit) {
  EngineImage wide(E_MI_IVE_IMAGE_TYPE_U8C1, 1921, 2, 1921);
  EngineImage tall(E_MI_IVE_IMAGE_TYPE_U8C1, 2, 1081, 2);
  EngineImage widest(E_MI_IVE_IMAGE_TYPE_U8C1, 1920, 2, 1920);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C1, 2, 2, 2);
  EXPECT_EQ(resize(wide, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_ERR_IVE_SIZE_LIMIT);
  EXPECT_EQ(resize(tall, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_ERR_IVE_SIZE_LIMIT);
  EXPECT_EQ(resize(widest, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_SUCCESS);
}

TEST_F(MiIveTest, ResizeRefusesBadDescriptions) {
  EngineImage u8(E_MI_IVE_IMAGE_TYPE_U8C1, 8, 6, 8);
  EngineImage nv12(E_MI_IVE_IMAGE_TYPE_YUV420SP, 8, 6, 8);
  MI_IVE_ResizeCtrl_t ctrl{E_MI_IVE_RESIZE_TYPE_U8C1};
  EXPECT_EQ(MI_IVE_Resize(kHandle, nullptr, u8.desc(), &ctrl, 1), MI_ERR_IVE_NULL_PTR);
  EXPECT_EQ(MI_IVE_Resize(kHandle, u8.desc(), u8.desc(), nullptr, 1), MI_ERR_IVE_NULL_PTR);
  EXPECT_EQ(resize(u8, nv12, E_MI_IVE_RESIZE_TYPE_U8C1), MI_ERR_IVE_ILLEGAL_PARAM)
      << "type differs from mode";
  EXPECT_EQ(resize(u8, u8, static_cast<MI_IVE_ResizeMode_e>(2)), MI_ERR_IVE_NOT_SUPPORT);
  MI_IVE_Image_t bad = u8.copy();
  bad.u16Stride[0] = 7;
  EXPECT_EQ(MI_IVE_Resize(kHandle, &bad, u8.desc(), &ctrl, 1), MI_ERR_IVE_ILLEGAL_PARAM) << "stride < width";
  bad = u8.copy();
  bad.u16Width = 0;
  EXPECT_EQ(MI_IVE_Resize(kHandle, &bad, u8.desc(), &ctrl, 1), MI_ERR_IVE_ILLEGAL_PARAM);
  bad = u8.copy();
  bad.u64PhyAddr[0] += 4096 - 40;  // the last rows run past the end of the block
  EXPECT_EQ(MI_IVE_Resize(kHandle, &bad, u8.desc(), &ctrl, 1), MI_ERR_IVE_UNEXIST)
      << "plane outside its block";
  bad = u8.copy();
  bad.u64PhyAddr[0] &= 0xFFFFFFFFu;
  EXPECT_EQ(MI_IVE_Resize(kHandle, u8.desc(), &bad, &ctrl, 1), MI_ERR_IVE_UNEXIST) << "truncated address";
  MI_IVE_Image_t odd = nv12.copy();
  odd.u16Width = 7;
  MI_IVE_ResizeCtrl_t nvCtrl{E_MI_IVE_RESIZE_TYPE_YUV420SP};
  EXPECT_EQ(MI_IVE_Resize(kHandle, &odd, nv12.desc(), &nvCtrl, 1), MI_ERR_IVE_ILLEGAL_PARAM);
}

// Full-range BT.601, the reference for the conversions.
void yuv_to_rgb(int y, int u, int v, double rgb[3]) {
  rgb[0] = y + 1.402 * (v - 128);
  rgb[1] = y - 0.344136 * (u - 128) - 0.714136 * (v - 128);
  rgb[2] = y + 1.772 * (u - 128);
  for (int c = 0; c < 3; ++c) rgb[c] = std::clamp(rgb[c], 0.0, 255.0);
}

TEST_F(MiIveTest, CscConvertsNv12ToRgbPlanes) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_YUV420SP, 10, 6, 13);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 10, 6, 11);
  // Known colours in the first block: grey and the NV12 of pure red.
  for (int i = 0; i < 2; ++i) {
    src.at(0, i, 0) = src.at(0, i, 1) = 128;
    src.at(0, 2 + i, 0) = src.at(0, 2 + i, 1) = 76;
  }
  src.at(1, 0, 0) = src.at(1, 1, 0) = 128;
  src.at(1, 2, 0) = 85;
  src.at(1, 3, 0) = 255;
  ASSERT_EQ(csc(src, dst, E_MI_IVE_CSC_TYPE_YUV2RGB), MI_SUCCESS);
  EXPECT_NEAR(dst.at(0, 0, 0), 128, 1);
  EXPECT_NEAR(dst.at(1, 0, 0), 128, 1);
  EXPECT_NEAR(dst.at(2, 0, 0), 128, 1);
  EXPECT_NEAR(dst.at(0, 2, 0), 255, 2);
  EXPECT_NEAR(dst.at(1, 2, 0), 0, 2);
  EXPECT_NEAR(dst.at(2, 2, 0), 0, 2);
  int worst = 0;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      double rgb[3];
      yuv_to_rgb(src.at(0, x, y), src.at(1, x / 2 * 2, y / 2), src.at(1, x / 2 * 2 + 1, y / 2), rgb);
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(dst.at(c, x, y) - static_cast<int>(std::lround(rgb[c]))));
    }
  }
  EXPECT_LE(worst, 3);
}

TEST_F(MiIveTest, CscConvertsRgbPlanesToNv12WithBlockAveragedChroma) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 10, 6, 12);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_YUV420SP, 10, 6, 14);
  ASSERT_EQ(csc(src, dst, E_MI_IVE_CSC_TYPE_RGB2YUV), MI_SUCCESS);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      double want = 0.299 * src.at(0, x, y) + 0.587 * src.at(1, x, y) + 0.114 * src.at(2, x, y);
      EXPECT_NEAR(dst.at(0, x, y), want, 1.0) << x << "," << y;
    }
  }
  for (int by = 0; by < 3; ++by) {
    for (int bx = 0; bx < 5; ++bx) {
      double rgb[3] = {};
      for (int c = 0; c < 3; ++c) {
        for (int d = 0; d < 4; ++d) rgb[c] += src.at(c, 2 * bx + d % 2, 2 * by + d / 2) / 4.0;
      }
      double u = -0.168736 * rgb[0] - 0.331264 * rgb[1] + 0.5 * rgb[2] + 128;
      double v = 0.5 * rgb[0] - 0.418688 * rgb[1] - 0.081312 * rgb[2] + 128;
      EXPECT_NEAR(dst.at(1, 2 * bx, by), u, 2.0) << "U " << bx << "," << by;
      EXPECT_NEAR(dst.at(1, 2 * bx + 1, by), v, 2.0) << "V " << bx << "," << by;
    }
  }
}

TEST_F(MiIveTest, CscConvertsTallImagesInEveryRow) {
  // Taller than the internal strip: rows beyond the first strip are converted too.
  EngineImage src(E_MI_IVE_IMAGE_TYPE_YUV420SP, 4, 38, 4);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 4, 38, 4);
  for (int y = 0; y < 38; ++y) {
    for (int x = 0; x < 4; ++x) src.at(0, x, y) = static_cast<uint8_t>(y * 6);
  }
  for (int y = 0; y < 19; ++y) {
    for (int x = 0; x < 4; ++x) src.at(1, x, y) = 128;
  }
  ASSERT_EQ(csc(src, dst, E_MI_IVE_CSC_TYPE_YUV2RGB), MI_SUCCESS);
  for (int y = 0; y < 38; ++y) EXPECT_NEAR(dst.at(1, 3, y), y * 6, 1) << y;
}

TEST_F(MiIveTest, CscRefusesMismatchedSizesModesAndLargeSources) {
  EngineImage nv12(E_MI_IVE_IMAGE_TYPE_YUV420SP, 8, 6, 8);
  EngineImage rgb(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 8, 4, 8);
  EXPECT_EQ(csc(nv12, rgb, E_MI_IVE_CSC_TYPE_YUV2RGB), MI_ERR_IVE_ILLEGAL_PARAM);
  EngineImage rgb6(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 8, 6, 8);
  EXPECT_EQ(csc(nv12, rgb6, E_MI_IVE_CSC_TYPE_RGB2YUV), MI_ERR_IVE_ILLEGAL_PARAM) << "types reversed";
  EXPECT_EQ(csc(nv12, rgb6, static_cast<MI_IVE_CscMode_e>(1)), MI_ERR_IVE_NOT_SUPPORT);
  EngineImage big(E_MI_IVE_IMAGE_TYPE_YUV420SP, 1922, 2, 1922);
  EngineImage bigRgb(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, 1922, 2, 1922);
  EXPECT_EQ(csc(big, bigRgb, E_MI_IVE_CSC_TYPE_YUV2RGB), MI_ERR_IVE_SIZE_LIMIT);
}

TEST_F(MiIveTest, IntegIsTheInclusiveSumOfRowsAndColumnsAbove) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 3, 2, 5);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U32C1, 3, 2, 4);
  const uint8_t px[2][3] = {{1, 2, 3}, {4, 5, 6}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) src.at(0, x, y) = px[y][x];
  }
  uint32_t pad = dst.at32(3, 0);
  ASSERT_EQ(integ(src, dst), MI_SUCCESS);
  const uint32_t want[2][3] = {{1, 3, 6}, {5, 12, 21}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst.at32(x, y), want[y][x]) << x << "," << y;
  }
  EXPECT_EQ(dst.at32(3, 0), pad);
}

TEST_F(MiIveTest, IntegMatchesAPlainSumOnOddSizes) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 37, 23, 41);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U32C1, 37, 23, 39);
  ASSERT_EQ(integ(src, dst), MI_SUCCESS);
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) {
      uint32_t sum = 0;
      for (int r = 0; r <= y; ++r) {
        for (int c = 0; c <= x; ++c) sum += src.at(0, c, r);
      }
      ASSERT_EQ(dst.at32(x, y), sum) << x << "," << y;
    }
  }
}

TEST_F(MiIveTest, IntegOfTheLargestWhiteSourceFitsIn32Bits) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 1920, 1080, 1920);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U32C1, 1920, 1080, 1920);
  std::fill(src.desc()->pu8VirAddr[0], src.desc()->pu8VirAddr[0] + 1920 * 1080, 255);
  ASSERT_EQ(integ(src, dst), MI_SUCCESS);
  EXPECT_EQ(dst.at32(1919, 1079), 255u * 1920u * 1080u);
  EXPECT_EQ(dst.at32(0, 1079), 255u * 1080u);
}

TEST_F(MiIveTest, IntegRefusesBadShapesControlsAndLargeSources) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 8, 4, 8);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U32C1, 8, 4, 8);
  EngineImage wideDst(E_MI_IVE_IMAGE_TYPE_U32C1, 32, 4, 32);
  EngineImage u8Dst(E_MI_IVE_IMAGE_TYPE_U8C1, 8, 4, 8);
  EXPECT_EQ(integ(src, wideDst), MI_ERR_IVE_ILLEGAL_PARAM) << "width counts elements, not bytes";
  EXPECT_EQ(integ(src, u8Dst), MI_ERR_IVE_ILLEGAL_PARAM);
  MI_IVE_IntegCtrl_t ctrl{static_cast<MI_IVE_IntegOutCtrl_e>(0)};
  EXPECT_EQ(MI_IVE_Integ(kHandle, src.desc(), dst.desc(), &ctrl, 1), MI_ERR_IVE_NOT_SUPPORT);
  EngineImage big(E_MI_IVE_IMAGE_TYPE_U8C1, 1921, 1, 1921);
  EngineImage bigDst(E_MI_IVE_IMAGE_TYPE_U32C1, 1921, 1, 1921);
  EXPECT_EQ(integ(big, bigDst), MI_ERR_IVE_SIZE_LIMIT);
}

TEST_F(MiIveTest, InjectedFaultsReturnTheirCodeWithoutWriting) {
  EngineImage src(E_MI_IVE_IMAGE_TYPE_U8C1, 4, 4, 4);
  EngineImage dst(E_MI_IVE_IMAGE_TYPE_U8C1, 4, 4, 4);
  uint8_t before = dst.at(0, 0, 0);
  src.at(0, 0, 0) = static_cast<uint8_t>(before + 1);
  MI_TEST_ResetCallLog();
  ASSERT_EQ(MI_TEST_FailNext("MI_IVE_Resize", 0x77), MI_SUCCESS);
  EXPECT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_U8C1), 0x77);
  EXPECT_EQ(dst.at(0, 0, 0), before);
  EXPECT_EQ(resize(src, dst, E_MI_IVE_RESIZE_TYPE_U8C1), MI_SUCCESS);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_IVE_Resize"), 2u);
  ASSERT_EQ(MI_TEST_FailNext("MI_IVE_Create", MI_ERR_IVE_EXIST), MI_SUCCESS);
  EXPECT_EQ(MI_IVE_Create(kHandle + 1), MI_ERR_IVE_EXIST);
  EXPECT_EQ(MI_IVE_Destroy(kHandle + 1), MI_ERR_IVE_UNEXIST) << "the faulted create made nothing";
}

}  // namespace
