// Engine handle numbers under concurrency: a number held by a long operation is never handed to
// another, and a caller waits while all 128 are held; meanwhile threads share the platform arena.
// Threads are ordered by joins only.
#include <gtest/gtest.h>
#include <mi_ive.h>
#include <mi_test.h>

#include <atomic>
#include <thread>
#include <vector>

#include "mi/MiTestUtil.h"
#include "platform/Iveproc.h"
#include "platform/Mmz.h"

namespace {

const bool kPrivateArena = use_private_arena("iveproc_mt", "32M");

TEST(IveprocConcurrencyTest, NumbersGoInTurnSkipTheBusyOnesAndAreWaitedForWhenAllAreBusy) {
  std::vector<unsigned char> all;
  for (int k = 0; k < 128; ++k) all.push_back(get_miive_handle_id());
  for (int k = 0; k < 128; ++k) ASSERT_EQ(all[k], (all[0] + k) % 128) << k;
  // The turn is back at all[0], which is busy: the search goes on forward to the first free number.
  release_miive_handle_id(all[100]);
  release_miive_handle_id(all[5]);
  EXPECT_EQ(get_miive_handle_id(), all[5]);
  EXPECT_EQ(get_miive_handle_id(), all[100]);
  // All are busy again: only 77's release lets the waiting caller through.
  int got = -1;
  std::thread waiter([&] { got = get_miive_handle_id(); });
  release_miive_handle_id(all[77]);
  waiter.join();
  EXPECT_EQ(got, all[77]);
  for (unsigned char id : all) release_miive_handle_id(id);
}

TEST(IveprocConcurrencyTest, ALongOperationKeepsItsNumberWhileOthersRunMany) {
  MiSysInit();
  // The long operation: a number taken and created in the engine, held through all the others.
  const unsigned char held = get_miive_handle_id();
  ASSERT_EQ(MI_IVE_Create(held), MI_SUCCESS);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      // 4 x 100 operations go round the 128 numbers three times; reusing `held` would make
      // MI_IVE_Create fail, which stops the process. Each works in blocks of its own, allocated
      // and freed meanwhile by the others too: a byte of another thread's mark would show.
      const unsigned char mark = static_cast<unsigned char>(t + 1);
      for (int k = 0; k < 100; ++k) {
        MmzMemory src(4096 * (1 + (k + t) % 3)), dst(16 * 2);
        misys_1d_memset(src.phy_addr(), mark * 0x01010101u, static_cast<uint32_t>(src.capacity()));
        miive_u8c1_resize(src.phy_addr(), src.data(), 16, 8, 4, dst.phy_addr(), dst.data(), 16, 4, 2);
        if (dst.data()[0] != mark || dst.data()[19] != mark || src.data()[src.capacity() - 1] != mark)
          failures.fetch_add(1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(MI_TEST_GetCallCount("MI_IVE_Resize"), 400u);
  EXPECT_EQ(MI_IVE_Destroy(held), MI_SUCCESS);
  release_miive_handle_id(held);
}

TEST(IveprocConcurrencyDeathTest, GivingBackAFreeNumberIsFatal) {
  const unsigned char id = get_miive_handle_id();
  release_miive_handle_id(id);
  EXPECT_DEATH(release_miive_handle_id(id), "engine handle [0-9]+ was not handed out");
}

}  // namespace
