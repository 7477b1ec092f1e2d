#include "testing/loopback_relay.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "native_common/qrntp_packet.h"
#include "testing/loopback_address.h"

namespace sorvel::testing {
namespace {

// Reads exactly `length` bytes; false when the connection ended or the stop flag was set.
bool ReadExact(int fd, uint8_t* buffer, size_t length, const std::atomic<bool>& stop) {
  size_t got = 0;
  while (got < length && !stop) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t n = ::recv(fd, buffer + got, length - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return got == length;
}

// Reads one whole QRNTP packet into `packet`; false when the connection
// ended, the stop flag was set or the bytes are no packet.
bool ReadPacket(int fd, std::vector<uint8_t>* packet, QRNTPHeader* header, const std::atomic<bool>& stop) {
  packet->resize(kQrntpHeaderSize);
  if (!ReadExact(fd, packet->data(), kQrntpHeaderSize, stop)) return false;
  *header = QRNTPHeader::Decode(packet->data());
  if (!header->MagicMatches() || !header->LengthValid()) return false;
  packet->resize(kQrntpHeaderSize + header->BodyLength());
  return header->BodyLength() == 0 || ReadExact(fd, packet->data() + kQrntpHeaderSize, header->BodyLength(), stop);
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  size_t sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

LoopbackRelay::LoopbackRelay(uint16_t server_port, Behaviour behaviour)
    : server_port_(server_port), behaviour_(behaviour) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return;
  sockaddr_in addr = LoopbackAddress(0);
  socklen_t length = sizeof addr;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    ::close(listen_fd_);
    listen_fd_ = -1;
    return;
  }
  port_ = ntohs(addr.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  if (behaviour_.answer_discovery) {
    udp_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in udp = LoopbackAddress(port_);
    if (udp_fd_ >= 0 && ::bind(udp_fd_, reinterpret_cast<sockaddr*>(&udp), sizeof udp) == 0) {
      discovery_thread_ = std::thread([this] { DiscoveryLoop(); });
    }
  }
}

void LoopbackRelay::DiscoveryLoop() {
  // Bounded: a test asks a handful of times.
  for (int answered = 0; answered < 256 && !stop_;) {
    pollfd p{udp_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    uint8_t datagram[kQrntpHeaderSize];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n =
        ::recvfrom(udp_fd_, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n != static_cast<ssize_t>(sizeof datagram)) continue;
    QRNTPHeader header = QRNTPHeader::Decode(datagram);
    if (!header.MagicMatches() || !header.FunctionIs(kQrntpGetHostName)) continue;
    header.SetFunction(kQrntpLetHostName);
    header.Encode(datagram);
    ::sendto(udp_fd_, datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&from), length);
    ++answered;
  }
}

LoopbackRelay::~LoopbackRelay() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
  }
  wake_.notify_all();
  if (accept_thread_.joinable()) accept_thread_.join();
  if (discovery_thread_.joinable()) discovery_thread_.join();
  if (udp_fd_ >= 0) ::close(udp_fd_);
  for (std::thread& t : threads_) t.join();
  for (int fd : fds_) ::close(fd);
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool LoopbackRelay::Pause(long ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void LoopbackRelay::AcceptLoop() {
  // Bounded: a test opens a handful of connections.
  for (int accepted = 0; accepted < 64 && !stop_;) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++accepted;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(server_port_);
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (server >= 0) ::close(server);
      ::close(client);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    fds_.push_back(client);
    fds_.push_back(server);
    if (behaviour_.write_delay_ms > 0) {
      threads_.emplace_back([this, client, server] { ClientToServerSlow(client, server); });
    } else {
      threads_.emplace_back([this, client, server] { ClientToServer(client, server); });
    }
    threads_.emplace_back([this, client, server] { ServerToClient(server, client); });
  }
}

void LoopbackRelay::ClientToServer(int from, int to) {
  uint8_t buffer[16384];
  while (!stop_) {
    pollfd p{from, POLLIN, 0};
    const int ready = ::poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
    if (n <= 0 || !WriteAll(to, buffer, static_cast<size_t>(n))) break;
  }
  ::shutdown(to, SHUT_WR);
}

void LoopbackRelay::ClientToServerSlow(int from, int to) {
  constexpr uint8_t kWrite10 = 0x2A;
  constexpr uint8_t kWrite12 = 0xAA;
  constexpr size_t kCdbAt = 12;  // in the "ExecCommand" request block
  std::vector<uint8_t> packet;
  QRNTPHeader header;
  while (!stop_ && ReadPacket(from, &packet, &header, stop_)) {
    if (header.FunctionIs("ExecCommand") && header.BodyLength() > kCdbAt) {
      const uint8_t opcode = packet[kQrntpHeaderSize + kCdbAt];
      if (opcode == kWrite10 || opcode == kWrite12) {
        if (!Pause(behaviour_.write_delay_ms)) break;
        ++delayed_;
      }
    }
    if (!WriteAll(to, packet.data(), packet.size())) break;
  }
  ::shutdown(to, SHUT_WR);
}

void LoopbackRelay::ServerToClient(int from, int to) {
  std::vector<uint8_t> packet;
  QRNTPHeader header;
  while (!stop_ && ReadPacket(from, &packet, &header, stop_)) {
    if (header.SubsystemIs(kQrntpOneWaySubsystem) && header.FunctionIs(kQrntpKeepAlive)) {
      if (behaviour_.drop_keep_alives) {
        ++dropped_;
        continue;
      }
    } else if (answers_.fetch_add(1) == behaviour_.hold_answer && !Pause(behaviour_.hold_ms)) {
      break;
    }
    if (!WriteAll(to, packet.data(), packet.size())) break;
    ++passed_;
  }
  ::shutdown(to, SHUT_WR);
}

}  // namespace sorvel::testing
