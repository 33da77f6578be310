// The ordered frame-detail dictionary: insertion order, eviction of the oldest beyond capacity,
// readers that wait for a frame with a time limit (threads ordered by latches, never by sleeps).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "util/ResourceImage.h"

namespace {

using namespace std::chrono_literals;

std::shared_ptr<FrameDetail> detail(long long id) { return std::make_shared<FrameDetail>(id, 1920, 1080); }

// A one-shot latch: count_down() once, wait() until it happened.
class Latch {
 public:
  void count_down() {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    cond_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cond_.wait(lock, [&] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  bool done_ = false;
};

TEST(FrameDetailDictTest, EvictsTheOldestBeyondCapacity) {
  FrameDetailDict dict(2);
  dict.put(10, detail(10));
  dict.put(11, detail(11));
  EXPECT_EQ(dict.keys(), (std::vector<long long>{10, 11}));
  dict.put(12, detail(12));
  EXPECT_EQ(dict.keys(), (std::vector<long long>{11, 12}));
  EXPECT_EQ(dict.size(), 2u);
  EXPECT_EQ(dict.get(10, 0ms), nullptr);
  ASSERT_NE(dict.get(12, 0ms), nullptr);
  EXPECT_EQ(dict.get(12, 0ms)->frameId, 12);
}

TEST(FrameDetailDictTest, ReplacingAKeyKeepsItsPlace) {
  FrameDetailDict dict(2);
  dict.put(5, detail(5));
  dict.put(6, detail(6));
  auto newer = std::make_shared<FrameDetail>(5, 640, 480);
  dict.put(5, newer);
  EXPECT_EQ(dict.get(5, 0ms), newer);
  dict.put(7, detail(7));  // 5 is still the oldest
  EXPECT_EQ(dict.keys(), (std::vector<long long>{6, 7}));
}

TEST(FrameDetailDictTest, CapacityIsAtLeastOne) {
  FrameDetailDict dict(0);
  EXPECT_EQ(dict.capacity(), 1u);
  dict.put(1, detail(1));
  dict.put(2, detail(2));
  EXPECT_EQ(dict.keys(), (std::vector<long long>{2}));
}

TEST(FrameDetailDictTest, MissingFrameGivesAnEmptyPointerAfterTheLimit) {
  FrameDetailDict dict(4);
  dict.put(1, detail(1));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dict.get(2, 30ms), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(FrameDetailDictTest, WaitingReaderGetsTheFrameWhenItArrives) {
  FrameDetailDict dict(4);
  Latch readerStarted;
  std::shared_ptr<FrameDetail> got;
  std::thread reader([&] {
    readerStarted.count_down();
    got = dict.get(7, 60s);  // the writer below ends the wait long before the limit
  });
  readerStarted.wait();
  dict.put(6, detail(6));  // another frame does not end the wait
  dict.put(7, detail(7));
  reader.join();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->frameId, 7);
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
