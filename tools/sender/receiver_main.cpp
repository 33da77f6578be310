// kavo_receiver: receives frames from kavo_sender (or a camera process) through the library's frame
// reader and reports what arrived: frames, drops by reason, sequence gaps, checksum mismatches,
// frames used in place, frame rate and latency.
#include <glog/logging.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "FrameProtocol.h"
#include "kbase/Database.h"
#include "kbase/Subscriber.h"
#include "platform/Mmz.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"
#include "util/ShareData.h"

namespace {

const char* kUsage = R"(usage: kavo_receiver [options]
  --mode camera|video    (camera)
  --transport zmq|nn     (zmq)
  --addr ADDR            (ipc:///tmp/kavo_camera, or ipc:///tmp/kavo_video in video mode)
  --bind                 bind ADDR instead of connecting to it
  --size WxH             large frame (1920x1080)
  --small WxH            small frame (640x360)
  --format yuv|jpeg      video payload (yuv)
  --copy                 copy camera frames instead of using them in place
  --count N              stop after N frames, 0 for no limit (0)
  --idle S               stop after S seconds without a frame (5)
  --config PATH          configuration (KAVO_CONFIG, else config/kavo.json)
  --quiet                no line per frame
Exit code 0 when every frame checked out, 3 on a checksum mismatch, a lost frame, or fewer than N
frames (without --count: no frame at all) before the idle time ran out.
)";

const char* kShareDrops[] = {"receive", "parts",      "truncated", "short",     "magic",
                             "type",    "resolution", "envelope",  "frame-type"};
const char* kReaderDrops[] = {"records", "address", "dimension", "stale-pts", "future-pts", "video-size"};

struct Stats {
  std::mutex mutex;  // guards everything below
  long long received = 0, lost = 0, mismatches = 0, inPlace = 0, expectedSeq = 0;
  double latencySum = 0, latencyMax = 0;
  std::chrono::steady_clock::time_point first, last;
};

void summary(Stats& s, const ShareDataReader& share, const FrameReaderHisi& reader) {
  std::lock_guard<std::mutex> lock(s.mutex);
  const double seconds = std::chrono::duration<double>(s.last - s.first).count();
  std::printf("received %lld frames, lost %lld, checksum mismatches %lld, in place %lld\n", s.received,
              s.lost, s.mismatches, s.inPlace);
  std::printf("dropped:");
  for (int i = 0; i < static_cast<int>(ShareDataDrop::kCount); ++i)
    std::printf(" %s=%llu", kShareDrops[i], share.dropped(static_cast<ShareDataDrop>(i)));
  for (int i = 0; i < static_cast<int>(FrameReaderDrop::kCount); ++i)
    std::printf(" %s=%llu", kReaderDrops[i], reader.dropped(static_cast<FrameReaderDrop>(i)));
  std::printf("\nframe rate %.1f frames/s, latency mean %.3f ms, max %.3f ms\n",
              s.received > 1 && seconds > 0 ? (s.received - 1) / seconds : 0.0,
              s.received ? s.latencySum / s.received : 0.0, s.latencyMax);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = google::GLOG_ERROR;
  google::InitGoogleLogging(argv[0]);
  bool camera = true, zmq = true, asClient = true, copy = false, quiet = false;
  std::string addr, format = "yuv",
                    config = getenv("KAVO_CONFIG") ? getenv("KAVO_CONFIG") : "config/kavo.json";
  int width = 1920, height = 1080, smallWidth = 640, smallHeight = 360;
  long long count = 0;
  double idle = 5;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
        return argv[++i];
      };
      if (a == "--help" || a == "-h") {
        std::cout << kUsage;
        return 0;
      } else if (a == "--mode") {
        camera = value() == "camera";
      } else if (a == "--transport") {
        zmq = value() == "zmq";
      } else if (a == "--addr") {
        addr = value();
      } else if (a == "--bind") {
        asClient = false;
      } else if (a == "--size") {
        if (std::sscanf(value().c_str(), "%dx%d", &width, &height) != 2)
          throw std::invalid_argument("--size WxH");
      } else if (a == "--small") {
        if (std::sscanf(value().c_str(), "%dx%d", &smallWidth, &smallHeight) != 2)
          throw std::invalid_argument("--small WxH");
      } else if (a == "--format") {
        format = value();
      } else if (a == "--copy") {
        copy = true;
      } else if (a == "--count") {
        count = std::stoll(value());
      } else if (a == "--idle") {
        idle = std::stod(value());
      } else if (a == "--config") {
        config = value();
      } else if (a == "--quiet") {
        quiet = true;
      } else {
        throw std::invalid_argument("unknown option " + a);
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "kavo_receiver: " << e.what() << "\n" << kUsage;
    return 2;
  }
  if (addr.empty()) addr = camera ? "ipc:///tmp/kavo_camera" : "ipc:///tmp/kavo_video";
  auto db = std::make_shared<DatabaseJsonMem>();
  if (!db->load(config, false, 0)) {
    std::cerr << "kavo_receiver: cannot load the configuration " << config << ": " << db->error() << "\n";
    return 2;
  }
  db->store_multi_local("ShareDataVideo/format", {format}, false);
  install_ParamCfg(db);
  MiSysInit();

