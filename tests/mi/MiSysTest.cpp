// Tests of MI_SYS in the platform SDK stand-in: arena allocation, mappings, flush checks, DMA, clock,
// start-up counting, call log and fault injection.
#include <gtest/gtest.h>
#include <time.h>

#include <cstring>
#include <vector>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"

namespace {

const bool kPrivateArena = use_private_arena("MiSysTest");

MI_SYS_FrameData_t frame_i8(MI_PHY phy, uint16_t width, uint16_t height, uint32_t stride) {
  MI_SYS_FrameData_t f{};
  f.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  f.u16Width = width;
  f.u16Height = height;
  f.u32Stride[0] = stride;
  f.u64PhyAddr[0] = phy;
  return f;
}

class MiSysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MI_TEST_ClearFaults();
    MI_TEST_ResetCallLog();
  }
  void TearDown() override { MI_TEST_ClearFaults(); }
};

TEST_F(MiSysTest, UsesTheArenaNamedByTheEnvironment) {
  ASSERT_TRUE(kPrivateArena);
  EXPECT_EQ(std::string(KAVO_MI_PhysMemDevice()), std::string(getenv("KAVO_PHYS_ARENA")));
  MI_TEST_ArenaInfo_t info{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&info), MI_SUCCESS);
  EXPECT_GT(info.phyBase, 0x100000000ull);
  EXPECT_EQ(info.phyBase % 4096, 0u);
  EXPECT_LE(info.u64Size, 64ull << 20);
  EXPECT_GT(info.u64Size, 60ull << 20);
}

TEST_F(MiSysTest, AllocatesAlignedDisjointBlocksAboveFourGiB) {
  MI_TEST_ArenaInfo_t before{}, after{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&before), MI_SUCCESS);
  MI_PHY a = 0, b = 0, c = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 1, &a), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, "", 4097, &b), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &c), MI_SUCCESS);
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  for (MI_PHY p : {a, b, c}) {
    EXPECT_EQ(p % 4096, 0u);
    EXPECT_GE(p, before.phyBase);
    EXPECT_GT(p >> 32, 0u) << "a 32-bit truncation must be visible";
  }
  // 1 -> 4096, 4097 -> 8192, 4096 -> 4096.
  EXPECT_EQ(after.u32OwnBlocks, before.u32OwnBlocks + 3);
  std::vector<std::pair<MI_PHY, MI_PHY>> ranges = {{a, a + 4096}, {b, b + 8192}, {c, c + 4096}};
  for (size_t i = 0; i < ranges.size(); ++i) {
    for (size_t j = i + 1; j < ranges.size(); ++j) {
      EXPECT_TRUE(ranges[i].second <= ranges[j].first || ranges[j].second <= ranges[i].first);
    }
  }
  EXPECT_EQ(MI_SYS_MMA_Free(0, a), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MMA_Free(0, b), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MMA_Free(0, c), MI_SUCCESS);
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  EXPECT_EQ(after.u32OwnBlocks, before.u32OwnBlocks);
}

TEST_F(MiSysTest, AllocRejectsBadArguments) {
  MI_PHY p = 12345;
  EXPECT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 0, &p), MI_ERR_SYS_ILLEGAL_PARAM);
  EXPECT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, nullptr), MI_ERR_SYS_NULL_PTR);
  EXPECT_EQ(MI_SYS_MMA_Alloc(1, nullptr, 4096, &p), MI_ERR_SYS_INVALID_DEVID);
  EXPECT_EQ(MI_SYS_MMA_Alloc(0, "mma_heap_other", 4096, &p), MI_ERR_SYS_NOT_SUPPORT);
  EXPECT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 0xFFFFF000u, &p), MI_ERR_SYS_NOMEM);
  EXPECT_EQ(p, 12345u);
}

TEST_F(MiSysTest, FreeRequiresTheStartOfALiveBlock) {
  MI_PHY p = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 8192, &p), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MMA_Free(0, p + 4096), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MMA_Free(0, p + 1), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MMA_Free(0, 0), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MMA_Free(0, p & 0xFFFFFFFFu), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MMA_Free(1, p), MI_ERR_SYS_INVALID_DEVID);
  EXPECT_EQ(MI_SYS_MMA_Free(0, p), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MMA_Free(0, p), MI_ERR_SYS_UNEXIST);
}

