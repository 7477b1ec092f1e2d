// Loopback tests of the QRNTP client and server, against each other and
// against fake peers. Traffic stays on 127.0.0.0/8.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <thread>

#include "native_common/little_endian.h"
#include "native_common/qrntp_client.h"
#include "native_common/qrntp_server.h"
#include "native_common/udp_socket.h"
#include "testing/manual_clock.h"
#include "testing/test_paths.h"

extern char** environ;

namespace sorvel {
namespace {

using std::chrono::milliseconds;
constexpr char kSubsystem[] = "REMOTESCSI";

// Polls until `condition` holds; the limit only bounds a failing test, so it is
// generous enough for a loaded machine running every test at once.
bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
  for (int waited = 0; waited < ms; waited += 5) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return condition();
}

class RecordingLog : public QRNTPLogSink {
 public:
  void OnLog(const QRNTPLogEntry& entry) override {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
  }
  int Count(uint32_t code, const std::string& text = std::string()) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& e : entries_) n += e.code == code && e.message.find(text) != std::string::npos;
    return n;
  }
  bool WaitFor(uint32_t code, const std::string& text = std::string(), int ms = 5000) const {
    return WaitUntil([&] { return Count(code, text) > 0; }, ms);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<QRNTPLogEntry> entries_;
};

std::string CaseName(std::string text) {
  for (char& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

// A log sink for clients whose events a test does not look at.
RecordingLog& QuietLog() {
  static RecordingLog log;
  return log;
}

// Server-side handler: raw "Echo", "Int", "Big", "Bye"; named-value "Add".
class TestHandler : public QRNTPRequestHandler {
 public:
  TestHandler(std::atomic<int>* results, std::atomic<int>* replied) : results_(results), replied_(replied) {}
  bool HandleRawRequest(const std::string& function, uint32_t call_id, const std::vector<uint8_t>& input,
                        std::vector<uint8_t>* output, bool* close_after) override {
    if (function == "Echo") {
      *output = input;
      return true;
    }
    if (function == "Int") {
      output->assign({42, 0, 0, 0, 0xEE});
      return true;
    }
    if (function == "Big") {
      output->assign(61 * 1024, 0x61);
      return true;
    }
    if (function == "Bye") {
      *close_after = true;
      return true;
    }
    return QRNTPRequestHandler::HandleRawRequest(function, call_id, input, output, close_after);
  }
  bool HandleRequest(const std::string& function, uint32_t, const ParamSet& input, ParamSet* output,
                     bool*) override {
    if (function != "Add") return false;
    output->SetInt64("sum", input.GetInt64("a") + input.GetInt64("b"));
    return true;
  }
  void OnCallResult(const std::string& function, uint32_t call_id, const ParamSet& response) override {
    if (function == "Notify" && call_id == 5 && response.GetString("ack") == "yes") ++*results_;
  }
  void OnReplied(const std::string&, uint32_t, bool, bool) override { ++*replied_; }

 private:
  std::atomic<int>* results_;
  std::atomic<int>* replied_;
};

class TestServerEvents : public QRNTPServerEvents {
 public:
  void OnLog(const QRNTPLogEntry& entry) override { log.OnLog(entry); }
  std::unique_ptr<QRNTPRequestHandler> CreateHandler() override {
    return std::make_unique<TestHandler>(&results, &replied);
  }
  RecordingLog log;
  std::atomic<int> results{0};
  std::atomic<int> replied{0};  // OnReplied calls of every session
};

// Client-side handler answering the server's "Notify".
class NotifyHandler : public QRNTPRequestHandler {
 public:
  bool HandleRequest(const std::string& function, uint32_t, const ParamSet& input, ParamSet* output,
                     bool*) override {
    if (function != "Notify") return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_ = input.GetString("what");
    }
    // A "held" request is answered only once the test opens the gate (bounded).
    if (input.GetString("what") == "held") WaitUntil([&] { return gate_open.load(); }, 5000);
    output->SetString("ack", "yes");
    return true;
  }
  std::atomic<bool> gate_open{false};
  std::string seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  mutable std::mutex mutex_;
  std::string seen_;
};

TransportSettings QuickSettings() {
  TransportSettings s;
  s.receive_timeout_ms = 10000;  // no idle test session reaches the silence limit
  s.call_timeout_ms = 1000;
  s.connect_timeout_ms = 1000;
  return s;
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.SetSettings(QuickSettings()));
    ASSERT_TRUE(server.Start(0));
    client.SetSettings(QuickSettings());
  }
  bool ConnectClient(QRNTPClient& c) { return c.Connect("127.0.0.1", server.port()); }
  // Settings change only while the server is stopped.
  void RestartServer(const TransportSettings& s) {
    server.Stop();
    ASSERT_TRUE(server.SetSettings(s));
    ASSERT_TRUE(server.Start(0));
  }

  TestServerEvents events;
  QRNTPServer server{kSubsystem, &events};
  RecordingLog client_log;
  NotifyHandler client_handler;
  QRNTPClient client{kSubsystem, &client_handler, &client_log};
};

