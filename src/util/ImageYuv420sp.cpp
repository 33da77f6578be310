#include "util/ImageYuv420sp.h"

#include <glog/logging.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "kbase/Clock.h"
#include "mi_common.h"
#include "mi_sys.h"
#include "platform/Iveproc.h"
#include "platform/Mmz.h"
#include "util/ImageRgb.h"
#include "util/ProduceImage.h"
#include "util/RgbChannel.h"
#include "util/RoiResize.h"

// The fatal checks below spell the system's conditions exactly, some of which compare the images'
// unsigned sizes with int sizes.
#pragma GCC diagnostic ignored "-Wsign-compare"

namespace {

const std::vector<float> kWholeRoi = {0.f, 0.f, 1.f, 1.f};

const ImageYuv420sp* as_yuv(const ImageBase* another, const ImageYuv420sp* self) {
  const ImageYuv420sp* peer = dynamic_cast<const ImageYuv420sp*>(another);
  CHECK(peer) << "the source must be an ImageYuv420sp";
  CHECK(peer != self) << "an image cannot be its own source";
  return peer;
}

bool platform_pair(const ImageYuv420sp& a, const ImageYuv420sp& b) { return a.phy() != 0 && b.phy() != 0; }

// The U,V pair as one 16-bit element of the UV plane (U is the byte at the lower address).
unsigned short uv_pair(unsigned char u, unsigned char v) {
  const unsigned char bytes[2] = {u, v};
  unsigned short pair;
  std::memcpy(&pair, bytes, sizeof(pair));
  return pair;
}

// The integral scratch block of a lease, under the names the system's checks use.
struct ScratchBlock {
  MmzMemory* memory;
  unsigned long long phyAddr() const { return memory->phy_addr(); }
  int size() const { return memory->size(); }
  unsigned char* data() const { return memory->data(); }
  void flush() const { memory->flush(); }
};

// Rounds v up to a multiple of pad (a power of two).
int pad_to(int v, int pad) { return (v + pad - 1) & ~(pad - 1); }

// Logs a condition that received JPEG data violated, worded as the system's check, and fails.
bool reject(const char* condition, unsigned long required, unsigned long yuvSize) {
  LOG(ERROR) << "Check failed: " << condition << "(" << required << " vs. " << yuvSize << ")";
  return false;
}

}  // namespace

void ImageYuv420sp::YuvData::set(const std::shared_ptr<BlobPlane<unsigned char>>& pRawYuv420sp) {
  CHECK(pRawYuv420sp) << "no raw NV12 plane";
  CHECK(pRawYuv420sp->height % 3 == 0 and pRawYuv420sp->width % 2 == 0)
      << "raw rows/width=" << pRawYuv420sp->height << "/" << pRawYuv420sp->width;
  CHECK(pRawYuv420sp->stride % 2 == 0) << "an NV12 plane needs an even stride: " << pRawYuv420sp->stride;
  const BlobPlane<unsigned char>& raw = *pRawYuv420sp;
  const int rows = raw.height * 2 / 3;
  const size_t yBytes = static_cast<size_t>(raw.stride) * rows;
  unsigned short* uvData = reinterpret_cast<unsigned short*>(raw.data + yBytes);
  if (raw.phy_data != 0) {
    y = std::make_shared<BlobPlane<unsigned char>>(raw.data, raw.phy_data, raw.phy_capacity, 1, rows,
                                                   raw.stride, raw.width, false);
    uv = std::make_shared<BlobPlane<unsigned short>>(uvData, raw.phy_data + yBytes,
                                                     raw.phy_capacity - static_cast<int>(yBytes), 1, rows / 2,
                                                     raw.stride / 2, raw.width / 2, false);
  } else {
    y = std::make_shared<BlobPlane<unsigned char>>(raw.data, 1, rows, raw.stride, raw.width);
    uv = std::make_shared<BlobPlane<unsigned short>>(uvData, 1, rows / 2, raw.stride / 2, raw.width / 2);
  }
  image = pRawYuv420sp;
  width = raw.width;
  height = rows;
}

ImageYuv420sp::ImageYuv420sp(const std::shared_ptr<BlobPlane<unsigned char>>& raw,
                             const PlaneProducer& producer)
    : producer_(producer) {
  std::shared_ptr<BlobPlane<unsigned char>> plane = raw;
  if (!plane) {
    CHECK(producer_) << "an image needs a plane or a producer";
    plane = producer_(0, 0);
  }
  yuvData_.set(plane);
}

