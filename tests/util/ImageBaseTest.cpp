// Drawing of ImageBase (stamps, lines, boxes, text with the built-in font) on host RGB images.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <complex>
#include <map>
#include <vector>

#include "ImageTestUtil.h"
#include "testing/LogCapture.h"
#include "util/ImageBase.h"
#include "util/ImageRgb.h"

namespace {

using imagetest::Pixels;
using imagetest::rect;
using imagetest::unite;
using P = std::complex<float>;

// A host RGB image that counts the writes of every pixel.
class CountingImage : public ImageRgb {
 public:
  CountingImage(int w, int h)
      : ImageRgb(std::make_shared<BlobPlane<unsigned char>>(nullptr, 3, h, w, w), nullptr),
        pixels_(static_cast<size_t>(w) * h * 3) {
    get_blob()->data = pixels_.data();
  }
  void draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b) override {
    ++writes[{x, y}];
    ImageRgb::draw_point_raw(x, y, r, g, b);
  }
  Pixels drawn() const {
    Pixels out;
    for (const auto& w : writes) out.insert(w.first);
    return out;
  }
  int most_writes() const {
    int most = 0;
    for (const auto& w : writes) most = std::max(most, w.second);
    return most;
  }
  std::map<std::pair<int, int>, int> writes;

 private:
  std::vector<unsigned char> pixels_;
};

TEST(ImageBaseDrawTest, PointStampCoversMinusRadiusToRadiusMinusOne) {
  CountingImage img(20, 10);
  // rx = trunc(0.1 * 20) = 2, ry = trunc(0.1 * 10) = 1: columns 10-2..10+1, rows 5-1..5+0.
  img.draw_point(P(0.5f, 0.5f), 255, 0, 0, 0.1f);
  EXPECT_EQ(img.drawn(), rect(8, 11, 4, 5));
  EXPECT_EQ(img.most_writes(), 1);
  EXPECT_EQ(imagetest::get_rgb(img, 8, 4), (imagetest::Rgb{255, 0, 0}));
}

TEST(ImageBaseDrawTest, StampRadiusIsCappedAtFivePixels) {
  CountingImage img(100, 100);
  img.draw_point(P(0.5f, 0.5f), 1, 2, 3, 0.5f);
  EXPECT_EQ(img.drawn(), rect(45, 54, 45, 54));
}

TEST(ImageBaseDrawTest, ThicknessBelowOnePixelDrawsNothingInThatDirection) {
  CountingImage img(20, 10);
  img.draw_point(P(0.5f, 0.5f), 1, 1, 1, 0.f);
  img.draw_point(P(0.5f, 0.5f), 1, 1, 1, 0.08f);  // rx = 1 but ry = trunc(0.8) = 0
  img.draw_point(P(0.5f, 0.5f), 1, 1, 1, -1.f);
  EXPECT_TRUE(img.writes.empty());
}

TEST(ImageBaseDrawTest, StampSkipsPixelsOutsideTheImage) {
  CountingImage img(20, 10);
  img.draw_point(P(0.f, 0.f), 9, 9, 9, 0.1f);  // columns -2..1, rows -1..0
  EXPECT_EQ(img.drawn(), rect(0, 1, 0, 0));
  CountingImage other(20, 10);
  other.draw_point(P(1.f, 1.f), 9, 9, 9, 0.1f);  // columns 18..21, rows 9..10
  EXPECT_EQ(other.drawn(), rect(18, 19, 9, 9));
}

TEST(ImageBaseDrawTest, LineDrawsSecondEndpointButNotFirst) {
  CountingImage img(16, 16);
  // n = 4 points at x = 8, 7, 6, 5 pixels; each stamp covers x - 1..x and rows 7..8. The first
  // endpoint (x = 4) would add column 3.
  img.draw_line(P(0.25f, 0.5f), P(0.5f, 0.5f), 7, 7, 7, 1.f / 16);
  EXPECT_EQ(img.drawn(), rect(4, 8, 7, 8));
  EXPECT_EQ(img.most_writes(), 1);

  CountingImage reversed(16, 16);
  reversed.draw_line(P(0.5f, 0.5f), P(0.25f, 0.5f), 7, 7, 7, 1.f / 16);  // x = 4, 5, 6, 7
  EXPECT_EQ(reversed.drawn(), rect(3, 7, 7, 8));
}

