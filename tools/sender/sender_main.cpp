// kavo_sender: a frame sender for the pipeline, in another process. Camera mode keeps a ring of NV12
// frame buffers in platform memory (a large frame and a small one made by the engine) and publishes
// their records by physical address, as a camera process does on the chip; video mode publishes
// whole NV12 or JPEG images. Sources: JPEG/PNG files or a folder of them, any video file or camera
// OpenCV opens, or a synthetic pan and zoom over a photo.
#include <glog/logging.h>
#include <nanomsg/nn.h>
#include <nanomsg/pubsub.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <thread>
#include <vector>
#include <zmq.hpp>

#include "FrameProtocol.h"
#include "platform/Mmz.h"
#include "util/ImageBase.h"
#include "util/ProduceImage.h"

namespace {

const char* kUsage = R"(usage: kavo_sender [options]
  --mode camera|video    camera: frame-buffer records by physical address; video: whole images (camera)
  --transport zmq|nn     ZeroMQ or nanomsg PUB socket (zmq)
  --addr ADDR            socket address (ipc:///tmp/kavo_camera, or ipc:///tmp/kavo_video in video mode)
  --connect              connect to ADDR instead of binding it
  --source SOURCE        a JPEG/PNG file, a folder of them, a video file or /dev/videoN, or
                         synthetic[:PHOTO] (synthetic:data/astronaut.jpg)
  --size WxH             large frame (1920x1080)
  --small WxH            small frame in camera mode, 0x0 for none (640x360)
  --format yuv|jpeg      video payload (yuv)
  --ring N               camera frame buffers (4)
  --fps F                frames per second, 0 for as fast as possible (30)
  --count N              frames to send, 0 for no limit (0)
  --loop                 start a file, folder or video source again at its end
  --no-wait              (zmq) do not wait for a subscriber before the first frame
  --delay MS             pause before the first frame (nn: 500, zmq: 0)
  --hold MS              camera mode: keep the frame buffers this long after the last frame, for a
                         receiver still reading them in place (1000)
  --quiet                no line per frame
)";

struct Options {
  bool camera = true, zmq = true, bind = true, loop = false, wait = true, quiet = false, jpeg = false;
  std::string addr, source = "synthetic:data/astronaut.jpg";
  int width = 1920, height = 1080, smallWidth = 640, smallHeight = 360, ring = 4, delayMs = -1, holdMs = 1000;
  double fps = 30;
  long long count = 0;
};

bool parse_size(const std::string& s, int* w, int* h) {
  return std::sscanf(s.c_str(), "%dx%d", w, h) == 2 && *w >= 0 && *h >= 0 && *w % 2 == 0 && *h % 2 == 0;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      return argv[++i];
    };
    if (a == "--mode") {
      const std::string v = value();
      if (v != "camera" && v != "video") throw std::invalid_argument("--mode is camera or video");
      o.camera = v == "camera";
    } else if (a == "--transport") {
      const std::string v = value();
      if (v != "zmq" && v != "nn") throw std::invalid_argument("--transport is zmq or nn");
      o.zmq = v == "zmq";
    } else if (a == "--addr") {
      o.addr = value();
    } else if (a == "--connect") {
      o.bind = false;
    } else if (a == "--source") {
      o.source = value();
    } else if (a == "--size") {
      if (!parse_size(value(), &o.width, &o.height) || o.width == 0 || o.height == 0)
        throw std::invalid_argument("--size is WxH, even and positive");
    } else if (a == "--small") {
      if (!parse_size(value(), &o.smallWidth, &o.smallHeight))
        throw std::invalid_argument("--small is WxH, even");
    } else if (a == "--format") {
      const std::string v = value();
      if (v != "yuv" && v != "jpeg") throw std::invalid_argument("--format is yuv or jpeg");
      o.jpeg = v == "jpeg";
    } else if (a == "--ring") {
      o.ring = std::stoi(value());
      if (o.ring < 1) throw std::invalid_argument("--ring is at least 1");
    } else if (a == "--fps") {
      o.fps = std::stod(value());
    } else if (a == "--count") {
      o.count = std::stoll(value());
    } else if (a == "--loop") {
      o.loop = true;
    } else if (a == "--no-wait") {
      o.wait = false;
    } else if (a == "--delay") {
      o.delayMs = std::stoi(value());
    } else if (a == "--hold") {
      o.holdMs = std::stoi(value());
    } else if (a == "--quiet") {
      o.quiet = true;
    } else {
      throw std::invalid_argument("unknown option " + a);
    }
  }
  if (o.width > 65534 || o.height > 65534) throw std::invalid_argument("--size is at most 65534x65534");
  if (o.addr.empty()) o.addr = o.camera ? "ipc:///tmp/kavo_camera" : "ipc:///tmp/kavo_video";
  if (o.delayMs < 0) o.delayMs = o.zmq ? 0 : 500;
  return o;
}

