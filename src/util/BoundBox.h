// Axis-aligned boxes: the value type every detection, region of interest and crop is expressed in.
// Coordinates are usually normalised (0..1 on both axes) and geometry is continuous: there is no
// "+1" pixel convention, width is x2 - x1 and a box whose corners coincide has zero area.
// Detector decoding and NMS, ROI resources, image region statistics and frame details build on it.
#pragma once

#include <map>
#include <string>
#include <type_traits>
#include <vector>

// A plain pair of coordinates. Returned by value.
template <typename T>
struct Point {
  T x;
  T y;
};

// An axis-aligned box with x1_ <= x2_ and y1_ <= y2_ (established by every reset and kept by the
// modifiers). Instantiated for float (the one the pipeline uses) and double.
// Not thread-safe; a plain value, one owner at a time.
template <typename T>
class BoundBox {
 public:
  // All four coordinates 0.
  BoundBox() = default;
  // Corners, always clipped to [0, 1]: same as reset(x1, y1, x2, y2).
  BoundBox(T x1, T y1, T x2, T y2) { reset(x1, y1, x2, y2); }
  // Same as reset(vec, corner, clip).
  BoundBox(const std::vector<T>& vec, bool corner, bool clip) { reset(vec, corner, clip); }

  // The central setter. `vec` holds four values: corners [x1, y1, x2, y2] when `corner`, else
  // centre and size [xc, yc, w, h]. Fatal when vec has not 4 values or the box is inverted (checked
  // before clipping, so an inverted box is never silently repaired); then clipped to [0, 1] if
  // `clip`.
  void reset(const std::vector<T>& vec, bool corner, bool clip);
  // Corners, always clipped: reset({x1, y1, x2, y2}, true, true).
  void reset(T x1, T y1, T x2, T y2);
  // reset of the `num` values at `values`; `num` must be 4 (fatal otherwise). A template only so
  // that reset(0, 0, 1, 1) picks the four-coordinate overload instead of a null pointer.
  template <typename P, typename = std::enable_if_t<std::is_same<P, T>::value>>
  void reset(const P* values, int num, bool corner, bool clip) {
    check_count(num);
    reset(std::vector<T>(values, values + 4), corner, clip);
  }

  T xmin() const { return x1_; }
  T ymin() const { return y1_; }
  T xmax() const { return x2_; }
  T ymax() const { return y2_; }
  T width() const { return x2_ - x1_; }
  T height() const { return y2_ - y1_; }
  T center_x() const { return (x1_ + x2_) * T(0.5); }
  T center_y() const { return (y1_ + y2_) * T(0.5); }
  T area() const { return (y2_ - y1_) * (x2_ - x1_); }

  Point<T> center() const { return {center_x(), center_y()}; }
  Point<T> top_left() const { return {x1_, y1_}; }
  Point<T> bottom_right() const { return {x2_, y2_}; }
  Point<T> top_mid() const { return {center_x(), y1_}; }
  Point<T> bottom_mid() const { return {center_x(), y2_}; }
  Point<T> left_mid() const { return {x1_, center_y()}; }
  Point<T> right_mid() const { return {x2_, center_y()}; }

  // True when p lies inside or on an edge.
  bool has(Point<T> p) const { return x1_ <= p.x && x2_ >= p.x && y1_ <= p.y && y2_ >= p.y; }

  // Euclidean distances from p to the centre and to the middles of the four edges, computed as a
  // complex absolute value (no intermediate overflow).
  T distance_from_center(Point<T> p) const;
  T distance_from_top_mid(Point<T> p) const;
  T distance_from_bottom_mid(Point<T> p) const;
  T distance_from_left_mid(Point<T> p) const;
  T distance_from_right_mid(Point<T> p) const;

  // Four values: corners [x1, y1, x2, y2] if `corner`, else [xc, yc, w, h].
  std::vector<T> vec(bool corner) const;

  // Area of the overlap with b (0 when they do not overlap).
  T compute_intersection(const BoundBox<T>& b) const;
  // Intersection over union; a union at or below 1e-6 is replaced by 1e-6.
  T compute_iou(const BoundBox<T>& b) const;
  // Share of this box covered by b (denominator guarded by 1e-6 as above).
  T compute_coverage_onself(const BoundBox<T>& b) const;
  // Share of b covered by this box (denominator guarded by 1e-6).
  T compute_coverage_onpeer(const BoundBox<T>& b) const;
  // Signed IoU: compute_iou for overlapping boxes, 0 for touching ones, negative for separated
  // ones (the gap times the extent of the hull on the other axis, over the union).
  T compute_iou_general(const BoundBox<T>& b) const;

  // Clamps every coordinate into [lo, hi]. Returns this box.
  BoundBox<T>& clip(T lo, T hi);
  // Clamps this box into b. Returns this box.
  BoundBox<T>& clip(const BoundBox<T>& b);
  // Widens a normalised box, per axis, to at least minWidth x minHeight pixels of an image of
  // imageWidth x imageHeight, around its centre, shifted back inside [0, 1] where it overflows; an
  // axis already large enough is kept. Returns this box.
  BoundBox<T>& reserve(int minWidth, int minHeight, int imageWidth, int imageHeight);

  // This box in the normalised coordinates of b (b's size guarded by 1e-6), clipped to [0, 1] if
  // `clip`.
  BoundBox<T> project_onbox(const BoundBox<T>& b, bool clip) const;
  // The inverse of project_onbox: a box given in b's coordinates mapped back to b's frame.
  BoundBox<T> project_onbox_undo(const BoundBox<T>& b, bool clip) const;

  // "Bounding Box: xs,ys = x1, y1, x2, y2, w,h,xc,yc = w, h, xc, yc" with 8 decimals each; also
  // one INFO log line if `log`.
  std::string print(bool log) const;

 private:
  static void check_count(int num);

  T x1_ = 0;
  T y1_ = 0;
  T x2_ = 0;
  T y2_ = 0;
};

// A box with its detection confidence. The label is the key of the map holding it.
// Not thread-safe; a plain value.
template <typename T>
struct ScoredBBox {
  T score = 0;
  BoundBox<T> box;

  // "Score: " + score with 3 decimals + ", " + box.print(false); also logged at INFO if `log`.
  std::string print(bool log) const;
  // Exact equality of the scores and of the four corners (no tolerance).
  bool operator==(const ScoredBBox<T>& other) const;
};

// Finds the entry of `boxes` whose corners are closest to `box` (sum of the four absolute corner
// differences). index = its key, distance = that sum; on a tie the smaller key wins. An empty map
// gives index -1 and the largest finite float.
void find_closest_bycorners(int& index, float& distance, const BoundBox<float>& box,
                            const std::map<int, BoundBox<float>>& boxes);

extern template class BoundBox<float>;
extern template class BoundBox<double>;
extern template struct ScoredBBox<float>;
extern template struct ScoredBBox<double>;
