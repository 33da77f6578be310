#include <gtest/gtest.h>

#include "kbase/Database.h"
#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"

namespace {

using Strings = std::vector<std::string>;

std::shared_ptr<DatabaseJsonMem> sample() {
  auto db = std::make_shared<DatabaseJsonMem>();
  EXPECT_TRUE(db->load(std::string(KAVO_TEST_DATA) + "/sample.json", false, 0)) << db->error();
  return db;
}

TEST(ParamCfgTest, ReadsValuesAsWrittenThroughViewsAndConvertsOrDefaults) {
  auto db = sample();
  EXPECT_EQ(db->select_multi_local("alpha/a", false, {"d"}), (Strings{"1", "two", "3.50"}));
  EXPECT_EQ(db->select_multi_local("alpha/nothing", false, {"d"}), Strings{"d"});
  EXPECT_EQ(db->subkeys("alpha/", false), (Strings{"b", "a", "flag", "bit", "nothing", "deep"}));
  EXPECT_FALSE(db->load_text("{\"a\": [1, 2"));
  auto view = std::make_shared<ParamCfg>(std::make_shared<ParamCfg>(db, "alp"), "ha/");  // no separator
  EXPECT_EQ(view->select_single<int>("b", true, 0), 2);
  EXPECT_EQ(view->subkeys("deep", false), Strings{"x"});
  EXPECT_EQ(view->select_single("a", false, "def"), "def") << "three values";
  EXPECT_EQ(db->select_single<unsigned int>("alpha/b", true, 0u), 2u);
  EXPECT_FLOAT_EQ(db->select_single<float>("ratio", true, 0.f), 0.5f);
  EXPECT_TRUE(db->select_single<bool>("alpha/bit", true, false));
  EXPECT_EQ(db->select_multi<int>("missing", false, {4, 5}), (std::vector<int>{4, 5}));
  EXPECT_EQ(DatabaseOrdered(std::make_shared<ParamCfg>(db, "alpha/")).print(),
            "a: 1, two, 3.50\nb: 2\nbit: 1\ndeep/x/y: z\nflag: true\n");
  const std::string path = testing::TempDir() + "/encrypted.json";
  ASSERT_TRUE(filebuffer::write(path, kavo_sym_encrypt("{\"k\": \"secret\"}", 42), true));
  EXPECT_FALSE(db->load(path, false, 0) || db->load(path, true, 43));
  ASSERT_TRUE(db->load(path, true, 42)) << db->error();
  EXPECT_EQ(db->select_single("k", true, ""), "secret");
}

TEST(ParamCfgDeathTest, MissingOrUnconvertibleValues) {
  auto db = sample();
  const std::string one = "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) ";
  EXPECT_DEATH(db->select_single("missing", true, ""), one + "missing: ");
  EXPECT_DEATH(db->select_single<int>("alpha/a", true, 0), one + "alpha/a: 1, two, 3.50");
  EXPECT_DEATH(db->select_single<bool>("alpha/flag", true, false), "alpha/flag -> true: bad lexical cast");
  EXPECT_DEATH(db->select_multi<int>("alpha/a", false, {}), "alpha/a -> 1, two, 3.50: bad lexical cast");
}

}  // namespace
