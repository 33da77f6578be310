#include "frss/FrameResourceStoreDetail.h"

#include <glog/logging.h>

#include <algorithm>

#include "kbase/Clock.h"

namespace {

// Calls fn(id) for every registered identifier of `resunion`, in the order of
// ResourceIdStore::resolve, without building its vector: the claim, publish, fetch and drop paths
// run this on every call.
template <typename Fn>
void for_each_id(const ResourceIdStore& ids, unsigned long long resunion, Fn fn) {
  for (unsigned long long id : ids.resIdSet()) {
    if (id & resunion) fn(id);
  }
}

// Releases borrowed resources: undo_written on the store, then deletes the map. It owns a
// reference to the store, so the store outlives every borrowed map.
struct BorrowDeleter {
  std::shared_ptr<FrameResourceStore> owner;
  // Used only for a store that is not owned by a shared pointer; it must outlive the map.
  FrameResourceStore* unowned;
  long long placeholder;
  unsigned long long resunion;

  void operator()(MapResId2ResBasePtr* map) {
    FrameResourceStore* store = owner ? owner.get() : unowned;
    // The map still references the resources, so they stay released (FS_DEATH) in the
    // placeholder frame until its eviction.
    store->undo_written(placeholder, resunion);
    delete map;
    owner.reset();
  }
};

// An empty result map with room for a few kinds. A copy of it takes over the bucket count and
// resize threshold, so filling it skips the prime-table rehash that a default-constructed map runs
// on its first insertion (a sixth of a claim-publish-fetch-drop cycle).
MapResId2ResBasePtr empty_result() {
  static const MapResId2ResBasePtr prototype = [] {
    MapResId2ResBasePtr m;
    m.reserve(8);
    return m;
  }();
  return prototype;
}

}  // namespace

std::shared_ptr<FrameResourceStore> produce_FrameResourceStore(
    const std::unordered_map<unsigned long long, std::string>& mapId2Name, int32_t capacity,
    int32_t dupAliveKept, const std::string& zone) {
  return std::make_shared<FrameResourceStoreDetail>(mapId2Name, capacity, dupAliveKept, zone);
}

FrameResourceStoreDetail::FrameResourceStoreDetail(
    const std::unordered_map<unsigned long long, std::string>& mapId2Name, int32_t capacity,
    int32_t dupAliveKept, const std::string& zone)
    : pResourceIdStore_(std::make_shared<ResourceIdStore>(mapId2Name, zone)),
      capacity_(capacity),
      dupAliveKept_(dupAliveKept),
      frameStatus_(pResourceIdStore_) {
  // The ledger never holds more than capacity_ frames, so eviction never grows this buffer.
  evictOrder_.reserve(static_cast<size_t>(std::max(capacity_, 0)));
  LOG(INFO) << "FrameResourceStoreDetail ctor, capacity = " << capacity
            << ", dupAliveKept = " << dupAliveKept;
}

FrameResourceStoreDetail::~FrameResourceStoreDetail() = default;

// ---------------------------------------------------------------------------------------------
// Registration and write path

void FrameResourceStoreDetail::register_resource(unsigned long long resId, const Producer& producer,
                                                 bool verify) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = resourceMap_.find(resId);
  if (it == resourceMap_.end()) {
    resourceMap_.emplace(resId, std::make_shared<FrameResourceShared>(pResourceIdStore_->print(resId, ","),
                                                                      capacity_, producer));
    return;
  }
  if (!verify) return;

  // Frame -1 is never a ledger frame (borrow placeholders are -2 and below), so this cycle
  // bypasses the ledger without meeting a real claim in the pool's maps.
  FrameResourceShared& pool = *it->second;
  {
    std::shared_ptr<ResourceBase> ptrInStore = pool.tobe_written(-1);
    std::shared_ptr<ResourceBase> ptr = producer();
    CHECK(ptr);
    CHECK(ptr->resId() == ptrInStore->resId());
    CHECK(ptr->resName() == ptrInStore->resName());
  }
  pool.have_written(-1);
  pool.tobe_cleared(-1);
  bool ok = pool.clear(-1);
  CHECK(ok);
}

FrameResourceShared& FrameResourceStoreDetail::pool_nolock(unsigned long long resId) const {
  auto it = resourceMap_.find(resId);
  CHECK(it != resourceMap_.end()) << pResourceIdStore_->print(resId, ",") << " has not been registered";
  return *it->second;
}

