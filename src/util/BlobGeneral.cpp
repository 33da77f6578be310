#include "util/BlobGeneral.h"

#include <glog/logging.h>

#include <algorithm>
#include <cstring>
#include <new>

template <typename T>
BlobGeneral<T>::BlobGeneral(unsigned long long id, const std::string& name)
    : ResourceBase(id, name, "none") {}

template <typename T>
BlobGeneral<T>::BlobGeneral(const std::vector<int>& shape, bool reset, unsigned long long id,
                            const std::string& name)
    : BlobGeneral(id, name) {
  reshape(shape, reset);
}

template <typename T>
BlobGeneral<T>::BlobGeneral(const BlobGeneral<T>& other)
    : ResourceBase(other.resId(), other.resName(), "none"), FeatureMapInterface<T>() {
  // A tensor that was never shaped copies as one.
  if (other.shape_.empty()) return;
  reshape(other.shape_, false);
  std::memcpy(data, other.data, sizeof(T) * count());
}

template <typename T>
BlobGeneral<T>& BlobGeneral<T>::operator=(const BlobGeneral<T>& other) {
  if (this == &other) return *this;
  if (other.shape_.empty()) {
    line.reset();
    delete[] data;
    data = nullptr;
    shape_.clear();
    return *this;
  }
  reshape(other.shape_, false);
  std::memcpy(data, other.data, sizeof(T) * count());
  return *this;
}

template <typename T>
BlobGeneral<T>::~BlobGeneral() {
  line.reset();
  delete[] data;
}

template <typename T>
std::string BlobGeneral<T>::print() const {
  return print(0);
}

template <typename T>
std::string BlobGeneral<T>::print(int verbose) const {
  return line ? line->print(verbose) : std::string();
}

template <typename T>
void BlobGeneral<T>::reshape(const std::vector<int>& shape, bool zero) {
  std::vector<int> previous = shape_;
  shape_ = shape;
  CHECK(shape_.size() >= 1);
  for (int y : shape_) CHECK(y >= 1) << "blob invalid dim : " << y;
  long long total = 1;
  for (int y : shape_) {
    total *= y;
    // Stop early: the product of a few large dimensions would overflow 64 bits. A refused count
    // leaves the tensor as it was.
    if (total >= 0x1fffffff) {
      shape_ = std::move(previous);
      throw std::bad_array_new_length();
    }
  }
  const int n = static_cast<int>(total);
  const int width = shape_.back();
  const int height = shape_.size() >= 2 ? shape_[shape_.size() - 2] : 1;
  const int planes = n / (width * height);

  T* fresh = new T[n];  // before releasing, so that bad_alloc leaves the old elements valid
  line.reset();
  delete[] data;
  data = fresh;
  line = std::make_shared<BlobPlane<T>>(data, planes, height, width, width);
  if (zero) std::memset(data, 0, sizeof(T) * n);
}

template <typename T>
bool BlobGeneral<T>::operator==(const BlobGeneral<T>& other) const {
  if (shape_ != other.shape_) return false;
  return count() == 0 || std::memcmp(data, other.data, sizeof(T) * count()) == 0;
}

template <typename T>
void BlobGeneral<T>::reset(T value) {
  std::fill(data, data + count(), value);
}

template <typename T>
std::function<std::shared_ptr<ResourceBase>()> BlobGeneral<T>::produce_func(const std::vector<int>& shape,
                                                                            unsigned long long id,
                                                                            const std::string& name) {
  return [shape, id, name]() -> std::shared_ptr<ResourceBase> {
    return std::make_shared<BlobGeneral<T>>(shape, true, id, name);
  };
}

template class BlobGeneral<unsigned char>;
template class BlobGeneral<int>;
template class BlobGeneral<unsigned int>;
template class BlobGeneral<float>;
template class BlobGeneral<double>;
