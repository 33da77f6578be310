// Frame acquisition. Everything in a received message comes from another process: a frame that
// breaks a rule is logged with the rule's check text, counted and skipped; only configuration and
// caller errors stop the process.
#include "util/FrameReader.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "kbase/Clock.h"
#include "kbase/Database.h"
#include "kbase/Timer.h"
#include "mi_sys.h"
#include "platform/Mix.h"
#include "platform/Mmz.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"
#include "util/ShareData.h"

namespace {
// Field offsets in a MI_SYS_BufInfo_t record. Fields are read as plain integers: a sender's bytes
// need not hold a valid enumerator.
constexpr size_t kFrame = offsetof(MI_SYS_BufInfo_t, stFrameData);
constexpr size_t kPts = offsetof(MI_SYS_BufInfo_t, u64Pts), kBufType = offsetof(MI_SYS_BufInfo_t, eBufType),
                 kPixelFormat = kFrame + offsetof(MI_SYS_FrameData_t, ePixelFormat),
                 kWidth = kFrame + offsetof(MI_SYS_FrameData_t, u16Width),
                 kHeight = kFrame + offsetof(MI_SYS_FrameData_t, u16Height),
                 kVir = kFrame + offsetof(MI_SYS_FrameData_t, pVirAddr),
                 kPhy = kFrame + offsetof(MI_SYS_FrameData_t, u64PhyAddr),
                 kStride = kFrame + offsetof(MI_SYS_FrameData_t, u32Stride),
                 kBufSize = kFrame + offsetof(MI_SYS_FrameData_t, u32BufSize);
static_assert(BlobInfoWrapper::kRecordSize == sizeof(MI_SYS_BufInfo_t), "one record is one MI_SYS_BufInfo_t");
constexpr unsigned int kBufDataFrame = E_MI_SYS_BUFDATA_FRAME;
constexpr unsigned int kNv12 = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;

template <typename T>
T read_le(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // the platform is little-endian, like the records
  return v;
}

std::string hex(unsigned long long v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", v);
  return buf;
}

// A plane of `bytes` at `phy` in this process's address space, unmapped when the last user goes.
std::shared_ptr<unsigned char> map_plane(unsigned long long phy, unsigned int bytes) {
  void* vir = nullptr;
  if (bytes == 0 || MI_SYS_Mmap(phy, bytes, &vir, 1) != MI_SUCCESS) return nullptr;
  return std::shared_ptr<unsigned char>(static_cast<unsigned char*>(vir),
                                        [bytes](unsigned char* p) { MI_SYS_Munmap(p, bytes); });
}
// An NV12 image over received bytes in place (host memory), for a source that must be resized or
// converted; the bytes must outlive it and it cannot be resized.
std::shared_ptr<ImageBase> image_over(const unsigned char* bytes, int width, int height) {
  auto plane = std::make_shared<BlobPlane<unsigned char>>(const_cast<unsigned char*>(bytes), 1,
                                                          height * 3 / 2, width, width);
  return std::make_shared<ImageYuv420sp>(plane, [](unsigned int, unsigned int) {
    LOG(FATAL) << "a received video frame cannot be resized";
    return std::shared_ptr<BlobPlane<unsigned char>>();
  });
}
// Copies packed NV12 bytes (width x height, rows of width bytes) into `dst`, already of that size, and
// flushes it. Rows packed like the source's take one block copy, which moves these few megabytes
// markedly faster than a copy per row.
void copy_nv12(const unsigned char* src, int width, int height, ImageYuv420sp& dst) {
  const size_t rowBytes = static_cast<size_t>(width);
  const size_t lumaBytes = rowBytes * height;
  if (dst.stride() == rowBytes && dst.uv_data() == dst.data() + lumaBytes) {
    std::memcpy(dst.data(), src, lumaBytes * 3 / 2);
  } else {
    for (int y = 0; y < height; ++y)
      std::memcpy(dst.data() + static_cast<size_t>(y) * dst.stride(), src + y * rowBytes, rowBytes);
    for (int y = 0; y < height / 2; ++y)
      std::memcpy(dst.uv_data() + static_cast<size_t>(y) * dst.stride(), src + lumaBytes + y * rowBytes,
                  rowBytes);
  }
  dst.refresh();
}
}  // namespace

