// The configuration dialog on real widgets over a settings file in a scratch
// folder: what it loads, what OK stores (read back by python3's configparser),
// what the ways of cancelling leave alone, the address list, the history
// database chooser (judged by sqlite3), and a kestrow found on the loopback
// port and address set here.
#include "gui/dialogs/property_configuration_form.h"

#include <gtest/gtest.h>

#include "gui/foundation/file_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/foundation/application_setting.h"
#include "testing/file_bytes.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"

namespace sorvel {
namespace {

using Values = std::map<std::string, std::string>;

const QString kCaption = QStringLiteral("設定");

// "SECTION.KEY" -> value of every key of an INI file, as python3's configparser reads it.
Values ReadIni(const std::filesystem::path& file) {
  Values values;
  if (!testing::RequireTool("python3")) return values;
  const std::string script =
      "import configparser,sys\n"
      "p=configparser.RawConfigParser(strict=False)\n"
      "p.optionxform=str\n"
      "p.read(sys.argv[1],encoding='utf-8-sig')\n"
      "[print(s+'.'+k+'='+v) for s in p.sections() for k,v in p.items(s)]\n";
  const std::filesystem::path script_file = file.parent_path() / "read_ini.py";
  testing::WriteFileBytes(script_file, script);
  std::string output;
  EXPECT_EQ(testing::RunCommand("python3 '" + script_file.string() + "' '" + file.string() + "'", &output), 0);
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const char* const kStoredSettings =
    "[PATH]\n"
    "TEMP=/var/tmp/sorvel\n"
    "LOG=/home/user/SORVEL.MDB\n"
    "LOGVIEWER=/usr/bin/history-viewer\n"
    "[WRITING]\n"
    "VERIFYCOMPARE=0\n"
    "EJECTAFTERMESSAGE=1\n"
    "SHUTDOWNSUCCESS=0\n"
    "SHUTDOWNFAILED=99\n"
    "[NETWORK]\n"
    "PORT=8801\n"
    "IP1=192.168.10.255\n"
    "IP2=10.0.0.255\n"
    "IP3=172.16.255.255\n"
    "SCANTIMEOUT=50\n";

class PropertyConfigurationFormTest : public ::testing::Test {
 protected:
  // Writes the settings file (CR LF lines), then sets up settings and engines.
  void Start(const std::string& ini = kStoredSettings) {
    if (!ini.empty()) testing::WriteFileBytes(IniPath(), WithCrLf(ini));
    env_.emplace(dir_);
    ASSERT_EQ(Settings()->FilePath(), QString::fromStdString(IniPath().string()));
  }
  void TearDown() override { env_.reset(); }
  std::filesystem::path IniPath() const { return dir_ / "sorvel.INI"; }

  testing::ScratchDir dir_;
  testing::ScriptedModalUi ui_;
  std::optional<testing::DialogTestEnvironment> env_;
};

TEST_F(PropertyConfigurationFormTest, LoadsTheSettingsIntoTheControls) {
  Start();
  PropertyConfigurationForm form;
  EXPECT_EQ(form.windowTitle(), kCaption);
  EXPECT_EQ(form.tabMain->count(), 3);
  EXPECT_EQ(form.tabMain->tabText(0), QStringLiteral("パス"));
  EXPECT_EQ(form.tabMain->tabText(1), QStringLiteral("書き込み"));
  EXPECT_EQ(form.tabMain->tabText(2), QStringLiteral("通信"));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());

  EXPECT_TRUE(form.chkTempPath->isChecked());
  EXPECT_EQ(form.txtTempPath->text(), QStringLiteral("/var/tmp/sorvel"));
  EXPECT_TRUE(form.chkLogPath->isChecked());
  EXPECT_EQ(form.txtLogPath->text(), QStringLiteral("/home/user/SORVEL.MDB"));
  EXPECT_EQ(form.txtLogViewerPath->text(), QStringLiteral("/usr/bin/history-viewer"));
  EXPECT_FALSE(form.chkVerifyCompare->isChecked());
  EXPECT_TRUE(form.chkEjectAfterMessage->isChecked());

  // Item texts and codes of both power-action lists.
  const QStringList failed_texts = {"電源を切る", "待機状態", "休止状態", "何もしない"};
  const QList<int> codes = {8, 0x8000, 0x4000, 0};
  ASSERT_EQ(form.cboShutdownFailed->count(), 4);
  ASSERT_EQ(form.cboShutdownSuccess->count(), 3);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(form.cboShutdownFailed->itemText(i), failed_texts[i]);
    EXPECT_EQ(form.cboShutdownFailed->itemData(i).toInt(), codes[i]);
    if (i < 3) {
      EXPECT_EQ(form.cboShutdownSuccess->itemText(i), failed_texts[i]);
      EXPECT_EQ(form.cboShutdownSuccess->itemData(i).toInt(), codes[i]);
    }
  }
  // 99 matches nothing: 何もしない stays; 0 is not offered on success: 電源を切る stays.
  EXPECT_EQ(form.cboShutdownFailed->currentText(), QStringLiteral("何もしない"));
  EXPECT_EQ(form.cboShutdownSuccess->currentText(), QStringLiteral("電源を切る"));