std::shared_ptr<ResourceBase> FrameResourceStoreDetail::tobe_written_nolock(long long frameId,
                                                                            unsigned long long resId) {
  FrameResourceShared& pool = pool_nolock(resId);
  bool seatAvailable = seat_available_nolock(frameId);
  CHECK(seatAvailable);
  frameStatus_.change(frameId, resId, FS_NONE, FS_BIRTH);
  return pool.tobe_written(frameId);
}

void FrameResourceStoreDetail::have_written_nolock(long long frameId, unsigned long long resId) {
  FrameResourceShared& pool = pool_nolock(resId);
  frameStatus_.change(frameId, resId, FS_BIRTH, FS_ALIVE);
  pool.have_written(frameId);
}

void FrameResourceStoreDetail::no_longer_need_nolock(long long frameId, unsigned long long resId) {
  FrameResourceShared& pool = pool_nolock(resId);
  frameStatus_.change(frameId, resId, FS_ALIVE, FS_DEATH);
  pool.tobe_cleared(frameId);
  // A resource still held by a reader stays in FS_DEATH until its frame is dropped.
  if (pool.clear(frameId)) frameStatus_.change(frameId, resId, FS_DEATH, FS_NONE);
}

bool FrameResourceStoreDetail::seat_available_nolock(long long frameId) {
  if (static_cast<long long>(frameStatus_.frame_count()) < capacity_) return true;
  // More kinds for a frame already in the store never need a new seat.
  if (frameStatus_.id_exist(frameId)) return true;
  drop_stale_nolock();
  return static_cast<long long>(frameStatus_.frame_count()) < capacity_;
}

void FrameResourceStoreDetail::drop_stale_nolock() {
  // Older duplicates first, then every other frame from the oldest.
  evictOrder_.clear();
  frameStatus_.dup_alive(static_cast<uint32_t>(dupAliveKept_), evictOrder_);
  const size_t dupCount = evictOrder_.size();
  for (const auto& frame : frameStatus_.frameStatusResource_) {
    auto dupEnd = evictOrder_.begin() + static_cast<std::ptrdiff_t>(dupCount);
    if (std::find(evictOrder_.begin(), dupEnd, frame.first) == dupEnd) evictOrder_.push_back(frame.first);
  }
  for (long long frameId : evictOrder_) {
    drop_nolock(frameId);
    if (static_cast<long long>(frameStatus_.frame_count()) < capacity_) break;
  }
}

void FrameResourceStoreDetail::drop_nolock(long long frameId) {
  const unsigned long long birth = frameStatus_.resunion_status(frameId, FS_BIRTH);
  const unsigned long long alive = frameStatus_.resunion_status(frameId, FS_ALIVE);
  const unsigned long long death = frameStatus_.resunion_status(frameId, FS_DEATH);

  // All or nothing: a frame of which a reader or writer still holds anything stays as it is.
  for (unsigned long long id : pResourceIdStore_->resIdSet()) {
    if (!(id & (birth | alive | death))) continue;
    auto it = resourceMap_.find(id);
    CHECK(it != resourceMap_.end());
    if (!it->second->check_recyclable(frameId)) return;
  }

  if (birth != 0) {
    LOG(ERROR) << "FRSS ERROR: a stale frame(" << frameId
               << ") has FS_BIRTH resources: " << pResourceIdStore_->print(birth, ",") << "\n"
               << print_nolock();
    for_each_id(*pResourceIdStore_, birth, [&](unsigned long long id) {
      have_written_nolock(frameId, id);
      no_longer_need_nolock(frameId, id);
    });
  }
  if (alive != 0) {
    for_each_id(*pResourceIdStore_, alive,
                [&](unsigned long long id) { no_longer_need_nolock(frameId, id); });
  }
  if (death != 0) {
    for_each_id(*pResourceIdStore_, death, [&](unsigned long long id) {
      bool ok = pool_nolock(id).clear(frameId);
      CHECK(ok);
      frameStatus_.change(frameId, id, FS_DEATH, FS_NONE);
    });
  }
}

