// Load test of the store: a producer publishes frames as fast as it can into a small store while
// tasks bind the newest frames, a reader holds fetched maps, a borrower takes scratch resources and
// a cleaner drops frames. Built to run under ThreadSanitizer: every resource records its current
// writer, and its payload is a plain field whose accesses the store must order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "frss/FrameResourceStore.h"
#include "testing/LogCapture.h"

namespace {

constexpr unsigned long long SRC = 1, OA = 2, OB = 4, OC = 8, OD = 16, SCRATCH = 32;
constexpr long long kCapacity = 6, kFrames = 2000, kLead = 4 * kCapacity;
std::atomic<int> violations{0};
std::vector<std::atomic<bool>> recycled(kFrames);  // the frame's source resource was handed out again

// A resource that knows who writes it: a second writer, or a reader meeting a writer, is a violation.
struct Checked : ResourceBase {
  Checked(unsigned long long id, const std::string& name) : ResourceBase(id, name, "none") {}
  void clean_content() override {
    if (resId() == SRC && frame >= 0 && frame < kFrames) recycled[frame] = true;
    frame = -1;
  }
  void write(int me, long long f) {
    int expected = 0;
    violations += !writer.compare_exchange_strong(expected, me);
    frame = f;
    violations += !writer.compare_exchange_strong(me, 0);
  }
  void check(long long f) const { violations += writer.load() != 0 || frame != f; }
  std::atomic<int> writer{0};
  long long frame = -1;  // plain on purpose: the store's mutex must order writer and readers
};
Checked& checked(const std::shared_ptr<ResourceBase>& p) { return static_cast<Checked&>(*p); }

TEST(FrameResourceStoreStressTest, ManyStagesNeverShareAWriterOrLoseAResource) {
  std::unordered_map<unsigned long long, std::string> names = {
      {SRC, "SRC"}, {OA, "OA"}, {OB, "OB"}, {OC, "OC"}, {OD, "OD"}, {SCRATCH, "SCRATCH"}};
  auto store = produce_FrameResourceStore(names, kCapacity, 1, "stress");
  for (const auto& [id, name] : names) {
    store->register_resource(
        id, [id = id, name = name] { return std::make_shared<Checked>(id, name); }, false);
  }
  LogCapture errors(google::GLOG_ERROR);
  std::vector<std::atomic<bool>> published(kFrames), read(kFrames);
  std::atomic<bool> producerDone{false};
  std::atomic<long long> newestBound{-1};
  std::atomic<int> arrived{0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto stage = [&](int seed, auto body) {  // all stages start together, so that they overlap
    return std::thread([&, seed, body]() mutable {
      std::mt19937 rng(seed);
      for (++arrived; arrived.load() < 8;) std::this_thread::yield();
      body(rng);
    });
  };
  auto hold_briefly = [](std::mt19937& rng) {
    for (int i = std::uniform_int_distribution<int>(0, 20)(rng); i > 0; --i) std::this_thread::yield();
  };
  std::vector<std::thread> threads;
  threads.push_back(stage(1, [&](std::mt19937&) {  // producer
    for (long long f = 0; f < kFrames && std::chrono::steady_clock::now() < deadline; ++f) {
      // Flow control, not ordering: stay at most kLead frames ahead of the tasks.
      while (f > newestBound + kLead && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
      MapResId2ResBasePtr m = store->tobe_written(f, SRC, true, 1);
      checked(m.at(SRC)).write(1, f);
      // The claim is held until it is published: an unheld claim is a stale frame that a
      // concurrent eviction may recycle first.
      store->have_written(f, SRC);
      published[f] = true;
    }
    producerDone = true;
  }));
  for (int t = 0; t < 4; ++t) {  // tasks; task 2 reads task 0's output, task 3 judges candidates
    threads.push_back(stage(100 + t, [&, t](std::mt19937& rng) {
      const unsigned long long out = OA << t, in = t == 2 ? (SRC | OA) : SRC;
      long long last = -1;
      auto accept = [&](const CombFidMapResBaseRW* c) {
        return c->frameId > last && std::uniform_int_distribution<int>(0, 2)(rng) != 0;
      };
      for (int misses = 0; misses < 50;) {
        CombFidMapResBaseRW rw =
            t == 3 ? store->fetch_byunion(in, out, accept, 0) : store->fetch_byunion(in, out, last, 0);
        const long long f = rw.frameId;
        if (f < 0) {
          misses += producerDone;
          std::this_thread::yield();
          continue;
        }
        for (long long seen = newestBound; f > seen && !newestBound.compare_exchange_weak(seen, f);) {
        }
        violations += f <= last && t != 3;  // the bound overload only goes forward
        last = std::max(last, f);
        for (auto& item : rw.mapRead) checked(item.second).check(f);
        read[f] = true;
        checked(rw.mapWrite.at(out)).write(10 + t, f);
        hold_briefly(rng);
        if (std::uniform_int_distribution<int>(0, 3)(rng) != 0) {
          store->have_written(f, out);
          continue;
        }
        rw.mapWrite.clear();  // to be recycled at once; the fetched inputs still pin the frame
        store->undo_written(f, out);
      }
    }));
  }
  threads.push_back(stage(7, [&](std::mt19937& rng) {  // reader: holds the newest frame for a while
    while (!producerDone) {
      const long long newest = store->frame_range()[1];
      const long long f =
          store->fetch_byframe_coarsely(newest - 2 * kCapacity, newest, SRC, OA, 0, true).frameId;
      MapResId2ResBasePtr m = store->fetch_byframe(f, SRC | OA);
      for (int pass = 0; pass < 2 && f >= 0; ++pass, hold_briefly(rng)) {
        for (auto& item : m) {
          if (item.second) checked(item.second).check(f);
        }
      }
      if (f >= 0 && m.at(SRC)) read[f] = true;
    }
  }));
  threads.push_back(stage(8, [&](std::mt19937& rng) {  // borrower: scratch resources outside frames
    while (!producerDone) {
      std::shared_ptr<MapResId2ResBasePtr> b = store->borrow(SCRATCH | OB, true, 1);
      for (auto& item : *b) checked(item.second).write(30, -5);
      hold_briefly(rng);
    }
  }));
  threads.push_back(stage(9, [&](std::mt19937& rng) {  // cleaner: clean-up, and the only one to drop OA
    while (!producerDone) {
      store->cleanup_actively(std::uniform_int_distribution<int>(0, 4)(rng) * 0.5f);
      const long long newest = store->frame_range()[1];
      CombFidMapResBase found = store->fetch_byframe_coarsely(newest - kLead, newest, OA, 0, 0, true);
      if (found.frameId >= 0) store->drop(found.frameId, OA);  // the fetched map pins the frame
    }
  }));
  for (auto& t : threads) t.join();

  EXPECT_EQ(violations, 0);
  EXPECT_EQ(errors.count("FRSS ERROR: a stale frame("), 0) << "every claim was published or undone";
  store->debug();
  long long count = 0;
  for (long long f = 0; f < kFrames; ++f) {
    count += published[f];
    EXPECT_FALSE(recycled[f] && store->fetch_byframe(f, SRC).at(SRC))
        << "frame " << f << " recycled yet published";
  }
  EXPECT_GT(count, kCapacity);
  // Claiming capacity fresh frames evicts every old one (nobody holds anything now), so every
  // published frame was either read or recycled; undoing them leaves an empty store.
  std::vector<MapResId2ResBasePtr> sweep;
  for (long long f = kFrames; f < kFrames + kCapacity; ++f)
    sweep.push_back(store->tobe_written(f, ~0ull, false, 0));
  for (long long f = 0; f < kFrames; ++f)
    EXPECT_TRUE(!published[f] || read[f] || recycled[f]) << "frame " << f;
  sweep.clear();  // alone now: the claims can go before their undo
  for (long long f = kFrames; f < kFrames + kCapacity; ++f) store->undo_written(f, ~0ull);
  EXPECT_TRUE(store->frame_ids().empty());
  store->debug();
}

}  // namespace
