// The rip dialogs on real widgets, the real device engine and emulated drives:
// the track rows, renaming, the rip of audio and data tracks checked with
// python3's wave and cmp, stopping, TOCs numbered from 2 or with a gap, and a
// rip through a kestrow on the loopback interface.
#include "gui/dialogs/track_ripping_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <csignal>
#include <filesystem>

#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/track_ripping_sub_form.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/termination.h"
#include "gui/jobs/disc_ripper.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"

namespace sorvel {
namespace {

using testing::CueFixture;
using testing::EmulatedDriveFixture;
using testing::FixtureTrack;

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

CueFixture MakeAudioCd(const std::filesystem::path& dir) {
  FixtureTrack audio;
  audio.pregap = 150;
  audio.length = 300;
  return testing::MakeCueImage(dir, "audio", {audio, audio, audio});
}

QStringList Column(const QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

// The PREVENT (1) and ALLOW (0) MEDIUM REMOVAL commands of the log, in order.
std::vector<int> LockCommands(const EmulatedDriveFixture& drive) {
  std::vector<int> locks;
  for (const auto& command : drive.hooks().log()) {
    if (command.opcode() == 0x1E && command.cdb.size() > 4) locks.push_back(command.cdb[4] & 1);
  }
  return locks;
}

// The WAV's header is read by python3's wave; its PCM equals the image's
// sectors [first, first + count).
void ExpectWave(const std::filesystem::path& wav, const std::filesystem::path& bin, int32_t first, int32_t count,
                const std::filesystem::path& scratch) {
  std::string out;
  ASSERT_EQ(testing::RunCommand("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                                "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\" '" +
                                    wav.string() + "'",
                                &out),
            0)
      << out;
  EXPECT_EQ(out, "2 2 44100 " + std::to_string(count * 588) + "\n") << wav;
  const std::string pcm = (scratch / "pcm").string();
  const std::string expected = (scratch / "expected").string();
  ASSERT_EQ(testing::RunCommand("tail -c +45 '" + wav.string() + "' > '" + pcm + "' && dd if='" + bin.string() +
                                "' of='" + expected + "' bs=2352 skip=" + std::to_string(first) +
                                " count=" + std::to_string(count) + " 2>/dev/null"),
            0);
  EXPECT_EQ(testing::RunCommand("cmp '" + pcm + "' '" + expected + "'", &out), 0) << wav << " " << out;
}

class TrackRippingFormTest : public ::testing::Test {
 protected:
  void TearDown() override { TrackRippingSubForm::SetRipStepForTesting({}); }

  // Emulated drive D: with `settings` (an image or a blank medium) for this test.
  EmulatedDriveFixture& UseDrive(const std::string& settings) {
    map_.reset();
    drive_ = std::make_unique<EmulatedDriveFixture>(dir_, settings);
    map_ = std::make_unique<testing::ScopedDriveMap>("D:=" + drive_->device());
    return *drive_;
  }
  // The three-track audio CD in D:.
  CueFixture UseAudioCd() {
    CueFixture cd = MakeAudioCd(dir_.path());
    UseDrive("image=" + cd.cue.string());
    return cd;
  }

  // Shows the form and runs one status refresh, as its timer would.
  static void ShowAndRefresh(TrackRippingForm& form) {
    form.show();
    form.panel()->RefreshDriveStatus();
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  std::unique_ptr<EmulatedDriveFixture> drive_;
  std::unique_ptr<testing::ScopedDriveMap> map_;
};

// Runs `act` on the running progress dialog at the job's third message pump
// (inside the first track), for the life of the object.
class DuringRip {
 public:
  explicit DuringRip(std::function<void(TrackRippingSubForm*)> act) {
    previous_ = InstallMessagePump([this, act = std::move(act)] {
      QCoreApplication::processEvents();
      if (++pumps_ != 3) return;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* sub = qobject_cast<TrackRippingSubForm*>(widget); sub != nullptr && sub->running()) act(sub);
      }
    });
  }
  ~DuringRip() { InstallMessagePump(previous_); }
  DuringRip(const DuringRip&) = delete;
  DuringRip& operator=(const DuringRip&) = delete;

 private:
  std::function<void()> previous_;
  int pumps_ = 0;
};

TEST(FormatMSFTest, MinutesSecondsFrames) {
  EXPECT_EQ(FormatMSF(0), QStringLiteral("00:00:00"));
  EXPECT_EQ(FormatMSF(150), QStringLiteral("00:02:00"));
  EXPECT_EQ(FormatMSF(4500 * 3 + 75 * 7 + 74), QStringLiteral("03:07:74"));
  EXPECT_EQ(FormatMSF(4500 * 123 + 1), QStringLiteral("123:00:01"));
}

TEST(RenameRefusalTest, CharactersLengthAndDuplicates) {
  const QString bad = QStringLiteral("ファイル名としては使用できない文字が含まれています。");
  for (const char* name : {"a:b.wav", "a*b", "a/b", "a;b", "a<b", "a>b", "a?b", "a\\b", "a|b"})
    EXPECT_EQ(RenameRefusal(QString::fromLatin1(name), {}), bad) << name;
  EXPECT_EQ(RenameRefusal(QString(251, QLatin1Char('x')), {}), QStringLiteral("ファイル名としては長すぎます。"));
  EXPECT_EQ(RenameRefusal(QString(250, QLatin1Char('x')), {}), QString());
  EXPECT_EQ(RenameRefusal(QStringLiteral("Track_02.wav"), {QStringLiteral("Track_02.wav")}),
            QStringLiteral("同じファイル名が既に指定されています。"));
  EXPECT_EQ(RenameRefusal(QStringLiteral("曲.wav"), {QStringLiteral("Track_02.wav")}), QString());
}

// Rows are keyed by track number: a TOC from track 2, or with a gap, gives
// rows that carry their own numbers.
TEST(FillTrackRowsTest, RowsCarryTheirTrackNumbers) {
  struct Entry {
    uint8_t track, index;
    int32_t mode, start, end;
  };
  const std::vector<std::vector<Entry>> tocs = {
      {{2, 1, 1, 0, 599}, {3, 0, 0, 600, 749}, {3, 1, 0, 750, 1199}},
      {{1, 1, 0, 0, 299}, {3, 1, 0, 300, 599}, {4, 0, 0, 600, 749}, {4, 1, 0, 750, 899}, {4, 2, 0, 900, 999}},
  };
  const std::vector<QStringList> names = {
      {QStringLiteral("Track_02.iso"), QStringLiteral("Track_03.wav")},
      {QStringLiteral("Track_01.wav"), QStringLiteral("Track_03.wav"), QStringLiteral("Track_04.wav")},
  };
  const std::vector<std::vector<int>> numbers = {{2, 3}, {1, 3, 4}};
  for (size_t t = 0; t < tocs.size(); ++t) {
    TOCInformation toc;
    for (const Entry& e : tocs[t]) toc.TOCAdd(1, e.track, e.index, e.mode ? 4 : 0, e.mode, e.start, e.end);
    QTreeWidget list;
    list.setColumnCount(4);
    FillTrackRows(&list, toc);
    EXPECT_EQ(Column(&list, 0), names[t]);
    ASSERT_EQ(list.topLevelItemCount(), static_cast<int>(numbers[t].size()));
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      EXPECT_EQ(list.topLevelItem(i)->data(1, kTrackNumberRole).toInt(), numbers[t][i]);
      EXPECT_EQ(list.topLevelItem(i)->text(1), QString::number(numbers[t][i]));
      EXPECT_EQ(list.topLevelItem(i)->checkState(0), Qt::Checked);
    }
  }
  // Track 3 of the first TOC: its pregap and its data; track 4 of the second:
  // the last entry's length.
  TOCInformation toc;
  for (const Entry& e : tocs[1]) toc.TOCAdd(1, e.track, e.index, 0, e.mode, e.start, e.end);
  QTreeWidget list;
  list.setColumnCount(4);
  FillTrackRows(&list, toc);
  EXPECT_EQ(list.topLevelItem(1)->text(2), QStringLiteral("00:00:00"));
  EXPECT_EQ(list.topLevelItem(2)->text(2), QStringLiteral("00:02:00"));
  EXPECT_EQ(list.topLevelItem(2)->text(3), QStringLiteral("00:01:25"));
}

TEST_F(TrackRippingFormTest, ThreeAudioTracksRipToWavesEqualToTheSource) {
  ASSERT_TRUE(testing::RequireTool("python3"));
  ASSERT_TRUE(testing::RequireTool("cmp"));
  const CueFixture cd = UseAudioCd();
  EmulatedDriveFixture& drive = *drive_;
  for (bool pregap : {false, true}) {
    TrackRippingForm form;
    ShowAndRefresh(form);
    QTreeWidget* list = form.lsvTOC();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(Column(list, 0), (QStringList{QStringLiteral("Track_01.wav"), QStringLiteral("Track_02.wav"),
                                           QStringLiteral("Track_03.wav")}));
    EXPECT_EQ(Column(list, 1), (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(Column(list, 2), (QStringList(3, QStringLiteral("00:02:00"))));
    EXPECT_EQ(Column(list, 3), (QStringList(3, QStringLiteral("00:04:00"))));
    const std::filesystem::path out = dir_.path() / (pregap ? "with" : "without") / "deep";
    form.txtSavePath()->setText(Q(out));
    form.chkReadPregap()->setChecked(pregap);
    drive.hooks().ClearLog();
    ui_.Clear();
    form.Button(QStringLiteral("Ripping"))->trigger();
    ASSERT_EQ(ui_.messages().size(), 1);
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("取り込みは正常終了しました。"));
    EXPECT_EQ(ui_.messages()[0].style, 64);
    EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
    EXPECT_EQ(LockCommands(drive), (std::vector<int>{1, 0}));
    EXPECT_TRUE(form.panel()->timer()->isActive());
    for (int track = 1; track <= 3; ++track) {
      const int32_t start = cd.track_starts[track - 1];
      const int32_t end = track < 3 ? cd.track_starts[track] - 150 : cd.leadout;
      const int32_t first = pregap ? start - 150 : start;
      ExpectWave(out / ("Track_0" + std::to_string(track) + ".wav"), cd.bin, first, end - first, dir_.path());
    }
    form.Button(QStringLiteral("Exit"))->trigger();
    EXPECT_FALSE(form.isVisible());
  }
}

// Keyboard only: Tab reaches the three toolbar commands, in their order and
// with their captions, and Space on 取り込み starts the rip, which ends well.
TEST_F(TrackRippingFormTest, TabReachesTheToolbarCommandsAndTheRipStartsFromTheKeyboard) {
  UseAudioCd();
  TrackRippingForm form;
  ShowAndRefresh(form);
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_EQ(form.lsvTOC()->topLevelItemCount(), 3);
  form.txtSavePath()->setText(Q(dir_.path() / "keys"));
  form.txtSavePath()->setFocus();
  QStringList reached;
  QWidget* ripping = nullptr;
  // A full round of the Tab chain: every command is met once.
  for (int presses = 0; presses < 40; ++presses) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    auto* button = qobject_cast<QToolButton*>(QApplication::focusWidget());
    if (button == nullptr || button->defaultAction() == nullptr) continue;
    const QString key = button->defaultAction()->objectName();
    if (reached.contains(key)) break;
    reached << key;
    if (key == QStringLiteral("Ripping")) ripping = button;
    EXPECT_EQ(button->text(), form.Button(key)->text());
  }
  EXPECT_EQ(reached, (QStringList{QStringLiteral("Ripping"), QStringLiteral("ReLoad"), QStringLiteral("Exit")}));
  EXPECT_EQ(form.Button(QStringLiteral("Ripping"))->text(), QStringLiteral("取り込み"));
  EXPECT_EQ(form.Button(QStringLiteral("ReLoad"))->text(), QStringLiteral("再認識"));
  EXPECT_EQ(form.Button(QStringLiteral("Exit"))->text(), QStringLiteral("終了"));
  ASSERT_NE(ripping, nullptr);
  ripping->setFocus();
  ui_.Clear();
  QTest::keyClick(ripping, Qt::Key_Space);
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("取り込みは正常終了しました。"));
  for (int track = 1; track <= 3; ++track) {
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "keys" / ("Track_0" + std::to_string(track) + ".wav")));
  }
  form.Button(QStringLiteral("Exit"))->trigger();
}

