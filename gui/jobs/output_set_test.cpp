#include "gui/jobs/output_set.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "gui/model/model_test_util.h"
#include "testing/file_bytes.h"
#include "testing/other_user.h"
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

// A link is followed only where the kernel's protected-link rule would
// follow it: another user's link in a shared sticky folder (directly or at
// the end of this user's own link) is refused, and the file it names, this
// user's file elsewhere, is left alone.
TEST(OutputSetTest, OtherUsersLinkInAStickyFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own a link for another user";
  struct Case {
    const char* name;
    uid_t owner;
    mode_t folder_mode;
    bool through_own_link;
    bool followed;
  };
  for (const Case& c : {Case{"theirs-sticky", testing::kOtherUser, 01777, false, false},
                        Case{"theirs-behind-mine", testing::kOtherUser, 01777, true, false},
                        Case{"mine-sticky", ::geteuid(), 01777, false, true},
                        Case{"theirs-open", testing::kOtherUser, 0777, false, true}}) {
    ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    std::filesystem::create_directory(dir / "shared");
    ASSERT_EQ(::chmod((dir / "shared").c_str(), c.folder_mode), 0);
    WriteFileBytes(dir / "own.img", "own file");
    std::filesystem::create_symlink(dir / "own.img", dir / "shared" / "u.img");
    ASSERT_EQ(::lchown((dir / "shared" / "u.img").c_str(), c.owner, c.owner), 0);
    std::filesystem::path name = dir / "shared" / "u.img";
    if (c.through_own_link) {
      name = dir / "mine.img";
      std::filesystem::create_symlink(dir / "shared" / "u.img", name);
    }
    for (bool replace : {false, true}) {
      OutputSet set;
      const bool taken = replace ? set.Replace(Q(name)) : !set.Add(Q(name)).isEmpty();
      EXPECT_EQ(taken, c.followed) << c.name << replace;
      if (!taken) {
        EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 が開けません。").arg(Q(name)));
      }
      if (taken && !replace) {
        WriteFileBytes(set.TemporaryOf(Q(name)).toStdString(), "disc");
        ASSERT_TRUE(set.Commit()) << c.name;
        EXPECT_EQ(ReadFileBytes(dir / "own.img"), "disc") << c.name;
      }
    }
    if (!c.followed) {
      EXPECT_EQ(ReadFileBytes(dir / "own.img"), "own file") << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "shared" / "u.img")) << c.name;
  }
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

// A new file takes the permission bits of the file it replaces only when
// that file was this user's, and never set-ID or sticky bits: in a shared
// sticky folder, another user's file of mode 6777 gives a file of the
// user's default mode, not a set-ID file with the other user's bits.
TEST(OutputSetTest, ReplacedFileLendsItsModeOnlyToItsOwnUser) {
  if (!testing::AsOtherUser::Possible()) GTEST_SKIP() << "needs root and user 65534, to own files for another user";
  ScratchDir dir;
  std::filesystem::create_directory(dir / "shared");
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    mode_t expected;
  };
  for (const Case& c : {Case{"mine.img", ::geteuid(), 0640, 0640}, Case{"mine-set-id.img", ::geteuid(), 06755, 0755},
                        Case{"sticky.img", ::geteuid(), 01600, 0600},
                        Case{"theirs.img", testing::kOtherUser, 06777, 0666 & ~mask},
                        Case{"theirs-plain.img", testing::kOtherUser, 0600, 0666 & ~mask}}) {
    const std::filesystem::path target = dir / "shared" / c.name;
    WriteFileBytes(target, "theirs");
    ASSERT_EQ(::chown(target.c_str(), c.owner, c.owner), 0);
    ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
    OutputSet set;
    const QString temporary = set.Add(Q(target));
    ASSERT_FALSE(temporary.isEmpty()) << c.name;
    WriteFileBytes(temporary.toStdString(), "disc");
    ASSERT_TRUE(set.Commit()) << c.name;
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << c.name;
    EXPECT_EQ(st.st_uid, ::geteuid()) << c.name;
    EXPECT_EQ(ReadFileBytes(target), "disc");
  }
}

