#include "gui/jobs/mastering.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QDateTime>
#include <algorithm>
#include <functional>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/automation_host.h"
#include "gui/jobs/disc_reader.h"
#include "gui/jobs/job_test_rig.h"
#include "gui/jobs/mastering_test_rig.h"
#include "gui/model/trelin.h"
#include "testing/gui/fake_forms.h"

namespace sorvel {
namespace {

using testing::ListLayout;
using testing::MasteringDriveRig;
using testing::Q;
using testing::ScratchDir;
using testing::WriteFileBytes;

// Runs `call` and returns the number and text of the MasteringError it
// throws ("none" when it returns).
QString Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const MasteringError& error) {
    return QStringLiteral("0x%1 %2").arg(error.Number(), 8, 16, QLatin1Char('0')).arg(error.Description());
  }
  return QStringLiteral("none");
}

class MasteringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path() / "src");
    std::filesystem::create_directories(dir_.path() / "tree" / "sub" / ".hidden");
    // Host files: src/{a.txt,b.txt,c.bin}, tree/{top.txt,sub/{s.txt,.hidden/h.txt}}.
    for (const char* name : {"a.txt", "b.txt", "c.bin"}) WriteFileBytes(dir_.path() / "src" / name, name);
    WriteFileBytes(dir_.path() / "tree" / "top.txt", "top");
    WriteFileBytes(dir_.path() / "tree" / "sub" / "s.txt", std::string(5000, 's'));
    WriteFileBytes(dir_.path() / "tree" / "sub" / ".hidden" / "h.txt", "h");
  }
  QString Path(const std::string& relative) const { return Q(dir_.path() / relative); }

  ScratchDir dir_;
  MasteringDriveRig rig_{dir_, "medium=cd-r"};
};

TEST_F(MasteringTest, MaskIntoANewDirectoryPathEndsAtTheRoot) {
  Mastering mastering;
  ASSERT_TRUE(mastering.InitISOFS(16));
  EXPECT_TRUE(mastering.IsISOEmpty());
  EXPECT_TRUE(mastering.AddFile(Path("src/*.txt"), QStringLiteral("docs\\2013")));
  EXPECT_FALSE(mastering.IsISOEmpty());
  EXPECT_EQ(mastering.Layout().GetISOCurrentDirectory(), QStringLiteral("\\"));
  EXPECT_EQ(ListLayout(mastering.Layout()), QStringList{QStringLiteral("docs/")});
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("docs")), QStringList{QStringLiteral("2013/")});
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("docs\\2013")),
            (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
  // An existing path is entered again; a later call without a path adds to the root.
  EXPECT_TRUE(mastering.AddFile(Path("src/c.bin"), QStringLiteral("docs\\2013\\")));
  EXPECT_TRUE(mastering.AddFile(Path("src/c.bin")));
  EXPECT_EQ(ListLayout(mastering.Layout()), (QStringList{QStringLiteral("c.bin"), QStringLiteral("docs/")}));
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("docs\\2013")).size(), 3);
}

TEST_F(MasteringTest, DirectoryTreeRebuiltWithTimesAndHiddenAttribute) {
  const QDateTime when = QDateTime::fromString(QStringLiteral("2013-04-05T06:07:08"), Qt::ISODate);
  const std::string sub = (dir_.path() / "tree" / "sub").string();
  utimbuf times{when.toSecsSinceEpoch(), when.toSecsSinceEpoch()};
  ASSERT_EQ(utime(sub.c_str(), &times), 0);
  Mastering mastering;
  ASSERT_TRUE(mastering.InitISOFS(17));
  EXPECT_TRUE(mastering.AddFile(Path("tree")));
  EXPECT_EQ(ListLayout(mastering.Layout()), QStringList{QStringLiteral("tree/")});
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("tree")),
            (QStringList{QStringLiteral("sub/"), QStringLiteral("top.txt")}));
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("tree\\sub")),
            (QStringList{QStringLiteral(".hidden/"), QStringLiteral("s.txt")}));
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("tree\\sub\\.hidden")), QStringList{QStringLiteral("h.txt")});
  Tazol& layout = mastering.Layout();
  ASSERT_TRUE(layout.ChangeISODirectory(QStringLiteral("tree")));
  for (auto entry = layout.FindISOFirstFile(); entry != nullptr; entry = layout.FindISONextFile()) {
    if (entry->Name == QStringLiteral("sub")) {
      EXPECT_EQ(entry->TimeStamp, when);
    }
  }
  ASSERT_TRUE(layout.ChangeISODirectory(QStringLiteral("sub")));
  for (auto entry = layout.FindISOFirstFile(); entry != nullptr; entry = layout.FindISONextFile()) {
    EXPECT_EQ(entry->FileAttribute, entry->Name == QStringLiteral(".hidden") ? 2 : 0) << entry->Name.toStdString();
  }
}

