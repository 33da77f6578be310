// Helpers shared by the image tests: host images with direct pixel access, pixel sets, and JPEG
// bytes made with TurboJPEG from a colour function.
#pragma once

#include <turbojpeg.h>

#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"

namespace imagetest {

using Pixels = std::set<std::pair<int, int>>;  // (x, y)
using Rgb = std::vector<unsigned char>;

inline std::shared_ptr<ImageRgb> host_rgb(unsigned int w, unsigned int h) {
  return std::dynamic_pointer_cast<ImageRgb>(produce_ImageRgb(w, h, nullptr));
}
inline std::shared_ptr<ImageYuv420sp> host_yuv(unsigned int w, unsigned int h) {
  return std::dynamic_pointer_cast<ImageYuv420sp>(produce_ImageYuv420sp(w, h, nullptr));
}
inline std::shared_ptr<ImageRgb> mmz_rgb(unsigned int w, unsigned int h) {
  return std::dynamic_pointer_cast<ImageRgb>(produce_mmz_ImageRgb(w, h, nullptr));
}
inline std::shared_ptr<ImageYuv420sp> mmz_yuv(unsigned int w, unsigned int h) {
  return std::dynamic_pointer_cast<ImageYuv420sp>(produce_mmz_ImageYuv420sp(w, h, nullptr));
}

inline unsigned char& at(const ImageRgb& img, int plane, int x, int y) {
  return img.plane_data(plane)[static_cast<size_t>(y) * img.stride() + x];
}
inline void set_rgb(const ImageRgb& img, int x, int y, unsigned char r, unsigned char g, unsigned char b) {
  at(img, 0, x, y) = r;
  at(img, 1, x, y) = g;
  at(img, 2, x, y) = b;
}
inline Rgb get_rgb(const ImageRgb& img, int x, int y) {
  return {at(img, 0, x, y), at(img, 1, x, y), at(img, 2, x, y)};
}

inline unsigned char& luma(const ImageYuv420sp& img, int x, int y) {
  return img.data()[static_cast<size_t>(y) * img.stride() + x];
}
// The U,V pair of chroma element (i = column, j = row) as {U, V}.
inline Rgb chroma(const ImageYuv420sp& img, int i, int j) {
  const unsigned char* p = img.uv_data() + static_cast<size_t>(j) * img.stride() + 2 * i;
  return {p[0], p[1]};
}
inline void set_chroma(const ImageYuv420sp& img, int i, int j, unsigned char u, unsigned char v) {
  unsigned char* p = img.uv_data() + static_cast<size_t>(j) * img.stride() + 2 * i;
  p[0] = u;
  p[1] = v;
}

// Fills every pixel (stride padding included) of the RGB image with a function of (plane, x, y).
inline void fill_rgb(const ImageRgb& img, const std::function<unsigned char(int, int, int)>& fn) {
  for (int k = 0; k < 3; ++k)
    for (unsigned int y = 0; y < img.height(); ++y)
      for (unsigned int x = 0; x < img.stride(); ++x) at(img, k, x, y) = fn(k, x, y);
}
// Fills Y with fy(x, y) and each chroma pair with fuv(i, j) = {U, V}.
inline void fill_yuv(const ImageYuv420sp& img, const std::function<unsigned char(int, int)>& fy,
                     const std::function<Rgb(int, int)>& fuv) {
  for (unsigned int y = 0; y < img.height(); ++y)
    for (unsigned int x = 0; x < img.width(); ++x) luma(img, x, y) = fy(x, y);
  for (unsigned int j = 0; j < img.height() / 2; ++j)
    for (unsigned int i = 0; i < img.width() / 2; ++i) {
      Rgb uv = fuv(i, j);
      set_chroma(img, i, j, uv[0], uv[1]);
    }
}

// Pixels (x, y) of the RGB image whose colour is not (0, 0, 0).
inline Pixels painted(const ImageRgb& img) {
  Pixels out;
  for (unsigned int y = 0; y < img.height(); ++y)
    for (unsigned int x = 0; x < img.width(); ++x)
      if (at(img, 0, x, y) || at(img, 1, x, y) || at(img, 2, x, y))
        out.insert({static_cast<int>(x), static_cast<int>(y)});
  return out;
}

inline Pixels rect(int x0, int x1, int y0, int y1) {  // inclusive bounds
  Pixels out;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) out.insert({x, y});
  return out;
}
inline Pixels unite(std::initializer_list<Pixels> sets) {
  Pixels out;
  for (const Pixels& s : sets) out.insert(s.begin(), s.end());
  return out;
}

// A JPEG of w x h with the given TurboJPEG subsampling, pixel (x, y) coloured by fn.
inline std::vector<unsigned char> make_jpeg(int w, int h, int subsamp, const std::function<Rgb(int, int)>& fn,
                                            int quality = 95) {
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgb c = fn(x, y);
      std::copy(c.begin(), c.end(), rgb.begin() + (static_cast<size_t>(y) * w + x) * 3);
    }
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(handle, rgb.data(), w, 0, h, TJPF_RGB, &jpeg, &size, subsamp, quality, 0);
  std::vector<unsigned char> out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  return out;
}

}  // namespace imagetest