TEST(ImageBaseDrawTest, DegenerateLineDrawsNothing) {
  CountingImage img(16, 16);
  img.draw_line(P(0.1f, 0.1f), P(0.1f, 0.1f), 7, 7, 7, 0.2f);
  img.draw_line(P(0.5f, 0.5f), P(0.52f, 0.5f), 7, 7, 7, 0.2f);  // 0.32 pixels: n = 0
  EXPECT_TRUE(img.writes.empty());
}

TEST(ImageBaseDrawTest, BoxIsFourLinesEachPixelWrittenOnce) {
  CountingImage img(16, 16);
  img.draw_box(P(0.25f, 0.25f), P(0.75f, 0.75f), 0, 255, 0, 1.f / 16);
  // p1-(x1,y2): x = 4, y = 12..5; p1-(x2,y1): y = 4, x = 12..5; p2-(x2,y1): x = 12, y = 4..11;
  // p2-(x1,y2): y = 12, x = 4..11. Each stamp covers the point and one pixel up/left.
  const Pixels expected =
      unite({rect(3, 4, 4, 12), rect(4, 12, 3, 4), rect(11, 12, 3, 11), rect(3, 11, 11, 12)});
  EXPECT_EQ(img.drawn(), expected);
  EXPECT_EQ(img.most_writes(), 1);
  EXPECT_EQ(img.writes.count({3, 3}), 0u);  // neither p1 nor p2 is a line's drawn end
  EXPECT_EQ(img.writes.count({12, 12}), 0u);
  EXPECT_EQ(imagetest::painted(img), expected);
}

TEST(ImageBaseDrawTest, TextStampsGlyphCellsOnAFivePerSizeGrid) {
  // size 0.25 on 128x128: cells every 6.4 px across and 4 px down, dot half-size trunc(128/48) = 2.
  CountingImage bar(128, 128);
  bar.draw_text(P(0.5f, 0.5f), "|", 255, 255, 255, 0.25f);  // column 2 at x = 76.8, rows 0..6
  EXPECT_EQ(bar.drawn(), rect(74, 77, 62, 89));

  CountingImage dash(128, 128);
  dash.draw_text(P(0.5f, 0.5f), "-", 255, 255, 255, 0.25f);  // row 3 at y = 76, columns 0..4
  EXPECT_EQ(dash.drawn(), unite({rect(62, 65, 74, 77), rect(68, 71, 74, 77), rect(74, 77, 74, 77),
                                 rect(81, 84, 74, 77), rect(87, 90, 74, 77)}));

  CountingImage two(128, 128);
  two.draw_text(P(0.5f, 0.5f), "||", 255, 255, 255, 0.25f);  // the second advances 6/5 size = 38.4 px
  EXPECT_EQ(two.drawn(), unite({rect(74, 77, 62, 89), rect(113, 116, 62, 89)}));
  EXPECT_EQ(two.most_writes(), 1);

  CountingImage blank(128, 128);
  blank.draw_text(P(0.5f, 0.5f), "   ", 255, 255, 255, 0.25f);
  EXPECT_TRUE(blank.writes.empty());
}

TEST(ImageBaseDrawTest, DrawingFarOutsideTheImageIsHarmless) {
  CountingImage img(16, 16);
  img.draw_line(P(-1e30f, 0.5f), P(1e30f, 0.5f), 1, 1, 1, 0.1f);
  img.draw_box(P(-5.f, -5.f), P(-4.f, -4.f), 1, 1, 1, 0.1f);
  img.draw_text(P(2.f, 2.f), "abc", 1, 1, 1, 0.1f);
  img.draw_point(P(std::nanf(""), 0.5f), 1, 1, 1, 0.1f);
  EXPECT_TRUE(img.writes.empty());
}

TEST(ImageBaseDeathTest, TextOutsideTheFontIsFatal) {
  CountingImage img(16, 16);
  EXPECT_DEATH(img.draw_text(P(0.f, 0.f), "a\tb", 1, 1, 1, 0.1f),
               "Check failed: asiicBegin <= asiic && asiic < asiicEnd ");
}

}  // namespace
