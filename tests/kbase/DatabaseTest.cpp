#include <gtest/gtest.h>

#include "kbase/Database.h"
#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "testing/TestKeyring.h"

namespace {

const std::string kKeyring = use_test_keyring();

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
}

// Every refusal names the file and the key id, and keeps what was loaded before.
TEST(ParamCfgTest, SealedConfigurationOpensOnlyWholeAndWithItsKey) {
  const std::string path = testing::TempDir() + "sealed_" + std::to_string(getpid()) + ".json";
  const std::string sealed = kavo_sym_encrypt("{\"k\": \"secret\"}", 42);
  ASSERT_EQ(sealed.size(), 15u + 53u);
  DatabaseJsonMem db;
  auto refused = [&](const std::string& bytes, int keyId, const std::string& why) {
    filebuffer::write(path, bytes, true);
    EXPECT_FALSE(db.load(path, true, keyId));
    EXPECT_EQ(db.error(), path + ": cannot decrypt with key id " + std::to_string(keyId) + ": " + why);
    EXPECT_EQ(db.select_single("k", true, ""), "secret");
  };
  ASSERT_TRUE(filebuffer::write(path, sealed, true));
  EXPECT_FALSE(db.load(path, false, 42)) << "sealed bytes are no JSON";
  ASSERT_TRUE(db.load(path, true, 42)) << db.error();
  EXPECT_EQ(db.select_single("k", true, ""), "secret");

  const std::string magic = "not a sealed file (no \"KAVOSEAL\" magic)";
  const std::string forged = "authentication failed: another key, or the file was changed or cut";
  for (size_t i = 0; i < sealed.size(); ++i) {
    SCOPED_TRACE(i);
    std::string flipped = sealed;
    flipped[i] ^= 0x10;
    const std::string why =
        i < 8    ? magic
        : i == 8 ? "unknown sealed format version 17"
        : i < 13 ? "the file is sealed with key id " + std::to_string(42 + (16 << (8 * (i - 9))))
                 : forged;  // nonce, ciphertext, tag
    refused(flipped, 42, why);
    const std::string cut = sealed.substr(0, i);
    refused(cut, 42,
            i == 0   ? magic
            : i < 53 ? "truncated sealed file: " + std::to_string(i) + " bytes, at least 53 expected"
                     : forged);
  }
  refused("{\"k\": 1}", 42, magic);
  refused(sealed, 43, "the file is sealed with key id 42");
  refused(sealed, -1, "the file is sealed with key id 42");
  const std::string other = write_keyring("other", key_line(42, 0x2b)),
                    open = write_keyring("open", key_line(42, 0x2a), 0644);
  setenv("KAVO_KEYRING", other.c_str(), 1);
  refused(sealed, 42, forged);
  setenv("KAVO_KEYRING", open.c_str(), 1);
  refused(sealed, 42,
          "keyring " + open +
              " is accessible by group or others (mode 0644); keys must be private: chmod 600 " + open);
  setenv("KAVO_KEYRING", write_keyring("lacking", key_line(41, 0x2a)).c_str(), 1);
  refused(sealed, 42, "keyring " + std::string(getenv("KAVO_KEYRING")) + " has no key id 42");
  setenv("KAVO_KEYRING", kKeyring.c_str(), 1);
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
