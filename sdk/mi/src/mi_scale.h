// Plane and NV12 scaling shared by the engine and the scaler: libyuv's results, with a faster path
// for the reduction by exactly three (1080p to 360p) that picks the very pixels libyuv picks.
#pragma once

#include <libyuv.h>

#include <cstdint>

namespace kavo_mi {

// As libyuv::NV12Scale; returns 0 on success.
int scale_nv12(const std::uint8_t* sy, int syStride, const std::uint8_t* suv, int suvStride, int sw, int sh,
               std::uint8_t* dy, int dyStride, std::uint8_t* duv, int duvStride, int dw, int dh,
               libyuv::FilterMode filter);

// As libyuv::ScalePlane.
void scale_plane(const std::uint8_t* s, int sStride, int sw, int sh, std::uint8_t* d, int dStride, int dw,
                 int dh, libyuv::FilterMode filter);

}  // namespace kavo_mi
