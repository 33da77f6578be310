// Two processes: kavo_sender publishes frames, kavo_receiver (or this process) reads them through the
// library's frame reader and reports what arrived.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "kbase/Subscriber.h"
#include "mi/MiTestUtil.h"
#include "mi_test.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"
#include "util/ResourceImage.h"
#include "util/ShareData.h"

namespace {
const bool kPrivateArena = use_private_arena("SenderReceiverTest");

// A program started through the shell, its standard output readable line by line.
struct Process {
  explicit Process(const std::string& cmd) : pipe_(popen(cmd.c_str(), "r")) {}
  bool line(std::string* out) {
    char buf[512];
    if (!fgets(buf, sizeof buf, pipe_)) return false;
    *out = buf;
    output += buf;
    return true;
  }
  int finish() {
    for (std::string l; line(&l);) {
    }
    return WEXITSTATUS(pclose(pipe_));
  }
  FILE* pipe_;
  std::string output;
};

std::string addr(const std::string& what) { return "ipc:///tmp/kavo-sr-" + what + std::to_string(getpid()); }

// The receiver bound to `a`, once its socket is up ("receiving on ..." is its first line).
Process receiver(const std::string& a, const std::string& args) {
  Process r(std::string(KAVO_RECEIVER) +
            " --config " KAVO_CONFIG_FILE " --quiet --bind --size 64x32 --small 32x16 --addr " + a + " " +
            args);
  std::string first;
  r.line(&first);
  return r;
}
std::string sender(const std::string& a, const std::string& args) {
  return std::string(KAVO_SENDER) +
         " --connect --size 64x32 --small 32x16 --source synthetic:" KAVO_PHOTO " --addr " + a + " " + args;
}
}  // namespace

TEST(SenderReceiverTest, EveryFrameArrivesInEachModeOverEachTransport) {
  for (const std::string mode : {"camera", "video"}) {
    for (const std::string transport : {"zmq", "nn"}) {
      SCOPED_TRACE(mode + " over " + transport);
      const std::string a = addr(mode + transport), how = " --mode " + mode + " --transport " + transport;
      Process r = receiver(a, how + " --count 1000 --idle 10");
      Process s(sender(a, how + " --count 1000 --fps 1000 --hold 3000 --ring 1000 --quiet"));
      EXPECT_EQ(s.finish(), 0) << s.output;
      EXPECT_EQ(r.finish(), 0) << r.output;
      EXPECT_NE(r.output.find("received 1000 frames, lost 0, checksum mismatches 0"), std::string::npos)
          << r.output;
      if (mode == "camera") {
        EXPECT_NE(r.output.find("in place 1000"), std::string::npos) << r.output;
      }
    }
  }
}

// A camera sender killed at a seeded random point (a count of frames read; 0: while it starts, after
// another process died holding a block and the arena lock), 20 times over, and some mappings failing:
// the reader in this process drops a frame and goes on with the next sender, an image it handed out
// keeps its pixels while its dead sender's block could be given to the next one, and once the images
// and the reader are gone no block of the dead senders and no mapping is left.
TEST(SenderReceiverTest, SendersKilledAtRandomPointsLeaveTheReaderRunningAndNoBlockBehind) {
  ASSERT_TRUE(kPrivateArena);
  alarm(120);  // the wall-clock bound: SIGALRM ends a run that hangs
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
  MI_TEST_ArenaInfo_t before{}, after{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&before), MI_SUCCESS);
  const MI_U32 mappings = MI_TEST_GetMappingCount();
  auto pixels = [](const ImageBase& img) {
    std::string rows;
    for (unsigned y = 0; y < img.height() * 3 / 2; ++y)
      rows.append(reinterpret_cast<const char*>(img.data()) + y * img.stride(), img.width());
    return rows;
  };
  std::vector<std::pair<std::shared_ptr<ResourceImage>, std::string>> kept;  // an image and its pixels
  long long grabbed = 0;
  {
    FrameReaderParam p;
    p.fromCameraNotVideo = true;
    p.landscapeLargeDimW = 64, p.landscapeLargeDimH = 32, p.landscapeSmallDimW = 32,
    p.landscapeSmallDimH = 16;
    p.shareDataReader = std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr("drill"), false, 1,
                                                          true, 0, 0, "drill");
    FrameReaderHisi reader(p);
    std::mt19937 rng(20261206);
    for (int round = 0; round < 20; ++round) {
      const int killAfter = static_cast<int>(rng() % 6);
      SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(killAfter));
      if (killAfter == 0) {  // a process dies holding a block and the arena lock, then the sender starts
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t holder = fork();
        if (holder == 0) {
          MI_PHY phy = 0;
          const char ok =
              MI_SYS_MMA_Alloc(0, nullptr, 4096, &phy) == MI_SUCCESS && MI_TEST_HoldArenaLock() == 0;
          if (write(fds[1], &ok, 1) == 1) pause();
          _exit(1);
        }
        char ok = 0;
        EXPECT_TRUE(read(fds[0], &ok, 1) == 1 && ok);
        kill(holder, SIGKILL);
        ASSERT_EQ(waitpid(holder, nullptr, 0), holder);
        close(fds[0]), close(fds[1]);
      }
      const std::string cmd = "exec " + sender(addr("drill"), "--fps 2000 --ring 3 --quiet");
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that fails
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      auto make = [] {
        return std::make_shared<ResourceImage>(2, "image", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
      };
      auto large = make(), small = make();
      if (round % 4 == 1) MI_TEST_FailNext("MI_SYS_Mmap", MI_ERR_SYS_NOMEM);  // a frame is dropped, no more
      for (int n = 0; n < killAfter; ++n, ++grabbed) ASSERT_TRUE(reader.grab_frame(large, small));
      kill(pid, SIGKILL);
      ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
      if (killAfter > 0) kept.emplace_back(large, pixels(*large->image()));  // nobody writes it now
    }
    EXPECT_EQ(reader.frameId(), grabbed - 1);
    EXPECT_GT(reader.dropped(FrameReaderDrop::kAddress), 0u);
    for (const auto& k : kept) EXPECT_TRUE(pixels(*k.first->image()) == k.second) << "pixels changed";
    kept.clear();
    MI_TEST_ClearFaults();  // one may be pending still
  }
  ASSERT_EQ(MI_TEST_ReclaimDeadOwners(nullptr), MI_SUCCESS);
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  EXPECT_EQ(after.u32LiveBlocks, before.u32LiveBlocks);
  EXPECT_EQ(after.u64UsedBytes, before.u64UsedBytes);
  EXPECT_EQ(MI_TEST_GetMappingCount(), mappings);
  alarm(0);
}
