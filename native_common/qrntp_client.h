// The client end of a QRNTP link for one subsystem: connects directly or
// through an HTTP CONNECT proxy, makes calls (request, then the matching
// response), serves the requests the server sends on the link from its receive
// thread, optionally sends keep-alives and drops a silent link, and finds
// servers by UDP discovery.
//
// Events go to a request handler and a log sink given at construction; both
// must outlive the client (nullptr: the defaults, which handle nothing and
// print the log line). The handler runs under the link's lock: on the receive
// thread, or on the thread of a call when the server's request arrives while
// that call waits for its answer. The receive thread runs from construction to
// destruction and is joined before any member goes away. While a call waits it
// goes on sending the keep-alives, and while the call's abandon check runs
// (which may open a question and wait for the user) it also reads what
// arrives, for the call to take afterwards.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "native_common/mutex_lock.h"
#include "native_common/param_set.h"
#include "native_common/qrntp_link.h"
#include "native_common/thread_base.h"
#include "native_common/transport_settings.h"

namespace sorvel {

// Bounds of one discovery run, whatever the network sends.
struct DiscoveryLimits {
  long total_ms = 0;         // overall limit; 0: four times the quiet time-out
  size_t max_answers = 256;  // answers collected at most
};

class QRNTPClient {
 public:
  explicit QRNTPClient(std::string subsystem, QRNTPRequestHandler* handler = nullptr, QRNTPLogSink* log = nullptr);
  ~QRNTPClient();
  QRNTPClient(const QRNTPClient&) = delete;
  QRNTPClient& operator=(const QRNTPClient&) = delete;

  // Connects to host:port, through the HTTP proxy proxy_host:proxy_port when a
  // proxy host is given (CONNECT, a 2xx answer ended by an empty line within
  // one receive). Fails at once when connected.
  bool Connect(const std::string& host, uint16_t port, const std::string& proxy_host = std::string(),
               uint16_t proxy_port = 0);
  // Closes the link; false when there was none.
  bool Disconnect();
  bool IsConnected() const;

  // Calls `function` with `request` as body and takes the response body (read
  // into the storage `response` holds, so a buffer kept from call to call is
  // reused; a failed call leaves it empty). A call that fails after its
  // request was sent closes the link, so a late answer is never taken for a
  // later call's.
  bool CallFunction(std::string_view function, uint32_t call_id, const std::vector<uint8_t>& request,
                    std::vector<uint8_t>* response);
  bool CallFunction(std::string_view function, uint32_t call_id, const uint8_t* request, size_t request_length,
                    std::vector<uint8_t>* response);
  // Named-value form: the input and output are serialised ParamSets.
  bool CallFunction(std::string_view function, uint32_t call_id, const ParamSet& input, ParamSet* output);
  // 4-byte result form: true only when the response holds at least 4 bytes,
  // whose first 4 (little-endian) are the result.
  bool CallFunction(std::string_view function, uint32_t call_id, const void* request, size_t request_length,
                    int32_t* result);

  // A one-way packet (kind 0, subsystem "SUBSYSTEM.") sent with the call
  // time-out; true when every byte went out.
  bool SendOneWay(std::string_view function, const std::vector<uint8_t>& body = {});

  void SetKeepAlive(bool on) { keep_alive_ = on; }
  void SetSilenceCheck(bool on) { silence_check_ = on; }
  // Calls end (and close the link) when nothing arrives for the receive
  // time-out, however long their call time-out, once the server has been
  // seen sending keep-alives during a call of this link (a server that never
  // sends any is waited for as long as the call time-out); and when `abandon`
  // (asked every QRNTPLink::kWaitSliceMs while a call waits) answers true and
  // the answer does not come within `abandon_grace_ms` after.
  void SetCallWait(bool silence_check, std::function<bool()> abandon, long abandon_grace_ms = 0);
  // Whether the server of the current link has sent a keep-alive during a call.
  bool PeerKeepsAlive() const;
  void SetFilters(const PacketFilter* send, const PacketFilter* receive);

  TransportSettings settings() const;
  void SetSettings(const TransportSettings& settings);
  void SetCallTimeout(long ms);

  // Stops and joins the receive thread (the destructor does this too).
  void Stop();

  // Discovery: sends the "GetHostName" header to every target of the
  // "|"-separated list (up to the first empty one) at `port`, then collects the
  // addresses of "LetHostName" answers until `quiet_ms` pass without one, the
  // overall limit passes or enough answers came. `on_host` (optional) gets each
  // answer's address and port; returning 0 stops.
  using HostCallback = std::function<int(const std::string& address, uint16_t port)>;
  std::vector<std::string> GetHosts(const std::string& targets, uint16_t port, long quiet_ms,
                                    const HostCallback& on_host = nullptr, const DiscoveryLimits& limits = {});

  const std::string& subsystem() const { return link_.subsystem(); }

 private:
  class ReceiveThread : public ThreadBase {
   public:
    explicit ReceiveThread(QRNTPClient* owner) : owner_(owner) {}
    ~ReceiveThread() override { Join(); }

   protected:
    void Run() override { owner_->ReceiveLoop(); }

   private:
    QRNTPClient* owner_;
  };

  void ReceiveLoop();
  // One round under the link mutex; returns the socket to wait on, or -1.
  int ReceiveRound();
  // A round while a call holds the link mutex: the keep-alive when due and,
  // while the call's abandon check runs, what the socket holds.
  void CallRound();
  // Whether a keep-alive is due now; notes it as sent when it is.
  bool TakeKeepAliveTurn(platform::Clock::TimePoint now);
  // A request or one-way packet of the server: served by the handler. One it
  // does not serve breaks the link, except while a call waits (`during_call`):
  // then it is passed over without an answer.
  void HandleIncoming(QRNTPLink::Packet& packet, bool during_call, bool* broken);
  void CloseLinkLocked();
  void Log(int level, uint32_t code, std::string message);
  bool ProxyHandshake(const std::string& host, uint16_t port, const TransportSettings& settings);

  QRNTPRequestHandler* handler_;
  QRNTPLogSink* log_;
  mutable MutexLock mutex_;  // guards the link, the settings and every packet exchange
  QRNTPLink link_;
  TransportSettings settings_;
  bool call_silence_check_ = false;
  std::function<bool()> call_abandon_;
  long call_abandon_grace_ms_ = 0;
  bool peer_keeps_alive_ = false;
  std::mutex send_mutex_;  // every send on the link (the link takes it)
  // Guards the keep-alive schedule and the state of the call that waits, which
  // the receive thread reads while the call holds the link mutex; it also
  // orders the receive thread's reads for a parked call before the call's own.
  mutable std::mutex call_mutex_;
  bool call_waiting_ = false;  // a call holds the link and waits for its answer
  bool call_parked_ = false;   // ... and runs its abandon check: the receive thread reads for it
  TransportSettings call_settings_;  // the settings of that call
  KeepAliveSchedule keep_alive_schedule_;
  platform::Clock::TimePoint last_receipt_{};
  std::atomic<bool> keep_alive_{false};
  std::atomic<bool> silence_check_{false};
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> calls_{0};  // calls begun, so the receive thread sees the owner busy
  std::atomic<int> socket_fd_{-1};  // the open socket's descriptor, for waits and wake-ups
  std::mutex fd_mutex_;             // held while that descriptor is closed or shut down
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  ReceiveThread thread_{this};  // last: started after and joined before everything else
};

}  // namespace sorvel
