// Nearest-pixel down-scaling between two NV12 images on the CPU: the frame reader and ROI stages
// use it to make a small image from a large one without the engines.
#pragma once

#include "util/ImageBase.h"

// Fills pSmall from pLarge, both ImageYuv420sp with positive sizes (fatal otherwise):
// Y small(i, j) = large(i * Hl / Hs, j * Wl / Ws), and whole U,V pairs likewise on the half-size
// chroma planes (integer division); then pSmall->refresh(). Thread-safe for distinct images; one
// writer per image.
void pick_nearest_pixel(ImageBase* pSmall, const ImageBase* pLarge);
