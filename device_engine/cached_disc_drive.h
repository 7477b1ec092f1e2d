// A software write buffer in front of the write pass: while a cached pass
// runs, WriteLBA copies the sector into a queue and returns, and one worker
// thread writes the queued sectors in order through the DiscDrive write
// operations. A buffer size of 0 passes every call straight through.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "device_engine/disc_drive.h"
#include "native_common/chunk_fifo.h"

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
  // Writes one record's sector; runs on the worker thread.
  virtual bool WriteQueuedSector(int32_t type, const uint8_t* data, int32_t lba);
  // Stops a running worker with the abort flag and ends an open pass without
  // any drive command (the drive is about to go away).
  void StopAndAbandonPass();

 private:
  void WorkerMain();
  void StopWorker(bool abort);

  std::thread worker_;
  std::mutex mutex_;                  // guards queue_
  std::condition_variable work_;      // for the worker: records to write, end or abort
  std::condition_variable space_;     // for the caller: room in the queue, or a failed pass
  ChunkFifo queue_;
  int32_t buffer_size_ = kDefaultBufferSize;
  std::atomic<bool> running_{false};
  std::atomic<bool> end_{false};
  std::atomic<bool> abort_{false};
  // Sticky for the pass: false from the first sector that failed.
  std::atomic<bool> pass_good_{true};
  std::atomic<int32_t> last_wrote_lba_{0};
  std::atomic<SenseStatus> worker_sense_{0};
};

}  // namespace sorvel
