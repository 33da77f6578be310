// IPU-backed blobs: line geometry from tensor shapes, quantisation both ways (with wrap and a non-zero
// zero point), NHWC -> NCHW, ROI assembly through the 2-D DMA, and the format checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "mi_test.h"
#include "platform/Mmz.h"
#include "util/BlobHisi.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

std::shared_ptr<KAVO_MODEL_BLOB_INFO_S> describe(MI_IPU_ELEMENT_FORMAT format, std::vector<uint32_t> shape,
                                                 uint32_t strideBytes, void* vir, uint64_t phy,
                                                 uint32_t bufSize, float scale = 1.0f,
                                                 int64_t zeroPoint = 0) {
  auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
  info->enBlobType = format;
  info->u32ShapeVec = std::move(shape);
  info->u32StrideBytes = strideBytes;
  info->u32AlignedBufSize = bufSize;
  info->fScalar = scale;
  info->s64ZeroPoint = zeroPoint;
  info->pVirAddr = vir;
  info->u64PhyAddr = phy;
  return info;
}

// A tensor buffer in host memory (8-byte aligned).
struct HostBuffer {
  explicit HostBuffer(size_t bytes) : words((bytes + 7) / 8, 0) {}
  void* data() { return words.data(); }
  uint32_t size() const { return static_cast<uint32_t>(words.size() * 8); }
  std::vector<int64_t> words;
};

template <typename T>
const BlobPlane<T>& plane_of(const FeatureMapInterface<T>& blob) {
  return dynamic_cast<const BlobPlane<T>&>(*blob.underneath());
}

TEST(BlobSSCTest, U8QuantisesWithZeroPointAndWraps) {
  HostBuffer buf(4);
  auto info = describe(MI_IPU_FORMAT_U8, {4}, 4, buf.data(), 0, buf.size(), 0.5f, 128);
  BlobSSCU8 blob(info, 1, "u8");
  const float in[4] = {-1.0f, 86.0f, -100.0f, 1.0f};  // 126, 300 -> 44, -72 -> 0, 130
  blob.copy_from(in, 4);
  const auto* q = static_cast<unsigned char*>(buf.data());
  EXPECT_THAT(std::vector<int>(q, q + 4), ElementsAre(126, 44, 0, 130));
  float out[4];
  blob.copy_to(out, 4);
  EXPECT_THAT(out, ElementsAre(-1.0f, -42.0f, -64.0f, 1.0f)) << "130 -> (130 - 128) x 0.5 = 1.0";
}

TEST(BlobSSCTest, Int16TruncatesTowardZeroAndKeepsLow16Bits) {
  HostBuffer buf(8);
  auto info = describe(MI_IPU_FORMAT_INT16, {4}, 8, buf.data(), 0, buf.size(), 0.25f, -3);
  BlobSSCInt16 blob(info, 1, "i16");
  // 10 -> 40 - 3 = 37; 10000.75 -> 40003 - 3 = 40000 -> -25536; -0.6 -> -2.4 - 3 = -5.4 -> -5;
  // 0.7 -> 2.8 - 3 = -0.2 -> 0.
  const float in[4] = {10.0f, 10000.75f, -0.6f, 0.7f};
  blob.copy_from(in, 4);
  const auto* q = static_cast<short*>(buf.data());
  EXPECT_THAT(std::vector<short>(q, q + 4), ElementsAre(37, -25536, -5, 0));
  float out[4];
  blob.copy_to(out, 4);
  EXPECT_THAT(out, ElementsAre(10.0f, -6383.25f, -0.5f, 0.75f)) << "sign-extended, (q + 3) x 0.25";
}

