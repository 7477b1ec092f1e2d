// Remote drives end to end on loopback: the daemon's server serves emulated
// drives, RemoteScsiClient drives them, and every answer must equal the one
// the local pass-through gives on the same disc.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "drive_daemon/remote_scsi_handler.h"
#include "drive_daemon/remote_test_support.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_server.h"
#include "testing/cd_image_fixture.h"
#include "testing/kestrow_standalone.h"
#include "testing/loopback_relay.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using namespace remote_test;

std::string FileOf(size_t size, uint8_t seed) {
  std::string text(size, 0);
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + seed * 7 + i / 2048) & 0xFF);
  return text;
}

class RemoteDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    iso_ = testing::MakeIsoImage(dir_.path(), "disc", {{"a.bin", FileOf(300000, 1)}, {"b.bin", FileOf(90000, 2)}});
    ASSERT_FALSE(iso_.empty());
    map_ = "D:=emu:" + (dir_ / "d").string() + ",medium=cd-rom,image=" + iso_.string() + ";E:=emu:" +
           (dir_ / "e").string() + ",medium=dvd+rw;F:=emu:" + (dir_ / "f").string() +
           ",medium=dvd+rw;G:=emu:" + (dir_ / "g").string() + ",medium=dvd+rw";
    server_ = std::make_unique<DaemonRemoteScsiServer>(MapFactory(map_));
    for (int i = 0; i < 26; ++i) server_->SetDriveEnabled(i, i == 3 || i == 4);  // D: and E:
    ASSERT_TRUE(server_->Start(0, 4));
    port_ = std::to_string(server_->port());
  }

  std::string Remote(char letter) { return "\\\\127.0.0.1:" + port_ + "\\" + letter + ":"; }

  std::unique_ptr<RemoteScsiClient> Client() { return std::make_unique<RemoteScsiClient>(MapPassThrough(map_)); }

  // The read commands both sides run on drive D.
  std::vector<Outcome> ReadSuite(ScsiPassThrough& p) {
    std::vector<Outcome> all;
    all.push_back(Exec(p, {0, 0, 0, 0, 0, 0}, {}, false));        // TEST UNIT READY
    all.push_back(In(p, InquiryCdb(96), 96));                    // the drive answers fewer bytes
    all.push_back(In(p, Cdb10(0x25), 8));                        // READ CAPACITY
    all.push_back(In(p, {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, 804));  // READ TOC
    all.push_back(In(p, {0x46, 2, 0, 0, 0, 0, 0, 0x10, 0, 0}, 4096));    // GET CONFIGURATION
    all.push_back(In(p, ReadCdCdb(16, 1), 2352));                // READ CD, one raw sector
    all.push_back(In(p, ReadCdCdb(17, 26), 26 * 2352));          // READ CD, 26 sectors in one packet
    all.push_back(In(p, ReadCdCdb(20, 1, 0xF8, 1), 2448));       // with raw subchannel
    all.push_back(In(p, Cdb10(0x28, 18, 31), 31 * 2048));        // READ(10), 31 sectors
    all.push_back(In(p, Cdb10(0x28, 900000, 1), 2048));          // beyond the disc: check condition
    all.push_back(In(p, {0xFF, 0, 0, 0, 0, 0}, 16));             // unknown command
    return all;
  }

  testing::ScratchDir dir_;
  std::filesystem::path iso_;
  std::string map_;
  std::unique_ptr<DaemonRemoteScsiServer> server_;
  std::string port_;
};

