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

TEST(DatabaseJsonMemTest, KeepsValuesAsWrittenAndKeysInFileOrder) {
  auto db = sample();
  // clang-format off
  const std::pair<const char*, Strings> rows[] = {
      {"ratio", {"0.50"}}, {"alpha/a", {"1", "two", "3.50"}}, {"alpha/flag", {"true"}}, {"alpha/deep/x/y", {"z"}},
      {"big", {"18446744073709551615"}}, {"alpha", {"d"}}, {"alpha/nothing", {"d"}}, {"no/such/key", {"d"}}};
  // clang-format on
  for (const auto& row : rows)
    EXPECT_EQ(db->select_multi_local(row.first, false, {"d"}), row.second) << row.first;
  EXPECT_EQ(db->subkeys("", false), (Strings{"zeta", "alpha", "ratio", "big", "neg"}));
  EXPECT_EQ(db->subkeys("alpha/", false), (Strings{"b", "a", "flag", "bit", "nothing", "deep"}));
  db->store_multi_local("new/key", {"5", "6"}, false);
  EXPECT_EQ(db->select_multi<int>("new/key", false, {}), (std::vector<int>{5, 6}));
  for (const char* bad : {"{\"a\": [1, 2", "[1, 2]", "{\"a\": [{\"b\": 1}]}"})
    EXPECT_FALSE(db->load_text(bad));
  EXPECT_EQ(db->select_single("zeta", true, ""), "last-but-first") << "refused text keeps the old contents";
  const std::string path = testing::TempDir() + "/encrypted.json";
  ASSERT_TRUE(filebuffer::write(path, kavo_sym_encrypt("{\"k\": \"secret\"}", 42), true));
  EXPECT_FALSE(db->load(path, false, 0));
  ASSERT_TRUE(db->load(path, true, 42)) << db->error();
  EXPECT_EQ(db->select_single("k", true, ""), "secret");
}

TEST(ParamCfgTest, ViewsPrefixKeysAndTypedReadsConvertOrDefault) {
  auto db = sample();
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
