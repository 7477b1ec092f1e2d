// Drive transfer buffers start on a 16-byte boundary: the storage is 16 bytes
// larger than asked for and the data begins at its first aligned address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvel {

class AlignedBuffer {
 public:
  static constexpr size_t kAlignment = 16;

  explicit AlignedBuffer(size_t size) : storage_(size + kAlignment, 0), size_(size) {
    auto address = reinterpret_cast<uintptr_t>(storage_.data());
    data_ = storage_.data() + ((kAlignment - address % kAlignment) % kAlignment);
  }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint8_t& operator[](size_t i) { return data_[i]; }
  const uint8_t& operator[](size_t i) const { return data_[i]; }

 private:
  std::vector<uint8_t> storage_;
  uint8_t* data_;
  size_t size_;
};

}  // namespace sorvel
