// kavo_modelc: makes compiled model files for the IPU and seals files.
//   kavo_modelc compile <recipe.json> <payload file or -> <out>
//     writes the magic "KAVOIPU1", the header and payload lengths (unsigned 32-bit little-endian),
//     the recipe (the model header: tensors, variable buffer size, executor and parameters) and the
//     payload (for the onnx executor, the ONNX file; "-" for none).
//   kavo_modelc seal <in> <out> <key id>
//     writes <in> sealed (kbase/Decrypt.h) with key <key id> of the keyring (kbase/Keyring.h:
//     $KAVO_KEYRING, else <installation root>/config/kavo.keyring).
//   kavo_modelc keygen <key id>
//     prints a keyring line with a new random key for <key id>.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "kbase/Decrypt.h"
#include "kbase/Keyring.h"

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
               "       kavo_modelc seal <in> <out> <key id>\n"
               "       kavo_modelc keygen <key id>\n";
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

// A key id: decimal, 0 to INT_MAX; -1 for anything else.
int parse_key_id(const std::string& text) {
  char* end = nullptr;
  const long long key = std::strtoll(text.c_str(), &end, 10);
  const bool ok = !text.empty() && text[0] != '-' && *end == '\0' && key <= INT_MAX;
  return ok ? static_cast<int>(key) : -1;
}

int seal(const std::string& inPath, const std::string& outPath, const std::string& keyText) {
  const int keyId = parse_key_id(keyText);
  if (keyId < 0) return usage();
  std::string data;
  if (!read_file(inPath, &data)) {
    std::cerr << "kavo_modelc: cannot read " << inPath << "\n";
    return 1;
  }
  std::string sealed;
  std::string error;
  if (!kavo_sym_seal(data, keyId, &sealed, &error)) {
    std::cerr << "kavo_modelc: cannot seal " << inPath << " with " << error << "\n";
    return 1;
  }
  if (!write_file(outPath, sealed)) {
    std::cerr << "kavo_modelc: cannot write " << outPath << "\n";
    return 1;
  }
  return 0;
}

int keygen(const std::string& keyText) {
  const int keyId = parse_key_id(keyText);
  if (keyId < 0) return usage();
  std::cout << keyring_new_line(keyId) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "compile" && argc == 5) return compile(argv[2], argv[3], argv[4]);
  if (command == "seal" && argc == 5) return seal(argv[2], argv[3], argv[4]);
  if (command == "keygen" && argc == 3) return keygen(argv[2]);
  return usage();
}