TEST_F(TrackRippingFormTest, MixedModeDataTrackIsItsUserData) {
  FixtureTrack data;
  data.audio = false;
  data.length = 300;
  FixtureTrack audio;
  audio.pregap = 150;
  const CueFixture cd = testing::MakeCueImage(dir_.path(), "mixed", {data, audio});
  UseDrive("image=" + cd.cue.string());
  TrackRippingForm form;
  ShowAndRefresh(form);
  QTreeWidget* list = form.lsvTOC();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("Track_01.iso"));
  EXPECT_FALSE(list->topLevelItem(0)->icon(0).isNull());
  EXPECT_EQ(list->topLevelItem(0)->icon(0).cacheKey(), list->topLevelItem(0)->icon(0).cacheKey());
  list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  form.txtSavePath()->setText(env_.Path("out"));
  form.Button(QStringLiteral("Ripping"))->trigger();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].style, 64);
  const std::string iso = testing::ReadFileBytes(dir_.path() / "out" / "Track_01.iso");
  const std::string bin = testing::ReadFileBytes(cd.bin);
  ASSERT_EQ(iso.size(), 300u * 2048);
  for (size_t lba = 0; lba < 300; ++lba)
    ASSERT_EQ(iso.substr(lba * 2048, 2048), bin.substr(lba * 2352 + 16, 2048)) << lba;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out" / "Track_02.wav"));
}

