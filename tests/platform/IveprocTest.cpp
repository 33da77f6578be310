// Tests of the accelerated image primitives against plain references on small images with odd sizes
// and strides wider than widths, on the platform stand-in. The stand-in's call log checks which DMA,
// engine and scaler calls an operation makes; its fault injection drives every fatal path.
#include <gtest/gtest.h>
#include <mi_sys.h>
#include <mi_test.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mi/MiTestUtil.h"
#include "platform/Iveproc.h"
#include "platform/Mmz.h"

namespace {

[[maybe_unused]] const bool kPrivateArena = use_private_arena("iveproc", "160M");

constexpr MI_S32 kSysError = MI_ERR_SYS_ILLEGAL_PARAM;  // 0xa0014003
constexpr MI_S32 kIveError = MI_ERR_IVE_ILLEGAL_PARAM;  // 0xa0024003
constexpr MI_S32 kSclError = MI_ERR_SCL_ILLEGAL_PARAM;  // 0xa0094003
constexpr MI_S32 kSclBusy = MI_ERR_SCL_RETRY;           // 0xa009201f
constexpr unsigned char kUntouched = 0xEE;

unsigned count(const char* fn) { return MI_TEST_GetCallCount(fn); }

// One image in one platform block: u8c1 (one plane), u8c3 (three planes stride * height apart) or
// NV12 (Y, then height / 2 UV rows right after it, both with the same stride). Every byte, stride
// padding included, starts as kUntouched.
class TestImage {
 public:
  enum Kind { kU8c1, kU8c3, kNv12 };

  TestImage(Kind kind, int width, int height, int stride)
      : kind_(kind), width_(width), height_(height), stride_(stride) {
    const int rows = kind == kU8c1 ? height : kind == kU8c3 ? 3 * height : height + height / 2;
    memory_ = std::make_unique<MmzMemory>(stride * rows);
    std::memset(memory_->data(), kUntouched, memory_->size());
  }

  // Plane k: for NV12, 0 is Y and 1 is UV.
  uint64_t phy(int k = 0) const { return memory_->phy_addr() + offset(k); }
  unsigned char* vir(int k = 0) const { return memory_->data() + offset(k); }
  int rows(int k) const { return kind_ == kNv12 && k == 1 ? height_ / 2 : height_; }
  int planes() const { return kind_ == kU8c1 ? 1 : kind_ == kU8c3 ? 3 : 2; }
  // Byte x of row y of plane k (for the UV plane x counts bytes, not pairs).
  unsigned char& at(int k, int x, int y) { return vir(k)[y * stride_ + x]; }
  unsigned char at(int k, int x, int y) const { return vir(k)[y * stride_ + x]; }

  // Fills the used width of every plane with a pattern that differs per byte, plane and seed.
  void fill_pattern(int seed) {
    for (int k = 0; k < planes(); ++k)
      for (int y = 0; y < rows(k); ++y)
        for (int x = 0; x < width_; ++x)
          at(k, x, y) = static_cast<unsigned char>(x * 7 + y * 31 + k * 50 + seed);
  }
  // NV12 only: every pixel Y, every pair (U, V).
  void fill_nv12(unsigned char y, unsigned char u, unsigned char v) {
    for (int row = 0; row < height_; ++row) std::memset(&at(0, 0, row), y, width_);
    for (int row = 0; row < rows(1); ++row)
      for (int x = 0; x + 1 < width_; x += 2) {
        at(1, x, row) = u;
        at(1, x + 1, row) = v;
      }
  }

  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return stride_; }

 private:
  size_t offset(int k) const { return static_cast<size_t>(k) * stride_ * height_; }

  Kind kind_;
  int width_, height_, stride_;
  std::unique_ptr<MmzMemory> memory_;
};