TEST_F(MiSysTest, FreedAddressIsNotHandedOutAgainAtOnce) {
  MI_PHY first = 0, second = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 8192, &first), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Free(0, first), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &second), MI_SUCCESS);
  EXPECT_NE(second, first);
  EXPECT_EQ(MI_SYS_MemsetPa(0, first, 0, 16), MI_ERR_SYS_UNEXIST) << "a stale address stays invalid";
  EXPECT_EQ(MI_SYS_MMA_Free(0, second), MI_SUCCESS);
}

TEST_F(MiSysTest, MappingsOfOneBlockAreCoherentAndMayStartUnaligned) {
  TestBlock block(3 * 4096);
  void* part = nullptr;
  ASSERT_EQ(MI_SYS_Mmap(block.phy() + 4099, 10, &part, 1), MI_SUCCESS);
  void* again = nullptr;
  ASSERT_EQ(MI_SYS_Mmap(block.phy(), block.size(), &again, 0), MI_SUCCESS);
  EXPECT_NE(again, static_cast<void*>(block.data()));
  block.data()[4099] = 42;
  block.data()[4108] = 43;
  EXPECT_EQ(static_cast<uint8_t*>(part)[0], 42);
  EXPECT_EQ(static_cast<uint8_t*>(part)[9], 43);
  static_cast<uint8_t*>(again)[4100] = 44;
  EXPECT_EQ(static_cast<uint8_t*>(part)[1], 44);
  EXPECT_EQ(MI_SYS_Munmap(part, 10), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Munmap(again, block.size()), MI_SUCCESS);
}

TEST_F(MiSysTest, MmapRefusesRangesOutsideOneLiveBlock) {
  TestBlock a(4096);
  TestBlock b(4096);
  void* v = reinterpret_cast<void*>(1);
  EXPECT_EQ(MI_SYS_Mmap(a.phy(), 4097, &v, 1), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Mmap(a.phy() + 4095, 2, &v, 1), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Mmap(a.phy(), 0, &v, 1), MI_ERR_SYS_ILLEGAL_PARAM);
  EXPECT_EQ(MI_SYS_Mmap(a.phy(), 16, nullptr, 1), MI_ERR_SYS_NULL_PTR);
  EXPECT_EQ(MI_SYS_Mmap(0, 16, &v, 1), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Mmap(a.phy() & 0xFFFFFFFFu, 16, &v, 1), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(v, reinterpret_cast<void*>(1));
  MI_PHY freed = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &freed), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Free(0, freed), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Mmap(freed, 16, &v, 1), MI_ERR_SYS_UNEXIST);
}

TEST_F(MiSysTest, MunmapMustMatchAnEarlierMapping) {
  TestBlock block(8192);
  const MI_U32 count = MI_TEST_GetMappingCount();
  void* v = nullptr;
  ASSERT_EQ(MI_SYS_Mmap(block.phy() + 100, 5000, &v, 1), MI_SUCCESS);
  EXPECT_EQ(MI_TEST_GetMappingCount(), count + 1);
  EXPECT_EQ(MI_SYS_Munmap(v, 4999), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Munmap(static_cast<uint8_t*>(v) + 1, 5000), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Munmap(static_cast<uint8_t*>(v) - 100, 5100), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Munmap(nullptr, 5000), MI_ERR_SYS_NULL_PTR);
  int onStack = 0;
  EXPECT_EQ(MI_SYS_Munmap(&onStack, 4), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Munmap(v, 5000), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Munmap(v, 5000), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_TEST_GetMappingCount(), count);
}

TEST_F(MiSysTest, FlushAcceptsOnlyRangesInsideOneMapping) {
  TestBlock block(8192);
  void* v = nullptr;
  ASSERT_EQ(MI_SYS_Mmap(block.phy() + 10, 100, &v, 1), MI_SUCCESS);
  uint8_t* p = static_cast<uint8_t*>(v);
  EXPECT_EQ(MI_SYS_FlushInvCache(p, 100), MI_SUCCESS);
  // The mapping covers whole pages: a flush rounded up to 4096 from the start of the range fits.
  EXPECT_EQ(MI_SYS_FlushInvCache(p, 4096 - 10), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_FlushInvCache(p, 4096 - 9), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_FlushInvCache(block.data(), 8192), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_FlushInvCache(block.data(), 8193), MI_ERR_SYS_UNEXIST);
  std::vector<uint8_t> heap(64);
  EXPECT_EQ(MI_SYS_FlushInvCache(heap.data(), 64), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_FlushInvCache(nullptr, 64), MI_ERR_SYS_NULL_PTR);
  ASSERT_EQ(MI_SYS_Munmap(v, 100), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_FlushInvCache(p, 100), MI_ERR_SYS_UNEXIST);
}

