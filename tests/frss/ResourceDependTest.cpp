// ResourceDepend is a process-wide single instance: these tests share one, each on its own kinds
// (frame ids only rise), and the death tests construct theirs in a fresh process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

#include "frss/ResourceDepend.h"
#include "testing/LogCapture.h"

namespace {

// Identifiers of the sample configuration's "RESOURCE" zone "none"; bit 40 is not named there.
constexpr unsigned long long kFrameTime = 1, kLarge = 2, kSmall = 4, kClassRois = 8, kPartRois = 16,
                             kTrackerRois = 32, kUnnamed = 1ull << 40;

class ResourceDependTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
  static ResourceDepend& depend() {
    static ResourceDepend instance;
    return instance;
  }
};

TEST_F(ResourceDependTest, IdBoundsCoverMonitoredKindsOnly) {
  EXPECT_EQ(depend().id_max(kFrameTime), LLONG_MIN);
  EXPECT_EQ(depend().id_min(kFrameTime), LLONG_MAX);
  depend().update(3, kFrameTime);  // not monitored: ignored
  depend().monitor(kSmall | kClassRois);
  depend().monitor(kSmall);  // harmless
  EXPECT_EQ(depend().id_max(kSmall | kClassRois), -1);
  depend().update(3, kSmall);
  depend().update(7, kClassRois | kFrameTime);
  depend().update(8, kClassRois);
  EXPECT_EQ(depend().id_max(kSmall | kClassRois | kFrameTime), 8);
  EXPECT_EQ(depend().id_min(kSmall | kClassRois | kFrameTime), 3);
  EXPECT_EQ(depend().id_max(kFrameTime), LLONG_MIN);
  depend().wait_until(kSmall | kClassRois, [](const long long& v) { return v >= 3; });  // at once
}

TEST_F(ResourceDependTest, WaitOnAnUnmonitoredKindWarnsUntilMonitored) {
  LogCapture log(google::GLOG_WARNING);
  const std::string unnamed = "UNKNOWN(1099511627776) have not been monitored";
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    depend().wait_until(kUnnamed | kLarge, [](const long long& v) { return v >= 2; });
    done = true;
  });
  // It keeps warning about both kinds, then, once one is monitored, about the other alone.
  while (log.count("Zone: none, RESOURCE_LARGE_IMAGE," + unnamed) < 2) std::this_thread::yield();
  depend().monitor(kLarge);
  while (log.count("Zone: none, " + unnamed) < 2) std::this_thread::yield();
  depend().monitor(kUnnamed);
  depend().update(1, kUnnamed | kLarge);
  EXPECT_FALSE(done) << "1 does not satisfy the predicate";
  depend().update(2, kUnnamed);
  EXPECT_FALSE(done) << "the large image is still at frame 1";
  depend().update(2, kLarge);
  waiter.join();
  EXPECT_EQ(depend().id_min(kUnnamed | kLarge), 2);
}

TEST_F(ResourceDependTest, ConsumersWaitForEveryKindOfTheirUnion) {
  constexpr long long kFrames = 1500;
  const unsigned long long both = kPartRois | kTrackerRois;
  depend().monitor(both);
  std::atomic<int> violations{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < 3; ++c) {
    threads.emplace_back([&, c] {  // different strides; one waits on a single kind
      const unsigned long long kinds = c == 2 ? kTrackerRois : both;
      for (long long k = c; k < kFrames; k += 7 + c) {
        depend().wait_until(kinds, [k](const long long& v) { return v >= k; });
        violations += depend().id_min(kinds) < k;
      }
    });
  }
  for (unsigned long long kind : {kPartRois, kTrackerRois}) {
    threads.emplace_back([kind] {
      for (long long f = 0; f < kFrames; ++f) depend().update(f, kind);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(violations, 0);
  EXPECT_EQ(depend().id_min(both), kFrames - 1);
}

using ResourceDependDeathTest = ResourceDependTest;

TEST_F(ResourceDependDeathTest, SecondInstanceOrRepeatedFrameStops) {
  EXPECT_DEATH(
      {
        ResourceDepend d;
        d.monitor(kFrameTime);
        d.update(5, kFrameTime);
        d.update(6, kFrameTime);
        d.update(6, kFrameTime);
      },
      "Check failed: frameId > idInner , prev=6, curr=6, res=RESOURCE_FRAME_TIME");
  EXPECT_DEATH(
      {
        ResourceDepend first;
        ResourceDepend second;
      },
      "Check failed: \\+\\+cnt == 1 不能多次生成ResourceDepend");
}

}  // namespace