// Calls with the argument groups spelled out once.
void u8c1_resize(const TestImage& s, const TestImage& d) {
  miive_u8c1_resize(s.phy(), s.vir(), s.stride(), s.width(), s.height(), d.phy(), d.vir(), d.stride(),
                    d.width(), d.height());
}
void nv12_resize(const TestImage& s, const TestImage& d) {
  miive_yuv420sp_resize(s.phy(0), s.phy(1), s.vir(0), s.vir(1), s.stride(), s.stride(), s.width(), s.height(),
                        d.phy(0), d.phy(1), d.vir(0), d.vir(1), d.stride(), d.stride(), d.width(),
                        d.height());
}
void u8c1_crop_pad(const TestImage& s, const TestImage& d, int l, int r, int t, int b, int value) {
  mi_u8c1_crop_padding(s.phy(), s.vir(), s.stride(), s.width(), s.height(), d.phy(), d.vir(), d.stride(),
                       d.width(), d.height(), l, r, t, b, value);
}
void u8c3_crop_pad(const TestImage& s, const TestImage& d, int l, int r, int t, int b, int v0, int v1,
                   int v2) {
  mi_u8c3_crop_padding(s.phy(0), s.phy(1), s.phy(2), s.vir(0), s.vir(1), s.vir(2), s.stride(), s.stride(),
                       s.stride(), s.width(), s.height(), d.phy(0), d.phy(1), d.phy(2), d.vir(0), d.vir(1),
                       d.vir(2), d.stride(), d.stride(), d.stride(), d.width(), d.height(), l, r, t, b, v0,
                       v1, v2);
}
void nv12_crop_pad(const TestImage& s, const TestImage& d, int l, int r, int t, int b, int red, int green,
                   int blue) {
  mi_yuv420sp_crop_padding(s.phy(0), s.phy(1), s.vir(0), s.vir(1), s.stride(), s.stride(), s.width(),
                           s.height(), d.phy(0), d.phy(1), d.vir(0), d.vir(1), d.stride(), d.stride(),
                           d.width(), d.height(), l, r, t, b, red, green, blue);
}
void nv12_roi_optimized(const TestImage& s, const TestImage& d, std::shared_ptr<MmzBlob>& scratch,
                        const std::vector<float>& roi, int red, int green, int blue) {
  mi_yuv420sp_roi_resize_optimized(s.phy(0), s.phy(1), s.vir(0), s.vir(1), s.stride(), s.stride(), s.width(),
                                   s.height(), d.phy(0), d.phy(1), d.vir(0), d.vir(1), d.stride(), d.stride(),
                                   d.width(), d.height(), scratch, roi, red, green, blue);
}
void nv12_roi_scl(const TestImage& s, const TestImage& d, std::shared_ptr<MmzBlob>& scratch,
                  const std::vector<float>& roi, int red, int green, int blue) {
  mi_yuv420sp_roi_resize_scl(s.phy(0), s.phy(1), s.vir(0), s.vir(1), s.stride(), s.stride(), s.width(),
                             s.height(), d.phy(0), d.phy(1), d.vir(0), d.vir(1), d.stride(), d.stride(),
                             d.width(), d.height(), scratch, roi, red, green, blue);
}

// Plain reference of crop-and-pad on plane k: dst(x, y) = src(x - left, y - top) where that lies in
// the source, else `pad`. `rowScale` 2 maps UV rows (top / 2); UV columns are bytes.
void expect_crop_pad(const TestImage& s, const TestImage& d, int k, int left, int top, int rowScale,
                     const std::vector<unsigned char>& pad) {
  for (int y = 0; y < d.rows(k); ++y)
    for (int x = 0; x < d.width(); ++x) {
      const int sx = x - left, sy = y - top / rowScale;
      const bool inside = sx >= 0 && sx < s.width() && sy >= 0 && sy < s.rows(k);
      const unsigned char want = inside ? s.at(k, sx, sy) : pad[x % pad.size()];
      ASSERT_EQ(d.at(k, x, y), want) << "plane " << k << " at " << x << "," << y;
    }
}

// Stride padding of every row of every plane still holds kUntouched.
void expect_padding_untouched(const TestImage& d) {
  for (int k = 0; k < d.planes(); ++k)
    for (int y = 0; y < d.rows(k); ++y)
      for (int x = d.width(); x < d.stride(); ++x)
        ASSERT_EQ(d.at(k, x, y), kUntouched) << k << " " << x << "," << y;
}

class IveprocTest : public MiFaultTest {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};
using IveprocDeathTest = IveprocTest;

TEST_F(IveprocTest, DmaCopiesAndFillsTouchOnlyTheirBytesAndWindows) {
  TestImage a(TestImage::kU8c1, 64, 1, 64), b(TestImage::kU8c1, 64, 1, 64);
  a.fill_pattern(3);
  EXPECT_EQ(misys_1d_copy(b.phy() + 5, a.phy() + 1, 37) + misys_1d_memset(b.phy() + 1, 0x05050505u, 3), 0);
  for (int x = 0; x < 64; ++x)
    EXPECT_EQ(b.at(0, x, 0), x >= 1 && x < 4 ? 5 : x >= 5 && x < 42 ? a.at(0, x - 4, 0) : kUntouched) << x;
  // NV12: the UV window has half the rows.
  TestImage nv(TestImage::kNv12, 10, 6, 16);
  EXPECT_EQ(misys_2d_yuv420sp_roi_memset(nv.phy(0), nv.phy(1), 16, 16, 10, 6, 2, 2, 4, 4, 7), 0);
  for (int k = 0; k < 2; ++k)
    for (int y = 0; y < nv.rows(k); ++y)
      for (int x = 0; x < 16; ++x)
        ASSERT_EQ(nv.at(k, x, y), x >= 2 && x < 6 && y >= 2 / (k + 1) ? 7 : kUntouched) << k << x << "," << y;
  TestImage rgb(TestImage::kU8c3, 5, 3, 8);
  misys_2d_u8c3_roi_memset(rgb.phy(0), rgb.phy(1), rgb.phy(2), 8, 8, 8, 5, 3, 4, 2, 1, 1, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(rgb.at(k, 4, 2) * 256 + rgb.at(k, 3, 2), 3 * 256 + kUntouched) << k;

  TestImage src(TestImage::kNv12, 14, 8, 16), dst(TestImage::kNv12, 10, 6, 32);
  src.fill_pattern(1);
  misys_2d_yuv420sp_roi_copy(src.phy(0), src.phy(1), 16, 16, 14, 8, 4, 2, 6, 4, dst.phy(0), dst.phy(1), 32,
                             32, 10, 6, 2, 2, 6, 4);
  for (int k = 0; k < 2; ++k)
    for (int y = 0; y < dst.rows(k); ++y)
      for (int x = 0; x < 32; ++x) {
        const bool in = x >= 2 && x < 8 && y >= 2 / (k + 1);
        ASSERT_EQ(dst.at(k, x, y), in ? src.at(k, x + 2, y) : kUntouched) << k << " " << x << "," << y;
      }
}

TEST_F(IveprocTest, ResizeCutsLargeSourcesIntoEvenTilesAndLeavesRemaindersAlone) {
  // A same-size resize is a copy, so each tile must land exactly where it came from.
  struct Row {
    int width, height;
    unsigned calls;
    int copiedW, copiedH;
  } rows[] = {{3840, 2160, 4, 3840, 2160}, {1921, 6, 2, 1920, 6}, {7, 5, 1, 6, 4}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.width);
    MI_TEST_ResetCallLog();
    TestImage src(TestImage::kU8c1, r.width, r.height, r.width + 16),
        dst(TestImage::kU8c1, r.width, r.height, r.width + 16);
    src.fill_pattern(5);
    u8c1_resize(src, dst);
    EXPECT_EQ(count("MI_IVE_Resize"), r.calls);
    EXPECT_EQ(count("MI_IVE_Create"), 1u);
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x)
        ASSERT_EQ(dst.at(0, x, y), x < r.copiedW && y < r.copiedH ? src.at(0, x, y) : kUntouched)
            << x << "," << y;
  }
  // NV12 of 1922 x 1084: a 2 x 2 grid of 960 x 542 tiles, 150 x 150 each.
  TestImage src(TestImage::kNv12, 1922, 1084, 1936), dst(TestImage::kNv12, 300, 300, 304);
  src.fill_nv12(100, 90, 160);
  MI_TEST_ResetCallLog();
  nv12_resize(src, dst);
  EXPECT_EQ(count("MI_IVE_Resize"), 4u);
  for (int y = 0; y < 300; ++y) ASSERT_EQ(dst.at(0, 299, y), 100) << y;
  for (int x = 0; x < 300; x += 2) ASSERT_NEAR(dst.at(1, x + 1, 149), 160, 2) << x;
}

