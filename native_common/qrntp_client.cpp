#include "native_common/qrntp_client.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "native_common/little_endian.h"
#include "native_common/socket_support.h"
#include "native_common/udp_socket.h"

namespace sorvel {
namespace {

QRNTPLogSink& DefaultLogSink() {
  static QRNTPLogSink sink;
  return sink;
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool StartsWith(const std::string& text, std::string_view head) { return text.compare(0, head.size(), head) == 0; }

// Longest wait for a keep-alive to go out while a call waits.
constexpr long kKeepAliveSendMs = 1000;

}  // namespace

QRNTPClient::QRNTPClient(std::string subsystem, QRNTPRequestHandler* handler, QRNTPLogSink* log)
    : handler_(handler ? handler : &DefaultRequestHandler()),
      log_(log ? log : &DefaultLogSink()),
      link_(std::move(subsystem)) {
  link_.SetSendLock(&send_mutex_);
  keep_alive_schedule_.Reset(platform::GetClock().Now());
  thread_.Start();
}

QRNTPClient::~QRNTPClient() {
  // Wake a receive round that waits inside a read, then close and join.
  stop_ = true;
  {
    std::lock_guard<std::mutex> lock(fd_mutex_);
    int fd = socket_fd_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  }
  Disconnect();
  Stop();
}

void QRNTPClient::Stop() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.Join();
}

TransportSettings QRNTPClient::settings() const {
  std::lock_guard<MutexLock> lock(mutex_);
  return settings_;
}

void QRNTPClient::SetSettings(const TransportSettings& settings) {
  std::lock_guard<MutexLock> lock(mutex_);
  settings_ = settings;
}

void QRNTPClient::SetCallTimeout(long ms) {
  std::lock_guard<MutexLock> lock(mutex_);
  settings_.call_timeout_ms = ms;
}

void QRNTPClient::SetCallWait(bool silence_check, std::function<bool()> abandon, long abandon_grace_ms) {
  std::lock_guard<MutexLock> lock(mutex_);
  call_silence_check_ = silence_check;
  call_abandon_ = std::move(abandon);
  call_abandon_grace_ms_ = abandon_grace_ms;
}

bool QRNTPClient::PeerKeepsAlive() const {
  std::lock_guard<MutexLock> lock(mutex_);
  return peer_keeps_alive_;
}

bool QRNTPClient::TakeKeepAliveTurn(platform::Clock::TimePoint now) {
  if (!keep_alive_) return false;
  std::lock_guard<std::mutex> lock(call_mutex_);
  if (!keep_alive_schedule_.Due(settings_, now)) return false;
  keep_alive_schedule_.Sent(settings_, now);
  return true;
}

void QRNTPClient::SetFilters(const PacketFilter* send, const PacketFilter* receive) {
  std::lock_guard<MutexLock> lock(mutex_);
  link_.SetFilters(send, receive);
}

bool QRNTPClient::IsConnected() const {
  std::lock_guard<MutexLock> lock(mutex_);
  return link_.IsOpen();
}

void QRNTPClient::Log(int level, uint32_t code, std::string message) {
  if (link_.socket() == nullptr) return;
  log_->OnLog(link_.LogEntry(level, code, std::move(message)));
}

bool QRNTPClient::ProxyHandshake(const std::string& host, uint16_t port, const TransportSettings& settings) {
  const std::string target = host + ":" + std::to_string(port);
  const std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
  TcpSocket* socket = link_.socket();
  if (socket->Send(request.data(), static_cast<int>(request.size()), settings.call_timeout_ms) !=
      static_cast<int>(request.size())) {
    return false;
  }
  // One receive of at most 1,024 bytes holds the whole answer.
  char buffer[1024];
  int n = socket->Receive(buffer, sizeof buffer, settings.receive_timeout_ms, false);
  if (n <= 0) return false;
  const std::string answer(buffer, static_cast<size_t>(n));
  if (!EndsWith(answer, "\n\n") && !EndsWith(answer, "\r\n\r\n")) return false;
  return StartsWith(answer, "HTTP/1.0 2") || StartsWith(answer, "HTTP/1.1 2");
}

bool QRNTPClient::Connect(const std::string& host, uint16_t port, const std::string& proxy_host,
                          uint16_t proxy_port) {
  std::lock_guard<MutexLock> lock(mutex_);
  if (link_.socket() != nullptr) return false;
  const TransportSettings settings = settings_;
  auto socket = std::make_unique<TcpSocket>();
  bool ok;
  if (proxy_host.empty()) {
    ok = socket->Connect(host, port, settings.connect_timeout_ms);
    link_.Attach(std::move(socket));
  } else {
    ok = socket->Connect(proxy_host, proxy_port, settings.connect_timeout_ms);
    link_.Attach(std::move(socket));
    ok = ok && ProxyHandshake(host, port, settings);
  }
  if (!ok) {
    link_.Detach();  // closes the socket
    return false;
  }
  last_receipt_ = platform::GetClock().Now();
  {
    std::lock_guard<std::mutex> call_lock(call_mutex_);
    keep_alive_schedule_.Reset(last_receipt_);
  }
  peer_keeps_alive_ = false;
  socket_fd_ = link_.socket()->handle();
  Log(0, qrntp_log::kConnection, qrntp_log::kConnectedText);
  handler_->OnConnected(*link_.socket());
  {
    std::lock_guard<std::mutex> wake_lock(wake_mutex_);
  }
  wake_.notify_all();
  return true;
}

void QRNTPClient::CloseLinkLocked() {
  TcpSocket* socket = link_.socket();
  if (socket == nullptr) return;
  bool closed;
  {
    std::lock_guard<std::mutex> lock(fd_mutex_);
    socket_fd_ = -1;
    closed = socket->Close();
  }
  if (closed) {
    Log(0, qrntp_log::kDisconnected, qrntp_log::kDisconnectedText);
    handler_->OnDisconnected(*socket);
  }
  link_.Detach();
}

bool QRNTPClient::Disconnect() {
  std::lock_guard<MutexLock> lock(mutex_);
  if (link_.socket() == nullptr) return false;
  CloseLinkLocked();
  return true;
}

bool QRNTPClient::CallFunction(std::string_view function, uint32_t call_id, const uint8_t* request,
                               size_t request_length, std::vector<uint8_t>* response) {
  calls_.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<MutexLock> lock(mutex_);
  if (link_.socket() == nullptr) return false;
  // The answer is read into the caller's storage.
  std::vector<uint8_t> body;
  body.swap(*response);
  // A request of the server that arrives meanwhile is served at once, so that
  // a call the server makes at the same time is not left waiting; one the
  // handler does not serve is passed over, and the call waits on.
  auto serve = [this](QRNTPLink::Packet& packet) {
    bool broken = false;
    HandleIncoming(packet, true, &broken);
    return !broken;
  };
  QRNTPLink::CallWait wait;
  if (call_silence_check_) wait.silence_ms = settings_.receive_timeout_ms;
  wait.peer_keeps_alive = &peer_keeps_alive_;
  wait.abandon_grace_ms = call_abandon_grace_ms_;
  if (call_abandon_) {
    // The check may wait long (a question on screen): meanwhile the receive
    // thread reads for the call and the keep-alives go on.
    wait.abandon = [this, abandon = call_abandon_] {
      {
        std::lock_guard<std::mutex> call_lock(call_mutex_);
        call_parked_ = true;
      }
      const bool give_up = abandon();
      std::lock_guard<std::mutex> call_lock(call_mutex_);
      call_parked_ = false;
      return give_up;
    };
  }
  // The receive thread sends keep-alives while the call waits.
  struct Waiting {
    explicit Waiting(QRNTPClient& c) : client(c) {
      std::lock_guard<std::mutex> call_lock(client.call_mutex_);
      client.call_waiting_ = true;
      client.call_settings_ = client.settings_;
    }
    ~Waiting() {
      std::lock_guard<std::mutex> call_lock(client.call_mutex_);
      client.call_waiting_ = false;
      client.call_parked_ = false;
    }
    QRNTPClient& client;
  };
  QRNTPLink::CallResult result;
  {
    Waiting waiting(*this);
    result = link_.Call(function, call_id, request, request_length, settings_.call_timeout_ms, &body, serve, wait);
  }
  switch (result) {
    case QRNTPLink::CallResult::kOk:
      *response = std::move(body);
      return true;
    case QRNTPLink::CallResult::kNoSocket:
      return false;
    case QRNTPLink::CallResult::kSendFailed:
      // A request refused before sending (body too large) leaves the link as it
      // was; a send that failed midway leaves it out of step.
      if (request_length > kQrntpMaxBody) return false;
      CloseLinkLocked();
      return false;
    case QRNTPLink::CallResult::kBadMagic:
      Log(2, qrntp_log::kBadPacket, qrntp_log::BadPacketText(1));
      CloseLinkLocked();
      return false;
    case QRNTPLink::CallResult::kSilent:
      Log(2, qrntp_log::kLinkFailure, qrntp_log::SilenceText(wait.silence_ms, 1));
      CloseLinkLocked();
      return false;
    case QRNTPLink::CallResult::kFailed:
    case QRNTPLink::CallResult::kAbandoned:
      CloseLinkLocked();
      return false;
  }
  return false;
}

bool QRNTPClient::CallFunction(std::string_view function, uint32_t call_id, const std::vector<uint8_t>& request,
                               std::vector<uint8_t>* response) {
  return CallFunction(function, call_id, request.data(), request.size(), response);
}

bool QRNTPClient::CallFunction(std::string_view function, uint32_t call_id, const ParamSet& input,
                               ParamSet* output) {
  ParamSet copy(input);
  std::vector<uint8_t> request = copy.Serialize();
  std::vector<uint8_t> response;
  if (!CallFunction(function, call_id, request, &response)) return false;
  output->Deserialize(response);
  return true;
}

bool QRNTPClient::CallFunction(std::string_view function, uint32_t call_id, const void* request,
                               size_t request_length, int32_t* result) {
  std::vector<uint8_t> response;
  if (!CallFunction(function, call_id, static_cast<const uint8_t*>(request), request_length, &response)) return false;
  if (response.size() < 4) return false;
  *result = static_cast<int32_t>(GetLe32(response.data()));
  return true;
}

bool QRNTPClient::SendOneWay(std::string_view function, const std::vector<uint8_t>& body) {
  std::lock_guard<MutexLock> lock(mutex_);
  return link_.SendOneWay(function, body.data(), body.size(), settings_.call_timeout_ms);
}

void QRNTPClient::HandleIncoming(QRNTPLink::Packet& packet, bool during_call, bool* broken) {
  const QRNTPHeader& h = packet.header;
  if (h.kind == kQrntpOneWay || h.kind == kQrntpRequest) {
    QRNTPLink::ServeOutcome outcome = link_.Serve(*handler_, packet, settings_.call_timeout_ms, !during_call);
    if (!outcome.handled && during_call) return;
    if (!outcome.handled) {
      Log(2, qrntp_log::kNoFunction, qrntp_log::NoFunctionText(h));
      *broken = true;
    } else if (outcome.close_after) {
      *broken = true;
    }
  }
  // A response outside a call has been read and is dropped.
}

void QRNTPClient::CallRound() {
  // The call cannot end (nor the link close) while this lock is held.
  std::lock_guard<std::mutex> call_lock(call_mutex_);
  if (!call_waiting_) return;
  const auto now = platform::GetClock().Now();
  if (keep_alive_ && keep_alive_schedule_.Due(call_settings_, now)) {
    // A failed send shows to the call as a broken link. Bounded apart from
    // the call's time-out, which may be an hour.
    link_.SendOneWay(kQrntpKeepAlive, nullptr, 0, std::min(call_settings_.call_timeout_ms, kKeepAliveSendMs));
    keep_alive_schedule_.Sent(call_settings_, now);
  }
  if (call_parked_) link_.Drain();
}

int QRNTPClient::ReceiveRound() {
  std::unique_lock<MutexLock> lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    CallRound();
    return -2;
  }
  if (link_.socket() == nullptr) return -1;
  const auto now = platform::GetClock().Now();
  bool broken = false;
  if (TakeKeepAliveTurn(now)) {
    if (!link_.SendOneWay(kQrntpKeepAlive, nullptr, 0, settings_.call_timeout_ms)) broken = true;
  }
  if (!broken && (link_.HasPending() || link_.socket()->IsReadable())) {
    QRNTPLink::Packet packet;
    switch (link_.Read(settings_.receive_timeout_ms, &packet)) {
      case QRNTPLink::ReadResult::kBroken:
        broken = true;
        break;
      case QRNTPLink::ReadResult::kBadMagic:
        Log(2, qrntp_log::kBadPacket, qrntp_log::BadPacketText(2));
        broken = true;
        break;
      case QRNTPLink::ReadResult::kForeign:
        Log(0, qrntp_log::kDrop, qrntp_log::DropText(packet.header));
        break;
      case QRNTPLink::ReadResult::kOwn:
        HandleIncoming(packet, false, &broken);
        break;
    }
    last_receipt_ = platform::GetClock().Now();
  } else if (!broken && silence_check_) {
    if (MsPassed(last_receipt_, now, settings_.receive_timeout_ms)) {
      Log(2, qrntp_log::kLinkFailure, qrntp_log::SilenceText(settings_.receive_timeout_ms, 1));
      broken = true;
    }
  } else if (!broken) {
    last_receipt_ = now;
  }
  if (broken) {
    CloseLinkLocked();
    return -1;
  }
  return link_.socket()->handle();
}

