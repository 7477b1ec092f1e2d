// Simulates a full disk: while a FileSizeLimit lives, files of this process
// may grow to `limit` bytes; larger writes fail (SIGXFSZ ignored) as they
// would on a full disk.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace sorvel::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t old_handler_;
};

}  // namespace sorvel::testing