FrameTime::FrameTime() : ResourceBase(1, "RESOURCE_FRAME_TIME", "none") {}

void FrameTime::clean_content() {
  time = -1.0;
  pts = 0;
}

std::string FrameTime::print() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "time: %f, pts: %llu", time, pts);
  return buf;
}

std::function<std::shared_ptr<ResourceBase>()> FrameTime::producer() {
  return [] { return std::make_shared<FrameTime>(); };
}

BlobInfoWrapper::BlobInfoWrapper(const char* data, int length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  if (data == nullptr || length < kRecordSize) {
    error_ =
        "Check failed: id8data8desc.second.first->length() >= sizeof(MI_SYS_BufInfo_t)  recv data length = " +
        std::to_string(length);
    return;
  }
  pts = read_le<unsigned long long>(bytes + kPts);
  if (!parse(bytes, &large, false)) return;
  if (length >= 2 * kRecordSize) parse(bytes + kRecordSize, &small, true);
}

bool BlobInfoWrapper::parse(const unsigned char* r, Frame* f, bool isSmall) {
  f->frameType = read_le<unsigned int>(r + kBufType);
  const unsigned int format = read_le<unsigned int>(r + kPixelFormat);
  f->width = read_le<unsigned short>(r + kWidth);
  f->height = read_le<unsigned short>(r + kHeight);
  for (int i = 0; i < 2; ++i) {
    f->vir[i] = read_le<unsigned long long>(r + kVir + 8 * i);
    f->phy[i] = read_le<unsigned long long>(r + kPhy + 8 * i);
    f->stride[i] = read_le<unsigned int>(r + kStride + 4 * i);
  }
  f->bufSize = read_le<unsigned int>(r + kBufSize);
  const std::string frame = isSmall ? "frame_small" : "frame";
  if (f->frameType != kBufDataFrame) {
    error_ = std::string("Check failed: ") + (isSmall ? "pmi_small_buf" : "pmi_buf") +
             "->eBufType == E_MI_SYS_BUFDATA_FRAME  eBufType = " + std::to_string(f->frameType);
  } else if (format != kNv12) {
    error_ =
        "Check failed: " + frame +
        ".ePixelFormat == E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420  ePixelFormat = " + std::to_string(format);
  } else if (f->stride[1] != f->stride[0]) {
    error_ = "Check failed: " + frame + ".u32Stride[1] == " + frame +
             ".u32Stride[0]  u32Stride[1]/u32Stride[0]=" + std::to_string(f->stride[1]) + "/" +
             std::to_string(f->stride[0]);
  } else if (f->width == 0 || f->height == 0 || f->width % 2 != 0 || f->height % 2 != 0 ||
             f->stride[0] < static_cast<unsigned int>(f->width) ||
             // The frame's bytes are counted in 32 bits (mapping, descriptor): a stride whose frame
             // is larger would wrap to a small size that maps, then be read far beyond it.
             static_cast<unsigned long long>(f->stride[0]) * f->height * 3 / 2 > 0xFFFFFFFFull) {
    error_ = frame + " is not an NV12 frame: w/h=" + std::to_string(f->width) + "/" +
             std::to_string(f->height) + ", stride=" + std::to_string(f->stride[0]);
  }
  if (!error_.empty()) return false;
  f->valid = true;
  f->contiguous = f->phy[1] == f->phy[0] + static_cast<unsigned long long>(f->stride[0]) * f->height;
  KAVO_MODEL_BLOB_INFO_S& b = f->blobInfo;
  b.enBlobType = MI_IPU_FORMAT_NV12;
  b.u32ShapeVec = {1, 3, static_cast<uint32_t>(f->height), static_cast<uint32_t>(f->width)};
  b.u32StrideBytes = f->stride[0];
  b.u32AlignedBufSize = f->stride[0] * f->height * 3 / 2;
  b.u64PhyAddr = f->phy[0];
  b.pVirAddr = reinterpret_cast<void*>(static_cast<uintptr_t>(f->vir[0]));
  return true;
}

