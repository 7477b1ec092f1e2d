#include "gui/foundation/start_procedure.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/automation_host.h"
#include "gui/foundation/file_paths.h"
#include "testing/gui/fake_forms.h"
#include "testing/scoped_current_dir.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

TEST(CommandLinePathTest, ArgumentsJoinIntoOnePath) {
  EXPECT_EQ(CommandLinePath({}), QString());
  EXPECT_EQ(CommandLinePath({QStringLiteral("/img/a"), QStringLiteral("b.iso")}), QStringLiteral("/img/a b.iso"));
  EXPECT_EQ(CommandLinePath({QStringLiteral("  /img/a  b.iso  ")}), QStringLiteral("/img/a  b.iso"));
  EXPECT_EQ(CommandLinePath({QString(), QStringLiteral("x.wpj")}), QStringLiteral("x.wpj"));
  EXPECT_TRUE(IsAutomationStart({QStringLiteral("--automation")}));
  EXPECT_FALSE(IsAutomationStart({QStringLiteral("--automation"), QStringLiteral("a.iso")}));
  EXPECT_FALSE(IsAutomationStart({QStringLiteral("/tmp/--automation")}));
  EXPECT_FALSE(IsAutomationStart({}));
}

struct DispatchCase {
  const char* command_line;
  QStringList calls;
};

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {};

// Runs in a folder of its own: "@" in an expected call stands for it, and a
// relative path reaches the forms made absolute against it.
TEST_P(DispatchTest, OpensTheRightForm) {
  testing::ScratchDir dir;
  std::filesystem::create_directories(dir / "work");
  testing::ScopedCurrentDir here(dir / "work");
  const QString current = QString::fromStdString((dir / "work").string());
  testing::FakeForms forms;
  // The user closes the main window as soon as it is up.
  forms.on_main_shown = [](QWidget* window) { QTimer::singleShot(0, window, &QWidget::close); };
  EXPECT_TRUE(RunCommandLine(QString::fromUtf8(GetParam().command_line)));
  QStringList expected;
  for (QString call : GetParam().calls) {
    const qsizetype at = call.indexOf(u'@');
    if (at >= 0) call = call.left(at) + QDir::cleanPath(current + call.mid(at + 1));
    expected << call;
  }
  EXPECT_EQ(forms.calls(), expected);
  EXPECT_EQ(OpenWindowCount(), 0);
}

const QStringList kMainOnly{QStringLiteral("main:show"), QStringLiteral("main:unload")};
QStringList WriteImage(const char* file) { return {QStringLiteral("write-image ") + QString::fromUtf8(file)}; }
QStringList LoadProject(const char* file) {
  return {QStringLiteral("main:show"), QStringLiteral("main:load ") + QString::fromUtf8(file),
          QStringLiteral("main:unload")};
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, DispatchTest,
    ::testing::Values(DispatchCase{"", kMainOnly},
                      DispatchCase{"\"/home/u/Images/a b.iso\"", WriteImage("/home/u/Images/a b.iso")},
                      DispatchCase{"/home/u/Images/a b.iso", WriteImage("/home/u/Images/a b.iso")},
                      DispatchCase{"a.iso b.cue", WriteImage("@/a.iso b.cue")},
                      DispatchCase{"\"", kMainOnly},
                      DispatchCase{"\"\"", kMainOnly},
                      DispatchCase{"project.wpj", LoadProject("@/project.wpj")},
                      DispatchCase{"\"/p/写真 集.WPJ\"", LoadProject("/p/写真 集.WPJ")},
                      DispatchCase{"image.img", kMainOnly},
                      DispatchCase{"notes.txt", kMainOnly},
                      DispatchCase{"/home/u/noext", kMainOnly},
                      DispatchCase{"/home/u/dir.iso/file", kMainOnly},
                      DispatchCase{"DISC.Iso", WriteImage("@/DISC.Iso")},
                      DispatchCase{"disc.ISO", WriteImage("@/disc.ISO")},
                      DispatchCase{"a.ccd", WriteImage("@/a.ccd")},
                      DispatchCase{"a.Tsn", WriteImage("@/a.Tsn")},
                      DispatchCase{"a.cdm", kMainOnly},
                      // Relative paths of every form are taken from the current folder.
                      DispatchCase{"./disc.ccd", WriteImage("@/disc.ccd")},
                      DispatchCase{"../images/disc.tsn", WriteImage("@/../images/disc.tsn")},
                      DispatchCase{"\"sub dir/my disc.cue\"", WriteImage("@/sub dir/my disc.cue")},
                      DispatchCase{"/abs/../abs2/x.iso", WriteImage("/abs/../abs2/x.iso")},
                      // Only the outer pair of quotes goes; quotes inside stay.
                      DispatchCase{"\"a\"b.cue\"", WriteImage("@/a\"b.cue")},
                      DispatchCase{"\"a.iso", WriteImage("@/\"a.iso")}));