TEST_F(RemoteDrive, ReadsMatchTheLocalPassThrough) {
  std::vector<Outcome> local;
  {
    auto p = MapPassThrough(map_);
    ASSERT_TRUE(p->Open("\\\\.\\D:"));
    local = ReadSuite(*p);
  }
  ASSERT_EQ(local[2].status, 0);
  ASSERT_NE(local[9].status, 0);
  EXPECT_NE(local[6].data, Bytes(local[6].data.size(), 0));

  auto client = Client();
  ASSERT_TRUE(client->Open(Remote('D')));
  EXPECT_TRUE(client->remote_mode());
  std::vector<Outcome> remote = ReadSuite(*client);
  ASSERT_EQ(remote.size(), local.size());
  for (size_t i = 0; i < local.size(); ++i) EXPECT_EQ(remote[i], local[i]) << "command " << i;
  ASSERT_TRUE(client->Close());
  EXPECT_FALSE(client->transport().IsConnected());

  // Host "." is this machine: the local pass-through, whatever port follows.
  ASSERT_TRUE(client->Open("\\\\.:99999\\d:"));
  EXPECT_TRUE(client->local_mode());
  std::vector<Outcome> dot = ReadSuite(*client);
  for (size_t i = 0; i < local.size(); ++i) EXPECT_EQ(dot[i], local[i]) << "command " << i;
}

TEST_F(RemoteDrive, WritesMatchTheLocalPassThrough) {
  // E: remotely and G: locally start as the same blank DVD+RW and get the same commands.
  auto client = Client();
  ASSERT_TRUE(client->Open(Remote('E')));
  auto local = MapPassThrough(map_);
  ASSERT_TRUE(local->Open("\\\\.\\G:"));
  Bytes block(16 * 2048);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  auto suite = [&](ScsiPassThrough& p) {
    std::vector<Outcome> all;
    all.push_back(In(p, Cdb10(0x23, 0, 2048), 2048));  // READ FORMAT CAPACITIES
    const Bytes& caps = all.back().data;
    Bytes list = {0, 0x80, 0, 8, caps[12], caps[13], caps[14], caps[15], caps[16], 0, 0, 0};
    all.push_back(Exec(p, {0x04, 0x11, 0, 0, 0, 0}, list, true, 3600));  // FORMAT UNIT
    all.push_back(Exec(p, Cdb10(0x2A, 1000, 16), block, true));           // WRITE(10)
    all.push_back(Exec(p, Cdb10(0x2A, 0x7FFFFFF0, 1), Bytes(2048, 1), true));  // beyond the medium
    all.push_back(Exec(p, Cdb10(0x35), {}, true, 1800));                  // SYNCHRONIZE CACHE
    all.push_back(In(p, Cdb10(0x28, 1000, 16), block.size()));          // read back
    return all;
  };
  std::vector<Outcome> remote = suite(*client);
  std::vector<Outcome> here = suite(*local);
  for (size_t i = 0; i < here.size(); ++i) EXPECT_EQ(remote[i], here[i]) << "command " << i;
  EXPECT_EQ(remote[1].status, 0);
  EXPECT_EQ(remote[2].status, 0);
  EXPECT_NE(remote[3].status, 0);
  EXPECT_EQ(remote[5].data, block);
  ASSERT_TRUE(client->Close());

  // What went over the wire is on the disc.
  ASSERT_TRUE(local->Open("\\\\.\\E:"));
  EXPECT_EQ(In(*local, Cdb10(0x28, 1000, 16), block.size()).data, block);
}

TEST_F(RemoteDrive, OpenRefusals) {
  auto client = Client();
  EXPECT_FALSE(client->Open(Remote('F')));  // not enabled
  EXPECT_FALSE(client->transport().IsConnected());
  EXPECT_FALSE(client->IsOpen());
  EXPECT_EQ(client->GetSense(), kSenseNoDevice);
  EXPECT_FALSE(client->Open("\\\\127.0.0.1\\D:"));    // no port
  EXPECT_FALSE(client->Open("\\\\127.0.0.1:0\\D:"));  // no such port
  EXPECT_FALSE(client->Open("\\\\127.0.0.1:" + port_ + "\\"));  // no drive
  EXPECT_FALSE(client->Open("\\\\127.0.0.1:" + port_ + "\\1:"));
  EXPECT_FALSE(client->Open("\\\\127.0.0.1:" + port_ + "x\\D:"));

  // The lower-case letter is taken in upper case; a drive is held by one connection.
  ASSERT_TRUE(client->Open("\\\\127.0.0.1:" + port_ + "\\d:"));
  auto second = Client();
  EXPECT_FALSE(second->Open(Remote('D')));
  // Open closes and disconnects first, so the same client may open it again.
  EXPECT_TRUE(client->Open(Remote('D')));
  EXPECT_EQ(In(*client, Cdb10(0x25), 8).status, 0);
  EXPECT_TRUE(client->Close());
  EXPECT_TRUE(client->Close());  // nothing open
  EXPECT_TRUE(second->Open(Remote('D')));
}