std::string FrameResourceStoreDetail::seat_report_nolock() {
  auto now = std::chrono::steady_clock::now();
  if (seatReported_ && now - lastSeatReport_ < std::chrono::seconds(1)) return std::string();
  seatReported_ = true;
  lastSeatReport_ = now;

  std::string out = "FRSS seats (" + pResourceIdStore_->zone() + ", capacity " + std::to_string(capacity_) +
                    ") held by " + std::to_string(frameStatus_.frame_count()) + " frames:";
  static const ResStatusEnum kStates[] = {FS_BIRTH, FS_ALIVE, FS_DEATH};
  for (const auto& frame : frameStatus_.frameStatusResource_) {
    const long long frameId = frame.first;
    out += " frame " + std::to_string(frameId) + " [";
    bool any = false;
    for (ResStatusEnum state : kStates) {
      for_each_id(
          *pResourceIdStore_, frameStatus_.resunion_status(frameId, state), [&](unsigned long long id) {
            auto it = resourceMap_.find(id);
            if (it == resourceMap_.end()) return;
            const FrameResourceShared& pool = *it->second;
            const FrameId2Resource& map =
                state == FS_BIRTH ? pool.birthMap_ : (state == FS_ALIVE ? pool.aliveMap_ : pool.deathMap_);
            // id_access counts the pool's own reference.
            int32_t holders = map.id_access(frameId) - 1;
            if (holders < 1) return;
            auto name = pResourceIdStore_->mapId2Name().find(id);
            out += std::string(any ? ", " : "") +
                   (name == pResourceIdStore_->mapId2Name().end() ? std::to_string(id) : name->second) + " " +
                   ResStatusEnum_string(state) + " by " + std::to_string(holders) + " holder(s)";
            any = true;
          });
    }
    out += any ? "]" : "nothing held outside]";
  }
  return out;
}

void FrameResourceStoreDetail::no_seat(const char* what, unsigned long long resunion, bool wait,
                                       uint32_t intervalMs, const std::string& report) const {
  if (!wait) {
    if (!report.empty()) LOG(ERROR) << report;
    LOG(FATAL) << what << pResourceIdStore_->print(resunion, ",");
  }
  LOG(ERROR) << what << pResourceIdStore_->print(resunion, ",");
  if (!report.empty()) LOG(ERROR) << report;
  sleep_ms_from_now(static_cast<double>(intervalMs));
}

MapResId2ResBasePtr FrameResourceStoreDetail::tobe_written(long long frameId, unsigned long long resunion,
                                                           bool wait, uint32_t intervalMs) {
  MapResId2ResBasePtr result = empty_result();
  for (;;) {
    std::string report;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (seat_available_nolock(frameId)) {
        for_each_id(*pResourceIdStore_, resunion,
                    [&](unsigned long long id) { result[id] = tobe_written_nolock(frameId, id); });
        return result;
      }
      report = seat_report_nolock();
    }
    no_seat("cannot tobe_written resources: ", resunion, wait, intervalMs, report);
  }
}

std::shared_ptr<MapResId2ResBasePtr> FrameResourceStoreDetail::borrow(unsigned long long resunion, bool wait,
                                                                      uint32_t intervalMs) {
  MapResId2ResBasePtr result = empty_result();
  for (;;) {
    std::string report;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Below every ledger frame and never -1 (the "none" frame, also the registration check's).
      long long placeholder = -2;
      if (frameStatus_.frame_count() != 0) {
        placeholder = std::min(frameStatus_.frameStatusResource_.begin()->first - 1, -2LL);
      }
      if (seat_available_nolock(placeholder)) {
        for_each_id(*pResourceIdStore_, resunion,
                    [&](unsigned long long id) { result[id] = tobe_written_nolock(placeholder, id); });
        BorrowDeleter deleter{weak_from_this().lock(), this, placeholder, resunion};
        return std::shared_ptr<MapResId2ResBasePtr>(new MapResId2ResBasePtr(std::move(result)),
                                                    std::move(deleter));
      }
      report = seat_report_nolock();
    }
    no_seat("cannot borrow resources: ", resunion, wait, intervalMs, report);
  }
}

void FrameResourceStoreDetail::have_written(long long frameId, unsigned long long resunion) {
  std::lock_guard<std::mutex> lock(mutex_);
  for_each_id(*pResourceIdStore_, resunion, [&](unsigned long long id) { have_written_nolock(frameId, id); });
}

void FrameResourceStoreDetail::undo_written(long long frameId, unsigned long long resunion) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Published and released inside one locked section: no other thread can fetch it meanwhile.
  for_each_id(*pResourceIdStore_, resunion, [&](unsigned long long id) {
    have_written_nolock(frameId, id);
    no_longer_need_nolock(frameId, id);
  });
}

