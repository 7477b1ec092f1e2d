#include "native_common/lib_string_array.h"

#include "native_common/lib_exception.h"

namespace sorvel {

void LibStringArray::Reserve(int count) {
  int capacity = (count / kBlock + 1) * kBlock;
  if (capacity == capacity_) return;
  if (capacity > capacity_) {
    items_.reserve(static_cast<size_t>(capacity));
  } else {
    items_.shrink_to_fit();
    items_.reserve(static_cast<size_t>(capacity));
  }
  capacity_ = capacity;
}

void LibStringArray::Add(const LibString& text) {
  LibString copy(text);  // `text` may be an element of this array
  Reserve(Count() + 1);
  items_.push_back(std::move(copy));
}

LibString& LibStringArray::At(int i) {
  if (i < 0 || i >= Count()) throw LibException(kOutOfRange);
  return items_[static_cast<size_t>(i)];
}

const LibString& LibStringArray::At(int i) const {
  if (i < 0 || i >= Count()) throw LibException(kOutOfRange);
  return items_[static_cast<size_t>(i)];
}

void LibStringArray::Resize(int n) {
  if (n < 0) throw LibException(kOutOfRange);
  if (n < Count()) items_.resize(static_cast<size_t>(n));
  Reserve(n);
  items_.resize(static_cast<size_t>(n));
}

}  // namespace sorvel
