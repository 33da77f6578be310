// Frame reception: the frame reader beside raw ZeroMQ over ipc with the same bytes. Built twice,
// once per mode (one socket reader may exist per process): KAVO_BENCH_CAMERA picks camera mode.
// The lockstep benchmarks publish one message and receive it per iteration (the cost of one frame);
// the *Stream ones keep a few frames in flight from a sender thread (throughput). Every sender has
// its own ZeroMQ context, as a sending process would, so both sides pay the same sending cost.
#include <benchmark/benchmark.h>
#include <glog/logging.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <zmq.hpp>

#include "kbase/Database.h"
#include "kbase/Subscriber.h"
#include "mi_sys.h"
#include "platform/Mmz.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"
#include "util/ShareData.h"

namespace {
constexpr int kW = 1920, kH = 1080, kSmallW = 640, kSmallH = 360;

std::string addr(const char* what) {
  return "ipc:///tmp/kavo-bench-" + std::string(what) + std::to_string(getpid());
}

template <typename T>
void put(std::string& s, size_t at, T v) {
  std::memcpy(&s[at], &v, sizeof v);
}

[[maybe_unused]] std::string be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

#ifdef KAVO_BENCH_CAMERA
std::string record(const ImageBase& img, uint64_t pts) {
  std::string r(272, '\0');
  put<uint64_t>(r, 0, pts);
  put<uint32_t>(r, 16, 1);
  put<uint32_t>(r, 36, 11);
  put<uint16_t>(r, 52, static_cast<uint16_t>(img.width()));
  put<uint16_t>(r, 54, static_cast<uint16_t>(img.height()));
  put<uint64_t>(r, 80, img.phy());
  put<uint64_t>(r, 88, img.phy() + static_cast<uint64_t>(img.stride()) * img.height());
  put<uint32_t>(r, 104, img.stride());
  put<uint32_t>(r, 108, img.stride());
  return r;
}
std::string message(const ImageBase& large, const ImageBase& small, uint64_t pts) {
  const std::string records = record(large, pts) + record(small, pts);
  return be32(0) + be32(records.size()) + records + be32(4) + "seq0";
}
#else
std::string message() {
  std::string m(12 + kW * kH * 3 / 2, '\x50');
  put<uint32_t>(m, 0, 0x768A359F);
  put<uint32_t>(m, 4, 0);  // type 0
  put<uint16_t>(m, 8, kW);
  put<uint16_t>(m, 10, kH);
  return m;
}
#endif

// The messages a reader benchmark sends, one per call: the same video frame every time, or camera
// records with a fresh pts each (the reader drops a frame whose pts does not move).
class Frames {
 public:
#ifdef KAVO_BENCH_CAMERA
  Frames()
      : large_(produce_mmz_ImageYuv420sp(kW, kH, nullptr)),
        small_(produce_mmz_ImageYuv420sp(kSmallW, kSmallH, nullptr)) {}
  const std::string& next() {
    MI_U64 now = 0;
    MI_SYS_GetCurPts(0, &now);
    pts_ = std::max<MI_U64>(now - 1, pts_ + 1);
    m_ = message(*large_, *small_, pts_);
    return m_;
  }

 private:
  std::shared_ptr<ImageBase> large_, small_;
  MI_U64 pts_ = 0;
  std::string m_;
#else
  const std::string& next() { return m_; }

 private:
  std::string m_ = message();
#endif
};

// A sender with its own context, as another process would have. Streaming, it publishes from its
// own thread while the receiver works, at most kWindow frames ahead so that nothing is dropped at a
// high-water mark: that measures throughput, where a lockstep send-then-receive measures the cost
// of one frame alone.
class Sender {
 public:
  static constexpr int64_t kWindow = 4;
  explicit Sender(const std::string& a) {
    pub_.set(zmq::sockopt::sndhwm, 0);
    pub_.bind(a);
  }
  void joined() {
    zmq::message_t subscription;
    (void)pub_.recv(subscription);
  }
  void send(const std::string& m) { pub_.send(zmq::buffer(m), zmq::send_flags::none); }
  void start(Frames& frames) {
    sent_ = received_ = 0;
    stop_ = false;
    thread_ = std::thread([this, &frames] { run(frames); });
  }
  void received() {
    std::lock_guard<std::mutex> lock(mu_);
    ++received_;
    cv_.notify_one();
  }
  // Stops streaming; returns the frames still in flight, for the receiver to drain.
  int64_t stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
      cv_.notify_one();
    }
    thread_.join();
    return sent_ - received_;
  }

 private:
  void run(Frames& frames) {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [this] { return stop_ || sent_ - received_ < kWindow; });
        if (stop_) return;
        ++sent_;
      }
      send(frames.next());
    }
  }
  zmq::context_t ctx_{1};
  zmq::socket_t pub_{ctx_, zmq::socket_type::xpub};
  std::thread thread_;
  std::mutex mu_;  // guards sent_, received_ and stop_
  std::condition_variable cv_;
  int64_t sent_ = 0, received_ = 0;
  bool stop_ = false;
};

