// Frame acquisition into the store: FrameReader is the abstract frame source with the view-mode and
// image-size bookkeeping; FrameReaderHisi receives frames from another process through the
// message-socket reader and fills the large and small image resources of each new frame, in place
// over the sender's platform frame buffers (camera mode) or by copy (video mode, or camera with
// copy). FrameTime carries a frame's time and pts through the store; BlobInfoWrapper parses the
// frame-buffer records of a camera message.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "frss/ResourceBase.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "util/Buffer.h"
#include "util/ResourceImage.h"

class ShareDataReader;

// A frame's time stamp as a stored resource (kind 1, "RESOURCE_FRAME_TIME").
class FrameTime : public ResourceBase {
 public:
  FrameTime();
  // time -1.0, pts 0.
  void clean_content() override;
  // "time: <time %f>, pts: <pts %llu>".
  std::string print() const override;
  static std::function<std::shared_ptr<ResourceBase>()> producer();

  double time = -1.0;          // seconds of the platform clock
  unsigned long long pts = 0;  // microseconds of the platform clock
};

// The frame-buffer records of one camera message (little-endian MI_SYS_BufInfo_t records of 272
// bytes): a large NV12 frame and, when the message holds 544 bytes or more, a small one.
// Plain value; thread-compatible.
class BlobInfoWrapper {
 public:
  static constexpr int kRecordSize = 272;

  // Parses `length` bytes at `data` (at least one record). Records that break the frame rules
  // (buffer type, pixel format, equal plane strides, even non-zero size) are reported by error()
  // with the check text; the parse never reads outside [data, data + length).
  BlobInfoWrapper(const char* data, int length);

  // Empty when both records are usable; otherwise the first failed check's text.
  const std::string& error() const { return error_; }
  std::string print() const;

  // One NV12 frame buffer of the sender.
  struct Frame {
    bool valid = false;
    int width = 0, height = 0;
    unsigned int stride[2] = {0, 0};
    unsigned long long phy[2] = {0, 0};
    unsigned long long vir[2] = {0, 0};  // the sender's own addresses: meaningless here
    unsigned int bufSize = 0;
    unsigned int frameType = 0;
    // Contiguous planes (chroma at luma + stride * height): the tensor descriptor over both,
    // shape {1, 3, height, width}; otherwise the planes stay separate.
    bool contiguous = false;
    KAVO_MODEL_BLOB_INFO_S blobInfo;
  };

  unsigned long long pts = 0;
  Frame large;
  Frame small;

 private:
  // Parses the record at `r`; false (error_ set) when it breaks a rule. `small` names the checks.
  bool parse(const unsigned char* r, Frame* f, bool small);
  static std::string print(const Frame& f, const char* suffix);

  std::string error_;
};

// What the frame reader is built from (filled from configuration by the process-wide reader).
struct FrameReaderParam {
  bool copy = false;
  int landscapeLargeDimW = 0, landscapeLargeDimH = 0;
  int landscapeSmallDimW = 0, landscapeSmallDimH = 0;
  int portraitLargeDimW = 0, portraitLargeDimH = 0;
  int portraitSmallDimW = 0, portraitSmallDimH = 0;
  bool fromCameraNotVideo = false;
  bool showDetail = false;
  bool showDeltaPts = false;
  bool landscape = true;
  std::shared_ptr<ShareDataReader> shareDataReader;
};

// The abstract frame source. Thread-safe: the view mode and the dimensions may be read and changed
// from any thread; grab_frame runs on the frame-source thread only.
class FrameReader {
 public:
  explicit FrameReader(const FrameReaderParam& param);
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;
  virtual ~FrameReader();

  using Dim = std::pair<int, int>;  // (width, height)

  // Fills the two image resources of the new frame; the base returns an empty pointer.
  virtual std::shared_ptr<Buffer> grab_frame(const std::shared_ptr<ResourceImage>& large,
                                             const std::shared_ptr<ResourceImage>& small);
  virtual long long frameId() const { return -1; }
  virtual unsigned long long pts() const { return static_cast<unsigned long long>(-1); }
  virtual float fps() const { return -1.0f; }
  virtual void set_gap(int) {}
  virtual int get_gap() const { return 1; }
  virtual unsigned int delta_pts() const { return 67000; }
  virtual bool is_portrait() const { return !landscape_; }
  virtual bool is_landscape() const { return landscape_; }
  virtual Dim get_large_image_dim_of_landscape() const;
  virtual Dim get_small_image_dim_of_landscape() const;
  virtual Dim get_large_image_dim_of_portrait() const;
  virtual Dim get_small_image_dim_of_portrait() const;
  virtual bool from_camera() const { return fromCamera_; }
  virtual void set_view_mode(bool landscape);
  // The large (small) pair of the view mode in force at the call.
  virtual Dim get_large_image_dim() const;
  virtual Dim get_small_image_dim() const;

