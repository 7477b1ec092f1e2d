// The write-image dialog end to end on emulated drives: CUE/BIN, ISO and
// ".tsn" images written through the real engine and judged by independent
// tools, the tray and message order at the end of a job, a failed WRITE, the
// start procedure's dispatch, an image too large for a recorded rewritable
// disc, and a remote drive of a real kestrow with the stop question held open.
#include "gui/dialogs/disc_write_form.h"
#include "gui/model/device_setting.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_forms.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_job_test_support.h"
#include "gui/dialogs/disc_read_form.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/toc_information.h"
#include "testing/loopback_relay.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/start_procedure.h"
#include "gui/model/public_enumerations.h"
#include "platform/emulated_device.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/recording_power_backend.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"
#include "testing/manual_clock.h"
#include "testing/scoped_current_dir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

const QString kSuccess = QStringLiteral("書き込みは正常終了しました。");
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kFormatUnit = 0x04;
constexpr uint8_t kBlank = 0xA1;
// Sectors of the emulated DVD+RW and DVD-RW.
constexpr int32_t kRewritableDvdSectors = 2295104;

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

std::string Log(const DiscWriteForm& form) { return form.vbxMain()->lines().join('\n').toStdString(); }

// Tray openings the drive received so far.
int Ejects(const std::string& state) {
  int count = 0;
  for (const auto& command : platform::emu::HooksFor(state)->log())
    count += command.opcode() == kStartStopUnit && (command.cdb[4] & 0x03) == 0x02 ? 1 : 0;
  return count;
}

// A data track, then two audio tracks with 2-second pregaps.
testing::CueFixture MixedCd(const fs::path& dir, const std::string& name = "mixed") {
  return testing::MakeCueImage(dir, name,
                               {{false, 0, 600, "", false}, {true, 150, 300, "", false}, {true, 150, 225, "", false}});
}

fs::path SmallIso(const fs::path& dir, int bytes = 400000) {
  fs::create_directories(dir / "iso-root");
  const std::string data = (dir / "iso-root" / "data.bin").string();
  EXPECT_EQ(RunCommand(QStringLiteral("head -c %1 /dev/urandom > '%2'").arg(bytes).arg(Q(data)).toStdString()), 0);
  const fs::path iso = dir / "source.iso";
  std::string log;
  EXPECT_EQ(RunCommand("genisoimage -quiet -r -J -V 'WRITE TEST' -o '" + iso.string() + "' '" +
                           (dir / "iso-root").string() + "' 2>&1",
                       &log),
            0)
      << log;
  return iso;
}

// Exports the CD in the open drive `state` and checks it against the source
// with cdrdao and bchunk.
void ExpectCdEquals(const std::string& state, const testing::CueFixture& source, const fs::path& dir) {
  ASSERT_TRUE(testing::ExportDisc(state, dir));
  std::string toc;
  EXPECT_EQ(RunCommand("cd '" + dir.string() + "' && cdrdao show-toc disc.cue 2>&1", &toc), 0) << toc;
  const auto written = testing::BchunkTracks(dir / "disc.bin", dir / "disc.cue", dir / "chunks");
  const auto expected = testing::BchunkTracks(source.bin, source.cue, dir / "chunks-source");
  ASSERT_EQ(written.size(), source.track_starts.size());
  EXPECT_TRUE(written == expected);
}

class DiscWriteFormTest : public ::testing::Test {
 protected:
  DiscWriteFormTest() : forms_(DialogFormFactories()), previous_forms_(InstallFormFactories(&forms_)) {}
  ~DiscWriteFormTest() override { InstallFormFactories(previous_forms_); }

  // Reads the CD `source` (in an emulated drive of its own) into
  // `folder`/Disc.img with its descriptors, through the read dialog.
  void ReadDisc(const testing::CueFixture& source, const fs::path& folder) {
    fs::create_directories(folder);
    testing::ScopedDriveMap map("D:=emu:" + env_.State("r.state") + ",image=" + source.cue.string());
    DiscReadForm reader;
    reader.txtWriteFile()->setText(Q(folder / "Disc.img"));
    reader.cmdStartStop()->click();
    ASSERT_EQ(ui_.LastText(), QStringLiteral("読み込みは正常終了しました。"));
    reader.cmdEnd()->click();
  }

  // Runs `reader` on its drive's disc into a folder "back" of the scratch
  // folder (image name Disc.img); that folder.
  fs::path ReadBack(DiscReadForm& reader) {
    const fs::path back = dir_.path() / "back";
    fs::create_directories(back);
    reader.txtWriteFile()->setText(Q(back / "Disc.img"));
    reader.cmdStartStop()->click();
    return back;
  }