// ---------------------------------------------------------------------------------------------
// Read path and clean-up

std::shared_ptr<ResourceBase> FrameResourceStoreDetail::fetch_byframe_nolock(long long frameId,
                                                                             unsigned long long resId) const {
  return pool_nolock(resId).for_reading(frameId);
}

MapResId2ResBasePtr FrameResourceStoreDetail::fetch_byframe(long long frameId,
                                                            unsigned long long resunion) const {
  MapResId2ResBasePtr result = empty_result();
  std::lock_guard<std::mutex> lock(mutex_);
  for_each_id(*pResourceIdStore_, resunion,
              [&](unsigned long long id) { result[id] = fetch_byframe_nolock(frameId, id); });
  return result;
}

bool FrameResourceStoreDetail::probe_frame_nolock(long long f,
                                                  const std::vector<unsigned long long>& itemsMust,
                                                  const std::vector<unsigned long long>& itemsOpt,
                                                  uint32_t optNum, MapResId2ResBasePtr* map) const {
  for (unsigned long long id : itemsMust) {
    std::shared_ptr<ResourceBase> ptr = fetch_byframe_nolock(f, id);
    if (!ptr) return false;
    (*map)[id] = std::move(ptr);
  }
  uint32_t found = 0;
  for (unsigned long long id : itemsOpt) {
    std::shared_ptr<ResourceBase> ptr = fetch_byframe_nolock(f, id);
    if (!ptr) continue;
    ++found;
    (*map)[id] = std::move(ptr);
  }
  return found >= optNum;
}

CombFidMapResBase FrameResourceStoreDetail::fetch_byframe_coarsely(long long frameIdMin, long long frameIdMax,
                                                                   unsigned long long resunionMust,
                                                                   unsigned long long resunionOpt,
                                                                   uint32_t optNum, bool firstFit) const {
  const std::vector<unsigned long long> itemsMust = pResourceIdStore_->resolve(resunionMust);
  const std::vector<unsigned long long> itemsOpt = pResourceIdStore_->resolve(resunionOpt);
  CHECK(itemsOpt.size() >= optNum);

  CombFidMapResBase result;
  std::lock_guard<std::mutex> lock(mutex_);
  // Counting down with an explicit stop, so that frameIdMin == LLONG_MIN cannot overflow.
  for (long long f = frameIdMax; frameIdMin <= frameIdMax; --f) {
    MapResId2ResBasePtr map;
    if (probe_frame_nolock(f, itemsMust, itemsOpt, optNum, &map)) {
      if (firstFit) {
        result.frameId = f;
        result.mapRes = std::move(map);
        break;
      }
      // Strictly more: on a tie the newer frame, found first, stays.
      if (map.size() > result.mapRes.size()) {
        result.frameId = f;
        result.mapRes = std::move(map);
      }
    }
    if (f == frameIdMin) break;
  }
  return result;
}

CombFidMapResBase FrameResourceStoreDetail::fetch_byframe_coarsely(
    long long frameIdMin, long long frameIdMax, unsigned long long resunionMust,
    const std::unordered_map<unsigned long long, double>& weights, uint32_t optNum, uint32_t candidateNum,
    bool recencyBonus) const {
  const std::vector<unsigned long long> itemsMust = pResourceIdStore_->resolve(resunionMust);
  std::vector<unsigned long long> itemsOpt;
  for (const auto& item : weights) itemsOpt.push_back(item.first);
  CHECK(itemsOpt.size() >= optNum);

  const size_t wanted = std::max<size_t>(candidateNum, 1);
  std::vector<CombFidMapResBase> candidates;
  std::lock_guard<std::mutex> lock(mutex_);
  for (long long f = frameIdMax; frameIdMin <= frameIdMax; --f) {
    MapResId2ResBasePtr map;
    if (probe_frame_nolock(f, itemsMust, itemsOpt, optNum, &map)) {
      CombFidMapResBase candidate;
      candidate.frameId = f;
      candidate.mapRes = std::move(map);
      candidates.push_back(std::move(candidate));
      if (candidates.size() >= wanted) break;
    }
    if (f == frameIdMin) break;
  }

  auto score = [&](const CombFidMapResBase& c) {
    double s = 0;
    for (const auto& item : c.mapRes) {
      auto w = weights.find(item.first);
      if (w != weights.end()) s += w->second;
    }
    if (recencyBonus) s += static_cast<double>(c.frameId);
    return s;
  };
  const CombFidMapResBase* chosen = nullptr;
  double best = 0;
  for (const CombFidMapResBase& c : candidates) {
    double s = score(c);
    if (chosen == nullptr || s > best || (s == best && c.frameId > chosen->frameId)) {
      chosen = &c;
      best = s;
    }
  }
  return chosen ? *chosen : CombFidMapResBase();
}

