// Images as stored resources and the per-frame detail record: ResourceImage holds one image in the
// frame resource store (large and small frames, IPU image tensors); FrameDetail records a frame's
// size, resolution ratio and region, and the process-wide frame-detail dictionary lets later stages
// look a frame's detail up by frame id, waiting for it when it has not arrived yet.
#pragma once

#include <glog/logging.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "frss/ResourceBase.h"
#include "util/BoundBox.h"
#include "util/ImageBase.h"

// The stored resource holding one image. clean_content() keeps the image and its memory between
// frames. Not thread-safe; the stage that claimed the resource owns it (store rules).
class ResourceImage : public ResourceBase {
 public:
  ResourceImage(unsigned long long id, const std::string& name, const std::string& zone,
                const std::shared_ptr<ImageBase>& image);
  ~ResourceImage() override;

  // Does nothing: the image keeps its memory between frames.
  void clean_content() override;

  const std::shared_ptr<ImageBase>& image() const { return image_; }
  // Replaces the image, e.g. by one rebuilt over a new frame buffer in place.
  void set_image(const std::shared_ptr<ImageBase>& image) { image_ = image; }

 private:
  std::shared_ptr<ImageBase> image_;
};

// What the pipeline knows of one frame beyond its pixels. Plain value; share it read-only.
struct FrameDetail {
  enum ResolutionRatio : int {
    RATIO_UNKNOWN = 0,
    RATIO_16_TO_9 = 1,
    RATIO_9_TO_16 = 2,
    RATIO_4_TO_3 = 3,
    RATIO_3_TO_4 = 4,
    RATIO_1_TO_1 = 5,
  };

  // A frame of width x height: its ratio matched, the box the whole image.
  FrameDetail(long long frameId, int width, int height);

  // The first of 16/9, 4/3, 9/16, 3/4, 1/1 within 0.01 of width / max(height, 0.000001), else
  // RATIO_UNKNOWN.
  static ResolutionRatio match_resolution(int width, int height);
  // The ratio's name ("RATIO_16_TO_9", ...); "RATIO_UNKNOWN" for values outside the table.
  static const std::string& ratio_name(ResolutionRatio ratio);

  // "FrameDetail: frameId=<id>, width/height=<w>/<h>, ratio=<name>, <box print>".
  std::string toString() const;

  long long frameId = -1;
  int width = 0;
  int height = 0;
  ResolutionRatio ratio = RATIO_UNKNOWN;
  BoundBox<float> box{0.f, 0.f, 1.f, 1.f};  // region of interest in the frame, normalised
};

// A bounded dictionary kept in insertion order: beyond its capacity the oldest entries go. Readers
// can wait (with a time limit) for a key that has not been put yet. Thread-safe; waiters are woken
// by broadcast.
template <typename K, typename V>
class OrderedDictGuard {
 public:
  // A capacity below 1 is taken as 1.
  explicit OrderedDictGuard(size_t capacity)
      : capacity_(std::max<size_t>(capacity, 1)), mutex_(std::make_shared<std::mutex>()) {}
  OrderedDictGuard(const OrderedDictGuard&) = delete;
  OrderedDictGuard& operator=(const OrderedDictGuard&) = delete;

  // Sets dict[key] = value. A new key joins the end of the order; a known key keeps its place.
  // Beyond capacity, the oldest keys are evicted. Wakes every waiting reader.
  void put(const K& key, const V& value) {
    {
      std::lock_guard<std::mutex> lock(*mutex_);
      auto inserted = map_.insert_or_assign(key, value);
      if (inserted.second) order_.push_back(key);
      while (order_.size() > capacity_) {
        map_.erase(order_.front());
        order_.pop_front();
      }
    }
    cond_.notify_all();
  }

  // The value of `key`, waiting up to `timeout` for it to be put; a default V (an empty pointer)
  // when it is still missing then. A zero timeout only looks.
  V get(const K& key, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(*mutex_);
    auto found = map_.end();
    cond_.wait_for(lock, timeout, [&] { return (found = map_.find(key)) != map_.end(); });
    return found == map_.end() ? V() : found->second;
  }

  size_t size() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return map_.size();
  }
  // Keys from oldest to newest.
  std::vector<K> keys() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return std::vector<K>(order_.begin(), order_.end());
  }
  size_t capacity() const { return capacity_; }

 private:
  const size_t capacity_;
  std::shared_ptr<std::mutex> mutex_;     // guards map_ and order_
  mutable std::condition_variable cond_;  // signalled on every put
  std::unordered_map<K, V> map_;
  std::deque<K> order_;  // keys of map_ in insertion order
};

using FrameDetailDict = OrderedDictGuard<long long, std::shared_ptr<FrameDetail>>;

// The process-wide frame-detail dictionary, made on first use with the capacity
// "ImageDetailDict/capacity", which must be at least "memCntPreallocatedByLib_Global" (fatal
// otherwise; both keys must hold exactly one value). Frame readers put every frame's detail.
std::shared_ptr<FrameDetailDict> singleton_FrameDetailDict();
