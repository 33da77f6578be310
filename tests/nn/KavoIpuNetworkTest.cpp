// Tests of the IPU device start-up and the model channel: the device's variable buffer size, buffer
// copies bound to tensors, invocation on the copies the descriptors name, sealed models, and the
// fatal checks with their messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "mi/MiIpuModel.h"
#include "mi/MiTestUtil.h"
#include "mi_ipu.h"
#include "mi_test.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "nn/ssc/kavo_ipu_network.h"
#include "nn/ssc/kavo_mm.h"

namespace {

const bool kPrivateArena = use_private_arena("KavoIpuNetworkTest");

std::string temp_path(const std::string& name) {
  return ::testing::TempDir() + "kavo_ipu_" + std::to_string(getpid()) + "_" + name;
}

// Writes a model file with one U8 input "in" (`inShape`) and one U8 output "out" (`outShape`).
std::string write_model(const std::string& name, const std::string& executor, unsigned variable = 4096,
                        nlohmann::json inputs = nlohmann::json::array({ipu_tensor("in", 0, {2, 3})}),
                        nlohmann::json outputs = nlohmann::json::array({ipu_tensor("out", 0, {2, 3})})) {
  const std::string path = temp_path(name);
  write_bytes(path, ipu_model_bytes({{"variableBufferSize", variable},
                                     {"inputs", inputs},
                                     {"outputs", outputs},
                                     {"executor", executor},
                                     {"params", {{"value", 1}}}}));
  return path;
}

KAVO_MODEL_CFG_S model_cfg(const std::string& file, uint32_t copies) {
  KAVO_MODEL_CFG_S cfg;
  cfg.modelName = "NET";
  cfg.modelFile = file;
  cfg.u32BlobCopies = copies;
  return cfg;
}

// A firmware file for the device.
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
    MI_TEST_ClearFaults();
    KAVO_IPU_Init(firmware(), {});
  }
};
using KavoIpuNetworkDeathTest = KavoIpuNetworkTest;

TEST(KavoIpuInitDeathTest, DeviceGetsTheLargestVariableBufferOr1MiB) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // every start-up in a fresh process
  const std::string small = write_model("small", "zeros", 0x3000);
  const std::string large = write_model("large", "zeros", 0x5000);
  const std::string zero = write_model("zero", "zeros", 0);
  const std::string sealed = temp_path("sealed");
  write_bytes(sealed, kavo_sym_encrypt(ipu_model_bytes({{"variableBufferSize", 0x7000}}), 3));
  struct Row {
    const char* name;
    std::vector<std::string> models;
    const char* size;
  } rows[] = {
      {"largest", {small, sealed, large}, "0x5000\n"},
      {"all zero", {zero, sealed}, "0x100000\n"},
      {"no models", {}, "0x100000\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EXIT(
        {
          KAVO_IPU_Init(firmware(), row.models);
          std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        std::string("Create IPU Device: .* with max variable buffer size: ") + row.size);
  }
}

TEST_F(KavoIpuNetworkTest, RunsOnTheBufferCopiesTheDescriptorsName) {
  const std::string file = write_model("copy", "copy");
  const uint32_t copies[] = {0, 1, 10};
  for (uint32_t n : copies) {
    SCOPED_TRACE(n);
    KavoIpuNetwork net(model_cfg(file, n), -1);
    EXPECT_EQ(net.getInputOutputCount(), std::make_pair(1, 1));
    auto mem = net.getInputOutputBlobMem();
    auto desc = net.getInputOutputBlobDesc();
    ASSERT_EQ(mem.first.size(), 1u);
    EXPECT_EQ(mem.first[0].u32Size, n);
    EXPECT_EQ(net.getInOutBufferBytes(), 2 * n * 4096);  // every 6-byte tensor takes one page
    // The descriptors carry copy 0 and its page-rounded size; without copies, no buffer at all.
    EXPECT_EQ(desc.first[0].u32AlignedBufSize, n == 0 ? 6u : 4096u);
    EXPECT_EQ(desc.second[0].u64PhyAddr, n == 0 ? 0 : mem.second[0].u64PhyAddr[0]);
    EXPECT_EQ(desc.second[0].pVirAddr, n == 0 ? nullptr : mem.second[0].pVirAddr[0]);
    if (n == 0) continue;
    EXPECT_EQ(desc.first[0].name, "in");
    EXPECT_EQ(desc.first[0].u32ShapeVec, (std::vector<uint32_t>{2, 3}));
    // Run on the last copy: only its output changes.
    KAVO_MODEL_BLOB_INFO_S in = desc.first[0];
    KAVO_MODEL_BLOB_INFO_S out = desc.second[0];
    const uint32_t k = n - 1;
    in.pVirAddr = mem.first[0].pVirAddr[k];
    in.u64PhyAddr = mem.first[0].u64PhyAddr[k];
    out.pVirAddr = mem.second[0].pVirAddr[k];
    out.u64PhyAddr = mem.second[0].u64PhyAddr[k];
    std::memcpy(in.pVirAddr, "abcdef", 6);
    std::memset(mem.second[0].pVirAddr[0], 'z', 6);
    net.run(&in, 1, &out, 1);
    EXPECT_EQ(std::string(static_cast<char*>(out.pVirAddr), 6), "abcdef");
    if (k != 0) {
      EXPECT_EQ(std::string(static_cast<char*>(mem.second[0].pVirAddr[0]), 6), "zzzzzz");
    }
  }
}

