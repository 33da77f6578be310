// Two processes: kavo_sender publishes frames, kavo_receiver reads them through the library's frame
// reader and reports what arrived.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
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

TEST(SenderReceiverTest, AKilledSenderLeavesTheReceiverRunningForTheNextOne) {
  const std::string a = addr("kill");
  Process r = receiver(a, "--idle 3");
  Process first(sender(a, "--fps 500 --ring 200"));
  std::string l;
  for (int sent = 0; sent < 50 && first.line(&l);) sent += l.rfind("frame ", 0) == 0;
  EXPECT_EQ(std::system(("pkill -KILL -f -- '[-]-addr " + a + " --fps 500'").c_str()),
            0);  // mid-stream; [-] keeps the pattern from matching this shell
  first.finish();
  Process next(sender(a, "--count 100 --quiet"));
  EXPECT_EQ(next.finish(), 0) << next.output;
  EXPECT_EQ(r.finish(), 0) << r.output;
  long long received = 0;
  ASSERT_EQ(std::sscanf(r.output.c_str() + r.output.find("received "), "received %lld frames", &received), 1);
  EXPECT_GT(received, 100) << r.output;
  EXPECT_NE(r.output.find("checksum mismatches 0"), std::string::npos) << r.output;
}
