// Load test of the store: a producer publishes frames as fast as it can into a small store while
// tasks bind the newest frames, readers hold fetched maps, a borrower takes scratch resources and a
// cleaner drops frames. Built to run under ThreadSanitizer: every resource records its current
// writer, and its payload is a plain field whose accesses the store must order.
#include <glog/logging.h>
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
constexpr unsigned long long ALL = SRC | OA | OB | OC | OD | SCRATCH;
constexpr int32_t kCapacity = 6;
// The producer publishes kFrames frames (or stops at the time limit); the other stages run
// until it is done.
constexpr long long kFrames = 2000;
constexpr long long kLead = 4 * kCapacity;
constexpr auto kTimeLimit = std::chrono::seconds(20);

std::atomic<int> violations{0};
// Frames whose source resource went back to its pool and was handed out again.
std::vector<std::atomic<bool>> recycled(kFrames);

// A resource that knows who writes it. Handing it to a second writer, or reading it while someone
// writes it, counts as a violation.
class Checked : public ResourceBase {
 public:
  Checked(unsigned long long id, const std::string& name) : ResourceBase(id, name, "none") {}
  void clean_content() override {
    if (resId() == SRC && frame >= 0 && frame < kFrames) recycled[frame] = true;
    frame = -1;
  }
  void write(int me, long long f) {
    int expected = 0;
    if (!writer.compare_exchange_strong(expected, me)) ++violations;
    frame = f;
    expected = me;
    if (!writer.compare_exchange_strong(expected, 0)) ++violations;
  }
  // A published resource has no writer and carries its frame.
  void check(long long f) const {
    if (writer.load() != 0 || frame != f) ++violations;
  }

  std::atomic<int> writer{0};
  long long frame = -1;  // plain on purpose: the store's mutex must order writer and readers
};

Checked& checked(const std::shared_ptr<ResourceBase>& p) { return static_cast<Checked&>(*p); }

