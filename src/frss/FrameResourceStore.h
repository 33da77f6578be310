// The frame resource store: the interface through which every pipeline stage exchanges its
// products. Stages claim empty resources of given kinds in a frame, fill and publish them, fetch
// the published resources of a frame for reading, and release them by dropping their pointers;
// the store recycles a resource once it holds the last reference.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "frss/ResourceBase.h"
#include "frss/ResourceDef.h"

// Thread-safe. Predicates passed to fetch_byunion run under the store mutex and must not call back
// into the store; the last copy of a borrowed map must not be released while holding that mutex.
class FrameResourceStore {
 public:
  using Producer = std::function<std::shared_ptr<ResourceBase>()>;
  using FrameIdPredicate = std::function<bool(long long)>;
  using CandidatePredicate = std::function<bool(const CombFidMapResBaseRW*)>;

  FrameResourceStore() = default;
  FrameResourceStore(const FrameResourceStore&) = delete;
  FrameResourceStore& operator=(const FrameResourceStore&) = delete;

  // Lends empty resources of every registered kind of `resunion` in a placeholder frame below every
  // real frame (scratch buffers). Dropping the last copy of the returned pointer releases them.
  // Without a seat: fatal when `wait` is false, else logs an ERROR and retries every `intervalMs`.
  virtual std::shared_ptr<MapResId2ResBasePtr> borrow(unsigned long long resunion, bool wait,
                                                      uint32_t intervalMs) = 0;
  // Drops the older duplicate frames when the store holds at least capacity * ratio frames.
  virtual void cleanup_actively(float ratio) = 0;
  // Claims one empty resource of every registered kind of `resunion` in `frameId`, evicting
  // unheld duplicate and old frames when the store is full. No seat: as in borrow. Fatal when a
  // kind is already present in the frame. Never claims only part of the union.
  virtual MapResId2ResBasePtr tobe_written(long long frameId, unsigned long long resunion, bool wait,
                                           uint32_t intervalMs) = 0;
  // Publishes the claimed kinds of `resunion` in `frameId`. Fatal for a kind not claimed there.
  virtual void have_written(long long frameId, unsigned long long resunion) = 0;
  // The published resources of `frameId`, one entry per kind of `resunion` (empty pointer when the
  // kind is not published there). Each fetched resource's readCnt grows by one.
  virtual MapResId2ResBasePtr fetch_byframe(long long frameId, unsigned long long resunion) const = 0;
  // Releases the published kinds of `resunion` in `frameId`; a kind still held by a reader is
  // recycled when the frame leaves the store. Fatal for a kind not published there.
  virtual void drop(long long frameId, unsigned long long resunion) = 0;
  // Releases claimed kinds without making them readable. Fatal for a kind not claimed there.
  virtual void undo_written(long long frameId, unsigned long long resunion) = 0;
  // From frameIdMax down to frameIdMin, the frame with every kind of resunionMust and at least
  // optNum kinds of resunionOpt published: the first found when firstFit, else the one with most
  // resources (ties: the newer). frameId -1 when none. Fatal when resunionOpt has fewer than
  // optNum registered kinds.
  virtual CombFidMapResBase fetch_byframe_coarsely(long long frameIdMin, long long frameIdMax,
                                                   unsigned long long resunionMust,
                                                   unsigned long long resunionOpt, uint32_t optNum,
                                                   bool firstFit) const = 0;
  // The same search over at most candidateNum qualifying frames (newest first), scored by the
  // weights of the kinds found (plus the frame id when recencyBonus); ties: the newer.
  virtual CombFidMapResBase fetch_byframe_coarsely(
      long long frameIdMin, long long frameIdMax, unsigned long long resunionMust,
      const std::unordered_map<unsigned long long, double>& weights, uint32_t optNum, uint32_t candidateNum,
      bool recencyBonus) const = 0;
  // Binds a task: the newest frame whose candidate (inputs fetched, outputs claimed) `pred`
  // accepts, in which every kind of resunionInclude is published and no kind of resunionExclude
  // exists. Claims of rejected candidates are released at once. frameId -1 when none; `verbose`
  // logs why. The caller publishes (have_written) or releases (undo_written) the claims.
  virtual CombFidMapResBaseRW fetch_byunion(unsigned long long resunionInclude,
                                            unsigned long long resunionExclude,
                                            const CandidatePredicate& pred, int32_t verbose) = 0;
  // The same, choosing the newest such frame whose id `pred` accepts (empty: any).
  virtual CombFidMapResBaseRW fetch_byunion(unsigned long long resunionInclude,
                                            unsigned long long resunionExclude, const FrameIdPredicate& pred,
                                            int32_t verbose) = 0;
  // The part of `resunion` that is both defined and registered.
  virtual unsigned long long are_registered(unsigned long long resunion) const = 0;
  // The identifiers of `resIds`, in order, that are registered.
  virtual std::vector<unsigned long long> are_registered(
      const std::vector<unsigned long long>& resIds) const = 0;
  // Makes the pool of `resId` (capacity resources from `producer`) unless it exists; with `verify`
  // an existing pool is checked against one resource from `producer` (fatal on mismatch).
  virtual void register_resource(unsigned long long resId, const Producer& producer, bool verify) = 0;
  // {oldest, newest} frame of the store, or {-1, -1} when empty.
  virtual std::vector<long long> frame_range() const = 0;
  // Every frame of the store, ascending.
  virtual std::vector<long long> frame_ids() const = 0;
  virtual int32_t capacity() const = 0;
  virtual std::string print() const = 0;
  // Fatal on any inconsistency between the ledger and the pools.
  virtual void debug() const = 0;
  virtual std::shared_ptr<ResourceIdStore> pResourceIdStore() const = 0;
  virtual ~FrameResourceStore() = default;

  // fetch_byunion over frames not in `excluded`.
  CombFidMapResBaseRW fetch_byunion(unsigned long long resunionInclude, unsigned long long resunionExclude,
                                    const std::unordered_set<long long>& excluded, int32_t verbose);
  // fetch_byunion over frames strictly newer than `bound`.
  CombFidMapResBaseRW fetch_byunion(unsigned long long resunionInclude, unsigned long long resunionExclude,
                                    long long bound, int32_t verbose);
};

// A new store of `capacity` frames (and resources per kind) over the kinds of `mapId2Name`;
// `dupAliveKept` newest frames are kept per identical set of published kinds when evicting.
std::shared_ptr<FrameResourceStore> produce_FrameResourceStore(
    const std::unordered_map<unsigned long long, std::string>& mapId2Name, int32_t capacity,
    int32_t dupAliveKept, const std::string& zone);