// A BGR picture scaled to width x height as tightly packed NV12.
void to_nv12(const cv::Mat& bgr, int width, int height, std::vector<unsigned char>& nv12) {
  cv::Mat scaled, i420;
  if (bgr.cols == width && bgr.rows == height)
    scaled = bgr;
  else
    cv::resize(bgr, scaled, cv::Size(width, height), 0, 0, cv::INTER_AREA);
  cv::cvtColor(scaled, i420, cv::COLOR_BGR2YUV_I420);
  const size_t luma = static_cast<size_t>(width) * height, quarter = luma / 4;
  nv12.resize(luma * 3 / 2);
  const unsigned char* p = i420.ptr<unsigned char>();
  std::copy(p, p + luma, nv12.begin());
  for (size_t i = 0; i < quarter; ++i) {
    nv12[luma + 2 * i] = p[luma + i];
    nv12[luma + 2 * i + 1] = p[luma + quarter + i];
  }
}

// Frames as BGR pictures of any size.
class Source {
 public:
  virtual ~Source() = default;
  // False at the end of a finite source.
  virtual bool next(cv::Mat& bgr) = 0;
  // The next frame as tightly packed NV12 of width x height.
  virtual bool next_nv12(int width, int height, std::vector<unsigned char>& nv12) {
    cv::Mat bgr;
    if (!next(bgr)) return false;
    to_nv12(bgr, width, height, nv12);
    return true;
  }
  virtual void rewind() {}
};

class FileSource : public Source {
 public:
  explicit FileSource(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  bool next(cv::Mat& bgr) override {
    while (index_ < paths_.size()) {
      bgr = cv::imread(paths_[index_++], cv::IMREAD_COLOR);
      if (!bgr.empty()) return true;
      std::cerr << "kavo_sender: skipping " << paths_[index_ - 1] << ": not a picture\n";
    }
    return false;
  }
  void rewind() override { index_ = 0; }

 private:
  std::vector<std::string> paths_;
  size_t index_ = 0;
};

class VideoSource : public Source {
 public:
  explicit VideoSource(std::string spec) : spec_(std::move(spec)) { open(); }
  bool next(cv::Mat& bgr) override { return capture_.read(bgr) && !bgr.empty(); }
  void rewind() override { open(); }
  bool opened() const { return capture_.isOpened(); }

 private:
  void open() {
    if (spec_.rfind("/dev/video", 0) == 0)
      capture_.open(std::stoi(spec_.substr(10)));
    else
      capture_.open(spec_);
  }
  std::string spec_;
  cv::VideoCapture capture_;
};

// A camera slowly panning and zooming over a photo (frameproto::synthetic_view), so that whatever
// it shows moves along a path a test can compute. It renders NV12 directly: the view's rectangle of
// the photo's Y plane, and of its U,V plane at half size, is scaled into the frame's planes.
class SyntheticSource : public Source {
 public:
  explicit SyntheticSource(const cv::Mat& photo) : width_(photo.cols & ~1), height_(photo.rows & ~1) {
    cv::Mat i420;
    cv::cvtColor(photo(cv::Rect(0, 0, width_, height_)), i420, cv::COLOR_BGR2YUV_I420);
    cv::Mat u(height_ / 2, width_ / 2, CV_8UC1, i420.ptr(height_));
    cv::Mat v(height_ / 2, width_ / 2, CV_8UC1, i420.ptr(height_) + width_ * height_ / 4);
    cv::Mat uv;
    cv::merge(std::vector<cv::Mat>{u, v}, uv);
    // A grey margin of the photo's size on every side holds any view of it.
    cv::copyMakeBorder(i420.rowRange(0, height_), y_, height_, height_, width_, width_, cv::BORDER_CONSTANT,
                       cv::Scalar(128));
    cv::copyMakeBorder(uv, uv_, height_ / 2, height_ / 2, width_ / 2, width_ / 2, cv::BORDER_CONSTANT,
                       cv::Scalar(128, 128));
  }
  bool next(cv::Mat&) override { return false; }  // frames come from next_nv12 only
  bool next_nv12(int width, int height, std::vector<unsigned char>& nv12) override {
    frameproto::View v = frameproto::synthetic_view(step_++, width_, height_, width, height);
    v.x = std::clamp(v.x, -width_, width_), v.y = std::clamp(v.y, -height_, height_);
    v.w = std::min(v.w, 2 * width_), v.h = std::min(v.h, 2 * height_);
    nv12.resize(static_cast<size_t>(width) * height * 3 / 2);
    cv::Mat y(height, width, CV_8UC1, nv12.data());
    cv::Mat uv(height / 2, width / 2, CV_8UC2, nv12.data() + static_cast<size_t>(width) * height);
    scale(y_(cv::Rect(v.x + width_, v.y + height_, v.w, v.h)), y);
    scale(uv_(cv::Rect((v.x + width_) / 2, (v.y + height_) / 2, v.w / 2, v.h / 2)), uv);
    return true;
  }