// Files at the names of side files belong to an earlier set only when its
// image is there: without one they are the user's and are kept.
TEST(OutputSetTest, SideFilesGoOnlyWithAnEarlierImage) {
  for (bool earlier_image : {false, true}) {
    ScratchDir dir;
    std::map<std::string, std::string> before{{"movie.pre", "mine"}, {"movie.cdt", "mine too"}, {"movie.sub", "subtitles"}};
    if (earlier_image) before["movie.img"] = "earlier image";
    for (const auto& [name, bytes] : before) WriteFileBytes(dir / name, bytes);
    OutputSet set;
    WriteFileBytes(set.Add(Q(dir / "movie.img")).toStdString(), "image");
    WriteFileBytes(set.Add(Q(dir / "movie.cue")).toStdString(), "sheet");
    for (const char* side : {"movie.pre", "movie.cdt", "movie.sub"}) ASSERT_TRUE(set.Replace(Q(dir / side)));
    ASSERT_TRUE(set.Commit());
    std::map<std::string, std::string> after{{"movie.img", "image"}, {"movie.cue", "sheet"}};
    if (!earlier_image) {
      for (const char* side : {"movie.pre", "movie.cdt", "movie.sub"}) after[side] = before[side];
    }
    EXPECT_EQ(Contents(dir.path()), after) << earlier_image;
  }
}

// A side file of the earlier set that this user cannot remove (another
// user's, in a sticky folder) fails the commit before anything is put in
// place: the earlier set stays whole and no hidden name is left.
TEST(OutputSetTest, SideFileThatCannotGoFailsTheCommitFirst) {
  if (!testing::AsOtherUser::Possible()) GTEST_SKIP() << "needs root and user 65534, to act as another user";
  ScratchDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  std::filesystem::create_directory(dir / "shared");
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
  WriteFileBytes(dir / "shared" / "x.pre", "stale pregap");  // root's, writable by all
  ASSERT_EQ(::chmod((dir / "shared" / "x.pre").c_str(), 0666), 0);
  {
    testing::AsOtherUser other;
    WriteFileBytes(dir / "shared" / "x.img", "earlier image");
    WriteFileBytes(dir / "shared" / "x.cue", "earlier sheet");
  }
  const auto before = Contents(dir / "shared");
  testing::AsOtherUser other;
  OutputSet set;
  WriteFileBytes(set.Add(Q(dir / "shared" / "x.img")).toStdString(), "image");
  WriteFileBytes(set.Add(Q(dir / "shared" / "x.cue")).toStdString(), "sheet");
  ASSERT_TRUE(set.Replace(Q(dir / "shared" / "x.pre")));
  EXPECT_FALSE(set.Commit());
  EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 が開けません。").arg(Q(dir / "shared" / "x.pre")));
  EXPECT_EQ(Contents(dir / "shared"), before);
}

// A file that cannot be given a second name to put it back by is not
// replaced: the commit fails with its name before anything is put in place.
// (Another user's file that this user may write but not read cannot be
// linked where the kernel protects hard links.)
TEST(OutputSetTest, FileWithoutAWayBackIsNotReplaced) {
  if (!testing::AsOtherUser::Possible()) GTEST_SKIP() << "needs root and user 65534, to act as another user";
  if (ReadFileBytes("/proc/sys/fs/protected_hardlinks").rfind('1', 0) != 0) {
    GTEST_SKIP() << "needs protected hard links";
  }
  ScratchDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  std::filesystem::create_directory(dir / "open");
  ASSERT_EQ(::chmod((dir / "open").c_str(), 0777), 0);
  WriteFileBytes(dir / "open" / "y.img", "earlier image");
  ASSERT_EQ(::chmod((dir / "open" / "y.img").c_str(), 0622), 0);
  const auto before = Contents(dir / "open");
  {
    testing::AsOtherUser other;
    OutputSet set;
    const QString temporary = set.Add(Q(dir / "open" / "y.img"));
    ASSERT_FALSE(temporary.isEmpty()) << set.ProblemText().toStdString();
    WriteFileBytes(temporary.toStdString(), "image");
    EXPECT_FALSE(set.Commit());
    EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 が開けません。").arg(Q(dir / "open" / "y.img")));
  }
  EXPECT_EQ(Contents(dir / "open"), before);
}

