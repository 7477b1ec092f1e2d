// FIFO of bytes kept in a chain of 4,096-byte chunks: data is appended at the
// last chunk and taken from the first; the first chunk always exists.
#pragma once

#include <cstdint>

namespace sorvel {

class ChunkFifo {
 public:
  static constexpr int kChunkBytes = 4096;

  ChunkFifo();
  ~ChunkFifo();
  // Appends every byte of `other`.
  ChunkFifo(const ChunkFifo& other);
  // Empties this FIFO, then appends every chunk of `other` (assigning to itself does nothing).
  ChunkFifo& operator=(const ChunkFifo& other);

  // Appends `length` bytes (nothing when length < 1); the total size never
  // passes INT32_MAX. Returns the bytes appended.
  int32_t Append(const void* bytes, int32_t length);
  // Copies up to `length` bytes from the front; unless `peek`, removes them.
  // Returns the bytes copied.
  int32_t Read(void* buffer, int32_t length, bool peek = false);
  // Appends up to `max` bytes from the front of `other`, which is left unchanged.
  int32_t AppendFrom(const ChunkFifo& other, int32_t max);
  int32_t Size() const { return size_; }
  // Frees every chunk but the first and empties it.
  void Clear();
  int ChunkCount() const;

 private:
  struct Chunk {
    int16_t used = 0;
    uint8_t data[kChunkBytes];
    Chunk* next = nullptr;
  };

  Chunk* first_;
  Chunk* last_;
  int32_t size_ = 0;
};

}  // namespace sorvel
