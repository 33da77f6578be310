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
using testing::ElementsAreArray;

template <typename T>
std::shared_ptr<BlobPlane<T>> plane_of(const BlobGeneral<T>& blob) {
  return std::dynamic_pointer_cast<BlobPlane<T>>(blob.underneath());
}

// A feature map over any line, e.g. a strided view, to compare with a BlobGeneral.
template <typename T>
class ViewMap : public FeatureMapInterface<T> {
 public:
  explicit ViewMap(std::shared_ptr<BlobLine<T>> line) : line_(std::move(line)) {}
  std::shared_ptr<BlobLine<T>> underneath() const override { return line_; }
  std::vector<int> shape() const override { return {line_->highDimS, line_->width}; }

 private:
  std::shared_ptr<BlobLine<T>> line_;
};

// One block of emulated platform memory for the test's lifetime.
class PlatformBlock {
 public:
  explicit PlatformBlock(unsigned int size) : size_(size) {
    EXPECT_EQ(MI_SYS_MMA_Alloc(0, nullptr, size, &phy_), MI_SUCCESS);
  }
  ~PlatformBlock() { MI_SYS_MMA_Free(0, phy_); }
  MI_PHY phy() const { return phy_; }
  int size() const { return static_cast<int>(size_); }

 private:
  unsigned int size_;
  MI_PHY phy_ = 0;
};

std::string hex(unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%llx", v);
  return buf;
}

// --- shapes -------------------------------------------------------------------------------------

TEST(BlobGeneralTest, OneDimensionIsOneRowOfOnePlane) {
  BlobGeneral<float> b({5}, true, 1, "B");
  auto p = plane_of(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 5);
  EXPECT_EQ(p->stride, 5);
  EXPECT_EQ(p->height, 1);
  EXPECT_EQ(p->highDimHS, 1);
  EXPECT_EQ(p->highDimS, 1);
  EXPECT_EQ(p->capacity, 5);
  EXPECT_EQ(b.count(), 5);
  EXPECT_EQ(p->data, b.data);
  EXPECT_EQ(p->phy_data, 0u);
  EXPECT_FALSE(p->mapped);
}

TEST(BlobGeneralTest, FourDimensionsFoldTheOuterTwoIntoPlanes) {
  BlobGeneral<int> b({2, 3, 4, 5}, false, 1, "B");
  auto p = plane_of(b);
  EXPECT_EQ(p->width, 5);
  EXPECT_EQ(p->height, 4);
  EXPECT_EQ(p->highDimHS, 6);
  EXPECT_EQ(p->highDimS, 24);
  EXPECT_EQ(b.count(), 120);
  EXPECT_THAT(b.shape(), ElementsAre(2, 3, 4, 5));
  BlobGeneral<int> two({7, 3}, false, 1, "B");
  EXPECT_EQ(plane_of(two)->highDimHS, 1);
  EXPECT_EQ(plane_of(two)->height, 7);
  EXPECT_EQ(plane_of(two)->width, 3);
}

TEST(BlobGeneralTest, UnshapedBlobHasNoElements) {
  BlobGeneral<double> b(3, "B");
  EXPECT_EQ(b.count(), 0);
  EXPECT_EQ(b.underneath(), nullptr);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_TRUE(b.shape().empty());
  EXPECT_EQ(b.print(1), "");
  EXPECT_EQ(b.resId(), 3u);
  EXPECT_EQ(b.zone(), "none");
  EXPECT_EQ(b.readCnt(), -1);
}

TEST(BlobGeneralTest, ReshapeWithResetZeroesAndResetFills) {
  BlobGeneral<unsigned int> b({2, 2}, false, 1, "B");
  b.reset(7u);
  EXPECT_THAT(std::vector<unsigned int>(b.data, b.data + 4), ElementsAre(7u, 7u, 7u, 7u));
  b.reshape({3}, true);
  EXPECT_EQ(b.count(), 3);
  EXPECT_THAT(std::vector<unsigned int>(b.data, b.data + 3), ElementsAre(0u, 0u, 0u));
  EXPECT_EQ(plane_of(b)->data, b.data);
}

