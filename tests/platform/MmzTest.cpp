// Tests of platform memory: MmzMemory blocks, MmzBlob shapes, the statistics, MiSysInit, and every
// fatal path, driven through the platform stand-in's fault injection.
#include <glog/logging.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"
#include "platform/Mmz.h"
#include "testing/LogCapture.h"

namespace {

const bool kPrivateArena = use_private_arena("MmzTest");

class MmzTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPrivateArena);
    MI_TEST_ClearFaults();
    MI_TEST_ResetCallLog();
  }
  void TearDown() override { MI_TEST_ClearFaults(); }

  static MI_U32 calls(const char* fn) { return MI_TEST_GetCallCount(fn); }
};

TEST_F(MmzTest, EmptyBlockMakesNoPlatformCalls) {
  MmzMemory m(0);
  EXPECT_EQ(m.data(), nullptr);
  EXPECT_EQ(m.phy_addr(), 0u);
  EXPECT_EQ(m.size(), 0);
  EXPECT_EQ(m.capacity(), 0u);
  m.flush();
  m.reset(7);
  m.free();
  m.resize(0);
  for (const char* fn :
       {"MI_SYS_MMA_Alloc", "MI_SYS_Mmap", "MI_SYS_FlushInvCache", "MI_SYS_Munmap", "MI_SYS_MMA_Free"}) {
    EXPECT_EQ(calls(fn), 0u) << fn;
  }
}

TEST_F(MmzTest, OneByteTakesOneMappedPage) {
  const MmzStatistics* stats = MmzStatistics::Instance();
  unsigned int used = stats->used_bytes();
  unsigned int allocations = stats->allocations();
  {
    MmzMemory m(1);
    EXPECT_EQ(m.size(), 1);
    EXPECT_EQ(m.capacity(), 4096u);
    EXPECT_NE(m.data(), nullptr);
    EXPECT_NE(m.phy_addr(), 0u);
    EXPECT_EQ(m.phy_addr() % 4096, 0u);
    EXPECT_EQ(stats->used_bytes(), used + 4096);
    EXPECT_EQ(stats->allocations(), allocations + 1);
    EXPECT_EQ(calls("MI_SYS_MMA_Alloc"), 1u);
    EXPECT_EQ(calls("MI_SYS_Mmap"), 1u);
    // The mapping is the block: DMA by physical address shows through it.
    ASSERT_EQ(MI_SYS_MemsetPa(0, m.phy_addr(), 0x5A5A5A5Au, 4096), MI_SUCCESS);
    EXPECT_EQ(m.data()[4095], 0x5A);
  }
  EXPECT_EQ(stats->used_bytes(), used);
  EXPECT_EQ(calls("MI_SYS_Munmap"), 1u);
  EXPECT_EQ(calls("MI_SYS_MMA_Free"), 1u);
}

TEST_F(MmzTest, CapacityRoundsUpToWholePages) {
  struct Row {
    int size;
    unsigned int capacity;
  } rows[] = {{4095, 4096}, {4096, 4096}, {4097, 8192}, {12288, 12288}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    MmzMemory m(r.size);
    EXPECT_EQ(m.capacity(), r.capacity);
    EXPECT_EQ(m.size(), r.size);
  }
}

TEST_F(MmzTest, ResizeToTheSameSizeKeepsBlockAndContents) {
  MmzMemory m(5000);
  m.data()[4999] = 99;
  uint64_t phy = m.phy_addr();
  unsigned char* data = m.data();
  MI_TEST_ResetCallLog();
  m.resize(5000);
  EXPECT_EQ(m.phy_addr(), phy);
  EXPECT_EQ(m.data(), data);
  EXPECT_EQ(m.data()[4999], 99);
  EXPECT_EQ(calls("MI_SYS_MMA_Alloc"), 0u);
}

