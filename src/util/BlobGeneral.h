// A host tensor that owns its elements: the stored resource for tensors computed on the CPU (and
// for float copies of IPU tensors), comparable with any other feature map through its line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frss/ResourceBase.h"
#include "util/BlobBase.h"

// An n-dimensional tensor (dimensions outermost first, each >= 1) owning `count()` contiguous
// elements, seen as a BlobPlane without row padding: width = last dimension, height = the one
// before (1 for one dimension), planes = the product of the rest. Its zone is "none".
// Instantiated for unsigned char, int, unsigned int, float and double.
// Not thread-safe; written by the stage that claimed it, read after publication.
template <typename T>
class BlobGeneral : public ResourceBase, public FeatureMapInterface<T> {
 public:
  // A resource with no shape and no elements (count() 0, underneath() null).
  BlobGeneral(unsigned long long id, const std::string& name);
  // The above, then reshape(shape, reset).
  BlobGeneral(const std::vector<int>& shape, bool reset, unsigned long long id, const std::string& name);
  // Same shape, identifier, name and elements.
  BlobGeneral(const BlobGeneral<T>& other);
  // Takes the shape and elements of `other`; identifier and name stay.
  BlobGeneral<T>& operator=(const BlobGeneral<T>& other);
  ~BlobGeneral() override;

  // print(0).
  std::string print() const override;
  std::shared_ptr<BlobLine<T>> underneath() const override { return line; }
  std::vector<int> shape() const override { return shape_; }

  // Replaces the elements by new, uninitialised ones of `shape` (zeroed if `reset`); lines taken
  // from underneath() before must not be used any more (their memory is released). Fatal for an empty
  // shape or a dimension below 1; std::bad_array_new_length when the count reaches 0x1fffffff
  // (the tensor is then unchanged).
  void reshape(const std::vector<int>& shape, bool reset);
  // Equal shapes and byte-for-byte equal elements (so 0.0 and -0.0 differ).
  bool operator==(const BlobGeneral<T>& other) const;
  // Number of elements.
  int count() const { return line ? line->capacity : 0; }
  // Sets every element to `value`.
  void reset(T value);
  // The line's print(verbose); empty while there is no shape.
  std::string print(int verbose) const;

  // The store's producer for this kind: each call makes a new zero-filled tensor of `shape` with
  // the given identifier and name.
  static std::function<std::shared_ptr<ResourceBase>()> produce_func(const std::vector<int>& shape,
                                                                     unsigned long long id,
                                                                     const std::string& name);

  T* data = nullptr;  // the owned elements (new T[count]); null before the first reshape

 private:
  std::vector<int> shape_;
  std::shared_ptr<BlobLine<T>> line;  // a BlobPlane over data, stride == width
};

extern template class BlobGeneral<unsigned char>;
extern template class BlobGeneral<int>;
extern template class BlobGeneral<unsigned int>;
extern template class BlobGeneral<float>;
extern template class BlobGeneral<double>;
