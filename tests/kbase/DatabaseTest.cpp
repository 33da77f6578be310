#include "kbase/Database.h"

#include <gtest/gtest.h>

#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"

namespace {

using Strings = std::vector<std::string>;

std::shared_ptr<DatabaseJsonMem> sample() {
  auto db = std::make_shared<DatabaseJsonMem>();
  EXPECT_TRUE(db->load(std::string(KAVO_TEST_DATA) + "/sample.json", false, 0)) << db->error();
  return db;
}

TEST(DatabaseJsonMemTest, KeepsValuesAsWrittenInTheFile) {
  auto db = sample();
  EXPECT_EQ(db->select_multi_local("ratio", false, {}), Strings{"0.50"});
  EXPECT_EQ(db->select_multi_local("alpha/a", false, {}), (Strings{"1", "two", "3.50"}));
  EXPECT_EQ(db->select_multi_local("alpha/flag", false, {}), Strings{"true"});
  EXPECT_EQ(db->select_multi_local("big", false, {}), Strings{"18446744073709551615"});
  EXPECT_EQ(db->select_multi_local("neg", false, {}), Strings{"-7"});
  EXPECT_EQ(db->select_multi_local("alpha/deep/x/y", false, {}), Strings{"z"});
}

TEST(DatabaseJsonMemTest, MissingAndNullKeysGiveTheDefaults) {
  auto db = sample();
  EXPECT_EQ(db->select_multi_local("alpha/nothing", false, {"d"}), Strings{"d"});
  EXPECT_EQ(db->select_multi_local("no/such/key", true, {"d"}), Strings{"d"});
  EXPECT_EQ(db->select_multi_local("alpha", false, {}), Strings{});
}

TEST(DatabaseJsonMemTest, SubkeysAreInFileOrder) {
  auto db = sample();
  EXPECT_EQ(db->subkeys("", false), (Strings{"zeta", "alpha", "ratio", "big", "neg"}));
  EXPECT_EQ(db->subkeys("alpha", false), (Strings{"b", "a", "flag", "bit", "nothing", "deep"}));
  EXPECT_EQ(db->subkeys("alpha/", false), db->subkeys("alpha", false));
  EXPECT_EQ(db->subkeys("ratio", false), Strings{});
  EXPECT_EQ(db->subkeys("missing", true), Strings{});  // the flag only logs
}

TEST(DatabaseJsonMemTest, StoreSetsAListAndCreatesParents) {
  auto db = sample();
  db->store_multi_local("alpha/b", {"5", "6"}, false);
  EXPECT_EQ(db->select_multi_local("alpha/b", false, {}), (Strings{"5", "6"}));
  db->store_multi_local("new/level/key", {"v"}, false);
  EXPECT_EQ(db->select_single("new/level/key", true, ""), "v");
  EXPECT_EQ(db->subkeys("", false).back(), "new");
  EXPECT_EQ(db->subkeys("new", false), Strings{"level"});
}

TEST(DatabaseJsonMemTest, MalformedTextIsRefusedAndKeepsTheOldContents) {
  auto db = sample();
  EXPECT_FALSE(db->load_text("{\"a\": [1, 2"));
  EXPECT_FALSE(db->error().empty());
  EXPECT_FALSE(db->load_text("[1, 2]"));
  EXPECT_FALSE(db->load_text("{\"a\": [{\"b\": 1}]}"));
  EXPECT_EQ(db->select_single("zeta", true, ""), "last-but-first");
  EXPECT_FALSE(db->load("/no/such/file.json", false, 0));
  EXPECT_NE(db->error().find("/no/such/file.json"), std::string::npos);
}

TEST(DatabaseJsonMemTest, LoadsEncryptedFiles) {
  std::string path = testing::TempDir() + "/encrypted.json";
  ASSERT_TRUE(filebuffer::write(path, kavo_sym_encrypt("{\"k\": \"secret\"}", 42), true));
  DatabaseJsonMem db;
  ASSERT_TRUE(db.load(path, true, 42)) << db.error();
  EXPECT_EQ(db.select_single("k", true, ""), "secret");
  EXPECT_FALSE(db.load(path, true, 43));  // wrong key: garbage, not JSON
  EXPECT_FALSE(db.load(path, false, 0));  // not decrypted
}

TEST(ParamCfgTest, ViewsConcatenatePrefixAndKeyWithoutSeparator) {
  auto db = sample();
  auto view = std::make_shared<ParamCfg>(db, "alpha/");
  EXPECT_EQ(view->select_single<int>("b", true, 0), 2);
  EXPECT_EQ(view->subkeys("deep", false), Strings{"x"});
  auto glued = std::make_shared<ParamCfg>(db, "alp");
  EXPECT_EQ(glued->select_single<int>("ha/b", true, 0), 2);
  auto nested = std::make_shared<ParamCfg>(view, "deep/");
  EXPECT_EQ(nested->select_single("x/y", true, ""), "z");
  EXPECT_EQ(view->underlying(), db);
}

TEST(ParamCfgTest, SelectSingleReturnsTheDefaultUnlessExactlyOneValue) {
  auto db = sample();
  EXPECT_EQ(db->select_single("alpha/a", false, "def"), "def");  // three values
  EXPECT_EQ(db->select_single("missing", false, "def"), "def");
  EXPECT_EQ(db->select_single<int>("alpha/a", false, -1), -1);
  EXPECT_EQ(db->select_single<unsigned int>("alpha/b", true, 0u), 2u);
  EXPECT_FLOAT_EQ(db->select_single<float>("ratio", true, 0.f), 0.5f);
}

TEST(ParamCfgTest, BoolsAreZeroOrOne) {
  auto db = sample();
  EXPECT_TRUE(db->select_single<bool>("alpha/bit", true, false));
  db->store_multi_local("zero", {"0"}, false);
  EXPECT_FALSE(db->select_single<bool>("zero", true, true));
}

TEST(ParamCfgTest, SelectMultiConvertsInOrderOrGivesTheDefaults) {
  auto db = sample();
  db->store_multi_local("ints", {"3", "-1", "7"}, false);
  EXPECT_EQ(db->select_multi<int>("ints", false, {}), (std::vector<int>{3, -1, 7}));
  EXPECT_EQ(db->select_multi<int>("missing", false, {4, 5}), (std::vector<int>{4, 5}));
}

using ParamCfgDeathTest = testing::Test;

TEST(ParamCfgDeathTest, MissingValueWhereExactlyOneIsDemanded) {
  auto db = sample();
  EXPECT_DEATH(db->select_single("missing", true, ""),
               "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) missing: ");
  EXPECT_DEATH(db->select_single<int>("alpha/a", true, 0),
               "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) alpha/a: 1, two, 3.50");
}

TEST(ParamCfgDeathTest, ValueThatDoesNotConvert) {
  auto db = sample();
  EXPECT_DEATH(db->select_single<bool>("alpha/flag", true, false), "alpha/flag -> true: bad lexical cast");
  EXPECT_DEATH(db->select_multi<int>("alpha/a", false, {}), "alpha/a -> 1, two, 3.50: bad lexical cast");
}

TEST(DatabaseOrderedTest, PrintsEveryValuedKeySortedOneLineEach) {
  auto db = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(db->load_text(R"({"net": {"z": 1, "a": [1, 2], "m": {"k": "v"}}, "other": 3})"));
  EXPECT_EQ(DatabaseOrdered(std::make_shared<ParamCfg>(db, "net/")).print(), "a: 1, 2\nm/k: v\nz: 1\n");
  DatabaseOrdered all(db);
  EXPECT_EQ(all.print(), "net/a: 1, 2\nnet/m/k: v\nnet/z: 1\nother: 3\n");
  EXPECT_EQ(all.select_single<int>("net/z", true, 0), 1);
  EXPECT_EQ(all.subkeys("net", false), (Strings{"z", "a", "m"}));
}

}  // namespace
