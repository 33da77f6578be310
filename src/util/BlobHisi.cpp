#include "util/BlobHisi.h"

#include <glog/logging.h>

#include <type_traits>

#include "platform/Iveproc.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"

namespace {

// One quantised element: see BlobSSCQuant::copy_from.
template <typename T>
T quantise(float v) {
  long long i = blobssc::trunc_to_i64(v);
  if constexpr (std::is_same<T, unsigned char>::value) {
    unsigned long long u = i < 0 ? 0 : static_cast<unsigned long long>(i);
    return static_cast<unsigned char>(u & 0xFFu);
  } else if constexpr (std::is_same<T, short>::value) {
    return blobssc::low16(static_cast<unsigned long long>(i));
  } else {
    return blobssc::low32(static_cast<unsigned long long>(i));
  }
}

// The 2-D DMA takes 16-bit geometry.
uint16_t dma16(long long v) {
  CHECK(v >= 0 && v <= 0xFFFF) << "2-D copy geometry out of range: " << v;
  return static_cast<uint16_t>(v);
}

}  // namespace

BlobSSC::~BlobSSC() = default;

// ---------------------------------------------------------------------------------------------------------
// Tensors

template <typename T>
BlobSSCTensor<T>::BlobSSCTensor(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo,
                                unsigned long long id, const std::string& name)
    : ResourceBase(id, name, "none"), BlobSSC(pBlobInfo) {
  CHECK(pBlobInfo_ != nullptr) << "no tensor descriptor for " << name;
}

template <typename T>
BlobSSCTensor<T>::~BlobSSCTensor() = default;

template <typename T>
void BlobSSCTensor<T>::init_line() {
  const std::vector<int> s = shape();
  // Width comes from the last dimension: a tensor without dimensions has no layout.
  CHECK(s.size() >= 1) << "tensor without dimensions: " << resName();
  const int n = static_cast<int>(s.size());
  const int width = s[n - 1];
  const int height = n >= 2 ? s[n - 2] : 1;
  const int planes = n >= 3 ? s[n - 3] : 1;
  line_ =
      std::make_shared<BlobPlane<T>>(static_cast<T*>(pBlobInfo_->pVirAddr), pBlobInfo_->u64PhyAddr,
                                     static_cast<int>(pBlobInfo_->u32AlignedBufSize), planes, height,
                                     static_cast<int>(pBlobInfo_->u32StrideBytes / sizeof(T)), width, false);
}

template <typename T>
double BlobSSCTensor<T>::distance(const FeatureMapInterface<T>& another) const {
  return FeatureMapInterface<T>::distance(another);
}

template <typename T>
std::vector<int> BlobSSCTensor<T>::shape() const {
  return std::vector<int>(pBlobInfo_->u32ShapeVec.begin(), pBlobInfo_->u32ShapeVec.end());
}

template <typename T>
std::shared_ptr<BlobGeneral<float>> BlobSSCQuant<T>::to_float(bool toNCHW) const {
  const std::vector<int> shape_before = this->shape();
  auto r = std::make_shared<BlobGeneral<float>>(shape_before, false, 0, "UNKNOWN_BLOBGENERAL");
  copy_to(r->data, r->count());
  if (!toNCHW) return r;
  long long product = 1;
  for (int d : shape_before) product *= d;
  if (shape_before.back() == product) return r;
  CHECK(shape_before.size() == 4);
  const int N = shape_before[0], H = shape_before[1], W = shape_before[2], C = shape_before[3];
  auto out =
      std::make_shared<BlobGeneral<float>>(std::vector<int>{N, C, H, W}, false, 0, "UNKNOWN_BLOBGENERAL");
  const float* in = r->data;
  float* o = out->data;
  for (int n = 0; n < N; ++n) {
    for (int h = 0; h < H; ++h) {
      for (int w = 0; w < W; ++w) {
        const float* cell = in + ((static_cast<long long>(n) * H + h) * W + w) * C;
        for (int c = 0; c < C; ++c) o[((static_cast<long long>(n) * C + c) * H + h) * W + w] = cell[c];
      }
    }
  }
  return out;
}

template <typename T>
void BlobSSCQuant<T>::copy_from(const float* srcPara, int cnt) {
  const BlobLine<T>& line = *this->line_;
  // The count is checked before anything is written, so a short source is never overrun.
  const float* src = srcPara + static_cast<long long>(line.highDimS) * line.width;
  CHECK(srcPara + cnt == src);
  const float* s = srcPara;
  const float scale = this->pBlobInfo_->fScalar;
  const float zero = static_cast<float>(this->pBlobInfo_->s64ZeroPoint);
  for (int r = 0; r < line.highDimS; ++r) {
    T* d = line.row(r);
    for (int x = 0; x < line.width; ++x, ++s) {
      if constexpr (std::is_same<T, float>::value) {
        d[x] = *s;
      } else {
        d[x] = quantise<T>(*s / scale + zero);
      }
    }
  }
}

