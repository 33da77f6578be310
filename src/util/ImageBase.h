// The abstract image of the pipeline: size and memory, copy/resize/crop/pad between images of one
// kind, integral images, JPEG, and drawing of points, lines, boxes and text (built-in 5x7 font) in
// normalised coordinates. ImageRgb (planar R, G, B) and ImageYuv420sp (NV12) implement it; images
// live in host memory or in platform memory, which the engines and DMA can reach.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/BlobBase.h"
#include "util/BlobGeneral.h"
#include "util/BoundBox.h"
#include "util/RoiResize.h"

class MmzBlob;

// A source frame given as separate planes. RGB uses all three planes (R, G, B); NV12 uses the first
// two (Y, then the interleaved U,V plane of height / 2 rows).
struct ImageSplitPlaneDesc {
  uint16_t width = 0;
  uint16_t height = 0;
  unsigned char* virAddr[3] = {nullptr, nullptr, nullptr};
  unsigned long long phyAddr[3] = {0, 0, 0};
  int stride[3] = {0, 0, 0};
};

// Not thread-safe; one writer per image at a time (the store's claim and publish rules), drawing
// and CPU paths included.
//
// Conventions shared by every operation:
// - An image is platform-backed when its plane has a physical address (phy() != 0). Engine and DMA
//   paths run when both images are platform-backed and `cpu` is false; otherwise CPU paths run.
// - `peer` must be an image of the same class (fatal "Check failed: peer " otherwise) and must not
//   be this image.
// - Drawing coordinates are std::complex<float> with x the real part and y the imaginary part, both
//   fractions of width and height. Drawing writes through the CPU mapping and does not flush:
//   refresh() before an engine reads the image. Every other writing operation ends with refresh().
// - JPEG failures (bytes come from users) are logged at ERROR and return false or an empty pointer.
class ImageBase {
 public:
  enum DecodeType {
    DECODE_DEFAULT = 0,
  };
  // Makes a plane for an image of the given size (host or platform memory, or a fixed tensor).
  using PlaneProducer =
      std::function<std::shared_ptr<BlobPlane<unsigned char>>(unsigned int width, unsigned int height)>;

  ImageBase() = default;
  ImageBase(const ImageBase&) = delete;
  ImageBase& operator=(const ImageBase&) = delete;
  virtual ~ImageBase();

  virtual unsigned int width() const = 0;
  virtual unsigned int height() const = 0;
  virtual unsigned int stride() const = 0;
  // Start of the first plane (CPU mapping); null for an empty image.
  virtual unsigned char* data() const = 0;
  // Physical address of the first plane; 0 for host memory.
  virtual unsigned long long phy() const = 0;
  // Platform-backed images: writes back and invalidates the cached mapping of the whole block.
  virtual void refresh() const = 0;
  // Same size: nothing. Otherwise a new plane of width x height from the producer; old pixels are
  // lost and the new ones are uninitialised. Fatal without a producer.
  virtual void reshape(unsigned int width, unsigned int height) = 0;
  // Fills the whole image with the colour (r, g, b).
  virtual void reset(unsigned char r, unsigned char g, unsigned char b) = 0;
  // Becomes a copy of peer (reshaped to its size).
  virtual void copy_from(const ImageBase* peer, bool unused, bool cpu) = 0;
  // Becomes a copy of the planes of desc (reshaped to its size). DMA from the physical planes when
  // this image is platform-backed and the planes have physical addresses; CPU copy of the virtual
  // planes otherwise.
  virtual void copy_from_split_planes(const ImageSplitPlaneDesc& desc) = 0;
  // Reshapes to peer's size + pad and copies peer into it; negative amounts crop, positive ones pad
  // with the colour (r, g, b). NV12 amounts must be even.
  virtual void pad_crop_from(const ImageBase* peer, const roiresize::PadSize& pad, unsigned char r,
                             unsigned char g, unsigned char b, bool unused, bool cpu) = 0;
  // Resizes the normalised `roi` {x1, y1, x2, y2} of peer to this image's current size; the part of
  // the ROI outside peer takes the colour (r, g, b). `scratch` is a platform blob the engine path
  // works in (sized by the caller); CPU paths ignore it.
  virtual void roi_resize_from(const ImageBase* peer, const std::vector<float>& roi,
                               std::shared_ptr<MmzBlob>& scratch, unsigned char r, unsigned char g,
                               unsigned char b, bool unused, bool cpu) = 0;
  // Resizes the whole of peer to this image's current size.
  virtual void resize_from(const ImageBase* peer, bool unused, bool cpu) = 0;
  // Half-size copy of peer (even size) into the top-left of this image: the top-left pixel of each
  // 2x2 block. The engine path resizes instead.
  virtual void downsample_2_from(const ImageBase* peer, bool cpu) = 0;
  // Copies the whole of peer (even size) into the window dstRoi {x, y, w, h} of this image, which
  // must match peer's size and end strictly inside this image. DMA when both are platform-backed,
  // CPU row copies otherwise (same result).
  virtual void roi_copy_from(const ImageBase* peer, const std::vector<int>& dstRoi, bool unused) = 0;
  // Mean grey level of the pixels of the normalised box (0 for an empty one).
  virtual int gray_of_region(const BoundBox<float>& box) = 0;
  // Nine grey levels: the box and its eight neighbours of the same size, rows of neighbours above,
  // level, below; left, centre, right within a row.
  virtual std::vector<int> gray_of_context(const BoundBox<float>& box) = 0;
  // Inclusive integral image(s) from the engine, copied out: I(y, x) sums rows 0..y, columns 0..x.
  // Platform-backed images of at most 1920x1080 only.
  virtual std::shared_ptr<BlobGeneral<unsigned int>> integ_sum() = 0;
  virtual std::shared_ptr<BlobGeneral<unsigned int>> rgb_integ_map() = 0;
  // Largest width and height, in pixels, that decode_jpg() accepts.
  static constexpr int kMaxJpegSide = 8192;