TEST_F(IveprocTest, IntegralImagesAreInclusiveSumsPerPlane) {
  TestImage src(TestImage::kU8c3, 5, 3, 8), dst(TestImage::kU8c3, 20, 3, 32);  // 32-bit sums in bytes
  src.fill_pattern(7);
  miive_u8c3_integ(src.phy(0), src.phy(1), src.phy(2), src.vir(0), src.vir(1), src.vir(2), 8, 8, 8, 5, 3,
                   dst.phy(0), dst.phy(1), dst.phy(2), dst.vir(0), dst.vir(1), dst.vir(2), 32, 32, 32, 20, 3);
  EXPECT_EQ(count("MI_IVE_Integ"), 3u);
  for (int k = 0; k < 3; ++k)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        uint32_t want = 0, got;
        for (int j = 0; j <= y; ++j)
          for (int i = 0; i <= x; ++i) want += src.at(k, i, j);
        std::memcpy(&got, &dst.at(k, 4 * x, y), 4);
        ASSERT_EQ(got, want) << k << " " << x << "," << y;
      }
  expect_padding_untouched(dst);
}

TEST_F(IveprocTest, ColourConversionTilesLikeTheResize) {
  TestImage nv(TestImage::kNv12, 1922, 4, 1936), rgb(TestImage::kU8c3, 1922, 4, 1936);
  nv.fill_nv12(77, 128, 128);
  miive_yuv2rgb(nv.phy(0), nv.phy(1), nv.vir(0), nv.vir(1), 1936, 1936, 1922, 4, rgb.phy(0), rgb.phy(1),
                rgb.phy(2), rgb.vir(0), rgb.vir(1), rgb.vir(2), 1936, 1936, 1936, 1922, 4);
  EXPECT_EQ(count("MI_IVE_Csc"), 2u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(rgb.at(k, 1919, 3), 77, 1) << k;
    EXPECT_EQ(rgb.at(k, 1920, 3), kUntouched) << k;  // beyond the two 960 tiles
  }
}