TEST_F(MiSysTest, MemcpyPaCopiesBetweenBlocksAndWithinOne) {
  TestBlock src(4096);
  TestBlock dst(8192);
  fill_random(src.data(), 4096, 1);
  std::memset(dst.data(), 0xEE, 8192);
  ASSERT_EQ(MI_SYS_MemcpyPa(0, dst.phy() + 4095, src.phy() + 1, 4095), MI_SUCCESS);
  EXPECT_EQ(dst.data()[4094], 0xEE);
  EXPECT_EQ(std::memcmp(dst.data() + 4095, src.data() + 1, 4095), 0);
  EXPECT_EQ(dst.data()[8190], 0xEE);
  // Overlapping copy inside one block behaves like memmove.
  std::vector<uint8_t> expect(src.data(), src.data() + 4096);
  std::memmove(expect.data() + 3, expect.data(), 1000);
  ASSERT_EQ(MI_SYS_MemcpyPa(0, src.phy() + 3, src.phy(), 1000), MI_SUCCESS);
  EXPECT_EQ(std::memcmp(src.data(), expect.data(), 4096), 0);
}

TEST_F(MiSysTest, MemcpyPaRefusesRangesBeyondABlockAndWritesNothing) {
  TestBlock a(4096);
  TestBlock b(4096);
  std::memset(a.data(), 1, 4096);
  std::memset(b.data(), 2, 4096);
  EXPECT_EQ(MI_SYS_MemcpyPa(0, a.phy(), b.phy(), 4097), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MemcpyPa(0, a.phy() + 1, b.phy(), 4096), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MemcpyPa(0, a.phy(), b.phy(), 0), MI_ERR_SYS_ILLEGAL_PARAM);
  EXPECT_EQ(MI_SYS_MemcpyPa(0, a.phy(), 0, 16), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_MemcpyPa(1, a.phy(), b.phy(), 16), MI_ERR_SYS_INVALID_DEVID);
  EXPECT_EQ(a.data()[0], 1);
  EXPECT_EQ(a.data()[4095], 1);
}

TEST_F(MiSysTest, MemsetPaRepeatsTheFourBytePattern) {
  TestBlock block(4096);
  std::memset(block.data(), 0xEE, 4096);
  ASSERT_EQ(MI_SYS_MemsetPa(0, block.phy() + 1, 0x04030201u, 7), MI_SUCCESS);
  const uint8_t expect[9] = {0xEE, 1, 2, 3, 4, 1, 2, 3, 0xEE};
  EXPECT_EQ(std::memcmp(block.data(), expect, 9), 0);
  ASSERT_EQ(MI_SYS_MemsetPa(0, block.phy(), 0x80808080u, 4096), MI_SUCCESS);
  EXPECT_EQ(block.data()[0], 0x80);
  EXPECT_EQ(block.data()[4095], 0x80);
  EXPECT_EQ(MI_SYS_MemsetPa(0, block.phy() + 1, 0, 4096), MI_ERR_SYS_UNEXIST);
}

TEST_F(MiSysTest, BufFillPaFillsOnlyTheWindow) {
  TestBlock block(4096);
  std::memset(block.data(), 0xEE, 4096);
  // 7 x 5 frame, stride 9; window x 2..4, y 1..3.
  MI_SYS_FrameData_t f = frame_i8(block.phy() + 3, 7, 5, 9);
  MI_SYS_WindowRect_t r{2, 1, 3, 3};
  ASSERT_EQ(MI_SYS_BufFillPa(0, &f, 0x12345677u, &r), MI_SUCCESS);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 9; ++x) {
      bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
      EXPECT_EQ(block.data()[3 + y * 9 + x], inside ? 0x77 : 0xEE) << "x=" << x << " y=" << y;
    }
  }
  EXPECT_EQ(block.data()[2], 0xEE);
}

