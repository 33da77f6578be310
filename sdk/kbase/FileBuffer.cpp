#include "kbase/FileBuffer.h"

#include <glog/logging.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace filebuffer {

template <typename T>
bool read(const std::string& path, T& bytes, bool verbose) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    LOG_IF(WARNING, verbose) << "cannot open " << path << ": " << std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) {
    LOG_IF(WARNING, verbose) << "cannot size " << path;
    return false;
  }
  T result(static_cast<size_t>(size), 0);
  if (size > 0 && !in.read(reinterpret_cast<char*>(&result[0]), size)) {
    LOG_IF(WARNING, verbose) << "cannot read " << path;
    return false;
  }
  bytes.swap(result);
  return true;
}

template <typename T>
bool write(const std::string& path, const T& bytes, bool verbose) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    LOG_IF(WARNING, verbose) << "cannot create " << path << ": " << std::strerror(errno);
    return false;
  }
  if (!bytes.empty()) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    LOG_IF(WARNING, verbose) << "cannot write " << path;
    return false;
  }
  return true;
}

template bool read<std::vector<unsigned char>>(const std::string&, std::vector<unsigned char>&, bool);
template bool write<std::vector<unsigned char>>(const std::string&, const std::vector<unsigned char>&, bool);
template bool read<std::string>(const std::string&, std::string&, bool);
template bool write<std::string>(const std::string&, const std::string&, bool);

std::shared_ptr<const std::string> read(const std::string& path) {
  auto contents = std::make_shared<std::string>();
  if (!read(path, *contents, false)) return nullptr;
  return contents;
}

}  // namespace filebuffer
