#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>

#include "mi_sys.h"
#include "mi_test.h"
#include "util/BlobBase.h"
#include "util/BlobGeneral.h"

namespace {

using testing::ElementsAre;

template <typename T>
std::vector<T> elements(const BlobGeneral<T>& b) {
  return std::vector<T>(b.data, b.data + b.count());
}

// A feature map over a strided view, to compare with a BlobGeneral.
template <typename T>
struct ViewMap : FeatureMapInterface<T> {
  ViewMap(T* data, int rows, int stride, int width) : line(new BlobLine<T>(data, rows, stride, width)) {}
  std::shared_ptr<BlobLine<T>> underneath() const override { return line; }
  std::vector<int> shape() const override { return {line->highDimS, line->width}; }
  std::shared_ptr<BlobLine<T>> line;
};

TEST(BlobGeneralTest, ShapeGivesWidthHeightAndPlanes) {
  // {width, height, planes, rows, count} of a BlobPlane without padding over the zeroed elements.
  const std::vector<std::pair<std::vector<int>, std::vector<int>>> rows = {
      {{5}, {5, 1, 1, 1, 5}}, {{7, 3}, {3, 7, 1, 7, 21}}, {{2, 3, 4, 5}, {5, 4, 6, 24, 120}}};
  for (const auto& [shape, expected] : rows) {
    BlobGeneral<float> b(shape, true, 1, "B");
    auto p = std::dynamic_pointer_cast<BlobPlane<float>>(b.underneath());
    ASSERT_TRUE(p && p->data == b.data && p->stride == p->width);
    EXPECT_EQ(std::vector<int>({p->width, p->height, p->highDimHS, p->highDimS, b.count()}), expected);
    EXPECT_EQ(elements(b), std::vector<float>(expected[4], 0.0f));
  }
}

TEST(BlobGeneralTest, ResetReshapeAndTheArrayLimit) {
  BlobGeneral<unsigned int> b({2, 2}, false, 1, "B");
  b.reset(7u);
  EXPECT_THAT(elements(b), ElementsAre(7u, 7u, 7u, 7u));
  // 0x1fffffff elements and more are refused; b stays.
  EXPECT_THROW(b.reshape({0x1fffffff}, false), std::bad_array_new_length);
  EXPECT_THAT(elements(b), ElementsAre(7u, 7u, 7u, 7u));
}

TEST(BlobGeneralTest, CopiesCompareAndProduceByValue) {
  BlobGeneral<float> a({2, 3}, false, 8, "A"), other({4}, true, 9, "O");
  for (int i = 0; i < 6; ++i) a.data[i] = i * 0.5f;
  BlobGeneral<float> copy(a);
  other = a;  // takes shape and elements, keeps its identity
  a.data[5] = 9;
  EXPECT_EQ(copy.resName() + other.resName() + std::to_string(other.resId()), "AO9");
  EXPECT_THAT(elements(other), ElementsAre(0, 0.5f, 1, 1.5f, 2, 2.5f));
  EXPECT_TRUE(copy == other);
  other.data[0] = -0.0f;
  EXPECT_FALSE(copy == other);  // 0.0 and -0.0 differ in their bytes
  other = BlobGeneral<float>(1, "E");
  EXPECT_TRUE(other == BlobGeneral<float>(2, "F") && other.underneath() == nullptr);
  auto produce = BlobGeneral<int>::produce_func({2, 2}, 16, "RESOURCE_X");
  auto b1 = std::dynamic_pointer_cast<BlobGeneral<int>>(produce()),
       b2 = std::dynamic_pointer_cast<BlobGeneral<int>>(produce());
  ASSERT_TRUE(b1 && b2 && b1->data != b2->data && b1->resId() == 16 && b1->resName() == "RESOURCE_X");
  EXPECT_THAT(elements(*b2), ElementsAre(0, 0, 0, 0));
}

TEST(BlobLineTest, CopyAndDownsampleTouchOnlyUsedElements) {
  int src[] = {1, 2, 3, 90, 4, 5, 6, 91}, dst[] = {0, 0, 0, 0, 0, 0, -1, -1, -1};
  BlobLine<int>(dst + 1, 2, 4, 3).copy_from(BlobLine<int>(src, 2, 4, 3));
  EXPECT_THAT(dst, ElementsAre(0, 1, 2, 3, 0, 4, 5, 6, -1));
  // Two planes of 4 x 4 used elements (stride 5, value plane * 100 + row * 10 + col) into two planes
  // of 3 x 3: the top-left element of each 2 x 2 block; the rest stays.
  unsigned char big[2 * 4 * 5], small[2 * 3 * 3];
  for (int i = 0; i < 40; ++i) big[i] = static_cast<unsigned char>(i / 20 * 100 + i % 20 / 5 * 10 + i % 5);
  std::memset(small, 0xEE, sizeof(small));
  BlobPlane<unsigned char>(small, 2, 3, 3, 3).downsample_2_from(BlobPlane<unsigned char>(big, 2, 4, 5, 4));
  EXPECT_THAT(small, ElementsAre(0, 2, 0xEE, 20, 22, 0xEE, 0xEE, 0xEE, 0xEE, 100, 102, 0xEE, 120, 122, 0xEE,
                                 0xEE, 0xEE, 0xEE));
}

TEST(BlobLineTest, PlatformBlockRoundTripsThroughMappedViews) {
  MI_PHY phy = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &phy), MI_SUCCESS);
  const MI_U32 mappingsBefore = MI_TEST_GetMappingCount();
  {
    BlobPlane<int> writer(nullptr, phy, 4096, 2, 4, 128, 100, true);
    writer.plane(1)[3] = 12345;  // row 4
    EXPECT_EQ(BlobLine<int>(nullptr, phy, 4096, 8, 128, 128, true).row(4)[3], 12345);
  }
  EXPECT_EQ(MI_TEST_GetMappingCount(), mappingsBefore);
  MI_SYS_MMA_Free(0, phy);
}