// A raw subscriber to `a`, returned once `sender` has seen it join. It keeps every message.
zmq::socket_t subscriber(const std::string& a, Sender& sender) {
  zmq::socket_t sub(*singleton_ZmqContext(), zmq::socket_type::sub);
  sub.set(zmq::sockopt::subscribe, "");
  sub.set(zmq::sockopt::rcvhwm, 0);
  sub.connect(a);
  sender.joined();
  return sub;
}

void BM_RawZmqIpc(benchmark::State& state) {
  const std::string a = addr("raw");
  Sender sender(a);
  zmq::socket_t sub = subscriber(a, sender);
#ifdef KAVO_BENCH_CAMERA
  auto large = produce_mmz_ImageYuv420sp(kW, kH, nullptr),
       small = produce_mmz_ImageYuv420sp(kSmallW, kSmallH, nullptr);
  const std::string m = message(*large, *small, 1);
#else
  const std::string m = message();
#endif
  for (auto _ : state) {
    sender.send(m);
    zmq::message_t in;
    (void)sub.recv(in);
    benchmark::DoNotOptimize(in.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(m.size()));
}
BENCHMARK(BM_RawZmqIpc)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_RawZmqIpcStream(benchmark::State& state) {
  const std::string a = addr("rawstream");
  Sender sender(a);
  zmq::socket_t sub = subscriber(a, sender);
  Frames frames;
  sender.start(frames);
  for (auto _ : state) {
    zmq::message_t in;
    (void)sub.recv(in);
    benchmark::DoNotOptimize(in.data());
    sender.received();
  }
  for (int64_t left = sender.stop(); left > 0; --left) {
    zmq::message_t in;
    (void)sub.recv(in);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawZmqIpcStream)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

#ifndef KAVO_BENCH_CAMERA
// BM_RawZmqIpc never reads the payload it receives, while the frame reader must pass over every
// byte once (into the large image) and make the small image with the engine. These references add
// that least work to the raw receive, with no checks, logs or bookkeeping: one block copy of the
// payload into a platform image, then (`resize`) the engine resize to the small size.
void BM_RawZmqIpcThenImages(benchmark::State& state, bool resize) {
  const std::string a = addr(resize ? "resize" : "copy");
  Sender sender(a);
  zmq::socket_t sub = subscriber(a, sender);
  auto large = produce_mmz_ImageYuv420sp(kW, kH, nullptr),
       small = produce_mmz_ImageYuv420sp(kSmallW, kSmallH, nullptr);
  const std::string m = message();
  for (auto _ : state) {
    sender.send(m);
    zmq::message_t in;
    (void)sub.recv(in);
    std::memcpy(large->data(), static_cast<const char*>(in.data()) + 12, in.size() - 12);
    large->refresh();
    if (resize) small->resize_from(large.get(), false, false);
    benchmark::DoNotOptimize(small->data()[0]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_RawZmqIpcThenImages, copy, false)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RawZmqIpcThenImages, copy_resize, true)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
#endif

#ifdef KAVO_BENCH_CAMERA
constexpr bool kCamera = true;
#else
constexpr bool kCamera = false;
#endif

// The process's one reader and its publisher, kept across the benchmark's runs.
struct Rig {
  Rig() {
    auto db = std::make_shared<DatabaseJsonMem>();
    CHECK(db->load(KAVO_CONFIG_FILE, false, 0)) << db->error();
    install_ParamCfg(db);
    MiSysInit();
    auto share = std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr("reader"), true, 1, kCamera,
                                                   kH, kW, "bench");
    FrameReaderParam p;
    p.fromCameraNotVideo = kCamera;
    p.landscapeLargeDimW = kW, p.landscapeLargeDimH = kH, p.landscapeSmallDimW = kSmallW;
    p.landscapeSmallDimH = kSmallH;
    p.shareDataReader = share;
    reader = std::make_unique<FrameReaderHisi>(p);
    sender.joined();
  }
  Sender sender{addr("reader")};
  std::unique_ptr<FrameReaderHisi> reader;
};
Rig& rig() {
  static Rig r;
  return r;
}

void BM_FrameReaderGrab(benchmark::State& state) {
  Rig& r = rig();
  FrameReaderHisi* reader = r.reader.get();
  auto largeRes =
      std::make_shared<ResourceImage>(2, "large", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  auto smallRes =
      std::make_shared<ResourceImage>(4, "small", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  Frames frames;
  for (auto _ : state) {
    r.sender.send(frames.next());
    benchmark::DoNotOptimize(reader->grab_frame(largeRes, smallRes));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameReaderGrab)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// The reader of BM_FrameReaderGrab fed by a streaming sender.
void BM_FrameReaderGrabStream(benchmark::State& state) {
  Rig& r = rig();
  auto largeRes =
      std::make_shared<ResourceImage>(2, "large", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  auto smallRes =
      std::make_shared<ResourceImage>(4, "small", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  Frames frames;
  r.sender.start(frames);
  for (auto _ : state) {
    benchmark::DoNotOptimize(r.reader->grab_frame(largeRes, smallRes));
    r.sender.received();
  }
  for (int64_t left = r.sender.stop(); left > 0; --left) r.reader->grab_frame(largeRes, smallRes);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameReaderGrabStream)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);
}  // namespace
