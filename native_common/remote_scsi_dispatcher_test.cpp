// The REMOTESCSI server side against a recording pass-through, the block
// layouts byte by byte, and the client's checks of replies from a server that
// answers what the test makes it answer.
#include "native_common/remote_scsi_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "native_common/little_endian.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/remote_scsi_server.h"

namespace sorvel {
namespace {

using Bytes = std::vector<uint8_t>;

// Records what reaches the drive; reads fill part of the buffer.
struct Recorder {
  std::vector<std::string> opened;
  int commands = 0;
  bool last_write = false;
  uint32_t last_length = 0, last_timeout = 0;
  uintptr_t last_address = 0;
  bool buffer_was_zero = true;
  int32_t status = 0;
};

class RecordingPassThrough : public ScsiPassThrough {
 public:
  explicit RecordingPassThrough(Recorder* r) : r_(r) {}
  bool Open(const std::string& path) override {
    r_->opened.push_back(path);
    is_open_ = true;
    return true;
  }
  bool Close() override {
    bool was = is_open_;
    is_open_ = false;
    return was;
  }
  int32_t ExecCommand(const uint8_t*, int, void* data, uint32_t length, uint8_t* sense, bool write,
                      uint32_t timeout) override {
    ++r_->commands;
    r_->last_write = write;
    r_->last_length = length;
    r_->last_timeout = timeout;
    r_->last_address = reinterpret_cast<uintptr_t>(data);
    auto* bytes = static_cast<uint8_t*>(data);
    if (!write) {
      for (uint32_t i = 0; i < length; ++i) r_->buffer_was_zero &= bytes[i] == 0;
      for (uint32_t i = 0; i < length / 2; ++i) bytes[i] = 0xEE;  // the drive answers half
    }
    if (r_->status == 2 && sense) {
      sense[0] = 0x70;
      sense[2] = 0x05;
      sense[12] = 0x24;
      sense[13] = 0x01;
    }
    return r_->status;
  }