std::string BlobInfoWrapper::print(const Frame& f, const char* suffix) {
  const std::string s(suffix);
  const std::string pad(s.size(), ' ');
  return "\nFrameType" + s + "  : " + std::to_string(f.frameType) + "\nShape" + s + "        : [1, 3, " +
         std::to_string(f.height) + ", " + std::to_string(f.width) + "]\nu32Stride" + s + "    : " +
         std::to_string(f.stride[0]) + "\nu32Size" + s + "      : " + std::to_string(f.bufSize) +
         "\nu64VirAddr" + s + "   : 0x" + hex(f.vir[0]) + "\nu64PhyAddr" + s + "   : 0x" + hex(f.phy[0]);
}

std::string BlobInfoWrapper::print() const {
  const KAVO_MODEL_BLOB_INFO_S& b = large.blobInfo;
  std::string out = "\nH/W      : " + std::to_string(large.height) + "/" + std::to_string(large.width) +
                    "\nStride     : " + std::to_string(b.u32StrideBytes) + "\nPHY        : 0x" +
                    hex(b.u64PhyAddr) + "\nVIR        : 0x" + hex(reinterpret_cast<uintptr_t>(b.pVirAddr)) +
                    "\nBufSize    : " + std::to_string(b.u32AlignedBufSize);
  out += print(large, "") + "\npts          : " + std::to_string(pts);
  if (small.valid) out += print(small, "Small");
  return out;
}

FrameReader::FrameReader(const FrameReaderParam& param)
    : landscape_(param.landscape), fromCamera_(param.fromCameraNotVideo), copy_(param.copy) {
  static const std::pair<unsigned long long, unsigned long long> unions = query_TaskResourceUnionGlobal(0);
  readUnion_ = unions.first;
  writeUnion_ = unions.second;
  largeLandscape_.dim = {param.landscapeLargeDimW, param.landscapeLargeDimH};
  smallLandscape_.dim = {param.landscapeSmallDimW, param.landscapeSmallDimH};
  largePortrait_.dim = {param.portraitLargeDimW, param.portraitLargeDimH};
  smallPortrait_.dim = {param.portraitSmallDimW, param.portraitSmallDimH};
}

FrameReader::~FrameReader() = default;

std::shared_ptr<Buffer> FrameReader::grab_frame(const std::shared_ptr<ResourceImage>&,
                                                const std::shared_ptr<ResourceImage>&) {
  return nullptr;
}

FrameReader::Dim FrameReader::read(const GuardedDim& d) {
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.dim;
}
FrameReader::Dim FrameReader::get_large_image_dim_of_landscape() const { return read(largeLandscape_); }
FrameReader::Dim FrameReader::get_small_image_dim_of_landscape() const { return read(smallLandscape_); }
FrameReader::Dim FrameReader::get_large_image_dim_of_portrait() const { return read(largePortrait_); }
FrameReader::Dim FrameReader::get_small_image_dim_of_portrait() const { return read(smallPortrait_); }

void FrameReader::set_view_mode(bool landscape) {
  if (landscape_ != landscape) landscape_ = landscape;
}

FrameReader::Dim FrameReader::get_large_image_dim() const {
  return landscape_ ? get_large_image_dim_of_landscape() : get_large_image_dim_of_portrait();
}
FrameReader::Dim FrameReader::get_small_image_dim() const {
  return landscape_ ? get_small_image_dim_of_landscape() : get_small_image_dim_of_portrait();
}

FrameReaderHisi::FrameReaderHisi(const FrameReaderParam& param)
    : FrameReader(param),
      shareDataReader_(param.shareDataReader),
      showDetail_(param.showDetail),
      showDeltaPts_(param.showDeltaPts) {
  LOG(WARNING) << (param.fromCameraNotVideo ? "Read from Camera." : "Read from Video.");
  CHECK(shareDataReader_) << "a frame reader needs a ShareDataReader";
}

FrameReaderHisi::~FrameReaderHisi() = default;

void FrameReaderHisi::set_gap(int gap) { shareDataReader_->set_gap(gap); }
int FrameReaderHisi::get_gap() const { return shareDataReader_->gap(); }

