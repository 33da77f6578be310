// Platform memory: process-wide platform start-up, blocks of physically contiguous memory with a
// cached CPU mapping (MmzMemory), a shaped byte view of a block for image planes (MmzBlob), and the
// process-wide allocation counters (MmzStatistics). The image engines, the DMA and the neural-network
// unit work on such blocks. Whoever writes a block with the CPU and then hands it to an engine flushes
// it first; whoever reads engine output with the CPU flushes (invalidates) it first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// Starts the platform once per process (MI_SYS_Init(0)) and arranges MI_SYS_Exit(0) at process exit.
// Later calls do nothing. Thread-safe. A platform failure is fatal.
void MiSysInit();

// Bytes in use, allocations and releases of MmzMemory blocks in this process. Thread-safe (atomic
// counters).
class MmzStatistics {
 public:
  // The process-wide instance, created zeroed on first use and kept until exit.
  static MmzStatistics* Instance();

  // Logs the three counters at WARNING level.
  void print() const;

  void add_allocation(unsigned int bytes);
  void add_release(unsigned int bytes);
  unsigned int used_bytes() const { return usedBytes_.load(); }
  unsigned int allocations() const { return allocations_.load(); }
  unsigned int releases() const { return releases_.load(); }

 private:
  MmzStatistics() = default;

  std::atomic<unsigned int> usedBytes_{0};
  std::atomic<unsigned int> allocations_{0};
  std::atomic<unsigned int> releases_{0};
};

// One block of platform memory: `capacity()` bytes (the size rounded up to 4096) allocated with
// MI_SYS_MMA_Alloc and mapped with MI_SYS_Mmap (cached). Size 0 means empty: no block, null data, all
// fields 0. Every platform failure is fatal. Not thread-safe; one owner at a time (share it through a
// shared pointer: the last holder frees the block).
class MmzMemory {
 public:
  // Allocates and maps a block for `size` bytes (>= 0); 0 makes an empty block without platform calls.
  // A size beyond the platform's largest block (4 GiB - 4096, the 32-bit size of MI_SYS_MMA_Alloc) or
  // beyond its free memory is fatal.
  explicit MmzMemory(int64_t size);
  ~MmzMemory();
  MmzMemory(const MmzMemory&) = delete;
  MmzMemory& operator=(const MmzMemory&) = delete;

  // CPU address of the block; null when empty.
  unsigned char* data() const { return vir_; }
  // Physical address of the block; 0 when empty.
  uint64_t phy_addr() const { return phy_; }
  // Bytes asked for by the construction or the last resize.
  int64_t size() const { return size_; }
  // Bytes allocated and mapped: size rounded up to a multiple of 4096.
  unsigned int capacity() const { return capacity_; }

  // Writes back and invalidates the CPU cache over the whole block; nothing when empty.
  void flush();
  // Unmaps and releases the block and empties this object; nothing when empty.
  void free();
  // 0 frees; the current size keeps block and contents; any other size frees and allocates anew
  // (contents are not kept, a smaller size is not served from the old block).
  void resize(int64_t size);
  // Fills the first size() bytes with the low byte of `value` and flushes; nothing when empty.
  void reset(int value);

 private:
  // Stores `size`, then allocates and maps it rounded up to 4096; `inResize` selects the failure
  // message of resize().
  void allocate(int64_t size, bool inResize);

  uint64_t phy_ = 0;
  unsigned char* vir_ = nullptr;
  int64_t size_ = 0;
  unsigned int capacity_ = 0;
};

// A three-dimensional byte array (channels x height x width) over one MmzMemory: rows are `stride()`
// bytes apart (width rounded up to `align`), plane k starts at byte k * stride * height. An NV12 image
// of w x h pixels is held as (1, h * 3 / 2, w). Not thread-safe; one owner at a time.
class MmzBlob {
 public:
  // Empty shape, align 16, an empty memory block.
  MmzBlob();
  // `shape` is {channels, height, width} (exactly three entries, else fatal).
  explicit MmzBlob(const std::vector<int>& shape, int align = 16);
  MmzBlob(int channels, int height, int width, int align = 16);
  MmzBlob(const MmzBlob&) = delete;
  MmzBlob& operator=(const MmzBlob&) = delete;

  // Stores the new shape and align and resizes the memory block to the new total (see
  // MmzMemory::resize: contents survive only when the total is unchanged).
  void resize(const std::vector<int>& shape, int align = 16);
  void resize(int channels, int height, int width, int align = 16);
  // Fills the memory block with the low byte of `value` and flushes it.
  void reset(int value);

  int channels() const { return channels_; }
  int height() const { return height_; }
  int width() const { return width_; }
  int stride() const { return stride_; }
  // Bytes asked of the memory block: stride * channels * height, in 64 bits (a 40000 x 40000 RGB
  // image needs 4.8e9).
  int64_t total() const { return total_; }
  int align() const { return align_; }
  std::vector<int> shape() const { return {channels_, height_, width_}; }
  unsigned int capacity() const { return memory_->capacity(); }
  // The memory block; never null.
  const std::shared_ptr<MmzMemory>& memory() const { return memory_; }

 private:
  void set_shape(int channels, int height, int width, int align);

  std::shared_ptr<MmzMemory> memory_;
  int channels_ = 0;
  int height_ = 0;
  int width_ = 0;
  int stride_ = 0;
  int64_t total_ = 0;
  int align_ = 16;
};
