#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "native_common/socket_set.h"
#include "native_common/socket_support.h"
#include "native_common/tcp_socket.h"
#include "native_common/udp_socket.h"

namespace sorvel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

long long MsSince(steady_clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// A connected pair over 127.0.0.1: client end and the accepted server end.
struct TcpPair {
  TcpSocket listener;
  TcpSocket client;
  std::unique_ptr<TcpSocket> server;

  TcpPair() {
    EXPECT_TRUE(listener.Listen(0, 4));
    EXPECT_TRUE(client.Connect("127.0.0.1", listener.LocalPort(), 1000));
    server = listener.Accept(1000);
    EXPECT_NE(server, nullptr);
  }
};

// A loopback port with nothing listening on it.
uint16_t ClosedPort() {
  TcpSocket s;
  EXPECT_TRUE(s.Listen(0, 1));
  uint16_t port = s.LocalPort();
  s.Close();
  return port;
}

TEST(TimeoutRuleTest, ZeroOrLessMeansNoLimit) {
  EXPECT_EQ(PollTimeoutMs(0), -1);
  EXPECT_EQ(PollTimeoutMs(-5), -1);
  EXPECT_EQ(PollTimeoutMs(10), 10);
  EXPECT_EQ(PollTimeoutMs(1500), 1500);
  EXPECT_EQ(PollTimeoutMs(0x100000000L), 0x7FFFFFFF);
}

TEST(TcpSocketTest, ConnectAcceptRecordsAddresses) {
  TcpPair pair;
  ASSERT_NE(pair.server, nullptr);
  EXPECT_EQ(pair.client.mode(), TcpSocket::kConnected);
  EXPECT_EQ(pair.server->mode(), TcpSocket::kConnected);
  EXPECT_EQ(pair.client.PeerAddress(), "127.0.0.1");
  EXPECT_EQ(pair.client.PeerPort(), pair.listener.LocalPort());
  EXPECT_EQ(pair.server->PeerPort(), pair.client.LocalPort());
  EXPECT_EQ(pair.server->LocalAddress(), "127.0.0.1");
  // Only one socket per object.
  EXPECT_FALSE(pair.client.Connect("127.0.0.1", pair.listener.LocalPort(), 100));
  EXPECT_FALSE(pair.listener.Listen(0, 1));
  const char text[] = "hello";
  EXPECT_EQ(pair.client.Send(text, 5, 1000), 5);
  char buffer[16] = {};
  EXPECT_EQ(pair.server->Receive(buffer, 5, 1000, true), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST(TcpSocketTest, RefusedConnectFailsPromptly) {
  uint16_t port = ClosedPort();
  for (long ms : {3000L, 0L}) {
    TcpSocket s;
    auto start = steady_clock::now();
    EXPECT_FALSE(s.Connect("127.0.0.1", port, ms)) << ms;
    EXPECT_LT(MsSince(start), 1000) << ms;
    EXPECT_FALSE(s.IsOpen());
  }
  TcpSocket s;
  EXPECT_FALSE(s.Connect("", port, 100));
}

TEST(TcpSocketTest, ReceiveTimesOut) {
  TcpPair pair;
  char buffer[8];
  auto start = steady_clock::now();
  EXPECT_EQ(pair.client.Receive(buffer, sizeof buffer, 10, false), -1);
  long long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 9);
  EXPECT_LT(elapsed, 1000);
  EXPECT_EQ(pair.client.Receive(buffer, 0, 10, false), -1);
  TcpSocket none;
  EXPECT_EQ(none.Receive(buffer, 8, 10, false), -1);
}

TEST(TcpSocketTest, ShortExactReceiveIsFailure) {
  TcpPair pair;
  std::vector<char> data(20, 'x');
  ASSERT_EQ(pair.server->Send(data.data(), 20, 1000), 20);
  char buffer[50];
  EXPECT_EQ(pair.client.Receive(buffer, 50, 50, true), -1);
}

TEST(TcpSocketTest, NonExactReceiveTakesWhatIsThere) {
  TcpPair pair;
  ASSERT_EQ(pair.server->Send("abc", 3, 1000), 3);
  char buffer[50];
  EXPECT_EQ(pair.client.Receive(buffer, 50, 1000, false), 3);
}

TEST(TcpSocketTest, PeerCloseEndsReceiveWithBytesSoFar) {
  TcpPair pair;
  std::vector<char> data(20, 'y');
  ASSERT_EQ(pair.server->Send(data.data(), 20, 1000), 20);
  EXPECT_TRUE(pair.server->Close());
  EXPECT_FALSE(pair.server->Close());
  char buffer[50];
  EXPECT_EQ(pair.client.Receive(buffer, 50, 1000, true), 20);
  EXPECT_TRUE(pair.client.IsReadable());
  EXPECT_EQ(pair.client.Receive(buffer, 50, 1000, true), 0);
}

TEST(TcpSocketTest, SendToClosedPeerRaisesNoSigpipe) {
  struct sigaction old_action {};
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &action, &old_action);
  TcpPair pair;
  pair.server->Close();
  std::vector<char> data(4096, 'z');
  int result = 4096;
  for (int i = 0; i < 200 && result == 4096; ++i) result = pair.client.Send(data.data(), 4096, 100);
  EXPECT_LT(result, 4096);  // the reset is reported, and the process is still alive
  sigaction(SIGPIPE, &old_action, nullptr);
}

TEST(TcpSocketTest, SendToStalledPeerStopsAtTimeOut) {
  TcpPair pair;
  std::vector<char> data(8 << 20, 'q');
  auto start = steady_clock::now();
  int sent = pair.client.Send(data.data(), static_cast<int>(data.size()), 50);
  EXPECT_LT(sent, static_cast<int>(data.size()));
  EXPECT_LT(MsSince(start), 2000);
}

// Each packet goes out in one send and waits for its answer: both ends send
// without holding small segments back.
TEST(TcpSocketTest, ConnectedAndAcceptedEndsSendWithoutDelay) {
  TcpPair pair;
  for (int fd : {pair.client.handle(), pair.server->handle()}) {
    int on = 0;
    socklen_t len = sizeof on;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len), 0);
    EXPECT_NE(on, 0);
  }
}

