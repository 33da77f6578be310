#include "task/RoiResource.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

float euclid(const Point<float>& a, const Point<float>& b) {
  float dx = a.x - b.x;
  float dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

// The ratio of two lengths, taken in double precision and rounded to float.
float ratio(float num, float den) { return static_cast<float>(static_cast<double>(num) / (den + 1e-6)); }

}  // namespace

DetectorRois::DetectorRois(unsigned long long resId, std::string resName)
    : ResourceBase(resId, std::move(resName), "none") {}

void DetectorRois::put(const MapRoiCategory2Boxes& m) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& item : m) rois_[item.first] = item.second;
}

void DetectorRois::push(const MapRoiCategory2Boxes& m) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& item : m) {
    std::vector<ScoredBBox<float>>& list = rois_[item.first];
    list.insert(list.end(), item.second.begin(), item.second.end());
  }
}

MapRoiCategory2Boxes DetectorRois::get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rois_;
}

void DetectorRois::clean_content() {
  std::lock_guard<std::mutex> lock(mutex_);
  rois_.clear();
}

DetectorClassRois::DetectorClassRois() : DetectorRois(8, "RESOURCE_DETECTOR_CLASS_ROIS") {}

std::function<std::shared_ptr<ResourceBase>()> DetectorClassRois::producer() {
  return [] { return std::make_shared<DetectorClassRois>(); };
}

DetectorPartRois::DetectorPartRois() : DetectorRois(16, "RESOURCE_DETECTOR_PART_ROIS") {}

std::function<std::shared_ptr<ResourceBase>()> DetectorPartRois::producer() {
  return [] { return std::make_shared<DetectorPartRois>(); };
}

TrackerRois::TrackerRois() : ResourceBase(32, "RESOURCE_TRACKER_ROIS", "none") {}

void TrackerRois::clean_content() {
  flag_ = false;
  tag_ = 0;
  box_ = BoundBox<float>(0, 0, 1, 1);
  count_ = 0;
}

std::function<std::shared_ptr<ResourceBase>()> TrackerRois::producer() {
  return [] { return std::make_shared<TrackerRois>(); };
}

std::string MarkedFaceRois::MarkedFaceRoi::print() const {
  std::string s = "\nfaceRoi: " + faceRoi.print(false) + "\nfacePoints: ";
  char buf[96];
  for (const Point<float>& p : facePoints) {
    std::snprintf(buf, sizeof(buf), "(%f, %f)", p.x, p.y);
    s += buf;
  }
  return s;
}

std::pair<float, float> MarkedFaceRois::MarkedFaceRoi::asymmetryDegree() const {
  if (facePoints.size() != 5) return {0.0f, 0.0f};
  const std::vector<Point<float>>& p = facePoints;
  const float x1 = faceRoi.xmin(), y1 = faceRoi.ymin(), x2 = faceRoi.xmax(), y2 = faceRoi.ymax();
  // Each point's mirror partner, reflected about the box's vertical axis.
  const Point<float> partner[5] = {p[1], p[0], p[2], p[4], p[3]};
  float sx = 0;
  float sy = 0;
  for (int i = 0; i < 5; ++i) {
    float mx = (x1 + x2) - partner[i].x;
    sx += std::fabs(p[i].x - mx);
    sy += std::fabs(p[i].y - partner[i].y);
  }
  return {sx / std::max(x2 - x1, 0.0001f), sy / std::max(y2 - y1, 0.0001f)};
}

std::pair<float, float> MarkedFaceRois::MarkedFaceRoi::alignDegree() const {
  if (facePoints.size() != 5) return {0.0f, 0.0f};
  const std::vector<Point<float>>& p = facePoints;
  const float dL = euclid(p[0], p[2]);
  const float dR = euclid(p[1], p[2]);
  const float mL = euclid(p[3], p[2]);
  const float mR = euclid(p[4], p[2]);
  const float rEye = ratio(dL, dR);
  const float rMouth = ratio(mL, mR);
  // Cosine between one vector and the horizontal mirror of the other: 1 for a symmetric pair.
  const float cEye =
      ((p[0].y - p[2].y) * (p[1].y - p[2].y) + (p[0].x - p[2].x) * (p[2].x - p[1].x)) / dL / dR;
  const float cMouth =
      ((p[3].y - p[2].y) * (p[4].y - p[2].y) + (p[3].x - p[2].x) * (p[2].x - p[4].x)) / mL / mR;
  const float first = std::min(cEye * std::min(rEye, 1.0f / rEye), cMouth * std::min(rMouth, 1.0f / rMouth));

  const float eyeY = (p[0].y + p[1].y) * 0.5f;
  const float mouthY = (p[3].y + p[4].y) * 0.5f;
  const float r = ratio(std::fabs(p[2].y - eyeY), std::fabs(eyeY - mouthY));
  // The nose score rises from 0 at r = 0 to 1 at r = 0.4, stays 1 up to 0.6, falls to 0 at r = 1.
  float t;
  if (r < 0.4f) {
    t = 1.25f * r;
  } else if (r <= 0.6f) {
    return {first, 1.0f};
  } else {
    t = 0.5f + (r - 0.5f - 0.1f) * 1.25f;
  }
  const float second = t > 1.0f ? 0.0f : 1.0f - std::fabs(2.0f * t - 1.0f);
  return {first, second};
}

MarkedFaceRois::MarkedFaceRois() : ResourceBase(64, "RESOURCE_MARKED_FACE_ROIS", "none") {}

std::string MarkedFaceRois::print() const {
  std::string s = "\nMarkedFaceRois size = " + std::to_string(faces.size());
  for (const MarkedFaceRoi& face : faces) s += face.print();
  return s;
}

void MarkedFaceRois::clean_content() { faces.clear(); }

std::function<std::shared_ptr<ResourceBase>()> MarkedFaceRois::producer() {
  return [] { return std::make_shared<MarkedFaceRois>(); };
}
