// Tests of the physical-memory mapping unit: buffers handed over by physical address are mapped and
// unmapped, the device opened is the platform stand-in's arena (never the host's /dev/mem), and every
// failure is fatal with its message.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"
#include "nn/ssc/kavo_mm.h"

namespace {

const bool kPrivateArena = use_private_arena("KavoMmTest");

// Targets of this process's open file descriptors.
std::vector<std::string> open_files() {
  std::vector<std::string> out;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return out;
  while (dirent* e = readdir(dir)) {
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    char target[4096];
    ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
    if (n > 0) out.emplace_back(target, static_cast<size_t>(n));
  }
  closedir(dir);
  return out;
}

TEST(KavoMmTest, MapsABufferOfTheArenaByPhysicalAddressAtAnyOffset) {
  ASSERT_TRUE(kPrivateArena);
  TestBlock block(3 * 4096);
  for (uint32_t i = 0; i < block.size(); ++i) block.data()[i] = static_cast<uint8_t>(i * 13);
  auto* p = static_cast<uint8_t*>(KAVO_SYS_IOMmap(block.phy() + 4100, 5000));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], static_cast<uint8_t>(4100 * 13));
  EXPECT_EQ(p[4999], static_cast<uint8_t>(9099 * 13));
  p[1] = 7;  // writes show in every mapping of the block
  EXPECT_EQ(block.data()[4101], 7);
  const MI_U32 mappings = MI_TEST_GetMappingCount();
  KAVO_SYS_Munmap(p, 5000);
  EXPECT_EQ(MI_TEST_GetMappingCount(), mappings - 1);
  // The device opened is the platform's arena, never the host's /dev/mem.
  std::vector<std::string> files = open_files();
  const std::string arena = getenv("KAVO_PHYS_ARENA");
  int arenaFds = 0;
  for (const std::string& f : files) {
    EXPECT_NE(f, "/dev/mem");
    arenaFds += f == arena;
  }
  // One descriptor of the platform itself, one kept by the mapping unit.
  EXPECT_EQ(arenaFds, 2);
}

TEST(KavoMmDeathTest, BadSizesAndPlatformFailuresAreFatalWithCodeAddressAndSize) {
  TestBlock block(4096);
  const uint64_t phy = block.phy() + 5;
  void* p = KAVO_SYS_IOMmap(block.phy(), 32);
  char mapping[160], unmapping[160];
  std::snprintf(
      mapping, sizeof(mapping),
      "Check failed: s32Ret == MI_SUCCESS MI_SYS_Mmap failed: ret=0xa0014005, phy=0x%llx, size=0x1000",
      static_cast<unsigned long long>(phy));
  std::snprintf(unmapping, sizeof(unmapping),
                "Check failed: s32Ret == MI_SUCCESS MI_SYS_Munmap failed: ret=0xa0014005, vir=%p, size=0x1f",
                p);
  EXPECT_DEATH(KAVO_SYS_IOMmap(block.phy(), 0), "Check failed: u32Size > 0 ");
  EXPECT_DEATH(KAVO_SYS_IOMmap(phy, 4096), mapping) << "the range runs past the end of the block";
  EXPECT_DEATH(KAVO_SYS_Munmap(p, 31), unmapping) << "the size differs from the mapping's";
  EXPECT_DEATH((MI_TEST_FailNext("MI_SYS_Mmap", 0x1F), KAVO_SYS_IOMmap(block.phy(), 16)),
               "MI_SYS_Mmap failed: ret=0x1f, phy=0x");
  KAVO_SYS_Munmap(p, 32);
}

TEST(KavoMmDeathTest, UnopenableDeviceIsFatal) {
  // A fresh process whose platform arena cannot be created: the device open fails.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH((setenv("KAVO_PHYS_ARENA", "/nonexistent-kavo-dir/phys", 1),
                KAVO_SYS_IOMmap(KAVO_MI_PHYS_BASE + 0x100000, 16)),
               "Open dev/mem error");
}

}  // namespace
