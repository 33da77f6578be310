/* Test hooks of the platform SDK stand-in (not part of the vendor's SDK): a per-process log of calls
 * (counts per function) and fault injection (make coming calls of a function return a chosen code),
 * so tests can drive every failure path of the library and count its DMA and engine calls. Function
 * names are the SDK's, e.g. "MI_SYS_MemcpyPa". All hooks are thread-safe. */
#ifndef KAVO_MI_TEST_H_
#define KAVO_MI_TEST_H_

#include "mi_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Calls of pszFunc since the last reset (faulted calls included); 0 for unknown names. */
MI_U32 MI_TEST_GetCallCount(const char* pszFunc);
/* Sets every call count to zero. */
void MI_TEST_ResetCallLog(void);

/* The next call of pszFunc returns s32Code without doing anything (its outputs untouched).
 * Returns MI_SUCCESS, or MI_ERR_SYS_ILLEGAL_PARAM for a name that is not an SDK function. */
MI_S32 MI_TEST_FailNext(const char* pszFunc, MI_S32 s32Code);
/* After u32Skip more calls of pszFunc succeed normally, the following u32Times calls return s32Code.
 * A new injection for the same function replaces the old one. */
MI_S32 MI_TEST_InjectFault(const char* pszFunc, MI_S32 s32Code, MI_U32 u32Skip, MI_U32 u32Times);
/* Removes all pending injections. */
void MI_TEST_ClearFaults(void);

/* State of the arena as seen under its lock. */
typedef struct MI_TEST_ArenaInfo_s {
  MI_PHY phyBase;       /* physical address of the first allocatable byte */
  MI_U64 u64Size;       /* allocatable bytes */
  MI_U64 u64UsedBytes;  /* bytes in live blocks */
  MI_U32 u32LiveBlocks; /* live blocks of all processes */
  MI_U32 u32OwnBlocks;  /* live blocks owned by this process */
  MI_U32 u32MaxBlocks;  /* capacity of the block table */
} MI_TEST_ArenaInfo_t;

MI_S32 MI_TEST_GetArenaInfo(MI_TEST_ArenaInfo_t* pstInfo);
/* Returns the blocks of processes that no longer exist to the pool; *pu32Reclaimed (may be NULL) gets
 * their number. Allocation does this by itself when the pool is exhausted, and MI_SYS_Init does it. */
MI_S32 MI_TEST_ReclaimDeadOwners(MI_U32* pu32Reclaimed);
/* Takes the arena lock and never releases it (for tests of a process dying while it holds the lock). */
MI_S32 MI_TEST_HoldArenaLock(void);
/* Live mappings made by MI_SYS_Mmap in this process. */
MI_U32 MI_TEST_GetMappingCount(void);

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_TEST_H_ */
