// Tests of the IPU device start-up and the model channel: the device's variable buffer size, buffer
// copies bound to tensors, invocation on the copies the descriptors name, and the fatal checks with
// their messages (sealed models open through the network store in NetworkStoreTest).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kbase/Decrypt.h"
#include "mi/MiIpuModel.h"
#include "mi/MiTestUtil.h"
#include "mi_ipu.h"
#include "mi_test.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "nn/ssc/kavo_ipu_network.h"
#include "nn/ssc/kavo_mm.h"
#include "testing/TestKeyring.h"

namespace {

const bool kPrivateArena = use_private_arena("KavoIpuNetworkTest");
const std::string kKeyring = use_test_keyring();

std::string temp_path(const std::string& name) {
  return ::testing::TempDir() + "kavo_ipu_" + std::to_string(getpid()) + "_" + name;
}

// Writes a model file with one U8 input "in" and one U8 output "out" of shape 2 x 3 unless given.
std::string write_model(const std::string& name, const std::string& executor, unsigned variable = 4096,
                        nlohmann::json inputs = nlohmann::json::array({ipu_tensor("in", 0, {2, 3})})) {
  const std::string path = temp_path(name);
  write_bytes(path, ipu_model_bytes({{"variableBufferSize", variable},
                                     {"inputs", inputs},
                                     {"outputs", nlohmann::json::array({ipu_tensor("out", 0, {2, 3})})},
                                     {"executor", executor}}));
  return path;
}

KAVO_MODEL_CFG_S model_cfg(const std::string& file, uint32_t copies) { return {"NET", file, 0, copies}; }

const std::string& firmware() {
  static const std::string path = [] {
    std::string p = temp_path("IPU_FirmWare");
    write_bytes(p, "fw");
    return p;
  }();
  return path;
}

// Starts the device; every start-up test runs in a fresh process instead.
class KavoIpuNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPrivateArena);
    KAVO_IPU_Init(firmware(), {});
  }
};
using KavoIpuNetworkDeathTest = KavoIpuNetworkTest;

