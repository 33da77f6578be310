// The network store over the IPU stand-in: the bundled configuration's face detector, its model sealed
// with key 7 of the installation's keyring, fed by an engine resize of a platform image straight into
// its input tensor and decoded by the detector handler; the full-range detector through a model
// channel of its own; admission order on a shared compute core; start-up and step failures. Own
// executable: the configuration, the catalogue, the device and the stores are process-wide, so every
// test (ctest runs each in its own process) installs the configuration it needs first.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <thread>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "kbase/Path.h"
#include "mi/MiIpuModel.h"
#include "mi/MiTestUtil.h"
#include "mi_test.h"
#include "nn/NetworkWrapperSSC.h"
#include "platform/Factories.h"
#include "platform/Mix.h"
#include "task/DetectorHandler.h"
#include "task/RoiResource.h"
#include "testing/BlazeFaceReference.h"
#include "testing/LogCapture.h"
#include "util/BlobHisi.h"
#include "util/ProduceImage.h"

namespace {

const bool kPrivateArena = use_private_arena("NetworkStoreTest");
using Overrides = std::vector<std::pair<std::string, std::vector<std::string>>>;
using nlohmann::json;

// Two small networks on COMPCORE_IPU0 with FP32 tensors [1, 1, 1, 4] in zone "tiny": NETWORK_A writes
// 7 into its output, NETWORK_B copies its two inputs to its two outputs. RESOURCE_F is a feature map
// the application manages.
const char kTinyNetworks[] = R"({
  "NETWORK_A": {"netName": "a", "resZone": "tiny", "compCore": "COMPCORE_IPU0", "encrypt": 0,
    "netDescriptions": ["data/a.kavo"], "resUnionInput": ["RESOURCE_A_IN0"], "resUnionOutput": ["RESOURCE_A_OUT0"]},
  "NETWORK_B": {"netName": "b", "resZone": "tiny", "compCore": "COMPCORE_IPU0", "encrypt": 0,
    "netDescriptions": ["data/b.kavo"], "resUnionInput": ["RESOURCE_B_IN0", "RESOURCE_B_IN1"], "resUnionOutput": ["RESOURCE_B_OUT0", "RESOURCE_B_OUT1"]},
  "RESOURCE_F": {"zone": "tiny", "name": "f", "shape": [2, 3], "managed": "application"}})";
const std::vector<std::string> kTinyTensors = {"a_in0", "a_out0", "b_in0", "b_in1", "b_out0", "b_out1"};
// Identifiers: NETWORK_DETECTOR 1, A 2, B 4, GHOST 8; RESOURCE_ A_IN0 1, A_OUT0 2, B_IN0 4, B_IN1 8,
// B_OUT0 16, B_OUT1 32, F 64.
const Overrides kTiny = {
    {"EnumStore/NETWORK/none", {"NETWORK_DETECTOR", "NETWORK_A", "NETWORK_B", "NETWORK_GHOST"}},
    {"EnumStore/RESOURCE/tiny",
     {"RESOURCE_A_IN0", "RESOURCE_A_OUT0", "RESOURCE_B_IN0", "RESOURCE_B_IN1", "RESOURCE_B_OUT0",
      "RESOURCE_B_OUT1", "RESOURCE_F"}},
    {"networkEnabled", {"NETWORK_A", "NETWORK_B"}},
    {"networkForwardOrder/NETWORK_A", {"1"}},
    {"networkForwardOrder/NETWORK_B", {"2"}}};

