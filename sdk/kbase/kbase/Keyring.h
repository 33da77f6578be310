// The keyring of the base library: the keys of sealed models and configuration files (Decrypt.h),
// by key id, in a private text file.
//
// Format: one key per line, "<key id> <key>": a decimal key id from 0 to 2147483647 and the 32-byte
// key as 64 hexadecimal digits, separated by blanks. '#' starts a comment that runs to the end of the
// line; blank lines are ignored. A malformed line or a key id given twice makes the whole keyring
// unusable. The file must be private to its owner (mode 0600 or 0400): one that group or others
// may read, write or execute is refused.
#pragma once

#include <array>
#include <string>

using KeyringKey = std::array<unsigned char, 32>;

// The keyring file: $KAVO_KEYRING when it is set and not empty, else
// <installation root>/config/kavo.keyring (GlobalPathCfg::get(0)).
std::string keyring_path();

// Looks `keyId` up in the keyring at keyring_path(), read afresh on every call. True with the key
// in `key`; false with `error` naming the keyring file and, when the file itself is usable, the key
// id: the file cannot be read, is not private, has a malformed or repeated line, or lacks the id.
// Thread-safe.
bool keyring_find(int keyId, KeyringKey* key, std::string* error);

// A new keyring line (without newline) for `keyId` >= 0 with a fresh random key.
std::string keyring_new_line(int keyId);
