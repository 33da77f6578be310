// The model compiler: compiled files are what the IPU stand-in reads (the same bytes as the test
// writer makes), sealed ones open only with their key, generated keys make keyrings, and bad
// arguments fail with a status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "kbase/Decrypt.h"
#include "mi/MiIpuModel.h"
#include "testing/TestKeyring.h"

namespace {

const std::string kKeyring = use_test_keyring();  // the tool inherits KAVO_KEYRING

int modelc(const std::string& args) {
  int status = std::system((std::string(KAVO_MODELC) + " " + args + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModelcTest, CompilesTheBundledModelAndSealsFiles) {
  const std::string recipe = KAVO_SOURCE_DIR "/data/models/blazeface_front_128.recipe.json";
  const std::string onnx = KAVO_SOURCE_DIR "/data/models/blazeface_front_128.onnx";
  const std::string out = ::testing::TempDir() + "modelc_" + std::to_string(getpid());
  ASSERT_EQ(modelc("compile " + recipe + " " + onnx + " " + out), 0);
  const std::string compiled = read_bytes(out);
  EXPECT_EQ(compiled, ipu_model_bytes(nlohmann::json::parse(read_bytes(recipe)), read_bytes(onnx)));
  EXPECT_EQ(read_bytes(KAVO_BUILT_MODEL), compiled);

  ASSERT_EQ(modelc("seal " + out + " " + out + ".sealed 7"), 0);  // with the test keyring
  EXPECT_EQ(kavo_sym_decrypt(read_bytes(out + ".sealed"), 7, 0), compiled);

  // Generated key lines make a keyring of their own.
  const std::string keyring = write_keyring("generated", "");
  ASSERT_EQ(modelc("keygen 2147483647 > " + keyring + " && " KAVO_MODELC " keygen 1 >> " + keyring), 0);
  const std::string lines = read_bytes(keyring);
  EXPECT_NE(lines.substr(11, 64), lines.substr(78, 64)) << "fresh keys: " << lines;
  setenv("KAVO_KEYRING", keyring.c_str(), 1);
  ASSERT_EQ(modelc("seal " + out + " " + out + ".sealed 2147483647"), 0);
  EXPECT_EQ(kavo_sym_decrypt(read_bytes(out + ".sealed"), 2147483647, 0), compiled);

  EXPECT_EQ(modelc("compile " + onnx + " - " + out), 1);  // no recipe
  for (const char* bad : {"seal a b -1", "seal a b 2147483648", "keygen", "keygen x"})
    EXPECT_EQ(modelc(bad), 2);
  unlink(out.c_str());
  unlink((out + ".sealed").c_str());
}

}  // namespace