TEST(WaitTest, EndsWhenTheLastWindowCloses) {
  testing::FakeForms forms;
  QWidget other;
  other.setWindowTitle(QStringLiteral("other"));
  bool other_closed_last = false;
  forms.on_main_shown = [&](QWidget* window) {
    other.show();
    QTimer::singleShot(0, window, &QWidget::close);
    QTimer::singleShot(50, &other, [&] {
      // The main window is closed, this one is still open: the wait goes on.
      other_closed_last = OpenWindowCount() == 1;
      other.close();
    });
  };
  RunCommandLine(QString());
  EXPECT_TRUE(other_closed_last);
  EXPECT_EQ(forms.calls(), kMainOnly);
}

TEST(WaitTest, PopupsDoNotCountAsWindows) {
  QWidget popup(nullptr, Qt::Popup);
  popup.show();
  QWidget tip(nullptr, Qt::ToolTip);
  tip.show();
  EXPECT_EQ(OpenWindowCount(), 0);
  WaitWhileWindowsOpen();  // returns at once
}

}  // namespace
}  // namespace sorvel

namespace sorvel {
namespace {

class MainSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramPathForTesting(QString::fromStdString((dir_ / "sorvel").string()));
    ini_ = QString::fromStdString((dir_ / "sorvel.INI").string());
  }
  void TearDown() override { SetProgramPathForTesting(QString()); }

  testing::ScratchDir dir_;
  QString ini_;
};

TEST_F(MainSettingsTest, AChangeIsWrittenAtTheLastRelease) {
  testing::FakeForms forms;
  forms.on_main_shown = [](QWidget* window) {
    ASSERT_NE(Settings(), nullptr);
    Settings()->SetPathTemp(QStringLiteral("/var/tmp/焼き"));
    // An automation object takes the settings too, and outlives the windows.
    AcquireSettings();
    QTimer::singleShot(0, window, &QWidget::close);
  };
  Main({QStringLiteral("/p/a.wpj")});
  EXPECT_EQ(forms.calls(), (QStringList{QStringLiteral("main:show"), QStringLiteral("main:load /p/a.wpj"),
                                       QStringLiteral("main:unload")}));
  ASSERT_NE(Settings(), nullptr);
  EXPECT_FALSE(QFileInfo::exists(ini_));
  ReleaseSettings();
  EXPECT_EQ(Settings(), nullptr);
  ASSERT_TRUE(QFileInfo::exists(ini_));
  ApplicationSetting reread(ini_);
  EXPECT_EQ(reread.PathTemp(), QStringLiteral("/var/tmp/焼き"));
}

TEST_F(MainSettingsTest, NothingChangedNothingWritten) {
  testing::FakeForms forms;
  Main({QStringLiteral("/images/image.iso")});
  EXPECT_EQ(forms.calls(), (QStringList{QStringLiteral("write-image /images/image.iso")}));
  EXPECT_EQ(Settings(), nullptr);
  EXPECT_FALSE(QFileInfo::exists(ini_));
}

TEST_F(MainSettingsTest, AutomationStartTakesNoSettings) {
  testing::FakeForms forms;
  Main({QStringLiteral("--automation")});
  EXPECT_TRUE(forms.calls().isEmpty());
  EXPECT_EQ(Settings(), nullptr);
}

}  // namespace
}  // namespace sorvel
