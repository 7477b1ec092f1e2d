#include "gui/jobs/output_set.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "gui/foundation/file_io.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/model_test_util.h"
#include "testing/exfat_folder.h"
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

// The hidden name of a temporary that a process of its own made for
// `target` and left behind when it ended (as a killed job leaves it).
std::string TemporaryOfAnEndedProcess(const std::filesystem::path& target) {
  int names[2];
  if (::pipe(names) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    auto* set = new OutputSet;  // never destroyed: the process ends as if killed
    const QByteArray name = QFile::encodeName(set->Add(Q(target)));
    (void)!::write(names[1], name.constData(), static_cast<size_t>(name.size()));
    ::_exit(0);
  }
  ::close(names[1]);
  std::string name;
  char buffer[512];
  for (ssize_t n; (n = ::read(names[0], buffer, sizeof buffer)) > 0;) name.append(buffer, static_cast<size_t>(n));
  ::close(names[0]);
  ::waitpid(child, nullptr, 0);
  return std::filesystem::path(name).filename().string();
}

// Temporaries of a name left by a job of this host that ended (killed) are
// removed by the next set into that name, as is a second name it left of
// the file at the target. Everything else stays: the user's own hidden files
// of any form, temporaries of a live process, of another host (whose process
// this one cannot see), of another name, and an earlier file kept under a
// second name that may be its only one.
TEST(OutputSetTest, NextSetRemovesOnlyTheDebrisOfEndedJobsOfThisHost) {
  ScratchDir dir;
  OutputSet live;
  const QString held = live.Add(Q(dir / "x.img"));
  ASSERT_FALSE(held.isEmpty());
  WriteFileBytes(held.toStdString(), "live");
  const std::string killed_image = TemporaryOfAnEndedProcess(dir / "x.img");
  const std::string killed_pregap = TemporaryOfAnEndedProcess(dir / "x.pre");
  ASSERT_NE(killed_image.find(".sorvel~new~"), std::string::npos) << killed_image;
  std::string other_host = killed_image;
  other_host.replace(other_host.find("~new~") + 5, other_host.find('~', other_host.find("~new~") + 5) -
                                                       (other_host.find("~new~") + 5), "elsewhere");
  std::string kept = killed_image;
  kept.replace(kept.find("~new~"), 5, "~old~");
  // A second name (hard link) of the image at x.img that the killed job
  // made to put it back by: nothing is lost with it, it goes.
  std::string second_name = kept;
  second_name.back() = second_name.back() == 'a' ? 'b' : 'a';
  const std::string other_name = TemporaryOfAnEndedProcess(dir / "y.img");
  std::map<std::string, std::string> users = {
      {".x.img.20231205", "user's dated copy"}, {".x.img.original", "user's original"},
      {".x.img.notes", "user's notes"},         {".x.img.AbCd1234", "user's, of the letters of old temporaries"},
      {other_host, "a job's on another host"},  {kept, "an earlier file kept"},
  };
  for (const auto& [name, bytes] : users) WriteFileBytes(dir / name, bytes);
  WriteFileBytes(dir / "x.img", "earlier image");
  std::filesystem::create_hard_link(dir / "x.img", dir / second_name);
  auto before = Contents(dir.path());
  ASSERT_EQ(before.count(killed_image), 1u);
  ASSERT_EQ(before.count(killed_pregap), 1u);

  OutputSet next;
  const QString temporary = next.Add(Q(dir / "x.img"));
  ASSERT_FALSE(temporary.isEmpty());
  ASSERT_TRUE(next.Replace(Q(dir / "x.pre")));
  before.erase(killed_image);
  before.erase(killed_pregap);
  before.erase(second_name);
  before[temporary.section('/', -1).toStdString()] = "";
  EXPECT_EQ(Contents(dir.path()), before);
  EXPECT_EQ(before.count(other_name), 1u);
}

