#include <gtest/gtest.h>

#include "base/EnumStore.h"
#include "kbase/Database.h"

namespace {

EnumStore& load(EnumStore& store, const std::string& text) {
  DatabaseJsonMem db;
  EXPECT_TRUE(db.load_text(text)) << db.error();
  store.load(db);
  return store;
}

EnumStore& loaded() {
  static EnumStore store;
  static EnumStore& once = load(store, R"({"EnumStore": {"RESOURCE": {"none": ["RESOURCE_FRAME_TIME",
    "RESOURCE_LARGE_IMAGE", "RESOURCE_SMALL_IMAGE", "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS",
    "RESOURCE_TRACKER_ROIS", "RESOURCE_MARKED_FACE_ROIS"], "NET": ["IN", "OUT=8", "MID", "PAIR=48"]},
    "TASK": {"none": ["TASK_GLOBAL=0", "TASK_ONE"]}}})");
  return once;
}

TEST(EnumStoreTest, NamesTakeTheLowestFreeBitAndConvertAndPrintAsRegistered) {
  auto res = loaded().get("RESOURCE");
  EXPECT_EQ(res->convert("RESOURCE_MARKED_FACE_ROIS", "none"), 64u);
  EXPECT_EQ(loaded().mapId2String("RESOURCE", "NET"), (std::unordered_map<unsigned long long, std::string>{
                                                          {1, "IN"}, {8, "OUT"}, {2, "MID"}, {48, "PAIR"}}));
  EXPECT_EQ(loaded().get("TASK")->collect({"TASK_GLOBAL", "TASK_ONE"}, "none"), 1u);
  EXPECT_EQ(res->resolve(1 | 1024 | (1ull << 63), "none"),
            (std::vector<unsigned long long>{1, 1024, 1ull << 63}))
      << "unnamed bits are split out too";
  EnumStore store;
  auto cat = store.add_type("ROICATEGORY");
  EXPECT_EQ(load(store, "{}").add_type("ROICATEGORY"), cat) << "kept by a load without types";
  EXPECT_FALSE(store.has_type("RESOURCE") || cat->has_zone("none"));
  // clang-format off
  struct Row { const char* type; unsigned long long id; const char* zone; const char* convert; const char* print; } rows[] = {
      {"RESOURCE", 4, "none", "RESOURCE_SMALL_IMAGE", "Zone: none, RESOURCE_SMALL_IMAGE"},
      {"RESOURCE", 0, "none", "UNKNOWN(0)", "Zone: none, "},
      {"RESOURCE", 128, "none", "UNKNOWN(128)", "Zone: none, UNKNOWN(128)"},
      {"RESOURCE", 3 | 256 | (1ull << 63), "none", "UNKNOWN(9223372036854776067)",
       "Zone: none, RESOURCE_FRAME_TIME,RESOURCE_LARGE_IMAGE,UNKNOWN(256),UNKNOWN(9223372036854775808)"},
      {"RESOURCE", 9, "NET", "UNKNOWN(9)", "Zone: NET, IN,OUT"},
      {"RESOURCE", 48, "NET", "PAIR", "Zone: NET, PAIR"}, {"RESOURCE", 16 | 2, "NET", "UNKNOWN(18)", "Zone: NET, MID,UNKNOWN(16)"}, {"TASK", 0, "none", "TASK_GLOBAL", "Zone: none, TASK_GLOBAL"}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(loaded().convert(row.type, row.id, row.zone), row.convert) << row.print;
    EXPECT_EQ(loaded().print(row.type, row.id, row.zone), row.print);
  }
}

TEST(EnumStoreDeathTest, MissingTypeZoneOrNameAndBadEntriesAreFatal) {
  const std::string type = "Check failed: _mapType2EnumBase.find\\(type\\) != _mapType2EnumBase.end\\(\\) ";
  const std::string zone = "Check failed: _mapZone8setId.find\\(zone\\) != _mapZone8setId.end\\(\\) nozone";
  EXPECT_DEATH(loaded().print("NETWORK", 1, "none"), type + "NETWORK");
  auto res = loaded().get("RESOURCE");
  for (auto use :
       {+[](EnumBase& e) { e.convert(1, "nozone"); }, +[](EnumBase& e) { e.print(1, "nozone"); },
        +[](EnumBase& e) { e.resolve(1, "nozone"); }, +[](EnumBase& e) { e.convert("IN", "nozone"); }})
    EXPECT_DEATH(use(*res), zone);
  EXPECT_DEATH(loaded().mapId2String("RESOURCE", "nozone"),
               "Check failed: _mapZone8Id2String.find\\(zone\\) != _mapZone8Id2String.end\\(\\) nozone");
  EXPECT_DEATH(loaded().get("RESOURCE")->collect({"IN", "NOPE"}, "NET"), "RESOURCE/NET: unknown name NOPE");
  // clang-format off
  const std::pair<const char*, const char*> rows[] = {
      {R"({"EnumStore": {"RESOURCE": {"none": ["RESOURCE_LARGE_IMAGE"]}}})", "unknown name RESOURCE_FRAME_TIME"},
      {R"({"EnumStore": {"RESOURCE": {"other": ["X"]}}})", "RESOURCE/none must define the built-in kinds"},
      {R"({"EnumStore": {"RESOURCE": {"none": ["RESOURCE_FRAME_TIME", "RESOURCE_SMALL_IMAGE", "RESOURCE_LARGE_IMAGE"]}}})",
       "RESOURCE_LARGE_IMAGE must be 2"},
      {R"({"EnumStore": {"TASK": {"none": ["A", "A"]}}})", "TASK/none: name A is already defined"},
      {R"({"EnumStore": {"TASK": {"none": ["A=4", "B=4"]}}})", "identifier 4 of B is already used by A"},
      {R"({"EnumStore": {"TASK": {"z": ["A=x"]}}})", "EnumStore/TASK/z -> A=x: bad lexical cast"}};
  // clang-format on
  for (const auto& row : rows) EXPECT_DEATH(load(*std::make_unique<EnumStore>(), row.first), row.second);
  EnumBase base("MANY");
  for (int i = 0; i < 64; ++i) base.add_next("z", "N" + std::to_string(i));
  EXPECT_DEATH(base.add_next("z", "N64"), "MANY/z: no free bit left for N64");
}

}  // namespace
