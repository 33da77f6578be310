// Whole-file reading and writing of the base library. Failures are reported to the caller.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace filebuffer {
// The whole file, shared; an empty pointer when it cannot be read.
std::shared_ptr<const std::string> read(const std::string& path);

// Whole-file read into `bytes` (replacing its contents). False when the file cannot be read;
// `verbose` logs the reason at WARNING.
template <typename T>
bool read(const std::string& path, T& bytes, bool verbose);
// Writes `bytes` as the whole file. False on failure; `verbose` logs the reason at WARNING.
template <typename T>
bool write(const std::string& path, const T& bytes, bool verbose);

extern template bool read<std::vector<unsigned char>>(const std::string&, std::vector<unsigned char>&, bool);
extern template bool write<std::vector<unsigned char>>(const std::string&, const std::vector<unsigned char>&,
                                                       bool);
extern template bool read<std::string>(const std::string&, std::string&, bool);
extern template bool write<std::string>(const std::string&, const std::string&, bool);
}  // namespace filebuffer