TEST(BlobSSCTest, Int32KeepsLow32BitsAndSaturatesWithoutUndefinedBehaviour) {
  HostBuffer buf(16);
  auto info = describe(MI_IPU_FORMAT_INT32, {4}, 16, buf.data(), 0, buf.size(), 1.0f, 0);
  BlobSSCInt32 blob(info, 1, "i32");
  const float in[4] = {3e9f, 1e30f, std::numeric_limits<float>::quiet_NaN(), -7.9f};
  blob.copy_from(in, 4);
  const auto* q = static_cast<int*>(buf.data());
  // 3e9 - 2^32; 1e30 saturates to 2^63 - 1, whose low 32 bits are all ones; NaN -> 0; -7.9 -> -7.
  EXPECT_THAT(std::vector<int>(q, q + 4), ElementsAre(-1294967296, -1, 0, -7));
}

TEST(BlobSSCTest, DequantisationDifferenceIsTakenIn64Bits) {
  HostBuffer buf(8);
  auto info = describe(MI_IPU_FORMAT_INT32, {2}, 8, buf.data(), 0, buf.size(), 1.0f, -2147483648LL);
  BlobSSCInt32 blob(info, 1, "i32");
  auto* q = static_cast<int*>(buf.data());
  q[0] = 2147483647;
  q[1] = -2147483647 - 1;
  float out[2];
  blob.copy_to(out, 2);
  EXPECT_EQ(out[0], 4294967295.0f);
  EXPECT_EQ(out[1], 0.0f);
}

TEST(BlobSSCTest, FloatTensorCopiesUnchanged) {
  HostBuffer buf(12);
  auto info = describe(MI_IPU_FORMAT_FP32, {3}, 12, buf.data(), 0, buf.size(), 0.5f, 7);
  BlobSSCFloat blob(info, 1, "f");
  const float in[3] = {1.5f, -2.25f, 1e20f};
  blob.copy_from(in, 3);
  float out[3];
  blob.copy_to(out, 3);
  EXPECT_THAT(out, ElementsAreArray(in));
}

TEST(BlobSSCTest, LineGeometryCountsOnlyTheThirdLastDimensionAsPlanes) {
  struct Row {
    const char* name;
    std::vector<uint32_t> shape;
    int planes, height, width;
  } rows[] = {
      {"one dimension", {8}, 1, 1, 8},
      {"two dimensions", {4, 6}, 1, 4, 6},
      {"three dimensions", {2, 5, 7}, 2, 5, 7},
      {"outer dimensions do not count", {3, 2, 5, 7}, 2, 5, 7},
  };
  HostBuffer buf(4096);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto info = describe(MI_IPU_FORMAT_FP32, row.shape, row.shape.back() * 4, buf.data(), 0, buf.size());
    BlobSSCFloat blob(info, 1, "f");
    const BlobPlane<float>& p = plane_of(blob);
    EXPECT_EQ(p.highDimHS, row.planes);
    EXPECT_EQ(p.height, row.height);
    EXPECT_EQ(p.highDimS, row.planes * row.height);
    EXPECT_EQ(p.width, row.width);
    EXPECT_EQ(p.stride, row.width);
    EXPECT_EQ(blob.shape(), std::vector<int>(row.shape.begin(), row.shape.end()));
  }
}

TEST(BlobSSCTest, PaddedRowsAreSkippedBothWays) {
  // Shape (1, 2, 3, 5) with 16-byte rows: 6 rows of 5 used shorts and 3 padding shorts.
  HostBuffer buf(6 * 16);
  auto info = describe(MI_IPU_FORMAT_INT16, {1, 2, 3, 5}, 16, buf.data(), 0, buf.size(), 2.0f, 1);
  BlobSSCInt16 blob(info, 1, "i16");
  auto* q = static_cast<short*>(buf.data());
  for (int i = 0; i < 6 * 8; ++i) q[i] = static_cast<short>(i);
  std::vector<float> out(30);
  blob.copy_to(out.data(), 30);
  for (int r = 0; r < 6; ++r) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(out[r * 5 + x], (r * 8 + x - 1) * 2.0f) << r << "," << x;
  }
  std::vector<float> in(30, 9.0f);  // 9 / 2 + 1 = 5.5 -> 5
  blob.copy_from(in.data(), 30);
  for (int r = 0; r < 6; ++r) {
    for (int x = 0; x < 8; ++x) EXPECT_EQ(q[r * 8 + x], x < 5 ? 5 : r * 8 + x) << "padding untouched";
  }
}

