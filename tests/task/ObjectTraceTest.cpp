// Object traces: confirmation over consecutive frames, loss, trimming to the newest entries with their
// images, the box metric, and reads while another thread appends.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "task/ObjectTrace.h"
#include "util/ProduceImage.h"

namespace {

BoundBox<float> box(float x) { return BoundBox<float>(x, 0.1f, x + 0.1f, 0.3f); }

TEST(ObjectTraceTest, ConfirmsAfterConsecutiveFramesNeverWithdrawsAndIsLostAfterTheGap) {
  ObjectTrace trace({}, box(0), 7, 10, 10, 3, 5), gap({}, box(0), 1, 10, 10, 2, 5);
  const int frames[][2] = {{11, 11}, {12, 13}, {13, 14}, {15, 15}};  // the gap before 13 restarts a run
  std::string confirmed;
  for (const auto& f : frames) {
    trace.append({}, box(0), f[0]);
    gap.append({}, box(0), f[1]);
    confirmed += std::to_string(trace.confirmed()) + std::to_string(gap.confirmed());
  }
  EXPECT_EQ(confirmed, "00001011");
  EXPECT_TRUE(ObjectTrace({}, box(0), 1, 10, 10, 0, 5).confirmed());
  EXPECT_EQ(std::vector<bool>({trace.lost(14), trace.lost(15), trace.lost(19), trace.lost(20)}),
            std::vector<bool>({true, false, false, true}));
}

TEST(ObjectTraceTest, KeepsTheNewestEntriesWithTheirImages) {
  std::shared_ptr<ImageBase> img = produce_ImageRgb(2, 2, nullptr);
  ObjectTrace trace({}, box(0), 1, 10, 2, 3, 5), none({}, box(0), 1, 10, 0, 3, 5);
  for (int f = 11; f <= 13; ++f) trace.append(f == 12 ? img : std::weak_ptr<ImageBase>(), box(f * 0.01f), f);
  auto entries = trace.getBox8ImageArray();  // oldest first
  ASSERT_EQ(trace.size(), 2);
  EXPECT_TRUE(entries[0].first.xmin() == 12 * 0.01f && entries[0].second.lock() == img &&
              entries[1].first.xmin() == 13 * 0.01f);
  EXPECT_TRUE(trace.lastBox().xmin() == 13 * 0.01f && trace.lastImage().expired());
  trace.keeplast();
  EXPECT_TRUE(trace.getBox8ImageArray().size() == 1u && trace.lastBox().xmin() == 13 * 0.01f);
  none.append(img, box(0.1f), 11);  // maxLen 0 keeps nothing
  none.keeplast();
  EXPECT_TRUE(none.size() == 0 && none.lastBox().vec(true) == std::vector<float>(4, 0.0f) &&
              none.lastImage().expired());
  EXPECT_EQ(none.meric([](const BoundBox<float>&) { return 1.0f; }, 3), 3.4028235e38f);
}

TEST(ObjectTraceTest, MericIsTheMinimumOverTheNewestBoxesNewestFirst) {
  ObjectTrace trace({}, box(0.0f), 1, 10, 10, 3, 5);
  for (float x : {0.5f, 0.3f, 0.4f}) trace.append({}, box(x), 11);
  std::vector<float> seen;
  auto x1 = [&](const BoundBox<float>& b) { return seen.push_back(b.xmin()), b.xmin(); };
  EXPECT_EQ(std::vector<float>({trace.meric(x1, 0), trace.meric(x1, -1), trace.meric(x1, 1),
                                trace.meric(x1, 2), trace.meric(x1, 100)}),
            std::vector<float>({3.4028235e38f, 3.4028235e38f, 0.4f, 0.3f, 0.0f}));
  EXPECT_EQ(seen, std::vector<float>({0.4f, 0.4f, 0.3f, 0.4f, 0.3f, 0.5f, 0.0f}));
}

TEST(ObjectTraceTest, ConcurrentAppendsAndReadsKeepEntriesPaired) {
  ObjectTrace trace({}, box(0), 1, 0, 8, 3, 5);
  std::thread writer([&] {
    for (unsigned long long f = 1; f <= 500; ++f) trace.append({}, box(0.5f), f);
  });
  for (int i = 0; i < 500; ++i) EXPECT_LE(trace.getBox8ImageArray().size(), 8u);
  writer.join();
  EXPECT_TRUE(trace.size() == 8 && trace.confirmed());
}

}  // namespace
