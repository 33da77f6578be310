#include "kbase/Path.h"

#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace {
std::mutex gRootMutex;  // guards gRoot
std::string gRoot;      // set by the application; empty until then

std::string parent_dir(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string executable_root() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  buf[n] = '\0';
  return parent_dir(parent_dir(buf));
}
}  // namespace

std::string GlobalPathCfg::get(int index) {
  CHECK_EQ(index, 0) << "GlobalPathCfg only knows the installation root (index 0)";
  std::lock_guard<std::mutex> lock(gRootMutex);
  if (!gRoot.empty()) return gRoot;
  const char* env = std::getenv("KAVO_ROOT");
  if (env && *env) return env;
  return executable_root();
}

void GlobalPathCfg::set(int index, const std::string& path) {
  CHECK_EQ(index, 0) << "GlobalPathCfg only knows the installation root (index 0)";
  std::lock_guard<std::mutex> lock(gRootMutex);
  gRoot = path;
}

namespace helper {
bool path_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}
}  // namespace helper
