#include "util/Buffer.h"

#include <cstring>
#include <stdexcept>

BufferRaw::BufferRaw(size_t capacity)
    : bytes_(new char[capacity == 0 ? 1 : capacity]()), capacity_(capacity), size_(capacity) {}

BufferRaw::BufferRaw(const void* bytes, size_t size) : BufferRaw(size) {
  if (size > 0) std::memcpy(bytes_.get(), bytes, size);
}

void BufferRaw::setSize(size_t size) {
  if (size > capacity_) throw std::invalid_argument("Buffer::setSize out of range");
  size_ = size;
}

BufferVector::BufferVector(const void* bytes, size_t size)
    : bytes_(std::make_shared<std::vector<unsigned char>>(static_cast<const unsigned char*>(bytes),
                                                          static_cast<const unsigned char*>(bytes) + size)) {}