TEST_F(IveprocTest, CropPadMatchesAPlainReference) {
  // Pad colours: (0, 0, 0) is Y 0, U = V = 128 (DMA fill); (255, 0, 0) is Y 76, U 85, V 255, which
  // only the CPU can write as pairs. The last row pads only below.
  struct Row {
    const char* name;
    TestImage::Kind kind;
    int srcW, srcH, dstW, dstH, l, r, t, b, v0, v1, v2;
    std::vector<std::vector<unsigned char>> pads;
    unsigned memsets, flushes;
  } rows[] = {
      {"plain copy", TestImage::kU8c1, 13, 7, 13, 7, 0, 0, 0, 0, 99, 0, 0, {{0}}, 0, 0},
      {"shift left", TestImage::kU8c1, 23, 5, 23, 5, -10, 10, 0, 0, 0x1234, 0, 0, {{0x34}}, 1, 0},
      {"three planes", TestImage::kU8c3, 9, 7, 11, 8, 3, -1, 2, -1, 10, 20, 30, {{10}, {20}, {30}}, 3, 0},
      {"nv12 black", TestImage::kNv12, 10, 6, 14, 8, 2, 2, 2, 0, 0, 0, 0, {{0}, {128}}, 2, 0},
      {"nv12 red below", TestImage::kNv12, 10, 6, 6, 8, -4, 0, 0, 2, 255, 0, 0, {{76}, {85, 255}}, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MI_TEST_ResetCallLog();
    TestImage src(row.kind, row.srcW, row.srcH, 32), dst(row.kind, row.dstW, row.dstH, 24);
    src.fill_pattern(11);
    if (row.kind == TestImage::kU8c1) u8c1_crop_pad(src, dst, row.l, row.r, row.t, row.b, row.v0);
    if (row.kind == TestImage::kU8c3)
      u8c3_crop_pad(src, dst, row.l, row.r, row.t, row.b, row.v0, row.v1, row.v2);
    if (row.kind == TestImage::kNv12)
      nv12_crop_pad(src, dst, row.l, row.r, row.t, row.b, row.v0, row.v1, row.v2);
    for (int k = 0; k < dst.planes(); ++k)
      expect_crop_pad(src, dst, k, row.l, row.t, k == 1 && row.kind == TestImage::kNv12 ? 2 : 1, row.pads[k]);
    if (row.memsets + row.flushes == 0) expect_padding_untouched(dst);  // a fill covers whole rows
    EXPECT_EQ(count("MI_SYS_MemsetPa"), row.memsets);
    EXPECT_EQ(count("MI_SYS_FlushInvCache"), row.flushes);
  }
}

TEST_F(IveprocTest, RoiResizeThroughScratchPadsTheOutsidePart) {
  // ROI {-0.25, -0.25, 0.75, 0.75} of 17 x 11: 16 x 8 after rounding to multiples of 4, origin
  // (-4, -2) after truncating to even; a same-size resize then copies the scratch.
  const std::vector<float> roi = {-0.25f, -0.25f, 0.75f, 0.75f};
  TestImage src(TestImage::kU8c1, 17, 11, 32), dst(TestImage::kU8c1, 16, 8, 24);
  src.fill_pattern(12);
  auto scratch = std::make_shared<MmzBlob>(1, 8, 16);
  mi_u8c1_roi_resize(src.phy(), src.vir(), 32, 17, 11, dst.phy(), dst.vir(), 24, 16, 8, scratch, roi, 3);
  expect_crop_pad(src, dst, 0, 4, 2, 1, {3});
  expect_padding_untouched(dst);

  TestImage rgbSrc(TestImage::kU8c3, 17, 11, 32), rgbDst(TestImage::kU8c3, 16, 8, 16);
  rgbSrc.fill_pattern(13);
  auto rgbScratch = std::make_shared<MmzBlob>(1, 24, 16);
  mi_u8c3_roi_resize(rgbSrc.phy(0), rgbSrc.phy(1), rgbSrc.phy(2), rgbSrc.vir(0), rgbSrc.vir(1), rgbSrc.vir(2),
                     32, 32, 32, 17, 11, rgbDst.phy(0), rgbDst.phy(1), rgbDst.phy(2), rgbDst.vir(0),
                     rgbDst.vir(1), rgbDst.vir(2), 16, 16, 16, 16, 8, rgbScratch, roi, 1, 2, 3);
  for (int k = 0; k < 3; ++k)
    expect_crop_pad(rgbSrc, rgbDst, k, 4, 2, 1, {static_cast<unsigned char>(k + 1)});

  // 18 x 12: width 16 (18 truncated to a multiple of 4), height 12; origin (-4, -2).
  TestImage nvSrc(TestImage::kNv12, 18, 12, 32), nvDst(TestImage::kNv12, 16, 12, 16);
  nvSrc.fill_pattern(14);
  auto nvScratch = std::make_shared<MmzBlob>(1, 18, 16);
  mi_yuv420sp_roi_resize(nvSrc.phy(0), nvSrc.phy(1), nvSrc.vir(0), nvSrc.vir(1), 32, 32, 18, 12, nvDst.phy(0),
                         nvDst.phy(1), nvDst.vir(0), nvDst.vir(1), 16, 16, 16, 12, nvScratch, roi, 0, 0, 0);
  expect_crop_pad(nvSrc, nvDst, 0, 4, 2, 1, {0});
  expect_crop_pad(nvSrc, nvDst, 1, 4, 2, 2, {128});
}

TEST_F(IveprocTest, OptimizedRoiScalesOnlyThePartInsideTheImage) {
  // {-0.5, 0, 0.5, 1}: the left half of the 16 x 8 source, resized to 8 x 8 (the same size), goes to
  // x 8; {0.25, 0.25, 0.75, 0.75} is the crop (4, 2, 8, 4), which fills an 8 x 4 destination; an ROI
  // within 0.01 of the whole image is resized directly and needs no scratch.
  struct Row {
    const char* name;
    std::vector<float> roi;
    int dstW, dstH, left, top, r;
    std::vector<unsigned char> y, uv;
    unsigned blits, memsets, flushes;
    bool scratch;
  } rows[] = {
      {"padded black", {-0.5f, 0.f, 0.5f, 1.f}, 16, 8, 8, 0, 0, {0}, {128}, 4, 2, 2, true},
      {"padded red", {-0.5f, 0.f, 0.5f, 1.f}, 16, 8, 8, 0, 255, {76}, {85, 255}, 4, 0, 3, true},
      {"inside", {0.25f, 0.25f, 0.75f, 0.75f}, 8, 4, -4, -2, 255, {0}, {0}, 2, 0, 1, true},
      {"whole", {0.005f, -0.009f, 1.009f, 0.995f}, 16, 8, 0, 0, 255, {0}, {0}, 0, 0, 0, false},
  };
  TestImage src(TestImage::kNv12, 16, 8, 32);
  src.fill_pattern(16);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MI_TEST_ResetCallLog();
    TestImage dst(TestImage::kNv12, row.dstW, row.dstH, 16);
    std::shared_ptr<MmzBlob> scratch;
    if (row.scratch) scratch = std::make_shared<MmzBlob>(1, 1, 384);  // A and B: 16 * 8 * 3 / 2 bytes each
    nv12_roi_optimized(src, dst, scratch, row.roi, row.r, 0, 0);
    expect_crop_pad(src, dst, 0, row.left, row.top, 1, row.y);
    expect_crop_pad(src, dst, 1, row.left, row.top, 2, row.uv);
    EXPECT_EQ(count("MI_IVE_Resize"), 1u);
    EXPECT_EQ(count("MI_SYS_BufBlitPa"), row.blits);
    EXPECT_EQ(count("MI_SYS_MemsetPa"), row.memsets);
    EXPECT_EQ(count("MI_SYS_FlushInvCache"), row.flushes);
  }
}

