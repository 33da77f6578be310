#include "base/MapGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "testing/LogCapture.h"

namespace {

TEST(MapGuardTest, PutBeyondCapacityDropsTheSmallestKeyAndLogsOnce) {
  MapGuard<unsigned long long, int> guard;  // capacity 100
  LogCapture log(google::GLOG_ERROR);
  for (unsigned long long k = 1; k <= 100; ++k) guard.put(k, static_cast<int>(k));
  EXPECT_EQ(log.count("MapGuard is full, drop a frame"), 0);
  guard.put(101, 101);
  EXPECT_EQ(log.count("MapGuard is full, drop a frame"), 1);
  EXPECT_EQ(guard.size(), 100u);
  EXPECT_EQ(guard.get(2), 2);
  EXPECT_EQ(guard.get(101), 101);
  EXPECT_FALSE(guard.erase(1)) << "key 1 was the one dropped";
}

TEST(MapGuardTest, PutReplacesAnExistingValue) {
  MapGuard<int, std::string> guard(2, "Nets");
  LogCapture log(google::GLOG_ERROR);
  guard.put(5, "a");
  guard.put(5, "b");
  guard.put(3, "c");
  EXPECT_EQ(guard.get(5), "b");
  guard.put(9, "d");
  EXPECT_EQ(log.count("Nets is full, drop a frame"), 1);
  EXPECT_TRUE(guard.erase(5));
  EXPECT_EQ(guard.size(), 1u);
}

TEST(MapGuardTest, CapacityZeroKeepsNothing) {
  MapGuard<int, int> guard(0);
  guard.put(1, 1);
  EXPECT_EQ(guard.size(), 0u);
}

TEST(MapGuardTest, GetBlocksUntilAnotherThreadPutsTheKey) {
  MapGuard<int, std::shared_ptr<int>> guard(10);
  std::atomic<int> timeouts{0};
  std::atomic<bool> waiting{false};
  std::shared_ptr<int> got;
  std::thread waiter([&] {
    waiting = true;
    got = guard.get(7, [&] { ++timeouts; });
  });
  // Let the waiter time out at least once so the hook is exercised, then put other keys first.
  while (timeouts.load() == 0) std::this_thread::yield();
  guard.put(1, std::make_shared<int>(1));
  guard.put(7, std::make_shared<int>(42));
  waiter.join();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(*got, 42);
  EXPECT_GE(timeouts.load(), 1);
}

TEST(MapGuardTest, ManyWaitersAreAllWokenByOnePut) {
  MapGuard<int, int> guard(10);
  std::atomic<int> done{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { done += guard.get(3); });
  guard.put(3, 1);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(done.load(), 4);
}

}  // namespace
