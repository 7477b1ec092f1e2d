#include "gui/foundation/system_module.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include "gui/foundation/logind_power_backend.h"
#include "testing/gui/private_bus.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

// logind stood in for by a program on a private bus; every call it received is
// a line of its log.
class SystemModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    log_ = QString::fromStdString((scratch_ / "logind.log").string());
    const QString fake = QCoreApplication::applicationDirPath() + QStringLiteral("/sorvel_fake_logind");
    ASSERT_TRUE(bus_.StartService(fake, {log_}, QStringLiteral("org.freedesktop.login1")));
    backend_ = std::make_unique<LogindPowerBackend>(bus_.Connect(QStringLiteral("power-test")));
    previous_ = InstallPowerBackend(backend_.get());
  }
  void TearDown() override {
    InstallPowerBackend(previous_);
    backend_.reset();
  }

  QStringList LogLines() {
    QFile file(log_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  // The fake notices a released inhibitor within a few polls.
  QStringList WaitForLines(int count) {
    QDeadlineTimer deadline(5000);
    QStringList lines = LogLines();
    while (lines.size() < count && !deadline.hasExpired()) {
      QThread::msleep(10);
      lines = LogLines();
    }
    return lines;
  }

  testing::ScratchDir scratch_;
  testing::PrivateBus bus_;
  QString log_;
  std::unique_ptr<LogindPowerBackend> backend_;
  PowerBackend* previous_ = nullptr;
};

TEST_F(SystemModuleTest, ShutdownCodesBecomeTheRightLogindCalls) {
  struct Case {
    int32_t code;
    const char* call;  // nullptr: no call, false
  };
  const Case cases[] = {
      {0x8000, "Suspend 0"}, {0x8004, "Suspend 0"}, {0x4000, "Hibernate 0"}, {0x4004, "Hibernate 0"},
      {8, "PowerOff 0"},     {12, "PowerOff 0"},    {1, "PowerOff 0"},       {2, "Reboot 0"},
      {0, nullptr},          {4, nullptr},          {0x10, nullptr},         {0x8010, nullptr},
  };
  int expected_lines = 0;
  for (const Case& c : cases) {
    const bool result = ShutdownSystem(c.code);
    EXPECT_EQ(result, c.call != nullptr) << c.code;
    if (c.call != nullptr) ++expected_lines;
    const QStringList lines = WaitForLines(expected_lines);
    ASSERT_EQ(lines.size(), expected_lines) << c.code;
    if (c.call != nullptr) {
      EXPECT_EQ(lines.last(), QString::fromLatin1(c.call)) << c.code;
    }
  }
}

TEST_F(SystemModuleTest, KeepAwakeHoldsOneInhibitorPerJobAndReleasesIt) {
  for (int job = 0; job < 2; ++job) {
    EXPECT_NE(SetExecutionState(0x80000003u), 0u);
    EXPECT_EQ(SetExecutionState(0x80000000u), 0x80000003u);
    ASSERT_EQ(WaitForLines(2 * (job + 1)).size(), 2 * (job + 1));
  }
  const QStringList lines = WaitForLines(4);
  ASSERT_EQ(lines.size(), 4) << lines.join(";").toStdString();
  EXPECT_EQ(lines[0], QStringLiteral("Inhibit sleep:idle|Sorvel|ディスク処理中|block"));
  EXPECT_EQ(lines[1], QStringLiteral("Release"));
  EXPECT_EQ(lines[2], lines[0]);
  EXPECT_EQ(lines[3], QStringLiteral("Release"));
}

TEST(SystemModuleNoLogindTest, WithoutLogindNothingIsHeldAndActionsFail) {
  testing::PrivateBus empty_bus;
  ASSERT_TRUE(empty_bus.ok());
  LogindPowerBackend backend(empty_bus.Connect(QStringLiteral("no-logind")));
  PowerBackend* previous = InstallPowerBackend(&backend);
  EXPECT_EQ(SetExecutionState(0x80000003u), 0u);
  EXPECT_FALSE(ShutdownSystem(8));
  SetExecutionState(0x80000000u);
  InstallPowerBackend(previous);
}

TEST(RunProcessTest, BlankFailsWaitingReturnsAfterTheEndAndEventsRun) {
  EXPECT_FALSE(RunProcess(false, QStringLiteral("   "), 0));
  EXPECT_FALSE(RunProcess(false, QStringLiteral("/nonexistent/program"), 0));

  testing::ScratchDir scratch;
  const QString marker = QString::fromStdString((scratch / "done").string());
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(5);
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_TRUE(RunProcess(false, QStringLiteral("sh -c \"sleep 0.3; touch '%1'\"").arg(marker), 0));
  EXPECT_TRUE(QFile::exists(marker));
  EXPECT_GE(elapsed.elapsed(), 250);
  EXPECT_GT(ticks, 5);  // the GUI kept handling events while waiting

  const QString detached = QString::fromStdString((scratch / "detached").string());
  EXPECT_TRUE(RunProcess(true, QStringLiteral("sh -c \"sleep 0.2; touch '%1'\"").arg(detached), 0));
  EXPECT_FALSE(QFile::exists(detached));
  QDeadlineTimer deadline(5000);
  while (!QFile::exists(detached) && !deadline.hasExpired()) QThread::msleep(20);
  EXPECT_TRUE(QFile::exists(detached));
}

}  // namespace
}  // namespace sorvel
