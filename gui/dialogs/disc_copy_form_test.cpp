// The copy dialog end to end on emulated drives with the real engines and
// jobs: on the fly, through a temporary image with several passes, DVD images,
// the temporary folder's cleanup, stops, the power action, failing passes and
// a source too large for a recorded DVD+RW.
#include "gui/dialogs/disc_copy_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "drive_daemon/remote_scsi_handler.h"
#include "drive_daemon/remote_test_support.h"
#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/dual_drive_panel.h"
#include "gui/dialogs/is_ready_form.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/power_backend.h"
#include "gui/jobs/disc_reader.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/trelin.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"
#include "testing/manual_clock.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }
QT_END_NAMESPACE

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const QString kQuestion = QStringLiteral("\r\n続けて複製しますか。");
constexpr int kRepeatStyle = 4 + 256;

void Pick(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

// The insert-disc prompt of these tests: runs `answer` with the drive.
class TestPrompt final : public InsertDiscPrompt {
 public:
  explicit TestPrompt(std::function<bool(Trelin&, bool)> answer) : answer_(std::move(answer)) {}
  bool ShowOpen(Trelin& drive, bool writable) override { return answer_(drive, writable); }

 private:
  std::function<bool(Trelin&, bool)> answer_;
};

// A power backend that accepts every action and only counts it.
class AcceptingPowerBackend final : public PowerBackend {
 public:
  AcceptingPowerBackend() : previous_(InstallPowerBackend(this)) {}
  ~AcceptingPowerBackend() override { InstallPowerBackend(previous_); }
  bool AcquireInhibitor(const QString&, const QString&) override { return true; }
  void ReleaseInhibitor() override {}
  bool Suspend() override { return Count("suspend"); }
  bool Hibernate() override { return Count("hibernate"); }
  bool PowerOff() override { return Count("poweroff"); }
  bool Reboot() override { return Count("reboot"); }
  QStringList calls;

 private:
  bool Count(const char* what) {
    calls << QString::fromLatin1(what);
    return true;
  }
  PowerBackend* previous_;
};

// Whether the command log holds an eject (START STOP UNIT, LoEj set, Start clear).
size_t EjectCount(const testing::EmulatedDriveFixture& drive) {
  size_t count = 0;
  for (const auto& command : drive.hooks().log()) {
    if (!command.cdb.empty() && command.cdb[0] == 0x1B && command.cdb.size() > 4 && (command.cdb[4] & 3) == 2) ++count;
  }
  return count;
}

// The files of `folder` (names only).
QStringList FilesIn(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class DiscCopyFormTest : public ::testing::Test {
 protected:
  DiscCopyFormTest() {
    QDir().mkpath(temp_);
    Settings()->SetPathTemp(temp_);
    Settings()->SetEjectAfterMessage(false);
    factories_.is_ready_form = [this] {
      // The verifier's wait for the written disc finds it at once; a wait
      // for a blank disc is the test's.
      return std::make_unique<TestPrompt>([this](Trelin& drive, bool writable) {
        if (!writable) return drive.IsReady();
        return prompt_ ? prompt_(drive) : false;
      });
    };
    previous_factories_ = InstallFormFactories(&factories_);
  }
  ~DiscCopyFormTest() override { InstallFormFactories(previous_factories_); }

  // A pressed CD: a data track and an audio track with a pregap.
  testing::CueFixture PressedCd() {
    return testing::MakeCueImage(dir_.path(), "src", {{false, 0, 700, "", false}, {true, 150, 300, "", false}});
  }
  // A pressed CD in D:, a blank CD-R in E:.
  void MapPressedAndBlank() {
    const testing::CueFixture source = PressedCd();
    MapDrives("image=" + source.cue.string(), "medium=cd-r");
  }
  // Drives D: and E: (E: only when `write` is not empty).
  void MapDrives(const std::string& read, const std::string& write = std::string()) {
    d_ = std::make_unique<testing::EmulatedDriveFixture>(dir_, read, "d");
    std::string map = "D:=" + d_->device();
    if (!write.empty()) {
      e_ = std::make_unique<testing::EmulatedDriveFixture>(dir_, write, "e");
      map += ";E:=" + e_->device();
    }
    map_ = std::make_unique<testing::ScopedDriveMap>(map);
  }
  // Inserts a fresh blank CD-R into the drive at `state_path`.
  static bool InsertBlank(const std::string& state_path, const std::string& medium = "cd-r") {
    platform::emu::SoftMmcDrive* drive = platform::emu::FindOpenDrive(state_path);
    std::string error;
    return drive != nullptr && drive->InsertDisc(medium, "", &error);
  }
  // Exports the CD in the drive as "<name>.cue"/"<name>.bin" and splits it
  // into tracks with bchunk; returns the track files' contents.
  std::vector<std::string> ExportedTracks(const std::string& state_path, const std::string& name) {
    platform::emu::SoftMmcDrive* drive = platform::emu::FindOpenDrive(state_path);
    std::vector<std::string> tracks;
    std::string error;
    if (drive == nullptr || !drive->ExportCd((dir_.path() / (name + ".cue")).string(), &error)) {
      ADD_FAILURE() << "export: " << error;
      return tracks;
    }
    std::string out;
    EXPECT_EQ(testing::RunCommand("cd '" + dir_.path().string() + "' && cdrdao show-toc " + name + ".cue 2>&1", &out), 0)
        << out;
    return Tracks(name);
  }
  // bchunk's tracks of "<name>.bin"/"<name>.cue".
  std::vector<std::string> Tracks(const std::string& name) {
    std::string out;
    EXPECT_EQ(testing::RunCommand("cd '" + dir_.path().string() + "' && bchunk -w " + name + ".bin " + name + ".cue " +
                                      name + "-part 2>&1",
                                  &out),
              0)
        << out;
    std::vector<std::string> tracks;
    for (const QString& file : QDir(QString::fromStdString(dir_.path().string()))
                                   .entryList({QString::fromStdString(name) + QStringLiteral("-part*")}, QDir::Files,
                                              QDir::Name)) {
      tracks.push_back(testing::ReadFileBytes(dir_.path() / file.toStdString()));
    }
    return tracks;
  }
  void RequireCdTools() {
    for (const char* tool : {"cdrdao", "bchunk"}) ASSERT_TRUE(testing::RequireTool(tool));
  }
  QStringList Texts() const {
    QStringList texts;
    for (const auto& message : ui_.messages()) texts << message.text;
    return texts;
  }

  ScratchDir dir_;
  // Discovery reaches only the addresses a test names, never a real interface.
  testing::FixedInterfaces interfaces_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  QString temp_ = env_.Path("temp");
  FormFactories factories_;
  const FormFactories* previous_factories_ = nullptr;
  std::function<bool(Trelin&)> prompt_;
  std::unique_ptr<testing::EmulatedDriveFixture> d_, e_;
  std::unique_ptr<testing::ScopedDriveMap> map_;
};

TEST_F(DiscCopyFormTest, OnTheFlyCopyOfAPressedCdWithVerification) {
  RequireCdTools();
  MapPressedAndBlank();
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  ASSERT_NE(form.fraSend()->device(), form.fraRecv()->device());
  EXPECT_TRUE(form.chkCreateTemporaryImage()->isEnabled());
  EXPECT_FALSE(form.chkCreateTemporaryImage()->isChecked());
  EXPECT_TRUE(form.chkVerify()->isChecked());  // the default
  bool prompted = false;
  prompt_ = [&](Trelin&) { return prompted = true; };

  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << Texts().join(QStringLiteral(" | ")).toStdString();
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("複製は正常終了しました。"));
  EXPECT_EQ(ui_.messages()[0].style, 64);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_FALSE(prompted);
  // The verifier read the copy back after the write.
  const QStringList log = form.vbxMain()->lines();
  const auto logged = [&log](const QString& text) {
    for (qsizetype i = 0; i < log.size(); ++i) {
      if (log[i].endsWith(text)) return i;
    }
    return qsizetype{-1};
  };
  EXPECT_GT(logged(QStringLiteral("ディスクは正常です。")), logged(QStringLiteral("キャッシュフラッシュ中。")))
      << log.join('\n').toStdString();
  EXPECT_GE(logged(QStringLiteral("キャッシュフラッシュ中。")), 0);
  EXPECT_TRUE(e_->drive()->media().tray_open);  // opened before the message
  EXPECT_FALSE(d_->drive()->media().tray_open);
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  EXPECT_EQ(form.cmdStartStop()->text(), QStringLiteral("開始(&S)"));
  EXPECT_TRUE(form.fraSend()->timer()->isActive());

  const std::vector<std::string> copy = ExportedTracks(e_->path(), "copy");
  const std::vector<std::string> original = Tracks("src");
  ASSERT_EQ(original.size(), 2u);
  EXPECT_TRUE(copy == original);
  EXPECT_TRUE(FilesIn(temp_).isEmpty());
}

// A two-session disc copied on the fly with the drives' own settings: the
// copy holds both sessions and every sector; a target drive that records
// only the first session makes the copy fail, its TOC's line in the box.
class DiscCopyFormSessionTest : public DiscCopyFormTest, public ::testing::WithParamInterface<int> {};

TEST_P(DiscCopyFormSessionTest, TwoSessionDiscOnTheFly) {
  const int limit = GetParam();
  const testing::CueFixture source = testing::MakeTwoSessionImage(dir_.path(), "two");
  MapDrives("image=" + source.cue.string(), "medium=cd-r");
  e_->hooks().UpdateFaults([&](platform::emu::DriveFaults& f) { f.raw_pass_session_limit = limit; });
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  ASSERT_NE(form.fraSend()->device(), form.fraRecv()->device());
  form.cmdStartStop()->click();
  ASSERT_FALSE(ui_.messages().isEmpty());
  if (limit == 0) {
    EXPECT_EQ(ui_.messages().last().text, QStringLiteral("複製は正常終了しました。"))
        << form.vbxMain()->lines().join('\n').toStdString();
    EXPECT_EQ(testing::CdDifferences(*d_->drive(), *e_->drive()), "");
  } else {
    EXPECT_EQ(ui_.messages().last().text,
              QStringLiteral("ディスクのセッション数 1・トラック数 1 が書き込んだTOCのセッション数 2・トラック数 2 と一致しません。"))
        << form.vbxMain()->lines().join('\n').toStdString();
    EXPECT_EQ(ui_.messages().last().style, 16);
  }
}

INSTANTIATE_TEST_SUITE_P(SessionsKept, DiscCopyFormSessionTest, ::testing::Values(0, 1));

TEST_F(DiscCopyFormTest, SameDriveGoesThroughTheImageOncePerBlankDisc) {
  RequireCdTools();
  const testing::CueFixture source = PressedCd();
  MapDrives("image=" + source.cue.string());
  // The temporary folder's name has a dot, and neighbours that must survive.
  temp_ = env_.Path("my.tmp");
  QDir().mkpath(temp_);
  Settings()->SetPathTemp(temp_);
  testing::WriteFileBytes(fs::path(env_.State("my-notes.txt")), "notes");
  testing::WriteFileBytes(fs::path(temp_.toStdString()) / "other.txt", "other");

  DiscCopyForm form;
  ASSERT_EQ(form.fraSend()->device(), form.fraRecv()->device());
  EXPECT_TRUE(form.chkCreateTemporaryImage()->isChecked());
  EXPECT_FALSE(form.chkCreateTemporaryImage()->isEnabled());
  form.chkVerify()->setChecked(false);

  int prompts = 0;
  size_t ejects_at_first_prompt = 0;
  QStringList images_seen;
  prompt_ = [&](Trelin& drive) {
    ++prompts;
    if (prompts == 1) {
      ejects_at_first_prompt = EjectCount(*d_);
      images_seen = FilesIn(temp_);
    } else {
      EXPECT_TRUE(ExportedTracks(d_->path(), "copy1") == Tracks("src"));
    }
    EXPECT_TRUE(InsertBlank(d_->path()));
    return drive.IsMediaWritable();
  };
  ui_.QueueAnswer(kIdYes);
  ui_.QueueAnswer(kIdNo);
  form.cmdStartStop()->click();

  EXPECT_EQ(prompts, 2);
  EXPECT_GE(ejects_at_first_prompt, 1u);  // after the read the tray opened for the source to come out
  const QString temporary = QFileInfo(form.temporary_name()).fileName();
  EXPECT_EQ(temporary.size(), 8);
  EXPECT_TRUE(images_seen.contains(temporary + QStringLiteral(".tsn"))) << images_seen.join(' ').toStdString();
  ASSERT_EQ(ui_.messages().size(), 2) << Texts().join(QStringLiteral(" | ")).toStdString();
  for (const auto& message : ui_.messages()) {
    EXPECT_EQ(message.text, QStringLiteral("複製は正常終了しました。") + kQuestion);
    EXPECT_EQ(message.style, kRepeatStyle + 64);
  }
  EXPECT_TRUE(ExportedTracks(d_->path(), "copy2") == Tracks("src"));
  // Only the job's own files went.
  EXPECT_EQ(FilesIn(temp_), QStringList{QStringLiteral("other.txt")});
  EXPECT_TRUE(QFile::exists(env_.Path("my-notes.txt")));
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
}

TEST_F(DiscCopyFormTest, DvdGoesThroughAnIsoImage) {
  const fs::path iso = testing::MakeIsoImage(dir_.path(), "dvd", {{"a.txt", std::string(90000, 'a')},
                                                                  {"b.bin", std::string(5000, '\x33')}});
  ASSERT_FALSE(iso.empty());
  MapDrives("image=" + iso.string(), "medium=dvd-r");
  {
    DiscCopyForm form;
    Pick(form.fraRecv()->drive_combo(), 1);
    form.chkCreateTemporaryImage()->setChecked(true);
    QStringList at_question;
    ui_.on_message = [&](const testing::ShownMessage&) { at_question = FilesIn(temp_); };
    ui_.QueueAnswer(kIdNo);
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.messages().size(), 1);
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("複製は正常終了しました。") + kQuestion);
    const QString name = QFileInfo(form.temporary_name()).fileName();
    EXPECT_EQ(at_question, QStringList{name + QStringLiteral(".iso")});
    EXPECT_TRUE(FilesIn(temp_).isEmpty());
  }
  Trelin device;
  ASSERT_TRUE(device.OpenDevice(4));  // E:
  device.LoadTray(true);
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(device, QString::fromStdString((dir_.path() / "back").string())));
  device.CloseDevice();
  ASSERT_TRUE(testing::RequireTool("cmp"));
  std::string out;
  EXPECT_EQ(testing::RunCommand("cmp '" + iso.string() + "' '" + (dir_.path() / "back.iso").string() + "' 2>&1", &out), 0)
      << out;
}