void QRNTPClient::ReceiveLoop() {
  uint64_t calls_seen = calls_.load();
  while (!stop_) {
    int fd = ReceiveRound();
    // While the owner makes calls, each call reads its own answer: waiting on
    // the socket then would only wake this thread for every answer (and let
    // it hold the link when the next call wants it).
    const uint64_t calls = calls_.load();
    const bool calling = calls != calls_seen;
    calls_seen = calls;
    if (fd >= 0 && !calling) {
      // Wait for the peer instead of sleeping, at most 10 ms so that the
      // keep-alive and silence rules keep their pace.
      PollFd(fd, POLLIN, 10);
    } else if (fd >= 0 || fd == -2) {
      // A call holds the link, or calls follow each other: look again in 10 ms.
      std::unique_lock<std::mutex> lock(wake_mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_.load(); });
    } else {
      std::unique_lock<std::mutex> lock(wake_mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_.load() || socket_fd_.load() >= 0; });
    }
  }
}

std::vector<std::string> QRNTPClient::GetHosts(const std::string& targets, uint16_t port, long quiet_ms,
                                               const HostCallback& on_host, const DiscoveryLimits& limits) {
  std::vector<std::string> hosts;
  UdpSocket udp;
  bool bound = false;
  for (uint32_t p = 0xC000; p <= 0xFFFF && !bound; ++p) bound = udp.Bind(static_cast<uint16_t>(p));
  if (!bound) return hosts;
  udp.SetBroadcast(true);
  // Whatever waits on the port already (a late answer to an earlier query on
  // the same port) answers no query of this call.
  {
    std::vector<uint8_t> stale(65536);  // room for any datagram, so none stops the drain
    const int room = static_cast<int>(stale.size());
    for (int i = 0; i < 4096 && udp.ReceiveFrom(nullptr, nullptr, stale.data(), room, 1) >= 0; ++i) {
    }
  }
  uint8_t query[kQrntpHeaderSize];
  QRNTPHeader::Make(subsystem(), kQrntpGetHostName, 0, 0).Encode(query);
  // The time-out counts from the query: an answer (or the clock) may move
  // before the first look at the clock after the sends.
  const auto start = platform::GetClock().Now();
  size_t begin = 0;
  while (begin <= targets.size()) {
    size_t end = targets.find('|', begin);
    if (end == std::string::npos) end = targets.size();
    if (end == begin) break;
    udp.SendTo(targets.substr(begin, end - begin), port, query, sizeof query);
    begin = end + 1;
  }
  const long quiet = quiet_ms > 0 ? quiet_ms : 0;
  const long total_ms =
      limits.total_ms > 0 ? limits.total_ms : (quiet > std::numeric_limits<long>::max() / 4 ? quiet : 4 * quiet);
  auto quiet_start = start;
  while (hosts.size() < limits.max_answers) {
    const auto now = platform::GetClock().Now();
    if (MsPassed(quiet_start, now, quiet_ms)) break;
    if (MsPassed(start, now, total_ms)) break;
    uint8_t answer[kQrntpHeaderSize];
    std::string address;
    uint16_t from_port = 0;
    if (udp.ReceiveFrom(&address, &from_port, answer, sizeof answer, 10) != static_cast<int>(sizeof answer)) continue;
    // An answer that came after the time-out is not one.
    const auto arrived = platform::GetClock().Now();
    if (MsPassed(quiet_start, arrived, quiet_ms) || MsPassed(start, arrived, total_ms)) break;
    std::printf("QRNTPClient::GetHosts::RecvFrom(%s, %u)\n", address.c_str(), from_port);
    std::fflush(stdout);
    QRNTPHeader h = QRNTPHeader::Decode(answer);
    if (!h.MagicMatches() || !h.SubsystemIs(subsystem()) || !h.FunctionIs(kQrntpLetHostName)) continue;
    hosts.push_back(address);
    if (on_host && on_host(address, from_port) == 0) break;
    quiet_start = platform::GetClock().Now();
  }
  udp.Close();
  return hosts;
}

}  // namespace sorvel
