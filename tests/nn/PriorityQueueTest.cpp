// Tests of the compute-core admission queue: priority order of waiters, ties, overtaking and mutual
// exclusion under load. Threads are ordered by the queue's own waiter counts, never by sleeping.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "nn/PriorityQueue.h"

namespace {

// Records the priority of every admitted request, which releases at once, and whether two overlapped.
struct Recorder {
  std::mutex mutex;  // guards order
  std::vector<int> order;
  std::atomic<int> holders{0};
  std::atomic<bool> overlap{false};

  void admit(const std::shared_ptr<PriorityQueue>& q, int priority) {
    auto ticket = q->request(priority);
    if (++holders > 1) overlap = true;
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(priority);
    --holders;
  }
};

TEST(PriorityQueueTest, HeldCoreAdmitsWaitersBySmallestPriorityThenTies) {
  const struct {
    const char* name;
    std::vector<int> arrivals;  // each arrival waits before the next one is started
    std::vector<int> admitted;
  } rows[] = {
      {"3, 1, 2", {3, 1, 2}, {1, 2, 3}},
      {"equal priorities", {5, 5}, {5, 5}},
      {"late smaller priority overtakes", {4, 4, 2, 9}, {2, 4, 4, 9}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto q = std::make_shared<PriorityQueue>(true);
    Recorder rec;
    auto held = q->request(0);
    std::vector<std::thread> threads;
    std::map<int, int> arrived;
    for (int p : row.arrivals) {
      threads.emplace_back([&rec, q, p] { rec.admit(q, p); });
      for (++arrived[p]; q->waiting(p) != arrived[p];) std::this_thread::yield();
    }
    held.reset();
    for (auto& t : threads) t.join();
    EXPECT_EQ(rec.order, row.admitted);
    EXPECT_FALSE(rec.overlap);
    for (int p : row.arrivals) EXPECT_EQ(q->waiting(p), 0);
  }
}

TEST(PriorityQueueTest, OneHolderAtATimeUnderLoad) {
  auto q = std::make_shared<PriorityQueue>(true);
  Recorder rec;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&rec, q, t] {
      for (int i = 0; i < 300; ++i) rec.admit(q, (t * 7 + i) % 4);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(rec.order.size(), 1800u);
  EXPECT_FALSE(rec.overlap);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(q->waiting(p), 0);
}

}  // namespace