TEST_F(RemoteDrive, CommandsThatCannotTravel) {
  auto client = Client();
  EXPECT_EQ(In(*client, InquiryCdb(36), 36).status, -1);  // nothing open
  EXPECT_EQ(client->GetSense(), kSenseNoDevice);
  ASSERT_TRUE(client->Open(Remote('D')));
  Bytes long_cdb(33, 0);
  long_cdb[0] = 0x12;
  EXPECT_EQ(In(*client, long_cdb, 36).status, -1);  // sent without its CDB, refused
  EXPECT_EQ(client->GetSense(), kSenseNoDevice);
  Bytes cdb17 = InquiryCdb(36);
  cdb17.resize(17);
  EXPECT_EQ(In(*client, cdb17, 36).status, -1);
  EXPECT_EQ(In(*client, ReadCdCdb(16, 28), 28 * 2352).status, -1);  // too large for one packet
  EXPECT_EQ(client->GetSense(), kSenseNoDevice);
  // The link is fine afterwards.
  Outcome ok = In(*client, InquiryCdb(36), 36);
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(client->GetSense(), 0);
  client->SetSense(0x052400);
  EXPECT_EQ(client->GetSense(), 0x052400);
  client->ClearSense();
  EXPECT_EQ(client->GetSense(), 0);
}

TEST_F(RemoteDrive, IdleLinkStaysOpenForFiveSeconds) {
  auto client = Client();
  ASSERT_TRUE(client->Open(Remote('D')));
  const Outcome before = In(*client, Cdb10(0x28, 16, 1), 2048);
  ASSERT_EQ(before.status, 0);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_EQ(In(*client, Cdb10(0x28, 16, 1), 2048), before);
  EXPECT_EQ(server_->ActiveSessions(), 1u);
}

TEST_F(RemoteDrive, SilentLinkIsDroppedAndReadsAsLost) {
  auto client = Client();
  ASSERT_TRUE(client->Open(Remote('D')));
  client->transport().SetKeepAlive(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(DaemonTransport::kSilenceLimitMs + 600));
  EXPECT_EQ(server_->ActiveSessions(), 0u);
  EXPECT_EQ(In(*client, InquiryCdb(36), 36).status, -1);
  EXPECT_EQ(client->GetSense(), kSenseNoDevice);
  // The server released the drive with the connection; the client opens it again.
  EXPECT_TRUE(client->Close());
  client->transport().SetKeepAlive(true);
  ASSERT_TRUE(client->Open(Remote('D')));
  EXPECT_EQ(In(*client, InquiryCdb(36), 36).status, 0);
}

