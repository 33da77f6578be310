#include "nn/ssc/kavo_mm.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <cstdint>

#include "mi_sys.h"

namespace {

// The device through which the platform maps physical memory. The PC stand-in of the platform plays
// it with its arena file: the host's own /dev/mem is never opened there.
const char* physical_memory_device() {
#ifdef KAVO_MI_STANDIN
  return KAVO_MI_PhysMemDevice();
#else
  return "/dev/mem";
#endif
}

int open_physical_memory_device() {
  int fd = open(physical_memory_device(), O_RDWR | O_SYNC | O_CLOEXEC);
  if (fd < 0) LOG(FATAL) << "Open dev/mem error";
  return fd;
}

}  // namespace

void* KAVO_SYS_IOMmap(unsigned long long phy, unsigned int u32Size) {
  // Opened once and kept for the life of the process.
  static const int devMemFd = open_physical_memory_device();
  (void)devMemFd;
  CHECK(u32Size > 0);
  void* vir = nullptr;
  MI_S32 s32Ret = MI_SYS_Mmap(phy, u32Size, &vir, true);
  CHECK(s32Ret == MI_SUCCESS) << "MI_SYS_Mmap failed: ret=0x" << std::hex << s32Ret << ", phy=0x" << phy
                              << ", size=0x" << u32Size;
  return vir;
}

void KAVO_SYS_Munmap(void* vir, unsigned int size) {
  MI_S32 s32Ret = MI_SYS_Munmap(vir, size);
  CHECK(s32Ret == MI_SUCCESS) << "MI_SYS_Munmap failed: ret=0x" << std::hex << s32Ret << ", vir=0x"
                              << reinterpret_cast<std::uintptr_t>(vir) << ", size=0x" << size;
}