 private:
  static void scale(const cv::Mat& src, cv::Mat& dst) {
    cv::resize(src, dst, dst.size(), 0, 0, dst.cols < src.cols ? cv::INTER_AREA : cv::INTER_LINEAR);
  }
  int width_, height_;  // the photo's size, made even
  cv::Mat y_, uv_;      // its Y plane and U,V pairs (half size), within grey margins
  long long step_ = 0;
};

std::unique_ptr<Source> open_source(const Options& o) {
  namespace fs = std::filesystem;
  if (o.source.rfind("synthetic", 0) == 0) {
    const std::string path = o.source.size() > 10 ? o.source.substr(10) : "data/astronaut.jpg";
    cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
    if (photo.empty()) throw std::runtime_error("cannot read the photo " + path);
    return std::make_unique<SyntheticSource>(photo);
  }
  if (fs::is_directory(o.source)) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(o.source)) {
      std::string ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (ext == ".jpg" || ext == ".jpeg" || ext == ".png") paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    if (paths.empty()) throw std::runtime_error("no JPEG or PNG file in " + o.source);
    return std::make_unique<FileSource>(paths);
  }
  std::string ext = fs::path(o.source).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  if (ext == ".jpg" || ext == ".jpeg" || ext == ".png")
    return std::make_unique<FileSource>(std::vector<std::string>{o.source});
  auto video = std::make_unique<VideoSource>(o.source);
  if (!video->opened()) throw std::runtime_error("cannot open " + o.source);
  return video;
}

class Publisher {
 public:
  virtual ~Publisher() = default;
  virtual void send(const std::string& message) = 0;
};

class ZmqPublisher : public Publisher {
 public:
  explicit ZmqPublisher(const Options& o)
      : socket_(context_, o.wait ? zmq::socket_type::xpub : zmq::socket_type::pub) {
    socket_.set(zmq::sockopt::sndhwm, 0);  // never drop on our side
    socket_.set(zmq::sockopt::linger, 2000);
    if (o.bind)
      socket_.bind(o.addr);
    else
      socket_.connect(o.addr);
    if (o.wait) {
      if (!o.quiet) std::cerr << "kavo_sender: waiting for a subscriber on " << o.addr << "\n";
      zmq::message_t subscription;
      (void)socket_.recv(subscription);
    }
  }
  void send(const std::string& message) override {
    socket_.send(zmq::buffer(message), zmq::send_flags::none);
  }

 private:
  zmq::context_t context_{1};
  zmq::socket_t socket_;
};

class NnPublisher : public Publisher {
 public:
  explicit NnPublisher(const Options& o) : socket_(nn_socket(AF_SP, NN_PUB)) {
    int size = 64 << 20;
    nn_setsockopt(socket_, NN_SOL_SOCKET, NN_SNDBUF, &size, sizeof size);
    if ((o.bind ? nn_bind(socket_, o.addr.c_str()) : nn_connect(socket_, o.addr.c_str())) < 0)
      throw std::runtime_error("cannot use " + o.addr + ": " + nn_strerror(nn_errno()));
  }
  // nanomsg discards what is still queued when a socket closes (it has no working linger option):
  // give the last messages time to leave.
  ~NnPublisher() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    nn_close(socket_);
  }
  void send(const std::string& message) override { nn_send(socket_, message.data(), message.size(), 0); }

 private:
  int socket_;
};

