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

// Identifiers of the sample configuration's "RESOURCE" zone "none".
constexpr unsigned long long kFrameTime = 1, kLarge = 2, kSmall = 4, kClassRois = 8, kPartRois = 16,
                             kTrackerRois = 32, kMarkedFace = 64;

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

TEST_F(ResourceDependTest, WaitReturnsAtOnceAfterAnUpdate) {
  depend().monitor(kLarge);
  depend().monitor(kLarge);  // harmless
  EXPECT_EQ(depend().id_max(kLarge), -1);
  depend().update(0, kLarge);
  depend().wait_until(kLarge, [](const long long& v) { return v >= 0; });
  depend().update(5, kLarge);
  depend().update(6, kLarge);
  EXPECT_EQ(depend().id_max(kLarge), 6);
}

TEST_F(ResourceDependTest, IdBoundsCoverMonitoredKindsOnly) {
  EXPECT_EQ(depend().id_max(kFrameTime), LLONG_MIN);
  EXPECT_EQ(depend().id_min(kFrameTime), LLONG_MAX);
  depend().update(3, kFrameTime);  // not monitored: ignored
  EXPECT_EQ(depend().id_max(kFrameTime), LLONG_MIN);

  depend().monitor(kSmall | kClassRois);
  EXPECT_EQ(depend().id_min(kSmall | kClassRois), -1);
  depend().update(3, kSmall);
  depend().update(7, kClassRois | kFrameTime);
  EXPECT_EQ(depend().id_max(kSmall | kClassRois | kFrameTime), 7);
  EXPECT_EQ(depend().id_min(kSmall | kClassRois | kFrameTime), 3);
  EXPECT_EQ(depend().id_min(kClassRois), 7);
}

TEST_F(ResourceDependTest, WaitOnAnUnmonitoredKindWarnsUntilMonitored) {
  LogCapture log(google::GLOG_WARNING);
  const std::string warning = "Zone: none, RESOURCE_MARKED_FACE_ROIS have not been monitored";
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    depend().wait_until(kMarkedFace, [](const long long& v) { return v >= 2; });
    done = true;
  });
  while (log.count(warning) < 2) std::this_thread::yield();
  depend().monitor(kMarkedFace);
  depend().update(1, kMarkedFace);
  EXPECT_FALSE(done) << "1 does not satisfy the predicate";
  depend().update(2, kMarkedFace);
  waiter.join();
  EXPECT_TRUE(done);
}

TEST_F(ResourceDependTest, ConsumersWaitForEveryKindOfTheirUnion) {
  constexpr long long kFrames = 1500;
  const unsigned long long both = kPartRois | kTrackerRois;
  depend().monitor(both);
  std::atomic<int> violations{0};

  std::vector<std::thread> threads;
  for (int c = 0; c < 3; ++c) {
    threads.emplace_back([&, c] {
      // Consumers step through frames at different strides; one waits on a single kind.
      const unsigned long long kinds = c == 2 ? kTrackerRois : both;
      for (long long k = c; k < kFrames; k += 7 + c) {
        depend().wait_until(kinds, [k](const long long& v) { return v >= k; });
        if (depend().id_min(kinds) < k) ++violations;
      }
    });
  }
  for (unsigned long long kind : {kPartRois, kTrackerRois}) {
    threads.emplace_back([kind, &depend = depend()] {
      for (long long f = 0; f < kFrames; ++f) depend.update(f, kind);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(violations, 0);
  EXPECT_EQ(depend().id_min(both), kFrames - 1);
}

using ResourceDependDeathTest = ResourceDependTest;

TEST_F(ResourceDependDeathTest, FrameIdsMustRiseStrictly) {
  EXPECT_DEATH(
      {
        ResourceDepend d;
        d.monitor(kFrameTime);
        d.update(5, kFrameTime);
        d.update(5, kFrameTime);
      },
      "Check failed: frameId > idInner , prev=5, curr=5, res=RESOURCE_FRAME_TIME");
}

TEST_F(ResourceDependDeathTest, SecondInstanceStops) {
  EXPECT_DEATH(
      {
        ResourceDepend first;
        ResourceDepend second;
      },
      "Check failed: \\+\\+cnt == 1 不能多次生成ResourceDepend");
}

}  // namespace