TEST_F(TransportTest, CallsInEveryForm) {
  ASSERT_TRUE(ConnectClient(client));
  EXPECT_TRUE(client_log.WaitFor(qrntp_log::kConnection, "確立"));
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kConnection, "受け付け"));
  std::vector<uint8_t> response;
  ASSERT_TRUE(client.CallFunction("Echo", 1, std::vector<uint8_t>{1, 2, 3}, &response));
  EXPECT_EQ(response, (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_TRUE(client.CallFunction("Echo", 2, std::vector<uint8_t>{}, &response));
  EXPECT_TRUE(response.empty());
  ParamSet in, out;
  in.SetInt64("a", 40);
  in.SetInt64("b", 2);
  ASSERT_TRUE(client.CallFunction("Add", 3, in, &out));
  EXPECT_EQ(out.GetInt64("sum").Value(), 42);
  int32_t result = 0;
  ASSERT_TRUE(client.CallFunction("Int", 4, nullptr, 0, &result));
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(client.CallFunction("Echo", 5, nullptr, 0, &result));  // empty answer: no int32
  ASSERT_TRUE(client.CallFunction("Big", 6, std::vector<uint8_t>{}, &response));
  EXPECT_EQ(response.size(), 61u * 1024);
  // A body too large for one packet is refused and the link stays up.
  EXPECT_FALSE(client.CallFunction("Echo", 7, std::vector<uint8_t>(kQrntpMaxBody + 1), &response));
  EXPECT_TRUE(client.IsConnected());
  ASSERT_TRUE(client.CallFunction("Echo", 8, std::vector<uint8_t>(kQrntpMaxBody, 7), &response));
  EXPECT_EQ(response.size(), kQrntpMaxBody);
  EXPECT_TRUE(client.Disconnect());
  EXPECT_FALSE(client.Disconnect());
  EXPECT_TRUE(client_log.WaitFor(qrntp_log::kDisconnected));
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kDisconnected));
  EXPECT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }));
}

TEST_F(TransportTest, RefusedFunctionClosesTheLinkWithoutAnswer) {
  ASSERT_TRUE(ConnectClient(client));
  std::vector<uint8_t> response;
  EXPECT_FALSE(client.CallFunction("Format", 1, std::vector<uint8_t>{}, &response));
  EXPECT_FALSE(client.IsConnected());
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kNoFunction, "関数 'Format' が見つかりません。"));
  // A refused request is not answered, so the handler hears of no reply.
  EXPECT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }));
  EXPECT_EQ(events.replied.load(), 0);
  // Connecting again works.
  ASSERT_TRUE(ConnectClient(client));
  EXPECT_TRUE(client.CallFunction("Echo", 2, std::vector<uint8_t>{9}, &response));
  EXPECT_TRUE(WaitUntil([&] { return events.replied.load() == 1; }));
  EXPECT_FALSE(client.Connect("127.0.0.1", server.port()));  // already connected
}

TEST_F(TransportTest, CloseAfterReplyEndsTheLink) {
  ASSERT_TRUE(ConnectClient(client));
  std::vector<uint8_t> response;
  EXPECT_TRUE(client.CallFunction("Bye", 1, std::vector<uint8_t>{}, &response));
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kDisconnected));
  EXPECT_FALSE(client.CallFunction("Echo", 2, std::vector<uint8_t>{}, &response));
}

TEST_F(TransportTest, OneWayAndKeepAlivePacketsAreDroppedButKeepTheSessionAlive) {
  TransportSettings s = QuickSettings();
  // A silence limit well above the keep-alive period, so that a loaded
  // machine's scheduling delays cannot pass for silence.
  s.receive_timeout_ms = 1000;
  RestartServer(s);
  TransportSettings c = QuickSettings();
  c.keep_alive_start_ms = 20;
  c.keep_alive_ceiling_ms = 60;
  client.SetSettings(c);
  ASSERT_TRUE(ConnectClient(client));
  EXPECT_TRUE(client.SendOneWay("Ping"));
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kDrop, "DROP(SUBSYSTEM.Ping)"));
  client.SetKeepAlive(true);
  EXPECT_TRUE(WaitUntil([&] { return events.log.Count(qrntp_log::kDrop, "DROP(SUBSYSTEM.KEEPALIVE)") >= 3; }));
  // Keep-alives arrive faster than the silence limit: the session outlives it.
  std::this_thread::sleep_for(milliseconds(1200));
  std::vector<uint8_t> response;
  EXPECT_TRUE(client.CallFunction("Echo", 1, std::vector<uint8_t>{1}, &response));
  EXPECT_EQ(events.log.Count(qrntp_log::kLinkFailure), 0);
  // Without them the server drops the silent session.
  client.SetKeepAlive(false);
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kLinkFailure, "1000ms間、生存確認が到達しませんでした。(3)"));
  EXPECT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }));
  EXPECT_FALSE(client.CallFunction("Echo", 2, std::vector<uint8_t>{1}, &response));
}

