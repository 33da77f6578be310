#include "platform/Mmz.h"

#include <glog/logging.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "mi_sys.h"

namespace {

// The largest block MI_SYS_MMA_Alloc can be asked for: the largest 32-bit multiple of 4096.
constexpr uint64_t kMaxBlockBytes = 0xFFFFF000u;

void mi_sys_exit_at_exit() {
  CHECK(MI_SUCCESS == MI_SYS_Exit(0));
  LOG(WARNING) << "MI_SYS_Exit successfully.";
}

}  // namespace

void MiSysInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    CHECK(MI_SUCCESS == MI_SYS_Init(0));
    LOG(WARNING) << "MI_SYS_Init successfully.";
    std::atexit(mi_sys_exit_at_exit);
  });
}

MmzStatistics* MmzStatistics::Instance() {
  // Never destroyed: blocks held by other process-wide objects are released during exit.
  static MmzStatistics* instance = new MmzStatistics;
  return instance;
}

void MmzStatistics::print() const {
  LOG(WARNING) << "MMZ Memory Statistics: Used " << static_cast<int>(usedBytes_.load()) << " Bytes, Allocate "
               << static_cast<int>(allocations_.load()) << " Times, Release "
               << static_cast<int>(releases_.load()) << " Times.";
}

void MmzStatistics::add_allocation(unsigned int bytes) {
  usedBytes_ += bytes;
  allocations_ += 1;
}

void MmzStatistics::add_release(unsigned int bytes) {
  usedBytes_ -= bytes;
  releases_ += 1;
}

MmzMemory::MmzMemory(int64_t size) {
  CHECK_GE(size, 0);
  if (size != 0) allocate(size, false);
}

MmzMemory::~MmzMemory() { free(); }

void MmzMemory::allocate(int64_t size, bool inResize) {
  const uint64_t capacity = (static_cast<uint64_t>(size) + 4095u) & ~uint64_t{4095};
  // MI_SYS_MMA_Alloc takes 32 bits: a larger block cannot even be asked for, and a truncated size
  // would hand out a block smaller than its users write.
  CHECK(capacity <= kMaxBlockBytes) << "MI_SYS_MMA_Alloc Failed: " << size
                                    << " bytes exceed the largest platform block";
  size_ = size;
  capacity_ = static_cast<unsigned int>(capacity);
  MI_PHY phy = 0;
  MI_S32 ok = MI_SYS_MMA_Alloc(0, nullptr, capacity_, &phy);
  if (inResize) {
    CHECK(ok == MI_SUCCESS) << "MI_SYS_MMA_Alloc Failed: capacity=0x" << std::hex << capacity_ << ", ec=0x"
                            << ok;
  } else {
    CHECK(ok == MI_SUCCESS) << "MI_SYS_MMA_Alloc Failed.";
  }
  void* vir = nullptr;
  ok = MI_SYS_Mmap(phy, capacity_, &vir, 1);
  // Give the block back before stopping, so a surviving arena does not keep it.
  if (ok != MI_SUCCESS) MI_SYS_MMA_Free(0, phy);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_Mmap Failed.";
  phy_ = phy;
  vir_ = static_cast<unsigned char*>(vir);
  MmzStatistics::Instance()->add_allocation(capacity_);
}

void MmzMemory::flush() {
  if (size_ == 0) return;
  MI_S32 ok = MI_SYS_FlushInvCache(vir_, capacity_);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_FlushInvCache Failed.";
}

void MmzMemory::free() {
  if (size_ == 0) return;
  MI_S32 ok = MI_SYS_Munmap(vir_, capacity_);
  // clang-format off
  CHECK(ok==MI_SUCCESS) << "MI_SYS_Munmap Failed.";
  ok = MI_SYS_MMA_Free(0, phy_);
  CHECK(ok==MI_SUCCESS) << "MI_SYS_MMA_Free Failed.";
  // clang-format on
  MmzStatistics::Instance()->add_release(capacity_);
  phy_ = 0;
  vir_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

void MmzMemory::resize(int64_t size) {
  CHECK_GE(size, 0);
  if (size == 0) {
    free();
    return;
  }
  if (size == size_) return;
  free();
  allocate(size, true);
}

void MmzMemory::reset(int value) {
  if (size_ != 0) std::memset(vir_, value & 0xff, static_cast<size_t>(size_));
  flush();
}

MmzBlob::MmzBlob() : memory_(std::make_shared<MmzMemory>(0)) {}

MmzBlob::MmzBlob(const std::vector<int>& shape, int align) {
  CHECK(shape.size() == 3);
  set_shape(shape[0], shape[1], shape[2], align);
  memory_ = std::make_shared<MmzMemory>(total_);
}

MmzBlob::MmzBlob(int channels, int height, int width, int align) {
  set_shape(channels, height, width, align);
  memory_ = std::make_shared<MmzMemory>(total_);
}

void MmzBlob::resize(const std::vector<int>& shape, int align) {
  CHECK(shape.size() == 3);
  resize(shape[0], shape[1], shape[2], align);
}

void MmzBlob::resize(int channels, int height, int width, int align) {
  set_shape(channels, height, width, align);
  memory_->resize(total_);
}

void MmzBlob::reset(int value) { memory_->reset(value); }

void MmzBlob::set_shape(int channels, int height, int width, int align) {
  CHECK_GT(align, 0);
  channels_ = channels;
  height_ = height;
  width_ = width;
  align_ = align;
  stride_ = ((width + align - 1) / align) * align;
  total_ = static_cast<int64_t>(stride_) * channels * height;
}