TEST(FeatureMapTest, ComparesAndCopiesUsedElementsAsComputedByHand) {
  BlobGeneral<float> a({2, 2}, true, 1, "A"), z({2, 2}, true, 1, "Z");
  a.data[1] = 2, a.data[2] = 3, a.data[3] = 4;
  float mem[] = {0, 2, 100, 3, 8, -100};  // rows (0, 2) and (3, 8), stride 3
  ViewMap<float> b(mem, 2, 3, 2);
  EXPECT_EQ(a.distance(b), 4.0);
  EXPECT_NEAR(b.similarity(a), 45.0 / std::sqrt(29.0 * 77.0), 1e-7);  // dot 45, |a|^2 29, |b|^2 77
  EXPECT_EQ(z.similarity(z), 0.0);                                    // 0 / 0.0001
  z.copy_from(b);
  b.copy_from(a);
  EXPECT_THAT(elements(z), ElementsAre(0, 2, 3, 8));
  EXPECT_THAT(mem, ElementsAre(0, 2, 100, 3, 4, -100));
  BlobGeneral<int> e1(1, "E"), e2(2, "E");  // unshaped maps have the same (empty) shape
  EXPECT_EQ(e1.distance(e2) + e1.similarity(e2), 0.0);
  e1.copy_from(e2);
  // Float rows 2^24 and 8 sum to 2^24 + 8; adding eight 1s one by one to 2^24 would stay at 2^24.
  BlobGeneral<float> rows({2, 8}, true, 1, "R"), zero({2, 8}, true, 1, "Z");
  rows.data[0] = 4096;
  for (int i = 8; i < 16; ++i) rows.data[i] = 1;
  EXPECT_EQ(rows.distance(zero), static_cast<double>(std::sqrt(16777224.0f)));
}

TEST(BlobDeathTest, GeometryAndShapesAreChecked) {
  int mem[8];
  BlobGeneral<float> b(1, "B");
  EXPECT_DEATH(BlobPlane<int>(mem, 1, 2, 3, 4), "Check failed: width <= stride ");
  EXPECT_DEATH(BlobLine<int>(nullptr, 0x200000000ull, 31, 2, 4, 4, false),  // needs 32 bytes
               "Check failed: phy_capacity / sizeof\\(Dtype\\) >= capacity ");
  EXPECT_DEATH(b.reshape({2, 0, 3}, true), "Check failed: y >= 1 blob invalid dim : 0");
}

TEST(BlobDeathTest, FailedMappingAndUnmappingAreFatal) {
  MI_PHY phy = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &phy), MI_SUCCESS);
  char hex[32];
  std::snprintf(hex, sizeof(hex), "%llx", static_cast<unsigned long long>(phy));
  const std::string ret = ", ret=" + std::to_string(MI_ERR_SYS_UNEXIST) + ", capacity=4096";
  EXPECT_DEATH(MI_TEST_FailNext("MI_SYS_Mmap", MI_ERR_SYS_UNEXIST);
               BlobLine<unsigned char>(nullptr, phy, 4096, 1, 4096, 4096, true),
               "Check failed: success == 0 MI_SYS_Mmap failed: PHY=0x" + std::string(hex) + ret);
  EXPECT_DEATH(BlobLine<unsigned char> line(nullptr, phy, 4096, 1, 4096, 4096, true);
               MI_TEST_FailNext("MI_SYS_Munmap", MI_ERR_SYS_UNEXIST),
               "Check failed: success == 0 MI_SYS_Munmap failed\\. data=0x[0-9a-f]+" + ret);
  MI_SYS_MMA_Free(0, phy);
}

TEST(BlobDeathTest, FeatureMapsOfDifferentShapeAreFatal) {
  BlobGeneral<float> a({2, 3}, true, 1, "A"), b({3, 2}, true, 1, "B"), empty(1, "E");
  const char* kMessage = "Check failed: sameShape\\(another\\) ";
  EXPECT_DEATH(a.distance(b), kMessage);
  EXPECT_DEATH(a.similarity(empty), kMessage);  // one side without a shape, either side
  EXPECT_DEATH(empty.copy_from(a), kMessage);
}

}  // namespace