TEST(BlobGeneralTest, CountAtTheArrayLimitThrowsAndKeepsTheBlob) {
  BlobGeneral<unsigned char> b({2, 3}, true, 1, "B");
  EXPECT_THROW(b.reshape({0x2000, 0x10000}, false), std::bad_array_new_length);  // 0x20000000
  EXPECT_THROW(b.reshape({0x1fffffff}, false), std::bad_array_new_length);
  // A product that would overflow 64 bits is refused as well.
  EXPECT_THROW(b.reshape({0x7fffffff, 0x7fffffff, 0x7fffffff}, false), std::bad_array_new_length);
  EXPECT_THAT(b.shape(), ElementsAre(2, 3));
  EXPECT_EQ(b.count(), 6);
}

TEST(BlobGeneralTest, CopiesTakeShapeAndElements) {
  BlobGeneral<float> a({2, 3}, false, 8, "A");
  for (int i = 0; i < 6; ++i) a.data[i] = i * 0.5f;
  BlobGeneral<float> copy(a);
  EXPECT_EQ(copy.resId(), 8u);
  EXPECT_EQ(copy.resName(), "A");
  EXPECT_NE(copy.data, a.data);
  EXPECT_TRUE(copy == a);
  BlobGeneral<float> other({4}, true, 9, "O");
  other = a;
  EXPECT_EQ(other.resId(), 9u);
  EXPECT_EQ(other.resName(), "O");
  EXPECT_THAT(other.shape(), ElementsAre(2, 3));
  EXPECT_THAT(std::vector<float>(other.data, other.data + 6), ElementsAre(0, 0.5f, 1, 1.5f, 2, 2.5f));
  a.data[5] = 9;
  EXPECT_EQ(other.data[5], 2.5f);
  other = other;
  EXPECT_EQ(other.data[5], 2.5f);
}

TEST(BlobGeneralTest, EqualityNeedsTheSameShapeAndBytes) {
  BlobGeneral<float> a({2, 3}, true, 1, "A");
  BlobGeneral<float> b({3, 2}, true, 1, "A");
  EXPECT_FALSE(a == b);  // same count, other shape
  BlobGeneral<float> c({2, 3}, true, 2, "C");
  EXPECT_TRUE(a == c);  // identifiers do not count
  c.data[4] = -0.0f;
  EXPECT_FALSE(a == c);  // 0.0 and -0.0 differ in their bytes
  BlobGeneral<float> e1(1, "E"), e2(2, "E");
  EXPECT_TRUE(e1 == e2);
}

TEST(BlobGeneralTest, ProducerMakesDistinctZeroFilledBlobs) {
  auto produce = BlobGeneral<int>::produce_func({2, 2}, 16, "RESOURCE_X");
  std::shared_ptr<ResourceBase> r1 = produce();
  std::shared_ptr<ResourceBase> r2 = produce();
  ASSERT_NE(r1, r2);
  auto b1 = std::dynamic_pointer_cast<BlobGeneral<int>>(r1);
  auto b2 = std::dynamic_pointer_cast<BlobGeneral<int>>(r2);
  ASSERT_TRUE(b1 && b2);
  EXPECT_NE(b1->data, b2->data);
  EXPECT_EQ(b1->resId(), 16u);
  EXPECT_EQ(b1->resName(), "RESOURCE_X");
  EXPECT_THAT(b1->shape(), ElementsAre(2, 2));
  EXPECT_THAT(std::vector<int>(b2->data, b2->data + 4), ElementsAre(0, 0, 0, 0));
}

// --- printing -------------------------------------------------------------------------------------

TEST(BlobPrintTest, GeneralBlobPrintsItsPlane) {
  BlobGeneral<int> b({2, 3}, false, 1, "B");
  for (int i = 0; i < 6; ++i) b.data[i] = i - 2;
  EXPECT_EQ(b.print(0), "highDimHS = 1, height = 2, stride = 3, width = 3\n");
  EXPECT_EQ(b.print(1),
            "highDimHS = 1, height = 2, stride = 3, width = 3\n-2 -1 0 | \n1 2 3 | \n------ ------\n");
  const ResourceBase& base = b;
  EXPECT_EQ(base.print(), "highDimHS = 1, height = 2, stride = 3, width = 3\n");
}

TEST(BlobPrintTest, LineShowsPaddingAfterTheBarAndBytesInUpperHex) {
  unsigned char mem[] = {0x0a, 0xff, 0x00, 0x07, 0x01, 0x02, 0x03, 0xab};
  BlobLine<unsigned char> line(mem, 2, 4, 3);
  EXPECT_EQ(line.print(0), "highDimS = 2, stride = 4, width = 3\n");
  EXPECT_EQ(line.print(1), "highDimS = 2, stride = 4, width = 3\n0xA 0xFF 0x0 | 0x7 \n0x1 0x2 0x3 | 0xAB \n");
}

