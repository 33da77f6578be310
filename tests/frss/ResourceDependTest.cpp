// ResourceDepend is a process-wide single instance: these tests share one, each on its own kinds
// (frame ids only rise), and the death tests construct theirs in a fresh process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <thread>
#include <vector>

#include "frss/ResourceDepend.h"
#include "testing/LogCapture.h"

namespace {

// Kinds of the sample configuration's "RESOURCE" zone "none"; bit 40 is not named there.
constexpr unsigned long long kTime = 1, kLarge = 2, kSmall = 4, kClass = 8, kPart = 16, kTrack = 32,
                             kFace = 64, kBit40 = 1ull << 40;

ResourceDepend& depend() {
  static ResourceDepend instance;
  return instance;
}

class ResourceDependTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(ResourceDependTest, WaitOnAnUnmonitoredKindWarnsUntilMonitored) {
  LogCapture log(google::GLOG_WARNING);
  const std::string unnamed = "UNKNOWN(1099511627776) have not been monitored";
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    depend().wait_until(kBit40 | kLarge, [](const long long& v) { return v >= 2; });
    done = true;
  });
  // It keeps warning about both kinds, then, once one is monitored, about the other alone.
  while (log.count("Zone: none, RESOURCE_LARGE_IMAGE," + unnamed) < 2) std::this_thread::yield();
  depend().monitor(kLarge);
  while (log.count("Zone: none, " + unnamed) < 2) std::this_thread::yield();
  depend().monitor(kBit40);
  depend().update(1, kBit40 | kLarge);
  depend().update(2, kBit40);
  EXPECT_FALSE(done) << "the large image is still at frame 1";
  depend().update(2, kLarge);
  waiter.join();
}

TEST_F(ResourceDependTest, BoundsCoverMonitoredKindsAndConsumersWaitForEveryKind) {
  depend().update(3, kTime);  // not monitored: ignored
  EXPECT_EQ(std::make_pair(depend().id_max(kTime), depend().id_min(kTime)),
            std::make_pair(LLONG_MIN, LLONG_MAX));
  depend().monitor(kSmall | kClass);
  EXPECT_EQ(depend().id_max(kSmall | kClass), -1);
  depend().update(3, kSmall);
  depend().update(7, kClass | kTime);
  depend().update(8, kClass);
  EXPECT_EQ(
      std::make_pair(depend().id_max(kSmall | kClass | kTime), depend().id_min(kSmall | kClass | kTime)),
      std::make_pair(8LL, 3LL));
  depend().wait_until(kSmall | kClass, [](const long long& v) { return v >= 3; });  // at once
  constexpr long long kFrames = 1500;
  depend().monitor(kPart | kTrack);
  std::atomic<int> violations{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < 3; ++c) {
    threads.emplace_back([&, c] {  // different strides; one waits on a single kind
      const unsigned long long kinds = c == 2 ? kTrack : kPart | kTrack;
      for (long long k = c; k < kFrames; k += 7 + c) {
        depend().wait_until(kinds, [k](const long long& v) { return v >= k; });
        violations += depend().id_min(kinds) < k;
      }
    });
  }
  for (unsigned long long kind : {kPart, kTrack})
    threads.emplace_back([kind] {
      for (long long f = 0; f < kFrames; ++f) depend().update(f, kind);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(violations, 0);
  EXPECT_EQ(depend().id_min(kPart | kTrack), kFrames - 1);
}

using ResourceDependDeathTest = ResourceDependTest;

TEST_F(ResourceDependDeathTest, SecondInstanceOrRepeatedFrameStops) {
  depend().monitor(kFace);
  depend().update(5, kFace);
  EXPECT_DEATH(depend().update(5, kFace),
               "Check failed: frameId > idInner , prev=5, curr=5, res=RESOURCE_MARKED_FACE_ROIS");
  EXPECT_DEATH(ResourceDepend second, "Check failed: \\+\\+cnt == 1 不能多次生成ResourceDepend");
}

}  // namespace