TEST_F(MmzTest, ResizeToAnotherSizeReleasesAndAllocatesAnew) {
  const MmzStatistics* stats = MmzStatistics::Instance();
  MmzMemory m(5000);
  uint64_t phy = m.phy_addr();
  unsigned int used = stats->used_bytes();
  unsigned int allocations = stats->allocations();
  unsigned int releases = stats->releases();
  m.resize(100);  // smaller: not served from the old block
  EXPECT_NE(m.phy_addr(), phy);
  EXPECT_EQ(m.size(), 100);
  EXPECT_EQ(m.capacity(), 4096u);
  EXPECT_EQ(stats->allocations(), allocations + 1);
  EXPECT_EQ(stats->releases(), releases + 1);
  EXPECT_EQ(stats->used_bytes(), used - 8192 + 4096);
  m.resize(0);
  EXPECT_EQ(m.data(), nullptr);
  EXPECT_EQ(m.phy_addr(), 0u);
  EXPECT_EQ(m.capacity(), 0u);
  EXPECT_EQ(stats->used_bytes(), used - 8192);
}

TEST_F(MmzTest, FreeEmptiesTheBlockAndRestoresBytesInUse) {
  const MmzStatistics* stats = MmzStatistics::Instance();
  unsigned int used = stats->used_bytes();
  MmzMemory m(10000);
  m.free();
  EXPECT_EQ(stats->used_bytes(), used);
  EXPECT_EQ(m.size(), 0);
  EXPECT_EQ(m.capacity(), 0u);
  m.free();  // a second free does nothing
  EXPECT_EQ(calls("MI_SYS_MMA_Free"), 1u);
}

TEST_F(MmzTest, ResetFillsTheRequestedBytesWithTheLowByteAndFlushes) {
  MmzMemory m(10);
  std::memset(m.data(), 0xEE, m.capacity());
  MI_TEST_ResetCallLog();
  m.reset(0x1234);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(m.data()[i], 0x34) << i;
  EXPECT_EQ(m.data()[10], 0xEE);
  EXPECT_EQ(calls("MI_SYS_FlushInvCache"), 1u);
}

TEST_F(MmzTest, BlobStrideRoundsWidthUpToTheAlignment) {
  MmzBlob blob(1, 720, 1281, 16);
  EXPECT_EQ(blob.stride(), 1296);
  EXPECT_EQ(blob.total(), 1296 * 720);
  EXPECT_EQ(blob.memory()->size(), 1296 * 720);
  EXPECT_EQ(blob.capacity(), 933888u);  // 933120 rounded up to 4096
  EXPECT_EQ(blob.shape(), (std::vector<int>{1, 720, 1281}));
  MmzBlob three(std::vector<int>{3, 5, 33}, 32);
  EXPECT_EQ(three.stride(), 64);
  EXPECT_EQ(three.total(), 64 * 3 * 5);
  EXPECT_EQ(three.align(), 32);
}

TEST_F(MmzTest, DefaultBlobIsEmptyWithAnEmptyBlock) {
  MmzBlob blob;
  ASSERT_NE(blob.memory(), nullptr);
  EXPECT_EQ(blob.memory()->size(), 0);
  EXPECT_EQ(blob.capacity(), 0u);
  EXPECT_EQ(blob.align(), 16);
  EXPECT_EQ(blob.shape(), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(calls("MI_SYS_MMA_Alloc"), 0u);
}

TEST_F(MmzTest, BlobResizeKeepsItsMemoryObjectAndRecomputesTheShape) {
  MmzBlob blob;
  const MmzMemory* memory = blob.memory().get();
  blob.resize(std::vector<int>{1, 6, 10}, 32);
  EXPECT_EQ(blob.memory().get(), memory);
  EXPECT_EQ(blob.stride(), 32);
  EXPECT_EQ(blob.total(), 32 * 6);
  EXPECT_EQ(blob.memory()->size(), 32 * 6);
  blob.reset(3);
  EXPECT_EQ(blob.memory()->data()[32 * 6 - 1], 3);
  blob.resize(3, 6, 10, 32);  // new total: new block
  EXPECT_EQ(blob.memory()->size(), 3 * 32 * 6);
  blob.resize(0, 0, 0, 16);
  EXPECT_EQ(blob.capacity(), 0u);
}

TEST_F(MmzTest, StatisticsPrintTheThreeCounters) {
  MmzMemory keep(1);
  const MmzStatistics* stats = MmzStatistics::Instance();
  LogCapture log(google::GLOG_WARNING);
  stats->print();
  std::string want = "MMZ Memory Statistics: Used " + std::to_string(stats->used_bytes()) +
                     " Bytes, Allocate " + std::to_string(stats->allocations()) + " Times, Release " +
                     std::to_string(stats->releases()) + " Times.";
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], want);
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