  EXPECT_EQ(form.nudRemotePort->Value(), 8801);
  EXPECT_EQ(form.nudScanTimeout->Value(), 100);
  ASSERT_EQ(form.lstRemoteIP->count(), 3);
  EXPECT_EQ(form.lstRemoteIP->item(2)->text(), QStringLiteral("172.16.255.255"));
  // The address box and list use a fixed-pitch font that has Japanese glyphs.
  const QFontInfo used(form.lstRemoteIP->font());
  EXPECT_TRUE(used.family().contains(QStringLiteral("Mono CJK"))) << used.family().toStdString();
  EXPECT_EQ(used.pointSize(), 9);
  const QFontMetrics metrics(form.lstRemoteIP->font());
  EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("1111")), metrics.horizontalAdvance(QStringLiteral("WWWW")));
  EXPECT_TRUE(metrics.inFontUcs4(U'削'));
  EXPECT_EQ(form.txtRemoteIP->font(), form.lstRemoteIP->font());
  EXPECT_NE(QFontInfo(form.chkLogPath->font()).family(), used.family());
}

TEST_F(PropertyConfigurationFormTest, StoredCodesThatMatchSelectTheirItems) {
  Start("[WRITING]\nSHUTDOWNSUCCESS=16384\nSHUTDOWNFAILED=32768\n[NETWORK]\nSCANTIMEOUT=5000\nPORT=70000\n");
  PropertyConfigurationForm form;
  EXPECT_EQ(form.cboShutdownSuccess->currentText(), QStringLiteral("休止状態"));
  EXPECT_EQ(form.cboShutdownFailed->currentText(), QStringLiteral("待機状態"));
  EXPECT_EQ(form.nudScanTimeout->Value(), 1000);
  EXPECT_EQ(form.nudRemotePort->Value(), 65535);
  EXPECT_EQ(form.lstRemoteIP->count(), 0);
  EXPECT_FALSE(form.chkTempPath->isChecked());
  EXPECT_FALSE(form.chkLogPath->isChecked());
}

// The main window's way in: centred on it, modal, gone after キャンセル.
TEST_F(PropertyConfigurationFormTest, ShowModalCentresOnTheMainWindow) {
  Start();
  QWidget main_window;
  main_window.setGeometry(100, 80, 900, 700);
  main_window.show();
  QPoint centre;
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<PropertyConfigurationForm*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    seen = form->isModal() && form->isVisible();
    centre = form->frameGeometry().center();
    form->cmdCancel->click();
  });
  EXPECT_FALSE(PropertyConfigurationForm::ShowModal(&main_window));
  EXPECT_TRUE(seen);
  // Within the window frame's margin: a form that was never shown is placed by its inner size.
  EXPECT_LE((centre - main_window.frameGeometry().center()).manhattanLength(), 4);
}

TEST_F(PropertyConfigurationFormTest, TabsShowOneFrameEach) {
  Start();
  PropertyConfigurationForm form;
  form.show();
  const QFrame* frames[3] = {form.fraPath, form.fraShutdown, form.fraNetwork};
  for (int tab : {0, 2, 1, 0}) {
    form.tabMain->setCurrentIndex(tab);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(frames[i]->isVisible(), i == tab) << tab << " " << i;
  }
}