TEST_F(IveprocTest, ScalerCascadesLargeReductionsThroughTheScratchAndRetriesWhenBusy) {
  // 512 x 64 to 8 x 8: 512 > 6 * 8 needs passes to 96 x 86 (factor 10.67) at scratch offset 0,
  // then 32 x 22 (factor 2.69) at 96 * 86 * 3 / 2 = 12384, then the destination.
  TestImage src(TestImage::kNv12, 512, 64, 512), dst(TestImage::kNv12, 8, 8, 16);
  src.fill_nv12(100, 90, 160);
  auto scratch = std::make_shared<MmzBlob>(1, 1, 12384 + 1056);
  std::memset(scratch->memory()->data(), kUntouched, scratch->capacity());
  MI_TEST_InjectFault("MI_SCL_StretchBuf", kSclBusy, 1, 2);
  nv12_roi_scl(src, dst, scratch, {0.f, 0.f, 1.f, 1.f}, 0, 0, 0);
  EXPECT_EQ(count("MI_SCL_StretchBuf"), 5u);  // two busy answers retried, then three passes
  const unsigned char* mem = scratch->memory()->data();
  struct Pass {
    size_t at, w, h;
  } passes[] = {{0, 96, 86}, {12384, 32, 22}};
  for (const Pass& p : passes) {
    for (size_t i = 0; i < p.w * p.h; ++i) ASSERT_EQ(mem[p.at + i], 100) << p.w << " Y " << i;
    for (size_t i = 0; i < p.w * p.h / 2; i += 2)
      ASSERT_NEAR(mem[p.at + p.w * p.h + i + 1], 160, 6) << p.w << " UV " << i;
  }
  for (size_t i = 12384 + 1056; i < scratch->capacity(); ++i) ASSERT_EQ(mem[i], kUntouched) << i;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(dst.at(0, x, y), 100) << x << "," << y;
}

TEST_F(IveprocTest, ScalerHalfPaddedRoiFillsThePadAndPlacesThePart) {
  TestImage src(TestImage::kNv12, 32, 16, 48), dst(TestImage::kNv12, 32, 16, 32);
  src.fill_nv12(100, 90, 160);
  auto scratch = std::make_shared<MmzBlob>(1, 1, 16 * 16 * 3 / 2);
  nv12_roi_scl(src, dst, scratch, {-0.5f, 0.f, 0.5f, 1.f}, 255, 0, 0);
  EXPECT_EQ(count("MI_SCL_StretchBuf"), 1u);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(dst.at(0, x, y), x < 16 ? 76 : 100) << x << "," << y;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 32; x += 2) {
      ASSERT_EQ(dst.at(1, x, y), x < 16 ? 85 : 90) << x << "," << y;
      ASSERT_EQ(dst.at(1, x + 1, y), x < 16 ? 255 : 160) << x << "," << y;
    }
  // A direct stretch needs no scratch; one intermediate pass (64 x 16 -> 16 x 10 -> 8 x 8) is not
  // reported as a cascade.
  std::shared_ptr<MmzBlob> none;
  TestImage same(TestImage::kNv12, 32, 16, 32), wide(TestImage::kNv12, 64, 16, 64),
      small(TestImage::kNv12, 8, 8, 16);
  nv12_roi_scl(src, same, none, {0.f, 0.f, 1.f, 1.f}, 0, 0, 0);
  EXPECT_EQ(same.at(0, 31, 15), 100);
  nv12_roi_scl(wide, small, scratch, {0.f, 0.f, 1.f, 1.f}, 0, 0, 0);
  EXPECT_EQ(count("MI_SCL_StretchBuf"), 4u);
}