 protected:
  unsigned long long readUnion_;
  unsigned long long writeUnion_;

 private:
  struct GuardedDim {
    mutable std::mutex mutex;  // guards dim
    Dim dim;
  };
  static Dim read(const GuardedDim& d);

  GuardedDim largeLandscape_, smallLandscape_, largePortrait_, smallPortrait_;

 protected:
  std::atomic<bool> landscape_;
  std::atomic<bool> fromCamera_;
  std::atomic<bool> copy_;
};

// How late a camera frame is: with `buffers` camera frame buffers the budget is (buffers - 1) x
// 33.333332 ms; 2 (ERROR) beyond 0.8 of it, 1 (WARNING) beyond half of it, else 0.
int latency_severity(float latencyMs, int buffers);

// Why the frame reader dropped a received frame.
enum class FrameReaderDrop : int {
  kRecords,    // records too short, or breaking the frame rules
  kAddress,    // frame buffers outside the live platform memory
  kDimension,  // large or small size other than configured
  kStalePts,   // pts equal to the last delivered frame's
  kFuturePts,  // pts not older than now
  kVideoSize,  // video payload of the wrong size, or a JPEG that does not decode
  kCount
};

// The frame reader over a ShareDataReader. Received data never stops the process: a frame that
// breaks a rule is logged at ERROR (with the check text where the rule is a check), counted
// (dropped()) and skipped. Thread-safe as FrameReader.
class FrameReaderHisi : public FrameReader {
 public:
  explicit FrameReaderHisi(const FrameReaderParam& param);
  ~FrameReaderHisi() override;

  // Camera mode: blocks for the next usable camera frame and returns a copy of the message's extra
  // bytes. Video mode: blocks for the next usable video frame and returns an empty pointer; `large`
  // must be given (fatal otherwise).
  std::shared_ptr<Buffer> grab_frame(const std::shared_ptr<ResourceImage>& large,
                                     const std::shared_ptr<ResourceImage>& small) override;
  long long frameId() const override { return frameId_; }
  unsigned long long pts() const override { return pts_; }
  float fps() const override { return fps_; }
  void set_gap(int gap) override;
  int get_gap() const override;
  unsigned int delta_pts() const override { return deltaPts_; }

  unsigned long long dropped(FrameReaderDrop why) const { return drops_[static_cast<int>(why)]; }

 private:
  std::shared_ptr<Buffer> read_from_camera(const std::shared_ptr<ResourceImage>& large,
                                           const std::shared_ptr<ResourceImage>& small);
  std::shared_ptr<Buffer> read_from_video(const std::shared_ptr<ResourceImage>& large,
                                          const std::shared_ptr<ResourceImage>& small);
  // False (logged, counted) when the frame's latency check fails; logs late frames.
  bool check_latency(unsigned long long pts);
  // Puts the frame into `res` in place, or copies it there with copy_; false when its buffers are
  // not in live platform memory.
  bool attach(const BlobInfoWrapper::Frame& f, const std::shared_ptr<ResourceImage>& res);
  void register_detail(int width, int height);
  // A mapping of `bytes` at `phy`, from the cache when the sender used that buffer before; null when
  // the range is not in live platform memory.
  std::shared_ptr<unsigned char> mapped(unsigned long long phy, unsigned int bytes);
  void drop(FrameReaderDrop why) { ++drops_[static_cast<int>(why)]; }

  std::shared_ptr<ShareDataReader> shareDataReader_;
  std::atomic<long long> frameId_{-1};
  std::atomic<unsigned long long> pts_{0};
  bool showDetail_;
  bool showDeltaPts_;
  std::atomic<unsigned int> deltaPts_{67000};
  std::atomic<float> fps_{-1.0f};
  std::vector<unsigned long long> ptsHistory_;
  unsigned long long lastCameraPts_ = 0;  // pts of the previous delivered camera frame, 0 before
  // Mappings of the sender's frame buffers by (physical address, size): a camera process cycles
  // through a few buffers, so a steady stream maps nothing new. At most kMapCache entries, the least
  // recently used go first; a mapping lives on while an image over it does.
  struct CachedMapping {
    unsigned long long phy;
    unsigned int bytes;
    unsigned long long lastUse;
    std::shared_ptr<unsigned char> vir;
  };
  static constexpr size_t kMapCache = 16;
  std::vector<CachedMapping> mapCache_;
  unsigned long long mapClock_ = 0;
  std::atomic<unsigned long long> drops_[static_cast<int>(FrameReaderDrop::kCount)] = {};
};