// Another user's file in a sticky folder, which this user may write but not
// rename over, is refused when the set takes its name; one that appears
// while the set is written fails the commit. Either way it is left as it was
// and no hidden name stays (a second name of another user's file could not
// be removed there).
TEST(OutputSetTest, OtherUsersFileInAStickyFolderIsNotRenamedOver) {
  if (!testing::AsOtherUser::Possible()) GTEST_SKIP() << "needs root and user 65534, to act as another user";
  for (bool appears_later : {false, true}) {
    ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    std::filesystem::create_directory(dir / "shared");
    ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
    const std::filesystem::path target = dir / "shared" / "z.img";
    auto theirs = [&] {  // root's, writable by all
      WriteFileBytes(target, "their image");
      ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
    };
    if (!appears_later) theirs();
    std::optional<testing::AsOtherUser> other(std::in_place);
    OutputSet set;
    const QString temporary = set.Add(Q(target));
    if (appears_later) {
      ASSERT_FALSE(temporary.isEmpty());
      WriteFileBytes(temporary.toStdString(), "image");
      other.reset();
      theirs();
      other.emplace();
      EXPECT_FALSE(set.Commit());
    } else {
      EXPECT_TRUE(temporary.isEmpty());
    }
    EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 が開けません。").arg(Q(target))) << appears_later;
    other.reset();
    EXPECT_EQ(Contents(dir / "shared"), (std::map<std::string, std::string>{{"z.img", "their image"}})) << appears_later;
  }
}

// Temporaries of a name that no live set holds (left by a job that was
// killed) are removed by the next set into that name; those of a set alive,
// in this process or another, and hidden files of other names stay.
TEST(OutputSetTest, NextSetRemovesDebrisOfItsNamesOnly) {
  ScratchDir dir;
  WriteFileBytes(dir / ".x.img.AbCd1234", "killed job's image");
  WriteFileBytes(dir / ".x.pre.zzzzzzzz", "killed job's pregap");
  WriteFileBytes(dir / ".x.img.short", "not a temporary's name");
  WriteFileBytes(dir / ".y.img.AbCd1234", "another name's");
  OutputSet live;
  const QString held = live.Add(Q(dir / "x.img"));
  ASSERT_FALSE(held.isEmpty());
  WriteFileBytes(held.toStdString(), "live");
  // Another process holding its own temporary of the name.
  int to_child[2];
  int from_child[2];
  ASSERT_EQ(::pipe(to_child), 0);
  ASSERT_EQ(::pipe(from_child), 0);
  const std::filesystem::path theirs = dir / ".x.img.OtherPro";
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(theirs.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    char byte = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 'y' : 'n';
    (void)!::write(from_child[1], &byte, 1);
    (void)!::read(to_child[0], &byte, 1);
    ::_exit(0);
  }
  char ready = 0;
  ASSERT_EQ(::read(from_child[0], &ready, 1), 1);
  EXPECT_EQ(ready, 'y');

  OutputSet next;
  ASSERT_FALSE(next.Add(Q(dir / "x.img")).isEmpty());
  ASSERT_TRUE(next.Replace(Q(dir / "x.pre")));
  const auto files = Contents(dir.path());
  EXPECT_EQ(files.count(".x.img.AbCd1234"), 0u);
  EXPECT_EQ(files.count(".x.pre.zzzzzzzz"), 0u);
  EXPECT_EQ(files.count(held.section('/', -1).toStdString()), 1u);
  EXPECT_EQ(files.count(".x.img.OtherPro"), 1u);
  EXPECT_EQ(files.count(".x.img.short"), 1u);
  EXPECT_EQ(files.count(".y.img.AbCd1234"), 1u);
  EXPECT_EQ(files.size(), 5u);  // and the new set's temporary
  (void)!::write(to_child[1], "x", 1);
  ::waitpid(child, nullptr, 0);
  for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
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
