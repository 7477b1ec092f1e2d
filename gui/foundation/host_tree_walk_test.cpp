#include "gui/foundation/host_tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui/foundation/host_path.h"
#include "testing/file_bytes.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;
using testing::WriteFileBytes;

QByteArray B(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

// Records the walk as lines: "+name" entering, "-" leaving, "f name",
// "loop name"; names as hex where they are not printable ASCII.
class Recorder : public HostTreeVisitor {
 public:
  bool EnterFolder(const QByteArray& path, const QByteArray& name, const struct stat& status) override {
    lines << "+" + Show(name);
    paths << path;
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    return skip_folder.isEmpty() || name != skip_folder;
  }
  void LeaveFolder() override { lines << QStringLiteral("-"); }
  void File(const QByteArray& path, const QByteArray& name, const struct stat*) override {
    lines << "f " + Show(name);
    paths << path;
    if (!throw_at.isEmpty() && name == throw_at) throw std::runtime_error("stop");
  }
  void Loop(const QByteArray& path, const QByteArray& name) override {
    lines << "loop " + Show(name);
    paths << path;
  }
  void Unreadable(const QByteArray& path, const QByteArray& name) override {
    lines << "unreadable " + Show(name);
    paths << path;
  }

  static QString Show(const QByteArray& name) {
    for (const char c : name)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return name.toHex();
    return QString::fromLatin1(name);
  }

  QStringList lines;
  QList<QByteArray> paths;
  QByteArray skip_folder, throw_at;
};

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Lowers the soft limit of descriptors for one test so that exactly `spare`
// more can be opened: new descriptors take the lowest free numbers, and the
// limit bounds the numbers.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int spare) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    std::vector<int> taken;
    for (int i = 0; i <= spare; ++i) taken.push_back(::dup(0));
    for (const int fd : taken) ::close(fd);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(taken.back());
    EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_ {};
};

TEST(HostTreeWalkTest, EntriesComeInByteOrderWithTheirOwnBytes) {
  ScratchDir dir;
  const fs::path top = dir / "top";
  fs::create_directories(top / "sub" / "inner");
  fs::create_directories(top / "empty");
  for (const std::string name : {"z.txt", "a.txt", "\xFF.txt", "\x93\xFA\x96\x7B.txt", "B.txt"})
    WriteFileBytes(top / name, name);
  WriteFileBytes(top / "sub" / "inner" / "deep", "d");
  WriteFileBytes(top / "sub" / "s", "s");
  fs::create_directory_symlink(top / "sub" / "inner", top / "link-to-inner");
  fs::create_symlink(top / "missing", top / "dangling");
  ASSERT_EQ(mkfifo((top / "fifo").c_str(), 0600), 0);  // reported, never opened (that would block)
  Recorder recorder;
  WalkHostTree(B(top.string()), "top", recorder);
  const QStringList expected = {"+top",   "f B.txt", "f a.txt", "f dangling", "+empty", "-",
                                "f fifo", "+link-to-inner", "f deep", "-", "+sub", "+inner", "f deep", "-", "f s", "-",
                                "f z.txt", "f 93fa967b2e747874", "f ff2e747874", "-"};
  EXPECT_EQ(recorder.lines, expected);
  // Paths are the folder's path and the names' bytes.
  EXPECT_TRUE(recorder.paths.contains(B(top.string() + "/\xFF.txt")));
  EXPECT_TRUE(recorder.paths.contains(B(top.string() + "/sub/inner/deep")));
}

TEST(HostTreeWalkTest, SingleEntriesAndWhatIsNotAFolder) {
  ScratchDir dir;
  WriteFileBytes(dir / "plain", "p");
  fs::create_directory(dir / "folder");
  const struct {
    std::string path;
    QStringList lines;
  } cases[] = {
      {(dir / "plain").string(), {"f x"}},
      {(dir / "missing").string(), {"f x"}},
      {(dir / "folder").string(), {"+x", "-"}},
      {(dir / "plain/below").string(), {"f x"}},
  };
  for (const auto& c : cases) {
    Recorder recorder;
    WalkHostTree(B(c.path), "x", recorder);
    EXPECT_EQ(recorder.lines, c.lines) << c.path;
  }
}