// A job killed after it renamed the earlier file aside (where the file
// system has no hard links) and before its own took the name: the next set
// into that name first gives the earlier file its name back. With a file
// at the name again, a second such aside stays (it may be the only copy).
TEST(OutputSetTest, NextSetPutsBackAnEarlierFileAKilledJobLeftAside) {
  ScratchDir dir;
  // The killed job's own temporary is swept as any other.
  std::string aside = TemporaryOfAnEndedProcess(dir / "x.img");
  ASSERT_NE(aside.find("~new~"), std::string::npos) << aside;
  aside.replace(aside.find("~new~"), 5, "~old~");
  std::string second = aside;
  second.back() = second.back() == 'a' ? 'b' : 'a';
  const std::map<std::string, std::string> asides = {{aside, "earlier image"}, {second, "an even earlier image"}};
  for (const auto& [name, bytes] : asides) WriteFileBytes(dir / name, bytes);

  OutputSet next;
  const QString temporary = next.Add(Q(dir / "x.img"));
  ASSERT_FALSE(temporary.isEmpty());
  auto after = Contents(dir.path());
  after.erase(temporary.section('/', -1).toStdString());
  ASSERT_EQ(after.size(), 2u);
  ASSERT_EQ(after.count("x.img"), 1u);
  // The one that went back has no second name left; the other stays as it was.
  const auto stayed = std::find_if(asides.begin(), asides.end(), [&](const auto& a) { return after.count(a.first); });
  ASSERT_NE(stayed, asides.end());
  EXPECT_EQ(after[stayed->first], stayed->second);
  const auto returned = stayed == asides.begin() ? std::next(asides.begin()) : asides.begin();
  EXPECT_EQ(after["x.img"], returned->second);
  WriteFileBytes(temporary.toStdString(), "new image");
  ASSERT_TRUE(next.Commit());
  EXPECT_EQ(ReadFileBytes(dir / "x.img"), "new image");
}

// Another user's temporary left by an ended job is not this user's to sweep.
TEST(OutputSetTest, DebrisOfAnotherUserStays) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own a file for another user";
  ScratchDir dir;
  const std::string theirs = TemporaryOfAnEndedProcess(dir / "w.img");
  ASSERT_EQ(::chown((dir / theirs).c_str(), testing::kOtherUser, testing::kOtherUser), 0);
  OutputSet set;
  ASSERT_FALSE(set.Add(Q(dir / "w.img")).isEmpty());
  EXPECT_TRUE(std::filesystem::exists(dir / theirs));
}

// The set holds no lock of its own on a temporary, so its writer may lock it
// in either family: flock (as FileIO does) and a byte-range lock (what NFS
// turns a flock into), on a descriptor of its own.
TEST(OutputSetTest, WriterLocksItsTemporaryInEitherFamily) {
  ScratchDir dir;
  OutputSet set;
  const QString temporary = set.Add(Q(dir / "l.iso"));
  ASSERT_FALSE(temporary.isEmpty());
  FileIO writer;
  ASSERT_TRUE(writer.OpenFile(temporary, kGenericWrite, kOpenExisting, 0));
  const int fd = ::open(QFile::encodeName(temporary).constData(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &range), 0) << std::strerror(errno);
  ::close(fd);
  writer.CloseFile();
  WriteFileBytes(temporary.toStdString(), "image");
  EXPECT_TRUE(set.Commit());
  EXPECT_EQ(ReadFileBytes(dir / "l.iso"), "image");
}

// File system calls that fail as on file systems without hard links
// (exFAT, vfat, some FUSE ones: EPERM), without RENAME_NOREPLACE (NFS, FUSE:
// EINVAL) and without folder locks (NFS: EBADF), and a rename that fails on
// the names chosen.
struct Refusals {
  bool link = false;
  bool noreplace = false;
  bool folder_lock = false;
  std::vector<std::string> rename_from;  // a rename of a name containing one of these fails (EIO)
  int links = 0;            // links asked for
};
Refusals g_refusals;

const OutputSet::FileSystemCalls kRefusingCalls{
    [](const char* from, const char* to) {
      ++g_refusals.links;
      if (g_refusals.link) return errno = EPERM, -1;
      return ::link(from, to);
    },
    [](const char* from, const char* to) {
      for (const std::string& refused : g_refusals.rename_from) {
        if (std::string(from).find(refused) != std::string::npos) return errno = EIO, -1;
      }
      return ::rename(from, to);
    },
    [](const char* from, const char* to) {
      if (g_refusals.noreplace) return errno = EINVAL, -1;
      return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    },
    [](int fd) {
      if (g_refusals.folder_lock) return errno = EBADF, -1;
      return ::flock(fd, LOCK_EX);
    },
    [](int fd) { return ::fdatasync(fd); },
};

class RefusingFileSystem {
 public:
  explicit RefusingFileSystem(Refusals refusals) {
    g_refusals = std::move(refusals);
    OutputSet::SetFileSystemCallsForTesting(&kRefusingCalls);
  }
  ~RefusingFileSystem() { OutputSet::SetFileSystemCallsForTesting(nullptr); }
};

struct FallbackCase {
  const char* name;
  Refusals refusals;
};

