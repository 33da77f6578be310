#include "kbase/Decrypt.h"

#include <glog/logging.h>

#include <cstdint>

namespace {
constexpr char kMagic[] = "KAVOENC1";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;

// splitmix64: a cheap, well-mixed keystream seeded by the key id.
class KeyStream {
 public:
  explicit KeyStream(int keyId) : state_(0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(static_cast<uint32_t>(keyId))) {}
  uint8_t next() {
    if (left_ == 0) {
      uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word_ = z ^ (z >> 31);
      left_ = 8;
    }
    uint8_t b = static_cast<uint8_t>(word_);
    word_ >>= 8;
    --left_;
    return b;
  }

 private:
  uint64_t state_;
  uint64_t word_ = 0;
  int left_ = 0;
};

std::string apply(const char* data, size_t size, int keyId) {
  std::string out(data, size);
  KeyStream ks(keyId);
  for (char& c : out) c = static_cast<char>(static_cast<uint8_t>(c) ^ ks.next());
  return out;
}
}  // namespace

std::string kavo_sym_decrypt(const std::string& data, int keyId, int flag) {
  if (flag != 0) {
    LOG(ERROR) << "kavo_sym_decrypt: unsupported flag " << flag;
    return std::string();
  }
  if (data.size() < kMagicSize || data.compare(0, kMagicSize, kMagic) != 0) {
    LOG(ERROR) << "kavo_sym_decrypt: the data is not encrypted (" << data.size() << " bytes)";
    return std::string();
  }
  return apply(data.data() + kMagicSize, data.size() - kMagicSize, keyId);
}

std::string kavo_sym_encrypt(const std::string& data, int keyId) {
  return std::string(kMagic, kMagicSize) + apply(data.data(), data.size(), keyId);
}