std::shared_ptr<Buffer> FrameReaderHisi::grab_frame(const std::shared_ptr<ResourceImage>& large,
                                                    const std::shared_ptr<ResourceImage>& small) {
  return from_camera() ? read_from_camera(large, small) : read_from_video(large, small);
}

void FrameReaderHisi::register_detail(int width, int height) {
  singleton_FrameDetailDict()->put(frameId_, std::make_shared<FrameDetail>(frameId_, width, height));
}

std::shared_ptr<Buffer> FrameReaderHisi::read_from_video(const std::shared_ptr<ResourceImage>& large,
                                                         const std::shared_ptr<ResourceImage>& small) {
  const std::shared_ptr<ResourceImage>& pOrig = large;
  CHECK(pOrig) << "Read from Video must use large frame.";
  for (;;) {
    // The payload stays in the socket's receive buffer: NV12 pixels are copied from there straight
    // into the large image, the one pass over them this frame needs.
    const VideoFrameView frame = shareDataReader_->read_video_in_place();
    std::shared_ptr<ImageBase> pImageYuvSrc;
    const size_t size = frame.size;
    if (shareDataReader_->video_format() == "jpeg") {
      pImageYuvSrc = produce_ImageYuv420sp(0, 0, nullptr);
      if (!pImageYuvSrc->decode_jpg(std::vector<unsigned char>(frame.payload, frame.payload + size),
                                    ImageBase::DECODE_DEFAULT) ||
          pImageYuvSrc->width() != static_cast<unsigned int>(frame.width) ||
          pImageYuvSrc->height() != static_cast<unsigned int>(frame.height)) {
        LOG(ERROR) << "Check failed: pImageYuvSrc->width() == frame.width && pImageYuvSrc->height() == "
                      "frame.height (a JPEG of "
                   << size << " bytes for " << frame.width << "x" << frame.height << ")";
        drop(FrameReaderDrop::kVideoSize);
        continue;
      }
    } else if (size != static_cast<size_t>(frame.height) * frame.width * 3 / 2 || frame.width % 2 != 0 ||
               frame.height % 2 != 0) {
      LOG(ERROR) << "Check failed: frame.pData->size() == frame.height * frame.width * 3 / 2 " << size
                 << " vs " << frame.width << "x" << frame.height;
      drop(FrameReaderDrop::kVideoSize);
      continue;
    }
    LOG(INFO) << "Recv from video: width=" << frame.width << ", height=" << frame.height
              << ", frame_id=" << frame.frameId << ", size=" << size;
    Dim dim = get_large_image_dim();
    if (dim.first <= 0 || dim.second <= 0) dim = {frame.width, frame.height};
    const bool sameSize = dim.first == frame.width && dim.second == frame.height;
    ImageBase& orig = *pOrig->image();
    {
      Benchmark benchmark(10000);
      orig.reshape(dim.first, dim.second);
      auto* origYuv = dynamic_cast<ImageYuv420sp*>(&orig);
      if (!pImageYuvSrc && sameSize && origYuv) {
        copy_nv12(frame.payload, frame.width, frame.height, *origYuv);
      } else {
        if (!pImageYuvSrc) pImageYuvSrc = image_over(frame.payload, frame.width, frame.height);
        if (sameSize)
          orig.copy_from(pImageYuvSrc.get(), false, false);
        else
          orig.resize_from(pImageYuvSrc.get(), false, false);
      }
    }
    if (small) {
      Benchmark benchmark(10001);
      Dim smallDim = get_small_image_dim();
      if (smallDim.first <= 0 || smallDim.second <= 0) smallDim = dim;
      small->image()->reshape(smallDim.first, smallDim.second);
      small->image()->resize_from(&orig, false, false);
    }
    ++frameId_;
    pts_ = 100 * static_cast<unsigned long long>(frameId_);
    register_detail(orig.width(), orig.height());
    return nullptr;
  }
}

int latency_severity(float latencyMs, int buffers) {
  const float budget = (buffers - 1) * 33.333332f;
  return latencyMs > 0.8f * budget ? 2 : latencyMs > 0.5f * budget ? 1 : 0;
}

