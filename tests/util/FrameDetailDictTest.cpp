// The ordered frame-detail dictionary: eviction of the oldest beyond capacity, readers woken by a put,
// and the time limit of a wait.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "util/ResourceImage.h"

namespace {

using namespace std::chrono_literals;

std::shared_ptr<FrameDetail> detail(long long id) { return std::make_shared<FrameDetail>(id, 1920, 1080); }

TEST(FrameDetailDictTest, EvictsTheOldestInsertedBeyondCapacity) {
  FrameDetailDict dict(2), one(0);  // a capacity below 1 is 1
  dict.put(10, detail(10));
  dict.put(11, detail(11));
  auto newer = std::make_shared<FrameDetail>(10, 640, 480);
  dict.put(10, newer);  // a known key keeps its place
  EXPECT_EQ(dict.get(10, 0ms), newer);
  dict.put(12, detail(12));
  EXPECT_EQ(dict.keys(), (std::vector<long long>{11, 12}));
  EXPECT_EQ(dict.get(10, 0ms), nullptr);
  one.put(1, detail(1));
  one.put(2, detail(2));
  EXPECT_EQ(one.keys(), (std::vector<long long>{2}));
}

TEST(FrameDetailDictTest, WaitingReadersAreWokenByThePutAndOthersGiveUpAtTheirLimit) {
  FrameDetailDict dict(4);
  std::shared_ptr<FrameDetail> got;
  std::thread reader([&] { got = dict.get(7, 600s); });  // far beyond the test: only a put ends it
  dict.put(7, detail(7));
  reader.join();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->frameId, 7);
  EXPECT_EQ(dict.get(8, 1ms), nullptr);  // nobody puts 8: the wait ends at its limit
}

}  // namespace