// A DVD+RW holding a disc (copied first) and a source disc larger than it
// holds once formatted: the copy on the fly is refused before the drive
// formats anything, the disc's data as it was.
TEST_F(DiscCopyFormTest, SourceLargerThanARecordedDvdPlusRwLeavesItAsItWas) {
  const fs::path small = testing::MakeIsoImage(dir_.path(), "small", {{"a.txt", std::string(90000, 'a')}});
  ASSERT_FALSE(small.empty());
  const fs::path large = dir_.path() / "large.iso";
  testing::WriteFileBytes(large, "");
  fs::resize_file(large, (uint64_t{2295104} + 1) * 2048);  // one sector more than the disc; sparse
  MapDrives("image=" + small.string(), "medium=dvd+rw");
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  form.chkCreateTemporaryImage()->setChecked(false);
  form.chkVerify()->setChecked(false);
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  ASSERT_EQ(ui_.messages()[0].text, QStringLiteral("複製は正常終了しました。"));
  const std::string data_path = e_->path() + ".data";
  const std::string before = testing::ReadFileBytes(data_path);
  ASSERT_FALSE(before.empty());

  std::string error;
  ASSERT_TRUE(d_->drive()->InsertDisc("dvd-rom", large.string(), &error)) << error;
  form.fraRecv()->eject_button(1)->click();  // the tray opened after the copy
  ui_.Clear();
  e_->hooks().ClearLog();
  form.cmdStartStop()->click();
  ASSERT_FALSE(ui_.messages().empty());
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_TRUE(form.vbxMain()->lines().join(u'\n').contains(
      QStringLiteral("書き込み対象のデータ容量はメディアの容量を超えています。")))
      << form.vbxMain()->lines().join(u'\n').toStdString();
  for (uint8_t opcode : {uint8_t{0x04}, uint8_t{0xA1}, uint8_t{0x2A}}) {  // FORMAT UNIT, BLANK, WRITE(10)
    EXPECT_TRUE(e_->Commands(opcode).empty()) << std::hex << int(opcode);
  }
  EXPECT_TRUE(testing::ReadFileBytes(data_path) == before);
}