CombFidMapResBaseRW FrameResourceStoreDetail::fetch_byunion(unsigned long long resunionInclude,
                                                            unsigned long long resunionExclude,
                                                            const FrameIdPredicate& pred, int32_t verbose) {
  CombFidMapResBaseRW result;
  std::string why;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const long long f = frameStatus_.latest(resunionInclude, resunionExclude, pred);
    result.frameId = f;
    if (f >= 0) {
      for_each_id(*pResourceIdStore_, resunionInclude,
                  [&](unsigned long long id) { result.mapRead[id] = fetch_byframe_nolock(f, id); });
      // The frame holds a seat already, so these claims cannot fail for want of one.
      for_each_id(*pResourceIdStore_, resunionExclude,
                  [&](unsigned long long id) { result.mapWrite[id] = tobe_written_nolock(f, id); });
      return result;
    }
    if (verbose == 0) return result;
    if (verbose >= 1) {
      why = "fetch resunionInclude = " + pResourceIdStore_->print(resunionInclude, ",") +
            ", resunionExclude = " + pResourceIdStore_->print(resunionExclude, ",");
      if (verbose != 1) why += "\n" + print_nolock();
    }
  }
  LOG(INFO) << why;
  return result;
}

CombFidMapResBaseRW FrameResourceStoreDetail::fetch_byunion(unsigned long long resunionInclude,
                                                            unsigned long long resunionExclude,
                                                            const CandidatePredicate& pred, int32_t verbose) {
  std::string why;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& frames = frameStatus_.frameStatusResource_;
    auto it = frames.end();
    while (it != frames.begin()) {
      --it;
      const long long f = it->first;
      unsigned long long birth = 0, alive = 0, death = 0;
      for (const auto& state : it->second) {
        if (state.first == FS_BIRTH) birth = state.second;
        if (state.first == FS_ALIVE) alive = state.second;
        if (state.first == FS_DEATH) death = state.second;
      }
      if ((alive & resunionInclude) != resunionInclude || ((birth | alive | death) & resunionExclude) != 0) {
        continue;
      }

      CombFidMapResBaseRW candidate;
      candidate.frameId = f;
      for_each_id(*pResourceIdStore_, resunionInclude,
                  [&](unsigned long long id) { candidate.mapRead[id] = fetch_byframe_nolock(f, id); });
      for_each_id(*pResourceIdStore_, resunionExclude,
                  [&](unsigned long long id) { candidate.mapWrite[id] = tobe_written_nolock(f, id); });
      if (!pred || pred(&candidate)) return candidate;

      // Rejected: release its claims now rather than leave them in FS_BIRTH until eviction. The
      // maps go first so that the claimed resources are recycled at once.
      candidate.mapRead.clear();
      candidate.mapWrite.clear();
      for_each_id(*pResourceIdStore_, resunionExclude, [&](unsigned long long id) {
        have_written_nolock(f, id);
        no_longer_need_nolock(f, id);
      });
      // The frame keeps the published inputs that qualified it, so it is still in the ledger;
      // looking it up again keeps the walk independent of that.
      it = frames.lower_bound(f);
    }
    if (verbose == 0) return CombFidMapResBaseRW();
    if (verbose >= 1) {
      why = "fetch resunionInclude = " + pResourceIdStore_->print(resunionInclude, ",") +
            ", resunionExclude = " + pResourceIdStore_->print(resunionExclude, ",");
      if (verbose != 1) why += "\n" + print_nolock();
    }
  }
  LOG(INFO) << why;
  return CombFidMapResBaseRW();
}

void FrameResourceStoreDetail::drop(long long frameId, unsigned long long resunion) {
  std::lock_guard<std::mutex> lock(mutex_);
  for_each_id(*pResourceIdStore_, resunion,
              [&](unsigned long long id) { no_longer_need_nolock(frameId, id); });
}

