#include <gtest/gtest.h>

#include <functional>

#include "frss/FrameResourceShared.h"

namespace {

// Counts its payload resets and carries a serial number to tell resources apart.
struct Counted : ResourceBase {
  explicit Counted(int serial) : ResourceBase(4, "RES_C", "none"), serial(serial) {}
  void clean_content() override { ++cleaned; }
  int serial, cleaned = 0;
};
int serial_of(const std::shared_ptr<ResourceBase>& p) { return static_cast<Counted&>(*p).serial; }

TEST(FrameResourceSharedTest, MovesResourcesThroughEveryStateAndReusesTheLastReleasedFirst) {
  int next = 0;
  FrameResourceShared pool("P", 5, [&next] { return std::make_shared<Counted>(next++); });
  for (long long f : {12, 3, 8, 5}) {
    pool.tobe_written(f);
    pool.have_written(f);
  }
  auto writing = pool.tobe_written(9);
  EXPECT_EQ(serial_of(writing) * 10 + static_cast<Counted&>(*writing).cleaned, 1) << "a stack; reset once";
  auto r1 = pool.for_reading(8), r2 = pool.for_reading(8);
  EXPECT_EQ(r1->readCnt(), 2);
  for (long long f : {12, 8, 3}) pool.tobe_cleared(f);
  EXPECT_TRUE(pool.check_alonealive(5) && !pool.check_alonealive(8) && !pool.check_alonealive(3));
  for (long long f : {3, 5, 8, 9, 12}) EXPECT_TRUE(pool.id_exist(f)) << f;  // every state
  EXPECT_EQ(pool.clear(), (std::vector<long long>{3, 12})) << "exactly the unheld dead resources";
  EXPECT_FALSE(pool.id_exist(3) || pool.id_exist(4));
  EXPECT_FALSE(pool.clear(8)) << "two readers still hold it";
  EXPECT_EQ(pool.print(),
            "P's emptylist size = 2\nP's birthMap size = 1, IDs: 9(1)\nP's aliveMap size = 1, IDs: 5(0)\n"
            "P's deathMap size = 1, IDs: 8(2)\n")
      << "a failed clear puts back the pool's single reference";
  const std::pair<long long, bool> recyclable[] = {{5, true}, {8, false}, {9, false}, {4, true}};
  for (auto [f, expected] : recyclable) EXPECT_EQ(pool.check_recyclable(f), expected) << f;
  r1.reset();
  writing.reset();
  EXPECT_TRUE(pool.check_recyclable(9) && !pool.check_recyclable(8));
  r2.reset();
  EXPECT_TRUE(pool.clear(8) && pool.clear().empty());
  EXPECT_EQ(pool.size(), 2);
  auto again = pool.tobe_written(10);
  EXPECT_EQ(serial_of(again) * 10 + again->readCnt(), 2 * 10 - 1) << "8's, the last released, readCnt -1";
  pool.debug();
}

TEST(FrameResourceSharedDeathTest, MisuseStopsWithTheCheckMessages) {
  FrameResourceShared pool("P", 2, [] { return std::make_shared<Counted>(0); });
  const std::string absent = "Check failed: it != dataMap_\\.end\\(\\) frameId\\(";
  EXPECT_DEATH(pool.tobe_cleared(-2), absent + "-2\\) does not exist in P's aliveMap");
  EXPECT_DEATH(pool.clear(6), absent + "6\\) does not exist in P's deathMap");
  EXPECT_DEATH(pool.have_written(4), absent + "4\\) does not exist in P's birthMap");
  pool.tobe_written(4);
  EXPECT_DEATH(pool.tobe_written(4),
               "Check failed: it == dataMap_\\.end\\(\\) frameId\\(4\\) already exist in P's birthMap");
  pool.tobe_written(5);
  EXPECT_DEATH(pool.tobe_written(6), "Check failed: not emptyList_\\.empty\\(\\)  for P's emptylist");
}

}  // namespace
