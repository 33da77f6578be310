// Cost of the store's hot paths: one frame's claim-publish-fetch-drop cycle for one and four
// kinds (capacity 20, one and two threads), eviction when full, and fetch_byunion over a full
// store; beside a mutex-guarded std::map insert + erase as the baseline.
#include <benchmark/benchmark.h>
#include <glog/logging.h>

#include <map>
#include <memory>
#include <mutex>

#include "frss/FrameResourceStore.h"

namespace {

constexpr unsigned long long A = 1, B = 2, C = 4, D = 8, E = 16;
constexpr int32_t kCapacity = 20;

std::shared_ptr<FrameResourceStore> make_store() {
  // Construction logs at INFO; keep benchmark output readable.
  FLAGS_minloglevel = google::GLOG_WARNING;
  const std::unordered_map<unsigned long long, std::string> names = {
      {A, "A"}, {B, "B"}, {C, "C"}, {D, "D"}, {E, "E"}};
  auto store = produce_FrameResourceStore(names, kCapacity, 1, "bench");
  for (const auto& item : names) {
    const unsigned long long id = item.first;
    const std::string name = item.second;
    store->register_resource(
        id, [id, name]() { return std::make_shared<ResourceBase>(id, name, "none"); }, false);
  }
  return store;
}

void BM_BaselineMutexMap(benchmark::State& state) {
  static std::mutex mutex;
  static std::map<long long, std::shared_ptr<int>> map;
  static auto value = std::make_shared<int>(1);
  long long key = state.thread_index();
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      map.emplace(key, value);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      map.erase(key);
    }
    key += state.threads();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineMutexMap)->Threads(1)->Threads(2)->UseRealTime();

// tobe_written, have_written, fetch_byframe, drop of one frame; each thread its own frames.
void cycle(benchmark::State& state, FrameResourceStore& store, unsigned long long kinds) {
  long long f = state.thread_index();
  for (auto _ : state) {
    {
      // The claim is held until it is published, as the store's rules ask.
      MapResId2ResBasePtr claimed = store.tobe_written(f, kinds, false, 0);
      benchmark::DoNotOptimize(claimed);
      store.have_written(f, kinds);
    }
    {
      MapResId2ResBasePtr read = store.fetch_byframe(f, kinds);
      benchmark::DoNotOptimize(read);
    }
    store.drop(f, kinds);
    f += state.threads();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CycleOneKind(benchmark::State& state) {
  static std::shared_ptr<FrameResourceStore> store = make_store();
  cycle(state, *store, A);
}
BENCHMARK(BM_CycleOneKind)->Threads(1)->Threads(2)->UseRealTime();

void BM_CycleFourKinds(benchmark::State& state) {
  static std::shared_ptr<FrameResourceStore> store = make_store();
  cycle(state, *store, A | B | C | D);
}
BENCHMARK(BM_CycleFourKinds)->Threads(1)->Threads(2)->UseRealTime();

// A full store of published, unheld frames: every new frame evicts the oldest duplicate.
void BM_EvictWhenFull(benchmark::State& state) {
  auto store = make_store();
  long long f = 0;
  for (; f < kCapacity; ++f) {
    store->tobe_written(f, A, false, 0);
    store->have_written(f, A);
  }
  for (auto _ : state) {
    {
      MapResId2ResBasePtr claimed = store->tobe_written(f, A, false, 0);
      benchmark::DoNotOptimize(claimed);
      store->have_written(f, A);
    }
    ++f;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvictWhenFull);

// A full store with A published everywhere: bind a task reading A and writing B, then undo it.
// `oldest` makes the predicate accept only the oldest frame, so the search visits all 20.
void fetch_byunion_full(benchmark::State& state, bool oldest) {
  auto store = make_store();
  for (long long f = 0; f < kCapacity; ++f) {
    store->tobe_written(f, A, false, 0);
    store->have_written(f, A);
  }
  const long long bound = oldest ? 0 : kCapacity - 1;
  FrameResourceStore::FrameIdPredicate pred = [bound, oldest](long long f) {
    return oldest ? f <= bound : true;
  };
  for (auto _ : state) {
    CombFidMapResBaseRW rw = store->fetch_byunion(A, B, pred, 0);
    benchmark::DoNotOptimize(rw);
    store->undo_written(rw.frameId, B);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FetchByUnionNewest(benchmark::State& state) { fetch_byunion_full(state, false); }
BENCHMARK(BM_FetchByUnionNewest);

void BM_FetchByUnionOldest(benchmark::State& state) { fetch_byunion_full(state, true); }
BENCHMARK(BM_FetchByUnionOldest);

void BM_FetchByUnionCandidate(benchmark::State& state) {
  auto store = make_store();
  for (long long f = 0; f < kCapacity; ++f) {
    store->tobe_written(f, A, false, 0);
    store->have_written(f, A);
  }
  // Rejects every candidate but the oldest: 19 claims made and released on the way.
  FrameResourceStore::CandidatePredicate pred = [](const CombFidMapResBaseRW* c) { return c->frameId == 0; };
  for (auto _ : state) {
    CombFidMapResBaseRW rw = store->fetch_byunion(A, B, pred, 0);
    benchmark::DoNotOptimize(rw);
    store->undo_written(0, B);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FetchByUnionCandidate);

}  // namespace
