// Image factories: ImageRgb and ImageYuv420sp over host memory (a byte vector), over platform
// memory (an MmzBlob, which the engines and DMA reach) or over an IPU input tensor, and the
// process-wide image named by configuration. Every image carries a producer so that a later
// reshape() reallocates the same kind of memory.
#pragma once

#include <memory>
#include <vector>

#include "util/ImageBase.h"

class MmzBlob;
struct KAVO_MODEL_BLOB_INFO_S;

// Thread-safe: the factories share nothing (produce_Image() initialises once under a guard). The
// images they return follow ImageBase's rule: one writer at a time.

// Planar RGB over `vec` (a new vector when null), resized to w * h * 3 bytes (contents kept up to
// that size): 3 planes of h rows, stride w. Reshapes resize the same vector.
std::shared_ptr<ImageBase> produce_ImageRgb(unsigned int w, unsigned int h,
                                            const std::shared_ptr<std::vector<unsigned char>>& vec);
// NV12 over `vec` (a new vector when null), resized to w * h * 3 / 2 bytes: one plane of h * 3 / 2
// rows, stride w. w and h must be even (fatal otherwise). Reshapes resize the same vector.
std::shared_ptr<ImageBase> produce_ImageYuv420sp(unsigned int w, unsigned int h,
                                                 const std::shared_ptr<std::vector<unsigned char>>& vec);

// Planar RGB in platform memory: `blob` (a new MmzBlob when null) is resized to {3, h, w} with
// align 16, which allocates; stride = the blob's stride. 0 x 0 allocates nothing until the first
// reshape. Reshapes resize the same blob. Allocation failure is fatal.
std::shared_ptr<ImageBase> produce_mmz_ImageRgb(unsigned int w, unsigned int h,
                                                const std::shared_ptr<MmzBlob>& blob);
// NV12 in platform memory: `blob` (a new MmzBlob when null) resized to {1, h * 3 / 2, w}, align 16.
std::shared_ptr<ImageBase> produce_mmz_ImageYuv420sp(unsigned int w, unsigned int h,
                                                     const std::shared_ptr<MmzBlob>& blob);

// NV12 view of an IPU input tensor's current buffer, in place: H = the third-last and W = the
// second-last shape entry; H * 3 / 2 rows, stride W. The image can never be resized (reshape to
// anything but its own size is fatal). Fatal unless the tensor is NV12 with at least 3 dimensions.
// The tensor buffer must outlive the image.
std::shared_ptr<ImageBase> produce_ImageYuv420sp(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& pBlobInfo);

// The process-wide image, made on first use from the key "ImageFormat" ("ImageYuv420sp": empty
// platform NV12 image, "ImageRgb": empty platform RGB image; anything else is fatal). Every call
// returns the same image.
std::shared_ptr<ImageBase> produce_Image();

// A platform scratch blob large enough for roi_resize_from(src, roi, ...) into dst on the engine
// path of either image class (the crop, the scaled part and the padded ROI each fit). Fatal for an
// ROI that is not {x1, y1, x2, y2} with x1 < x2, y1 < y2.
std::shared_ptr<MmzBlob> produce_roi_resize_scratch(const ImageBase& src, const ImageBase& dst,
                                                    const std::vector<float>& roi);

// A plane over `blob`'s memory (not mapped by the view): `planes` planes of `rows` rows, `width`
// bytes used, the blob's stride. The blob's memory must outlive the plane.
std::shared_ptr<BlobPlane<unsigned char>> plane_over_mmz(const MmzBlob& blob, int planes, int rows,
                                                         int width);
