#include <gtest/gtest.h>

#include <set>

#include "frss/ResourceBase.h"
#include "frss/ResourceDef.h"

namespace {

std::shared_ptr<ResourceBase> res(unsigned long long id, const std::string& name) {
  return std::make_shared<ResourceBase>(id, name, "none");
}

TEST(ResourceBaseTest, RegistryResolvesAndPrintsOnlyRegisteredIdentifiers) {
  ResourceIdStore ids({{1, "A"}, {2, "B"}, {8, "C"}, {0, "ZERO"}}, "Z");
  EXPECT_EQ(ids.resUnion(), 11u);
  const std::vector<unsigned long long> some = ids.resolve(1 | 8 | 16 | 1024);
  EXPECT_EQ(std::set<unsigned long long>(some.begin(), some.end()), (std::set<unsigned long long>{1, 8}));
  EXPECT_EQ(ids.print(0, ","), "Zone: Z, ");
  EXPECT_EQ(ids.print(8 | 16, ","), "Zone: Z, C");
  EXPECT_TRUE(ids.print(3, "+") == "Zone: Z, A+B" || ids.print(3, "+") == "Zone: Z, B+A")
      << ids.print(3, "+");
}

TEST(ResourceBaseTest, PickAndMergeShareTheMapsResources) {
  auto small = res(4, "RESOURCE_SMALL_IMAGE");
  MapResId2ResBasePtr m = {{1, res(1, "RESOURCE_FRAME_TIME")}, {2, res(2, "B")}, {4, small}};
  EXPECT_EQ(pick(m, 5), (MapResId2ResBasePtr{{1, m.at(1)}, {4, small}})) << "shared, never copied";
  EXPECT_EQ(merge(pick(m, 1), merge(pick(m, 6 | 8), pick(m, 8))), m) << "8 picks nothing";
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