// One camera frame buffer: the large and the small NV12 image in platform memory.
struct Slot {
  std::shared_ptr<ImageBase> large, small;
};

volatile std::sig_atomic_t gStop = 0;

}  // namespace

int main(int argc, char** argv) {
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = google::GLOG_ERROR;
  google::InitGoogleLogging(argv[0]);
  Options o;
  try {
    for (int i = 1; i < argc; ++i)
      if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
        std::cout << kUsage;
        return 0;
      }
    o = parse(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "kavo_sender: " << e.what() << "\n" << kUsage;
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a reader of the pipe sees every frame as it goes
  std::signal(SIGINT, [](int) { gStop = 1; });
  std::signal(SIGTERM, [](int) { gStop = 1; });
  try {
    MiSysInit();
    std::unique_ptr<Source> source = open_source(o);
    std::vector<Slot> ring;
    if (o.camera) {
      for (int i = 0; i < o.ring; ++i) {
        Slot s{produce_mmz_ImageYuv420sp(o.width, o.height, nullptr), nullptr};
        if (o.smallWidth > 0 && o.smallHeight > 0)
          s.small = produce_mmz_ImageYuv420sp(o.smallWidth, o.smallHeight, nullptr);
        ring.push_back(s);
      }
    }
    std::unique_ptr<Publisher> pub;
    if (o.zmq)
      pub = std::make_unique<ZmqPublisher>(o);
    else
      pub = std::make_unique<NnPublisher>(o);
    std::this_thread::sleep_for(std::chrono::milliseconds(o.delayMs));

    std::vector<unsigned char> nv12;
    const auto start = std::chrono::steady_clock::now();
    auto due = start;
    long long seq = 0;
    for (; !gStop && (o.count == 0 || seq < o.count); ++seq) {
      if (!source->next_nv12(o.width, o.height, nv12)) {
        if (!o.loop) break;
        source->rewind();
        if (!source->next_nv12(o.width, o.height, nv12)) break;
      }
      auto host =
          produce_ImageYuv420sp(o.width, o.height, std::make_shared<std::vector<unsigned char>>(nv12));
      const uint64_t pts = frameproto::now_pts();
      uint32_t sum = frameproto::checksum(nv12.data(), o.width, o.height);
      if (o.camera) {
        Slot& slot = ring[seq % ring.size()];
        slot.large->copy_from(host.get(), false, false);
        std::string records = frameproto::record(*slot.large, pts);
        if (slot.small) {
          slot.small->resize_from(slot.large.get(), false, false);  // the engine makes the small frame
          records += frameproto::record(*slot.small, pts);
        }
        frameproto::Extra extra{static_cast<uint64_t>(seq), frameproto::now_pts(), sum, slot.large->phy()};
        pub->send(frameproto::camera_message(records, frameproto::encode(extra)));
      } else if (o.jpeg) {
        auto jpeg = host->encode_jpg();
        if (!jpeg) throw std::runtime_error("cannot encode a JPEG");
        pub->send(frameproto::video_message(o.width, o.height, std::string(jpeg->begin(), jpeg->end())));
      } else {
        pub->send(frameproto::video_message(o.width, o.height, std::string(nv12.begin(), nv12.end())));
      }
      if (!o.quiet) std::printf("frame %lld pts %llu checksum %08x\n", seq, (unsigned long long)pts, sum);
      if (o.fps > 0) {
        due += std::chrono::microseconds(static_cast<long long>(1e6 / o.fps));
        std::this_thread::sleep_until(due);
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sent %lld frames in %.2f s (%.1f frames/s)\n", seq, seconds, seq / std::max(seconds, 1e-9));
    std::fflush(stdout);
    // A camera process keeps its buffers while the receiver may still read the last frames in place.
    if (o.camera && !gStop) std::this_thread::sleep_for(std::chrono::milliseconds(o.holdMs));
  } catch (const std::exception& e) {
    std::cerr << "kavo_sender: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