TEST(BlobSSCTest, ToFloatTransposesNhwcToNchw) {
  HostBuffer buf(24 * 4);
  auto info = describe(MI_IPU_FORMAT_INT32, {1, 2, 3, 4}, 16, buf.data(), 0, buf.size(), 1.0f, 0);
  BlobSSCInt32 blob(info, 1, "i32");
  auto* q = static_cast<int*>(buf.data());
  for (int i = 0; i < 24; ++i) q[i] = i;  // value = (h * 3 + w) * 4 + c
  auto same = blob.to_float(false);
  EXPECT_EQ(same->shape(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(same->data[23], 23.0f);
  auto nchw = blob.to_float(true);
  ASSERT_EQ(nchw->shape(), (std::vector<int>{1, 4, 2, 3}));
  for (int c = 0; c < 4; ++c) {
    for (int h = 0; h < 2; ++h) {
      for (int w = 0; w < 3; ++w) EXPECT_EQ(nchw->data[(c * 2 + h) * 3 + w], (h * 3 + w) * 4 + c);
    }
  }
  EXPECT_EQ(nchw->resName(), "UNKNOWN_BLOBGENERAL");
  EXPECT_EQ(nchw->resId(), 0u);
}

TEST(BlobSSCTest, ToFloatKeepsAVectorShapedTensor) {
  HostBuffer buf(32);
  auto info = describe(MI_IPU_FORMAT_FP32, {1, 1, 1, 8}, 32, buf.data(), 0, buf.size());
  BlobSSCFloat blob(info, 1, "f");
  EXPECT_EQ(blob.to_float(true)->shape(), (std::vector<int>{1, 1, 1, 8}));
}

TEST(BlobSSCTest, DistanceUsesRawElements) {
  HostBuffer a(4), b(4);
  BlobSSCInt16 x(describe(MI_IPU_FORMAT_INT16, {2}, 4, a.data(), 0, a.size(), 100.0f, 50), 1, "x");
  BlobSSCInt16 y(describe(MI_IPU_FORMAT_INT16, {2}, 4, b.data(), 0, b.size(), 0.01f, -9), 2, "y");
  static_cast<short*>(a.data())[0] = 3;
  static_cast<short*>(a.data())[1] = -4;
  EXPECT_DOUBLE_EQ(x.distance(y), 5.0);
}

TEST(BlobSSCTest, ArgbTensorIsRowsOfItsWidth) {
  HostBuffer buf(2 * 8 * 16);
  BlobSSCARGB argb(describe(MI_IPU_FORMAT_ARGB8888, {1, 2, 8, 16}, 16, buf.data(), 0, buf.size()), 1, "argb");
  const BlobPlane<unsigned char>& p = plane_of(argb);
  EXPECT_EQ(p.highDimHS, 2);
  EXPECT_EQ(p.height, 8);
  EXPECT_EQ(p.width, 16);
  BlobSSCABGR abgr(describe(MI_IPU_FORMAT_ABGR8888, {4, 16}, 16, buf.data(), 0, buf.size()), 1, "abgr");
  EXPECT_EQ(plane_of(abgr).highDimS, 4);
}

// Two tensors in platform memory, filled with distinct values; the DMA copy is checked element by
// element against a plain loop over the same geometry.
template <typename T>
void check_roi_copy(MI_IPU_ELEMENT_FORMAT format, int strideElems, int peerStrideElems,
                    std::vector<int> leftTop, int channelOffset) {
  MiSysInit();
  const int H = 4, W = 6, C = 4, pH = 2, pW = 3, pC = 2;
  MmzMemory big(H * W * strideElems * sizeof(T));
  MmzMemory small(pH * pW * peerStrideElems * sizeof(T));
  BlobSSCQuant<T>* dst = nullptr;
  BlobSSCQuant<T>* src = nullptr;
  auto bigInfo =
      describe(format, {1, H, W, C}, strideElems * sizeof(T), big.data(), big.phy_addr(), big.capacity());
  auto smallInfo = describe(format, {1, pH, pW, pC}, peerStrideElems * sizeof(T), small.data(),
                            small.phy_addr(), small.capacity());
  std::shared_ptr<ResourceBase> keepDst, keepSrc;
  if constexpr (std::is_same<T, float>::value) {
    auto d = std::make_shared<BlobSSCFloat>(bigInfo, 1, "big");
    auto s = std::make_shared<BlobSSCFloat>(smallInfo, 2, "small");
    dst = d.get(), src = s.get(), keepDst = d, keepSrc = s;
  } else if constexpr (std::is_same<T, short>::value) {
    auto d = std::make_shared<BlobSSCInt16>(bigInfo, 1, "big");
    auto s = std::make_shared<BlobSSCInt16>(smallInfo, 2, "small");
    dst = d.get(), src = s.get(), keepDst = d, keepSrc = s;
  } else {
    auto d = std::make_shared<BlobSSCInt32>(bigInfo, 1, "big");
    auto s = std::make_shared<BlobSSCInt32>(smallInfo, 2, "small");
    dst = d.get(), src = s.get(), keepDst = d, keepSrc = s;
  }
  T* b = reinterpret_cast<T*>(big.data());
  T* p = reinterpret_cast<T*>(small.data());
  for (int i = 0; i < H * W * strideElems; ++i) b[i] = static_cast<T>(-1 - i);
  for (int i = 0; i < pH * pW * peerStrideElems; ++i) p[i] = static_cast<T>(1000 + i);
  std::vector<T> expected(b, b + H * W * strideElems);
  for (int h = 0; h < pH; ++h) {
    for (int w = 0; w < pW; ++w) {
      for (int c = 0; c < pC; ++c) {
        expected[((leftTop[1] + h) * W + leftTop[0] + w) * strideElems + channelOffset + c] =
            p[(h * pW + w) * peerStrideElems + c];
      }
    }
  }
  MI_TEST_ResetCallLog();
  dst->copy_to_roi_from(src, leftTop, channelOffset, false);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa"), static_cast<unsigned>(pH)) << "one 2-D copy per plane";
  EXPECT_THAT(std::vector<T>(b, b + H * W * strideElems), ElementsAreArray(expected));
}

TEST(BlobSSCTest, CopyToRoiFromUsesTheTwoDimensionalDma) {
  {
    SCOPED_TRACE("float, packed, top left, first channels");
    check_roi_copy<float>(MI_IPU_FORMAT_FP32, 4, 2, {0, 0}, 0);
  }
  {
    SCOPED_TRACE("float, padded rows, bottom right, second channels");
    check_roi_copy<float>(MI_IPU_FORMAT_FP32, 8, 4, {3, 2}, 2);
  }
  {
    SCOPED_TRACE("int16, padded destination rows");
    check_roi_copy<short>(MI_IPU_FORMAT_INT16, 12, 2, {3, 0}, 2);
  }
  {
    SCOPED_TRACE("int32, padded source rows");
    check_roi_copy<int>(MI_IPU_FORMAT_INT32, 4, 3, {0, 2}, 0);
  }
}

using BlobSSCDeathTest = ::testing::Test;

TEST(BlobSSCDeathTest, WrongFormatIsFatal) {
  HostBuffer buf(64);
  auto info = describe(MI_IPU_FORMAT_INT32, {4}, 16, buf.data(), 0, buf.size());
  EXPECT_DEATH(BlobSSCInt16(info, 1, "x"), "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_INT16 ");
  EXPECT_DEATH(BlobSSCU8(info, 1, "x"), "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_U8 ");
  EXPECT_DEATH(BlobSSCFloat(info, 1, "x"), "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_FP32 ");
  EXPECT_DEATH(BlobSSCARGB(info, 1, "x"), "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_ARGB8888 ");
  EXPECT_DEATH(BlobSSCABGR(info, 1, "x"), "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_ABGR8888 ");
  info->enBlobType = MI_IPU_FORMAT_INT16;
  EXPECT_DEATH(BlobSSCInt32(info, 1, "x"), "Check failed: pBlobInfo_->enBlobType == MI_IPU_FORMAT_INT32 ");
}

TEST(BlobSSCDeathTest, TensorWithoutDimensionsIsRejected) {
  HostBuffer buf(64);
  auto info = describe(MI_IPU_FORMAT_FP32, {}, 16, buf.data(), 0, buf.size());
  EXPECT_DEATH(BlobSSCFloat(info, 1, "x"), "tensor without dimensions");
}

TEST(BlobSSCDeathTest, CountMismatchIsFatalBeforeAnyWrite) {
  HostBuffer buf(64);
  BlobSSCInt16 blob(describe(MI_IPU_FORMAT_INT16, {2, 3}, 8, buf.data(), 0, buf.size()), 1, "x");
  float values[6] = {};
  EXPECT_DEATH(
      blob.copy_to(values, 5),
      "Check failed: dstPara \\+ cnt == dst cnt: 5, highDimHS = 1, height = 2, stride = 4, width = 3");
  EXPECT_DEATH(blob.copy_from(values, 7), "Check failed: srcPara \\+ cnt == src ");
}

TEST(BlobSSCDeathTest, ArgbLayoutChecks) {
  HostBuffer buf(512);
  EXPECT_DEATH(BlobSSCARGB(describe(MI_IPU_FORMAT_ARGB8888, {6, 16}, 16, buf.data(), 0, buf.size()), 1, "x"),
               "Check failed: hwc_height % 4 == 0 ");
  EXPECT_DEATH(BlobSSCARGB(describe(MI_IPU_FORMAT_ARGB8888, {8, 16}, 32, buf.data(), 0, buf.size()), 1, "x"),
               "Check failed: pBlobInfo->u32StrideBytes == hwc_width ");
}

TEST(BlobSSCDeathTest, ToFloatTransposeNeedsFourDimensions) {
  HostBuffer buf(64);
  BlobSSCFloat blob(describe(MI_IPU_FORMAT_FP32, {2, 3}, 12, buf.data(), 0, buf.size()), 1, "x");
  EXPECT_DEATH(blob.to_float(true), "Check failed: shape_before.size\\(\\) == 4 ");
}

TEST(BlobSSCDeathTest, CopyToRoiFromChecksGeometryAndMemory) {
  HostBuffer a(4 * 6 * 16), b(2 * 3 * 8), c(2 * 3 * 12);
  BlobSSCFloat big(describe(MI_IPU_FORMAT_FP32, {1, 4, 6, 4}, 16, a.data(), 0, a.size()), 1, "big");
  BlobSSCFloat small(describe(MI_IPU_FORMAT_FP32, {1, 2, 3, 2}, 8, b.data(), 0, b.size()), 2, "small");
  BlobSSCFloat wide(describe(MI_IPU_FORMAT_FP32, {1, 2, 3, 3}, 12, c.data(), 0, c.size()), 3, "wide");
  EXPECT_DEATH(big.copy_to_roi_from(&small, {0}, 0, false), "Check failed: leftTop.size\\(\\) == 2 ");
  EXPECT_DEATH(big.copy_to_roi_from(&wide, {0, 0}, 0, false), "Check failed: C == 2 \\* peerC ");
  EXPECT_DEATH(big.copy_to_roi_from(&small, {0, 0}, 1, false),
               "Check failed: channel_offset == 0 or channel_offset == peerC ");
  EXPECT_DEATH(big.copy_to_roi_from(&small, {0, 0}, 0, false), "Not Implemented.");
  HostBuffer d(64), e(16);
  BlobSSCU8 u8big(describe(MI_IPU_FORMAT_U8, {1, 2, 2, 4}, 4, d.data(), 0, d.size()), 1, "u8");
  BlobSSCU8 u8small(describe(MI_IPU_FORMAT_U8, {1, 1, 1, 2}, 2, e.data(), 0, e.size()), 1, "u8");
  EXPECT_DEATH(u8big.copy_to_roi_from(&u8small, {0, 0}, 0, false), "Not Implemented.");
}

TEST(BlobSSCImageTest, Nv12TensorIsAnImageOverItsBuffer) {
  MiSysInit();
  MmzMemory mem(1280 * 720 * 3 / 2);
  auto info =
      describe(MI_IPU_FORMAT_NV12, {1, 720, 1280, 3}, 1280, mem.data(), mem.phy_addr(), mem.capacity());
  BlobSSCImage blob(info, 4, "ignored");
  EXPECT_EQ(blob.resName(), "UNKNOWN_IMAGE");
  EXPECT_EQ(blob.resId(), 4u);
  EXPECT_EQ(blob.pBlobInfo(), info);
  auto image = std::dynamic_pointer_cast<ImageYuv420sp>(blob.image());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width(), 1280u);
  EXPECT_EQ(image->height(), 720u);
  EXPECT_EQ(image->data(), mem.data()) << "in place";
  EXPECT_EQ(image->phy(), mem.phy_addr());
  const auto& raw = *image->get_yuv().image;
  EXPECT_EQ(raw.highDimS, 1080);
  EXPECT_EQ(raw.stride, 1280);
  EXPECT_EQ(raw.width, 1280);
  std::memset(mem.data(), 0x55, 1280 * 1080);
  image->reset(0, 0, 0);  // black: Y 0, U and V 128, written in the tensor buffer itself
  EXPECT_EQ(mem.data()[0], 0);
  EXPECT_EQ(mem.data()[1280 * 720 - 1], 0);
  EXPECT_EQ(mem.data()[1280 * 720], 128);
  EXPECT_EQ(mem.data()[1280 * 1080 - 1], 128);
  image->reshape(1280, 720);  // its own size: nothing to allocate
}

TEST(BlobSSCImageTest, BgrTensorIsAnImageOfHPlanesOfWRows) {
  HostBuffer buf(4 * 6 * 3);
  auto info = describe(MI_IPU_FORMAT_U8, {1, 4, 6, 3}, 3, buf.data(), 0, buf.size());
  BlobSSCImageBGR blob(info, 8, "ignored");
  EXPECT_EQ(blob.resName(), "UNKNOWN_IMAGE");
  auto image = std::dynamic_pointer_cast<ImageRgb>(blob.image());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width(), 3u) << "C";
  EXPECT_EQ(image->height(), 6u) << "W rows per plane";
  EXPECT_EQ(image->stride(), 3u);
  EXPECT_EQ(image->data(), buf.data());
}

