#include <gtest/gtest.h>
#include <sodium.h>

#include <tuple>

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

// The sealed layout both ways (libsodium called directly is the reference); every refusal names the
// file and the key id, and keeps what was loaded before.
TEST(ParamCfgTest, SealedConfigurationOpensOnlyWholeWithItsKeyFromAPrivateKeyring) {
  const std::string path = testing::TempDir() + "sealed_" + std::to_string(getpid()) + ".json";
  const std::string json = "{\"k\": \"secret\"}", sealed = kavo_sym_encrypt(json, 42);
  DatabaseJsonMem db;
  auto load = [&](const std::string& bytes, int keyId, const std::string& keyring) {
    filebuffer::write(path, bytes, true);
    setenv("KAVO_KEYRING", keyring.c_str(), 1);
    const bool ok = db.load(path, true, keyId);
    EXPECT_EQ(db.select_single("k", true, ""), "secret");
    return ok ? "" : db.error();
  };
  std::string byHand = std::string("KAVOSEAL\x01\x04\x03\x02\x01", 13) + std::string(24 + 15 + 16, 'n');
  auto u8 = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
  const std::string key(32, '\x44');  // key 0x01020304 of the test keyring
  ASSERT_GE(sodium_init(), 0);
  crypto_aead_xchacha20poly1305_ietf_encrypt(reinterpret_cast<unsigned char*>(&byHand[37]), nullptr, u8(json),
                                             15, u8(byHand), 37, nullptr, u8(byHand) + 13, u8(key));
  EXPECT_EQ(load(byHand, 0x01020304, kKeyring), "");
  EXPECT_EQ(sealed.substr(0, 13), std::string("KAVOSEAL\x01\x2a\x00\x00\x00", 13));
  EXPECT_NE(kavo_sym_encrypt(json, 42), sealed) << "every sealing takes a fresh nonce";
  EXPECT_EQ(kavo_sym_decrypt(sealed, 42, 1), "") << "flags other than 0";

  const std::string refused = path + ": cannot decrypt with key id ",
                    magic = "not a sealed file (no \"KAVOSEAL\" magic)",
                    forged = "authentication failed: another key, or the file was changed or cut";
  for (size_t i = 0; i < sealed.size(); ++i) {
    SCOPED_TRACE(i);
    std::string flipped = sealed;
    flipped[i] ^= 0x10;
    EXPECT_EQ(load(flipped, 42, kKeyring),
              refused + "42: " +
                  (i < 8    ? magic
                   : i == 8 ? "unknown sealed format version 17"
                   : i < 13 ? "the file is sealed with key id " + std::to_string(42 + (16 << (8 * (i - 9))))
                            : forged));
    const std::string cut =
        i == 0 ? magic : "truncated sealed file: " + std::to_string(i) + " bytes, at least 53 expected";
    EXPECT_EQ(load(sealed.substr(0, i), 42, kKeyring), refused + "42: " + (i < 53 ? cut : forged));
  }
  EXPECT_EQ(load(sealed, 43, kKeyring), refused + "43: the file is sealed with key id 42");
  EXPECT_EQ(load(sealed, 42, "/no/keyring"),
            refused + "42: keyring /no/keyring: cannot open: No such file or directory");

  // Keyrings: the text, its mode, and the refusal after "keyring <file>" ("" opens; "*": wrong key).
  const std::string good =
      "# comment\n\n  42\t" + std::string(64, 'a') + "  # the key\r\n" + key_line(2147483647, 'b');
  const std::string key42 = key_line(42, 'a'), open = " is accessible by group or others (mode 06",
                    priv = "); keys must be private: chmod 600 ",
                    line2 = " line 2: expected \"<key id> <64 hex digits>\"";
  const std::tuple<std::string, mode_t, std::string> rows[] = {
      {good, 0600, ""},
      {good, 0640, open + "40" + priv},
      {good, 0604, open + "04" + priv},
      {key_line(41, 'a'), 0600, " has no key id 42"},
      {key_line(42, 'b'), 0600, "*"},
      {good + key42, 0600, " line 5: key id 42 repeats line 3"},
      {key42 + "1 " + std::string(63, 'a'), 0600, line2},
      {key42 + "1 g" + std::string(63, 'a'), 0600, line2},
      {key42 + "1 " + std::string(64, 'a') + " 2", 0600, line2},
      {key42 + key_line(-1, 'a'), 0600, line2},
      {key42 + key_line(2147483648, 'a'), 0600, line2},
  };
  int n = 0;
  for (const auto& [text, mode, error] : rows) {
    SCOPED_TRACE(text);
    const std::string keyring = write_keyring(std::to_string(n++), text, mode);
    const std::string why =
        error == "*" ? forged : "keyring " + keyring + error + (mode == 0600 ? "" : keyring);
    EXPECT_EQ(load(sealed, 42, keyring), error.empty() ? "" : refused + "42: " + why);
  }
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
