// Accelerated image primitives: copies and fills by physical address on the DMA engine, resize,
// colour conversion and integral images on the image engine, NV12 scaling on the scaler, and the
// crop-and-pad and ROI resizes built from them. The image classes and the IPU blobs call these with
// plain plane descriptions; they know nothing of images as objects.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MmzBlob;
class MmzMemory;

// Plane descriptions come as argument groups, always in this order:
//   u8c1     physical, [virtual,] stride, width, height
//   u8c3     three physicals, [three virtuals,] three strides, width, height (planar R, G, B)
//   yuv420sp Y physical, UV physical, [Y virtual, UV virtual,] Y stride, UV stride, width, height;
//            the UV plane has height / 2 rows of interleaved U,V pairs
// Functions named misys_* take no virtual addresses. Strides and widths count bytes. A window is
// x, y, width, height in pixels. A normalised ROI is {x1, y1, x2, y2} in fractions of the source
// size; the part beyond 0..1 takes the pad colour.
//
// Thread-safe: callable from any thread; the engine-handle counter and the integral scratch blocks
// are the only shared state, each under its own mutex. Every platform failure and every violated
// precondition is a fatal check. Functions returning int return 0.

// Next free image-engine handle number, 0..127, marked busy until release_miive_handle_id: the
// numbers go round in turn (the low 7 bits of a process-wide 8-bit counter), skipping busy ones, so
// no two operations in flight hold the same number. Blocks while all 128 numbers are busy.
unsigned char get_miive_handle_id();
// Gives back a number from get_miive_handle_id; giving back a number that is not busy is fatal.
void release_miive_handle_id(unsigned char id);

// Writes back and invalidates the cached mapping at `addr`, `size` rounded up to 4096 bytes.
int misys_flush(void* addr, int size);

// DMA copy of `len` bytes between physical addresses.
int misys_1d_copy(uint64_t dstPhy, uint64_t srcPhy, uint32_t len);
// DMA fill of `len` bytes at `phy` with the 32-bit `value` (normally one byte repeated four times).
int misys_1d_memset(uint64_t phy, uint32_t value, uint32_t len);

// DMA fill of the window (x, y, w, h) of an 8-bit plane.
int misys_2d_u8c1_roi_memset(uint64_t phy, uint16_t stride, uint16_t width, uint16_t height, uint16_t x,
                             uint16_t y, uint16_t w, uint16_t h, uint32_t value);
// The window on Y, then on UV with the rows halved (height / 2, y / 2, h / 2); same value on both.
int misys_2d_yuv420sp_roi_memset(uint64_t phyY, uint64_t phyUV, uint16_t strideY, uint16_t strideUV,
                                 uint16_t width, uint16_t height, uint16_t x, uint16_t y, uint16_t w,
                                 uint16_t h, uint32_t value);
// The same window and value on each of three planes.
int misys_2d_u8c3_roi_memset(uint64_t phy0, uint64_t phy1, uint64_t phy2, uint16_t stride0, uint16_t stride1,
                             uint16_t stride2, uint16_t width, uint16_t height, uint16_t x, uint16_t y,
                             uint16_t w, uint16_t h, uint32_t value);

// DMA copy of a source window into a destination window of the same width and height.
int misys_2d_u8c1_roi_copy(uint64_t srcPhy, uint16_t srcStride, uint16_t srcWidth, uint16_t srcHeight,
                           uint16_t srcX, uint16_t srcY, uint16_t srcW, uint16_t srcH, uint64_t dstPhy,
                           uint16_t dstStride, uint16_t dstWidth, uint16_t dstHeight, uint16_t dstX,
                           uint16_t dstY, uint16_t dstW, uint16_t dstH);
