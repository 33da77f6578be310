// Frame reception from another process over a publish/subscribe socket (ZeroMQ or nanomsg). In
// camera mode a message describes platform frame buffers that the sender owns; in video mode it
// carries one whole image. The frame reader turns what this returns into images in the store.
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "util/Buffer.h"

namespace zmq {
class context_t;
class multipart_t;
}  // namespace zmq
class Subscriber;
class NNSubscriber;

// One received video frame: the header's fields and a copy of the payload (NV12 bytes, or a JPEG
// stream when "ShareDataVideo/format" is "jpeg") in a BufferVector. Video frames carry no id:
// frameId is -1.
struct VideoFrame {
  int width = 0;
  int height = 0;
  unsigned char type = 0;
  long long frameId = -1;
  std::shared_ptr<Buffer> pData;
};

// One received video frame whose payload is not copied: `payload` points into the reader's receive
// buffer and stays valid until the next receive on the same reader.
struct VideoFrameView {
  int width = 0;
  int height = 0;
  unsigned char type = 0;
  long long frameId = -1;
  const unsigned char* payload = nullptr;
  size_t size = 0;
};

// Why a received message was dropped.
enum class ShareDataDrop : int {
  kReceive,     // the socket reported a failure
  kParts,       // a ZeroMQ message of other than one part
  kTruncated,   // longer than the nanomsg receive buffer
  kShort,       // a video message of 12 bytes or less
  kMagic,       // wrong video magic
  kType,        // video type above 1
  kResolution,  // video size other than configured
  kEnvelope,    // a camera envelope too short or with a length beyond the data
  kFrameType,   // a camera frame type other than 0
  kCount
};

// The process's one frame receiver. Nothing a sender controls stops the process: a malformed message
// is logged at ERROR, counted (dropped()) and skipped. Configuration errors are fatal at
// construction. Not thread-safe: one frame-source thread receives; gap is atomic and may be read and
// set from any thread, and so may the counters and the frame-logging flag.
class ShareDataReader {
 public:
  // (frame records, extra bytes) of one camera message.
  using DataDesc = std::pair<std::shared_ptr<std::string>, std::shared_ptr<std::string>>;

  // ZeroMQ subscriber on `addr` (connecting when asClient, else binding). Video mode (fromCamera
  // false) requires height, width > 0, gap 1 and "ShareDataVideo/format" "jpeg" or "yuv". A second
  // reader in one process is fatal: "too many instances of ShareDataReader".
  ShareDataReader(const std::shared_ptr<zmq::context_t>& context, const std::string& addr, bool asClient,
                  int gap, bool fromCamera, int height, int width, const std::string& name);
  // The same over nanomsg.
  ShareDataReader(const std::string& addr, bool asClient, int gap, bool fromCamera, int height, int width,
                  const std::string& name);
  ~ShareDataReader();
  ShareDataReader(const ShareDataReader&) = delete;
  ShareDataReader& operator=(const ShareDataReader&) = delete;

  // Blocks until a valid camera message arrives; returns its frame id (0 for the first accepted
  // frame, then one more per frame) and its (frame records, extra bytes).
  std::pair<long long, DataDesc> read_from_camera();
  // Blocks until a valid video message arrives.
  VideoFrame read_from_video();
  // The same receive, checks and drops, without copying the payload: for a caller that copies the
  // pixels straight to where they go, before it receives again.
  VideoFrameView read_video_in_place();
  // Splits one camera message: (frame type, (records, extra bytes)). Frame type -1 and empty fields
  // when the message is malformed (logged at ERROR).
  static std::pair<long long, DataDesc> decode(std::deque<signed char>& bytes);

  int gap() const { return gap_; }
  void set_gap(int gap) { gap_ = gap; }
  bool from_camera() const { return fromCamera_; }
  const std::string& name() const { return name_; }
  // "jpeg" or "yuv" in video mode, empty in camera mode.
  const std::string& video_format() const { return videoFormat_; }
  // When set, every accepted camera frame is logged at WARNING.
  void set_frame_logging(bool on) { logFrames_ = on; }
  unsigned long long dropped(ShareDataDrop why) const { return drops_[static_cast<int>(why)]; }
  unsigned long long dropped_total() const;

 private:
  ShareDataReader(int gap, bool fromCamera, int height, int width, const std::string& name);
  // Mode checks, video format, and the one-instance check; after the subscriber exists.
  void configure();
  // Receives one message (over nanomsg of at most `capacity` bytes) and returns a view of its bytes,
  // valid until the next receive; false after logging and counting a failure (`what` names it).
  bool receive(size_t capacity, const char* what, const char** data, size_t* size);
  void drop(ShareDataDrop why) { ++drops_[static_cast<int>(why)]; }

  std::string name_;
  long long frameCount_ = -1;
  std::atomic<int> gap_;
  bool fromCamera_;
  int videoHeight_;
  int videoWidth_;
  std::string videoFormat_;
  std::atomic<bool> logFrames_{false};
  std::array<std::atomic<unsigned long long>, static_cast<int>(ShareDataDrop::kCount)> drops_{};
  std::unique_ptr<Subscriber> zmqSubscriber_;
  std::unique_ptr<NNSubscriber> nnSubscriber_;
  std::shared_ptr<zmq::multipart_t> zmqMessage_;  // the last ZeroMQ message received
  std::vector<char> nnBuffer_;                    // the last nanomsg message received
};
