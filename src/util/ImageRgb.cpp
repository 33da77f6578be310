#include "util/ImageRgb.h"

#include <glog/logging.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "kbase/Clock.h"
#include "mi_common.h"
#include "mi_sys.h"
#include "platform/Iveproc.h"
#include "platform/Mmz.h"
#include "util/ProduceImage.h"
#include "util/RoiResize.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define KAVO_RGB_SHUFFLE_SSSE3 1
#endif

// The fatal checks below spell the system's conditions exactly, some of which compare the images'
// unsigned sizes with int ROI values.
#pragma GCC diagnostic ignored "-Wsign-compare"

namespace {

const std::vector<float> kWholeRoi = {0.f, 0.f, 1.f, 1.f};

const ImageRgb* as_rgb(const ImageBase* another, const ImageRgb* self) {
  const ImageRgb* peer = dynamic_cast<const ImageRgb*>(another);
  CHECK(peer) << "the source must be an ImageRgb";
  CHECK(peer != self) << "an image cannot be its own source";
  return peer;
}

// The integral scratch block of a lease, under the names the system's checks use.
struct ScratchBlock {
  MmzMemory* memory;
  unsigned long long phyAddr() const { return memory->phy_addr(); }
  int size() const { return memory->size(); }
  unsigned char* data() const { return memory->data(); }
  void flush() const { memory->flush(); }
};

// ---- Plane shuffles around TurboJPEG (interleaved RGB <-> three planes), one row at a time ----

void split_rgb_row_plain(const unsigned char* src, unsigned char* r, unsigned char* g, unsigned char* b,
                         size_t from, size_t n) {
  for (size_t x = from; x < n; ++x) {
    r[x] = src[3 * x];
    g[x] = src[3 * x + 1];
    b[x] = src[3 * x + 2];
  }
}

void merge_rgb_row_plain(const unsigned char* r, const unsigned char* g, const unsigned char* b,
                         unsigned char* dst, size_t from, size_t n) {
  for (size_t x = from; x < n; ++x) {
    dst[3 * x] = r[x];
    dst[3 * x + 1] = g[x];
    dst[3 * x + 2] = b[x];
  }
}

#ifdef KAVO_RGB_SHUFFLE_SSSE3
// Byte shuffles for 16 pixels = 48 interleaved bytes in three 16-byte chunks; 0x80 selects zero.
// kSplit[c][j]: the bytes of channel c found in chunk j, moved to their pixel's lane.
// kMerge[j][c]: the lanes of chunk j that take channel c, with the pixel they take it from.
using Masks = std::array<std::array<std::array<unsigned char, 16>, 3>, 3>;
constexpr Masks make_split_masks() {
  Masks m{};
  for (int c = 0; c < 3; ++c)
    for (int j = 0; j < 3; ++j)
      for (int p = 0; p < 16; ++p) {
        const int k = 3 * p + c;
        m[c][j][p] = static_cast<unsigned char>(k / 16 == j ? k % 16 : 0x80);
      }
  return m;
}
constexpr Masks make_merge_masks() {
  Masks m{};
  for (int j = 0; j < 3; ++j)
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 16; ++i) {
        const int k = 16 * j + i;
        m[j][c][i] = static_cast<unsigned char>(k % 3 == c ? k / 3 : 0x80);
      }
  return m;
}
alignas(16) constexpr Masks kSplit = make_split_masks();
alignas(16) constexpr Masks kMerge = make_merge_masks();

__m128i mask(const std::array<unsigned char, 16>& m) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(m.data()));
}

