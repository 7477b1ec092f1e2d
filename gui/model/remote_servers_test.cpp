#include "gui/model/remote_servers.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/network_module.h"
#include "gui/model/engine_library.h"
#include "gui/model/trelin.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/kestrow_standalone.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

// Discovery through the device engine against a real daemon on 127.0.0.1,
// with the machine's interfaces hidden so nothing else is asked.
class RemoteServersDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramPathForTesting(QString::fromStdString((scratch_ / "sorvel").string()));
    SetEngineLibraryFolder(QFileInfo(QString::fromStdString(testing::BuiltLibraryPath("libtrelin.so"))).path());
    ApplicationSetting* settings = AcquireSettings();
    settings->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
    settings->SetScanTimeout(300);
  }
  void TearDown() override {
    ReleaseSettings();
    SetProgramPathForTesting(QString());
    SetEngineLibraryFolder(QString());
  }

  testing::ScratchDir scratch_;
  testing::FixedInterfaces no_interfaces_;
};

TEST_F(RemoteServersDaemonTest, FindsARunningDaemonAndNothingWithoutOne) {
  testing::KestrowStandalone daemon(scratch_ / "daemon",
                                    "D:=emu:" + (scratch_ / "d.state").string() + ",medium=cd-r", "D");
  ASSERT_TRUE(daemon.Start());
  Settings()->SetRemotePort(daemon.port());
  Trelin device;
  // A daemon that has just started may miss the first datagram: ask a few times.
  List<QString> hosts;
  for (int attempt = 0; attempt < 5 && hosts.Count() == 0; ++attempt) hosts = FindRemoteServers(device);
  ASSERT_EQ(hosts.Count(), 1);
  EXPECT_EQ(hosts.Item(1).value(), QStringLiteral("127.0.0.1"));

  daemon.Stop();
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_EQ(FindRemoteServers(device).Count(), 0);
  EXPECT_LT(elapsed.elapsed(), 5000);
}

}  // namespace
}  // namespace sorvel