// A timer that runs `step` every 5 ms while the test's form works: for what
// waits on its own (a prompt polling for a disc), never for acting while a job
// runs, which a short job can end between two ticks.
class Ticker {
 public:
  explicit Ticker(std::function<void()> step) {
    QObject::connect(&timer_, &QTimer::timeout, std::move(step));
    timer_.start(5);
  }

 private:
  QTimer timer_;
};

// Runs `step` at each of the running jobs' message pumps (after each of their
// progress reports), then lets the events run: a job is acted on at a point
// it reaches itself, however quickly it ends.
class AtEachPump {
 public:
  explicit AtEachPump(std::function<void()> step)
      : previous_(InstallMessagePump([step = std::move(step)] {
          step();
          QCoreApplication::processEvents();
        })) {}
  ~AtEachPump() { InstallMessagePump(previous_); }
  AtEachPump(const AtEachPump&) = delete;
  AtEachPump& operator=(const AtEachPump&) = delete;

 private:
  std::function<void()> previous_;
};

TEST_F(DiscCopyFormTest, TheRealPromptWaitsUntilABlankDiscIsInserted) {
  const testing::CueFixture source = PressedCd();
  MapDrives("image=" + source.cue.string());
  FormFactories real;
  real.is_ready_form = [] { return std::make_unique<IsReadyPrompt>(); };
  InstallFormFactories(&real);
  DiscCopyForm form;
  form.chkVerify()->setChecked(false);
  int inserted = 0;
  int polls_before_insert = 0;
  Ticker insert([&] {
    auto* prompt = qobject_cast<IsReadyForm*>(QApplication::activeModalWidget());
    if (prompt == nullptr || prompt->property("served").toBool() || prompt->polls() < 3) return;
    prompt->setProperty("served", true);
    polls_before_insert = prompt->polls();
    ++inserted;
    EXPECT_TRUE(InsertBlank(d_->path()));
  });
  ui_.QueueAnswer(kIdYes);
  ui_.QueueAnswer(kIdNo);
  form.cmdStartStop()->click();
  InstallFormFactories(&factories_);
  EXPECT_EQ(inserted, 2);
  EXPECT_GE(polls_before_insert, 3);  // the prompt waited
  ASSERT_EQ(Texts(), QStringList(2, QStringLiteral("複製は正常終了しました。") + kQuestion));
  EXPECT_TRUE(FilesIn(temp_).isEmpty());
}