TEST_F(KavoIpuNetworkTest, SealedModelIsReadThroughTheCallback) {
  const std::string plain = write_model("plain", "checksum");
  const std::string sealed = temp_path("sealed_model");
  std::shared_ptr<const std::string> bytes = filebuffer::read(plain);
  ASSERT_TRUE(bytes);
  write_bytes(sealed, kavo_sym_encrypt(*bytes, 5));
  MI_TEST_ResetCallLog();
  KavoIpuNetwork net(model_cfg(sealed, 1), 5);
  auto desc = net.getInputOutputBlobDesc();
  std::memcpy(desc.first[0].pVirAddr, "\x01\x02\x03\x04\x05\x06", 6);
  net.run(desc.first.data(), 1, desc.second.data(), 1);
  EXPECT_EQ(static_cast<uint8_t*>(desc.second[0].pVirAddr)[0], 21);  // 1 + 2 + ... + 6
  EXPECT_EQ(MI_TEST_GetCallCount("MI_IPU_Invoke"), 1u);
}

TEST_F(KavoIpuNetworkDeathTest, Nv12InputMustBeExactlyAligned) {
  nlohmann::json exact = ipu_tensor("image", 1, {1, 720, 1280, 3});
  exact["alignedBufSize"] = 1382400;
  KavoIpuNetwork net(model_cfg(write_model("nv12", "zeros", 4096, nlohmann::json::array({exact})), 1), -1);
  EXPECT_EQ(net.getInputOutputBlobDesc().first[0].u32AlignedBufSize, 1384448u);  // 338 pages
  nlohmann::json padded = exact;
  padded["alignedBufSize"] = 1382401;
  const std::string bad = write_model("nv12_padded", "zeros", 4096, nlohmann::json::array({padded}));
  EXPECT_DEATH(
      KavoIpuNetwork(model_cfg(bad, 1), -1),
      "Check failed: sBlob.u32AlignedBufSize == height \\* width \\* 3 / 2 image required must be aligned.");
}

TEST_F(KavoIpuNetworkTest, PrintsRecords) {
  KAVO_MODEL_BLOB_INFO_S b;
  b.enBlobType = MI_IPU_FORMAT_INT16;
  b.u32ShapeVec = {1, 16, 16, 4};
  b.u32StrideBytes = 8;
  b.u32Index = 1;
  b.u32AlignedBufSize = 2048;
  b.fScalar = 0.25f;
  b.s64ZeroPoint = -2;
  b.u64PhyAddr = 4096;
  b.name = "loc";
  EXPECT_EQ(KAVO_IPU_BLOB_Print(b),
            "[Index       ]: 1\n[Name        ]: loc\n[DataType    ]: MI_IPU_FORMAT_INT16\n"
            "[Shape       ]: 1,16,16,4\n[StrideBytes ]: 8\n[AlignedBuf  ]: 2048\n[ZeroPoints  ]: -2\n"
            "[fScalar     ]: 0.25\n[PHY         ]: 4096\n[VIR         ]: 0");
  KAVO_MODEL_MEM_INFO_S m;
  m.u32Size = 2;
  m.u64PhyAddr[0] = 0x200001000;
  m.u64PhyAddr[1] = 0x2ab;
  m.pVirAddr[1] = reinterpret_cast<void*>(0x7f00);
  EXPECT_EQ(KAVO_IPU_MEM_Print(m), "[Size ]: 0x2\n[Phy/Vir 0]: 0x200001000/0x0\n[Phy/Vir 1]: 0x2ab/0x7f00\n");
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
  EXPECT_EQ(b.enBlobType, MI_IPU_FORMAT_NV12);
  EXPECT_EQ(b.u32ShapeVec, (std::vector<uint32_t>{1, 3, 48, 60}));
  EXPECT_EQ(b.u32StrideBytes, 64u);
  EXPECT_EQ(b.u32AlignedBufSize, 4608u);  // 48 x 64 x 3 / 2
  EXPECT_EQ(b.u64PhyAddr, phy);
  EXPECT_EQ(static_cast<uint8_t*>(b.pVirAddr)[64 * 10 + 5], 99);
  KAVO_SYS_Munmap(b.pVirAddr, b.u32AlignedBufSize);
}

