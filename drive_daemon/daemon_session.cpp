#include "drive_daemon/daemon_session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace sorvel {

namespace {

// Milliseconds left of the silence limit counted from `since`; 0 when it passed.
long Left(const platform::Clock::TimePoint& since) {
  const long long left = kDaemonSilenceLimitMs - platform::ElapsedMs(since);
  return left > 0 ? static_cast<long>(left) : 0;
}

// Sends keep-alives on the stream while the session's handler runs one
// request for longer than a period. A thread of its own, started with the
// first request; it looks every period whether the request it saw busy last
// time is still running. Keep-alives are sent under the lock that End takes,
// so none comes between the end of a request and its answer.
class BusyKeepAlive {
 public:
  BusyKeepAlive(DaemonStream& stream, long period_ms) : stream_(stream), period_ms_(period_ms) {
    QRNTPHeader::Make(kQrntpOneWaySubsystem, kQrntpKeepAlive, kQrntpOneWay, 0).Encode(packet_);
  }
  ~BusyKeepAlive() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  BusyKeepAlive(const BusyKeepAlive&) = delete;
  BusyKeepAlive& operator=(const BusyKeepAlive&) = delete;

  void Begin() {
    if (period_ms_ <= 0 || failed_) return;
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        failed_ = true;  // out of threads: the session goes on without keep-alives
        return;
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = true;
    ++request_;
  }
  void End() {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t seen = 0;
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(period_ms_), [this] { return stop_; });
      if (stop_) break;
      if (busy_ && request_ == seen) stream_.Send(packet_, sizeof packet_, kDaemonAnswerTimeoutMs);
      seen = request_;
    }
  }

  DaemonStream& stream_;
  const long period_ms_;
  uint8_t packet_[kQrntpHeaderSize];
  std::mutex mutex_;
  std::condition_variable wake_;
  bool busy_ = false;
  bool stop_ = false;
  uint64_t request_ = 0;  // requests begun
  bool failed_ = false;   // the thread could not be started
  std::thread thread_;
};

}  // namespace

DaemonSessionEnd RunDaemonSession(DaemonStream& stream, std::string_view subsystem, DaemonRequestHandler& handler,
                                  const std::atomic<bool>& stop, long busy_keep_alive_ms) {
  BusyKeepAlive busy(stream, busy_keep_alive_ms);
  platform::Clock& clock = platform::GetClock();
  std::vector<uint8_t> body;
  std::vector<uint8_t> answer;
  // Only a whole valid packet (or a sent answer) restarts the silence limit.
  platform::Clock::TimePoint since = clock.Now();
  while (!stop) {
    uint8_t raw[kQrntpHeaderSize];
    // With the limit passed by this daemon's clock, what the peer sent
    // meanwhile still counts (the stream hands out what it holds at once): a
    // daemon paused longer than the limit judges the peer by its packets,
    // not by the time it did not look.
    if (!stream.ReceiveExact(raw, sizeof raw, Left(since))) return DaemonSessionEnd::kClosed;
    const DaemonHeader header = DaemonHeader::Decode(raw);
    const DaemonPacketClass kind = ClassifyDaemonHeader(header, subsystem);
    if (kind == DaemonPacketClass::kBad) return DaemonSessionEnd::kInvalidPacket;
    const size_t body_length = header.total_length - kQrntpHeaderSize;
    body.resize(body_length);
    // A body that does not arrive whole in time leaves the stream out of step: end.
    if (body_length > 0 && !stream.ReceiveExact(body.data(), body_length, Left(since))) {
      return DaemonSessionEnd::kClosed;
    }
    since = clock.Now();
    if (kind == DaemonPacketClass::kKeepAlive) continue;
    busy.Begin();
    const bool answered = AnswerDaemonRequest(subsystem, handler, header, body.data(), body.size(), &answer);
    busy.End();
    if (!answered) continue;
    stream.Send(answer.data(), answer.size(), kDaemonAnswerTimeoutMs);
    // A request that took long to handle does not count against the peer.
    since = clock.Now();
  }
  return DaemonSessionEnd::kStopped;
}

}  // namespace sorvel
