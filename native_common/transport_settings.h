// Tuning values of QRNTP clients and servers (times in milliseconds) and the
// keep-alive schedule both use.
#pragma once

#include "platform/clock.h"

namespace sorvel {

struct TransportSettings {
  long session_limit = 150;         // server: sessions kept at once
  long worker_count = 150;          // server: worker threads
  long receive_timeout_ms = 30000;  // reading incoming packets; proxy answer; silence limit
  long call_timeout_ms = 10000;     // sends, and every read while waiting for a response
  long keep_alive_start_ms = 500;   // first keep-alive period
  long keep_alive_ceiling_ms = 20000;  // largest keep-alive period
  long connect_timeout_ms = 3000;   // the TCP connect
};

// Whether at least `ms` milliseconds lie between `since` and `now`. Counted in
// whole milliseconds, so that any limit, however large, compares without
// overflow (a limit of many years is simply never reached).
inline bool MsPassed(platform::Clock::TimePoint since, platform::Clock::TimePoint now, long ms) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count() >= ms;
}

// Keep-alive periods: the first is the start value; each later one grows by
// (ceiling - start) / 20 + 1 up to the ceiling and never shrinks. With the
// defaults keep-alives leave about 500, 1976, 4428, 7856 ms after the start.
class KeepAliveSchedule {
 public:
  // Restarts the schedule at `now` with the first period.
  void Reset(platform::Clock::TimePoint now) {
    last_ = now;
    period_ = 0;
  }

  // Whether a keep-alive is due at `now` under `settings`.
  bool Due(const TransportSettings& settings, platform::Clock::TimePoint now) {
    if (period_ < settings.keep_alive_start_ms || settings.keep_alive_start_ms == 0) {
      period_ = settings.keep_alive_start_ms;
    }
    if (period_ <= 0) return false;
    return MsPassed(last_, now, period_);
  }

  // Notes a keep-alive sent at `now` and grows the period.
  void Sent(const TransportSettings& settings, platform::Clock::TimePoint now) {
    last_ = now;
    const long ceiling = settings.keep_alive_ceiling_ms;
    if (period_ >= ceiling) {
      period_ = ceiling > 0 ? ceiling : period_;
    } else {
      long grown = period_ + (ceiling - settings.keep_alive_start_ms) / 20 + 1;
      period_ = grown < ceiling ? grown : ceiling;
    }
  }

  long period_ms() const { return period_; }

 private:
  platform::Clock::TimePoint last_{};
  long period_ = 0;
};

}  // namespace sorvel
