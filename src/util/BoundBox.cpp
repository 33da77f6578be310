#include "util/BoundBox.h"

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "kbase/Helper.h"

namespace {

// Length of (dx, dy) as a complex absolute value: scaled internally, so no intermediate overflow.
template <typename T>
T length(T dx, T dy) {
  return std::abs(std::complex<T>(dx, dy));
}

}  // namespace

template <typename T>
void BoundBox<T>::check_count(int num) {
  CHECK_EQ(num, 4) << "bounding box vector has " << num << " elements.";
}

template <typename T>
void BoundBox<T>::reset(const std::vector<T>& vec, bool corner, bool doClip) {
  CHECK_EQ(vec.size(), 4u) << "bounding box vector has " << vec.size() << " elements.";
  if (corner) {
    x1_ = vec[0];
    y1_ = vec[1];
    x2_ = vec[2];
    y2_ = vec[3];
  } else {
    x1_ = vec[0] - vec[2] * T(0.5);
    x2_ = vec[2] * T(0.5) + vec[0];
    y1_ = vec[1] - vec[3] * T(0.5);
    y2_ = vec[3] * T(0.5) + vec[1];
  }
  CHECK_LE(x1_, x2_);
  CHECK_LE(y1_, y2_);
  if (doClip) clip(T(0), T(1));
}

template <typename T>
void BoundBox<T>::reset(T x1, T y1, T x2, T y2) {
  reset(std::vector<T>{x1, y1, x2, y2}, true, true);
}

template <typename T>
T BoundBox<T>::distance_from_center(Point<T> p) const {
  return length(p.x - center_x(), p.y - center_y());
}

template <typename T>
T BoundBox<T>::distance_from_top_mid(Point<T> p) const {
  Point<T> m = top_mid();
  return length(p.x - m.x, p.y - m.y);
}

template <typename T>
T BoundBox<T>::distance_from_bottom_mid(Point<T> p) const {
  Point<T> m = bottom_mid();
  return length(p.x - m.x, p.y - m.y);
}

template <typename T>
T BoundBox<T>::distance_from_left_mid(Point<T> p) const {
  Point<T> m = left_mid();
  return length(p.x - m.x, p.y - m.y);
}

template <typename T>
T BoundBox<T>::distance_from_right_mid(Point<T> p) const {
  Point<T> m = right_mid();
  return length(p.x - m.x, p.y - m.y);
}

template <typename T>
std::vector<T> BoundBox<T>::vec(bool corner) const {
  if (corner) return {x1_, y1_, x2_, y2_};
  return {center_x(), center_y(), width(), height()};
}

template <typename T>
T BoundBox<T>::compute_intersection(const BoundBox<T>& b) const {
  T iw = std::min(x2_, b.x2_) - std::max(x1_, b.x1_);
  T ih = std::min(y2_, b.y2_) - std::max(y1_, b.y1_);
  return std::max(iw, T(0)) * std::max(ih, T(0));
}

template <typename T>
T BoundBox<T>::compute_iou(const BoundBox<T>& b) const {
  T inter = compute_intersection(b);
  return inter / std::max(area() + b.area() - inter, T(1e-6));
}

template <typename T>
T BoundBox<T>::compute_coverage_onself(const BoundBox<T>& b) const {
  return compute_intersection(b) / std::max(area(), T(1e-6));
}

template <typename T>
T BoundBox<T>::compute_coverage_onpeer(const BoundBox<T>& b) const {
  return compute_intersection(b) / std::max(b.area(), T(1e-6));
}

template <typename T>
T BoundBox<T>::compute_iou_general(const BoundBox<T>& b) const {
  T inter;
  T iw = std::min(x2_, b.x2_) - std::max(x1_, b.x1_);
  if (iw < 0) {
    // Horizontally apart: the gap times the height of the hull.
    inter = iw * (std::max(y2_, b.y2_) - std::min(y1_, b.y1_));
  } else {
    T ih = std::min(y2_, b.y2_) - std::max(y1_, b.y1_);
    if (ih < 0) {
      // Vertically apart: the width of the hull times the gap.
      inter = (std::max(x2_, b.x2_) - std::min(x1_, b.x1_)) * ih;
    } else {
      inter = iw * ih;
    }
  }
  T uni = area() + b.area() - inter;
  return inter / std::max(uni, T(1e-6));
}

template <typename T>
BoundBox<T>& BoundBox<T>::clip(T lo, T hi) {
  x1_ = std::min(std::max(lo, x1_), hi);
  y1_ = std::min(std::max(lo, y1_), hi);
  x2_ = std::min(std::max(lo, x2_), hi);
  y2_ = std::min(std::max(lo, y2_), hi);
  return *this;
}