void FrameResourceStoreDetail::drop_nolock(const std::vector<long long>& frameIds) {
  for (long long frameId : frameIds) drop_nolock(frameId);
}

void FrameResourceStoreDetail::drop_dupalive_nolock(uint32_t n) { drop_nolock(frameStatus_.dup_alive(n)); }

void FrameResourceStoreDetail::cleanup_actively(float ratio) {
  std::lock_guard<std::mutex> lock(mutex_);
  // NaN compares false: never cleans.
  if (static_cast<float>(frameStatus_.frame_count()) >= static_cast<float>(capacity_) * ratio) {
    drop_dupalive_nolock(static_cast<uint32_t>(dupAliveKept_));
  }
}

std::vector<unsigned long long> FrameResourceStoreDetail::are_registered(
    const std::vector<unsigned long long>& resIds) const {
  std::vector<unsigned long long> result;
  std::lock_guard<std::mutex> lock(mutex_);
  for (unsigned long long id : resIds) {
    if (resourceMap_.count(id) != 0) result.push_back(id);
  }
  return result;
}

unsigned long long FrameResourceStoreDetail::are_registered(unsigned long long resunion) const {
  return ResourceIdStore::assemble(are_registered(pResourceIdStore_->resolve(resunion)));
}

std::vector<long long> FrameResourceStoreDetail::frame_range() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& frames = frameStatus_.frameStatusResource_;
  if (frames.empty()) return {-1, -1};
  return {frames.begin()->first, frames.rbegin()->first};
}

std::vector<long long> FrameResourceStoreDetail::frame_ids() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameStatus_.idvec();
}

// ---------------------------------------------------------------------------------------------
// Printing and verification

std::string FrameResourceStoreDetail::print_nolock() const {
  std::string out = frameStatus_.print();
  for (const auto& item : resourceMap_) out += item.second->print() + "--- ---\n";
  out += "###########################\n";
  return out;
}

std::string FrameResourceStoreDetail::print() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return "FrameResourceStoreDetail print\n" + print_nolock();
}

void FrameResourceStoreDetail::debug_nolock() const {
  frameStatus_.debug();
  for (const auto& item : resourceMap_) item.second->debug();

  // Every resource in a pool's maps is in the matching state of its frame in the ledger ...
  for (const auto& item : resourceMap_) {
    const unsigned long long rs = item.first;
    const FrameResourceShared& pool = *item.second;
    const std::pair<const FrameId2Resource*, ResStatusEnum> maps[] = {
        {&pool.birthMap_, FS_BIRTH}, {&pool.aliveMap_, FS_ALIVE}, {&pool.deathMap_, FS_DEATH}};
    for (const auto& map : maps) {
      for (const auto& entry : map.first->dataMap()) {
        const long long frameId = entry.first;
        auto fsrp = frameStatus_.frameStatusResource_.find(frameId);
        CHECK(fsrp != frameStatus_.frameStatusResource_.end()) << "frameId = " << frameId << "\n"
                                                               << print_nolock();
        auto sep = fsrp->second.find(map.second);
        CHECK(sep != fsrp->second.end()) << "frameId = " << frameId << "\n" << print_nolock();
        CHECK(sep->second & rs) << "frameId = " << frameId << "\n" << print_nolock();
      }
    }
  }
  // ... and every kind the ledger names is in the matching map of its pool.
  for (const auto& frame : frameStatus_.frameStatusResource_) {
    const long long frameId = frame.first;
    for (const auto& state : frame.second) {
      if (state.first == FS_NONE) continue;
      for (unsigned long long id : pResourceIdStore_->resolve(state.second)) {
        auto resp = resourceMap_.find(id);
        CHECK(resp != resourceMap_.end()) << "frameId = " << frameId << "\n" << print_nolock();
        if (state.first == FS_BIRTH) {
          CHECK(resp->second->birthMap_.find(frameId)) << "frameId = " << frameId << "\n" << print_nolock();
        } else if (state.first == FS_ALIVE) {
          CHECK(resp->second->aliveMap_.find(frameId)) << "frameId = " << frameId << "\n" << print_nolock();
        } else {
          CHECK(resp->second->deathMap_.find(frameId)) << "frameId = " << frameId << "\n" << print_nolock();
        }
      }
    }
  }
}

void FrameResourceStoreDetail::debug() const {
  std::lock_guard<std::mutex> lock(mutex_);
  debug_nolock();
}
