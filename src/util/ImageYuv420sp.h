// NV12 image, the camera format of the pipeline: a full-resolution 8-bit Y plane followed by a
// half-resolution plane of interleaved U,V byte pairs, both in one raw plane of height * 3 / 2 rows.
// Frame readers fill it; networks and detectors read it through resize and crop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "util/ImageBase.h"

// Not thread-safe; one writer at a time (see ImageBase). Widths and heights are always even; pad,
// crop and window offsets must be even too (an odd horizontal offset would swap U and V).
class ImageYuv420sp : public ImageBase {
 public:
  // The raw plane and its two views. Copying shares the three planes.
  struct YuvData {
    std::shared_ptr<BlobPlane<unsigned char>> image;  // raw: height * 3 / 2 rows of width bytes
    int width = 0;                                    // image width = raw width
    int height = 0;                                   // image height = raw rows * 2 / 3
    std::shared_ptr<BlobPlane<unsigned char>> y;      // the first `height` rows
    std::shared_ptr<BlobPlane<unsigned short>> uv;    // height / 2 rows of width / 2 U,V pairs

    // Takes the raw plane and rebuilds the views. Fatal unless its rows divide by 3 and its width
    // (and stride) are even.
    void set(const std::shared_ptr<BlobPlane<unsigned char>>& pRawYuv420sp);
  };

  // Uses `raw` when given, otherwise producer(0, 0); fatal with neither. The producer makes the raw
  // plane (height * 3 / 2 rows) of every later reshape.
  ImageYuv420sp(const std::shared_ptr<BlobPlane<unsigned char>>& raw, const PlaneProducer& producer);
  ~ImageYuv420sp() override;

  unsigned int width() const override;
  unsigned int height() const override;
  unsigned int stride() const override;
  unsigned char* data() const override;
  unsigned long long phy() const override;
  void refresh() const override;
  void reshape(unsigned int width, unsigned int height) override;
  void reset(unsigned char r, unsigned char g, unsigned char b) override;
  // Platform pair and !cpu: one 1-D DMA copy when the strides are equal, else a 2-D DMA copy. CPU
  // row copies of Y and UV otherwise.
  void copy_from(const ImageBase* another, bool unused, bool cpu) override;
  void copy_from_split_planes(const ImageSplitPlaneDesc& desc) override;
  // Amounts must be even (fatal otherwise).
  void pad_crop_from(const ImageBase* another, const roiresize::PadSize& pad, unsigned char r,
                     unsigned char g, unsigned char b, bool unused, bool cpu) override;
  // Engine path: the optimised ROI resize (only the part inside the image is scaled; `scratch`
  // must hold the crop and the scaled part, each as NV12 with a 16-aligned stride, unless the ROI is
  // the whole image). CPU path: bilinear resize of Y and of the U,V pairs separately.
  void roi_resize_from(const ImageBase* another, const std::vector<float>& roi,
                       std::shared_ptr<MmzBlob>& scratch, unsigned char r, unsigned char g, unsigned char b,
                       bool unused, bool cpu) override;
  void resize_from(const ImageBase* another, bool unused, bool cpu) override;
  // CPU path: peer width and height must be multiples of 4 (whole U,V pairs are picked).
  void downsample_2_from(const ImageBase* another, bool cpu) override;
  // dstRoi x and y must be even.
  void roi_copy_from(const ImageBase* another, const std::vector<int>& dstRoi, bool unused) override;
  // Mean Y over the box's pixels.
  int gray_of_region(const BoundBox<float>& box) override;
  // Platform-backed: from one integral image of Y (boxes clipped to the image). Host memory:
  // gray_of_region of each neighbour.
  std::vector<int> gray_of_context(const BoundBox<float>& box) override;
  // Shape {1, height, stride}: the inclusive sums of Y. Serialised process-wide.
  std::shared_ptr<BlobGeneral<unsigned int>> integ_sum() override;
  // The sums of the R, G, B planes of the engine's colour conversion (shape {3, height, stride}).
  std::shared_ptr<BlobGeneral<unsigned int>> rgb_integ_map() override;
  // 4:2:0, 4:2:2 and 4:4:4 JPEGs (type ignored); odd sizes round up to even. Chroma is reduced to
  // 4:2:0 by taking even rows (and even columns for 4:4:4).
  bool decode_jpg(const std::vector<unsigned char>& bytes, DecodeType type) override;
  std::shared_ptr<std::vector<unsigned char>> encode_jpg() override;
  std::shared_ptr<ImageBase> produce() const override;
  // Y at (x, y) and the U,V pair of the 2x2 block holding it.
  void draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b) override;

  const YuvData& get_yuv() const { return yuvData_; }
  // First byte and physical address (0 for host memory) of the U,V plane.
  unsigned char* uv_data() const;
  unsigned long long uv_phy() const;

 private:
  YuvData yuvData_;
  PlaneProducer producer_;
  // The colour of the last draw_point_raw and its Y, U, V, so a drawing converts once.
  unsigned char lastRgb_[3] = {0, 0, 0};
  unsigned char lastYuv_[3] = {0, 128, 128};
};
