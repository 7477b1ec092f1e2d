// The daemon's transport over many connections and at its stop: every ended
// session gives back its descriptor and thread, and a stop ends sessions that
// are still connected without waiting out their silence limit.
#include "drive_daemon/daemon_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "drive_daemon/remote_test_support.h"
#include "native_common/little_endian.h"
#include "native_common/remote_scsi_protocol.h"

namespace sorvel {
namespace {

using remote_test::Bytes;

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

size_t ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoul(line.substr(8));
  }
  return 0;
}

// Waits (bounded) until `done` holds.
template <typename F>
bool WaitFor(F done, long ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Bytes UnknownRequest() {
  DaemonHeader h;
  SetQrntpName(h.magic, sizeof h.magic, kQrntpMagic);
  SetQrntpName(h.subsystem, sizeof h.subsystem, kRemoteScsiSubsystem);
  SetQrntpName(h.function, sizeof h.function, "Nothing");
  Bytes bytes(kQrntpHeaderSize);
  h.Encode(bytes.data());
  return bytes;
}

// Sends one request and reads its (header-only) answer.
bool RoundTrip(TcpSocket& socket) {
  const Bytes request = UnknownRequest();
  uint8_t answer[kQrntpHeaderSize];
  return socket.Send(request.data(), static_cast<int>(request.size()), 1000) == static_cast<int>(request.size()) &&
         socket.Receive(answer, sizeof answer, 2000, true) == static_cast<int>(sizeof answer);
}

// A request of `body_length` bytes of a function nobody handles (answered
// with an empty header).
Bytes UnknownRequestWithBody(size_t body_length) {
  Bytes bytes = UnknownRequest();
  bytes.resize(kQrntpHeaderSize + body_length, 0x5A);
  PutLe16(bytes.data(), static_cast<uint16_t>(bytes.size()));
  return bytes;
}

Bytes KeepAlive() {
  Bytes bytes(kQrntpHeaderSize);
  QRNTPHeader::Make(kQrntpOneWaySubsystem, kQrntpKeepAlive, kQrntpOneWay, 0).Encode(bytes.data());
  return bytes;
}

// Requests as the stream may bring them: one cut into single bytes, several
// (with a keep-alive among them) in one segment, and a large one joined to a
// small one. Each request gets its answer, in order, on one session.
TEST(DaemonTransport, RequestsInPiecesOrJoinedAreAnsweredInStep) {
  DaemonTransport transport{std::string(kRemoteScsiSubsystem)};
  ASSERT_TRUE(transport.Start(0, 2));
  TcpSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", transport.port(), 1000));
  auto answers = [&socket](int count) {
    for (int i = 0; i < count; ++i) {
      uint8_t answer[kQrntpHeaderSize];
      if (socket.Receive(answer, sizeof answer, 2000, true) != static_cast<int>(sizeof answer)) return false;
      if (GetLe16(answer) != kQrntpHeaderSize) return false;
    }
    return true;
  };
  const Bytes one = UnknownRequestWithBody(48);
  for (uint8_t byte : one) ASSERT_EQ(socket.Send(&byte, 1, 1000), 1);
  EXPECT_TRUE(answers(1));

  Bytes joined;
  for (const Bytes& part : {one, KeepAlive(), UnknownRequest(), one, KeepAlive()}) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  ASSERT_EQ(socket.Send(joined.data(), static_cast<int>(joined.size()), 1000), static_cast<int>(joined.size()));
  EXPECT_TRUE(answers(3));

  joined = UnknownRequestWithBody(kQrntpMaxBody);
  joined.insert(joined.end(), one.begin(), one.end());
  const Bytes big_after_small = UnknownRequestWithBody(5000);
  joined.insert(joined.end(), big_after_small.begin(), big_after_small.end());
  ASSERT_EQ(socket.Send(joined.data(), static_cast<int>(joined.size()), 1000), static_cast<int>(joined.size()));
  EXPECT_TRUE(answers(3));
  EXPECT_TRUE(RoundTrip(socket));
  EXPECT_EQ(transport.ActiveSessions(), 1u);
}

TEST(DaemonTransport, ManyConnectionsLeaveNoDescriptorOrThreadBehind) {
  constexpr uint32_t kLimit = 4;
  DaemonTransport transport{std::string(kRemoteScsiSubsystem)};
  ASSERT_TRUE(transport.Start(0, kLimit));
  const size_t descriptors = OpenDescriptors();
  const size_t threads = ThreadCount();
  for (int round = 0; round < 150; ++round) {
    TcpSocket peer;
    ASSERT_TRUE(peer.Connect("127.0.0.1", transport.port(), 2000)) << round;
    ASSERT_TRUE(RoundTrip(peer)) << round;
    peer.Close();
    // The next connection may meet the session of this one still ending.
    if (round % 3 == 2) {
      ASSERT_TRUE(WaitFor([&] { return transport.ActiveSessions() == 0; })) << round;
    }
  }
  EXPECT_TRUE(WaitFor([&] { return transport.ActiveSessions() == 0; }));
  EXPECT_LE(transport.SlotCount(), kLimit);
  EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() <= descriptors && ThreadCount() <= threads; }))
      << OpenDescriptors() << " descriptors (" << descriptors << " before), " << ThreadCount() << " threads ("
      << threads << " before)";
  transport.Stop();
}

