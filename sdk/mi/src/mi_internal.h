// Internals of the platform SDK stand-in shared by its units: the per-function call log and fault
// injection, and the arena of emulated physical memory (one per machine user, shared by processes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mi_common.h"

namespace kavo_mi {

// Every SDK function of the stand-in, in the order of the name table in mi_test.cpp.
enum Fn : int {
  kSysInit,
  kSysExit,
  kSysMmaAlloc,
  kSysMmaFree,
  kSysMmap,
  kSysMunmap,
  kSysFlushInvCache,
  kSysMemcpyPa,
  kSysMemsetPa,
  kSysBufFillPa,
  kSysBufBlitPa,
  kSysGetCurPts,
  kIveCreate,
  kIveDestroy,
  kIveResize,
  kIveCsc,
  kIveInteg,
  kSclStretchBuf,
  kIpuCreateDevice,
  kIpuDestroyDevice,
  kIpuGetOfflineModeStaticInfo,
  kIpuCreateChn,
  kIpuDestroyChn,
  kIpuGetInOutTensorDesc,
  kIpuGetInputTensors,
  kIpuPutInputTensors,
  kIpuGetOutputTensors,
  kIpuPutOutputTensors,
  kIpuInvoke,
  kFnCount
};

// Counts a call of `fn`; returns true and sets *code when an injected fault applies to this call.
bool enter(Fn fn, MI_S32* code);

// First statement of every SDK function: log the call, return an injected fault if one is due.
#define KAVO_MI_ENTER(fn)                                   \
  do {                                                      \
    MI_S32 injected_ = 0;                                   \
    if (::kavo_mi::enter(fn, &injected_)) return injected_; \
  } while (0)

// Arena of emulated physical memory. Every function attaches it on first use (thread-safe) and
// returns an SDK status; `module` chooses which module's error codes are returned.
namespace arena {

// Attaches (creating or opening the file) if not yet done. MI_SUCCESS or the module's NOTREADY code.
MI_S32 attach(MI_ModuleId_e module);
// Path of the arena file (from KAVO_PHYS_ARENA or the per-user default).
const char* path();

MI_S32 alloc(std::uint64_t size, MI_PHY* phy);
// Frees a block. A block that another live process has mapped (pinned) stays in the table, out of
// reach of new mappings and allocations, until its last such mapping goes.
MI_S32 free(MI_PHY phy);
// Checks [phy, phy + len) as check_range and, for a process other than the owner, records that
// it maps the block: the block is neither reclaimed nor reused while that process lives and keeps
// the mapping. unpin() undoes one pin(). MI_ERR_SYS_NOMEM when too many processes map the block.
MI_S32 pin(MI_PHY phy, std::uint64_t len);
void unpin(MI_PHY phy);
// Checks that [phy, phy + len) lies inside one live block; len 0 is an error.
MI_S32 check_range(MI_ModuleId_e module, MI_PHY phy, std::uint64_t len);
// CPU address of `phy` in this process's view of the whole arena (valid after attach; no checks).
std::uint8_t* view(MI_PHY phy);
// File descriptor of the arena file (valid after attach), for new mappings of parts of it.
int fd();

struct Info {
  MI_PHY phyBase;
  std::uint64_t size;
  std::uint64_t usedBytes;
  std::uint32_t liveBlocks;
  std::uint32_t ownBlocks;
  std::uint32_t maxBlocks;
};
MI_S32 info(Info* out);
MI_S32 reclaim_dead_owners(std::uint32_t* reclaimed);
MI_S32 hold_lock_forever();

}  // namespace arena

// Error codes of one module, so that shared checks can report in the caller's module.
MI_S32 err_illegal(MI_ModuleId_e module);
MI_S32 err_unexist(MI_ModuleId_e module);
MI_S32 err_null(MI_ModuleId_e module);
MI_S32 err_notready(MI_ModuleId_e module);

}  // namespace kavo_mi