TEST_F(MiSysTest, BufFillPaRefusesBadFramesAndWindows) {
  TestBlock block(4096);
  MI_SYS_FrameData_t f = frame_i8(block.phy(), 7, 5, 9);
  MI_SYS_WindowRect_t whole{0, 0, 7, 5};
  MI_SYS_WindowRect_t outside{5, 0, 3, 1};
  EXPECT_EQ(MI_SYS_BufFillPa(0, &f, 0, &outside), MI_ERR_SYS_ILLEGAL_PARAM);
  EXPECT_EQ(MI_SYS_BufFillPa(0, nullptr, 0, &whole), MI_ERR_SYS_NULL_PTR);
  EXPECT_EQ(MI_SYS_BufFillPa(0, &f, 0, nullptr), MI_ERR_SYS_NULL_PTR);
  MI_SYS_FrameData_t narrow = frame_i8(block.phy(), 7, 5, 6);
  EXPECT_EQ(MI_SYS_BufFillPa(0, &narrow, 0, &whole), MI_ERR_SYS_ILLEGAL_PARAM);
  MI_SYS_FrameData_t nv12 = f;
  nv12.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
  EXPECT_EQ(MI_SYS_BufFillPa(0, &nv12, 0, &whole), MI_ERR_SYS_NOT_SUPPORT);
  // Last row ends one byte past the block.
  MI_SYS_FrameData_t tall = frame_i8(block.phy(), 16, 256, 16);
  MI_SYS_WindowRect_t one{0, 0, 1, 1};
  EXPECT_EQ(MI_SYS_BufFillPa(0, &tall, 0, &one), MI_SUCCESS);
  tall.u64PhyAddr[0] += 1;
  EXPECT_EQ(MI_SYS_BufFillPa(0, &tall, 0, &one), MI_ERR_SYS_UNEXIST);
}

TEST_F(MiSysTest, BufBlitPaCopiesAWindowBetweenFramesOfDifferentStrides) {
  TestBlock src(4096);
  TestBlock dst(4096);
  fill_random(src.data(), 4096, 7);
  std::memset(dst.data(), 0xEE, 4096);
  MI_SYS_FrameData_t s = frame_i8(src.phy(), 11, 9, 13);
  MI_SYS_FrameData_t d = frame_i8(dst.phy(), 5, 6, 5);
  MI_SYS_WindowRect_t sr{3, 2, 4, 5};
  MI_SYS_WindowRect_t dr{1, 1, 4, 5};
  ASSERT_EQ(MI_SYS_BufBlitPa(0, &d, &dr, &s, &sr), MI_SUCCESS);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 5; ++x) {
      bool inside = x >= 1 && y >= 1;
      uint8_t want = inside ? src.data()[(y - 1 + 2) * 13 + (x - 1 + 3)] : 0xEE;
      EXPECT_EQ(dst.data()[y * 5 + x], want) << "x=" << x << " y=" << y;
    }
  }
}

TEST_F(MiSysTest, BufBlitPaRequiresWindowsOfEqualSize) {
  TestBlock block(4096);
  MI_SYS_FrameData_t f = frame_i8(block.phy(), 16, 16, 16);
  MI_SYS_WindowRect_t a{0, 0, 4, 4};
  MI_SYS_WindowRect_t wider{8, 8, 5, 4};
  MI_SYS_WindowRect_t taller{8, 8, 4, 5};
  EXPECT_EQ(MI_SYS_BufBlitPa(0, &f, &wider, &f, &a), MI_ERR_SYS_ILLEGAL_PARAM);
  EXPECT_EQ(MI_SYS_BufBlitPa(0, &f, &taller, &f, &a), MI_ERR_SYS_ILLEGAL_PARAM);
}

TEST_F(MiSysTest, BufBlitPaHandlesOverlappingWindowsOfOneFrame) {
  TestBlock block(4096);
  fill_random(block.data(), 4096, 3);
  std::vector<uint8_t> before(block.data(), block.data() + 4096);
  MI_SYS_FrameData_t f = frame_i8(block.phy(), 10, 10, 10);
  MI_SYS_WindowRect_t src{0, 0, 6, 6};
  MI_SYS_WindowRect_t dst{1, 2, 6, 6};
  ASSERT_EQ(MI_SYS_BufBlitPa(0, &f, &dst, &f, &src), MI_SUCCESS);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(block.data()[(y + 2) * 10 + x + 1], before[y * 10 + x]);
  }
}

TEST_F(MiSysTest, GetCurPtsIsMonotonicClockInMicroseconds) {
  struct timespec a, b;
  MI_U64 pts = 0;
  clock_gettime(CLOCK_MONOTONIC, &a);
  ASSERT_EQ(MI_SYS_GetCurPts(0, &pts), MI_SUCCESS);
  clock_gettime(CLOCK_MONOTONIC, &b);
  EXPECT_GE(pts, static_cast<MI_U64>(a.tv_sec) * 1000000 + a.tv_nsec / 1000);
  EXPECT_LE(pts, static_cast<MI_U64>(b.tv_sec) * 1000000 + b.tv_nsec / 1000);
  EXPECT_EQ(MI_SYS_GetCurPts(0, nullptr), MI_ERR_SYS_NULL_PTR);
  EXPECT_EQ(MI_SYS_GetCurPts(2, &pts), MI_ERR_SYS_INVALID_DEVID);
}

