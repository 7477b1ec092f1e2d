// The analyse dialog on real widgets, the real device engine and emulated
// drives: TOC rows against cd-info, dumps against the image bytes, the
// subchannel views by read command, DVD dumps, the slider's single read, and
// the TOC saved as sheets that cdrdao reads.
#include "gui/dialogs/disc_analyze_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTreeWidget>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/model/device_setting.h"
#include "gui/model/trelin.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

using testing::CueFixture;
using testing::EmulatedDriveFixture;
using testing::FixtureTrack;

// A data track and two audio tracks with 2-second pregaps.
CueFixture MakeMixedCd(const std::filesystem::path& dir) {
  FixtureTrack data;
  data.audio = false;
  data.length = 600;
  FixtureTrack audio;
  audio.pregap = 150;
  audio.length = 450;
  return testing::MakeCueImage(dir, "source", {data, audio, audio});
}

// The bytes a dump view shows, row after row.
std::string DumpedBytes(const QTreeWidget* view) {
  std::string bytes;
  for (int i = 0; i < view->topLevelItemCount(); ++i) {
    for (const QString& hex : view->topLevelItem(i)->text(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
      bytes.push_back(static_cast<char>(hex.toInt(nullptr, 16)));
  }
  return bytes;
}

int CountReads(const EmulatedDriveFixture& drive) {
  int reads = 0;
  for (const auto& command : drive.hooks().log()) {
    const uint8_t op = command.opcode();
    if (op == 0x28 || op == 0xA8 || op == 0xBE) ++reads;
  }
  return reads;
}

class DiscAnalyzeFormTest : public ::testing::Test {
 protected:
  // Stores a drive setting of the form's drive, as the read parameter dialog does.
  template <typename Change>
  void ChangeSetting(DiscAnalyzeForm& form, Change&& change) {
    DeviceSetting setting;
    setting.LoadSetting(*form.panel()->device());
    change(setting);
    setting.SaveSetting();
  }

  // Emulated drive D: with `settings` for this test.
  EmulatedDriveFixture& UseDrive(const std::string& settings) {
    map_.reset();
    drive_ = std::make_unique<EmulatedDriveFixture>(dir_, settings);
    map_ = std::make_unique<testing::ScopedDriveMap>("D:=" + drive_->device());
    return *drive_;
  }
  // The mixed CD in D:.
  CueFixture UseMixedCd() {
    CueFixture cd = MakeMixedCd(dir_.path());
    UseDrive("image=" + cd.cue.string());
    return cd;
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  std::unique_ptr<EmulatedDriveFixture> drive_;
  std::unique_ptr<testing::ScopedDriveMap> map_;
};

TEST(HexDumpTest, UpperCaseDigitsAndPrintableCharacters) {
  const unsigned char bytes[] = {0x00, 0x1F, 0x20, 0x41, 0x7E, 0x7F, 0x80, 0xFF};
  EXPECT_EQ(HexDumpData(bytes, 8), QStringLiteral("00 1F 20 41 7E 7F 80 FF "));
  EXPECT_EQ(HexDumpAscii(bytes, 8), QStringLiteral(".. A~") + QChar(0x7F) + QStringLiteral(".."));
}

TEST_F(DiscAnalyzeFormTest, PressedCdAgreesWithCdInfoAndTheImage) {
  ASSERT_TRUE(testing::RequireTool("cd-info"));
  ASSERT_TRUE(testing::RequireTool("dd"));
  const CueFixture cd = UseMixedCd();
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  EXPECT_FALSE(form.nudLBA()->isEnabled());
  form.cmdStartStop()->click();
  EXPECT_TRUE(form.nudLBA()->isEnabled());
  EXPECT_TRUE(form.sldLBA()->isEnabled());
  EXPECT_EQ(form.nudLBA()->Min(), -150);
  EXPECT_EQ(form.nudLBA()->Max(), cd.leadout - 1);
  EXPECT_EQ(form.sldLBA()->minimum(), -150);
  EXPECT_EQ(form.sldLBA()->maximum(), cd.leadout - 1);

  // cd-info's reading of the source sheet: track number, LSN and kind.
  std::string out;
  testing::RunCommand("cd-info --no-device-info --no-cddb --cue-file '" + cd.cue.string() + "' 2>&1", &out);
  std::map<int, std::pair<int, std::string>> tools;
  const std::regex line(R"(\s*(\d+): \d\d:\d\d:\d\d\s+(\d+) (audio|data))");
  std::istringstream lines(out);
  for (std::string text; std::getline(lines, text);) {
    std::smatch match;
    if (std::regex_search(text, match, line) && match.position(0) == 0)
      tools[std::stoi(match[1])] = {std::stoi(match[2]), match[3]};
  }
  ASSERT_EQ(tools.size(), 3u) << out;
  int index_one_rows = 0;
  QTreeWidget* toc = form.lsvTOC();
  ASSERT_GT(toc->topLevelItemCount(), 3);
  for (int i = 0; i < toc->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = toc->topLevelItem(i);
    EXPECT_FALSE(row->icon(0).isNull());
    if (row->text(3) != QLatin1String("1")) continue;
    ++index_one_rows;
    const int track = row->text(2).toInt();
    ASSERT_EQ(tools.count(track), 1u) << track;
    EXPECT_EQ(row->text(4).section(QLatin1Char(' '), 0, 0).toInt(), tools[track].first) << track;
    EXPECT_EQ(row->text(0), tools[track].second == "audio" ? QStringLiteral("Audio") : QStringLiteral("Mode1"));
    EXPECT_EQ(row->text(1), QStringLiteral("1"));
  }
  EXPECT_EQ(index_one_rows, 3);
  // The pregap row of track 2: "StartLBA" with its MSF of the address + 150.
  const QTreeWidgetItem* pregap = toc->topLevelItem(1);
  EXPECT_EQ(pregap->text(2), QStringLiteral("2"));
  EXPECT_EQ(pregap->text(3), QStringLiteral("0"));
  EXPECT_EQ(pregap->text(4), QStringLiteral("600 (00:10:00)"));
  EXPECT_EQ(pregap->text(0), QStringLiteral("Audio"));

  // Sector 0 after the analysis; then sector 16 against the image's bytes.
  EXPECT_EQ(form.lsvMainChannel()->topLevelItemCount(), 147);
  EXPECT_EQ(form.StatusText(), QStringLiteral("LBA 0 から %1 まで読み込み可能です。").arg(cd.leadout - 1));
  form.nudLBA()->setValue(16);
  const std::string sector = (dir_.path() / "sector16").string();
  ASSERT_EQ(testing::RunCommand("dd if='" + cd.bin.string() + "' of='" + sector + "' bs=2352 skip=16 count=1 2>/dev/null"), 0);
  EXPECT_EQ(DumpedBytes(form.lsvMainChannel()), testing::ReadFileBytes(sector));
  QTreeWidget* main = form.lsvMainChannel();
  EXPECT_EQ(main->topLevelItem(0)->text(0), QStringLiteral("0000"));
  EXPECT_EQ(main->topLevelItem(146)->text(0), QStringLiteral("0920"));
  // The default read command reads 16 subchannel bytes: eight rows.
  EXPECT_EQ(form.lsvSubChannel()->topLevelItemCount(), 8);
  EXPECT_EQ(form.sldLBA()->value(), 16);
  EXPECT_EQ(main->palette().color(QPalette::Text), QApplication::palette(main).color(QPalette::Text));
}

TEST_F(DiscAnalyzeFormTest, SubchannelViewFollowsTheReadCommand) {
  const CueFixture cd = UseMixedCd();
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  ChangeSetting(form, [](DeviceSetting& s) { s.CDReadCommand = 1; });
  form.cmdStartStop()->click();
  EXPECT_EQ(form.lsvMainChannel()->topLevelItemCount(), 147);
  EXPECT_EQ(form.lsvSubChannel()->topLevelItemCount(), 0);

  ChangeSetting(form, [](DeviceSetting& s) {
    s.CDReadCommand = 3;
    s.IgnoreError = true;
  });
  form.cmdStartStop()->click();
  QTreeWidget* sub = form.lsvSubChannel();
  ASSERT_EQ(sub->topLevelItemCount(), 8);
  const char* names[] = {"P-Channel", "Q-Channel", "R-Channel", "S-Channel",
                         "T-Channel", "U-Channel", "V-Channel", "W-Channel"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(sub->topLevelItem(i)->text(0), QString::fromLatin1(names[i]));
    EXPECT_EQ(sub->topLevelItem(i)->text(1).size(), 36);
  }
  // Below the first readable LBA: dumped in red (errors ignored).
  form.nudLBA()->setValue(-1);
  EXPECT_EQ(form.lsvMainChannel()->topLevelItemCount(), 147);
  EXPECT_EQ(form.lsvMainChannel()->palette().color(QPalette::Text), QColor(255, 0, 0));
  EXPECT_EQ(sub->palette().color(QPalette::Text), QColor(255, 0, 0));
  form.nudLBA()->setValue(5);
  EXPECT_NE(form.lsvMainChannel()->palette().color(QPalette::Text), QColor(255, 0, 0));
}

TEST_F(DiscAnalyzeFormTest, UnreadableSectorShowsTheFailureWithoutDump) {
  const CueFixture cd = UseMixedCd();
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  form.cmdStartStop()->click();
  form.DumpSector(cd.leadout + 100);
  EXPECT_EQ(form.StatusText(), QStringLiteral("読み込み失敗！ (LBA=%1)").arg(cd.leadout + 100));
  EXPECT_EQ(form.lsvMainChannel()->topLevelItemCount(), 0);
  EXPECT_EQ(form.lsvSubChannel()->topLevelItemCount(), 0);
}

TEST_F(DiscAnalyzeFormTest, DvdSectorHas128Rows) {
  const std::filesystem::path iso = testing::MakeIsoImage(dir_.path(), "dvd", {{"a.txt", "hello"}});
  ASSERT_FALSE(iso.empty());
  UseDrive("medium=dvd-rom,image=" + iso.string());
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  form.cmdStartStop()->click();
  EXPECT_EQ(form.nudLBA()->Min(), 0);
  QTreeWidget* main = form.lsvMainChannel();
  ASSERT_EQ(main->topLevelItemCount(), 128);
  EXPECT_EQ(main->topLevelItem(127)->text(0), QStringLiteral("07F0"));
  EXPECT_EQ(form.lsvSubChannel()->topLevelItemCount(), 0);
  // Sector 16: the primary volume descriptor.
  form.nudLBA()->setValue(16);
  EXPECT_EQ(DumpedBytes(main), testing::ReadFileBytes(iso).substr(16 * 2048, 2048));
  EXPECT_TRUE(main->topLevelItem(0)->text(2).startsWith(QStringLiteral(".CD001")));
}

TEST_F(DiscAnalyzeFormTest, BurstOfSliderMovesReadsOnce) {
  UseMixedCd();
  EmulatedDriveFixture& drive = *drive_;
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  form.cmdStartStop()->click();
  drive.hooks().ClearLog();
  for (int lba : {100, 300, 700, 1000, 1300}) form.sldLBA()->setValue(lba);
  EXPECT_EQ(CountReads(drive), 0);
  testing::WaitFor([] { return false; }, 100);
  EXPECT_EQ(CountReads(drive), 1);
  EXPECT_EQ(form.nudLBA()->Value(), 1300);
  EXPECT_EQ(form.sldLBA()->value(), 1300);
  // The box moves the slider without a second read.
  drive.hooks().ClearLog();
  form.nudLBA()->setValue(40);
  testing::WaitFor([] { return false; }, 50);
  EXPECT_EQ(form.sldLBA()->value(), 40);
  EXPECT_EQ(CountReads(drive), 1);
}

TEST_F(DiscAnalyzeFormTest, TocSavedAsSheetAndDescriptor) {
  ASSERT_TRUE(testing::RequireTool("cdrdao"));
  const CueFixture cd = UseMixedCd();
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  form.cmdStartStop()->click();
  const std::filesystem::path out = dir_.path() / "out";
  std::filesystem::create_directories(out);

  ui_.QueueSaveFile(QString::fromStdString((out / "Disc.cue").string()));
  form.cmdSaveTOC()->click();
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("CUEファイル(*.cue)|*.cue|CCDファイル(*.ccd)|*.ccd"));
  EXPECT_EQ(ui_.dialogs()[0].default_path, QStringLiteral("Image.cue"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 0x806);
  EXPECT_TRUE(ui_.messages().isEmpty());
  const std::string sheet = testing::ReadFileBytes(out / "Disc.cue");
  EXPECT_NE(sheet.find("FILE \"Disc.img\" BINARY"), std::string::npos) << sheet;
  EXPECT_FALSE(std::filesystem::exists(out / "Disc.img"));
  // cdrdao opens the image the FILE line names.
  std::filesystem::copy_file(cd.bin, out / "Disc.img");
  std::string shown;
  ASSERT_EQ(testing::RunCommand("cd '" + out.string() + "' && cdrdao show-toc Disc.cue 2>&1", &shown), 0) << shown;
  EXPECT_NE(shown.find("TRACK  3"), std::string::npos) << shown;
  EXPECT_NE(shown.find("PREGAP 00:02:00(   150)"), std::string::npos) << shown;

  ui_.QueueSaveFile(QString::fromStdString((out / "Disc.Ccd").string()));
  form.cmdSaveTOC()->click();
  EXPECT_TRUE(ui_.messages().isEmpty());
  const std::string ccd = testing::ReadFileBytes(out / "Disc.Ccd");
  EXPECT_EQ(ccd.rfind("[CloneCD]", 0), 0u) << ccd;
  EXPECT_NE(ccd.find("TocEntries="), std::string::npos);

  ui_.QueueSaveFile(QString::fromStdString((out / "Disc.txt").string()));
  form.cmdSaveTOC()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(ui_.messages()[0].caption, QString());
  EXPECT_TRUE(ui_.messages()[0].text.startsWith(QStringLiteral("ファイルを保存できませんでした。\r\n不正な拡張子")));
  EXPECT_FALSE(std::filesystem::exists(out / "Disc.txt"));

  // A name the sheet cannot hold for its image is told as such, and nothing is written.
  ui_.Clear();
  for (const char* name : {"say \"hi\"", "two\nlines"}) {
    ui_.QueueSaveFile(QString::fromStdString((out / (std::string(name) + ".cue")).string()));
    form.cmdSaveTOC()->click();
    ASSERT_EQ(ui_.messages().size(), 1u) << name;
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("ファイル %1 の名前はCUEシートに記述できません。")
                                          .arg(QString::fromStdString((out / (std::string(name) + ".img")).string())));
    EXPECT_FALSE(std::filesystem::exists(out / (std::string(name) + ".cue")));
    ui_.Clear();
  }

  // Cancelled: nothing.
  ui_.Clear();
  form.cmdSaveTOC()->click();
  EXPECT_EQ(ui_.dialogs().size(), 1);
  EXPECT_TRUE(ui_.messages().isEmpty());
}

TEST_F(DiscAnalyzeFormTest, BlankDiscCannotBeSaved) {
  UseDrive("medium=cd-r");
  DiscAnalyzeForm form;
  ASSERT_NE(form.panel()->device(), nullptr);
  form.cmdStartStop()->click();
  EXPECT_EQ(form.lsvTOC()->topLevelItemCount(), 0);
  ui_.QueueSaveFile(env_.Path("Blank.cue"));
  form.cmdSaveTOC()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_FALSE(QFile::exists(env_.Path("Blank.cue")));
}

TEST_F(DiscAnalyzeFormTest, NoDriveDoesNothing) {
  testing::ScopedDriveMap map("");
  DiscAnalyzeForm form;
  EXPECT_EQ(form.panel()->device(), nullptr);
  form.cmdStartStop()->click();
  form.cmdSaveTOC()->click();
  EXPECT_TRUE(ui_.dialogs().isEmpty());
  EXPECT_EQ(form.lsvTOC()->topLevelItemCount(), 0);
  form.DumpSector(3);
  EXPECT_EQ(form.StatusText(), QString());
}

TEST_F(DiscAnalyzeFormTest, TabsShowOneViewAndTheDriveChangeClears) {
  const CueFixture cd = MakeMixedCd(dir_.path());
  EmulatedDriveFixture drive(dir_, "image=" + cd.cue.string());
  EmulatedDriveFixture blank(dir_, "medium=cd-r", "blank");
  testing::ScopedDriveMap map("D:=" + drive.device() + ";E:=" + blank.device());
  DiscAnalyzeForm form;
  form.show();
  form.cmdStartStop()->click();
  for (int tab = 0; tab < 3; ++tab) {
    form.tabMain()->setCurrentIndex(tab);
    EXPECT_EQ(form.lsvTOC()->isVisible(), tab == 0);
    EXPECT_EQ(form.lsvMainChannel()->isVisible(), tab == 1);
    EXPECT_EQ(form.lsvSubChannel()->isVisible(), tab == 2);
  }
  ASSERT_GT(form.lsvTOC()->topLevelItemCount(), 0);
  QComboBox* drives = form.panel()->drive_combo();
  ASSERT_EQ(drives->count(), 2);
  drives->setCurrentIndex(1);
  emit drives->activated(1);
  EXPECT_EQ(form.lsvTOC()->topLevelItemCount(), 0);
  EXPECT_EQ(form.lsvMainChannel()->topLevelItemCount(), 0);
  EXPECT_FALSE(form.nudLBA()->isEnabled());
  EXPECT_FALSE(form.sldLBA()->isEnabled());
  EXPECT_EQ(form.StatusText(), QString());
  form.cmdEnd()->click();
  EXPECT_FALSE(form.isVisible());
}

// Each activation that comes from one of the program's own windows (a box, a
// dialog) gives the slider the focus; coming back from another program keeps
// the focus where the user left it.
TEST_F(DiscAnalyzeFormTest, ActivationGivesTheSliderTheFocus) {
  UseMixedCd();
  DiscAnalyzeForm form;
  form.show();
  form.cmdStartStop()->click();
  ASSERT_TRUE(form.sldLBA()->isEnabled());
  QWidget own_window;
  own_window.show();
  struct Case {
    const char* name;
    QWidget* away;  // the window active meanwhile; none for another program
    bool slider_focused;
  };
  for (const Case& c : {Case{"own window", &own_window, true}, Case{"other program", nullptr, false},
                        Case{"own window again", &own_window, true}}) {
    SCOPED_TRACE(c.name);
    // The window system's activations arrive as events: each one is awaited.
    auto activate = [](QWidget* window) {
      QApplication::setActiveWindow(window);
      return testing::WaitFor([window] { return QApplication::activeWindow() == window; }, 5000);
    };
    ASSERT_TRUE(activate(&form));
    form.cmdEnd()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), form.cmdEnd());
    ASSERT_TRUE(activate(c.away));
    ASSERT_TRUE(activate(&form));
    EXPECT_EQ(QApplication::focusWidget() == form.sldLBA(), c.slider_focused);
    EXPECT_EQ(QApplication::focusWidget() == form.cmdEnd(), !c.slider_focused);
  }
  form.cmdEnd()->click();
}

TEST_F(DiscAnalyzeFormTest, DiscAnalyzeFormScreenshot) {
  const CueFixture cd = MakeMixedCd(dir_.path());
  EmulatedDriveFixture drive(dir_, "image=" + cd.cue.string() + ",vendor=SORVEL,product=EMU-READER");
  testing::ScopedDriveMap map("D:=" + drive.device());
  DiscAnalyzeForm form;
  form.show();
  form.cmdStartStop()->click();
  testing::SaveScreenshot(&form, QStringLiteral("DiscAnalyzeForm"));
}

}  // namespace
}  // namespace sorvel