Overrides with(Overrides base, const Overrides& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

// The sample configuration as it is (the small networks catalogued but not enabled).
const Overrides kSample = with(kTiny, {{"networkEnabled", {"NETWORK_DETECTOR"}}});

json sample_network() {
  json net = json::parse(read_bytes(KAVO_SOURCE_DIR "/config/network.json"));
  net.update(json::parse(kTinyNetworks));
  for (const std::string& t : kTinyTensors) {
    std::string key = "RESOURCE_" + t;
    for (char& ch : key) ch = static_cast<char>(toupper(ch));
    net[key] = {{"zone", "tiny"}, {"name", t}, {"shape", {1, 1, 1, 4}}, {"managed", "library"}};
  }
  return net;
}

// A model of FP32 inputs names[0 .. inputs - 1] and outputs of `format` named by the rest, [1, 1, 1, 4].
std::string tiny_model(const std::vector<std::string>& names, size_t inputs, int format,
                       const char* executor) {
  json j = {{"variableBufferSize", 4096}, {"executor", executor}, {"params", {{"value", 7}}}};
  for (size_t k = 0; k < names.size(); ++k)
    j[k < inputs ? "inputs" : "outputs"].push_back(
        ipu_tensor(names[k], k < inputs ? 5 : format, {1, 1, 1, 4}));
  return ipu_model_bytes(j);
}

std::string root_dir() { return ::testing::TempDir() + "netstore." + std::to_string(getpid()); }

// Installs config/kavo.json with `overrides` (key -> new list, applied in order) as the process
// configuration, over an installation root holding `network` as config/network.json, the build's keyring
// as config/kavo.keyring, the built models as data/models, the small models and the firmware.
void use_config(const Overrides& overrides, const json& network = sample_network()) {
  const std::string root = root_dir();
  for (const std::string& dir : {root, root + "/config", root + "/data"}) mkdir(dir.c_str(), 0755);
  // A reused pid finds an older run's links, perhaps into another build tree.
  unlink((root + "/data/models").c_str());
  unlink((root + "/config/kavo.keyring").c_str());
  symlink(KAVO_BUILT_MODELS, (root + "/data/models").c_str());
  symlink(KAVO_BUILT_MODELS "../../config/kavo.keyring", (root + "/config/kavo.keyring").c_str());
  write_bytes(root + "/config/network.json", network.dump());
  write_bytes(root + "/data/ipu_firmware.bin", "fw");
  write_bytes(root + "/data/a.kavo", tiny_model({"a_in0", "a_out0"}, 1, 5, "constant"));
  write_bytes(root + "/data/a_int8.kavo", tiny_model({"a_in0", "a_out0"}, 1, 4, "constant"));
  write_bytes(root + "/data/b.kavo", tiny_model({"b_in0", "b_in1", "b_out0", "b_out1"}, 2, 5, "copy"));
  GlobalPathCfg::set(0, root);
  auto db = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(db->load(KAVO_SOURCE_DIR "/config/kavo.json", false, 0));
  for (const auto& [key, values] : overrides) db->store_multi_local(key, values, false);
  install_ParamCfg(db);
}

unsigned long long id_of(const char* type, const std::string& name) {
  return singleton_EnumStore()->get(type)->convert(name, "none");
}

float* fp32(const std::shared_ptr<ResourceBase>& res) {
  return static_cast<float*>(std::dynamic_pointer_cast<BlobSSCFloat>(res)->pBlobInfo()->pVirAddr);
}

TEST(NetworkStoreTest, DetectorFindsTheAstronautsFaceFromAnEngineResizeIntoItsInputTensor) {
  ASSERT_TRUE(kPrivateArena);
  json network = sample_network();
  network["NETWORK_DETECTOR"].update(
      {{"netDescriptions", {"data/models/blazeface_128.sealed"}}, {"encrypt", 1}, {"secret_id", 7}});
  use_config(kSample, network);
  const unsigned long long netId = id_of("NETWORK", "NETWORK_DETECTOR");
  auto net = singleton_NetworkStore()->fetch(netId);
  auto store = get_FrameResourceStore(netId, true);
  // The zone lists image, conf16, loc16, conf8, loc8: identifiers 1, 2, 4, 8, 16.
  ASSERT_EQ(query_NetworkResourceUnionNetworkForward(netId), std::make_pair(1ull, 30ull));
  DetectorHandler handler(std::make_shared<ParamCfg>(singleton_ParamCfg(), "DetectorBlazeFace/"),
                          {{"HEAD_BLAZEFACE_16", 16}, {"HEAD_BLAZEFACE_8", 8}}, {{16, {2, 4}}, {8, {8, 16}}});
  cv::Mat small, rgb;
  cv::resize(cv::imread(KAVO_SOURCE_DIR "/data/astronaut.jpg"), small, cv::Size(128, 128), 0, 0,
             cv::INTER_AREA);
  cv::cvtColor(small, rgb, cv::COLOR_BGR2RGB);
  auto dnn = cv::dnn::readNetFromONNX(KAVO_SOURCE_DIR "/data/models/blazeface_front_128.onnx");
  const auto ref = blazeface_reference(dnn, rgb);
  ASSERT_EQ(ref.size(), 1u);
  const cv::Rect2d& r = ref[0].box;
  auto astronaut = produce_mmz_ImageYuv420sp(0, 0, nullptr),
       grey = produce_mmz_ImageYuv420sp(512, 512, nullptr);
  ASSERT_TRUE(astronaut->load(KAVO_SOURCE_DIR "/data/astronaut.jpg", ImageBase::DECODE_DEFAULT));
  grey->reset(128, 128, 128);
  std::set<uint64_t> buffers;  // each frame's input is its own buffer copy
  for (long long frame : {0, 1}) {
    SCOPED_TRACE(frame == 0 ? "astronaut" : "uniform grey");
    ImageBase* picture = frame == 0 ? astronaut.get() : grey.get();
    auto claimed = store->tobe_written(frame, 31, false, 0);
    auto input = std::dynamic_pointer_cast<BlobSSCImage>(claimed.at(1));
    // The image is a view of the tensor's buffer copy: the engine writes the network input itself.
    ASSERT_EQ(input->image()->phy(), input->pBlobInfo()->u64PhyAddr);
    EXPECT_TRUE(buffers.insert(input->image()->phy()).second);
    auto scratch = produce_roi_resize_scratch(*picture, *input->image(), {0.f, 0.f, 1.f, 1.f});
    MI_TEST_ResetCallLog();
    input->image()->roi_resize_from(picture, {0.f, 0.f, 1.f, 1.f}, scratch, 0, 0, 0, false, false);
    // A resource that is no IPU blob is passed over: the model still gets its one input.
    const MapResId2ResBasePtr inputs{{1, input}, {32, std::make_shared<DetectorClassRois>()}};
    const MapResId2ResBasePtr outputs{{2, claimed[2]}, {4, claimed[4]}, {8, claimed[8]}, {16, claimed[16]}};
    net->step(inputs, outputs);
    EXPECT_GT(MI_TEST_GetCallCount("MI_SCL_StretchBuf") + MI_TEST_GetCallCount("MI_IVE_Resize"), 0u);
    EXPECT_EQ(MI_TEST_GetCallCount("MI_IPU_Invoke"), 1u);
    DetectorClassRois rois;
    rois.put(handler.convert(outputs, BoundBox<float>(0.f, 0.f, 1.f, 1.f)));
    const auto faces = rois.get().at(id_of("ROICATEGORY", "ROICATEGORY_DET_face"));
    ASSERT_EQ(faces.size(), frame == 0 ? 1u : 0u);
    if (frame == 0) {
      EXPECT_GE(faces[0].box.compute_iou(BoundBox<float>(r.x, r.y, r.x + r.width, r.y + r.height)), 0.95f);
    }
    store->have_written(frame, 31);
  }
}

// A BGR picture as NV12 rows of `w` bytes: the luma plane, then interleaved U, V at half height.
void to_nv12(const cv::Mat& bgr, uint8_t* out) {
  cv::Mat i420;
  cv::cvtColor(bgr, i420, cv::COLOR_BGR2YUV_I420);
  const int w = bgr.cols, h = bgr.rows;
  std::memcpy(out, i420.data, w * h);
  const uint8_t* u = i420.data + w * h;
  const uint8_t* v = u + w * h / 4;
  for (int i = 0; i < w * h / 4; ++i) {
    out[w * h + 2 * i] = u[i];
    out[w * h + 2 * i + 1] = v[i];
  }
}

TEST(NetworkStoreTest, FullRangeDetectorFindsTheAstronautsFaceThroughAModelChannel) {
  ASSERT_TRUE(kPrivateArena);
  use_config(kSample);
  const std::string model = KAVO_BUILT_MODELS "blazeface_256.kavo";
  KAVO_IPU_Init(root_dir() + "/data/ipu_firmware.bin", {model});
  DetectorHandler handler(std::make_shared<ParamCfg>(singleton_ParamCfg(), "DetectorBlazeFace/"),
                          {{"HEAD_BLAZEFACE_16", 16}, {"HEAD_BLAZEFACE_8", 8}}, {{16, {1, 2}}, {8, {4, 8}}});
  KavoIpuNetwork net({"blazeface_256", model, 0, 1}, -1);
  auto desc = net.getInputOutputBlobDesc();
  ASSERT_EQ(desc.second.size(), 4u);
  cv::Mat small;
  cv::resize(cv::imread(KAVO_SOURCE_DIR "/data/astronaut.jpg"), small, cv::Size(256, 256), 0, 0,
             cv::INTER_AREA);
  to_nv12(small, static_cast<uint8_t*>(desc.first[0].pVirAddr));
  net.run(desc.first.data(), 1, desc.second.data(), 4);
  // Heads 16 (conf, loc) = outputs 0, 1 and heads 8 = outputs 2, 3, as resources 1 to 8.
  MapResId2ResBasePtr inout;
  for (unsigned k = 0; k < 4; ++k) {
    auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>(desc.second[k]);
    inout[1ull << k] = std::make_shared<BlobSSCInt16>(info, 1ull << k, info->name);
  }
  auto found = handler.convert(inout, BoundBox<float>(0.f, 0.f, 1.f, 1.f));
  ASSERT_EQ(found.size(), 1u);
  const auto& faces = found.begin()->second;
  ASSERT_EQ(faces.size(), 1u);
  // The model's own decoding of the 512 x 512 picture.
  EXPECT_GE(faces[0].box.compute_iou(BoundBox<float>(173.5f / 512, 74.8f / 512, 277.0f / 512, 178.3f / 512)),
            0.95f);
  EXPECT_NEAR(faces[0].score, 0.88f, 0.02f);
}

TEST(NetworkStoreTest, TheSmallerForwardPriorityRunsFirstOnASharedComputeCore) {
  use_config(kTiny);
  KAVO_IPU_Init(root_dir() + "/data/ipu_firmware.bin", {});
  auto pq = std::make_shared<PriorityQueue>(true);
  NetworkWrapperSSC a(*singleton_NetworkDetail()->network_get(2, true), pq);
  NetworkWrapperSSC b(*singleton_NetworkDetail()->network_get(4, true), pq);
  auto resA = get_FrameResourceStore(2, true)->tobe_written(0, 1 | 2, false, 0);
  auto resB = get_FrameResourceStore(4, true)->tobe_written(0, 4 | 8 | 16 | 32, false, 0);
  // B's first input is A's output buffer: B passes on whatever A has written by the time B runs.
  std::memset(fp32(resA[2]), 0, 16);
  auto chained =
      std::make_shared<KAVO_MODEL_BLOB_INFO_S>(*std::dynamic_pointer_cast<BlobSSC>(resB[4])->pBlobInfo());
  chained->pVirAddr = fp32(resA[2]);
  chained->u64PhyAddr = std::dynamic_pointer_cast<BlobSSC>(resA[2])->pBlobInfo()->u64PhyAddr;
  const MapResId2ResBasePtr inB{{4, std::make_shared<BlobSSCFloat>(chained, 4, "RESOURCE_A_OUT0")},
                                {8, resB[8]}};
  auto held = pq->request(0);
  MI_TEST_ResetCallLog();
  std::thread runB([&] { b.step(inB, {{16, resB[16]}, {32, resB[32]}}); });
  std::thread runA([&] { a.step({{1, resA[1]}}, {{2, resA[2]}}); });
  while (pq->waiting(1) + pq->waiting(2) < 2) std::this_thread::yield();
  EXPECT_EQ(MI_TEST_GetCallCount("MI_IPU_Invoke"), 0u);
  held.reset();
  runA.join();
  runB.join();
  EXPECT_EQ(MI_TEST_GetCallCount("MI_IPU_Invoke"), 2u);
  EXPECT_EQ(*fp32(resB[16]), 7.f);  // 0 had B gone first
}

TEST(NetworkStoreTest, StoresQueriesAndSkippedNetworksFollowTheConfiguration) {
  // The catalogue is made enabling only the detector; the store then meets a second enabled name
  // without a description, and NETWORK_A is described but never enabled.
  const Overrides ten = with(kTiny, {{"memCntPreallocatedByLib_Single", {"10"}}});
  use_config(
      with(ten, {{"networkEnabled", {"NETWORK_DETECTOR"}}, {"TaskDependency/TASK_DETECT/output", {}}}));
  EXPECT_EQ(get_FrameResourceStore(1, true)->capacity(), 10);
  EXPECT_EQ(get_FrameResourceStore(2, false), nullptr);
  EXPECT_EQ(get_FrameResourceStore(8, false), nullptr);
  EXPECT_EQ(query_TaskResourceUnionGlobal(id_of("TASK", "TASK_DETECT")), std::make_pair(4ull, 0ull));
  EXPECT_EQ(std::dynamic_pointer_cast<BlobGeneral<float>>(produce_FeatureMap(64, "tiny"))->shape(),
            (std::vector<int>{2, 3}));
  use_config(with(ten, {{"networkEnabled", {"NETWORK_DETECTOR", "NETWORK_GHOST"}}}));
  LogCapture log;
  auto store = singleton_NetworkStore();
  EXPECT_NE(store->fetch(1), nullptr);
  store->init(8);
  EXPECT_EQ(log.count("Cannot find detail for NETWORK_GHOST"), 1);
  // Nothing ever puts the missing ones: their readers keep waiting and saying why.
  struct ExitAtSecondWait : LogCapture {
    void send(google::LogSeverity s, const char* f, const char* b, int l, const google::LogMessageTime& t,
              const char* m, size_t n) override {
      LogCapture::send(s, f, b, l, t, m, n);
      if (count("Wait for NETWORK_GHOST to be initialized! Is it enabled???") == 2) _exit(0);
    }
  };
  EXPECT_EXIT(
      {
        ExitAtSecondWait sink;
        store->fetch(8);
      },
      ::testing::ExitedWithCode(0), "");
}

// Runs NETWORK_B with its index-0 input (or output) given twice, or replaced by a non-IPU resource.
void step_b(bool badInput, bool twice) {
  auto net = singleton_NetworkStore()->fetch(4);
  auto store = get_FrameResourceStore(4, true);
  auto f0 = store->tobe_written(0, 4 | 8 | 16 | 32, false, 0), f1 = store->tobe_written(1, 4 | 16, false, 0);
  MapResId2ResBasePtr in{{4, f0[4]}, {8, f0[8]}}, out{{16, f0[16]}, {32, f0[32]}};
  const unsigned long long first = badInput ? 4 : 16;
  (badInput ? in : out)[twice ? 64 : first] = twice ? f1[first] : std::make_shared<DetectorClassRois>();
  net->step(in, out);
}

// Over kSample, `overrides` and the merge `patch` of the network file.
void run(const Overrides& overrides, const char* patch, int action) {
  json network = sample_network();
  network.merge_patch(json::parse(patch));
  use_config(with(kSample, overrides), network);
  if (action == 0) singleton_NetworkStore();
  if (action == 1) get_FrameResourceStore(4, true);
  if (action == 2) produce_FeatureMap(1, "blazeface");
  if (action == 3) {  // the store has a seat for one copy, the wrapper then has none to hand out
    get_FrameResourceStore(1, true);
    use_config(with(kSample, {{"memCntPreallocatedByLib_Single", {"0"}}}));
    singleton_NetworkStore();
  }
  if (action == 8) query_NetworkResourceUnionNetworkForward(4);
  if (action == 9) produce_FeatureMap(128, "tiny");
  if (action >= 4 && action < 8) step_b(action < 6, action % 2 == 0);
}

TEST(NetworkStoreDeathTest, ConfigurationAndStepErrorsStopWithTheirMessages) {
  struct Row {
    int action;  // 0 store, 1 unknown network's store, 2 library feature map, 3 copies, 4-7 steps, 8 query,
                 // 9 feature map without a blob
    const char* message;
    const char* patch = "{}";
    Overrides overrides = {};
  };
  const Overrides noCores = {{"compCoreList", {}}}, copies1 = {{"memCntPreallocatedByLib_Single", {"1"}}},
                  copies11 = {{"memCntPreallocatedByLib_Single", {"11"}}};
  const Row rows[] = {
      {0, "pqIt != pqCompCores_.end\\(\\) cannot find comp core: COMPCORE_IPU0", "{}", noCores},
      {0, "match network output loc8 required shape 1, 8, 8, 24, while blob desc is shape 1, 8, 8, 23",
       R"({"RESOURCE_BLAZEFACE_LOC8": {"shape": [1, 8, 8, 23]}})"},
      {0, "mapResName2BlobInfoVecs.first.empty\\(\\) image",
       R"({"NETWORK_DETECTOR": {"resUnionInput": []}})"},
      {0, "it != mapResName2BlobInfoVecs.second.end\\(\\) conf9 for net blazeface unfound.",
       R"({"RESOURCE_BLAZEFACE_CONF8": {"name": "conf9"}})"},
      {0,
       "pBlobDesc->managed == BlobDescription::MANAGED_BY_LIBRARY Only Support Library in SSC. Blob Name: "
       "loc16",
       R"({"RESOURCE_BLAZEFACE_LOC16": {"managed": "shadow"}})"},
      {0, "desc.netDescriptions.size\\(\\) == 1 ",
       R"({"NETWORK_DETECTOR": {"netDescriptions": ["data/models/blazeface_128.kavo", "b"]}})"},
      {1, "memCnt <= 10", "{}", copies11},
      {1, "not failCheck cannot find NETWORK_B"},
      {2,
       "pBlobDesc->managed != BlobDescription::MANAGED_BY_LIBRARY RESOURCE_BLAZEFACE_IMAGE is managed by "
       "library, cannot produce"},
      {3, "pResVec->size\\(\\) >= 1 RESOURCE_BLAZEFACE_\\w+, numCopies = 0, check your configuration\\.",
       "{}", copies1},
      {4, "it != inputIdx.end\\(\\) cannot find idx 0: ", "{}", kTiny},
      {5, "idx >= inputsz 0, 1", "{}", kTiny},
      {6, "it != outputIdx.end\\(\\) cannot find idx 0: ", "{}", kTiny},
      {7, "idx >= outputsz 0, 1", "{}", kTiny},
      {8, "not \\(failCheck and not ptr\\) NETWORK_B may be not enabled"},
      {9, "not \\(failCheck and not ptr\\) UNKNOWN\\(128\\)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_DEATH(run(row.overrides, row.patch, row.action), std::string("Check failed: ") + row.message);
  }
  EXPECT_DEATH(run({{"networkEnabled", {"NETWORK_A"}}},
                   R"({"NETWORK_A": {"netDescriptions": ["data/a_int8.kavo"]}})", 0),
               "Unsupport Data Type: MI_IPU_FORMAT_INT8");
}

}  // namespace
