// A FIFO put where a reader expects a file, for tests that the reader refuses
// it. Should the reader block on it after all (the fault tested for), a
// watchdog opens the FIFO's other end once the grace time has passed, again
// and again until the FIFO goes, so that the reader returns and the test fails
// instead of hanging. Released() tells whether that was needed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace sorvel::testing {

class FifoWatch {
 public:
  explicit FifoWatch(std::filesystem::path path, std::chrono::milliseconds grace = std::chrono::seconds(10));
  ~FifoWatch();
  FifoWatch(const FifoWatch&) = delete;
  FifoWatch& operator=(const FifoWatch&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // True when the grace time ran out before the watch ended: whoever used
  // the FIFO waited on it.
  bool Released() const { return released_; }

 private:
  void Watch(std::chrono::milliseconds grace);

  std::filesystem::path path_;
  std::mutex mutex_;
  std::condition_variable stop_signal_;
  bool stop_ = false;
  std::atomic<bool> released_{false};
  std::thread watchdog_;
};

}  // namespace sorvel::testing
