// A block that another process maps outlives its owner's free and its owner's death: it goes when
// the last mapping of it goes, so a dying sender never pulls pixels from under a reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "mi_sys.h"
#include "mi_test.h"

namespace {
// A child process that allocates a block, fills it with 0xAB, reports its address, then frees it
// when told to (a byte on `go`) or waits to be killed.
struct Owner {
  Owner() {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return;
    pid = fork();
    if (pid == 0) {
      MI_PHY phy = 0;
      void* vir = nullptr;
      MI_SYS_MMA_Alloc(0, nullptr, 4096, &phy);
      MI_SYS_Mmap(phy, 4096, &vir, 1);
      std::memset(vir, 0xAB, 4096);
      (void)!write(up[1], &phy, sizeof phy);
      char c;
      if (read(down[0], &c, 1) == 1) MI_SYS_MMA_Free(0, phy);
      (void)!write(up[1], &c, 1);
      pause();
      _exit(0);
    }
    close(up[1]), close(down[0]);
    fromChild = up[0], toChild = down[1];
    if (read(fromChild, &phy, sizeof phy) != sizeof phy) phy = 0;
  }
  void free_block() {
    char c = 1;
    (void)!write(toChild, &c, 1);
    (void)!read(fromChild, &c, 1);
  }
  void kill_it() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
  int fromChild = -1, toChild = -1;
  MI_PHY phy = 0;
};

MI_U32 live_blocks() {
  MI_TEST_ArenaInfo_t info{};
  MI_TEST_GetArenaInfo(&info);
  return info.u32LiveBlocks;
}
}  // namespace

TEST(MiPinTest, AMappedBlockStaysUntilItsLastMapperUnmaps) {
  const std::string arena = "/dev/shm/kavo-pin-" + std::to_string(getpid());
  setenv("KAVO_PHYS_ARENA", arena.c_str(), 1);
  for (const bool freedFirst : {true, false}) {
    SCOPED_TRACE(freedFirst ? "owner frees, then dies" : "owner dies");
    Owner owner;
    ASSERT_NE(owner.phy, 0u);
    void* vir = nullptr;
    ASSERT_EQ(MI_SYS_Mmap(owner.phy, 4096, &vir, 1), MI_SUCCESS);
    if (freedFirst) owner.free_block();
    owner.kill_it();
    MI_U32 reclaimed = 0;
    MI_TEST_ReclaimDeadOwners(&reclaimed);
    EXPECT_EQ(live_blocks(), 1u);
    EXPECT_EQ(static_cast<unsigned char*>(vir)[4095], 0xAB);
    void* again = nullptr;
    EXPECT_NE(MI_SYS_Mmap(owner.phy, 4096, &again, 1), MI_SUCCESS);  // freed: no new mapping
    EXPECT_NE(MI_SYS_MemcpyPa(0, owner.phy, owner.phy, 16), MI_SUCCESS);
    ASSERT_EQ(MI_SYS_Munmap(vir, 4096), MI_SUCCESS);
    EXPECT_EQ(live_blocks(), 0u);
  }
  unlink(arena.c_str());
}