ImageYuv420sp::~ImageYuv420sp() = default;

unsigned int ImageYuv420sp::width() const { return static_cast<unsigned int>(yuvData_.width); }
unsigned int ImageYuv420sp::height() const { return static_cast<unsigned int>(yuvData_.height); }
unsigned int ImageYuv420sp::stride() const { return static_cast<unsigned int>(yuvData_.image->stride); }
unsigned char* ImageYuv420sp::data() const { return yuvData_.image->data; }
unsigned long long ImageYuv420sp::phy() const { return yuvData_.image->phy_data; }

unsigned char* ImageYuv420sp::uv_data() const { return data() + static_cast<size_t>(stride()) * height(); }

unsigned long long ImageYuv420sp::uv_phy() const {
  return phy() == 0 ? 0 : phy() + static_cast<unsigned long long>(stride()) * height();
}

void ImageYuv420sp::refresh() const {
  const BlobPlane<unsigned char>& raw = *yuvData_.image;
  if (raw.phy_data == 0 || raw.phy_capacity == 0) return;
  MI_S32 ok = MI_SYS_FlushInvCache(raw.data, static_cast<MI_U32>(raw.phy_capacity));
  CHECK(ok == MI_SUCCESS) << "MI_SYS_FlushInvCache failed: " << raw.phy_capacity;
}

void ImageYuv420sp::reshape(unsigned int width, unsigned int height) {
  if (width == this->width() && height == this->height()) return;
  CHECK(producer_) << "cannot reshape an image without a producer";
  yuvData_.set(producer_(width, height));
}

void ImageYuv420sp::reset(unsigned char r, unsigned char g, unsigned char b) {
  const unsigned char rgb[3] = {r, g, b};
  unsigned char yuv[3];
  rgbchannel::rgb2yuv(rgb, yuv);
  const size_t yBytes = static_cast<size_t>(stride()) * height();
  if (yBytes > 0) {
    std::memset(data(), yuv[0], yBytes);
    // Whole UV rows, padding included: one pass of pairs.
    unsigned char* uv = uv_data();
    const size_t uvBytes = yBytes / 2;
    for (size_t i = 0; i + 1 < uvBytes; i += 2) {
      uv[i] = yuv[1];
      uv[i + 1] = yuv[2];
    }
  }
  refresh();
}

void ImageYuv420sp::copy_from(const ImageBase* another, bool, bool cpu) {
  const ImageYuv420sp* peer = as_yuv(another, this);
  reshape(peer->width(), peer->height());
  if (platform_pair(*this, *peer) && !cpu) {
    if (stride() == peer->stride()) {
      int ok = misys_1d_copy(phy(), peer->phy(), height() * stride() * 3 / 2);
      CHECK(ok == MI_SUCCESS) << "misys_1d_copy failed.";
    } else {
      int ok = misys_2d_yuv420sp_roi_copy(peer->phy(), peer->uv_phy(), peer->stride(), peer->stride(),
                                          peer->width(), peer->height(), 0, 0, peer->width(), peer->height(),
                                          phy(), uv_phy(), stride(), stride(), width(), height(), 0, 0,
                                          width(), height());
      CHECK(ok == MI_SUCCESS) << "misys_2d_yuv420sp_roi_copy failed.";
    }
  } else {
    yuvData_.y->copy_from(*peer->yuvData_.y);
    yuvData_.uv->copy_from(*peer->yuvData_.uv);
  }
  refresh();
}

void ImageYuv420sp::copy_from_split_planes(const ImageSplitPlaneDesc& desc) {
  reshape(desc.width, desc.height);
  if (phy() != 0 && desc.phyAddr[0] != 0 && desc.phyAddr[1] != 0) {
    int ok =
        misys_2d_yuv420sp_roi_copy(desc.phyAddr[0], desc.phyAddr[1], desc.stride[0], desc.stride[1],
                                   desc.width, desc.height, 0, 0, desc.width, desc.height, phy(), uv_phy(),
                                   stride(), stride(), width(), height(), 0, 0, width(), height());
    CHECK(ok == MI_SUCCESS) << "misys_2d_yuv420sp_roi_copy failed.";
  } else {
    // Host memory on either side: the engines cannot reach it, the CPU copies the mapped planes.
    CHECK(desc.virAddr[0] != nullptr && desc.virAddr[1] != nullptr)
        << "the planes have neither usable physical nor virtual addresses";
    for (unsigned int y = 0; y < desc.height; ++y) {
      std::memcpy(data() + static_cast<size_t>(y) * stride(),
                  desc.virAddr[0] + static_cast<size_t>(y) * desc.stride[0], desc.width);
    }
    for (unsigned int y = 0; y < desc.height / 2u; ++y) {
      std::memcpy(uv_data() + static_cast<size_t>(y) * stride(),
                  desc.virAddr[1] + static_cast<size_t>(y) * desc.stride[1], desc.width);
    }
  }
  refresh();
}