TEST_F(TrackRippingFormTest, StopWithYesLeavesNoFileAndUnlocks) {
  const CueFixture cd = UseAudioCd();
  EmulatedDriveFixture& drive = *drive_;
  TrackRippingForm form;
  ShowAndRefresh(form);
  ASSERT_EQ(form.lsvTOC()->topLevelItemCount(), 3);
  form.txtSavePath()->setText(env_.Path("out"));
  // The user presses 中止 during the first track and answers Yes.
  {
    DuringRip stop([this](TrackRippingSubForm* sub) {
      ui_.QueueAnswer(kIdYes);
      sub->cmdCancel()->click();
    });
    drive.hooks().ClearLog();
    form.Button(QStringLiteral("Ripping"))->trigger();
  }
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("取り込みを中断してよろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out" / "Track_01.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out" / "Track_02.wav"));
  EXPECT_EQ(LockCommands(drive), (std::vector<int>{1, 0}));
}

// SIGTERM (or SIGINT, SIGHUP) during a rip stops it as its stop does: no
// file or temporary of the run is left, the tray is unlocked, no box waits
// for an answer, and only then does the program end (by that signal).
TEST_F(TrackRippingFormTest, TerminatingSignalStopsTheRipBeforeTheProgramEnds) {
  const CueFixture cd = UseAudioCd();
  EmulatedDriveFixture& drive = *drive_;
  Termination::Instance().Install();
  int ended_by = 0;
  bool locked_at_end = true;
  Termination::Instance().SetEndForTesting([&](int signal_number) {
    ended_by = signal_number;
    const std::vector<int> locks = LockCommands(drive);
    locked_at_end = locks.empty() || locks.back() == 1;
  });
  TrackRippingForm form;
  ShowAndRefresh(form);
  ASSERT_EQ(form.lsvTOC()->topLevelItemCount(), 3);
  form.txtSavePath()->setText(env_.Path("out"));
  {
    DuringRip signal([](TrackRippingSubForm*) { ::raise(SIGTERM); });
    drive.hooks().ClearLog();
    form.Button(QStringLiteral("Ripping"))->trigger();
  }
  Termination::Instance().SetEndForTesting({});
  EXPECT_EQ(ended_by, SIGTERM);
  EXPECT_FALSE(locked_at_end);
  EXPECT_TRUE(ui_.messages().isEmpty()) << ui_.LastText().toStdString();
  EXPECT_EQ(LockCommands(drive), (std::vector<int>{1, 0}));
  std::vector<std::string> left;
  if (std::filesystem::exists(dir_.path() / "out")) {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "out")) {
      left.push_back(entry.path().filename().string());
    }
  }
  EXPECT_TRUE(left.empty()) << left.front();
}