// ---- Fatal paths: exact messages.
const std::vector<float> kWhole{0, 0, 1, 1}, kLeftPadded{-0.5f, 0, 0.5f, 1}, kThin{0, 0, 0.1f, 1};
const std::vector<float> kNoWidth{0.5f, 0, 0.5f, 1}, kNoHeight{0, 0.5f, 1, 0.5f}, kOutside{1.5f, 0, 2, 1};
const std::vector<float> kFarOutside{-300, 0, 1, 1};  // the image is under half a pixel of the output

// Each row's `fault` (if any) fails the next call of that function.
struct DeathRow {
  const char* fault;
  MI_S32 code;
  std::function<void()> act;
  const char* message;
};

void expect_deaths(const std::vector<DeathRow>& rows) {
  for (const DeathRow& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_DEATH((row.fault ? MI_TEST_FailNext(row.fault, row.code) : 0, row.act()), row.message);
  }
}

TEST_F(IveprocDeathTest, DmaEngineAndFlushFailuresAreFatal) {
  TestImage img(TestImage::kU8c1, 10, 4, 16), src(TestImage::kU8c1, 8, 4, 16), dst(TestImage::kU8c1, 4, 2, 8);
  TestImage sums(TestImage::kU8c1, 32, 4, 64), nv(TestImage::kNv12, 8, 4, 16),
      rgb(TestImage::kU8c3, 8, 4, 16);
  auto integ = [&](int srcStride, int srcWidth, int srcHeight, int dstStride, int dstWidth, int dstHeight) {
    miive_u8c1_integ(src.phy(), src.vir(), srcStride, srcWidth, srcHeight, sums.phy(), sums.vir(), dstStride,
                     dstWidth, dstHeight);
  };
  auto yuv2rgb = [&](int dstHeight) {
    miive_yuv2rgb(nv.phy(0), nv.phy(1), nv.vir(0), nv.vir(1), 16, 16, 8, 4, rgb.phy(0), rgb.phy(1),
                  rgb.phy(2), rgb.vir(0), rgb.vir(1), rgb.vir(2), 16, 16, 16, 8, dstHeight);
  };
  auto copy = [&](int srcW, int srcH, int dstW, int dstH) {
    misys_2d_u8c1_roi_copy(img.phy(), 16, 10, 4, 1, 0, srcW, srcH, img.phy(), 16, 10, 4, 5, 2, dstW, dstH);
  };
  expect_deaths({
      {"MI_SYS_FlushInvCache", kSysError, [&] { misys_flush(img.vir(), 4096); },
       "Check failed: ok == MI_SUCCESS MI_SYS_FlushInvCache Failed: size=4096, ret=0xa0014003"},
      {"MI_SYS_FlushInvCache", kSysError, [&] { misys_flush(img.vir(), 4097); },
       "Check failed: ok == MI_SUCCESS MI_SYS_FlushInvCache Failed: size=8192, ret=0xa0014003"},
      {"MI_SYS_MemcpyPa", kSysError, [&] { misys_1d_copy(img.phy(), img.phy() + 16, 12); },
       "MI_SYS_MemcpyPa Failed: len=12, ret=0xa0014003"},
      {"MI_SYS_MemsetPa", kSysError, [&] { misys_1d_memset(img.phy(), 0x07070707u, 12); },
       "MI_SYS_MemsetPa Failed: len=12, val=117901063, ret=0xa0014003"},
      {"MI_SYS_BufFillPa", kSysError, [&] { misys_2d_u8c1_roi_memset(img.phy(), 16, 10, 4, 1, 2, 3, 2, 0); },
       "MI_SYS_BufFillPa Failed: image height/width/stride=4/10/16, roi=1/2/3/2, ret=0xa0014003"},
      {"MI_SYS_BufBlitPa", kSysError, [&] { copy(4, 2, 4, 2); },
       "MI_SYS_BufBlitPa Failed: Src: height/width/stride=4/10/16, SrcROI=1/0/4/2, "
       "Dst: height/width/stride=4/10/16, DstROI=5/2/4/2, ret=0xa0014003"},
      {nullptr, 0, [&] { copy(3, 2, 4, 2); },
       "Check failed: roiSrc.u16Width == roiDst.u16Width Roi Width not Matched: srcRoiWidth=3, while "
       "dstRoiWidth=4"},
      {nullptr, 0, [&] { copy(3, 2, 3, 1); },
       "Check failed: roiSrc.u16Height == roiDst.u16Height Roi Height not Matched: srcRoiHeight=2, while "
       "dstRoiHeight=1"},
      {"MI_IVE_Create", kIveError, [&] { u8c1_resize(src, dst); },
       "MI_IVE_Create failed: [0-9]+, ret=0xa0024003"},
      {"MI_IVE_Destroy", kIveError, [&] { u8c1_resize(src, dst); },
       "Check failed: MI_SUCCESS == ok MI_IVE_Destroy failed: [0-9]+, ret=0xa0024003"},
      {"MI_IVE_Resize", kIveError, [&] { u8c1_resize(src, dst); },
       "MI_IVE_Resize Failed: src height/width/stride=4/8/16, dst height/width/stride=2/4/8, ret=0xa0024003"},
      {"MI_IVE_Integ", kIveError, [&] { integ(16, 8, 4, 64, 32, 4); },
       "MI_IVE_Integ Failed: src height/width/stride=4/8/16, dst height/width/stride=4/32/64, "
       "ret=0xa0024003"},
      {"MI_IVE_Csc", kIveError, [&] { yuv2rgb(4); },
       "MI_IVE_Csc Failed: src height/width/stride=4/8/16, dst height/width/stride=4/8/16, ret=0xa0024003"},
      {nullptr, 0, [&] { yuv2rgb(2); }, "Check failed: srcHeight == dstHeight "},
      {nullptr, 0,
       [&] {
         miive_rgb2yuv(rgb.phy(0), rgb.phy(1), rgb.phy(2), rgb.vir(0), rgb.vir(1), rgb.vir(2), 16, 16, 16, 8,
                       4, nv.phy(0), nv.phy(1), nv.vir(0), nv.vir(1), 16, 16, 6, 4);
       },
       "Check failed: srcWidth == dstWidth "},
      {nullptr, 0, [&] { integ(16, 8, 4, 64, 32, 3); }, "Check failed: dstHeight == srcHeight "},
      {nullptr, 0, [&] { integ(16, 8, 4, 64, 28, 4); }, "Check failed: dstWidth == 4 \\* srcWidth "},
      {nullptr, 0, [&] { integ(16, 8, 4, 60, 32, 4); }, "Check failed: dstStride == 4 \\* srcStride "},
      {nullptr, 0, [&] { integ(16, 8, 1081, 64, 32, 1081); }, "Check failed: srcHeight <= 1080 "},
      {nullptr, 0, [&] { integ(1921, 1921, 4, 7684, 7684, 4); }, "Check failed: srcWidth <= 1920 "},
  });
}

