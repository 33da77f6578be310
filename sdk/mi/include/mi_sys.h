/* MI_SYS: platform start-up, physically contiguous memory, CPU mappings, cache maintenance, DMA copies
 * and fills by physical address, and the platform clock.
 *
 * Stand-in: "physical memory" is one arena per machine user, a sparse file in shared memory (path from
 * KAVO_PHYS_ARENA, default /dev/shm/kavo_phys.<uid>; size from KAVO_PHYS_SIZE in bytes, optional
 * K/M/G suffix, default 1 GiB; an existing arena keeps its size). Physical address = 0x200000000 +
 * offset in the file. Allocation state lives in the arena, so processes share one pool and exchange
 * blocks by physical address. All functions are thread-safe and never crash on bad arguments: they
 * return an error code. */
#ifndef KAVO_MI_SYS_H_
#define KAVO_MI_SYS_H_

#include <stddef.h>

#include "mi_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Physical address of the first byte of the arena file. */
#define KAVO_MI_PHYS_BASE 0x200000000ull

typedef enum {
  E_MI_SYS_BUFDATA_RAW = 0,
  E_MI_SYS_BUFDATA_FRAME = 1,
  E_MI_SYS_BUFDATA_META = 2,
} MI_SYS_BufDataType_e;

/* One frame in physical memory. For BufFillPa/BufBlitPa only plane 0 is used (pixel format
 * E_MI_SYS_PIXEL_FRAME_I8: u16Width bytes per row, u32Stride[0] bytes between rows). For NV12 plane 0
 * is Y and plane 1 is the interleaved U,V plane with u16Height / 2 rows. Virtual addresses are the
 * writer's own and mean nothing in another process. The layout is the platform's (little-endian,
 * 88 bytes): tile mode @0, pixel format @4, compress mode @8, scan mode @12, field type @16, width
 * @20, height @22, virtual addresses @24, physical addresses @48, strides @72, buffer size @84. */
typedef struct MI_SYS_FrameData_s {
  MI_U32 eTileMode; /* 0: linear */
  MI_SYS_PixelFormat_e ePixelFormat;
  MI_U32 eCompressMode;  /* 0: none */
  MI_U32 eFrameScanMode; /* 0: progressive */
  MI_U32 eFieldType;     /* 0: frame */
  MI_U16 u16Width;
  MI_U16 u16Height;
  void* pVirAddr[3];
  MI_PHY u64PhyAddr[3];
  MI_U32 u32Stride[3];
  MI_U32 u32BufSize;
} MI_SYS_FrameData_t;

/* Record of one platform frame buffer, as a frame sender passes it to other processes (272 bytes:
 * pts at byte 0, buffer type at byte 16, frame data from byte 32). */
typedef struct MI_SYS_BufInfo_s {
  MI_U64 u64Pts; /* microseconds of MI_SYS_GetCurPts */
  MI_U32 u32SequenceNumber;
  MI_U32 u32Reserved0;
  MI_SYS_BufDataType_e eBufType;
  MI_BOOL bEndOfStream;
  MI_U8 au8Reserved1[8];
  union {
    MI_SYS_FrameData_t stFrameData;
    MI_U8 au8Reserved[240];
  };
} MI_SYS_BufInfo_t;

#ifdef __cplusplus
static_assert(sizeof(MI_SYS_BufInfo_t) == 272, "MI_SYS_BufInfo_t must be 272 bytes");
static_assert(offsetof(MI_SYS_BufInfo_t, eBufType) == 16, "eBufType at byte 16");
static_assert(offsetof(MI_SYS_BufInfo_t, stFrameData) == 32, "frame data at byte 32");
static_assert(sizeof(void*) == 8 && offsetof(MI_SYS_FrameData_t, u16Width) == 20 &&
                  offsetof(MI_SYS_FrameData_t, pVirAddr) == 24 &&
                  offsetof(MI_SYS_FrameData_t, u64PhyAddr) == 48 &&
                  offsetof(MI_SYS_FrameData_t, u32Stride) == 72 &&
                  offsetof(MI_SYS_FrameData_t, u32BufSize) == 84,
              "MI_SYS_FrameData_t has the platform's layout");