  // Reads the disc that the daemon wrote into the drive `state` back here,
  // through the read dialog, and compares it with the image `iso`.
  void ExpectDiscHolds(const std::string& state, const fs::path& iso) {
    ui_.Clear();
    testing::ScopedDriveMap map("D:=emu:" + state);
    DiscReadForm reader;
    reader.fraSend()->eject_button(1)->click();  // the tray opened after the write
    const fs::path back = ReadBack(reader);
    ASSERT_EQ(ui_.LastText(), QStringLiteral("読み込みは正常終了しました。")) << ui_.LastText().toStdString();
    EXPECT_EQ(RunCommand("cmp '" + iso.string() + "' '" + (back / "Disc.iso").string() + "'"), 0);
    reader.cmdEnd()->click();
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
  FormFactories forms_;
  const FormFactories* previous_forms_;
};

TEST_F(DiscWriteFormTest, CueImageOnACdRMatchesTheSourceAndIsVerified) {
  for (const char* tool : {"cdrdao", "bchunk"}) ASSERT_TRUE(testing::RequireTool(tool));
  const testing::CueFixture source = MixedCd(dir_.path());
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  DiscWriteForm form;
  form.show();
  ASSERT_NE(form.fraRecv()->device(), nullptr);
  EXPECT_TRUE(form.chkVerify()->isChecked());  // "1" by default
  EXPECT_FALSE(form.chkShutdown()->isChecked());
  form.txtReadFile()->setText(Q(source.cue));
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].text, kSuccess) << Log(form);
  EXPECT_EQ(ui_.messages()[0].style, 64);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  // Verified after a reload through the insert-disc prompt, comparing the data track.
  EXPECT_NE(Log(form).find("ディスクを再挿入します"), std::string::npos) << Log(form);
  EXPECT_NE(Log(form).find("検証種別：比較検査"), std::string::npos) << Log(form);
  EXPECT_NE(Log(form).find("ディスクは正常です。"), std::string::npos) << Log(form);
  EXPECT_EQ(form.cmdStartStop()->text(), QStringLiteral("開始(&S)"));
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  EXPECT_TRUE(form.fraSend()->isEnabled());
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), power_.Count(QStringLiteral("release")));
  EXPECT_FALSE(power_.held);
  ExpectCdEquals(state, source, dir_.path() / "export");
  form.cmdEnd()->click();
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DiscWriteForm"), QStringLiteral("chkVerify")), QStringLiteral("1"));
}

TEST_F(DiscWriteFormTest, IsoOnADvdRReadsBackEqual) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  const fs::path iso = SmallIso(dir_.path());
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=dvd-r");
  {
    DiscWriteForm form;
    form.txtReadFile()->setText(Q(iso));
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.LastText(), kSuccess) << Log(form);
    form.fraRecv()->eject_button(1)->click();  // the tray opened after the write
    form.cmdEnd()->click();
  }
  ui_.Clear();
  DiscReadForm reader;
  const fs::path back = ReadBack(reader);
  ASSERT_EQ(ui_.LastText(), QStringLiteral("読み込みは正常終了しました。")) << ui_.LastText().toStdString();
  EXPECT_EQ(RunCommand("cmp '" + iso.string() + "' '" + (back / "Disc.iso").string() + "'"), 0);
  reader.cmdEnd()->click();
}

// A DVD+RW and a DVD-RW holding a disc, and an image one sector larger than
// either holds once formatted or erased: refused before the drive formats or
// erases anything, the disc's data as it was.
TEST_F(DiscWriteFormTest, ImageLargerThanARecordedRewritableDiscLeavesItAsItWas) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  const fs::path small = SmallIso(dir_.path());
  const fs::path large = dir_.path() / "large.iso";
  { std::ofstream create(large, std::ios::binary); }
  fs::resize_file(large, (uint64_t{kRewritableDvdSectors} + 1) * 2048);  // sparse
  for (const char* medium : {"dvd+rw", "dvd-rw"}) {
    SCOPED_TRACE(medium);
    ui_.Clear();
    const std::string state = env_.State(medium);
    testing::ScopedDriveMap map("D:=emu:" + state + ",medium=" + medium);
    DiscWriteForm form;
    form.chkVerify()->setChecked(false);
    form.txtReadFile()->setText(Q(small));
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.LastText(), kSuccess) << Log(form);
    form.fraRecv()->eject_button(1)->click();  // the tray opened after the write
    const std::string before = testing::ReadFileBytes(state + ".data");
    ASSERT_FALSE(before.empty());

    ui_.Clear();
    platform::emu::HooksFor(state)->ClearLog();
    form.txtReadFile()->setText(Q(large));
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
    EXPECT_EQ(ui_.messages()[0].style, 16);
    EXPECT_NE(Log(form).find("書き込み対象のデータ容量はメディアの容量を超えています。"), std::string::npos) << Log(form);
    for (const auto& command : platform::emu::HooksFor(state)->log()) {
      EXPECT_TRUE(command.opcode() != kFormatUnit && command.opcode() != kBlank && command.opcode() != kWrite10)
          << std::hex << int(command.opcode());
    }
    EXPECT_TRUE(testing::ReadFileBytes(state + ".data") == before);
    form.cmdEnd()->click();
  }
}

TEST_F(DiscWriteFormTest, TsnFromTheReadDialogIsOfferedAndWrittenBack) {
  for (const char* tool : {"cdrdao", "bchunk"}) ASSERT_TRUE(testing::RequireTool(tool));
  const testing::CueFixture source = MixedCd(dir_.path());
  const fs::path out = dir_.path() / "read";
  ASSERT_NO_FATAL_FAILURE(ReadDisc(source, out));
  ASSERT_TRUE(fs::exists(out / "Disc.tsn"));
  ui_.Clear();

  const std::string state = env_.State("w.state");
  testing::ScopedDriveMap map("E:=emu:" + state + ",medium=cd-r");
  DiscWriteForm form;
  form.txtReadFile()->setText(QStringLiteral("/nowhere/old.iso"));
  ui_.QueueOpenFiles({Q(out / "Disc.tsn")});
  form.cmdReadFile()->click();
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].kind, testing::ShownFileDialog::kOpen);
  EXPECT_EQ(ui_.dialogs()[0].filter,
            QStringLiteral("サポートしているイメージ (*.iso,*.cue,*.ccd,*.tsn)|*.iso;*.cue;*.ccd;*.tsn|全てのファイル (*.*)|*.*"));
  EXPECT_EQ(ui_.dialogs()[0].default_path, QStringLiteral("/nowhere/old.iso"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 0x1800);
  EXPECT_EQ(form.txtReadFile()->text(), Q(out / "Disc.tsn"));
  // A cancelled dialog changes nothing.
  form.cmdReadFile()->click();
  EXPECT_EQ(form.txtReadFile()->text(), Q(out / "Disc.tsn"));

  form.chkVerify()->setChecked(false);
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.LastText(), kSuccess) << Log(form);
  ExpectCdEquals(state, source, dir_.path() / "export");
}