void ImageYuv420sp::pad_crop_from(const ImageBase* another, const roiresize::PadSize& pad, unsigned char r,
                                  unsigned char g, unsigned char b, bool, bool cpu) {
  const ImageYuv420sp* peer = as_yuv(another, this);
  CHECK(pad.left % 2 == 0 && pad.right % 2 == 0 && pad.top % 2 == 0 && pad.bottom % 2 == 0)
      << "NV12 pad/crop amounts must be even (an odd horizontal amount would swap U and V, an odd vertical "
         "one would shift chroma rows): left/right/top/bottom="
      << pad.left << "/" << pad.right << "/" << pad.top << "/" << pad.bottom;
  const long long newWidth = static_cast<long long>(peer->width()) + pad.xPad();
  const long long newHeight = static_cast<long long>(peer->height()) + pad.yPad();
  CHECK(newWidth > 0 && newHeight > 0) << "pad/crop leaves no pixels: " << peer->width() << "x"
                                       << peer->height() << " with left/right/top/bottom=" << pad.left << "/"
                                       << pad.right << "/" << pad.top << "/" << pad.bottom;
  reshape(static_cast<unsigned int>(newWidth), static_cast<unsigned int>(newHeight));
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = mi_yuv420sp_crop_padding(peer->phy(), peer->uv_phy(), peer->data(), peer->uv_data(),
                                      peer->stride(), peer->stride(), peer->width(), peer->height(), phy(),
                                      uv_phy(), data(), uv_data(), stride(), stride(), width(), height(),
                                      pad.left, pad.right, pad.top, pad.bottom, r, g, b);
    CHECK(ok == MI_SUCCESS) << "mi_yuv420sp_crop_padding failed.";
  } else {
    const unsigned char rgb[3] = {r, g, b};
    unsigned char yuv[3];
    rgbchannel::rgb2yuv(rgb, yuv);
    roiresize::pad_crop<unsigned char>(
        peer->data(), {1, static_cast<int>(peer->height()), static_cast<int>(peer->width())},
        static_cast<int>(peer->stride()), data(), {1, static_cast<int>(height()), static_cast<int>(width())},
        static_cast<int>(stride()), pad, yuv[0]);
    const roiresize::PadSize halfPad(pad.left / 2, pad.right / 2, pad.top / 2, pad.bottom / 2);
    const BlobPlane<unsigned short>& src = *peer->yuvData_.uv;
    const BlobPlane<unsigned short>& dst = *yuvData_.uv;
    roiresize::pad_crop<unsigned short>(src.data, {1, src.height, src.width}, src.stride, dst.data,
                                        {1, dst.height, dst.width}, dst.stride, halfPad,
                                        uv_pair(yuv[1], yuv[2]));
  }
  refresh();
}

void ImageYuv420sp::roi_resize_from(const ImageBase* another, const std::vector<float>& roi,
                                    std::shared_ptr<MmzBlob>& scratch, unsigned char r, unsigned char g,
                                    unsigned char b, bool, bool cpu) {
  const ImageYuv420sp* peer = as_yuv(another, this);
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = mi_yuv420sp_roi_resize_optimized(peer->phy(), peer->uv_phy(), peer->data(), peer->uv_data(),
                                              peer->stride(), peer->stride(), peer->width(), peer->height(),
                                              phy(), uv_phy(), data(), uv_data(), stride(), stride(), width(),
                                              height(), scratch, roi, r, g, b);
    CHECK(ok == MI_SUCCESS) << "mi_yuv420sp_roi_resize failed.";
  } else {
    const unsigned char rgb[3] = {r, g, b};
    unsigned char yuv[3];
    rgbchannel::rgb2yuv(rgb, yuv);
    roiresize::roi_resize_4corners<unsigned char>(
        peer->data(), {1, static_cast<int>(peer->height()), static_cast<int>(peer->width())},
        static_cast<int>(peer->stride()), data(), {1, static_cast<int>(height()), static_cast<int>(width())},
        static_cast<int>(stride()), roi, yuv[0]);
    const BlobPlane<unsigned short>& src = *peer->yuvData_.uv;
    const BlobPlane<unsigned short>& dst = *yuvData_.uv;
    roiresize::roi_resize_2bytes(src.data, {1, src.height, src.width}, src.stride, dst.data,
                                 {1, dst.height, dst.width}, dst.stride, roi, uv_pair(yuv[1], yuv[2]));
  }
  refresh();
}

