// EnumBase is shared by every thread that names or splits identifiers; this test fills zones from
// many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/EnumBase.h"

namespace {

TEST(EnumBaseTest, ConcurrentAddNextHandsOutEveryBitOnce) {
  constexpr int kThreads = 8, kZones = 40;
  EnumBase base("TASK");
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (++arrived; arrived.load() < kThreads;) std::this_thread::yield();
      for (int z = 0; z < kZones; ++z) {
        for (int i = 0; i < 64 / kThreads; ++i) {
          const std::string zone = "z" + std::to_string(z),
                            name = std::to_string(t) + "_" + std::to_string(i);
          EXPECT_EQ(base.convert(base.add_next(zone, name), zone), name);
          base.print(~0ull, zone);  // readers meet the writers
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int z = 0; z < kZones; ++z) {
    unsigned long long all = 0;
    for (const auto& item : base.mapId2String("z" + std::to_string(z))) all |= item.first;
    EXPECT_EQ(all, ~0ull) << "64 names took every bit once, zone " << z;
  }
}

}  // namespace