TEST(KavoIpuInitDeathTest, DeviceGetsTheLargestVariableBufferOr1MiBAndStartUpFailuresAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // every start-up in a fresh process
  const std::string small = write_model("small", "zeros", 0x3000);
  const std::string large = write_model("large", "zeros", 0x5000);
  const std::string sealed = temp_path("sealed");
  write_bytes(sealed, kavo_sym_encrypt(ipu_model_bytes({{"variableBufferSize", 0x7000}}), 3));
  const std::string missing = ::testing::TempDir() + "kavo_ipu_no_such_file";  // the same in the child
  const std::string size = "Create IPU Device: .* with max variable buffer size: ",
                    failed = "Check failed: s32Ret == MI_SUCCESS MI_IPU_";
  const struct {
    std::string firmware;
    std::vector<std::string> models;
    std::string message;          // a start-up that fails aborts, one that succeeds exits with 0 here
    const char* fault = nullptr;  // its next call fails with 0x1f
  } rows[] = {
      {firmware(), {small, sealed, large}, size + "0x5000\n"},
      {firmware(), {write_model("zero", "zeros", 0), sealed}, size + "0x100000\n"},
      {firmware(), {}, size + "0x100000\n"},
      {firmware(), {missing}, failed + "GetOfflineModeStaticInfo failed: " + missing + ", ret=0xa0054005"},
      {missing, {}, failed + "CreateDevice failed: " + missing + ", ret=0xa0054005"},
      {firmware(), {}, "Check failed: MI_SUCCESS == MI_SYS_Init\\(0\\) MI_SYS_Init failed\\.", "MI_SYS_Init"},
      {firmware(), {}, failed + "DestroyDevice failed, ret=0x1f", "MI_IPU_DestroyDevice"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    const bool fatal = row.message.rfind("Check failed", 0) == 0;
    EXPECT_EXIT(
        {
          if (row.fault) MI_TEST_FailNext(row.fault, 0x1F);
          KAVO_IPU_Init(row.firmware, row.models);
          std::exit(0);
        },
        [fatal](int status) {
          return fatal ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0;
        },
        row.message);
  }
}

TEST_F(KavoIpuNetworkTest, RunsOnTheBufferCopiesTheDescriptorsName) {
  const std::string file = write_model("copy", "copy");
  for (uint32_t n : {0u, 1u, 10u}) {
    SCOPED_TRACE(n);
    KavoIpuNetwork net(model_cfg(file, n), -1);
    auto mem = net.getInputOutputBlobMem();
    auto desc = net.getInputOutputBlobDesc();
    EXPECT_EQ(net.getInOutBufferBytes(), 2 * n * 4096);  // every 6-byte tensor takes one page
    // The descriptors carry copy 0 and its page-rounded size; without copies, no buffer at all.
    EXPECT_EQ(desc.first[0].u32AlignedBufSize, n == 0 ? 6u : 4096u);
    EXPECT_EQ(desc.second[0].pVirAddr, n == 0 ? nullptr : mem.second[0].pVirAddr[0]);
    if (n == 0) continue;
    // Run on the last copy: only its output changes.
    auto last = [n](KAVO_MODEL_BLOB_INFO_S b, const KAVO_MODEL_MEM_INFO_S& m) {
      b.pVirAddr = m.pVirAddr[n - 1];
      b.u64PhyAddr = m.u64PhyAddr[n - 1];
      return b;
    };
    KAVO_MODEL_BLOB_INFO_S in = last(desc.first[0], mem.first[0]), out = last(desc.second[0], mem.second[0]);
    std::memcpy(in.pVirAddr, "abcdef", 6);
    std::memset(mem.second[0].pVirAddr[0], 'z', 6);
    MI_TEST_InjectFault("MI_IPU_GetInOutTensorDesc", 0x1F, 0, 2);  // only a failure message reads them
    net.run(&in, 1, &out, 1);
    EXPECT_EQ(std::string(static_cast<char*>(out.pVirAddr), 6), "abcdef");
    EXPECT_EQ(std::string(static_cast<char*>(mem.second[0].pVirAddr[0]), 6), n > 1 ? "zzzzzz" : "abcdef");
  }
}

TEST_F(KavoIpuNetworkTest, ParsesAFrameRecordIntoAMappedNv12Tensor) {
  TestBlock frame(64 * 48 * 3 / 2);
  frame.data()[64 * 10 + 5] = 99;
  unsigned char record[256] = {};
  const uint32_t width = 60, height = 48, stride = 64;
  const uint64_t phy = frame.phy(), pts = 123456789;
  std::memcpy(record + 0, &width, 4);
  std::memcpy(record + 4, &height, 4);
  std::memcpy(record + 44, &stride, 4);
  std::memcpy(record + 120, &phy, 8);
  std::memcpy(record + 240, &pts, 8);
  KAVO_MODEL_BLOB_INFO_S b;
  unsigned long long gotPts = 0;
  EXPECT_EQ(KAVO_IPU_ParseSrcStru(record, &b, &gotPts), 0);
  EXPECT_EQ(gotPts, pts);
  EXPECT_EQ(b.u32ShapeVec, (std::vector<uint32_t>{1, 3, 48, 60}));
  EXPECT_EQ(b.u32AlignedBufSize, 4608u);  // 48 x 64 x 3 / 2
  EXPECT_EQ(static_cast<uint8_t*>(b.pVirAddr)[64 * 10 + 5], 99);
  KAVO_SYS_Munmap(b.pVirAddr, b.u32AlignedBufSize);
}

TEST_F(KavoIpuNetworkDeathTest, ChannelMisuseIsFatal) {
  const std::string file =
      write_model("misuse", "zeros", 4096, {ipu_tensor("a", 0, {4}), ipu_tensor("b", 0, {4})});
  const std::string sealed = temp_path("sealed_7"), cut = temp_path("sealed_cut"), bytes = read_bytes(file);
  write_bytes(sealed, kavo_sym_encrypt(bytes, 7));
  write_bytes(cut, kavo_sym_encrypt(bytes.substr(0, bytes.size() - 1), 7));  // its header runs past the end
  nlohmann::json nv12 = ipu_tensor("image", 1, {1, 720, 1280, 3});
  nv12["alignedBufSize"] = 1382400;  // exactly 720 x 1280 x 3 / 2: accepted and rounded to 338 pages
  KavoIpuNetwork exact(model_cfg(write_model("nv12", "zeros", 4096, nlohmann::json::array({nv12})), 1), -1);
  EXPECT_EQ(exact.getInputOutputBlobDesc().first[0].u32AlignedBufSize, 1384448u);
  nv12["alignedBufSize"] = 1382400 + 1;
  const std::string padded = write_model("nv12_padded", "zeros", 4096, nlohmann::json::array({nv12}));
  KavoIpuNetwork net(model_cfg(file, 1), -1);
  auto desc = net.getInputOutputBlobDesc();
  KAVO_MODEL_BLOB_INFO_S* ins = desc.first.data();
  std::vector<KAVO_MODEL_BLOB_INFO_S> swapped = {desc.first[1], desc.first[0]};
  std::vector<KAVO_MODEL_BLOB_INFO_S> outs = {desc.second[0], desc.second[0]};
  outs[1].u32Index = 1;
  KAVO_MODEL_BLOB_INFO_S stray = desc.second[0];
  stray.u64PhyAddr = 0x1000;  // outside every block
  const struct {
    std::function<void()> run;
    std::string message;
  } rows[] = {
      {[&] { KavoIpuNetwork(model_cfg(file, 11), -1); },
       "Check failed: cfg.u32BlobCopies <= KAVO_IPU_IF_BLOB_MAX_NUM blob copies must be LE than 10"},
      {[&] { KavoIpuNetwork(model_cfg(sealed, 1), 8); },  // the reason, the file and the key id, the failure
       "kavo_sym_decrypt: key id 8: the file is sealed with key id 7\n.*cannot decrypt model file " + sealed +
           " with key id 8\n.*Check failed: s32Ret == MI_SUCCESS Create Model failed: " + sealed +
           ", model name: NET, ret=0xa0054005"},
      {[&] { KavoIpuNetwork(model_cfg(cut, 1), 7); },
       "Check failed: s32Ret == MI_SUCCESS Create Model failed: " + cut +
           ", model name: NET, ret=0xa0054005"},
      {[&] { KavoIpuNetwork(model_cfg(padded, 1), -1); },
       "Check failed: sBlob.u32AlignedBufSize == height \\* width \\* 3 / 2 image required must be aligned."},
      {[] { KAVO_IPU_GetDataTypeSize(MI_IPU_FORMAT_ARGB8888); }, "Unknown Data Type: 7"},
      {[&] { net.run(swapped.data(), 2, desc.second.data(), 1); },
       "Check failed: input\\[i\\].u32Index == \\(unsigned\\)i input data order not matched: require 0 but "
       "get 1"},
      {[&] { net.run(ins, 1, desc.second.data(), 1); },
       "Check failed: inputSize == _inputBlobInfo.size\\(\\) Input size not matched for NET, Required 2 "
       "while call inputs 1"},
      {[&] { net.run(ins, 2, outs.data(), 2); },
       "Check failed: outputSize == _outputBlobInfo.size\\(\\) Output size not matched for NET, Required 1 "
       "while call outputs 2"},
      {[&] { net.run(ins, 2, outs.data() + 1, 1); }, "output data order not matched: require 0 but get 1"},
      {[&] { net.run(ins, 2, &stray, 1); },
       "Check failed: s32Ret == MI_SUCCESS Channel id=[0-9]+. MI_IPU_Invoke failed, ret=0xa0054005\n"},
      {[&] {
         MI_TEST_InjectFault("MI_IPU_GetInOutTensorDesc", 0x1F, 1, 1);  // after the call
         MI_TEST_FailNext("MI_IPU_Invoke", 0x1F);
         net.run(ins, 2, desc.second.data(), 1);
       },
       "MI_IPU_Invoke failed, ret=0x1f\nbefore invoke: channel [0-9]+ u32InputTensorCount=2, "
       "u32OutputTensorCount=1\nChannel id=[0-9]+\\. after invoke, MI_IPU_GetInOutTensorDesc failed, "
       "ret=31\n"},
      {[&] { MI_TEST_FailNext("MI_IPU_GetInOutTensorDesc", 0x1F), KavoIpuNetwork(model_cfg(file, 1), -1); },
       "Check failed: s32Ret == MI_SUCCESS MI_IPU_GetInOutTensorDesc for model NET failed\\. ret=0x1f"},
      {[&] { MI_TEST_FailNext("MI_IPU_DestroyCHN", 0x1F), KavoIpuNetwork(model_cfg(file, 1), -1); },
       "Check failed: s32Ret == MI_SUCCESS MI_IPU_DestroyCHN failed for chnid=[0-9]+, model name: NET, "
       "modelFile: " +
           file},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_DEATH(row.run(), row.message);
  }
}

}  // namespace
