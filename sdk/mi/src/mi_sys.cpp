// MI_SYS of the platform SDK stand-in: start-up counting, block allocation (through the arena), CPU
// mappings of blocks, the cache flush check, DMA copies and fills by physical address, and the clock.
#include "mi_sys.h"

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "mi_internal.h"
#include "mi_test.h"

namespace kavo_mi {
namespace {

constexpr std::uint64_t kPage = 4096;

std::atomic<int> gInitCount{0};

// A CPU mapping made by MI_SYS_Mmap: [base, base + length) maps whole pages of the arena file; the
// caller got `vir` (= base + offset of phy in its page) and asked for `size` bytes.
struct Mapping {
  std::uint8_t* base;
  std::size_t length;
  std::uint8_t* vir;
  MI_U32 size;
  MI_PHY phy;  // the block stays pinned by this process until the mapping goes
};

struct Mappings {
  std::mutex mutex;  // guards byBase
  std::map<std::uintptr_t, Mapping> byBase;
};

Mappings& mappings() {
  static Mappings* m = new Mappings;  // never destroyed: users may unmap from static destructors
  return *m;
}

// The mapping containing [p, p + len) (page-rounded extent), or nullptr. Caller holds the mutex.
const Mapping* find_mapping_nolock(Mappings& m, const void* p, std::size_t len) {
  std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
  auto it = m.byBase.upper_bound(a);
  if (it == m.byBase.begin()) return nullptr;
  --it;
  const Mapping& map = it->second;
  std::uintptr_t end = it->first + map.length;
  if (a >= end || len > end - a) return nullptr;
  return &map;
}

// Checks an 8-bit frame description for BufFillPa/BufBlitPa and returns its CPU view.
MI_S32 check_frame(const MI_SYS_FrameData_t* f, const MI_SYS_WindowRect_t* r, std::uint8_t** data) {
  if (f == nullptr || r == nullptr) return MI_ERR_SYS_NULL_PTR;
  if (f->ePixelFormat != E_MI_SYS_PIXEL_FRAME_I8) return MI_ERR_SYS_NOT_SUPPORT;
  if (f->u16Width == 0 || f->u16Height == 0 || f->u32Stride[0] < f->u16Width) return MI_ERR_SYS_ILLEGAL_PARAM;
  if (r->u16X + r->u16Width > f->u16Width || r->u16Y + r->u16Height > f->u16Height) {
    return MI_ERR_SYS_ILLEGAL_PARAM;
  }
  std::uint64_t extent = static_cast<std::uint64_t>(f->u32Stride[0]) * (f->u16Height - 1) + f->u16Width;
  if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_SYS, f->u64PhyAddr[0], extent)) return ret;
  *data = arena::view(f->u64PhyAddr[0]);
  return MI_SUCCESS;
}

}  // namespace
}  // namespace kavo_mi

using namespace kavo_mi;

