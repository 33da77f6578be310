#include "util/ImageBase.h"

#include <glog/logging.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "kbase/FileBuffer.h"
#include "util/Ascii.h"

namespace {

// Pixels a stamp may reach beyond the point it is centred on (radius 5, plus float rounding).
constexpr int kStampMargin = 8;

// The pixels one drawing call covers, each kept once so that each is written once: a bitmap over
// the pixel rectangle the primitive can reach (row-major, so writes walk memory in order), and a
// hash set for any pixel that float rounding puts outside that rectangle.
class PixelSet {
 public:
  // The rectangle spans the normalised extents [x0, x1] x [y0, y1] plus the stamp margin, clipped to
  // the width x height image.
  PixelSet(int width, int height, float x0, float y0, float x1, float y1)
      : left_(to_pixel(x0, width, -kStampMargin)),
        top_(to_pixel(y0, height, -kStampMargin)),
        right_(to_pixel(x1, width, kStampMargin + 1)),
        bottom_(to_pixel(y1, height, kStampMargin + 1)),
        words_((right_ - left_ + 63) / 64),
        bits_(static_cast<size_t>(words_) * std::max(bottom_ - top_, 0), 0) {}

  void insert(int x, int y) {
    if (x >= left_ && x < right_ && y >= top_ && y < bottom_) {
      const int col = x - left_;
      bits_[static_cast<size_t>(y - top_) * words_ + col / 64] |= uint64_t{1} << (col % 64);
    } else {
      outside_.insert((static_cast<uint64_t>(static_cast<uint32_t>(y)) << 32) | static_cast<uint32_t>(x));
    }
  }

  // Pixels x0..x1 (inclusive, at most 64 apart) of row y.
  void insert_run(int x0, int x1, int y) {
    if (x0 >= left_ && x1 < right_ && y >= top_ && y < bottom_ && x1 - x0 < 64) {
      uint64_t* line = bits_.data() + static_cast<size_t>(y - top_) * words_;
      const int first = x0 - left_;
      const int last = x1 - left_;
      const int w0 = first / 64;
      const int w1 = last / 64;
      const uint64_t low = ~uint64_t{0} << (first % 64);
      const uint64_t high = ~uint64_t{0} >> (63 - last % 64);
      if (w0 == w1) {
        line[w0] |= low & high;
      } else {
        line[w0] |= low;
        line[w1] |= high;
      }
      return;
    }
    for (int x = x0; x <= x1; ++x) insert(x, y);
  }

  template <typename Fn>
  void for_each(Fn fn) const {
    for (int row = 0; row < bottom_ - top_; ++row) {
      const uint64_t* line = bits_.data() + static_cast<size_t>(row) * words_;
      for (int w = 0; w < words_; ++w) {
        uint64_t bits = line[w];
        while (bits != 0) {
          const int bit = __builtin_ctzll(bits);
          bits &= bits - 1;
          fn(left_ + w * 64 + bit, top_ + row);
        }
      }
    }
    for (uint64_t key : outside_) fn(static_cast<int>(key & 0xffffffffu), static_cast<int>(key >> 32));
  }

 private:
  // Pixel index of fraction v of `size`, moved by `margin` and clipped to 0..size; NaN gives 0.
  static int to_pixel(float v, int size, int margin) {
    const float p = std::floor(v * static_cast<float>(size)) + static_cast<float>(margin);
    if (!(p > 0.f)) return 0;
    if (p >= static_cast<float>(size)) return size;
    return static_cast<int>(p);
  }