TEST_F(TransportTest, VeryLongSilenceLimitsKeepIdleLinks) {
  // A limit of many years must count as never reached, not overflow into one
  // that has passed already.
  const long limit = std::numeric_limits<long>::max();
  TransportSettings s = QuickSettings();
  s.receive_timeout_ms = limit;
  RestartServer(s);
  client.SetSettings(s);
  client.SetSilenceCheck(true);
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(events.log.Count(qrntp_log::kLinkFailure), 0);
  EXPECT_EQ(client_log.Count(qrntp_log::kLinkFailure), 0);
  std::vector<uint8_t> response;
  EXPECT_TRUE(client.CallFunction("Echo", 1, std::vector<uint8_t>{1}, &response));
  // Discovery with such a quiet time ends at its overall limit, having found the server.
  const auto start = std::chrono::steady_clock::now();
  auto hosts = client.GetHosts("127.0.0.1", server.port(), limit, nullptr, DiscoveryLimits{500, 16});
  // (Another test program's late answers may land here too: only the presence
  // of this server's answer is checked.)
  EXPECT_FALSE(hosts.empty());
  for (const std::string& host : hosts) EXPECT_EQ(host, "127.0.0.1");
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(3000));
}

TEST_F(TransportTest, ServerQueuesCallsToItsClients) {
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  ParamSet body;
  body.SetString("what", "tray");
  EXPECT_TRUE(server.QueueCall(nullptr, "Notify", 5, body));
  EXPECT_TRUE(WaitUntil([&] { return events.results.load() == 1; }));
  EXPECT_EQ(client_handler.seen(), "tray");
  TcpSocket other;
  EXPECT_FALSE(server.QueueCall(&other, "Notify", 5, body));  // no such session
  // Once the session is gone nothing takes the call.
  client.Disconnect();
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }));
  EXPECT_FALSE(server.QueueCall(nullptr, "Notify", 5, body));
}

TEST_F(TransportTest, QueueWritersWaitWhileTheQueueIsFull) {
  // The worker waits for the held answers, so give the calls time enough.
  TransportSettings s = QuickSettings();
  s.call_timeout_ms = 10000;
  RestartServer(s);
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  ParamSet body;
  body.SetString("what", "held");
  body.SetBinary("pad", std::vector<uint8_t>(60000, 1));
  // The first entry is taken by the worker, whose call then waits at the gate;
  // two more 60 KB entries pass the queue's limit, so a fourth writer waits.
  ASSERT_TRUE(server.QueueCall(nullptr, "Notify", 5, body));
  ASSERT_TRUE(WaitUntil([&] { return client_handler.seen() == "held"; }));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(server.QueueCall(nullptr, "Notify", 5, body));
  std::atomic<bool> fourth_done{false};
  std::thread fourth([&] {
    EXPECT_TRUE(server.QueueCall(nullptr, "Notify", 5, body));
    fourth_done = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(fourth_done.load());
  EXPECT_EQ(events.results.load(), 0);
  client_handler.gate_open = true;
  fourth.join();
  EXPECT_GE(events.results.load(), 1);
  EXPECT_TRUE(WaitUntil([&] { return events.results.load() == 4; }));
}

TEST_F(TransportTest, ConcurrentCallsAndServerCallsKeepTheirAnswers) {
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::vector<uint8_t> request = {static_cast<uint8_t>(t), static_cast<uint8_t>(i), 0x5A};
        std::vector<uint8_t> response;
        if (!client.CallFunction("Echo", static_cast<uint32_t>(t * 1000 + i), request, &response) ||
            response != request) {
          ++wrong;
        }
      }
    });
  }
  // Meanwhile the server calls the client on the same link.
  ParamSet body;
  body.SetString("what", "tray");
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(server.QueueCall(nullptr, "Notify", 5, body));
  for (auto& c : callers) c.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_TRUE(WaitUntil([&] { return events.results.load() == 20; }));
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(TransportTest, FiltersOnBothEnds) {
  struct AddFilter : PacketFilter {
    uint8_t key = 0;
    void SetSeed(const uint8_t* seed, size_t) override { key = seed[0] | 1; }
    void Transform(const uint8_t* s, uint8_t* d, size_t n) override {
      for (size_t i = 0; i < n; ++i) d[i] = s[i] ^ key;
    }
    std::unique_ptr<PacketFilter> Clone() const override { return std::make_unique<AddFilter>(*this); }
  } filter;
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  server.SetSessionFilters(nullptr, &filter, &filter);
  client.SetFilters(&filter, &filter);
  std::vector<uint8_t> response;
  ASSERT_TRUE(client.CallFunction("Echo", 1, std::vector<uint8_t>{1, 2, 3}, &response));
  EXPECT_EQ(response, (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(TransportTest, ConnectionsBeyondTheSessionLimitAreClosed) {
  TransportSettings s = QuickSettings();
  s.session_limit = 1;
  s.worker_count = 1;
  RestartServer(s);
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  RecordingLog second_log;
  QRNTPClient second(kSubsystem, nullptr, &second_log);
  second.SetSettings(QuickSettings());
  ASSERT_TRUE(ConnectClient(second));  // the TCP connect itself succeeds
  std::vector<uint8_t> response;
  EXPECT_FALSE(second.CallFunction("Echo", 1, std::vector<uint8_t>{1}, &response));
  EXPECT_TRUE(client.CallFunction("Echo", 1, std::vector<uint8_t>{1}, &response));
}

TEST_F(TransportTest, StopWithConnectedClientsEndsPromptly) {
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 1; }));
  auto start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1500));
  EXPECT_TRUE(events.log.WaitFor(qrntp_log::kDisconnected));
  EXPECT_FALSE(server.IsRunning());
  ASSERT_TRUE(server.Start(0));  // restartable
  EXPECT_FALSE(server.SetSettings(QuickSettings()));  // not while running
  EXPECT_FALSE(server.Start(0));
}

