#include "frss/ResourceBase.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "frss/ResourceDef.h"

namespace {

using Ids = std::vector<unsigned long long>;

std::shared_ptr<ResourceBase> res(unsigned long long id, const std::string& name) {
  return std::make_shared<ResourceBase>(id, name, "none");
}

Ids sorted(Ids v) {
  std::sort(v.begin(), v.end());
  return v;
}

class ResourceBaseTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1); }
};

TEST_F(ResourceBaseTest, FreshResourcePrintsReadCountMinusOne) {
  ResourceBase r(4, "RESOURCE_SMALL_IMAGE", "none");
  EXPECT_EQ(r.print(), "Zone: none, resName: RESOURCE_SMALL_IMAGE, readCnt: -1");
  r.set_readCnt(0);
  EXPECT_EQ(r.print(), "Zone: none, resName: RESOURCE_SMALL_IMAGE, readCnt: 0");
  EXPECT_EQ(r.resId(), 4u);
  EXPECT_EQ(r.resName(), "RESOURCE_SMALL_IMAGE");
}

TEST_F(ResourceBaseTest, RegistryResolvesOnlyRegisteredIdentifiers) {
  ResourceIdStore ids({{1, "A"}, {2, "B"}, {8, "C"}}, "Z");
  EXPECT_EQ(ids.resUnion(), 11u);
  EXPECT_EQ(ids.resolve(0), Ids{});
  EXPECT_EQ(sorted(ids.resolve(1 | 8 | 16 | 1024)), (Ids{1, 8}));
  EXPECT_EQ(sorted(ids.resolve(~0ull)), (Ids{1, 2, 8}));
  EXPECT_EQ(ids.print(0, ","), "Zone: Z, ");
  EXPECT_EQ(ids.print(8, ","), "Zone: Z, C");
  std::string two = ids.print(3, ",");
  EXPECT_TRUE(two == "Zone: Z, A,B" || two == "Zone: Z, B,A") << two;
  EXPECT_EQ(ResourceIdStore::assemble({}), 0u);
  EXPECT_EQ(ResourceIdStore::assemble({1, 4, 4, 32}), 37u);
}

TEST_F(ResourceBaseTest, RegistryAcceptsZeroAndMultiBitIdentifiersThatDoNotOverlap) {
  ResourceIdStore ids({{0, "ZERO"}, {6, "TWO_BITS"}, {1, "ONE"}}, "Z");
  EXPECT_EQ(ids.resUnion(), 7u);
}

TEST_F(ResourceBaseTest, PickKeepsKeysWhollyInsideTheUnion) {
  MapResId2ResBasePtr m = {{1, res(1, "A")}, {2, res(2, "B")}, {4, res(4, "C")}};
  EXPECT_TRUE(pick(m, 8).empty());
  EXPECT_EQ(pick(m, 7), m);
  MapResId2ResBasePtr two = pick(m, 5);
  EXPECT_EQ(two.size(), 2u);
  EXPECT_EQ(two.at(1), m.at(1)) << "pick shares, never copies, resources";
  EXPECT_EQ(two.count(2), 0u);
}

TEST_F(ResourceBaseTest, MergeAddsDisjointMaps) {
  MapResId2ResBasePtr a = {{1, res(1, "A")}};
  MapResId2ResBasePtr b = {{2, res(2, "B")}, {4, res(4, "C")}};
  MapResId2ResBasePtr both = merge(a, b);
  EXPECT_EQ(both.size(), 3u);
  EXPECT_EQ(both.at(4), b.at(4));
  EXPECT_EQ(merge(a, {}), a);
  EXPECT_EQ(merge({}, b), b);
}

TEST_F(ResourceBaseTest, PrintsMapsAndFetchResultsWithRegistryNames) {
  auto small = res(4, "RESOURCE_SMALL_IMAGE");
  small->set_readCnt(0);
  MapResId2ResBasePtr m = {{4, small}};
  EXPECT_EQ(print_MapResId2ResBasePtr(m),
            "RESOURCE_SMALL_IMAGE: Zone: none, resName: RESOURCE_SMALL_IMAGE, readCnt: 0\n");
  EXPECT_EQ(print_MapResId2ResBasePtr({}), "");

  CombFidMapResBase c;
  EXPECT_EQ(c.tag, "none");
  EXPECT_EQ(c.frameId, -1);
  c.frameId = 12;
  c.mapRes = m;
  EXPECT_EQ(print_CombFidMapResBase(c),
            "FrameId: 12\nRESOURCE_SMALL_IMAGE: Zone: none, resName: RESOURCE_SMALL_IMAGE, readCnt: 0\n");

  CombFidMapResBaseRW rw;
  rw.frameId = 3;
  rw.mapWrite = {{1, res(1, "RESOURCE_FRAME_TIME")}};
  EXPECT_EQ(print_CombFidMapResBaseRW(rw),
            "FrameId: 3\nmapRead:\n\nmapWrite:\n"
            "RESOURCE_FRAME_TIME: Zone: none, resName: RESOURCE_FRAME_TIME, readCnt: -1\n\n");
}

using ResourceBaseDeathTest = ResourceBaseTest;

TEST_F(ResourceBaseDeathTest, OverlappingIdentifiersStopTheRegistry) {
  EXPECT_DEATH(ResourceIdStore({{1, "A"}, {2, "B"}, {3, "C"}}, "Z"),
               "Check failed: not\\(resUnion & resEnum\\) invalid resources, please check \\(Z\\) "
               "([0-9]+:[ABC]){3}");
  EXPECT_DEATH(ResourceIdStore({{1, "A"}, {1 | 4, "B"}}, "Q"), "please check \\(Q\\) (1:A5:B|5:B1:A)");
}

TEST_F(ResourceBaseDeathTest, PickOfAPartlyOverlappingKeyIsFatal) {
  MapResId2ResBasePtr m = {{3, res(3, "AB")}};
  EXPECT_DEATH(pick(m, 1), "Check failed: common == 0 ");
}

TEST_F(ResourceBaseDeathTest, MergeOfADuplicateKeyIsFatal) {
  MapResId2ResBasePtr a = {{1, res(1, "A")}};
  EXPECT_DEATH(merge(a, a), "Check failed: result.find\\(item.first\\) == result.end\\(\\) ");
}

}  // namespace
