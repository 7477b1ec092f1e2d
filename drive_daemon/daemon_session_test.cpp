// The daemon's session loop over in-memory streams: what ends a session, what
// is answered, and a long run of commands through the remote SCSI handler to
// an emulated drive that leaves memory where it was.
#include "drive_daemon/daemon_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "drive_daemon/remote_test_support.h"
#include "native_common/little_endian.h"
#include "native_common/remote_scsi_protocol.h"
#include "platform/emulated_drive/drive_hooks.h"
#include "testing/manual_clock.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using remote_test::Bytes;

Bytes Packet(std::string_view subsystem, std::string_view function, const Bytes& body) {
  DaemonHeader h;
  h.total_length = static_cast<uint16_t>(kQrntpHeaderSize + body.size());
  SetQrntpName(h.magic, sizeof h.magic, kQrntpMagic);
  SetQrntpName(h.subsystem, sizeof h.subsystem, subsystem);
  SetQrntpName(h.function, sizeof h.function, function);
  Bytes bytes(kQrntpHeaderSize);
  h.Encode(bytes.data());
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

Bytes OpenPacket() {
  Bytes body(kOpenRequestSize, 0);
  const std::string path = "\\\\.\\D:";
  std::memcpy(body.data(), path.data(), path.size());
  return Packet(kRemoteScsiSubsystem, "Open", body);
}

Bytes TestUnitReadyPacket() {
  ExecCommandRequest r;
  r.timeout_seconds = 10;
  r.cdb_length = 6;
  Bytes body(kExecCommandRequestSize);
  r.Encode(body.data());
  return Packet(kRemoteScsiSubsystem, "ExecCommand", body);
}

// A peer whose bytes are all there at once; its answers are kept.
class MemoryStream : public DaemonStream {
 public:
  explicit MemoryStream(Bytes input) : input_(std::move(input)) {}
  bool ReceiveExact(uint8_t* buffer, size_t length, long) override {
    if (input_.size() - at_ < length) return false;
    std::memcpy(buffer, input_.data() + at_, length);
    at_ += length;
    return true;
  }
  void Send(const uint8_t* bytes, size_t length, long) override {
    answers.emplace_back(bytes, bytes + length);
  }
  size_t consumed() const { return at_; }
  std::vector<Bytes> answers;

 private:
  Bytes input_;
  size_t at_ = 0;
};

std::string FunctionOf(const Bytes& answer) { return DaemonHeader::Decode(answer.data()).FunctionName(); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct EndCase {
  const char* name;
  Bytes stream;
  DaemonSessionEnd end;
  std::vector<std::string> answered;  // function fields of the answers, in order
};
void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

Bytes WithByte(Bytes packet, size_t at, uint8_t value) {
  packet[at] = value;
  return packet;
}

class SessionEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(SessionEnd, EndsWhereThePeerStopsBeingValid) {
  const EndCase& c = GetParam();
  MemoryStream stream(c.stream);
  DaemonRequestHandler handler;  // handles nothing: answers carry no function
  std::atomic<bool> stop{false};
  EXPECT_EQ(RunDaemonSession(stream, kRemoteScsiSubsystem, handler, stop), c.end);
  std::vector<std::string> answered;
  for (const Bytes& a : stream.answers) answered.push_back(FunctionOf(a));
  EXPECT_EQ(answered, c.answered);
}

const Bytes kRequest = Packet(kRemoteScsiSubsystem, "Anything", Bytes(7, 1));

INSTANTIATE_TEST_SUITE_P(
    Streams, SessionEnd,
    ::testing::Values(
        EndCase{"EmptyStream", {}, DaemonSessionEnd::kClosed, {}},
        EndCase{"TwoRequests", Concat({kRequest, kRequest}), DaemonSessionEnd::kClosed, {"", ""}},
        EndCase{"KeepAlivesAreNotAnswered",
                Concat({Packet("SUBSYSTEM.", "KEEPALIVE", kRequest), Packet("KEEPALIVE", "", {}), kRequest}),
                DaemonSessionEnd::kClosed, {""}},
        EndCase{"WrongMagicEndsAtOnce", Concat({kRequest, WithByte(kRequest, 2, 'X'), kRequest}),
                DaemonSessionEnd::kInvalidPacket, {""}},
        EndCase{"OtherSubsystemEndsAtOnce", Concat({Packet("OTHERSUBSY", "Open", {}), kRequest}),
                DaemonSessionEnd::kInvalidPacket, {}},
        EndCase{"LengthBelowHeaderEndsAtOnce", Concat({WithByte(kRequest, 0, 49), kRequest}),
                DaemonSessionEnd::kInvalidPacket, {}},
        EndCase{"TruncatedBody", Bytes(kRequest.begin(), kRequest.end() - 1), DaemonSessionEnd::kClosed, {}},
        EndCase{"TruncatedHeader", Bytes(kRequest.begin(), kRequest.begin() + 49), DaemonSessionEnd::kClosed, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DaemonSession, StopFlagEndsBeforeAnyRead) {
  MemoryStream stream(kRequest);
  DaemonRequestHandler handler;
  std::atomic<bool> stop{true};
  EXPECT_EQ(RunDaemonSession(stream, kRemoteScsiSubsystem, handler, stop), DaemonSessionEnd::kStopped);
  EXPECT_EQ(stream.consumed(), 0u);
}

// The daemon paused (stopped, swapped out) for longer than the silence limit
// before each of its reads, while the peer's packets were already waiting:
// they count as what arrived, the session answers every request and ends only
// where the peer's stream ends.
class PausedDaemonStream : public MemoryStream {
 public:
  PausedDaemonStream(Bytes input, testing::ManualClock& clock) : MemoryStream(std::move(input)), clock_(clock) {}
  bool ReceiveExact(uint8_t* buffer, size_t length, long wait_ms) override {
    clock_.Advance(std::chrono::milliseconds(kDaemonSilenceLimitMs + 1000));
    waits.push_back(wait_ms);
    return MemoryStream::ReceiveExact(buffer, length, wait_ms);
  }
  std::vector<long> waits;

 private:
  testing::ManualClock& clock_;
};

TEST(DaemonSession, APausedDaemonTakesThePacketsThatWaitedForIt) {
  testing::ScopedManualClock manual;
  PausedDaemonStream stream(Concat({kRequest, Packet("SUBSYSTEM.", "KEEPALIVE", {}), kRequest}), manual.clock());
  DaemonRequestHandler handler;
  std::atomic<bool> stop{false};
  EXPECT_EQ(RunDaemonSession(stream, kRemoteScsiSubsystem, handler, stop, 0), DaemonSessionEnd::kClosed);
  EXPECT_EQ(stream.answers.size(), 2u);
  EXPECT_EQ(stream.consumed(), 2 * kRequest.size() + kQrntpHeaderSize);
  // A body's read came with the limit passed since its header: it may not wait.
  EXPECT_EQ(stream.waits.size(), 6u);
  EXPECT_EQ(stream.waits[1], 0);
}

// A request that runs long is kept alive: keep-alives go out while it runs,
// every one before its answer, and none for a quick request.
TEST(DaemonSession, KeepAlivesGoOutWhileARequestRuns) {
  class SlowHandler : public DaemonRequestHandler {
   public:
    bool Dispatch(std::string_view function, const uint8_t*, size_t, std::vector<uint8_t>* response) override {
      if (function == "Slow") std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      response->assign(4, 1);
      return true;
    }
  } handler;
  MemoryStream stream(Concat({Packet(kRemoteScsiSubsystem, "Slow", {}), Packet(kRemoteScsiSubsystem, "Quick", {})}));
  std::atomic<bool> stop{false};
  EXPECT_EQ(RunDaemonSession(stream, kRemoteScsiSubsystem, handler, stop, 200), DaemonSessionEnd::kClosed);
  ASSERT_GE(stream.answers.size(), 4u);
  const size_t keep_alives = stream.answers.size() - 2;
  for (size_t i = 0; i < keep_alives; ++i) {
    const Bytes& packet = stream.answers[i];
    ASSERT_EQ(packet.size(), kQrntpHeaderSize);
    const QRNTPHeader h = QRNTPHeader::Decode(packet.data());
    EXPECT_TRUE(h.MagicMatches());
    EXPECT_TRUE(h.SubsystemIs(kQrntpOneWaySubsystem));
    EXPECT_TRUE(h.FunctionIs(kQrntpKeepAlive));
    EXPECT_EQ(h.total_length, kQrntpHeaderSize);
  }
  EXPECT_EQ(FunctionOf(stream.answers[keep_alives]), "Slow");
  EXPECT_EQ(FunctionOf(stream.answers[keep_alives + 1]), "Quick");
  // Without a period nothing but the answers goes out.
  MemoryStream quiet(Packet(kRemoteScsiSubsystem, "Slow", {}));
  EXPECT_EQ(RunDaemonSession(quiet, kRemoteScsiSubsystem, handler, stop, 0), DaemonSessionEnd::kClosed);
  ASSERT_EQ(quiet.answers.size(), 1u);
  EXPECT_EQ(FunctionOf(quiet.answers[0]), "Slow");
}

// Endless TEST UNIT READY requests after one Open, made as they are read;
// answers are checked and dropped.
class CommandStream : public DaemonStream {
 public:
  explicit CommandStream(size_t commands) : left_(commands), next_(OpenPacket()), command_(TestUnitReadyPacket()) {}
  bool ReceiveExact(uint8_t* buffer, size_t length, long) override {
    size_t got = 0;
    while (got < length) {
      if (at_ == next_.size()) {
        if (left_ == 0) return false;
        --left_;
        next_ = command_;
        at_ = 0;
      }
      const size_t n = std::min(length - got, next_.size() - at_);
      std::memcpy(buffer + got, next_.data() + at_, n);
      at_ += n;
      got += n;
    }
    return true;
  }
  void Send(const uint8_t* bytes, size_t length, long) override {
    ++answers;
    if (length < kQrntpHeaderSize + 4 || GetLe32(bytes + kQrntpHeaderSize) != (answers == 1 ? 1u : 0u)) ++bad;
  }
  size_t answers = 0;
  size_t bad = 0;

 private:
  size_t left_;
  Bytes next_;
  size_t at_ = 0;
  const Bytes command_;
};

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // freed memory sits in quarantine: resident size says nothing
#else
constexpr bool kSanitized = false;
#endif

// 1.2 million commands through the session loop, the remote SCSI handler and
// an emulated drive: the drive's command log stays a bounded ring and the
// process's resident size stays where it was after the first commands.
TEST(DaemonSession, MillionsOfCommandsLeaveMemoryFlat) {
  testing::ScratchDir dir;
  const std::string state = (dir / "d").string();
  const std::string map = "D:=emu:" + state + ",medium=dvd-r";
  std::atomic<bool> stop{false};
  {
    RemoteScsiHandler handler(remote_test::MapPassThrough(map), 1u << 3);
    // Enough to fill the log's ring and warm every allocation up.
    const size_t warm_up = 2 * platform::emu::DriveHooks::kDefaultLogCapacity;
    CommandStream first(warm_up);
    ASSERT_EQ(RunDaemonSession(first, kRemoteScsiSubsystem, handler, stop), DaemonSessionEnd::kClosed);
    ASSERT_EQ(first.answers, warm_up + 1);
    ASSERT_EQ(first.bad, 0u);
  }
  const long before = ResidentKiB();
  constexpr size_t kCommands = 1200000;
  RemoteScsiHandler handler(remote_test::MapPassThrough(map), 1u << 3);
  CommandStream stream(kCommands);
  ASSERT_EQ(RunDaemonSession(stream, kRemoteScsiSubsystem, handler, stop), DaemonSessionEnd::kClosed);
  EXPECT_EQ(stream.answers, kCommands + 1);
  EXPECT_EQ(stream.bad, 0u);
  const auto hooks = platform::emu::HooksFor(state);
  EXPECT_EQ(hooks->log().size(), platform::emu::DriveHooks::kDefaultLogCapacity);
  EXPECT_EQ(hooks->log().back().opcode(), 0x00);
  const long after = ResidentKiB();
  if (!kSanitized) {
    EXPECT_LT(after - before, 10 * 1024) << before << " KiB before, " << after << " KiB after";
  }
}

}  // namespace
}  // namespace sorvel
