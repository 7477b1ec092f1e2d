#include "gui/foundation/disk_module.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSet>
#include <fstream>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_io.h"
#include "gui/foundation/file_paths.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using sorvel::testing::ScopedEnv;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

void Touch(const std::filesystem::path& p, const std::string& bytes = "x") {
  std::ofstream(p, std::ios::binary) << bytes;
}

TEST(DiskModuleTest, AttributesTimesAndSizesOfTheFirstMatch) {
  sorvel::testing::ScratchDir dir;
  Touch(dir / "a.txt", "12345");
  Touch(dir / ".hidden");
  std::filesystem::create_directory(dir / "sub");
  struct Case {
    std::string name;
    int32_t attributes;
  };
  const Case cases[] = {
      {"a.txt", kFileAttributeArchive},   {"a.*", kFileAttributeArchive},
      {"sub", kFileAttributeDirectory},   {".hidden", kFileAttributeArchive | kFileAttributeHidden},
      {"missing", -1},                    {"*.none", -1},
      {"dangling", kFileAttributeArchive}, {"a.txt/", -1},
  };
  std::filesystem::create_symlink(dir / "missing", dir / "dangling");
  for (const Case& c : cases) EXPECT_EQ(GetFileAttributesByFind(Q(dir / c.name)), c.attributes) << c.name;
  EXPECT_EQ(GetFileAttributesByFind("/"), -1);
  chmod((dir / "a.txt").c_str(), 0444);
  EXPECT_EQ(GetFileAttributesByFind(Q(dir / "a.txt")), kFileAttributeArchive | kFileAttributeReadOnly);

  EXPECT_EQ(GetFileSize64(Q(dir / "a.txt")), 5);
  EXPECT_EQ(GetFileSize64(Q(dir / "missing")), 0);

  const QDateTime marker = QDateTime::fromSecsSinceEpoch(1);
  QDateTime created = marker, modified = marker, accessed = marker;
  EXPECT_FALSE(GetFileTimes(Q(dir / "missing"), &created, &modified, &accessed));
  EXPECT_EQ(created, marker);
  EXPECT_TRUE(GetFileTimes(Q(dir / "a.*"), &created, &modified, &accessed));
  const QDateTime now = QDateTime::currentDateTime();
  for (const QDateTime& t : {created, modified, accessed}) {
    EXPECT_TRUE(t.isValid());
    EXPECT_LT(std::abs(t.secsTo(now)), 600);
  }
}

TEST(DiskModuleTest, GetFileSize64ReportsSizesBeyond32Bits) {
  sorvel::testing::ScratchDir dir;
  const auto path = dir / "sparse.img";
  Touch(path, "");
  std::filesystem::resize_file(path, (5LL << 30) + 7);  // sparse: no disk space used
  EXPECT_EQ(GetFileSize64(Q(path)), (5LL << 30) + 7);
}

TEST(DiskModuleTest, CheckFileAccessTellsReadableFromWritable) {
  sorvel::testing::ScratchDir dir;
  Touch(dir / "free");
  Touch(dir / "held");
  EXPECT_EQ(CheckFileAccess(Q(dir / "free")), 0);
  EXPECT_EQ(CheckFileAccess(Q(dir / "missing")), 1);
  EXPECT_EQ(CheckFileAccess(Q(dir.path())), 1);
  FileIO writer;
  ASSERT_TRUE(writer.OpenFile(Q(dir / "held"), kGenericWrite, kOpenExisting));
  EXPECT_EQ(CheckFileAccess(Q(dir / "held")), 2);
  writer.CloseFile();
  EXPECT_EQ(CheckFileAccess(Q(dir / "held")), 0);
  if (geteuid() != 0) {  // root writes read-only files anyway
    chmod((dir / "free").c_str(), 0444);
    EXPECT_EQ(CheckFileAccess(Q(dir / "free")), 2);
  }
}

