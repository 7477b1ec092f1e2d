// The texts of one CD-Text entry (the disc or one track): a string for every
// pair of block (0 English, 1 Japanese) and kind (0 title ... 5 message).
#pragma once

#include <array>
#include <string>

namespace sorvel {

class TrackTextBlock {
 public:
  static constexpr int kBlocks = 2;
  static constexpr int kKinds = 6;

  static bool IsValid(int block, int kind) {
    return block >= 0 && block < kBlocks && kind >= 0 && kind < kKinds;
  }

  // The text of (block, kind); empty for a pair outside the block.
  const std::string& Get(int block, int kind) const {
    static const std::string kEmpty;
    return IsValid(block, kind) ? texts_[Index(block, kind)] : kEmpty;
  }

  // Stores the text of (block, kind); a pair outside the block is ignored.
  void Set(int block, int kind, std::string text) {
    if (IsValid(block, kind)) texts_[Index(block, kind)] = std::move(text);
  }

  void Clear() {
    for (auto& text : texts_) text.clear();
  }

 private:
  static size_t Index(int block, int kind) { return static_cast<size_t>(block * kKinds + kind); }

  std::array<std::string, kBlocks * kKinds> texts_;
};

}  // namespace sorvel