TEST_F(PropertyConfigurationFormTest, OkStoresEveryControlAndRemovesDeletedAddresses) {
  Start();
  PropertyConfigurationForm form;
  form.show();
  form.lstRemoteIP->setCurrentRow(1);
  ui_.QueueAnswer(kIdYes);
  form.cmdIPDelete->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("10.0.0.255 を削除しますか。"));
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_EQ(ui_.messages()[0].caption, kCaption);
  EXPECT_EQ(ui_.messages()[0].owner, &form);
  ASSERT_EQ(form.lstRemoteIP->count(), 2);
  form.chkVerifyCompare->setChecked(true);
  form.txtTempPath->setText(QStringLiteral("  /scratch/tmp  "));
  form.nudRemotePort->setValue(9000);
  form.cmdOK->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.saved());

  const Values values = ReadIni(IniPath());
  EXPECT_EQ(values.at("NETWORK.IP1"), "192.168.10.255");
  EXPECT_EQ(values.at("NETWORK.IP2"), "172.16.255.255");
  EXPECT_EQ(values.count("NETWORK.IP3"), 0u);
  EXPECT_EQ(values.at("NETWORK.SCANTIMEOUT"), "100");
  EXPECT_EQ(values.at("NETWORK.PORT"), "9000");
  EXPECT_EQ(values.at("WRITING.SHUTDOWNSUCCESS"), "8");
  EXPECT_EQ(values.at("WRITING.SHUTDOWNFAILED"), "0");
  EXPECT_EQ(values.at("WRITING.VERIFYCOMPARE"), "1");
  EXPECT_EQ(values.at("WRITING.EJECTAFTERMESSAGE"), "1");
  EXPECT_EQ(values.at("PATH.TEMP"), "/scratch/tmp");
  EXPECT_EQ(values.at("PATH.LOG"), "/home/user/SORVEL.MDB");
  EXPECT_EQ(values.at("PATH.LOGVIEWER"), "/usr/bin/history-viewer");
}

// OK on an untouched dialog still writes every setting, so the save has
// something to write and succeeds; the stored values keep their meaning.
TEST_F(PropertyConfigurationFormTest, OkWithoutChangesSavesAndCloses) {
  Start("[NETWORK]\nIP1=10.1.2.255\n");
  PropertyConfigurationForm form;
  form.show();
  form.cmdOK->click();
  EXPECT_TRUE(form.saved());
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(ui_.messages().isEmpty());
  const Values values = ReadIni(IniPath());
  EXPECT_EQ(values.at("NETWORK.IP1"), "10.1.2.255");
  EXPECT_EQ(values.at("NETWORK.PORT"), "8801");
  EXPECT_EQ(values.at("NETWORK.SCANTIMEOUT"), "200");
  EXPECT_EQ(values.at("WRITING.SHUTDOWNSUCCESS"), "8");
  EXPECT_EQ(values.at("WRITING.SHUTDOWNFAILED"), "0");
  EXPECT_EQ(values.at("WRITING.VERIFYCOMPARE"), "1");
}

TEST_F(PropertyConfigurationFormTest, UntickedBoxesClearTheirPaths) {
  Start();
  PropertyConfigurationForm form;
  form.show();
  form.chkLogPath->setChecked(false);
  form.chkTempPath->setChecked(false);
  form.cmdOK->click();
  ASSERT_TRUE(form.saved());
  const Values values = ReadIni(IniPath());
  for (const char* key : {"PATH.TEMP", "PATH.LOG", "PATH.LOGVIEWER"}) {
    EXPECT_TRUE(values.count(key) == 0 || values.at(key).empty()) << key;
  }
  EXPECT_EQ(Settings()->PathLogViewer(), QString());
}

