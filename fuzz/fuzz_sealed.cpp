// Sealed files: kavo_sym_decrypt over arbitrary bytes (truncated, flipped, wrong key) and
// DatabaseJsonMem::load of a sealed configuration file. Both must refuse what they cannot open,
// never stop. Input: 1 byte key id selector, 1 byte flag selector, then the file.
#include <sys/stat.h>
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
std::string gKeyring;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  const char* dir = std::getenv("TMPDIR");
  gPath = std::string(dir && *dir ? dir : "/tmp") + "/kavo-fuzz-sealed-" + std::to_string(getpid()) + ".json";
  // A private keyring with the development key 7 and a key 42, so sealed inputs reach the cipher.
  gKeyring = gPath + ".keyring";
  {
    std::ofstream ring(gKeyring);
    ring << "7 ce9d87e25875e3eda6e618f700376ad8f71466727765f22c8637fec39556adc8\n"
         << "42 " << std::string(64, 'a') << "\n";
  }
  chmod(gKeyring.c_str(), 0600);
  setenv("KAVO_KEYRING", gKeyring.c_str(), 1);
  std::atexit([] {
    std::remove(gPath.c_str());
    std::remove(gKeyring.c_str());
  });
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
