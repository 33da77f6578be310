// The library's engine primitives (handle, tiling, engine call on the platform stand-in) against the
// libraries doing the same job on the same 1080p frame in the same platform memory: NV12 resize vs
// libyuv NV12Scale, NV12 to planar RGB vs libyuv NV12ToRAW + SplitRGBPlane, integral image vs
// cv::integral.
#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "platform/Iveproc.h"
#include "platform/Mmz.h"

namespace {

constexpr int kW = 1920, kH = 1080;

// A private arena, so the figures do not depend on other processes' blocks.
const bool kPrivateArena = [] {
  const std::string path = "/dev/shm/kavo_phys_iveproc_bench." + std::to_string(getuid());
  setenv("KAVO_PHYS_ARENA", path.c_str(), 1);
  setenv("KAVO_PHYS_SIZE", "256M", 1);
  return true;
}();

// Platform memory of `bytes`, filled with a pattern (so no scaler shortcut sees a flat frame).
std::unique_ptr<MmzMemory> block(int bytes) {
  auto m = std::make_unique<MmzMemory>(bytes);
  for (int i = 0; i < bytes; ++i) m->data()[i] = static_cast<unsigned char>(i * 31 + (i >> 11));
  return m;
}

// The source frame, shared by each benchmark and its reference.
MmzMemory& nv12_frame() {
  static std::unique_ptr<MmzMemory> frame = block(kW * kH * 3 / 2);
  return *frame;
}

void BM_MiiveYuv420spResize(benchmark::State& state) {
  const int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  MmzMemory& src = nv12_frame();
  auto dst = block(dw * dh * 3 / 2);
  const int dstUv = dw * dh;
  for (auto _ : state) {
    miive_yuv420sp_resize(src.phy_addr(), src.phy_addr() + kW * kH, src.data(), src.data() + kW * kH, kW, kW,
                          kW, kH, dst->phy_addr(), dst->phy_addr() + dstUv, dst->data(), dst->data() + dstUv,
                          dw, dw, dw, dh);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 3 / 2);
}
BENCHMARK(BM_MiiveYuv420spResize)->Args({300, 300})->Args({1280, 720})->Unit(benchmark::kMillisecond);

void BM_LibyuvNV12Scale(benchmark::State& state) {
  const int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  MmzMemory& src = nv12_frame();
  auto dst = block(dw * dh * 3 / 2);
  for (auto _ : state) {
    libyuv::NV12Scale(src.data(), kW, src.data() + kW * kH, kW, kW, kH, dst->data(), dw,
                      dst->data() + dw * dh, dw, dw, dh, libyuv::kFilterBilinear);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 3 / 2);
}
BENCHMARK(BM_LibyuvNV12Scale)->Args({300, 300})->Args({1280, 720})->Unit(benchmark::kMillisecond);

void BM_MiiveYuv2rgb(benchmark::State& state) {
  MmzMemory& src = nv12_frame();
  auto dst = block(kW * kH * 3);
  const uint64_t phy = dst->phy_addr();
  unsigned char* vir = dst->data();
  for (auto _ : state) {
    miive_yuv2rgb(src.phy_addr(), src.phy_addr() + kW * kH, src.data(), src.data() + kW * kH, kW, kW, kW, kH,
                  phy, phy + kW * kH, phy + 2 * kW * kH, vir, vir + kW * kH, vir + 2 * kW * kH, kW, kW, kW,
                  kW, kH);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 3 / 2);
}
BENCHMARK(BM_MiiveYuv2rgb)->Unit(benchmark::kMillisecond);

void BM_LibyuvNV12ToRAWThenSplit(benchmark::State& state) {
  MmzMemory& src = nv12_frame();
  auto dst = block(kW * kH * 3);
  std::vector<unsigned char> packed(kW * kH * 3);
  unsigned char* vir = dst->data();
  for (auto _ : state) {
    libyuv::NV12ToRAW(src.data(), kW, src.data() + kW * kH, kW, packed.data(), kW * 3, kW, kH);
    libyuv::SplitRGBPlane(packed.data(), kW * 3, vir, kW, vir + kW * kH, kW, vir + 2 * kW * kH, kW, kW, kH);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 3 / 2);
}
BENCHMARK(BM_LibyuvNV12ToRAWThenSplit)->Unit(benchmark::kMillisecond);

void BM_MiiveU8c1Integ(benchmark::State& state) {
  MmzMemory& src = nv12_frame();  // its Y plane
  auto dst = block(kW * kH * 4);
  for (auto _ : state) {
    miive_u8c1_integ(src.phy_addr(), src.data(), kW, kW, kH, dst->phy_addr(), dst->data(), 4 * kW, 4 * kW,
                     kH);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH);
}
BENCHMARK(BM_MiiveU8c1Integ)->Unit(benchmark::kMillisecond);

void BM_CvIntegral(benchmark::State& state) {
  MmzMemory& src = nv12_frame();
  cv::Mat y(kH, kW, CV_8UC1, src.data(), kW), sum;
  for (auto _ : state) {
    cv::integral(y, sum, CV_32S);  // reuses `sum` after the first call
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH);
}
BENCHMARK(BM_CvIntegral)->Unit(benchmark::kMillisecond);

}  // namespace
