// Sealed files and the keyring: the sealed layout against libsodium called directly, and the
// keyring's format, privacy and look-up rules. Opening through the callers is tested with them
// (DatabaseJsonMem::load in DatabaseTest, KavoIpuNetwork in KavoIpuNetworkTest).
#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include "kbase/Decrypt.h"
#include "kbase/Keyring.h"
#include "kbase/Path.h"
#include "testing/TestKeyring.h"

namespace {

const std::string kKeyring = use_test_keyring();

KeyringKey filled(unsigned char byte) {
  KeyringKey key;
  key.fill(byte);
  return key;
}

const unsigned char* u8(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(DecryptTest, SealedLayoutIsTheDocumentedOneBothWays) {
  ASSERT_GE(sodium_init(), 0);
  const std::string sealed = kavo_sym_encrypt("hello", 0x01020304);
  ASSERT_EQ(sealed.size(), 5u + 53u);
  EXPECT_EQ(sealed.substr(0, 13), std::string("KAVOSEAL\x01\x04\x03\x02\x01", 13));
  unsigned char plain[5];
  unsigned long long n = 0;
  ASSERT_EQ(
      crypto_aead_xchacha20poly1305_ietf_decrypt(plain, &n, nullptr, u8(sealed) + 37, sealed.size() - 37,
                                                 u8(sealed), 37, u8(sealed) + 13, filled(4).data()),
      0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), n), "hello");
  EXPECT_NE(kavo_sym_encrypt("hello", 0x01020304), sealed) << "every sealing takes a fresh nonce";

  // Sealed by hand under key 42 with a fixed nonce.
  const std::string header = std::string("KAVOSEAL\x01\x2a\x00\x00\x00", 13) + std::string(24, 'n');
  std::string byHand = header + std::string(7 + 16, '\0');
  crypto_aead_xchacha20poly1305_ietf_encrypt(reinterpret_cast<unsigned char*>(&byHand[37]), nullptr,
                                             u8("content"), 7, u8(header), 37, nullptr, u8(header) + 13,
                                             filled(0x2a).data());
  EXPECT_EQ(kavo_sym_decrypt(byHand, 42, 0), "content");
  EXPECT_EQ(kavo_sym_decrypt(byHand, 42, 1), "") << "flags other than 0";

  std::string out = "stale", error;
  ASSERT_TRUE(kavo_sym_open(kavo_sym_encrypt("", 3), 3, &out, &error)) << error;
  EXPECT_EQ(out, "");
  EXPECT_EQ(kavo_sym_encrypt("x", 9), "") << "no key 9";
  EXPECT_FALSE(kavo_sym_seal("x", -1, &out, &error));
  EXPECT_EQ(error, "key id -1: key ids are not negative");
}

