#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "util/Distance.h"

namespace {

using helper::distance;
using helper::similarity;

TEST(DistanceTest, DistancesAsComputedByHand) {
  const unsigned char u[] = {0, 3, 255}, u2[] = {4, 0, 255};
  const int i[] = {0, -3, 4096, 1}, i2[] = {4, 0, 0, 0};
  const float f[] = {0, 3, 4096, 1}, f2[] = {-4, 0, 0, 0};
  const double d[] = {0, 3, 4096, 1}, d2[] = {4, 0, 0, 0};
  EXPECT_EQ(distance(u, u2, 3), 5.0);
  EXPECT_EQ(distance(i, i2, 2), 5.0);
  EXPECT_EQ(distance(f, f2, 2), 5.0);
  EXPECT_EQ(distance(d, d2, 2), 5.0);
  EXPECT_EQ(distance<double>(nullptr, nullptr, 0), 0.0);
  // Sums: int and float in float (2^24 + 1 stays 2^24), double in double, bytes exactly in 64 bits
  // (259 * 255^2 = 16841475 is odd, above 2^24); the root in double.
  EXPECT_EQ(distance(i + 2, i2 + 2, 2), 4096.0);
  EXPECT_EQ(distance(f + 2, f2 + 2, 2), 4096.0);
  EXPECT_EQ(distance(d + 2, d2 + 2, 2), std::sqrt(16777217.0));
  const std::vector<unsigned char> full(259, 255), none(259, 0);
  EXPECT_EQ(distance(full.data(), none.data(), 259), std::sqrt(16841475.0));
  EXPECT_EQ(distance(i + 3, i2 + 3, 1) + distance(f + 3, f2 + 3, 1), 2.0);
  const float ones[] = {1, 1}, zeros[] = {0, 0};
  EXPECT_EQ(distance(ones, zeros, 2), std::sqrt(2.0));
  const int big[] = {16777217}, one[] = {1};  // float(16777217) - 1 = 16777215
  EXPECT_NEAR(distance(big, one, 1), 16777215.0, 1e-3);
}

TEST(DistanceTest, SimilaritiesAsComputedByHand) {
  // dot 32, |a|^2 14, |b|^2 77.
  const unsigned char u[] = {1, 2, 3}, u2[] = {4, 5, 6};
  const int i[] = {1, 2, 3}, i2[] = {4, 5, 6}, neg[] = {-1, -2, -3};
  const float f[] = {1, 2, 3}, f2[] = {4, 5, 6};
  const double d[] = {1, 2, 3}, d2[] = {4, 5, 6};
  const double expected = 32.0 / std::sqrt(14.0 * 77.0);
  EXPECT_DOUBLE_EQ(similarity(u, u2, 3), expected);
  EXPECT_NEAR(similarity(i, i2, 3), expected, 1e-7);
  EXPECT_NEAR(similarity(f, f2, 3), expected, 1e-7);
  EXPECT_DOUBLE_EQ(similarity(d, d2, 3), expected);
  EXPECT_DOUBLE_EQ(similarity(i, neg, 3), -1.0);
  // Norm products below 1e-8 divide by 0.0001: zero vectors give 0, (1e-3, 0) gives 1e-6 / 1e-4.
  const unsigned char zu[] = {0, 0};
  const int zi[] = {0, 0};
  const float tf[] = {1e-3f, 0};
  const double td[] = {1e-3, 0}, above[] = {1e-2, 0};
  EXPECT_EQ(similarity(zu, zu, 2) + similarity(zi, i, 2) + similarity<float>(nullptr, nullptr, 0), 0.0);
  EXPECT_NEAR(similarity(tf, tf, 2), 0.01, 1e-8);
  EXPECT_NEAR(similarity(td, td, 2), 0.01, 1e-15);
  EXPECT_DOUBLE_EQ(similarity(above, above, 2), 1.0);
  // int sums in float: both squared norms 2^24 + 1 round to 2^24.
  const int a[] = {4096, 1}, b[] = {4096, -1};
  EXPECT_EQ(similarity(a, b, 2), 16777215.0 / 16777216.0);
}

TEST(DistanceTest, FixedPointDistanceAsComputedByHand) {
  const int a[] = {256, 0, 7, INT_MAX}, b[] = {0, 17, 0, INT_MIN};
  EXPECT_EQ(distance<int>(a, b, 1, 8), 1.0);  // (256 >> 4)^2 = 256, / 2^8
  EXPECT_EQ(distance<int>(b, a, 1, 8), 1.0);
  EXPECT_EQ(distance<int>(a + 1, b + 1, 1, 6), 0.375);  // -17 >> 3 = -3 (arithmetic): 9 / 64
  EXPECT_EQ(distance<int>(a + 2, b + 2, 1, 6), 0.0);    // 7 >> 3 = 0
  EXPECT_EQ(distance<int>(b + 2, a + 2, 1, 6), 0.125);  // -7 >> 3 = -1
  // 2^32 - 1 in 64 bits, >> 3 = 2^29 - 1; its square rounds to 2^58 in float; / 2^6 = 2^52.
  EXPECT_EQ(distance<int>(a + 3, b + 3, 1, 6), 67108864.0);
  EXPECT_EQ(distance<int>(a, b, 0, 8), 0.0);
  // shift 6: chunks of 4 squares; 5 differences of 8 give 5 squares of 1, the last chunk partial.
  const std::vector<int> eights(1000, 8), zeros(1000, 0);
  EXPECT_EQ(distance<int>(eights.data(), zeros.data(), 5, 6), static_cast<double>(std::sqrt(5.0f / 64.0f)));
  EXPECT_EQ(distance<int>(eights.data(), zeros.data(), 4, 6), 0.25);
  EXPECT_EQ(distance<int>(eights.data(), zeros.data(), 1000, 6),
            static_cast<double>(std::sqrt(1000.0f / 64.0f)));
}

TEST(DistanceDeathTest, FixedPointShiftMustBeEvenAndAtLeastSix) {
  const int a[] = {1}, b[] = {0};
  EXPECT_DEATH(distance<int>(a, b, 1, 7), "Check failed: shift % 2 == 0 and shift >= 6 ");
  EXPECT_DEATH(distance<int>(a, b, 1, 4), "Check failed: shift % 2 == 0 and shift >= 6 ");
}

}  // namespace
