// Message-socket frame reception. Both transports deliver whole messages; every check below is on
// bytes that another process controls, so a failure drops the message, never the process.
#include "util/ShareData.h"

#include <glog/logging.h>

#include <zmq.hpp>
#include <zmq_addon.hpp>

#include "base/ParamCfg.h"
#include "kbase/Database.h"
#include "kbase/Subscriber.h"

namespace {
constexpr unsigned int kVideoMagic = 0x768A359F;
constexpr size_t kVideoHeader = 12;
constexpr size_t kVideoBuffer = 4194304;  // nanomsg: a larger video message cannot be received whole
constexpr size_t kCameraBuffer = 1024;    // camera messages carry only buffer descriptors

std::atomic<int> uniqueInstance{0};

unsigned int little32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned int>(p[3]) << 24);
}
unsigned int big32(const std::deque<signed char>& d, size_t i) {
  return (static_cast<unsigned int>(static_cast<unsigned char>(d[i])) << 24) |
         (static_cast<unsigned char>(d[i + 1]) << 16) | (static_cast<unsigned char>(d[i + 2]) << 8) |
         static_cast<unsigned char>(d[i + 3]);
}
}  // namespace

ShareDataReader::ShareDataReader(int gap, bool fromCamera, int height, int width, const std::string& name)
    : name_(name), gap_(gap), fromCamera_(fromCamera), videoHeight_(height), videoWidth_(width) {
  LOG(INFO) << "ShareDataReader ctor";
}

ShareDataReader::ShareDataReader(const std::shared_ptr<zmq::context_t>& context, const std::string& addr,
                                 bool asClient, int gap, bool fromCamera, int height, int width,
                                 const std::string& name)
    : ShareDataReader(gap, fromCamera, height, width, name) {
  zmqSubscriber_ = std::make_unique<Subscriber>(context, Subscriber::Parameter{addr, asClient, name});
  zmqMessage_ = produce_ZmqMessage();
  configure();
}

ShareDataReader::ShareDataReader(const std::string& addr, bool asClient, int gap, bool fromCamera, int height,
                                 int width, const std::string& name)
    : ShareDataReader(gap, fromCamera, height, width, name) {
  nnSubscriber_ = std::make_unique<NNSubscriber>(NNSubscriber::Parameter{addr, asClient, name});
  nnBuffer_.resize(fromCamera ? kCameraBuffer : kVideoBuffer);
  configure();
}

void ShareDataReader::configure() {
  if (fromCamera_) {
    LOG(WARNING) << "Read from Camera.";
  } else {
    LOG(WARNING) << "Read from Video.";
    CHECK(videoWidth_ > 0 && videoHeight_ > 0);
    CHECK(gap_ == 1) << "In video mode, gap must be 1.";
    videoFormat_ = singleton_ParamCfg()->select_single("ShareDataVideo/format", true, std::string());
    if (videoFormat_ != "jpeg" && videoFormat_ != "yuv")
      LOG(FATAL) << "Shared Data Reader -> Video Image Format invalid: " << videoFormat_;
  }
  CHECK(++uniqueInstance == 1) << "too many instances of ShareDataReader";
}

ShareDataReader::~ShareDataReader() { LOG(INFO) << "ShareDataReader dtor"; }

unsigned long long ShareDataReader::dropped_total() const {
  unsigned long long total = 0;
  for (const auto& n : drops_) total += n;
  return total;
}

bool ShareDataReader::receive(size_t capacity, const char* what, const char** data, size_t* size) {
  if (zmqSubscriber_) {
    if (!zmqSubscriber_->receive(*zmqMessage_)) {
      LOG(ERROR) << what;
      drop(ShareDataDrop::kReceive);
      return false;
    }
    if (zmqMessage_->size() != 1) {
      LOG(ERROR) << name_ << " zmq msg size: " << zmqMessage_->size();
      drop(ShareDataDrop::kParts);
      return false;
    }
    *data = static_cast<const char*>(zmqMessage_->at(0).data());
    *size = zmqMessage_->at(0).size();
    return true;
  }
  const long n = nnSubscriber_->receive(nnBuffer_.data(), capacity);
  if (n < 0) {
    LOG(ERROR) << what;
    drop(ShareDataDrop::kReceive);
    return false;
  }
  if (static_cast<size_t>(n) > capacity) {
    LOG(ERROR) << name_ << " message of " << n << " bytes truncated to the receive buffer of " << capacity;
    drop(ShareDataDrop::kTruncated);
    return false;
  }
  *data = nnBuffer_.data();
  *size = static_cast<size_t>(n);
  return true;
}

