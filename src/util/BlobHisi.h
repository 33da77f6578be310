// IPU-backed blobs: stored resources whose elements live in one buffer copy of an IPU tensor, described
// by a KAVO_MODEL_BLOB_INFO_S. They own no memory: the model channel allocated the buffer, and the
// network wrapper makes one blob per tensor and buffer copy so that the frame store recycles them in
// place. Through them the pipeline reads quantised outputs as float, writes float inputs into
// quantised tensors, compares feature maps, assembles a large feature map from four smaller ones and
// sees NV12 or BGR input tensors as images. Quantised values mean real = (q - zero point) x scale.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frss/ResourceBase.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "util/BlobBase.h"
#include "util/BlobGeneral.h"
#include "util/ResourceImage.h"

// Conversions shared by every reader of quantised tensors, free of undefined behaviour.
namespace blobssc {

// v truncated toward zero into 64 bits; NaN gives 0 and values beyond the range saturate.
inline long long trunc_to_i64(float v) {
  if (!(v == v)) return 0;
  constexpr float kTwo63 = 9223372036854775808.0f;
  if (v >= kTwo63) return 0x7FFFFFFFFFFFFFFFLL;
  if (v <= -kTwo63) return -0x7FFFFFFFFFFFFFFFLL - 1;
  return static_cast<long long>(v);
}

// The low 16 bits of v as a signed (two's complement) value.
inline short low16(unsigned long long v) {
  unsigned int u = static_cast<unsigned int>(v & 0xFFFFu);
  return static_cast<short>(u >= 0x8000u ? static_cast<int>(u) - 0x10000 : static_cast<int>(u));
}

// The low 32 bits of v as a signed (two's complement) value.
inline int low32(unsigned long long v) {
  unsigned int u = static_cast<unsigned int>(v & 0xFFFFFFFFu);
  return u <= 0x7FFFFFFFu ? static_cast<int>(u) : static_cast<int>(u - 0x80000000u) - 0x7FFFFFFF - 1;
}

// (q - zeroPoint) x scale; the difference is taken modulo 2^64 so that no zero point overflows.
inline float dequantise(long long q, long long zeroPoint, float scale) {
  unsigned long long diff = static_cast<unsigned long long>(q) - static_cast<unsigned long long>(zeroPoint);
  long long d =
      diff <= 0x7FFFFFFFFFFFFFFFULL ? static_cast<long long>(diff) : -static_cast<long long>(~diff) - 1;
  return static_cast<float>(d) * scale;
}

}  // namespace blobssc

// What every IPU-backed blob shares: the descriptor of the tensor buffer it stands for.
// Not thread-safe; a blob is used by the one stage that holds its frame's resources.
class BlobSSC {
 public:
  virtual ~BlobSSC();
  // The descriptor (shared with the wrapper); it names one buffer copy for the blob's whole life.
  virtual std::shared_ptr<KAVO_MODEL_BLOB_INFO_S> pBlobInfo() const { return pBlobInfo_; }

 protected:
  explicit BlobSSC(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo) : pBlobInfo_(pBlobInfo) {}

  std::shared_ptr<KAVO_MODEL_BLOB_INFO_S> pBlobInfo_;
};

// A tensor of elements T as a feature map: its line is a BlobPlane over the tensor's buffer, with
// width = last dimension, height = second-last (1 for one dimension) and planes = third-last (1 for
// fewer dimensions; outer dimensions do not count), rows u32StrideBytes apart.
// Not thread-safe; one owner at a time.
template <typename T>
class BlobSSCTensor : public ResourceBase, public BlobSSC, public FeatureMapInterface<T> {
 public:
  ~BlobSSCTensor() override;

  std::shared_ptr<BlobLine<T>> underneath() const override { return line_; }
  // Euclidean distance over the raw (quantised) elements; fatal unless the rows and widths agree.
  double distance(const FeatureMapInterface<T>& another) const override;
  // u32ShapeVec as int.
  std::vector<int> shape() const override;

 protected:
  BlobSSCTensor(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
                const std::string& name);
  // Builds the line; called by the concrete constructor once the format is checked.
  void init_line();

  std::shared_ptr<BlobLine<T>> line_;
};

// A quantised (or float) tensor that converts to and from float.
// Not thread-safe; one owner at a time.
template <typename T>
class BlobSSCQuant : public BlobSSCTensor<T> {
 public:
  using FeatureMapInterface<T>::copy_from;

