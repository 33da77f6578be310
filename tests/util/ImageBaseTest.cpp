// Drawing of ImageBase (stamps, lines, boxes, text with the built-in font), pixel by pixel.
#include <gtest/gtest.h>

#include <array>
#include <complex>
#include <functional>
#include <map>

#include "ImageTestUtil.h"
#include "mi_test.h"
#include "testing/LogCapture.h"

namespace {

using P = std::complex<float>;
using Writes = std::map<std::pair<int, int>, int>;  // (x, y) -> count

// A host RGB image that counts the writes of every pixel.
class CountingImage : public ImageRgb {
 public:
  CountingImage(int w, int h) : CountingImage(imagetest::host_rgb(w, h)) {}
  explicit CountingImage(const std::shared_ptr<ImageRgb>& img)
      : ImageRgb(img->get_blob(), nullptr), keep_(img) {}
  void draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b) override {
    ++writes[{x, y}];
    ImageRgb::draw_point_raw(x, y, r, g, b);
  }
  Writes writes;

 private:
  std::shared_ptr<ImageRgb> keep_;  // owns the pixels
};

TEST(ImageBaseDrawTest, StampsLinesBoxesAndTextCoverExactlyTheirPixelsOnce) {
  const struct {
    const char* name;  // what is drawn: point at p1, line p1-p2, box p1-p2, or text "|-|" at p1
    int w, h;
    float x1, y1, x2, y2, t;
    std::initializer_list<std::array<int, 4>> expected;  // inclusive {x0, x1, y0, y1} rectangles
  } rows[] = {
      // rx = trunc(0.1 * 20) = 2, ry = trunc(0.1 * 10) = 1: offsets -r .. r - 1 around (10, 5).
      {"point", 20, 10, 0.5f, 0.5f, 0, 0, 0.1f, {{8, 11, 4, 5}}},
      // Thicknesses that are not binary fractions: 0.01 * 100 and 0.03 * 100 are 1 and 3 in float.
      {"point", 100, 100, 0.5f, 0.5f, 0, 0, 0.01f, {{49, 50, 49, 50}}},
      {"point", 100, 100, 0.5f, 0.5f, 0, 0, 0.03f, {{47, 52, 47, 52}}},
      {"point", 100, 100, 0.5f, 0.5f, 0, 0, 0.5f, {{45, 54, 45, 54}}},  // radius capped at 5
      {"point", 20, 10, 0.f, 0.f, 0, 0, 0.1f, {{0, 1, 0, 0}}},          // clipped at the edges
      {"point", 20, 10, 1.f, 1.f, 0, 0, 0.1f, {{18, 19, 9, 9}}},
      // n = 4 stamps at x = 8, 7, 6, 5 (the second end drawn, the first not), each x - 1..x.
      {"line", 16, 16, 0.25f, 0.5f, 0.5f, 0.5f, 1.f / 16, {{4, 8, 7, 8}}},
      {"line", 16, 16, 0.5f, 0.5f, 0.25f, 0.5f, 1.f / 16, {{3, 7, 7, 8}}},
      // clang-format off
      {"box", 16, 16, 0.25f, 0.25f, 0.75f, 0.75f, 1.f / 16,
       {{3, 4, 4, 12}, {4, 12, 3, 4}, {11, 12, 3, 11}, {3, 11, 11, 12}}},
      // size 0.25 on 128: cells 6.4 px across and 4 px down, dot half-size trunc(128 / 48) = 2;
      // '|' lights column 2 (x = 44.8), rows 0..6; '-' row 3; each character starts 38.4 px on.
      {"text", 128, 128, 0.25f, 0.5f, 0, 0, 0.25f, {{42, 45, 62, 89}, {68, 71, 74, 77}, {74, 77, 74, 77},
       {81, 84, 74, 77}, {87, 90, 74, 77}, {94, 97, 74, 77}, {119, 122, 62, 89}}},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.name << " " << row.t);
    CountingImage img(row.w, row.h);
    const std::string kind = row.name;
    const P p1(row.x1, row.y1), p2(row.x2, row.y2);
    kind == "point"  ? img.draw_point(p1, 9, 8, 7, row.t)
    : kind == "line" ? img.draw_line(p1, p2, 9, 8, 7, row.t)
    : kind == "box"  ? img.draw_box(p1, p2, 9, 8, 7, row.t)
                     : img.draw_text(p1, "|-|", 9, 8, 7, row.t);
    Writes once;
    for (const auto& r : row.expected)
      for (int y = r[2]; y <= r[3]; ++y)
        for (int x = r[0]; x <= r[1]; ++x) once[{x, y}] = 1;
    EXPECT_EQ(img.writes, once);
    EXPECT_EQ(imagetest::get_rgb(img, row.expected.begin()->at(0), row.expected.begin()->at(2)),
              (imagetest::Bytes{9, 8, 7}));
  }
}

