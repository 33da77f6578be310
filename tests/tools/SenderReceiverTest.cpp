// Two processes: kavo_sender publishes frames, kavo_receiver reads them through the library's frame
// reader and reports what arrived.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
std::string addr(const std::string& what) { return "ipc:///tmp/kavo-sr-" + what + std::to_string(getpid()); }

// Starts a process; with `out`, its standard output is readable there.
pid_t spawn(std::vector<std::string> args, FILE** out = nullptr) {
  int fds[2] = {-1, -1};
  if (out && pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    if (out) dup2(fds[1], 1), close(fds[0]), close(fds[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (out) close(fds[1]), *out = fdopen(fds[0], "r");
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the receiver with `args` until it ends; returns its exit code and output.
struct Receiver {
  explicit Receiver(const std::string& args) {
    const std::string cmd = std::string(KAVO_RECEIVER) + " --config " KAVO_CONFIG_FILE " --quiet " + args;
    pipe_ = popen(cmd.c_str(), "r");
    char line[256];
    if (fgets(line, sizeof line, pipe_)) output += line;  // "receiving on ...": senders may start
  }
  int finish() {
    char buf[512];
    while (fgets(buf, sizeof buf, pipe_)) output += buf;
    return WEXITSTATUS(pclose(pipe_));
  }
  std::string output;
  FILE* pipe_;
};

const std::vector<std::string> kSmallFrames = {"--size", "64x32", "--small", "32x16"};
}  // namespace

TEST(SenderReceiverTest, EveryFrameArrivesInEachModeOverEachTransport) {
  for (const char* mode : {"camera", "video"}) {
    for (const char* transport : {"zmq", "nn"}) {
      SCOPED_TRACE(std::string(mode) + " over " + transport);
      const std::string a = addr(std::string(mode) + transport);
      Receiver receiver(std::string("--mode ") + mode + " --transport " + transport + " --addr " + a +
                        " --bind --size 64x32 --small 32x16 --count 1000 --idle 10");
      std::vector<std::string> args = {KAVO_SENDER,
                                       "--mode",
                                       mode,
                                       "--transport",
                                       transport,
                                       "--addr",
                                       a,
                                       "--connect",
                                       "--count",
                                       "1000",
                                       "--fps",
                                       "0",
                                       "--ring",
                                       "1000",
                                       "--quiet",
                                       "--source",
                                       "synthetic:" KAVO_PHOTO};
      args.insert(args.end(), kSmallFrames.begin(), kSmallFrames.end());
      const pid_t sender = spawn(args);
      EXPECT_EQ(receiver.finish(), 0) << receiver.output;
      EXPECT_EQ(wait_for(sender), 0);
      EXPECT_NE(receiver.output.find("received 1000 frames, lost 0, checksum mismatches 0"),
                std::string::npos)
          << receiver.output;
      if (std::string(mode) == "camera") {
        EXPECT_NE(receiver.output.find("in place 1000"), std::string::npos) << receiver.output;
      }
    }
  }
}

TEST(SenderReceiverTest, AKilledSenderLeavesTheReceiverRunningForTheNextOne) {
  const std::string a = addr("kill");
  Receiver receiver("--addr " + a + " --bind --size 64x32 --small 32x16 --idle 3");
  std::vector<std::string> args = {KAVO_SENDER, "--addr", a,   "--connect", "--fps",
                                   "500",       "--ring", "200", "--source",  "synthetic:" KAVO_PHOTO};
  args.insert(args.end(), kSmallFrames.begin(), kSmallFrames.end());
  FILE* out = nullptr;
  const pid_t first = spawn(args, &out);
  char line[256];
  for (int sent = 0; sent < 50 && fgets(line, sizeof line, out);)
    sent += std::string(line).rfind("frame ", 0) == 0;
  kill(first, SIGKILL);  // in the middle of the stream
  wait_for(first);
  fclose(out);
  args.insert(args.end(), {"--count", "100", "--quiet"});
  EXPECT_EQ(wait_for(spawn(args)), 0);
  EXPECT_EQ(receiver.finish(), 0) << receiver.output;
  long long received = 0;
  ASSERT_EQ(std::sscanf(receiver.output.c_str() + receiver.output.find("received "), "received %lld frames",
                        &received),
            1)
      << receiver.output;
  EXPECT_GT(received, 100);
  EXPECT_NE(receiver.output.find("checksum mismatches 0"), std::string::npos) << receiver.output;
}