TEST_F(MasteringTest, PathsThatAddNothing) {
  Mastering mastering;
  EXPECT_FALSE(mastering.AddFile(Path("src/*.none")));
  EXPECT_FALSE(mastering.AddFile(Path("missing/a.txt"), QStringLiteral("x")));
  // A path from the root names no directory: nothing is made or added.
  EXPECT_FALSE(mastering.AddFile(Path("src/a.txt"), QStringLiteral("\\docs")));
  EXPECT_TRUE(ListLayout(mastering.Layout()).contains(QStringLiteral("x/")));
  EXPECT_FALSE(ListLayout(mastering.Layout()).contains(QStringLiteral("docs/")));
  // A file in the way of a directory level: False, back at the root.
  ASSERT_TRUE(mastering.AddFile(Path("src/a.txt")));
  EXPECT_FALSE(mastering.AddFile(Path("src/b.txt"), QStringLiteral("a.txt\\deeper")));
  EXPECT_EQ(mastering.Layout().GetISOCurrentDirectory(), QStringLiteral("\\"));
  EXPECT_FALSE(ListLayout(mastering.Layout()).contains(QStringLiteral("b.txt")));
}

TEST_F(MasteringTest, ErrorsLeaveTheWalkAtTheRootAndKeepWhatWasAdded) {
  std::filesystem::create_directories(dir_.path() / "other" / "a.txt");
  std::filesystem::create_directory_symlink(dir_.path() / "tree", dir_.path() / "tree" / "sub" / "loop");
  Mastering mastering;
  ASSERT_TRUE(mastering.AddFile(Path("src/a.txt"), QStringLiteral("d")));
  const struct {
    const char* mask;
    const char* directory;
    QString error;
  } cases[] = {
      // The same name again in one directory.
      {"src/*.txt", "d", QStringLiteral("0x80040002 ファイル ") + Path("src/a.txt") + QStringLiteral(" は追加できません。")},
      // A host directory whose name a data-area file holds.
      {"other/a.txt", "d", QStringLiteral("0x80040001 ディレクトリ a.txt は作成できません。")},
      // A symbolic link back into the tree being walked is never followed.
      {"tree", "", QStringLiteral("0x80040001 ディレクトリ loop は作成できません。")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Raised([&] { mastering.AddFile(Path(c.mask), QString::fromUtf8(c.directory)); }), c.error) << c.mask;
    EXPECT_EQ(mastering.Layout().GetISOCurrentDirectory(), QStringLiteral("\\")) << c.mask;
  }
  // What the failed walks added before the error stays (the walk goes by
  // name: ".hidden" before "loop", "s.txt" after it).
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("d")), QStringList{QStringLiteral("a.txt")});
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("tree\\sub")), QStringList{QStringLiteral(".hidden/")});
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("tree\\sub\\.hidden")), QStringList{QStringLiteral("h.txt")});
}

// The entries of the current data-area directory but "." and "..": name, and
// the size of a file or "/" for a directory.
QStringList EntriesHere(Tazol& layout) {
  QStringList entries;
  for (auto entry = layout.FindISOFirstFile(); entry != nullptr; entry = layout.FindISONextFile()) {
    if (entry->Name == QLatin1String(".") || entry->Name == QLatin1String("..")) continue;
    entries << entry->Name + (entry->IsDirectory ? QStringLiteral("/") : QStringLiteral(" ") + QString::number(entry->Size));
  }
  entries.sort();
  return entries;
}

