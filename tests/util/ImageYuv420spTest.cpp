// ImageYuv420sp: DMA, engine and CPU paths against each other and a plain loop, region statistics,
// integral sums, JPEG in 4:2:0, 4:2:2 and 4:4:4 against raw TurboJPEG, and pick_nearest_pixel.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "testing/LogCapture.h"
#include "util/PickNearestPixel.h"

namespace {

using namespace imagetest;

// Every Y of img is fy(x, y) and every chroma pair (i, j) fuv(i, j).
void expect_nv12(const ImageYuv420sp& img, const std::function<int(int, int)>& fy,
                 const std::function<Bytes(int, int)>& fuv) {
  const std::vector<Bytes> in = rows(img);
  for (unsigned y = 0; y < img.height(); ++y)
    for (unsigned x = 0; x < img.width(); ++x) ASSERT_EQ(in[y][x], fy(x, y)) << "Y " << x << "," << y;
  for (unsigned j = 0; j < img.height() / 2; ++j)
    for (unsigned i = 0; i < img.width() / 2; ++i)
      ASSERT_EQ(Bytes(&in[img.height() + j][2 * i], &in[img.height() + j][2 * i + 2]), fuv(i, j))
          << i << "," << j;
}

TEST(ImageYuv420spTest, DrawingAPointConvertsTheColourForThePixelAndItsPair) {
  auto img = mmz_yuv(4, 4);
  img->reset(0, 0, 0);
  img->draw_point_raw(3, 1, 255, 0, 0);  // red: Y 76 on pixel (3, 1), U 85 and V 255 on pair (1, 0)
  EXPECT_EQ(rows(*img), (std::vector<Bytes>{{0, 0, 0, 0},
                                            {0, 0, 0, 76},
                                            {0, 0, 0, 0},
                                            {0, 0, 0, 0},
                                            {128, 128, 85, 255},
                                            {128, 128, 128, 128}}));
}

TEST(ImageYuv420spTest, CpuResizeAveragesLumaAndEachChromaByteOnTheTargetGeometry) {
  auto src = host_yuv(8, 4);
  fill_yuv(
      *src, [](int x, int y) { return 10 * x + 40 * y; }, upat);
  auto dst = host_yuv(4, 2);
  dst->resize_from(src.get(), false, false);
  // Samples at 0.5 + 2k: the mean of each 2x2 block; chroma 4x2 -> 2x1 likewise: U = 110 + 6i, and
  // V = (62 + 61 + 47 + 34) / 4 and (48 + 55 + 33 + 36) / 4 (U ^ 0x5a of 100, 103, 117, 120 and of
  // 106, 109, 123, 126).
  EXPECT_EQ(rows(*dst), (std::vector<Bytes>{{25, 45, 65, 85}, {105, 125, 145, 165}, {110, 51, 116, 43}}));
}

TEST(ImageYuv420spTest, RoiResizeHalfOutsidePadsTheLeftHalf) {
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
}

TEST(ImageYuv420spTest, DownsamplePicksEvenPixelsAndWholePairsOrResizesOnTheEngine) {
  auto src = host_yuv(8, 4);
  fill_yuv(*src, ypat, upat);
  auto dst = host_yuv(4, 2);
  dst->downsample_2_from(src.get(), true);
  // Y 14 x + 26 y; U 100 + 6 i and V = U ^ 0x5a.
  EXPECT_EQ(rows(*dst), (std::vector<Bytes>{{0, 14, 28, 42}, {26, 40, 54, 68}, {100, 62, 106, 48}}));
  auto grey = mmz_yuv(8, 8), small = mmz_yuv(4, 4), want = host_yuv(4, 4);
  grey->reset(40, 40, 40);
  want->reset(40, 40, 40);
  small->downsample_2_from(grey.get(), false);
  EXPECT_EQ(rows(*small), rows(*want));
}

TEST(ImageYuv420spTest, PlatformGrayStatisticsComeFromTheInclusiveIntegral) {
  // Every 2x2 block has grey 10 bx + by. Corners (x1, y1) = 2 * block, (x2, y2) one block on; the inclusive
  // integral sums columns x1+1..x2 and rows y1+1..y2, which straddle four blocks: (40 bx + 4 by + 22) / 4.
  auto platform = mmz_yuv(8, 8);
  fill_yuv(
      *platform, [](int x, int y) { return 10 * (x / 2) + y / 2; }, upat);
  EXPECT_EQ(platform->gray_of_context(BoundBox<float>({0.25f, 0.25f, 0.5f, 0.5f}, true, false)),
            (std::vector<int>{5, 15, 25, 6, 16, 26, 7, 17, 27}));
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

TEST(ImageYuv420spTest, PickNearestPixelTakesIntegerScaledPositions) {
  auto large = host_yuv(8, 4);
  fill_yuv(*large, ypat, upat);
  auto small = mmz_yuv(6, 2);
  pick_nearest_pixel(small.get(), large.get());
  // Columns 0, 1, 2, 4, 5, 6 and pairs 0, 1, 2 of rows 0 and 2.
  EXPECT_EQ(
      rows(*small),
      (std::vector<Bytes>{{0, 7, 14, 28, 35, 42}, {26, 33, 40, 54, 61, 68}, {100, 62, 103, 61, 106, 48}}));
}

// ---- JPEG ----

TEST(ImageYuv420spTest, JpegDecodesMatchTurboJpegPlanesReducedTo420) {
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

TEST(ImageYuv420spDeathTest, MisuseIsFatalWithTheSystemsMessages) {
  Bytes bytes(1280 * 1081);
  EXPECT_DEATH(
      ImageYuv420sp(std::make_shared<BlobPlane<unsigned char>>(bytes.data(), 1, 1081, 1280, 1280), nullptr),
      "Check failed: pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0 ");
  EXPECT_DEATH(ImageYuv420sp(nullptr, nullptr), "Check failed: producer_ ");
  auto big = host_yuv(8, 8), small = host_yuv(4, 4);
  EXPECT_DEATH(small->copy_from(host_rgb(4, 4).get(), false, false), "Check failed: peer ");
  EXPECT_DEATH(small->integ_sum(), "Check failed: yuvData_.image->phy_data Only Support IVE");
  auto platform = mmz_yuv(4, 4);
  EXPECT_DEATH((MI_TEST_FailNext("MI_SYS_FlushInvCache", MI_ERR_SYS_ILLEGAL_PARAM), platform->refresh()),
               "Check failed: ok == MI_SUCCESS MI_SYS_FlushInvCache failed: 4096");
  EXPECT_DEATH(small->rgb_integ_map(), "Check failed: yuvData_.image->phy_data Only Support IVE");
  EXPECT_DEATH(small->pad_crop_from(big.get(), {1, 1, 0, 0}, 0, 0, 0, false, false), "must be even");
  const std::string peer = "Check failed: peer->get_yuv\\(\\).";
  const std::pair<std::vector<int>, std::string> rois[] = {
      {{4, 0, 4, 4},
       "Check failed: dstRoi\\[0\\] \\+ " + peer.substr(14) + "width < yuvData_.width roi x=4, width=8"},
      {{0, 4, 4, 4}, "Check failed: dstRoi\\[1\\] \\+ " + peer.substr(14) + "height < yuvData_.height "},
      {{0, 0, 2, 4}, peer + "height == dstRoi\\[3\\] && " + peer.substr(14) + "width == dstRoi\\[2\\] "},
      {{1, 0, 4, 4}, "multiples of 2: 1/0"},
  };
  for (const auto& roi : rois) EXPECT_DEATH(big->roi_copy_from(small.get(), roi.first, false), roi.second);
  EXPECT_DEATH(
      host_yuv(2, 2)->downsample_2_from(big.get(), true),
      peer + "height / 2 <= yuvData_.height and " + peer.substr(14) + "width / 2 <= yuvData_.width ");
  EXPECT_DEATH(small->downsample_2_from(host_yuv(6, 6).get(), true),
               "Check failed: another.width % 2 == 0 && another.height % 2 == 0 ");
  EXPECT_DEATH(pick_nearest_pixel(host_yuv(0, 0).get(), big.get()),
               "Check failed: pSmall->height\\(\\) > 0 and pSmall->width\\(\\) > 0 ");
  EXPECT_DEATH(pick_nearest_pixel(nullptr, big.get()), "Check failed: pLarge and pSmall ");
}

}  // namespace
