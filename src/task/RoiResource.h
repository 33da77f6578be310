// The per-frame resources in which detection results travel through the frame resource store:
// detector output per ROI category (class level and part level as two kinds), a tracker's state and
// marked faces with landmarks. Each is made empty by its producer() (registered under the built-in
// identifiers 8, 16, 32 and 64) and emptied again by clean_content() when the store recycles it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "frss/ResourceBase.h"
#include "util/BoundBox.h"

// ROI category identifier -> scored boxes, as DetectorHandler::convert produces it.
using MapRoiCategory2Boxes = std::unordered_map<unsigned long long, std::vector<ScoredBBox<float>>>;

// Scored boxes per ROI category. Thread-safe: every operation runs under the resource's mutex, so a
// task may fill it while another reads it.
class DetectorRois : public ResourceBase {
 public:
  DetectorRois(unsigned long long resId, std::string resName);

  // For each key of m, replaces this resource's list by a copy of m's (an empty list clears it);
  // keys not in m are untouched.
  void put(const MapRoiCategory2Boxes& m);
  // For each key of m, appends m's boxes to this resource's list (the key is created even when m's
  // list is empty).
  void push(const MapRoiCategory2Boxes& m);
  // A copy of the whole map, for use outside the lock.
  MapRoiCategory2Boxes get() const;
  // Empties the map.
  void clean_content() override;

 private:
  mutable std::mutex mutex_;  // guards rois_
  MapRoiCategory2Boxes rois_;
};

// Class-level detections (resource identifier 8, "RESOURCE_DETECTOR_CLASS_ROIS"). Thread-safe.
class DetectorClassRois : public DetectorRois {
 public:
  DetectorClassRois();
  // Makes a new empty resource on each call.
  static std::function<std::shared_ptr<ResourceBase>()> producer();
};

// Part-level detections (resource identifier 16, "RESOURCE_DETECTOR_PART_ROIS"). Thread-safe.
class DetectorPartRois : public DetectorRois {
 public:
  DetectorPartRois();
  // Makes a new empty resource on each call.
  static std::function<std::shared_ptr<ResourceBase>()> producer();
};

// A tracker's state for one frame (resource identifier 32, "RESOURCE_TRACKER_ROIS"). The library
// only resets the fields; the tracking task gives them their meaning.
// Not thread-safe; written by the task that claimed it, read after publication.
class TrackerRois : public ResourceBase {
 public:
  TrackerRois();
  // Restores the empty values: no flag, tag 0, the whole image [0, 0, 1, 1], count 0.
  void clean_content() override;
  // Makes a new empty resource on each call.
  static std::function<std::shared_ptr<ResourceBase>()> producer();

  bool flag_ = false;
  unsigned long long tag_ = 0;
  BoundBox<float> box_{0, 0, 1, 1};
  int32_t count_ = 0;
};

// Faces with five landmarks each (resource identifier 64, "RESOURCE_MARKED_FACE_ROIS").
// Not thread-safe; written by one task before it is published, read after.
class MarkedFaceRois : public ResourceBase {
 public:
  // One face. The landmarks come in mirror pairs: points 0 and 1 (eyes), 3 and 4 (mouth corners);
  // point 2 (nose) lies on the face's vertical axis above the middle of 3 and 4.
  struct MarkedFaceRoi {
    int32_t tag = 0;  // set by the task that fills the resource
    BoundBox<float> faceRoi;
    std::vector<Point<float>> facePoints;
    std::shared_ptr<void> payload;  // owned by the face, released when the list is cleaned

    // "\nfaceRoi: " + faceRoi.print(false) + "\nfacePoints: " + "(x, y)" per point ("%f").
    std::string print() const;
    // How far the landmarks are from mirror symmetry about the box's vertical axis, per axis and
    // relative to the box size; (0, 0) for a symmetric face and for a face without exactly five
    // landmarks.
    std::pair<float, float> asymmetryDegree() const;
    // (eye and mouth pairing score, nose height score), each 1 for a frontal face, falling toward 0
    // as the face turns; (0, 0) for a face without exactly five landmarks.
    std::pair<float, float> alignDegree() const;
  };

  MarkedFaceRois();
  // "\nMarkedFaceRois size = " + number of faces, then each face's print.
  std::string print() const override;
  // Destroys all faces.
  void clean_content() override;
  // Makes a new empty resource on each call.
  static std::function<std::shared_ptr<ResourceBase>()> producer();

  std::vector<MarkedFaceRoi> faces;
};