TEST_F(DiscCopyFormTest, StopDuringTheReadShowsNothingAndLeavesNoFile) {
  MapPressedAndBlank();
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  form.chkCreateTemporaryImage()->setChecked(true);
  bool clicked = false;
  AtEachPump stop([&] {
    if (form.mobjReader() != nullptr && !clicked) {
      clicked = true;
      form.cmdStartStop()->click();
    }
  });
  ui_.QueueAnswer(kIdYes);
  form.cmdStartStop()->click();
  EXPECT_TRUE(clicked);
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("複製中断してよろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_TRUE(FilesIn(temp_).isEmpty());
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
}

TEST_F(DiscCopyFormTest, StopDuringTheVerificationAsksTheVerifierQuestion) {
  MapPressedAndBlank();
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  bool clicked = false;
  bool copier_seen = false;
  AtEachPump stop([&] {
    copier_seen = copier_seen || form.mobjCopier() != nullptr;
    if (form.mobjVerifier() != nullptr && form.mobjCopier() == nullptr && form.running() && !clicked) {
      clicked = true;
      form.cmdStartStop()->click();
    }
  });
  ui_.QueueAnswer(kIdYes);
  form.cmdStartStop()->click();
  EXPECT_TRUE(copier_seen);
  ASSERT_TRUE(clicked);
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("検証を中断してよろしいですか。")});
}