// A FIFO, or a write-protected earlier file, where a track's WAV file is to
// go: told at once with its name, the tray unlocked, the earlier file kept.
TEST_F(TrackRippingFormTest, FifoOrProtectedFileAtATracksNameIsToldAtOnceAndUnlocks) {
  UseAudioCd();
  EmulatedDriveFixture& drive = *drive_;
  for (testing::StandIn kind : {testing::StandIn::kFifo, testing::StandIn::kRegular}) {
    TrackRippingForm form;
    ShowAndRefresh(form);
    ASSERT_EQ(form.lsvTOC()->topLevelItemCount(), 3);
    const std::filesystem::path out = dir_.path() / testing::StandInName(kind);
    std::filesystem::create_directories(out);
    const std::filesystem::path taken = out / "Track_01.wav";
    testing::StandInFile stand_in(taken, kind, "earlier wave");
    if (kind == testing::StandIn::kRegular) std::filesystem::permissions(taken, std::filesystem::perms(0444));
    form.txtSavePath()->setText(Q(out));
    drive.hooks().ClearLog();
    ui_.Clear();
    QElapsedTimer timer;
    timer.start();
    form.Button(QStringLiteral("Ripping"))->trigger();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(stand_in.Blocked());
    ASSERT_EQ(ui_.messages().size(), 2);
    EXPECT_EQ(ui_.messages()[0].text,
              QStringLiteral("ファイル %1 %2")
                  .arg(Q(taken), kind == testing::StandIn::kFifo ? QStringLiteral("は通常のファイルではありません。")
                                                                 : QStringLiteral("が開けません。")));
    EXPECT_EQ(ui_.messages()[0].style, 16);
    EXPECT_EQ(ui_.messages()[1].text, QStringLiteral("取り込みに失敗しました。"));
    EXPECT_EQ(LockCommands(drive), (std::vector<int>{1, 0}));
    if (kind == testing::StandIn::kRegular) {
      EXPECT_EQ(testing::ReadFileBytes(taken), "earlier wave");
    }
  }
}

