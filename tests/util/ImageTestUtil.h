// Helpers shared by the image tests: host and platform images with direct pixel access, pattern
// fills, and JPEG bytes made with TurboJPEG.
#pragma once

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/Mmz.h"
#include "util/ImageRgb.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"

namespace imagetest {

// Every image test program brings the platform up once, before its first test.
struct MiSysEnvironment : testing::Environment {
  void SetUp() override { MiSysInit(); }
};
inline testing::Environment* const kMiSys = testing::AddGlobalTestEnvironment(new MiSysEnvironment);

using Bytes = std::vector<unsigned char>;  // a colour {R, G, B} or a chroma pair {U, V}

// clang-format off
template <typename T>
std::shared_ptr<T> as(const std::shared_ptr<ImageBase>& image) { return std::dynamic_pointer_cast<T>(image); }
inline std::shared_ptr<ImageRgb> host_rgb(unsigned w, unsigned h) { return as<ImageRgb>(produce_ImageRgb(w, h, nullptr)); }
inline std::shared_ptr<ImageRgb> mmz_rgb(unsigned w, unsigned h) { return as<ImageRgb>(produce_mmz_ImageRgb(w, h, nullptr)); }
inline std::shared_ptr<ImageYuv420sp> host_yuv(unsigned w, unsigned h) {
  return as<ImageYuv420sp>(produce_ImageYuv420sp(w, h, nullptr));
}
inline std::shared_ptr<ImageYuv420sp> mmz_yuv(unsigned w, unsigned h) {
  return as<ImageYuv420sp>(produce_mmz_ImageYuv420sp(w, h, nullptr));
}
inline unsigned char& at(const ImageRgb& img, int k, int x, int y) { return img.plane_data(k)[y * img.stride() + x]; }
inline Bytes get_rgb(const ImageRgb& img, int x, int y) { return {at(img, 0, x, y), at(img, 1, x, y), at(img, 2, x, y)}; }
// clang-format on

// Every pixel (stride padding included) of plane k gets fn(k, x, y); platform images are flushed.
inline void fill_rgb(const ImageRgb& img, const std::function<int(int, int, int)>& fn) {
  for (int k = 0; k < 3; ++k)
    for (unsigned y = 0; y < img.height(); ++y)
      for (unsigned x = 0; x < img.stride(); ++x) at(img, k, x, y) = static_cast<unsigned char>(fn(k, x, y));
  img.refresh();
}
// Y(x, y) = fy(x, y); the chroma pair (i, j) = {fu(i, j), fu(i, j) ^ 0x5a} (U and V differ).
inline void fill_yuv(const ImageYuv420sp& img, const std::function<int(int, int)>& fy,
                     const std::function<int(int, int)>& fu) {
  for (unsigned y = 0; y < img.height(); ++y)
    for (unsigned x = 0; x < img.width(); ++x) img.data()[y * img.stride() + x] = Bytes::value_type(fy(x, y));
  for (unsigned j = 0; j < img.height() / 2; ++j)
    for (unsigned c = 0; c < img.width(); ++c)
      img.uv_data()[j * img.stride() + c] = Bytes::value_type(fu(c / 2, j) ^ (c % 2 ? 0x5a : 0));
  img.refresh();
}
inline int ypat(int x, int y) { return x * 7 + y * 13; }
inline int upat(int i, int j) { return 100 + i * 3 + j * 17; }

// The planes of either image class: R, G, B for RGB; Y, then the U,V rows (vertical step 2) for NV12.
struct Plane {
  unsigned char* data;
  unsigned stride, rows, step;
};
inline std::vector<Plane> planes(const ImageBase& img) {
  if (auto* rgb = dynamic_cast<const ImageRgb*>(&img)) {
    std::vector<Plane> out;
    for (int k = 0; k < 3; ++k) out.push_back({rgb->plane_data(k), img.stride(), img.height(), 1});
    return out;
  }
  auto* yuv = dynamic_cast<const ImageYuv420sp*>(&img);
  return {{yuv->data(), img.stride(), img.height(), 1}, {yuv->uv_data(), img.stride(), img.height() / 2, 2}};
}
// The used bytes (width per row) of every row of every plane.
inline std::vector<Bytes> rows(const ImageBase& img) {
  std::vector<Bytes> out;
  for (const Plane& p : planes(img))
    for (unsigned r = 0; r < p.rows; ++r)
      out.emplace_back(p.data + r * p.stride, p.data + r * p.stride + img.width());
  return out;
}

inline Bytes noise(int x, int y) {
  return {Bytes::value_type(x * 37 + y * 11), Bytes::value_type((y * 91) ^ x), Bytes::value_type(x * y)};
}
// TurboJPEG's own JPEG of w x h pixels: interleaved RGB, or (yuv) planes Y, U, V in 4:2:0.
inline Bytes tj_compress(const Bytes& pixels, int w, int h, int subsamp, int quality, bool yuv = false) {
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int rc =
      yuv ? tjCompressFromYUV(handle, pixels.data(), w, 1, h, subsamp, &jpeg, &size, quality, 0)
          : tjCompress2(handle, pixels.data(), w, 0, h, TJPF_RGB, &jpeg, &size, subsamp, quality, 0);
  Bytes out(jpeg, jpeg + (rc == 0 ? size : 0));
  tjFree(jpeg);
  tjDestroy(handle);
  return out;
}
// A JPEG of w x h pixels noise(x, y) with the TurboJPEG subsampling, quality 95.
inline Bytes make_jpeg(int w, int h, int subsamp) {
  Bytes rgb;
  for (int i = 0; i < w * h; ++i) {
    const Bytes c = noise(i % w, i / w);
    rgb.insert(rgb.end(), c.begin(), c.end());
  }
  return tj_compress(rgb, w, h, subsamp, 95);
}
// A small JPEG whose frame header (SOF0) is edited to claim w x h pixels.
inline Bytes jpeg_claiming(int w, int h) {
  Bytes jpeg = make_jpeg(8, 8, TJSAMP_420);
  for (size_t i = 0; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xff && jpeg[i + 1] == 0xc0) {
      jpeg[i + 5] = static_cast<unsigned char>(h >> 8), jpeg[i + 6] = static_cast<unsigned char>(h);
      jpeg[i + 7] = static_cast<unsigned char>(w >> 8), jpeg[i + 8] = static_cast<unsigned char>(w);
      break;
    }
  return jpeg;
}

}  // namespace imagetest
