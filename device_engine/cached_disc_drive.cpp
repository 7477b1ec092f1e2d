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
  pass_family_ = media_family_;
  abort_ = false;
  end_ = false;
  pass_good_ = true;
  worker_side_.sense = 0;
  PrepareRing();
  running_ = true;
  worker_ = std::thread(&CachedDiscDrive::WorkerMain, this);
  return result;
}

void CachedDiscDrive::PrepareRing() {
  // The caller waits once the queued bytes reach the buffer size: the queue
  // holds the records that start below it.
  const int64_t capacity = (int64_t{buffer_size_} + WriteCacheRecord::kSize - 1) / WriteCacheRecord::kSize;
  if (!ring_ || capacity != capacity_) {
    ring_.reset();
    ring_.reset(new uint8_t[static_cast<size_t>((capacity + 1) * WriteCacheRecord::kSize)]);
    capacity_ = capacity;
    slots_ = capacity + 1;
  }
  DropQueue();
}

void CachedDiscDrive::DropQueue() {
  // Only with no worker running: the caller's thread has the ring to itself.
  caller_.head = 0;
  worker_side_.tail = 0;
}

int64_t CachedDiscDrive::Queued() const {
  // The tail first: it never passes the head read after it. A record the
  // worker takes in between can only make the count high, never past the
  // queue's size.
  const int64_t tail = worker_side_.tail.load(std::memory_order_acquire);
  const int64_t head = caller_.head.load(std::memory_order_acquire);
  return std::clamp<int64_t>(head - tail, 0, capacity_);
}

bool CachedDiscDrive::WriteLBA(int32_t type, const uint8_t* data, int32_t lba) {
  if (buffer_size_ < 1) {
    const bool result = DiscDrive::WriteLBA(type, data, lba);
    if (result) worker_side_.last_wrote_lba = lba;
    return result;
  }
  // No pass, or a pass that already lost a sector: nothing more is taken.
  if (!running_.load() || !pass_good_.load()) return false;
  const int32_t size = WriteDataSize(pass_family_, type);
  if (size < 0) return false;
  if (data == nullptr && type != CSD_ERRORDATA) type = CSD_GENERATED;

  // Only this thread moves the head.
  const int64_t head = caller_.head.load(std::memory_order_relaxed);
  if (head - worker_side_.tail.load(std::memory_order_acquire) >= capacity_) {
    // Room for the record, or a worker that will take no more.
    std::unique_lock<std::mutex> lock(mutex_);
    WaitForWorker(lock, [&] {
      return head - worker_side_.tail.load(std::memory_order_acquire) < capacity_ || !pass_good_.load() ||
             end_.load();
    });
  }
  if (!pass_good_.load() || end_.load()) return false;
  uint8_t* record = Slot(head);
  StoreLe32(record, lba);
  StoreLe32(record + 4, type);
  if (data != nullptr && size > 0) std::memcpy(record + WriteCacheRecord::kDataOffset, data, static_cast<size_t>(size));
  caller_.head.store(head + 1, std::memory_order_release);
  const int64_t queued = head + 1 - worker_side_.tail.load(std::memory_order_acquire);
  if (queued == kWakeRecords || queued >= capacity_) {
    // Taken and dropped so that a worker about to wait sees the record.
    { std::lock_guard<std::mutex> lock(mutex_); }
    work_.notify_one();
  }
  return pass_good_.load();
}

