#include "util/BlobBase.h"

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "mi_sys.h"

namespace {

// Element text of print: the same layout for every element type.
std::string element_text(float v) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%f", v);
  return buf;
}
std::string element_text(double v) {
  // "%f" of a huge double is over 300 characters; size the buffer from the first pass.
  int n = std::snprintf(nullptr, 0, "%f", v);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(&s[0], s.size(), "%f", v);
  s.resize(static_cast<size_t>(n));
  return s;
}
std::string element_text(int v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%d", v);
  return buf;
}
std::string element_text(short v) { return element_text(static_cast<int>(v)); }
std::string element_text(unsigned short v) { return element_text(static_cast<int>(v)); }
std::string element_text(unsigned int v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%u", v);
  return buf;
}
std::string element_text(unsigned char v) {
  char buf[8];
  std::snprintf(buf, sizeof(buf), "0x%X", static_cast<unsigned int>(v));
  return buf;
}

// Cosine from the dot product and the product of the squared norms, with the near-zero rule.
double cosine(double dot, double normProduct) {
  if (normProduct < 1e-8) return dot / 0.0001;
  return dot / std::sqrt(normProduct);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BlobLine

template <typename Dtype>
BlobLine<Dtype>::BlobLine(Dtype* data, int highDimS, int stride, int width)
    : data(data),
      phy_data(0),
      mapped(false),
      phy_capacity(0),
      capacity(highDimS * stride),
      highDimS(highDimS),
      stride(stride),
      width(width) {
  CHECK(width <= stride);
}

template <typename Dtype>
BlobLine<Dtype>::BlobLine(Dtype* data, unsigned long long phy, int phy_capacity, int highDimS, int stride,
                          int width, bool map)
    : data(data),
      phy_data(phy),
      mapped(false),
      phy_capacity(phy_capacity),
      capacity(highDimS * stride),
      highDimS(highDimS),
      stride(stride),
      width(width) {
  CHECK(width <= stride);
  // The condition is spelled as the system's log quotes it; the capacity is never negative here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
  CHECK(phy_capacity / sizeof(Dtype) >= capacity);
#pragma GCC diagnostic pop
  if (map) {
    void* vir = nullptr;
    int success = MI_SYS_Mmap(phy, static_cast<MI_U32>(phy_capacity), &vir, 1);
    CHECK(success == 0) << "MI_SYS_Mmap failed: PHY=0x" << std::hex << phy << std::dec << ", ret=" << success
                        << ", capacity=" << phy_capacity;
    this->data = static_cast<Dtype*>(vir);
    mapped = true;
  }
}

template <typename Dtype>
BlobLine<Dtype>::~BlobLine() {
  if (!mapped) return;
  int success = MI_SYS_Munmap(data, static_cast<MI_U32>(phy_capacity));
  CHECK(success == 0) << "MI_SYS_Munmap failed. data=0x" << std::hex << reinterpret_cast<uintptr_t>(data)
                      << std::dec << ", ret=" << success << ", capacity=" << phy_capacity;
}

template <typename Dtype>
std::string BlobLine<Dtype>::print(int verbose) const {
  std::string s = "highDimS = " + std::to_string(highDimS) + ", stride = " + std::to_string(stride) +
                  ", width = " + std::to_string(width) + "\n";
  if (verbose) s += print_rows(0, highDimS);
  return s;
}

template <typename Dtype>
std::string BlobLine<Dtype>::print_rows(int first, int count) const {
  std::string s;
  for (int r = first; r < first + count; ++r) {
    const Dtype* p = row(r);
    for (int i = 0; i < width; ++i) s += element_text(p[i]) + " ";
    s += "| ";
    for (int i = width; i < stride; ++i) s += element_text(p[i]) + " ";
    s += "\n";
  }
  return s;
}

template <typename Dtype>
void BlobLine<Dtype>::copy_from(const BlobLine<Dtype>& another) {
  CHECK(sameShape(another));
  // memmove: a view may be copied onto itself or onto an overlapping view of the same block.
  for (int r = 0; r < highDimS; ++r) std::memmove(row(r), another.row(r), sizeof(Dtype) * width);
}

// ---------------------------------------------------------------------------------------------
// BlobPlane

template <typename Dtype>
BlobPlane<Dtype>::BlobPlane(Dtype* data, int highDimHS, int height, int stride, int width)
    : BlobLine<Dtype>(data, highDimHS * height, stride, width), highDimHS(highDimHS), height(height) {}

template <typename Dtype>
BlobPlane<Dtype>::BlobPlane(Dtype* data, unsigned long long phy, int phy_capacity, int highDimHS, int height,
                            int stride, int width, bool map)
    : BlobLine<Dtype>(data, phy, phy_capacity, highDimHS * height, stride, width, map),
      highDimHS(highDimHS),
      height(height) {}

template <typename Dtype>
BlobPlane<Dtype>::~BlobPlane() = default;

template <typename Dtype>
std::string BlobPlane<Dtype>::print(int verbose) const {
  std::string s = "highDimHS = " + std::to_string(highDimHS) + ", height = " + std::to_string(height) +
                  ", stride = " + std::to_string(this->stride) + ", width = " + std::to_string(this->width) +
                  "\n";
  if (verbose) {
    for (int p = 0; p < highDimHS; ++p) {
      s += this->print_rows(p * height, height);
      s += "------ ------\n";
    }
  }
  return s;
}

template <typename Dtype>
void BlobPlane<Dtype>::downsample_2_from(const BlobPlane<Dtype>& another) {
  CHECK(another.width % 2 == 0 && another.height % 2 == 0);
  CHECK(another.width / 2 <= BlobLine<Dtype>::width && another.height / 2 <= height);
  const int planes = std::min(highDimHS, another.highDimHS);
  const int w = another.width / 2;
  const int h = another.height / 2;
  for (int p = 0; p < planes; ++p) {
    for (int y = 0; y < h; ++y) {
      Dtype* dst = this->row(p * height + y);
      const Dtype* src = another.row(p * another.height + 2 * y);
      for (int x = 0; x < w; ++x) dst[x] = src[2 * x];
    }
  }
}

// ---------------------------------------------------------------------------------------------
// FeatureMapInterface

template <typename T>
FeatureMapInterface<T>::~FeatureMapInterface() = default;

template <typename T>
bool FeatureMapInterface<T>::sameShape(const FeatureMapInterface<T>& another) const {
  std::shared_ptr<BlobLine<T>> a = underneath();
  std::shared_ptr<BlobLine<T>> b = another.underneath();
  if (!a || !b) return !a && !b;
  return a->sameShape(*b);
}

namespace {

// Sums of double maps are kept in double, all others in float (the results depend on it).
template <typename T>
using FeatureSum = std::conditional_t<std::is_same<T, double>::value, double, float>;

}  // namespace

template <typename T>
double FeatureMapInterface<T>::distance(const FeatureMapInterface<T>& another) const {
  CHECK(sameShape(another));
  std::shared_ptr<BlobLine<T>> a = underneath();
  std::shared_ptr<BlobLine<T>> b = another.underneath();
  if (!a) return 0;
  using Sum = FeatureSum<T>;
  Sum total = 0;
  for (int r = 0; r < a->highDimS; ++r) {
    const T* pa = a->row(r);
    const T* pb = b->row(r);
    Sum rowSum = 0;
    for (int i = 0; i < a->width; ++i) {
      Sum d = static_cast<Sum>(pa[i]) - static_cast<Sum>(pb[i]);
      rowSum += d * d;
    }
    total += rowSum;
  }
  return static_cast<double>(std::sqrt(total));
}

template <typename T>
double FeatureMapInterface<T>::similarity(const FeatureMapInterface<T>& another) const {
  CHECK(sameShape(another));
  std::shared_ptr<BlobLine<T>> a = underneath();
  std::shared_ptr<BlobLine<T>> b = another.underneath();
  using Sum = FeatureSum<T>;
  Sum dot = 0, aa = 0, bb = 0;
  for (int r = 0; a && r < a->highDimS; ++r) {
    const T* pa = a->row(r);
    const T* pb = b->row(r);
    for (int i = 0; i < a->width; ++i) {
      Sum x = static_cast<Sum>(pa[i]);
      Sum y = static_cast<Sum>(pb[i]);
      dot += x * y;
      aa += x * x;
      bb += y * y;
    }
  }
  return cosine(dot, static_cast<double>(aa) * static_cast<double>(bb));
}

template <typename T>
void FeatureMapInterface<T>::copy_from(const FeatureMapInterface<T>& another) {
  CHECK(sameShape(another));
  std::shared_ptr<BlobLine<T>> a = underneath();
  if (a) a->copy_from(*another.underneath());
}

template class BlobLine<unsigned char>;
template class BlobLine<short>;
template class BlobLine<unsigned short>;
template class BlobLine<int>;
template class BlobLine<unsigned int>;
template class BlobLine<float>;
template class BlobLine<double>;
template class BlobPlane<unsigned char>;
template class BlobPlane<short>;
template class BlobPlane<unsigned short>;
template class BlobPlane<int>;
template class BlobPlane<unsigned int>;
template class BlobPlane<float>;
template class BlobPlane<double>;
template class FeatureMapInterface<unsigned char>;
template class FeatureMapInterface<short>;
template class FeatureMapInterface<int>;
template class FeatureMapInterface<unsigned int>;
template class FeatureMapInterface<float>;
template class FeatureMapInterface<double>;