// The close box and Escape stop at once, without a question, and the window
// stays until the run has ended.
TEST_F(TrackRippingFormTest, CloseBoxAndEscapeStopWithoutQuestion) {
  const CueFixture cd = UseAudioCd();
  EmulatedDriveFixture& drive = *drive_;
  for (bool escape : {false, true}) {
    TrackRippingForm form;
    ShowAndRefresh(form);
    const std::filesystem::path out = dir_.path() / (escape ? "escape" : "close");
    form.txtSavePath()->setText(Q(out));
    bool stayed = false;
    {
      DuringRip stop([&](TrackRippingSubForm* sub) {
        if (escape) {
          QTest::keyClick(sub, Qt::Key_Escape);
        } else {
          sub->close();
        }
        stayed = sub->isVisible();
      });
      ui_.Clear();
      drive.hooks().ClearLog();
      form.Button(QStringLiteral("Ripping"))->trigger();
    }
    EXPECT_TRUE(stayed) << escape;
    EXPECT_TRUE(ui_.messages().isEmpty()) << escape;
    EXPECT_FALSE(std::filesystem::exists(out / "Track_01.wav")) << escape;
    EXPECT_EQ(LockCommands(drive), (std::vector<int>{1, 0})) << escape;
  }
}

TEST_F(TrackRippingFormTest, MissingInputsAreReported) {
  const CueFixture cd = UseAudioCd();
  EmulatedDriveFixture& drive = *drive_;
  TrackRippingForm form;
  ShowAndRefresh(form);
  QTreeWidget* list = form.lsvTOC();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  form.txtSavePath()->setText(QStringLiteral("   "));
  form.Button(QStringLiteral("Ripping"))->trigger();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("保存先を指定してください。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  for (int i = 0; i < 3; ++i) list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
  form.txtSavePath()->setText(env_.Path("out"));
  ui_.Clear();
  drive.hooks().ClearLog();
  form.Button(QStringLiteral("Ripping"))->trigger();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("取り込むべきトラックが選択されていません。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_TRUE(LockCommands(drive).empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out"));
}

