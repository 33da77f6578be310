// EnumBase is shared by every thread that names or splits identifiers; this test fills zones from
// many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/EnumBase.h"

namespace {

TEST(EnumBaseTest, ConcurrentAddNextHandsOutEveryBitOnce) {
  EnumBase base("TASK");
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (++arrived; arrived.load() < 8;) std::this_thread::yield();
      for (int n = 0; n < 500 * 8; ++n) {  // 8 names in each of 500 zones
        const std::string zone = "z" + std::to_string(n / 8), name = std::to_string(t * 8 + n % 8);
        EXPECT_EQ(base.convert(base.add_next(zone, name), zone), name);
        base.print(~0ull, zone);  // readers meet the writers
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int z = 0; z < 500; ++z) {
    unsigned long long all = 0;
    for (const auto& item : base.mapId2String("z" + std::to_string(z))) all |= item.first;
    EXPECT_EQ(all, ~0ull) << "64 names took every bit once, zone " << z;
  }
}

}  // namespace