template <typename T>
void BlobSSCQuant<T>::copy_to(float* dstPara, int cnt) const {
  const BlobLine<T>& line = *this->line_;
  // The count is checked before anything is written, so a short destination is never overrun.
  float* dst = dstPara + static_cast<long long>(line.highDimS) * line.width;
  CHECK(dstPara + cnt == dst) << "cnt: " << cnt << ", " << line.print(0);
  float* d = dstPara;
  const float scale = this->pBlobInfo_->fScalar;
  const long long zero = static_cast<long long>(this->pBlobInfo_->s64ZeroPoint);
  for (int r = 0; r < line.highDimS; ++r) {
    const T* s = line.row(r);
    for (int x = 0; x < line.width; ++x, ++d) {
      if constexpr (std::is_same<T, float>::value) {
        *d = s[x];
      } else {
        *d = blobssc::dequantise(static_cast<long long>(s[x]), zero, scale);
      }
    }
  }
}

template <typename T>
void BlobSSCQuant<T>::copy_to_roi_from(const BlobSSCQuant<T>* peer, const std::vector<int>& leftTop,
                                       int channel_offset, bool /*flag*/) {
  if constexpr (std::is_same<T, unsigned char>::value) {
    LOG(FATAL) << "Not Implemented.";
  }
  CHECK(peer != nullptr) << "no peer tensor";
  const auto* plane = static_cast<const BlobPlane<T>*>(this->line_.get());
  const auto* peerPlane = static_cast<const BlobPlane<T>*>(peer->line_.get());
  // Planes are H, rows W, row elements C.
  const int H = plane->highDimHS, W = plane->height, C = plane->width;
  const int peerH = peerPlane->highDimHS, peerW = peerPlane->height, peerC = peerPlane->width;
  CHECK(leftTop.size() == 2);
  CHECK(C == 2 * peerC);
  CHECK(H == 2 * peerH);
  CHECK(W == 2 * peerW);
  CHECK(channel_offset == 0 or channel_offset == peerC);
  CHECK(leftTop[0] >= 0 && leftTop[0] + peerW <= W) << "rows out of range: leftTop[0] = " << leftTop[0];
  CHECK(leftTop[1] >= 0 && leftTop[1] + peerH <= H) << "planes out of range: leftTop[1] = " << leftTop[1];
  if (plane->phy_data == 0 || peerPlane->phy_data == 0) LOG(FATAL) << "Not Implemented.";

  const long long esize = sizeof(T);
  const long long strideBytes = plane->stride * esize;
  const long long peerStrideBytes = peerPlane->stride * esize;
  for (int r = 0; r < peerH; ++r) {
    const uint64_t srcPhy = peerPlane->phy_data + static_cast<uint64_t>(r) * peerW * peerStrideBytes;
    const uint64_t dstPhy = plane->phy_data + static_cast<uint64_t>(leftTop[1] + r) * W * strideBytes;
    misys_2d_u8c1_roi_copy(srcPhy, dma16(peerStrideBytes), dma16(peerC * esize), dma16(peerW), 0, 0,
                           dma16(peerC * esize), dma16(peerW), dstPhy, dma16(strideBytes), dma16(C * esize),
                           dma16(W), dma16(channel_offset * esize), dma16(leftTop[0]), dma16(peerC * esize),
                           dma16(peerW));
  }
}

BlobSSCU8::BlobSSCU8(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
                     const std::string& name)
    : BlobSSCQuant<unsigned char>(info, id, name) {
  CHECK(pBlobInfo_->enBlobType == MI_IPU_FORMAT_U8);
  init_line();
}

BlobSSCInt16::BlobSSCInt16(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
                           const std::string& name)
    : BlobSSCQuant<short>(info, id, name) {
  CHECK(pBlobInfo_->enBlobType == MI_IPU_FORMAT_INT16);
  init_line();
}

BlobSSCInt32::BlobSSCInt32(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
                           const std::string& name)
    : BlobSSCQuant<int>(info, id, name) {
  CHECK(pBlobInfo_->enBlobType == MI_IPU_FORMAT_INT32);
  init_line();
}

BlobSSCFloat::BlobSSCFloat(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
                           const std::string& name)
    : BlobSSCQuant<float>(info, id, name) {
  CHECK(pBlobInfo_->enBlobType == MI_IPU_FORMAT_FP32);
  init_line();
}