TEST_F(TrackRippingFormTest, RenamesAreCheckedOncePerEdit) {
  const CueFixture cd = UseAudioCd();
  TrackRippingForm form;
  ShowAndRefresh(form);
  QTreeWidget* list = form.lsvTOC();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  QAbstractItemDelegate* delegate = list->itemDelegate();
  const QModelIndex first = list->model()->index(0, 0);
  auto edit = [&](const QString& name) {
    QWidget* editor = delegate->createEditor(list->viewport(), QStyleOptionViewItem(), first);
    auto* line = qobject_cast<QLineEdit*>(editor);
    EXPECT_NE(line, nullptr);
    if (line == nullptr) return;
    line->setText(name);
    delegate->setModelData(editor, list->model(), first);
    delegate->setModelData(editor, list->model(), first);  // a second commit on focus loss
    delete editor;
  };
  struct Case {
    QString name;
    QString message;
  } const refused[] = {
      {QStringLiteral("a:b.wav"), QStringLiteral("ファイル名としては使用できない文字が含まれています。")},
      {QString(251, QLatin1Char('x')), QStringLiteral("ファイル名としては長すぎます。")},
      {QStringLiteral("Track_02.wav"), QStringLiteral("同じファイル名が既に指定されています。")},
  };
  for (const Case& c : refused) {
    ui_.Clear();
    edit(c.name);
    ASSERT_EQ(ui_.messages().size(), 1) << c.name.toStdString();
    EXPECT_EQ(ui_.messages()[0].text, c.message);
    EXPECT_EQ(ui_.messages()[0].style, 16);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("Track_01.wav"));
  }
  ui_.Clear();
  edit(QString(250, QLatin1Char('y')));
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_EQ(list->topLevelItem(0)->text(0), QString(250, QLatin1Char('y')));
  // Only the file name is editable.
  EXPECT_EQ(delegate->createEditor(list->viewport(), QStyleOptionViewItem(), list->model()->index(0, 1)), nullptr);
}

TEST_F(TrackRippingFormTest, RecordingRipperReceivesTheRowsTrackNumbers) {
  const CueFixture cd = UseAudioCd();
  TrackRippingForm form;
  ShowAndRefresh(form);
  // A TOC from track 2 with a gap, as the list shows it.
  TOCInformation toc;
  toc.TOCAdd(1, 2, 1, 0, 0, 0, 299);
  toc.TOCAdd(1, 4, 1, 0, 0, 300, 599);
  toc.TOCAdd(1, 5, 1, 0, 0, 600, 899);
  FillTrackRows(form.lsvTOC(), toc);
  form.lsvTOC()->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
  std::vector<std::pair<int, QString>> ripped;
  TrackRippingSubForm::SetRipStepForTesting([&](DiscRipper&, Trelin&, const QString& path, int track, bool) {
    ripped.emplace_back(track, path);
    return true;
  });
  form.txtSavePath()->setText(env_.Path("out"));
  form.Button(QStringLiteral("Ripping"))->trigger();
  ASSERT_EQ(ripped.size(), 2u);
  EXPECT_EQ(ripped[0], std::make_pair(2, env_.Path("out") + QStringLiteral("/Track_02.wav")));
  EXPECT_EQ(ripped[1], std::make_pair(4, env_.Path("out") + QStringLiteral("/Track_04.wav")));
}

TEST_F(TrackRippingFormTest, FailedTrackShowsTheLastErrorLine) {
  const CueFixture cd = UseAudioCd();
  TrackRippingForm form;
  ShowAndRefresh(form);
  form.txtSavePath()->setText(env_.Path("out"));
  int calls = 0;
  TrackRippingSubForm::SetRipStepForTesting([&](DiscRipper& ripper, Trelin&, const QString&, int, bool) {
    ++calls;
    emit ripper.StatusChange(2, QStringLiteral("壊れています。"));
    return false;
  });
  form.Button(QStringLiteral("Ripping"))->trigger();
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("壊れています。"));
  EXPECT_EQ(ui_.messages()[0].style, 16);
}