// Linux names are bytes: one that is not UTF-8 is added under a name decoded
// as UTF-8, else CP932, else with "_" for each odd byte, and its data is
// found by its own bytes; the other names of the folder are added as well.
TEST_F(MasteringTest, NamesThatAreNotUtf8AreAddedWithEveryOtherFile) {
  const std::filesystem::path odd = dir_.path() / "odd";
  std::filesystem::create_directories(odd / "\x93\xFA\x96\x7B");  // CP932 "日本"
  WriteFileBytes(odd / "a.txt", "a");
  WriteFileBytes(odd / "\xFF.txt", std::string(3000, 'f'));
  WriteFileBytes(odd / "z.txt", "zz");
  WriteFileBytes(odd / "\x93\xFA\x96\x7B" / "\x82\xA0.txt", "aaaa");  // CP932 "あ.txt"
  const struct {
    const char* mask;
    QStringList root;
  } cases[] = {
      {"odd", {QStringLiteral("odd/")}},
      {"odd/*.txt", {QStringLiteral("_.txt 3000"), QStringLiteral("a.txt 1"), QStringLiteral("z.txt 2")}},
      {"odd/?.txt", {QStringLiteral("_.txt 3000"), QStringLiteral("a.txt 1"), QStringLiteral("z.txt 2")}},
  };
  for (const auto& c : cases) {
    Mastering mastering;
    ASSERT_TRUE(mastering.InitISOFS(16));
    EXPECT_TRUE(mastering.AddFile(Path(c.mask))) << c.mask;
    Tazol& layout = mastering.Layout();
    EXPECT_EQ(EntriesHere(layout), c.root) << c.mask;
    if (c.root.size() != 1) continue;
    ASSERT_TRUE(layout.ChangeISODirectory(QStringLiteral("odd")));
    EXPECT_EQ(EntriesHere(layout), (QStringList{QStringLiteral("_.txt 3000"), QStringLiteral("a.txt 1"),
                                                QStringLiteral("z.txt 2"), QStringLiteral("日本/")}));
    ASSERT_TRUE(layout.ChangeISODirectory(QStringLiteral("日本")));
    EXPECT_EQ(EntriesHere(layout), QStringList{QStringLiteral("あ.txt 4")});
  }
  // A file that cannot be added is named in the error text the same way.
  std::filesystem::create_directories(dir_.path() / "fifo");
  ASSERT_EQ(mkfifo((dir_.path() / "fifo" / "\xFF\x93\xFA.fifo").c_str(), 0600), 0);
  Mastering mastering;
  EXPECT_EQ(Raised([&] { mastering.AddFile(Path("fifo")); }),
            QStringLiteral("0x80040002 ファイル ") + Path("fifo") + QStringLiteral("/_日.fifo は追加できません。"));
}

// A folder chain whose paths grow far past what one path can name (PATH_MAX)
// is rebuilt whole, with the file near its top.
TEST_F(MasteringTest, ChainsDeeperThanAPathCanNameAreAddedWhole) {
  const std::string level(60, 'c');
  constexpr int kDepth = 90;
  int fd = ::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::mkdirat(fd, "chain", 0755), 0);
  int next = ::openat(fd, "chain", O_RDONLY | O_DIRECTORY);
  ::close(fd);
  fd = next;
  const int file = ::openat(fd, "top.txt", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::write(file, "top", 3), 3);
  ::close(file);
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
    next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    ::close(fd);
    fd = next;
  }
  ::close(fd);
  Mastering mastering;
  ASSERT_TRUE(mastering.InitISOFS(16));
  EXPECT_EQ(Raised([&] { EXPECT_TRUE(mastering.AddFile(Path("chain"))); }), QStringLiteral("none"));
  Tazol& layout = mastering.Layout();
  ASSERT_TRUE(layout.ChangeISODirectory(QStringLiteral("chain")));
  EXPECT_EQ(EntriesHere(layout).size(), 2);
  EXPECT_TRUE(EntriesHere(layout).contains(QStringLiteral("top.txt 3")));
  int depth = 0;
  for (QStringList here = EntriesHere(layout); here.size() >= 1 && depth <= kDepth; here = EntriesHere(layout)) {
    const auto folder = std::find_if(here.begin(), here.end(), [](const QString& e) { return e.endsWith(u'/'); });
    if (folder == here.end()) break;
    ASSERT_TRUE(layout.ChangeISODirectory(folder->chopped(1)));
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
}