__attribute__((target("ssse3"))) void split_rgb_row_ssse3(const unsigned char* src, unsigned char* r,
                                                          unsigned char* g, unsigned char* b, size_t n) {
  unsigned char* planes[3] = {r, g, b};
  // Rows of platform planes start 16-byte aligned: stream them past the cache, which saves reading
  // destination lines that are about to be overwritten whole.
  const bool aligned =
      ((reinterpret_cast<uintptr_t>(r) | reinterpret_cast<uintptr_t>(g) | reinterpret_cast<uintptr_t>(b)) &
       15) == 0;
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i chunk[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x + 16)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x + 32))};
    for (int c = 0; c < 3; ++c) {
      const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(chunk[0], mask(kSplit[c][0])),
                                                  _mm_shuffle_epi8(chunk[1], mask(kSplit[c][1]))),
                                     _mm_shuffle_epi8(chunk[2], mask(kSplit[c][2])));
      if (aligned) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(planes[c] + x), v);
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(planes[c] + x), v);
      }
    }
  }
  if (aligned) _mm_sfence();
  split_rgb_row_plain(src, r, g, b, x, n);
}

__attribute__((target("ssse3"))) void merge_rgb_row_ssse3(const unsigned char* r, const unsigned char* g,
                                                          const unsigned char* b, unsigned char* dst,
                                                          size_t n) {
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i plane[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x))};
    for (int j = 0; j < 3; ++j) {
      const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(plane[0], mask(kMerge[j][0])),
                                                  _mm_shuffle_epi8(plane[1], mask(kMerge[j][1]))),
                                     _mm_shuffle_epi8(plane[2], mask(kMerge[j][2])));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x + 16 * j), v);
    }
  }
  merge_rgb_row_plain(r, g, b, dst, x, n);
}

const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");
#endif

// The byte loops alone run at a third of memory speed on x86, which would make the shuffles a
// fifth of a JPEG call; pshufb moves 16 pixels at a time. Elsewhere (NEON) the compiler's
// interleaved loads and stores do the same for the plain loops.
void split_rgb_row(const unsigned char* src, unsigned char* r, unsigned char* g, unsigned char* b, size_t n) {
#ifdef KAVO_RGB_SHUFFLE_SSSE3
  if (kHaveSsse3) return split_rgb_row_ssse3(src, r, g, b, n);
#endif
  split_rgb_row_plain(src, r, g, b, 0, n);
}

void merge_rgb_row(const unsigned char* r, const unsigned char* g, const unsigned char* b, unsigned char* dst,
                   size_t n) {
#ifdef KAVO_RGB_SHUFFLE_SSSE3
  if (kHaveSsse3) return merge_rgb_row_ssse3(r, g, b, dst, n);
#endif
  merge_rgb_row_plain(r, g, b, dst, 0, n);
}

bool platform_pair(const ImageRgb& a, const ImageRgb& b) { return a.phy() != 0 && b.phy() != 0; }

}  // namespace

ImageRgb::ImageRgb(const std::shared_ptr<BlobPlane<unsigned char>>& plane, const PlaneProducer& producer)
    : pBlob_(plane), producer_(producer) {
  if (!pBlob_) {
    CHECK(producer_) << "an image needs a plane or a producer";
    pBlob_ = producer_(0, 0);
  }
}

ImageRgb::~ImageRgb() = default;

unsigned int ImageRgb::width() const { return static_cast<unsigned int>(pBlob_->width); }
unsigned int ImageRgb::height() const { return static_cast<unsigned int>(pBlob_->height); }
unsigned int ImageRgb::stride() const { return static_cast<unsigned int>(pBlob_->stride); }
unsigned char* ImageRgb::data() const { return pBlob_->data; }
unsigned long long ImageRgb::phy() const { return pBlob_->phy_data; }

unsigned char* ImageRgb::plane_data(int k) const {
  return pBlob_->data + static_cast<size_t>(k) * pBlob_->stride * pBlob_->height;
}

unsigned long long ImageRgb::plane_phy(int k) const {
  if (pBlob_->phy_data == 0) return 0;
  return pBlob_->phy_data + static_cast<unsigned long long>(k) * pBlob_->stride * pBlob_->height;
}

void ImageRgb::refresh() const {
  if (pBlob_->phy_data == 0 || pBlob_->phy_capacity == 0) return;
  MI_S32 ok = MI_SYS_FlushInvCache(pBlob_->data, static_cast<MI_U32>(pBlob_->phy_capacity));
  CHECK(ok == MI_SUCCESS) << "MI_SYS_FlushInvCache failed: " << pBlob_->phy_capacity;
}