bool FrameReaderHisi::check_latency(unsigned long long pts) {
  static const int buffers =
      singleton_ParamCfg()->select_single<int>("FrameReaderHisi/CameraFrameBuffer", false, 0);
  MI_U64 pts_after_copy = 0;
  CHECK(MI_SYS_GetCurPts(0, &pts_after_copy) == 0);
  if (!(pts_after_copy > pts)) {
    LOG(ERROR) << "Check failed: pts_after_copy > blobInfoWrapper.pts " << pts_after_copy << " vs " << pts;
    drop(FrameReaderDrop::kFuturePts);
    return false;
  }
  const float latency = static_cast<float>(pts_after_copy - pts) * 0.001f;
  const int severity = latency_severity(latency, buffers);
  if (severity == 2)
    LOG(ERROR) << "Frame Recv & Copy Latency too large: " << latency
               << " ms, while camera frame buffer only has " << buffers;
  else if (severity == 1)
    LOG(WARNING) << "Frame Recv & Copy Latency maybe large: " << latency
                 << " ms, while camera frame buffer only has " << buffers;
  if (showDetail_) LOG(INFO) << "Frame Recv & Copy Latency: " << latency << " ms.";
  return true;
}

std::shared_ptr<unsigned char> FrameReaderHisi::mapped(unsigned long long phy, unsigned int bytes) {
  ++mapClock_;
  for (CachedMapping& m : mapCache_) {
    if (m.phy == phy && m.bytes == bytes) {
      m.lastUse = mapClock_;
      return m.vir;
    }
  }
  std::shared_ptr<unsigned char> vir = map_plane(phy, bytes);
  if (!vir) return nullptr;
  if (mapCache_.size() < kMapCache) {
    mapCache_.push_back({phy, bytes, mapClock_, vir});
  } else {
    auto oldest = std::min_element(
        mapCache_.begin(), mapCache_.end(),
        [](const CachedMapping& a, const CachedMapping& b) { return a.lastUse < b.lastUse; });
    *oldest = {phy, bytes, mapClock_, vir};
  }
  return vir;
}

bool FrameReaderHisi::attach(const BlobInfoWrapper::Frame& f, const std::shared_ptr<ResourceImage>& res) {
  const unsigned int lumaBytes = f.stride[0] * static_cast<unsigned int>(f.height);
  const unsigned int planeBytes = f.contiguous ? lumaBytes * 3 / 2 : lumaBytes;
  // Mapping checks that the sender's buffers lie in live platform memory before anything reads them.
  std::shared_ptr<unsigned char> luma = mapped(f.phy[0], planeBytes);
  std::shared_ptr<unsigned char> chroma = f.contiguous ? luma : mapped(f.phy[1], lumaBytes / 2);
  if (!luma || !chroma) {
    LOG(ERROR) << "frame buffers at 0x" << hex(f.phy[0]) << "/0x" << hex(f.phy[1]) << " (" << f.width << "x"
               << f.height << ", stride " << f.stride[0] << ") are not in live platform memory";
    drop(FrameReaderDrop::kAddress);
    return false;
  }
  if (copy_ || !f.contiguous) {
    ImageSplitPlaneDesc desc;
    desc.width = static_cast<uint16_t>(f.width);
    desc.height = static_cast<uint16_t>(f.height);
    desc.virAddr[0] = luma.get();
    desc.virAddr[1] = f.contiguous ? luma.get() + lumaBytes : chroma.get();
    desc.phyAddr[0] = f.phy[0];
    desc.phyAddr[1] = f.phy[1];
    desc.stride[0] = desc.stride[1] = static_cast<int>(f.stride[0]);
    // An image in place over the sender's buffers from an earlier frame cannot take the copy.
    if (!copy_ || res->image()->phy() == 0) res->set_image(produce_mmz_ImageYuv420sp(0, 0, nullptr));
    res->image()->copy_from_split_planes(desc);
    return true;
  }
  auto plane = std::shared_ptr<BlobPlane<unsigned char>>(
      new BlobPlane<unsigned char>(luma.get(), f.phy[0], static_cast<int>(planeBytes), 1, f.height * 3 / 2,
                                   static_cast<int>(f.stride[0]), f.width, false),
      [luma](BlobPlane<unsigned char>* p) { delete p; });
  // A later reshape (a caller resizing into it) moves the image into memory of its own.
  auto own = std::make_shared<MmzBlob>();
  res->set_image(std::make_shared<ImageYuv420sp>(plane, [own](unsigned int w, unsigned int h) {
    own->resize(std::vector<int>{1, static_cast<int>(h * 3 / 2), static_cast<int>(w)}, 16);
    return plane_over_mmz(*own, 1, static_cast<int>(h * 3 / 2), static_cast<int>(w));
  }));
  return true;
}

