#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/MapGuard.h"
#include "testing/LogCapture.h"

namespace {

TEST(MapGuardTest, PutBeyondCapacityDropsTheSmallestKeyAndLogsOnce) {
  MapGuard<unsigned long long, int> guard;  // capacity 100
  LogCapture log(google::GLOG_ERROR);
  for (unsigned long long k = 101; k >= 1; --k) guard.put(k, static_cast<int>(k));
  guard.put(50, -50);  // replaces: nothing dropped
  EXPECT_EQ(log.count("MapGuard is full, drop a frame"), 1);
  EXPECT_EQ(guard.get(50), -50);
  EXPECT_FALSE(guard.erase(1)) << "key 1, the smallest, was dropped although put last";
}

TEST(MapGuardTest, GetBlocksUntilAnotherThreadPutsTheKey) {
  MapGuard<int, int> guard(10, "Nets");
  std::atomic<int> timeouts{0}, sum{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { sum += guard.get(7, [&] { ++timeouts; }); });
  while (timeouts.load() < 3) std::this_thread::yield();  // the waits time out and go on
  guard.put(1, 1);
  guard.put(7, 42);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(sum, 3 * 42);
}

}  // namespace
