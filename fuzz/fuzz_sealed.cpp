// Sealed files: kavo_sym_decrypt over arbitrary bytes (truncated, flipped, wrong key) and
// DatabaseJsonMem::load of a sealed configuration file. Both must refuse what they cannot open,
// never stop. Input: 1 byte key id selector, 1 byte flag selector, then the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzCommon.h"
#include "kbase/Decrypt.h"

namespace {
std::string gPath;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  const char* dir = std::getenv("TMPDIR");
  gPath = std::string(dir && *dir ? dir : "/tmp") + "/kavo-fuzz-sealed-" + std::to_string(getpid()) + ".json";
  std::atexit([] { std::remove(gPath.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Key ids around the ones the tools use, and a few far away (negative, huge).
  const int keyIds[8] = {0, 1, 3, 5, 7, 42, -1, 0x7fffffff};
  const int keyId = keyIds[data[0] & 7];
  const int flag = (data[1] & 0xf0) == 0xf0 ? data[1] & 0x0f : 0;  // mostly the flag callers pass
  const std::string file(reinterpret_cast<const char*>(data) + 2, size - 2);

  if (flag != 0) CHECK(kavo_sym_decrypt(file, keyId, flag).empty());
  const std::string plain = kavo_sym_decrypt(file, keyId, 0);

  {
    std::ofstream out(gPath, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
  }
  DatabaseJsonMem db;
  const bool loaded = db.load(gPath, true, keyId);
  if (!loaded) CHECK(!db.error().empty());
  if (!plain.empty()) {
    // load opens the file as decrypt does: the configuration follows the decrypted text.
    DatabaseJsonMem direct;
    CHECK_EQ(loaded, direct.load_text(plain));
  }
  return 0;
}