TEST(BlobSSCImageDeathTest, ImageTensorsAreChecked) {
  HostBuffer buf(4096);
  EXPECT_DEATH(BlobSSCImage(describe(MI_IPU_FORMAT_U8, {1, 4, 4, 3}, 4, buf.data(), 0, buf.size()), 1, "x"),
               "Check failed: pBlobInfo->enBlobType == MI_IPU_FORMAT_NV12 ");
  EXPECT_DEATH(BlobSSCImage(describe(MI_IPU_FORMAT_NV12, {4, 4}, 4, buf.data(), 0, buf.size()), 1, "x"),
               "Check failed: pBlobInfo->u32ShapeVec.size\\(\\) >= 3 ");
  EXPECT_DEATH(
      BlobSSCImageBGR(describe(MI_IPU_FORMAT_NV12, {1, 4, 4, 3}, 3, buf.data(), 0, buf.size()), 1, "x"),
      "Check failed: pBlobInfo->enBlobType == MI_IPU_FORMAT_U8 ");
  EXPECT_DEATH(
      BlobSSCImageBGR(describe(MI_IPU_FORMAT_U8, {1, 4, 4, 3}, 4, buf.data(), 0, buf.size()), 1, "x"),
      "Check failed: stride == channel ");
  BlobSSCImage blob(describe(MI_IPU_FORMAT_NV12, {1, 4, 8, 3}, 8, buf.data(), 0, buf.size()), 1, "x");
  EXPECT_DEATH(blob.image()->reshape(16, 8), "cannot allocate memory for KAVO_MODEL_BLOB_INFO_S");
}

}  // namespace