TEST_F(DiscCopyFormTest, PowerOffAfterALongPassEndsTheJobWithoutMessage) {
  testing::ScopedManualClock clock;
  AcceptingPowerBackend power;
  MapPressedAndBlank();
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  form.chkCreateTemporaryImage()->setChecked(true);
  form.chkShutdown()->setChecked(true);
  bool advanced = false;
  AtEachPump time([&] {
    if (form.mobjWriter() != nullptr && !advanced) {
      advanced = true;
      clock.clock().Advance(std::chrono::seconds(61));
    }
  });
  form.cmdStartStop()->click();
  EXPECT_TRUE(advanced);
  EXPECT_EQ(power.calls, QStringList{QStringLiteral("poweroff")});
  EXPECT_TRUE(ui_.messages().isEmpty()) << Texts().join(' ').toStdString();
  EXPECT_TRUE(FilesIn(temp_).isEmpty());
}

TEST_F(DiscCopyFormTest, AShortPassNeverRunsThePowerAction) {
  testing::ScopedManualClock clock;
  AcceptingPowerBackend power;
  MapPressedAndBlank();
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  form.chkShutdown()->setChecked(true);
  Ticker time([&] { clock.clock().Advance(std::chrono::milliseconds(form.mobjCopier() != nullptr ? 1 : 0)); });
  form.cmdStartStop()->click();
  EXPECT_TRUE(power.calls.isEmpty());
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("複製は正常終了しました。")});
  // With chkShutdown ticked the tray stays closed before the message.
  EXPECT_FALSE(e_->drive()->media().tray_open);
}

