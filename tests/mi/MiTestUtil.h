// Helpers shared by the tests of the platform SDK stand-in: a private arena per test executable,
// blocks of emulated physical memory that free themselves, and a fixture clearing calls and faults.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "mi_sys.h"
#include "mi_test.h"

// Points the stand-in at an arena file of its own for this test process (ctest runs the tests of one
// executable in parallel processes, which must not see each other's blocks): KAVO_PHYS_ARENA + "." +
// name + "." + pid when the environment names an arena, else /dev/shm/kavo_phys_<name>.<uid>.<pid>.
// The file is removed when the process exits. Call from a namespace-scope initialiser, before any
// SDK call.
inline bool use_private_arena(const char* name, const char* size = "64M") {
  const std::string tag = std::string(".") + name + ".";
  const char* env = getenv("KAVO_PHYS_ARENA");
  std::string path = env != nullptr ? env : "";
  // Death tests that re-run the executable inherit the arena of the test that started them.
  if (path.find(tag) != std::string::npos) return true;
  if (path.empty()) path = std::string("/dev/shm/kavo_phys_") + name + "." + std::to_string(getuid());
  path += (env != nullptr ? tag : std::string(".")) + std::to_string(getpid());
  setenv("KAVO_PHYS_ARENA", path.c_str(), 1);
  setenv("KAVO_PHYS_SIZE", size, 1);
  static const pid_t owner = getpid();
  static std::string arena;
  arena = path;
  atexit([] {
    if (getpid() == owner) unlink(arena.c_str());
  });
  return true;
}

// A block of `size` bytes allocated and mapped whole; unmapped and freed at scope end.
class TestBlock {
 public:
  explicit TestBlock(uint32_t size) : size_(size) {
    if (MI_SYS_MMA_Alloc(0, nullptr, size, &phy_) != MI_SUCCESS) {
      ADD_FAILURE() << "MI_SYS_MMA_Alloc of " << size << " bytes failed";
      return;
    }
    void* vir = nullptr;
    if (MI_SYS_Mmap(phy_, size, &vir, 1) != MI_SUCCESS) ADD_FAILURE() << "MI_SYS_Mmap failed";
    vir_ = static_cast<uint8_t*>(vir);
  }
  ~TestBlock() {
    if (vir_ != nullptr) MI_SYS_Munmap(vir_, size_);
    if (phy_ != 0) MI_SYS_MMA_Free(0, phy_);
  }
  TestBlock(const TestBlock&) = delete;
  TestBlock& operator=(const TestBlock&) = delete;

  MI_PHY phy() const { return phy_; }
  uint8_t* data() const { return vir_; }
  uint32_t size() const { return size_; }

 private:
  uint32_t size_;
  MI_PHY phy_ = 0;
  uint8_t* vir_ = nullptr;
};

// Deterministic pseudo-random bytes (xorshift), so failures reproduce.
inline void fill_random(uint8_t* p, size_t n, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    p[i] = static_cast<uint8_t>(x >> 24);
  }
}

// A fixture for tests that count platform calls or inject faults: each starts with an empty call log
// and no faults, and leaves none behind.
class MiFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MI_TEST_ClearFaults();
    MI_TEST_ResetCallLog();
  }
  void TearDown() override { MI_TEST_ClearFaults(); }
};