TEST_F(PropertyConfigurationFormTest, CancelEscapeAndCloseBoxLeaveTheFileAlone) {
  Start();
  const std::string before = testing::ReadFileBytes(IniPath());
  const std::function<void(PropertyConfigurationForm&)> ways[] = {
      [](PropertyConfigurationForm& form) { form.cmdCancel->click(); },
      [](PropertyConfigurationForm& form) { QTest::keyClick(&form, Qt::Key_Escape); },
      [](PropertyConfigurationForm& form) { form.close(); },
  };
  for (const auto& way : ways) {
    {
      PropertyConfigurationForm form;
      form.show();
      form.chkVerifyCompare->setChecked(true);
      form.lstRemoteIP->clear();
      form.nudScanTimeout->setValue(700);
      way(form);
      EXPECT_FALSE(form.isVisible());
      EXPECT_FALSE(form.saved());
    }
    EXPECT_FALSE(Settings()->IsChanged());
    EXPECT_EQ(testing::ReadFileBytes(IniPath()), before);
  }
  env_.reset();  // the last release saves only what changed: nothing
  EXPECT_EQ(testing::ReadFileBytes(IniPath()), before);
}

TEST_F(PropertyConfigurationFormTest, FailedSaveKeepsTheDialogOpen) {
  // The settings file's name is taken by a folder: it cannot be written.
  std::filesystem::create_directory(IniPath());
  Start("");
  PropertyConfigurationForm form;
  form.show();
  form.cmdOK->click();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.saved());
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("設定を保存できませんでした。"));
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(ui_.messages()[0].caption, kCaption);
  EXPECT_TRUE(std::filesystem::is_directory(IniPath()));
  form.cmdCancel->click();
  EXPECT_FALSE(form.isVisible());
}