TEST_F(RemoteDrive, DiscoveryFindsTheDaemon) {
  RemoteScsiClient client(MapPassThrough(map_));
  const uint16_t port = server_->port();
  EXPECT_EQ(client.GetHosts("127.0.0.1", port, 800), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(client.GetHosts("127.0.0.1|127.0.0.1", port, 800),
            (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
  EXPECT_TRUE(client.GetHosts("|127.0.0.1", port, 100).empty());  // the list ends at the empty target

  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(client.GetRemoteHosts("127.0.0.1", port, buffer, sizeof buffer, 800), 10);
  EXPECT_STREQ(buffer, "127.0.0.1");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(client.GetRemoteHosts("127.0.0.1", port, buffer, 9, 800), 10);  // cut, not terminated
  EXPECT_EQ(std::string(buffer, 10), "127.0.0.1x");
  EXPECT_EQ(client.GetRemoteHosts("127.0.0.1", 70000, buffer, sizeof buffer, 300), 0);
  EXPECT_EQ(client.GetRemoteHosts("127.0.0.1", -1, buffer, sizeof buffer, 300), 0);
  server_->Stop();
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(client.GetRemoteHosts("127.0.0.1", port, buffer, sizeof buffer, 100), 1);
  EXPECT_EQ(buffer[0], '\0');
}

// How long a question stays open in the wait-callback tests.
constexpr auto kHold = std::chrono::seconds(5);

// A real kestrow of this test serving the CD as D:.
class KestrowDrive : public RemoteDrive {
 protected:
  void SetUp() override {
    RemoteDrive::SetUp();
    server_->Stop();
    daemon_ = std::make_unique<testing::KestrowStandalone>(
        dir_ / "daemon", "D:=emu:" + (dir_ / "k").string() + ",medium=cd-rom,image=" + iso_.string(), "D");
    ASSERT_TRUE(daemon_->Start());
  }
  std::string Kestrow(uint16_t port) { return "\\\\127.0.0.1:" + std::to_string(port) + "\\D:"; }

  std::unique_ptr<testing::KestrowStandalone> daemon_;
};

// The test rig's daemon whose chosen port is taken before it listens (another
// test's daemon told the same free port): it is started again on another
// port and serves there, rather than the test talking to whatever took it.
TEST_F(RemoteDrive, AStandaloneDaemonWhosePortWasTakenServesOnAnother) {
  testing::KestrowStandalone daemon(dir_ / "taken", "D:=emu:" + (dir_ / "t").string() + ",medium=cd-rom,image=" +
                                                        iso_.string(),
                                    "D");
  const uint16_t chosen = daemon.port();
  TcpSocket taker;
  ASSERT_TRUE(taker.Listen(chosen, 4));
  ASSERT_TRUE(daemon.Start());
  EXPECT_NE(daemon.port(), chosen);
  auto client = Client();
  ASSERT_TRUE(client->Open("\\\\127.0.0.1:" + std::to_string(daemon.port()) + "\\D:"));
  EXPECT_EQ(In(*client, Cdb10(0x28, 17, 1), 2048).status, 0);
  EXPECT_TRUE(client->Close());
}

// A daemon that stops answering in the middle of a read (its process stopped)
// and never sent keep-alives ends the read at the command's own time-out; the
// drive reads as gone, and once the daemon goes on it is opened again.
TEST_F(KestrowDrive, AStoppedDaemonEndsAReadAtItsTimeOutAndTheDriveIsOpenedAgain) {
  auto client = Client();
  ASSERT_TRUE(client->Open(Kestrow(daemon_->port())));
  const Outcome before = In(*client, Cdb10(0x28, 17, 1), 2048);
  ASSERT_EQ(before.status, 0);
  ASSERT_TRUE(daemon_->Suspend());
  const auto start = std::chrono::steady_clock::now();
  const Outcome read = Exec(*client, Cdb10(0x28, 17, 1), Bytes(2048, 0), false, 3);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  daemon_->Resume();
  EXPECT_EQ(read.status, -1);
  EXPECT_EQ(read.sense_status, kSenseNoDevice);
  EXPECT_GE(took.count(), 2900);
  EXPECT_LE(took.count(), 6000);
  EXPECT_TRUE(client->LinkDropped());
  ASSERT_TRUE(client->Reopen());
  EXPECT_EQ(In(*client, Cdb10(0x28, 17, 1), 2048), before);
  EXPECT_TRUE(client->Close());
}

// A daemon stopped for 4 s (longer than its 3 s silence limit) between two
// commands, once while idle and once with the next command sent at once (as a
// read sends it) and waiting in its socket before the client's keep-alives:
// at the resume the session takes what waited; the command is answered on the
// same link, and so is the next one.
TEST_F(KestrowDrive, ADaemonPausedBetweenTwoCommandsKeepsTheSession) {
  auto client = Client();
  ASSERT_TRUE(client->Open(Kestrow(daemon_->port())));
  const Outcome before = In(*client, Cdb10(0x28, 17, 1), 2048);
  ASSERT_EQ(before.status, 0);
  struct Pause {
    testing::KestrowStandalone* daemon;
    std::chrono::steady_clock::time_point since;
    bool resumed = false;
  } pause{daemon_.get(), {}};
  // Asked every 100 ms while the command waits: the daemon goes on after 4 s.
  client->SetWaitCallback(
      [](void* context) -> int32_t {
        auto* p = static_cast<Pause*>(context);
        if (!p->resumed && std::chrono::steady_clock::now() - p->since >= std::chrono::milliseconds(4000)) {
          p->daemon->Resume();
          p->resumed = true;
        }
        return 0;
      },
      &pause);
  for (const bool command_waits : {false, true}) {
    SCOPED_TRACE(command_waits ? "command sent during the pause" : "idle pause");
    pause.resumed = false;
    ASSERT_TRUE(daemon_->Suspend());
    pause.since = std::chrono::steady_clock::now();
    if (!command_waits) {
      // The pause itself is what is tested: it must outlast the silence limit.
      std::this_thread::sleep_for(std::chrono::milliseconds(4000));
      daemon_->Resume();
      pause.resumed = true;
    }
    EXPECT_EQ(In(*client, Cdb10(0x28, 17, 1), 2048), before);
    EXPECT_TRUE(pause.resumed);
    if (!pause.resumed) daemon_->Resume();
    EXPECT_FALSE(client->LinkDropped());
    EXPECT_EQ(In(*client, Cdb10(0x28, 17, 1), 2048), before);
  }
  client->SetWaitCallback(nullptr, nullptr);
  EXPECT_TRUE(client->Close());
}

// The wait callback holds the link for 5 s once (a question on screen, longer
// than the daemon's 3 s silence limit) while the daemon's answer arrives: the
// keep-alives go on, the answer is taken afterwards, also when the hold was
// longer than the command's own time-out, and the drive answers the next command.
TEST_F(KestrowDrive, AWaitCallbackHeldOpenKeepsTheDrive) {
  struct Case {
    const char* name;
    uint32_t timeout_s;
  };
  const Case cases[] = {{"command time-out longer than the hold", 180},
                        {"command time-out shorter than the hold", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto client = Client();
    ASSERT_TRUE(client->Open(Kestrow(daemon_->port())));
    const Outcome expected = In(*client, Cdb10(0x28, 18, 4), 4 * 2048);
    ASSERT_EQ(expected.status, 0);
    struct Hold {
      testing::KestrowStandalone* daemon;
      int asked = 0;
      std::chrono::milliseconds held{0};
    } hold{daemon_.get()};
    client->SetWaitCallback(
        [](void* context) -> int32_t {
          auto* h = static_cast<Hold*>(context);
          if (++h->asked > 1) return 0;
          // The daemon answers now, while the question stays open for kHold of the clock.
          h->daemon->Resume();
          const auto start = std::chrono::steady_clock::now();
          std::mutex mutex;
          std::condition_variable never;
          std::unique_lock<std::mutex> lock(mutex);
          never.wait_until(lock, start + kHold, [] { return false; });
          h->held = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
          return 0;
        },
        &hold);
    // Stopped, the daemon keeps the command waiting until the callback runs.
    ASSERT_TRUE(daemon_->Suspend());
    const Outcome held = Exec(*client, Cdb10(0x28, 18, 4), Bytes(4 * 2048, 0), false, c.timeout_s);
    daemon_->Resume();
    EXPECT_GE(hold.asked, 1);
    EXPECT_GE(hold.held.count(), 4900);
    EXPECT_EQ(held, expected);
    EXPECT_EQ(In(*client, Cdb10(0x28, 18, 4), 4 * 2048), expected);
    client->SetWaitCallback(nullptr, nullptr);
    EXPECT_TRUE(client->Close());
  }
}

// A path that drops the daemon's keep-alives and holds one answer longer than
// the client's silence limit (3 s here, a tenth of its own, and the answer 4 s,
// longer than the daemon's silence limit too): the daemon was never seen
// sending keep-alives, so the command's time-out holds; the call returns the
// daemon's answer and the drive answers afterwards.
TEST_F(KestrowDrive, AnAnswerHeldByThePathIsWaitedForWithoutKeepAlives) {
  auto client = Client();
  ASSERT_TRUE(client->Open(Kestrow(daemon_->port())));
  const Outcome expected = In(*client, Cdb10(0x28, 19, 2), 2 * 2048);
  ASSERT_EQ(expected.status, 0);
  ASSERT_TRUE(client->Close());

  // Answers over the relay: 0 the open, 1 the held read.
  testing::LoopbackRelay relay(daemon_->port(), {true, 1, 4000});
  ASSERT_NE(relay.port(), 0);
  auto relayed = Client();
  TransportSettings settings = relayed->transport().settings();
  settings.receive_timeout_ms = 3000;
  relayed->transport().SetSettings(settings);
  ASSERT_TRUE(relayed->Open(Kestrow(relay.port())));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(In(*relayed, Cdb10(0x28, 19, 2), 2 * 2048), expected);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_GE(took.count(), 3900);
  EXPECT_FALSE(relayed->transport().PeerKeepsAlive());
  EXPECT_EQ(In(*relayed, Cdb10(0x28, 19, 2), 2 * 2048), expected);
  EXPECT_TRUE(relayed->transport().IsConnected());
  EXPECT_TRUE(relayed->Close());
}

// A drive whose commands never reach it reads as lost remotely as locally.
class LostDevice : public platform::ScsiDevice {
 public:
  platform::ScsiResult Execute(const platform::ScsiRequest&) override { return {}; }
};

std::unique_ptr<ScsiPassThrough> LostPassThrough() {
  return std::make_unique<SptiPassThrough>(
      [](char, std::string*) -> std::unique_ptr<platform::ScsiDevice> { return std::make_unique<LostDevice>(); });
}

TEST(RemoteDriveLost, ReadsAsLostLikeALocalDrive) {
  DaemonRemoteScsiServer server(LostPassThrough);
  ASSERT_TRUE(server.Start(0, 2));
  auto local = LostPassThrough();
  ASSERT_TRUE(local->Open("\\\\.\\D:"));
  RemoteScsiClient client(LostPassThrough());
  ASSERT_TRUE(client.Open("\\\\127.0.0.1:" + std::to_string(server.port()) + "\\D:"));
  Outcome here = In(*local, Cdb10(0x28, 0, 1), 2048);
  Outcome there = In(client, Cdb10(0x28, 0, 1), 2048);
  EXPECT_EQ(here.status, -1);
  EXPECT_EQ(here.sense_status, kSenseNoDevice);
  EXPECT_EQ(there.status, -1);
  EXPECT_EQ(there.sense_status, kSenseNoDevice);
  EXPECT_EQ(there.data, Bytes(2048, 0));
}

// The library's own server (the current protocol form) answers the same calls.
TEST_F(RemoteDrive, LibraryServerServesTheSameAnswers) {
  server_->Stop();
  RemoteScsiServer library(MapFactory(map_));
  for (int i = 0; i < 26; ++i) library.SetDriveEnabled(i, i == 3);
  EXPECT_EQ(library.SetDriveEnabled(30, true), 30);
  ASSERT_TRUE(library.Start(0));
  const std::string port = std::to_string(library.server().port());
  std::vector<Outcome> local;
  {
    auto p = MapPassThrough(map_);
    ASSERT_TRUE(p->Open("\\\\.\\D:"));
    local = ReadSuite(*p);
  }
  auto client = Client();
  EXPECT_FALSE(client->Open("\\\\127.0.0.1:" + port + "\\E:"));
  ASSERT_TRUE(client->Open("\\\\127.0.0.1:" + port + "\\D:"));
  std::vector<Outcome> remote = ReadSuite(*client);
  for (size_t i = 0; i < local.size(); ++i) EXPECT_EQ(remote[i], local[i]) << "command " << i;
  EXPECT_EQ(client->GetHosts("127.0.0.1", library.server().port(), 800), std::vector<std::string>{"127.0.0.1"});
  EXPECT_TRUE(client->Close());
  library.Stop();
}

}  // namespace
}  // namespace sorvel