extern "C" {

MI_S32 MI_SYS_Init(MI_U16 u16SocId) {
  KAVO_MI_ENTER(kSysInit);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  if (MI_S32 ret = arena::attach(E_MI_MODULE_ID_SYS)) return ret;
  if (gInitCount.fetch_add(1) == 0) {
    // A new user of the platform cleans up after processes that died holding blocks.
    std::uint32_t n = 0;
    arena::reclaim_dead_owners(&n);
  }
  return MI_SUCCESS;
}

MI_S32 MI_SYS_Exit(MI_U16 u16SocId) {
  KAVO_MI_ENTER(kSysExit);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  int n = gInitCount.load();
  while (n > 0 && !gInitCount.compare_exchange_weak(n, n - 1)) {
  }
  return MI_SUCCESS;
}

MI_S32 MI_SYS_MMA_Alloc(MI_U16 u16SocId, const char* pszHeapName, MI_U32 u32BlkSize, MI_PHY* pPhyAddr) {
  KAVO_MI_ENTER(kSysMmaAlloc);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  if (pPhyAddr == nullptr) return MI_ERR_SYS_NULL_PTR;
  if (pszHeapName != nullptr && pszHeapName[0] != '\0') return MI_ERR_SYS_NOT_SUPPORT;
  return arena::alloc(u32BlkSize, pPhyAddr);
}

MI_S32 MI_SYS_MMA_Free(MI_U16 u16SocId, MI_PHY phyAddr) {
  KAVO_MI_ENTER(kSysMmaFree);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  return arena::free(phyAddr);
}

MI_S32 MI_SYS_Mmap(MI_PHY phyAddr, MI_U32 u32Size, void** ppVirAddr, MI_BOOL bCache) {
  KAVO_MI_ENTER(kSysMmap);
  (void)bCache;
  if (ppVirAddr == nullptr) return MI_ERR_SYS_NULL_PTR;
  if (u32Size == 0) return MI_ERR_SYS_ILLEGAL_PARAM;
  if (MI_S32 ret = arena::pin(phyAddr, u32Size)) return ret;
  std::uint64_t off = phyAddr - KAVO_MI_PHYS_BASE;
  std::uint64_t pageOff = off / kPage * kPage;
  std::size_t length = static_cast<std::size_t>((off + u32Size - pageOff + kPage - 1) / kPage * kPage);
  void* base =
      mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, arena::fd(), static_cast<off_t>(pageOff));
  if (base == MAP_FAILED) {
    arena::unpin(phyAddr);
    return MI_ERR_SYS_NOMEM;
  }
  Mapping map{static_cast<std::uint8_t*>(base), length, static_cast<std::uint8_t*>(base) + (off - pageOff),
              u32Size, phyAddr};
  {
    Mappings& m = mappings();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.byBase[reinterpret_cast<std::uintptr_t>(base)] = map;
  }
  *ppVirAddr = map.vir;
  return MI_SUCCESS;
}

MI_S32 MI_SYS_Munmap(void* pVirAddr, MI_U32 u32Size) {
  KAVO_MI_ENTER(kSysMunmap);
  if (pVirAddr == nullptr) return MI_ERR_SYS_NULL_PTR;
  Mapping map;
  {
    Mappings& m = mappings();
    std::lock_guard<std::mutex> lock(m.mutex);
    const Mapping* found = find_mapping_nolock(m, pVirAddr, 1);
    if (found == nullptr || found->vir != pVirAddr || found->size != u32Size) return MI_ERR_SYS_UNEXIST;
    map = *found;
    m.byBase.erase(reinterpret_cast<std::uintptr_t>(map.base));
  }
  munmap(map.base, map.length);
  arena::unpin(map.phy);
  return MI_SUCCESS;
}

MI_S32 MI_SYS_FlushInvCache(void* pVirAddr, MI_U32 u32Size) {
  KAVO_MI_ENTER(kSysFlushInvCache);
  if (pVirAddr == nullptr) return MI_ERR_SYS_NULL_PTR;
  // Mappings are shared and coherent on the PC: only check that the range belongs to one of them.
  Mappings& m = mappings();
  std::lock_guard<std::mutex> lock(m.mutex);
  return find_mapping_nolock(m, pVirAddr, u32Size) != nullptr ? MI_SUCCESS : MI_ERR_SYS_UNEXIST;
}

MI_S32 MI_SYS_MemcpyPa(MI_U16 u16SocId, MI_PHY phyDst, MI_PHY phySrc, MI_U32 u32Len) {
  KAVO_MI_ENTER(kSysMemcpyPa);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_SYS, phyDst, u32Len)) return ret;
  if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_SYS, phySrc, u32Len)) return ret;
  std::memmove(arena::view(phyDst), arena::view(phySrc), u32Len);
  return MI_SUCCESS;
}

