// Images on a 1080p frame, each beside the library doing the same job on the same bytes: JPEG encode
// and decode of ImageYuv420sp and ImageRgb vs raw TurboJPEG, the NV12 ROI resize (platform path) vs
// libyuv NV12Scale of the same crop, and drawing 100 labelled boxes on an NV12 frame.
#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <complex>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mmz.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"

namespace {

constexpr int kW = 1920, kH = 1080;

// A private arena, so the figures do not depend on other processes' blocks.
const bool kPrivateArena = [] {
  const std::string path = "/dev/shm/kavo_phys_image_bench." + std::to_string(getuid());
  setenv("KAVO_PHYS_ARENA", path.c_str(), 1);
  setenv("KAVO_PHYS_SIZE", "256M", 1);
  return true;
}();

// The photo scaled to 1080p in platform NV12 and RGB, and its JPEG bytes (4:2:0, quality 98, as
// encode_jpg writes them). Made once.
struct Frame {
  std::shared_ptr<ImageYuv420sp> yuv;
  std::shared_ptr<ImageRgb> rgb;
  std::vector<unsigned char> jpeg;
  std::vector<unsigned char> i420;    // the same pixels as planar Y, U, V
  std::vector<unsigned char> rgbrgb;  // and as interleaved RGB
};

const Frame& frame() {
  static const Frame f = [] {
    Frame f;
    auto photo = std::dynamic_pointer_cast<ImageRgb>(produce_ImageRgb(0, 0, nullptr));
    if (!photo->load(KAVO_ASTRONAUT_JPG, ImageBase::DECODE_DEFAULT)) std::abort();
    auto big = std::dynamic_pointer_cast<ImageRgb>(produce_ImageRgb(kW, kH, nullptr));
    big->resize_from(photo.get(), false, true);
    f.jpeg = *big->encode_jpg();
    f.yuv = std::dynamic_pointer_cast<ImageYuv420sp>(produce_mmz_ImageYuv420sp(0, 0, nullptr));
    f.rgb = std::dynamic_pointer_cast<ImageRgb>(produce_mmz_ImageRgb(0, 0, nullptr));
    if (!f.yuv->decode_jpg(f.jpeg, ImageBase::DECODE_DEFAULT)) std::abort();
    if (!f.rgb->decode_jpg(f.jpeg, ImageBase::DECODE_DEFAULT)) std::abort();
    f.i420.resize(kW * kH * 3 / 2);
    unsigned char* u = f.i420.data() + kW * kH;
    unsigned char* v = u + kW * kH / 4;
    for (int y = 0; y < kH; ++y) std::copy_n(f.yuv->data() + y * f.yuv->stride(), kW, f.i420.data() + y * kW);
    for (int j = 0; j < kH / 2; ++j)
      for (int i = 0; i < kW / 2; ++i) {
        u[j * kW / 2 + i] = f.yuv->uv_data()[j * f.yuv->stride() + 2 * i];
        v[j * kW / 2 + i] = f.yuv->uv_data()[j * f.yuv->stride() + 2 * i + 1];
      }
    f.rgbrgb.resize(kW * kH * 3);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int k = 0; k < 3; ++k)
          f.rgbrgb[(y * kW + x) * 3 + k] = f.rgb->plane_data(k)[y * f.rgb->stride() + x];
    return f;
  }();
  return f;
}

// ---- JPEG encode ----

void BM_Yuv420spEncodeJpg(benchmark::State& state) {
  const Frame& f = frame();
  for (auto _ : state) benchmark::DoNotOptimize(f.yuv->encode_jpg());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Yuv420spEncodeJpg)->Unit(benchmark::kMillisecond);

void BM_TurboJpegCompressFromYUV(benchmark::State& state) {
  const Frame& f = frame();
  tjhandle handle = tjInitCompress();
  for (auto _ : state) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompressFromYUV(handle, f.i420.data(), kW, 1, kH, TJSAMP_420, &jpeg, &size, 98, 0);
    benchmark::DoNotOptimize(jpeg);
    tjFree(jpeg);
  }
  tjDestroy(handle);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TurboJpegCompressFromYUV)->Unit(benchmark::kMillisecond);

void BM_RgbEncodeJpg(benchmark::State& state) {
  const Frame& f = frame();
  for (auto _ : state) benchmark::DoNotOptimize(f.rgb->encode_jpg());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RgbEncodeJpg)->Unit(benchmark::kMillisecond);

void BM_TurboJpegCompress2Rgb(benchmark::State& state) {
  const Frame& f = frame();
  tjhandle handle = tjInitCompress();
  for (auto _ : state) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, f.rgbrgb.data(), kW, 0, kH, TJPF_RGB, &jpeg, &size, TJSAMP_420, 98, 0);
    benchmark::DoNotOptimize(jpeg);
    tjFree(jpeg);
  }
  tjDestroy(handle);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TurboJpegCompress2Rgb)->Unit(benchmark::kMillisecond);

// ---- JPEG decode ----