TEST_F(PropertyConfigurationFormTest, AddressesAreCheckedAndNormalised) {
  Start("");
  PropertyConfigurationForm form;
  const QString invalid = QStringLiteral("指定されたIPアドレスは不正です。");
  const struct {
    const char* typed;
    const char* added;  // null: refused with `message`
  } cases[] = {
      {" 192.168.1.255 ", "192.168.1.255"},
      {"192.168.001.010", "192.168.1.10"},
      {"192.168.1.10", "192.168.1.10"},  // a duplicate is added again
      {"300.1.1.1", "44.1.1.1"},
      {"10..0.255", "10.0.0.255"},
      {"0.0.0.0", nullptr},
      {"255.255.255.255", nullptr},
      {"256.0.0.0", nullptr},  // 0.0.0.0 after reduction
      {"10", nullptr},
      {"1.2.3", nullptr},
      {".1.2.3", nullptr},
      {"1.2.3.4.5", nullptr},
      {"1.2.x.4", nullptr},
      {"1.2.3.2147483648", nullptr},
      {"99999999999999999999.1.1.1", nullptr},
  };
  QStringList expected;
  for (const auto& c : cases) {
    ui_.Clear();
    const QString typed = QString::fromLatin1(c.typed);
    form.txtRemoteIP->setText(typed);
    form.cmdIPAdd->click();
    if (c.added != nullptr) {
      expected << QLatin1String(c.added);
      EXPECT_TRUE(ui_.messages().isEmpty()) << c.typed;
      EXPECT_EQ(form.txtRemoteIP->text(), QString()) << c.typed;
    } else {
      ASSERT_EQ(ui_.messages().size(), 1) << c.typed;
      EXPECT_EQ(ui_.messages()[0].text, invalid) << c.typed;
      EXPECT_EQ(ui_.messages()[0].style, 48);
      EXPECT_EQ(form.txtRemoteIP->text(), typed) << c.typed;
    }
  }
  QStringList listed;
  for (int i = 0; i < form.lstRemoteIP->count(); ++i) listed << form.lstRemoteIP->item(i)->text();
  EXPECT_EQ(listed, expected);

  ui_.Clear();
  form.txtRemoteIP->setText(QStringLiteral("   "));
  form.cmdIPAdd->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("IPアドレスを入力してください。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(form.lstRemoteIP->count(), expected.size());
}

TEST(ParseRemoteAddressTest, PartsBeyondThirtyTwoBitsAreRefused) {
  EXPECT_EQ(ParseRemoteAddress(QStringLiteral("2147483647.0.0.1")), std::optional<int32_t>(0xFF000001));
  EXPECT_EQ(ParseRemoteAddress(QStringLiteral("-1.0.0.1")), std::optional<int32_t>(0xFF000001));
  EXPECT_EQ(ParseRemoteAddress(QStringLiteral("-2147483648.0.0.1")), std::optional<int32_t>(1));
  EXPECT_FALSE(ParseRemoteAddress(QStringLiteral("-2147483649.0.0.1")));
  EXPECT_FALSE(ParseRemoteAddress(QStringLiteral("1.2.3.-")));
  EXPECT_FALSE(ParseRemoteAddress(QString()));
}

TEST_F(PropertyConfigurationFormTest, DeleteNeedsASelectionAndAYes) {
  Start();
  PropertyConfigurationForm form;
  form.show();
  form.lstRemoteIP->clearSelection();
  form.lstRemoteIP->setCurrentItem(nullptr);
  form.cmdIPDelete->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("削除対象のIPアドレスを選択してください。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(form.lstRemoteIP->count(), 3);

  ui_.Clear();
  form.lstRemoteIP->setCurrentRow(0);
  ui_.QueueAnswer(kIdNo);
  form.cmdIPDelete->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(form.lstRemoteIP->count(), 3);
}

TEST_F(PropertyConfigurationFormTest, TempAndViewerBrowsers) {
  Start("");
  PropertyConfigurationForm form;
  form.cmdTempPath->click();  // cancelled
  EXPECT_FALSE(form.chkTempPath->isChecked());
  EXPECT_EQ(form.txtTempPath->text(), QString());
  ui_.QueueFolder(QStringLiteral("/srv/scratch"));
  form.cmdTempPath->click();
  EXPECT_TRUE(form.chkTempPath->isChecked());
  EXPECT_EQ(form.txtTempPath->text(), QStringLiteral("/srv/scratch"));

  ui_.QueueOpenFiles({QStringLiteral("/opt/viewer/bin/viewer")});
  form.cmdLogViewerPath->click();
  EXPECT_EQ(form.txtLogViewerPath->text(), QStringLiteral("/opt/viewer/bin/viewer"));
  EXPECT_FALSE(form.chkLogPath->isChecked());

  ASSERT_EQ(ui_.dialogs().size(), 3);
  EXPECT_EQ(ui_.dialogs()[0].kind, testing::ShownFileDialog::kFolder);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("中間パスを指定してください。"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 1);
  EXPECT_EQ(ui_.dialogs()[2].kind, testing::ShownFileDialog::kOpen);
  EXPECT_EQ(ui_.dialogs()[2].filter, QStringLiteral("マスタリング履歴閲覧プログラム|*"));
  EXPECT_EQ(ui_.dialogs()[2].default_path, QString());
  EXPECT_EQ(ui_.dialogs()[2].flags, 0x1800 | kFileDialogExecutables);
  EXPECT_TRUE(ui_.messages().isEmpty());
}

TEST_F(PropertyConfigurationFormTest, HistoryDatabaseIsCreatedReusedOrRefused) {
  Start("");
  if (!testing::RequireTool("sqlite3")) return;
  PropertyConfigurationForm form;
  const std::filesystem::path database = dir_ / "history.mdb";
  ui_.QueueSaveFile(QString::fromStdString(database.string()));
  form.cmdLogPath->click();
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].kind, testing::ShownFileDialog::kSave);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("マスタリング履歴データベース(*.mdb)|*.mdb"));
  EXPECT_EQ(ui_.dialogs()[0].default_path, QStringLiteral("SORVEL.MDB"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 0x806);
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_TRUE(form.chkLogPath->isChecked());
  EXPECT_EQ(form.txtLogPath->text(), QString::fromStdString(database.string()));
  std::string tables;
  ASSERT_EQ(testing::RunCommand("sqlite3 '" + database.string() + "' .tables", &tables), 0);
  for (const char* table : {"DISC", "FILE", "TRACK", "TRACKTEXT"}) {
    EXPECT_NE(tables.find(table), std::string::npos) << table << " in " << tables;
  }

  // The same database chosen again is taken as it is.
  form.chkLogPath->setChecked(false);
  form.txtLogPath->clear();
  const std::string database_bytes = testing::ReadFileBytes(database);
  ui_.QueueSaveFile(QString::fromStdString(database.string()));
  form.cmdLogPath->click();
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_TRUE(form.chkLogPath->isChecked());
  EXPECT_EQ(form.txtLogPath->text(), QString::fromStdString(database.string()));

  // Any other file is refused and keeps its bytes.
  const std::filesystem::path text_file = dir_ / "notes.mdb";
  const std::string text = "not a database\r\nsecond line\r\n";
  testing::WriteFileBytes(text_file, text);
  ui_.QueueSaveFile(QString::fromStdString(text_file.string()));
  form.cmdLogPath->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text,
            QStringLiteral("ファイル ") + QString::fromStdString(text_file.string()) + QStringLiteral(" に書き込めません。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(ui_.messages()[0].caption, kCaption);
  EXPECT_EQ(testing::ReadFileBytes(text_file), text);
  EXPECT_EQ(form.txtLogPath->text(), QString::fromStdString(database.string()));

  // Cancelled: nothing changes.
  form.cmdLogPath->click();
  EXPECT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(form.txtLogPath->text(), QString::fromStdString(database.string()));
}

// Port and address set in this dialog lead a drive panel to a real kestrow.
TEST_F(PropertyConfigurationFormTest, DrivePanelFindsKestrowThroughTheSettingsMadeHere) {
  Start("");
  testing::FixedInterfaces no_interfaces;
  testing::ScopedDriveMap map("D:=emu:" + env_->State("local.state") + ",medium=cd-r,product=LOCAL");
  testing::KestrowStandalone daemon(dir_ / "daemon",
                                    "D:=emu:" + env_->State("rd.state") + ",medium=cd-r,product=REMOTE-D;E:=emu:" +
                                        env_->State("re.state") + ",medium=dvd-r,product=REMOTE-E",
                                    "DE");
  ASSERT_TRUE(daemon.Start());
  {
    PropertyConfigurationForm form;
    form.show();
    form.tabMain->setCurrentIndex(2);
    form.nudRemotePort->setValue(daemon.port());
    form.nudScanTimeout->setValue(300);
    form.txtRemoteIP->setText(QStringLiteral("127.0.0.1"));
    form.cmdIPAdd->click();
    form.cmdOK->click();
    ASSERT_TRUE(form.saved());
    EXPECT_TRUE(ui_.messages().isEmpty());
  }
  const Values values = ReadIni(IniPath());
  EXPECT_EQ(values.at("NETWORK.PORT"), std::to_string(daemon.port()));
  EXPECT_EQ(values.at("NETWORK.IP1"), "127.0.0.1");

  testing::DrivePanelHarnessForm panel_form(DriveSide::kRead);
  panel_form.panel->Load();
  // A daemon that has just started may miss the first datagram: the user tries again.
  for (int attempt = 0; attempt < 5 && !panel_form.panel->network_box()->isChecked(); ++attempt) {
    ui_.Clear();
    panel_form.panel->network_box()->click();
  }
  ASSERT_TRUE(panel_form.panel->network_box()->isChecked());
  QComboBox* drives = panel_form.panel->drive_combo();
  ASSERT_EQ(drives->count(), 2);
  EXPECT_TRUE(drives->itemText(0).contains(QStringLiteral("REMOTE-D"))) << drives->itemText(0).toStdString();
  EXPECT_TRUE(drives->itemText(1).contains(QStringLiteral("REMOTE-E"))) << drives->itemText(1).toStdString();
  panel_form.panel->Unload();
}

TEST_F(PropertyConfigurationFormTest, Screenshot) {
  Start();
  PropertyConfigurationForm form;
  form.txtRemoteIP->setText(QStringLiteral("192.168.001.010"));
  for (int tab = 0; tab < 3; ++tab) {
    form.tabMain->setCurrentIndex(tab);
    if (tab == 2) form.lstRemoteIP->setCurrentRow(1);
    EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("PropertyConfigurationForm-%1").arg(tab + 1)).isEmpty());
  }
}

}  // namespace
}  // namespace sorvel
