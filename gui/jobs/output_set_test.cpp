#include "gui/jobs/output_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <thread>
#include <vector>

#include "gui/model/model_test_util.h"
#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

std::map<std::string, std::string> Contents(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    files[entry.path().filename().string()] =
        entry.is_regular_file() && !entry.is_symlink() ? ReadFileBytes(entry.path()) : "(other)";
  }
  return files;
}

TEST(OutputSetTest, CommitPutsTheWholeSetInPlaceAndDiscardLeavesTheTargets) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.img", "old image");
  WriteFileBytes(dir / "a.sub", "old sub");
  std::filesystem::permissions(dir / "a.img", std::filesystem::perms(0640));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (bool commit : {false, true}) {
    OutputSet set;
    const QString image = set.Add(Q(dir / "a.img"));
    const QString sheet = set.Add(Q(dir / "a.cue"));
    ASSERT_FALSE(image.isEmpty());
    ASSERT_FALSE(sheet.isEmpty());
    EXPECT_NE(image, sheet);
    EXPECT_EQ(set.Add(Q(dir / "a.img")), image);  // one temporary a target
    ASSERT_TRUE(set.Replace(Q(dir / "a.sub")));
    WriteFileBytes(image.toStdString(), "new image");
    WriteFileBytes(sheet.toStdString(), "new sheet");
    if (!commit) {
      set.Discard();
      EXPECT_EQ(Contents(dir.path()), (std::map<std::string, std::string>{{"a.img", "old image"}, {"a.sub", "old sub"}}));
      continue;
    }
    ASSERT_TRUE(set.Commit());
    EXPECT_EQ(Contents(dir.path()), (std::map<std::string, std::string>{{"a.img", "new image"}, {"a.cue", "new sheet"}}));
    // The replaced file's permissions are kept; a new one gets the user's.
    EXPECT_EQ(std::filesystem::status(dir / "a.img").permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(std::filesystem::status(dir / "a.cue").permissions(), std::filesystem::perms(0666 & ~mask));
  }
}

TEST(OutputSetTest, TemporariesAreNamedForOneSetOnly) {
  ScratchDir dir;
  OutputSet first;
  OutputSet second;
  const QString a = first.Add(Q(dir / "x.wav"));
  const QString b = second.Add(Q(dir / "x.wav"));
  ASSERT_FALSE(a.isEmpty());
  ASSERT_FALSE(b.isEmpty());
  EXPECT_NE(a, b);
  second.Discard();
  EXPECT_TRUE(std::filesystem::exists(a.toStdString()));
}

// A target whose name is as long as a name can be still gets a temporary,
// and the set still takes that name.
TEST(OutputSetTest, LongestTargetNamesGetATemporary) {
  ScratchDir dir;
  const std::string name = std::string(251, 'n') + ".img";
  OutputSet set;
  const QString temporary = set.Add(Q(dir / name));
  ASSERT_FALSE(temporary.isEmpty()) << set.ProblemText().toStdString();
  WriteFileBytes(temporary.toStdString(), "image");
  ASSERT_TRUE(set.Commit());
  EXPECT_EQ(Contents(dir.path()), (std::map<std::string, std::string>{{name, "image"}}));
}

// A write-protected earlier file, or a FIFO, device or folder at a name:
// refused at once with the user's text, and nothing is touched.
TEST(OutputSetTest, RefusedTargetsAreToldAndLeftAlone) {
  ScratchDir dir;
  WriteFileBytes(dir / "kept.img", "kept");
  std::filesystem::permissions(dir / "kept.img", std::filesystem::perms(0444));
  testing::StandInFile fifo(dir / "fifo.cue", testing::StandIn::kFifo);
  testing::StandInFile device(dir / "zero.sub", testing::StandIn::kZeroDevice);
  std::filesystem::create_directory(dir / "folder.tsn");
  const auto before = Contents(dir.path());
  struct Case {
    const char* name;
    const char* text;
  };
  for (const Case& c : {Case{"kept.img", "が開けません。"}, Case{"fifo.cue", "は通常のファイルではありません。"},
                        Case{"zero.sub", "は通常のファイルではありません。"},
                        Case{"folder.tsn", "は通常のファイルではありません。"}, Case{"no/x.img", "が開けません。"}}) {
    for (bool replace : {false, true}) {
      OutputSet set;
      const bool taken = replace ? set.Replace(Q(dir / c.name)) : !set.Add(Q(dir / c.name)).isEmpty();
      EXPECT_EQ(taken, replace && std::string(c.name) == "no/x.img") << c.name;
      if (!taken) {
        EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 %2").arg(Q(dir / c.name), QString::fromUtf8(c.text)));
      }
    }
  }
  EXPECT_FALSE(fifo.Blocked());
  EXPECT_EQ(Contents(dir.path()), before);
}

