// The model compiler: compiled files are what the IPU stand-in reads (the same bytes as the test
// writer makes), sealed ones open only with their key, and bad arguments fail with a status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "kbase/Decrypt.h"
#include "mi/MiIpuModel.h"

namespace {

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

  ASSERT_EQ(modelc("seal " + out + " " + out + ".sealed 7"), 0);
  EXPECT_EQ(kavo_sym_decrypt(read_bytes(out + ".sealed"), 7, 0), compiled);
  EXPECT_NE(kavo_sym_decrypt(read_bytes(out + ".sealed"), 8, 0), compiled);

  EXPECT_EQ(modelc("compile " + onnx + " - " + out), 1);  // no recipe
  EXPECT_EQ(modelc("seal " + out + " " + out + ".sealed x"), 2);
  unlink(out.c_str());
  unlink((out + ".sealed").c_str());
}

}  // namespace