void ImageYuv420sp::resize_from(const ImageBase* another, bool, bool cpu) {
  const ImageYuv420sp* peer = as_yuv(another, this);
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = miive_yuv420sp_resize(peer->phy(), peer->uv_phy(), peer->data(), peer->uv_data(), peer->stride(),
                                   peer->stride(), peer->width(), peer->height(), phy(), uv_phy(), data(),
                                   uv_data(), stride(), stride(), width(), height());
    CHECK(ok == MI_SUCCESS) << "miive_yuv420sp_resize failed.";
    refresh();
  } else {
    std::shared_ptr<MmzBlob> unusedScratch;
    roi_resize_from(peer, kWholeRoi, unusedScratch, 0, 0, 0, false, true);
  }
}

void ImageYuv420sp::downsample_2_from(const ImageBase* another, bool cpu) {
  const ImageYuv420sp* peer = as_yuv(another, this);
  CHECK(peer->get_yuv().height / 2 <= yuvData_.height and peer->get_yuv().width / 2 <= yuvData_.width)
      << "peer w/h=" << peer->width() << "/" << peer->height() << ", w/h=" << width() << "/" << height();
  if (platform_pair(*this, *peer) && !cpu) {
    LOG(ERROR) << "Using Resize Instead for Downsample (1/2x).";
    resize_from(peer, false, false);
    return;
  }
  yuvData_.y->downsample_2_from(*peer->yuvData_.y);
  yuvData_.uv->downsample_2_from(*peer->yuvData_.uv);
  refresh();
}

void ImageYuv420sp::roi_copy_from(const ImageBase* another, const std::vector<int>& dstRoi, bool) {
  static const RoiCopyChecks kChecks = {
      "peer->get_yuv().height % 2 == 0 and peer->get_yuv().width % 2 == 0",
      "peer->get_yuv().height == dstRoi[3] && peer->get_yuv().width == dstRoi[2]",
      "dstRoi[0] + peer->get_yuv().width < yuvData_.width",
      "dstRoi[1] + peer->get_yuv().height < yuvData_.height",
  };
  const ImageYuv420sp* peer = as_yuv(another, this);
  // Even x and y: an odd x would swap U and V, an odd y would shift the chroma rows.
  check_roi_copy(*peer, dstRoi, kChecks, 2);
  if (platform_pair(*this, *peer)) {
    int ok = misys_2d_yuv420sp_roi_copy(peer->phy(), peer->uv_phy(), peer->stride(), peer->stride(),
                                        peer->width(), peer->height(), 0, 0, peer->width(), peer->height(),
                                        phy(), uv_phy(), stride(), stride(), width(), height(), dstRoi[0],
                                        dstRoi[1], dstRoi[2], dstRoi[3]);
    CHECK(ok == MI_SUCCESS) << "misys_2d_yuv420sp_roi_copy failed.";
  } else {
    // Y rows at (x, y); U,V rows at y / 2, byte x (x / 2 whole pairs).
    copy_rows(peer->data(), peer->stride(), data() + static_cast<size_t>(dstRoi[1]) * stride() + dstRoi[0],
              stride(), peer->width(), static_cast<int>(peer->height()));
    copy_rows(peer->uv_data(), peer->stride(),
              uv_data() + static_cast<size_t>(dstRoi[1] / 2) * stride() + dstRoi[0], stride(), peer->width(),
              static_cast<int>(peer->height() / 2));
  }
  refresh();
}

