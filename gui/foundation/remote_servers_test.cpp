#include <gtest/gtest.h>

#include "testing/gui/fixed_interfaces.h"

#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/network_module.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::FixedInterfaces;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

LocalInterface Lan(uint32_t address, uint32_t mask) {
  LocalInterface entry;
  entry.address = address;
  entry.netmask = mask;
  return entry;
}

QStringList Items(const List<QString>& list) {
  QStringList items;
  for (const QString& item : list) items << item;
  return items;
}

// Settings in a scratch folder: the program acts as if it lived there.
class RemoteServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramPathForTesting(Q(scratch_ / "sorvel"));
    ApplicationSetting* settings = AcquireSettings();
    settings->SetRemoteIP(1, QStringLiteral("10.9.8.7"));
    settings->SetRemoteIP(2, QStringLiteral("host.example"));
    settings->SetRemotePort(8899);
    settings->SetScanTimeout(150);
  }
  void TearDown() override {
    ReleaseSettings();
    SetProgramPathForTesting(QString());
  }

  testing::ScratchDir scratch_;
};

TEST_F(RemoteServersTest, TargetsAreBroadcastsThenConfiguredAddresses) {
  FixedInterfaces interfaces({Lan(0x7F000001, 0xFF000000), Lan(0xC0A8010A, 0xFFFFFF00), Lan(0x0A000002, 0xFF000000)});
  EXPECT_EQ(Items(GetScanHostList()),
            (QStringList{"192.168.1.255", "10.255.255.255", "10.9.8.7", "host.example"}));
  Settings()->SetRemoteIP(1, QStringLiteral("  "));  // removes IP1: the list stops there
  EXPECT_EQ(Items(GetScanHostList()), (QStringList{"192.168.1.255", "10.255.255.255"}));
}

TEST_F(RemoteServersTest, AnswerIsCleanedOfDuplicatesOwnAddressesAndCutEntries) {
  FixedInterfaces interfaces({Lan(0xC0A8010A, 0xFFFFFF00)});
  struct Case {
    const char* answer;
    QStringList expected;
  };
  const Case cases[] = {
      {"", {}},
      {"192.168.1.20|192.168.1.20|192.168.1.21", {"192.168.1.20", "192.168.1.21"}},
      {"192.168.1.10|192.168.1.20", {"192.168.1.20"}},  // this machine answered too
      {"192.168.1.20||192.168.1.21", {"192.168.1.20"}},  // an empty piece ends the list
      {"192.168.1.20|192.168.1.2", {"192.168.1.20", "192.168.1.2"}},
      {"192.168.1.20|192.16", {"192.168.1.20"}},  // cut last address
      {"192.168.1.20|999.1.1.1|a.b.c.d", {"192.168.1.20"}},
  };
  for (const Case& c : cases) {
    QString targets;
    int32_t port = 0;
    int32_t timeout = 0;
    List<QString> hosts = FindRemoteServers([&](const QString& t, int32_t p, int32_t ms) {
      targets = t;
      port = p;
      timeout = ms;
      return QString::fromLatin1(c.answer);
    });
    EXPECT_EQ(Items(hosts), c.expected) << c.answer;
    EXPECT_EQ(targets, QStringLiteral("192.168.1.255|10.9.8.7|host.example"));
    EXPECT_EQ(port, 8899);
    EXPECT_EQ(timeout, 150);
  }
}

TEST_F(RemoteServersTest, EmptyTargetsStillAskTheEngineAndTimeOutIsBounded) {
  FixedInterfaces none;
  Settings()->SetRemoteIP(1, QString());
  Settings()->SetScanTimeout(3600000);
  bool asked = false;
  int32_t timeout = 0;
  FindRemoteServers([&](const QString& targets, int32_t, int32_t ms) {
    asked = true;
    timeout = ms;
    EXPECT_TRUE(targets.isEmpty());
    return QString();
  });
  EXPECT_TRUE(asked);
  EXPECT_EQ(timeout, kMaxScanTimeoutMs);
}

}  // namespace
}  // namespace sorvel