 private:
  Recorder* r_;
};

Bytes Exec(int32_t in, int32_t timeout, int32_t out, const Bytes& data = {}) {
  ExecCommandRequest r;
  r.data_in_length = in;
  r.timeout_seconds = timeout;
  r.cdb_length = 10;
  r.cdb[0] = 0x28;
  r.data_out_length = out;
  Bytes body(kExecCommandRequestSize);
  r.Encode(body.data());
  body.insert(body.end(), data.begin(), data.end());
  return body;
}

TEST(RemoteScsiProtocol, BlockLayouts) {
  ExecCommandRequest r;
  r.data_in_length = 0x01020304;
  r.timeout_seconds = 180;
  r.cdb_length = 12;
  r.cdb[0] = 0xBE;
  r.cdb[31] = 0x77;
  r.data_out_length = -1;
  uint8_t raw[48];
  r.Encode(raw);
  EXPECT_EQ(raw[0], 0x04);
  EXPECT_EQ(raw[3], 0x01);
  EXPECT_EQ(GetLe32(raw + 4), 180u);
  EXPECT_EQ(GetLe32(raw + 8), 12u);
  EXPECT_EQ(raw[12], 0xBE);
  EXPECT_EQ(raw[43], 0x77);
  EXPECT_EQ(GetLe32(raw + 44), 0xFFFFFFFFu);
  ExecCommandRequest back = ExecCommandRequest::Decode(raw);
  EXPECT_EQ(back.data_out_length, -1);
  EXPECT_EQ(std::memcmp(back.cdb, r.cdb, 32), 0);

  ExecCommandReply reply;
  reply.result = 2;
  reply.sense[2] = 0x05;
  reply.data_length = 2048;
  uint8_t out[40];
  reply.Encode(out);
  EXPECT_EQ(GetLe32(out), 2u);
  EXPECT_EQ(out[4 + 2], 0x05);
  EXPECT_EQ(GetLe32(out + 36), 2048u);
  EXPECT_EQ(ExecCommandReply::Decode(out).data_length, 2048);
}

TEST(RemoteScsiDispatcher, AllowedPathsAndExactOpen) {
  Recorder rec;
  RemoteScsiDispatcher d(std::make_unique<RecordingPassThrough>(&rec), (1u << 2) | (1u << 3));
  EXPECT_EQ(d.AllowedPaths(), "\\\\.\\C:\\\\.\\D:");
  Bytes response;
  auto open = [&](const std::string& path) {
    Bytes body(kOpenRequestSize, 0);
    std::memcpy(body.data(), path.data(), path.size());
    EXPECT_TRUE(d.Dispatch("Open", body.data(), body.size(), &response));
    return static_cast<int32_t>(GetLe32(response.data()));
  };
  EXPECT_EQ(open("\\\\.\\E:"), 0);
  EXPECT_EQ(open("\\\\.\\C"), 0);  // a fragment of the list is no path
  EXPECT_EQ(open(":\\\\.\\D"), 0);
  EXPECT_TRUE(rec.opened.empty());  // refused without touching the drive
  EXPECT_EQ(open("\\\\.\\D:"), 1);
  EXPECT_EQ(rec.opened, std::vector<std::string>{"\\\\.\\D:"});
  Bytes short_open(kOpenRequestSize - 1, 0);
  EXPECT_FALSE(d.Dispatch("Open", short_open.data(), short_open.size(), &response));
  EXPECT_FALSE(d.Dispatch("Eject", nullptr, 0, &response));
  EXPECT_TRUE(d.Dispatch("Close", nullptr, 0, &response));
  EXPECT_EQ(GetLe32(response.data()), 1u);
  EXPECT_TRUE(d.Dispatch("Close", nullptr, 0, &response));
  EXPECT_EQ(GetLe32(response.data()), 0u);
  RemoteScsiDispatcher none(std::make_unique<RecordingPassThrough>(&rec), 0);
  EXPECT_EQ(none.AllowedPaths(), "");  // no drive configured: every "Open" is refused
  Bytes d_path(kOpenRequestSize, 0);
  std::memcpy(d_path.data(), "\\\\.\\D:", 6);
  EXPECT_TRUE(none.Dispatch("Open", d_path.data(), d_path.size(), &response));
  EXPECT_EQ(GetLe32(response.data()), 0u);
}

TEST(RemoteScsiDispatcher, ExecCommandBuffersAndReplies) {
  Recorder rec;
  RemoteScsiDispatcher d(std::make_unique<RecordingPassThrough>(&rec), kAllDriveLetters);
  Bytes response;
  for (int round = 0; round < 2; ++round) {  // the second read must start from zeros again
    Bytes body = Exec(4000, 180, 0);
    ASSERT_TRUE(d.Dispatch("ExecCommand", body.data(), body.size(), &response));
    EXPECT_FALSE(rec.last_write);
    EXPECT_EQ(rec.last_length, 4000u);
    EXPECT_EQ(rec.last_address % 16, 0u);
    EXPECT_TRUE(rec.buffer_was_zero);
    ASSERT_EQ(response.size(), 40u + 4000);
    EXPECT_EQ(GetLe32(response.data() + 36), 4000u);
    EXPECT_EQ(response[40], 0xEE);
    EXPECT_EQ(response[40 + 2000], 0);  // what the drive did not fill stays zero
  }
  // Writing: the data-out bytes reach the drive; no data comes back.
  Bytes body = Exec(0, 7200, 100, Bytes(100, 3));
  ASSERT_TRUE(d.Dispatch("ExecCommand", body.data(), body.size(), &response));
  EXPECT_TRUE(rec.last_write);
  EXPECT_EQ(rec.last_length, 100u);
  EXPECT_EQ(rec.last_timeout, 3600u);  // bounded
  EXPECT_EQ(response.size(), 40u);
  // No data at all: a command without data phase.
  body = Exec(0, 1, 0);
  ASSERT_TRUE(d.Dispatch("ExecCommand", body.data(), body.size(), &response));
  EXPECT_EQ(rec.last_length, 0u);
  // A check condition carries the drive's sense; a lost drive sense 0xFF.
  rec.status = 2;
  body = Exec(8, 180, 0);
  ASSERT_TRUE(d.Dispatch("ExecCommand", body.data(), body.size(), &response));
  EXPECT_EQ(GetLe32(response.data()), 2u);
  EXPECT_EQ(response[4 + 12], 0x24);
  rec.status = -1;
  ASSERT_TRUE(d.Dispatch("ExecCommand", body.data(), body.size(), &response));
  EXPECT_EQ(static_cast<int32_t>(GetLe32(response.data())), -1);
  EXPECT_EQ(Bytes(response.begin() + 4, response.begin() + 36), Bytes(32, 0xFF));
  const int before = rec.commands;
  body = Exec(8, 180, 0);
  body.resize(47);
  ASSERT_TRUE(d.Dispatch("ExecCommand", body.data(), body.size(), &response));
  EXPECT_TRUE(response.empty());
  EXPECT_EQ(rec.commands, before);
}

// How long a canned "ExecCommand" keeps the client waiting, and whether the
// server is heard from meanwhile.
struct Pace {
  int hold_ms = 0;
  int keep_alive_every_ms = 0;  // 0: silent while it holds
};

// What the canned server answers next. The test sets it while sessions of
// earlier cases may still be holding, hence the lock.
class Canned {
 public:
  void Set(const Bytes& answer) {
    std::lock_guard lock(mutex_);
    answer_ = answer;
  }
  void Set(const Pace& pace) {
    std::lock_guard lock(mutex_);
    pace_ = pace;
  }
  Bytes answer() const {
    std::lock_guard lock(mutex_);
    return answer_;
  }
  Pace pace() const {
    std::lock_guard lock(mutex_);
    return pace_;
  }