// Start line for all threads, so that they really overlap.
class Latch {
 public:
  explicit Latch(int n) : left_(n) {}
  void arrive_and_wait() {
    --left_;
    while (left_.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> left_;
};

void hold_briefly(std::mt19937& rng) {
  for (int i = std::uniform_int_distribution<int>(0, 20)(rng); i > 0; --i) std::this_thread::yield();
}

TEST(FrameResourceStoreStressTest, ManyStagesNeverShareAWriterOrLoseAResource) {
  const std::unordered_map<unsigned long long, std::string> names = {
      {SRC, "SRC"}, {OA, "OA"}, {OB, "OB"}, {OC, "OC"}, {OD, "OD"}, {SCRATCH, "SCRATCH"}};
  auto store = produce_FrameResourceStore(names, kCapacity, 1, "stress");
  for (const auto& item : names) {
    const unsigned long long id = item.first;
    const std::string name = item.second;
    store->register_resource(
        id, [id, name]() { return std::make_shared<Checked>(id, name); }, false);
  }
  LogCapture errors(google::GLOG_ERROR);

  std::vector<std::atomic<bool>> published(kFrames), read(kFrames);
  std::atomic<bool> producerDone{false};
  std::atomic<long long> binds{0}, reads{0}, borrows{0}, drops{0};
  std::atomic<long long> newestBound{-1};  // newest frame any task has bound
  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  auto in_time = [&] { return std::chrono::steady_clock::now() < deadline; };
  const int kThreads = 8;
  Latch start(kThreads);
  std::vector<std::thread> threads;

  // Producer: claims and publishes frames 0, 1, 2, ... as fast as the store lets it.
  threads.emplace_back([&] {
    start.arrive_and_wait();
    for (long long f = 0; f < kFrames && in_time(); ++f) {
      // Flow control, not ordering: stay at most kLead frames ahead of the tasks, so that they
      // bind frames while the producer keeps evicting (on two cores it would otherwise run alone).
      while (f > newestBound + kLead && in_time()) std::this_thread::yield();
      MapResId2ResBasePtr m = store->tobe_written(f, SRC, true, 1);
      checked(m.at(SRC)).write(1, f);
      m.clear();
      store->have_written(f, SRC);
      published[f] = true;
    }
    producerDone = true;
  });

  // Tasks: bind the newest frame past the last one with the inputs published and the output absent.
  const unsigned long long outputs[4] = {OA, OB, OC, OD};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(100 + t);
      const int me = 10 + t;
      const unsigned long long out = outputs[t];
      const unsigned long long in = t == 2 ? (SRC | OA) : SRC;  // task 2 reads task 0's output
      long long last = -1;
      start.arrive_and_wait();
      for (int misses = 0; misses < 50;) {
        CombFidMapResBaseRW rw;
        if (t == 3) {
          rw = store->fetch_byunion(
              in, out,
              [&](const CombFidMapResBaseRW* c) {
                return c->frameId > last && std::uniform_int_distribution<int>(0, 2)(rng) != 0;
              },
              0);
        } else {
          rw = store->fetch_byunion(in, out, last, 0);
        }
        if (rw.frameId < 0) {
          if (producerDone) ++misses;
          std::this_thread::yield();
          continue;
        }
        const long long f = rw.frameId;
        ++binds;
        for (long long seen = newestBound; f > seen && !newestBound.compare_exchange_weak(seen, f);) {
        }
        if (f < last && t != 3) ++violations;  // the bound overload only goes forward
        last = std::max(last, f);
        for (auto& item : rw.mapRead) checked(item.second).check(f);
        read[f] = true;
        checked(rw.mapWrite.at(out)).write(me, f);
        hold_briefly(rng);
        // A claim dropped before it is published or undone leaves the frame evictable (a stale
        // frame), so the binding keeps its maps around these calls. For the undo only the claim
        // goes first, to be recycled at once; the fetched inputs still pin the frame.
        if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) {
          rw.mapWrite.clear();
          store->undo_written(f, out);
        } else {
          store->have_written(f, out);
        }
        rw = CombFidMapResBaseRW();
      }
    });
  }

  // Reader: holds the newest frame's resources for a random short time.
  threads.emplace_back([&] {
    std::mt19937 rng(7);
    start.arrive_and_wait();
    while (!producerDone) {
      // The newest frame with the source published, OA optional.
      const long long newest = store->frame_range()[1];
      CombFidMapResBase found =
          store->fetch_byframe_coarsely(newest - 2 * kCapacity, newest, SRC, OA, 0, true);
      const long long f = found.frameId;
      if (f < 0) continue;
      MapResId2ResBasePtr m = store->fetch_byframe(f, SRC | OA);
      found = CombFidMapResBase();
      if (m.at(SRC)) {
        checked(m.at(SRC)).check(f);
        read[f] = true;
        ++reads;
      }
      if (m.at(OA)) checked(m.at(OA)).check(f);
      hold_briefly(rng);
      if (m.at(SRC)) checked(m.at(SRC)).check(f);
    }
  });

  // Borrower: scratch resources outside every frame.
  threads.emplace_back([&] {
    std::mt19937 rng(8);
    start.arrive_and_wait();
    while (!producerDone) {
      std::shared_ptr<MapResId2ResBasePtr> b = store->borrow(SCRATCH | OB, true, 1);
      for (auto& item : *b) checked(item.second).write(30, -5);
      ++borrows;
      hold_briefly(rng);
    }
  });

  // Cleaner: fill-level clean-up and explicit drops of task 0's output.
  threads.emplace_back([&] {
    std::mt19937 rng(9);
    const float ratios[] = {0.0f, 0.5f, 1.0f, 2.0f};
    start.arrive_and_wait();
    while (!producerDone) {
      store->cleanup_actively(ratios[std::uniform_int_distribution<int>(0, 3)(rng)]);
      const long long newest = store->frame_range()[1];
      // Holding the fetched resource keeps the frame from being evicted, and only this thread
      // drops OA, so it is still published when drop runs.
      CombFidMapResBase found = store->fetch_byframe_coarsely(newest - kLead, newest, OA, 0, 0, true);
      const long long f = found.frameId;
      MapResId2ResBasePtr m = found.mapRes;
      if (f >= 0) {
        store->drop(f, OA);
        ++drops;
      }
    }
  });
  ASSERT_EQ(static_cast<int>(threads.size()), kThreads);
  for (auto& t : threads) t.join();

  EXPECT_EQ(violations, 0);
  EXPECT_EQ(errors.count("FRSS ERROR: a stale frame("), 0) << "every claim was published or undone";
  store->debug();
  long long count = 0, readCount = 0;
  for (long long f = 0; f < kFrames; ++f) {
    if (!published[f]) continue;
    ++count;
    readCount += read[f];
    const bool present = store->fetch_byframe(f, SRC).at(SRC) != nullptr;
    EXPECT_FALSE(recycled[f] && present) << "frame " << f << " is both handed out again and published";
  }
  EXPECT_GT(count, kCapacity);
  EXPECT_GT(readCount, 0);

  // Claiming capacity fresh frames evicts every old one (nobody holds anything now) and hands out
  // every resource once more, so each source resource reports its last frame.
  std::vector<MapResId2ResBasePtr> sweep;
  for (long long f = kFrames; f < kFrames + kCapacity; ++f)
    sweep.push_back(store->tobe_written(f, ALL, false, 0));
  EXPECT_EQ(store->frame_range(), (std::vector<long long>{kFrames, kFrames + kCapacity - 1}));
  for (long long f = 0; f < kFrames; ++f) {
    if (!published[f]) continue;
    EXPECT_TRUE(read[f] || recycled[f]) << "frame " << f << " was neither read nor evicted";
  }
  // Undoing the fresh frames must leave every pool full.
  sweep.clear();
  for (long long f = kFrames; f < kFrames + kCapacity; ++f) store->undo_written(f, ALL);
  EXPECT_TRUE(store->frame_ids().empty());
  store->debug();
  LOG(INFO) << "published " << count << " frames, " << readCount << " read; " << binds << " binds, " << reads
            << " reads, " << borrows << " borrows, " << drops << " drops";
  const std::string printed = store->print();
  for (const auto& item : names) {
    const std::string pool = "Zone: stress, " + item.second;
    EXPECT_NE(printed.find(pool + "'s emptylist size = " + std::to_string(kCapacity) + "\n"),
              std::string::npos)
        << printed;
  }
}

}  // namespace