TEST_F(DiscCopyFormTest, ACancelledPromptAfterAFailedPassReportsItsOwnFailure) {
  MapPressedAndBlank();
  e_->hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.write_error_lba = 100; });
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  form.chkCreateTemporaryImage()->setChecked(true);
  form.chkVerify()->setChecked(false);
  int prompts = 0;
  prompt_ = [&](Trelin&) {
    ++prompts;
    return false;
  };
  // At the first question the failed disc is taken out.
  ui_.on_message = [&](const testing::ShownMessage& message) {
    if (ui_.messages().size() == 1) {
      EXPECT_FALSE(message.text.startsWith(QStringLiteral("複製に失敗しました")));
      e_->drive()->RemoveDisc();
    }
  };
  ui_.QueueAnswer(kIdYes);
  ui_.QueueAnswer(kIdNo);
  form.cmdStartStop()->click();
  EXPECT_EQ(prompts, 1);
  ASSERT_EQ(ui_.messages().size(), 2) << Texts().join(' ').toStdString();
  EXPECT_TRUE(ui_.messages()[0].text.endsWith(kQuestion));
  EXPECT_EQ(ui_.messages()[0].style, kRepeatStyle + 16);
  EXPECT_EQ(ui_.messages()[1].text, QStringLiteral("複製に失敗しました") + kQuestion);
  EXPECT_EQ(ui_.messages()[1].style, kRepeatStyle + 16);
  EXPECT_TRUE(FilesIn(temp_).isEmpty());
}

