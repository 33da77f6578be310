// IPU-backed blobs: line geometry from tensor shapes, quantisation both ways, NHWC -> NCHW, ROI
// assembly through the 2-D DMA in platform memory, images over input tensors, and the format checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "mi_test.h"
#include "platform/Mmz.h"
#include "util/BlobHisi.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"

namespace {

using testing::ElementsAreArray;
using Info = KAVO_MODEL_BLOB_INFO_S;

// A descriptor over `buf` (host memory unless `phy` is given). The buffer size only bounds the line's
// capacity check (and a flush of platform memory), so it is the block's or a generous one.
std::shared_ptr<Info> describe(MI_IPU_ELEMENT_FORMAT format, std::vector<uint32_t> shape,
                               uint32_t strideBytes, void* buf, float scale = 1, int64_t zeroPoint = 0,
                               uint64_t phy = 0, uint32_t size = 1u << 24) {
  return std::make_shared<Info>(Info{format, shape, strideBytes, 0, size, scale, zeroPoint, buf, phy, ""});
}

// Quantises `in` into a tensor of shape {n}, then dequantises it again.
template <typename Blob, typename T>
void expect_quantisation(MI_IPU_ELEMENT_FORMAT format, float scale, int64_t zeroPoint, std::vector<float> in,
                         std::vector<T> quantised, std::vector<float> dequantised) {
  std::vector<T> buf(in.size());
  std::vector<float> out(in.size());
  const int n = static_cast<int>(in.size());
  Blob blob(describe(format, {static_cast<uint32_t>(n)}, n * sizeof(T), buf.data(), scale, zeroPoint), 1,
            "q");
  blob.copy_from(in.data(), n);
  blob.copy_to(out.data(), n);
  EXPECT_THAT(buf, ElementsAreArray(quantised));
  EXPECT_THAT(out, ElementsAreArray(dequantised));
}

TEST(BlobSSCTest, QuantisesAndDequantisesAsComputedByHand) {
  // x / 0.5 + 128: -1 -> 126, 86 -> 300 -> low 8 bits 44, -100 -> -72 -> 0, 1 -> 130.
  expect_quantisation<BlobSSCU8, unsigned char>(MI_IPU_FORMAT_U8, 0.5f, 128, {-1, 86, -100, 1},
                                                {126, 44, 0, 130}, {-1, -42, -64, 1});
  // x / 0.25 - 3 toward zero: 37, 40000 -> -25536 (low 16 bits), -5.4 -> -5, -0.2 -> 0; back
  // sign-extended, (q + 3) x 0.25.
  expect_quantisation<BlobSSCInt16, short>(MI_IPU_FORMAT_INT16, 0.25f, -3, {10, 10000.75f, -0.6f, 0.7f},
                                           {37, -25536, -5, 0}, {10, -6383.25f, -0.5f, 0.75f});
  // 3e9 - 2^32; 1e30 saturates to 2^63 - 1 (low 32 bits all ones); NaN -> 0; -7.9 -> -7. The zero
  // point -2^31 is subtracted in 64 bits: 0 - (-2^31) = 2^31.
  expect_quantisation<BlobSSCInt32, int>(MI_IPU_FORMAT_INT32, 1, 0,
                                         {3e9f, 1e30f, std::numeric_limits<float>::quiet_NaN(), -7.9f},
                                         {-1294967296, -1, 0, -7}, {-1294967296.0f, -1, 0, -7});
  expect_quantisation<BlobSSCInt32, int>(MI_IPU_FORMAT_INT32, 1, -2147483648LL, {-2147483648.0f, 0},
                                         {0, -2147483647 - 1}, {2147483648.0f, 0});
}

TEST(BlobSSCTest, PaddedRowsAreSkippedBothWaysAndDistanceUsesRawElements) {
  // Shape (3, 2, 3, 5) with 16-byte rows: only the third-last dimension counts as planes, so 6 rows of
  // 5 used shorts and 3 padding shorts.
  std::vector<short> q(6 * 8), other(6 * 8);
  for (int i = 0; i < 6 * 8; ++i) q[i] = other[i] = static_cast<short>(i);
  BlobSSCInt16 blob(describe(MI_IPU_FORMAT_INT16, {3, 2, 3, 5}, 16, q.data(), 2.0f, 1), 1, "i16");
  BlobSSCInt16 peer(describe(MI_IPU_FORMAT_INT16, {1, 2, 3, 5}, 16, other.data(), 0.1f, -9), 2, "peer");
  other[0] -= 4, other[44] += 3, other[45] += 100;  // row 0; row 5, last used; padding
  EXPECT_EQ(blob.distance(peer), 5.0);
  std::vector<float> out(30), in(30, 9.0f);  // 9 / 2 + 1 = 5.5 -> 5
  blob.copy_to(out.data(), 30);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(out[i], (i / 5 * 8 + i % 5 - 1) * 2.0f) << i;
  blob.copy_from(in.data(), 30);
  for (int i = 0; i < 6 * 8; ++i) EXPECT_EQ(q[i], i % 8 < 5 ? 5 : i) << "padding untouched at " << i;
}

TEST(BlobSSCTest, ToFloatTransposesNhwcToNchw) {
  std::vector<int> q(24);
  for (int i = 0; i < 24; ++i) q[i] = i;  // value = (h * 3 + w) * 4 + c
  BlobSSCInt32 blob(describe(MI_IPU_FORMAT_INT32, {1, 2, 3, 4}, 16, q.data()), 1, "i32");
  auto nchw = blob.to_float(true);
  ASSERT_EQ(nchw->shape(), (std::vector<int>{1, 4, 2, 3}));
  for (int i = 0; i < 24; ++i) EXPECT_EQ(nchw->data[i], (i % 6 * 4) + i / 6) << i;  // i = c * 6 + h * 3 + w
}

// A peer of (1, 2, 3, 2) into a (1, 4, 6, 4) tensor in platform memory, against a plain loop.
template <typename Blob, typename T>
void expect_roi_copy(MI_IPU_ELEMENT_FORMAT format, int stride, int peerStride, std::vector<int> leftTop,
                     int offset) {
  MiSysInit();
  MmzMemory big(4 * 6 * stride * sizeof(T)), small(2 * 3 * peerStride * sizeof(T));
  T* b = reinterpret_cast<T*>(big.data());
  T* p = reinterpret_cast<T*>(small.data());
  for (int i = 0; i < 4 * 6 * stride; ++i) b[i] = static_cast<T>(-1 - i);
  for (int i = 0; i < 2 * 3 * peerStride; ++i) p[i] = static_cast<T>(1000 + i);
  std::vector<T> expected(b, b + 4 * 6 * stride);
  for (int i = 0; i < 2 * 3 * 2; ++i) {  // peer plane h, row w, channel c
    const int h = i / 6, w = i / 2 % 3, c = i % 2;
    expected[((leftTop[1] + h) * 6 + leftTop[0] + w) * stride + offset + c] = p[(h * 3 + w) * peerStride + c];
  }
  Blob dst(describe(format, {1, 4, 6, 4}, stride * sizeof(T), b, 1, 0, big.phy_addr()), 1, "big");
  Blob src(describe(format, {1, 2, 3, 2}, peerStride * sizeof(T), p, 1, 0, small.phy_addr()), 2, "small");
  MI_TEST_ResetCallLog();
  dst.copy_to_roi_from(&src, leftTop, offset, false);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), 2u) << "one 2-D copy per plane";
  EXPECT_THAT(std::vector<T>(b, b + 4 * 6 * stride), ElementsAreArray(expected));
}