TEST_F(MasteringTest, DriveNamesOnlyLettersAToZ) {
  const struct {
    const char* name;
    int32_t index;
  } names[] = {{"D", 3}, {"d:", 3}, {"D:\\", 3}, {"a", 0}, {"Z:", 25}, {"", -1}, {"1", -1}, {"[", -1}, {"@", -1}, {"ä", -1}};
  for (const auto& n : names) EXPECT_EQ(Mastering::DriveIndex(QString::fromUtf8(n.name)), n.index) << n.name;
  Mastering mastering;
  for (const char* name : {"Q", "", "1", "\\\\host:8801\\D:"}) {
    EXPECT_EQ(Raised([&] { mastering.StartBurn(QString::fromUtf8(name)); }),
              QStringLiteral("0x80040003 指定されたドライヴは利用できません。"))
        << name;
    EXPECT_FALSE(mastering.IsReady(QString::fromUtf8(name)));
    EXPECT_FALSE(mastering.IsDiscWritable(QString::fromUtf8(name)));
  }
  try {
    mastering.StartBurn(QStringLiteral("?"));
    ADD_FAILURE() << "no error";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "0x80040003 指定されたドライヴは利用できません。");
  }
  EXPECT_TRUE(mastering.IsReady(QStringLiteral("d:")));
  EXPECT_TRUE(mastering.IsDiscWritable(QStringLiteral("D:\\")));
  EXPECT_FALSE(mastering.StopBurn());
}

TEST_F(MasteringTest, EmptyLayoutFailsAndTheTrayOpensAfterwards) {
  Mastering mastering;
  EXPECT_EQ(Raised([&] { mastering.StartBurn(QStringLiteral("D")); }),
            QStringLiteral("0x80040003 書き込みしようとするからには、内容物を配置しなければ成りません。"));
  EXPECT_FALSE(mastering.IsReady(QStringLiteral("D")));  // tray open
  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  ASSERT_TRUE(drive.LoadTray(true));
  EXPECT_TRUE(drive.IsReady());
  drive.CloseDevice();
  EXPECT_EQ(Raised([&] { mastering.StartBurn(QStringLiteral("D"), false); }),
            QStringLiteral("0x80040003 書き込みしようとするからには、内容物を配置しなければ成りません。"));
  EXPECT_TRUE(mastering.IsReady(QStringLiteral("D")));  // not ejected
}

TEST_F(MasteringTest, ObjectsShareTheSettingsAndCountAsAutomationObjects) {
  const int objects = AutomationObjectCount();
  EXPECT_EQ(Settings(), nullptr);
  auto first = std::make_unique<Mastering>();
  ApplicationSetting* shared = Settings();
  ASSERT_NE(shared, nullptr);
  auto second = std::make_unique<Mastering>();
  EXPECT_EQ(Settings(), shared);
  EXPECT_EQ(AutomationObjectCount(), objects + 2);
  first.reset();
  EXPECT_EQ(Settings(), shared);
  second.reset();
  EXPECT_EQ(Settings(), nullptr);
  EXPECT_EQ(AutomationObjectCount(), objects);
}

TEST_F(MasteringTest, VolumeLabelTrimmedAndBurnDialogOpenedWithTheLayout) {
  Mastering mastering;
  mastering.SetVolumeLabel(QStringLiteral("  MY DISC \t"));
  EXPECT_EQ(mastering.VolumeLabel(), QStringLiteral("MY DISC"));
  EXPECT_EQ(mastering.Layout().VolumeLabel, QStringLiteral("MY DISC"));
  testing::FakeForms forms;
  forms.QueueWellWriteResult(2);
  EXPECT_EQ(mastering.ShowBurnDialog(0, QStringLiteral("Backup"), QStringLiteral("e")), 2);
  EXPECT_EQ(forms.calls(), QStringList{QStringLiteral("well-write Backup|e")});
}

