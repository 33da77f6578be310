// Tests of platform memory: MmzMemory blocks and their page rounding, MmzBlob shapes up to sizes
// beyond 32 bits, the allocation counters, MiSysInit, and every fatal path, driven through the
// platform stand-in's fault injection.
#include <glog/logging.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"
#include "platform/Mmz.h"
#include "testing/LogCapture.h"

namespace {

[[maybe_unused]] const bool kPrivateArena = use_private_arena("MmzTest");

class MmzTest : public MiFaultTest {
 protected:
  static MI_U32 calls(const char* fn) { return MI_TEST_GetCallCount(fn); }
};

TEST_F(MmzTest, EmptyBlockMakesNoPlatformCallsAndResetFillsOnlyTheRequestedBytes) {
  MmzMemory m(0);
  EXPECT_EQ(m.data(), nullptr);
  m.flush();
  m.reset(7);
  m.free();
  m.resize(0);
  EXPECT_EQ(MmzBlob().capacity(), 0u);
  for (const char* fn : {"MI_SYS_MMA_Alloc", "MI_SYS_FlushInvCache", "MI_SYS_MMA_Free"})
    EXPECT_EQ(calls(fn), 0u);
  m.resize(10);
  std::memset(m.data(), 0xEE, m.capacity());
  m.reset(0x1234);  // the low byte, then a flush
  for (int i = 0; i < 10; ++i) EXPECT_EQ(m.data()[i], 0x34) << i;
  EXPECT_EQ(m.data()[10], 0xEE);
  EXPECT_EQ(calls("MI_SYS_FlushInvCache"), 1u);
}

TEST_F(MmzTest, ConstructionAndResizeRoundUpToWholePages) {
  const MmzStatistics* stats = MmzStatistics::Instance();
  struct Row {
    int size;
    unsigned capacity;
  } rows[] = {{1, 4096}, {4095, 4096}, {4096, 4096}, {4097, 8192}, {12289, 16384}};
  MmzMemory resized(2);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    const unsigned used = stats->used_bytes();
    MmzMemory m(r.size);
    EXPECT_EQ(m.capacity(), r.capacity);
    EXPECT_EQ(stats->used_bytes(), used + r.capacity);
    // The mapping is the block: a DMA fill of the last byte shows through it.
    ASSERT_EQ(MI_SYS_MemsetPa(0, m.phy_addr(), 0x5A5A5A5Au, r.capacity), MI_SUCCESS);
    EXPECT_EQ(m.data()[r.capacity - 1], 0x5A);
    resized.resize(r.size);
    EXPECT_EQ(resized.capacity(), r.capacity);
  }
}

TEST_F(MmzTest, ResizeKeepsTheBlockOnlyForTheSameSize) {
  const MmzStatistics* stats = MmzStatistics::Instance();
  MmzMemory m(5000);
  m.data()[4999] = 99;
  const uint64_t phy = m.phy_addr();
  const unsigned used = stats->used_bytes(), allocations = stats->allocations(), releases = stats->releases();
  m.resize(5000);
  EXPECT_EQ(m.phy_addr(), phy);
  EXPECT_EQ(m.data()[4999], 99);
  EXPECT_EQ(calls("MI_SYS_MMA_Alloc"), 1u);
  m.resize(100);  // smaller: not served from the old block
  EXPECT_NE(m.phy_addr(), phy);
  EXPECT_EQ(stats->allocations(), allocations + 1);
  EXPECT_EQ(stats->releases(), releases + 1);
  EXPECT_EQ(stats->used_bytes(), used - 8192 + 4096);
  m.free();
  m.free();  // a second free does nothing
  EXPECT_EQ(m.phy_addr(), 0u);
  EXPECT_EQ(m.capacity(), 0u);
  EXPECT_EQ(stats->used_bytes(), used - 8192);
  EXPECT_EQ(calls("MI_SYS_MMA_Free"), 2u);
}

TEST_F(MmzTest, BlobRowsAreAlignedAndPlanesFollowEachOther) {
  MmzBlob blob(1, 720, 1281, 16);
  EXPECT_EQ(blob.stride(), 1296);
  EXPECT_EQ(blob.capacity(), 933888u);  // 1296 * 720 = 933120, rounded up to 4096
  MmzBlob three(std::vector<int>{3, 5, 33}, 32);
  blob.resize(std::vector<int>{3, 5, 33}, 32);
  for (const MmzBlob* b : {&three, &blob}) {
    EXPECT_EQ(b->stride(), 64);
    EXPECT_EQ(b->memory()->size(), 64 * 3 * 5);
  }
  blob.reset(3);
  EXPECT_EQ(blob.memory()->data()[64 * 3 * 5 - 1], 3);
}

// Death tests re-execute the binary: MiSysInit's once-flag starts unset in every child.
class MmzDeathTest : public MmzTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MmzTest::SetUp();
  }
};