TEST(HostTreeWalkTest, LinksBackIntoThePathAreLoopsAndTheWalkGoesOn) {
  ScratchDir dir;
  const fs::path top = dir / "top";
  fs::create_directories(top / "a" / "b");
  fs::create_directory_symlink(top, top / "a" / "b" / "to-top");
  fs::create_directory_symlink(top / "a", top / "a" / "b" / "to-a");
  fs::create_directory_symlink(top / "a" / "b", top / "side");  // not on the path when reached
  WriteFileBytes(top / "a" / "b" / "z", "z");
  Recorder recorder;
  WalkHostTree(B(top.string()), "top", recorder);
  // Through "side", "a" is not on the path: it is entered, and its "b" is "side" again.
  const QStringList expected = {"+top",  "+a",   "+b", "loop to-a",   "loop to-top", "f z", "-", "-",
                                "+side", "+to-a", "loop b", "-", "loop to-top", "f z", "-", "-"};
  EXPECT_EQ(recorder.lines, expected);
}

TEST(HostTreeWalkTest, RefusedFoldersAreSkippedAndAThrowLeavesNothingOpen) {
  ScratchDir dir;
  const fs::path top = dir / "top";
  for (const char* sub : {"a/1", "a/2", "b/3", "c"}) fs::create_directories(top / sub);
  for (const char* file : {"a/1/f", "a/2/f", "b/3/stop", "c/f"}) WriteFileBytes(top / file, "x");
  Recorder skipping;
  skipping.skip_folder = "a";
  WalkHostTree(B(top.string()), "top", skipping);
  EXPECT_EQ(skipping.lines, (QStringList{"+top", "+a", "+b", "+3", "f stop", "-", "-", "+c", "f f", "-", "-"}));

  const int before = OpenDescriptors();
  Recorder throwing;
  throwing.throw_at = "stop";
  EXPECT_THROW(WalkHostTree(B(top.string()), "top", throwing), std::runtime_error);
  EXPECT_EQ(throwing.lines.last(), QStringLiteral("f stop"));
  EXPECT_EQ(OpenDescriptors(), before);
}

// A chain far deeper than PATH_MAX allows as one path, with a second folder
// at every level that is reached only after the whole chain below: the walk
// has to come back to every level with few descriptors allowed.
TEST(HostTreeWalkTest, DeepTreesBeyondPathMaxWithFewDescriptors) {
  ScratchDir dir;
  const std::string level(60, 'L');
  constexpr int kDepth = 120;  // 120 x 61 bytes: well past PATH_MAX
  const int top_fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top_fd, 0);
  int fd = top_fd;
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
    ASSERT_EQ(::mkdirat(fd, "z", 0755), 0);
    const int zfd = ::openat(fd, "z", O_RDONLY | O_DIRECTORY);
    const int file = ::openat(zfd, "f", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(zfd);
    const int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    if (fd != top_fd) ::close(fd);
    fd = next;
  }
  if (fd != top_fd) ::close(fd);
  ::close(top_fd);

  // Unconstrained first: the same walk. (This also warms the sanitizer's
  // type cache, whose misses need descriptors of their own.)
  Recorder unconstrained;
  WalkHostTree(B(dir.path().string()), "top", unconstrained);
  const int before = OpenDescriptors();
  Recorder recorder;
  {
    DescriptorLimit limit(3);
    WalkHostTree(B(dir.path().string()), "top", recorder);
  }
  EXPECT_EQ(OpenDescriptors(), before);
  // Down the chain first; then, coming back, the "z" of every level above the deepest.
  QStringList expected = {"+top"};
  for (int i = 0; i < kDepth; ++i) expected << "+" + QString::fromStdString(level);
  expected << "-";
  for (int i = 0; i < kDepth; ++i) expected << "+z" << "f f" << "-" << "-";
  ASSERT_EQ(recorder.lines.size(), expected.size());
  EXPECT_EQ(recorder.lines, expected);
  EXPECT_EQ(unconstrained.lines, expected);
  qsizetype longest = 0;
  for (const QByteArray& path : recorder.paths) longest = std::max(longest, path.size());
  EXPECT_GT(longest, PATH_MAX);
}

