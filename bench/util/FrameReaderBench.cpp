// Frame reception: the frame reader beside raw ZeroMQ over ipc with the same bytes. Built twice,
// once per mode (one socket reader may exist per process): KAVO_BENCH_CAMERA picks camera mode.
// Each iteration publishes one message and receives it, so both sides pay the same sending cost.
#include <benchmark/benchmark.h>
#include <glog/logging.h>
#include <unistd.h>

#include <cstring>
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

// A publisher whose subscriber has joined.
zmq::socket_t publisher(const std::string& a) {
  zmq::socket_t pub(*singleton_ZmqContext(), zmq::socket_type::xpub);
  pub.set(zmq::sockopt::sndhwm, 0);
  pub.bind(a);
  return pub;
}
void joined(zmq::socket_t& pub) {
  zmq::message_t subscription;
  (void)pub.recv(subscription);
}

void BM_RawZmqIpc(benchmark::State& state) {
  const std::string a = addr("raw");
  zmq::socket_t pub = publisher(a);
  zmq::socket_t sub(*singleton_ZmqContext(), zmq::socket_type::sub);
  sub.set(zmq::sockopt::subscribe, "");
  sub.connect(a);
  joined(pub);
#ifdef KAVO_BENCH_CAMERA
  auto large = produce_mmz_ImageYuv420sp(kW, kH, nullptr),
       small = produce_mmz_ImageYuv420sp(kSmallW, kSmallH, nullptr);
  const std::string m = message(*large, *small, 1);
#else
  const std::string m = message();
#endif
  for (auto _ : state) {
    pub.send(zmq::buffer(m), zmq::send_flags::none);
    zmq::message_t in;
    (void)sub.recv(in);
    benchmark::DoNotOptimize(in.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(m.size()));
}
BENCHMARK(BM_RawZmqIpc)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

#ifndef KAVO_BENCH_CAMERA
// BM_RawZmqIpc never reads the payload it receives, while the frame reader must pass over every
// byte once (into the large image) and make the small image with the engine. These references add
// that least work to the raw receive, with no checks, logs or bookkeeping: one block copy of the
// payload into a platform image, then (`resize`) the engine resize to the small size.
void BM_RawZmqIpcThenImages(benchmark::State& state, bool resize) {
  const std::string a = addr(resize ? "resize" : "copy");
  zmq::socket_t pub = publisher(a);
  zmq::socket_t sub(*singleton_ZmqContext(), zmq::socket_type::sub);
  sub.set(zmq::sockopt::subscribe, "");
  sub.connect(a);
  joined(pub);
  auto large = produce_mmz_ImageYuv420sp(kW, kH, nullptr),
       small = produce_mmz_ImageYuv420sp(kSmallW, kSmallH, nullptr);
  const std::string m = message();
  for (auto _ : state) {
    pub.send(zmq::buffer(m), zmq::send_flags::none);
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
    pub = publisher(addr("reader"));
    auto share = std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr("reader"), true, 1, kCamera,
                                                   kH, kW, "bench");
    FrameReaderParam p;
    p.fromCameraNotVideo = kCamera;
    p.landscapeLargeDimW = kW, p.landscapeLargeDimH = kH, p.landscapeSmallDimW = kSmallW;
    p.landscapeSmallDimH = kSmallH;
    p.shareDataReader = share;
    reader = std::make_unique<FrameReaderHisi>(p);
    joined(pub);
  }
  zmq::socket_t pub;
  std::unique_ptr<FrameReaderHisi> reader;
};

void BM_FrameReaderGrab(benchmark::State& state) {
  static Rig rig;
  zmq::socket_t& pub = rig.pub;
  FrameReaderHisi* reader = rig.reader.get();
  auto largeRes =
      std::make_shared<ResourceImage>(2, "large", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  auto smallRes =
      std::make_shared<ResourceImage>(4, "small", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
#ifdef KAVO_BENCH_CAMERA
  auto large = produce_mmz_ImageYuv420sp(kW, kH, nullptr),
       small = produce_mmz_ImageYuv420sp(kSmallW, kSmallH, nullptr);
  MI_U64 pts = 0;
#else
  const std::string m = message();
#endif
  for (auto _ : state) {
#ifdef KAVO_BENCH_CAMERA
    MI_U64 now = 0;
    MI_SYS_GetCurPts(0, &now);
    pts = std::max<MI_U64>(now - 1, pts + 1);
    const std::string m = message(*large, *small, pts);
#endif
    pub.send(zmq::buffer(m), zmq::send_flags::none);
    benchmark::DoNotOptimize(reader->grab_frame(largeRes, smallRes));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameReaderGrab)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);
}  // namespace
