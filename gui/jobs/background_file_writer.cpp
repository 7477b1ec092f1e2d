#include "gui/jobs/background_file_writer.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace sorvel {
namespace {

// Blocks waiting at most: the producer waits when the disk falls behind.
constexpr size_t kMaxQueued = 4;
// Every block there can be: the queued ones, the one being written and the
// one being filled.
constexpr size_t kMaxBlocks = kMaxQueued + 2;
// The write-back of what was written is started every this many bytes, so
// that the flush at the output's commit finds little left to write; the
// step started before is then waited for and leaves the page cache.
constexpr int64_t kWriteBackStep = 8 << 20;

}  // namespace

BackgroundFileWriter::BackgroundFileWriter(FileIO& file, qsizetype block_size, qsizetype write_size)
    : file_(file),
      block_size_(std::max<qsizetype>(block_size, 1)),
      write_size_(write_size > 0 ? write_size : block_size_) {
  // A block has room past its size for one more Reserve, so a sector is
  // always filled in place and never split across two blocks.
  storage_.emplace_back(new uint8_t[static_cast<size_t>(block_size_ + kMaxReserve)]);
  current_ = storage_.back().get();
  worker_ = std::thread([this] { Run(); });
}

BackgroundFileWriter::~BackgroundFileWriter() { Finish(); }

uint8_t* BackgroundFileWriter::Reserve(qsizetype size) {
  // Commit hands the block on once it holds block_size_ bytes, so there is
  // always room for kMaxReserve more.
  Q_ASSERT(size <= kMaxReserve);
  Q_UNUSED(size);
  return current_ + used_;
}

bool BackgroundFileWriter::Commit(qsizetype size) {
  used_ += std::clamp<qsizetype>(size, 0, kMaxReserve);
  if (used_ >= block_size_) HandOver();
  return !failed_.load();
}

bool BackgroundFileWriter::Append(const void* data, qsizetype size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const qsizetype n = std::min(size, block_size_ - used_);
    std::memcpy(current_ + used_, bytes, static_cast<size_t>(n));
    used_ += n;
    bytes += n;
    size -= n;
    if (used_ >= block_size_) HandOver();
  }
  return !failed_.load();
}

void BackgroundFileWriter::HandOver() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return queued_.size() < kMaxQueued || failed_.load(); });
  if (failed_.load() || used_ == 0) {
    // Nothing more is written after a failure: the block is filled again.
    used_ = 0;
    return;
  }
  queued_.push_back({current_, used_});
  used_ = 0;
  changed_.notify_all();
  if (!free_.empty()) {
    current_ = free_.back();
    free_.pop_back();
  } else {
    // Fewer than kMaxBlocks exist: with all of them made, at most
    // kMaxQueued + 1 are queued or being written and one is free.
    storage_.emplace_back(new uint8_t[static_cast<size_t>(block_size_ + kMaxReserve)]);
    current_ = storage_.back().get();
  }
  Q_ASSERT(storage_.size() <= kMaxBlocks);
}

bool BackgroundFileWriter::Finish() {
  if (!worker_.joinable()) return !failed_.load();
  HandOver();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  worker_.join();
  return !failed_.load();
}

void BackgroundFileWriter::Run() {
  int64_t written_back = file_.GetPointer();  // where the write-back started last
  int64_t settled = written_back;              // what lies before is on the disk and out of the cache
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return !queued_.empty() || closing_; });
    if (queued_.empty()) return;  // closing with nothing left
    const Block block = queued_.front();
    queued_.pop_front();
    changed_.notify_all();
    lock.unlock();
    bool ok = true;
    for (qsizetype at = 0; ok && at < block.size; at += write_size_) {
      const qsizetype n = std::min(write_size_, block.size - at);
      ok = file_.WriteFile({block.data + at, static_cast<size_t>(n)}) == n;
    }
    if (const int64_t end = file_.GetPointer(); ok && end - written_back >= kWriteBackStep) {
      file_.StartWriteBack(written_back, end - written_back);
      ok = file_.SettleWritten(settled, written_back - settled);
      settled = written_back;
      written_back = end;
    }
    lock.lock();
    free_.push_back(block.data);
    if (!ok) {
      failed_ = true;
      for (const Block& dropped : queued_) free_.push_back(dropped.data);
      queued_.clear();
      changed_.notify_all();
    }
  }
}

}  // namespace sorvel
