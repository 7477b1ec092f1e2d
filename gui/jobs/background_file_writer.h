// Appends to a file from a second thread, so that writing one block overlaps
// with producing the next: a job that streams an image to a file then costs
// little more than producing the image.
#pragma once

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "gui/foundation/file_io.h"

namespace sorvel {

class BackgroundFileWriter {
 public:
  // `file` must be open for writing and outlive the writer.
  explicit BackgroundFileWriter(FileIO& file, qsizetype block_size = 1 << 20);
  ~BackgroundFileWriter();
  BackgroundFileWriter(const BackgroundFileWriter&) = delete;
  BackgroundFileWriter& operator=(const BackgroundFileWriter&) = delete;

  // Queues the bytes; false once any earlier write has failed.
  bool Append(const char* data, qsizetype size);
  // Writes what is queued and waits for it; true when every byte was written.
  bool Finish();

 private:
  void Run();
  void Hand(QByteArray block);

  FileIO& file_;
  const qsizetype block_size_;
  QByteArray current_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<QByteArray> blocks_;
  bool closing_ = false;
  bool failed_ = false;
  std::thread worker_;
};

}  // namespace sorvel