TEST(QrntpServerTest, ListenFailureIsReported) {
  TcpSocket holder;
  ASSERT_TRUE(holder.Listen(0, 1));
  QRNTPServer server(kSubsystem);
  // A listener without SO_REUSEPORT holds the port.
  EXPECT_FALSE(server.Start(holder.LocalPort()));
  EXPECT_FALSE(server.IsRunning());
}

// A fake peer: accepts one connection and runs `script` on it in a thread.
class FakePeer {
 public:
  explicit FakePeer(std::function<void(TcpSocket&)> script) {
    EXPECT_TRUE(listener_.Listen(0, 4));
    thread_ = std::thread([this, script] {
      auto socket = listener_.Accept(3000);
      if (socket) script(*socket);
      done_ = true;
      // Hold the connection until the test is finished with it.
      for (int i = 0; i < 400 && !release_; ++i) std::this_thread::sleep_for(milliseconds(5));
    });
  }
  ~FakePeer() {
    release_ = true;
    thread_.join();
  }
  uint16_t port() const { return listener_.LocalPort(); }

 private:
  TcpSocket listener_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<bool> release_{false};
};

// Reads one request packet; returns its header.
QRNTPHeader ReadRequest(TcpSocket& s) {
  uint8_t raw[kQrntpHeaderSize] = {};
  s.Receive(raw, sizeof raw, 2000, true);
  QRNTPHeader h = QRNTPHeader::Decode(raw);
  if (h.BodyLength() > 0) {
    std::vector<uint8_t> body(h.BodyLength());
    s.Receive(body.data(), static_cast<int>(body.size()), 2000, true);
  }
  return h;
}

std::vector<uint8_t> Packet(const QRNTPHeader& h, std::vector<uint8_t> body) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(BuildQrntpPacket(h, body.data(), body.size(), nullptr, &out));
  return out;
}

void SendAll(TcpSocket& s, const std::vector<uint8_t>& bytes) {
  s.Send(bytes.data(), static_cast<int>(bytes.size()), 1000);
}

TEST(QrntpClientTest, AcceptsTheDaemonsAnswerForm) {
  FakePeer peer([](TcpSocket& s) {
    QRNTPHeader request = ReadRequest(s);
    // Daemon form: 32-byte function field from offset 18, no kind or call id.
    uint8_t answer[kQrntpHeaderSize + 4] = {};
    PutLe16(answer, sizeof answer);
    std::memcpy(answer + 2, "QRNTP.", 6);
    std::memcpy(answer + 8, "REMOTESCSI", 10);
    std::memcpy(answer + 18, request.function, kQrntpFunctionSize);
    PutLe32(answer + 50, 1);
    s.Send(answer, sizeof answer, 1000);
  });
  RecordingLog log;
  QRNTPClient client(kSubsystem, nullptr, &log);
  client.SetSettings(QuickSettings());
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  uint8_t open_request[260] = "\\\\.\\D:";
  int32_t result = 0;
  EXPECT_TRUE(client.CallFunction("Open", 0x1234, open_request, sizeof open_request, &result));
  EXPECT_EQ(result, 1);
}

TEST(QrntpClientTest, SkipsForeignPacketsAndStrayAnswers) {
  FakePeer peer([](TcpSocket& s) {
    QRNTPHeader request = ReadRequest(s);
    // A foreign packet whose body looks like a header must not desynchronise.
    QRNTPHeader foreign = QRNTPHeader::Make("OTHER", "Open", kQrntpResponse, request.call_id);
    std::vector<uint8_t> fake_header(kQrntpHeaderSize);
    QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, 999).Encode(fake_header.data());
    SendAll(s, Packet(foreign, fake_header));
    SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, request.call_id + 1), {7, 0, 0, 0}));
    SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Close", kQrntpResponse, request.call_id), {8, 0, 0, 0}));
    SendAll(s, Packet(QRNTPHeader::Make("SUBSYSTEM.", "KEEPALIVE", kQrntpOneWay, 0), {}));
    SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, request.call_id), {1, 0, 0, 0}));
  });
  QRNTPClient client(kSubsystem, nullptr, &QuietLog());
  client.SetSettings(QuickSettings());
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  int32_t result = 0;
  EXPECT_TRUE(client.CallFunction("Open", 77, nullptr, 0, &result));
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(client.IsConnected());
}