TEST(ImageBaseDrawTest, DrawsNothingForThinDegenerateOrFarAwayShapes) {
  CountingImage img(20, 10);
  img.draw_point(P(0.5f, 0.5f), 1, 1, 1, 0.f);
  img.draw_point(P(0.5f, 0.5f), 1, 1, 1, 0.08f);  // rx = 1 but ry = trunc(0.8) = 0
  img.draw_point(P(0.5f, 0.5f), 1, 1, 1, -1.f);
  img.draw_point(P(std::nanf(""), 0.5f), 1, 1, 1, 0.1f);
  img.draw_line(P(0.1f, 0.1f), P(0.1f, 0.1f), 1, 1, 1, 0.2f);
  img.draw_line(P(0.5f, 0.5f), P(0.52f, 0.5f), 1, 1, 1, 0.2f);  // 0.4 pixels: n = 0
  img.draw_line(P(-1e30f, 0.5f), P(1e30f, 0.5f), 1, 1, 1, 0.1f);
  img.draw_box(P(-5.f, -5.f), P(-4.f, -4.f), 1, 1, 1, 0.1f);
  img.draw_text(P(2.f, 2.f), "abc", 1, 1, 1, 0.1f);
  img.draw_text(P(0.f, 0.f), "   ", 1, 1, 1, 0.5f);
  EXPECT_TRUE(img.writes.empty());
}

TEST(ImageBaseDeathTest, TextOutsideTheFontAndJpegOfTheBaseClassAreFatal) {
  CountingImage img(16, 16);
  EXPECT_DEATH(img.draw_text(P(0.f, 0.f), "a\tb", 1, 1, 1, 0.1f),
               "Check failed: asiicBegin <= asiic && asiic < asiicEnd ");
  EXPECT_DEATH(img.ImageBase::encode_jpg(), "NotImplemented");
  EXPECT_DEATH(img.ImageBase::decode_jpg({}, ImageBase::DECODE_DEFAULT), "NotImplemented");
}

// ---- Behaviour both image classes share, checked plane by plane (R, G, B or Y, U,V rows) ----

using imagetest::Bytes;
using imagetest::planes;
using imagetest::rows;

using Vec = std::shared_ptr<std::vector<unsigned char>>;
using Blob = std::shared_ptr<MmzBlob>;
const struct Kind {
  const char* name;
  std::shared_ptr<ImageBase> (*host)(unsigned, unsigned, const Vec&);
  std::shared_ptr<ImageBase> (*mmz)(unsigned, unsigned, const Blob&);
  const char* decodeFailed;
} kKinds[] = {{"RGB", produce_ImageRgb, produce_mmz_ImageRgb, "TJ Parse to RGB Failed."},
              {"NV12", produce_ImageYuv420sp, produce_mmz_ImageYuv420sp, "TJ Parse to YUV420P Failed."}};

// Platform images end every write by flushing their cache (DMA and engines read memory).
void expect_flushed(const ImageBase& img) {
  EXPECT_TRUE(img.phy() == 0 || MI_TEST_GetCallCount("MI_SYS_FlushInvCache") > 0);
}

// Byte c of row r of the planes (counted on across planes) is fn(r, c, image row); by default a byte
// that differs between neighbours in every used byte of every plane.
int stripes(int r, int c, int) { return r * 13 + c * 7; }
void fill_pattern(const ImageBase& img, int (*fn)(int, int, int) = stripes) {
  int k = 0;
  for (const imagetest::Plane& p : planes(img))
    for (unsigned r = 0; r < p.rows; ++r, ++k)
      for (unsigned c = 0; c < img.width(); ++c)
        p.data[r * p.stride + c] = Bytes::value_type(fn(k, c, r * p.step));
  img.refresh();
}

