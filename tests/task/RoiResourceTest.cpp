// ROI resources: put/push/get semantics, recycling and producers, concurrent fill and read; face
// release and the two face-quality measures.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

#include "task/RoiResource.h"

namespace {

const ScoredBBox<float> kA{0.9f, {0, 0, 0.5f, 0.5f}}, kB{0.8f, {0.1f, 0.1f, 0.2f, 0.2f}};

TEST(DetectorRoisTest, PutReplacesPushAppendsCleanEmpties) {
  DetectorPartRois rois;
  rois.put({{1, {kA}}, {2, {kB}}, {3, {kA}}});
  rois.put({{1, {kB, kB}}, {3, {}}});  // replaces 1, clears 3, leaves 2
  rois.push({{2, {kA}}, {4, {}}});     // appends to 2, creates 4
  EXPECT_EQ(rois.get(), (MapRoiCategory2Boxes{{1, {kB, kB}}, {2, {kB, kA}}, {3, {}}, {4, {}}}));
  rois.clean_content();
  EXPECT_TRUE(rois.get().empty());
}

TEST(DetectorRoisTest, ReaderSeesWholePushesWhileAWriterFills) {
  DetectorClassRois rois;
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) rois.push({{1, {kA, kB}}});
  });
  for (size_t i = 0, last = 0, n; i < 200; ++i, last = n)
    EXPECT_TRUE((n = rois.get()[1].size()) % 2 == 0 && n >= last) << n << " after " << last;
  writer.join();
  EXPECT_EQ(rois.get()[1].size(), 400u);
}

TEST(RoiResourcesTest, ProducersMakeNewResourcesOfTheirKindAndCleaningEmptiesThem) {
  std::string got;
  for (const auto& r : {DetectorClassRois::producer()(), DetectorPartRois::producer()(),
                        TrackerRois::producer()(), MarkedFaceRois::producer()()})
    got += std::to_string(r->resId()) + " " + r->resName() + ", ";
  EXPECT_EQ(got,
            "8 RESOURCE_DETECTOR_CLASS_ROIS, 16 RESOURCE_DETECTOR_PART_ROIS, 32 RESOURCE_TRACKER_ROIS, "
            "64 RESOURCE_MARKED_FACE_ROIS, ");
  TrackerRois t;
  t.flag_ = true, t.tag_ = 77, t.box_ = BoundBox<float>(0.1f, 0.2f, 0.3f, 0.4f), t.count_ = 5;
  t.clean_content();
  EXPECT_TRUE(!t.flag_ && t.tag_ == 0 && t.count_ == 0 &&
              t.box_.vec(true) == std::vector<float>({0, 0, 1, 1}));
}

MarkedFaceRois::MarkedFaceRoi face(std::vector<Point<float>> points) {
  MarkedFaceRois::MarkedFaceRoi f;
  f.faceRoi = BoundBox<float>(0.2f, 0.1f, 0.8f, 0.9f);
  f.facePoints = std::move(points);
  return f;
}

// first: the worse of the eye and mouth pairs, each the cosine between one side and the mirror of the
// other times the ratio of the shorter to the longer side. An uneven pair here has sides 0.5 and 0.25
// whose dot product (one side mirrored) is 0.12: 0.12 / 0.125 x 0.5 = 0.48. second: the nose height
// over the eye-to-mouth distance r: 1.25 r up to 0.4, 1 up to 0.6, then falling to 0 at 1.
// Asymmetry in the box [0.2, 0.1, 0.8, 0.9]: the x distances of every point to its partner's mirror
// about x = 0.5 over the width 0.6, and the y distances to the partner over the height 0.8. An uneven
// pair here is 0.25 off in x and 0.1 in y, twice: 0.5 / 0.6 and 0.2 / 0.8.
TEST(MarkedFaceRoiTest, AlignAndAsymmetryDegreesScorePairsAndNoseHeight) {
  const float a = 0.8333333f, b = 0.25f;  // the asymmetry of an uneven pair
  // p0 (left eye), p1, p2 (nose), p3 (left mouth corner), p4; align first, second; asymmetry x, y. Rows:
  // frontal (r 0.5), r 0.2, r 0.8, r 1.2, r 0; left eye, right eye, left and right mouth corner farther;
  // the nose 0.03 right of the axis and the left eye 0.08 lower (align not checked).
  const float rows[][14] = {
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.55f, 0.35f, 0.8f, 0.65f, 0.8f, 1, 1, 0, 0},
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.4f, 0.35f, 0.8f, 0.65f, 0.8f, 1, 0.5f, 0, 0},
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.7f, 0.35f, 0.8f, 0.65f, 0.8f, 1, 0.5f, 0, 0},
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.9f, 0.35f, 0.8f, 0.65f, 0.8f, 1, 0, 0, 0},
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.3f, 0.35f, 0.8f, 0.65f, 0.8f, 1, 0, 0, 0},
      {0.1f, 0.2f, 0.65f, 0.3f, 0.5f, 0.5f, 0.35f, 0.8f, 0.65f, 0.8f, 0.48f, 1, a, b},
      {0.35f, 0.3f, 0.9f, 0.2f, 0.5f, 0.5f, 0.35f, 0.8f, 0.65f, 0.8f, 0.48f, 1, a, b},
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.5f, 0.1f, 0.8f, 0.65f, 0.7f, 0.48f, 1, a, b},
      {0.3f, 0.3f, 0.7f, 0.3f, 0.5f, 0.5f, 0.35f, 0.7f, 0.9f, 0.8f, 0.48f, 1, a, b},
      {0.3f, 0.38f, 0.7f, 0.3f, 0.53f, 0.55f, 0.35f, 0.8f, 0.65f, 0.8f, -1, -1, 0.1f, 0.2f}};
  for (const auto& r : rows) {
    const auto f = face({{r[0], r[1]}, {r[2], r[3]}, {r[4], r[5]}, {r[6], r[7]}, {r[8], r[9]}});
    const auto al = f.alignDegree(), as = f.asymmetryDegree();
    EXPECT_TRUE((r[10] < 0 || (std::abs(al.first - r[10]) < 1e-5 && std::abs(al.second - r[11]) < 1e-5)) &&
                std::abs(as.first - r[12]) < 1e-5 && std::abs(as.second - r[13]) < 1e-5)
        << "row " << &r - rows << ": " << al.first << " " << al.second << " " << as.first << " " << as.second;
  }
  EXPECT_EQ(face({{0.3f, 0.3f}}).asymmetryDegree(), std::make_pair(0.0f, 0.0f)) << "not five landmarks";
  EXPECT_EQ(face({}).alignDegree(), std::make_pair(0.0f, 0.0f));
}

TEST(MarkedFaceRoisTest, CleaningReleasesTheFacesObjects) {
  MarkedFaceRois rois;
  rois.faces.push_back(face({{0.5f, 0.25f}, {1.0f, 0.125f}}));
  std::weak_ptr<void> watch = rois.faces[0].payload = std::make_shared<int>(3);
  rois.clean_content();
  EXPECT_TRUE(rois.faces.empty() && watch.expired());
}

}  // namespace
