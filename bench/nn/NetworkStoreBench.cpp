// One detector frame on one thread, as a pipeline stage runs it: the engine resize of a 1920 x 1080
// NV12 frame into the BlazeFace network's 128 x 128 input tensor, one step through the network store
// and DetectorHandler::convert, against the same work done with OpenCV alone (cv::resize of the same
// frame to 128 x 128 RGB, dnn forward of the ONNX file, decoding and cv::dnn::NMSBoxes). Each stage
// is timed on its own too, for its share of the frame.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "kbase/Path.h"
#include "nn/NetworkWrapperSSC.h"
#include "platform/Factories.h"
#include "task/DetectorHandler.h"
#include "testing/BlazeFaceReference.h"
#include "util/BlobHisi.h"
#include "util/ProduceImage.h"

namespace {

void copy_file(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream(to, std::ios::binary) << in.rdbuf();
}

// The sample configuration under a private installation root, the detector's tensors claimed once, the
// frame in platform memory and as an OpenCV NV12 matrix over the same bytes.
struct Detector {
  Detector() {
    cv::setNumThreads(1);  // one frame on one thread: OpenCV here and in the IPU stand-in
    const std::string root = "/tmp/kavo_bench_netstore." + std::to_string(getpid());
    for (const std::string& dir : {root, root + "/config", root + "/data"}) mkdir(dir.c_str(), 0755);
    symlink(KAVO_BUILT_MODELS, (root + "/data/models").c_str());
    copy_file(KAVO_SOURCE_DIR "/config/network.json", root + "/config/network.json");
    std::ofstream(root + "/data/ipu_firmware.bin") << "fw";
    GlobalPathCfg::set(0, root);
    setenv("KAVO_CONFIG", KAVO_SOURCE_DIR "/config/kavo.json", 1);
    const unsigned long long netId =
        singleton_EnumStore()->get("NETWORK")->convert("NETWORK_DETECTOR", "none");
    net = singleton_NetworkStore()->fetch(netId);
    claimed = get_FrameResourceStore(netId, true)->tobe_written(0, 31, false, 0);
    input = std::dynamic_pointer_cast<BlobSSCImage>(claimed.at(1))->image();
    outputs = {{2, claimed[2]}, {4, claimed[4]}, {8, claimed[8]}, {16, claimed[16]}};
    handler = std::make_unique<DetectorHandler>(
        std::make_shared<ParamCfg>(singleton_ParamCfg(), "DetectorBlazeFace/"),
        std::unordered_map<std::string, unsigned long long>{{"HEAD_BLAZEFACE_16", 16},
                                                            {"HEAD_BLAZEFACE_8", 8}},
        std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>>{
            {16, {2, 4}}, {8, {8, 16}}});
    cv::Mat big;
    cv::resize(cv::imread(KAVO_SOURCE_DIR "/data/astronaut.jpg"), big, cv::Size(1920, 1080));
    std::vector<unsigned char> jpeg;
    cv::imencode(".jpg", big, jpeg);
    frame = produce_mmz_ImageYuv420sp(0, 0, nullptr);
    frame->decode_jpg(jpeg, ImageBase::DECODE_DEFAULT);
    nv12 = cv::Mat(1620, 1920, CV_8UC1, frame->data(), frame->stride());
    scratch = produce_roi_resize_scratch(*frame, *input, kWhole);
    dnn = cv::dnn::readNetFromONNX(KAVO_SOURCE_DIR "/data/models/blazeface_front_128.onnx");
  }

  void resize_into_tensor() { input->roi_resize_from(frame.get(), kWhole, scratch, 0, 0, 0, false, false); }
  void step() { net->step({{1, claimed[1]}}, outputs); }
  size_t convert() { return handler->convert(outputs, BoundBox<float>(0.f, 0.f, 1.f, 1.f)).size(); }
  // cv::resize of both planes of the frame, then the small picture to RGB.
  cv::Mat opencv_resize() {
    cv::Mat small(192, 128, CV_8UC1), rgb;
    cv::resize(nv12.rowRange(0, 1080), small.rowRange(0, 128), cv::Size(128, 128));
    cv::Mat uv = nv12.rowRange(1080, 1620).reshape(2), smallUv = small.rowRange(128, 192).reshape(2);
    cv::resize(uv, smallUv, cv::Size(64, 64));
    cv::cvtColor(small, rgb, cv::COLOR_YUV2RGB_NV12);
    return rgb;
  }

  const std::vector<float> kWhole = {0.f, 0.f, 1.f, 1.f};
  std::shared_ptr<NetworkWrapperBase> net;
  MapResId2ResBasePtr claimed, outputs;
  std::shared_ptr<ImageBase> input, frame;
  std::unique_ptr<DetectorHandler> handler;
  cv::Mat nv12;
  std::shared_ptr<MmzBlob> scratch;
  cv::dnn::Net dnn;
};

Detector& detector() {
  static Detector d;
  return d;
}

void BM_DetectorFrameNetworkStore(benchmark::State& state) {
  Detector& d = detector();
  for (auto _ : state) {
    d.resize_into_tensor();
    d.step();
    benchmark::DoNotOptimize(d.convert());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DetectorFrameOpenCV(benchmark::State& state) {
  Detector& d = detector();
  for (auto _ : state) benchmark::DoNotOptimize(blazeface_reference(d.dnn, d.opencv_resize()).size());
  state.SetItemsProcessed(state.iterations());
}

void BM_StageEngineResizeIntoTensor(benchmark::State& state) {
  for (auto _ : state) detector().resize_into_tensor();
}

void BM_StageStep(benchmark::State& state) {
  for (auto _ : state) detector().step();
}

void BM_StageConvert(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(detector().convert());
}

void BM_StageOpenCVResize(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(detector().opencv_resize().data);
}

// The reference's forward alone; its decoding and NMS are the rest of BM_DetectorFrameOpenCV.
void BM_StageOpenCVForward(benchmark::State& state) {
  Detector& d = detector();
  const cv::Mat rgb = d.opencv_resize();
  cv::Mat f;
  rgb.convertTo(f, CV_32FC3, 1.0 / 127.5, -1.0);
  const int nhwc[] = {1, 128, 128, 3};
  std::vector<cv::Mat> out;
  for (auto _ : state) {
    d.dnn.setInput(cv::Mat(4, nhwc, CV_32F, f.data));
    d.dnn.forward(out,
                  std::vector<std::string>{"Identity:0", "Identity_1:0", "Identity_2:0", "Identity_3:0"});
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_DetectorFrameNetworkStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DetectorFrameOpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StageEngineResizeIntoTensor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StageStep)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StageConvert)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StageOpenCVResize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StageOpenCVForward)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