 private:
  mutable std::mutex mutex_;
  Bytes answer_;
  Pace pace_;
};

// A library server whose "ExecCommand" answer the test chooses.
class CannedHandler : public QRNTPRequestHandler {
 public:
  explicit CannedHandler(const Canned* canned) : canned_(canned) {}
  void OnConnected(TcpSocket& socket) override { socket_ = &socket; }
  bool HandleRawRequest(const std::string& function, uint32_t, const std::vector<uint8_t>&,
                        std::vector<uint8_t>* output, bool*) override {
    if (function == "Open") {
      output->assign(4, 0);
      (*output)[0] = 1;
    } else if (function == "Close") {
      output->assign(4, 0);
    } else {
      Hold(canned_->pace());
      *output = canned_->answer();
    }
    return true;
  }

 private:
  // Runs on the session's worker, so its keep-alives never cross the answer.
  void Hold(const Pace& pace) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(pace.hold_ms);
    uint8_t keep_alive[kQrntpHeaderSize];
    QRNTPHeader::Make(kQrntpOneWaySubsystem, kQrntpKeepAlive, kQrntpOneWay, 0).Encode(keep_alive);
    while (std::chrono::steady_clock::now() < end) {
      const int step = pace.keep_alive_every_ms > 0 ? pace.keep_alive_every_ms : 20;
      std::this_thread::sleep_for(std::chrono::milliseconds(step));
      if (pace.keep_alive_every_ms > 0) socket_->Send(keep_alive, sizeof keep_alive, 1000);
    }
  }

