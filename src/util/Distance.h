// Distances and cosine similarities of raw element arrays: the kernels behind feature-map
// comparison (re-identification, tracking). The accumulation type is part of each function's
// behaviour, since it changes results: see each declaration.
#pragma once

namespace helper {

// Euclidean distance of the n elements at a and b: sqrt of the sum of squared differences.
// unsigned char: exact 64-bit integer sum; int and float: float sum of float differences; double:
// double sum. The square root is taken in double. n = 0 gives 0.
// Instantiated for unsigned char, int, float and double. Thread-safe (pure function).
template <typename T>
double distance(const T* a, const T* b, unsigned int n);

// Euclidean distance of n fixed-point values with `shift` fractional bits, summed in overflow-safe
// chunks: each difference is shifted right by shift / 2 before squaring, chunks of at most
// 2^(shift - 4) squares are summed exactly in 64 bits and the chunk sums in float; the result is
// sqrt(total / 2^shift). Fatal unless shift is even and at least 6. Instantiated for int only.
template <typename T>
double distance(const T* a, const T* b, unsigned int n, unsigned int shift);

// Cosine similarity dot / sqrt(sum a^2 * sum b^2); when that product is below 1e-8 the result is
// dot / 0.0001 (so zero vectors give 0). unsigned char: 64-bit integer sums; int and float: float
// sums; double: double sums. Instantiated for unsigned char, int, float and double.
template <typename T>
double similarity(const T* a, const T* b, unsigned int n);

}  // namespace helper
