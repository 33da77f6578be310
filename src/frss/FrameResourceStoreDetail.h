// The frame resource store's implementation: one pool per registered kind, the frame status
// ledger that mirrors every state change of the pools, and the searches, claims and evictions that
// run on them under one mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "frss/FrameResourceShared.h"
#include "frss/FrameResourceStore.h"
#include "frss/FrameStatus.h"
#include "frss/ResourceDef.h"

// Thread-safe: every public operation holds mutex_ for its whole body (the wait loops of
// tobe_written and borrow release it while they sleep).
class FrameResourceStoreDetail : public FrameResourceStore,
                                 public std::enable_shared_from_this<FrameResourceStoreDetail> {
 public:
  // Builds the registry from `mapId2Name` and `zone` (fatal on overlapping identifiers) and an
  // empty ledger; no pool exists until register_resource. Own the store through a shared pointer
  // (produce_FrameResourceStore) so that borrowed maps can keep it alive.
  FrameResourceStoreDetail(const std::unordered_map<unsigned long long, std::string>& mapId2Name,
                           int32_t capacity, int32_t dupAliveKept, const std::string& zone);
  ~FrameResourceStoreDetail() override;

  using FrameResourceStore::fetch_byunion;

  std::shared_ptr<MapResId2ResBasePtr> borrow(unsigned long long resunion, bool wait,
                                              uint32_t intervalMs) override;
  void cleanup_actively(float ratio) override;
  MapResId2ResBasePtr tobe_written(long long frameId, unsigned long long resunion, bool wait,
                                   uint32_t intervalMs) override;
  void have_written(long long frameId, unsigned long long resunion) override;
  MapResId2ResBasePtr fetch_byframe(long long frameId, unsigned long long resunion) const override;
  void drop(long long frameId, unsigned long long resunion) override;
  void undo_written(long long frameId, unsigned long long resunion) override;
  CombFidMapResBase fetch_byframe_coarsely(long long frameIdMin, long long frameIdMax,
                                           unsigned long long resunionMust, unsigned long long resunionOpt,
                                           uint32_t optNum, bool firstFit) const override;
  CombFidMapResBase fetch_byframe_coarsely(long long frameIdMin, long long frameIdMax,
                                           unsigned long long resunionMust,
                                           const std::unordered_map<unsigned long long, double>& weights,
                                           uint32_t optNum, uint32_t candidateNum,
                                           bool recencyBonus) const override;
  CombFidMapResBaseRW fetch_byunion(unsigned long long resunionInclude, unsigned long long resunionExclude,
                                    const CandidatePredicate& pred, int32_t verbose) override;
  CombFidMapResBaseRW fetch_byunion(unsigned long long resunionInclude, unsigned long long resunionExclude,
                                    const FrameIdPredicate& pred, int32_t verbose) override;
  unsigned long long are_registered(unsigned long long resunion) const override;
  std::vector<unsigned long long> are_registered(
      const std::vector<unsigned long long>& resIds) const override;
  // The producer runs under the store mutex and must not call into the store.
  void register_resource(unsigned long long resId, const Producer& producer, bool verify) override;
  std::vector<long long> frame_range() const override;
  std::vector<long long> frame_ids() const override;
  int32_t capacity() const override { return capacity_; }
  // "FrameResourceStoreDetail print\n" + the ledger's and every pool's print.
  std::string print() const override;
  void debug() const override;
  std::shared_ptr<ResourceIdStore> pResourceIdStore() const override { return pResourceIdStore_; }

 private:
  std::shared_ptr<ResourceBase> tobe_written_nolock(long long frameId, unsigned long long resId);
  void have_written_nolock(long long frameId, unsigned long long resId);
  void no_longer_need_nolock(long long frameId, unsigned long long resId);
  bool seat_available_nolock(long long frameId);
  void drop_stale_nolock();
  void drop_nolock(long long frameId);
  void drop_nolock(const std::vector<long long>& frameIds);
  void drop_dupalive_nolock(uint32_t n);
  std::shared_ptr<ResourceBase> fetch_byframe_nolock(long long frameId, unsigned long long resId) const;
  // Coarse-fetch probe of frame f: every kind of itemsMust must be published and at least optNum
  // kinds of itemsOpt; true when the frame qualifies, with the fetched resources in *map.
  bool probe_frame_nolock(long long f, const std::vector<unsigned long long>& itemsMust,
                          const std::vector<unsigned long long>& itemsOpt, uint32_t optNum,
                          MapResId2ResBasePtr* map) const;
  FrameResourceShared& pool_nolock(unsigned long long resId) const;
  std::string print_nolock() const;
  void debug_nolock() const;
  // The frames that hold the seats and the kinds they still have held outside the store, at most
  // once per second; empty otherwise.
  std::string seat_report_nolock();
  // After a claim or borrow found no seat: logs (fatal unless `wait`) and sleeps `intervalMs`.
  void no_seat(const char* what, unsigned long long resunion, bool wait, uint32_t intervalMs,
               const std::string& report) const;

  std::shared_ptr<ResourceIdStore> pResourceIdStore_;
  int32_t capacity_;
  int32_t dupAliveKept_;
  FrameStatus frameStatus_;
  std::map<unsigned long long, std::shared_ptr<FrameResourceShared>> resourceMap_;
  // Guards every field above and the two below.
  mutable std::mutex mutex_;
  std::vector<long long> evictOrder_;  // drop_stale_nolock's scratch, reserved once
  std::chrono::steady_clock::time_point lastSeatReport_;
  bool seatReported_ = false;
};