int ImageYuv420sp::gray_of_region(const BoundBox<float>& box) {
  PixelRect px;
  if (!region_pixels(box, &px)) return 0;
  long long sum = 0;
  for (int y = px.y1; y < px.y2; ++y) {
    const unsigned char* row = data() + static_cast<size_t>(y) * stride();
    for (int x = px.x1; x < px.x2; ++x) sum += row[x];
  }
  return static_cast<int>(sum / (px.x2 - px.x1) / (px.y2 - px.y1));
}

std::vector<int> ImageYuv420sp::gray_of_context(const BoundBox<float>& box) {
  const bool platform = phy() != 0;
  std::shared_ptr<BlobGeneral<unsigned int>> sums;
  if (platform) sums = integ_sum();
  std::vector<int> grays;
  for (BoundBox<float> neighbour : context_boxes(box)) {
    if (!platform) {
      grays.push_back(gray_of_region(neighbour));
      continue;
    }
    // Clipped to the image, the corners are clamped pixels (an empty box gives area 0 and value 0).
    neighbour.clip(0.f, 1.f);
    PixelRect px;
    region_pixels(neighbour, &px);
    const int x1 = px.x1, x2 = px.x2, y1 = px.y1, y2 = px.y2;
    const unsigned int* integral = sums->data;
    auto at = [&](int row, int col) {
      return static_cast<long long>(integral[static_cast<size_t>(row) * stride() + col]);
    };
    // Inclusive sums: the difference covers rows y1+1..y2 and columns x1+1..x2, exact in integers.
    const long long inside = at(y1, x1) - at(y1, x2) + at(y2, x2) - at(y2, x1);
    const double area = static_cast<double>(y2 - y1) * (x2 - x1) + 0.000001;
    grays.push_back(static_cast<int>(std::trunc(static_cast<double>(inside) / area)));
  }
  return grays;
}

std::shared_ptr<BlobGeneral<unsigned int>> ImageYuv420sp::integ_sum() {
  CHECK(yuvData_.image->phy_data) << "Only Support IVE";
  IntegScratchLease lease(IntegScratch::kYuvSums);
  ScratchBlock block{lease.memory()};
  const ScratchBlock* output = &block;
  CHECK(output->phyAddr()) << "integral scratch without platform memory";
  CHECK(output->size() >= height() * yuvData_.image->stride * 4)
      << " image dim: " << height() << "/" << stride();
  output->flush();
  int ok = miive_u8c1_integ(phy(), data(), stride(), width(), height(), output->phyAddr(), output->data(),
                            4 * stride(), 4 * width(), height());
  CHECK(ok == MI_SUCCESS) << "miive_u8c1_integ failed.";
  output->flush();
  auto sums = std::make_shared<BlobGeneral<unsigned int>>(
      std::vector<int>{1, static_cast<int>(height()), static_cast<int>(stride())}, false, 0,
      "UNKNOWN_BLOBGENERAL");
  std::memcpy(sums->data, output->data(), static_cast<size_t>(4) * stride() * height());
  return sums;
}

std::shared_ptr<BlobGeneral<unsigned int>> ImageYuv420sp::rgb_integ_map() {
  CHECK(yuvData_.image->phy_data) << "Only Support IVE";
  IntegScratchLease lease(IntegScratch::kRgbMap);
  ScratchBlock block{lease.memory()};
  const ScratchBlock* rgb = &block;
  CHECK(height() * stride() * 3 <= rgb->size()) << " image dim: " << height() << "/" << stride();
  auto plane = std::make_shared<BlobPlane<unsigned char>>(
      rgb->data(), rgb->phyAddr(), static_cast<int>(block.memory->capacity()), 3, static_cast<int>(height()),
      static_cast<int>(stride()), static_cast<int>(width()), false);
  ImageRgb rgbImage(plane, [](unsigned int, unsigned int) -> std::shared_ptr<BlobPlane<unsigned char>> {
    LOG(FATAL) << "cannot be resized.";
    return nullptr;
  });
  int ok = miive_yuv2rgb(phy(), uv_phy(), data(), uv_data(), stride(), stride(), width(), height(),
                         rgbImage.plane_phy(0), rgbImage.plane_phy(1), rgbImage.plane_phy(2),
                         rgbImage.plane_data(0), rgbImage.plane_data(1), rgbImage.plane_data(2), stride(),
                         stride(), stride(), width(), height());
  CHECK(ok == MI_SUCCESS) << "miive_yuv2rgb failed.";
  rgbImage.refresh();
  return rgbImage.integ_sum();
}