MI_S32 MI_SYS_MemsetPa(MI_U16 u16SocId, MI_PHY phyPa, MI_U32 u32Val, MI_U32 u32Len) {
  KAVO_MI_ENTER(kSysMemsetPa);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  if (MI_S32 ret = arena::check_range(E_MI_MODULE_ID_SYS, phyPa, u32Len)) return ret;
  std::uint8_t* p = arena::view(phyPa);
  std::uint8_t b[4] = {static_cast<std::uint8_t>(u32Val), static_cast<std::uint8_t>(u32Val >> 8),
                       static_cast<std::uint8_t>(u32Val >> 16), static_cast<std::uint8_t>(u32Val >> 24)};
  if (b[0] == b[1] && b[0] == b[2] && b[0] == b[3]) {
    std::memset(p, b[0], u32Len);
  } else {
    for (MI_U32 i = 0; i < u32Len; ++i) p[i] = b[i % 4];
  }
  return MI_SUCCESS;
}

MI_S32 MI_SYS_BufFillPa(MI_U16 u16SocId, const MI_SYS_FrameData_t* pstBuf, MI_U32 u32Val,
                        const MI_SYS_WindowRect_t* pstRect) {
  KAVO_MI_ENTER(kSysBufFillPa);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  std::uint8_t* data = nullptr;
  if (MI_S32 ret = check_frame(pstBuf, pstRect, &data)) return ret;
  std::size_t stride = pstBuf->u32Stride[0];
  std::uint8_t* row = data + stride * pstRect->u16Y + pstRect->u16X;
  for (int y = 0; y < pstRect->u16Height; ++y, row += stride) {
    std::memset(row, static_cast<std::uint8_t>(u32Val), pstRect->u16Width);
  }
  return MI_SUCCESS;
}

MI_S32 MI_SYS_BufBlitPa(MI_U16 u16SocId, const MI_SYS_FrameData_t* pstDstBuf,
                        const MI_SYS_WindowRect_t* pstDstRect, const MI_SYS_FrameData_t* pstSrcBuf,
                        const MI_SYS_WindowRect_t* pstSrcRect) {
  KAVO_MI_ENTER(kSysBufBlitPa);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  std::uint8_t* dst = nullptr;
  std::uint8_t* src = nullptr;
  if (MI_S32 ret = check_frame(pstDstBuf, pstDstRect, &dst)) return ret;
  if (MI_S32 ret = check_frame(pstSrcBuf, pstSrcRect, &src)) return ret;
  if (pstDstRect->u16Width != pstSrcRect->u16Width || pstDstRect->u16Height != pstSrcRect->u16Height) {
    return MI_ERR_SYS_ILLEGAL_PARAM;
  }
  std::size_t ds = pstDstBuf->u32Stride[0];
  std::size_t ss = pstSrcBuf->u32Stride[0];
  std::uint8_t* d = dst + ds * pstDstRect->u16Y + pstDstRect->u16X;
  const std::uint8_t* s = src + ss * pstSrcRect->u16Y + pstSrcRect->u16X;
  int h = pstSrcRect->u16Height;
  // Rows go bottom-up when the destination lies after the source, so overlapping windows copy whole.
  if (d > s) {
    for (int y = h - 1; y >= 0; --y) std::memmove(d + ds * y, s + ss * y, pstSrcRect->u16Width);
  } else {
    for (int y = 0; y < h; ++y) std::memmove(d + ds * y, s + ss * y, pstSrcRect->u16Width);
  }
  return MI_SUCCESS;
}

MI_S32 MI_SYS_GetCurPts(MI_U16 u16SocId, MI_U64* pu64Pts) {
  KAVO_MI_ENTER(kSysGetCurPts);
  if (u16SocId != 0) return MI_ERR_SYS_INVALID_DEVID;
  if (pu64Pts == nullptr) return MI_ERR_SYS_NULL_PTR;
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  *pu64Pts = static_cast<MI_U64>(ts.tv_sec) * 1000000u + static_cast<MI_U64>(ts.tv_nsec) / 1000u;
  return MI_SUCCESS;
}

const char* KAVO_MI_PhysMemDevice(void) { return arena::path(); }

MI_U32 MI_TEST_GetMappingCount(void) {
  Mappings& m = mappings();
  std::lock_guard<std::mutex> lock(m.mutex);
  return static_cast<MI_U32>(m.byBase.size());
}

}  // extern "C"