#else
_Static_assert(sizeof(MI_SYS_BufInfo_t) == 272, "MI_SYS_BufInfo_t must be 272 bytes");
_Static_assert(offsetof(MI_SYS_BufInfo_t, eBufType) == 16, "eBufType at byte 16");
_Static_assert(offsetof(MI_SYS_BufInfo_t, stFrameData) == 32, "frame data at byte 32");
#endif

/* Start-up and shut-down, reference-counted and idempotent: every Init succeeds and counts, Exit
 * uncounts (Exit with nothing counted also succeeds). The stand-in attaches the arena on first use of
 * any function, so memory calls also work before Init and after the last Exit (static destructors at
 * process end). u16SocId must be 0. */
MI_S32 MI_SYS_Init(MI_U16 u16SocId);
MI_S32 MI_SYS_Exit(MI_U16 u16SocId);

/* Allocates a physically contiguous block of u32BlkSize bytes (rounded up to 4096; 0 is an error)
 * from the default heap (pszHeapName NULL or ""); *pPhyAddr gets its 4096-aligned physical address.
 * The block is owned by the calling process: when that process dies, its blocks return to the pool. */
MI_S32 MI_SYS_MMA_Alloc(MI_U16 u16SocId, const char* pszHeapName, MI_U32 u32BlkSize, MI_PHY* pPhyAddr);
/* Releases a block; phyAddr must be the start of a live block (of any process). */
MI_S32 MI_SYS_MMA_Free(MI_U16 u16SocId, MI_PHY phyAddr);

/* Maps [phyAddr, phyAddr + u32Size), which must lie inside one live block (any start, aligned or not),
 * as a new CPU mapping; *ppVirAddr gets the address of phyAddr. Mappings of one block are coherent
 * with each other, with DMA and with the engines, in every process. bCache is accepted either way. */
MI_S32 MI_SYS_Mmap(MI_PHY phyAddr, MI_U32 u32Size, void** ppVirAddr, MI_BOOL bCache);
/* Unmaps a mapping: pVirAddr and u32Size must be those of an earlier MI_SYS_Mmap of this process. */
MI_S32 MI_SYS_Munmap(void* pVirAddr, MI_U32 u32Size);
/* Writes back and invalidates the CPU cache over a range (a no-op on the PC); the range must lie inside
 * one mapping of this process (its page-rounded extent). */
MI_S32 MI_SYS_FlushInvCache(void* pVirAddr, MI_U32 u32Size);

/* DMA copy of u32Len bytes; each range must lie inside one live block. Overlap is allowed. */
MI_S32 MI_SYS_MemcpyPa(MI_U16 u16SocId, MI_PHY phyDst, MI_PHY phySrc, MI_U32 u32Len);
/* DMA fill of u32Len bytes with the 32-bit pattern u32Val (little-endian, repeated; byte i gets byte
 * i % 4 of the pattern, so a byte repeated four times fills with that byte). */
MI_S32 MI_SYS_MemsetPa(MI_U16 u16SocId, MI_PHY phyPa, MI_U32 u32Val, MI_U32 u32Len);
/* DMA fill of a window of an 8-bit frame (pixel format E_MI_SYS_PIXEL_FRAME_I8) with the low byte of
 * u32Val. The window must lie inside the frame, stride >= width, and the frame
 * (stride * (height - 1) + width bytes from u64PhyAddr[0]) inside one live block. */
MI_S32 MI_SYS_BufFillPa(MI_U16 u16SocId, const MI_SYS_FrameData_t* pstBuf, MI_U32 u32Val,
                        const MI_SYS_WindowRect_t* pstRect);
/* DMA copy of a window of one 8-bit frame into a window of another; both windows must have the same
 * width and height, and both frames obey the BufFillPa rules. */
MI_S32 MI_SYS_BufBlitPa(MI_U16 u16SocId, const MI_SYS_FrameData_t* pstDstBuf,
                        const MI_SYS_WindowRect_t* pstDstRect, const MI_SYS_FrameData_t* pstSrcBuf,
                        const MI_SYS_WindowRect_t* pstSrcRect);

/* Current platform time stamp in microseconds: CLOCK_MONOTONIC, shared by all processes. */
MI_S32 MI_SYS_GetCurPts(MI_U16 u16SocId, MI_U64* pu64Pts);

/* Stand-in only (test KAVO_MI_STANDIN): path of the file that plays the physical-memory device
 * ("/dev/mem" on the chip); attaches the arena first. Never NULL. */
const char* KAVO_MI_PhysMemDevice(void);

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_SYS_H_ */