TEST_F(DiscCopyFormTest, SettingsAreStoredAndTheLockedBoxAsZero) {
  MapDrives("medium=cd-r", "medium=cd-r");
  const QString form_name = QStringLiteral("DiscCopyForm");
  {
    DiscCopyForm form;
    EXPECT_FALSE(form.chkCreateTemporaryImage()->isEnabled());  // both sides on D:
    Pick(form.fraRecv()->drive_combo(), 1);
    form.chkCreateTemporaryImage()->setChecked(true);
    form.chkVerify()->setChecked(false);
    form.close();
  }
  EXPECT_EQ(GetDialogSetting(form_name, QStringLiteral("chkCreateTemporaryImage")), QStringLiteral("1"));
  EXPECT_EQ(GetDialogSetting(form_name, QStringLiteral("chkVerify")), QStringLiteral("0"));
  const QString write_text = GetDialogSetting(form_name, QStringLiteral("cboWriteDrive"));
  EXPECT_TRUE(write_text.startsWith(QStringLiteral("(E:)"))) << write_text.toStdString();
  {
    DiscCopyForm form;
    EXPECT_EQ(form.fraRecv()->drive_combo()->currentText(), write_text);
    EXPECT_TRUE(form.chkCreateTemporaryImage()->isChecked());
    EXPECT_FALSE(form.chkVerify()->isChecked());
    Pick(form.fraRecv()->drive_combo(), 0);  // same drive: ticked and locked
    EXPECT_TRUE(form.chkCreateTemporaryImage()->isChecked());
    form.close();
  }
  EXPECT_EQ(GetDialogSetting(form_name, QStringLiteral("chkCreateTemporaryImage")), QStringLiteral("0"));
  {
    DiscCopyForm form;  // a stored "0" with the box locked: still ticked
    EXPECT_TRUE(form.chkCreateTemporaryImage()->isChecked());
    EXPECT_FALSE(form.chkCreateTemporaryImage()->isEnabled());
  }
}

TEST_F(DiscCopyFormTest, StartDoesNothingWithoutADrive) {
  MapDrives("medium=cd-r");
  map_ = std::make_unique<testing::ScopedDriveMap>("");
  DiscCopyForm form;
  ASSERT_EQ(form.fraSend()->device(), nullptr);
  form.cmdStartStop()->click();
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
}

TEST_F(DiscCopyFormTest, DiscCopyFormScreenshot) {
  const testing::CueFixture source = PressedCd();
  MapDrives("image=" + source.cue.string() + ",vendor=SORVEL,product=EMU-READER",
            "medium=cd-r,vendor=SORVEL,product=EMU-WRITER");
  DiscCopyForm form;
  Pick(form.fraRecv()->drive_combo(), 1);
  form.vbxMain()->LineOut(QStringLiteral("00:00:00 複製は正常終了しました。"));
  form.resize(640, 480);
  testing::SaveScreenshot(&form, QStringLiteral("DiscCopyForm"));
}

