// Byte buffers handed out by the frame readers: a received video payload, or the extra bytes that a
// camera message carries beside its frame records.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Abstract byte buffer. Not copyable. Not thread-safe; one owner at a time.
class Buffer {
 public:
  Buffer() = default;
  virtual ~Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  virtual char* data() = 0;
  virtual const char* data() const = 0;
  // Bytes in use, at most getCapacity().
  virtual size_t size() const = 0;
  // The bytes in use as a string.
  virtual std::string toString() const = 0;
  virtual size_t getCapacity() const = 0;
};

// A heap byte array of fixed capacity.
class BufferRaw : public Buffer {
 public:
  // `capacity` bytes, all in use, zeroed.
  explicit BufferRaw(size_t capacity);
  // A copy of `size` bytes at `bytes`.
  BufferRaw(const void* bytes, size_t size);

  char* data() override { return bytes_.get(); }
  const char* data() const override { return bytes_.get(); }
  size_t size() const override { return size_; }
  std::string toString() const override { return std::string(bytes_.get(), size_); }
  size_t getCapacity() const override { return capacity_; }
  // Throws std::invalid_argument("Buffer::setSize out of range") beyond the capacity.
  void setSize(size_t size);

 private:
  std::unique_ptr<char[]> bytes_;
  size_t capacity_;
  size_t size_;
};

// Bytes in a shared vector, which an image can take over without copying them again.
class BufferVector : public Buffer {
 public:
  // A copy of `size` bytes at `bytes`.
  BufferVector(const void* bytes, size_t size);

  char* data() override { return reinterpret_cast<char*>(bytes_->data()); }
  const char* data() const override { return reinterpret_cast<const char*>(bytes_->data()); }
  size_t size() const override { return bytes_->size(); }
  std::string toString() const override { return std::string(data(), size()); }
  size_t getCapacity() const override { return bytes_->size(); }
  const std::shared_ptr<std::vector<unsigned char>>& vector() const { return bytes_; }

 private:
  std::shared_ptr<std::vector<unsigned char>> bytes_;
};
