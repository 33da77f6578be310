// Arena of emulated physical memory: one sparse file in shared memory per machine user, mapped whole
// into every process that uses the SDK. The first pages hold the allocation state (a process-shared
// robust mutex and a block table sorted by offset, with each block's owner pid), so that processes
// allocate from one pool and hand blocks to each other by physical address, as on the chip.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "mi_internal.h"
#include "mi_sys.h"

namespace kavo_mi {
namespace arena {
namespace {

constexpr std::uint64_t kMagic = 0x4b41564f50485953ull;  // "KAVOPHYS"
constexpr std::uint32_t kVersion = 3;
constexpr std::uint64_t kPage = 4096;
constexpr std::uint32_t kMaxBlocks = 8192;
constexpr std::uint64_t kDefaultSize = 1ull << 30;

constexpr int kPins = 8;  // other processes that may map one block at a time

// A process other than the owner that has a block mapped: the block stays while it lives.
struct Pin {
  std::int32_t pid;
  std::uint32_t count;  // its live mappings of the block
};

struct Block {
  std::uint64_t offset;  // from the start of the file, 4096-aligned, never 0
  std::uint64_t size;    // multiple of 4096
  std::int32_t pid;      // owner; 0 once freed (or its owner gone) while still mapped elsewhere
  std::uint32_t reserved;
  Pin pins[kPins];
};

// Lives at offset 0 of the arena file. `initialised` is written last, under flock, by the creator.
struct Header {
  std::uint64_t magic;
  std::uint32_t version;
  std::uint32_t maxBlocks;
  std::uint64_t fileSize;
  std::uint64_t dataStart;  // first allocatable offset (end of this header, page-aligned)
  pthread_mutex_t mutex;    // guards everything below, across processes
  std::uint64_t usedBytes;
  std::uint32_t count;
  std::uint32_t padding;
  std::uint64_t cursor;      // next-fit start: the end of the last allocation
  Block blocks[kMaxBlocks];  // blocks[0 .. count) sorted by offset, non-overlapping
};

static_assert(offsetof(Header, fileSize) == 16, "the probe in do_attach reads the first 24 bytes");
constexpr std::uint64_t kHeaderBytes = (sizeof(Header) + kPage - 1) / kPage * kPage;

struct State {
  std::once_flag once;
  MI_S32 status = -1;  // MI_SUCCESS once attached
  std::string path;
  int fd = -1;
  std::uint8_t* base = nullptr;  // view of the whole file
  Header* header = nullptr;
};

State& state() {
  static State* s = new State;  // never destroyed: static destructors of users may still free blocks
  return *s;
}

std::string default_path() {
  const char* env = std::getenv("KAVO_PHYS_ARENA");
  if (env != nullptr && env[0] != '\0') return env;
  return "/dev/shm/kavo_phys." + std::to_string(getuid());
}

std::uint64_t requested_size() {
  const char* env = std::getenv("KAVO_PHYS_SIZE");
  if (env == nullptr || env[0] == '\0') return kDefaultSize;
  char* end = nullptr;
  unsigned long long v = std::strtoull(env, &end, 10);
  switch (end != nullptr ? *end : '\0') {
    case 'k':
    case 'K':
      v <<= 10;
      break;
    case 'm':
    case 'M':
      v <<= 20;
      break;
    case 'g':
    case 'G':
      v <<= 30;
      break;
    default:
      break;
  }
  if (v < kHeaderBytes + 16 * kPage) return kDefaultSize;
  return (v + kPage - 1) / kPage * kPage;
}

void init_header(Header* h, std::uint64_t fileSize) {
  std::memset(static_cast<void*>(h), 0, sizeof(Header));
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  // A thread that locks twice (a test holding the lock on purpose) gets EDEADLK instead of hanging.
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutex_init(&h->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  h->version = kVersion;
  h->maxBlocks = kMaxBlocks;
  h->fileSize = fileSize;
  h->dataStart = kHeaderBytes;
  h->cursor = kHeaderBytes;
  __atomic_store_n(&h->magic, kMagic, __ATOMIC_RELEASE);
}

void do_attach(State& s) {
  s.path = default_path();
  int fd = open(s.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "kavo_mi: cannot open arena %s: %s\n", s.path.c_str(), std::strerror(errno));
    return;
  }
  // flock serialises creation between processes starting at the same time.
  if (flock(fd, LOCK_EX) != 0) {
    close(fd);
    return;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  std::uint64_t fileSize = ok ? static_cast<std::uint64_t>(st.st_size) : 0;
  bool fresh = fileSize < kHeaderBytes + kPage;
  if (ok && !fresh) {
    struct {
      std::uint64_t magic;
      std::uint32_t version;
      std::uint32_t maxBlocks;
      std::uint64_t fileSize;
    } probe;
    ok = pread(fd, &probe, sizeof(probe), 0) == static_cast<ssize_t>(sizeof(probe));
    fresh = !ok || probe.magic != kMagic || probe.version != kVersion || probe.fileSize != fileSize ||
            probe.maxBlocks != kMaxBlocks;
    ok = true;
  }
  if (ok && fresh) {
    fileSize = requested_size();
    ok = ftruncate(fd, 0) == 0 && ftruncate(fd, static_cast<off_t>(fileSize)) == 0;
  }
  void* base = ok ? mmap(nullptr, fileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
  if (base == MAP_FAILED) {
    std::fprintf(stderr, "kavo_mi: cannot map arena %s: %s\n", s.path.c_str(), std::strerror(errno));
    flock(fd, LOCK_UN);
    close(fd);
    return;
  }
  if (fresh) init_header(static_cast<Header*>(base), fileSize);
  flock(fd, LOCK_UN);
  s.fd = fd;
  s.base = static_cast<std::uint8_t*>(base);
  s.header = static_cast<Header*>(base);
  s.status = MI_SUCCESS;
}

bool pid_alive(std::int32_t pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  // A zombie still answers kill(); its blocks are as good as freed.
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return true;
  char buf[512];
  size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* close = std::strrchr(buf, ')');
  if (close == nullptr || close[1] == '\0' || close[2] == '\0') return true;
  return close[2] != 'Z' && close[2] != 'X';
}

void punch(std::uint64_t offset, std::uint64_t size) {
  // Gives the pages back to the system; the range reads as zeros afterwards.
  fallocate(state().fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
            static_cast<off_t>(size));
}

void erase_nolock(Header* h, std::uint32_t i) {
  h->usedBytes -= h->blocks[i].size;
  std::memmove(&h->blocks[i], &h->blocks[i + 1], (h->count - i - 1) * sizeof(Block));
  --h->count;
}

// True while a live process has the block mapped.
bool pinned_nolock(Block& b) {
  bool pinned = false;
  for (Pin& p : b.pins) {
    if (p.count == 0) continue;
    if (pid_alive(p.pid))
      pinned = true;
    else
      p = Pin{0, 0};
  }
  return pinned;
}

std::uint32_t reclaim_nolock(Header* h) {
  std::uint32_t n = 0;
  // One liveness probe per distinct pid: tables hold many blocks of few processes.
  std::int32_t lastPid = 0;
  bool lastAlive = true;
  for (std::uint32_t i = 0; i < h->count;) {
    std::int32_t pid = h->blocks[i].pid;
    bool alive = pid == lastPid ? lastAlive : pid_alive(pid);
    lastPid = pid;
    lastAlive = alive;
    if (alive) {
      ++i;
      continue;
    }
    if (pinned_nolock(h->blocks[i])) {
      h->blocks[i].pid = 0;  // orphaned: goes when its last mapper unmaps or dies
      ++i;
      continue;
    }
    punch(h->blocks[i].offset, h->blocks[i].size);
    erase_nolock(h, i);
    ++n;
  }
  return n;
}

// After a process died inside the lock the table may be half-updated: keep what is consistent.
void repair_nolock(Header* h) {
  if (h->count > kMaxBlocks) h->count = kMaxBlocks;
  std::sort(h->blocks, h->blocks + h->count,
            [](const Block& a, const Block& b) { return a.offset < b.offset; });
  std::uint32_t out = 0;
  std::uint64_t end = h->dataStart;
  std::uint64_t used = 0;
  for (std::uint32_t i = 0; i < h->count; ++i) {
    const Block& b = h->blocks[i];
    bool valid = b.size > 0 && b.offset % kPage == 0 && b.size % kPage == 0 && b.offset >= end &&
                 b.offset + b.size <= h->fileSize;
    if (!valid) continue;
    h->blocks[out++] = b;
    end = b.offset + b.size;
    used += b.size;
  }
  h->count = out;
  h->usedBytes = used;
  if (h->cursor < h->dataStart || h->cursor > h->fileSize) h->cursor = h->dataStart;
}

// Holds the arena mutex; recovers it when its last holder died.
class Lock {
 public:
  explicit Lock(Header* h) : h_(h) {
    int r = pthread_mutex_lock(&h_->mutex);
    if (r == EOWNERDEAD) {
      pthread_mutex_consistent(&h_->mutex);
      repair_nolock(h_);
      reclaim_nolock(h_);
      r = 0;
    }
    locked_ = r == 0;
  }
  ~Lock() {
    if (locked_) pthread_mutex_unlock(&h_->mutex);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  bool locked() const { return locked_; }

 private:
  Header* h_;
  bool locked_ = false;
};

// Index of the block containing offset `off`, or -1.
int find_nolock(const Header* h, std::uint64_t off) {
  const Block* first = h->blocks;
  const Block* last = h->blocks + h->count;
  const Block* it =
      std::upper_bound(first, last, off, [](std::uint64_t o, const Block& b) { return o < b.offset; });
  if (it == first) return -1;
  --it;
  return off < it->offset + it->size ? static_cast<int>(it - first) : -1;
}

// Next fit from the cursor, wrapping once: a block just freed is not handed out again at once, so
// stale physical addresses point at unallocated space (where the checks catch them) for as long as
// possible. Sets the insertion index and the offset; false when no gap is large enough.
bool place_nolock(const Header* h, std::uint64_t size, std::uint32_t* index, std::uint64_t* offset) {
  if (h->count >= kMaxBlocks) return false;
  for (int pass = 0; pass < 2; ++pass) {
    std::uint64_t from = pass == 0 ? h->cursor : h->dataStart;
    std::uint64_t start = h->dataStart;
    for (std::uint32_t i = 0; i <= h->count; ++i) {
      std::uint64_t end = i < h->count ? h->blocks[i].offset : h->fileSize;
      std::uint64_t gapStart = std::max(start, from);
      if (end > gapStart && end - gapStart >= size) {
        *index = i;
        *offset = gapStart;
        return true;
      }
      if (i < h->count) start = h->blocks[i].offset + h->blocks[i].size;
    }
  }
  return false;
}

bool in_file(const Header* h, MI_PHY phy, std::uint64_t len) {
  if (phy < KAVO_MI_PHYS_BASE + h->dataStart) return false;
  std::uint64_t off = phy - KAVO_MI_PHYS_BASE;
  return off < h->fileSize && len <= h->fileSize - off;
}

}  // namespace

MI_S32 attach(MI_ModuleId_e module) {
  State& s = state();
  std::call_once(s.once, [&s] { do_attach(s); });
  return s.status == MI_SUCCESS ? MI_SUCCESS : err_notready(module);
}

const char* path() {
  State& s = state();
  std::call_once(s.once, [&s] { do_attach(s); });
  return s.path.c_str();
}

int fd() { return state().fd; }

std::uint8_t* view(MI_PHY phy) { return state().base + (phy - KAVO_MI_PHYS_BASE); }

MI_S32 alloc(std::uint64_t size, MI_PHY* phy) {
  if (MI_S32 ret = attach(E_MI_MODULE_ID_SYS)) return ret;
  if (size == 0 || phy == nullptr) return size == 0 ? MI_ERR_SYS_ILLEGAL_PARAM : MI_ERR_SYS_NULL_PTR;
  size = (size + kPage - 1) / kPage * kPage;
  Header* h = state().header;
  // More than the whole arena can never be had: refuse at once instead of looking for dead owners.
  if (size > h->fileSize - h->dataStart) return MI_ERR_SYS_NOMEM;
  Lock lock(h);
  if (!lock.locked()) return MI_ERR_SYS_NOTREADY;
  std::uint32_t index = 0;
  std::uint64_t offset = 0;
  if (!place_nolock(h, size, &index, &offset)) {
    // Exhausted: what dead processes left behind may make room.
    if (reclaim_nolock(h) == 0 || !place_nolock(h, size, &index, &offset)) return MI_ERR_SYS_NOMEM;
  }
  std::memmove(&h->blocks[index + 1], &h->blocks[index], (h->count - index) * sizeof(Block));
  h->blocks[index] = Block{offset, size, static_cast<std::int32_t>(getpid()), 0, {}};
  ++h->count;
  h->usedBytes += size;
  h->cursor = offset + size;
  *phy = KAVO_MI_PHYS_BASE + offset;
  return MI_SUCCESS;
}

MI_S32 free(MI_PHY phy) {
  if (MI_S32 ret = attach(E_MI_MODULE_ID_SYS)) return ret;
  Header* h = state().header;
  if (!in_file(h, phy, 1)) return MI_ERR_SYS_UNEXIST;
  Lock lock(h);
  if (!lock.locked()) return MI_ERR_SYS_NOTREADY;
  std::uint64_t off = phy - KAVO_MI_PHYS_BASE;
  int i = find_nolock(h, off);
  if (i < 0 || h->blocks[i].offset != off || h->blocks[i].pid == 0) return MI_ERR_SYS_UNEXIST;
  if (pinned_nolock(h->blocks[i])) {
    h->blocks[i].pid = 0;  // still mapped: release when the last mapping goes
    return MI_SUCCESS;
  }
  punch(h->blocks[i].offset, h->blocks[i].size);
  erase_nolock(h, static_cast<std::uint32_t>(i));
  return MI_SUCCESS;
}

MI_S32 pin(MI_PHY phy, std::uint64_t len) {
  if (MI_S32 ret = attach(E_MI_MODULE_ID_SYS)) return ret;
  Header* h = state().header;
  if (len == 0) return MI_ERR_SYS_ILLEGAL_PARAM;
  if (!in_file(h, phy, len)) return MI_ERR_SYS_UNEXIST;
  const std::uint64_t off = phy - KAVO_MI_PHYS_BASE;
  Lock lock(h);
  if (!lock.locked()) return MI_ERR_SYS_NOTREADY;
  int i = find_nolock(h, off);
  if (i < 0) return MI_ERR_SYS_UNEXIST;
  Block& b = h->blocks[i];
  if (b.pid == 0 || len > b.offset + b.size - off) return MI_ERR_SYS_UNEXIST;
  // The owner's mappings pin too: a block freed while still mapped (by anyone) stays until unmapped.
  const std::int32_t self = static_cast<std::int32_t>(getpid());
  Pin* slot = nullptr;
  for (Pin& p : b.pins) {
    if (p.count > 0 && p.pid == self) {
      ++p.count;
      return MI_SUCCESS;
    }
    if (slot == nullptr && (p.count == 0 || !pid_alive(p.pid))) slot = &p;
  }
  if (slot == nullptr) return MI_ERR_SYS_NOMEM;
  *slot = Pin{self, 1};
  return MI_SUCCESS;
}

void unpin(MI_PHY phy) {
  if (attach(E_MI_MODULE_ID_SYS) != MI_SUCCESS) return;
  Header* h = state().header;
  if (!in_file(h, phy, 1)) return;
  Lock lock(h);
  if (!lock.locked()) return;
  int i = find_nolock(h, phy - KAVO_MI_PHYS_BASE);
  if (i < 0) return;
  Block& b = h->blocks[i];
  const std::int32_t self = static_cast<std::int32_t>(getpid());
  for (Pin& p : b.pins)
    if (p.count > 0 && p.pid == self && --p.count == 0) p.pid = 0;
  if (b.pid == 0 && !pinned_nolock(b)) {
    punch(b.offset, b.size);
    erase_nolock(h, static_cast<std::uint32_t>(i));
  }
}

MI_S32 check_range(MI_ModuleId_e module, MI_PHY phy, std::uint64_t len) {
  if (MI_S32 ret = attach(module)) return ret;
  Header* h = state().header;
  if (len == 0) return err_illegal(module);
  if (!in_file(h, phy, len)) return err_unexist(module);
  std::uint64_t off = phy - KAVO_MI_PHYS_BASE;
  Lock lock(h);
  if (!lock.locked()) return err_notready(module);
  int i = find_nolock(h, off);
  if (i < 0) return err_unexist(module);
  Block& b = h->blocks[i];
  return (b.pid != 0 || pinned_nolock(b)) && len <= b.offset + b.size - off ? MI_SUCCESS
                                                                            : err_unexist(module);
}

MI_S32 info(Info* out) {
  if (MI_S32 ret = attach(E_MI_MODULE_ID_SYS)) return ret;
  Header* h = state().header;
  Lock lock(h);
  if (!lock.locked()) return MI_ERR_SYS_NOTREADY;
  out->phyBase = KAVO_MI_PHYS_BASE + h->dataStart;
  out->size = h->fileSize - h->dataStart;
  out->usedBytes = h->usedBytes;
  out->liveBlocks = h->count;
  out->maxBlocks = kMaxBlocks;
  std::int32_t self = static_cast<std::int32_t>(getpid());
  out->ownBlocks = static_cast<std::uint32_t>(
      std::count_if(h->blocks, h->blocks + h->count, [self](const Block& b) { return b.pid == self; }));
  return MI_SUCCESS;
}

MI_S32 reclaim_dead_owners(std::uint32_t* reclaimed) {
  *reclaimed = 0;
  if (MI_S32 ret = attach(E_MI_MODULE_ID_SYS)) return ret;
  Header* h = state().header;
  Lock lock(h);
  if (!lock.locked()) return MI_ERR_SYS_NOTREADY;
  *reclaimed = reclaim_nolock(h);
  return MI_SUCCESS;
}

MI_S32 hold_lock_forever() {
  if (MI_S32 ret = attach(E_MI_MODULE_ID_SYS)) return ret;
  Header* h = state().header;
  int r = pthread_mutex_lock(&h->mutex);
  if (r == EOWNERDEAD) {
    pthread_mutex_consistent(&h->mutex);
    repair_nolock(h);
    r = 0;
  }
  return r == 0 ? MI_SUCCESS : MI_ERR_SYS_NOTREADY;
}

}  // namespace arena
}  // namespace kavo_mi
