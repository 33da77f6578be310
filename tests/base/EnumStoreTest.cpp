#include "base/EnumStore.h"

#include <gtest/gtest.h>

#include "kbase/Database.h"

namespace {

using Ids = std::vector<unsigned long long>;

std::shared_ptr<DatabaseJsonMem> config(const std::string& text) {
  auto db = std::make_shared<DatabaseJsonMem>();
  EXPECT_TRUE(db->load_text(text)) << db->error();
  return db;
}

const char* kConfig = R"({"EnumStore": {
  "RESOURCE": {
    "none": ["RESOURCE_FRAME_TIME", "RESOURCE_LARGE_IMAGE", "RESOURCE_SMALL_IMAGE",
             "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS", "RESOURCE_TRACKER_ROIS",
             "RESOURCE_MARKED_FACE_ROIS"],
    "NETWORK_A": ["IN", "OUT=8", "MID"]
  },
  "TASK": {"none": ["TASK_GLOBAL=0", "TASK_ONE", "TASK_TWO"]}
}})";

EnumStore& loaded() {
  static EnumStore store;
  static bool once = (store.load(*config(kConfig)), true);
  (void)once;
  return store;
}

TEST(EnumStoreTest, NamesTakeTheNextFreeBitAndExplicitIdsAreKept) {
  auto res = loaded().get("RESOURCE");
  EXPECT_EQ(res->convert("RESOURCE_FRAME_TIME", "none"), 1u);
  EXPECT_EQ(res->convert("RESOURCE_MARKED_FACE_ROIS", "none"), 64u);
  EXPECT_EQ(res->convert("IN", "NETWORK_A"), 1u);
  EXPECT_EQ(res->convert("OUT", "NETWORK_A"), 8u);
  EXPECT_EQ(res->convert("MID", "NETWORK_A"), 2u);  // lowest bit still free
  auto task = loaded().get("TASK");
  EXPECT_EQ(task->convert("TASK_GLOBAL", "none"), 0u);
  EXPECT_EQ(task->convert("TASK_ONE", "none"), 1u);
  EXPECT_EQ(task->convert("TASK_TWO", "none"), 2u);
}

TEST(EnumStoreTest, ConvertsPrintsResolvesAndCollects) {
  auto res = loaded().get("RESOURCE");
  EXPECT_EQ(res->convert(4, "none"), "RESOURCE_SMALL_IMAGE");
  EXPECT_EQ(res->convert(128, "none"), "UNKNOWN(128)");
  EXPECT_EQ(res->print(6, "none"), "Zone: none, RESOURCE_LARGE_IMAGE,RESOURCE_SMALL_IMAGE");
  EXPECT_EQ(res->print(2, "none"), "Zone: none, RESOURCE_LARGE_IMAGE");
  EXPECT_EQ(res->print(0, "none"), "Zone: none, ");
  EXPECT_EQ(res->print(3 | 256, "none"), "Zone: none, RESOURCE_FRAME_TIME,RESOURCE_LARGE_IMAGE,UNKNOWN(256)");
  EXPECT_EQ(loaded().get("TASK")->print(0, "none"), "Zone: none, TASK_GLOBAL");
  EXPECT_EQ(res->resolve(1 | 4 | 64 | 1024, "none"), (Ids{1, 4, 64}));
  EXPECT_EQ(res->resolve(0, "none"), Ids{});
  EXPECT_EQ(res->collect({"IN", "OUT"}, "NETWORK_A"), 9u);
  EXPECT_EQ(res->collect({}, "NETWORK_A"), 0u);
  EXPECT_EQ(loaded().convert("RESOURCE", 8, "NETWORK_A"), "OUT");
  EXPECT_EQ(loaded().print("RESOURCE", 9, "NETWORK_A"), "Zone: NETWORK_A, IN,OUT");
  auto names = loaded().mapId2String("RESOURCE", "NETWORK_A");
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(names.at(2), "MID");
}

TEST(EnumStoreTest, TypesCanBeAddedByTheApplication) {
  EnumStore store;
  auto cat = store.add_type("ROICATEGORY");
  EXPECT_EQ(cat->add_next("none", "ROICATEGORY_DET_person"), 1u);
  EXPECT_EQ(store.add_type("ROICATEGORY"), cat);
  EXPECT_TRUE(store.has_type("ROICATEGORY"));
  EXPECT_FALSE(store.has_type("NETWORK"));
}

using EnumStoreDeathTest = testing::Test;

TEST(EnumStoreDeathTest, MissingTypeOrZoneIsFatal) {
  EXPECT_DEATH(loaded().get("NETWORK"),
               "Check failed: _mapType2EnumBase.find\\(type\\) != _mapType2EnumBase.end\\(\\) NETWORK");
  EXPECT_DEATH(loaded().convert("NETWORK", 1, "none"), "_mapType2EnumBase.end\\(\\) NETWORK");
  EXPECT_DEATH(loaded().get("RESOURCE")->convert(1, "nozone"),
               "Check failed: _mapZone8setId.find\\(zone\\) != _mapZone8setId.end\\(\\) nozone");
  EXPECT_DEATH(loaded().mapId2String("RESOURCE", "nozone"),
               "Check failed: _mapZone8Id2String.find\\(zone\\) != _mapZone8Id2String.end\\(\\) nozone");
}

TEST(EnumStoreDeathTest, UnknownNameIsFatalAndNamesIt) {
  EXPECT_DEATH(loaded().get("RESOURCE")->convert("NOPE", "none"), "unknown name NOPE");
  EXPECT_DEATH(loaded().get("RESOURCE")->collect({"IN", "NOPE"}, "NETWORK_A"), "unknown name NOPE");
}

TEST(EnumStoreDeathTest, LoadingChecksTheBuiltinResourceKinds) {
  EnumStore store;
  EXPECT_DEATH(store.load(*config(R"({"EnumStore": {"RESOURCE": {"none": ["RESOURCE_LARGE_IMAGE"]}}})")),
               "RESOURCE_FRAME_TIME");
  EnumStore other;
  EXPECT_DEATH(other.load(*config(
                   R"({"EnumStore": {"RESOURCE": {"none": ["RESOURCE_FRAME_TIME", "RESOURCE_SMALL_IMAGE",
                       "RESOURCE_LARGE_IMAGE", "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS",
                       "RESOURCE_TRACKER_ROIS", "RESOURCE_MARKED_FACE_ROIS"]}}})")),
               "RESOURCE_LARGE_IMAGE must be 2");
}

TEST(EnumStoreDeathTest, DuplicatesAndOverflowAreFatal) {
  EnumStore store;
  EXPECT_DEATH(store.load(*config(R"({"EnumStore": {"TASK": {"none": ["A", "A"]}}})")), "name A is already defined");
  EXPECT_DEATH(store.load(*config(R"({"EnumStore": {"TASK": {"none": ["A=4", "B=4"]}}})")),
               "identifier 4 of B is already used by A");
  EXPECT_DEATH(store.load(*config(R"({"EnumStore": {"TASK": {"none": ["A=x"]}}})")), "A=x: bad lexical cast");
  auto base = store.add_type("MANY");
  for (int i = 0; i < 64; ++i) base->add_next("z", "N" + std::to_string(i));
  EXPECT_EQ(base->convert("N63", "z"), 1ull << 63);
  EXPECT_DEATH(base->add_next("z", "N64"), "no free bit left for N64");
}

}  // namespace