// `cd images && sorvel Disc.tsn` (or Disc.ccd): the descriptor named relative
// to the folder the program was started in is the one written, whatever
// folder the program itself lies in.
TEST_F(DiscWriteFormTest, RelativeDescriptorOnTheCommandLineIsWritten) {
  for (const char* tool : {"cdrdao", "bchunk"}) ASSERT_TRUE(testing::RequireTool(tool));
  const testing::CueFixture source = MixedCd(dir_.path());
  const fs::path images = dir_.path() / "images";
  ASSERT_NO_FATAL_FAILURE(ReadDisc(source, images));
  // The same disc as the outside program's descriptor beside the same image.
  TOCInformation toc;
  ASSERT_TRUE(toc.LoadCCDFile(Q(images / "Disc.tsn")));
  ASSERT_TRUE(toc.SaveCCDFile(Q(images / "Disc.ccd")));

  for (const char* descriptor : {"Disc.tsn", "Disc.ccd"}) {
    SCOPED_TRACE(descriptor);
    ui_.Clear();
    const std::string state = env_.State((std::string(descriptor) + ".state").c_str());
    testing::ScopedDriveMap map("E:=emu:" + state + ",medium=cd-r");
    testing::ScopedCurrentDir here(images);
    QString shown_path;
    testing::WhenModalShown([&](QWidget* shown) {
      auto* form = qobject_cast<DiscWriteForm*>(shown);
      ASSERT_NE(form, nullptr);
      shown_path = form->txtReadFile()->text();
      form->chkVerify()->setChecked(false);
      form->cmdStartStop()->click();
      // Judged while the dialog still holds the drive.
      if (ui_.LastText() == kSuccess) ExpectCdEquals(state, source, dir_.path() / (std::string("export-") + descriptor));
      form->cmdEnd()->click();
    });
    Main({QString::fromLatin1(descriptor)});
    EXPECT_EQ(shown_path, Q(images / descriptor));
    EXPECT_EQ(ui_.LastText(), kSuccess);
  }
}

// Tray and message at the end of a successful job: opened before the message,
// after it, or not at all, by EjectAfterMessage and chkShutdown (the power
// action is not due: the job is short).
TEST_F(DiscWriteFormTest, EndingMatrixOrdersTrayAndMessage) {
  const testing::CueFixture source = testing::MakeCueImage(dir_.path(), "data", {{false, 0, 300, "", false}});
  struct Case {
    bool eject_after_message;
    bool shutdown;
    int ejects_at_message;
    int ejects_at_end;
  } cases[] = {{false, false, 1, 1}, {true, false, 0, 1}, {false, true, 0, 0}, {true, true, 0, 1}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.eject_after_message << c.shutdown);
    const std::string state = env_.State(QStringLiteral("m%1").arg(n++).toStdString().c_str());
    testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
    Settings()->SetEjectAfterMessage(c.eject_after_message);
    ui_.Clear();
    power_.calls.clear();
    DiscWriteForm form;
    form.chkVerify()->setChecked(false);
    form.chkShutdown()->setChecked(c.shutdown);
    form.txtReadFile()->setText(Q(source.cue));
    int at_message = -1;
    ui_.on_message = [&](const testing::ShownMessage&) { at_message = Ejects(state); };
    platform::emu::HooksFor(state)->ClearLog();
    form.cmdStartStop()->click();
    ui_.on_message = nullptr;
    ASSERT_EQ(ui_.messages().size(), 1);
    EXPECT_EQ(ui_.messages()[0].text, kSuccess) << Log(form);
    EXPECT_EQ(at_message, c.ejects_at_message);
    EXPECT_EQ(Ejects(state), c.ejects_at_end);
    EXPECT_EQ(power_.Count(QStringLiteral("poweroff")), 0);
    form.cmdEnd()->click();
  }
}

