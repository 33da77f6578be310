#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "util/Distance.h"

namespace {

using helper::distance;
using helper::similarity;

// Hand values on the same numbers for every element type.
template <typename T>
void expect_distances(double sumOfTwo) {
  const T a[] = {0, 3, 4096, 1, 1, 3, 4}, b[] = {4, 0, 0, 0, 0, 4, 3};
  EXPECT_EQ(distance(a, b, 2), 5.0);
  EXPECT_EQ(distance(a + 2, b + 2, 2), sumOfTwo);        // 4096^2 + 1, summed in the type's accumulator
  EXPECT_EQ(distance(a + 3, b + 3, 2), std::sqrt(2.0));  // the root is taken in double
  EXPECT_NEAR(similarity(a + 5, b + 5, 2), 24.0 / 25.0, 1e-7);  // dot 24, both squared norms 25
  EXPECT_EQ(similarity(a, b + 1, 1), 0.0);                      // zero vectors: 0 / 0.0001
}

TEST(DistanceTest, DistancesAndSimilaritiesAsComputedByHand) {
  expect_distances<int>(4096.0);  // int and float sum in float: 2^24 + 1 stays 2^24
  expect_distances<float>(4096.0);
  expect_distances<double>(std::sqrt(16777217.0));
  // Bytes sum exactly in 64 bits: 259 * 255^2 = 16841475 is odd and above 2^24.
  const std::vector<unsigned char> full(259, 255), none(259, 0);
  EXPECT_EQ(distance(full.data(), none.data(), 259), std::sqrt(16841475.0));
  EXPECT_EQ(similarity(full.data(), full.data(), 259) + similarity(none.data(), full.data(), 259), 1.0);
  // Elements become floats first: float(16777217) - 1 = 16777215. Both squared norms of (4096, +-1),
  // 2^24 + 1, round to 2^24 in float, the dot 2^24 - 1 is exact.
  const int big[] = {16777217, 4096, 1}, small[] = {1, 4096, -1};
  EXPECT_NEAR(distance(big, small, 1), 16777215.0, 1e-3);
  EXPECT_EQ(similarity(big + 1, small + 1, 2), 16777215.0 / 16777216.0);
  const double tiny[] = {1e-3, 0};  // norm product 1e-12 < 1e-8: 1e-6 / 0.0001
  EXPECT_NEAR(similarity(tiny, tiny, 2), 0.01, 1e-15);
}

TEST(DistanceTest, FixedPointDistanceAsComputedByHand) {
  const int a[] = {256, 0, INT_MAX, 8, 8, 8, 8, 8}, b[] = {0, 17, INT_MIN, 0, 0, 0, 0, 0};
  EXPECT_EQ(distance<int>(b, a, 1, 8), 1.0);            // (-256 >> 4)^2 = 256, / 2^8
  EXPECT_EQ(distance<int>(a + 1, b + 1, 1, 6), 0.375);  // -17 >> 3 = -3 (arithmetic): 9 / 64
  // 2^32 - 1 in 64 bits, >> 3 = 2^29 - 1; its square rounds to 2^58 in float; / 2^6 = 2^52.
  EXPECT_EQ(distance<int>(a + 2, b + 2, 1, 6), 67108864.0);
  // shift 6: chunks of 4 squares; five differences of 8 give squares of 1, the last chunk partial.
  EXPECT_EQ(distance<int>(a + 3, b + 3, 5, 6), static_cast<double>(std::sqrt(5.0f / 64.0f)));
}

TEST(DistanceDeathTest, FixedPointShiftMustBeEvenAndAtLeastSix) {
  const int a[] = {1}, b[] = {0};
  EXPECT_DEATH(distance<int>(a, b, 1, 7), "Check failed: shift % 2 == 0 and shift >= 6 ");
}

}  // namespace