TEST_F(IveprocDeathTest, CropPadAndRoiResizeCheckSizesLayoutsAndScratch) {
  TestImage src(TestImage::kNv12, 10, 6, 16), dst(TestImage::kNv12, 10, 6, 16);
  auto nv12_cpu_fill = [&](int strideUV, unsigned char* virUV) {
    mi_yuv420sp_crop_padding(src.phy(0), src.phy(1), src.vir(0), src.vir(1), 16, 16, 10, 6, dst.phy(0),
                             dst.phy(1), dst.vir(0), virUV, 16, strideUV, 10, 6, 1, -1, 0, 0, 255, 0, 0);
  };
  TestImage u8(TestImage::kU8c1, 16, 8, 16), u8Dst(TestImage::kU8c1, 8, 8, 16);
  auto u8_roi = [&](std::shared_ptr<MmzBlob> scratch, std::vector<float> roi) {
    mi_u8c1_roi_resize(u8.phy(), u8.vir(), 16, 16, 8, u8Dst.phy(), u8Dst.vir(), 16, 8, 8, scratch, roi, 0);
  };
  auto ok = std::make_shared<MmzBlob>(1, 8, 16);
  TestImage rgb(TestImage::kU8c3, 16, 8, 16), nv(TestImage::kNv12, 16, 8, 16);
  // {-0.5, 0, 0.5, 1} of 128 x 64 into 128 x 64: crop A 64 x 64 and part B 64 x 64, 6144 bytes each.
  TestImage big(TestImage::kNv12, 128, 64, 128), bigDst(TestImage::kNv12, 128, 64, 128);
  auto page = std::make_shared<MmzBlob>(1, 1, 16);
  expect_deaths({
      {nullptr, 0, [&] { u8c1_crop_pad(src, dst, 1, 0, 0, 0, 0); },
       "Check failed: dstWidthReq == dstWidth && dstHeightReq == dstHeight "},
      {nullptr, 0, [&] { nv12_crop_pad(src, dst, 1, 1, 0, 0, 0, 0, 0); },
       "Check failed: dstWidthReq == dstWidth && dstHeightReq == dstHeight "
       "dstWidthReq/dstHeightReq=12/6, dstWidth/dstHeight=10/6"},
      {nullptr, 0, [&] { u8c1_crop_pad(src, dst, -10, 10, 0, 0, 0); }, "Check failed: cp_width > 0 "},
      {nullptr, 0, [&] { u8c1_crop_pad(src, dst, 0, 0, 6, -6, 0); }, "Check failed: cp_height > 0 "},
      {nullptr, 0, [&] { nv12_cpu_fill(32, dst.vir(1)); }, "Check failed: dstStride_y == dstStride_uv "},
      {nullptr, 0, [&] { nv12_cpu_fill(16, dst.vir(1) + 16); },
       "Check failed: dstVir_uv == dstVir_y \\+ dstHeight \\* dstStride_y "},
      {"MI_SYS_FlushInvCache", kSysError, [&] { nv12_crop_pad(src, dst, 2, -2, 0, 0, 255, 0, 0); },
       "MI_SYS_FlushInvCache Failed: height/width/stride=6/10/16, ret=0xa0014003"},
      {nullptr, 0, [&] { u8_roi(ok, kNoWidth); }, "Check failed: fwidth > 0 && fheight > 0 "},
      {nullptr, 0, [&] { u8_roi(ok, kThin); }, "Check failed: width > 0 && height > 0 "},
      {nullptr, 0, [&] { u8_roi(nullptr, kWhole); }, "Check failed: pMmz "},
      {nullptr, 0, [&] { u8_roi(std::make_shared<MmzBlob>(1, 8, 8, 8), kWhole); },
       "Check failed: pMmz->stride\\(\\) >= width "},
      {nullptr, 0, [&] { u8_roi(std::make_shared<MmzBlob>(1, 7, 16), kWhole); },
       "Check failed: pMmz->height\\(\\) >= height "},
      {nullptr, 0,
       [&] {
         auto small = std::make_shared<MmzBlob>(1, 23, 16);
         mi_u8c3_roi_resize(rgb.phy(0), rgb.phy(1), rgb.phy(2), rgb.vir(0), rgb.vir(1), rgb.vir(2), 16, 16,
                            16, 16, 8, rgb.phy(0), rgb.phy(1), rgb.phy(2), rgb.vir(0), rgb.vir(1), rgb.vir(2),
                            16, 16, 16, 16, 8, small, kWhole, 0, 0, 0);
       },
       "Check failed: pMmz->height\\(\\) >= height \\* 3 "},
      {nullptr, 0,
       [&] {
         auto small = std::make_shared<MmzBlob>(1, 11, 16);
         mi_yuv420sp_roi_resize(nv.phy(0), nv.phy(1), nv.vir(0), nv.vir(1), 16, 16, 16, 8, nv.phy(0),
                                nv.phy(1), nv.vir(0), nv.vir(1), 16, 16, 16, 8, small, kWhole, 0, 0, 0);
       },
       "Check failed: pMmz->height\\(\\) >= height \\* 3 / 2 "},
      {nullptr, 0, [&] { nv12_roi_optimized(big, bigDst, page, kLeftPadded, 0, 0, 0); },
       "Check failed: pMmz->capacity\\(\\) >= required_mmz_size required 12288 bytes, while pMmz only has "
       "4096 bytes."},
      {nullptr, 0, [&] { nv12_roi_optimized(big, bigDst, page, kOutside, 0, 0, 0); },
       "Check failed: src_width > 0 && src_height > 0 "},
      // The second flush covers A and B from A's start: 12288 bytes.
      {nullptr, 0,
       [&] {
         MI_TEST_InjectFault("MI_SYS_FlushInvCache", kSysError, 1, 1);
         auto both = std::make_shared<MmzBlob>(1, 3, 4096);
         nv12_roi_optimized(big, bigDst, both, kLeftPadded, 0, 0, 0);
       },
       "MI_SYS_FlushInvCache Failed: size=12288, ret=0xa0014003"},
      {nullptr, 0, [&] { nv12_roi_optimized(big, bigDst, page, kNoHeight, 0, 0, 0); },
       "Check failed: fwidth > 0 && fheight > 0 "},
  });
}