// A send larger than the socket buffers waits for room and delivers every
// byte in order to a reader that takes them slowly.
TEST(TcpSocketTest, SendLargerThanTheBuffersArrivesWhole) {
  TcpPair pair;
  std::vector<uint8_t> data(4 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  std::vector<uint8_t> got;
  std::thread reader([&] {
    std::vector<uint8_t> chunk(100000);
    while (got.size() < data.size()) {
      const int n = pair.server->Receive(chunk.data(), static_cast<int>(chunk.size()), 5000, false);
      if (n <= 0) break;
      got.insert(got.end(), chunk.begin(), chunk.begin() + n);
      if (got.size() < (1u << 20)) std::this_thread::sleep_for(milliseconds(1));
    }
  });
  EXPECT_EQ(pair.client.Send(data.data(), static_cast<int>(data.size()), 20000), static_cast<int>(data.size()));
  reader.join();
  EXPECT_TRUE(got == data);
}

TEST(TcpSocketTest, ListenAgainRightAfterClose) {
  uint16_t port;
  {
    TcpPair pair;
    port = pair.listener.LocalPort();
    ASSERT_EQ(pair.client.Send("x", 1, 100), 1);
    // The server side closes first, leaving its end in TIME_WAIT.
    pair.server->Close();
    pair.client.Close();
    pair.listener.Close();
  }
  TcpSocket again;
  EXPECT_TRUE(again.Listen(port, 4));
  EXPECT_EQ(again.LocalPort(), port);
}

TEST(TcpSocketTest, AcceptTimesOut) {
  TcpSocket listener;
  ASSERT_TRUE(listener.Listen(0, 1));
  auto start = steady_clock::now();
  EXPECT_EQ(listener.Accept(10), nullptr);
  EXPECT_LT(MsSince(start), 1000);
  TcpSocket unopened;
  EXPECT_EQ(unopened.Accept(10), nullptr);
}

TEST(UdpSocketTest, DatagramRoundTripWithSender) {
  UdpSocket receiver, sender;
  ASSERT_TRUE(receiver.Bind(0));
  ASSERT_TRUE(sender.Bind(0));
  EXPECT_FALSE(receiver.Bind(0));
  EXPECT_EQ(sender.SendTo("127.0.0.1", receiver.LocalPort(), "ping", 4), 4);
  char buffer[50];
  std::string address;
  uint16_t port = 0;
  EXPECT_EQ(receiver.ReceiveFrom(&address, &port, buffer, 50, 1000), 4);
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, sender.LocalPort());
  EXPECT_EQ(sender.SendTo("", receiver.LocalPort(), "ping", 4), 0);
}