class OutputSetFallbackTest : public ::testing::TestWithParam<FallbackCase> {};

// Whatever the file system lacks, a set replaces the earlier one whole and
// leaves no hidden name; a set of one file is put in place by one rename,
// with no second name made.
TEST_P(OutputSetFallbackTest, SetReplacesTheEarlierOne) {
  ScratchDir dir;
  const RefusingFileSystem file_system(GetParam().refusals);
  WriteFileBytes(dir / "one.iso", "earlier");
  {
    OutputSet set;
    WriteFileBytes(set.Add(Q(dir / "one.iso")).toStdString(), "new");
    ASSERT_TRUE(set.Commit()) << set.ProblemText().toStdString();
    EXPECT_EQ(g_refusals.links, 0);
  }
  for (const char* name : {"s.img", "s.cue", "s.sub"}) WriteFileBytes(dir / name, std::string("earlier ") + name);
  OutputSet set;
  WriteFileBytes(set.Add(Q(dir / "s.img")).toStdString(), "image");
  WriteFileBytes(set.Add(Q(dir / "s.cue")).toStdString(), "sheet");
  ASSERT_TRUE(set.Replace(Q(dir / "s.sub")));
  ASSERT_TRUE(set.Commit()) << set.ProblemText().toStdString();
  EXPECT_EQ(Contents(dir.path()), (std::map<std::string, std::string>{
                                      {"one.iso", "new"}, {"s.img", "image"}, {"s.cue", "sheet"}}));
}

// A set of new files never takes a name that appeared meanwhile, whatever
// the file system lacks.
TEST_P(OutputSetFallbackTest, NewFileNeverReplacesOneThatAppeared) {
  ScratchDir dir;
  const RefusingFileSystem file_system(GetParam().refusals);
  OutputSet set(OutputSet::Mode::kNew);
  WriteFileBytes(set.Add(Q(dir / "d.wav")).toStdString(), "mine");
  OutputSet other(OutputSet::Mode::kNew);
  WriteFileBytes(other.Add(Q(dir / "e.wav")).toStdString(), "mine");
  WriteFileBytes(dir / "d.wav", "theirs");
  EXPECT_FALSE(set.Commit());
  EXPECT_TRUE(other.Commit());
  EXPECT_EQ(Contents(dir.path()), (std::map<std::string, std::string>{{"d.wav", "theirs"}, {"e.wav", "mine"}}));
}

// A commit that fails halfway puts the earlier set back whole.
TEST_P(OutputSetFallbackTest, FailedCommitPutsTheEarlierSetBack) {
  ScratchDir dir;
  Refusals refusals = GetParam().refusals;
  refusals.rename_from = {".z.cue.sorvel~new~"};
  const RefusingFileSystem file_system(refusals);
  for (const char* name : {"z.img", "z.cue", "z.pre"}) WriteFileBytes(dir / name, std::string("earlier ") + name);
  const auto before = Contents(dir.path());
  OutputSet set;
  WriteFileBytes(set.Add(Q(dir / "z.img")).toStdString(), "image");
  WriteFileBytes(set.Add(Q(dir / "z.cue")).toStdString(), "sheet");
  ASSERT_TRUE(set.Replace(Q(dir / "z.pre")));
  EXPECT_FALSE(set.Commit());
  EXPECT_EQ(set.ProblemText(), QStringLiteral("ファイル %1 が開けません。").arg(Q(dir / "z.cue")));
  EXPECT_EQ(Contents(dir.path()), before);
}