// A symbolic link stays: the file it names is replaced.
TEST(OutputSetTest, LinkedTargetKeepsItsLink) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteFileBytes(dir / "real" / "a.cue", "old");
  std::filesystem::create_symlink("real/a.cue", dir / "a.cue");
  OutputSet set;
  const QString temporary = set.Add(Q(dir / "a.cue"));
  ASSERT_FALSE(temporary.isEmpty());
  WriteFileBytes(temporary.toStdString(), "new");
  // A linked file of the earlier set that this one does not write: the link goes, its file stays.
  WriteFileBytes(dir / "real" / "a.cdt", "packs");
  std::filesystem::create_symlink("real/a.cdt", dir / "a.cdt");
  ASSERT_TRUE(set.Replace(Q(dir / "a.cdt")));
  ASSERT_TRUE(set.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "a.cue"));
  EXPECT_EQ(ReadFileBytes(dir / "real" / "a.cue"), "new");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "a.cdt"));
  EXPECT_EQ(ReadFileBytes(dir / "real" / "a.cdt"), "packs");
}

// A set of new files never replaces one that appeared while it was written;
// one whose target turned into a folder puts nothing in place.
TEST(OutputSetTest, CommitThatCannotCompleteLeavesTheTargetsAsTheyWere) {
  ScratchDir dir;
  {
    OutputSet set(OutputSet::Mode::kNew);
    const QString temporary = set.Add(Q(dir / "d.wav"));
    WriteFileBytes(temporary.toStdString(), "mine");
    WriteFileBytes(dir / "d.wav", "theirs");
    EXPECT_FALSE(set.Commit());
    EXPECT_EQ(Contents(dir.path()), (std::map<std::string, std::string>{{"d.wav", "theirs"}}));
  }
  {
    WriteFileBytes(dir / "s.img", "old image");
    WriteFileBytes(dir / "s.cue", "old sheet");
    OutputSet set;
    WriteFileBytes(set.Add(Q(dir / "s.img")).toStdString(), "new image");
    WriteFileBytes(set.Add(Q(dir / "s.cue")).toStdString(), "new sheet");
    std::filesystem::remove(dir / "s.cue");
    std::filesystem::create_directory(dir / "s.cue");
    EXPECT_FALSE(set.Commit());
    EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 は通常のファイルではありません。").arg(Q(dir / "s.cue")));
    EXPECT_EQ(Contents(dir.path()),
              (std::map<std::string, std::string>{{"d.wav", "theirs"}, {"s.img", "old image"}, {"s.cue", "(other)"}}));
  }
}

// Sets committed into one folder at the same time never mix: after every
// round the files at the names are all of one set.
TEST(OutputSetTest, ConcurrentCommitsIntoOneFolderNeverMix) {
  ScratchDir dir;
  const QString names[] = {Q(dir / "m.img"), Q(dir / "m.sub"), Q(dir / "m.cue"), Q(dir / "m.ccd"), Q(dir / "m.tsn")};
  for (int round = 0; round < 100; ++round) {
    std::vector<std::thread> writers;
    for (const char* who : {"A", "B", "C"}) {
      writers.emplace_back([&, who] {
        OutputSet set;
        for (const QString& name : names) WriteFileBytes(set.Add(name).toStdString(), who);
        EXPECT_TRUE(set.Commit());
      });
    }
    for (std::thread& writer : writers) writer.join();
    const std::string first = ReadFileBytes(names[0].toStdString());
    for (const QString& name : names) ASSERT_EQ(ReadFileBytes(name.toStdString()), first) << round;
    ASSERT_EQ(Contents(dir.path()).size(), std::size(names));
  }
}

}  // namespace
}  // namespace sorvel
