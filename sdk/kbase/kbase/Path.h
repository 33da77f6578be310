// Installation paths of the base library.
#pragma once

#include <string>

// Thread-safe.
class GlobalPathCfg {
 public:
  // Index 0 is the installation root: set() wins, then KAVO_ROOT, then the directory above the
  // running executable's folder. Other indices are fatal.
  static std::string get(int index);
  static void set(int index, const std::string& path);
};

namespace helper {
// True when `path` names an existing file or directory.
bool path_exists(const std::string& path);
}  // namespace helper