TEST_F(IveprocDeathTest, ScalerChecksItsScratchAndReportsFailedCalls) {
  TestImage src(TestImage::kNv12, 512, 64, 512), dst(TestImage::kNv12, 8, 8, 16);
  TestImage big(TestImage::kNv12, 128, 64, 128), bigDst(TestImage::kNv12, 128, 64, 128);
  TestImage small(TestImage::kNv12, 32, 16, 32), smallDst(TestImage::kNv12, 16, 8, 16);
  auto page = std::make_shared<MmzBlob>(1, 1, 16);
  std::shared_ptr<MmzBlob> none;
  expect_deaths({
      {nullptr, 0, [&] { nv12_roi_scl(src, dst, page, kWhole, 0, 0, 0); },
       "Check failed: mmz_idx \\+ mmz_required <= pMmz->capacity\\(\\) required 12384 bytes, while pMmz "
       "only has 4096 bytes."},
      // {-0.5, 0, 0.5, 1} of 128 x 64: the part, 64 x 64, needs 6144 bytes of its own.
      {nullptr, 0, [&] { nv12_roi_scl(big, bigDst, page, kLeftPadded, 0, 0, 0); },
       "Check failed: mmz_idx \\+ required_mmz_size <= pMmz->capacity\\(\\) required 6144 bytes, while "
       "pMmz only has 4096 bytes."},
      // The image is under half a pixel of the destination: nothing to scale to.
      {nullptr, 0, [&] { nv12_roi_scl(big, bigDst, none, kLeftPadded, 0, 0, 0); }, "Check failed: pMmz "},
      {nullptr, 0, [&] { nv12_roi_scl(big, bigDst, page, kFarOutside, 0, 0, 0); },
       "Check failed: part_width > 0 && part_height > 0 "},
      {"MI_SCL_StretchBuf", kSclError, [&] { nv12_roi_scl(small, smallDst, page, kWhole, 0, 0, 0); },
       "MI_SCL_StretchBuf Failed with ret = 0xa0094003\nSRC: \n\t ePixelFormat: 11\n\t w/h: 32/16\n\t "
       "stride: 32/32\n\t phyAddr: 0x[0-9a-f]+/0x[0-9a-f]+\nCROP: \n\t x/y: 0/0\n\t w/h: 32/16\nDST: \n\t "
       "ePixelFormat: 11\n\t w/h: 16/8\n\t stride: 16/16\n\t phyAddr: 0x[0-9a-f]+/0x[0-9a-f]+\n"},
  });
}

}  // namespace