// A burn on the emulated CD-R: layout members and a second burn are refused
// while it runs, Progress is never negative and ends at the total, and
// StopBurn from a Progress handler ends it with the write's error.
TEST_F(MasteringTest, BurnRefusesChangesAndStopsOnRequest) {
  testing::WriteTrack(dir_.path() / "t1.wav", testing::TrackSamples(400, 1));
  Mastering mastering;
  ASSERT_TRUE(mastering.AddFile(Path("src/a.txt")));
  ASSERT_TRUE(mastering.AddTrack(Path("t1.wav"), 150, 0, 0));
  ASSERT_EQ(mastering.GetTrackCount(), 2);
  int progress = 0;
  bool negative = false;
  int32_t last_value = 0, last_total = 0;
  QStringList refused;
  QObject::connect(&mastering, &Mastering::Progress, &mastering, [&](int32_t value, int32_t total) {
    negative = negative || value < 0;
    last_value = value;
    last_total = total;
    if (progress++ == 0) {
      EXPECT_TRUE(mastering.Burning());
      if (mastering.AddFile(Path("src/b.txt"))) refused << "AddFile";
      if (mastering.AddTrack(Path("t1.wav"), 150, 0, 0)) refused << "AddTrack";
      if (mastering.RemoveTrack(2)) refused << "RemoveTrack";
      if (mastering.InitISOFS(0)) refused << "InitISOFS";
      mastering.ClearISO();
      mastering.ClearTrack();
      mastering.SetVolumeLabel(QStringLiteral("CHANGED"));
      // A second burn raises the error of a drive that cannot be used.
      const QString busy = QStringLiteral("0x80040003 指定されたドライヴは利用できません。");
      if (Raised([&] { mastering.StartBurn(QStringLiteral("D")); }) != busy) refused << "StartBurn";
      // No burn nor burn dialog of another object inside this burn either.
      Mastering other;
      if (!other.AddTrack(Path("t1.wav"), 150, 0, 0) || Raised([&] { other.StartBurn(QStringLiteral("E")); }) != busy)
        refused << "other";
      testing::FakeForms forms;
      forms.QueueWellWriteResult(1);
      if (other.ShowBurnDialog(0) != 0 || !forms.calls().isEmpty()) refused << "dialog";
    }
  });
  EXPECT_TRUE(mastering.StartBurn(QStringLiteral("D"), false));
  EXPECT_TRUE(refused.isEmpty()) << refused.join(' ').toStdString();
  EXPECT_FALSE(mastering.Burning());
  EXPECT_FALSE(negative);
  EXPECT_GT(progress, 400);
  EXPECT_EQ(last_value, last_total);
  EXPECT_EQ(mastering.GetTrackCount(), 2);
  EXPECT_FALSE(mastering.IsISOEmpty());
  EXPECT_TRUE(mastering.VolumeLabel().isEmpty());
  EXPECT_FALSE(mastering.IsDiscWritable(QStringLiteral("D")));  // a written CD-R

  // A second disc, stopped from the Progress handler.
  ScratchDir other;
  MasteringDriveRig blank(other, "medium=cd-r");
  Mastering stopped;
  ASSERT_TRUE(stopped.AddTrack(Path("t1.wav"), 150, 0, 0));
  int seen = 0;
  QObject::connect(&stopped, &Mastering::Progress, &stopped, [&](int32_t, int32_t) {
    if (++seen == 20) {
      EXPECT_TRUE(stopped.StopBurn());
    }
  });
  const QString error = Raised([&] { stopped.StartBurn(QStringLiteral("D")); });
  EXPECT_TRUE(error.startsWith(QStringLiteral("0x80040003 セクタ "))) << error.toStdString();
  EXPECT_EQ(seen, 20);
  EXPECT_FALSE(stopped.Burning());
}