// Y window, then the UV window with heights, y and h halved. Windows should start on even pixels.
int misys_2d_yuv420sp_roi_copy(uint64_t srcPhyY, uint64_t srcPhyUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                               uint16_t srcWidth, uint16_t srcHeight, uint16_t srcX, uint16_t srcY,
                               uint16_t srcW, uint16_t srcH, uint64_t dstPhyY, uint64_t dstPhyUV,
                               uint16_t dstStrideY, uint16_t dstStrideUV, uint16_t dstWidth,
                               uint16_t dstHeight, uint16_t dstX, uint16_t dstY, uint16_t dstW,
                               uint16_t dstH);
// The window of each of three planes.
int misys_2d_u8c3_roi_copy(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, uint16_t srcStride0,
                           uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                           uint16_t srcX, uint16_t srcY, uint16_t srcW, uint16_t srcH, uint64_t dstPhy0,
                           uint64_t dstPhy1, uint64_t dstPhy2, uint16_t dstStride0, uint16_t dstStride1,
                           uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight, uint16_t dstX,
                           uint16_t dstY, uint16_t dstW, uint16_t dstH);

// Engine resize of the whole source to the whole destination. Sources above 1920x1080 are cut into
// a grid of ceil(w / 1920) by ceil(h / 1080) tiles of even size, one engine call per tile; columns
// and rows beyond the last whole tile are neither read nor written.
int miive_u8c1_resize(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                      uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                      uint16_t dstWidth, uint16_t dstHeight);
int miive_u8c3_resize(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                      unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0,
                      uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                      uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                      unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0,
                      uint16_t dstStride1, uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight);
int miive_yuv420sp_resize(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                          unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                          uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                          unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                          uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight);

// The engine paths whose geometry mi_resize_refusal checks: miive_*_resize, mi_u8c1/u8c3/yuv420sp
// _roi_resize (through the scratch) and mi_yuv420sp_roi_resize_optimized.
enum class MiResizePath { kResize, kScratchRoi, kOptimizedNv12Roi };

// Why the engine path would stop the process for these sizes and this normalised ROI (ignored for
// kResize), or "" when every tile, crop and copy window it computes is non-empty and in place.
// Computed with the operations' own geometry, so callers with sizes from outside (the image tool)
// can refuse what the operation would stop on. Never fatal. Scratch sizes are not checked.
std::string mi_resize_refusal(MiResizePath path, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                              const std::vector<float>& roi = {});

// Integral image of an 8-bit plane into 32-bit sums. The destination is described in bytes:
// requires dstHeight == srcHeight, dstWidth == 4 * srcWidth, dstStride == 4 * srcStride and a
// source of at most 1920x1080 (no tiling).
int miive_u8c1_integ(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                     uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                     uint16_t dstWidth, uint16_t dstHeight);
// miive_u8c1_integ on each plane.
int miive_u8c3_integ(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                     unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0, uint16_t srcStride1,
                     uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhy0,
                     uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0, unsigned char* dstVir1,
                     unsigned char* dstVir2, uint16_t dstStride0, uint16_t dstStride1, uint16_t dstStride2,
                     uint16_t dstWidth, uint16_t dstHeight);

// NV12 to planar RGB and back on the engine, tiled like the resizes; sizes must be equal.
int miive_yuv2rgb(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY, unsigned char* srcVirUV,
                  uint16_t srcStrideY, uint16_t srcStrideUV, uint16_t srcWidth, uint16_t srcHeight,
                  uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                  unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0, uint16_t dstStride1,
                  uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight);
int miive_rgb2yuv(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                  unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0, uint16_t srcStride1,
                  uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY,
                  uint64_t dstPhyUV, unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                  uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight);

// Crop and pad: negative amounts crop the source, positive ones pad it. Requires
// dstWidth == srcWidth + left + right, dstHeight == srcHeight + top + bottom and a non-empty copy.
// When some amount is positive the whole destination is filled first (u8c1: `value`; u8c3: one
// value per plane; NV12: the colour R, G, B), then the kept window is copied by DMA. The NV12 fill
// runs on DMA when U == V; otherwise the CPU writes it, which requires equal Y and UV strides and
// the UV plane right after the Y plane.
int mi_u8c1_crop_padding(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                         uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                         uint16_t dstWidth, uint16_t dstHeight, int left, int right, int top, int bottom,
                         int value);