  // Replaces the image with the decoded JPEG. False (ERROR logged) on bad data; the image keeps its
  // content when decoding fails before the reshape. A JPEG whose header claims a width or height
  // above kMaxJpegSide (8192) pixels is refused before anything is allocated: its header alone, a
  // few hundred bytes, would otherwise make the decoder ask for up to 65535 x 65535 pixels.
  // ImageBase itself: fatal "NotImplemented".
  virtual bool decode_jpg(const std::vector<unsigned char>& bytes, DecodeType type);
  // JPEG (4:2:0, quality 98) of the image, or an empty pointer (ERROR logged) on failure.
  // ImageBase itself: fatal "NotImplemented".
  virtual std::shared_ptr<std::vector<unsigned char>> encode_jpg();
  // encode_jpg() into the file at path; false on failure.
  virtual bool save(const std::string& path);
  // The whole file at path through decode_jpg(); false when it cannot be read or decoded.
  virtual bool load(const std::string& path, DecodeType type);
  // A new empty platform-backed image of the same class.
  virtual std::shared_ptr<ImageBase> produce() const = 0;
  // Writes the colour at pixel (x, y), which the callers keep inside the image. Does nothing here.
  virtual void draw_point_raw(int x, int y, unsigned char r, unsigned char g, unsigned char b);
  // A square stamp of half-size trunc(t * width) by trunc(t * height) pixels (each at most 5)
  // around p; a thickness below one pixel draws nothing in that direction.
  virtual void draw_point(const std::complex<float>& p, unsigned char r, unsigned char g, unsigned char b,
                          float t);
  // Stamps along the segment: n = round(max pixel extent) points from p2 (included) towards p1
  // (excluded); a segment shorter than half a pixel draws nothing.
  virtual void draw_line(const std::complex<float>& p1, const std::complex<float>& p2, unsigned char r,
                         unsigned char g, unsigned char b, float t);
  // The four edges of the box with corners p1 and p2.
  virtual void draw_box(const std::complex<float>& p1, const std::complex<float>& p2, unsigned char r,
                        unsigned char g, unsigned char b, float t);
  // Text with the built-in font from top-left p; `size` is the cell height as a fraction of the image
  // height (and of the width horizontally). Characters outside 0x20..0x7E are fatal.
  virtual void draw_text(const std::complex<float>& p, const std::string& text, unsigned char r,
                         unsigned char g, unsigned char b, float size);

 protected:
  // The pixels [x1, x2) x [y1, y2) of a normalised box: each corner trunc(fraction * size), clamped
  // to 0..size-1 (NaN gives 0). False when the rectangle is empty (or the image is).
  struct PixelRect {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  };
  bool region_pixels(const BoundBox<float>& box, PixelRect* rect) const;
  // The box and its eight neighbours of the same size, in the order of gray_of_context().
  static std::vector<BoundBox<float>> context_boxes(const BoundBox<float>& box);

  // The condition texts of a class's ROI-copy checks, as its fatal messages spell them.
  struct RoiCopyChecks {
    const char* evenSize;
    const char* sameSize;
    const char* insideX;
    const char* insideY;
  };
  // The checks of roi_copy_from: dstRoi {x, y, w, h} with x and y non-negative multiples of `align`,
  // w and h peer's even size, the window ending strictly inside this image. Fatal otherwise.
  void check_roi_copy(const ImageBase& peer, const std::vector<int>& dstRoi, const RoiCopyChecks& checks,
                      int align) const;
  // Copies `rows` rows of `bytes` bytes from src into dst (CPU).
  static void copy_rows(const unsigned char* src, size_t srcStride, unsigned char* dst, size_t dstStride,
                        size_t bytes, int rows);
  // A TurboJPEG decompressor, destroyed with the pointer.
  using JpegDecompressor = std::unique_ptr<void, int (*)(void*)>;
  // A decompressor over `bytes` whose header has been read into the four values and logged at
  // WARNING ("INPUT JPEG: ..."). Null, with the reason logged at ERROR, when no decompressor can be
  // made, the header cannot be read, or a side exceeds kMaxJpegSide (checked before any allocation).
  static JpegDecompressor open_jpeg(const std::vector<unsigned char>& bytes, int* width, int* height,
                                    int* subsample, int* colorspace);
};

// What a JPEG's header says, for messages about a JPEG: its size, chroma sampling ("4:4:4",
// "4:2:2", "4:2:0", "greyscale", "4:4:0", "4:1:1") and colour space ("RGB", "YCbCr", "greyscale",
// "CMYK", "YCCK").
struct JpegInfo {
  int width = 0;
  int height = 0;
  std::string sampling;
  std::string colorspace;
};
// Reads the header of a JPEG; false when there is none (not a JPEG, or cut before its frame header).
bool read_jpeg_info(const std::vector<unsigned char>& bytes, JpegInfo* info);