template <typename T>
BoundBox<T>& BoundBox<T>::clip(const BoundBox<T>& b) {
  x1_ = std::min(std::max(x1_, b.x1_), b.x2_);
  y1_ = std::min(std::max(y1_, b.y1_), b.y2_);
  x2_ = std::min(std::max(x2_, b.x1_), b.x2_);
  y2_ = std::min(std::max(y2_, b.y1_), b.y2_);
  return *this;
}

namespace {

// Widens [lo, hi] (normalised) around its centre to `half` on each side, shifted back inside
// [0, 1] where it overflows. Single precision on purpose: both instantiations store the same
// values.
void widen(float half, float center, float* loOut, float* hiOut) {
  float lo = center - half;
  float hi = half + center;
  if (lo < 0) hi = hi - lo;
  if (hi > 1) lo = lo - (hi - 1);
  if (!(lo > 0)) lo = 0;
  if (!(hi < 1)) hi = 1;
  *loOut = lo;
  *hiOut = hi;
}

}  // namespace

template <typename T>
BoundBox<T>& BoundBox<T>::reserve(int minWidth, int minHeight, int imageWidth, int imageHeight) {
  if ((x2_ - x1_) * imageWidth < minWidth) {
    float half = (minWidth / static_cast<float>(imageWidth)) * 0.5f;
    float lo, hi;
    widen(half, static_cast<float>(center_x()), &lo, &hi);
    x1_ = lo;
    x2_ = hi;
  }
  if ((y2_ - y1_) * imageHeight < minHeight) {
    float half = (minHeight / static_cast<float>(imageHeight)) * 0.5f;
    float lo, hi;
    widen(half, static_cast<float>(center_y()), &lo, &hi);
    y1_ = lo;
    y2_ = hi;
  }
  return *this;
}

template <typename T>
BoundBox<T> BoundBox<T>::project_onbox(const BoundBox<T>& b, bool doClip) const {
  T bw = std::max(b.x2_ - b.x1_, T(1e-6));
  T bh = std::max(b.y2_ - b.y1_, T(1e-6));
  return BoundBox<T>({(x1_ - b.x1_) / bw, (y1_ - b.y1_) / bh, (x2_ - b.x1_) / bw, (y2_ - b.y1_) / bh}, true,
                     doClip);
}

template <typename T>
BoundBox<T> BoundBox<T>::project_onbox_undo(const BoundBox<T>& b, bool doClip) const {
  T bw = b.x2_ - b.x1_;
  T bh = b.y2_ - b.y1_;
  return BoundBox<T>({b.x1_ + bw * x1_, b.y1_ + bh * y1_, b.x1_ + bw * x2_, b.y1_ + bh * y2_}, true, doClip);
}

template <typename T>
std::string BoundBox<T>::print(bool log) const {
  auto num = [](T v) { return helper::print_pretty(v, 8, 3); };
  std::string s = "Bounding Box: xs,ys = " + num(x1_) + ", " + num(y1_) + ", " + num(x2_) + ", " + num(y2_) +
                  ", w,h,xc,yc = " + num(width()) + ", " + num(height()) + ", " + num(center_x()) + ", " +
                  num(center_y());
  if (log) LOG(INFO) << s;
  return s;
}

template <typename T>
std::string ScoredBBox<T>::print(bool log) const {
  std::string s = "Score: " + helper::print(score, 3) + ", " + box.print(false);
  if (log) LOG(INFO) << s;
  return s;
}

template <typename T>
bool ScoredBBox<T>::operator==(const ScoredBBox<T>& other) const {
  return score == other.score && box.vec(true) == other.box.vec(true);
}

void find_closest_bycorners(int& index, float& distance, const BoundBox<float>& box,
                            const std::map<int, BoundBox<float>>& boxes) {
  index = -1;
  distance = std::numeric_limits<float>::max();
  for (const auto& entry : boxes) {
    const BoundBox<float>& e = entry.second;
    float d = std::fabs(box.xmin() - e.xmin()) + std::fabs(box.ymin() - e.ymin()) +
              (std::fabs(box.xmax() - e.xmax()) + std::fabs(box.ymax() - e.ymax()));
    // Strictly smaller: ascending key order makes the smaller key win a tie.
    if (d < distance) {
      distance = d;
      index = entry.first;
    }
  }
}

template class BoundBox<float>;
template class BoundBox<double>;
template struct ScoredBBox<float>;
template struct ScoredBBox<double>;