// Files and a folder dated 2300 and 1600 (as far as the file system keeps
// such dates) are added and burned: once, the identity recorded at AddFile
// counted nanoseconds since the epoch in 64 bits, which overflowed for them
// (the sanitizer build ended there).
TEST_F(MasteringTest, SourcesDatedFarFromTheEpochBurn) {
  const std::filesystem::path folder = dir_.path() / "dated";
  std::filesystem::create_directories(folder);
  const struct {
    const char* name;
    time_t seconds;
  } dates[] = {{"y2300.bin", static_cast<time_t>(INT64_C(10413792000))},
               {"y1600.bin", static_cast<time_t>(INT64_C(-11676096000))}};
  for (const auto& d : dates) {
    WriteFileBytes(folder / d.name, std::string(3000, d.name[1]));
    const timespec times[2] = {{d.seconds, 0}, {d.seconds, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder / d.name).c_str(), times, 0), 0);
  }
  const timespec times[2] = {{dates[0].seconds, 0}, {dates[0].seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
  Mastering mastering;
  ASSERT_TRUE(mastering.InitISOFS(16));
  ASSERT_TRUE(mastering.AddFile(Q(folder)));
  EXPECT_EQ(ListLayout(mastering.Layout(), QStringLiteral("dated")), (QStringList{"y1600.bin", "y2300.bin"}));
  EXPECT_TRUE(mastering.StartBurn(QStringLiteral("D"), false));
}

// A host folder of 65,536 folders: the one that would be the 65,536th
// directory with the root is refused with the limit, since the path tables
// number a directory's parent in 16 bits. Once AddFile took them all and
// the burn said the layout was empty ("内容物を配置しなければ成りません").
TEST_F(MasteringTest, DirectoriesBeyondThePathTablesAreRefusedAtAddFile) {
  // In memory: a disk file system takes most of a minute to make and remove them.
  std::unique_ptr<ScratchDir> memory;
  {
    testing::ScopedEnv in_memory("TMPDIR", "/dev/shm");
    memory = std::make_unique<ScratchDir>();
  }
  const std::filesystem::path many = memory->path() / "many";
  std::filesystem::create_directories(many);
  for (int i = 0; i < 65536; ++i) {
    const std::string name = std::to_string(100000 + i).insert(0, 1, 'd');
    ASSERT_EQ(::mkdir((many / name).c_str(), 0700), 0) << i;
  }
  Mastering mastering;
  const QString error = Raised([&] { mastering.AddFile(Q(many)); });
  EXPECT_TRUE(error.startsWith(QStringLiteral("0x80040001 ディレクトリ d1"))) << error.toStdString();
  EXPECT_TRUE(error.endsWith(QStringLiteral(
      " は作成できません。ISO 9660 のディレクトリはルートを含めて 65535 個までです。")))
      << error.toStdString();
  EXPECT_TRUE(mastering.Layout().DirectoriesFull());
}

// A burn whose Japanese CD-Text needs 651 packs, more than a block numbers,
// raises the refusal with the block, its packs and the limit, and the blank
// stays blank. Once the block was left out and StartBurn answered True.
TEST_F(MasteringTest, CdTextBeyondABlocksPacksIsRefusedBeforeTheDisc) {
  testing::WriteTrack(dir_.path() / "t1.wav", testing::TrackSamples(300, 1));
  Mastering mastering;
  ASSERT_TRUE(mastering.AddTrack(Path("t1.wav"), 150, 0, 0));
  mastering.Layout().SetEnabledTrackText(true);
  // 3,885 characters of two bytes with the terminator, the track's blank
  // with its terminator: 7,776 bytes, 648 packs and the 3 size packs.
  mastering.Layout().SetTrackText(0, 1, 0, QString(3885, QChar(0x6B4C)));
  rig_.drive().hooks().ClearLog();
  EXPECT_EQ(Raised([&] { mastering.StartBurn(QStringLiteral("D"), false); }),
            QStringLiteral("0x80040003 CD-TEXTの日本語ブロックのパックが多すぎます (651 パック、1 ブロックに書き込めるのは 256 "
                           "パックまでです)。"));
  EXPECT_TRUE(rig_.drive().Commands(0x2A).empty());
  EXPECT_TRUE(mastering.IsDiscWritable(QStringLiteral("D")));
}

// Writes `bytes` over the file in place and gives it back its modification
// time: only what the bytes say can tell it from the file it was.
void RewriteKeepingTime(const std::filesystem::path& path, const std::string& bytes) {
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  WriteFileBytes(path, bytes);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A data file or WAV that changed between AddFile (or AddTrack) and
// StartBurn is refused with its name before anything reaches the drive,
// and the blank stays blank (once, the blank was closed with "セクタ 0 の書き
// 込みに失敗しました。"; a grown file was burned cut to its old size, a link
// pointed elsewhere as the other file's bytes, a WAV with its samples further
// in failed with "構造読み込み不能 LBA=…" on a spent blank).
TEST_F(MasteringTest, SourceChangedSinceItWasAddedIsRefusedBeforeAnyWrite) {
  const std::filesystem::path file = dir_.path() / "src" / "big.bin";
  const std::filesystem::path wave = dir_.path() / "t1.wav";
  const std::string missing = " が見つからないか、通常のファイルではありません。";
  const std::string changed = " は追加した時から変更されています。";
  const std::string samples = testing::TrackSamples(300, 1);
  // The track's WAV file with another header of the same size.
  auto wave_with = [&](const std::string& header) {
    return header + samples.substr(0, samples.size() + 44 - header.size());
  };
  std::string rate48000;
  {
    const auto header = MakeWaveHeader(static_cast<uint32_t>(samples.size()), 48000, 16, true);
    ASSERT_TRUE(header.has_value());
    rate48000 = std::string(header->data(), WaveHeader::size());
  }
  // "fmt " as the plain header has it, then a "LIST" chunk, then "data".
  std::string moved = std::string(MakeWaveHeader(0, 44100, 16, true)->data(), 36) + "LIST" +
                      std::string("\x08\0\0\0INFOabcd", 12) + "data";
  const uint32_t moved_bytes = static_cast<uint32_t>(samples.size() - 16);
  for (int i = 0; i < 4; ++i) moved.push_back(static_cast<char>(moved_bytes >> (8 * i)));
  const struct {
    const char* name;
    bool link;  // the data file is a link to "first.bin"
    std::function<void()> change;
    QString message;
  } cases[] = {
      {"removed", false, [&] { std::filesystem::remove(file); }, QStringLiteral("ファイル ") + Q(file) + QString::fromUtf8(missing)},
      {"fifo", false,
       [&] {
         std::filesystem::remove(file);
         ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
       },
       QStringLiteral("ファイル ") + Q(file) + QString::fromUtf8(missing)},
      {"shrunk", false, [&] { std::filesystem::resize_file(file, 4095); },
       QStringLiteral("ファイル ") + Q(file) + QStringLiteral(" は追加した時より小さくなっています。")},
      {"directory", false,
       [&] {
         std::filesystem::remove(file);
         std::filesystem::create_directory(file);
       },
       QStringLiteral("ファイル ") + Q(file) + QString::fromUtf8(missing)},
      // Once burned cut to its old size, and StartBurn True.
      {"grown", false, [&] { WriteFileBytes(file, std::string(4097, 'x')); },
       QStringLiteral("ファイル ") + Q(file) + QString::fromUtf8(changed)},
      // Once burned as the other file's bytes under the link's name.
      {"link retargeted", true,
       [&] {
         WriteFileBytes(dir_.path() / "src" / "second.bin", std::string(4096, 'y'));
         std::filesystem::remove(file);
         std::filesystem::create_symlink("second.bin", file);
       },
       QStringLiteral("ファイル ") + Q(file) + QString::fromUtf8(changed)},
      {"wave removed", false, [&] { std::filesystem::remove(wave); },
       QStringLiteral("ファイル ") + Q(wave) + QString::fromUtf8(missing)},
      // Once burned with a silent tail and reported written.
      {"wave shrunk", false, [&] { std::filesystem::resize_file(wave, std::filesystem::file_size(wave) - 1000); },
       QStringLiteral("ファイル ") + Q(wave) + QStringLiteral(" は追加した時より小さくなっています。")},
      {"wave of another rate", false, [&] { RewriteKeepingTime(wave, wave_with(rate48000)); },
       QStringLiteral("ファイル ") + Q(wave) + QString::fromUtf8(changed)},
      {"wave samples further in", false, [&] { RewriteKeepingTime(wave, wave_with(moved)); },
       QStringLiteral("ファイル ") + Q(wave) + QString::fromUtf8(changed)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(file);
    if (c.link) {
      WriteFileBytes(dir_.path() / "src" / "first.bin", std::string(4096, 'x'));
      std::filesystem::create_symlink("first.bin", file);
    } else {
      WriteFileBytes(file, std::string(4096, 'x'));
    }
    testing::WriteTrack(wave, samples);
    Mastering mastering;
    ASSERT_TRUE(mastering.AddFile(Q(file), QStringLiteral("deep\\er")));
    ASSERT_TRUE(mastering.AddTrack(Q(wave), 150, 0, 0));
    ASSERT_TRUE(mastering.Layout().ChangeISODirectory(QStringLiteral("deep")));
    c.change();
    rig_.drive().hooks().ClearLog();
    EXPECT_EQ(Raised([&] { mastering.StartBurn(QStringLiteral("D"), false); }),
              QStringLiteral("0x80040003 ") + c.message);
    // No PREVENT MEDIUM REMOVAL (closing the drive allows removal), no WRITE (10).
    for (const auto& command : rig_.drive().Commands(0x1E)) EXPECT_EQ(command.cdb[4] & 1, 0);
    EXPECT_TRUE(rig_.drive().Commands(0x2A).empty());
    EXPECT_TRUE(mastering.IsDiscWritable(QStringLiteral("D")));
    // The walk leaves the layout where it was.
    EXPECT_EQ(mastering.Layout().GetISOCurrentDirectory(), QStringLiteral("\\deep\\"));
  }
}

// A source changed while the burn runs fails it with the source's name, not
// the drive's last sector: a WAV cut in the middle of its track (once burned
// with a silent tail and reported written), a data file cut inside its last
// sector (once ended in zero bytes on the disc and reported written), a data
// file's link pointed at another file of the same size before the file is
// read (once burned as the other file's bytes), a data file or a WAV
// rewritten in place, same size and inode, while it is read (once burned as
// its old head and its new tail, a file that never was, and reported
// written). Each burns its own blank.
struct SourceCutCase {
  const char* name;
  bool data;
  bool link;
  bool rewrite;
};

void PrintTo(const SourceCutCase& c, std::ostream* out) { *out << c.name; }

class SourceCutTest : public MasteringTest, public ::testing::WithParamInterface<SourceCutCase> {};

TEST_P(SourceCutTest, DuringTheBurnFailsItNamingTheSource) {
  const SourceCutCase& c = GetParam();
  const std::filesystem::path path = c.data ? dir_.path() / "src" / "last.bin" : dir_.path() / "long.wav";
  // Rewritten: a data file of three of the engine's 1 MiB read blocks,
  // rewritten once the second is read.
  constexpr int32_t kRewrittenSectors = 3 * 512;
  Mastering mastering;
  if (c.data) {
    if (c.link) {
      WriteFileBytes(dir_.path() / "src" / "first.bin", std::string(5000, 'd'));
      WriteFileBytes(dir_.path() / "src" / "second.bin", std::string(5000, 'e'));
      std::filesystem::create_symlink("first.bin", path);
    } else {
      WriteFileBytes(path, std::string(c.rewrite ? kRewrittenSectors * 2048 : 5000, 'd'));
    }
    ASSERT_TRUE(mastering.InitISOFS(16));
  } else {
    testing::WriteTrack(path, testing::TrackSamples(600, 3));
  }
  if (c.rewrite) {
    // An old modification time: the rewrite's own differs from it on any clock.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  if (c.data) {
    ASSERT_TRUE(mastering.AddFile(Q(path)));
  } else {
    ASSERT_TRUE(mastering.AddTrack(Q(path), 150, 0, 0));
  }
  // The LBA from which the change is made: within the second read block of
  // the data file (its data starts within the first 100 sectors), half
  // through the WAV.
  const int32_t change_at = !c.rewrite ? 10 : c.data ? 100 + 512 + 100 : 300;
  bool changed = false;
  QObject::connect(&mastering, &Mastering::Progress, [&](int32_t value, int32_t) {
    if (!changed && value >= change_at) {
      if (c.rewrite) {
        const std::string bytes = testing::ReadFileBytes(path);
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        // The tail of the file, its header kept.
        const std::string other(bytes.size() - 44, 'n');
        ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 44), static_cast<ssize_t>(other.size()));
        ::close(fd);
        ASSERT_EQ(std::filesystem::file_size(path), bytes.size());
      } else if (c.link) {
        std::filesystem::remove(path);
        std::filesystem::create_symlink("second.bin", path);
      } else {
        // The data file inside its last sector (404 of 904 bytes left), the WAV after 300 of its 600 sectors.
        std::filesystem::resize_file(path, c.data ? 4500 : 44 + 300 * 2352);
      }
      changed = true;
    }
  });
  const QString error = Raised([&] { mastering.StartBurn(QStringLiteral("D"), false); });
  EXPECT_TRUE(changed);
  EXPECT_EQ(error, QStringLiteral("0x80040003 ファイル ") + Q(path) +
                       (c.link || c.rewrite ? QStringLiteral(" は追加した時から変更されています。")
                                            : QStringLiteral(" は追加した時より小さくなっています。")));
  EXPECT_FALSE(mastering.Burning());
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceCutTest,
                         ::testing::Values(SourceCutCase{"Wave", false, false, false},
                                           SourceCutCase{"DataFile", true, false, false},
                                           SourceCutCase{"DataFileLink", true, true, false},
                                           SourceCutCase{"WaveRewritten", false, false, true},
                                           SourceCutCase{"DataFileRewritten", true, false, true}),
                         [](const ::testing::TestParamInfo<SourceCutCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace sorvel
