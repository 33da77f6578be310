// The network store over the IPU stand-in: the bundled configuration's face detector taken from the
// store, fed by an engine resize of a platform image straight into its input tensor and decoded by
// the detector handler; admission order on a shared compute core; start-up and step failures. Own
// executable: the configuration, the catalogue, the device and the stores are process-wide, so every
// test (ctest runs each in its own process) installs the configuration it needs first.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
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
const char kAstronaut[] = KAVO_SOURCE_DIR "/data/astronaut.jpg";

using Overrides = std::vector<std::pair<std::string, std::vector<std::string>>>;

nlohmann::json sample_network() {
  return nlohmann::json::parse(read_bytes(KAVO_SOURCE_DIR "/config/network.json"));
}

// Installs config/kavo.json with `overrides` (key -> new list) as the process configuration, over a
// fresh installation root holding `network` as config/network.json, the built models as data/models
// and the firmware the configuration names.
void use_config(const Overrides& overrides, const nlohmann::json& network = sample_network()) {
  const std::string root = ::testing::TempDir() + "netstore." + std::to_string(getpid());
  for (const std::string& dir : {root, root + "/config", root + "/data"}) mkdir(dir.c_str(), 0755);
  symlink(KAVO_BUILT_MODELS, (root + "/data/models").c_str());
  write_bytes(root + "/config/network.json", network.dump());
  write_bytes(root + "/data/ipu_firmware.bin", "fw");
  GlobalPathCfg::set(0, root);
  auto db = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(db->load(KAVO_SOURCE_DIR "/config/kavo.json", false, 0));
  for (const auto& [key, values] : overrides) db->store_multi_local(key, values, false);
  install_ParamCfg(db);
}

unsigned long long id_of(const char* type, const std::string& name, const std::string& zone = "none") {
  return singleton_EnumStore()->get(type)->convert(name, zone);
}

TEST(NetworkStoreTest, DetectorFindsTheAstronautsFaceFromAnEngineResizeIntoItsInputTensor) {
  ASSERT_TRUE(kPrivateArena);
  use_config({});
  const unsigned long long netId = id_of("NETWORK", "NETWORK_DETECTOR");
  auto net = singleton_NetworkStore()->fetch(netId);
  auto store = get_FrameResourceStore(netId, true);
  // The zone lists image, conf16, loc16, conf8, loc8: identifiers 1, 2, 4, 8, 16.
  const auto [in, out] = query_NetworkResourceUnionNetworkForward(netId);
  ASSERT_EQ(in, 1ull);
  ASSERT_EQ(out, 30ull);
  DetectorHandler handler(std::make_shared<ParamCfg>(singleton_ParamCfg(), "DetectorBlazeFace/"),
                          {{"HEAD_BLAZEFACE_16", 16}, {"HEAD_BLAZEFACE_8", 8}}, {{16, {2, 4}}, {8, {8, 16}}});
  const unsigned long long face = id_of("ROICATEGORY", "ROICATEGORY_DET_face");

  // The reference: OpenCV's resize of the same picture and the published decoding.
  cv::Mat small, rgb;
  cv::resize(cv::imread(kAstronaut), small, cv::Size(128, 128), 0, 0, cv::INTER_AREA);
  cv::cvtColor(small, rgb, cv::COLOR_BGR2RGB);
  const auto ref =
      BlazeFaceReference(KAVO_SOURCE_DIR "/data/models/blazeface_front_128.onnx").detect(rgb, true);
  ASSERT_EQ(ref.size(), 1u);
  const cv::Rect2d& r = ref[0].box;
  const BoundBox<float> expected(r.x, r.y, r.x + r.width, r.y + r.height);

  auto astronaut = produce_mmz_ImageYuv420sp(0, 0, nullptr);
  ASSERT_TRUE(astronaut->load(kAstronaut, ImageBase::DECODE_DEFAULT));
  auto grey = produce_mmz_ImageYuv420sp(512, 512, nullptr);
  grey->reset(128, 128, 128);
  struct Row {
    const char* name;
    ImageBase* picture;
    size_t faces;
  } rows[] = {{"astronaut", astronaut.get(), 1}, {"uniform grey", grey.get(), 0}};
  long long frame = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto claimed = store->tobe_written(frame, in | out, false, 0);
    auto input = std::dynamic_pointer_cast<BlobSSCImage>(claimed.at(in));
    ASSERT_NE(input, nullptr);
    // The image is a view of the tensor's buffer copy: the engine writes the network input itself.
    ASSERT_EQ(input->image()->phy(), input->pBlobInfo()->u64PhyAddr);
    auto scratch = produce_roi_resize_scratch(*row.picture, *input->image(), {0.f, 0.f, 1.f, 1.f});
    MI_TEST_ResetCallLog();
    input->image()->roi_resize_from(row.picture, {0.f, 0.f, 1.f, 1.f}, scratch, 0, 0, 0, false, false);
    MapResId2ResBasePtr inputs{{in, claimed.at(in)}}, outputs;
    for (unsigned long long id : {2ull, 4ull, 8ull, 16ull}) outputs[id] = claimed.at(id);
    net->step(inputs, outputs);
    EXPECT_GT(MI_TEST_GetCallCount("MI_SCL_StretchBuf") + MI_TEST_GetCallCount("MI_IVE_Resize"), 0u);
    EXPECT_EQ(MI_TEST_GetCallCount("MI_IPU_Invoke"), 1u);
    DetectorClassRois rois;
    rois.put(handler.convert(outputs, BoundBox<float>(0.f, 0.f, 1.f, 1.f)));
    const auto faces = rois.get().at(face);
    ASSERT_EQ(faces.size(), row.faces);
    if (row.faces == 1) {
      EXPECT_GE(faces[0].box.compute_iou(expected), 0.95f);
    }
    store->have_written(frame++, in | out);
  }
}

}  // namespace