bool ImageYuv420sp::decode_jpg(const std::vector<unsigned char>& bytes, DecodeType) {
  Clock<std::chrono::steady_clock> clock;
  int inwidth = 0, inheight = 0, subsample = 0, colorspace = 0;
  const JpegDecompressor handle = open_jpeg(bytes, &inwidth, &inheight, &subsample, &colorspace);
  if (!handle) return false;

  const int pad = subsample == TJSAMP_444 ? 2 : 1;
  const unsigned long yuvSize = tjBufSizeYUV2(inwidth, pad, inheight, subsample);
  if (yuvSize == static_cast<unsigned long>(-1)) {
    LOG(ERROR) << "TJ Get YUV420P Buffer Size Failed.";
    return false;
  }
  const unsigned long new_width = (static_cast<unsigned long>(inwidth) + 1) & ~1ul;
  const unsigned long new_height = (static_cast<unsigned long>(inheight) + 1) & ~1ul;
  switch (subsample) {
    case TJSAMP_420:
      if (new_width * new_height * 3 / 2 != yuvSize)
        return reject("new_width * new_height * 3/2 == yuvSize ", new_width * new_height * 3 / 2, yuvSize);
      break;
    case TJSAMP_422:
      if (new_width * new_height * 2 != yuvSize)
        return reject("new_width * new_height * 2 == yuvSize ", new_width * new_height * 2, yuvSize);
      break;
    case TJSAMP_444:
      if (new_width * inheight * 3 != yuvSize)
        return reject("new_width * inheight * 3 == yuvSize ", new_width * inheight * 3, yuvSize);
      break;
    default:
      LOG(ERROR) << "Unsupported Subsampple: " << subsample;
      return false;
  }

  std::unique_ptr<unsigned char[]> yuv(new (std::nothrow) unsigned char[yuvSize]);
  if (!yuv || tjDecompressToYUV2(handle.get(), bytes.data(), bytes.size(), yuv.get(), inwidth, pad, inheight,
                                 0) != 0) {
    LOG(ERROR) << "TJ Parse to YUV420P Failed.";
    return false;
  }
  LOG(WARNING) << "WIDTH=" << new_width << ", HEIGHT=" << new_height;
  reshape(static_cast<unsigned int>(new_width), static_cast<unsigned int>(new_height));

  // Planes of the decoder's buffer: Y, then U, then V, each row padded to `pad` bytes.
  const int yStride = pad_to(tjPlaneWidth(0, inwidth, subsample), pad);
  const int yRows = tjPlaneHeight(0, inheight, subsample);
  const int cStride = pad_to(tjPlaneWidth(1, inwidth, subsample), pad);
  const int cRows = tjPlaneHeight(1, inheight, subsample);
  const unsigned char* srcY = yuv.get();
  const unsigned char* srcU = srcY + static_cast<size_t>(yStride) * yRows;
  const unsigned char* srcV = srcU + static_cast<size_t>(cStride) * cRows;

  const int w = static_cast<int>(width());
  const int h = static_cast<int>(height());
  for (int y = 0; y < h; ++y) {
    unsigned char* dst = data() + static_cast<size_t>(y) * stride();
    if (y < yRows) {
      std::memcpy(dst, srcY + static_cast<size_t>(y) * yStride, w);
      if (subsample == TJSAMP_444 && inwidth < w) dst[w - 1] = 0;  // odd 4:4:4 width: no source column
    } else {
      std::memset(dst, 0, w);  // 4:4:4 with an odd height: no source row
    }
  }
  // Source chroma row and column step down to 4:2:0: 4:2:0 maps 1:1, 4:2:2 takes even rows, 4:4:4
  // even rows and columns.
  const int rowStep = subsample == TJSAMP_420 ? 1 : 2;
  const int colStep = subsample == TJSAMP_444 ? 2 : 1;
  for (int i = 0; i < h / 2; ++i) {
    unsigned char* dst = uv_data() + static_cast<size_t>(i) * stride();
    const int srcRow = i * rowStep;
    if (srcRow >= cRows) {
      std::memset(dst, 0, w);
      continue;
    }
    const unsigned char* u = srcU + static_cast<size_t>(srcRow) * cStride;
    const unsigned char* v = srcV + static_cast<size_t>(srcRow) * cStride;
    if (colStep == 1) {
      for (int j = 0; j < w / 2; ++j) {
        dst[2 * j] = u[j];
        dst[2 * j + 1] = v[j];
      }
    } else {
      for (int j = 0; j < w / 2; ++j) {
        dst[2 * j] = u[2 * j];
        dst[2 * j + 1] = v[2 * j];
      }
    }
  }
  refresh();
  LOG(WARNING) << "Decode JPEG to YUV: " << clock.elapsed_ms() << " ms.";
  return true;
}