TEST(UdpSocketTest, OversizedDatagramIsRejected) {
  UdpSocket receiver, sender;
  ASSERT_TRUE(receiver.Bind(0));
  ASSERT_TRUE(sender.Create());
  std::vector<char> big(60, 'b'), exact(50, 'e');
  ASSERT_EQ(sender.SendTo("127.0.0.1", receiver.LocalPort(), big.data(), 60), 60);
  ASSERT_EQ(sender.SendTo("127.0.0.1", receiver.LocalPort(), exact.data(), 50), 50);
  char buffer[50];
  EXPECT_EQ(receiver.ReceiveFrom(nullptr, nullptr, buffer, 50, 1000), -1);
  EXPECT_EQ(receiver.ReceiveFrom(nullptr, nullptr, buffer, 50, 1000), 50);
  EXPECT_EQ(buffer[0], 'e');
}

TEST(UdpSocketTest, ReceiveTimesOut) {
  UdpSocket receiver;
  ASSERT_TRUE(receiver.Bind(0));
  char buffer[8];
  auto start = steady_clock::now();
  EXPECT_EQ(receiver.ReceiveFrom(nullptr, nullptr, buffer, 8, 10), -1);
  EXPECT_LT(MsSince(start), 1000);
}

TEST(UdpSocketTest, LoopbackBroadcastNeedsTheOption) {
  UdpSocket receiver, sender;
  ASSERT_TRUE(receiver.Bind(0));
  ASSERT_TRUE(sender.Create());
  EXPECT_EQ(sender.SendTo("127.255.255.255", receiver.LocalPort(), "b", 1), 0);
  ASSERT_TRUE(sender.SetBroadcast(true));
  EXPECT_EQ(sender.SendTo("127.255.255.255", receiver.LocalPort(), "b", 1), 1);
  char buffer[8];
  EXPECT_EQ(receiver.ReceiveFrom(nullptr, nullptr, buffer, 8, 1000), 1);
}

TEST(SocketSetTest, AddRemoveAndWait) {
  TcpPair pair;
  SocketSet set;
  EXPECT_TRUE(set.Add(pair.client.handle(), true, false));
  EXPECT_FALSE(set.Add(pair.client.handle()));
  EXPECT_FALSE(set.Add(-1));
  EXPECT_EQ(set.Wait(5), 0);
  EXPECT_FALSE(set.IsReadable(pair.client.handle()));
  ASSERT_EQ(pair.server->Send("d", 1, 100), 1);
  EXPECT_EQ(set.Wait(1000), 1);
  EXPECT_TRUE(set.IsReadable(pair.client.handle()));
  EXPECT_FALSE(set.IsWritable(pair.client.handle()));
  EXPECT_TRUE(set.Add(pair.server->handle()));  // read and write
  EXPECT_EQ(set.Wait(1000), 2);
  EXPECT_TRUE(set.IsWritable(pair.server->handle()));
  EXPECT_TRUE(set.Remove(pair.client.handle()));
  EXPECT_FALSE(set.Remove(pair.client.handle()));
  EXPECT_FALSE(set.IsReadable(pair.client.handle()));
  set.Clear();
  EXPECT_EQ(set.size(), 0u);
  EXPECT_EQ(set.Wait(0), -1);  // empty and unlimited would never return
}

TEST(SocketSetTest, WorksWithDescriptorsAbove1024) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit saved = limit;
  if (limit.rlim_cur < 2048) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2048);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  ASSERT_GE(limit.rlim_cur, 1200u) << "cannot raise the descriptor limit above 1,024";
  // Fill the low descriptors so the pair's descriptors land above 1,024.
  std::vector<int> fillers;
  int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(null_fd, 0);
  for (int i = 0; i < 1100; ++i) {
    int fd = fcntl(null_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) break;
    fillers.push_back(fd);
  }
  {
    TcpPair pair;
    ASSERT_NE(pair.server, nullptr);
    EXPECT_GT(pair.client.handle(), 1024);
    EXPECT_GT(pair.server->handle(), 1024);
    SocketSet set;
    for (int fd : fillers) ASSERT_TRUE(set.Add(fd, false, true));
    ASSERT_TRUE(set.Add(pair.client.handle(), true, false));
    ASSERT_EQ(pair.server->Send("!", 1, 100), 1);
    EXPECT_GE(set.Wait(1000), 1);
    EXPECT_TRUE(set.IsReadable(pair.client.handle()));
    char c;
    EXPECT_EQ(pair.client.Receive(&c, 1, 100, true), 1);
    EXPECT_TRUE(pair.client.IsWritable());
    EXPECT_FALSE(pair.client.IsReadable());
  }
  for (int fd : fillers) close(fd);
  close(null_fd);
  setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
}  // namespace sorvel
