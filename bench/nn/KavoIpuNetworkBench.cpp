// One model invocation through a channel: the fixed cost of run() (descriptor checks, address
// checks in the arena, the executor call) with a zeros model of four tensors, and the BlazeFace
// detector on an NV12 input against OpenCV dnn's forward on the same picture as a float blob made
// outside the timing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "nn/ssc/kavo_ipu_network.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string write_model(const std::string& name, const nlohmann::json& header, const std::string& payload) {
  const std::string h = header.dump();
  std::string bytes = "KAVOIPU1";
  for (uint32_t v : {static_cast<uint32_t>(h.size()), static_cast<uint32_t>(payload.size())}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  const std::string path = "/tmp/kavo_bench_" + std::to_string(getpid()) + "_" + name;
  std::ofstream(path, std::ios::binary) << bytes << h << payload;
  return path;
}

void init_device() {
  static bool done = [] {
    const std::string fw = write_model("fw", nlohmann::json::object(), "");
    KAVO_IPU_Init(fw, {});
    return true;
  }();
  (void)done;
}

KAVO_MODEL_CFG_S cfg(const std::string& file) {
  KAVO_MODEL_CFG_S c;
  c.modelName = "bench";
  c.modelFile = file;
  c.u32BlobCopies = 1;
  return c;
}

void BM_RunZerosFourTensors(benchmark::State& state) {
  init_device();
  nlohmann::json t = {{"name", "t"}, {"format", 0}, {"shape", {1, 64}}};
  KavoIpuNetwork net(
      cfg(write_model(
          "zeros",
          {{"variableBufferSize", 4096}, {"inputs", {t, t}}, {"outputs", {t, t}}, {"executor", "zeros"}},
          "")),
      -1);
  auto desc = net.getInputOutputBlobDesc();
  for (auto _ : state) net.run(desc.first.data(), 2, desc.second.data(), 2);
}
BENCHMARK(BM_RunZerosFourTensors);

cv::Mat astronaut_128() {
  cv::Mat picture = cv::imread(KAVO_SOURCE_DIR "/data/astronaut.jpg");
  cv::Mat small;
  cv::resize(picture, small, cv::Size(128, 128), 0, 0, cv::INTER_AREA);
  return small;
}

void BM_RunBlazeFaceNv12(benchmark::State& state) {
  cv::setNumThreads(1);  // one thread, here and in the reference: the stand-in shares this OpenCV
  init_device();
  const std::string dir = KAVO_SOURCE_DIR "/data/models/";
  KavoIpuNetwork net(
      cfg(write_model("blazeface", nlohmann::json::parse(read_file(dir + "blazeface_front_128.recipe.json")),
                      read_file(dir + "blazeface_front_128.onnx"))),
      -1);
  auto desc = net.getInputOutputBlobDesc();
  cv::Mat i420;
  cv::cvtColor(astronaut_128(), i420, cv::COLOR_BGR2YUV_I420);
  auto* nv12 = static_cast<uint8_t*>(desc.first[0].pVirAddr);
  std::memcpy(nv12, i420.data, 128 * 128);
  for (int i = 0; i < 128 * 128 / 4; ++i) {
    nv12[128 * 128 + 2 * i] = i420.data[128 * 128 + i];
    nv12[128 * 128 + 2 * i + 1] = i420.data[128 * 128 * 5 / 4 + i];
  }
  for (auto _ : state) net.run(desc.first.data(), 1, desc.second.data(), 4);
}
BENCHMARK(BM_RunBlazeFaceNv12)->Unit(benchmark::kMillisecond);

void BM_OpenCvForwardFloatBlob(benchmark::State& state) {
  cv::setNumThreads(1);
  cv::dnn::Net net = cv::dnn::readNetFromONNX(KAVO_SOURCE_DIR "/data/models/blazeface_front_128.onnx");
  cv::Mat rgb, f;
  cv::cvtColor(astronaut_128(), rgb, cv::COLOR_BGR2RGB);
  rgb.convertTo(f, CV_32FC3, 1 / 127.5, -1.0);
  const int sizes[] = {1, 128, 128, 3};
  cv::Mat blob(4, sizes, CV_32F, f.data);
  const std::vector<std::string> names = {"Identity:0", "Identity_1:0", "Identity_2:0", "Identity_3:0"};
  std::vector<cv::Mat> outs;
  for (auto _ : state) {
    net.setInput(blob);
    net.forward(outs, names);
  }
}
BENCHMARK(BM_OpenCvForwardFloatBlob)->Unit(benchmark::kMillisecond);

}  // namespace
