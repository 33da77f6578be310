// ROI resources: put/push/get semantics, recycling, producers, face printing and face quality.
#include <gtest/gtest.h>

#include <thread>

#include "task/RoiResource.h"

namespace {

ScoredBBox<float> sbox(float score, float x1, float y1, float x2, float y2) {
  ScoredBBox<float> sb;
  sb.score = score;
  sb.box = BoundBox<float>(x1, y1, x2, y2);
  return sb;
}

TEST(DetectorRoisTest, PutReplacesListsOfGivenKeysOnly) {
  DetectorClassRois rois;
  rois.put({{1, {sbox(0.9f, 0, 0, 0.5f, 0.5f)}}, {2, {sbox(0.8f, 0.1f, 0.1f, 0.2f, 0.2f)}}});
  rois.put({{1, {sbox(0.7f, 0, 0, 1, 1), sbox(0.6f, 0, 0, 1, 1)}}});
  auto m = rois.get();
  ASSERT_EQ(m.size(), 2u);
  ASSERT_EQ(m[1].size(), 2u);
  EXPECT_FLOAT_EQ(m[1][0].score, 0.7f);
  ASSERT_EQ(m[2].size(), 1u) << "key 2 untouched";
  EXPECT_FLOAT_EQ(m[2][0].score, 0.8f);
}

TEST(DetectorRoisTest, PutWithEmptyListClearsThatKey) {
  DetectorClassRois rois;
  rois.put({{4, {sbox(0.9f, 0, 0, 0.5f, 0.5f)}}});
  rois.put({{4, {}}});
  auto m = rois.get();
  ASSERT_EQ(m.count(4), 1u);
  EXPECT_TRUE(m[4].empty());
}

TEST(DetectorRoisTest, PushAppendsAndCreatesKeysForEmptyLists) {
  DetectorPartRois rois;
  rois.push({{1, {sbox(0.9f, 0, 0, 0.5f, 0.5f)}}});
  rois.push({{1, {sbox(0.5f, 0, 0, 0.2f, 0.2f)}}, {8, {}}});
  auto m = rois.get();
  ASSERT_EQ(m.size(), 2u);
  ASSERT_EQ(m[1].size(), 2u);
  EXPECT_FLOAT_EQ(m[1][0].score, 0.9f);
  EXPECT_FLOAT_EQ(m[1][1].score, 0.5f);
  EXPECT_TRUE(m[8].empty());
}

TEST(DetectorRoisTest, CleanContentEmptiesTheMap) {
  DetectorClassRois rois;
  rois.push({{1, {sbox(0.9f, 0, 0, 0.5f, 0.5f)}}});
  rois.clean_content();
  EXPECT_TRUE(rois.get().empty());
}

TEST(DetectorRoisTest, ProducersMakeDistinctEmptyResourcesOfTheirKind) {
  auto produce = DetectorClassRois::producer();
  auto a = produce();
  auto b = produce();
  EXPECT_NE(a, b);
  EXPECT_EQ(a->resId(), 8u);
  EXPECT_EQ(a->resName(), "RESOURCE_DETECTOR_CLASS_ROIS");
  EXPECT_TRUE(std::dynamic_pointer_cast<DetectorClassRois>(a)->get().empty());
  auto part = DetectorPartRois::producer()();
  EXPECT_EQ(part->resId(), 16u);
  EXPECT_EQ(part->resName(), "RESOURCE_DETECTOR_PART_ROIS");
  EXPECT_EQ(nullptr, std::dynamic_pointer_cast<DetectorClassRois>(part)) << "two separate kinds";
  auto tracker = TrackerRois::producer()();
  EXPECT_EQ(tracker->resId(), 32u);
  EXPECT_EQ(tracker->resName(), "RESOURCE_TRACKER_ROIS");
  auto faces = MarkedFaceRois::producer()();
  EXPECT_EQ(faces->resId(), 64u);
  EXPECT_EQ(faces->resName(), "RESOURCE_MARKED_FACE_ROIS");
  EXPECT_EQ(faces->print(), "\nMarkedFaceRois size = 0");
}

TEST(DetectorRoisTest, ReaderSeesWholeListsWhileWriterPushes) {
  DetectorClassRois rois;
  constexpr int kPushes = 200;
  std::thread writer([&] {
    for (int i = 0; i < kPushes; ++i) rois.push({{1, {sbox(0.5f, 0, 0, 1, 1), sbox(0.4f, 0, 0, 1, 1)}}});
  });
  size_t last = 0;
  for (int i = 0; i < kPushes; ++i) {
    auto m = rois.get();
    size_t n = m.count(1) ? m[1].size() : 0;
    EXPECT_EQ(n % 2, 0u) << "pairs are pushed atomically";
    EXPECT_GE(n, last);
    last = n;
  }
  writer.join();
  EXPECT_EQ(rois.get()[1].size(), 2u * kPushes);
}

TEST(TrackerRoisTest, CleanContentRestoresEmptyValues) {
  TrackerRois t;
  t.flag_ = true;
  t.tag_ = 77;
  t.box_ = BoundBox<float>(0.1f, 0.2f, 0.3f, 0.4f);
  t.count_ = 5;
  t.clean_content();
  EXPECT_FALSE(t.flag_);
  EXPECT_EQ(t.tag_, 0u);
  EXPECT_EQ(t.box_.vec(true), (std::vector<float>{0, 0, 1, 1}));
  EXPECT_EQ(t.count_, 0);
}

// A frontal face: eyes at y 0.3, mouth corners at y 0.8, nose on the axis x = 0.5 at the height that
// gives the nose ratio r = |nose - eyes| / |eyes - mouth|.
MarkedFaceRois::MarkedFaceRoi frontal_face(float r) {
  MarkedFaceRois::MarkedFaceRoi face;
  face.faceRoi = BoundBox<float>(0.2f, 0.1f, 0.8f, 0.9f);
  face.facePoints = {{0.3f, 0.3f}, {0.7f, 0.3f}, {0.5f, 0.3f + 0.5f * r}, {0.35f, 0.8f}, {0.65f, 0.8f}};
  return face;
}

TEST(MarkedFaceRoiTest, SymmetricFaceHasNoAsymmetry) {
  auto d = frontal_face(0.5f).asymmetryDegree();
  EXPECT_NEAR(d.first, 0.0f, 1e-6);
  EXPECT_NEAR(d.second, 0.0f, 1e-6);
}

TEST(MarkedFaceRoiTest, AsymmetryIsRelativeToTheBoxSize) {
  auto face = frontal_face(0.5f);
  face.facePoints[2].x = 0.53f;  // mirrored nose at 0.47: |0.53 - 0.47| = 0.06 over width 0.6
  face.facePoints[0].y = 0.38f;  // eye pair differs by 0.08 twice: 0.16 over height 0.8
  auto d = face.asymmetryDegree();
  EXPECT_NEAR(d.first, 0.1f, 1e-5);
  EXPECT_NEAR(d.second, 0.2f, 1e-5);
}

TEST(MarkedFaceRoiTest, NoseScoreFollowsItsRatio) {
  struct Row {
    const char* name;
    float r;
    float second;
  } rows[] = {{"r 0.5 inside the plateau", 0.5f, 1.0f},
              {"r 0.2 rising", 0.2f, 0.5f},
              {"r 0.8 falling", 0.8f, 0.5f},
              {"r 1.2 beyond", 1.2f, 0.0f},
              {"r 0 at the eyes", 0.0f, 0.0f}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto a = frontal_face(row.r).alignDegree();
    EXPECT_NEAR(a.first, 1.0f, 1e-5) << "symmetric eyes and mouth";
    EXPECT_NEAR(a.second, row.second, 1e-4);
  }
}

TEST(MarkedFaceRoiTest, TurnedFaceLowersPairingScore) {
  auto face = frontal_face(0.5f);
  // Eyes at distances 0.2 and 0.4 from the nose, both horizontal: cosine 1, ratio 0.5.
  face.facePoints = {{0.3f, 0.55f}, {0.9f, 0.55f}, {0.5f, 0.55f}, {0.35f, 0.8f}, {0.65f, 0.8f}};
  auto a = face.alignDegree();
  EXPECT_NEAR(a.first, 0.5f, 1e-5);
}

TEST(MarkedFaceRoiTest, FaceWithoutFiveLandmarksScoresZero) {
  auto face = frontal_face(0.5f);
  face.facePoints.pop_back();
  EXPECT_EQ(face.asymmetryDegree(), std::make_pair(0.0f, 0.0f));
  EXPECT_EQ(face.alignDegree(), std::make_pair(0.0f, 0.0f));
  face.facePoints.clear();
  EXPECT_EQ(face.alignDegree(), std::make_pair(0.0f, 0.0f));
}

TEST(MarkedFaceRoisTest, PrintListsFacesWithPoints) {
  MarkedFaceRois rois;
  MarkedFaceRois::MarkedFaceRoi face;
  face.faceRoi = BoundBox<float>(0.25f, 0.5f, 0.75f, 1.0f);
  face.facePoints = {{0.5f, 0.25f}, {1.0f, 0.125f}};
  rois.faces.push_back(face);
  EXPECT_EQ(rois.print(), "\nMarkedFaceRois size = 1\nfaceRoi: " + face.faceRoi.print(false) +
                              "\nfacePoints: (0.500000, 0.250000)(1.000000, 0.125000)");
}

TEST(MarkedFaceRoisTest, CleanContentReleasesFacesAndTheirObjects) {
  MarkedFaceRois rois;
  auto owned = std::make_shared<int>(3);
  MarkedFaceRois::MarkedFaceRoi face;
  face.payload = owned;
  rois.faces.push_back(face);
  face.payload.reset();
  std::weak_ptr<int> watch = owned;
  owned.reset();
  EXPECT_FALSE(watch.expired());
  rois.clean_content();
  EXPECT_TRUE(rois.faces.empty());
  EXPECT_TRUE(watch.expired());
}

}  // namespace
