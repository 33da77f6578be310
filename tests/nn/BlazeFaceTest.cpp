// End to end on the emulated NPU: the BlazeFace detectors, as the model compiler built (and sealed)
// them from their ONNX files and recipes, run through a model channel on an NV12 picture in platform memory;
// the bundled detector configuration decodes their INT16 heads and finds the astronaut's face where
// the models' own decoding puts it. Own executable: the device and the configuration are process-wide.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "kbase/Database.h"
#include "kbase/Path.h"
#include "mi/MiIpuModel.h"
#include "mi/MiTestUtil.h"
#include "nn/ssc/kavo_ipu_network.h"
#include "task/DetectorHandler.h"
#include "util/BlobHisi.h"

namespace {

const bool kPrivateArena = use_private_arena("BlazeFaceTest");

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

TEST(BlazeFaceTest, CompiledDetectorsFindTheAstronautsFaceThroughTheDetectorHandler) {
  ASSERT_TRUE(kPrivateArena);
  setenv("KAVO_CONFIG", KAVO_SOURCE_DIR "/config/kavo.json", 1);
  const std::string firmware = ::testing::TempDir() + "blazeface_fw";
  write_bytes(firmware, "fw");
  // The models' own decoding of the 512 x 512 picture (short range, full range).
  struct Row {
    const char* model;  // built from blazeface_front_128 and blazeface_back_256
    int size;
    BoundBox<float> face;
    float score;
  } rows[] = {
      {"blazeface_128", 128, BoundBox<float>(177.8f / 512, 80.7f / 512, 272.2f / 512, 175.1f / 512), 0.92f},
      {"blazeface_256", 256, BoundBox<float>(173.5f / 512, 74.8f / 512, 277.0f / 512, 178.3f / 512), 0.88f},
  };
  // The short-range model as the build sealed it with key 7 of <build>/config/kavo.keyring.
  unsetenv("KAVO_KEYRING");
  GlobalPathCfg::set(0, KAVO_BUILD_ROOT);
  const std::vector<std::string> models = {KAVO_BUILT_MODELS "blazeface_128.sealed",
                                           KAVO_BUILT_MODELS "blazeface_256.kavo"};
  KAVO_IPU_Init(firmware, models);
  const cv::Mat picture = cv::imread(KAVO_SOURCE_DIR "/data/astronaut.jpg");
  DetectorHandler handler(std::make_shared<ParamCfg>(singleton_ParamCfg(), "DetectorBlazeFace/"),
                          {{"HEAD_BLAZEFACE_16", 16}, {"HEAD_BLAZEFACE_8", 8}}, {{16, {1, 2}}, {8, {4, 8}}});
  for (size_t r = 0; r < 2; ++r) {
    SCOPED_TRACE(rows[r].model);
    KAVO_MODEL_CFG_S cfg;
    cfg.modelName = rows[r].model;
    cfg.modelFile = models[r];
    cfg.u32BlobCopies = 1;
    KavoIpuNetwork net(cfg, r == 0 ? 7 : -1);
    auto desc = net.getInputOutputBlobDesc();
    ASSERT_EQ(desc.second.size(), 4u);
    cv::Mat small;
    cv::resize(picture, small, cv::Size(rows[r].size, rows[r].size), 0, 0, cv::INTER_AREA);
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
    EXPECT_GE(faces[0].box.compute_iou(rows[r].face), 0.95f);
    EXPECT_NEAR(faces[0].score, rows[r].score, 0.02f);
  }
}

}  // namespace
