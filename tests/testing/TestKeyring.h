// Keyrings for the tests of sealed files: files of known keys in the test temporary directory, named
// per process (ctest runs the tests of one executable in parallel processes).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

// A keyring line for `id` whose key is 64 times the hex digit `digit` ('a': 32 bytes 0xaa).
inline std::string key_line(long long id, char digit) {
  return std::to_string(id) + " " + std::string(64, digit) + "\n";
}

// Writes `text` as the keyring file `name` with `mode`; returns its path.
inline std::string write_keyring(const std::string& name, const std::string& text, mode_t mode = 0600) {
  const std::string path = ::testing::TempDir() + "keyring_" + std::to_string(getpid()) + "_" + name;
  std::ofstream(path, std::ios::trunc) << text;
  chmod(path.c_str(), mode);
  return path;
}

// Points KAVO_KEYRING at a keyring of the keys 3, 5, 7, 42 and 0x01020304 (bytes 0x33, 0x55, 0x77,
// 0xaa, 0x44) and returns its path. Call from a namespace-scope initialiser, before anything is sealed.
inline std::string use_test_keyring() {
  const std::string path = write_keyring("test", key_line(3, '3') + key_line(5, '5') + key_line(7, '7') +
                                                     key_line(42, 'a') + key_line(0x01020304, '4'));
  setenv("KAVO_KEYRING", path.c_str(), 1);
  return path;
}
