// Object traces: confirmation over consecutive frames, loss, trimming and the box metric.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "task/ObjectTrace.h"
#include "util/ProduceImage.h"

namespace {

BoundBox<float> box_at(float x) { return BoundBox<float>(x, 0.1f, x + 0.1f, 0.3f); }

TEST(ObjectTraceTest, ConfirmedAfterConsecutiveFramesAndStaysConfirmed) {
  ObjectTrace trace({}, box_at(0), 7, 10, 10, 3, 5);
  EXPECT_EQ(trace.id(), 7u);
  trace.append({}, box_at(0.1f), 11);
  trace.append({}, box_at(0.2f), 12);
  EXPECT_FALSE(trace.confirmed());
  trace.append({}, box_at(0.3f), 13);
  EXPECT_TRUE(trace.confirmed());
  trace.append({}, box_at(0.4f), 15);  // a gap restarts the run...
  EXPECT_TRUE(trace.confirmed());      // ...but never withdraws the confirmation
  EXPECT_EQ(trace.lastFrameId(), 15u);
}

TEST(ObjectTraceTest, GapRestartsTheRun) {
  ObjectTrace trace({}, box_at(0), 1, 10, 10, 2, 5);
  trace.append({}, box_at(0), 11);
  trace.append({}, box_at(0), 13);  // run back to 0
  trace.append({}, box_at(0), 14);  // 1
  EXPECT_FALSE(trace.confirmed());
  trace.append({}, box_at(0), 15);  // 2
  EXPECT_TRUE(trace.confirmed());
}

TEST(ObjectTraceTest, ZeroConfirmLengthConfirmsAtOnce) {
  ObjectTrace trace({}, box_at(0), 1, 10, 10, 0, 5);
  EXPECT_TRUE(trace.confirmed());
}

TEST(ObjectTraceTest, LostAfterGapOrWhenFrameIsOlder) {
  ObjectTrace trace({}, box_at(0), 1, 100, 10, 3, 5);
  EXPECT_FALSE(trace.lost(100));
  EXPECT_FALSE(trace.lost(104));
  EXPECT_TRUE(trace.lost(105));
  EXPECT_TRUE(trace.lost(99));
}

TEST(ObjectTraceTest, KeepsTheNewestMaxLenEntries) {
  std::shared_ptr<ImageBase> img3 = produce_ImageRgb(2, 2, nullptr);
  ObjectTrace trace({}, box_at(0), 1, 10, 2, 3, 5);
  trace.append({}, box_at(0.1f), 11);
  trace.append({}, box_at(0.2f), 12);
  trace.append(img3, box_at(0.3f), 13);
  EXPECT_EQ(trace.size(), 2);
  EXPECT_EQ(trace.lastBox().vec(true), box_at(0.3f).vec(true));
  EXPECT_EQ(trace.lastImage().lock(), img3);
  auto entries = trace.getBox8ImageArray();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].first.vec(true), box_at(0.2f).vec(true)) << "oldest first";
  EXPECT_TRUE(entries[0].second.expired());
}

TEST(ObjectTraceTest, KeeplastReducesToNewestEntry) {
  ObjectTrace trace({}, box_at(0), 1, 10, 5, 3, 5);
  trace.append({}, box_at(0.1f), 11);
  trace.append({}, box_at(0.2f), 12);
  trace.keeplast();
  EXPECT_EQ(trace.size(), 1);
  EXPECT_EQ(trace.lastBox().vec(true), box_at(0.2f).vec(true));
}

TEST(ObjectTraceTest, EmptyTraceGivesZeroBoxAndNoImage) {
  ObjectTrace trace({}, box_at(0), 1, 10, 0, 3, 5);
  trace.append({}, box_at(0.1f), 11);  // maxLen 0 drops everything
  EXPECT_EQ(trace.size(), 0);
  EXPECT_EQ(trace.lastBox().vec(true), (std::vector<float>{0, 0, 0, 0}));
  EXPECT_TRUE(trace.lastImage().expired());
  trace.keeplast();
  EXPECT_EQ(trace.size(), 0);
  EXPECT_EQ(trace.meric([](const BoundBox<float>&) { return 1.0f; }, 3), std::numeric_limits<float>::max());
}

TEST(ObjectTraceTest, MericIsTheMinimumOverTheNewestBoxes) {
  ObjectTrace trace({}, box_at(0.0f), 1, 10, 10, 3, 5);
  trace.append({}, box_at(0.5f), 11);
  trace.append({}, box_at(0.3f), 12);
  trace.append({}, box_at(0.4f), 13);
  auto x1 = [](const BoundBox<float>& b) { return b.xmin(); };
  EXPECT_EQ(trace.meric(x1, 0), 3.4028235e38f);
  EXPECT_EQ(trace.meric(x1, -1), 3.4028235e38f);
  EXPECT_FLOAT_EQ(trace.meric(x1, 1), 0.4f);
  EXPECT_FLOAT_EQ(trace.meric(x1, 2), 0.3f);
  EXPECT_FLOAT_EQ(trace.meric(x1, 3), 0.3f);
  EXPECT_FLOAT_EQ(trace.meric(x1, 100), 0.0f) << "all boxes when fewer than n";
  std::vector<float> seen;
  trace.meric(
      [&](const BoundBox<float>& b) {
        seen.push_back(b.xmin());
        return 0.0f;
      },
      3);
  EXPECT_EQ(seen, (std::vector<float>{box_at(0.4f).xmin(), box_at(0.3f).xmin(), box_at(0.5f).xmin()}))
      << "newest first";
}

TEST(ObjectTraceTest, ConcurrentAppendsAndReadsKeepEntriesPaired) {
  ObjectTrace trace({}, box_at(0), 1, 0, 8, 3, 5);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (unsigned long long f = 1; f <= 500; ++f) trace.append({}, box_at(0.5f), f);
    done = true;
  });
  while (!done) {
    auto entries = trace.getBox8ImageArray();
    EXPECT_LE(entries.size(), 8u);
    (void)trace.lost(3);
  }
  writer.join();
  EXPECT_EQ(trace.size(), 8);
  EXPECT_TRUE(trace.confirmed());
}

}  // namespace
