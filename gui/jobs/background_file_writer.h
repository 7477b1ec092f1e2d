// Appends to a file from a second thread, so that writing one block overlaps
// with producing the next: a job that streams an image to a file then costs
// little more than producing the image. The blocks are allocated once per
// writer and reused, and a producer can fill them in place (Reserve, then
// Commit) instead of handing over bytes to be copied.
#pragma once

#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/foundation/file_io.h"

namespace sorvel {

class BackgroundFileWriter {
 public:
  // The most one Reserve can ask for.
  static constexpr qsizetype kMaxReserve = 4096;

  // `file` must be open for writing and outlive the writer. A block goes to
  // the file `write_size` bytes a write() (0: the whole block at once).
  explicit BackgroundFileWriter(FileIO& file, qsizetype block_size = 1 << 20, qsizetype write_size = 0);
  // Finishes (see Finish).
  ~BackgroundFileWriter();
  BackgroundFileWriter(const BackgroundFileWriter&) = delete;
  BackgroundFileWriter& operator=(const BackgroundFileWriter&) = delete;

  // Room for `size` bytes (at most kMaxReserve) right after what was
  // committed; valid until the next call. Commit then appends the first
  // `size` bytes of it (at most what was reserved).
  uint8_t* Reserve(qsizetype size);
  // Both false once any earlier write has failed: the bytes are dropped then.
  bool Commit(qsizetype size);
  bool Append(const void* data, qsizetype size);
  // Writes what is queued and waits for it; true when every byte was written.
  bool Finish();

 private:
  struct Block {
    uint8_t* data = nullptr;
    qsizetype size = 0;
  };

  void Run();
  // Queues the current block and takes a free one to go on with.
  void HandOver();

  FileIO& file_;
  const qsizetype block_size_;
  const qsizetype write_size_;
  std::vector<std::unique_ptr<uint8_t[]>> storage_;  // every block made
  uint8_t* current_ = nullptr;
  qsizetype used_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> queued_;
  std::vector<uint8_t*> free_;
  bool closing_ = false;
  std::atomic<bool> failed_{false};
  std::thread worker_;
};

}  // namespace sorvel
