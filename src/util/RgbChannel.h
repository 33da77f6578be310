// CPU pixel arithmetic on byte buffers: RGB <-> YUV with fixed integer constants (one pixel, and
// NV12 <-> planar RGB for whole images), re-ordering between interleaved ("rgbrgb") and planar
// ("rrggbb") RGB, 90-degree rotation of stacked planes, and bilinear ROI resize of planes. The image
// classes use these where no platform engine is involved (drawing colours, CPU paths, tools).
#pragma once

#include <functional>
#include <memory>
#include <vector>

// Thread-safe: pure functions over caller-owned buffers, no shared state.
namespace rgbchannel {

// One pixel, rgb = {R, G, B} -> yuv = {Y, U, V}:
//   Y = (299000 R + 587000 G + 114000 B) / 1000000 (unsigned),
//   U = (-169000 R - 331000 G + 500000 B) / 1000000 + 128,
//   V = (500000 R - 419000 G - 81000 B) / 1000000 + 128 (signed, truncating toward zero).
void rgb2yuv(const unsigned char* rgb, unsigned char* yuv);

// One pixel, yuv = {Y, U, V} -> rgb = {R, G, B}. With d = U - 128, e = V - 128, y = 1000000 Y:
//   R = y + 1401687 e - 930 d, G = y - 714170 e - 343700 d, B = y + 990 e + 1772160 d,
// each 0 below 1000000, 255 from 256000000 on, otherwise divided by 1000000.
void yuv2rgb(const unsigned char* yuv, unsigned char* rgb);

// Planar RGB (with `bgr`: B, G, R planes) of width x height -> NV12 in dst (width * height * 3 / 2
// bytes). Every pixel's Y is its own; each 2x2 block's U,V pair is that of its bottom-right pixel.
// Width and height must be even (fatal otherwise).
void rgb2yuv420sp(const unsigned char* src, unsigned char* dst, unsigned int width, unsigned int height,
                  bool bgr);

// NV12 of width x height -> planar R, G, B (with `bgr`: B, G, R) in dst (3 * width * height bytes),
// each pixel converted with yuv2rgb() from its Y and its block's U,V pair. Width and height must be
// even (fatal otherwise).
void yuv420sp2rgb(const unsigned char* src, unsigned char* dst, unsigned int width, unsigned int height,
                  bool bgr);

// Calls `fn` on the three bytes of every pixel of the interleaved buffer, in place, in order. The
// size must be a multiple of 3 (fatal otherwise).
void convert_rgbrgb2xyzxyz(std::vector<unsigned char>& rgbrgb, const std::function<void(unsigned char*)>& fn);

// Interleaves three planes of equal size (fatal otherwise) into rgbrgb, resized to fit.
void convert_rrggbb2rgbrgb(const std::vector<unsigned char>& rr, const std::vector<unsigned char>& gg,
                           const std::vector<unsigned char>& bb, std::vector<unsigned char>& rgbrgb);
// Planar (three stacked planes) -> interleaved, resized to fit; `swap` exchanges the first and third
// planes (RGB <-> BGR). The size must be a multiple of 3 (fatal otherwise).
void convert_rrggbb2rgbrgb(const std::vector<unsigned char>& rrggbb, std::vector<unsigned char>& rgbrgb,
                           bool swap);
// Interleaved -> planar, resized to fit; `swap` as above. The size must be a multiple of 3.
void convert_rgbrgb2rrggbb(const std::vector<unsigned char>& rgbrgb, std::vector<unsigned char>& rrggbb,
                           bool swap);
// Interleaved -> three separate planes, each resized to fit. The size must be a multiple of 3.
void convert_rgbrgb2rrggbb(const std::vector<unsigned char>& rgbrgb, std::vector<unsigned char>& rr,
                           std::vector<unsigned char>& gg, std::vector<unsigned char>& bb);

// `src` holds size / width / height stacked planes of width x height; the result (same size) holds
// the planes rotated, each height wide and width high:
//   clockwise:      out[x * height + y] = in[(height - 1 - y) * width + x],
//   anticlockwise:  out[(width - 1 - x) * height + y] = in[y * width + x].
// Bytes after the last whole plane (none for well-formed input) are zero.
std::shared_ptr<std::vector<unsigned char>> rotate_90_clockwise(const std::vector<unsigned char>& src,
                                                                int width, int height);
std::shared_ptr<std::vector<unsigned char>> rotate_90_anticlockwise(const std::vector<unsigned char>& src,
                                                                    int width, int height);

// Bilinear resize of the normalised `roi` {x1, y1, x2, y2} of `planes` stacked width x height planes
// into `out`, resized to planes * outHeight * outWidth; samples outside the image are 0 (see
// roiresize::roi_resize_4corners).
void roi_resize_planes(int planes, const std::vector<unsigned char>& in, int width, int height,
                       std::vector<unsigned char>& out, int outWidth, int outHeight,
                       const std::vector<float>& roi);
// roi_resize_planes() with three planes.
void roi_resize_rrggbb(const std::vector<unsigned char>& in, int width, int height,
                       std::vector<unsigned char>& out, int outWidth, int outHeight,
                       const std::vector<float>& roi);
// The same for interleaved RGB: to planar, resized, back to interleaved.
void roi_resize_rgbrgb(const std::vector<unsigned char>& in, int width, int height,
                       std::vector<unsigned char>& out, int outWidth, int outHeight,
                       const std::vector<float>& roi);

}  // namespace rgbchannel
