// Planar RGB image: three 8-bit planes R, G, B of equal size, one after another in one memory
// block (plane k starts at data + k * stride * height). Network inputs in RGB/BGR and image tools
// use it; the camera format is ImageYuv420sp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "util/ImageBase.h"

// Not thread-safe; one writer at a time (see ImageBase).
class ImageRgb : public ImageBase {
 public:
  // Uses `plane` (3 planes, highDimHS 3) when given, otherwise producer(0, 0); fatal with neither.
  // The producer makes the plane of every later reshape (host memory, platform memory or fixed).
  ImageRgb(const std::shared_ptr<BlobPlane<unsigned char>>& plane, const PlaneProducer& producer);
  ~ImageRgb() override;

  unsigned int width() const override;
  unsigned int height() const override;
  unsigned int stride() const override;
  unsigned char* data() const override;
  unsigned long long phy() const override;
  // Platform-backed: MI_SYS_FlushInvCache over the whole block; fatal on failure.
  void refresh() const override;
  void reshape(unsigned int width, unsigned int height) override;
  void reset(unsigned char r, unsigned char g, unsigned char b) override;
  // One three-plane DMA copy when both are platform-backed and !cpu; CPU row copies otherwise.
  void copy_from(const ImageBase* another, bool unused, bool cpu) override;
  void copy_from_split_planes(const ImageSplitPlaneDesc& desc) override;
  // Engine crop-pad, or the CPU pad/crop of each plane with its value.
  void pad_crop_from(const ImageBase* another, const roiresize::PadSize& pad, unsigned char r,
                     unsigned char g, unsigned char b, bool unused, bool cpu) override;
  // Engine ROI resize through `scratch`, or the CPU bilinear ROI resize of each plane (samples
  // between the last pixel centre and the border keep the pad colour).
  void roi_resize_from(const ImageBase* another, const std::vector<float>& roi,
                       std::shared_ptr<MmzBlob>& scratch, unsigned char r, unsigned char g, unsigned char b,
                       bool unused, bool cpu) override;
  // Engine resize, or the CPU bilinear resize (as roi_resize_from of {0, 0, 1, 1} with black pad).
  void resize_from(const ImageBase* another, bool unused, bool cpu) override;
  void downsample_2_from(const ImageBase* another, bool cpu) override;
  void roi_copy_from(const ImageBase* another, const std::vector<int>& dstRoi, bool unused) override;
  // Mean of (R + G + B) / 3 (integer per pixel) over the box's pixels.
  int gray_of_region(const BoundBox<float>& box) override;
  std::vector<int> gray_of_context(const BoundBox<float>& box) override;
  // Shape {3, height, stride}: the inclusive sums of R, G and B. Serialised process-wide.
  std::shared_ptr<BlobGeneral<unsigned int>> integ_sum() override;
  // Same as integ_sum().
  std::shared_ptr<BlobGeneral<unsigned int>> rgb_integ_map() override;
  // Any JPEG TurboJPEG reads (type ignored); the image takes its exact size.
  bool decode_jpg(const std::vector<unsigned char>& bytes, DecodeType type) override;
  std::shared_ptr<std::vector<unsigned char>> encode_jpg() override;
  std::shared_ptr<ImageBase> produce() const override;
  void draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b) override;

  // The pixel memory (3 planes); shared, so it stays valid while held.
  const std::shared_ptr<BlobPlane<unsigned char>>& get_blob() const { return pBlob_; }
  // First byte of plane k (0 = R, 1 = G, 2 = B).
  unsigned char* plane_data(int k) const;
  // Physical address of plane k; 0 for host memory.
  unsigned long long plane_phy(int k) const;

 private:
  std::shared_ptr<BlobPlane<unsigned char>> pBlob_;
  PlaneProducer producer_;
};