int mi_u8c3_crop_padding(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                         unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0,
                         uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                         uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                         unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0,
                         uint16_t dstStride1, uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight,
                         int left, int right, int top, int bottom, int value0, int value1, int value2);
int mi_yuv420sp_crop_padding(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                             unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                             uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                             unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                             uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight, int left, int right,
                             int top, int bottom, int r, int g, int b);

// ROI resize through `pMmz`, a caller-owned scratch blob: the ROI (its size truncated to a multiple
// of 4, its origin to even) is crop-padded into the scratch, which is then engine-resized to the
// whole destination. The scratch needs a stride >= the ROI width and at least height (u8c1),
// 3 * height (u8c3) or 3 * height / 2 (NV12) rows.
int mi_u8c1_roi_resize(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                       uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                       uint16_t dstWidth, uint16_t dstHeight, std::shared_ptr<MmzBlob>& pMmz,
                       const std::vector<float>& roi, int value);
int mi_u8c3_roi_resize(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                       unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0,
                       uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                       uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                       unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0,
                       uint16_t dstStride1, uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight,
                       std::shared_ptr<MmzBlob>& pMmz, const std::vector<float>& roi, int value0, int value1,
                       int value2);
int mi_yuv420sp_roi_resize(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                           unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                           uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                           unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                           uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight,
                           std::shared_ptr<MmzBlob>& pMmz, const std::vector<float>& roi, int r, int g,
                           int b);

// NV12 ROI resize that scales only the part of the ROI inside the image: an ROI within 0.01 of
// {0, 0, 1, 1} is resized directly without touching the scratch (which may then be null).
// Otherwise the inside part is copied into the scratch, resized there, and placed into the
// destination filled with the pad colour R, G, B. The scratch needs room for the crop and the
// resized part, each as NV12 with a 16-aligned stride.
int mi_yuv420sp_roi_resize_optimized(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                                     unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                                     uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY,
                                     uint64_t dstPhyUV, unsigned char* dstVirY, unsigned char* dstVirUV,
                                     uint16_t dstStrideY, uint16_t dstStrideUV, uint16_t dstWidth,
                                     uint16_t dstHeight, std::shared_ptr<MmzBlob>& pMmz,
                                     const std::vector<float>& roi, int r, int g, int b);

// As mi_yuv420sp_roi_resize_optimized on the scaler, which crops by itself: sizes and positions
// round up to even, and reductions beyond 6x horizontally or 4x vertically go through intermediate
// images in the scratch. A busy scaler (0xA009201F) is retried without bound.
int mi_yuv420sp_roi_resize_scl(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                               unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                               uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                               unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                               uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight,
                               std::shared_ptr<MmzBlob>& pMmz, const std::vector<float>& roi, int r, int g,
                               int b);

// The process-wide scratch blocks of the images' integral sums, each created on first use and kept
// until process exit: kRgbSums 0x17bb000 bytes (three 32-bit 1920x1080 planes), kYuvSums 0x7e9000
// bytes (one 32-bit plane), kRgbMap 0x5eec00 bytes (three 8-bit planes).
enum class IntegScratch { kRgbSums, kYuvSums, kRgbMap };

// Exclusive use of one integral scratch block: holds the block's own mutex while alive. Lock order
// where two meet: kRgbMap before kRgbSums.
class IntegScratchLease {
 public:
  explicit IntegScratchLease(IntegScratch which);
  IntegScratchLease(const IntegScratchLease&) = delete;
  IntegScratchLease& operator=(const IntegScratchLease&) = delete;

  // The block; valid while the lease lives. Allocation failure is fatal.
  MmzMemory* memory() const { return memory_; }

 private:
  std::unique_lock<std::mutex> lock_;
  MmzMemory* memory_;  // owned by the process-wide table, never freed
};
