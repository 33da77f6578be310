// ImageYuv420sp: DMA, engine and CPU paths against each other and a plain loop, region statistics,
// integral sums, JPEG in 4:2:0, 4:2:2 and 4:4:4 against raw TurboJPEG, and pick_nearest_pixel.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "platform/Mmz.h"
#include "testing/LogCapture.h"
#include "util/PickNearestPixel.h"

namespace {

using namespace imagetest;

class ImageYuv420spTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { MiSysInit(); }
};

// Every Y of img is fy(x, y) and every chroma pair fuv(i, j).
void expect_nv12(const ImageYuv420sp& img, const std::function<int(int, int)>& fy,
                 const std::function<Bytes(int, int)>& fuv) {
  for (unsigned y = 0; y < img.height(); ++y)
    for (unsigned x = 0; x < img.width(); ++x) ASSERT_EQ(luma(img, x, y), fy(x, y)) << "Y " << x << "," << y;
  for (unsigned j = 0; j < img.height() / 2; ++j)
    for (unsigned i = 0; i < img.width() / 2; ++i)
      ASSERT_EQ(chroma(img, i, j), fuv(i, j)) << "UV " << i << "," << j;
}
std::function<int(int, int)> flat(int y) {
  return [y](int, int) { return y; };
}
std::function<Bytes(int, int)> pair(int u, int v) {
  return [=](int, int) { return Bytes{Bytes::value_type(u), Bytes::value_type(v)}; };
}

TEST_F(ImageYuv420spTest, ResetAndDrawConvertTheColourOnce) {
  auto img = mmz_yuv(8, 8);
  img->reset(255, 255, 255);
  expect_nv12(*img, flat(255), pair(128, 128));
  img->reset(0, 0, 0);
  img->draw_point_raw(3, 5, 255, 0, 0);  // red: Y 76, U 85, V 255 on pixel (3, 5) and pair (1, 2) ...
  img->draw_point_raw(6, 0, 255, 0, 0);  // ... and on pixel (6, 0) and pair (3, 0)
  expect_nv12(
      *img, [](int x, int y) { return x * 10 + y == 35 || x * 10 + y == 60 ? 76 : 0; },
      [](int i, int j) {
        return i * 10 + j == 12 || i * 10 + j == 30 ? Bytes{85, 255} : Bytes{128, 128};
      });
}

TEST_F(ImageYuv420spTest, CpuResizeAveragesLumaAndEachChromaByteOnTheTargetGeometry) {
  auto src = host_yuv(8, 4);
  fill_yuv(
      *src, [](int x, int y) { return 10 * x + 40 * y; }, upat);
  auto dst = host_yuv(4, 2);
  dst->resize_from(src.get(), false, false);
  ASSERT_EQ(dst->width() * 10 + dst->height(), 42u);
  // Samples at 0.5 + 2k: the mean of each 2x2 block; chroma 4x2 -> 2x1 likewise: U = 110 + 6i, and
  // V = (62 + 61 + 47 + 34) / 4 and (48 + 55 + 33 + 36) / 4 (U ^ 0x5a of 100, 103, 117, 120 and of
  // 106, 109, 123, 126).
  expect_nv12(
      *dst, [](int x, int y) { return 20 * x + 80 * y + 25; },
      [](int i, int) {
        return Bytes{Bytes::value_type(110 + 6 * i), Bytes::value_type(i ? 43 : 51)};
      });
}

TEST_F(ImageYuv420spTest, RoiResizeHalfOutsidePadsTheLeftHalf) {
  auto src = mmz_yuv(64, 32);
  src->reset(255, 255, 255);
  auto scratch = std::make_shared<MmzBlob>(std::vector<int>{1, 96, 64});
  for (bool cpu : {false, true}) {
    auto dst = mmz_yuv(32, 16);
    dst->roi_resize_from(src.get(), {-0.5f, 0.f, 0.5f, 1.f}, scratch, 255, 0, 0, false, cpu);
    SCOPED_TRACE(cpu);  // both pad exactly the left half (the CPU's samples start at x = 0.5)
    expect_nv12(
        *dst, [](int x, int) { return x < 16 ? 76 : 255; },
        [](int i, int) {
          return i < 8 ? Bytes{85, 255} : Bytes{128, 128};
        });
  }
  auto resized = mmz_yuv(16, 8);
  resized->resize_from(src.get(), false, false);
  expect_nv12(*resized, flat(255), pair(128, 128));
}

TEST_F(ImageYuv420spTest, DownsamplePicksEvenPixelsAndWholePairsOrResizesOnTheEngine) {
  auto src = host_yuv(8, 4);
  fill_yuv(*src, ypat, upat);
  auto dst = host_yuv(4, 2);
  dst->downsample_2_from(src.get(), true);
  expect_nv12(
      *dst, [&](int x, int y) { return luma(*src, 2 * x, 2 * y); },
      [&](int i, int) { return chroma(*src, 2 * i, 0); });
  auto grey = mmz_yuv(8, 8);
  grey->reset(40, 40, 40);
  auto small = mmz_yuv(4, 4);
  LogCapture log(google::GLOG_ERROR);
  small->downsample_2_from(grey.get(), false);
  EXPECT_EQ(log.count("Using Resize Instead for Downsample (1/2x)."), 1);
  expect_nv12(*small, flat(40), pair(128, 128));
}