void CachedDiscDrive::WorkerMain() {
  // A caller waiting for room is woken once the queue has drained by a good
  // stretch (half of it, at least kWakeRecords records, or all of a small
  // queue), not for every record: while the caller is faster than the drive
  // that would switch threads twice per sector.
  const int64_t low = std::max<int64_t>(std::min(capacity_ - kWakeRecords, capacity_ / 2), 0);
  // Only this thread moves the tail.
  int64_t tail = worker_side_.tail.load(std::memory_order_relaxed);
  for (;;) {
    if (caller_.head.load(std::memory_order_acquire) == tail && !abort_.load() && !end_.load()) {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!abort_.load() && !end_.load() && caller_.head.load(std::memory_order_acquire) == tail) {
        work_.wait_for(lock, std::chrono::milliseconds(kWorkerPollMs));
      }
    }
    if (abort_.load()) break;
    const int64_t head = caller_.head.load(std::memory_order_acquire);
    if (head == tail) break;  // end requested and nothing left
    const uint8_t* record = Slot(tail);
    if (head - tail > 1) {
      // The caller filled the next slot on another core: have it on its way
      // into this core's cache while the drive writes this one.
      const uint8_t* next = Slot(tail + 1);
      for (int32_t at = 0; at < WriteCacheRecord::kSize; at += 64) __builtin_prefetch(next + at);
    }
    worker_side_.tail.store(++tail, std::memory_order_release);
    if (head - tail == low) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      space_.notify_one();
    }
    // After a lost sector the rest of the pass is not written: it would only
    // go on past a hole.
    if (!pass_good_.load()) continue;
    const int32_t lba = LoadLe32(record);
    const int32_t type = LoadLe32(record + 4);
    const bool good = WriteQueuedSector(
        type, WriteDataSize(pass_family_, type) > 0 ? record + WriteCacheRecord::kDataOffset : nullptr, lba);
    const SenseStatus sense = MmcDrive::GetSCSIErrorStatus();
    if (sense != worker_side_.sense.load(std::memory_order_relaxed)) worker_side_.sense = sense;
    if (good) {
      worker_side_.last_wrote_lba.store(lba, std::memory_order_release);
    } else {
      {
        // Under the lock, so a caller about to wait for room sees it.
        std::lock_guard<std::mutex> lock(mutex_);
        pass_good_ = false;
      }
      space_.notify_all();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  space_.notify_all();
}

bool CachedDiscDrive::WriteQueuedSector(int32_t type, const uint8_t* data, int32_t lba) {
  return DiscDrive::WriteLBA(type, data, lba);
}

template <typename Done>
void CachedDiscDrive::WaitForWorker(std::unique_lock<std::mutex>& lock, Done done) {
  using Clock = std::chrono::steady_clock;
  auto asked = Clock::now();
  while (!done()) {
    space_.wait_for(lock, std::chrono::milliseconds(kWorkerPollMs));
    if (done() || Clock::now() - asked < std::chrono::milliseconds(kCallerAskMs)) continue;
    // Without the lock: the answer may take long (the window system runs in
    // it). Asked also while an abort ends the worker, which may take as long
    // as its drive command needs to be given up.
    lock.unlock();
    const bool give_up = CallerWaitGivesUp();
    lock.lock();
    asked = Clock::now();
    if (give_up && !abort_.load()) {
      // The pass cannot be whole any more: it fails as a lost sector fails it.
      pass_good_ = false;
      end_ = true;
      abort_ = true;
      work_.notify_all();
    }
  }
}

void CachedDiscDrive::StopWorker(bool abort) {
  if (!worker_.joinable()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    end_ = true;
    if (abort) abort_ = true;
    work_.notify_all();
    // The worker says it ended (running_ false, then space_) under this lock.
    WaitForWorker(lock, [this] { return !running_.load(); });
  }
  worker_.join();
  running_ = false;
}

bool CachedDiscDrive::WriteFlush(bool abort) {
  if (buffer_size_ < 1) return true;
  StopWorker(abort);
  DropQueue();
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

int32_t CachedDiscDrive::GetLastWroteLBA() const { return worker_side_.last_wrote_lba.load(); }

int32_t CachedDiscDrive::SetWriteCacheBufferSize(int32_t bytes) {
  if (running_.load()) return buffer_size_;
  // Anything below one record (negative sizes too) switches the cache off.
  if (bytes < WriteCacheRecord::kSize) bytes = 0;
  buffer_size_ = bytes;
  return buffer_size_;
}

int32_t CachedDiscDrive::GetUsedWriteCacheBufferSize() {
  return static_cast<int32_t>(Queued() * WriteCacheRecord::kSize);
}

SenseStatus CachedDiscDrive::GetSCSIErrorStatus() {
  if (running_.load()) return worker_side_.sense.load();
  return MmcDrive::GetSCSIErrorStatus();
}

bool CachedDiscDrive::ResetSense() {
  // The drive belongs to the worker while it runs: no command from here.
  if (running_.load()) return false;
  return MmcDrive::ResetSense();
}

void CachedDiscDrive::StopAndAbandonPass() {
  StopWorker(true);
  DropQueue();
  AbandonWritePass();
}

}  // namespace sorvel
