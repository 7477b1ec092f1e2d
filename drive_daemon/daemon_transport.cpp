#include "drive_daemon/daemon_transport.h"

#include "native_common/discovery_query.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "native_common/socket_support.h"
#include "platform/clock.h"

namespace sorvel {

namespace {

// A session's connection: exact reads within a total time, so a peer that
// trickles bytes gains nothing. Small reads (a header, a command block) go
// through a read-ahead buffer, so that a request and whatever came with it
// are taken in one receive; large ones go straight to the caller.
class SocketStream : public DaemonStream {
 public:
  explicit SocketStream(TcpSocket& socket) : socket_(socket) {}
  bool ReceiveExact(uint8_t* buffer, size_t length, long wait_ms) override {
    const auto start = platform::GetClock().Now();
    size_t got = Take(buffer, length);
    while (got < length) {
      // What already waits in the socket is taken whatever the clock says: a
      // daemon that was paused (stopped, swapped out) finds the peer's packets
      // there, sent while it did not look. After a receive that emptied the
      // socket the wait comes first (a receive would only find nothing).
      if (!drained_) {
        const size_t want = length - got;
        const bool ahead = want < sizeof ahead_;
        const size_t room = ahead ? sizeof ahead_ : want;
        ssize_t n;
        do {
          n = ::recv(socket_.handle(), ahead ? ahead_ : buffer + got, room, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n == 0) return false;  // closed by the peer
        if (n > 0) {
          drained_ = static_cast<size_t>(n) < room;
          if (ahead) {
            ahead_end_ = static_cast<size_t>(n);
            got += Take(buffer + got, want);
          } else {
            got += static_cast<size_t>(n);
          }
          continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        drained_ = true;
      }
      const long long left = wait_ms - platform::ElapsedMs(start);
      // A wait that ended without data (its time passed, or the process was
      // stopped in it) looks at the socket once more before it counts.
      const int ready = left > 0 ? PollFd(socket_.handle(), POLLIN, static_cast<long>(left))
                                 : PollNow(socket_.handle(), POLLIN);
      if (ready < 0) return false;
      if (ready == 0 && left <= 0) return false;
      drained_ = false;
    }
    return true;
  }
  void Send(const uint8_t* bytes, size_t length, long wait_ms) override {
    socket_.Send(bytes, static_cast<int>(length), wait_ms);
  }

 private:
  // Copies what the read-ahead buffer holds, up to `length` bytes.
  size_t Take(uint8_t* buffer, size_t length) {
    const size_t n = std::min(length, ahead_end_ - ahead_start_);
    if (n == 0) return 0;
    std::memcpy(buffer, ahead_ + ahead_start_, n);
    ahead_start_ += n;
    if (ahead_start_ == ahead_end_) ahead_start_ = ahead_end_ = 0;
    return n;
  }

  TcpSocket& socket_;
  uint8_t ahead_[4096];
  size_t ahead_start_ = 0;
  size_t ahead_end_ = 0;
  bool drained_ = false;  // the last receive took all there was
};

}  // namespace

DaemonTransport::DaemonTransport(std::string subsystem) : subsystem_(std::move(subsystem)) {}

DaemonTransport::~DaemonTransport() { Stop(); }

std::unique_ptr<DaemonRequestHandler> DaemonTransport::CreateHandler() {
  return std::make_unique<DaemonRequestHandler>();
}

size_t DaemonTransport::SlotCount() const {
  std::lock_guard<std::mutex> lock(slots_mutex_);
  return slots_.size();
}

bool DaemonTransport::Start(uint16_t port, uint32_t connection_limit) {
  if (thread_.joinable() || connection_limit == 0) return false;
  stop_ = false;
  limit_ = connection_limit;
  const int backlog = static_cast<int>(std::min<uint32_t>(connection_limit, INT_MAX));
  if (!listener_.Listen(port, backlog)) return false;
  port_ = listener_.LocalPort();
  // Without the datagram socket the server runs on without answering discovery.
  discovery_.Bind(port_);
  try {
    thread_ = std::thread([this] { ServerLoop(); });
  } catch (...) {
    discovery_.Close();
    listener_.Close();
    return false;
  }
  return true;
}

void DaemonTransport::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.Close();
  discovery_.Close();
}

void DaemonTransport::StopSlot(Slot& slot) {
  std::lock_guard<std::mutex> lock(slot.socket_mutex);
  if (slot.socket && slot.socket->IsOpen()) {
    std::printf("QRNTPServer::CommunicationThread::ThreadStop()\n");
    std::fflush(stdout);
    ::shutdown(slot.socket->handle(), SHUT_RDWR);
  }
}

void DaemonTransport::JoinEndedLocked(size_t index) {
  Slot& slot = *slots_[index];
  if (!slot.thread.joinable() || slot.running) return;
  std::printf("QRNTPServer::Terminated %d Thread.\n", static_cast<int>(index));
  std::fflush(stdout);
  slot.thread.join();
}

void DaemonTransport::ServerLoop() {
  while (!stop_) {
    // Join the sessions that ended; their slots become free.
    {
      std::lock_guard<std::mutex> lock(slots_mutex_);
      for (size_t i = 0; i < slots_.size(); ++i) JoinEndedLocked(i);
    }
    // The first accept waits; a few more pending ones are taken at once.
    AcceptOne(10);
    for (int i = 0; i < 15 && !stop_ && listener_.IsReadable(); ++i) AcceptOne(1);
    AnswerDiscovery();
  }
  std::lock_guard<std::mutex> lock(slots_mutex_);
  for (auto& slot : slots_) StopSlot(*slot);
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (!slots_[i]->thread.joinable()) continue;
    slots_[i]->thread.join();
    std::printf("QRNTPServer::Terminated %d Thread.\n", static_cast<int>(i));
    std::fflush(stdout);
  }
  slots_.clear();
}

void DaemonTransport::AcceptOne(long wait_ms) {
  std::unique_ptr<TcpSocket> socket = listener_.Accept(wait_ms);
  if (!socket) return;
  std::lock_guard<std::mutex> lock(slots_mutex_);
  // A session that ended while this connection waited gives its slot at once.
  size_t index = 0;
  while (index < slots_.size()) {
    JoinEndedLocked(index);
    if (!slots_[index]->thread.joinable()) break;
    ++index;
  }
  if (index == slots_.size()) {
    if (slots_.size() >= limit_) {
      socket->Close();  // no free slot: the client sees the connection closed
      return;
    }
    slots_.push_back(std::make_unique<Slot>());
  }
  Slot* slot = slots_[index].get();
  std::printf("QRNTPServer::Created %d Thread. (%s)\n", static_cast<int>(index), socket->PeerAddress().c_str());
  std::fflush(stdout);
  {
    std::lock_guard<std::mutex> socket_lock(slot->socket_mutex);
    slot->socket = std::move(socket);
  }
  slot->running = true;
  ++active_;
  try {
    slot->thread = std::thread([this, slot, index] { SessionLoop(slot, static_cast<int>(index)); });
  } catch (...) {
    --active_;
    slot->running = false;
    std::lock_guard<std::mutex> socket_lock(slot->socket_mutex);
    slot->socket.reset();
  }
}

void DaemonTransport::AnswerDiscovery() {
  ServeDiscoveryQuery(discovery_, [this](uint8_t* datagram, size_t length) {
    return AnswerDiscoveryDatagram(subsystem_, datagram, length);
  });
}

void DaemonTransport::SessionLoop(Slot* slot, int) {
  TcpSocket& socket = *slot->socket;
  {
    std::unique_ptr<DaemonRequestHandler> handler = CreateHandler();
    if (!handler) handler = std::make_unique<DaemonRequestHandler>();
    SocketStream stream(socket);
    RunDaemonSession(stream, subsystem_, *handler, stop_);
    // The handler goes first: it releases the drive of this connection.
  }
  {
    std::lock_guard<std::mutex> lock(slot->socket_mutex);
    slot->socket->Close();
    slot->socket.reset();
  }
  // Not running first: once the count shows it ended, its slot is free.
  slot->running = false;
  --active_;
}

}  // namespace sorvel