  const int left_;
  const int top_;
  const int right_;
  const int bottom_;
  const int words_;
  std::vector<uint64_t> bits_;
  std::unordered_set<uint64_t> outside_;
};

// Adds the stamp of the point (x, y) with thickness t on a width x height image: half-sizes
// rx = min(trunc(t * W), 5) and ry = min(trunc(t * H), 5); offsets -r .. r - 1 in each direction,
// each pixel at trunc((x + dx / W) * W), trunc((y + dy / H) * H), skipped outside the image.
// The half-sizes are float arithmetic, as the thickness is a float: 0.01f * 100 is 1 in float but
// 0.99999998 in double, which would truncate to 0 and draw nothing. Positions are computed in
// double so that offsets of whole pixels land on whole pixels.
void stamp(PixelSet& set, int width, int height, float x, float y, float t) {
  if (!(t > 0.f)) return;
  const int rx = static_cast<int>(std::min(t * static_cast<float>(width), 5.f));
  const int ry = static_cast<int>(std::min(t * static_cast<float>(height), 5.f));
  if (rx <= 0 || ry <= 0) return;
  const double w = width;
  const double h = height;
  const double stepX = 1.0 / std::max(width, 1);
  const double stepY = 1.0 / std::max(height, 1);
  // The columns and rows of the stamp, each computed once: trunc toward zero puts anything in
  // (-1, size) on a pixel; compare before converting (NaN, huge values).
  int cols[10];
  int rows[10];
  int ncols = 0;
  int nrows = 0;
  for (int dx = -rx; dx < rx; ++dx) {
    const double fx = (x + dx * stepX) * w;
    if (fx > -1.0 && fx < w) cols[ncols++] = static_cast<int>(fx);
  }
  for (int dy = -ry; dy < ry; ++dy) {
    const double fy = (y + dy * stepY) * h;
    if (fy > -1.0 && fy < h) rows[nrows++] = static_cast<int>(fy);
  }
  if (ncols == 0) return;
  // Whole pixels apart, the columns are normally one run: set it a word at a time.
  const bool run = cols[ncols - 1] - cols[0] == ncols - 1;
  for (int r = 0; r < nrows; ++r) {
    if (run) {
      set.insert_run(cols[0], cols[ncols - 1], rows[r]);
    } else {
      for (int c = 0; c < ncols; ++c) set.insert(cols[c], rows[r]);
    }
  }
}

// Stamps of the segment: n = roundf(max(|W (x2 - x1)|, |H (y2 - y1)|)) points (i / n) p1 +
// ((n - i) / n) p2 for i = 0 .. n - 1, so p2 is drawn and p1 is not.
void stamp_line(PixelSet& set, int width, int height, const std::complex<float>& p1,
                const std::complex<float>& p2, float t) {
  const float extent = std::max(std::fabs(static_cast<float>(width) * (p2.real() - p1.real())),
                                std::fabs(static_cast<float>(height) * (p2.imag() - p1.imag())));
  const float n = std::round(extent);
  // A non-finite or absurd length (coordinates far outside the image) is not drawn.
  if (!(n >= 1.f && n <= 1e8f)) return;
  const int count = static_cast<int>(n);
  for (int i = 0; i < count; ++i) {
    const std::complex<float> q = (static_cast<float>(i) / n) * p1 + (static_cast<float>(count - i) / n) * p2;
    stamp(set, width, height, q.real(), q.imag(), t);
  }
}

}  // namespace

ImageBase::~ImageBase() = default;

bool ImageBase::decode_jpg(const std::vector<unsigned char>&, DecodeType) {
  LOG(FATAL) << "NotImplemented";
  return false;
}

std::shared_ptr<std::vector<unsigned char>> ImageBase::encode_jpg() {
  LOG(FATAL) << "NotImplemented";
  return nullptr;
}

bool ImageBase::save(const std::string& path) {
  std::shared_ptr<std::vector<unsigned char>> bytes = encode_jpg();
  if (!bytes) return false;
  return filebuffer::write(path, *bytes, true);
}

bool ImageBase::load(const std::string& path, DecodeType type) {
  std::vector<unsigned char> bytes;
  if (!filebuffer::read(path, bytes, true)) {
    LOG(ERROR) << "cannot read JPEG file " << path;
    return false;
  }
  return decode_jpg(bytes, type);
}

void ImageBase::draw_point_raw(int, int, unsigned char, unsigned char, unsigned char) {}

void ImageBase::draw_point(const std::complex<float>& p, unsigned char r, unsigned char g, unsigned char b,
                           float t) {
  const int w = static_cast<int>(width());
  const int h = static_cast<int>(height());
  PixelSet set(w, h, p.real(), p.imag(), p.real(), p.imag());
  stamp(set, w, h, p.real(), p.imag(), t);
  set.for_each([&](int x, int y) { draw_point_raw(x, y, r, g, b); });
}