TEST(KeyringTest, FindsKeysOnlyInAPrivateWellFormedKeyring) {
  const std::string hex7 = key_line(7, 7).substr(2, 64);
  const std::string good = "# comment\n\n  7\t" + hex7 + "  # the key of 7\r\n" + key_line(2147483647, 9);
  const std::string privacy = "); keys must be private: chmod 600 ";
  const struct {
    const char* name;
    std::string text;
    mode_t mode;
    int id;
    std::string error;  // after "keyring <path>"; empty when the key is found
    unsigned char byte;
  } rows[] = {
      {"owner only", good, 0600, 7, "", 7},
      {"owner read only, largest id", good, 0400, 2147483647, "", 9},
      {"0644", good, 0644, 7, " is accessible by group or others (mode 0644" + privacy, 0},
      {"group reads", good, 0640, 7, " is accessible by group or others (mode 0640" + privacy, 0},
      {"others read", good, 0604, 7, " is accessible by group or others (mode 0604" + privacy, 0},
      {"group writes", good, 0620, 7, " is accessible by group or others (mode 0620" + privacy, 0},
      {"others execute", good, 0601, 7, " is accessible by group or others (mode 0601" + privacy, 0},
      {"missing id", good, 0600, 8, " has no key id 8", 0},
      {"short key", "7 " + hex7.substr(1), 0600, 7, " line 1: expected \"<key id> <64 hex digits>\"", 0},
      {"long key", "7 " + hex7 + "0", 0600, 7, " line 1: expected \"<key id> <64 hex digits>\"", 0},
      {"not hex", "\n7 g" + hex7.substr(1), 0600, 7, " line 2: expected \"<key id> <64 hex digits>\"", 0},
      {"no key", "7\n", 0600, 7, " line 1: expected \"<key id> <64 hex digits>\"", 0},
      {"extra word", "7 " + hex7 + " 8", 0600, 7, " line 1: expected \"<key id> <64 hex digits>\"", 0},
      {"negative id", "-7 " + hex7, 0600, 7, " line 1: expected \"<key id> <64 hex digits>\"", 0},
      {"id too large", "2147483648 " + hex7, 0600, 7, " line 1: expected \"<key id> <64 hex digits>\"", 0},
      {"bad line after the key", good + "x y\n", 0600, 7, " line 5: expected \"<key id> <64 hex digits>\"",
       0},
      {"repeated id", key_line(5, 5) + key_line(7, 7) + key_line(7, 8), 0600, 5,
       " line 3: key id 7 repeats line 2", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = write_keyring(row.name, row.text, row.mode);
    setenv("KAVO_KEYRING", path.c_str(), 1);
    KeyringKey key{};
    std::string error;
    EXPECT_EQ(keyring_find(row.id, &key, &error), row.error.empty());
    EXPECT_EQ(row.error.empty() ? key : KeyringKey{}, filled(row.byte));
    EXPECT_EQ(error, row.error.empty() ? "" : "keyring " + path + row.error + (row.mode == 0600 ? "" : path));
  }
  const std::string missing = ::testing::TempDir() + "no_such_keyring";
  setenv("KAVO_KEYRING", missing.c_str(), 1);
  KeyringKey key;
  std::string error;
  EXPECT_FALSE(keyring_find(7, &key, &error));
  EXPECT_EQ(error, "keyring " + missing + ": cannot open: No such file or directory");

  // Without KAVO_KEYRING: <installation root>/config/kavo.keyring.
  const std::string root = ::testing::TempDir() + "keyring_root_" + std::to_string(getpid());
  ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((root + "/config").c_str(), 0700), 0);
  std::ofstream(root + "/config/kavo.keyring") << key_line(11, 0xee);
  chmod((root + "/config/kavo.keyring").c_str(), 0600);
  unsetenv("KAVO_KEYRING");
  GlobalPathCfg::set(0, root);
  EXPECT_EQ(keyring_path(), root + "/config/kavo.keyring");
  EXPECT_TRUE(keyring_find(11, &key, &error)) << error;
  EXPECT_EQ(key, filled(0xee));
  setenv("KAVO_KEYRING", "", 1);
  EXPECT_EQ(keyring_path(), root + "/config/kavo.keyring") << "an empty variable names no file";
  setenv("KAVO_KEYRING", kKeyring.c_str(), 1);
}

TEST(KeyringTest, NewLinesAreFreshKeysTheKeyringReads) {
  const std::string a = keyring_new_line(12), b = keyring_new_line(12);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.size(), 3u + 64u);
  setenv("KAVO_KEYRING", write_keyring("new", a + "\n").c_str(), 1);
  std::string sealed, out, error;
  ASSERT_TRUE(kavo_sym_seal("model", 12, &sealed, &error)) << error;
  ASSERT_TRUE(kavo_sym_open(sealed, 12, &out, &error)) << error;
  EXPECT_EQ(out, "model");
  setenv("KAVO_KEYRING", write_keyring("new", b + "\n").c_str(), 1);
  EXPECT_FALSE(kavo_sym_open(sealed, 12, &out, &error));
  EXPECT_EQ(error, "key id 12: authentication failed: another key, or the file was changed or cut");
  setenv("KAVO_KEYRING", kKeyring.c_str(), 1);
}

}  // namespace
