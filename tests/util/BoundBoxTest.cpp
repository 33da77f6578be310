#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "testing/LogCapture.h"
#include "util/BoundBox.h"

namespace {

using testing::ElementsAre;
using testing::FloatNear;
using testing::Pointwise;

// Boxes outside [0, 1] or with exact binary fractions, built without clipping.
BoundBox<float> raw(float x1, float y1, float x2, float y2) {
  return BoundBox<float>({x1, y1, x2, y2}, true, false);
}

MATCHER_P(CornersNear, expected, "") {
  std::vector<float> got = arg.vec(true);
  for (size_t i = 0; i < 4; ++i) {
    if (std::fabs(got[i] - expected[i]) > 1e-6f) {
      *result_listener << "corner " << i << " is " << got[i];
      return false;
    }
  }
  return true;
}

TEST(BoundBoxTest, DefaultBoxIsAllZero) {
  BoundBox<float> b;
  EXPECT_THAT(b.vec(true), ElementsAre(0, 0, 0, 0));
  EXPECT_EQ(b.area(), 0);
}

TEST(BoundBoxTest, FourValueConstructionAlwaysClipsToUnitRange) {
  BoundBox<float> b(0.2, 0.3, 1.4, 0.9);
  EXPECT_THAT(b, CornersNear(std::vector<float>{0.2f, 0.3f, 1.0f, 0.9f}));
  EXPECT_EQ(b.xmax(), 1.0f);
  BoundBox<float> c;
  c.reset(-0.5f, -2.0f, 0.5f, 3.0f);
  EXPECT_THAT(c.vec(true), ElementsAre(0.0f, 0.0f, 0.5f, 1.0f));
}

TEST(BoundBoxTest, CentreSizeVectorGivesCorners) {
  BoundBox<float> b({0.5, 0.5, 0.2, 0.4}, false, false);
  EXPECT_THAT(b, CornersNear(std::vector<float>{0.4f, 0.3f, 0.6f, 0.7f}));
  // Clipping happens after the conversion: the left edge at -0.1 becomes 0, the width shrinks.
  BoundBox<float> c({0.1, 0.5, 0.4, 0.2}, false, true);
  EXPECT_THAT(c, CornersNear(std::vector<float>{0.0f, 0.4f, 0.3f, 0.6f}));
}

TEST(BoundBoxTest, VectorResetWithoutClipKeepsValuesOutsideUnitRange) {
  BoundBox<float> b = raw(-0.5f, 0.0f, 2.0f, 1.5f);
  EXPECT_THAT(b.vec(true), ElementsAre(-0.5f, 0.0f, 2.0f, 1.5f));
  b.reset({-0.5f, 0.0f, 2.0f, 1.5f}, true, true);
  EXPECT_THAT(b.vec(true), ElementsAre(0.0f, 0.0f, 1.0f, 1.0f));
}

TEST(BoundBoxTest, PointerResetTakesFourValuesWithTheGivenFlags) {
  const float centre[4] = {0.5f, 0.5f, 3.0f, 0.5f};
  BoundBox<float> b;
  b.reset(centre, 4, false, false);
  EXPECT_THAT(b.vec(true), ElementsAre(-1.0f, 0.25f, 2.0f, 0.75f));
  b.reset(centre, 4, false, true);
  EXPECT_THAT(b.vec(true), ElementsAre(0.0f, 0.25f, 1.0f, 0.75f));
  // Integer literals are coordinates, never a null pointer with a count.
  b.reset(0, 0, 1, 1);
  EXPECT_THAT(b.vec(true), ElementsAre(0.0f, 0.0f, 1.0f, 1.0f));
}

TEST(BoundBoxTest, AccessorsAndPointsFollowTheCorners) {
  BoundBox<double> b(0.25, 0.125, 0.75, 0.625);
  EXPECT_DOUBLE_EQ(b.width(), 0.5);
  EXPECT_DOUBLE_EQ(b.height(), 0.5);
  EXPECT_DOUBLE_EQ(b.center_x(), 0.5);
  EXPECT_DOUBLE_EQ(b.center_y(), 0.375);
  EXPECT_DOUBLE_EQ(b.area(), 0.25);
  EXPECT_THAT(b.vec(false), ElementsAre(0.5, 0.375, 0.5, 0.5));
  auto xy = [](Point<double> p) { return std::vector<double>{p.x, p.y}; };
  EXPECT_THAT(xy(b.center()), ElementsAre(0.5, 0.375));
  EXPECT_THAT(xy(b.top_left()), ElementsAre(0.25, 0.125));
  EXPECT_THAT(xy(b.bottom_right()), ElementsAre(0.75, 0.625));
  EXPECT_THAT(xy(b.top_mid()), ElementsAre(0.5, 0.125));
  EXPECT_THAT(xy(b.bottom_mid()), ElementsAre(0.5, 0.625));
  EXPECT_THAT(xy(b.left_mid()), ElementsAre(0.25, 0.375));
  EXPECT_THAT(xy(b.right_mid()), ElementsAre(0.75, 0.375));
}

TEST(BoundBoxTest, HasIncludesEdgesOnly) {
  BoundBox<float> b(0.2f, 0.2f, 0.6f, 0.6f);
  EXPECT_TRUE(b.has({0.2f, 0.6f}));
  EXPECT_TRUE(b.has({0.6f, 0.2f}));
  EXPECT_TRUE(b.has({0.4f, 0.4f}));
  EXPECT_FALSE(b.has({std::nextafter(0.6f, 1.0f), 0.4f}));
  EXPECT_FALSE(b.has({0.4f, std::nextafter(0.2f, 0.0f)}));
}

TEST(BoundBoxTest, DistancesAreEuclideanToCentreAndEdgeMiddles) {
  BoundBox<float> b(0.0f, 0.0f, 0.6f, 0.8f);  // centre (0.3, 0.4)
  EXPECT_NEAR(b.distance_from_center({0.0f, 0.0f}), 0.5f, 1e-6f);
  EXPECT_NEAR(b.distance_from_top_mid({0.0f, 0.4f}), 0.5f, 1e-6f);     // from (0.3, 0)
  EXPECT_NEAR(b.distance_from_bottom_mid({0.6f, 1.2f}), 0.5f, 1e-6f);  // from (0.3, 0.8)
  EXPECT_NEAR(b.distance_from_left_mid({0.3f, 0.0f}), 0.5f, 1e-6f);    // from (0, 0.4)
  EXPECT_NEAR(b.distance_from_right_mid({0.9f, 0.0f}), 0.5f, 1e-6f);   // from (0.6, 0.4)
}

TEST(BoundBoxTest, DistanceDoesNotOverflowWhereSquaresWould) {
  BoundBox<float> b = raw(0, 0, 0, 0);
  // 2e38 squared overflows a float; the length itself (2.83e38) does not.
  float d = b.distance_from_center({2e38f, 2e38f});
  EXPECT_TRUE(std::isfinite(d));
  EXPECT_NEAR(d / 1e38f, 2.0f * std::sqrt(2.0f), 1e-5f);
}

TEST(BoundBoxTest, OverlapMeasuresOfPartlyOverlappingBoxes) {
  BoundBox<float> a = raw(0, 0, 2, 2);
  BoundBox<float> b = raw(1, 1, 3, 3);
  EXPECT_FLOAT_EQ(a.compute_intersection(b), 1.0f);
  EXPECT_FLOAT_EQ(a.compute_iou(b), 1.0f / 7.0f);
  EXPECT_FLOAT_EQ(a.compute_iou_general(b), 1.0f / 7.0f);
  BoundBox<float> small = raw(1, 0, 2, 1);
  EXPECT_FLOAT_EQ(a.compute_iou(small), 0.25f);
  EXPECT_FLOAT_EQ(a.compute_coverage_onself(small), 0.25f);
  EXPECT_FLOAT_EQ(a.compute_coverage_onpeer(small), 1.0f);
  EXPECT_FLOAT_EQ(small.compute_coverage_onself(a), 1.0f);
  EXPECT_FLOAT_EQ(small.compute_coverage_onpeer(a), 0.25f);
}

TEST(BoundBoxTest, ZeroAreaBoxesHaveZeroOverlap) {
  BoundBox<float> p = raw(0.5f, 0.5f, 0.5f, 0.5f);
  EXPECT_EQ(p.compute_iou(p), 0.0f);
  EXPECT_EQ(p.compute_iou_general(p), 0.0f);
  EXPECT_EQ(p.compute_coverage_onself(p), 0.0f);
  BoundBox<float> whole(0, 0, 1, 1);
  EXPECT_EQ(p.compute_coverage_onself(whole), 0.0f);
  EXPECT_EQ(whole.compute_coverage_onpeer(p), 0.0f);
  // A line of zero height inside a box: intersection 0 although the x ranges overlap.
  EXPECT_EQ(whole.compute_intersection(raw(0.2f, 0.5f, 0.8f, 0.5f)), 0.0f);
}

TEST(BoundBoxTest, GeneralIouIsZeroForTouchingAndNegativeForSeparatedBoxes) {
  struct Row {
    const char* name;
    BoundBox<float> b;
    float general;
  };
  BoundBox<float> a = raw(0, 0, 1, 1);
  const Row rows[] = {
      {"touching right edge", raw(1, 0, 2, 1), 0.0f},
      {"touching bottom edge", raw(0, 1, 1, 2), 0.0f},
      // gap 1 times hull height 1 = -1; union 1 + 1 + 1.
      {"horizontal gap", raw(2, 0, 3, 1), -1.0f / 3.0f},
      // hull width 1.5 times gap -2 = -3; union 1 + 1 + 3.
      {"vertical gap", raw(0.5f, 3, 1.5f, 4), -0.6f},
      // The horizontal gap wins even though the vertical one is larger: -1 * hull height 4.
      {"diagonal gap", raw(2, 3, 3, 4), -4.0f / 6.0f},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_FLOAT_EQ(a.compute_iou(row.b), 0.0f);
    EXPECT_FLOAT_EQ(a.compute_iou_general(row.b), row.general);
    EXPECT_FLOAT_EQ(row.b.compute_iou_general(a), row.general);
  }
}

TEST(BoundBoxTest, ClipToRangeAndToBox) {
  BoundBox<float> b = raw(-1, 0.5f, 2, 3);
  b.clip(0, 1);
  EXPECT_THAT(b.vec(true), ElementsAre(0.0f, 0.5f, 1.0f, 1.0f));
  BoundBox<float> big = raw(0, 0, 4, 4);
  big.clip(raw(1, 1, 2, 3));
  EXPECT_THAT(big.vec(true), ElementsAre(1.0f, 1.0f, 2.0f, 3.0f));
  // A box wholly outside collapses onto the nearest corner of the clip box.
  BoundBox<float> out = raw(3, 3, 5, 5);
  EXPECT_THAT(out.clip(raw(0, 0, 2, 2)).vec(true), ElementsAre(2.0f, 2.0f, 2.0f, 2.0f));
}

TEST(BoundBoxTest, ReserveShiftsLeftAtTheRightBorderAndCentresVertically) {
  BoundBox<float> b(0.98f, 0.5f, 0.99f, 0.51f);
  b.reserve(32, 32, 640, 480);
  // x: half 0.025 around 0.985 gives [0.96, 1.01], shifted left by 0.01.
  // y: half 32 / 480 / 2 around 0.505.
  const float half = 32.0f / 480.0f / 2.0f;
  EXPECT_THAT(b, CornersNear(std::vector<float>{0.95f, 0.505f - half, 1.0f, 0.505f + half}));
  EXPECT_EQ(b.xmax(), 1.0f);
}

TEST(BoundBoxTest, ReserveShiftsRightAtTheLeftBorderAndKeepsATallEnoughAxis) {
  BoundBox<float> b(0.0f, 0.2f, 0.01f, 0.3f);
  b.reserve(64, 1, 640, 480);
  // half 0.05 around 0.005 gives [-0.045, 0.055], shifted right by 0.045.
  EXPECT_THAT(b, CornersNear(std::vector<float>{0.0f, 0.2f, 0.1f, 0.3f}));
  EXPECT_EQ(b.xmin(), 0.0f);
}

TEST(BoundBoxTest, ReserveKeepsABoxOfExactlyTheMinimumSize) {
  BoundBox<float> b(0.25f, 0.25f, 0.5f, 0.5f);  // 160 x 120 pixels of 640 x 480
  b.reserve(160, 120, 640, 480);
  EXPECT_THAT(b.vec(true), ElementsAre(0.25f, 0.25f, 0.5f, 0.5f));
  b.reserve(161, 120, 640, 480);
  EXPECT_NE(b.xmin(), 0.25f);
  EXPECT_EQ(b.ymin(), 0.25f);
}

TEST(BoundBoxTest, ReserveLargerThanTheImageGivesTheWholeRange) {
  BoundBox<float> b(0.4f, 0.4f, 0.5f, 0.5f);
  b.reserve(1000, 1000, 640, 480);
  EXPECT_THAT(b.vec(true), ElementsAre(0.0f, 0.0f, 1.0f, 1.0f));
}

TEST(BoundBoxTest, DoubleReserveStoresSinglePrecisionValues) {
  BoundBox<double> b(0.98, 0.5, 0.99, 0.51);
  b.reserve(32, 32, 640, 480);
  EXPECT_NEAR(b.xmin(), 0.95, 1e-6);
  EXPECT_EQ(b.xmax(), 1.0);
  EXPECT_EQ(b.xmin(), static_cast<double>(static_cast<float>(b.xmin())));
  EXPECT_EQ(b.ymin(), static_cast<double>(static_cast<float>(b.ymin())));
}

TEST(BoundBoxTest, ProjectOntoBoxAndBack) {
  BoundBox<float> b(0.2f, 0.2f, 0.6f, 0.6f);
  BoundBox<float> box(0.3f, 0.3f, 0.5f, 0.7f);
  BoundBox<float> onb = box.project_onbox(b, false);
  EXPECT_THAT(onb, CornersNear(std::vector<float>{0.25f, 0.25f, 0.75f, 1.25f}));
  EXPECT_THAT(box.project_onbox(b, true), CornersNear(std::vector<float>{0.25f, 0.25f, 0.75f, 1.0f}));
  EXPECT_THAT(onb.project_onbox_undo(b, false), CornersNear(box.vec(true)));
  EXPECT_THAT(BoundBox<float>(0.25f, 0.5f, 0.75f, 1.0f).project_onbox_undo(b, false),
              CornersNear(std::vector<float>{0.3f, 0.4f, 0.5f, 0.6f}));
}

TEST(BoundBoxTest, ProjectOntoADegenerateBoxStaysFinite) {
  BoundBox<float> point(0.5f, 0.5f, 0.5f, 0.5f);
  BoundBox<float> onp = point.project_onbox(point, false);
  EXPECT_THAT(onp.vec(true), ElementsAre(0.0f, 0.0f, 0.0f, 0.0f));
}

TEST(BoundBoxTest, PrintsCornersThenSizeAndCentreWithEightDecimals) {
  BoundBox<float> b = raw(-0.5f, 0.5f, 0.75f, 1.0f);
  EXPECT_EQ(b.print(false),
            "Bounding Box: xs,ys = -0.50000000, 0.50000000, 0.75000000, 1.00000000, "
            "w,h,xc,yc = 1.25000000, 0.50000000, 0.12500000, 0.75000000");
  BoundBox<double> d;
  EXPECT_EQ(d.print(false),
            "Bounding Box: xs,ys = 0.00000000, 0.00000000, 0.00000000, 0.00000000, "
            "w,h,xc,yc = 0.00000000, 0.00000000, 0.00000000, 0.00000000");
}

TEST(BoundBoxTest, ScoredBoxPrintsScoreWithThreeDecimals) {
  ScoredBBox<float> s{0.5f, BoundBox<float>(0.25f, 0.5f, 0.75f, 1.0f)};
  EXPECT_EQ(s.print(false),
            "Score: 0.500, Bounding Box: xs,ys = 0.25000000, 0.50000000, 0.75000000, 1.00000000, "
            "w,h,xc,yc = 0.50000000, 0.50000000, 0.50000000, 0.75000000");
}

TEST(BoundBoxTest, PrintLogsOneInfoLineOnlyWhenAsked) {
  ScoredBBox<float> s{0.875f, BoundBox<float>(0.25f, 0.5f, 0.75f, 1.0f)};
  LogCapture capture;
  s.print(false);
  s.box.print(false);
  EXPECT_TRUE(capture.lines().empty());
  std::string text = s.print(true);
  std::string boxText = s.box.print(true);
  EXPECT_THAT(capture.lines(), ElementsAre(text, boxText));
  EXPECT_EQ(text.substr(0, 13), "Score: 0.875,");
}

TEST(BoundBoxTest, ScoredBoxesCompareScoreAndCornersExactly) {
  ScoredBBox<float> a{0.5f, BoundBox<float>(0.25f, 0.25f, 0.75f, 0.75f)};
  ScoredBBox<float> sameFromCentre{0.5f, BoundBox<float>({0.5f, 0.5f, 0.5f, 0.5f}, false, true)};
  EXPECT_TRUE(a == sameFromCentre);
  ScoredBBox<float> otherScore{std::nextafter(0.5f, 1.0f), a.box};
  EXPECT_FALSE(a == otherScore);
  ScoredBBox<float> otherBox{0.5f, BoundBox<float>(0.25f, 0.25f, 0.75f, std::nextafter(0.75f, 1.0f))};
  EXPECT_FALSE(a == otherBox);
  // Exact floating-point equality: -0 equals +0.
  ScoredBBox<float> zero{0.0f, raw(0, 0, 0, 0)};
  ScoredBBox<float> negZero{-0.0f, raw(-0.0f, -0.0f, 0, 0)};
  EXPECT_TRUE(zero == negZero);
}

TEST(BoundBoxTest, ClosestByCornersOnEmptyMapFindsNothing) {
  int index = 7;
  float distance = 0;
  find_closest_bycorners(index, distance, BoundBox<float>(0, 0, 1, 1), {});
  EXPECT_EQ(index, -1);
  EXPECT_EQ(distance, 3.4028235e38f);
  EXPECT_EQ(distance, std::numeric_limits<float>::max());
}

TEST(BoundBoxTest, ClosestByCornersPicksSmallestSumAndSmallerKeyOnTies) {
  BoundBox<float> box(0.25f, 0.25f, 0.5f, 0.5f);
  std::map<int, BoundBox<float>> boxes = {
      {5, BoundBox<float>(0.5f, 0.25f, 0.75f, 0.5f)},  // 0.25 + 0 + 0.25 + 0
      {2, BoundBox<float>(0.0f, 0.25f, 0.25f, 0.5f)},  // same sum
  };
  int index = 0;
  float distance = 0;
  find_closest_bycorners(index, distance, box, boxes);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(distance, 0.5f);
  boxes[9] = BoundBox<float>(0.25f, 0.25f, 0.5f, 0.75f);  // 0.25
  find_closest_bycorners(index, distance, box, boxes);
  EXPECT_EQ(index, 9);
  EXPECT_EQ(distance, 0.25f);
}

TEST(BoundBoxDeathTest, VectorOfWrongLengthIsFatalWithTheCount) {
  EXPECT_DEATH(BoundBox<float>({0.1f, 0.2f, 0.3f}, true, true),
               "Check failed: vec\\.size\\(\\) == 4u \\(3 vs\\. 4\\) bounding box vector has 3 elements\\.");
  BoundBox<double> b;
  EXPECT_DEATH(b.reset({0.1, 0.2, 0.3, 0.4, 0.5}, false, false),
               "Check failed: vec\\.size\\(\\) == 4u \\(5 vs\\. 4\\) bounding box vector has 5 elements\\.");
}

TEST(BoundBoxDeathTest, PointerCountOtherThanFourIsFatal) {
  const float values[5] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
  BoundBox<float> b;
  EXPECT_DEATH(b.reset(values, 5, true, true),
               "Check failed: num == 4 \\(5 vs\\. 4\\) bounding box vector has 5 elements\\.");
}

TEST(BoundBoxDeathTest, InvertedCornersAreFatalEvenWhenClipping) {
  EXPECT_DEATH(BoundBox<float>(0.75f, 0.1f, 0.25f, 0.5f),
               "Check failed: x1_ <= x2_ \\(0\\.75 vs\\. 0\\.25\\)");
  EXPECT_DEATH(BoundBox<float>({1.5f, 0.0f, 1.25f, 1.0f}, true, true),
               "Check failed: x1_ <= x2_ \\(1\\.5 vs\\. 1\\.25\\)");
  EXPECT_DEATH(BoundBox<float>(0.1f, 0.5f, 0.2f, 0.25f), "Check failed: y1_ <= y2_ \\(0\\.5 vs\\. 0\\.25\\)");
  // A negative size in centre form inverts the corners too.
  EXPECT_DEATH(BoundBox<float>({0.5f, 0.5f, -0.5f, 0.5f}, false, false), "Check failed: x1_ <= x2_ ");
}

}  // namespace