void ImageRgb::reshape(unsigned int width, unsigned int height) {
  if (width == this->width() && height == this->height()) return;
  CHECK(producer_) << "cannot reshape an image without a producer";
  pBlob_ = producer_(width, height);
}

void ImageRgb::reset(unsigned char r, unsigned char g, unsigned char b) {
  const size_t planeBytes = static_cast<size_t>(pBlob_->stride) * pBlob_->height;
  if (planeBytes > 0) {
    std::memset(plane_data(0), r, planeBytes);
    std::memset(plane_data(1), g, planeBytes);
    std::memset(plane_data(2), b, planeBytes);
  }
  refresh();
}

void ImageRgb::copy_from(const ImageBase* another, bool, bool cpu) {
  const ImageRgb* peer = as_rgb(another, this);
  reshape(peer->width(), peer->height());
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = misys_2d_u8c3_roi_copy(
        peer->plane_phy(0), peer->plane_phy(1), peer->plane_phy(2), peer->stride(), peer->stride(),
        peer->stride(), peer->width(), peer->height(), 0, 0, peer->width(), peer->height(), plane_phy(0),
        plane_phy(1), plane_phy(2), stride(), stride(), stride(), width(), height(), 0, 0, width(), height());
    CHECK(ok == MI_SUCCESS) << "misys_2d_u8c3_roi_copy failed.";
  } else {
    pBlob_->copy_from(*peer->pBlob_);
  }
  refresh();
}

void ImageRgb::copy_from_split_planes(const ImageSplitPlaneDesc& desc) {
  reshape(desc.width, desc.height);
  for (int k = 0; k < 3; ++k) {
    if (phy() != 0 && desc.phyAddr[k] != 0) {
      int ok = misys_2d_u8c1_roi_copy(desc.phyAddr[k], desc.stride[k], desc.width, desc.height, 0, 0,
                                      desc.width, desc.height, plane_phy(k), stride(), width(), height(), 0,
                                      0, width(), height());
      CHECK(ok == MI_SUCCESS) << "misys_2d_u8c1_roi_copy failed.";
    } else {
      // Host memory on either side: the engines cannot reach it, the CPU copies the mapped planes.
      CHECK(desc.virAddr[k] != nullptr)
          << "plane " << k << " has neither a usable physical nor a virtual address";
      for (unsigned int y = 0; y < desc.height; ++y) {
        std::memcpy(plane_data(k) + static_cast<size_t>(y) * stride(),
                    desc.virAddr[k] + static_cast<size_t>(y) * desc.stride[k], desc.width);
      }
    }
  }
  refresh();
}

void ImageRgb::pad_crop_from(const ImageBase* another, const roiresize::PadSize& pad, unsigned char r,
                             unsigned char g, unsigned char b, bool, bool cpu) {
  const ImageRgb* peer = as_rgb(another, this);
  const long long newWidth = static_cast<long long>(peer->width()) + pad.xPad();
  const long long newHeight = static_cast<long long>(peer->height()) + pad.yPad();
  CHECK(newWidth > 0 && newHeight > 0) << "pad/crop leaves no pixels: " << peer->width() << "x"
                                       << peer->height() << " with left/right/top/bottom=" << pad.left << "/"
                                       << pad.right << "/" << pad.top << "/" << pad.bottom;
  reshape(static_cast<unsigned int>(newWidth), static_cast<unsigned int>(newHeight));
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = mi_u8c3_crop_padding(
        peer->plane_phy(0), peer->plane_phy(1), peer->plane_phy(2), peer->plane_data(0), peer->plane_data(1),
        peer->plane_data(2), peer->stride(), peer->stride(), peer->stride(), peer->width(), peer->height(),
        plane_phy(0), plane_phy(1), plane_phy(2), plane_data(0), plane_data(1), plane_data(2), stride(),
        stride(), stride(), width(), height(), pad.left, pad.right, pad.top, pad.bottom, r, g, b);
    CHECK(ok == MI_SUCCESS) << "mi_u8c3_crop_padding failed.";
  } else {
    const unsigned char values[3] = {r, g, b};
    const std::vector<int> inShape = {1, static_cast<int>(peer->height()), static_cast<int>(peer->width())};
    const std::vector<int> outShape = {1, static_cast<int>(height()), static_cast<int>(width())};
    for (int k = 0; k < 3; ++k) {
      roiresize::pad_crop<unsigned char>(peer->plane_data(k), inShape, peer->stride(), plane_data(k),
                                         outShape, stride(), pad, values[k]);
    }
  }
  refresh();
}

