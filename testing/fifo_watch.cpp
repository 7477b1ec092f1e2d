#include "testing/fifo_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstdio>

namespace sorvel::testing {

FifoWatch::FifoWatch(std::filesystem::path path, std::chrono::milliseconds grace) : path_(std::move(path)) {
  if (::mkfifo(path_.c_str(), 0644) != 0) {
    std::perror("mkfifo");
    std::abort();
  }
  watchdog_ = std::thread([this, grace] { Watch(grace); });
}

FifoWatch::~FifoWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stop_signal_.notify_all();
  watchdog_.join();
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

void FifoWatch::Watch(std::chrono::milliseconds grace) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop_signal_.wait_for(lock, grace, [this] { return stop_; })) return;
  released_ = true;
  // Opening both ends at once never blocks and frees an opener of either
  // kind; closing again gives a reader the end of the data. Bounded: the
  // test ends within a minute whatever the reader does.
  for (int round = 0; round < 3000 && !stop_; ++round) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    stop_signal_.wait_for(lock, std::chrono::milliseconds(20), [this] { return stop_; });
  }
}

}  // namespace sorvel::testing
