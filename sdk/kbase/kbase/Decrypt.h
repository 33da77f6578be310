// Sealed models and configuration files of the base library: authenticated encryption with
// XChaCha20-Poly1305 (libsodium's crypto_aead_xchacha20poly1305_ietf) under a key of the keyring
// (kbase/Keyring.h). A sealed file is 53 bytes longer than its contents:
//   offset  bytes  field
//   0       8      magic "KAVOSEAL"
//   8       1      format version, 1
//   9       4      key id, unsigned 32-bit little-endian
//   13      24     nonce, random for every sealing
//   37      n+16   the n content bytes encrypted, then the 16-byte authentication tag
// The 37 header bytes are authenticated as associated data: a changed byte anywhere, a cut file or
// another key makes opening fail; unauthenticated bytes are never returned.
#pragma once

#include <string>

// Opens sealed `data` with key `keyId` of the keyring; `flag` must be 0. Returns the contents, or an
// empty string after logging an ERROR that names the key id and the reason (not sealed, truncated,
// sealed under another key id, wrong key or changed bytes, keyring unusable or without the key).
// Sealed empty contents also give an empty string: kavo_sym_open tells the two apart.
std::string kavo_sym_decrypt(const std::string& data, int keyId, int flag);
// Seals `data` with key `keyId` of the keyring. Returns the sealed bytes, never empty, or an empty
// string after logging an ERROR (the keyring is unusable or has no key `keyId`).
std::string kavo_sym_encrypt(const std::string& data, int keyId);

// The two above with the reason handed back instead of logged: true with the result in `out`; false
// with `error` naming the key id and why, and `out` unchanged.
bool kavo_sym_open(const std::string& data, int keyId, std::string* out, std::string* error);
bool kavo_sym_seal(const std::string& data, int keyId, std::string* out, std::string* error);
