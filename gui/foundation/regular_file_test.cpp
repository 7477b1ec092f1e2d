#include "gui/foundation/regular_file.h"

#include <gtest/gtest.h>

#include <functional>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/file.h"
#include "gui/foundation/file_io.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/start_procedure.h"
#include "gui/foundation/super_ini.h"
#include "testing/file_bytes.h"
#include "testing/gui/fake_forms.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/scoped_env.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using sorvel::testing::StandIn;
using sorvel::testing::StandInFile;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// Every reader of the foundation opens by the one rule; each is given a
// stand-in of every kind in place of its file.
struct Reader {
  const char* name;
  int64_t bound;  // the bound the reader applies (0: none; the oversize stand-in is then one byte)
  std::function<bool(const QString& path, FileProblem* problem)> read;
};

const Reader kReaders[] = {
    {"text_input", File::kMaxTextFileSize,
     [](const QString& path, FileProblem* problem) {
       File file;
       const bool opened = file.OpenFile(path, File::kInput);
       *problem = file.OpenProblem();
       return opened && file.Gets() == QStringLiteral("[MAIN]");
     }},
    {"text_input_bounded", 100,
     [](const QString& path, FileProblem* problem) {
       File file;
       const bool opened = file.OpenFile(path, File::kInput, 100);
       *problem = file.OpenProblem();
       return opened;
     }},
    {"binary", 0,
     [](const QString& path, FileProblem* problem) {
       File file;
       const bool opened = file.OpenFile(path, File::kBinary);
       *problem = file.OpenProblem();
       return opened;
     }},
    {"block_read", 0,
     [](const QString& path, FileProblem* problem) {
       FileIO file;
       const bool opened = file.OpenFile(path, kGenericRead, kOpenExisting, kFileShareRead);
       *problem = file.OpenProblem();
       return opened;
     }},
    {"ini", platform::kMaxSettingsFileBytes,
     [](const QString& path, FileProblem* problem) {
       SuperINI ini;
       return ini.LoadINI(path, problem) && ini.SectionKey(QStringLiteral("[MAIN]KEY")) == QStringLiteral("value");
     }},
};

using ReaderCase = std::tuple<int, StandIn>;

class ForeignFileReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ForeignFileReader, TakesOnlyARegularFileAndNeverWaits) {
  const Reader& reader = kReaders[std::get<0>(GetParam())];
  const StandIn stand_in = std::get<1>(GetParam());
  sorvel::testing::ScratchDir dir;
  StandInFile file(dir / "f.ini", stand_in, "[MAIN]\r\nKEY=value\r\n", reader.bound);
  FileProblem problem;
  const bool read = reader.read(Q(dir / "f.ini"), &problem);
  EXPECT_FALSE(file.Blocked());
  const bool created = stand_in == StandIn::kMissing || stand_in == StandIn::kDanglingLink;
  // Binary mode creates a missing file, as it always did.
  const bool creates = created && std::string(reader.name) == "binary";
  if (stand_in == StandIn::kRegular || creates || (stand_in == StandIn::kOversize && reader.bound == 0)) {
    EXPECT_TRUE(read);
    EXPECT_FALSE(problem);
    return;
  }
  EXPECT_FALSE(read);
  const FileProblem::Kind expected = created                        ? FileProblem::kCannotOpen
                                     : stand_in == StandIn::kOversize ? FileProblem::kTooLarge
                                                                      : FileProblem::kNotRegular;
  EXPECT_EQ(problem.kind, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ForeignFileReader,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kReaders))),
                       ::testing::Values(StandIn::kRegular, StandIn::kMissing, StandIn::kFifo, StandIn::kZeroDevice,
                                         StandIn::kFolder, StandIn::kDanglingLink, StandIn::kOversize)),
    [](const auto& info) {
      return std::string(kReaders[std::get<0>(info.param)].name) + "_" +
             sorvel::testing::StandInName(std::get<1>(info.param));
    });

// Every writer of the foundation opens by the same rule: something other
// than a regular file in place of its file is refused at once, never
// waited on (a FIFO) nor written (a device, a folder).
struct Writer {
  const char* name;
  std::function<bool(const QString& path, FileProblem* problem)> write;
};

const Writer kWriters[] = {
    {"text_output",
     [](const QString& path, FileProblem* problem) {
       File file;
       const bool opened = file.OpenFile(path, File::kOutput);
       *problem = file.OpenProblem();
       return opened;
     }},
    {"text_append",
     [](const QString& path, FileProblem* problem) {
       File file;
       const bool opened = file.OpenFile(path, File::kAppend);
       *problem = file.OpenProblem();
       return opened;
     }},
    {"block_create",
     [](const QString& path, FileProblem* problem) {
       FileIO file;
       const bool opened = file.OpenFile(path, kGenericWrite, kCreateAlways);
       *problem = file.OpenProblem();
       return opened;
     }},
    {"block_open",
     [](const QString& path, FileProblem* problem) {
       FileIO file;
       const bool opened = file.OpenFile(path, kGenericWrite, kOpenAlways);
       *problem = file.OpenProblem();
       return opened;
     }},
};

