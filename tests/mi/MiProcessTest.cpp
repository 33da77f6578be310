// Tests of the stand-in's memory shared between processes: a block written by one process is read by
// another through its physical address, and a process that dies (holding blocks, or the arena lock)
// leaves the arena usable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"

namespace {

const bool kPrivateArena = use_private_arena("MiProcessTest", "32M");

// A forked child that runs `body(fd)`, which writes its report to fd and returns true on success,
// and then stays alive, holding whatever it took, until the parent kills it.
class Child {
 public:
  template <typename Body>
  explicit Child(Body body) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      if (!body(fds[1])) _exit(1);
      for (;;) pause();
    }
    close(fds[1]);
    fd_ = fds[0];
  }
  ~Child() {
    kill_and_wait();
    if (fd_ >= 0) close(fd_);
  }

  // Reads the child's report of n bytes (at most PIPE_BUF: written at once); false if the child ended.
  bool read_report(void* buf, size_t n) { return read(fd_, buf, n) == static_cast<ssize_t>(n); }
  // SIGKILL and reap, so the child is gone (not a zombie) when this returns.
  void kill_and_wait() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

constexpr uint32_t kBlockSize = 3 * 4096 + 100;

uint8_t pattern(uint32_t i) { return static_cast<uint8_t>(i * 7 + 3); }

TEST(MiProcessTest, AnotherProcessReadsABlockThroughItsPhysicalAddress) {
  ASSERT_TRUE(kPrivateArena);
  Child child([](int fd) {
    // The pattern goes in through a mapping, the tail by a DMA fill.
    MI_PHY phy = 0;
    void* vir = nullptr;
    if (MI_SYS_MMA_Alloc(0, nullptr, kBlockSize, &phy) != MI_SUCCESS) return false;
    if (MI_SYS_Mmap(phy, kBlockSize, &vir, 1) != MI_SUCCESS) return false;
    for (uint32_t i = 0; i < kBlockSize - 100; ++i) static_cast<uint8_t*>(vir)[i] = pattern(i);
    if (MI_SYS_MemsetPa(0, phy + kBlockSize - 100, 0xA5A5A5A5u, 100) != MI_SUCCESS) return false;
    return write(fd, &phy, sizeof(phy)) == sizeof(phy);
  });
  ASSERT_TRUE(child.started());
  MI_PHY phy = 0;
  ASSERT_TRUE(child.read_report(&phy, sizeof(phy)));

  void* vir = nullptr;
  ASSERT_EQ(MI_SYS_Mmap(phy + 1, kBlockSize - 1, &vir, 1), MI_SUCCESS);
  const uint8_t* p = static_cast<const uint8_t*>(vir);
  for (uint32_t i = 1; i < kBlockSize; ++i)
    ASSERT_EQ(p[i - 1], i < kBlockSize - 100 ? pattern(i) : 0xA5) << "byte " << i;
  EXPECT_EQ(MI_SYS_Munmap(vir, kBlockSize - 1), MI_SUCCESS);

  child.kill_and_wait();
  // Another process of the same arena may have reclaimed them already: only the outcome counts.
  ASSERT_EQ(MI_TEST_ReclaimDeadOwners(nullptr), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_Mmap(phy, 16, &vir, 1), MI_ERR_SYS_UNEXIST);
}

// A child dies holding a block that fills most of the arena and the arena lock: the next to take the
// lock recovers it and returns the dead holder's block at once, so the same size fits again.
TEST(MiProcessTest, ProcessDyingInsideTheArenaLockLeavesTheArenaWhole) {
  constexpr uint32_t kBig = 20u << 20;  // two of these do not fit in the 32 MiB arena
  MI_TEST_ArenaInfo_t before{}, after{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&before), MI_SUCCESS);
  Child child([](int fd) {
    MI_PHY phy = 0;
    if (MI_SYS_MMA_Alloc(0, nullptr, kBig, &phy) != MI_SUCCESS) return false;
    if (MI_TEST_HoldArenaLock() != MI_SUCCESS) return false;
    return write(fd, &phy, sizeof(phy)) == sizeof(phy);
  });
  ASSERT_TRUE(child.started());
  MI_PHY theirs = 0;
  ASSERT_TRUE(child.read_report(&theirs, sizeof(theirs)));
  child.kill_and_wait();
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  EXPECT_EQ(after.u32LiveBlocks, before.u32LiveBlocks);
  MI_PHY mine = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, kBig, &mine), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MMA_Free(0, mine), MI_SUCCESS);
}

// A block that another process maps stays while that mapping lives, through its owner's free and
// its owner's death, so that a dying sender never pulls pixels from under a reader.
TEST(MiProcessTest, AMappedBlockStaysUntilItsLastMapperUnmaps) {
  for (const bool ownerDies : {false, true}) {
    SCOPED_TRACE(ownerDies ? "owner dies" : "block freed");
    Child child([](int fd) {
      MI_PHY phy = 0;
      void* vir = nullptr;
      if (MI_SYS_MMA_Alloc(0, nullptr, 4096, &phy) != MI_SUCCESS ||
          MI_SYS_Mmap(phy, 4096, &vir, 1) != MI_SUCCESS)
        return false;
      std::memset(vir, 0xAB, 4096);
      return MI_SYS_Munmap(vir, 4096) == MI_SUCCESS && write(fd, &phy, sizeof(phy)) == sizeof(phy);
    });
    MI_PHY phy = 0;
    ASSERT_TRUE(child.read_report(&phy, sizeof(phy)));
    void* vir = nullptr;
    ASSERT_EQ(MI_SYS_Mmap(phy, 4096, &vir, 1), MI_SUCCESS);
    if (ownerDies) {
      child.kill_and_wait();
      ASSERT_EQ(MI_TEST_ReclaimDeadOwners(nullptr), MI_SUCCESS);
    } else {
      ASSERT_EQ(MI_SYS_MMA_Free(0, phy), MI_SUCCESS);
    }
    EXPECT_EQ(static_cast<unsigned char*>(vir)[4095], 0xAB);
    void* again = nullptr;
    EXPECT_NE(MI_SYS_Mmap(phy, 4096, &again, 1), MI_SUCCESS);  // gone for everyone else
    MI_TEST_ArenaInfo_t before{}, after{};
    ASSERT_EQ(MI_TEST_GetArenaInfo(&before), MI_SUCCESS);
    ASSERT_EQ(MI_SYS_Munmap(vir, 4096), MI_SUCCESS);
    ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
    EXPECT_EQ(after.u64UsedBytes + 4096, before.u64UsedBytes);  // released with the last mapping
  }
}

}  // namespace
