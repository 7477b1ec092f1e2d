#include "native_common/chunk_fifo.h"

#include <algorithm>
#include <cstring>

namespace sorvel {

ChunkFifo::ChunkFifo() : first_(new Chunk), last_(first_) {}

ChunkFifo::~ChunkFifo() {
  // Iteratively, so a long chain cannot exhaust the stack.
  while (first_ != nullptr) {
    Chunk* next = first_->next;
    delete first_;
    first_ = next;
  }
}

ChunkFifo::ChunkFifo(const ChunkFifo& other) : ChunkFifo() { AppendFrom(other, other.size_); }

ChunkFifo& ChunkFifo::operator=(const ChunkFifo& other) {
  if (this == &other) return *this;
  Clear();
  for (const Chunk* c = other.first_; c != nullptr; c = c->next) Append(c->data, c->used);
  return *this;
}

int32_t ChunkFifo::Append(const void* bytes, int32_t length) {
  if (length < 1 || bytes == nullptr) return 0;
  length = std::min(length, INT32_MAX - size_);
  const auto* src = static_cast<const uint8_t*>(bytes);
  int32_t left = length;
  while (left > 0) {
    if (last_->used == kChunkBytes) {
      last_->next = new Chunk;
      last_ = last_->next;
    }
    int32_t n = std::min<int32_t>(left, kChunkBytes - last_->used);
    std::memcpy(last_->data + last_->used, src, static_cast<size_t>(n));
    last_->used = static_cast<int16_t>(last_->used + n);
    src += n;
    left -= n;
    size_ += n;
  }
  return length;
}

int32_t ChunkFifo::Read(void* buffer, int32_t length, bool peek) {
  if (length < 1 || buffer == nullptr) return 0;
  auto* dst = static_cast<uint8_t*>(buffer);
  int32_t copied = 0;
  for (const Chunk* c = first_; c != nullptr && copied < length; c = c->next) {
    int32_t n = std::min<int32_t>(length - copied, c->used);
    std::memcpy(dst + copied, c->data, static_cast<size_t>(n));
    copied += n;
  }
  if (peek) return copied;
  int32_t left = copied;
  while (left > 0) {
    if (left >= first_->used) {
      left -= first_->used;
      size_ -= first_->used;
      if (first_->next == nullptr) {
        first_->used = 0;
      } else {
        Chunk* next = first_->next;
        delete first_;
        first_ = next;
      }
    } else {
      // The rest of a partly read chunk moves to its start.
      std::memmove(first_->data, first_->data + left, static_cast<size_t>(first_->used - left));
      first_->used = static_cast<int16_t>(first_->used - left);
      size_ -= left;
      left = 0;
    }
  }
  return copied;
}

int32_t ChunkFifo::AppendFrom(const ChunkFifo& other, int32_t max) {
  if (this == &other) {
    ChunkFifo copy(other);
    return AppendFrom(copy, max);
  }
  int32_t appended = 0;
  for (const Chunk* c = other.first_; c != nullptr && appended < max; c = c->next) {
    int32_t n = std::min<int32_t>(max - appended, c->used);
    int32_t done = Append(c->data, n);
    appended += done;
    if (done < n) break;
  }
  return appended;
}

void ChunkFifo::Clear() {
  Chunk* c = first_->next;
  while (c != nullptr) {
    Chunk* next = c->next;
    delete c;
    c = next;
  }
  first_->next = nullptr;
  first_->used = 0;
  last_ = first_;
  size_ = 0;
}

int ChunkFifo::ChunkCount() const {
  int n = 0;
  for (const Chunk* c = first_; c != nullptr; c = c->next) ++n;
  return n;
}

}  // namespace sorvel
