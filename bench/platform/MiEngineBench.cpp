// The platform stand-in's image engine against the libraries doing the same job, on 1080p frames:
// NV12 resize (libyuv NV12Scale), NV12 to planar RGB (libyuv NV12ToRAW + SplitRGBPlane) and the
// integral image (OpenCV cv::integral). One engine call each, as the library makes per tile.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "mi_ive.h"
#include "mi_sys.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr MI_IVE_HANDLE kHandle = 100;

// A block of platform memory with a CPU mapping, released at exit.
struct Block {
  explicit Block(uint32_t size) : size(size) {
    if (MI_SYS_MMA_Alloc(0, nullptr, size, &phy) == MI_SUCCESS) {
      void* v = nullptr;
      if (MI_SYS_Mmap(phy, size, &v, 1) == MI_SUCCESS) vir = static_cast<uint8_t*>(v);
    }
    if (vir != nullptr) {
      for (uint32_t i = 0; i < size; ++i) vir[i] = static_cast<uint8_t>(i * 31 + (i >> 11));
    }
  }
  ~Block() {
    if (vir != nullptr) MI_SYS_Munmap(vir, size);
    if (phy != 0) MI_SYS_MMA_Free(0, phy);
  }
  uint32_t size;
  MI_PHY phy = 0;
  uint8_t* vir = nullptr;
};

MI_IVE_Image_t image(MI_IVE_ImageType_e type, const Block& b, int w, int h, int planeBytes) {
  MI_IVE_Image_t img{};
  img.eType = type;
  img.u16Width = static_cast<MI_U16>(w);
  img.u16Height = static_cast<MI_U16>(h);
  for (int k = 0; k < 3; ++k) {
    img.u64PhyAddr[k] = b.phy + static_cast<MI_PHY>(k) * planeBytes;
    img.pu8VirAddr[k] = b.vir + static_cast<size_t>(k) * planeBytes;
    img.u16Stride[k] = static_cast<MI_U16>(w);
  }
  return img;
}

void BM_IveResizeNv12(benchmark::State& state) {
  int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  Block src(kW * kH * 3 / 2), dst(dw * dh * 3 / 2);
  MI_IVE_Image_t s = image(E_MI_IVE_IMAGE_TYPE_YUV420SP, src, kW, kH, kW * kH);
  MI_IVE_Image_t d = image(E_MI_IVE_IMAGE_TYPE_YUV420SP, dst, dw, dh, dw * dh);
  MI_IVE_ResizeCtrl_t ctrl{E_MI_IVE_RESIZE_TYPE_YUV420SP};
  MI_IVE_Create(kHandle);
  for (auto _ : state) benchmark::DoNotOptimize(MI_IVE_Resize(kHandle, &s, &d, &ctrl, 1));
  MI_IVE_Destroy(kHandle);
}
BENCHMARK(BM_IveResizeNv12)
    ->Args({300, 300})
    ->Args({640, 360})
    ->Args({1280, 720})
    ->Unit(benchmark::kMillisecond);

void BM_LibyuvNV12Scale(benchmark::State& state) {
  int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  std::vector<uint8_t> src(kW * kH * 3 / 2, 77), dst(dw * dh * 3 / 2);
  for (auto _ : state) {
    libyuv::NV12Scale(src.data(), kW, src.data() + kW * kH, kW, kW, kH, dst.data(), dw, dst.data() + dw * dh,
                      dw, dw, dh, libyuv::kFilterBilinear);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LibyuvNV12Scale)
    ->Args({300, 300})
    ->Args({640, 360})
    ->Args({1280, 720})
    ->Unit(benchmark::kMillisecond);

void BM_IveCscNv12ToRgb(benchmark::State& state) {
  Block src(kW * kH * 3 / 2), dst(kW * kH * 3);
  MI_IVE_Image_t s = image(E_MI_IVE_IMAGE_TYPE_YUV420SP, src, kW, kH, kW * kH);
  MI_IVE_Image_t d = image(E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR, dst, kW, kH, kW * kH);
  MI_IVE_CscCtrl_t ctrl{E_MI_IVE_CSC_TYPE_YUV2RGB};
  MI_IVE_Create(kHandle);
  for (auto _ : state) benchmark::DoNotOptimize(MI_IVE_Csc(kHandle, &s, &d, &ctrl, 1));
  MI_IVE_Destroy(kHandle);
}
BENCHMARK(BM_IveCscNv12ToRgb)->Unit(benchmark::kMillisecond);

void BM_LibyuvNV12ToRAWThenSplit(benchmark::State& state) {
  std::vector<uint8_t> src(kW * kH * 3 / 2, 77), packed(kW * kH * 3), planes(kW * kH * 3);
  for (auto _ : state) {
    libyuv::NV12ToRAW(src.data(), kW, src.data() + kW * kH, kW, packed.data(), kW * 3, kW, kH);
    libyuv::SplitRGBPlane(packed.data(), kW * 3, planes.data(), kW, planes.data() + kW * kH, kW,
                          planes.data() + 2 * kW * kH, kW, kW, kH);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LibyuvNV12ToRAWThenSplit)->Unit(benchmark::kMillisecond);

void BM_IveInteg(benchmark::State& state) {
  Block src(kW * kH), dst(kW * kH * 4);
  MI_IVE_Image_t s = image(E_MI_IVE_IMAGE_TYPE_U8C1, src, kW, kH, kW * kH);
  MI_IVE_Image_t d = image(E_MI_IVE_IMAGE_TYPE_U32C1, dst, kW, kH, kW * kH * 4);
  MI_IVE_IntegCtrl_t ctrl{E_MI_IVE_INTEG_OUT_CTRL_SUM};
  MI_IVE_Create(kHandle);
  for (auto _ : state) benchmark::DoNotOptimize(MI_IVE_Integ(kHandle, &s, &d, &ctrl, 1));
  MI_IVE_Destroy(kHandle);
}
BENCHMARK(BM_IveInteg)->Unit(benchmark::kMillisecond);

void BM_CvIntegral(benchmark::State& state) {
  cv::Mat src(kH, kW, CV_8UC1, cv::Scalar(77)), sum;
  for (auto _ : state) {
    cv::integral(src, sum, CV_32S);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CvIntegral)->Unit(benchmark::kMillisecond);

}  // namespace
