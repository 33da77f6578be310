// Call log and fault injection of the platform SDK stand-in, and the module error-code helpers.
#include "mi_test.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "mi_internal.h"
#include "mi_sys.h"

namespace kavo_mi {
namespace {

const char* const kNames[kFnCount] = {
    "MI_SYS_Init",      "MI_SYS_Exit",          "MI_SYS_MMA_Alloc",  "MI_SYS_MMA_Free", "MI_SYS_Mmap",
    "MI_SYS_Munmap",    "MI_SYS_FlushInvCache", "MI_SYS_MemcpyPa",   "MI_SYS_MemsetPa", "MI_SYS_BufFillPa",
    "MI_SYS_BufBlitPa", "MI_SYS_GetCurPts",     "MI_IVE_Create",     "MI_IVE_Destroy",  "MI_IVE_Resize",
    "MI_IVE_Csc",       "MI_IVE_Integ",         "MI_SCL_StretchBuf",
    // clang-format off
    "MI_IPU_CreateDevice", "MI_IPU_DestroyDevice", "MI_IPU_GetOfflineModeStaticInfo", "MI_IPU_CreateCHN",
    "MI_IPU_DestroyCHN", "MI_IPU_GetInOutTensorDesc", "MI_IPU_GetInputTensors", "MI_IPU_PutInputTensors",
    "MI_IPU_GetOutputTensors", "MI_IPU_PutOutputTensors", "MI_IPU_Invoke",
    // clang-format on
};

struct Fault {
  MI_S32 code = MI_SUCCESS;
  MI_U32 skip = 0;
  MI_U32 times = 0;  // 0: no fault pending
};

std::atomic<MI_U32> gCalls[kFnCount];
// Number of functions with a pending fault: lets calls skip the fault mutex in the common case.
std::atomic<int> gPending{0};
std::mutex gFaultMutex;  // guards gFaults
Fault gFaults[kFnCount];

int find(const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < kFnCount; ++i) {
    if (std::strcmp(kNames[i], name) == 0) return i;
  }
  return -1;
}

}  // namespace

bool enter(Fn fn, MI_S32* code) {
  gCalls[fn].fetch_add(1, std::memory_order_relaxed);
  if (gPending.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> lock(gFaultMutex);
  Fault& f = gFaults[fn];
  if (f.times == 0) return false;
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  *code = f.code;
  if (--f.times == 0) gPending.fetch_sub(1, std::memory_order_release);
  return true;
}

MI_S32 err_illegal(MI_ModuleId_e module) {
  return MI_DEF_ERR(module, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_ILLEGAL_PARAM);
}
MI_S32 err_unexist(MI_ModuleId_e module) {
  return MI_DEF_ERR(module, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_UNEXIST);
}
MI_S32 err_null(MI_ModuleId_e module) { return MI_DEF_ERR(module, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_NULL_PTR); }
MI_S32 err_notready(MI_ModuleId_e module) {
  return MI_DEF_ERR(module, E_MI_ERR_LEVEL_ERROR, E_MI_ERR_SYS_NOTREADY);
}

}  // namespace kavo_mi

using namespace kavo_mi;

extern "C" {

MI_U32 MI_TEST_GetCallCount(const char* pszFunc) {
  int i = find(pszFunc);
  return i < 0 ? 0 : gCalls[i].load(std::memory_order_relaxed);
}

void MI_TEST_ResetCallLog(void) {
  for (auto& c : gCalls) c.store(0, std::memory_order_relaxed);
}

MI_S32 MI_TEST_InjectFault(const char* pszFunc, MI_S32 s32Code, MI_U32 u32Skip, MI_U32 u32Times) {
  int i = find(pszFunc);
  if (i < 0) return MI_ERR_SYS_ILLEGAL_PARAM;
  std::lock_guard<std::mutex> lock(gFaultMutex);
  Fault& f = gFaults[i];
  bool wasPending = f.times > 0;
  f = Fault{s32Code, u32Skip, u32Times};
  bool isPending = f.times > 0;
  if (isPending && !wasPending) gPending.fetch_add(1, std::memory_order_release);
  if (!isPending && wasPending) gPending.fetch_sub(1, std::memory_order_release);
  return MI_SUCCESS;
}

MI_S32 MI_TEST_FailNext(const char* pszFunc, MI_S32 s32Code) {
  return MI_TEST_InjectFault(pszFunc, s32Code, 0, 1);
}

void MI_TEST_ClearFaults(void) {
  std::lock_guard<std::mutex> lock(gFaultMutex);
  for (auto& f : gFaults) f = Fault{};
  gPending.store(0, std::memory_order_release);
}

MI_S32 MI_TEST_GetArenaInfo(MI_TEST_ArenaInfo_t* pstInfo) {
  if (pstInfo == nullptr) return MI_ERR_SYS_NULL_PTR;
  arena::Info in;
  MI_S32 ret = arena::info(&in);
  if (ret != MI_SUCCESS) return ret;
  pstInfo->phyBase = in.phyBase;
  pstInfo->u64Size = in.size;
  pstInfo->u64UsedBytes = in.usedBytes;
  pstInfo->u32LiveBlocks = in.liveBlocks;
  pstInfo->u32OwnBlocks = in.ownBlocks;
  pstInfo->u32MaxBlocks = in.maxBlocks;
  return MI_SUCCESS;
}

MI_S32 MI_TEST_ReclaimDeadOwners(MI_U32* pu32Reclaimed) {
  MI_U32 n = 0;
  MI_S32 ret = arena::reclaim_dead_owners(&n);
  if (pu32Reclaimed != nullptr) *pu32Reclaimed = n;
  return ret;
}

MI_S32 MI_TEST_HoldArenaLock(void) { return arena::hold_lock_forever(); }

}  // extern "C"