TEST(BlobSSCTest, CopyToRoiFromUsesTheTwoDimensionalDma) {
  expect_roi_copy<BlobSSCFloat, float>(MI_IPU_FORMAT_FP32, 8, 4, {3, 2}, 2);
  expect_roi_copy<BlobSSCInt16, short>(MI_IPU_FORMAT_INT16, 12, 2, {3, 0}, 2);
  expect_roi_copy<BlobSSCInt32, int>(MI_IPU_FORMAT_INT32, 4, 3, {0, 2}, 0);
}

TEST(BlobSSCImageTest, InputTensorsAreViewsOfTheirBuffers) {
  MiSysInit();
  MmzMemory mem(1280 * 1080);
  unsigned char* y = mem.data();
  BlobSSCImage nv12(
      describe(MI_IPU_FORMAT_NV12, {1, 720, 1280, 3}, 1280, y, 1, 0, mem.phy_addr(), mem.capacity()), 4, "x");
  auto image = std::dynamic_pointer_cast<ImageYuv420sp>(nv12.image());
  ASSERT_TRUE(image && image->data() == y && image->width() == 1280 && image->height() == 720);
  std::memset(y, 0x55, 1280 * 1080);
  image->reset(0, 0, 0);  // black, written in the tensor buffer itself: 720 rows of Y, 360 of U,V
  EXPECT_EQ(std::vector<int>({y[0], y[1280 * 720 - 1], y[1280 * 720], y[1280 * 1080 - 1]}),
            std::vector<int>({0, 0, 128, 128}));
  BlobSSCImageBGR bgr(describe(MI_IPU_FORMAT_U8, {1, 4, 6, 3}, 3, y), 8, "x");
  auto rgb = std::dynamic_pointer_cast<ImageRgb>(bgr.image());
  ASSERT_TRUE(rgb && rgb->data() == y);
  EXPECT_EQ(std::vector<unsigned>({rgb->width(), rgb->height(), rgb->stride()}),
            std::vector<unsigned>({3, 6, 3}));
  BlobSSCARGB argb(describe(MI_IPU_FORMAT_ARGB8888, {1, 2, 8, 16}, 16, y), 1, "argb");
  EXPECT_EQ(dynamic_cast<const BlobPlane<unsigned char>&>(*argb.underneath()).highDimHS, 2);
}

