// Tests of MI_IPU in the platform SDK stand-in: device, model files, tensor descriptors and the
// refusals of an invocation. Static model information, missing firmware, the read callback and the
// copy and checksum executors are tested through the network channel in KavoIpuNetworkTest.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "mi/MiIpuModel.h"
#include "mi/MiTestUtil.h"
#include "mi_ipu.h"

namespace {

const bool kPrivateArena = use_private_arena("MiIpuTest");

std::string temp_path(const std::string& name) {
  return ::testing::TempDir() + "mi_ipu_" + std::to_string(getpid()) + "_" + name;
}

MI_IPU_DevAttr_t dev_attr(MI_U32 maxVariable) { return MI_IPU_DevAttr_t{maxVariable, 16, 2, 16}; }

// Opens a channel on the model file `path`.
MI_S32 create_chn(const std::string& path, MI_IPU_CHN* chn) {
  MI_IPU_ChnAttr_t attr{0, 0};
  return MI_IPU_CreateCHN(chn, &attr, nullptr, const_cast<char*>(path.c_str()));
}

// Opens a channel on a model file holding `bytes`.
MI_S32 create_chn_on(const std::string& bytes, MI_IPU_CHN* chn) {
  const std::string path = temp_path("model");
  write_bytes(path, bytes);
  MI_S32 ret = create_chn(path, chn);
  unlink(path.c_str());
  return ret;
}

class MiIpuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPrivateArena);
    firmware_ = temp_path("fw");
    write_bytes(firmware_, "firmware");
    MI_IPU_DevAttr_t attr = dev_attr(0x10000);
    MI_S32 ret = MI_IPU_CreateDevice(&attr, nullptr, nullptr, firmware_.c_str());
    ASSERT_TRUE(ret == MI_SUCCESS || ret == MI_ERR_IPU_EXIST);
  }
  void TearDown() override { unlink(firmware_.c_str()); }

  // Opens a channel on a model with the given executor and tensors.
  MI_IPU_CHN open(const std::string& executor, const nlohmann::json& inputs, const nlohmann::json& outputs,
                  const nlohmann::json& params = nlohmann::json::object()) {
    MI_IPU_CHN chn = 0;
    EXPECT_EQ(create_chn_on(ipu_model_bytes({{"variableBufferSize", 4096},
                                             {"inputs", inputs},
                                             {"outputs", outputs},
                                             {"executor", executor},
                                             {"params", params}}),
                            &chn),
              MI_SUCCESS);
    return chn;
  }

  std::string firmware_;
};

TEST_F(MiIpuTest, DeviceNeedsItsFirmwareAndExistsOnce) {
  ASSERT_EQ(MI_IPU_DestroyDevice(), MI_SUCCESS);
  EXPECT_EQ(MI_IPU_DestroyDevice(), MI_ERR_IPU_UNEXIST);
  MI_IPU_CHN chn = 0;
  EXPECT_EQ(create_chn(firmware_, &chn), MI_ERR_IPU_NOTREADY);
  MI_IPU_DevAttr_t attr = dev_attr(0x10000), zero = dev_attr(0);
  EXPECT_EQ(MI_IPU_CreateDevice(&zero, nullptr, nullptr, firmware_.c_str()), MI_ERR_IPU_ILLEGAL_PARAM);
  EXPECT_EQ(MI_IPU_CreateDevice(&attr, nullptr, nullptr, firmware_.c_str()), MI_SUCCESS);
  EXPECT_EQ(MI_IPU_CreateDevice(&attr, nullptr, nullptr, firmware_.c_str()), MI_ERR_IPU_EXIST);
}

TEST_F(MiIpuTest, ChannelDescribesItsTensors) {
  nlohmann::json padded = ipu_tensor("conf", 2, {1, 3, 5});
  padded["innerMostStride"] = 16;
  MI_IPU_CHN chn = open("zeros", nlohmann::json::array({ipu_tensor("image", 1, {1, 720, 1280, 3})}),
                        {padded, ipu_tensor("f", 5, {2, 7})});
  MI_IPU_InOutDesc_t desc{};
  ASSERT_EQ(MI_IPU_GetInOutTensorDesc(chn, &desc), MI_SUCCESS);
  ASSERT_EQ(desc.u32OutputTensorCount, 2u);
  EXPECT_EQ(desc.astInputTensorDescs[0].u32AlignedBufSize, 1382400u);  // 720 x 1280 x 3 / 2
  EXPECT_EQ(desc.astOutputTensorDescs[0].u32AlignedBufSize, 48u);      // 3 rows of 16 bytes
  EXPECT_EQ(desc.astOutputTensorDescs[1].u32AlignedBufSize, 56u);      // 2 rows of 7 floats
  EXPECT_EQ(MI_IPU_DestroyCHN(chn), MI_SUCCESS);
  EXPECT_EQ(MI_IPU_GetInOutTensorDesc(chn, &desc), MI_ERR_IPU_UNEXIST);
}