TEST_F(MmzDeathTest, MiSysInitStartsThePlatformOnceAndExitsAtProcessEnd) {
  EXPECT_EXIT(
      {
        LogCapture log(google::GLOG_WARNING);
        MiSysInit();
        MiSysInit();
        std::fprintf(stderr, "init calls=%u logs=%d\n", MI_TEST_GetCallCount("MI_SYS_Init"),
                     log.count("MI_SYS_Init successfully."));
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "init calls=1 logs=1\n(.|\n)*MI_SYS_Exit successfully\\.");
}

// glog's failure function runs after the fatal message is written: report a call count, then abort.
void report_mma_free_and_abort() {
  std::fprintf(stderr, "MMA_Free calls=%u\n", MI_TEST_GetCallCount("MI_SYS_MMA_Free"));
  std::abort();
}

// One platform call (if any) fails while `act` runs on a block of 100 bytes.
struct FaultRow {
  const char* fn;
  std::function<void(MmzMemory&)> act;
  const char* message;
};

TEST_F(MmzDeathTest, EveryPlatformFailureAndEveryImpossibleSizeIsFatalWithItsMessage) {
  const FaultRow rows[] = {
      {"MI_SYS_Init", [](MmzMemory&) { MiSysInit(); }, "Check failed: MI_SUCCESS == MI_SYS_Init\\(0\\) "},
      {"MI_SYS_Exit",
       [](MmzMemory&) {
         MiSysInit();
         std::exit(0);
       },
       "Check failed: MI_SUCCESS == MI_SYS_Exit\\(0\\) "},
      {"MI_SYS_MMA_Alloc", [](MmzMemory&) { MmzMemory m(100); },
       "Check failed: ok == MI_SUCCESS MI_SYS_MMA_Alloc Failed\\.\n"},
      {"MI_SYS_MMA_Alloc", [](MmzMemory& m) { m.resize(4097); },
       "Check failed: ok == MI_SUCCESS MI_SYS_MMA_Alloc Failed: capacity=0x2000, ec=0xa001400c"},
      {"MI_SYS_Mmap", [](MmzMemory& m) { m.resize(200); },
       "Check failed: ok == MI_SUCCESS MI_SYS_Mmap Failed\\."},
      {"MI_SYS_FlushInvCache", [](MmzMemory& m) { m.flush(); },
       "Check failed: ok == MI_SUCCESS MI_SYS_FlushInvCache Failed\\."},
      {"MI_SYS_Munmap", [](MmzMemory& m) { m.free(); },
       "Check failed: ok==MI_SUCCESS MI_SYS_Munmap Failed\\."},
      {"MI_SYS_MMA_Free", [](MmzMemory& m) { m.free(); },
       "Check failed: ok==MI_SUCCESS MI_SYS_MMA_Free Failed\\."},
      // 40000 x 40000 NV12 (stride 40000, 60000 rows) reaches the platform whole: 2.4e9 bytes rounded
      // up to 4096 is 0x8f0d2000, more than this arena holds. The largest 32-bit block is asked for;
      // one byte more cannot be, and 40000 x 40000 RGB neither.
      {nullptr, [](MmzMemory&) { MmzBlob(1, 60000, 40000); }, "MI_SYS_MMA_Alloc Failed\\.\n"},
      {nullptr, [](MmzMemory&) { MmzBlob().resize(1, 60000, 40000); },
       "MI_SYS_MMA_Alloc Failed: capacity=0x8f0d2000, ec=0xa001400c"},
      {nullptr, [](MmzMemory&) { MmzMemory(0xFFFFF000ll); }, "MI_SYS_MMA_Alloc Failed\\.\n"},
      {nullptr, [](MmzMemory&) { MmzMemory(0xFFFFF001ll); },
       "MI_SYS_MMA_Alloc Failed: 4294963201 bytes exceed the largest platform block"},
      {nullptr, [](MmzMemory&) { MmzBlob(3, 40000, 40000); },
       "4800000000 bytes exceed the largest platform block"},
      {nullptr, [](MmzMemory&) { MmzBlob(std::vector<int>(2, 1)); }, "Check failed: shape.size\\(\\) == 3 "},
      {nullptr, [](MmzMemory&) { MmzBlob().resize(std::vector<int>(4, 1)); },
       "Check failed: shape.size\\(\\) == 3 "},
  };
  for (const FaultRow& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_DEATH(
        {
          MmzMemory m(100);
          if (row.fn) MI_TEST_FailNext(row.fn, MI_ERR_SYS_NOMEM);
          row.act(m);
        },
        row.message);
  }
  // A failed mapping gives its block back before stopping.
  EXPECT_DEATH((google::InstallFailureFunction(&report_mma_free_and_abort), MI_TEST_ResetCallLog(),
                MI_TEST_FailNext("MI_SYS_Mmap", MI_ERR_SYS_NOMEM), MmzMemory(100)),
               "MI_SYS_Mmap Failed\\.(.|\n)*MMA_Free calls=1");
}

}  // namespace
