// Load test of the store: a producer publishes frames as fast as it can into a small store while
// tasks bind the newest frames (and cancel some, or die holding their claims), a reader holds fetched
// maps and drops a kind, and a borrower takes scratch resources. Built to run under ThreadSanitizer: every
// resource records its current writer, and its payload is a plain field whose accesses the store must order.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "frss/FrameResourceStore.h"
#include "task/TaskResource.h"
#include "testing/LogCapture.h"

namespace {

constexpr unsigned long long SRC = 1, OA = 2, OB = 4, SCRATCH = 32;
constexpr long long kCapacity = 6, kFrames = 2000, kLead = 4 * kCapacity;
std::atomic<int> violations{0};

// A resource that knows who writes it: a second writer, or a reader meeting a writer, is a violation.
struct Checked : ResourceBase {
  explicit Checked(unsigned long long id) : ResourceBase(id, std::to_string(id), "none") {}
  void clean_content() override { frame = -1; }
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
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);  // an unbound task names its kinds in its ERROR line
  // Tasks log from several threads at once. With TZ unset, every log line's time conversion rewrites
  // the C library's time zone name under a lock ThreadSanitizer cannot see; set, it is only read.
  setenv("TZ", "UTC", 0);
  std::unordered_map<unsigned long long, std::string> names;
  for (unsigned long long id = SRC; id <= SCRATCH; id <<= 1) names[id] = std::to_string(id);
  auto store = produce_FrameResourceStore(names, kCapacity, 1, "stress");
  for (const auto& item : names)
    store->register_resource(
        item.first, [id = item.first] { return std::make_shared<Checked>(id); }, false);
  LogCapture errors(google::GLOG_ERROR);
  std::atomic<bool> producerDone{false};
  std::atomic<long long> newestBound{-1};
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  auto stage = [&](int seed, auto body) {  // all stages start together, so that they overlap
    threads.emplace_back([&, seed, body]() mutable {
      std::mt19937 rng(seed);
      for (++arrived; arrived.load() < 7;) std::this_thread::yield();
      body(rng);
    });
  };
  auto hold = [](std::mt19937& rng) {  // keeps what it holds for a few scheduling rounds
    for (unsigned i = rng() % 20; i > 0; --i) std::this_thread::yield();
  };
  stage(1, [&](std::mt19937&) {  // producer
    for (long long f = 0; f < kFrames; ++f) {
      // Flow control, not ordering: let the tasks catch up, but not forever, as an eviction for a
      // borrow can take the only frame they could bind next.
      for (int spin = 0; f > newestBound + kLead && spin < 10000; ++spin) std::this_thread::yield();
      MapResId2ResBasePtr m = store->tobe_written(f, SRC, true, 1);
      checked(m.at(SRC)).write(1, f);
      // The claim is held until it is published: an unheld claim is a stale frame that a
      // concurrent eviction may recycle first.
      store->have_written(f, SRC);
    }
    producerDone = true;
  });
  std::mutex deadMutex;
  std::set<long long> dead;      // frames in which a task thread died holding its claim; guarded by deadMutex
  for (int t = 0; t < 4; ++t) {  // tasks; task 2 reads task 0's output, task 3 judges candidates
    stage(100 + t, [&, t](std::mt19937& rng) {
      const unsigned long long out = OA << t, in = t == 2 ? (SRC | OA) : SRC;
      long long last = -1;
      auto accept = [&](const CombFidMapResBaseRW* c) { return c->frameId > last && rng() % 3 != 0; };
      for (int misses = 0; misses < 50;) {
        if (t != 3 && rng() % 8 == 0) {  // a task thread that ends holding its claim, never publishing
          std::thread([&] {
            const long long f = store->fetch_byunion(in, out, last, 0).frameId;
            std::lock_guard<std::mutex> lock(deadMutex);
            if (f >= 0) dead.insert(f);
          }).join();
          continue;
        }
        std::optional<TaskResource> task;  // publishes when it goes, unless cancelled
        CombFidMapResBaseRW judged;
        if (t == 3)
          judged = store->fetch_byunion(in, out, accept, 0);
        else
          task.emplace(store, in, out, last, false);
        const CombFidMapResBaseRW& rw = task ? task->rw() : judged;
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
        checked(rw.mapWrite.at(out)).write(10 + t, f);
        hold(rng);
        const bool cancel = rng() % 4 == 0;  // else published: by the binding as it goes for tasks 0-2
        if (task && cancel)
          task->cancel();  // recycled at once; the fetched inputs pinned the frame till then
        if (task) continue;
        if (cancel) judged.mapWrite.clear();
        cancel ? store->undo_written(f, out) : store->have_written(f, out);
      }
    });
  }
  stage(8, [&](std::mt19937& rng) {  // borrower: scratch resources outside frames
    while (!producerDone) {
      std::shared_ptr<MapResId2ResBasePtr> b = store->borrow(SCRATCH | OB, true, 1);
      for (auto& item : *b) checked(item.second).write(30, -5);
      hold(rng);
    }
  });
  stage(9, [&](std::mt19937& rng) {  // reader and cleaner; the only one to drop OA
    while (!producerDone) {
      store->cleanup_actively((rng() % 5) * 0.5f);
      const long long newest = store->frame_range()[1];
      CombFidMapResBase found =
          store->fetch_byframe_coarsely(newest - 2 * kCapacity, newest, SRC, OA, 0, true);
      for (int pass = 0; pass < 2; ++pass, hold(rng)) {
        for (auto& item : found.mapRes) checked(item.second).check(found.frameId);
      }
      if (found.mapRes.count(OA)) store->drop(found.frameId, OA);  // the fetched map pins the frame
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(violations, 0);
  store->debug();
  // Every pool is whole: the next kCapacity frames take every resource of every kind, evicting all
  // the old frames, each frame of a dead claim with one report.
  std::vector<MapResId2ResBasePtr> held;  // the new frames are not evicted in turn
  std::set<ResourceBase*> all;
  const long long next = store->frame_range()[1] + 1;
  for (long long f = next; f < next + kCapacity; ++f) {
    held.push_back(store->tobe_written(f, 63, false, 0));
    for (auto& item : held.back()) all.insert(item.second.get());
    store->have_written(f, 63);
  }
  EXPECT_EQ(all.size(), 6u * kCapacity);
  EXPECT_EQ(errors.count("FRSS ERROR: a stale frame("), static_cast<int>(dead.size()));
  store->debug();
}

}  // namespace