TEST(BlobPrintTest, PlanePrintsEveryPlaneFollowedByASeparator) {
  float mem[] = {1.5f, -2, 9, 0.25f, 3, 9};
  BlobPlane<float> p(mem, 2, 1, 3, 2);
  EXPECT_EQ(p.print(1),
            "highDimHS = 2, height = 1, stride = 3, width = 2\n"
            "1.500000 -2.000000 | 9.000000 \n------ ------\n"
            "0.250000 3.000000 | 9.000000 \n------ ------\n");
}

TEST(BlobPrintTest, ElementFormatsPerType) {
  unsigned int u[] = {4294967295u};
  short s[] = {-3};
  unsigned short us[] = {65535};
  double d[] = {-0.5};
  EXPECT_EQ(BlobLine<unsigned int>(u, 1, 1, 1).print(1),
            "highDimS = 1, stride = 1, width = 1\n4294967295 | \n");
  EXPECT_EQ(BlobLine<short>(s, 1, 1, 1).print(1), "highDimS = 1, stride = 1, width = 1\n-3 | \n");
  EXPECT_EQ(BlobLine<unsigned short>(us, 1, 1, 1).print(1),
            "highDimS = 1, stride = 1, width = 1\n65535 | \n");
  EXPECT_EQ(BlobLine<double>(d, 1, 1, 1).print(1), "highDimS = 1, stride = 1, width = 1\n-0.500000 | \n");
}

// --- line and plane geometry ------------------------------------------------------------------------

TEST(BlobLineTest, RowsAndPlanesAreStrideApart) {
  int mem[30] = {};
  BlobPlane<int> p(mem, 2, 3, 5, 4);
  EXPECT_EQ(p.highDimS, 6);
  EXPECT_EQ(p.capacity, 30);
  EXPECT_EQ(p.row(4), mem + 20);
  EXPECT_EQ(p.plane(1), mem + 15);
}

TEST(BlobLineTest, CopyBetweenStridesCopiesOnlyUsedElements) {
  int src[] = {1, 2, 3, 90, 4, 5, 6, 91};
  int dst[] = {0, 0, 0, 0, 0, 0, -1, -1, -1};
  BlobLine<int> from(src, 2, 4, 3);
  BlobLine<int> to(dst + 1, 2, 4, 3);
  to.copy_from(from);
  EXPECT_THAT(dst, ElementsAre(0, 1, 2, 3, 0, 4, 5, 6, -1));
}

