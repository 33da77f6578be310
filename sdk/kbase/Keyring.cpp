#include "kbase/Keyring.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "kbase/Path.h"

namespace {

static_assert(std::tuple_size<KeyringKey>::value == crypto_aead_xchacha20poly1305_ietf_KEYBYTES,
              "a keyring key is one XChaCha20-Poly1305 key");

constexpr size_t kHexDigits = 2 * std::tuple_size<KeyringKey>::value;

std::string octal_mode(mode_t mode) {
  std::ostringstream out;
  out << '0' << std::oct << (mode & 0777);
  return out.str();
}

// Reads the keyring through one descriptor, so the mode checked is the mode of the file read.
bool read_private_file(const std::string& path, std::string* text, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "keyring " + path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) {
    *error = "keyring " + path + ": not a regular file";
  } else if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    *error = "keyring " + path + " is accessible by group or others (mode " + octal_mode(st.st_mode) +
             "); keys must be private: chmod 600 " + path;
    ok = false;
  }
  char buf[4096];
  for (ssize_t n; ok && (n = ::read(fd, buf, sizeof(buf))) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "keyring " + path + ": cannot read: " + std::strerror(errno);
      ok = false;
    } else {
      text->append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return ok;
}

bool parse_id(const std::string& word, int* id) {
  if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long long value = std::strtoll(word.c_str(), nullptr, 10);
  if (value > INT_MAX) return false;
  *id = static_cast<int>(value);
  return true;
}

// Without an end pointer, libsodium fails unless it converts all 64 digits: 32 bytes exactly.
bool parse_key(const std::string& word, KeyringKey* key) {
  return word.size() == kHexDigits &&
         sodium_hex2bin(key->data(), key->size(), word.c_str(), word.size(), nullptr, nullptr, nullptr) == 0;
}

}  // namespace

std::string keyring_path() {
  const char* env = std::getenv("KAVO_KEYRING");
  if (env != nullptr && *env != '\0') return env;
  return GlobalPathCfg::get(0) + "/config/kavo.keyring";
}

bool keyring_find(int keyId, KeyringKey* key, std::string* error) {
  const std::string path = keyring_path();
  std::string text;
  if (!read_private_file(path, &text, error)) return false;
  std::istringstream lines(text);
  std::map<int, int> seen;  // key id -> line number
  bool found = false;
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string idWord, keyWord, extra;
    if (!(words >> idWord)) continue;  // blank or comment
    int id = -1;
    KeyringKey parsed;
    if (!(words >> keyWord) || (words >> extra) || !parse_id(idWord, &id) || !parse_key(keyWord, &parsed)) {
      *error =
          "keyring " + path + " line " + std::to_string(number) + ": expected \"<key id> <64 hex digits>\"";
      return false;
    }
    auto previous = seen.emplace(id, number);
    if (!previous.second) {
      *error = "keyring " + path + " line " + std::to_string(number) + ": key id " + std::to_string(id) +
               " repeats line " + std::to_string(previous.first->second);
      return false;
    }
    if (id == keyId) {
      *key = parsed;
      found = true;
    }
  }
  if (!found) *error = "keyring " + path + " has no key id " + std::to_string(keyId);
  return found;
}

std::string keyring_new_line(int keyId) {
  CHECK_GE(keyId, 0) << "key ids are not negative";
  CHECK_GE(sodium_init(), 0) << "libsodium cannot start";
  KeyringKey key;
  crypto_aead_xchacha20poly1305_ietf_keygen(key.data());
  char hex[kHexDigits + 1];
  sodium_bin2hex(hex, sizeof(hex), key.data(), key.size());
  return std::to_string(keyId) + " " + hex;
}
