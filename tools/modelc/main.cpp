// kavo_modelc: makes compiled model files for the IPU and seals files.
//   kavo_modelc compile <recipe.json> <payload file or -> <out>
//     writes the magic "KAVOIPU1", the header and payload lengths (unsigned 32-bit little-endian),
//     the recipe (the model header: tensors, variable buffer size, executor and parameters) and the
//     payload (for the onnx executor, the ONNX file; "-" for none).
//   kavo_modelc seal <in> <out> <key id>
//     writes <in> encrypted with the base library's model encryption under <key id>.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "kbase/Decrypt.h"

namespace {

bool read_file(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return true;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

void put_le32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

int usage() {
  std::cerr << "usage: kavo_modelc compile <recipe.json> <payload|-> <out>\n"
               "       kavo_modelc seal <in> <out> <key id>\n";
  return 2;
}

int compile(const std::string& recipePath, const std::string& payloadPath, const std::string& outPath) {
  std::string recipe;
  std::string payload;
  if (!read_file(recipePath, &recipe)) {
    std::cerr << "kavo_modelc: cannot read " << recipePath << "\n";
    return 1;
  }
  if (payloadPath != "-" && !read_file(payloadPath, &payload)) {
    std::cerr << "kavo_modelc: cannot read " << payloadPath << "\n";
    return 1;
  }
  nlohmann::json header = nlohmann::json::parse(recipe, nullptr, false);
  if (header.is_discarded() || !header.is_object() || !header.contains("inputs") ||
      !header.contains("outputs") || !header.contains("executor")) {
    std::cerr << "kavo_modelc: " << recipePath << " is no model recipe (inputs, outputs, executor)\n";
    return 1;
  }
  const std::string text = header.dump();
  std::string out = "KAVOIPU1";
  put_le32(&out, static_cast<std::uint32_t>(text.size()));
  put_le32(&out, static_cast<std::uint32_t>(payload.size()));
  out += text;
  out += payload;
  if (!write_file(outPath, out)) {
    std::cerr << "kavo_modelc: cannot write " << outPath << "\n";
    return 1;
  }
  return 0;
}

int seal(const std::string& inPath, const std::string& outPath, const std::string& keyId) {
  std::string data;
  char* end = nullptr;
  const long key = std::strtol(keyId.c_str(), &end, 10);
  if (keyId.empty() || *end != '\0' || key < 0) return usage();
  if (!read_file(inPath, &data)) {
    std::cerr << "kavo_modelc: cannot read " << inPath << "\n";
    return 1;
  }
  if (!write_file(outPath, kavo_sym_encrypt(data, static_cast<int>(key)))) {
    std::cerr << "kavo_modelc: cannot write " << outPath << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return usage();
  const std::string command = argv[1];
  if (command == "compile") return compile(argv[2], argv[3], argv[4]);
  if (command == "seal") return seal(argv[2], argv[3], argv[4]);
  return usage();
}
