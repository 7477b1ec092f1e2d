// A software write buffer in front of the write pass: while a cached pass
// runs, WriteLBA copies the sector into a queue and returns, and one worker
// thread writes the queued sectors in order through the DiscDrive write
// operations. A buffer size of 0 passes every call straight through.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "device_engine/disc_drive.h"

namespace sorvel {

// One queued sector (2,456 bytes, little-endian): LBA, data type, and the
// caller's data in the first WriteDataSize bytes of the data area.
struct WriteCacheRecord {
  static constexpr int32_t kSize = 2456;
  static constexpr int32_t kDataSize = 2448;
  static constexpr int32_t kDataOffset = 8;
};

class CachedDiscDrive : public DiscDrive {
 public:
  static constexpr int32_t kDefaultBufferSize = 10 * 1024 * 1024;
  // The worker looks at the queue at least this often, and is woken at once
  // when this many records wait or the queue is full. Waking it for every
  // record would cost a thread switch per sector.
  static constexpr int kWorkerPollMs = 10;
  static constexpr int32_t kWakeRecords = 64;
  // How often a call that waits for the worker asks CallerWaitGivesUp.
  static constexpr int kCallerAskMs = 100;

  CachedDiscDrive();
  ~CachedDiscDrive() override;

  int32_t WriteStart(int32_t write_mode, int32_t flags, TocStructure toc) override;
  bool WriteLBA(int32_t type, const uint8_t* data, int32_t lba) override;
  bool WriteEnd(bool abort) override;
  // Waits until the worker has written everything queued (with `abort`: drops
  // what it has not taken yet) and ends it. True when every sector of the
  // pass so far was written.
  virtual bool WriteFlush(bool abort);
  virtual int32_t GetLastWroteLBA() const;
  // Not changed while the worker runs (the result is then the size in use);
  // otherwise sizes below one record become 0 (no cache). Returns the size.
  virtual int32_t SetWriteCacheBufferSize(int32_t bytes);
  // Bytes queued (records × 2,456).
  virtual int32_t GetUsedWriteCacheBufferSize();

  // While the worker runs the sense is the one its last drive command left.
  SenseStatus GetSCSIErrorStatus() override;
  bool ResetSense() override;

  bool IsWorkerRunning() const { return running_.load(); }
  int32_t write_cache_buffer_size() const { return buffer_size_; }

 protected:
  // Whether the caller asked the worker to stop without writing what is queued.
  bool abort_requested() const { return abort_.load(); }
  // Asked on the caller's thread about every kCallerAskMs while WriteLBA waits
  // for room in the queue or WriteFlush and WriteEnd wait for the worker (a
  // slow or stalled drive may hold them for minutes). True gives the pass up:
  // the worker takes no more records (the queued ones are dropped, as by
  // WriteFlush(true)), and the pass fails as after a lost sector.
  virtual bool CallerWaitGivesUp() { return false; }
  // Writes one record's sector; runs on the worker thread.
  virtual bool WriteQueuedSector(int32_t type, const uint8_t* data, int32_t lba);
  // Stops a running worker with the abort flag and ends an open pass without
  // any drive command (the drive is about to go away).
  void StopAndAbandonPass();

 private:
  void WorkerMain();
  void StopWorker(bool abort);
  // Waits under `lock` until `done` holds, asking CallerWaitGivesUp meanwhile;
  // a give-up aborts the worker.
  template <typename Done>
  void WaitForWorker(std::unique_lock<std::mutex>& lock, Done done);

  // Makes the ring for the buffer size (kept from the last pass when it fits)
  // and empties the queue.
  void PrepareRing();
  // Empties the queue; only while no worker runs.
  void DropQueue();
  uint8_t* Slot(int64_t record) const { return ring_.get() + (record % slots_) * WriteCacheRecord::kSize; }
  // Records queued: appended and not yet taken by the worker.
  int64_t Queued() const;

  // The queue is a ring of record slots that the caller fills at its head and
  // the worker takes at its tail; each side writes only its own count, and
  // the counts lie on cache lines of their own, away from what both sides
  // read for every record. The ring has one slot more than the queue may
  // hold, so the worker writes from the slot it took while the caller fills
  // the others. The mutex only pairs with the two conditions.
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable work_;      // for the worker: records to write, end or abort
  std::condition_variable space_;     // for the caller: room in the queue, or a failed pass
  // Set while no worker runs.
  std::unique_ptr<uint8_t[]> ring_;
  int64_t slots_ = 0;                 // records the ring has room for
  int64_t capacity_ = 0;              // records the queue holds at most
  int32_t buffer_size_ = kDefaultBufferSize;
  int32_t pass_family_ = 0;           // media family of the pass
  // Set by one side now and then, read by both.
  std::atomic<bool> running_{false};
  std::atomic<bool> end_{false};
  std::atomic<bool> abort_{false};
  // Sticky for the pass: false from the first sector that failed.
  std::atomic<bool> pass_good_{true};

  // Written by the caller for every record.
  struct alignas(64) CallerSide {
    std::atomic<int64_t> head{0};     // records appended
  } caller_;
  // Written by the worker for every record.
  struct alignas(64) WorkerSide {
    std::atomic<int64_t> tail{0};     // records taken
    std::atomic<int32_t> last_wrote_lba{0};
    std::atomic<SenseStatus> sense{0};
  } worker_side_;
};

}  // namespace sorvel
