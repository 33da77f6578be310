// The store's ledger: for every frame that still has resources in the store, which kinds are being
// written, published or released, plus the frames grouped by the exact set of published kinds.
// The store's searches (newest frame for a task, duplicate frames to evict) run on it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "frss/ResourceDef.h"

// State of one resource kind within one frame. The fixed underlying type makes every int a valid
// value, so that an unknown one reaches ResStatusEnum_string's check instead of being undefined.
enum ResStatusEnum : int { FS_NONE = 0, FS_BIRTH = 1, FS_ALIVE = 2, FS_DEATH = 3 };

// "FS_NONE", "FS_BIRTH", "FS_ALIVE" or "FS_DEATH"; fatal for any other value.
std::string ResStatusEnum_string(ResStatusEnum status);

// All operations run under the store mutex.
class FrameStatus {
 public:
  using StatusMap = std::map<ResStatusEnum, unsigned long long>;

  explicit FrameStatus(std::shared_ptr<ResourceIdStore> pResourceIdStore);
  FrameStatus(const FrameStatus&) = delete;
  FrameStatus& operator=(const FrameStatus&) = delete;

  // Moves the kinds of `res` from state `src` to `dst` in frame `id`. Fatal when src == dst, when
  // the kinds are not in `src` or already in another state.
  void change(long long id, unsigned long long res, ResStatusEnum src, ResStatusEnum dst);
  // Adds the frame to / takes it out of the group of published union `resunion` (no-op for 0).
  // Fatal when already in / not in the group.
  void insert_alive(long long id, unsigned long long resunion);
  void erase_alive(long long id, unsigned long long resunion);
  // The union of the frame's kinds in `status`; 0 when absent.
  unsigned long long resunion_status(long long id, ResStatusEnum status) const;
  // The newest frame accepted by `pred` (empty: all) in which every kind of `include` is published
  // and no kind of `exclude` is present in any state; -1 when none. `pred` runs under the store
  // mutex.
  long long latest(unsigned long long include, unsigned long long exclude,
                   const std::function<bool(long long)>& pred) const;
  // Per group of frames with the same published kinds, the frames older than the `n` newest.
  std::vector<long long> dup_alive(uint32_t n) const;
  // The same, appended to `out` (lets the store reuse one buffer when it evicts).
  void dup_alive(uint32_t n, std::vector<long long>& out) const;
  // True when the frame is present with no state other than FS_NONE.
  bool id_isstale(long long id) const;
  std::unordered_set<long long> idset() const;
  // Frame ids, ascending.
  std::vector<long long> idvec() const;
  std::string print() const;
  // Fatal on the first inconsistency between the per-frame states and the groups.
  void debug() const;

  size_t frame_count() const { return frameStatusResource_.size(); }
  bool id_exist(long long id) const { return frameStatusResource_.count(id) != 0; }
  const std::map<long long, StatusMap>& frameStatusResource() const { return frameStatusResource_; }
  const std::map<unsigned long long, std::set<long long>>& aliveFrame() const { return aliveFrame_; }

 private:
  friend class FrameResourceStoreDetail;  // its consistency checks name the ledger directly

  using FrameMap = std::map<long long, StatusMap>;
  using GroupMap = std::map<unsigned long long, std::set<long long>>;

  // The entry of frame `id` / state `status`, created (from a spare node when there is one) if absent.
  StatusMap& frame_entry(long long id);
  unsigned long long& state_entry(StatusMap& states, ResStatusEnum status);
  // Erase entries, keeping their nodes for reuse.
  void erase_state(StatusMap& states, ResStatusEnum status);
  void erase_frame(FrameMap::iterator it);

  std::shared_ptr<ResourceIdStore> pResourceIdStore_;
  std::string zone_;
  FrameMap frameStatusResource_;
  GroupMap aliveFrame_;
  // Nodes of erased entries. Every claim, publish and release adds and erases entries; reusing
  // their nodes keeps the steady state free of allocation (the spares never outnumber the most
  // entries the ledger ever held).
  std::vector<FrameMap::node_type> spareFrames_;
  std::vector<StatusMap::node_type> spareStates_;
  std::vector<GroupMap::node_type> spareGroups_;
  std::vector<std::set<long long>::node_type> spareIds_;
};
