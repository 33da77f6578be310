#include <gtest/gtest.h>

#include <functional>

#include "frss/FrameResourceShared.h"
#include "testing/LogCapture.h"

namespace {

// Counts its payload resets and carries a serial number to tell resources apart.
class Counted : public ResourceBase {
 public:
  explicit Counted(int serial) : ResourceBase(4, "RES_C", "none"), serial(serial) {}
  void clean_content() override { ++cleaned; }
  int serial, cleaned = 0;
};

std::function<std::shared_ptr<ResourceBase>()> serial_producer(int* next) {
  return [next]() { return std::make_shared<Counted>((*next)++); };
}

int serial_of(const std::shared_ptr<ResourceBase>& p) { return static_cast<Counted&>(*p).serial; }

TEST(FrameResourceSharedTest, MovesResourcesThroughEveryStateAndReusesTheLastReleasedFirst) {
  LogCapture log;
  int next = 0;
  FrameResourceShared pool("P", 3, serial_producer(&next));
  EXPECT_EQ(log.count("FrameResourceShared P ctor"), 1);
  auto w = pool.tobe_written(7);
  EXPECT_EQ(serial_of(w), 2) << "the empty list is a stack";
  EXPECT_EQ(static_cast<Counted&>(*w).cleaned, 1);
  EXPECT_FALSE(pool.for_reading(7)) << "a resource being written is not readable";
  EXPECT_EQ(w->readCnt(), -1);
  EXPECT_FALSE(pool.check_recyclable(7)) << "the writer holds it";
  w.reset();
  EXPECT_TRUE(pool.check_recyclable(7));
  pool.have_written(7);
  auto r1 = pool.for_reading(7), r2 = pool.for_reading(7);
  EXPECT_EQ(r1->readCnt(), 2);
  EXPECT_FALSE(pool.check_alonealive(7));
  EXPECT_FALSE(pool.check_recyclable(7));
  pool.tobe_cleared(7);
  EXPECT_FALSE(pool.check_alonealive(7)) << "released, not published";
  EXPECT_FALSE(pool.clear(7)) << "two readers still hold it";
  EXPECT_EQ(pool.deathMap().id_access(7), 3) << "a failed clear puts back the pool's single reference";
  r1.reset();
  r2.reset();
  EXPECT_EQ(pool.size(), 1);
  EXPECT_TRUE(pool.clear(7));
  EXPECT_EQ(pool.size(), 0);
  EXPECT_EQ(serial_of(pool.tobe_written(8)), 2) << "the released resource is reused first";
  pool.debug();
}

TEST(FrameResourceSharedTest, ClearAllRecyclesExactlyTheUnheldDeadResources) {
  int next = 0;
  FrameResourceShared pool("P", 5, serial_producer(&next));
  for (long long f : {12, 3, 8, 5}) {
    pool.tobe_written(f);
    pool.have_written(f);
  }
  auto held = pool.for_reading(8);
  auto writing = pool.tobe_written(9);
  EXPECT_TRUE(pool.check_alonealive(5));
  for (long long f : {12, 8, 3}) pool.tobe_cleared(f);
  // id_exist covers every state; check_recyclable too, stopping at the first held one.
  for (long long f : {3, 5, 8, 9, 12}) EXPECT_TRUE(pool.id_exist(f)) << f;
  EXPECT_FALSE(pool.id_exist(4));
  EXPECT_EQ(pool.clear(), (std::vector<long long>{3, 12}));
  EXPECT_FALSE(pool.id_exist(3));
  EXPECT_EQ(pool.print(),
            "P's emptylist size = 2\nP's birthMap size = 1, IDs: 9(1)\nP's aliveMap size = 1, IDs: 5(0)\n"
            "P's deathMap size = 1, IDs: 8(1)\n");
  EXPECT_FALSE(pool.check_recyclable(8));
  held.reset();
  EXPECT_TRUE(pool.check_recyclable(8));
  EXPECT_EQ(pool.clear(), std::vector<long long>{8});
  EXPECT_EQ(pool.clear(), std::vector<long long>{});
  EXPECT_EQ(pool.capacity(), 5);
  pool.debug();
}

TEST(FrameResourceSharedDeathTest, MisuseStopsWithTheCheckMessages) {
  int next = 0;
  FrameResourceShared pool("P", 1, serial_producer(&next));
  auto w = pool.tobe_written(4);
  EXPECT_DEATH(pool.tobe_written(5), "Check failed: not emptyList_\\.empty\\(\\)  for P's emptylist");
  pool.have_written(4);
  EXPECT_DEATH(pool.have_written(4),
               "Check failed: it != dataMap_\\.end\\(\\) frameId\\(4\\) does not exist in P's birthMap");
  EXPECT_DEATH(pool.tobe_cleared(-2),
               "Check failed: it != dataMap_\\.end\\(\\) frameId\\(-2\\) does not exist in P's aliveMap");
  EXPECT_DEATH(pool.clear(6),
               "Check failed: it != dataMap_\\.end\\(\\) frameId\\(6\\) does not exist in P's deathMap");
  EXPECT_DEATH(
      {
        FrameResourceShared two("Q", 2, serial_producer(&next));
        two.tobe_written(4);
        two.tobe_written(4);
      },
      "Check failed: it == dataMap_\\.end\\(\\) frameId\\(4\\) already exist in Q's birthMap");
}

}  // namespace
