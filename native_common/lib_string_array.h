// Growable array of LibString; storage grows and shrinks in blocks of 128.
#pragma once

#include <vector>

#include "native_common/lib_string.h"

namespace sorvel {

class LibStringArray {
 public:
  static constexpr int kBlock = 128;

  void Add(const LibString& text);
  // Throws LibException("out of range") when i < 0 or i >= Count().
  LibString& At(int i);
  const LibString& At(int i) const;
  // Keeps elements up to n, new ones are empty. Throws "out of range" when n < 0.
  void Resize(int n);
  int Count() const { return static_cast<int>(items_.size()); }
  // (count / 128 + 1) * 128.
  int Capacity() const { return capacity_; }

 private:
  void Reserve(int count);

  std::vector<LibString> items_;
  int capacity_ = kBlock;
};

}  // namespace sorvel
