// EnumBase is shared by every thread that names or splits identifiers; these tests fill a zone
// from many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/EnumBase.h"

namespace {

TEST(EnumBaseTest, ConcurrentAddNextHandsOutEveryBitOnce) {
  constexpr int kThreads = 8, kZones = 40;
  EnumBase base("TASK");
  std::vector<std::vector<unsigned long long>> got(kThreads);
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++arrived;
      while (arrived.load() < kThreads) std::this_thread::yield();
      for (int z = 0; z < kZones; ++z) {
        for (int i = 0; i < 64 / kThreads; ++i) {
          const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
          got[t].push_back(base.add_next("z" + std::to_string(z), name));
          base.print(~0ull, "z" + std::to_string(z));  // readers meet the writers
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int z = 0; z < kZones; ++z) {
    SCOPED_TRACE(z);
    const std::string zone = "z" + std::to_string(z);
    std::set<unsigned long long> ids;
    for (int t = 0; t < kThreads; ++t) {
      for (int i = 0; i < 64 / kThreads; ++i) {
        const unsigned long long id = got[t][z * (64 / kThreads) + i];
        EXPECT_EQ(base.convert("T" + std::to_string(t) + "_" + std::to_string(i), zone), id);
        ids.insert(id);
      }
    }
    EXPECT_EQ(ids.size(), 64u);  // 64 distinct single bits: every bit of the zone once
  }
}

}  // namespace
