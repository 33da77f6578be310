// The pool of one resource kind in a store: a fixed number of resources made once, each at any
// time on the empty list or in one of three maps by frame (being written, published, released but
// possibly still held by a reader). The pool never allocates a resource after construction.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frss/EmptyList.h"
#include "frss/FrameId2Resource.h"
#include "frss/ResourceBase.h"

// All operations run under the store mutex.
class FrameResourceShared {
 public:
  // Makes `size` resources with `producer`, all on the empty list.
  FrameResourceShared(const std::string& name, int32_t size,
                      const std::function<std::shared_ptr<ResourceBase>()>& producer);
  FrameResourceShared(const FrameResourceShared&) = delete;
  FrameResourceShared& operator=(const FrameResourceShared&) = delete;

  // Empty list -> birth map under `frameId`, payload reset and readCnt -1; returns the resource.
  // Fatal when the list is empty or the frame already has a resource being written.
  std::shared_ptr<ResourceBase> tobe_written(long long frameId);
  // Birth map -> alive map, readCnt 0. Fatal when the frame has no resource being written.
  void have_written(long long frameId);
  // The published resource of `frameId` with its readCnt incremented, or an empty pointer.
  std::shared_ptr<ResourceBase> for_reading(long long frameId);
  // Alive map -> death map. Fatal when the frame has no published resource.
  void tobe_cleared(long long frameId);
  // Death map -> empty list when nobody outside the pool holds the resource (true); otherwise it
  // stays in the death map (false). Fatal when the frame has no released resource.
  bool clear(long long frameId);
  // clear(f) for every released resource that nobody outside holds; returns those frames, ascending.
  std::vector<long long> clear();
  // True when nobody outside the pool holds this kind's resource of `frameId` in any state.
  bool check_recyclable(long long frameId) const;
  // True when the published resource of `frameId` is held by the pool alone.
  bool check_alonealive(long long frameId) const;
  // Whether `frameId` has a resource in the alive, birth or death map.
  bool id_exist(long long frameId) const;
  // Resources in use (not on the empty list).
  int32_t size() const;
  int32_t capacity() const { return resourcesize_; }
  // The empty list's and the three maps' prints, each followed by "\n".
  std::string print() const;
  // Fatal when the four containers do not add up to the capacity.
  void debug() const;

  const FrameId2Resource& birthMap() const { return birthMap_; }
  const FrameId2Resource& aliveMap() const { return aliveMap_; }
  const FrameId2Resource& deathMap() const { return deathMap_; }
  size_t empty_count() const { return emptylist_.size(); }

 private:
  friend class FrameResourceStoreDetail;  // its consistency checks name the maps directly

  std::string resName_;
  int32_t resourcesize_;
  EmptyList emptylist_;
  FrameId2Resource aliveMap_;
  FrameId2Resource birthMap_;
  FrameId2Resource deathMap_;
};