// A long job with chkShutdown ticked: the action the settings name for the
// outcome runs after the job, and its kind decides the result message. The
// job's minute passes on the test's monotonic clock, advanced from its events.
TEST_F(DiscWriteFormTest, LongJobRunsThePowerActionBeforeTheMessage) {
  const testing::CueFixture source = testing::MakeCueImage(dir_.path(), "data", {{false, 0, 300, "", false}});
  struct Case {
    int32_t code;
    bool accepted;
    bool message;
  } cases[] = {{8, true, false}, {0x8000, true, true}, {8, false, true}, {0, true, true}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << ' ' << c.accepted);
    const std::string state = env_.State(QStringLiteral("p%1").arg(n++).toStdString().c_str());
    testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
    Settings()->SetShutdownSuccess(c.code);
    Settings()->SetEjectAfterMessage(false);
    power_.accept_actions = c.accepted;
    power_.calls.clear();
    ui_.Clear();
    DiscWriteForm form;
    form.chkVerify()->setChecked(false);
    form.chkShutdown()->setChecked(true);
    form.txtReadFile()->setText(Q(source.cue));
    platform::emu::HooksFor(state)->ClearLog();
    {
      testing::ScopedManualClock clock;
      bool advanced = false;
      const std::function<void()> previous = InstallMessagePump([&] {
        if (!advanced) clock.clock().Advance(std::chrono::seconds(61));
        advanced = true;
        QCoreApplication::processEvents();
      });
      form.cmdStartStop()->click();
      InstallMessagePump(previous);
    }
    EXPECT_EQ(power_.Count(QStringLiteral("poweroff")), c.code == 8 ? 1 : 0);
    EXPECT_EQ(power_.Count(QStringLiteral("suspend")), c.code == 0x8000 ? 1 : 0);
    EXPECT_EQ(ui_.messages().size(), c.message ? 1 : 0) << Log(form);
    if (c.message && !ui_.messages().isEmpty()) {
      EXPECT_EQ(ui_.messages()[0].text, kSuccess);
    }
    // chkShutdown ticked and EjectAfterMessage off: the tray stays closed.
    EXPECT_EQ(Ejects(state), 0);
    form.cmdEnd()->click();
  }
}

TEST_F(DiscWriteFormTest, FailedWriteRunsNoVerificationLeavesTheTrayAndShowsTheJobsError) {
  const testing::CueFixture source = testing::MakeCueImage(dir_.path(), "data", {{false, 0, 600, "", false}});
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  platform::emu::HooksFor(state)->UpdateFaults([](platform::emu::DriveFaults& f) { f.write_error_lba = 200; });
  DiscWriteForm form;
  ASSERT_TRUE(form.chkVerify()->isChecked());
  form.txtReadFile()->setText(Q(source.cue));
  platform::emu::HooksFor(state)->ClearLog();
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_FALSE(form.last_error().isEmpty());
  EXPECT_EQ(ui_.messages()[0].text, form.last_error());
  EXPECT_EQ(Ejects(state), 0);
  // The verifier's first words never appear.
  EXPECT_EQ(Log(form).find("ディスクを再挿入します"), std::string::npos) << Log(form);
  EXPECT_EQ(Log(form).find("検証"), std::string::npos) << Log(form);
  platform::emu::HooksFor(state)->UpdateFaults([](platform::emu::DriveFaults& f) { f.write_error_lba.reset(); });
}

// An image cut while it is written: the box names the image, not a sector
// the drive would have failed to write.
TEST_F(DiscWriteFormTest, ImageCutWhileWrittenIsNamedInTheBox) {
  const testing::CueFixture source = testing::MakeCueImage(dir_.path(), "data", {{false, 0, 600, "", false}});
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  DiscWriteForm form;
  form.txtReadFile()->setText(Q(source.cue));
  QObject::connect(form.prgMain(), &QProgressBar::valueChanged, [&](int value) {
    if (value == 300 && fs::file_size(source.bin) > 400 * 2352) fs::resize_file(source.bin, 400 * 2352);
  });
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("イメージファイル %1 が途切れています。").arg(Q(source.bin))) << Log(form);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(Log(form).find("の書き込みに失敗しました。"), std::string::npos) << Log(form);
  EXPECT_EQ(Log(form).find("検証"), std::string::npos) << Log(form);
}

TEST_F(DiscWriteFormTest, VerificationWithoutCompareOnlyReads) {
  const testing::CueFixture source = testing::MakeCueImage(dir_.path(), "data", {{false, 0, 300, "", false}});
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  Settings()->SetVerifyCompare(false);
  DiscWriteForm form;
  form.chkVerify()->setChecked(true);
  form.txtReadFile()->setText(Q(source.cue));
  platform::emu::HooksFor(state)->ClearLog();
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.LastText(), kSuccess) << Log(form);
  EXPECT_NE(Log(form).find("検証種別：読取検査"), std::string::npos) << Log(form);
  EXPECT_EQ(Log(form).find("比較検査"), std::string::npos) << Log(form);
  // After the last WRITE the drive only answers reads and queries.
  const auto log = platform::emu::HooksFor(state)->log();
  size_t last_write = 0;
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i].opcode() == kWrite10) last_write = i;
  ASSERT_GT(last_write, 0u);
  int reads = 0;
  for (size_t i = last_write + 1; i < log.size(); ++i) reads += log[i].opcode() == 0xBE || log[i].opcode() == 0x28 ? 1 : 0;
  EXPECT_GT(reads, 0);
  form.cmdEnd()->click();
}

// A burn stopped halfway with the dialog's stop button: the disc reads back
// as the cut disc it is, neither blank nor complete, the first sector never
// written unreadable; a second burn is refused, and reading the disc with
// the read dialog does not end in success.
struct StoppedBurnCase {
  const char* name;
  const char* medium;
  int32_t cd_write_command;  // -1: a DVD image
};

class StoppedBurnTest : public DiscWriteFormTest, public ::testing::WithParamInterface<StoppedBurnCase> {};