void ImageRgb::roi_resize_from(const ImageBase* another, const std::vector<float>& roi,
                               std::shared_ptr<MmzBlob>& scratch, unsigned char r, unsigned char g,
                               unsigned char b, bool, bool cpu) {
  const ImageRgb* peer = as_rgb(another, this);
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = mi_u8c3_roi_resize(peer->plane_phy(0), peer->plane_phy(1), peer->plane_phy(2),
                                peer->plane_data(0), peer->plane_data(1), peer->plane_data(2), peer->stride(),
                                peer->stride(), peer->stride(), peer->width(), peer->height(), plane_phy(0),
                                plane_phy(1), plane_phy(2), plane_data(0), plane_data(1), plane_data(2),
                                stride(), stride(), stride(), width(), height(), scratch, roi, r, g, b);
    CHECK(ok == MI_SUCCESS) << "mi_u8c3_roi_resize failed.";
  } else {
    const unsigned char values[3] = {r, g, b};
    const std::vector<int> inShape = {1, static_cast<int>(peer->height()), static_cast<int>(peer->width())};
    const std::vector<int> outShape = {1, static_cast<int>(height()), static_cast<int>(width())};
    for (int k = 0; k < 3; ++k) {
      roiresize::roi_resize_4corners<unsigned char>(peer->plane_data(k), inShape, peer->stride(),
                                                    plane_data(k), outShape, stride(), roi, values[k]);
    }
  }
  refresh();
}

void ImageRgb::resize_from(const ImageBase* another, bool, bool cpu) {
  const ImageRgb* peer = as_rgb(another, this);
  if (platform_pair(*this, *peer) && !cpu) {
    int ok = miive_u8c3_resize(peer->plane_phy(0), peer->plane_phy(1), peer->plane_phy(2),
                               peer->plane_data(0), peer->plane_data(1), peer->plane_data(2), peer->stride(),
                               peer->stride(), peer->stride(), peer->width(), peer->height(), plane_phy(0),
                               plane_phy(1), plane_phy(2), plane_data(0), plane_data(1), plane_data(2),
                               stride(), stride(), stride(), width(), height());
    CHECK(ok == MI_SUCCESS) << "miive_u8c3_resize failed.";
    refresh();
  } else {
    std::shared_ptr<MmzBlob> unusedScratch;
    roi_resize_from(peer, kWholeRoi, unusedScratch, 0, 0, 0, false, true);
  }
}

void ImageRgb::downsample_2_from(const ImageBase* another, bool cpu) {
  const ImageRgb* peer = as_rgb(another, this);
  CHECK(peer->height() / 2 <= height() and peer->width() / 2 <= width())
      << "peer w/h=" << peer->width() << "/" << peer->height() << ", w/h=" << width() << "/" << height();
  if (platform_pair(*this, *peer) && !cpu) {
    LOG(ERROR) << "Use Resize Instead for DownSample (1/2x).";
    resize_from(peer, false, false);
    return;
  }
  pBlob_->downsample_2_from(*peer->pBlob_);
  refresh();
}