TEST_F(MmzDeathTest, PlatformInitFailureIsFatal) {
  EXPECT_DEATH(
      {
        MI_TEST_FailNext("MI_SYS_Init", MI_ERR_SYS_NOTREADY);
        MiSysInit();
      },
      "Check failed: MI_SUCCESS == MI_SYS_Init\\(0\\) ");
}

TEST_F(MmzDeathTest, PlatformExitFailureAtProcessEndIsFatal) {
  EXPECT_DEATH(
      {
        MiSysInit();
        MI_TEST_FailNext("MI_SYS_Exit", MI_ERR_SYS_NOTREADY);
        std::exit(0);
      },
      "Check failed: MI_SUCCESS == MI_SYS_Exit\\(0\\) ");
}

TEST_F(MmzDeathTest, AllocationFailureInTheConstructorIsFatal) {
  EXPECT_DEATH(
      {
        MI_TEST_FailNext("MI_SYS_MMA_Alloc", MI_ERR_SYS_NOMEM);
        MmzMemory m(100);
      },
      "Check failed: ok == MI_SUCCESS MI_SYS_MMA_Alloc Failed\\.");
}

TEST_F(MmzDeathTest, AllocationFailureInResizeShowsCapacityAndCode) {
  EXPECT_DEATH(
      {
        MmzMemory m(100);
        MI_TEST_FailNext("MI_SYS_MMA_Alloc", MI_ERR_SYS_NOMEM);
        m.resize(4097);
      },
      "Check failed: ok == MI_SUCCESS MI_SYS_MMA_Alloc Failed: capacity=0x2000, ec=0xa001400c");
}

TEST_F(MmzDeathTest, MappingFailureReturnsTheBlockFirst) {
  EXPECT_DEATH(
      {
        google::InstallFailureFunction(&report_mma_free_and_abort);
        MI_TEST_ResetCallLog();
        MI_TEST_FailNext("MI_SYS_Mmap", MI_ERR_SYS_NOMEM);
        MmzMemory m(100);
      },
      "Check failed: ok == MI_SUCCESS MI_SYS_Mmap Failed\\.(.|\n)*MMA_Free calls=1");
  EXPECT_DEATH(
      {
        MmzMemory m(100);
        MI_TEST_FailNext("MI_SYS_Mmap", MI_ERR_SYS_NOMEM);
        m.resize(200);
      },
      "MI_SYS_Mmap Failed\\.");
}

TEST_F(MmzDeathTest, FlushFailureIsFatal) {
  EXPECT_DEATH(
      {
        MmzMemory m(100);
        MI_TEST_FailNext("MI_SYS_FlushInvCache", MI_ERR_SYS_UNEXIST);
        m.flush();
      },
      "Check failed: ok == MI_SUCCESS MI_SYS_FlushInvCache Failed\\.");
}

TEST_F(MmzDeathTest, UnmapAndReleaseFailuresInFreeAreFatal) {
  EXPECT_DEATH(
      {
        MmzMemory m(100);
        MI_TEST_FailNext("MI_SYS_Munmap", MI_ERR_SYS_UNEXIST);
        m.free();
      },
      "Check failed: ok==MI_SUCCESS MI_SYS_Munmap Failed\\.");
  EXPECT_DEATH(
      {
        MmzMemory m(100);
        MI_TEST_FailNext("MI_SYS_MMA_Free", MI_ERR_SYS_UNEXIST);
        m.free();
      },
      "Check failed: ok==MI_SUCCESS MI_SYS_MMA_Free Failed\\.");
}

TEST_F(MmzDeathTest, BlobShapeNeedsExactlyThreeEntries) {
  EXPECT_DEATH(MmzBlob(std::vector<int>{1, 2}), "Check failed: shape.size\\(\\) == 3 ");
  MmzBlob blob;
  EXPECT_DEATH(blob.resize(std::vector<int>{1, 2, 3, 4}), "Check failed: shape.size\\(\\) == 3 ");
}

}  // namespace