TEST(BlobLineTest, DownsampleTakesTheTopLeftOfEachBlockInEveryPlane) {
  // Two planes of 4 rows x 4 used elements, stride 5; element value = plane * 100 + row * 10 + col.
  unsigned char src[2 * 4 * 5];
  for (int p = 0; p < 2; ++p)
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 5; ++c) src[(p * 4 + r) * 5 + c] = static_cast<unsigned char>(p * 100 + r * 10 + c);
  unsigned char dst[2 * 3 * 3];
  std::memset(dst, 0xEE, sizeof(dst));
  BlobPlane<unsigned char> from(src, 2, 4, 5, 4);
  BlobPlane<unsigned char> to(dst, 2, 3, 3, 3);  // larger than needed: the rest stays
  to.downsample_2_from(from);
  EXPECT_THAT(dst, ElementsAreArray({0, 2, 0xEE, 20, 22, 0xEE, 0xEE, 0xEE, 0xEE,  //
                                     100, 102, 0xEE, 120, 122, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(BlobLineTest, MappedViewMapsTheBlockAndUnmapsIt) {
  PlatformBlock block(4096);
  MI_U32 mappingsBefore = MI_TEST_GetMappingCount();
  {
    BlobPlane<int> writer(nullptr, block.phy(), block.size(), 2, 4, 128, 100, true);
    ASSERT_NE(writer.data, nullptr);
    EXPECT_TRUE(writer.mapped);
    EXPECT_EQ(writer.phy_data, block.phy());
    EXPECT_EQ(writer.phy_capacity, 4096);
    EXPECT_EQ(MI_TEST_GetMappingCount(), mappingsBefore + 1);
    writer.plane(1)[3] = 12345;
    // A second view that maps the same block sees the write.
    BlobLine<int> reader(nullptr, block.phy(), block.size(), 8, 128, 128, true);
    EXPECT_EQ(reader.row(4)[3], 12345);
    // A view given its address is not mapped and leaves the mapping alone.
    BlobLine<int> borrowed(writer.data, block.phy(), block.size(), 8, 128, 128, false);
    EXPECT_FALSE(borrowed.mapped);
    EXPECT_EQ(borrowed.data, writer.data);
  }
  EXPECT_EQ(MI_TEST_GetMappingCount(), mappingsBefore);
}

// --- feature maps --------------------------------------------------------------------------------

TEST(FeatureMapTest, DistanceAndSimilarityIgnorePadding) {
  BlobGeneral<float> a({2, 2}, false, 1, "A");
  const float av[] = {1, 2, 3, 4};
  std::memcpy(a.data, av, sizeof(av));
  float mem[] = {1, 2, 100, 3, 8, -100};
  ViewMap<float> b(std::make_shared<BlobLine<float>>(mem, 2, 3, 2));
  EXPECT_EQ(a.distance(b), 4.0);
  EXPECT_EQ(b.distance(a), 4.0);
  // dot 46, |a|^2 30, |b|^2 78.
  EXPECT_NEAR(a.similarity(b), 46.0 / std::sqrt(2340.0), 1e-7);
}

TEST(FeatureMapTest, FloatDistanceSumsEachRowBeforeTheTotal) {
  // Row sums 2^24 and 8: 2^24 + 8 is a float, while adding the eight 1s one by one to 2^24 would
  // leave it at 2^24.
  BlobGeneral<float> a({2, 8}, true, 1, "A");
  BlobGeneral<float> zero({2, 8}, true, 1, "Z");
  a.data[0] = 4096;
  for (int i = 8; i < 16; ++i) a.data[i] = 1;
  EXPECT_EQ(a.distance(zero), static_cast<double>(std::sqrt(16777224.0f)));
  BlobGeneral<double> ad({2, 8}, true, 1, "A");
  BlobGeneral<double> zd({2, 8}, true, 1, "Z");
  ad.data[0] = 4096;
  for (int i = 8; i < 16; ++i) ad.data[i] = 1;
  EXPECT_EQ(ad.distance(zd), std::sqrt(16777224.0));
}

TEST(FeatureMapTest, IntegerMapsConvertElementsToFloat) {
  BlobGeneral<int> a({1}, false, 1, "A"), b({1}, false, 1, "B");
  a.data[0] = 16777217;  // float(16777217) = 16777216
  b.data[0] = 1;
  EXPECT_NEAR(a.distance(b), 16777215.0, 1e-3);
  BlobGeneral<unsigned char> u({3}, false, 1, "U"), v({3}, false, 1, "V");
  const unsigned char uv[] = {0, 255, 3}, vv[] = {4, 255, 0};
  std::memcpy(u.data, uv, 3);
  std::memcpy(v.data, vv, 3);
  EXPECT_EQ(u.distance(v), 5.0);
}

TEST(FeatureMapTest, SimilarityOfZeroAndOfEqualMaps) {
  BlobGeneral<float> z({3, 2}, true, 1, "Z");
  EXPECT_EQ(z.similarity(z), 0.0);
  BlobGeneral<unsigned int> a({3, 2}, false, 1, "A");
  for (int i = 0; i < 6; ++i) a.data[i] = 10u * i + 1;
  EXPECT_NEAR(a.similarity(a), 1.0, 1e-6);
  BlobGeneral<double> tiny({2}, true, 1, "T");
  tiny.data[0] = 1e-3;  // dot 1e-6, norm product 1e-12: divided by 0.0001
  EXPECT_NEAR(tiny.similarity(tiny), 0.01, 1e-15);
}

TEST(FeatureMapTest, SameShapeComparesRowsAndWidthNotDimensions) {
  BlobGeneral<float> flat({6}, true, 1, "F"), row({1, 6}, true, 1, "R"), col({6, 1}, true, 1, "C");
  flat.data[5] = 3;
  EXPECT_TRUE(flat.sameShape(row));
  EXPECT_EQ(flat.distance(row), 3.0);
  EXPECT_FALSE(flat.sameShape(col));
}

TEST(FeatureMapTest, CopyFromFillsUsedElementsOnly) {
  float mem[] = {1, 2, 77, 3, 4, 77};
  ViewMap<float> view(std::make_shared<BlobLine<float>>(mem, 2, 3, 2));
  BlobGeneral<float> blob({2, 2}, true, 1, "B");
  blob.copy_from(view);
  EXPECT_THAT(std::vector<float>(blob.data, blob.data + 4), ElementsAre(1, 2, 3, 4));
  blob.reset(5);
  view.copy_from(blob);
  EXPECT_THAT(mem, ElementsAre(5, 5, 77, 5, 5, 77));
}

// --- fatal checks --------------------------------------------------------------------------------

TEST(BlobDeathTest, WidthBeyondStrideIsFatal) {
  int mem[8];
  EXPECT_DEATH(BlobLine<int>(mem, 2, 3, 4), "Check failed: width <= stride ");
  EXPECT_DEATH(BlobPlane<int>(mem, 1, 2, 3, 4), "Check failed: width <= stride ");
}

TEST(BlobDeathTest, PlatformBlockTooSmallIsFatal) {
  // 2 rows of stride 4 ints need 32 bytes.
  EXPECT_DEATH(BlobLine<int>(nullptr, 0x200000000ull, 31, 2, 4, 4, false),
               "Check failed: phy_capacity / sizeof\\(Dtype\\) >= capacity ");
}

TEST(BlobDeathTest, FailedMappingIsFatalWithAddressCodeAndSize) {
  PlatformBlock block(4096);
  const std::string expected = "Check failed: success == 0 MI_SYS_Mmap failed: PHY=0x" + hex(block.phy()) +
                               ", ret=" + std::to_string(MI_ERR_SYS_UNEXIST) + ", capacity=4096";
  EXPECT_DEATH(
      {
        MI_TEST_FailNext("MI_SYS_Mmap", MI_ERR_SYS_UNEXIST);
        BlobLine<unsigned char> line(nullptr, block.phy(), block.size(), 1, 4096, 4096, true);
      },
      expected);
}

TEST(BlobDeathTest, FailedUnmappingIsFatalWithAddressCodeAndSize) {
  PlatformBlock block(4096);
  EXPECT_DEATH(
      {
        auto line = std::make_unique<BlobLine<unsigned char>>(nullptr, block.phy(), block.size(), 1, 4096,
                                                              4096, true);
        MI_TEST_FailNext("MI_SYS_Munmap", MI_ERR_SYS_UNEXIST);
        line.reset();
      },
      "Check failed: success == 0 MI_SYS_Munmap failed\\. data=0x[0-9a-f]+, ret=" +
          std::to_string(MI_ERR_SYS_UNEXIST) + ", capacity=4096");
}

TEST(BlobDeathTest, BadShapesAreFatal) {
  BlobGeneral<float> b(1, "B");
  EXPECT_DEATH(b.reshape({}, true), "Check failed: shape_\\.size\\(\\) >= 1 ");
  EXPECT_DEATH(b.reshape({2, 0, 3}, true), "Check failed: y >= 1 blob invalid dim : 0");
  EXPECT_DEATH(BlobGeneral<int>({4, -2}, true, 1, "B"), "Check failed: y >= 1 blob invalid dim : -2");
}

TEST(BlobDeathTest, FeatureMapsOfDifferentShapeAreFatal) {
  BlobGeneral<float> a({2, 3}, true, 1, "A"), b({3, 2}, true, 1, "B");
  EXPECT_DEATH(a.distance(b), "Check failed: sameShape\\(another\\) ");
  EXPECT_DEATH(a.similarity(b), "Check failed: sameShape\\(another\\) ");
  EXPECT_DEATH(a.copy_from(b), "Check failed: sameShape\\(another\\) ");
  int m1[6], m2[6];
  BlobLine<int> l1(m1, 2, 3, 3), l2(m2, 3, 2, 2);
  EXPECT_DEATH(l1.copy_from(l2), "Check failed: sameShape\\(another\\) ");
}

TEST(BlobDeathTest, DownsampleGeometryIsChecked) {
  unsigned char src[5 * 4], dst[16];
  BlobPlane<unsigned char> odd(src, 1, 4, 5, 5);
  BlobPlane<unsigned char> to(dst, 1, 4, 4, 4);
  EXPECT_DEATH(to.downsample_2_from(odd),
               "Check failed: another\\.width % 2 == 0 && another\\.height % 2 == 0 ");
  unsigned char big[10 * 10];
  BlobPlane<unsigned char> large(big, 1, 10, 10, 10);
  EXPECT_DEATH(
      to.downsample_2_from(large),
      "Check failed: another\\.width / 2 <= BlobLine<Dtype>::width && another\\.height / 2 <= height ");
}

}  // namespace