// An earlier file whose put-back failed keeps its second name, which the
// failure names, and which the next set does not sweep away.
TEST_P(OutputSetFallbackTest, EarlierFileThatCouldNotBePutBackIsKept) {
  ScratchDir dir;
  Refusals refusals = GetParam().refusals;
  refusals.rename_from = {".k.cue.sorvel~new~", "~old~"};  // the sheet's rename, and every put-back
  const RefusingFileSystem file_system(refusals);
  WriteFileBytes(dir / "k.img", "earlier k.img");
  WriteFileBytes(dir / "k.cue", "earlier k.cue");
  OutputSet set;
  WriteFileBytes(set.Add(Q(dir / "k.img")).toStdString(), "image");
  WriteFileBytes(set.Add(Q(dir / "k.cue")).toStdString(), "sheet");
  EXPECT_FALSE(set.Commit());
  QString expected = QStringLiteral("ファイル %1 が開けません。").arg(Q(dir / "k.cue"));
  std::vector<std::string> kept;
  for (const std::string target : {"k.img", "k.cue"}) {
    for (const auto& [name, bytes] : Contents(dir.path())) {
      if (bytes != "earlier " + target || name == target) continue;
      kept.push_back(name);
      expected += QStringLiteral("ファイル %1 の元の内容は %2 に残されています。").arg(Q(dir / target), Q(dir / name));
    }
  }
  ASSERT_FALSE(kept.empty());
  ASSERT_NE(ReadFileBytes(dir / "k.img"), "earlier k.img");  // so its only name is the kept one
  EXPECT_EQ(set.ProblemText(), expected);
  OutputSet next;
  ASSERT_FALSE(next.Add(Q(dir / "k.img")).isEmpty());
  for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, OutputSetFallbackTest,
    ::testing::Values(FallbackCase{"Everything", Refusals{false, false, false, {}, 0}},
                      FallbackCase{"NoHardLinks", Refusals{true, false, false, {}, 0}},
                      FallbackCase{"NoRenameNoReplace", Refusals{false, true, false, {}, 0}},
                      FallbackCase{"NoFolderLock", Refusals{false, false, true, {}, 0}},
                      FallbackCase{"NoneOfThem", Refusals{true, true, true, {}, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// A flush that takes long (a large image on a slow disk) runs beside the
// window system, which keeps getting its turns, and the job is told so that
// it can say the files are being written out.
std::atomic<int> g_pumps{0};
std::atomic<bool> g_told{false};

TEST(OutputSetTest, SlowFlushLetsTheWindowSystemWork) {
  ScratchDir dir;
  const OutputSet::FileSystemCalls slow{
      ::link, ::rename, [](const char* from, const char* to) {
        return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
      },
      [](int fd) { return ::flock(fd, LOCK_EX); },
      [](int fd) {
        // Done once the window system had turns meanwhile and the job was told (bounded).
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((g_pumps < 3 || !g_told) && std::chrono::steady_clock::now() < end) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return ::fdatasync(fd);
      }};
  OutputSet::SetFileSystemCallsForTesting(&slow);
  g_pumps = 0;
  g_told = false;
  const auto previous = InstallMessagePump([] { ++g_pumps; });
  OutputSet set;
  WriteFileBytes(set.Add(Q(dir / "big.iso")).toStdString(), "image");
  const bool committed = set.Commit([] { g_told = true; });
  InstallMessagePump(previous);
  OutputSet::SetFileSystemCallsForTesting(nullptr);
  EXPECT_TRUE(committed);
  EXPECT_GE(g_pumps, 3);
  EXPECT_TRUE(g_told);
  EXPECT_EQ(ReadFileBytes(dir / "big.iso"), "image");
}

// On a real exFAT file system (no hard links, no RENAME_NOREPLACE), a set
// replaces the earlier one, and the user's hidden files beside it stay.
TEST(OutputSetTest, ReplacesTheEarlierSetOnExfat) {
  testing::ExfatFolder exfat;
  ASSERT_TRUE(exfat.mounted());
  for (const char* name : {"x.iso", "s.img", "s.cue", "s.sub", ".x.iso.20231205", ".x.iso.original"}) {
    WriteFileBytes(exfat / name, std::string("earlier ") + name);
  }
  auto expected = Contents(exfat.path());
  {
    OutputSet set;
    WriteFileBytes(set.Add(Q(exfat / "x.iso")).toStdString(), "new");
    ASSERT_TRUE(set.Commit()) << set.ProblemText().toStdString();
  }
  OutputSet set;
  WriteFileBytes(set.Add(Q(exfat / "s.img")).toStdString(), "image");
  WriteFileBytes(set.Add(Q(exfat / "s.cue")).toStdString(), "sheet");
  ASSERT_TRUE(set.Replace(Q(exfat / "s.sub")));
  ASSERT_TRUE(set.Commit()) << set.ProblemText().toStdString();
  expected["x.iso"] = "new";
  expected["s.img"] = "image";
  expected["s.cue"] = "sheet";
  expected.erase("s.sub");
  EXPECT_EQ(Contents(exfat.path()), expected);
}

// Sets committed into one folder at the same time never mix: after every
// round the files at the names are all of one set.
TEST(OutputSetTest, ConcurrentCommitsIntoOneFolderNeverMix) {
 for (bool folder_locks : {true, false}) {
  ScratchDir dir;
  Refusals refusals;
  refusals.folder_lock = !folder_locks;
  const RefusingFileSystem file_system(refusals);
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
}

}  // namespace
}  // namespace sorvel