void ImageBase::draw_line(const std::complex<float>& p1, const std::complex<float>& p2, unsigned char r,
                          unsigned char g, unsigned char b, float t) {
  const int w = static_cast<int>(width());
  const int h = static_cast<int>(height());
  PixelSet set(w, h, std::min(p1.real(), p2.real()), std::min(p1.imag(), p2.imag()),
               std::max(p1.real(), p2.real()), std::max(p1.imag(), p2.imag()));
  stamp_line(set, w, h, p1, p2, t);
  set.for_each([&](int x, int y) { draw_point_raw(x, y, r, g, b); });
}

void ImageBase::draw_box(const std::complex<float>& p1, const std::complex<float>& p2, unsigned char r,
                         unsigned char g, unsigned char b, float t) {
  const int w = static_cast<int>(width());
  const int h = static_cast<int>(height());
  const std::complex<float> x1y2(p1.real(), p2.imag());
  const std::complex<float> x2y1(p2.real(), p1.imag());
  PixelSet set(w, h, std::min(p1.real(), p2.real()), std::min(p1.imag(), p2.imag()),
               std::max(p1.real(), p2.real()), std::max(p1.imag(), p2.imag()));
  stamp_line(set, w, h, p1, x1y2, t);
  stamp_line(set, w, h, p1, x2y1, t);
  stamp_line(set, w, h, p2, x2y1, t);
  stamp_line(set, w, h, p2, x1y2, t);
  set.for_each([&](int x, int y) { draw_point_raw(x, y, r, g, b); });
}

void ImageBase::draw_text(const std::complex<float>& p, const std::string& text, unsigned char r,
                          unsigned char g, unsigned char b, float size) {
  const int w = static_cast<int>(width());
  const int h = static_cast<int>(height());
  const float dot = size / static_cast<float>(std::max(5, 8)) * 2.f / 3.f;
  const float advance = 6.f * size / 5.f;
  const float span = advance * static_cast<float>(text.size());
  PixelSet set(w, h, std::min(p.real(), p.real() + span), std::min(p.imag(), p.imag() + size),
               std::max(p.real(), p.real() + span), std::max(p.imag(), p.imag() + size));
  float x = p.real();
  for (char c : text) {
    for (const auto& cell : ascii_code_pixels(c, nullptr, nullptr)) {
      stamp(set, w, h, x + static_cast<float>(cell.first) * size / 5.f,
            p.imag() + static_cast<float>(cell.second) * size / 8.f, dot);
    }
    x += advance;
  }
  set.for_each([&](int px, int py) { draw_point_raw(px, py, r, g, b); });
}

bool ImageBase::region_pixels(const BoundBox<float>& box, PixelRect* rect) const {
  const unsigned int w = width();
  const unsigned int h = height();
  if (w == 0 || h == 0) return false;
  // trunc(v * size) clamped to 0..size-1; NaN fails the first comparison and gives 0.
  auto corner = [](float v, unsigned int size) {
    const float p = v * static_cast<float>(size);
    if (!(p > 0.f)) return 0;
    if (p >= static_cast<float>(size - 1)) return static_cast<int>(size) - 1;
    return static_cast<int>(p);
  };
  rect->x1 = corner(box.xmin(), w);
  rect->x2 = corner(box.xmax(), w);
  rect->y1 = corner(box.ymin(), h);
  rect->y2 = corner(box.ymax(), h);
  return rect->x2 > rect->x1 && rect->y2 > rect->y1;
}

std::vector<BoundBox<float>> ImageBase::context_boxes(const BoundBox<float>& box) {
  std::vector<BoundBox<float>> boxes(9);
  const float w = box.width();
  const float h = box.height();
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      boxes[(dy + 1) * 3 + dx + 1].reset(
          {box.center_x() + static_cast<float>(dx) * w, box.center_y() + static_cast<float>(dy) * h, w, h},
          false, false);
    }
  }
  return boxes;
}