VideoFrame ShareDataReader::read_from_video() {
  const VideoFrameView frame = read_video_in_place();
  return {frame.width, frame.height, frame.type, frame.frameId,
          std::make_shared<BufferVector>(frame.payload, frame.size)};
}

VideoFrameView ShareDataReader::read_video_in_place() {
  for (;;) {
    const char* data = nullptr;
    size_t size = 0;
    if (!receive(kVideoBuffer, "cannot receive from video", &data, &size)) continue;
    if (size <= kVideoHeader) {
      LOG(ERROR) << "Recv message length too short: " << size;
      drop(ShareDataDrop::kShort);
      continue;
    }
    const auto* header = reinterpret_cast<const unsigned char*>(data);
    const unsigned int magic = little32(header);
    if (magic != kVideoMagic) {
      LOG(ERROR) << "Magic error: 0x" << std::hex << magic;
      drop(ShareDataDrop::kMagic);
      continue;
    }
    const unsigned char type = header[4];
    if (type > 1) {
      LOG(ERROR) << "Type error: " << static_cast<int>(type);
      drop(ShareDataDrop::kType);
      continue;
    }
    const int width = header[8] | (header[9] << 8);
    const int height = header[10] | (header[11] << 8);
    if (height != videoHeight_ || width != videoWidth_) {
      LOG(ERROR) << "Resolution error: h/w" << height << "/" << width;
      drop(ShareDataDrop::kResolution);
      continue;
    }
    return {width, height, type, -1, header + kVideoHeader, size - kVideoHeader};
  }
}

std::pair<long long, ShareDataReader::DataDesc> ShareDataReader::read_from_camera() {
  for (;;) {
    const char* data = nullptr;
    size_t size = 0;
    if (!receive(kCameraBuffer, "cannot receive from camera", &data, &size)) continue;
    std::deque<signed char> bytes(data, data + size);
    auto decoded = decode(bytes);
    if (decoded.first == -1) {
      drop(ShareDataDrop::kEnvelope);
      continue;
    }
    if (decoded.first != 0) {
      LOG(ERROR) << "Unsupported Frame Type: " << decoded.first;
      drop(ShareDataDrop::kFrameType);
      continue;
    }
    ++frameCount_;
    if (logFrames_) LOG(WARNING) << "Camera Frame Received, FrameID: " << frameCount_;
    return {frameCount_, decoded.second};
  }
}

std::pair<long long, ShareDataReader::DataDesc> ShareDataReader::decode(std::deque<signed char>& bytes) {
  std::pair<long long, DataDesc> result{-1,
                                        {std::make_shared<std::string>(), std::make_shared<std::string>()}};
  if (bytes.size() < 4) {
    LOG(ERROR) << " Error: " << bytes.size();
    return result;
  }
  const unsigned int type = big32(bytes, 0);
  size_t idx = 4;
  for (std::shared_ptr<std::string>* field : {&result.second.first, &result.second.second}) {
    const size_t left = bytes.size() - idx;
    const size_t len = left >= 4 ? big32(bytes, idx) : 4;
    if (left < 4 || len > left - 4) {
      LOG(ERROR) << " Error: data.size() = " << bytes.size() << "idx = " << idx << ", msg.size() = " << left
                 << ", len = " << len;
      result.second = {std::make_shared<std::string>(), std::make_shared<std::string>()};
      return result;
    }
    idx += 4;
    *field = std::make_shared<std::string>(bytes.begin() + idx, bytes.begin() + idx + len);
    idx += len;
  }
  result.first = type;
  return result;
}