// Answers as the stream may bring them: a keep-alive and the answer's header
// in one segment with the body trickling after it; a header cut in two; and
// stray packets, a keep-alive and the answer all in one segment. Every call
// takes its own answer whole, and the link stays in step.
TEST(QrntpClientTest, TakesAnswersInPiecesAndJoinedInOneSegment) {
  std::vector<uint8_t> big(60000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  const std::vector<uint8_t> keep_alive = Packet(QRNTPHeader::Make("SUBSYSTEM.", "KEEPALIVE", kQrntpOneWay, 0), {});
  FakePeer peer([&](TcpSocket& s) {
    auto pause = [] { std::this_thread::sleep_for(milliseconds(20)); };
    // 1: a keep-alive and the header together, then the body in three pieces.
    QRNTPHeader request = ReadRequest(s);
    std::vector<uint8_t> answer = Packet(QRNTPHeader::Make("REMOTESCSI", "Read", kQrntpResponse, request.call_id), big);
    std::vector<uint8_t> first = keep_alive;
    first.insert(first.end(), answer.begin(), answer.begin() + kQrntpHeaderSize);
    SendAll(s, first);
    pause();
    const size_t cuts[] = {kQrntpHeaderSize, kQrntpHeaderSize + 1, kQrntpHeaderSize + 30000, answer.size()};
    for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
      SendAll(s, std::vector<uint8_t>(answer.begin() + static_cast<std::ptrdiff_t>(cuts[i]),
                                      answer.begin() + static_cast<std::ptrdiff_t>(cuts[i + 1])));
      pause();
    }
    // 2: the header cut in two, a body of four bytes.
    request = ReadRequest(s);
    answer = Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, request.call_id), {1, 0, 0, 0});
    SendAll(s, std::vector<uint8_t>(answer.begin(), answer.begin() + 17));
    pause();
    SendAll(s, std::vector<uint8_t>(answer.begin() + 17, answer.end()));
    // 3: a stray answer, a keep-alive, a foreign packet and the answer in one segment.
    request = ReadRequest(s);
    std::vector<uint8_t> joined =
        Packet(QRNTPHeader::Make("REMOTESCSI", "Read", kQrntpResponse, request.call_id + 1), {9, 9});
    joined.insert(joined.end(), keep_alive.begin(), keep_alive.end());
    const std::vector<uint8_t> foreign = Packet(QRNTPHeader::Make("OTHER", "Read", kQrntpResponse, request.call_id), {7});
    joined.insert(joined.end(), foreign.begin(), foreign.end());
    answer = Packet(QRNTPHeader::Make("REMOTESCSI", "Read", kQrntpResponse, request.call_id), {5, 6, 7});
    joined.insert(joined.end(), answer.begin(), answer.end());
    SendAll(s, joined);
  });
  QRNTPClient client(kSubsystem, nullptr, &QuietLog());
  client.SetSettings(QuickSettings());
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  std::vector<uint8_t> response;
  ASSERT_TRUE(client.CallFunction("Read", 21, std::vector<uint8_t>{1}, &response));
  EXPECT_TRUE(response == big);
  int32_t result = 0;
  ASSERT_TRUE(client.CallFunction("Open", 21, nullptr, 0, &result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(client.CallFunction("Read", 21, std::vector<uint8_t>{2}, &response));
  EXPECT_EQ(response, (std::vector<uint8_t>{5, 6, 7}));
  EXPECT_TRUE(client.IsConnected());
}

TEST(QrntpClientTest, ServesARequestThatArrivesDuringACall) {
  std::atomic<bool> answered{false};
  FakePeer peer([&answered](TcpSocket& s) {
    QRNTPHeader request = ReadRequest(s);
    ParamSet notify;
    notify.SetString("what", "media");
    SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Notify", kQrntpRequest, 31), notify.Serialize()));
    SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, request.call_id), {1, 0, 0, 0}));
    // The client answers the server's request while its own call waits.
    QRNTPHeader reply = ReadRequest(s);
    answered = reply.kind == kQrntpResponse && reply.call_id == 31 && reply.FunctionIs("Notify");
  });
  NotifyHandler handler;
  QRNTPClient client(kSubsystem, &handler, &QuietLog());
  client.SetSettings(QuickSettings());
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  int32_t result = 0;
  EXPECT_TRUE(client.CallFunction("Open", 9, nullptr, 0, &result));
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(WaitUntil([&] { return answered.load(); }));
  EXPECT_EQ(handler.seen(), "media");
}

// Packets of the own subsystem that the engine's handler (which handles
// nothing) does not serve, arriving while a call waits: each is passed over,
// unanswered, and the call takes its answer on the same link.
TEST(QrntpClientTest, PassesOverUnservedPacketsThatArriveDuringACall) {
  struct Case {
    const char* what;
    QRNTPHeader packet;
  };
  const Case cases[] = {
      {"one-way packet with a call id", QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpOneWay, 5)},
      {"one-way packet of another function", QRNTPHeader::Make("REMOTESCSI", "Notify", kQrntpOneWay, 0)},
      {"request", QRNTPHeader::Make("REMOTESCSI", "Notify", kQrntpRequest, 31)},
      {"request of the called function", QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpRequest, 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<bool> quiet{false};
    FakePeer peer([&](TcpSocket& s) {
      QRNTPHeader request = ReadRequest(s);
      SendAll(s, Packet(c.packet, {3, 0, 0, 0}));
      SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, request.call_id), {1, 0, 0, 0}));
      // Nothing comes back for the packet passed over.
      uint8_t byte = 0;
      quiet = s.Receive(&byte, 1, 300, false) <= 0;
    });
    QRNTPClient client(kSubsystem, nullptr, &QuietLog());
    client.SetSettings(QuickSettings());
    ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
    int32_t result = 0;
    EXPECT_TRUE(client.CallFunction("Open", 9, nullptr, 0, &result));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(client.IsConnected());
    EXPECT_TRUE(WaitUntil([&] { return quiet.load(); }));
  }
}

struct BrokenAnswerCase {
  const char* what;
  std::function<void(TcpSocket&, const QRNTPHeader&)> answer;
  uint32_t logged_code;  // 0: none expected
};