void ImageBase::check_roi_copy(const ImageBase& peer, const std::vector<int>& dstRoi,
                               const RoiCopyChecks& checks, int align) const {
  CHECK_EQ(dstRoi.size(), 4u) << "dstRoi is {x, y, w, h}";
  const long long pw = peer.width();
  const long long ph = peer.height();
  // The conditions are the class's own (they name its members); the values are the same.
  if (!(ph % 2 == 0 && pw % 2 == 0)) {
    LOG(FATAL) << "Check failed: " << checks.evenSize << " peer w/h=" << pw << "/" << ph;
  }
  if (!(ph == dstRoi[3] && pw == dstRoi[2])) {
    LOG(FATAL) << "Check failed: " << checks.sameSize << " peer w/h=" << pw << "/" << ph
               << ", roi w/h=" << dstRoi[2] << "/" << dstRoi[3];
  }
  if (!(dstRoi[0] + pw < static_cast<long long>(width()))) {
    LOG(FATAL) << "Check failed: " << checks.insideX << " roi x=" << dstRoi[0] << ", width=" << width();
  }
  if (!(dstRoi[1] + ph < static_cast<long long>(height()))) {
    LOG(FATAL) << "Check failed: " << checks.insideY << " roi y=" << dstRoi[1] << ", height=" << height();
  }
  CHECK(dstRoi[0] >= 0 && dstRoi[1] >= 0 && dstRoi[0] % align == 0 && dstRoi[1] % align == 0)
      << "the window must start at non-negative x and y, multiples of " << align << ": " << dstRoi[0] << "/"
      << dstRoi[1];
}

void ImageBase::copy_rows(const unsigned char* src, size_t srcStride, unsigned char* dst, size_t dstStride,
                          size_t bytes, int rows) {
  for (int r = 0; r < rows; ++r) std::memcpy(dst + r * dstStride, src + r * srcStride, bytes);
}

ImageBase::JpegDecompressor ImageBase::open_jpeg(const std::vector<unsigned char>& bytes, int* width,
                                                 int* height, int* subsample, int* colorspace) {
  JpegDecompressor handle(tjInitDecompress(), tjDestroy);
  if (!handle) {
    LOG(ERROR) << "TJ Handle Init Decompression Failed.";
    return handle;
  }
  if (tjDecompressHeader3(handle.get(), bytes.data(), bytes.size(), width, height, subsample, colorspace) !=
          0 ||
      *width <= 0 || *height <= 0) {
    LOG(ERROR) << "TJ Parse Header Failed.";
    handle.reset();
    return handle;
  }
  LOG(WARNING) << "INPUT JPEG: " << *width << "/" << *height << ", subsample: " << *subsample
               << ", colorspace: " << *colorspace;
  if (*width > kMaxJpegSide || *height > kMaxJpegSide) {
    LOG(ERROR) << "JPEG of " << *width << "x" << *height << " pixels exceeds the decoding limit of "
               << kMaxJpegSide << "x" << kMaxJpegSide << ".";
    handle.reset();
  }
  return handle;
}

bool read_jpeg_info(const std::vector<unsigned char>& bytes, JpegInfo* info) {
  tjhandle handle = tjInitDecompress();
  if (handle == nullptr) return false;
  int width = 0, height = 0, sampling = -1, colorspace = -1;
  const bool ok =
      tjDecompressHeader3(handle, bytes.data(), bytes.size(), &width, &height, &sampling, &colorspace) == 0;
  tjDestroy(handle);
  if (!ok) return false;
  static const char* const kSampling[] = {"4:4:4", "4:2:2", "4:2:0", "greyscale", "4:4:0", "4:1:1"};
  static const char* const kColorspace[] = {"RGB", "YCbCr", "greyscale", "CMYK", "YCCK"};
  info->width = width;
  info->height = height;
  info->sampling = sampling >= 0 && sampling < 6 ? kSampling[sampling] : "unknown sampling";
  info->colorspace = colorspace >= 0 && colorspace < 5 ? kColorspace[colorspace] : "unknown colour space";
  return true;
}