TEST(DaemonTransport, EndedSessionFreesItsSlotForTheNextConnection) {
  DaemonTransport transport{std::string(kRemoteScsiSubsystem)};
  ASSERT_TRUE(transport.Start(0, 1));
  for (int round = 0; round < 40; ++round) {
    TcpSocket peer;
    ASSERT_TRUE(peer.Connect("127.0.0.1", transport.port(), 2000)) << round;
    ASSERT_TRUE(RoundTrip(peer)) << round;  // served, not closed for want of a slot
    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return transport.ActiveSessions() == 0; })) << round;
  }
  EXPECT_EQ(transport.SlotCount(), 1u);
  transport.Stop();
}

TEST(DaemonTransport, StopEndsConnectedSessionsWithoutWaitingForSilence) {
  constexpr uint32_t kLimit = 3;
  DaemonTransport transport{std::string(kRemoteScsiSubsystem)};
  ASSERT_TRUE(transport.Start(0, kLimit));
  const uint16_t port = transport.port();
  const size_t threads = ThreadCount();
  std::vector<std::unique_ptr<TcpSocket>> peers;
  for (uint32_t i = 0; i < kLimit; ++i) {
    peers.push_back(std::make_unique<TcpSocket>());
    ASSERT_TRUE(peers.back()->Connect("127.0.0.1", port, 2000));
    ASSERT_TRUE(RoundTrip(*peers.back()));
  }
  ASSERT_TRUE(WaitFor([&] { return transport.ActiveSessions() == kLimit; }));
  const auto start = std::chrono::steady_clock::now();
  transport.Stop();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LT(took.count(), DaemonTransport::kSilenceLimitMs);
  EXPECT_FALSE(transport.IsRunning());
  EXPECT_EQ(transport.ActiveSessions(), 0u);
  EXPECT_EQ(transport.SlotCount(), 0u);
  // A joined thread leaves the process's task list a moment later.
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() < threads; }));
  for (auto& peer : peers) {
    uint8_t byte = 0;
    EXPECT_LE(peer->Receive(&byte, 1, 1000, true), 0);  // closed by the daemon
  }
  EXPECT_FALSE(remote_test::Connects(port));
  // A stopped transport starts again.
  ASSERT_TRUE(transport.Start(0, kLimit));
  TcpSocket again;
  ASSERT_TRUE(again.Connect("127.0.0.1", transport.port(), 2000));
  EXPECT_TRUE(RoundTrip(again));
  transport.Stop();
}

}  // namespace
}  // namespace sorvel