// Writes src into `out` (the rows of an image with planes `to`) at byte column x and image row y
// (plane row y / step); what falls outside is cut off. Bytes and pixels share columns in both classes.
void place(const ImageBase& src, int x, int y, const std::vector<imagetest::Plane>& to,
           std::vector<Bytes>& out) {
  const std::vector<Bytes> in = rows(src);
  const std::vector<imagetest::Plane> from = planes(src);
  for (size_t p = 0, i = 0, base = 0; p < from.size(); base += to[p].rows, ++p)
    for (int r = 0, row = y / static_cast<int>(from[p].step); r < static_cast<int>(from[p].rows);
         ++r, ++row, ++i)
      for (int c = 0; c < static_cast<int>(src.width()); ++c)
        if (row >= 0 && row < static_cast<int>(to[p].rows) && c + x >= 0 &&
            c + x < static_cast<int>(out[0].size()))
          out[base + row][c + x] = in[i][c];
}

TEST(ImageKindsTest, CopiesByDmaAndByCpuAgree) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto src = kind.mmz(40, 6, nullptr);  // stride 48
    fill_pattern(*src);
    for (int d = 0; d < 6; ++d) {
      auto dst = d < 2   ? kind.mmz(0, 0, nullptr)
                 : d < 4 ? src->produce() /* stride 64 */
                         : kind.host(0, 0, nullptr);
      const bool cpu = d % 2;
      MI_TEST_ResetCallLog();
      dst->copy_from(src.get(), false, cpu);
      EXPECT_EQ(rows(*dst), rows(*src)) << d;
      expect_flushed(*dst);
      EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_BufBlitPa") + MI_TEST_GetCallCount("MI_SYS_MemcpyPa") > 0,
                !cpu && d < 4);
    }
    ImageSplitPlaneDesc desc;
    desc.width = 40;
    desc.height = 6;
    const auto in = planes(*src);
    for (int k = 0; k < 2; ++k) {  // virtual addresses into a host image, then physical ones
      for (size_t p = 0; p < in.size(); ++p) {
        desc.virAddr[p] = k ? nullptr : in[p].data;
        desc.phyAddr[p] = k ? src->phy() + (in[p].data - src->data()) : 0;
        desc.stride[p] = static_cast<int>(in[p].stride);
      }
      auto dst = k ? kind.mmz(0, 0, nullptr) : kind.host(0, 0, nullptr);
      MI_TEST_ResetCallLog();
      dst->copy_from_split_planes(desc);
      EXPECT_EQ(rows(*dst), rows(*src));
      expect_flushed(*dst);
    }
  }
}

TEST(ImageKindsTest, PadCropAndRoiCopyByEngineAndCpuPlaceThePeer) {
  for (const Kind& kind : kKinds) {
    auto src = kind.mmz(8, 6, nullptr);
    fill_pattern(*src);
    for (const roiresize::PadSize& pad :
         {roiresize::PadSize{0, 0, 0, 0}, {2, 4, 2, 0}, {-2, 2, -2, 2}, {-4, -2, 0, -2}})
      for (bool cpu : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << kind.name << " pad " << pad.left << pad.right << pad.top << pad.bottom << cpu);
        auto dst = kind.mmz(0, 0, nullptr);
        MI_TEST_ResetCallLog();
        dst->pad_crop_from(src.get(), pad, 255, 0, 0, false, cpu);  // red: different U and V
        expect_flushed(*dst);
        auto expected = kind.host(8 + pad.xPad(), 6 + pad.yPad(), nullptr);
        expected->reset(255, 0, 0);
        std::vector<Bytes> want = rows(*expected);
        place(*src, pad.left, pad.top, planes(*expected), want);
        EXPECT_EQ(rows(*dst), want);
      }
    for (bool platform : {true, false}) {
      SCOPED_TRACE(testing::Message() << kind.name << " ROI copy, platform " << platform);
      auto peer = platform ? kind.mmz(4, 4, nullptr) : kind.host(4, 4, nullptr);
      fill_pattern(*peer);
      auto dst = platform ? kind.mmz(10, 8, nullptr) : kind.host(10, 8, nullptr);  // stride 16 or 10
      dst->reset(1, 2, 3);
      std::vector<Bytes> want = rows(*dst);
      place(*peer, 4, 2, planes(*dst), want);
      MI_TEST_ResetCallLog();
      dst->roi_copy_from(peer.get(), {4, 2, 4, 4}, false);
      EXPECT_EQ(rows(*dst), want);
      expect_flushed(*dst);
    }
  }
}

