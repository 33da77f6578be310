// DMA copy of the platform stand-in against a plain memcpy: a cold 1080p NV12 frame (the sources cycle
// through more memory than the caches hold) copied by physical address and through CPU mappings.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "mi_sys.h"

namespace {

constexpr uint32_t kFrameBytes = 1920 * 1080 * 3 / 2;
constexpr int kSources = 24;  // about 75 MB: every source frame is cold when its turn comes

struct Frames {
  Frames() {
    MI_SYS_Init(0);
    for (int i = 0; i <= kSources; ++i) {
      MI_PHY phy = 0;
      void* vir = nullptr;
      if (MI_SYS_MMA_Alloc(0, nullptr, kFrameBytes, &phy) != MI_SUCCESS ||
          MI_SYS_Mmap(phy, kFrameBytes, &vir, 1) != MI_SUCCESS) {
        ok = false;
        return;
      }
      std::memset(vir, i, kFrameBytes);  // touch every page before timing
      phys.push_back(phy);
      virs.push_back(static_cast<unsigned char*>(vir));
    }
  }
  ~Frames() {
    for (size_t i = 0; i < phys.size(); ++i) {
      MI_SYS_Munmap(virs[i], kFrameBytes);
      MI_SYS_MMA_Free(0, phys[i]);
    }
  }
  bool ok = true;
  std::vector<MI_PHY> phys;  // [kSources] is the destination
  std::vector<unsigned char*> virs;
};

Frames& frames() {
  static Frames f;
  return f;
}

void BM_MemcpyPa_Nv12Frame1080p_Cold(benchmark::State& state) {
  Frames& f = frames();
  if (!f.ok) {
    state.SkipWithError("arena allocation failed");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    MI_S32 ret = MI_SYS_MemcpyPa(0, f.phys[kSources], f.phys[i], kFrameBytes);
    benchmark::DoNotOptimize(ret);
    benchmark::ClobberMemory();
    i = (i + 1) % kSources;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}
BENCHMARK(BM_MemcpyPa_Nv12Frame1080p_Cold)->Unit(benchmark::kMillisecond);

void BM_Memcpy_Nv12Frame1080p_Cold(benchmark::State& state) {
  Frames& f = frames();
  if (!f.ok) {
    state.SkipWithError("arena allocation failed");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    std::memcpy(f.virs[kSources], f.virs[i], kFrameBytes);
    benchmark::ClobberMemory();
    i = (i + 1) % kSources;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameBytes);
}
BENCHMARK(BM_Memcpy_Nv12Frame1080p_Cold)->Unit(benchmark::kMillisecond);

}  // namespace