std::shared_ptr<Buffer> FrameReaderHisi::read_from_camera(const std::shared_ptr<ResourceImage>& large,
                                                          const std::shared_ptr<ResourceImage>& small) {
  Timer watchdog(
      3.0f,
      [] {
        LOG(ERROR) << "cannot received from camera after 3s!!!";
        return false;
      },
      nullptr, false);
  for (;;) {
    auto id8data8desc = shareDataReader_->read_from_camera();
    const std::string& records = *id8data8desc.second.first;
    BlobInfoWrapper blobInfoWrapper(records.data(), static_cast<int>(records.size()));
    if (!blobInfoWrapper.error().empty()) {
      LOG(ERROR) << blobInfoWrapper.error();
      drop(FrameReaderDrop::kRecords);
      continue;
    }
    const BlobInfoWrapper::Frame& big = blobInfoWrapper.large;
    const Dim want = get_large_image_dim();
    if (big.width != want.first || big.height != want.second) {
      LOG(ERROR) << "large frame dim not matched. required w/h=" << want.first << "/" << want.second
                 << ", recv w/h=" << big.width << "/" << big.height;
      drop(FrameReaderDrop::kDimension);
      continue;
    }
    if (blobInfoWrapper.pts == pts_) {
      LOG(ERROR) << "read_from_camera with no pts update";
      drop(FrameReaderDrop::kStalePts);
      continue;
    }
    const BlobInfoWrapper::Frame& little = blobInfoWrapper.small;
    const Dim wantSmall = get_small_image_dim();
    if (little.valid && (little.width != wantSmall.first || little.height != wantSmall.second)) {
      LOG(ERROR) << "small frame dim not matched. required w/h=" << wantSmall.first << "/" << wantSmall.second
                 << ", recv w/h=" << little.width << "/" << little.height;
      drop(FrameReaderDrop::kDimension);
      continue;
    }
    if (showDetail_) LOG(INFO) << blobInfoWrapper.print();
    if (!check_latency(blobInfoWrapper.pts)) continue;
    if (large && !attach(big, large)) continue;
    if (small) {
      if (little.valid) {
        if (!attach(little, small)) continue;
      } else if (large && wantSmall.first > 0 && wantSmall.second > 0) {
        small->image()->reshape(wantSmall.first, wantSmall.second);
        small->image()->resize_from(large->image().get(), false, false);
      }
    }
    ++frameId_;
    pts_ = blobInfoWrapper.pts;
    const unsigned long long delta = lastCameraPts_ == 0 ? 0 : pts_ - lastCameraPts_;
    lastCameraPts_ = pts_;
    deltaPts_ = static_cast<unsigned int>(delta);
    if (delta > 0 && showDeltaPts_) LOG(INFO) << "PTS DELTA: " << delta << " us.";
    register_detail(big.width, big.height);
    while (ptsHistory_.size() > 14) ptsHistory_.erase(ptsHistory_.begin());
    ptsHistory_.push_back(pts_);
    if (ptsHistory_.size() >= 2) {
      const unsigned long long pts_first = ptsHistory_.front(), pts_last = ptsHistory_.back();
      const unsigned long long step =
          pts_last > pts_first ? (pts_last - pts_first) / (ptsHistory_.size() - 1) : 0;
      if (step > 0)
        fps_ = 1000000.0f / static_cast<float>(step);
      else
        LOG(ERROR) << "Check failed: pts_last > pts_first " << pts_last << " vs " << pts_first;
    }
    const std::string& extra = *id8data8desc.second.second;
    return std::make_shared<BufferRaw>(extra.data(), extra.size());
  }
}
