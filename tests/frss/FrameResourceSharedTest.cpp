#include <gtest/gtest.h>

#include <functional>

#include "frss/EmptyList.h"
#include "frss/FrameId2Resource.h"
#include "frss/FrameResourceShared.h"
#include "testing/LogCapture.h"

namespace {

// Counts its payload resets and carries a serial number to tell resources apart.
class Counted : public ResourceBase {
 public:
  explicit Counted(int serial) : ResourceBase(4, "RES_C", "none"), serial(serial) {}
  void clean_content() override { ++cleaned; }
  int serial;
  int cleaned = 0;
};

std::function<std::shared_ptr<ResourceBase>()> serial_producer(int* next) {
  return [next]() { return std::make_shared<Counted>((*next)++); };
}

int serial_of(const std::shared_ptr<ResourceBase>& p) { return static_cast<Counted&>(*p).serial; }

TEST(EmptyListTest, ReusesTheMostRecentlyReleasedResourceFirst) {
  int next = 0;
  EmptyList list("L", 3, serial_producer(&next));
  EXPECT_EQ(next, 3);
  EXPECT_EQ(list.print(), "L size = 3");
  auto a = list.pop();
  auto b = list.pop();
  EXPECT_EQ(serial_of(a), 2);
  EXPECT_EQ(serial_of(b), 1);
  list.push(a);
  list.push(b);
  EXPECT_EQ(serial_of(list.pop()), 1);
  EXPECT_EQ(serial_of(list.pop()), 2);
  EXPECT_EQ(serial_of(list.pop()), 0);
  EXPECT_EQ(list.print(), "L size = 0");
}

TEST(EmptyListTest, SizeBelowOneMakesNoResourcesAndEmptyProducerThrows) {
  int next = 0;
  EXPECT_EQ(EmptyList("L", 0, serial_producer(&next)).size(), 0u);
  EXPECT_EQ(EmptyList("L", -3, serial_producer(&next)).size(), 0u);
  EXPECT_EQ(next, 0);
  std::function<std::shared_ptr<ResourceBase>()> none;
  EXPECT_THROW(EmptyList("L", 1, none), std::bad_function_call);
  EXPECT_NO_THROW(EmptyList("L", 0, none));
}

TEST(FrameId2ResourceTest, CountsHoldersWithoutCopying) {
  int next = 0;
  auto producer = serial_producer(&next);
  FrameId2Resource map("M");
  map.push(9, producer());
  map.push(3, producer());
  map.push(5, nullptr);
  EXPECT_EQ(map.print(), "M size = 3, IDs: 3(0) 5(-1) 9(0)");
  EXPECT_EQ(map.id_access(3), 1);
  EXPECT_EQ(map.id_access(5), 0);
  EXPECT_EQ(map.id_access(4), -1);
  {
    auto held = map.find(9);  // a stage holds frame 9
    EXPECT_EQ(map.id_access(9), 2);
    EXPECT_EQ(map.print(), "M size = 3, IDs: 3(0) 5(-1) 9(1)");
    EXPECT_EQ(map.accessing(2), std::vector<long long>{9});
    EXPECT_EQ(map.accessing(1), std::vector<long long>{3});
  }
  EXPECT_EQ(map.accessing(1), (std::vector<long long>{3, 9}));
  EXPECT_EQ(map.accessing(0), std::vector<long long>{5});
  EXPECT_FALSE(map.find(4));
  EXPECT_TRUE(map.id_exist(5));
  EXPECT_FALSE(map.id_exist(4));
  EXPECT_EQ(serial_of(map.pop(3)), 1);
  EXPECT_FALSE(map.id_exist(3));
  EXPECT_EQ(map.size(), 2u);
}

TEST(FrameResourceSharedTest, LogsConstructionAndStartsWithEveryResourceFree) {
  LogCapture log;
  int next = 0;
  FrameResourceShared pool("P", 2, serial_producer(&next));
  EXPECT_EQ(log.count("FrameResourceShared P ctor"), 1);
  EXPECT_EQ(pool.size(), 0);
  EXPECT_EQ(pool.capacity(), 2);
  EXPECT_EQ(pool.print(),
            "P's emptylist size = 2\n"
            "P's birthMap size = 0, IDs:\n"
            "P's aliveMap size = 0, IDs:\n"
            "P's deathMap size = 0, IDs:\n");
  pool.debug();
}

TEST(FrameResourceSharedTest, MovesAResourceThroughEveryState) {
  int next = 0;
  FrameResourceShared pool("P", 2, serial_producer(&next));
  auto w = pool.tobe_written(7);
  auto& c = static_cast<Counted&>(*w);
  EXPECT_EQ(serial_of(w), 1);
  EXPECT_EQ(c.cleaned, 1);
  EXPECT_EQ(w->readCnt(), -1);
  EXPECT_EQ(pool.size(), 1);
  EXPECT_FALSE(pool.for_reading(7)) << "a resource being written is not readable";
  EXPECT_EQ(w->readCnt(), -1);
  EXPECT_FALSE(pool.check_recyclable(7)) << "the writer holds it";
  w.reset();
  EXPECT_TRUE(pool.check_recyclable(7));

  pool.have_written(7);
  EXPECT_TRUE(pool.check_alonealive(7));
  auto r1 = pool.for_reading(7);
  auto r2 = pool.for_reading(7);
  EXPECT_EQ(r1->readCnt(), 2);
  EXPECT_FALSE(pool.check_alonealive(7));
  EXPECT_FALSE(pool.check_recyclable(7));

  pool.tobe_cleared(7);
  EXPECT_TRUE(pool.id_exist(7));
  EXPECT_FALSE(pool.clear(7)) << "two readers still hold it";
  EXPECT_EQ(pool.deathMap().id_access(7), 3) << "a failed clear puts back the pool's single reference";
  r1.reset();
  EXPECT_FALSE(pool.clear(7));
  EXPECT_EQ(pool.size(), 1);
  r2.reset();
  EXPECT_TRUE(pool.clear(7));
  EXPECT_EQ(pool.size(), 0);
  EXPECT_FALSE(pool.id_exist(7));
  pool.debug();

  auto again = pool.tobe_written(8);
  EXPECT_EQ(serial_of(again), 1) << "the released resource is reused first";
  EXPECT_EQ(c.cleaned, 2);
}

TEST(FrameResourceSharedTest, ClearAllRecyclesExactlyTheUnheldDeadResources) {
  int next = 0;
  FrameResourceShared pool("P", 4, serial_producer(&next));
  for (long long f : {12, 3, 8, 5}) {
    pool.tobe_written(f);
    pool.have_written(f);
  }
  auto held = pool.for_reading(8);
  for (long long f : {12, 8, 3}) pool.tobe_cleared(f);
  EXPECT_EQ(pool.clear(), (std::vector<long long>{3, 12}));
  EXPECT_EQ(pool.size(), 2);
  EXPECT_EQ(pool.print(),
            "P's emptylist size = 2\n"
            "P's birthMap size = 0, IDs:\n"
            "P's aliveMap size = 1, IDs: 5(0)\n"
            "P's deathMap size = 1, IDs: 8(1)\n");
  held.reset();
  EXPECT_EQ(pool.clear(), std::vector<long long>{8});
  EXPECT_EQ(pool.clear(), std::vector<long long>{});
  pool.debug();
}

TEST(FrameResourceSharedTest, CheckRecyclableLooksAtEveryState) {
  int next = 0;
  FrameResourceShared pool("P", 3, serial_producer(&next));
  EXPECT_TRUE(pool.check_recyclable(1)) << "absent everywhere";
  auto birth = pool.tobe_written(1);
  pool.tobe_written(2);
  pool.have_written(2);
  auto alive = pool.for_reading(2);
  pool.tobe_written(3);
  pool.have_written(3);
  auto dead = pool.for_reading(3);
  pool.tobe_cleared(3);
  EXPECT_FALSE(pool.check_recyclable(1));
  EXPECT_FALSE(pool.check_recyclable(2));
  EXPECT_FALSE(pool.check_recyclable(3));
  birth.reset();
  alive.reset();
  dead.reset();
  EXPECT_TRUE(pool.check_recyclable(1));
  EXPECT_TRUE(pool.check_recyclable(2));
  EXPECT_TRUE(pool.check_recyclable(3));
  EXPECT_FALSE(pool.check_alonealive(3)) << "released, not published";
}

TEST(FrameResourceSharedDeathTest, MisuseStopsWithTheCheckMessages) {
  int next = 0;
  auto producer = serial_producer(&next);
  EXPECT_DEATH(
      {
        FrameResourceShared pool("P", 0, producer);
        pool.tobe_written(1);
      },
      "Check failed: not emptyList_\\.empty\\(\\)  for P's emptylist");
  EXPECT_DEATH(
      {
        FrameResourceShared pool("P", 2, producer);
        pool.tobe_written(4);
        pool.tobe_written(4);
      },
      "Check failed: it == dataMap_\\.end\\(\\) frameId\\(4\\) already exist in P's birthMap");
  EXPECT_DEATH(
      {
        FrameResourceShared pool("P", 2, producer);
        pool.have_written(4);
      },
      "Check failed: it != dataMap_\\.end\\(\\) frameId\\(4\\) does not exist in P's birthMap");
  EXPECT_DEATH(
      {
        FrameResourceShared pool("P", 2, producer);
        pool.tobe_cleared(-2);
      },
      "Check failed: it != dataMap_\\.end\\(\\) frameId\\(-2\\) does not exist in P's aliveMap");
  EXPECT_DEATH(
      {
        FrameResourceShared pool("P", 2, producer);
        pool.clear(6);
      },
      "Check failed: it != dataMap_\\.end\\(\\) frameId\\(6\\) does not exist in P's deathMap");
}

}  // namespace
