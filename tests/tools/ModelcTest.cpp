// The model compiler: compiled files are what the IPU stand-in reads (the same bytes as the test
// writer makes), sealed ones open only with their key, and bad arguments fail with a status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "kbase/Decrypt.h"
#include "mi/MiIpuModel.h"
#include "mi/MiTestUtil.h"
#include "mi_ipu.h"

namespace {

const bool kPrivateArena = use_private_arena("ModelcTest");

int modelc(const std::string& args) {
  int status = std::system((std::string(KAVO_MODELC) + " " + args + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

MI_U32 variable_size(const std::string& path) {
  MI_IPU_OfflineModelStaticInfo_t info{};
  EXPECT_EQ(MI_IPU_GetOfflineModeStaticInfo(nullptr, path.c_str(), &info), MI_SUCCESS);
  return info.u32VariableBufferSize;
}

TEST(ModelcTest, CompilesTheBundledModelAndSealsFiles) {
  ASSERT_TRUE(kPrivateArena);
  const std::string recipe = KAVO_SOURCE_DIR "/data/models/blazeface_front_128.recipe.json";
  const std::string onnx = KAVO_SOURCE_DIR "/data/models/blazeface_front_128.onnx";
  const std::string out = ::testing::TempDir() + "modelc_" + std::to_string(getpid());
  ASSERT_EQ(modelc("compile " + recipe + " " + onnx + " " + out), 0);
  const std::string compiled = read_bytes(out);
  EXPECT_EQ(compiled, ipu_model_bytes(nlohmann::json::parse(read_bytes(recipe)), read_bytes(onnx)));
  EXPECT_EQ(read_bytes(KAVO_BUILT_MODEL), compiled);
  EXPECT_EQ(variable_size(out), 1048576u);

  ASSERT_EQ(modelc("seal " + out + " " + out + ".sealed 7"), 0);
  EXPECT_EQ(variable_size(out + ".sealed"), 0u);  // the stand-in cannot read a sealed header
  EXPECT_EQ(kavo_sym_decrypt(read_bytes(out + ".sealed"), 7, 0), compiled);
  EXPECT_NE(kavo_sym_decrypt(read_bytes(out + ".sealed"), 8, 0), compiled);

  EXPECT_EQ(modelc("compile " + onnx + " - " + out), 1);  // no recipe
  EXPECT_EQ(modelc("compile " + recipe + " /nonexistent " + out), 1);
  EXPECT_EQ(modelc("seal " + out + " " + out + ".sealed x"), 2);
  EXPECT_EQ(modelc("link a b c"), 2);
  unlink(out.c_str());
  unlink((out + ".sealed").c_str());
}

}  // namespace
