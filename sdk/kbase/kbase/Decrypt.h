// Symmetric model and configuration encryption of the base library.
// Format: the 8-byte magic "KAVOENC1" followed by the payload XOR-ed with a keystream derived
// from the key id. It hides files from casual reading; it is not meant to resist an attacker.
#pragma once

#include <string>

// Decrypts `data` with key `keyId`; `flag` must be 0. Returns an empty string (and logs an ERROR)
// when `data` is not in the format above.
std::string kavo_sym_decrypt(const std::string& data, int keyId, int flag);
// The inverse, for tools that prepare encrypted files.
std::string kavo_sym_encrypt(const std::string& data, int keyId);
