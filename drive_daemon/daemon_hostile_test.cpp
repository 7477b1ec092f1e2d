// The daemon against hostile peers: malformed headers, truncated bodies, bad
// lengths and fields, paths without terminator, junk and connection floods.
// It must not crash, never answer with bytes of earlier commands, and keep
// serving well-formed clients. Traffic stays on 127.0.0.1; loops are bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "drive_daemon/daemon_packet.h"
#include "drive_daemon/remote_scsi_handler.h"
#include "drive_daemon/remote_test_support.h"
#include "native_common/little_endian.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_protocol.h"
#include "testing/cd_image_fixture.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using namespace remote_test;

Bytes Packet(std::string_view subsystem, std::string_view function, const Bytes& body, int total_length = -1) {
  DaemonHeader h;
  h.total_length = static_cast<uint16_t>(total_length >= 0 ? total_length : 50 + static_cast<int>(body.size()));
  SetQrntpName(h.magic, sizeof h.magic, kQrntpMagic);
  SetQrntpName(h.subsystem, sizeof h.subsystem, subsystem);
  SetQrntpName(h.function, sizeof h.function, function);
  Bytes bytes(50);
  h.Encode(bytes.data());
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

Bytes Request(std::string_view function, const Bytes& body) { return Packet(kRemoteScsiSubsystem, function, body); }

Bytes OpenBody(const std::string& path) {
  Bytes body(kOpenRequestSize, 0);
  std::memcpy(body.data(), path.data(), std::min(path.size(), body.size()));
  return body;
}

Bytes ExecBody(int32_t in, int32_t timeout, int32_t cdb_length, const Bytes& cdb, int32_t out, const Bytes& data = {}) {
  ExecCommandRequest r;
  r.data_in_length = in;
  r.timeout_seconds = timeout;
  r.cdb_length = cdb_length;
  std::memcpy(r.cdb, cdb.data(), std::min(cdb.size(), sizeof r.cdb));
  r.data_out_length = out;
  Bytes body(kExecCommandRequestSize);
  r.Encode(body.data());
  body.insert(body.end(), data.begin(), data.end());
  return body;
}

struct Answer {
  bool arrived = false;
  std::string function;
  Bytes body;
  int32_t Result() const { return body.size() >= 4 ? static_cast<int32_t>(GetLe32(body.data())) : INT32_MIN; }
};

class Peer {
 public:
  // A burst may fill the listen backlog (the connection limit); the kernel then
  // repeats the connect a second later.
  explicit Peer(uint16_t port, long ms = 3500) { connected_ = socket_.Connect("127.0.0.1", port, ms); }
  bool connected() const { return connected_; }
  bool Send(const Bytes& bytes) {
    return socket_.Send(bytes.data(), static_cast<int>(bytes.size()), 1000) == static_cast<int>(bytes.size());
  }
  Answer Read(long ms = 2000) {
    Answer a;
    uint8_t raw[50];
    if (socket_.Receive(raw, sizeof raw, ms, true) != 50) return a;
    DaemonHeader h = DaemonHeader::Decode(raw);
    a.function = h.FunctionName();
    a.body.resize(h.total_length > 50 ? h.total_length - 50 : 0);
    if (!a.body.empty() && socket_.Receive(a.body.data(), static_cast<int>(a.body.size()), ms, true) !=
                               static_cast<int>(a.body.size())) {
      return a;
    }
    a.arrived = true;
    return a;
  }
  Answer Call(std::string_view function, const Bytes& body) {
    if (!Send(Request(function, body))) return {};
    return Read();
  }
  // True when the daemon closed the connection within `ms`.
  bool ClosedByPeer(long ms) {
    uint8_t byte;
    return socket_.Receive(&byte, 1, ms, false) == 0;
  }
  void Close() { socket_.Close(); }

 private:
  TcpSocket socket_;
  bool connected_ = false;
};

class DaemonHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string data(200000, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + 1);
    auto iso = testing::MakeIsoImage(dir_.path(), "disc", {{"data.bin", data}});
    ASSERT_FALSE(iso.empty());
    map_ = "D:=emu:" + (dir_ / "d").string() + ",medium=cd-rom,image=" + iso.string();
    server_ = std::make_unique<DaemonRemoteScsiServer>(MapFactory(map_));
    for (int i = 0; i < 26; ++i) server_->SetDriveEnabled(i, i == 3);
    ASSERT_TRUE(server_->Start(0, kLimit));
    port_ = server_->port();
  }

  // A well-formed client still gets its drive and its data.
  void ExpectServing() {
    RemoteScsiClient client(MapPassThrough(map_));
    bool opened = false;
    for (int i = 0; i < 100 && !opened; ++i) {  // a slot or the drive may take a round to be freed
      opened = client.Open("\\\\127.0.0.1:" + std::to_string(port_) + "\\D:");
      if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(opened);
    Outcome read = In(client, Cdb10(0x28, 16, 1), 2048);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.data[1], 'C');  // "CD001" of the primary volume descriptor
  }

  bool WaitForNoSessions() {
    for (int i = 0; i < 150; ++i) {
      if (server_->ActiveSessions() == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  static constexpr uint32_t kLimit = 4;
  testing::ScratchDir dir_;
  std::string map_;
  std::unique_ptr<DaemonRemoteScsiServer> server_;
  uint16_t port_ = 0;
};

void ExpectRefused(const Answer& a) {
  ASSERT_TRUE(a.arrived);
  EXPECT_EQ(a.function, "ExecCommand");
  ASSERT_EQ(a.body.size(), kExecCommandReplySize);
  ExecCommandReply reply = ExecCommandReply::Decode(a.body.data());
  EXPECT_EQ(reply.result, -1);
  EXPECT_EQ(reply.data_length, 0);
  EXPECT_EQ(Bytes(reply.sense, reply.sense + 32), Bytes(32, 0xFF));
}

struct BadExec {
  const char* name;
  int32_t in, timeout, cdb_length, out;
  int32_t appended;
};

void PrintTo(const BadExec& c, std::ostream* out) { *out << c.name; }


class DaemonBadExec : public DaemonHostile, public ::testing::WithParamInterface<BadExec> {};

TEST_P(DaemonBadExec, RefusedWithoutRunningAndTheSessionGoesOn) {
  const BadExec& c = GetParam();
  Peer peer(port_);
  ASSERT_TRUE(peer.connected());
  ASSERT_EQ(peer.Call("Open", OpenBody("\\\\.\\D:")).Result(), 1);
  ExpectRefused(peer.Call("ExecCommand", ExecBody(c.in, c.timeout, c.cdb_length, InquiryCdb(36), c.out,
                                                  Bytes(static_cast<size_t>(c.appended), 0x55))));
  Answer ok = peer.Call("ExecCommand", ExecBody(36, 180, 6, InquiryCdb(36), 0));
  ASSERT_TRUE(ok.arrived);
  EXPECT_EQ(ok.Result(), 0);
  EXPECT_EQ(ok.body.size(), kExecCommandReplySize + 36);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DaemonBadExec,
    ::testing::Values(BadExec{"CdbLength17", 36, 180, 17, 0, 0}, BadExec{"CdbLength32", 36, 180, 32, 0, 0},
                      BadExec{"CdbLength0", 36, 180, 0, 0, 0}, BadExec{"CdbLengthNegative", 36, 180, -1, 0, 0},
                      BadExec{"DataInNegative", -5, 180, 6, 0, 0}, BadExec{"DataOutNegative", 0, 180, 6, -5, 0},
                      BadExec{"BothDirections", 36, 180, 6, 16, 16},
                      BadExec{"DataInOverLimit", kMaxDataInLength + 1, 180, 6, 0, 0},
                      BadExec{"DataInHuge", 0x7FFFFFFF, 180, 6, 0, 0}, BadExec{"TimeoutZero", 36, 0, 6, 0, 0},
                      BadExec{"TimeoutNegative", 36, -1, 6, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DaemonHostile, IncompleteRequestsGetEmptyAnswers) {
  Peer peer(port_);
  ASSERT_EQ(peer.Call("Open", OpenBody("\\\\.\\D:")).Result(), 1);
  Answer shorter = peer.Call("ExecCommand", Bytes(47, 1));
  ASSERT_TRUE(shorter.arrived);
  EXPECT_EQ(shorter.function, "ExecCommand");
  EXPECT_TRUE(shorter.body.empty());
  // Data-out announced beyond the packet.
  Answer missing = peer.Call("ExecCommand", ExecBody(0, 180, 10, Cdb10(0x2A, 0, 2), 4096, Bytes(100, 7)));
  ASSERT_TRUE(missing.arrived);
  EXPECT_TRUE(missing.body.empty());
  // An "Open" block that is too short is not handled: no function name in the answer.
  Answer open = peer.Call("Open", Bytes(100, 0));
  ASSERT_TRUE(open.arrived);
  EXPECT_EQ(open.function, "");
  EXPECT_TRUE(open.body.empty());
  Answer unknown = peer.Call("FormatHardDisk", {});
  ASSERT_TRUE(unknown.arrived);
  EXPECT_EQ(unknown.function, "");
}

struct OpenCase {
  const char* name;
  Bytes body;
  int32_t answer;
};

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }


Bytes Unterminated() { return Bytes(kOpenRequestSize, 'A'); }
Bytes PathThenJunk() {
  Bytes b = OpenBody("\\\\.\\D:");
  std::fill(b.begin() + 7, b.end(), 'Z');
  return b;
}
Bytes DPathWithoutTerminator() {
  Bytes b(kOpenRequestSize, 'x');
  std::memcpy(b.data(), "\\\\.\\D:", 6);
  return b;
}

class DaemonOpen : public DaemonHostile, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(DaemonOpen, OnlyTheExactPathOfAnEnabledDrive) {
  Peer peer(port_);
  Answer a = peer.Call("Open", GetParam().body);
  ASSERT_TRUE(a.arrived);
  EXPECT_EQ(a.function, "Open");
  EXPECT_EQ(a.Result(), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DaemonOpen,
    ::testing::Values(OpenCase{"Enabled", OpenBody("\\\\.\\D:"), 1}, OpenCase{"JunkAfterTerminator", PathThenJunk(), 1},
                      OpenCase{"Disabled", OpenBody("\\\\.\\E:"), 0}, OpenCase{"LowerCase", OpenBody("\\\\.\\d:"), 0},
                      OpenCase{"WithoutColon", OpenBody("\\\\.\\D"), 0},
                      OpenCase{"Fragment", OpenBody("\\.\\D:"), 0}, OpenCase{"Longer", OpenBody("\\\\.\\D:\\x"), 0},
                      OpenCase{"DevicePath", OpenBody("/dev/sr0"), 0}, OpenCase{"Empty", OpenBody(""), 0},
                      OpenCase{"NoTerminator", Unterminated(), 0},
                      OpenCase{"DriveWithoutTerminator", DPathWithoutTerminator(), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DaemonHostile, KeepAliveFormsAreSkippedInStep) {
  Peer peer(port_);
  Bytes stream;
  // The engine's keep-alive form, with a body that holds a request: the body
  // must be skipped, not run.
  Bytes inner = Request("Close", {});
  Bytes one_way = Packet("SUBSYSTEM.", "KEEPALIVE", inner);
  stream.insert(stream.end(), one_way.begin(), one_way.end());
  Bytes keep_alive = Packet("KEEPALIVE", "", {});
  stream.insert(stream.end(), keep_alive.begin(), keep_alive.end());
  Bytes good = Request("Open", OpenBody("\\\\.\\D:"));
  stream.insert(stream.end(), good.begin(), good.end());
  ASSERT_TRUE(peer.Send(stream));
  Answer a = peer.Read();
  ASSERT_TRUE(a.arrived);
  EXPECT_EQ(a.function, "Open");
  EXPECT_EQ(a.Result(), 1);
  EXPECT_FALSE(peer.Read(200).arrived);  // nothing else was answered
}

struct BadHeader {
  const char* name;
  Bytes packet;
};
void PrintTo(const BadHeader& c, std::ostream* out) { *out << c.name; }

Bytes WrongMagic() {
  Bytes bad = Request("Open", OpenBody("\\\\.\\D:"));
  bad[2] = 'X';
  return bad;
}
Bytes LengthBelowHeader() {
  Bytes tiny = Request("Close", {});
  PutLe16(tiny.data(), 10);
  return tiny;
}

class DaemonBadHeader : public DaemonHostile, public ::testing::WithParamInterface<BadHeader> {};

// A header that is no packet of this server ends the session at once: what
// follows it is never run, and the slot is free again.
TEST_P(DaemonBadHeader, EndsTheSessionAtOnce) {
  Peer peer(port_);
  ASSERT_TRUE(peer.connected());
  Bytes stream = GetParam().packet;
  Bytes good = Request("Open", OpenBody("\\\\.\\D:"));
  stream.insert(stream.end(), good.begin(), good.end());
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(peer.Send(stream));
  EXPECT_FALSE(peer.Read(1000).arrived);
  EXPECT_TRUE(peer.ClosedByPeer(1000));
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(DaemonTransport::kSilenceLimitMs));
  EXPECT_TRUE(WaitForNoSessions());
  ExpectServing();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DaemonBadHeader,
    ::testing::Values(BadHeader{"WrongMagic", WrongMagic()},
                      BadHeader{"OtherSubsystem", Packet("OTHERSUBSY", "Open", OpenBody("\\\\.\\D:"))},
                      BadHeader{"LengthBelowHeader", LengthBelowHeader()},
                      BadHeader{"AllZero", Bytes(50, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DaemonHostile, TruncatedBodyEndsOnlyThatSession) {
  Peer other(port_);
  ASSERT_EQ(other.Call("Open", OpenBody("\\\\.\\D:")).Result(), 1);
  Peer peer(port_);
  Bytes cut = Request("ExecCommand", ExecBody(0, 180, 10, Cdb10(0x2A, 0, 31), 31 * 2048, Bytes(31 * 2048, 9)));
  cut.resize(3000);
  ASSERT_TRUE(peer.Send(cut));
  peer.Close();
  Answer still = other.Call("ExecCommand", ExecBody(8, 180, 10, Cdb10(0x25), 0));
  ASSERT_TRUE(still.arrived);
  EXPECT_EQ(still.Result(), 0);
  other.Close();
  EXPECT_TRUE(WaitForNoSessions());
  ExpectServing();
}

TEST_F(DaemonHostile, LargestPacketsBothWays) {
  Peer peer(port_);
  ASSERT_EQ(peer.Call("Open", OpenBody("\\\\.\\D:")).Result(), 1);
  // 65,485 body bytes: TotalLength 65535 exactly.
  Bytes data(static_cast<size_t>(kMaxDataOutLength), 0x11);
  Answer write = peer.Call("ExecCommand", ExecBody(0, 180, 10, Cdb10(0x2A, 0, 31), kMaxDataOutLength, data));
  ASSERT_TRUE(write.arrived);
  ASSERT_EQ(write.body.size(), kExecCommandReplySize);
  EXPECT_EQ(write.Result(), 2);  // a pressed disc refuses writing
  Answer read = peer.Call("ExecCommand", ExecBody(kMaxDataInLength, 180, 12, ReadCdCdb(16, 27, 0xF8), 0));
  ASSERT_TRUE(read.arrived);
  EXPECT_EQ(read.body.size(), kQrntpMaxBody);
}

TEST_F(DaemonHostile, AnswersNeverCarryEarlierData) {
  {
    Peer peer(port_);
    ASSERT_EQ(peer.Call("Open", OpenBody("\\\\.\\D:")).Result(), 1);
    Answer full = peer.Call("ExecCommand", ExecBody(26 * 2048, 180, 10, Cdb10(0x28, 18, 26), 0));
    ASSERT_EQ(full.Result(), 0);
    ASSERT_NE(Bytes(full.body.begin() + 40, full.body.end()), Bytes(26 * 2048, 0));
    // A failing read of the same size: the data bytes are all zero.
    Answer failed = peer.Call("ExecCommand", ExecBody(26 * 2048, 180, 10, Cdb10(0x28, 900000, 26), 0));
    ASSERT_EQ(failed.Result(), 2);
    ASSERT_EQ(failed.body.size(), 40u + 26 * 2048);
    EXPECT_EQ(Bytes(failed.body.begin() + 40, failed.body.end()), Bytes(26 * 2048, 0));
    // A short answer of the drive: the rest of the buffer is zero.
    Answer inquiry = peer.Call("ExecCommand", ExecBody(4096, 180, 6, InquiryCdb(255), 0));
    ASSERT_EQ(inquiry.Result(), 0);
    EXPECT_EQ(Bytes(inquiry.body.begin() + 40 + 255, inquiry.body.end()), Bytes(4096 - 255, 0));
  }
  ASSERT_TRUE(WaitForNoSessions());
  // A new connection without a drive: result -1, sense 0xFF, zero data.
  Peer next(port_);
  Answer none = next.Call("ExecCommand", ExecBody(26 * 2048, 180, 10, Cdb10(0x28, 18, 26), 0));
  ASSERT_TRUE(none.arrived);
  ExecCommandReply reply = ExecCommandReply::Decode(none.body.data());
  EXPECT_EQ(reply.result, -1);
  EXPECT_EQ(Bytes(reply.sense, reply.sense + 32), Bytes(32, 0xFF));
  EXPECT_EQ(Bytes(none.body.begin() + 40, none.body.end()), Bytes(26 * 2048, 0));
}

TEST_F(DaemonHostile, ConnectionFloodBeyondTheLimit) {
  std::vector<std::unique_ptr<Peer>> held;
  for (uint32_t i = 0; i < kLimit; ++i) {
    held.push_back(std::make_unique<Peer>(port_));
    ASSERT_TRUE(held.back()->connected());
  }
  // Every held connection is served.
  EXPECT_EQ(held[0]->Call("Open", OpenBody("\\\\.\\D:")).Result(), 1);
  for (uint32_t i = 1; i < kLimit; ++i) EXPECT_EQ(held[i]->Call("Close", {}).function, "Close");
  // Connections beyond the limit are closed at once.
  for (int i = 0; i < 40; ++i) {
    Peer extra(port_, 300);
    if (!extra.connected()) continue;  // the backlog may refuse outright
    EXPECT_TRUE(extra.ClosedByPeer(2000)) << i;
  }
  EXPECT_LE(server_->SlotCount(), kLimit);
  EXPECT_EQ(held[1]->Call("Close", {}).function, "Close");  // the held ones are unharmed
  held.clear();
  EXPECT_TRUE(WaitForNoSessions());
  ExpectServing();
  EXPECT_LE(server_->SlotCount(), kLimit);
}

TEST_F(DaemonHostile, RandomJunk) {
  std::mt19937 random(20261208);
  const Bytes prefix = Request("ExecCommand", {});
  for (int round = 0; round < 24; ++round) {
    Peer peer(port_);
    ASSERT_TRUE(peer.connected());
    Bytes junk(1 + random() % 3000);
    for (auto& b : junk) b = static_cast<uint8_t>(random());
    if (round % 2 == 0) {  // a header the daemon takes as its own, with random length and body
      std::copy(prefix.begin() + 2, prefix.begin() + 50, junk.begin() + std::min<size_t>(2, junk.size() - 1));
      junk.resize(std::max<size_t>(junk.size(), 50));
      if (round % 4 == 0) std::memcpy(junk.data() + 18, "Open\0", 5);
    }
    peer.Send(junk);
    peer.Close();
    WaitForNoSessions();  // one junk peer at a time, so the backlog never fills
  }
  EXPECT_TRUE(WaitForNoSessions());
  ExpectServing();
}

TEST_F(DaemonHostile, DiscoveryDatagrams) {
  UdpSocket udp;
  ASSERT_TRUE(udp.Bind(0));
  auto ask = [&](Bytes datagram) {
    udp.SendTo("127.0.0.1", port_, datagram.data(), static_cast<int>(datagram.size()));
    uint8_t answer[64];
    std::string from;
    uint16_t from_port = 0;
    int n = udp.ReceiveFrom(&from, &from_port, answer, sizeof answer, 300);
    return n == 50 ? DaemonHeader::Decode(answer).FunctionName() : std::string();
  };
  EXPECT_EQ(ask(Packet(kRemoteScsiSubsystem, "GetHostName", {})), "LetHostName");
  EXPECT_EQ(ask(Packet("OTHERSUBSY", "GetHostName", {})), "");
  EXPECT_EQ(ask(Packet(kRemoteScsiSubsystem, "GetHostNameX", {})), "");
  Bytes short_one = Packet(kRemoteScsiSubsystem, "GetHostName", {});
  short_one.pop_back();
  EXPECT_EQ(ask(short_one), "");
  Bytes long_one = Packet(kRemoteScsiSubsystem, "GetHostName", Bytes(10, 0));
  EXPECT_EQ(ask(long_one), "");
}

}  // namespace
}  // namespace sorvel