TEST_P(StoppedBurnTest, LeavesACutDiscThatReadsAsNoWholeDisc) {
  const StoppedBurnCase& c = GetParam();
  const bool dvd = c.cd_write_command < 0;
  if (dvd) {
    ASSERT_TRUE(testing::RequireTool("genisoimage"));
  }
  const fs::path image = dvd ? SmallIso(dir_.path()) : MixedCd(dir_.path()).cue;
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=" + c.medium);
  constexpr int32_t kStopAt = 100;
  {
    DiscWriteForm form;
    form.show();
    ASSERT_NE(form.fraRecv()->device(), nullptr);
    {
      DeviceSetting setting;
      setting.LoadSetting(*form.fraRecv()->device());
      if (!dvd) setting.CDWriteCommand = c.cd_write_command;
      setting.WriteCacheBufferRate = 0;
      setting.SaveSetting();
    }
    form.chkVerify()->setChecked(false);
    form.txtReadFile()->setText(Q(image));
    bool stopped = false;
    const std::function<void()> previous = InstallMessagePump([&] {
      if (!stopped) {
        for (const auto& command : platform::emu::HooksFor(state)->log()) {
          if (command.opcode() != kWrite10) continue;
          const int32_t lba = static_cast<int32_t>(uint32_t{command.cdb[2]} << 24 | uint32_t{command.cdb[3]} << 16 |
                                                   uint32_t{command.cdb[4]} << 8 | command.cdb[5]);
          if (lba >= kStopAt && lba < 1000000) {
            stopped = true;
            form.cmdStartStop()->click();
            break;
          }
        }
      }
      QCoreApplication::processEvents();
    });
    ui_.QueueAnswer(6);
    form.cmdStartStop()->click();
    InstallMessagePump(previous);
    ASSERT_TRUE(stopped) << Log(form);
    EXPECT_NE(ui_.LastText(), kSuccess) << Log(form);
    form.cmdEnd()->click();
  }
  {
    std::string error;
    std::unique_ptr<platform::ScsiDevice> drive = platform::OpenEmulatedDevice(state, &error);
    ASSERT_TRUE(drive) << error;
    const platform::emu::MediaState media = platform::emu::FindOpenDrive(state)->media();
    EXPECT_EQ(media.status, platform::emu::DiscStatus::kAppendable);
    const int64_t first_unwritten = dvd ? media.next_writable : media.pass_end;
    EXPECT_GE(first_unwritten, kStopAt);
    uint8_t cdb[10] = {0x28, 0, static_cast<uint8_t>(first_unwritten >> 24), static_cast<uint8_t>(first_unwritten >> 16),
                       static_cast<uint8_t>(first_unwritten >> 8), static_cast<uint8_t>(first_unwritten), 0, 0, 1, 0};
    uint8_t sector[2048];
    platform::ScsiRequest request;
    request.cdb = cdb;
    request.cdb_length = sizeof cdb;
    request.data = sector;
    request.data_length = sizeof sector;
    const platform::ScsiResult result = drive->Execute(request);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.sense[2] & 0x0F, 8);  // blank check
  }
  ui_.Clear();
  {
    DiscWriteForm form;
    form.chkVerify()->setChecked(false);
    form.txtReadFile()->setText(Q(image));
    form.cmdStartStop()->click();
    EXPECT_NE(ui_.LastText(), kSuccess) << Log(form);
    EXPECT_NE(Log(form).find("書き込み先のメディアは空ではありません。"), std::string::npos) << Log(form);
    form.cmdEnd()->click();
  }
  ui_.Clear();
  DiscReadForm reader;
  const fs::path back = ReadBack(reader);
  EXPECT_NE(ui_.LastText(), QStringLiteral("読み込みは正常終了しました。")) << reader.vbxMain()->lines().join('\n').toStdString();
  EXPECT_FALSE(fs::exists(back / (dvd ? "Disc.iso" : "Disc.img")));
  reader.cmdEnd()->click();
}

