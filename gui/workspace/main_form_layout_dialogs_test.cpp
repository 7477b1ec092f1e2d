// The main window's write and save commands through the real layout write and
// layout save dialogs, the engines and an emulated CD-R: every disc written
// and every image saved is recorded in the mastering history, a failed save not.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include "gui/dialogs/dialog_forms.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_read_form.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/property_track.h"
#include "gui/dialogs/well_layout_test_support.h"
#include "gui/dialogs/well_save_form.h"
#include "gui/dialogs/well_write_form.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/history_database.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"
#include "gui/workspace/main_form_fixture.h"
#include "gui/workspace/workspace_dialogs.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/recording_power_backend.h"

namespace sorvel {
namespace {

using testing::MainFormTest;

// Clicks start and then end in the layout write dialog once it is shown.
void StartThenEndWhenShown() {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll] {
    auto* form = qobject_cast<WellWriteForm*>(QApplication::activeModalWidget());
    if (form == nullptr || !form->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    form->cmdStartStop()->click();
    form->cmdEnd()->click();
  });
  poll->start(10);
}

std::string Sql(const std::filesystem::path& database, const std::string& query) {
  std::string out;
  EXPECT_EQ(testing::RunCommand("sqlite3 '" + database.string() + "' '" + query + "'", &out), 0) << out;
  return out;
}

// The real dialog forms, the layout save dialog and an emulated CD-R in
// drive D:, for one test.
class LayoutDialogsRig {
 public:
  LayoutDialogsRig(const testing::ScratchDir& scratch, const char* state)
      : env_(scratch), map_("D:=emu:" + env_.State(state) + ",medium=cd-r"), forms_(DialogFormFactories()) {
    previous_forms_ = InstallFormFactories(&forms_);
    dialogs_.well_save = ShowWellSaveDialog;
    previous_dialogs_ = InstallWorkspaceDialogs(&dialogs_);
  }
  ~LayoutDialogsRig() {
    InstallWorkspaceDialogs(previous_dialogs_);
    InstallFormFactories(previous_forms_);
  }
  LayoutDialogsRig(const LayoutDialogsRig&) = delete;
  LayoutDialogsRig& operator=(const LayoutDialogsRig&) = delete;
  std::string State(const char* name) const { return env_.State(name); }