  const Canned* canned_;
  TcpSocket* socket_ = nullptr;
};

class CannedServer : public QRNTPServerEvents {
 public:
  std::unique_ptr<QRNTPRequestHandler> CreateHandler() override {
    return std::make_unique<CannedHandler>(&canned);
  }
  void OnLog(const QRNTPLogEntry&) override {}
  Canned canned;
};

Bytes Reply(int32_t result, int32_t n, size_t data_bytes, uint8_t key = 0) {
  ExecCommandReply reply;
  reply.result = result;
  reply.sense[0] = 0x70;
  reply.sense[2] = static_cast<uint8_t>(0xF0 | key);  // only the low 4 bits are the key
  reply.sense[12] = 0x3A;
  reply.data_length = n;
  Bytes bytes(40);
  reply.Encode(bytes.data());
  bytes.resize(40 + data_bytes, 0x42);
  return bytes;
}

TEST(RemoteScsiClient, ChecksWhatTheReplyHolds) {
  CannedServer events;
  QRNTPServer server(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server.Start(0));
  RemoteScsiClient client;
  ASSERT_TRUE(client.Open("\\\\127.0.0.1:" + std::to_string(server.port()) + "\\D:"));
  const uint8_t cdb[10] = {0x28};
  Bytes buffer(1024, 0);
  auto run = [&](const Bytes& answer) {
    events.canned.Set(answer);
    std::fill(buffer.begin(), buffer.end(), 0);
    return client.ExecCommand(cdb, sizeof cdb, buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, false,
                              5);
  };
  EXPECT_EQ(run(Reply(2, 1024, 1024, 2)), 2);
  EXPECT_EQ(client.GetSense(), 0x023A00);
  EXPECT_EQ(buffer[0], 0x42);
  EXPECT_EQ(run(Reply(0, 2048, 2048)), 0);  // more than the buffer: status, no data
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(run(Reply(0, 1024, 10)), -1);  // announces more than it holds
  EXPECT_EQ(client.GetSense(), kSenseNoDevice);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(run(Reply(0, -4, 0)), -1);
  EXPECT_EQ(run(Bytes(39, 0)), -1);  // short reply
  EXPECT_EQ(run(Reply(-1, 0, 0, 5)), -1);  // the server's drive is lost
  EXPECT_EQ(client.GetSense(), kSenseNoDevice);
  EXPECT_EQ(run(Reply(0, 0, 0)), 0);
  EXPECT_EQ(client.GetSense(), 0x003A00);
  EXPECT_TRUE(client.Close());
  EXPECT_EQ(client.GetSense(), kSenseNoDevice);
}

// A command may run as long as its time-out while the host is heard from. A
// host that has been seen sending keep-alives during a command and then falls
// silent ends it at the link's receive time-out (made 800 ms here); a host
// never seen sending any is waited for up to the command's own time-out. A
// wait callback may give a command up: an answer within the grace after still
// ends it as answered. Each failure drops the link until Reopen.
TEST(RemoteScsiClient, ACommandEndsWhenItsHostFallsSilentOrTheOwnerGivesUp) {
  CannedServer events;
  events.canned.Set(Reply(0, 0, 0));
  QRNTPServer server(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server.Start(0));
  const std::string path = "\\\\127.0.0.1:" + std::to_string(server.port()) + "\\D:";
  struct Case {
    const char* name;
    Pace warm_up;  // a first command, hold 0: none
    Pace pace;
    uint32_t timeout_s;
    int give_up_after_asks;  // 0: the callback never gives up; -1: no callback
    int32_t result;
    long min_ms, max_ms;
  };
  constexpr long kGrace = RemoteScsiClient::kGiveUpGraceMs;
  const Case cases[] = {
      {"host never heard keeping alive", {}, {2000, 0}, 180, -1, 0, 1900, 3500},
      {"host past the command's time-out", {}, {4000, 0}, 1, -1, -1, 950, 2500},
      {"host that kept alive falls silent", {400, 100}, {4000, 0}, 180, -1, -1, 750, 2500},
      {"host sending keep-alives", {}, {1600, 150}, 180, -1, 0, 1500, 2900},
      {"owner gives up", {}, {4000, 0}, 180, 3, -1, 250 + kGrace, 1500 + kGrace},
      {"answer within the grace", {}, {600, 0}, 180, 3, 0, 550, 1500},
      {"owner waits", {}, {600, 0}, 180, 0, 0, 550, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoteScsiClient client;
    TransportSettings settings = client.transport().settings();
    settings.receive_timeout_ms = 800;
    client.transport().SetSettings(settings);
    struct Asked {
      std::atomic<int> count{0};
      int give_up_after = 0;
    } asked;
    asked.give_up_after = c.give_up_after_asks;
    ASSERT_TRUE(client.Open(path));
    const uint8_t cdb[6] = {0};
    if (c.warm_up.hold_ms > 0) {
      events.canned.Set(c.warm_up);
      EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 180), 0);
      EXPECT_TRUE(client.transport().PeerKeepsAlive());
    }
    if (c.give_up_after_asks >= 0) {
      client.SetWaitCallback(
          [](void* context) -> int32_t {
            auto* a = static_cast<Asked*>(context);
            return ++a->count >= a->give_up_after && a->give_up_after > 0 ? 1 : 0;
          },
          &asked);
    }
    events.canned.Set(c.pace);
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, c.timeout_s);
    const long took = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(result, c.result);
    EXPECT_GE(took, c.min_ms);
    EXPECT_LE(took, c.max_ms);
    if (c.give_up_after_asks > 0) {
      EXPECT_EQ(asked.count.load(), c.give_up_after_asks);
    } else if (c.give_up_after_asks == 0) {
      EXPECT_GE(asked.count.load(), 3);
    }
    events.canned.Set(Pace{});
    if (result == -1) {
      EXPECT_EQ(client.GetSense(), kSenseNoDevice);
      EXPECT_FALSE(client.transport().IsConnected());
      EXPECT_TRUE(client.LinkDropped());
      EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 180), -1);
      // Opened again, the drive answers.
      EXPECT_TRUE(client.Reopen());
      EXPECT_FALSE(client.LinkDropped());
      EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 180), 0);
    } else {
      EXPECT_TRUE(client.transport().IsConnected());
      EXPECT_FALSE(client.LinkDropped());
      EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 180), 0);
    }
    EXPECT_TRUE(client.Close());
    EXPECT_FALSE(client.LinkDropped());
    client.SetWaitCallback(nullptr, nullptr);
  }
}