INSTANTIATE_TEST_SUITE_P(Burns, StoppedBurnTest,
                         ::testing::Values(StoppedBurnCase{"CdRSessionAtOnce", "cd-r", CCC_SAO},
                                           StoppedBurnCase{"CdRRaw96", "cd-r", CCC_DAO_RAW96},
                                           StoppedBurnCase{"DvdR", "dvd-r", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Stopped during the verification: the stop button asks the verification's
// question, Yes stops the verifier, and no outcome message follows.
TEST_F(DiscWriteFormTest, StopDuringVerificationAsksTheVerifyQuestion) {
  const testing::CueFixture source = testing::MakeCueImage(dir_.path(), "data", {{false, 0, 600, "", false}});
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r");
  DiscWriteForm form;
  form.chkVerify()->setChecked(true);
  form.txtReadFile()->setText(Q(source.cue));
  bool clicked = false;
  const std::function<void()> previous = InstallMessagePump([&] {
    if (!clicked && form.vbxMain()->lines().join('\n').contains(QStringLiteral("読み取り検査を行います。"))) {
      clicked = true;
      form.cmdStartStop()->click();
    }
    QCoreApplication::processEvents();
  });
  ui_.QueueAnswer(6);
  form.cmdStartStop()->click();
  InstallMessagePump(previous);
  ASSERT_TRUE(clicked) << Log(form);
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("検証を中断してよろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_EQ(Log(form).find("ディスクは正常です。"), std::string::npos) << Log(form);
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  EXPECT_EQ(form.cmdStartStop()->text(), QStringLiteral("開始(&S)"));
}

TEST_F(DiscWriteFormTest, BlankPathIsRefused) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r");
  DiscWriteForm form;
  for (const QString& text : {QString(), QStringLiteral("   ")}) {
    ui_.Clear();
    form.txtReadFile()->setText(text);
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.messages().size(), 1);
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("読み込みファイルを指定してください。"));
    EXPECT_EQ(ui_.messages()[0].style, 48);
  }
  EXPECT_TRUE(form.vbxMain()->lines().isEmpty());
  EXPECT_TRUE(power_.calls.isEmpty());
}

// The start procedure with an image argument shows this dialog with the path
// and the stored drive, as the only window, and returns when 終了(Q) is clicked.
TEST_F(DiscWriteFormTest, CommandLineIsoShowsTheDialogWithThePathAndTheStoredDrive) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r,product=FIRST;E:=emu:" +
                              env_.State("e.state") + ",medium=dvd-r,product=SECOND");
  QString stored;
  {
    DiscWriteForm form;
    ASSERT_EQ(form.fraRecv()->drive_combo()->count(), 2);
    form.fraRecv()->drive_combo()->setCurrentIndex(1);
    emit form.fraRecv()->drive_combo()->activated(1);
    form.chkVerify()->setChecked(false);
    stored = form.fraRecv()->drive_combo()->currentText();
    form.cmdEnd()->click();
  }
  QString shown_path, shown_drive;
  bool verify = true;
  int windows = 0;
  testing::WhenModalShown([&](QWidget* shown) {
    auto* form = qobject_cast<DiscWriteForm*>(shown);
    ASSERT_NE(form, nullptr);
    shown_path = form->txtReadFile()->text();
    shown_drive = form->fraRecv()->drive_combo()->currentText();
    verify = form->chkVerify()->isChecked();
    windows = OpenWindowCount();
    form->cmdEnd()->click();
  });
  Main({QStringLiteral("/discs/my"), QStringLiteral("image.iso")});
  EXPECT_EQ(shown_path, QStringLiteral("/discs/my image.iso"));
  EXPECT_EQ(shown_drive, stored);
  EXPECT_FALSE(verify);
  EXPECT_EQ(windows, 1);
  EXPECT_EQ(OpenWindowCount(), 0);
}

TEST_F(DiscWriteFormTest, ToolMenuShowsTheDialogWithoutAFile) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r");
  QWidget owner;
  QString shown_path = QStringLiteral("unset");
  QWidget* parent = nullptr;
  testing::WhenModalShown([&](QWidget* shown) {
    auto* form = qobject_cast<DiscWriteForm*>(shown);
    ASSERT_NE(form, nullptr);
    shown_path = form->txtReadFile()->text();
    parent = form->parentWidget();
    form->cmdEnd()->click();
  });
  EXPECT_TRUE(ShowDialogForm(&owner, QStringLiteral("DiscWriteForm")));
  EXPECT_EQ(shown_path, QString());
  EXPECT_EQ(parent, &owner);
  EXPECT_FALSE(ShowDialogForm(&owner, QStringLiteral("NoSuchForm")));
}

// An ISO written to a drive served by kestrow on the loopback interface, the
// sectors written by the window's thread (no write cache); the stop question
// opens while a command waits for the daemon and stays open for 10 s (a
// nested event loop, as a modal box runs, longer than the daemon's silence
// limit) and is answered No. The disc then holds the ISO.
TEST_F(DiscWriteFormTest, RemoteWriteThroughKestrowSurvivesAnOpenStopQuestion) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  testing::FixedInterfaces no_interfaces;
  const fs::path iso = SmallIso(dir_.path());
  const std::string state = env_.State("r.state");
  {
    testing::ScopedDriveMap map("");
    testing::KestrowStandalone daemon(fs::path(env_.State("daemon")), "D:=emu:" + state + ",medium=dvd-r", "D");
    ASSERT_TRUE(daemon.Start());
    Settings()->SetRemotePort(daemon.port());
    Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
    Settings()->SetScanTimeout(300);
    DiscWriteForm form;
    form.show();
    for (int attempt = 0; attempt < 5 && !form.fraRecv()->network_box()->isChecked(); ++attempt) {
      ui_.Clear();
      form.fraRecv()->network_box()->click();
    }
    ASSERT_TRUE(form.fraRecv()->network_box()->isChecked());
    ASSERT_EQ(form.fraRecv()->drive_combo()->count(), 1);
    ASSERT_NE(form.fraRecv()->device(), nullptr);
    {
      DeviceSetting setting;
      setting.LoadSetting(*form.fraRecv()->device());
      setting.WriteCacheBufferRate = 0;
      setting.SaveSetting();
    }
    ui_.Clear();
    form.chkVerify()->setChecked(false);
    form.txtReadFile()->setText(Q(iso));

    ui_.QueueAnswer(7);
    {
      testing::StopQuestionInRemoteWait question(ui_, form.cmdStartStop(), *form.fraRecv()->device(), daemon, 10000);
      form.cmdStartStop()->click();
      ASSERT_TRUE(question.asked_in_wait()) << Log(form);
      EXPECT_GE(question.held_ms(), 9900);
    }
    ASSERT_EQ(ui_.messages().size(), 2) << Log(form);
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込み中断してよろしいですか。"));
    EXPECT_EQ(ui_.messages()[0].style, 292);
    EXPECT_EQ(ui_.messages()[1].text, kSuccess) << Log(form);
    EXPECT_TRUE(form.vbxMain()->lines().join('\n').contains(QStringLiteral("書き込み緩衝域は使用しません。")));
    form.cmdEnd()->click();
  }
  // The disc the daemon wrote, read here.
  ExpectDiscHolds(state, iso);
}