class BrokenAnswerTest : public ::testing::TestWithParam<BrokenAnswerCase> {};

TEST_P(BrokenAnswerTest, FailsTheCallAndClosesTheLink) {
  const auto& param = GetParam();
  FakePeer peer([&param](TcpSocket& s) { param.answer(s, ReadRequest(s)); });
  RecordingLog log;
  QRNTPClient client(kSubsystem, nullptr, &log);
  TransportSettings settings = QuickSettings();
  settings.call_timeout_ms = 150;
  client.SetSettings(settings);
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  std::vector<uint8_t> response;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.CallFunction("Open", 1, std::vector<uint8_t>{}, &response)) << param.what;
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000)) << param.what;
  EXPECT_FALSE(client.IsConnected()) << param.what;
  if (param.logged_code != 0) {
    EXPECT_GT(log.Count(param.logged_code), 0) << param.what;
  }
  // Whatever arrives late is never taken as a later call's answer.
  EXPECT_FALSE(client.CallFunction("Open", 1, std::vector<uint8_t>{}, &response));
}

INSTANTIATE_TEST_SUITE_P(
    Peers, BrokenAnswerTest,
    ::testing::Values(
        BrokenAnswerCase{"garbage",
                         [](TcpSocket& s, const QRNTPHeader&) {
                           std::vector<uint8_t> junk(80, 0xA5);
                           SendAll(s, junk);
                         },
                         qrntp_log::kBadPacket},
        BrokenAnswerCase{"total length below the header",
                         [](TcpSocket& s, const QRNTPHeader& r) {
                           auto p = Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, r.call_id), {});
                           p[0] = 10;
                           SendAll(s, p);
                         },
                         0},
        BrokenAnswerCase{"late answer",
                         [](TcpSocket& s, const QRNTPHeader& r) {
                           std::this_thread::sleep_for(milliseconds(300));
                           SendAll(s, Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, r.call_id),
                                             {1, 0, 0, 0}));
                         },
                         0},
        BrokenAnswerCase{"cut body",
                         [](TcpSocket& s, const QRNTPHeader& r) {
                           auto p = Packet(QRNTPHeader::Make("REMOTESCSI", "Open", kQrntpResponse, r.call_id),
                                           std::vector<uint8_t>(100, 1));
                           p.resize(80);
                           SendAll(s, p);
                         },
                         0},
        BrokenAnswerCase{"peer closes", [](TcpSocket& s, const QRNTPHeader&) { s.Close(); }, 0}),
    [](const ::testing::TestParamInfo<BrokenAnswerCase>& info) { return CaseName(info.param.what); });

TEST(QrntpClientTest, ReceiveLoopDropsAGarbageSendingServer) {
  FakePeer peer([](TcpSocket& s) {
    std::vector<uint8_t> junk(50, 0x5A);
    SendAll(s, junk);
  });
  RecordingLog log;
  QRNTPClient client(kSubsystem, nullptr, &log);
  client.SetSettings(QuickSettings());
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  EXPECT_TRUE(log.WaitFor(qrntp_log::kBadPacket, "不正なパケットを受信しました(2)"));
  EXPECT_TRUE(WaitUntil([&] { return !client.IsConnected(); }));
  EXPECT_TRUE(log.WaitFor(qrntp_log::kDisconnected));
}

TEST(QrntpClientTest, SilenceCheckDropsAQuietServer) {
  FakePeer peer([](TcpSocket&) {});
  RecordingLog log;
  QRNTPClient client(kSubsystem, nullptr, &log);
  TransportSettings settings = QuickSettings();
  settings.receive_timeout_ms = 100;
  client.SetSettings(settings);
  client.SetSilenceCheck(true);
  ASSERT_TRUE(client.Connect("127.0.0.1", peer.port()));
  EXPECT_TRUE(log.WaitFor(qrntp_log::kLinkFailure, "100ms間、生存確認が到達しませんでした。(1)"));
  EXPECT_TRUE(WaitUntil([&] { return !client.IsConnected(); }));
}

TEST(QrntpClientTest, ConnectFailures) {
  QRNTPClient client(kSubsystem, nullptr, &QuietLog());
  TcpSocket closed;
  ASSERT_TRUE(closed.Listen(0, 1));
  uint16_t port = closed.LocalPort();
  closed.Close();
  EXPECT_FALSE(client.Connect("127.0.0.1", port));
  EXPECT_FALSE(client.IsConnected());
  std::vector<uint8_t> response;
  EXPECT_FALSE(client.CallFunction("Open", 1, std::vector<uint8_t>{}, &response));
  EXPECT_FALSE(client.SendOneWay("Ping"));
}

