#include "util/Distance.h"

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

namespace helper {

namespace {

// Cosine from the dot product and the product of the squared norms. Near-zero norms divide by
// 0.0001 instead of their root, which keeps zero vectors at 0 instead of NaN.
double cosine(double dot, double normProduct) {
  if (normProduct < 1e-8) return dot / 0.0001;
  return dot / std::sqrt(normProduct);
}

}  // namespace

template <typename T>
double distance(const T* a, const T* b, unsigned int n) {
  if constexpr (std::is_same<T, unsigned char>::value) {
    // Bytes are summed exactly: 255^2 * 2^32 still fits in 64 bits.
    int64_t sum = 0;
    for (unsigned int i = 0; i < n; ++i) {
      int64_t d = static_cast<int64_t>(a[i]) - b[i];
      sum += d * d;
    }
    return std::sqrt(static_cast<double>(sum));
  } else if constexpr (std::is_same<T, double>::value) {
    double sum = 0;
    for (unsigned int i = 0; i < n; ++i) {
      double d = a[i] - b[i];
      sum += d * d;
    }
    return std::sqrt(sum);
  } else {
    float sum = 0;
    for (unsigned int i = 0; i < n; ++i) {
      float d = static_cast<float>(a[i]) - static_cast<float>(b[i]);
      sum += d * d;
    }
    return std::sqrt(static_cast<double>(sum));
  }
}

template <typename T>
double distance(const T* a, const T* b, unsigned int n, unsigned int shift) {
  static_assert(std::is_same<T, int>::value, "fixed-point distance is defined for int");
  CHECK(shift % 2 == 0 and shift >= 6);
  if (n == 0) return 0;
  // Shifting by 63 already leaves only the sign, as any larger arithmetic shift would.
  const unsigned int half = std::min(shift / 2, 63u);
  // A difference of two ints is below 2^32, its shifted square below 2^(64 - shift); 2^(shift - 4)
  // of them stay below 2^60, so the signed 64-bit chunk sum cannot overflow.
  const uint64_t chunkLimit = shift - 4 >= 63 ? UINT64_MAX : (uint64_t{1} << (shift - 4));
  const unsigned int chunk = static_cast<unsigned int>(std::min<uint64_t>(n, chunkLimit));
  float total = 0;
  for (unsigned int begin = 0; begin < n;) {
    const unsigned int end = begin + std::min(chunk, n - begin);
    int64_t sum = 0;
    for (unsigned int i = begin; i < end; ++i) {
      int64_t d = (static_cast<int64_t>(a[i]) - static_cast<int64_t>(b[i])) >> half;
      sum += d * d;
    }
    total += static_cast<float>(sum);
    begin = end;
  }
  return static_cast<double>(std::sqrt(total / std::ldexp(1.0f, static_cast<int>(shift))));
}

template <typename T>
double similarity(const T* a, const T* b, unsigned int n) {
  if constexpr (std::is_same<T, unsigned char>::value) {
    int64_t dot = 0, aa = 0, bb = 0;
    for (unsigned int i = 0; i < n; ++i) {
      int64_t x = a[i];
      int64_t y = b[i];
      dot += x * y;
      aa += x * x;
      bb += y * y;
    }
    return cosine(static_cast<double>(dot), static_cast<double>(aa) * static_cast<double>(bb));
  } else if constexpr (std::is_same<T, double>::value) {
    double dot = 0, aa = 0, bb = 0;
    for (unsigned int i = 0; i < n; ++i) {
      dot += a[i] * b[i];
      aa += a[i] * a[i];
      bb += b[i] * b[i];
    }
    return cosine(dot, aa * bb);
  } else {
    float dot = 0, aa = 0, bb = 0;
    for (unsigned int i = 0; i < n; ++i) {
      float x = static_cast<float>(a[i]);
      float y = static_cast<float>(b[i]);
      dot += x * y;
      aa += x * x;
      bb += y * y;
    }
    return cosine(dot, static_cast<double>(aa) * static_cast<double>(bb));
  }
}

template double distance<unsigned char>(const unsigned char*, const unsigned char*, unsigned int);
template double distance<int>(const int*, const int*, unsigned int);
template double distance<float>(const float*, const float*, unsigned int);
template double distance<double>(const double*, const double*, unsigned int);
template double distance<int>(const int*, const int*, unsigned int, unsigned int);
template double similarity<unsigned char>(const unsigned char*, const unsigned char*, unsigned int);
template double similarity<int>(const int*, const int*, unsigned int);
template double similarity<float>(const float*, const float*, unsigned int);
template double similarity<double>(const double*, const double*, unsigned int);

}  // namespace helper