// Lists the remote drives of the service at `port` of 127.0.0.1 in the
// dialog's drive panel; the first one is chosen.
void ChooseRemoteDrive(DiscWriteForm& form, testing::ScriptedModalUi& ui, uint16_t port) {
  Settings()->SetRemotePort(port);
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  for (int attempt = 0; attempt < 5 && !form.fraRecv()->network_box()->isChecked(); ++attempt) {
    ui.Clear();
    form.fraRecv()->network_box()->click();
  }
  ASSERT_TRUE(form.fraRecv()->network_box()->isChecked());
  ASSERT_EQ(form.fraRecv()->drive_combo()->count(), 1);
  ASSERT_NE(form.fraRecv()->device(), nullptr);
  ui.Clear();
}

// A remote write whose daemon stops answering (its process stopped) while the
// write cache's worker sends it the image: the window keeps running while the
// job waits for the worker, and a stop asked for 3 s into the stall ends the
// job within 2 s, as a stopped job ends (no result message). The daemon is let
// go after 30 s at the latest, so that a window that does not run cannot hold
// the test for a command's time-out.
TEST_F(DiscWriteFormTest, StopEndsARemoteWriteWhoseDaemonStoppedAnswering) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  testing::FixedInterfaces no_interfaces;
  const fs::path iso = SmallIso(dir_.path(), 4000000);
  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon(fs::path(env_.State("daemon")), "D:=emu:" + env_.State("r.state") + ",medium=dvd-r",
                                    "D");
  ASSERT_TRUE(daemon.Start());
  DiscWriteForm form;
  form.show();
  ASSERT_NO_FATAL_FAILURE(ChooseRemoteDrive(form, ui_, daemon.port()));
  form.chkVerify()->setChecked(false);
  form.txtReadFile()->setText(Q(iso));

  QElapsedTimer clock;
  qint64 suspended_at = -1;
  qint64 clicked_at = -1;
  std::optional<testing::WindowAnswers> answers;
  std::optional<testing::ResumeAfter> watchdog;
  testing::PumpAction stop_daemon(30, [&] {
    if (!daemon.Suspend()) return;
    suspended_at = clock.elapsed();
    watchdog.emplace(daemon, 30000);
    answers.emplace();
    QTimer::singleShot(3000, Qt::PreciseTimer, &form, [&] {
      ui_.QueueAnswer(6);
      clicked_at = clock.elapsed();
      form.cmdStartStop()->click();
    });
  });
  clock.start();
  form.cmdStartStop()->click();
  const qint64 ended = clock.elapsed();
  const qint64 longest = answers ? answers->longest_gap_ms() : -1;
  watchdog.reset();
  ASSERT_GE(suspended_at, 0) << Log(form);
  ASSERT_GE(clicked_at, 0) << Log(form);
  // The window ran while the job waited: the stop came on time, not after the stall.
  EXPECT_LE(clicked_at - suspended_at, 4500);
  EXPECT_LT(longest, 1000);
  EXPECT_LE(ended - clicked_at, 2000) << Log(form);
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込み中断してよろしいですか。"));
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  EXPECT_TRUE(form.vbxMain()->lines().join('\n').contains(QStringLiteral("==== 失敗 "))) << Log(form);
  form.cmdEnd()->click();
}

// A DVD-R behind a daemon whose WRITE answers a relay holds back 10 ms.
struct SlowRemoteLink {
  SlowRemoteLink(const fs::path& daemon_folder, const std::string& state)
      : daemon(daemon_folder, "D:=emu:" + state + ",medium=dvd-r", "D") {}
  // Starts the daemon and the relay and readies `form` to write `iso` on the
  // drive behind them, without verifying.
  void Ready(DiscWriteForm& form, testing::ScriptedModalUi& ui, const fs::path& iso) {
    ASSERT_TRUE(daemon.Start());
    testing::LoopbackRelay::Behaviour slow;
    slow.write_delay_ms = 10;
    slow.answer_discovery = true;
    relay.emplace(daemon.port(), slow);
    ASSERT_NE(relay->port(), 0);
    form.show();
    ASSERT_NO_FATAL_FAILURE(ChooseRemoteDrive(form, ui, relay->port()));
    form.chkVerify()->setChecked(false);
    form.txtReadFile()->setText(Q(iso));
  }

  testing::ScopedDriveMap map{""};
  testing::KestrowStandalone daemon;
  std::optional<testing::LoopbackRelay> relay;
};