TEST(BlobSSCDeathTest, FormatsLayoutsAndCountsAreChecked) {
  std::vector<int64_t> a(512), b(512);
  void* p = a.data();
  BlobSSCFloat big(describe(MI_IPU_FORMAT_FP32, {1, 4, 6, 4}, 16, p), 1, "big");
  BlobSSCFloat small(describe(MI_IPU_FORMAT_FP32, {1, 2, 3, 2}, 8, b.data()), 2, "small");
  BlobSSCInt16 i16(describe(MI_IPU_FORMAT_INT16, {2, 3}, 8, p), 1, "x");
  BlobSSCImage image(describe(MI_IPU_FORMAT_NV12, {1, 4, 8, 3}, 8, p), 1, "x");
  float values[6] = {};
  EXPECT_DEATH(BlobSSCARGB(describe(MI_IPU_FORMAT_INT16, {8}, 8, p), 1, "x"),
               "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_ARGB8888 ");
  EXPECT_DEATH(BlobSSCARGB(describe(MI_IPU_FORMAT_ARGB8888, {6, 16}, 16, p), 1, "x"),
               "Check failed: hwc_height % 4 == 0 ");
  EXPECT_DEATH(BlobSSCABGR(describe(MI_IPU_FORMAT_ABGR8888, {8, 16}, 32, p), 1, "x"),
               "Check failed: pBlobInfo->u32StrideBytes == hwc_width ");
  EXPECT_DEATH(BlobSSCImageBGR(describe(MI_IPU_FORMAT_U8, {1, 4, 4, 3}, 4, p), 1, "x"),
               "Check failed: stride == channel ");
  EXPECT_DEATH(image.image()->reshape(16, 8), "cannot allocate memory for KAVO_MODEL_BLOB_INFO_S");
  EXPECT_DEATH(
      i16.copy_to(values, 5),
      "Check failed: dstPara \\+ cnt == dst cnt: 5, highDimHS = 1, height = 2, stride = 4, width = 3");
  EXPECT_DEATH(i16.copy_from(values, 7), "Check failed: srcPara \\+ cnt == src ");
  EXPECT_DEATH(big.copy_to_roi_from(&small, {0, 0}, 1, false),
               "Check failed: channel_offset == 0 or channel_offset == peerC ");
  EXPECT_DEATH(big.copy_to_roi_from(&small, {0, 0}, 0, false), "Not Implemented.");  // host memory
}

}  // namespace