  auto share =
      zmq ? std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr, asClient, 1, camera, height,
                                              width, "kavo_receiver")
          : std::make_shared<ShareDataReader>(addr, asClient, 1, camera, height, width, "kavo_receiver");
  FrameReaderParam param;
  param.fromCameraNotVideo = camera;
  param.copy = copy;
  param.landscapeLargeDimW = param.portraitLargeDimH = width;
  param.landscapeLargeDimH = param.portraitLargeDimW = height;
  param.landscapeSmallDimW = param.portraitSmallDimH = smallWidth;
  param.landscapeSmallDimH = param.portraitSmallDimW = smallHeight;
  param.shareDataReader = share;
  FrameReaderHisi reader(param);
  std::printf("receiving on %s\n", addr.c_str());  // the socket is up: a sender may start
  std::fflush(stdout);

  Stats stats;
  stats.first = stats.last = std::chrono::steady_clock::now();
  std::atomic<bool> done{false};
  // Without frames for `idle` seconds the receiver reports and ends; the reader itself never gives up.
  std::thread watchdog([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      bool quiet;
      {
        std::lock_guard<std::mutex> lock(stats.mutex);
        quiet = std::chrono::steady_clock::now() - stats.last > std::chrono::duration<double>(idle);
      }
      if (quiet && !done) {
        summary(stats, *share, reader);
        std::lock_guard<std::mutex> lock(stats.mutex);
        std::_Exit(count == 0 && stats.received > 0 && stats.mismatches == 0 && stats.lost == 0 ? 0 : 3);
      }
    }
  });

  auto large = std::make_shared<ResourceImage>(2, "RESOURCE_LARGE_IMAGE", "none",
                                               produce_mmz_ImageYuv420sp(0, 0, nullptr));
  auto small = std::make_shared<ResourceImage>(4, "RESOURCE_SMALL_IMAGE", "none",
                                               produce_mmz_ImageYuv420sp(0, 0, nullptr));
  while (count == 0 || stats.received < count) {
    std::shared_ptr<Buffer> bytes = reader.grab_frame(large, small);
    const uint32_t sum = frameproto::checksum(*large->image());
    frameproto::Extra extra;
    const bool hasExtra = bytes && frameproto::decode(bytes->toString(), &extra);
    std::lock_guard<std::mutex> lock(stats.mutex);
    stats.last = std::chrono::steady_clock::now();
    if (stats.received++ == 0) stats.first = stats.last;
    if (hasExtra) {
      if (static_cast<long long>(extra.seq) > stats.expectedSeq) stats.lost += extra.seq - stats.expectedSeq;
      stats.expectedSeq = extra.seq + 1;
      stats.mismatches += sum != extra.checksum;
      stats.inPlace += large->image()->phy() == extra.phy;
      const double latency = (frameproto::now_pts() - extra.sendPts) * 0.001;
      stats.latencySum += latency;
      stats.latencyMax = std::max(stats.latencyMax, latency);
    }
    if (!quiet)
      std::printf("frame %lld%s checksum %08x%s\n", reader.frameId(),
                  hasExtra ? (" seq " + std::to_string(extra.seq)).c_str() : "", sum,
                  hasExtra && sum != extra.checksum ? " MISMATCH" : "");
  }
  done = true;
  watchdog.join();
  summary(stats, *share, reader);
  return stats.mismatches == 0 && stats.lost == 0 ? 0 : 3;
}