 private:
  testing::DialogTestEnvironment env_;
  testing::RecordingPowerBackend power_;
  testing::ScopedDriveMap map_;
  const FormFactories forms_;
  const FormFactories* previous_forms_ = nullptr;
  WorkspaceDialogs dialogs_;
  const WorkspaceDialogs* previous_dialogs_ = nullptr;
};

using MainFormLayoutDialogsTest = MainFormTest;

TEST_F(MainFormLayoutDialogsTest, WrittenDiscsAndSavedImagesAreRecorded) {
  ASSERT_TRUE(testing::RequireTool("sqlite3"));
  LayoutDialogsRig rig(scratch_, "d.state");

  const std::filesystem::path database = scratch_ / "history.mdb";
  ASSERT_TRUE(CreateHistoryDatabase(Q(database)));
  MainForm& form = Open("[PATH]\r\nLOG=" + database.string() + "\r\n");
  Write(Host("d/f.txt"));
  form.AddPathToLayout(Q(Host("d")));
  form.txtLabel()->setText(QStringLiteral("HISTORY"));
  const std::string pcm = testing::LayoutSource::Pcm(300, 3);
  const auto header = MakeWaveHeader(static_cast<uint32_t>(pcm.size()), 44100, 16, true);
  ASSERT_TRUE(header.has_value());
  testing::WriteFileBytes(Host("song.wav"), std::string(header->data(), header->size()) + pcm);
  ASSERT_TRUE(form.mobjImageFile().AddTrack(Q(Host("song.wav")), 150, 0, 0));

  StartThenEndWhenShown();
  form.tlbMain_ButtonClick(QStringLiteral("WriteWell"));
  Pump();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込みは正常終了しました。"));
  // One DISC row with its FILE rows (folder and file) and TRACK rows (data and audio).
  EXPECT_EQ(Sql(database, "SELECT LABEL FROM DISC; SELECT COUNT(*) FROM FILE; SELECT COUNT(*) FROM TRACK;"),
            "HISTORY\n2\n2\n");

  // A save that fails records nothing; one that succeeds records its layout.
  ui_.Clear();
  ui_.QueueSaveFile(Q(scratch_ / "missing" / "x.img"));
  form.tlbMain_ButtonClick(QStringLiteral("SaveWell"));
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(Sql(database, "SELECT COUNT(*) FROM DISC;"), "1\n");
  // A disc's key in the history is its time to the second: the next record
  // comes a second later.
  QThread::msleep(1100);
  ui_.Clear();
  ui_.QueueSaveFile(Q(scratch_ / "saved.img"));
  form.tlbMain_ButtonClick(QStringLiteral("SaveWell"));
  EXPECT_EQ(ui_.LastText(), QStringLiteral("書き込みは正常終了しました。"));
  EXPECT_TRUE(std::filesystem::exists(scratch_ / "saved.cue"));
  EXPECT_EQ(Sql(database, "SELECT COUNT(*) FROM DISC; SELECT COUNT(*) FROM TRACK;"), "2\n4\n");

}

// Host names that are not UTF-8, added with the folder dialog's "files of a
// folder" (whose answer Qt decoded lossily), burnt to an emulated CD-R through
// the write dialog; the disc, read back to an image (bchunk makes its data
// track an ISO image, xorriso extracts it), holds the three files equal,
// named as UTF-8, CP932 and "_" for the odd byte.
TEST_F(MainFormLayoutDialogsTest, NamesThatAreNotUtf8AreBurntByTheirBytes) {
  for (const char* tool : {"xorriso", "bchunk", "cmp"}) ASSERT_TRUE(testing::RequireTool(tool));
  LayoutDialogsRig rig(scratch_, "odd.state");

  MainForm& form = Open();
  form.cboFileSystem()->setCurrentIndex(form.cboFileSystem()->findData(16));
  const std::string folder = Host("odd\xFE").string();
  const auto files = WriteNamesThatAreNotUtf8(folder);
  ui_.QueueFolder(QFile::decodeName(QByteArray(folder.data(), static_cast<qsizetype>(folder.size()))));
  form.mnuWellAddDirectory_Click(1);
  Pump();
  EXPECT_TRUE(ui_.messages().isEmpty()) << ui_.LastText().toStdString();

  StartThenEndWhenShown();
  form.tlbMain_ButtonClick(QStringLiteral("WriteWell"));
  Pump();
  ASSERT_EQ(ui_.LastText(), QStringLiteral("書き込みは正常終了しました。"));

  ui_.Clear();
  const std::filesystem::path back = scratch_ / "back";
  std::filesystem::create_directories(back);
  {
    DiscReadForm reader;
    if (std::filesystem::exists(rig.State("odd.state"))) reader.fraSend()->eject_button(1)->click();
    reader.txtWriteFile()->setText(Q(back / "Disc.img"));
    reader.cmdStartStop()->click();
    ASSERT_EQ(ui_.LastText(), QStringLiteral("読み込みは正常終了しました。"));
    reader.cmdEnd()->click();
  }
  // The disc as read (raw sectors and their sheet) becomes an ISO image of its data track.
  std::string said;
  ASSERT_EQ(testing::RunCommand("cd '" + back.string() + "' && bchunk Disc.img Disc.cue track 2>&1", &said), 0) << said;
  ASSERT_EQ(testing::RunCommand("xorriso -osirrox on -indev '" + (back / "track01.iso").string() + "' -extract / '" +
                                    (back / "x").string() + "' 2>&1",
                                &said),
            0)
      << said;
  for (const auto& f : files) {
    SCOPED_TRACE(f.disc);
    EXPECT_EQ(testing::RunCommand("cmp '" + folder + "/" + f.host + "' '" + (back / "x" / f.disc).string() + "'"), 0);
  }
}

// 複製不許可 in the track dialog, ticked: the disc's track is copy-prohibited
// (its control without the bit of value 2) and the saved sheet has no
// "FLAGS DCP"; unticked, the reverse (once the other way round). A project
// saved before (its flags stored as the disc takes them) shows the box as
// its flags say and gives the same disc.
TEST_F(MainFormLayoutDialogsTest, CopyProhibitedBoxGivesCopyProhibitedTracks) {
  struct Case {
    const char* name;
    int project_flags;  // -1: the track is added and the box set
    bool ticked;
  };
  const Case cases[] = {
      {"ticked", -1, true},
      {"unticked", -1, false},
      {"project_flags_0", 0, true},
      {"project_flags_2", 2, false},
  };
  const std::string pcm = testing::LayoutSource::Pcm(300, 5);
  const auto header = MakeWaveHeader(static_cast<uint32_t>(pcm.size()), 44100, 16, true);
  ASSERT_TRUE(header.has_value());
  testing::WriteFileBytes(Host("song.wav"), std::string(header->data(), header->size()) + pcm);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string state = std::string(c.name) + ".state";
    LayoutDialogsRig rig(scratch_, state.c_str());
    MainForm& form = Open();
    if (c.project_flags < 0) {
      ASSERT_TRUE(form.AddAudioFile(Q(Host("song.wav"))));
    } else {
      const auto project = scratch_ / (std::string(c.name) + ".wpj");
      testing::WriteFileBytes(project, "[Mastering]\r\nLabel=OLD\r\nFileSystem=16\r\n\r\n[Data]\r\n\r\n[Audio]\r\n150\t0\t" +
                                           std::to_string(c.project_flags) + "\t" + Host("song.wav").string() + "\r\n");
      ASSERT_TRUE(form.FileProjectLoad(Q(project)));
    }
    Pump();
    ASSERT_EQ(form.lsvTracks()->topLevelItemCount(), 1);
    form.lsvTracks()->setCurrentItem(form.lsvTracks()->topLevelItem(0));
    form.lsvTracks()->topLevelItem(0)->setSelected(true);
    bool shown = false;
    testing::WhenModalShown([&](QWidget* w) {
      auto* dialog = qobject_cast<PropertyTrack*>(w);
      ASSERT_NE(dialog, nullptr);
      shown = true;
      if (c.project_flags < 0) {
        dialog->chkCopypemitterd()->setChecked(c.ticked);
      } else {
        EXPECT_EQ(dialog->chkCopypemitterd()->isChecked(), c.ticked);
      }
      dialog->cmdOK()->click();
    });
    form.mnuTrackProperty_Click();
    Pump();
    EXPECT_TRUE(shown);
    EXPECT_EQ(form.lsvTracks()->topLevelItem(0)->text(7), c.ticked ? QString() : QStringLiteral("DCP "));

    ui_.Clear();
    const auto image = scratch_ / (std::string(c.name) + ".img");
    ui_.QueueSaveFile(Q(image));
    form.tlbMain_ButtonClick(QStringLiteral("SaveWell"));
    ASSERT_EQ(ui_.LastText(), QStringLiteral("書き込みは正常終了しました。"));
    const std::string sheet = testing::ReadFileBytes(scratch_ / (std::string(c.name) + ".cue"));
    EXPECT_EQ(sheet.find("FLAGS DCP") != std::string::npos, !c.ticked) << sheet;

    ui_.Clear();
    StartThenEndWhenShown();
    form.tlbMain_ButtonClick(QStringLiteral("WriteWell"));
    Pump();
    ASSERT_EQ(ui_.LastText(), QStringLiteral("書き込みは正常終了しました。"));
    Trelin drive;
    ASSERT_TRUE(drive.OpenDevice(3));
    ASSERT_TRUE(drive.LoadTray(true));
    ASSERT_EQ(drive.ReadStart(CCC_RAW, 0), CBR_OK);
    const auto toc = drive.GetTOCStructure();
    drive.ReadEnd();
    drive.CloseDevice();
    ASSERT_NE(toc, nullptr);
    ASSERT_GE(toc->TOCCount(), 1);
    const model::TOCTrack* track = toc->TOC(toc->TOCCount());
    EXPECT_EQ(track->TrackNo, 1);
    EXPECT_EQ((track->Flags & 2) != 0, !c.ticked) << track->Flags;
  }
}

}  // namespace
}  // namespace sorvel