// Clicks the network box of `side` until it lists remote drives (the scan
// may miss the first time on a loaded machine).
bool ListRemote(testing::ScriptedModalUi& ui, DrivePanel* side) {
  for (int attempt = 0; attempt < 5 && !side->network_box()->isChecked(); ++attempt) {
    ui.Clear();
    side->network_box()->click();
  }
  ui.Clear();
  return side->network_box()->isChecked() && side->device() != nullptr;
}

TEST_F(DiscCopyFormTest, RemoteReadSideServedByTheDaemon) {
  RequireCdTools();
  const testing::CueFixture source = PressedCd();
  testing::KestrowStandalone daemon(fs::path(env_.State("daemon")),
                                    "D:=emu:" + env_.State("remote.state") + ",image=" + source.cue.string(), "D");
  ASSERT_TRUE(daemon.Start());
  Settings()->SetRemotePort(daemon.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  e_ = std::make_unique<testing::EmulatedDriveFixture>(dir_, "medium=cd-r", "e");
  map_ = std::make_unique<testing::ScopedDriveMap>("E:=" + e_->device());

  DiscCopyForm form;
  form.show();
  ASSERT_TRUE(ListRemote(ui_, form.fraSend()));
  ASSERT_NE(form.fraRecv()->device(), nullptr);
  ASSERT_FALSE(form.fraRecv()->network_box()->isChecked());
  ASSERT_NE(form.fraSend()->device(), form.fraRecv()->device());
  EXPECT_TRUE(form.fraSend()->drive_combo()->currentText().contains(QStringLiteral("127.0.0.1")));

  form.cmdStartStop()->click();
  EXPECT_EQ(Texts(), QStringList{QStringLiteral("複製は正常終了しました。")});
  EXPECT_TRUE(ExportedTracks(e_->path(), "copy") == Tracks("src"));
}

TEST_F(DiscCopyFormTest, OneRemoteDriveOnBothSidesKeepsItsLinkWhileTheQuestionIsOpen) {
  const testing::CueFixture source = PressedCd();
  const std::string state = env_.State("served.state");
  const std::string served = "D:=emu:" + state + ",image=" + source.cue.string();
  DaemonRemoteScsiServer server(remote_test::MapFactory(served));
  for (int i = 0; i < 26; ++i) server.SetDriveEnabled(i, i == 3);
  ASSERT_TRUE(server.Start(0, 4));
  Settings()->SetRemotePort(server.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  map_ = std::make_unique<testing::ScopedDriveMap>("");

  DiscCopyForm form;
  form.show();
  form.chkVerify()->setChecked(false);
  ASSERT_TRUE(ListRemote(ui_, form.fraSend()));
  ASSERT_TRUE(ListRemote(ui_, form.fraRecv()));
  ASSERT_EQ(form.fraSend()->device(), form.fraRecv()->device());
  EXPECT_FALSE(form.chkCreateTemporaryImage()->isEnabled());

  int prompts = 0;
  prompt_ = [&](Trelin& drive) {
    ++prompts;
    EXPECT_TRUE(InsertBlank(state));
    return drive.IsMediaWritable();
  };
  bool timer_idle_during_question = true;
  ui_.on_message = [&](const testing::ShownMessage&) {
    if (ui_.messages().size() != 1) return;
    // The first question stays open for 5 s with the events running.
    QEventLoop wait;
    QTimer::singleShot(5000, &wait, &QEventLoop::quit);
    wait.exec();
    timer_idle_during_question = !form.fraSend()->timer()->isActive();
  };
  ui_.QueueAnswer(kIdYes);
  ui_.QueueAnswer(kIdNo);
  form.cmdStartStop()->click();
  EXPECT_EQ(prompts, 2);
  EXPECT_TRUE(timer_idle_during_question);
  EXPECT_EQ(Texts(), QStringList(2, QStringLiteral("複製は正常終了しました。") + kQuestion));
  EXPECT_TRUE(FilesIn(temp_).isEmpty());
  form.close();
  server.Stop();
}

}  // namespace
}  // namespace sorvel
