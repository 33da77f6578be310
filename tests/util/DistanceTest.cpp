#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "util/Distance.h"

namespace {

TEST(DistanceTest, PythagoreanTripleForEveryType) {
  const unsigned char ua[] = {0, 3}, ub[] = {4, 0};
  const int ia[] = {0, -3}, ib[] = {4, 0};
  const float fa[] = {0.0f, 3.0f}, fb[] = {4.0f, 0.0f};
  const double da[] = {0.0, 3.0}, db[] = {-4.0, 0.0};
  EXPECT_EQ(helper::distance(ua, ub, 2), 5.0);
  EXPECT_EQ(helper::distance(ia, ib, 2), 5.0);
  EXPECT_EQ(helper::distance(fa, fb, 2), 5.0);
  EXPECT_EQ(helper::distance(da, db, 2), 5.0);
}

TEST(DistanceTest, EmptyInputGivesZero) {
  EXPECT_EQ(helper::distance<unsigned char>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::distance<int>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::distance<float>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::distance<double>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::distance<int>(nullptr, nullptr, 0, 8), 0.0);
  EXPECT_EQ(helper::similarity<unsigned char>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::similarity<int>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::similarity<float>(nullptr, nullptr, 0), 0.0);
  EXPECT_EQ(helper::similarity<double>(nullptr, nullptr, 0), 0.0);
}

TEST(DistanceTest, BytesAreSummedExactlyBeyondFloatPrecision) {
  // 259 * 255^2 = 16841475: odd and above 2^24, so a float sum would round it to 16841476.
  std::vector<unsigned char> a(259, 255), b(259, 0);
  EXPECT_EQ(helper::distance(a.data(), b.data(), 259), std::sqrt(16841475.0));
}

TEST(DistanceTest, IntAndFloatSumInSinglePrecision) {
  // 4096^2 + 1 = 2^24 + 1 is not a float: the sum stays 2^24.
  const int ia[] = {4096, 1}, zi[] = {0, 0};
  const float fa[] = {4096.0f, 1.0f}, zf[] = {0.0f, 0.0f};
  const double da[] = {4096.0, 1.0}, zd[] = {0.0, 0.0};
  EXPECT_EQ(helper::distance(ia, zi, 2), 4096.0);
  EXPECT_EQ(helper::distance(fa, zf, 2), 4096.0);
  EXPECT_EQ(helper::distance(da, zd, 2), std::sqrt(16777217.0));
}

TEST(DistanceTest, IntElementsAreConvertedToFloatBeforeSubtracting) {
  // float(16777217) is 16777216, so the difference is 16777215 (not 16777216 as in integers); its
  // square rounds to 2^48 - 2^25 in float, whose root lies within 1e-7 of 16777215.
  const int a[] = {16777217}, b[] = {1};
  EXPECT_NEAR(helper::distance(a, b, 1), 16777215.0, 1e-3);
}

TEST(DistanceTest, SquareRootIsTakenInDouble) {
  const int a[] = {1, 1}, b[] = {0, 0};
  const float fa[] = {1.0f, 1.0f}, fb[] = {0.0f, 0.0f};
  EXPECT_EQ(helper::distance(a, b, 2), std::sqrt(2.0));
  EXPECT_EQ(helper::distance(fa, fb, 2), std::sqrt(2.0));
  EXPECT_NE(helper::distance(a, b, 2), static_cast<double>(std::sqrt(2.0f)));
}

TEST(DistanceTest, SimilarityOfKnownVectors) {
  // dot 32, |a|^2 14, |b|^2 77.
  const unsigned char ua[] = {1, 2, 3}, ub[] = {4, 5, 6};
  const int ia[] = {1, 2, 3}, ib[] = {4, 5, 6};
  const float fa[] = {1, 2, 3}, fb[] = {4, 5, 6};
  const double da[] = {1, 2, 3}, db[] = {4, 5, 6};
  const double expected = 32.0 / std::sqrt(1078.0);
  EXPECT_DOUBLE_EQ(helper::similarity(ua, ub, 3), expected);
  EXPECT_NEAR(helper::similarity(ia, ib, 3), expected, 1e-7);
  EXPECT_NEAR(helper::similarity(fa, fb, 3), expected, 1e-7);
  EXPECT_DOUBLE_EQ(helper::similarity(da, db, 3), expected);
}

TEST(DistanceTest, SimilarityOfEqualAndOppositeVectors) {
  const int a[] = {3, -4}, neg[] = {-3, 4};
  const double da[] = {0.25, 7.0};
  const unsigned char ua[] = {9, 200, 1};
  EXPECT_DOUBLE_EQ(helper::similarity(a, a, 2), 1.0);
  EXPECT_DOUBLE_EQ(helper::similarity(a, neg, 2), -1.0);
  EXPECT_DOUBLE_EQ(helper::similarity(da, da, 2), 1.0);
  EXPECT_DOUBLE_EQ(helper::similarity(ua, ua, 3), 1.0);
}

TEST(DistanceTest, SimilarityOfZeroVectorsIsZero) {
  const unsigned char u[] = {0, 0, 0};
  const float f[] = {0, 0, 0};
  const double d[] = {0, 0, 0};
  const int i[] = {0, 0, 0}, one[] = {1, 0, 0};
  EXPECT_EQ(helper::similarity(u, u, 3), 0.0);
  EXPECT_EQ(helper::similarity(f, f, 3), 0.0);
  EXPECT_EQ(helper::similarity(d, d, 3), 0.0);
  EXPECT_EQ(helper::similarity(i, i, 3), 0.0);
  EXPECT_EQ(helper::similarity(i, one, 3), 0.0);
}

TEST(DistanceTest, SimilarityOfTinyNormsDividesByTenThousandth) {
  // dot 1e-6 and norm product 1e-12 < 1e-8: 1e-6 / 0.0001 = 0.01 instead of 1.
  const double d[] = {1e-3, 0.0};
  const float f[] = {1e-3f, 0.0f};
  EXPECT_NEAR(helper::similarity(d, d, 2), 0.01, 1e-15);
  EXPECT_NEAR(helper::similarity(f, f, 2), 0.01, 1e-8);
  // Just above the threshold the ordinary formula applies: product 1.0000000000000002e-8.
  const double above[] = {1e-2, 0.0};
  EXPECT_DOUBLE_EQ(helper::similarity(above, above, 2), 1.0);
}

TEST(DistanceTest, IntSimilaritySumsInSinglePrecision) {
  // dot 2^24 - 1 is exact; both squared norms 2^24 + 1 round to 2^24 in float.
  const int a[] = {4096, 1}, b[] = {4096, -1};
  const double da[] = {4096, 1}, db[] = {4096, -1};
  EXPECT_EQ(helper::similarity(a, b, 2), 16777215.0 / 16777216.0);
  EXPECT_DOUBLE_EQ(helper::similarity(da, db, 2), 16777215.0 / 16777217.0);
}

TEST(DistanceTest, FixedPointDistanceOfOneUnit) {
  // shift 8: (256 >> 4)^2 = 256, 256 / 2^8 = 1.
  const int a[] = {256}, b[] = {0};
  EXPECT_EQ(helper::distance<int>(a, b, 1, 8), 1.0);
  EXPECT_EQ(helper::distance<int>(b, a, 1, 8), 1.0);
}

TEST(DistanceTest, FixedPointShiftIsArithmetic) {
  // -17 >> 3 = -3 (rounds down, not toward zero): 9 / 64, root 0.375.
  const int a[] = {0}, b[] = {17};
  EXPECT_EQ(helper::distance<int>(a, b, 1, 6), 0.375);
  // Differences smaller than 2^half vanish when positive but not when negative.
  const int small[] = {7}, zero[] = {0};
  EXPECT_EQ(helper::distance<int>(small, zero, 1, 6), 0.0);
  EXPECT_EQ(helper::distance<int>(zero, small, 1, 6), 0.125);  // -7 >> 3 = -1
}

TEST(DistanceTest, FixedPointDifferenceIsTakenIn64Bits) {
  // 2^32 - 1 shifted by 3 is 2^29 - 1; its square rounds to 2^58 in float; / 2^6 = 2^52.
  const int a[] = {INT_MAX}, b[] = {INT_MIN};
  EXPECT_EQ(helper::distance<int>(a, b, 1, 6), 67108864.0);
}

TEST(DistanceTest, FixedPointIncludesTheLastPartialChunk) {
  // shift 6: chunks of 4 elements; 5 elements of difference 8 give 5 squares of 1.
  const int a[] = {8, 8, 8, 8, 8}, b[] = {0, 0, 0, 0, 0};
  EXPECT_EQ(helper::distance<int>(a, b, 5, 6), static_cast<double>(std::sqrt(5.0f / 64.0f)));
  EXPECT_EQ(helper::distance<int>(a, b, 4, 6), 0.25);
  EXPECT_EQ(helper::distance<int>(a, b, 3, 6), static_cast<double>(std::sqrt(3.0f / 64.0f)));
  std::vector<int> many(1000, 64), none(1000, 0);
  // (64 >> 3)^2 = 64 per element, 64000 / 64 = 1000.
  EXPECT_EQ(helper::distance<int>(many.data(), none.data(), 1000, 6),
            static_cast<double>(std::sqrt(1000.0f)));
}

TEST(DistanceDeathTest, FixedPointShiftMustBeEvenAndAtLeastSix) {
  const int a[] = {1}, b[] = {0};
  EXPECT_DEATH(helper::distance<int>(a, b, 1, 7), "Check failed: shift % 2 == 0 and shift >= 6 ");
  EXPECT_DEATH(helper::distance<int>(a, b, 1, 4), "Check failed: shift % 2 == 0 and shift >= 6 ");
}

}  // namespace