  // A new host float blob (id 0, "UNKNOWN_BLOBGENERAL") with the tensor's shape and dequantised
  // values; with toNCHW a 4-dimensional NHWC tensor comes back as NCHW (a tensor whose last dimension
  // holds every element is returned as it is). Fatal for other ranks when a transpose is needed.
  std::shared_ptr<BlobGeneral<float>> to_float(bool toNCHW) const;
  // Quantises cnt floats, row by row, into the used elements: v / scale + zero point, truncated
  // toward zero through a 64-bit integer (saturating; NaN gives 0), then U8 keeps the low 8 bits of
  // the value clamped at 0, Int16 the low 16 bits, Int32 the low 32 bits. Float copies. Fatal unless
  // cnt equals rows x width.
  void copy_from(const float* srcPara, int cnt);
  // Dequantises the used elements, row by row, into cnt floats: (q - zero point) x scale, the
  // difference taken in 64 bits. Float copies. Fatal unless cnt equals rows x width.
  void copy_to(float* dstPara, int cnt) const;
  // Writes `peer` (half as many planes H, rows W and channels C) into this tensor, plane by plane with
  // the platform's 2-D DMA: peer plane r goes to plane leftTop[1] + r from row leftTop[0], at channel
  // channel_offset (0 or peer C). Both tensors must be in platform memory. `flag` is unused. Not
  // implemented for U8 (fatal).
  void copy_to_roi_from(const BlobSSCQuant<T>* peer, const std::vector<int>& leftTop, int channel_offset,
                        bool flag);

 protected:
  using BlobSSCTensor<T>::BlobSSCTensor;
};

// MI_IPU_FORMAT_U8 tensor.
class BlobSSCU8 : public BlobSSCQuant<unsigned char> {
 public:
  BlobSSCU8(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
            const std::string& name);
};

// MI_IPU_FORMAT_INT16 tensor (detector outputs).
class BlobSSCInt16 : public BlobSSCQuant<short> {
 public:
  BlobSSCInt16(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
               const std::string& name);
};

// MI_IPU_FORMAT_INT32 tensor.
class BlobSSCInt32 : public BlobSSCQuant<int> {
 public:
  BlobSSCInt32(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
               const std::string& name);
};

// MI_IPU_FORMAT_FP32 tensor: conversions copy unchanged.
class BlobSSCFloat : public BlobSSCQuant<float> {
 public:
  BlobSSCFloat(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info, unsigned long long id,
               const std::string& name);
};

// MI_IPU_FORMAT_ARGB8888 tensor: rows of hwc_width bytes (the stride must equal it), hwc_height a
// multiple of 4.
class BlobSSCARGB : public BlobSSCTensor<unsigned char> {
 public:
  BlobSSCARGB(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
              const std::string& name);
};

// MI_IPU_FORMAT_ABGR8888 tensor; as BlobSSCARGB.
class BlobSSCABGR : public BlobSSCTensor<unsigned char> {
 public:
  BlobSSCABGR(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
              const std::string& name);
};

// An NV12 input tensor of shape (.., H, W, ..) seen as an ImageYuv420sp of W x H over the buffer, so
// the image operations write the network input in place. The image can never reallocate (fatal).
// The resource is named "UNKNOWN_IMAGE". Not thread-safe; one owner at a time.
class BlobSSCImage : public ResourceImage, public BlobSSC {
 public:
  BlobSSCImage(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
               const std::string& name);
  ~BlobSSCImage() override;
};

// A U8 input tensor in HWC order (C channels interleaved, the stride equal to C) seen as an ImageRgb
// whose plane has H planes of W rows of C bytes. The image can never reallocate (fatal). The resource
// is named "UNKNOWN_IMAGE". Not thread-safe; one owner at a time.
class BlobSSCImageBGR : public ResourceImage, public BlobSSC {
 public:
  BlobSSCImageBGR(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo, unsigned long long id,
                  const std::string& name);
  ~BlobSSCImageBGR() override;
};

extern template class BlobSSCTensor<unsigned char>;
extern template class BlobSSCTensor<short>;
extern template class BlobSSCTensor<int>;
extern template class BlobSSCTensor<float>;
extern template class BlobSSCQuant<unsigned char>;
extern template class BlobSSCQuant<short>;
extern template class BlobSSCQuant<int>;
extern template class BlobSSCQuant<float>;
