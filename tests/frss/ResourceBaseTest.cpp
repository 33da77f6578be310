#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "frss/ResourceBase.h"
#include "frss/ResourceDef.h"

namespace {

using Ids = std::vector<unsigned long long>;

std::shared_ptr<ResourceBase> res(unsigned long long id, const std::string& name) {
  return std::make_shared<ResourceBase>(id, name, "none");
}

TEST(ResourceBaseTest, RegistryResolvesAndPrintsOnlyRegisteredIdentifiers) {
  ResourceIdStore ids({{1, "A"}, {2, "B"}, {8, "C"}, {0, "ZERO"}}, "Z");
  EXPECT_EQ(ids.resUnion(), 11u);
  Ids some = ids.resolve(1 | 8 | 16 | 1024);
  std::sort(some.begin(), some.end());
  EXPECT_EQ(some, (Ids{1, 8}));
  EXPECT_EQ(ids.resolve(0), Ids{});
  EXPECT_EQ(ids.print(0, ","), "Zone: Z, ");
  EXPECT_EQ(ids.print(8 | 16, ","), "Zone: Z, C");
  EXPECT_TRUE(ids.print(3, "+") == "Zone: Z, A+B" || ids.print(3, "+") == "Zone: Z, B+A")
      << ids.print(3, "+");
  EXPECT_EQ(ResourceIdStore::assemble({1, 4, 4, 32}), 37u);
}

TEST(ResourceBaseTest, PickMergeAndPrintMaps) {
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
  auto small = res(4, "RESOURCE_SMALL_IMAGE");
  EXPECT_EQ(small->print(), "Zone: none, resName: RESOURCE_SMALL_IMAGE, readCnt: -1");
  MapResId2ResBasePtr m = {{1, res(1, "RESOURCE_FRAME_TIME")}, {2, res(2, "B")}, {4, small}};
  EXPECT_TRUE(pick(m, 8).empty());
  EXPECT_EQ(pick(m, 7), m);
  EXPECT_EQ(pick(m, 5), (MapResId2ResBasePtr{{1, m.at(1)}, {4, small}})) << "shared, never copied";
  EXPECT_EQ(merge(pick(m, 1), pick(m, 6)), m);
  EXPECT_EQ(merge(m, {}), m);
  small->set_readCnt(0);
  CombFidMapResBaseRW rw;
  EXPECT_EQ(rw.tag, "none");
  rw.frameId = 3;
  rw.mapWrite = pick(m, 4);
  EXPECT_EQ(print_CombFidMapResBaseRW(rw),
            "FrameId: 3\nmapRead:\n\nmapWrite:\n"
            "RESOURCE_SMALL_IMAGE: Zone: none, resName: RESOURCE_SMALL_IMAGE, readCnt: 0\n\n");
  CombFidMapResBase c{"none", 12, pick(m, 1)};
  EXPECT_EQ(print_CombFidMapResBase(c),
            "FrameId: 12\nRESOURCE_FRAME_TIME: Zone: none, resName: RESOURCE_FRAME_TIME, readCnt: -1\n");
}

TEST(ResourceBaseDeathTest, OverlapsAndDuplicatesStop) {
  EXPECT_DEATH(
      ResourceIdStore({{1, "A"}, {2, "B"}, {3, "C"}}, "Z"),
      "Check failed: not\\(resUnion & resEnum\\) invalid resources, please check \\(Z\\) ([0-9]+:[ABC]){3}");
  EXPECT_DEATH(ResourceIdStore({{1, "A"}, {1 | 4, "B"}}, "Q"), "please check \\(Q\\) (1:A5:B|5:B1:A)");
  MapResId2ResBasePtr m = {{3, res(3, "AB")}};
  EXPECT_DEATH(pick(m, 1), "Check failed: common == 0 ");
  EXPECT_DEATH(merge(m, m), "Check failed: result.find\\(item.first\\) == result.end\\(\\) ");
}

}  // namespace
