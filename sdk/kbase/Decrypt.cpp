#include "kbase/Decrypt.h"

#include <glog/logging.h>
#include <sodium.h>

#include <algorithm>
#include <cstdint>

#include "kbase/Keyring.h"

namespace {

constexpr char kMagic[] = "KAVOSEAL";
constexpr size_t kMagicBytes = sizeof(kMagic) - 1;
constexpr unsigned char kVersion = 1;
constexpr size_t kVersionAt = kMagicBytes;
constexpr size_t kKeyIdAt = kVersionAt + 1;
constexpr size_t kNonceAt = kKeyIdAt + 4;
constexpr size_t kHeaderBytes = kNonceAt + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
static_assert(kHeaderBytes == 37 && kTagBytes == 16, "the layout documented in Decrypt.h");

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
unsigned char* bytes(std::string* s) { return reinterpret_cast<unsigned char*>(&(*s)[0]); }

uint32_t get_le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool fetch_key(int keyId, KeyringKey* key, std::string* error) {
  if (!sodium_ready()) {
    *error = "libsodium cannot start";
    return false;
  }
  return keyring_find(keyId, key, error);  // knows no negative id
}

bool failed(int keyId, const std::string& why, std::string* error) {
  *error = "key id " + std::to_string(keyId) + ": " + why;
  return false;
}

}  // namespace

bool kavo_sym_open(const std::string& data, int keyId, std::string* out, std::string* error) {
  const size_t head = std::min(data.size(), kMagicBytes);
  if (data.empty() || data.compare(0, head, kMagic, head) != 0) {
    return failed(keyId, "not a sealed file (no \"KAVOSEAL\" magic)", error);
  }
  if (data.size() < kHeaderBytes + kTagBytes) {
    return failed(keyId,
                  "truncated sealed file: " + std::to_string(data.size()) + " bytes, at least " +
                      std::to_string(kHeaderBytes + kTagBytes) + " expected",
                  error);
  }
  const unsigned version = static_cast<unsigned char>(data[kVersionAt]);
  if (version != kVersion) {
    return failed(keyId, "unknown sealed format version " + std::to_string(version), error);
  }
  const uint32_t sealedId = get_le32(data, kKeyIdAt);
  if (sealedId != static_cast<uint32_t>(keyId)) {
    return failed(keyId, "the file is sealed with key id " + std::to_string(sealedId), error);
  }
  KeyringKey key;
  std::string why;
  if (!fetch_key(keyId, &key, &why)) return failed(keyId, why, error);
  std::string plain(data.size() - kHeaderBytes - kTagBytes, '\0');
  unsigned long long plainBytes = 0;
  const int ret = crypto_aead_xchacha20poly1305_ietf_decrypt(
      bytes(&plain), &plainBytes, nullptr, bytes(data) + kHeaderBytes, data.size() - kHeaderBytes,
      bytes(data), kHeaderBytes, bytes(data) + kNonceAt, key.data());
  if (ret != 0) {
    return failed(keyId, "authentication failed: another key, or the file was changed or cut", error);
  }
  *out = std::move(plain);
  return true;
}

bool kavo_sym_seal(const std::string& data, int keyId, std::string* out, std::string* error) {
  KeyringKey key;
  std::string why;
  if (!fetch_key(keyId, &key, &why)) return failed(keyId, why, error);
  std::string sealed(kHeaderBytes + data.size() + kTagBytes, '\0');
  sealed.replace(0, kMagicBytes, kMagic, kMagicBytes);
  sealed[kVersionAt] = static_cast<char>(kVersion);
  for (int i = 0; i < 4; ++i)
    sealed[kKeyIdAt + i] = static_cast<char>((static_cast<uint32_t>(keyId) >> (8 * i)) & 0xFF);
  randombytes_buf(bytes(&sealed) + kNonceAt, crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
  unsigned long long sealedBytes = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(bytes(&sealed) + kHeaderBytes, &sealedBytes, bytes(data),
                                             data.size(), bytes(sealed), kHeaderBytes, nullptr,
                                             bytes(sealed) + kNonceAt, key.data());
  *out = std::move(sealed);
  return true;
}

std::string kavo_sym_decrypt(const std::string& data, int keyId, int flag) {
  std::string plain;
  std::string error;
  const bool ok = flag == 0 ? kavo_sym_open(data, keyId, &plain, &error)
                            : failed(keyId, "unsupported flag " + std::to_string(flag), &error);
  if (!ok) {
    LOG(ERROR) << "kavo_sym_decrypt: " << error;
    return std::string();
  }
  return plain;
}

std::string kavo_sym_encrypt(const std::string& data, int keyId) {
  std::string sealed;
  std::string error;
  if (!kavo_sym_seal(data, keyId, &sealed, &error)) {
    LOG(ERROR) << "kavo_sym_encrypt: " << error;
    return std::string();
  }
  return sealed;
}
