// The bounded history of one tracked object: its boxes, oldest first, each with a weak reference to
// the image it was found in, plus the confirmation and loss rules a tracker applies to it. Not a
// stored resource: the tracking task keeps one per object across frames.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "util/BoundBox.h"

class ImageBase;

// Thread-safe: every operation runs under the trace's mutex; accessors return copies.
class ObjectTrace {
 public:
  // A trace holding `box` (found in `image` at frame `frameId`) as its first entry. It keeps at most
  // maxLen entries, is confirmed after confirmLen consecutive frames (at once when confirmLen is 0)
  // and is lost lostGap frames after its last update.
  ObjectTrace(const std::weak_ptr<ImageBase>& image, const BoundBox<float>& box, unsigned int id,
              unsigned long long frameId, int maxLen, int confirmLen, int lostGap);
  ObjectTrace(const ObjectTrace&) = delete;
  ObjectTrace& operator=(const ObjectTrace&) = delete;

  // Appends the object's box of frame `frameId`. A frame directly after the last one extends the run
  // of consecutive frames (confirming the object once the run reaches confirmLen); any other frame
  // restarts the run at 0. Confirmation is never withdrawn. The oldest entries beyond maxLen are
  // dropped.
  void append(const std::weak_ptr<ImageBase>& image, const BoundBox<float>& box, unsigned long long frameId);
  // True when frameId is older than the last update, or at least lostGap frames after it.
  bool lost(unsigned long long frameId);
  // Number of boxes held.
  int size();
  // The minimum of f over the n newest boxes (all if fewer), newest first; the largest finite float
  // when n <= 0 or the trace is empty. f runs on a copy of the boxes, outside the lock.
  float meric(const std::function<float(const BoundBox<float>&)>& f, int n);
  // Reduces the trace to its newest entry (nothing when empty).
  void keeplast();
  // The entries, oldest first.
  std::vector<std::pair<BoundBox<float>, std::weak_ptr<ImageBase>>> getBox8ImageArray();
  // The newest box, or the zero box when empty.
  BoundBox<float> lastBox();
  // The newest image reference, or an empty one when empty.
  std::weak_ptr<ImageBase> lastImage();

  unsigned int id() const { return id_; }
  bool confirmed() const { return confirmed_.load(); }
  unsigned long long lastFrameId();

 private:
  const unsigned int id_;
  unsigned long long lastFrameId_;
  const int maxLen_;
  const int confirmLen_;
  const int lostGap_;
  std::atomic<bool> confirmed_;
  int consecutive_ = 0;
  std::vector<BoundBox<float>> _boxArray;
  std::vector<std::weak_ptr<ImageBase>> _weakedImageVec;
  std::mutex mutex_;  // guards lastFrameId_, consecutive_, _boxArray and _weakedImageVec
};