TEST_F(TrackRippingFormTest, BlankDiscKeepsTheListEmptyAndFolderIsChosen) {
  EmulatedDriveFixture& drive = UseDrive("medium=cd-r");
  TrackRippingForm form;
  ShowAndRefresh(form);
  EXPECT_EQ(form.lsvTOC()->topLevelItemCount(), 0);
  // No session starts on a blank disc: every refresh of the visible form
  // tries again, so it sends more than the status refresh of a hidden one.
  form.hide();
  drive.hooks().ClearLog();
  form.panel()->RefreshDriveStatus();
  const size_t hidden = drive.hooks().log().size();
  form.show();
  for (int refresh = 0; refresh < 2; ++refresh) {
    drive.hooks().ClearLog();
    form.panel()->RefreshDriveStatus();
    EXPECT_GT(drive.hooks().log().size(), hidden) << refresh;
    EXPECT_EQ(form.lsvTOC()->topLevelItemCount(), 0);
  }
  form.show();
  form.txtSavePath()->setText(QStringLiteral("keep"));
  form.cmdDirectorySetting()->click();
  EXPECT_EQ(form.txtSavePath()->text(), QStringLiteral("keep"));
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("トラックを保存するディレクトリを選択してください。"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 1);
  ui_.QueueFolder(env_.Path("chosen"));
  form.cmdDirectorySetting()->click();
  EXPECT_EQ(form.txtSavePath()->text(), env_.Path("chosen"));
  form.Button(QStringLiteral("Exit"))->trigger();
  // The folder is kept for the next opening.
  TrackRippingForm again;
  EXPECT_EQ(again.txtSavePath()->text(), env_.Path("chosen"));
}

TEST_F(TrackRippingFormTest, RemoteRipThroughKestrow) {
  ASSERT_TRUE(testing::RequireTool("python3"));
  testing::FixedInterfaces no_interfaces;
  const CueFixture cd = MakeAudioCd(dir_.path());
  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon(dir_.path() / "daemon",
                                    "E:=emu:" + env_.State("remote.state") + ",image=" + cd.cue.string() +
                                        ",product=REMOTE-E",
                                    "E");
  ASSERT_TRUE(daemon.Start());
  Settings()->SetRemotePort(daemon.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  TrackRippingForm form;
  form.show();
  for (int attempt = 0; attempt < 5 && !form.panel()->network_box()->isChecked(); ++attempt) {
    ui_.Clear();
    form.panel()->network_box()->click();
  }
  ASSERT_TRUE(form.panel()->network_box()->isChecked());
  ASSERT_NE(form.panel()->device(), nullptr);
  form.panel()->RefreshDriveStatus();
  ASSERT_EQ(form.lsvTOC()->topLevelItemCount(), 3);
  form.txtSavePath()->setText(env_.Path("remote"));
  // The final message stays open 5 s; the link must outlive it.
  ui_.Clear();
  ui_.on_message = [](const testing::ShownMessage&) { testing::WaitFor([] { return false; }, 5000); };
  form.Button(QStringLiteral("Ripping"))->trigger();
  ui_.on_message = nullptr;
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("取り込みは正常終了しました。"));
  ExpectWave(dir_.path() / "remote" / "Track_02.wav", cd.bin, cd.track_starts[1],
             cd.track_starts[2] - 150 - cd.track_starts[1], dir_.path());
  form.lsvTOC()->clear();
  form.Button(QStringLiteral("ReLoad"))->trigger();
  EXPECT_EQ(form.lsvTOC()->topLevelItemCount(), 3);
  form.Button(QStringLiteral("Exit"))->trigger();
}

TEST_F(TrackRippingFormTest, TrackRippingFormScreenshot) {
  const CueFixture cd = MakeAudioCd(dir_.path());
  UseDrive("image=" + cd.cue.string() + ",vendor=SORVEL,product=EMU-READER");
  TrackRippingForm form;
  ShowAndRefresh(form);
  form.txtSavePath()->setText(env_.Path("音楽"));
  form.lsvTOC()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  testing::SaveScreenshot(&form, QStringLiteral("TrackRippingForm"));
  // The progress dialog as its final message comes up.
  ui_.on_message = [](const testing::ShownMessage&) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* sub = qobject_cast<TrackRippingSubForm*>(widget); sub != nullptr && sub->isVisible())
        testing::SaveScreenshot(sub, QStringLiteral("TrackRippingSubForm"));
    }
  };
  form.Button(QStringLiteral("Ripping"))->trigger();
  ui_.on_message = nullptr;
  ASSERT_EQ(ui_.messages().size(), 1);
}

}  // namespace
}  // namespace sorvel
