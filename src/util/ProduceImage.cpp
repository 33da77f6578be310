#include "util/ProduceImage.h"

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "kbase/Database.h"
#include "nn/ssc/kavo_ipu_common.h"
#include "platform/Mmz.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"

namespace {

// Host memory: the vector grows or shrinks to the plane; the plane views it (no physical address).
std::shared_ptr<BlobPlane<unsigned char>> plane_over_vector(std::vector<unsigned char>& vec, int planes,
                                                            int rows, int width) {
  vec.resize(static_cast<size_t>(planes) * rows * width);
  return std::make_shared<BlobPlane<unsigned char>>(vec.data(), planes, rows, width, width);
}

int nv12_rows(unsigned int h) { return static_cast<int>(h * 3 / 2); }

}  // namespace

std::shared_ptr<BlobPlane<unsigned char>> plane_over_mmz(const MmzBlob& blob, int planes, int rows,
                                                         int width) {
  const std::shared_ptr<MmzMemory>& memory = blob.memory();
  return std::make_shared<BlobPlane<unsigned char>>(memory->data(), memory->phy_addr(),
                                                    static_cast<int>(memory->capacity()), planes, rows,
                                                    blob.stride(), width, false);
}

std::shared_ptr<MmzBlob> produce_roi_resize_scratch(const ImageBase& src, const ImageBase& dst,
                                                    const std::vector<float>& roi) {
  CHECK(roi.size() == 4 && roi[0] < roi[2] && roi[1] < roi[3])
      << "an ROI is {x1, y1, x2, y2} with x1 < x2, y1 < y2";
  const long long srcW = src.width(), srcH = src.height(), dstW = dst.width(), dstH = dst.height();
  // Three-plane path: the padded ROI, 3 planes of its rows, in one column of the scratch.
  const long long roiW = static_cast<long long>(std::ceil(srcW * static_cast<double>(roi[2] - roi[0])));
  const long long roiH = static_cast<long long>(std::ceil(srcH * static_cast<double>(roi[3] - roi[1])));
  // NV12 path: the crop (at most the source) and the scaled part (at most the destination), each
  // NV12 with a 16-aligned stride, one after the other.
  const long long cols = std::max({roiW, srcW, dstW, 16ll});
  const long long rows = std::max(3 * roiH, (srcH + dstH) * 3 / 2 + 2);
  CHECK(cols * rows < (1ll << 31)) << "ROI scratch of " << cols << "x" << rows << " bytes is too large";
  return std::make_shared<MmzBlob>(1, static_cast<int>(rows), static_cast<int>(cols), 16);
}

std::shared_ptr<ImageBase> produce_ImageRgb(unsigned int w, unsigned int h,
                                            const std::shared_ptr<std::vector<unsigned char>>& vec) {
  std::shared_ptr<std::vector<unsigned char>> bytes =
      vec ? vec : std::make_shared<std::vector<unsigned char>>();
  auto plane = plane_over_vector(*bytes, 3, static_cast<int>(h), static_cast<int>(w));
  return std::make_shared<ImageRgb>(plane, [bytes](unsigned int w2, unsigned int h2) {
    return plane_over_vector(*bytes, 3, static_cast<int>(h2), static_cast<int>(w2));
  });
}

std::shared_ptr<ImageBase> produce_ImageYuv420sp(unsigned int w, unsigned int h,
                                                 const std::shared_ptr<std::vector<unsigned char>>& vec) {
  std::shared_ptr<std::vector<unsigned char>> bytes =
      vec ? vec : std::make_shared<std::vector<unsigned char>>();
  auto plane = plane_over_vector(*bytes, 1, nv12_rows(h), static_cast<int>(w));
  return std::make_shared<ImageYuv420sp>(plane, [bytes](unsigned int w2, unsigned int h2) {
    return plane_over_vector(*bytes, 1, nv12_rows(h2), static_cast<int>(w2));
  });
}

std::shared_ptr<ImageBase> produce_mmz_ImageRgb(unsigned int w, unsigned int h,
                                                const std::shared_ptr<MmzBlob>& blob) {
  std::shared_ptr<MmzBlob> mmz = blob ? blob : std::make_shared<MmzBlob>();
  mmz->resize(std::vector<int>{3, static_cast<int>(h), static_cast<int>(w)}, 16);
  auto plane = plane_over_mmz(*mmz, 3, static_cast<int>(h), static_cast<int>(w));
  return std::make_shared<ImageRgb>(plane, [mmz](unsigned int w2, unsigned int h2) {
    mmz->resize(std::vector<int>{3, static_cast<int>(h2), static_cast<int>(w2)}, 16);
    return plane_over_mmz(*mmz, 3, static_cast<int>(h2), static_cast<int>(w2));
  });
}

std::shared_ptr<ImageBase> produce_mmz_ImageYuv420sp(unsigned int w, unsigned int h,
                                                     const std::shared_ptr<MmzBlob>& blob) {
  std::shared_ptr<MmzBlob> mmz = blob ? blob : std::make_shared<MmzBlob>();
  mmz->resize(std::vector<int>{1, nv12_rows(h), static_cast<int>(w)}, 16);
  auto plane = plane_over_mmz(*mmz, 1, nv12_rows(h), static_cast<int>(w));
  return std::make_shared<ImageYuv420sp>(plane, [mmz](unsigned int w2, unsigned int h2) {
    mmz->resize(std::vector<int>{1, nv12_rows(h2), static_cast<int>(w2)}, 16);
    return plane_over_mmz(*mmz, 1, nv12_rows(h2), static_cast<int>(w2));
  });
}

std::shared_ptr<ImageBase> produce_ImageYuv420sp(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo) {
  CHECK(pBlobInfo) << "no tensor descriptor";
  CHECK(pBlobInfo->enBlobType == MI_IPU_FORMAT_NV12)
      << "tensor " << pBlobInfo->name << " has format " << static_cast<int>(pBlobInfo->enBlobType);
  CHECK(pBlobInfo->u32ShapeVec.size() >= 3) << "tensor " << pBlobInfo->name;
  const std::vector<uint32_t>& shape = pBlobInfo->u32ShapeVec;
  const int h = static_cast<int>(shape[shape.size() - 3]);
  const int w = static_cast<int>(shape[shape.size() - 2]);
  // The descriptor is shared: the plane always views the buffer it names now.
  auto view = [pBlobInfo, h, w]() {
    return std::make_shared<BlobPlane<unsigned char>>(
        static_cast<unsigned char*>(pBlobInfo->pVirAddr), pBlobInfo->u64PhyAddr,
        static_cast<int>(pBlobInfo->u32AlignedBufSize), 1, h * 3 / 2, w, w, false);
  };
  return std::make_shared<ImageYuv420sp>(view(), [view](unsigned int w, unsigned int h) {
    CHECK(w == 0 and h == 0) << "cannot be resized.";
    return view();
  });
}

std::shared_ptr<ImageBase> produce_Image() {
  static const std::shared_ptr<ImageBase> image = [] {
    LOG(WARNING) << "singleton_ImageBase";
    const std::string format = singleton_ParamCfg()->select_single("ImageFormat", true, "");
    if (format == "ImageYuv420sp") return produce_mmz_ImageYuv420sp(0, 0, nullptr);
    if (format == "ImageRgb") return produce_mmz_ImageRgb(0, 0, nullptr);
    LOG(FATAL) << "cannot recognize " << format;
    return std::shared_ptr<ImageBase>();
  }();
  return image;
}
