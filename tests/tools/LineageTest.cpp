// The pipeline's per-frame record: why each frame never reached the output, sequence gaps, and the
// nearest-rank percentiles of its report.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Lineage.h"

TEST(LineageTest, ClassifiesEveryFrameAndCountsSequenceGaps) {
  Lineage l;
  for (long long id : {0, 1, 2, 3, 4, 5}) l.arrived(id, id < 3 ? id : id + 1, 1.0);  // seq 3 never came
  for (auto stage : {Lineage::kDetect, Lineage::kTrack, Lineage::kOutput}) l.stamp(0, stage);
  l.stamp(4, Lineage::kOutput);
  l.skipped(0, 3);            // 1 and 2: a stage took 3 first
  l.left_store(1);            // already late
  l.left_store(3);            // never reached: evicted
  l.left_store(0);            // processed
  l.left_store(42);           // unknown
  EXPECT_FALSE(l.settled());  // frame 5 is still on its way
  EXPECT_EQ(l.seq_gaps(), 1);
  const auto j = nlohmann::json::parse(l.json({{"lost", 7}}, "cfg"));
  EXPECT_EQ(j["received"], 6);
  EXPECT_EQ(j["processed"], 2);
  EXPECT_EQ(j["dropped"]["late"], 2);
  EXPECT_EQ(j["dropped"]["evicted"], 1);
  EXPECT_EQ(j["dropped"]["lost"], 7);
  EXPECT_EQ(j["unfinished"], 1);
  EXPECT_EQ(j["frames"][3]["dropped"], "evicted");
  EXPECT_EQ(j["frames"][5]["seq"], 6);
  EXPECT_EQ(j["latencyMs"]["arrival->output"]["count"], 2);  // frames 0 and 4
  EXPECT_EQ(j["latencyMs"]["detect->track"]["count"], 1);
  l.stamp(5, Lineage::kOutput);
  EXPECT_TRUE(l.settled());
}

TEST(LineageTest, ReportsNearestRankPercentiles) {
  Lineage l;
  l.step_ms("one", 7);
  for (int v = 100; v >= 1; --v) l.step_ms("hundred", v);
  const auto j = nlohmann::json::parse(l.json({}, "cfg"))["latencyMs"];
  EXPECT_EQ(j["step one"], nlohmann::json({{"p50", 7.0}, {"p99", 7.0}, {"max", 7.0}, {"count", 1}}));
  EXPECT_EQ(j["step hundred"],
            nlohmann::json({{"p50", 50.0}, {"p99", 99.0}, {"max", 100.0}, {"count", 100}}));
}