// HTTP CONNECT proxies: a real tinyproxy, and fake ones for odd answers.
class TinyProxy {
 public:
  explicit TinyProxy(const std::string& extra_config) {
    TcpSocket probe;
    EXPECT_TRUE(probe.Listen(0, 1));
    port_ = probe.LocalPort();
    probe.Close();
    const auto config = dir_ / "tinyproxy.conf";
    std::ofstream(config) << "Port " << port_ << "\nListen 127.0.0.1\nBind 127.0.0.1\nTimeout 10\n"
                          << "Allow 127.0.0.1\nMaxClients 8\nLogLevel Critical\n" << extra_config;
    const std::string path = config.string();
    char arg0[] = "tinyproxy", arg1[] = "-d", arg2[] = "-c";
    char* argv[] = {arg0, arg1, arg2, const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawnp(&pid_, "tinyproxy", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    // Ready once it accepts connections.
    ready_ = WaitUntil([&] {
      TcpSocket s;
      return s.Connect("127.0.0.1", port_, 200);
    });
  }
  ~TinyProxy() {
    if (pid_ <= 0) return;
    // tinyproxy now and then notes SIGTERM without ever leaving its loop, so
    // the wait for it is bounded and SIGKILL ends it after that.
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(milliseconds(5));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool ready() const { return pid_ > 0 && ready_; }
  uint16_t port() const { return port_; }

 private:
  testing::ScratchDir dir_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  bool ready_ = false;
};

TEST_F(TransportTest, ConnectsThroughTinyproxy) {
  if (!testing::RequireTool("tinyproxy")) return;
  TinyProxy proxy("");
  ASSERT_TRUE(proxy.ready());
  ASSERT_TRUE(client.Connect("127.0.0.1", server.port(), "127.0.0.1", proxy.port()));
  std::vector<uint8_t> response;
  ASSERT_TRUE(client.CallFunction("Echo", 1, std::vector<uint8_t>{4, 5}, &response));
  EXPECT_EQ(response, (std::vector<uint8_t>{4, 5}));
}

TEST_F(TransportTest, ProxyAskingForAuthenticationFails) {
  if (!testing::RequireTool("tinyproxy")) return;
  TinyProxy proxy("BasicAuth user secret\n");
  ASSERT_TRUE(proxy.ready());
  EXPECT_FALSE(client.Connect("127.0.0.1", server.port(), "127.0.0.1", proxy.port()));
  EXPECT_FALSE(client.IsConnected());
}

struct ProxyAnswerCase {
  const char* what;
  std::vector<std::string> segments;
  bool accepted;
};

class FakeProxyTest : public ::testing::TestWithParam<ProxyAnswerCase> {};

TEST_P(FakeProxyTest, JudgesTheAnswer) {
  const auto& param = GetParam();
  std::string request;
  FakePeer proxy([&](TcpSocket& s) {
    char buffer[512];
    int n = s.Receive(buffer, sizeof buffer, 2000, false);
    if (n > 0) request.assign(buffer, static_cast<size_t>(n));
    for (size_t i = 0; i < param.segments.size(); ++i) {
      if (i > 0) {
        // The next segment follows only after the client has judged the first:
        // it closes at once on an unfinished answer, else it waits for more.
        char probe;
        s.Receive(&probe, 1, 500, false);
      }
      s.Send(param.segments[i].data(), static_cast<int>(param.segments[i].size()), 1000);
    }
  });
  QRNTPClient client(kSubsystem, nullptr, &QuietLog());
  client.SetSettings(QuickSettings());
  EXPECT_EQ(client.Connect("127.0.0.1", 8801, "127.0.0.1", proxy.port()), param.accepted) << param.what;
  EXPECT_EQ(request, "CONNECT 127.0.0.1:8801 HTTP/1.1\r\nHost: 127.0.0.1:8801\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FakeProxyTest,
    ::testing::Values(ProxyAnswerCase{"200", {"HTTP/1.1 200 Connection established\r\n\r\n"}, true},
                      ProxyAnswerCase{"200 bare LF", {"HTTP/1.0 200 OK\n\n"}, true},
                      ProxyAnswerCase{"407", {"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"}, false},
                      ProxyAnswerCase{"split", {"HTTP/1.1 200 Connection established\r\n", "\r\n"}, false},
                      ProxyAnswerCase{"no end", {"HTTP/1.1 200 OK\r\n"}, false},
                      ProxyAnswerCase{"not HTTP", {"SSH-2.0-x\r\n\r\n"}, false},
                      ProxyAnswerCase{"1024 bytes", {"HTTP/1.1 200 " + std::string(1007, 'x') + "\r\n\r\n"}, true}),
    [](const ::testing::TestParamInfo<ProxyAnswerCase>& info) { return CaseName(info.param.what); });

// Discovery: targets are always loopback addresses given by the test.
TEST_F(TransportTest, DiscoveryFindsTheServerOnLoopback) {
  // The server answers from its loop, which a loaded machine may hold up for a
  // while: the quiet times leave it that while, and the callbacks end a run at
  // the answer so that waiting costs nothing when all is well.
  // A run that stops early leaves answers in flight to its freed query port,
  // which the next run anywhere on the machine may bind; a subsystem of this
  // process's own keeps such answers from counting in another test program.
  const std::string subsystem = "DISC" + std::to_string(getpid() % 1000000);
  QRNTPServer own_server(subsystem, &events);
  ASSERT_TRUE(own_server.SetSettings(QuickSettings()));
  ASSERT_TRUE(own_server.Start(0));
  QRNTPClient own_client(subsystem, nullptr, &QuietLog());
  std::vector<std::string> hosts = own_client.GetHosts("127.0.0.1", own_server.port(), 1000);
  EXPECT_EQ(hosts, std::vector<std::string>{"127.0.0.1"});
  auto first_only = [](const std::string&, uint16_t) { return 0; };
  hosts = own_client.GetHosts("127.255.255.255", own_server.port(), 3000, first_only);
  EXPECT_EQ(hosts, std::vector<std::string>{"127.0.0.1"});
  int calls = 0;
  auto count_first = [&](const std::string& address, uint16_t port) {
    ++calls;
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, own_server.port());
    return 0;  // stop at the first answer
  };
  hosts = own_client.GetHosts("127.0.0.1|127.0.0.1", own_server.port(), 3000, count_first);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(hosts.size(), 1u);
  QRNTPClient other("OTHERSUB", nullptr, &QuietLog());
  EXPECT_TRUE(other.GetHosts("127.0.0.1", own_server.port(), 150).empty());
}

TEST(QrntpDiscoveryTest, SendsOneDatagramPerTarget) {
  UdpSocket listener;
  ASSERT_TRUE(listener.Bind(0));
  // A subsystem of its own: no other test program's late answer can count.
  QRNTPClient client("SEND" + std::to_string(getpid() % 1000000), nullptr, &QuietLog());
  auto count = [&] {
    int n = 0;
    uint8_t buffer[64];
    while (listener.ReceiveFrom(nullptr, nullptr, buffer, sizeof buffer, 50) == 50) {
      QRNTPHeader h = QRNTPHeader::Decode(buffer);
      EXPECT_TRUE(h.FunctionIs("GetHostName"));
      EXPECT_EQ(h.total_length, 50);
      ++n;
    }
    return n;
  };
  EXPECT_TRUE(client.GetHosts("127.0.0.1|127.0.0.1", listener.LocalPort(), 20).empty());
  EXPECT_EQ(count(), 2);
  EXPECT_TRUE(client.GetHosts("|127.0.0.1", listener.LocalPort(), 20).empty());
  EXPECT_EQ(count(), 0);
  EXPECT_TRUE(client.GetHosts("127.0.0.1||127.0.0.1", listener.LocalPort(), 20).empty());
  EXPECT_EQ(count(), 1);
}

// An answer that arrives once the query's time-out has passed is not counted,
// even when the wait for it began before.
TEST(QrntpDiscoveryTest, AnswerAfterTheTimeOutIsDiscarded) {
  UdpSocket responder;
  ASSERT_TRUE(responder.Bind(0));
  const std::string subsystem = "LATE" + std::to_string(getpid() % 1000000);
  QRNTPClient client(subsystem, nullptr, &QuietLog());
  testing::ScopedManualClock clock;
  std::atomic<bool> queried{false};
  std::thread late([&] {
    // The query of this client, skipping anything else another test program
    // may send to this port meanwhile; bounded in real time.
    uint8_t query[64];
    std::string from;
    uint16_t from_port = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!queried && std::chrono::steady_clock::now() < deadline) {
      if (responder.ReceiveFrom(&from, &from_port, query, sizeof query, 100) != 50) continue;
      const QRNTPHeader h = QRNTPHeader::Decode(query);
      queried = h.SubsystemIs(subsystem) && h.FunctionIs("GetHostName");
    }
    // The time-out passes (whatever came, so that the wait always ends), then the answer comes.
    clock.clock().Advance(std::chrono::milliseconds(5000));
    if (!queried) return;
    QRNTPHeader::Make(subsystem, "LetHostName", 0, 0).Encode(query);
    responder.SendTo(from, from_port, query, 50);
  });
  const auto hosts = client.GetHosts("127.0.0.1", responder.LocalPort(), 1000);
  late.join();
  EXPECT_TRUE(queried);
  EXPECT_TRUE(hosts.empty());
}

TEST(QrntpDiscoveryTest, EndlessAnswersDoNotKeepItRunning) {
  UdpSocket peer;
  ASSERT_TRUE(peer.Bind(0));
  std::atomic<bool> stop{false};
  std::thread flooder([&] {
    uint8_t query[64];
    std::string address;
    uint16_t port = 0;
    if (peer.ReceiveFrom(&address, &port, query, sizeof query, 2000) != 50) return;
    SetQrntpName(query + 18, kQrntpFunctionSize, "LetHostName");
    // Answer as fast as possible, bounded in count and time.
    for (int i = 0; i < 200000 && !stop; ++i) {
      peer.SendTo(address, port, query, 50);
      if (i % 64 == 0) std::this_thread::sleep_for(milliseconds(1));
    }
  });
  // A subsystem of its own: the flood may go on reaching the freed query port
  // after GetHosts returns, and another test program running in parallel may
  // bind that port for its own discovery, which must not count these answers.
  QRNTPClient client("FLOODTEST", nullptr, &QuietLog());
  auto start = std::chrono::steady_clock::now();
  auto hosts = client.GetHosts("127.0.0.1", peer.LocalPort(), 100, nullptr, DiscoveryLimits{300, 1000000});
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, milliseconds(1500));
  EXPECT_GT(hosts.size(), 0u);
  start = std::chrono::steady_clock::now();
  hosts = client.GetHosts("127.0.0.1", peer.LocalPort(), 100, nullptr, DiscoveryLimits{5000, 10});
  stop = true;
  flooder.join();
  EXPECT_LE(hosts.size(), 10u);
}

}  // namespace
}  // namespace sorvel