class ForeignFileWriter : public ::testing::TestWithParam<std::tuple<int, StandIn>> {};

TEST_P(ForeignFileWriter, TakesOnlyARegularFileAndNeverWaits) {
  const Writer& writer = kWriters[std::get<0>(GetParam())];
  const StandIn stand_in = std::get<1>(GetParam());
  sorvel::testing::ScratchDir dir;
  StandInFile file(dir / "f.out", stand_in, "old");
  FileProblem problem;
  const bool opened = writer.write(Q(dir / "f.out"), &problem);
  EXPECT_FALSE(file.Blocked());
  if (stand_in == StandIn::kRegular || stand_in == StandIn::kMissing || stand_in == StandIn::kDanglingLink) {
    EXPECT_TRUE(opened);
    EXPECT_FALSE(problem);
    return;
  }
  EXPECT_FALSE(opened);
  EXPECT_EQ(problem.kind, FileProblem::kNotRegular);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ForeignFileWriter,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kWriters))),
                       ::testing::Values(StandIn::kRegular, StandIn::kMissing, StandIn::kFifo, StandIn::kZeroDevice,
                                         StandIn::kFolder, StandIn::kDanglingLink)),
    [](const auto& info) {
      return std::string(kWriters[std::get<0>(info.param)].name) + "_" +
             sorvel::testing::StandInName(std::get<1>(info.param));
    });

TEST(RegularFileTest, WritingTakesNoDeviceNorFolder) {
  sorvel::testing::ScratchDir dir;
  FileIO file;
  EXPECT_FALSE(file.OpenFile(QStringLiteral("/dev/null"), kGenericWrite, kOpenExisting));
  EXPECT_EQ(file.OpenProblem().kind, FileProblem::kNotRegular);
  EXPECT_FALSE(file.OpenFile(Q(dir.path()), kGenericWrite, kOpenExisting));
  EXPECT_EQ(file.OpenProblem().kind, FileProblem::kNotRegular);
  EXPECT_FALSE(file.OpenFile(Q(dir / "no" / "f"), kGenericWrite, kCreateAlways));
  EXPECT_EQ(file.OpenProblem().kind, FileProblem::kCannotOpen);
  ASSERT_TRUE(file.OpenFile(Q(dir / "f"), kGenericWrite, kCreateAlways));
  FileIO second;
  EXPECT_FALSE(second.OpenFile(Q(dir / "f"), kGenericRead, kOpenExisting, kFileShareRead));  // held exclusively
  EXPECT_EQ(second.OpenProblem().kind, FileProblem::kCannotOpen);
  EXPECT_FALSE(second.OpenProblem().Missing());
  // A NUL byte in the name would write the file named by what comes before it.
  EXPECT_FALSE(second.OpenFile(Q(dir / "g") + QChar(u'\0') + QStringLiteral("x"), kGenericWrite, kCreateAlways));
  EXPECT_TRUE(second.OpenProblem().Missing());
  EXPECT_FALSE(std::filesystem::exists(dir / "g"));
}

TEST(RegularFileTest, TextsForTheUser) {
  const QString path = QStringLiteral("/d/a.img");
  EXPECT_EQ(FileProblemText(path, FileProblem{}), QString());
  EXPECT_EQ(FileProblemText(path, FileProblem{FileProblem::kCannotOpen, ENOENT}),
            QStringLiteral("ファイル /d/a.img は見つかりません。"));
  EXPECT_EQ(FileProblemText(path, FileProblem{FileProblem::kCannotOpen, EACCES}),
            QStringLiteral("ファイル /d/a.img が開けません。"));
  EXPECT_EQ(FileProblemText(path, FileProblem{FileProblem::kNotRegular, 0}),
            QStringLiteral("ファイル /d/a.img は通常のファイルではありません。"));
  EXPECT_EQ(FileProblemText(path, FileProblem{FileProblem::kTooLarge, 0}),
            QStringLiteral("ファイル /d/a.img は大きすぎます。"));
  EXPECT_EQ(FileProblemText(path, FileProblem{FileProblem::kCannotRead, EIO}),
            QStringLiteral("ファイル /d/a.img が読み込めません。"));
  // A path holding a placeholder is shown as it is.
  EXPECT_EQ(FileProblemText(QStringLiteral("/%1%2"), FileProblem{FileProblem::kTooLarge, 0}),
            QStringLiteral("ファイル /%1%2 は大きすぎます。"));
}

