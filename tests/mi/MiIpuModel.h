// Writes compiled model files for the IPU stand-in in tests: the magic "KAVOIPU1", the header and
// payload lengths (unsigned 32-bit little-endian), the JSON header, the payload.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

inline std::string ipu_model_bytes(const nlohmann::json& header, const std::string& payload = "") {
  const std::string h = header.dump();
  std::string out = "KAVOIPU1";
  for (uint32_t v : {static_cast<uint32_t>(h.size()), static_cast<uint32_t>(payload.size())}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  return out + h + payload;
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A tensor descriptor of the model header (format codes: 0 U8, 1 NV12, 2 INT16, 3 INT32, 5 FP32).
inline nlohmann::json ipu_tensor(const std::string& name, int format, std::vector<uint32_t> shape) {
  return {{"name", name}, {"format", format}, {"shape", shape}};
}