void BM_Yuv420spDecodeJpg(benchmark::State& state) {
  const Frame& f = frame();
  auto img = produce_mmz_ImageYuv420sp(kW, kH, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(img->decode_jpg(f.jpeg, ImageBase::DECODE_DEFAULT));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Yuv420spDecodeJpg)->Unit(benchmark::kMillisecond);

void BM_TurboJpegDecompressToYUV2(benchmark::State& state) {
  const Frame& f = frame();
  tjhandle handle = tjInitDecompress();
  std::vector<unsigned char> out(tjBufSizeYUV2(kW, 1, kH, TJSAMP_420));
  for (auto _ : state) {
    tjDecompressToYUV2(handle, f.jpeg.data(), f.jpeg.size(), out.data(), kW, 1, kH, 0);
    benchmark::ClobberMemory();
  }
  tjDestroy(handle);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TurboJpegDecompressToYUV2)->Unit(benchmark::kMillisecond);

void BM_RgbDecodeJpg(benchmark::State& state) {
  const Frame& f = frame();
  auto img = produce_mmz_ImageRgb(kW, kH, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(img->decode_jpg(f.jpeg, ImageBase::DECODE_DEFAULT));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RgbDecodeJpg)->Unit(benchmark::kMillisecond);

void BM_RgbDecodeJpgHost(benchmark::State& state) {
  const Frame& f = frame();
  auto img = produce_ImageRgb(kW, kH, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(img->decode_jpg(f.jpeg, ImageBase::DECODE_DEFAULT));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RgbDecodeJpgHost)->Unit(benchmark::kMillisecond);

void BM_TurboJpegDecompress2Rgb(benchmark::State& state) {
  const Frame& f = frame();
  tjhandle handle = tjInitDecompress();
  std::vector<unsigned char> out(kW * kH * 3);
  for (auto _ : state) {
    tjDecompress2(handle, f.jpeg.data(), f.jpeg.size(), out.data(), kW, 0, kH, TJPF_RGB, 0);
    benchmark::ClobberMemory();
  }
  tjDestroy(handle);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TurboJpegDecompress2Rgb)->Unit(benchmark::kMillisecond);

// ---- ROI resize 1080p -> 300x300 ----

// ROI of the frame in fractions; the crop in pixels is what libyuv scales.
const std::vector<float> kRoi = {0.25f, 0.1f, 0.75f, 0.9f};

void BM_Yuv420spRoiResize(benchmark::State& state) {
  const Frame& f = frame();
  auto dst = produce_mmz_ImageYuv420sp(300, 300, nullptr);
  auto scratch = std::make_shared<MmzBlob>(std::vector<int>{1, kH * 3 / 2, kW});
  for (auto _ : state) {
    dst->roi_resize_from(f.yuv.get(), kRoi, scratch, 0, 0, 0, false, false);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Yuv420spRoiResize)->Unit(benchmark::kMillisecond);

void BM_LibyuvNV12ScaleCrop(benchmark::State& state) {
  const Frame& f = frame();
  auto dst = std::dynamic_pointer_cast<ImageYuv420sp>(produce_mmz_ImageYuv420sp(300, 300, nullptr));
  // The crop of the optimised path: origin and size rounded to even pixels.
  const int x = 480, y = 108, w = 960, h = 864;
  const int stride = static_cast<int>(f.yuv->stride());
  for (auto _ : state) {
    libyuv::NV12Scale(f.yuv->data() + y * stride + x, stride, f.yuv->uv_data() + (y / 2) * stride + x, stride,
                      w, h, dst->data(), static_cast<int>(dst->stride()), dst->uv_data(),
                      static_cast<int>(dst->stride()), 300, 300, libyuv::kFilterBilinear);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibyuvNV12ScaleCrop)->Unit(benchmark::kMillisecond);

// ---- drawing ----

void BM_Yuv420spDraw100LabelledBoxes(benchmark::State& state) {
  const Frame& f = frame();
  auto img = produce_mmz_ImageYuv420sp(0, 0, nullptr);
  img->copy_from(f.yuv.get(), false, false);
  // 100 boxes spread over the frame, 5% to 30% of its size, each with a score label above it.
  struct Box {
    std::complex<float> p1, p2;
    std::string label;
  };
  std::vector<Box> boxes;
  unsigned int seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<float>((seed >> 8) & 0xffff) / 65536.f;
  };
  for (int i = 0; i < 100; ++i) {
    const float w = 0.05f + 0.25f * next(), h = 0.05f + 0.25f * next();
    const float x = 0.7f * next(), y = 0.03f + 0.65f * next();
    char label[32];
    std::snprintf(label, sizeof(label), "person %.2f", next());
    boxes.push_back({{x, y}, {x + w, y + h}, label});
  }
  for (auto _ : state) {
    for (const Box& b : boxes) {
      img->draw_box(b.p1, b.p2, 0, 255, 0, 0.002f);
      img->draw_text(b.p1 - std::complex<float>(0.f, 0.025f), b.label, 255, 255, 0, 0.02f);
    }
    img->refresh();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_Yuv420spDraw100LabelledBoxes)->Unit(benchmark::kMillisecond);

}  // namespace