void ImageRgb::roi_copy_from(const ImageBase* another, const std::vector<int>& dstRoi, bool) {
  static const RoiCopyChecks kChecks = {
      "peer->height() % 2 == 0 and peer->width() % 2 == 0",
      "peer->height() == dstRoi[3] && peer->width() == dstRoi[2]",
      "dstRoi[0] + peer->width() < width()",
      "dstRoi[1] + peer->height() < height()",
  };
  const ImageRgb* peer = as_rgb(another, this);
  check_roi_copy(*peer, dstRoi, kChecks, 1);
  if (platform_pair(*this, *peer)) {
    int ok = misys_2d_u8c3_roi_copy(peer->plane_phy(0), peer->plane_phy(1), peer->plane_phy(2),
                                    peer->stride(), peer->stride(), peer->stride(), peer->width(),
                                    peer->height(), 0, 0, peer->width(), peer->height(), plane_phy(0),
                                    plane_phy(1), plane_phy(2), stride(), stride(), stride(), width(),
                                    height(), dstRoi[0], dstRoi[1], dstRoi[2], dstRoi[3]);
    CHECK(ok == MI_SUCCESS) << "misys_2d_u8c3_roi_copy failed.";
  } else {
    for (int k = 0; k < 3; ++k) {
      copy_rows(peer->plane_data(k), peer->stride(),
                plane_data(k) + static_cast<size_t>(dstRoi[1]) * stride() + dstRoi[0], stride(),
                peer->width(), static_cast<int>(peer->height()));
    }
  }
  refresh();
}

int ImageRgb::gray_of_region(const BoundBox<float>& box) {
  PixelRect px;
  if (!region_pixels(box, &px)) return 0;
  long long sum = 0;
  for (int y = px.y1; y < px.y2; ++y) {
    const size_t row = static_cast<size_t>(y) * stride();
    const unsigned char* rr = plane_data(0) + row;
    const unsigned char* gg = plane_data(1) + row;
    const unsigned char* bb = plane_data(2) + row;
    for (int x = px.x1; x < px.x2; ++x) sum += (rr[x] + gg[x] + bb[x]) / 3;
  }
  return static_cast<int>(sum / (px.x2 - px.x1) / (px.y2 - px.y1));
}

std::vector<int> ImageRgb::gray_of_context(const BoundBox<float>& box) {
  std::vector<int> grays;
  for (const BoundBox<float>& neighbour : context_boxes(box)) grays.push_back(gray_of_region(neighbour));
  return grays;
}

std::shared_ptr<BlobGeneral<unsigned int>> ImageRgb::integ_sum() {
  CHECK(pBlob_->phy_data) << "Only Support IVE";
  IntegScratchLease lease(IntegScratch::kRgbSums);
  ScratchBlock block{lease.memory()};
  const ScratchBlock* output = &block;
  CHECK(output->phyAddr()) << "integral scratch without platform memory";
  CHECK(output->size() >= (3 * height() * stride() * 4)) << " image dim: " << height() << "/" << stride();
  output->flush();
  const unsigned long long planeBytes = 4ull * stride() * height();
  unsigned char* out = static_cast<unsigned char*>(output->data());
  int ok = miive_u8c3_integ(plane_phy(0), plane_phy(1), plane_phy(2), plane_data(0), plane_data(1),
                            plane_data(2), stride(), stride(), stride(), width(), height(), output->phyAddr(),
                            output->phyAddr() + planeBytes, output->phyAddr() + 2 * planeBytes, out,
                            out + planeBytes, out + 2 * planeBytes, 4 * stride(), 4 * stride(), 4 * stride(),
                            4 * width(), height());
  CHECK(ok == MI_SUCCESS) << "miive_u8c3_integ failed.";
  output->flush();
  auto sums = std::make_shared<BlobGeneral<unsigned int>>(
      std::vector<int>{3, static_cast<int>(height()), static_cast<int>(stride())}, false, 0,
      "UNKNOWN_BLOBGENERAL");
  std::memcpy(sums->data, out, 3 * planeBytes);
  return sums;
}

std::shared_ptr<BlobGeneral<unsigned int>> ImageRgb::rgb_integ_map() { return integ_sum(); }