TEST(ImageKindsTest, BadJpegsFailWithoutTouchingTheImageAndHugeOnesBeforeDecoding) {
  const Bytes good = imagetest::make_jpeg(128, 64, TJSAMP_420);
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto img = kind.host(4, 2, nullptr);
    fill_pattern(*img);
    const std::vector<Bytes> before = rows(*img);
    LogCapture log(google::GLOG_ERROR);
    const std::string limit = " pixels exceeds the decoding limit of 8192x8192.";
    const std::pair<Bytes, std::string> cases[] = {
        {{}, "TJ Parse Header Failed."},
        {Bytes(good.begin(), good.begin() + good.size() / 2), kind.decodeFailed},
        {imagetest::jpeg_claiming(8192, 8), kind.decodeFailed},  // at the limit: decoded (and short of data)
        {imagetest::jpeg_claiming(8193, 8), "JPEG of 8193x8" + limit},
        {imagetest::jpeg_claiming(8, 8193), "JPEG of 8x8193" + limit},
        {imagetest::jpeg_claiming(16000, 16000), "JPEG of 16000x16000" + limit},
    };
    for (const auto& c : cases) {
      const int seen = log.count(c.second);
      EXPECT_FALSE(img->decode_jpg(c.first, ImageBase::DECODE_DEFAULT));
      EXPECT_EQ(log.count(c.second), seen + 1) << c.second;
    }
    EXPECT_EQ(log.count(kind.decodeFailed), 2);  // the huge ones were refused before decoding
    EXPECT_EQ(rows(*img), before);
  }
}

TEST(ImageKindsTest, JpegEncodingMatchesRawTurboJpegExactly) {
  const int w = 38, h = 6;  // RGB: two 16-pixel shuffle blocks and a tail of 6; NV12: rows of 19 pairs
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto img = kind.mmz(w, h, nullptr);
    fill_pattern(*img);
    const std::vector<Bytes> in = rows(*img);
    const bool rgb = kind.name[0] == 'R';
    Bytes raw;  // the same pixels as TurboJPEG takes them: R, G, B interleaved, or planes Y, U, V
    if (rgb)
      for (int i = 0; i < w * h * 3; ++i) raw.push_back(in[i % 3 * h + i / 3 / w][i / 3 % w]);
    else
      for (int plane = 0; plane < 3; ++plane)
        for (int r = 0; r < (plane ? h / 2 : h); ++r)
          for (int c = 0; c < (plane ? w / 2 : w); ++c)
            raw.push_back(plane ? in[h + r][2 * c + plane - 1] : in[r][c]);
    EXPECT_EQ(*img->encode_jpg(), imagetest::tj_compress(raw, w, h, TJSAMP_420, 98, !rgb));
  }
}

TEST(ImageKindsTest, GrayOfHostRegionsAndTheirNeighboursIsTheIntegerMeanOfPixelGreys) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    // Every 2x2 block has grey 10 * blockX + blockY: the luma, or R and B with G one more (the grey
    // of a pixel is (R + G + B) / 3, rounded down).
    auto img = kind.host(8, 8, nullptr);
    fill_pattern(*img, [](int k, int c, int r) { return 10 * (c / 2) + r / 2 + (k / 8 == 1); });
    EXPECT_EQ(img->gray_of_context(BoundBox<float>({0.25f, 0.25f, 0.5f, 0.5f}, true, false)),
              (std::vector<int>{0, 10, 20, 1, 11, 21, 2, 12, 22}));
    // x 2..5, y 2..6 (the bottom edge clamps to row 7, excluded): 336 / 4 / 5.
    EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.25f, 0.25f, 0.75f, 1.f}, true, false)), 16);
    EXPECT_EQ(img->gray_of_region(BoundBox<float>({-0.5f, 0.f, -0.1f, 1.f}, true, false)), 0);  // outside
    EXPECT_EQ(img->gray_of_region(BoundBox<float>({0.5f, 0.5f, 0.5f, 0.9f}, true, false)), 0);  // no width
  }
}

}  // namespace