// A slow but healthy link: every WRITE of the remote drive is answered 10 ms
// late (a relay in front of the daemon). The write cache takes the image much
// faster than the link, so most of the drive's work is done in the flush at
// the end: the window keeps running through it and the progress bar moves
// with the sectors the drive took; the disc then holds the image.
TEST_F(DiscWriteFormTest, ARemoteWriteOverASlowLinkLetsTheWindowRunThroughTheFlush) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  testing::FixedInterfaces no_interfaces;
  const fs::path iso = SmallIso(dir_.path(), 12000000);
  const std::string state = env_.State("r.state");
  {
    SlowRemoteLink link(fs::path(env_.State("daemon")), state);
    DiscWriteForm form;
    ASSERT_NO_FATAL_FAILURE(link.Ready(form, ui_, iso));
    const QString flushing = QStringLiteral("キャッシュフラッシュ中。");
    std::optional<testing::WindowAnswers> answers;
    std::set<int> flush_progress;
    int writes_before_flush = -1;
    // Progress shown while the flush's line is the last one of the log.
    QObject::connect(form.prgMain(), &QProgressBar::valueChanged, &form, [&](int value) {
      const QStringList& lines = form.vbxMain()->lines();
      if (lines.isEmpty() || !lines.last().endsWith(flushing)) return;
      if (writes_before_flush < 0) writes_before_flush = link.relay->delayed_writes();
      flush_progress.insert(value);
    });
    // The window is watched from the job's first pump on.
    testing::PumpAction watch(1, [&] { answers.emplace(); });
    form.cmdStartStop()->click();
    ASSERT_TRUE(answers.has_value()) << Log(form);
    const qint64 longest = answers->longest_gap_ms();
    ASSERT_EQ(ui_.LastText(), kSuccess) << Log(form);
    // Most WRITE commands went out during the flush, which lasted seconds.
    EXPECT_GT(link.relay->delayed_writes(), 2 * writes_before_flush);
    EXPECT_GE(answers->ticks(), 20);
    EXPECT_LT(longest, 1000);
    EXPECT_GE(flush_progress.size(), 5u);
    form.cmdEnd()->click();
  }
  ExpectDiscHolds(state, iso);
}

// The same slow link, stopped while the flush runs: the rest of the pass is
// given up, and the log says where the writing ended, as for a stop during
// the writes.
TEST_F(DiscWriteFormTest, AStopDuringTheFlushOfARemoteWriteIsReported) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  testing::FixedInterfaces no_interfaces;
  const fs::path iso = SmallIso(dir_.path(), 12000000);
  SlowRemoteLink link(fs::path(env_.State("daemon")), env_.State("r.state"));
  DiscWriteForm form;
  ASSERT_NO_FATAL_FAILURE(link.Ready(form, ui_, iso));
  const QString flushing = QStringLiteral("キャッシュフラッシュ中。");
  bool stopped = false;
  QObject::connect(form.prgMain(), &QProgressBar::valueChanged, &form, [&](int) {
    const QStringList& lines = form.vbxMain()->lines();
    if (stopped || lines.isEmpty() || !lines.last().endsWith(flushing)) return;
    stopped = true;
    QTimer::singleShot(0, &form, [&] {
      ui_.QueueAnswer(6);
      form.cmdStartStop()->click();
    });
  });
  form.cmdStartStop()->click();
  ASSERT_TRUE(stopped) << Log(form);
  const QString log = form.vbxMain()->lines().join('\n');
  const qsizetype flush_at = log.lastIndexOf(flushing);
  EXPECT_GT(log.indexOf(QStringLiteral("の書き込みに失敗しました。"), flush_at), flush_at) << Log(form);
  EXPECT_TRUE(log.contains(QStringLiteral("==== 失敗 "))) << Log(form);
  form.cmdEnd()->click();
}

// A remote write without the write cache (every command from the window's
// job) whose daemon is stopped for 4 s, longer than its 3 s silence limit,
// between two commands: the command sent meanwhile waits in the daemon's
// socket, the window runs while the job waits, and at the resume the daemon
// goes on with it: the write succeeds and the disc holds the image.
TEST_F(DiscWriteFormTest, ARemoteWriteWhoseDaemonIsPausedGoesOnWhole) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  testing::FixedInterfaces no_interfaces;
  const fs::path iso = SmallIso(dir_.path());
  const std::string state = env_.State("r.state");
  {
    testing::ScopedDriveMap map("");
    testing::KestrowStandalone daemon(fs::path(env_.State("daemon")), "D:=emu:" + state + ",medium=dvd-r", "D");
    ASSERT_TRUE(daemon.Start());
    DiscWriteForm form;
    form.show();
    ASSERT_NO_FATAL_FAILURE(ChooseRemoteDrive(form, ui_, daemon.port()));
    {
      DeviceSetting setting;
      setting.LoadSetting(*form.fraRecv()->device());
      setting.WriteCacheBufferRate = 0;
      setting.SaveSetting();
    }
    form.chkVerify()->setChecked(false);
    form.txtReadFile()->setText(Q(iso));
    testing::PauseDaemon pause(daemon, 60, 4000, &form);
    form.cmdStartStop()->click();
    daemon.Resume();
    ASSERT_TRUE(pause.stopped());
    EXPECT_TRUE(pause.resumed());
    ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
    EXPECT_EQ(ui_.messages()[0].text, kSuccess) << Log(form);
    form.cmdEnd()->click();
  }
  ExpectDiscHolds(state, iso);
}

TEST_F(DiscWriteFormTest, DiscWriteFormScreenshot) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r,vendor=SORVEL,product=EMU-WRITER");
  DiscWriteForm form;
  form.txtReadFile()->setText(QStringLiteral("/home/user/img/MY_DISC.iso"));
  form.StatusChange(0, QStringLiteral("==== 開始 R08/12/09 09:41:07 ===="));
  form.StatusChange(0, QStringLiteral("書き込みを開始します。"));
  form.show();
  QApplication::processEvents();
  testing::SaveScreenshot(&form, "DiscWriteForm");
  form.cmdEnd()->click();
}

}  // namespace
}  // namespace sorvel