TEST(KavoIpuInitDeathTest, StartUpFailuresAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string missing = ::testing::TempDir() + "kavo_ipu_no_such_file";  // the same in the child
  EXPECT_DEATH(KAVO_IPU_Init(firmware(), {missing}),
               "Check failed: s32Ret == MI_SUCCESS MI_IPU_GetOfflineModeStaticInfo failed: " + missing +
                   ", ret=0xa0054005");
  EXPECT_DEATH(KAVO_IPU_Init(missing, {}), "Check failed: s32Ret == MI_SUCCESS MI_IPU_CreateDevice failed: " +
                                               missing + ", ret=0xa0054005");
  EXPECT_DEATH(
      {
        MI_TEST_FailNext("MI_SYS_Init", 1);
        KAVO_IPU_Init(firmware(), {});
      },
      "Check failed: MI_SUCCESS == MI_SYS_Init\\(0\\) MI_SYS_Init failed.");
  EXPECT_DEATH(KAVO_IPU_GetDataTypeSize(MI_IPU_FORMAT_ARGB8888), "Unknown Data Type: 7");
  EXPECT_DEATH(KAVO_IPU_DataType_Print(MI_IPU_FORMAT_UNKNOWN), "Unknown Data Type: 6");
}

TEST_F(KavoIpuNetworkDeathTest, ChannelMisuseIsFatal) {
  const std::string file =
      write_model("misuse", "zeros", 4096, {ipu_tensor("a", 0, {4}), ipu_tensor("b", 0, {4})});
  EXPECT_DEATH(KavoIpuNetwork(model_cfg(file, 11), -1),
               "Check failed: cfg.u32BlobCopies <= KAVO_IPU_IF_BLOB_MAX_NUM blob copies must be LE than 10");
  const std::string missing = temp_path("no_model");
  EXPECT_DEATH(KavoIpuNetwork(model_cfg(missing, 1), -1),
               "Check failed: s32Ret == MI_SUCCESS Create Model failed: " + missing +
                   ", model name: NET, ret=0xa0054005");
  EXPECT_DEATH(KavoIpuNetwork(model_cfg(file, 1), 9),  // a plain model read as a sealed one
               "Create Model failed: " + file + ", model name: NET, ret=0xa0054005");
  const std::string sealed = temp_path("sealed_7");
  write_bytes(sealed, kavo_sym_encrypt(read_bytes(file), 7));
  EXPECT_DEATH(KavoIpuNetwork(model_cfg(sealed, 1), 8),  // the wrong key gives no model
               "Create Model failed: " + sealed + ", model name: NET, ret=0xa0054008");
  KavoIpuNetwork net(model_cfg(file, 1), -1);
  auto desc = net.getInputOutputBlobDesc();
  std::vector<KAVO_MODEL_BLOB_INFO_S> swapped = {desc.first[1], desc.first[0]};
  EXPECT_DEATH(net.run(swapped.data(), 2, desc.second.data(), 1),
               "Check failed: input\\[i\\].u32Index == \\(unsigned\\)i input data order not matched: require "
               "0 but get 1");
  std::vector<KAVO_MODEL_BLOB_INFO_S> outs = {desc.second[0], desc.second[0]};
  outs[1].u32Index = 0;
  EXPECT_DEATH(
      net.run(desc.first.data(), 2, outs.data(), 2),
      "Check failed: outputSize == _outputBlobInfo.size\\(\\) Output size not matched for NET, Required 1 "
      "while call outputs 2");
  EXPECT_DEATH(
      net.run(desc.first.data(), 1, desc.second.data(), 1),
      "Check failed: inputSize == _inputBlobInfo.size\\(\\) Input size not matched for NET, Required 2 "
      "while call inputs 1");
  outs[0].u32Index = 1;
  EXPECT_DEATH(net.run(desc.first.data(), 2, outs.data(), 1),
               "output data order not matched: require 0 but get 1");
  KAVO_MODEL_BLOB_INFO_S stray = desc.second[0];
  stray.u64PhyAddr = 0x1000;  // outside every block
  EXPECT_DEATH(net.run(desc.first.data(), 2, &stray, 1),
               "Check failed: s32Ret == MI_SUCCESS Channel id=[0-9]+. MI_IPU_Invoke failed, ret=0xa0054005\n"
               "before invoke: channel [0-9]+ u32InputTensorCount=2, u32OutputTensorCount=1\n"
               "after invoke: channel [0-9]+ u32InputTensorCount=2, u32OutputTensorCount=1");
  EXPECT_DEATH(
      {
        MI_TEST_InjectFault("MI_IPU_GetInOutTensorDesc", 0x42, 0, 2);
        MI_TEST_FailNext("MI_IPU_Invoke", 0x99);
        net.run(desc.first.data(), 2, desc.second.data(), 1);
      },
      "MI_IPU_Invoke failed, ret=0x99\nChannel id=[0-9]+. before invoke, MI_IPU_GetInOutTensorDesc failed, "
      "ret=66\n"
      "Channel id=[0-9]+. after invoke, MI_IPU_GetInOutTensorDesc failed, ret=66");
}

}  // namespace
