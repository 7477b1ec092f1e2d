#include "drive_daemon/kestrow_service.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>

#include "drive_daemon/exit_codes.h"
#include "drive_daemon/remote_test_support.h"
#include "drive_daemon/remote_scsi_handler.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using platform::ServiceState;

// Every report and every server call, in order, as text.
struct Journal : platform::ServiceStatusSink {
  void Report(const platform::ServiceStatus& status) override {
    static const char* names[] = {"?", "STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING"};
    entries.push_back(std::string(names[static_cast<int>(status.state)]) + "/" +
                      std::to_string(status.check_point));
  }
  std::vector<std::string> entries;
};

class JournalServer : public DaemonServer {
 public:
  explicit JournalServer(Journal* journal, bool listens) : journal_(journal), listens_(listens) {}
  void SetDriveEnabled(int, bool) override {}
  bool Start(uint16_t, uint32_t) override {
    journal_->entries.push_back(listens_ ? "server listens" : "server cannot listen");
    return listens_;
  }
  void Stop() override { journal_->entries.push_back("server stopped"); }

 private:
  Journal* journal_;
  bool listens_;
};

TEST(RunService, ReportsStoppedOnlyAfterTheServerStopped) {
  testing::ScratchDir dir;
  Journal journal;
  platform::ServiceStateMachine machine(&journal);
  JournalServer server(&journal, true);
  std::ostringstream out;
  int code = RunService(machine, server, (dir / "kestrow").string(), out,
                        [&] { journal.entries.push_back("stop control"); });
  EXPECT_EQ(code, kExitSuccess);
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"START_PENDING/0", "server listens", "RUNNING/0",
                                                       "stop control", "STOP_PENDING/0", "STOP_PENDING/1",
                                                       "server stopped", "STOPPED/0"}));
}

TEST(RunService, FailedListenNeverReportsRunning) {
  testing::ScratchDir dir;
  Journal journal;
  platform::ServiceStateMachine machine(&journal);
  JournalServer server(&journal, false);
  std::ostringstream out;
  bool waited = false;
  int code = RunService(machine, server, (dir / "kestrow").string(), out, [&] { waited = true; });
  EXPECT_EQ(code, kExitListenFailed);
  EXPECT_FALSE(waited);
  EXPECT_EQ(journal.entries,
            (std::vector<std::string>{"START_PENDING/0", "server cannot listen", "STOPPED/0"}));
  EXPECT_EQ(machine.status().service_exit_code, static_cast<uint32_t>(kExitListenFailed));
}

using remote_test::Connects;
using remote_test::FreePort;

TEST(DaemonRemoteScsiServer, ListensUntilStoppedAndRefusesABusyPort) {
  uint16_t port = FreePort();
  DaemonRemoteScsiServer server;
  EXPECT_EQ(server.enabled(), kAllDriveLetters);  // every letter until configured
  server.SetDriveEnabled(0, false);
  server.SetDriveEnabled(26, true);  // ignored
  server.SetDriveEnabled(-1, true);  // ignored
  EXPECT_EQ(server.enabled(), kAllDriveLetters & ~1u);
  ASSERT_TRUE(server.Start(port, 70000));
  EXPECT_TRUE(Connects(port));
  DaemonRemoteScsiServer second;
  EXPECT_FALSE(second.Start(port, 20));
  EXPECT_FALSE(second.IsRunning());
  server.Stop();
  EXPECT_FALSE(Connects(port));
}

}  // namespace
}  // namespace sorvel
