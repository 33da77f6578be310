#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "util/BoundBox.h"

namespace {

using testing::FloatNear;
using testing::Pointwise;
using Box = BoundBox<float>;
using Corners = std::vector<float>;

// Boxes outside [0, 1], built without clipping.
Box raw(float x1, float y1, float x2, float y2) { return Box({x1, y1, x2, y2}, true, false); }

MATCHER_P(HasCorners, expected, "") {
  return testing::ExplainMatchResult(Pointwise(FloatNear(1e-6f), expected), arg.vec(true), result_listener);
}

TEST(BoundBoxTest, ConstructionConvertsAndClips) {
  const float centre[4] = {0.1f, 0.5f, 0.4f, 0.2f};
  Box b;
  b.reset(centre, 4, false, true);  // the left edge at -0.1 is clipped after the conversion
  EXPECT_THAT(b, HasCorners(Corners{0, 0.4f, 0.3f, 0.6f}));
  EXPECT_THAT(Box(-0.5f, 0.3f, 1.4f, 0.9f), HasCorners(Corners{0, 0.3f, 1, 0.9f}));
  EXPECT_THAT(Box({0.5f, 0.5f, 0.2f, 0.4f}, false, false).vec(false),
              Pointwise(FloatNear(1e-6f), Corners{0.5f, 0.5f, 0.2f, 0.4f}));
}

TEST(BoundBoxTest, DistancesFromPointsAsComputedByHand) {
  const Box b(0, 0, 0.6f, 0.8f);  // centre (0.3, 0.4)
  EXPECT_NEAR(b.distance_from_center({0, 0}), 0.5f, 1e-6f);
  EXPECT_NEAR(b.distance_from_top_mid({0, 0.4f}), 0.5f, 1e-6f);        // from (0.3, 0)
  EXPECT_NEAR(b.distance_from_bottom_mid({0.6f, 1.2f}), 0.5f, 1e-6f);  // from (0.3, 0.8)
  EXPECT_NEAR(b.distance_from_left_mid({0.3f, 0}), 0.5f, 1e-6f);       // from (0, 0.4)
  EXPECT_NEAR(b.distance_from_right_mid({0.9f, 0}), 0.5f, 1e-6f);      // from (0.6, 0.4)
  EXPECT_TRUE(b.has({0, 0.8f}) && b.has({0.6f, 0}));                   // edges count
  EXPECT_FALSE(b.has({std::nextafter(0.6f, 1.0f), 0.4f}) || b.has({0.3f, std::nextafter(0.0f, -1.0f)}));
}

TEST(BoundBoxTest, OverlapMeasuresAsComputedByHand) {
  const struct {
    const char* name;
    Box a, b;
    float intersection, iou, general, onself, onpeer;
  } rows[] = {
      {"partly overlapping", raw(0, 0, 2, 2), raw(1, 1, 3, 3), 1, 1 / 7.0f, 1 / 7.0f, 0.25f, 0.25f},
      {"contained", raw(0, 0, 2, 2), raw(1, 0, 2, 1), 1, 0.25f, 0.25f, 0.25f, 1},
      {"zero area", raw(0.5f, 0.5f, 0.5f, 0.5f), raw(0.5f, 0.5f, 0.5f, 0.5f), 0, 0, 0, 0, 0},
      {"touching right edge", raw(0, 0, 1, 1), raw(1, 0, 2, 1), 0, 0, 0, 0, 0},
      // gap -1 times hull height 1, over 1 + 1 + 1.
      {"horizontal gap", raw(0, 0, 1, 1), raw(2, 0, 3, 1), 0, 0, -1 / 3.0f, 0, 0},
      // hull width 1.5 times gap -2, over 1 + 1 + 3.
      {"vertical gap", raw(0, 0, 1, 1), raw(0.5f, 3, 1.5f, 4), 0, 0, -0.6f, 0, 0},
      // The horizontal gap wins although the vertical one is larger: -1 * hull height 4, over 6.
      {"diagonal gap", raw(0, 0, 1, 1), raw(2, 3, 3, 4), 0, 0, -4 / 6.0f, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_FLOAT_EQ(r.a.compute_intersection(r.b), r.intersection);
    EXPECT_FLOAT_EQ(r.a.compute_iou(r.b), r.iou);
    EXPECT_FLOAT_EQ(r.a.compute_iou_general(r.b), r.general);
    EXPECT_FLOAT_EQ(r.b.compute_iou_general(r.a), r.general);
    EXPECT_FLOAT_EQ(r.a.compute_coverage_onself(r.b), r.onself);
    EXPECT_FLOAT_EQ(r.a.compute_coverage_onpeer(r.b), r.onpeer);
  }
}

TEST(BoundBoxTest, ModifiersAsComputedByHand) {
  EXPECT_THAT(raw(-1, 0.5f, 2, 3).clip(0, 1), HasCorners(Corners{0, 0.5f, 1, 1}));
  EXPECT_THAT(raw(0, 0, 4, 4).clip(raw(1, 1, 2, 3)), HasCorners(Corners{1, 1, 2, 3}));
  const float half = 32 / 480.0f / 2;  // x: 0.985 +- 0.025 shifted left by 0.01; y: 0.505 +- half
  EXPECT_THAT(Box(0.98f, 0.5f, 0.99f, 0.51f).reserve(32, 32, 640, 480),
              HasCorners(Corners{0.95f, 0.505f - half, 1, 0.505f + half}));
  // x: 0.005 +- 0.05 shifted right by 0.045; y is exactly 48 pixels high and stays.
  EXPECT_THAT(Box(0, 0.2f, 0.01f, 0.3f).reserve(64, 48, 640, 480), HasCorners(Corners{0, 0.2f, 0.1f, 0.3f}));
  const Box b(0.2f, 0.2f, 0.6f, 0.6f), box(0.3f, 0.3f, 0.5f, 0.7f);
  EXPECT_THAT(box.project_onbox(b, false), HasCorners(Corners{0.25f, 0.25f, 0.75f, 1.25f}));
  EXPECT_THAT(box.project_onbox(b, false).project_onbox_undo(b, true), HasCorners(box.vec(true)));
}

TEST(BoundBoxTest, ScoredBoxesCompareExactly) {
  const ScoredBBox<float> a{0.5f, Box(0.25f, 0.25f, 0.75f, 0.75f)};
  EXPECT_TRUE(a == (ScoredBBox<float>{0.5f, Box({0.5f, 0.5f, 0.5f, 0.5f}, false, true)}));
  EXPECT_FALSE(a == (ScoredBBox<float>{0.5f, Box(0.25f, 0.25f, 0.75f, std::nextafter(0.75f, 1.0f))}));
}

TEST(BoundBoxTest, ClosestByCornersPicksTheSmallestSumAndTheSmallerKeyOnTies) {
  int index = 7;
  float distance = 0;
  find_closest_bycorners(index, distance, Box(0, 0, 1, 1), {});
  EXPECT_EQ(std::make_pair(index, distance), std::make_pair(-1, std::numeric_limits<float>::max()));
  const Box box(0.25f, 0.25f, 0.5f, 0.5f);
  std::map<int, Box> boxes = {{5, Box(0.5f, 0.25f, 0.75f, 0.5f)},
                              {2, Box(0, 0.25f, 0.25f, 0.5f)}};  // 0.25 + 0.25
  find_closest_bycorners(index, distance, box, boxes);
  EXPECT_EQ(std::make_pair(index, distance), std::make_pair(2, 0.5f));
  boxes[9] = Box(0.25f, 0.5f, 0.5f, 0.625f);  // 0.25 + 0.125
  find_closest_bycorners(index, distance, box, boxes);
  EXPECT_EQ(std::make_pair(index, distance), std::make_pair(9, 0.375f));
}

TEST(BoundBoxDeathTest, WrongCountsAndInvertedCornersAreFatal) {
  const float values[5] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
  Box b;
  EXPECT_DEATH(Box({0.1f, 0.2f, 0.3f}, true, true),
               "Check failed: vec\\.size\\(\\) == 4u \\(3 vs\\. 4\\) bounding box vector has 3 elements\\.");
  EXPECT_DEATH(b.reset(values, 5, true, true),
               "Check failed: num == 4 \\(5 vs\\. 4\\) bounding box vector has 5 elements\\.");
  EXPECT_DEATH(Box({1.5f, 0, 1.25f, 1}, true, true), "Check failed: x1_ <= x2_ \\(1\\.5 vs\\. 1\\.25\\)");
}

}  // namespace
