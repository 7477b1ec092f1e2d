// Peers that try to hold every slot of the daemon by trickling bytes: each is
// dropped within the silence limit, and a well-formed client is served while
// they keep reconnecting. Traffic stays on 127.0.0.1; every loop is bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive_daemon/daemon_packet.h"
#include "drive_daemon/remote_scsi_handler.h"
#include "drive_daemon/remote_test_support.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_protocol.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using namespace remote_test;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kLimit = 20;
constexpr long kStaggerMs = 100;

// What a trickler sends, one byte every 50 ms: a valid header whose body
// would take longer than the limit, or junk whose "header" is invalid.
Bytes TrickleBytes(bool valid_header) {
  if (!valid_header) return Bytes(4000, 'Z');
  DaemonHeader h;
  h.total_length = 50 + 1000;
  SetQrntpName(h.magic, sizeof h.magic, kQrntpMagic);
  SetQrntpName(h.subsystem, sizeof h.subsystem, kRemoteScsiSubsystem);
  SetQrntpName(h.function, sizeof h.function, "ExecCommand");
  Bytes bytes(50);
  h.Encode(bytes.data());
  bytes.resize(50 + 1000, 0);
  return bytes;
}

// Connects and trickles until the daemon closes the connection; returns how
// long the connection lived (or -1 ms when it never connected).
std::chrono::milliseconds TrickleOnce(uint16_t port, const Bytes& bytes, const Clock::time_point& end) {
  TcpSocket socket;
  if (!socket.Connect("127.0.0.1", port, 500)) return std::chrono::milliseconds(-1);
  const auto start = Clock::now();
  for (size_t i = 0; i < bytes.size() && Clock::now() < end; ++i) {
    if (socket.Send(&bytes[i], 1, 200) != 1) break;
    uint8_t byte;
    // 50 ms between bytes; a closed connection shows at once.
    if (socket.Receive(&byte, 1, 50, false) == 0) break;
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

TEST(DaemonTrickle, TricklersAreDroppedAndAClientIsServed) {
  testing::ScratchDir dir;
  const std::string map = "D:=emu:" + (dir / "d").string() + ",medium=dvd-r";
  DaemonRemoteScsiServer server(MapFactory(map));
  for (int i = 0; i < 26; ++i) server.SetDriveEnabled(i, i == 3);
  ASSERT_TRUE(server.Start(0, kLimit));
  const uint16_t port = server.port();

  const auto end = Clock::now() + std::chrono::milliseconds(8500);
  std::mutex mutex;
  std::vector<std::chrono::milliseconds> lives;
  std::atomic<int> connected{0};
  std::vector<std::thread> tricklers;
  for (uint32_t t = 0; t < kLimit; ++t) {
    tricklers.emplace_back([&, t] {
      const Bytes bytes = TrickleBytes(t % 2 == 0);
      // Staggered starts, as independent peers would come: their drops are
      // spread over the silence limit instead of freeing every slot in one
      // burst, which a client on a loaded machine could miss.
      std::this_thread::sleep_for(std::chrono::milliseconds(kStaggerMs * t));
      bool first = true;
      // Reconnect as soon as dropped, until the end of the test.
      for (int round = 0; round < 100 && Clock::now() < end; ++round) {
        const auto life = TrickleOnce(port, bytes, end);
        if (first && life.count() >= 0) {
          first = false;
          ++connected;
        }
        if (life.count() < 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          continue;
        }
        if (Clock::now() >= end) break;  // cut short by the test's end, not by the daemon
        std::lock_guard<std::mutex> lock(mutex);
        lives.push_back(life);
      }
    });
  }
  // Every slot is taken before the client starts.
  for (int i = 0; i < 400 && connected.load() < static_cast<int>(kLimit); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const auto client_start = Clock::now();
  bool served = false;
  RemoteScsiClient client(MapPassThrough(map));
  for (int i = 0; i < 1000 && !served && Clock::now() - client_start < std::chrono::seconds(6); ++i) {
    if (client.Open("\\\\127.0.0.1:" + std::to_string(port) + "\\D:")) {
      served = In(client, Cdb10(0x00), 0).status == 0;
      client.Close();
    }
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto waited = Clock::now() - client_start;
  for (auto& t : tricklers) t.join();
  server.Stop();

  EXPECT_TRUE(served);
  EXPECT_LT(waited, std::chrono::seconds(5));
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_GE(lives.size(), kLimit);  // every trickler was dropped at least once
  for (const auto& life : lives) {
    // Dropped within the limit, counted from the accept (plus the 50 ms a
    // trickler may sleep before it sees the close).
    EXPECT_LT(life.count(), DaemonTransport::kSilenceLimitMs + 300);
  }
}

}  // namespace
}  // namespace sorvel