TEST_F(ImageYuv420spTest, GrayStatisticsOnHostAndFromTheInclusiveIntegral) {
  auto block = [](int x, int y) { return 10 * (x / 2) + y / 2; };  // every 2x2 block: 10 bx + by
  const BoundBox<float> box({0.25f, 0.25f, 0.5f, 0.5f}, true, false);
  auto host = host_yuv(8, 8);
  fill_yuv(*host, block, upat);
  // x 2..5, y 2..6 (the bottom edge clamps to row 7, excluded): 336 / 4 / 5.
  EXPECT_EQ(host->gray_of_region(BoundBox<float>({0.25f, 0.25f, 0.75f, 1.f}, true, false)), 16);
  EXPECT_EQ(host->gray_of_context(box), (std::vector<int>{0, 10, 20, 1, 11, 21, 2, 12, 22}));
  // Platform: corners (x1, y1) = 2 * block, (x2, y2) one block on; the inclusive integral sums
  // columns x1+1..x2 and rows y1+1..y2, which straddle four blocks: (40 bx + 4 by + 22) / 4.
  auto platform = mmz_yuv(8, 8);
  fill_yuv(*platform, block, upat);
  EXPECT_EQ(platform->gray_of_context(box), (std::vector<int>{5, 15, 25, 6, 16, 26, 7, 17, 27}));
  MI_TEST_ResetCallLog();
  auto sums = platform->integ_sum();
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_FlushInvCache"), 2u);  // the scratch, before and after the engine
  ASSERT_EQ(sums->shape(), (std::vector<int>{1, 8, static_cast<int>(platform->stride())}));
  EXPECT_EQ(sums->data[platform->stride() + 3], 40u);  // rows 0..1, columns 0..3: 0 0 10 10 twice
  platform->reset(100, 100, 100);
  auto rgb = platform->rgb_integ_map();
  ASSERT_EQ(rgb->shape(), (std::vector<int>{3, 8, static_cast<int>(platform->stride())}));
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(rgb->data[(k * 8 + 1) * platform->stride() + 3], 800.0, 8.0) << k;
}

TEST_F(ImageYuv420spTest, PickNearestPixelTakesIntegerScaledPositions) {
  auto large = host_yuv(8, 4);
  fill_yuv(*large, ypat, upat);
  auto small = mmz_yuv(6, 2);
  pick_nearest_pixel(small.get(), large.get());
  expect_nv12(
      *small, [&](int x, int y) { return luma(*large, x * 8 / 6, y * 2); },
      [&](int i, int) { return chroma(*large, i * 4 / 3, 0); });
}

// ---- JPEG ----

TEST_F(ImageYuv420spTest, JpegDecodesMatchTurboJpegPlanesReducedTo420) {
  // Odd sizes become even; 4:2:2 takes even chroma rows, 4:4:4 even rows and columns; a 4:4:4
  // column or row without source is 0. Odd-height 4:2:2 and greyscale are refused.
  const struct {
    int w, h, subsamp, rowStep, colStep;
    const char* refusal;
  } rows[] = {
      {33, 17, TJSAMP_420, 1, 1, nullptr},
      {33, 18, TJSAMP_422, 2, 1, nullptr},
      {33, 17, TJSAMP_444, 2, 2, nullptr},
      {641, 481, TJSAMP_420, 1, 1, nullptr},
      {641, 481, TJSAMP_422, 2, 1, "Check failed: new_width * new_height * 2 == yuvSize (618888 vs. 617604)"},
      {16, 16, TJSAMP_GRAY, 1, 1, "Unsupported Subsampple: 3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.w << "x" << row.h << " sampling " << row.subsamp);
    const Bytes jpeg = make_jpeg(row.w, row.h, row.subsamp);
    // The even size above, over a buffer with a guard row after it; white, so zeroed pixels show. No
    // producer: decoding to any other size would be fatal.
    const int w2 = (row.w + 1) & ~1, h2 = (row.h + 1) & ~1;
    Bytes buffer(w2 * h2 * 3 / 2 + w2, 0xee);
    auto img = std::make_shared<ImageYuv420sp>(
        std::make_shared<BlobPlane<unsigned char>>(buffer.data(), 1, h2 * 3 / 2, w2, w2), nullptr);
    img->reset(255, 255, 255);
    LogCapture log(google::GLOG_WARNING);
    ASSERT_EQ(img->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT), row.refusal == nullptr);
    EXPECT_EQ(log.count("INPUT JPEG: " + std::to_string(row.w) + "/" + std::to_string(row.h) +
                        ", subsample: " + std::to_string(row.subsamp) + ", colorspace: "),
              1);
    if (row.refusal) {
      EXPECT_EQ(log.count(row.refusal), 1);
      continue;
    }
    // TurboJPEG's own planar decode (rows padded to 1 byte): Y, U, V planes one after another.
    Bytes tj(tjBufSizeYUV2(row.w, 1, row.h, row.subsamp));
    tjhandle handle = tjInitDecompress();
    ASSERT_EQ(tjDecompressToYUV2(handle, jpeg.data(), jpeg.size(), tj.data(), row.w, 1, row.h, 0), 0);
    tjDestroy(handle);
    const int yw = tjPlaneWidth(0, row.w, row.subsamp), yh = tjPlaneHeight(0, row.h, row.subsamp);
    const int cw = tjPlaneWidth(1, row.w, row.subsamp), ch = tjPlaneHeight(1, row.h, row.subsamp);
    EXPECT_EQ(Bytes(buffer.end() - w2, buffer.end()), Bytes(w2, 0xee));  // nothing written past the image
    expect_nv12(
        *img, [&](int x, int y) { return x < yw && y < yh ? tj[y * yw + x] : 0; },
        [&](int i, int j) {
          const size_t at = yw * yh + (j * row.rowStep) * cw + i * row.colStep;
          return Bytes{tj[at], tj[at + cw * ch]};
        });
  }
}