// A dropped drive whose host cannot be reached is not tried again for a
// pause (a status poll would wait on it each time); once the pause passed,
// the host that came back opens the drive again.
TEST(RemoteScsiClient, ReopeningPausesAfterAHostThatCouldNotBeReached) {
  CannedServer events;
  events.canned.Set(Reply(0, 0, 0));
  auto server = std::make_unique<QRNTPServer>(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server->Start(0));
  const uint16_t port = server->port();
  RemoteScsiClient client;
  ASSERT_TRUE(client.Open("\\\\127.0.0.1:" + std::to_string(port) + "\\D:"));
  server->Stop();
  const uint8_t cdb[6] = {0};
  EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 5), -1);
  ASSERT_TRUE(client.LinkDropped());
  EXPECT_FALSE(client.Reopen());  // nobody listens
  const auto failed_at = std::chrono::steady_clock::now();
  server = std::make_unique<QRNTPServer>(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server->Start(port));
  EXPECT_FALSE(client.Reopen());  // within the pause: not tried
  bool reopened = false;
  for (int i = 0; i < 100 && !reopened; ++i) {
    reopened = client.Reopen();
    if (!reopened) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto waited = std::chrono::steady_clock::now() - failed_at;
  ASSERT_TRUE(reopened);
  EXPECT_GE(waited, std::chrono::milliseconds(RemoteScsiClient::kReopenPauseMs));
  EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 5), 0);
  EXPECT_TRUE(client.Close());
}

// A dropped drive whose host answers but refuses to open it again (the drive
// gone from its list, held by another link) is not asked for again for a
// pause either: the status poll that asks would otherwise wait out the whole
// round of tries each time.
TEST(RemoteScsiClient, ReopeningPausesAfterAHostThatRefusedTheDrive) {
  CannedServer events;
  events.canned.Set(Reply(0, 0, 0));
  auto server = std::make_unique<QRNTPServer>(std::string(kRemoteScsiSubsystem), &events);
  ASSERT_TRUE(server->Start(0));
  const uint16_t port = server->port();
  RemoteScsiClient client;
  ASSERT_TRUE(client.Open("\\\\127.0.0.1:" + std::to_string(port) + "\\D:"));
  server->Stop();
  const uint8_t cdb[6] = {0};
  EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, nullptr, 0, nullptr, false, 5), -1);
  ASSERT_TRUE(client.LinkDropped());
  server.reset();
  RemoteScsiServer refusing;  // no drive enabled
  for (int i = 0; i < 26; ++i) refusing.SetDriveEnabled(i, false);
  ASSERT_TRUE(refusing.Start(port));
  EXPECT_FALSE(client.Reopen());  // a whole round of refusals
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Reopen());  // within the pause: not tried
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_TRUE(client.LinkDropped());
  refusing.Stop();
}

}  // namespace
}  // namespace sorvel
