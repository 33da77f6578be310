#include "util/PickNearestPixel.h"

#include <glog/logging.h>

#include <vector>

#include "util/ImageYuv420sp.h"

namespace {

// For every destination index, the source index i * srcSize / dstSize (integer division).
std::vector<int> nearest_indices(int dstSize, int srcSize) {
  std::vector<int> indices(dstSize);
  for (int i = 0; i < dstSize; ++i)
    indices[i] = static_cast<int>(static_cast<long long>(i) * srcSize / dstSize);
  return indices;
}

template <typename T>
void pick_plane(const BlobPlane<T>& large, BlobPlane<T>& small) {
  if (small.height <= 0 || small.width <= 0) return;
  const std::vector<int> rows = nearest_indices(small.height, large.height);
  const std::vector<int> cols = nearest_indices(small.width, large.width);
  for (int i = 0; i < small.height; ++i) {
    const T* src = large.row(rows[i]);
    T* dst = small.row(i);
    for (int j = 0; j < small.width; ++j) dst[j] = src[cols[j]];
  }
}

}  // namespace

void pick_nearest_pixel(ImageBase* pSmall, const ImageBase* pLarge) {
  CHECK(pLarge and pSmall) << "both images are required";
  auto* small = dynamic_cast<ImageYuv420sp*>(pSmall);
  auto* large = dynamic_cast<const ImageYuv420sp*>(pLarge);
  CHECK(small != nullptr && large != nullptr) << "pick_nearest_pixel works on NV12 images only";
  CHECK(pLarge->height() > 0 and pLarge->width() > 0) << pLarge->height() << ", " << pLarge->width();
  CHECK(pSmall->height() > 0 and pSmall->width() > 0) << pSmall->height() << ", " << pSmall->width();
  pick_plane(*large->get_yuv().y, *small->get_yuv().y);
  pick_plane(*large->get_yuv().uv, *small->get_yuv().uv);
  pSmall->refresh();
}