TEST_F(ImageYuv420spTest, EncodingMatchesRawTurboJpegOnI420Exactly) {
  const int w = 38, h = 6;  // chroma rows of 19 pairs; stride 48
  auto img = mmz_yuv(w, h);
  fill_yuv(*img, ypat, upat);
  Bytes i420;  // the same pattern as planes Y, U, V
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) i420.push_back(Bytes::value_type(ypat(x, y)));
  for (int v = 0; v < 2; ++v)
    for (int j = 0; j < h / 2; ++j)
      for (int i = 0; i < w / 2; ++i) i420.push_back(Bytes::value_type(upat(i, j) ^ (v ? 0x5a : 0)));
  tjhandle handle = tjInitCompress();
  unsigned char* raw = nullptr;
  unsigned long rawSize = 0;
  ASSERT_EQ(tjCompressFromYUV(handle, i420.data(), w, 1, h, TJSAMP_420, &raw, &rawSize, 98, 0), 0);
  const Bytes expected(raw, raw + rawSize);
  tjFree(raw);
  tjDestroy(handle);
  EXPECT_EQ(*img->encode_jpg(), expected);
}

using ImageYuv420spDeathTest = ImageYuv420spTest;

TEST_F(ImageYuv420spDeathTest, MisuseIsFatalWithTheSystemsMessages) {
  Bytes bytes(1280 * 1081);
  EXPECT_DEATH(
      ImageYuv420sp(std::make_shared<BlobPlane<unsigned char>>(bytes.data(), 1, 1081, 1280, 1280), nullptr),
      "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ");
  EXPECT_DEATH(ImageYuv420sp(nullptr, nullptr), "Check failed: producer_ ");
  auto yuv = host_yuv(4, 4);
  EXPECT_DEATH(yuv->copy_from(host_rgb(4, 4).get(), false, false), "Check failed: peer ");
  EXPECT_DEATH(yuv->integ_sum(), "Check failed: yuvData_.image->phy_data Only Support IVE");
  EXPECT_DEATH(yuv->rgb_integ_map(), "Check failed: yuvData_.image->phy_data Only Support IVE");
  EXPECT_DEATH(yuv->pad_crop_from(host_yuv(4, 4).get(), {1, 1, 0, 0}, 0, 0, 0, false, false), "must be even");
  auto big = host_yuv(8, 8);
  auto small = host_yuv(4, 4);
  EXPECT_DEATH(big->roi_copy_from(small.get(), {4, 0, 4, 4}, false),
               "Check failed: dstRoi\\[0\\] \\+ peer->get_yuv\\(\\).width < yuvData_.width roi x=4, width=8");
  EXPECT_DEATH(big->roi_copy_from(small.get(), {0, 4, 4, 4}, false),
               "Check failed: dstRoi\\[1\\] \\+ peer->get_yuv\\(\\).height < yuvData_.height ");
  EXPECT_DEATH(big->roi_copy_from(small.get(), {0, 0, 2, 4}, false),
               "Check failed: peer->get_yuv\\(\\).height == dstRoi\\[3\\] && peer->get_yuv\\(\\).width == "
               "dstRoi\\[2\\] ");
  EXPECT_DEATH(big->roi_copy_from(small.get(), {1, 0, 4, 4}, false), "multiples of 2: 1/0");
  EXPECT_DEATH(host_yuv(2, 2)->downsample_2_from(big.get(), true),
               "Check failed: peer->get_yuv\\(\\).height / 2 <= yuvData_.height and "
               "peer->get_yuv\\(\\).width / 2 <= yuvData_.width ");
  EXPECT_DEATH(small->downsample_2_from(host_yuv(6, 6).get(), true),
               "Check failed: another.width % 2 == 0 && another.height % 2 == 0 ");
  EXPECT_DEATH(pick_nearest_pixel(host_yuv(0, 0).get(), big.get()),
               "Check failed: pSmall->height\\(\\) > 0 and pSmall->width\\(\\) > 0 ");
  EXPECT_DEATH(pick_nearest_pixel(nullptr, big.get()), "Check failed: pLarge and pSmall ");
}

}  // namespace
