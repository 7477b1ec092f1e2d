#include "gui/jobs/background_file_writer.h"

#include <span>

namespace sorvel {
namespace {

// Blocks waiting at most: the producer waits when the disk falls behind.
constexpr size_t kMaxQueued = 4;

}  // namespace

BackgroundFileWriter::BackgroundFileWriter(FileIO& file, qsizetype block_size)
    : file_(file), block_size_(block_size), worker_([this] { Run(); }) {
  current_.reserve(block_size_);
}

BackgroundFileWriter::~BackgroundFileWriter() { Finish(); }

bool BackgroundFileWriter::Append(const char* data, qsizetype size) {
  current_.append(data, size);
  if (current_.size() >= block_size_) {
    Hand(std::move(current_));
    current_ = QByteArray();
    current_.reserve(block_size_);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return !failed_;
}

void BackgroundFileWriter::Hand(QByteArray block) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return blocks_.size() < kMaxQueued || failed_; });
  if (!failed_) blocks_.push_back(std::move(block));
  changed_.notify_all();
}

bool BackgroundFileWriter::Finish() {
  if (!worker_.joinable()) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
  }
  if (!current_.isEmpty()) Hand(std::move(current_));
  current_ = QByteArray();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  worker_.join();
  return !failed_;
}

void BackgroundFileWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return !blocks_.empty() || closing_; });
    if (blocks_.empty()) return;  // closing with nothing left
    QByteArray block = std::move(blocks_.front());
    blocks_.pop_front();
    changed_.notify_all();
    lock.unlock();
    const bool ok = file_.WriteFile({reinterpret_cast<const uint8_t*>(block.constData()),
                                     static_cast<size_t>(block.size())}) == block.size();
    lock.lock();
    if (!ok) {
      failed_ = true;
      blocks_.clear();
      changed_.notify_all();
    }
  }
}

}  // namespace sorvel
