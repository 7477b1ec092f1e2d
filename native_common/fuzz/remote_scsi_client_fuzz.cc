// Fuzz target: the remote SCSI client against a hostile server. A server on
// 127.0.0.1 answers the client's connection with the input's bytes and then
// ends its side; the client opens the drive, runs a few commands into
// buffers exactly as long as it asked for and closes. Whatever the replies,
// every call ends (the stream runs out), and nothing is read or written
// outside the caller's buffers.
//
// Input: byte 0 steers: bit 0 makes each packet's header a response of this
// subsystem to the client's own call (magic, subsystem, kind, call id and the
// function the client calls next, following the length fields); bit 1 then
// makes the answer to "Open" say the drive opened. The rest is the stream.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "native_common/little_endian.h"
#include "native_common/qrntp_packet.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_protocol.h"

namespace {

using namespace sorvel;

// One connection at a time on a loopback listener; each gets the current script.
class HostileServer {
 public:
  HostileServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::perror("loopback listener");
      std::abort();
    }
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }
  uint16_t port() const { return port_; }

  void SetScript(std::vector<uint8_t> script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
  }
  // Waits (bounded) until `count` connections have been served.
  void WaitServed(uint64_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    served_signal_.wait_for(lock, std::chrono::seconds(10), [&] { return served_ >= count; });
  }
  uint64_t served() {
    std::lock_guard<std::mutex> lock(mutex_);
    return served_;
  }

 private:
  void Serve() {
    for (;;) {
      const int peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (peer < 0) continue;
      std::vector<uint8_t> script;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        script = script_;
      }
      size_t sent = 0;
      while (sent < script.size()) {
        const ssize_t n = ::send(peer, script.data() + sent, script.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      ::shutdown(peer, SHUT_WR);
      // Takes what the client sends until it hangs up (bounded).
      uint8_t sink[4096];
      for (int round = 0; round < 200; ++round) {
        pollfd wait{peer, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) continue;
        if (::recv(peer, sink, sizeof sink, 0) <= 0) break;
      }
      ::close(peer);
      std::lock_guard<std::mutex> lock(mutex_);
      ++served_;
      served_signal_.notify_all();
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable served_signal_;
  std::vector<uint8_t> script_;
  uint64_t served_ = 0;
};

HostileServer& Server() {
  static HostileServer* server = new HostileServer;
  return *server;
}

void SteerHeaders(std::vector<uint8_t>& stream, uint32_t call_id, bool opened) {
  static const std::string_view kCalls[] = {kRemoteScsiOpen, kRemoteScsiExecCommand, kRemoteScsiExecCommand,
                                            kRemoteScsiExecCommand, kRemoteScsiClose};
  size_t at = 0;
  for (size_t call = 0; at + kQrntpHeaderSize <= stream.size(); ++call) {
    uint8_t* header = stream.data() + at;
    SetQrntpName(header + 2, 6, kQrntpMagic);
    SetQrntpName(header + 8, kQrntpSubsystemSize, kRemoteScsiSubsystem);
    SetQrntpName(header + 18, kQrntpFunctionSize, kCalls[std::min<size_t>(call, std::size(kCalls) - 1)]);
    header[33] = kQrntpResponse;
    PutLe32(header + 34, call_id);
    const size_t length = GetLe16(header);
    if (length < kQrntpHeaderSize) break;
    if (call == 0 && opened && length >= kQrntpHeaderSize + 4 && at + kQrntpHeaderSize + 4 <= stream.size()) {
      PutLe32(header + kQrntpHeaderSize, 1);
    }
    at += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The transport reports every close on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  Server();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t steer = data[0];
  std::vector<uint8_t> stream(data + 1, data + size);
  RemoteScsiClient client;
  if ((steer & 1) != 0) SteerHeaders(stream, client.call_id(), (steer & 2) != 0);
  HostileServer& server = Server();
  server.SetScript(stream);
  const uint64_t before = server.served();
  const std::string path = "\\\\127.0.0.1:" + std::to_string(server.port()) + "\\D:";
  if (client.Open(path)) {
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t sense[32];
    for (uint32_t length : {36u, 0u, 2352u}) {
      std::vector<uint8_t> buffer(length);
      client.ExecCommand(inquiry, sizeof inquiry, length ? buffer.data() : nullptr, length, sense, false, 1);
      client.GetSense();
    }
    std::vector<uint8_t> out(2048, 0x5A);
    const uint8_t write[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    client.ExecCommand(write, sizeof write, out.data(), static_cast<uint32_t>(out.size()), sense, true, 1);
    client.Close();
  }
  client.transport().Disconnect();
  server.WaitServed(before + 1);
  return 0;
}
