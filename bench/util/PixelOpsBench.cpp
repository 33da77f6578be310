// CPU pixel operations at 1080p beside the libraries that do the same job: NV12 <-> planar RGB
// against libyuv NV12ToRAW, planar <-> interleaved RGB against libyuv's plane merge and split, and
// the bilinear ROI resize against OpenCV's INTER_LINEAR resize on one thread.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "util/RgbChannel.h"
#include "util/RoiResize.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kOut = 300;

std::vector<unsigned char> random_bytes(size_t n) {
  std::mt19937 gen(42);
  std::uniform_int_distribution<int> dist(0, 255);
  std::vector<unsigned char> out(n);
  for (auto& v : out) v = static_cast<unsigned char>(dist(gen));
  return out;
}

void BM_RgbChannelYuv420sp2Rgb(benchmark::State& state) {
  const auto nv12 = random_bytes(kWidth * kHeight * 3 / 2);
  std::vector<unsigned char> rgb(3 * kWidth * kHeight);
  for (auto _ : state) {
    rgbchannel::yuv420sp2rgb(nv12.data(), rgb.data(), kWidth, kHeight, false);
    benchmark::DoNotOptimize(rgb.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RgbChannelYuv420sp2Rgb)->Unit(benchmark::kMillisecond);

void BM_RgbChannelRgb2Yuv420sp(benchmark::State& state) {
  const auto rgb = random_bytes(3 * kWidth * kHeight);
  std::vector<unsigned char> nv12(kWidth * kHeight * 3 / 2);
  for (auto _ : state) {
    rgbchannel::rgb2yuv420sp(rgb.data(), nv12.data(), kWidth, kHeight, false);
    benchmark::DoNotOptimize(nv12.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RgbChannelRgb2Yuv420sp)->Unit(benchmark::kMillisecond);

// Reference: libyuv NV12 -> interleaved RGB (RAW), the same amount of input and output.
void BM_LibyuvNV12ToRAW(benchmark::State& state) {
  const auto nv12 = random_bytes(kWidth * kHeight * 3 / 2);
  std::vector<unsigned char> raw(3 * kWidth * kHeight);
  for (auto _ : state) {
    libyuv::NV12ToRAW(nv12.data(), kWidth, nv12.data() + kWidth * kHeight, kWidth, raw.data(), 3 * kWidth,
                      kWidth, kHeight);
    benchmark::DoNotOptimize(raw.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_LibyuvNV12ToRAW)->Unit(benchmark::kMillisecond);

void BM_RgbChannelRrggbb2Rgbrgb(benchmark::State& state) {
  const auto planar = random_bytes(3 * kWidth * kHeight);
  std::vector<unsigned char> interleaved;
  for (auto _ : state) {
    rgbchannel::convert_rrggbb2rgbrgb(planar, interleaved, false);
    benchmark::DoNotOptimize(interleaved.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RgbChannelRrggbb2Rgbrgb)->Unit(benchmark::kMillisecond);

// Reference: libyuv's merge of three planes into interleaved RGB.
void BM_LibyuvMergeRGBPlane(benchmark::State& state) {
  const auto planar = random_bytes(3 * kWidth * kHeight);
  const unsigned char* r = planar.data();
  std::vector<unsigned char> interleaved(3 * kWidth * kHeight);
  for (auto _ : state) {
    libyuv::MergeRGBPlane(r, kWidth, r + kWidth * kHeight, kWidth, r + 2 * kWidth * kHeight, kWidth,
                          interleaved.data(), 3 * kWidth, kWidth, kHeight);
    benchmark::DoNotOptimize(interleaved.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_LibyuvMergeRGBPlane)->Unit(benchmark::kMillisecond);

void BM_RgbChannelRgbrgb2Rrggbb(benchmark::State& state) {
  const auto interleaved = random_bytes(3 * kWidth * kHeight);
  std::vector<unsigned char> planar;
  for (auto _ : state) {
    rgbchannel::convert_rgbrgb2rrggbb(interleaved, planar, false);
    benchmark::DoNotOptimize(planar.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RgbChannelRgbrgb2Rrggbb)->Unit(benchmark::kMillisecond);

// Reference: libyuv's split of interleaved RGB into three planes.
void BM_LibyuvSplitRGBPlane(benchmark::State& state) {
  const auto interleaved = random_bytes(3 * kWidth * kHeight);
  std::vector<unsigned char> planar(3 * kWidth * kHeight);
  unsigned char* r = planar.data();
  for (auto _ : state) {
    libyuv::SplitRGBPlane(interleaved.data(), 3 * kWidth, r, kWidth, r + kWidth * kHeight, kWidth,
                          r + 2 * kWidth * kHeight, kWidth, kWidth, kHeight);
    benchmark::DoNotOptimize(planar.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_LibyuvSplitRGBPlane)->Unit(benchmark::kMillisecond);

void BM_RoiResize4CornersU8(benchmark::State& state) {
  const auto in = random_bytes(kWidth * kHeight);
  std::vector<unsigned char> out(kOut * kOut);
  const std::vector<int> inShape = {kHeight, kWidth};
  const std::vector<int> outShape = {kOut, kOut};
  const std::vector<float> roi = {0, 0, 1, 1};
  for (auto _ : state) {
    roiresize::roi_resize_4corners<unsigned char>(in.data(), inShape, out.data(), outShape, roi, 0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kOut * kOut);
}
BENCHMARK(BM_RoiResize4CornersU8)->Unit(benchmark::kMillisecond);

// Reference: OpenCV bilinear resize of the same single-channel image, one thread.
void BM_OpenCvResizeLinearU8(benchmark::State& state) {
  cv::setNumThreads(1);
  auto data = random_bytes(kWidth * kHeight);
  const cv::Mat in(kHeight, kWidth, CV_8UC1, data.data());
  cv::Mat out(kOut, kOut, CV_8UC1);
  for (auto _ : state) {
    cv::resize(in, out, cv::Size(kOut, kOut), 0, 0, cv::INTER_LINEAR);
    benchmark::DoNotOptimize(out.data);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kOut * kOut);
}
BENCHMARK(BM_OpenCvResizeLinearU8)->Unit(benchmark::kMillisecond);

}  // namespace