bool ImageRgb::decode_jpg(const std::vector<unsigned char>& bytes, DecodeType) {
  Clock<std::chrono::steady_clock> clock;
  int inWidth = 0, inHeight = 0, subsample = 0, colorspace = 0;
  const JpegDecompressor handle = open_jpeg(bytes, &inWidth, &inHeight, &subsample, &colorspace);
  if (!handle) return false;
  const size_t rowBytes = static_cast<size_t>(inWidth) * 3;
  std::unique_ptr<unsigned char[]> rgb(
      new (std::nothrow) unsigned char[rowBytes * static_cast<size_t>(inHeight)]);
  if (!rgb || tjDecompress2(handle.get(), bytes.data(), bytes.size(), rgb.get(), inWidth, 0, inHeight,
                            TJPF_RGB, 0) != 0) {
    LOG(ERROR) << "TJ Parse to RGB Failed.";
    return false;
  }

  reshape(inWidth, inHeight);
  unsigned char* planes[3] = {plane_data(0), plane_data(1), plane_data(2)};
  for (int y = 0; y < inHeight; ++y) {
    const size_t offset = static_cast<size_t>(y) * stride();
    split_rgb_row(rgb.get() + y * rowBytes, planes[0] + offset, planes[1] + offset, planes[2] + offset,
                  inWidth);
  }
  refresh();
  LOG(WARNING) << "Decode JPEG to RGB: " << clock.elapsed_ms() << " ms.";
  return true;
}

std::shared_ptr<std::vector<unsigned char>> ImageRgb::encode_jpg() {
  tjhandle handle = tjInitCompress();
  if (handle == nullptr) {
    LOG(ERROR) << "TJ Handle Init Compression Failed.";
    return nullptr;
  }
  std::unique_ptr<void, int (*)(tjhandle)> guard(handle, tjDestroy);  // destroyed on every return
  const unsigned int w = width();
  const unsigned int h = height();
  std::unique_ptr<unsigned char[]> rgb(new (std::nothrow) unsigned char[static_cast<size_t>(w) * h * 3 + 1]);
  if (!rgb) {
    LOG(ERROR) << "JPEG Compression to RGB Failed.";
    return nullptr;
  }
  for (unsigned int y = 0; y < h; ++y) {
    const size_t offset = static_cast<size_t>(y) * stride();
    merge_rgb_row(plane_data(0) + offset, plane_data(1) + offset, plane_data(2) + offset,
                  rgb.get() + static_cast<size_t>(y) * w * 3, w);
  }
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  if (tjCompress2(handle, rgb.get(), w, 0, h, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_420, 98, 0) != 0) {
    LOG(ERROR) << "JPEG Compression to RGB Failed.";
    if (jpeg != nullptr) tjFree(jpeg);
    return nullptr;
  }
  auto out = std::make_shared<std::vector<unsigned char>>(jpeg, jpeg + jpegSize);
  tjFree(jpeg);
  return out;
}

std::shared_ptr<ImageBase> ImageRgb::produce() const {
  auto blob = std::make_shared<MmzBlob>();
  blob->resize(std::vector<int>{3, 0, 0}, 32);
  return std::make_shared<ImageRgb>(nullptr, [blob](unsigned int w, unsigned int h) {
    blob->resize(std::vector<int>{3, static_cast<int>(h), static_cast<int>(w)}, 32);
    return plane_over_mmz(*blob, 3, static_cast<int>(h), static_cast<int>(w));
  });
}

void ImageRgb::draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b) {
  // Straight from the plane: this runs once per drawn pixel.
  const BlobPlane<unsigned char>& blob = *pBlob_;
  const size_t planeBytes = static_cast<size_t>(blob.stride) * blob.height;
  unsigned char* pixel = blob.data + static_cast<size_t>(y) * blob.stride + x;
  pixel[0] = r;
  pixel[planeBytes] = g;
  pixel[2 * planeBytes] = b;
}