// Without a descriptor to spare a folder cannot be listed: it is reported,
// never passed off as empty; one that permissions close is entered empty.
TEST(HostTreeWalkTest, FoldersThatCannotBeListedAreReported) {
  ScratchDir dir;
  fs::create_directories(dir / "top" / "sub");
  WriteFileBytes(dir / "top" / "sub" / "f", "f");
  // With descriptors to spare. (This also warms the sanitizer's type cache,
  // whose misses need descriptors of their own.)
  Recorder plenty;
  WalkHostTree(B((dir / "top").string()), "top", plenty);
  EXPECT_EQ(plenty.lines, (QStringList{"+top", "+sub", "f f", "-", "-"}));
  const int before = OpenDescriptors();
  Recorder starved;
  {
    DescriptorLimit limit(0);
    WalkHostTree(B((dir / "top").string()), "top", starved);
  }
  EXPECT_EQ(starved.lines, QStringList{"unreadable top"});
  EXPECT_EQ(OpenDescriptors(), before);

  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod((dir / "top" / "sub").c_str(), 0311), 0);
    Recorder refused;
    WalkHostTree(B((dir / "top").string()), "top", refused);
    EXPECT_EQ(refused.lines, (QStringList{"+top", "+sub", "-", "-"}));
    ::chmod((dir / "top" / "sub").c_str(), 0755);
  }
}

// Names that are not UTF-8 come from Qt's file dialogs and drops as text in
// which each odd byte is U+FFFD; the host's bytes are found back, level by
// level, and from a drop's address as it was sent.
TEST(HostPathTest, BytesOfNamesQtDecodedAreFoundBack) {
  ScratchDir dir;
  const std::string root = (dir / "h").string();
  const struct {
    const char* name;
    std::string bytes;  // below root
  } cases[] = {
      {"UTF-8", "/a.txt"},
      {"Japanese UTF-8", "/\xE6\x97\xA5\xE6\x9C\xAC.txt"},
      {"one odd byte", "/\xFF.txt"},
      {"CP932", "/cp932_\x93\xFA\x96\x7B.txt"},
      {"odd bytes inside", "/odd\xFF\xFEname.txt"},
      {"odd folder and file", "/d\xFF/x\x81.txt"},
      {"percent and blanks", "/50% off #1 ?.txt"},
  };
  for (const auto& c : cases) {
    const fs::path path(root + c.bytes);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, c.name);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QByteArray bytes = B(root + c.bytes);
    const QString text = QFile::decodeName(bytes);  // as the file dialog hands it
    EXPECT_EQ(HostPathOf(text), bytes);
    // A file manager's drop: the address with the bytes percent-encoded.
    QMimeData drop;
    drop.setData(QStringLiteral("text/uri-list"), "file://" + bytes.toPercentEncoding("/") + "\r\n");
    ASSERT_EQ(drop.urls().size(), 1);
    EXPECT_EQ(HostPathOfUrl(drop.urls().first()), bytes);
    // A drop from a Qt program, whose address holds the decoded text.
    if (QFile::encodeName(text) == bytes) {
      EXPECT_EQ(HostPathOfUrl(QUrl::fromLocalFile(text)), bytes);
    }
  }
  // Names that Qt shows alike: the first in byte order.
  WriteFileBytes(fs::path(root + "/\xFE.txt"), "fe");
  EXPECT_EQ(HostPathOf(QFile::decodeName(B(root + "/\xFF.txt"))), B(root + "/\xFE.txt"));
  // Nothing matches: the text's own bytes, naming nothing.
  EXPECT_EQ(HostPathOf(QString::fromStdString(root) + QStringLiteral("/gone/\uFFFD.txt")),
            B(root + "/gone/\xEF\xBF\xBD.txt"));
  EXPECT_TRUE(HostPathOfUrl(QUrl(QStringLiteral("https://example.org/a.txt"))).isEmpty());
}

}  // namespace
}  // namespace sorvel