TEST(DiskModuleTest, MakeDirectoriesCreatesEveryLevel) {
  sorvel::testing::ScratchDir dir;
  std::filesystem::create_directory(dir / "a");
  EXPECT_EQ(MakeDirectories(Q(dir / "a" / "b" / "c") + "/"), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b" / "c"));
  EXPECT_EQ(MakeDirectories(Q(dir / "a" / "b" / "c")), EEXIST);
  EXPECT_EQ(MakeDirectories(""), ENOENT);
  Touch(dir / "file");
  EXPECT_NE(MakeDirectories(Q(dir / "file" / "x")), 0);
}

TEST(DiskModuleTest, TemporaryNamesAvoidEveryExistingPrefix) {
  sorvel::testing::ScratchDir dir;
  SetProgramPathForTesting(Q(dir / "sorvel"));  // the settings file lands in the scratch folder
  ApplicationSetting* settings = AcquireSettings();
  settings->SetPathTemp(Q(dir.path()));
  EXPECT_EQ(GetTempDirectory(), Q(dir.path()));
  QSet<QString> seen;
  for (int i = 0; i < 200; ++i) {
    const QString name = MakeTempFileName(".cue");
    ASSERT_TRUE(name.startsWith(Q(dir.path()) + "/")) << name.toStdString();
    const QString letters = name.mid(Q(dir.path()).size() + 1, 8);
    EXPECT_EQ(name.size(), Q(dir.path()).size() + 1 + 8 + 4);
    for (QChar c : letters) EXPECT_TRUE(c >= u'A' && c <= u'Z');
    EXPECT_TRUE(name.endsWith(".cue"));
    EXPECT_FALSE(seen.contains(letters));
    seen.insert(letters);
    Touch((dir.path() / (letters.toStdString() + ".img")));  // later names must avoid it
  }
  settings->SetPathTemp("");
  EXPECT_EQ(GetTempDirectory(), GetSpecialFolderPath(2));
  ReleaseSettings();
  SetProgramPathForTesting(QString());
}

TEST(DiskModuleTest, DeleteFilesByPrefixDeletesOnlyRegularFilesWithTheLiteralPrefix) {
  sorvel::testing::ScratchDir dir;
  std::filesystem::create_directory(dir / "x.y");
  for (const char* name : {"ABCDEFGH.cue", "ABCDEFGH.img", "ABCDEFGH", "ABCDEFGHI.sub", "ABCDEFG.img", "abcdefgh.img"})
    Touch(dir / "x.y" / name);
  std::filesystem::create_directory(dir / "x.y" / "ABCDEFGH.dir");
  Touch(dir / "x.keep");
  DeleteFilesByPrefix(Q(dir / "x.y" / "ABCDEFGH.cue"));
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir / "x.y")) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"ABCDEFG.img", "ABCDEFGH.dir", "abcdefgh.img"}));
  EXPECT_TRUE(std::filesystem::exists(dir / "x.keep"));

  Touch(dir / "x.y" / "a*b.img");
  Touch(dir / "x.y" / "aXb.img");
  DeleteFilesByPrefix(Q(dir / "x.y" / "a*b"));  // wildcards are literal characters
  EXPECT_FALSE(std::filesystem::exists(dir / "x.y" / "a*b.img"));
  EXPECT_TRUE(std::filesystem::exists(dir / "x.y" / "aXb.img"));

  DeleteFilesByPrefix(Q(dir / "x.y" / ".img"));  // no name part: refused
  DeleteFilesByPrefix(Q(dir / "x.y") + "/");
  EXPECT_TRUE(std::filesystem::exists(dir / "x.y" / "aXb.img"));
  EXPECT_TRUE(std::filesystem::exists(dir / "x.y" / "ABCDEFG.img"));
}

TEST(DiskModuleTest, DriveTypeFollowsTheDriveMap) {
  ScopedEnv drives("SORVEL_DRIVES", "D:=/dev/sr0;E:=emu:/tmp/none.state");
  EXPECT_EQ(GetPathDriveType("D:\\"), kDriveCdRom);
  EXPECT_EQ(GetPathDriveType("e"), kDriveCdRom);
  EXPECT_EQ(GetPathDriveType("F:"), kDriveNoRootDir);
  EXPECT_EQ(GetPathDriveType(""), kDriveNoRootDir);
  EXPECT_EQ(GetPathDriveType("/"), kDriveNoRootDir);
}

TEST(DiskModuleTest, SpecialFolders) {
  {
    ScopedEnv temp("TMPDIR", "/var/tmp/");
    EXPECT_EQ(GetSpecialFolderPath(2), "/var/tmp");
  }
  {
    ScopedEnv temp("TMPDIR", std::nullopt);
    EXPECT_EQ(GetSpecialFolderPath(2), "/tmp");
  }
  EXPECT_EQ(GetSpecialFolderPath(0), "");
  EXPECT_EQ(GetSpecialFolderPath(3), "");
}

}  // namespace
}  // namespace sorvel
