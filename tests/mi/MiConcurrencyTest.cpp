// Threads of one process allocating, mapping, filling and freeing blocks of the stand-in at the same
// time: every block stays its owner's (no two live blocks overlap) and the pool ends as it began.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"

namespace {

const bool kPrivateArena = use_private_arena("MiConcurrencyTest");

TEST(MiConcurrencyTest, ThreadsAllocateFillAndFreeWithoutSharingBytes) {
  ASSERT_TRUE(kPrivateArena);
  MI_TEST_ArenaInfo_t before{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&before), MI_SUCCESS);
  constexpr int kThreads = 4;
  constexpr int kRounds = 100;
  std::atomic<int> ready{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ready, &failures] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      for (int i = 0; i < kRounds; ++i) {
        uint32_t size = 4096 * (1 + (i + t) % 3);
        MI_PHY phy = 0;
        void* vir = nullptr;
        if (MI_SYS_MMA_Alloc(0, nullptr, size, &phy) != MI_SUCCESS ||
            MI_SYS_Mmap(phy, size, &vir, 1) != MI_SUCCESS) {
          failures.fetch_add(1);
          return;
        }
        // Fill by DMA with this thread's byte; another thread writing into the block would show.
        uint32_t mark = 0x01010101u * static_cast<uint32_t>(t + 1);
        MI_SYS_MemsetPa(0, phy, mark, size);
        MI_SYS_FlushInvCache(vir, size);
        auto* p = static_cast<uint8_t*>(vir);
        if (p[0] != t + 1 || p[size - 1] != t + 1) failures.fetch_add(1);
        if (MI_SYS_Munmap(vir, size) != MI_SUCCESS || MI_SYS_MMA_Free(0, phy) != MI_SUCCESS) {
          failures.fetch_add(1);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  MI_TEST_ArenaInfo_t after{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  EXPECT_EQ(after.u32OwnBlocks, before.u32OwnBlocks);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_SYS_MMA_Alloc"), static_cast<MI_U32>(kThreads * kRounds));
}

}  // namespace