TEST_F(MiIpuTest, ChannelRefusesModelsItCannotRun) {
  const nlohmann::json in = nlohmann::json::array({ipu_tensor("in", 0, {4})});
  const nlohmann::json base = {
      {"variableBufferSize", 4096}, {"inputs", in}, {"outputs", in}, {"executor", "zeros"}};
  auto with = [&](const char* key, nlohmann::json value) {
    nlohmann::json h = base;
    h[key] = std::move(value);
    return ipu_model_bytes(h);
  };
  const std::string full = ipu_model_bytes(base, "abc");
  const struct {
    const char* name;
    std::string bytes;
    MI_S32 ret;
  } rows[] = {
      {"control: the base model opens", full, MI_SUCCESS},
      {"not a model", "KAVOENC1 sealed bytes", MI_ERR_IPU_NOT_SUPPORT},
      {"unknown executor", with("executor", "magic"), MI_ERR_IPU_NOT_SUPPORT},
      {"format beyond the enumeration", with("inputs", nlohmann::json::array({ipu_tensor("in", 54, {4})})),
       MI_ERR_IPU_NOT_SUPPORT},
      {"fraction for an integer", with("inputs", {{{"name", "in"}, {"format", 0}, {"shape", {4.5}}}}),
       MI_ERR_IPU_NOT_SUPPORT},
      {"zero dimension", with("inputs", nlohmann::json::array({ipu_tensor("in", 0, {4, 0})})),
       MI_ERR_IPU_NOT_SUPPORT},
      {"payload longer than one read", ipu_model_bytes(base, std::string((1 << 20) + 1, 'p')), MI_SUCCESS},
      {"truncated payload", full.substr(0, full.size() - 1), MI_ERR_IPU_UNEXIST},
      {"payload length of 1 GiB", full.substr(0, 12) + std::string("\0\0\0\x40", 4) + full.substr(16),
       MI_ERR_IPU_UNEXIST},
      {"variable buffer over the device's", with("variableBufferSize", 0x10001), MI_ERR_IPU_NOMEM},
      {"a constant output of 1 GiB opens unreserved",
       ipu_model_bytes(nlohmann::json::parse(
           R"({"executor": "constant", "params": {"value": 1}, "inputs": [], "outputs": [{"name": "o", "format": 0, "shape": [1073741824]}]})")),
       MI_SUCCESS},
  };
  auto max_rss_kb = [u = rusage{}]() mutable { return getrusage(RUSAGE_SELF, &u) == 0 ? u.ru_maxrss : 0L; };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    MI_IPU_CHN chn = 0;
    const long rssKb = max_rss_kb();
    EXPECT_EQ(create_chn_on(row.bytes, &chn), row.ret);
    EXPECT_LT(max_rss_kb() - rssKb, 64 * 1024) << "the lengths in a file reserve no memory before its bytes";
  }
}

TEST_F(MiIpuTest, InvokeRefusesBadTensorsWithoutTouchingTheOutputs) {
  // The output needs 8192 bytes: one page more than the small block holds.
  MI_IPU_CHN chn = open("constant", nlohmann::json::array({ipu_tensor("in", 0, {16})}),
                        nlohmann::json::array({ipu_tensor("out", 2, {2, 4096 / 2})}), {{"value", 1e10}});
  TestBlock input(4096), output(8192), small(4096);
  MI_PHY freed = TestBlock(4096).phy();
  auto vec = [](MI_U32 count, MI_PHY phy) {
    MI_IPU_TensorVector_t v{};
    v.u32TensorCount = count;
    v.astArrayTensors[0].phyAddr = phy;
    return v;
  };
  struct {
    const char* name;
    MI_IPU_TensorVector_t in;
    MI_IPU_TensorVector_t out;
    MI_S32 ret;
  } rows[] = {
      {"no inputs", vec(0, input.phy()), vec(1, output.phy()), MI_ERR_IPU_ILLEGAL_PARAM},
      {"two outputs", vec(1, input.phy()), vec(2, output.phy()), MI_ERR_IPU_ILLEGAL_PARAM},
      {"input below the arena", vec(1, 0x1000), vec(1, output.phy()), MI_ERR_IPU_UNEXIST},
      {"input in a freed block", vec(1, freed), vec(1, output.phy()), MI_ERR_IPU_UNEXIST},
      {"input running past its block", vec(1, input.phy() + 4088), vec(1, output.phy()), MI_ERR_IPU_UNEXIST},
      {"output block too small", vec(1, input.phy()), vec(1, small.phy()), MI_ERR_IPU_UNEXIST},
      {"output starting inside its block", vec(1, input.phy()), vec(1, output.phy() + 1), MI_ERR_IPU_UNEXIST},
  };
  std::memset(output.data(), 0x55, 8192);
  std::memset(small.data(), 0x55, 4096);
  for (auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(MI_IPU_Invoke(chn, &row.in, &row.out), row.ret);
  }
  EXPECT_EQ(output.data()[0], 0x55);
  EXPECT_EQ(small.data()[0], 0x55);
  MI_IPU_TensorVector_t in = vec(1, input.phy()), out = vec(1, output.phy());
  EXPECT_EQ(MI_IPU_Invoke(chn + 1000, &in, &out), MI_ERR_IPU_UNEXIST);
  EXPECT_EQ(MI_IPU_Invoke(chn, &in, &out), MI_SUCCESS);
  EXPECT_EQ(output.data()[0], 0xFF);  // 1e10 saturates to the largest INT16, 0x7FFF
  EXPECT_EQ(output.data()[8191], 0x7F);
  EXPECT_EQ(MI_IPU_DestroyCHN(chn), MI_SUCCESS);
}

}  // namespace
