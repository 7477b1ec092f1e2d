#include "device_engine/cached_disc_drive.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace sorvel {

namespace {

void StoreLe32(uint8_t* out, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
  out[2] = static_cast<uint8_t>(v >> 16);
  out[3] = static_cast<uint8_t>(v >> 24);
}

int32_t LoadLe32(const uint8_t* in) {
  return static_cast<int32_t>(uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24);
}

}  // namespace

CachedDiscDrive::CachedDiscDrive() = default;

CachedDiscDrive::~CachedDiscDrive() {
  StopWorker(true);
  // Never pad a disc on the way out: whatever was sent is synchronised.
  if (IsWriting()) DiscDrive::WriteEnd(true);
}

int32_t CachedDiscDrive::WriteStart(int32_t write_mode, int32_t flags, TocStructure toc) {
  if (buffer_size_ <= 0) return DiscDrive::WriteStart(write_mode, flags, std::move(toc));
  if (running_.load()) return CBR_ALREADYRUNNING;
  const int32_t result = DiscDrive::WriteStart(write_mode, flags, std::move(toc));
  if (result != CBR_OK) return result;
  // Everything the worker reads is set before it starts.
  abort_ = false;
  end_ = false;
  pass_good_ = true;
  worker_sense_ = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.Clear();
  }
  running_ = true;
  worker_ = std::thread(&CachedDiscDrive::WorkerMain, this);
  return result;
}

bool CachedDiscDrive::WriteLBA(int32_t type, const uint8_t* data, int32_t lba) {
  if (buffer_size_ < 1) {
    const bool result = DiscDrive::WriteLBA(type, data, lba);
    if (result) last_wrote_lba_ = lba;
    return result;
  }
  // No pass, or a pass that already lost a sector: nothing more is taken.
  if (!running_.load() || !pass_good_.load()) return false;
  const int32_t size = WriteDataSize(media_family_, type);
  if (size < 0) return false;
  if (data == nullptr && type != CSD_ERRORDATA) type = CSD_GENERATED;

  uint8_t record[WriteCacheRecord::kSize] = {};
  StoreLe32(record, lba);
  StoreLe32(record + 4, type);
  if (data != nullptr && size > 0) std::memcpy(record + WriteCacheRecord::kDataOffset, data, static_cast<size_t>(size));
  bool wake;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // Room for the record, or a worker that will take no more.
    space_.wait(lock, [this] { return queue_.Size() < buffer_size_ || !pass_good_.load() || end_.load(); });
    if (!pass_good_.load() || end_.load()) return false;
    queue_.Append(record, WriteCacheRecord::kSize);
    wake = queue_.Size() == kWakeRecords * WriteCacheRecord::kSize || queue_.Size() >= buffer_size_;
  }
  if (wake) work_.notify_one();
  return pass_good_.load();
}

void CachedDiscDrive::WorkerMain() {
  uint8_t record[WriteCacheRecord::kSize];
  for (;;) {
    bool wake_caller;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!abort_.load() && !end_.load() && queue_.Size() < WriteCacheRecord::kSize) {
        work_.wait_for(lock, std::chrono::milliseconds(kWorkerPollMs));
      }
      if (abort_.load()) break;
      if (queue_.Size() < WriteCacheRecord::kSize) break;  // end requested and nothing left
      // A caller waiting for room is woken once the queue has drained by a
      // good stretch, not for every record (which would switch threads twice
      // per sector while the caller is faster than the drive).
      const int32_t low = std::max(buffer_size_ - kWakeRecords * WriteCacheRecord::kSize, 0);
      const bool above = queue_.Size() > low;
      queue_.Read(record, WriteCacheRecord::kSize);
      wake_caller = above && queue_.Size() <= low;
    }
    if (wake_caller) space_.notify_one();
    // After a lost sector the rest of the pass is not written: it would only
    // go on past a hole.
    if (!pass_good_.load()) continue;
    const int32_t lba = LoadLe32(record);
    const int32_t type = LoadLe32(record + 4);
    const bool good = WriteQueuedSector(
        type, WriteDataSize(media_family_, type) > 0 ? record + WriteCacheRecord::kDataOffset : nullptr, lba);
    worker_sense_ = MmcDrive::GetSCSIErrorStatus();
    if (good) {
      last_wrote_lba_ = lba;
    } else {
      {
        // Under the lock, so a caller about to wait for room sees it.
        std::lock_guard<std::mutex> lock(mutex_);
        pass_good_ = false;
      }
      space_.notify_all();
    }
  }
  running_ = false;
  space_.notify_all();
}

bool CachedDiscDrive::WriteQueuedSector(int32_t type, const uint8_t* data, int32_t lba) {
  return DiscDrive::WriteLBA(type, data, lba);
}

void CachedDiscDrive::StopWorker(bool abort) {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    end_ = true;
    if (abort) abort_ = true;
  }
  work_.notify_all();
  worker_.join();
  running_ = false;
}

bool CachedDiscDrive::WriteFlush(bool abort) {
  if (buffer_size_ < 1) return true;
  StopWorker(abort);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.Clear();
  }
  return pass_good_.load();
}

bool CachedDiscDrive::WriteEnd(bool abort) {
  if (buffer_size_ <= 0) return DiscDrive::WriteEnd(abort);
  if (!IsWriting()) {
    StopWorker(true);
    return false;
  }
  if (!WriteFlush(false)) {
    // A sector is missing: end the pass without padding over the hole, and
    // report the failure.
    DiscDrive::WriteEnd(true);
    return false;
  }
  return DiscDrive::WriteEnd(abort);
}

int32_t CachedDiscDrive::GetLastWroteLBA() const { return last_wrote_lba_.load(); }

int32_t CachedDiscDrive::SetWriteCacheBufferSize(int32_t bytes) {
  if (running_.load()) return buffer_size_;
  // Anything below one record (negative sizes too) switches the cache off.
  if (bytes < WriteCacheRecord::kSize) bytes = 0;
  buffer_size_ = bytes;
  return buffer_size_;
}

int32_t CachedDiscDrive::GetUsedWriteCacheBufferSize() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.Size();
}

SenseStatus CachedDiscDrive::GetSCSIErrorStatus() {
  if (running_.load()) return worker_sense_.load();
  return MmcDrive::GetSCSIErrorStatus();
}

bool CachedDiscDrive::ResetSense() {
  // The drive belongs to the worker while it runs: no command from here.
  if (running_.load()) return false;
  return MmcDrive::ResetSense();
}

void CachedDiscDrive::StopAndAbandonPass() {
  StopWorker(true);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.Clear();
  }
  AbandonWritePass();
}

}  // namespace sorvel
