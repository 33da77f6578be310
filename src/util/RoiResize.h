// Bilinear ROI resize and pad/crop of n-dimensional arrays on the CPU. Shapes are std::vector<int>
// whose last two entries are height and width; the leading entries (channels, batch) multiply to the
// number of stacked planes and must agree between input and output. The image classes and the
// engine wrappers use these for software paths and for their pad arithmetic.
#pragma once

#include <vector>

// Thread-safe: pure functions over caller-owned buffers, no shared state.
namespace roiresize {

// Amounts added at each side of an image; negative values crop.
struct PadSize {
  PadSize() = default;
  PadSize(int left, int right, int top, int bottom) : left(left), right(right), top(top), bottom(bottom) {}

  int xPad() const { return left + right; }
  int yPad() const { return top + bottom; }

  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

// Bilinear resize of the normalised `roi` {x1, y1, x2, y2} (fractions of the input width and height)
// of every plane of `in` to the whole of `out`; returns out. With sx = inW * (x2 - x1) / outW, output
// column j samples xs = inW * x1 + sx * 0.5 - 0.5 + j * sx (rows likewise, in float). Samples with
// xs < 0 or xs >= inW - 1 (or likewise for rows) keep `pad`; the others, with x0 = trunc(xs),
// fx = xs - x0 (y0, fy likewise), are
//   (1 - fy) * (1 - fx) * P(y0, x0) + fy * (1 - fx) * P(y0 + 1, x0) + (1 - fy) * fx * P(y0, x0 + 1)
//   + fy * fx * P(y0 + 1, x0 + 1)
// evaluated in float in exactly this order (double for double elements), integer types truncating
// toward zero.
// Fatal unless roi has 4 values, the shapes have equal length >= 2 and equal leading entries, and
// x2 >= x1, y2 >= y1. Instantiated for unsigned char, int, float and double.
template <typename T>
T* roi_resize_4corners(const T* in, const std::vector<int>& inShape, T* out, const std::vector<int>& outShape,
                       const std::vector<float>& roi, T pad);
// The same with rows `inStride` and `outStride` elements apart (planes stride * height apart); the
// shapes' widths are the used widths, each at most its stride (fatal otherwise). Elements between
// width and stride are left untouched.
template <typename T>
T* roi_resize_4corners(const T* in, const std::vector<int>& inShape, int inStride, T* out,
                       const std::vector<int>& outShape, int outStride, const std::vector<float>& roi, T pad);

// roi_resize_4corners() for 16-bit elements holding two independent bytes (an NV12 U,V pair): the
// low and the high byte are interpolated separately with the same weights.
unsigned short* roi_resize_2bytes(const unsigned short* in, const std::vector<int>& inShape,
                                  unsigned short* out, const std::vector<int>& outShape,
                                  const std::vector<float>& roi, unsigned short pad);
unsigned short* roi_resize_2bytes(const unsigned short* in, const std::vector<int>& inShape, int inStride,
                                  unsigned short* out, const std::vector<int>& outShape, int outStride,
                                  const std::vector<float>& roi, unsigned short pad);

// The shape after padding: leading entries copied, height + yPad(), width + xPad(). Fatal for fewer
// than two entries.
std::vector<int> pad_crop(const std::vector<int>& inShape, const PadSize& padSize);

// Pads (with `value`) and crops every plane of `in` into `out`: out(y, x) = in(y - top, x - left)
// where that lies inside the input, `value` elsewhere. Fatal unless the shapes have equal length
// >= 2 and equal leading entries and out height/width = in height/width + yPad()/xPad().
// Instantiated for unsigned char, unsigned short, int, float and double.
template <typename T>
void pad_crop(const T* in, const std::vector<int>& inShape, T* out, const std::vector<int>& outShape,
              const PadSize& padSize, T value);
// The same with rows `inStride` and `outStride` elements apart (planes stride * height apart); the
// shapes' widths are the used widths, each at most its stride (fatal otherwise). Elements between
// width and stride are left untouched.
template <typename T>
void pad_crop(const T* in, const std::vector<int>& inShape, int inStride, T* out,
              const std::vector<int>& outShape, int outStride, const PadSize& padSize, T value);

}  // namespace roiresize