std::shared_ptr<std::vector<unsigned char>> ImageYuv420sp::encode_jpg() {
  const int w = static_cast<int>(width());
  const int h = static_cast<int>(height());
  // The chroma planes of the I420 layout; Y is read in place (TurboJPEG takes plane strides).
  std::unique_ptr<unsigned char[]> chroma(
      new (std::nothrow) unsigned char[static_cast<size_t>(w) * h / 2 + 1]);
  if (!chroma) {
    LOG(ERROR) << "JPEG Compression Failed.";
    return nullptr;
  }
  unsigned char* planeU = chroma.get();
  unsigned char* planeV = planeU + static_cast<size_t>(w / 2) * (h / 2);
  for (int i = 0; i < h / 2; ++i) {
    const unsigned char* src = uv_data() + static_cast<size_t>(i) * stride();
    unsigned char* u = planeU + static_cast<size_t>(i) * (w / 2);
    unsigned char* v = planeV + static_cast<size_t>(i) * (w / 2);
    for (int j = 0; j < w / 2; ++j) {
      u[j] = src[2 * j];
      v[j] = src[2 * j + 1];
    }
  }

  tjhandle handle = tjInitCompress();
  if (handle == nullptr) {
    LOG(ERROR) << "TJ Handle Init Compression Failed.";
    return nullptr;
  }
  std::unique_ptr<void, int (*)(tjhandle)> guard(handle, tjDestroy);
  const unsigned long yuvSize = tjBufSizeYUV2(w, 1, h, TJSAMP_420);
  if (yuvSize == static_cast<unsigned long>(-1)) {
    LOG(ERROR) << "Get YUV Size Failed.";
    return nullptr;
  }
  // clang-format off
  CHECK(yuvSize == width() * height() * 3/2) << "w/h=" << w << "/" << h;
  // clang-format on

  const unsigned char* planes[3] = {data(), planeU, planeV};
  const int strides[3] = {static_cast<int>(stride()), w / 2, w / 2};
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  if (tjCompressFromYUVPlanes(handle, planes, w, strides, h, TJSAMP_420, &jpeg, &jpegSize, 98, 0) != 0) {
    LOG(ERROR) << "JPEG Compression Failed.";
    if (jpeg != nullptr) tjFree(jpeg);
    return nullptr;
  }
  auto out = std::make_shared<std::vector<unsigned char>>(jpeg, jpeg + jpegSize);
  tjFree(jpeg);
  return out;
}

std::shared_ptr<ImageBase> ImageYuv420sp::produce() const {
  auto blob = std::make_shared<MmzBlob>();
  blob->resize(std::vector<int>{1, 0, 0}, 32);
  return std::make_shared<ImageYuv420sp>(nullptr, [blob](unsigned int w, unsigned int h) {
    const int rows = static_cast<int>(h * 3 / 2);
    blob->resize(std::vector<int>{1, rows, static_cast<int>(w)}, 32);
    return plane_over_mmz(*blob, 1, rows, static_cast<int>(w));
  });
}

void ImageYuv420sp::draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b) {
  if (r != lastRgb_[0] || g != lastRgb_[1] || b != lastRgb_[2]) {
    lastRgb_[0] = r;
    lastRgb_[1] = g;
    lastRgb_[2] = b;
    rgbchannel::rgb2yuv(lastRgb_, lastYuv_);
  }
  // Straight from the raw plane: this runs once per drawn pixel.
  const BlobPlane<unsigned char>& raw = *yuvData_.image;
  const size_t rowBytes = static_cast<size_t>(raw.stride);
  raw.data[static_cast<size_t>(y) * rowBytes + x] = lastYuv_[0];
  unsigned char* pair = raw.data + (static_cast<size_t>(yuvData_.height) + y / 2) * rowBytes + (x / 2) * 2;
  pair[0] = lastYuv_[1];
  pair[1] = lastYuv_[2];
}