TEST_F(MiSysTest, InitAndExitAreCountedAndMemoryOutlivesTheLastExit) {
  EXPECT_EQ(MI_SYS_Init(0), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Init(0), MI_SUCCESS);
  MI_PHY p = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &p), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Exit(0), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Exit(0), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Exit(0), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Init(1), MI_ERR_SYS_INVALID_DEVID);
  EXPECT_EQ(MI_SYS_Exit(1), MI_ERR_SYS_INVALID_DEVID);
  // Static destructors free blocks after the exit handler ran.
  EXPECT_EQ(MI_SYS_MMA_Free(0, p), MI_SUCCESS);
}

TEST_F(MiSysTest, CallLogCountsEveryCallIncludingFailedOnes) {
  MI_U64 pts = 0;
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_GetCurPts"), 0u);
  MI_SYS_GetCurPts(0, &pts);
  MI_SYS_GetCurPts(0, nullptr);
  MI_SYS_MemcpyPa(0, 0, 0, 1);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_GetCurPts"), 2u);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MemcpyPa"), 1u);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MemsetPa"), 0u);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_NoSuchFunction"), 0u);
  EXPECT_EQ(MI_TEST_GetCallCount(nullptr), 0u);
  MI_TEST_ResetCallLog();
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_GetCurPts"), 0u);
}

TEST_F(MiSysTest, FailNextFailsExactlyOneCallAndLeavesOutputsAlone) {
  ASSERT_EQ(MI_TEST_FailNext("MI_SYS_MMA_Alloc", MI_ERR_SYS_NOMEM), MI_SUCCESS);
  MI_PHY p = 777;
  EXPECT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &p), MI_ERR_SYS_NOMEM);
  EXPECT_EQ(p, 777u);
  EXPECT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &p), MI_SUCCESS);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MMA_Alloc"), 2u);
  EXPECT_EQ(MI_SYS_MMA_Free(0, p), MI_SUCCESS);
}

TEST_F(MiSysTest, InjectFaultSkipsThenFailsTheGivenNumberOfCalls) {
  ASSERT_EQ(MI_TEST_InjectFault("MI_SYS_GetCurPts", 0x1234, 2, 3), MI_SUCCESS);
  MI_U64 pts = 0;
  std::vector<MI_S32> got;
  for (int i = 0; i < 6; ++i) got.push_back(MI_SYS_GetCurPts(0, &pts));
  EXPECT_EQ(got, (std::vector<MI_S32>{0, 0, 0x1234, 0x1234, 0x1234, 0}));
}

TEST_F(MiSysTest, InjectionsAreReplacedClearedAndCheckedByName) {
  EXPECT_EQ(MI_TEST_FailNext("MI_SYS_NoSuchFunction", 1), MI_ERR_SYS_ILLEGAL_PARAM);
  EXPECT_EQ(MI_TEST_FailNext(nullptr, 1), MI_ERR_SYS_ILLEGAL_PARAM);
  MI_U64 pts = 0;
  ASSERT_EQ(MI_TEST_InjectFault("MI_SYS_GetCurPts", 5, 0, 10), MI_SUCCESS);
  ASSERT_EQ(MI_TEST_InjectFault("MI_SYS_GetCurPts", 6, 0, 1), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_GetCurPts(0, &pts), 6);
  EXPECT_EQ(MI_SYS_GetCurPts(0, &pts), MI_SUCCESS);
  ASSERT_EQ(MI_TEST_InjectFault("MI_SYS_GetCurPts", 5, 0, 10), MI_SUCCESS);
  MI_TEST_ClearFaults();
  EXPECT_EQ(MI_SYS_GetCurPts(0, &pts), MI_SUCCESS);
}

TEST_F(MiSysTest, BufInfoRecordHasTheSharedLayout) {
  EXPECT_EQ(sizeof(MI_SYS_BufInfo_t), 272u);
  EXPECT_EQ(offsetof(MI_SYS_BufInfo_t, u64Pts), 0u);
  EXPECT_EQ(offsetof(MI_SYS_BufInfo_t, eBufType), 16u);
  EXPECT_EQ(offsetof(MI_SYS_BufInfo_t, stFrameData), 32u);
  EXPECT_EQ(MI_ERR_SCL_RETRY, static_cast<MI_S32>(0xA009201Fu));
}

}  // namespace
