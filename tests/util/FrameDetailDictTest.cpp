// The ordered frame-detail dictionary: insertion order, eviction of the oldest beyond capacity,
// readers that wait for frames other threads put (each reader's limit is far beyond the test).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "util/ResourceImage.h"

namespace {

using namespace std::chrono_literals;

std::shared_ptr<FrameDetail> detail(long long id) { return std::make_shared<FrameDetail>(id, 1920, 1080); }

TEST(FrameDetailDictTest, KeepsInsertionOrderAndEvictsTheOldestBeyondCapacity) {
  FrameDetailDict dict(2);
  dict.put(10, detail(10));
  dict.put(11, detail(11));
  auto newer = std::make_shared<FrameDetail>(10, 640, 480);
  dict.put(10, newer);  // a known key keeps its place
  EXPECT_EQ(dict.get(10, 0ms), newer);
  dict.put(12, detail(12));
  EXPECT_EQ(dict.keys(), (std::vector<long long>{11, 12}));
  EXPECT_EQ(dict.size(), 2u);
  EXPECT_EQ(dict.get(10, 0ms), nullptr);  // evicted; a zero limit only looks
  EXPECT_EQ(dict.get(12, 0ms)->frameId, 12);
  FrameDetailDict one(0);  // capacity at least 1
  one.put(1, detail(1));
  one.put(2, detail(2));
  EXPECT_EQ(one.keys(), (std::vector<long long>{2}));
}

TEST(FrameDetailDictTest, ManyWritersAndReadersAgree) {
  FrameDetailDict dict(1000);
  constexpr int kWriters = 4;
  constexpr int kPerWriter = 200;
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) dict.put(w * kPerWriter + i, detail(w * kPerWriter + i));
    });
    threads.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) {
        auto d = dict.get(w * kPerWriter + i, 60s);
        if (d && d->frameId == w * kPerWriter + i) ++found;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(found.load(), kWriters * kPerWriter);
  EXPECT_EQ(dict.size(), static_cast<size_t>(kWriters * kPerWriter));
}

}  // namespace