namespace {

// The line of an ARGB/ABGR tensor: planes x hwc_height rows of hwc_width bytes.
std::shared_ptr<BlobLine<unsigned char>> argb_line(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo) {
  const auto& s = pBlobInfo->u32ShapeVec;
  CHECK(pBlobInfo->u32ShapeVec.size() >= 2);
  const unsigned int hwc_width = s[s.size() - 1];
  const unsigned int hwc_height = s[s.size() - 2];
  const unsigned int planes = s.size() >= 3 ? s[s.size() - 3] : 1;
  CHECK(hwc_height % 4 == 0);
  CHECK(pBlobInfo->u32StrideBytes == hwc_width);
  return std::make_shared<BlobPlane<unsigned char>>(
      static_cast<unsigned char*>(pBlobInfo->pVirAddr), pBlobInfo->u64PhyAddr,
      static_cast<int>(pBlobInfo->u32AlignedBufSize), static_cast<int>(planes), static_cast<int>(hwc_height),
      static_cast<int>(pBlobInfo->u32StrideBytes), static_cast<int>(hwc_width), false);
}

}  // namespace

BlobSSCARGB::BlobSSCARGB(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
                         const std::string& name)
    : BlobSSCTensor<unsigned char>(pBlobInfo, id, name) {
  CHECK(pBlobInfo_->enBlobType == MI_IPU_FORMAT_ARGB8888);
  line_ = argb_line(pBlobInfo);
}

BlobSSCABGR::BlobSSCABGR(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
                         const std::string& name)
    : BlobSSCTensor<unsigned char>(pBlobInfo, id, name) {
  CHECK(pBlobInfo_->enBlobType == MI_IPU_FORMAT_ABGR8888);
  line_ = argb_line(pBlobInfo);
}

template class BlobSSCTensor<unsigned char>;
template class BlobSSCTensor<short>;
template class BlobSSCTensor<int>;
template class BlobSSCTensor<float>;
template class BlobSSCQuant<unsigned char>;
template class BlobSSCQuant<short>;
template class BlobSSCQuant<int>;
template class BlobSSCQuant<float>;

// ---------------------------------------------------------------------------------------------------------
// Images over input tensors

namespace {

// The image views the tensor buffer for its whole life: it can never reallocate.
std::shared_ptr<BlobPlane<unsigned char>> no_reallocation(unsigned int, unsigned int) {
  LOG(FATAL) << "cannot allocate memory for KAVO_MODEL_BLOB_INFO_S";
  return nullptr;
}

std::shared_ptr<ImageBase> nv12_image(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo) {
  CHECK(pBlobInfo != nullptr) << "no tensor descriptor";
  CHECK(pBlobInfo->enBlobType == MI_IPU_FORMAT_NV12);
  CHECK(pBlobInfo->u32ShapeVec.size() >= 3);
  const auto& s = pBlobInfo->u32ShapeVec;
  const int H = static_cast<int>(s[s.size() - 3]);
  const int W = static_cast<int>(s[s.size() - 2]);
  auto plane = std::make_shared<BlobPlane<unsigned char>>(
      static_cast<unsigned char*>(pBlobInfo->pVirAddr), pBlobInfo->u64PhyAddr,
      static_cast<int>(pBlobInfo->u32AlignedBufSize), 1, H * 3 / 2, W, W, false);
  return std::make_shared<ImageYuv420sp>(plane, no_reallocation);
}

std::shared_ptr<ImageBase> bgr_image(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo) {
  CHECK(pBlobInfo != nullptr) << "no tensor descriptor";
  CHECK(pBlobInfo->enBlobType == MI_IPU_FORMAT_U8);
  CHECK(pBlobInfo->u32ShapeVec.size() >= 3);
  const auto& s = pBlobInfo->u32ShapeVec;
  const unsigned int channel = s[s.size() - 1];
  const int W = static_cast<int>(s[s.size() - 2]);
  const int H = static_cast<int>(s[s.size() - 3]);
  const unsigned int stride = pBlobInfo->u32StrideBytes;
  CHECK(stride == channel);
  auto plane = std::make_shared<BlobPlane<unsigned char>>(
      static_cast<unsigned char*>(pBlobInfo->pVirAddr), pBlobInfo->u64PhyAddr,
      static_cast<int>(pBlobInfo->u32AlignedBufSize), H, W, static_cast<int>(channel),
      static_cast<int>(channel), false);
  return std::make_shared<ImageRgb>(plane, no_reallocation);
}

}  // namespace

BlobSSCImage::BlobSSCImage(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
                           const std::string& /*name*/)
    : ResourceImage(id, "UNKNOWN_IMAGE", "none", nv12_image(pBlobInfo)), BlobSSC(pBlobInfo) {}

BlobSSCImage::~BlobSSCImage() = default;

BlobSSCImageBGR::BlobSSCImageBGR(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo,
                                 unsigned long long id, const std::string& /*name*/)
    : ResourceImage(id, "UNKNOWN_IMAGE", "none", bgr_image(pBlobInfo)), BlobSSC(pBlobInfo) {}

BlobSSCImageBGR::~BlobSSCImageBGR() = default;