// The settings file and drives.conf at start: one that is there but cannot
// be read is told (the program goes on with defaults), and a settings file
// that was not read is never written over.
class StartFileTest : public ::testing::TestWithParam<StandIn> {
 protected:
  void SetUp() override {
    SetProgramPathForTesting(Q(dir_ / "sorvel"));
    settings_ = dir_ / "sorvel.INI";
  }
  void TearDown() override { SetProgramPathForTesting(QString()); }

  sorvel::testing::ScratchDir dir_;
  std::filesystem::path settings_;
};

TEST_P(StartFileTest, SettingsFileThatCannotBeReadIsToldAndKept) {
  StandInFile file(settings_, GetParam(), "[PATH]\r\nTEMP=/keep\r\n", platform::kMaxSettingsFileBytes);
  sorvel::testing::ScopedEnv drives("SORVEL_DRIVES", "D:=/dev/null");
  sorvel::testing::ScriptedModalUi modal;
  sorvel::testing::FakeForms forms;
  Main({QStringLiteral("/d/image.iso")});
  EXPECT_FALSE(file.Blocked());
  ASSERT_EQ(modal.messages().size(), 1);
  const FileProblem::Kind kind =
      GetParam() == StandIn::kOversize ? FileProblem::kTooLarge : FileProblem::kNotRegular;
  EXPECT_EQ(modal.messages()[0].text, FileProblemText(Q(settings_), FileProblem{kind, 0}));
  EXPECT_EQ(modal.messages()[0].style, 48);
  EXPECT_EQ(modal.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_EQ(forms.calls(), QStringList{QStringLiteral("write-image /d/image.iso")});

  // A change is kept pending rather than written over the file.
  ApplicationSetting settings(Q(settings_));
  EXPECT_EQ(settings.LoadProblem().kind, kind);
  settings.SetPathTemp(QStringLiteral("/changed"));
  EXPECT_FALSE(settings.Save());
  EXPECT_TRUE(settings.IsChanged());
  if (GetParam() == StandIn::kOversize) {
    EXPECT_EQ(std::filesystem::file_size(settings_), static_cast<uintmax_t>(platform::kMaxSettingsFileBytes) + 1);
  }
}

TEST_P(StartFileTest, DriveMapFileThatCannotBeReadIsTold) {
  sorvel::testing::ScopedEnv xdg("XDG_CONFIG_HOME", dir_.path().string());
  sorvel::testing::ScopedEnv drives("SORVEL_DRIVES", std::nullopt);
  std::filesystem::create_directories(dir_ / "sorvel");
  const std::filesystem::path conf = dir_ / "sorvel" / "drives.conf";
  StandInFile file(conf, GetParam(), "D:=/dev/sr0\n", platform::kMaxSettingsFileBytes);
  sorvel::testing::ScriptedModalUi modal;
  sorvel::testing::FakeForms forms;
  Main({QStringLiteral("/d/image.iso")});
  EXPECT_FALSE(file.Blocked());
  const FileProblem::Kind kind =
      GetParam() == StandIn::kOversize ? FileProblem::kTooLarge : FileProblem::kNotRegular;
  ASSERT_EQ(modal.messages().size(), 1);
  EXPECT_EQ(modal.messages()[0].text, FileProblemText(Q(conf), FileProblem{kind, 0}));
  EXPECT_EQ(forms.calls(), QStringList{QStringLiteral("write-image /d/image.iso")});
}

INSTANTIATE_TEST_SUITE_P(StandIns, StartFileTest,
                         ::testing::Values(StandIn::kFifo, StandIn::kZeroDevice, StandIn::kFolder,
                                           StandIn::kOversize),
                         [](const auto& info) { return std::string(sorvel::testing::StandInName(info.param)); });

TEST(StartFileTest, NothingToTellOfFilesReadOrMissing) {
  sorvel::testing::ScratchDir dir;
  SetProgramPathForTesting(Q(dir / "sorvel"));
  sorvel::testing::ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().string());
  sorvel::testing::ScopedEnv drives("SORVEL_DRIVES", std::nullopt);
  AcquireSettings();
  EXPECT_TRUE(UnreadableStartFiles().isEmpty());
  ReleaseSettings();
  sorvel::testing::WriteFileBytes(dir / "sorvel.INI", "[PATH]\r\nTEMP=/t\r\n");
  std::filesystem::create_directories(dir / "sorvel");
  sorvel::testing::WriteFileBytes(dir / "sorvel" / "drives.conf", "D:=/dev/sr0\n");
  AcquireSettings();
  EXPECT_TRUE(UnreadableStartFiles().isEmpty());
  EXPECT_EQ(Settings()->PathTemp(), QStringLiteral("/t"));
  ReleaseSettings();
  SetProgramPathForTesting(QString());
}

}  // namespace
}  // namespace sorvel
