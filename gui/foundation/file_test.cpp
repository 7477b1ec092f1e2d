#include "gui/foundation/file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "testing/file_bytes.h"
#include "testing/file_size_limit.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using sorvel::testing::ReadFileBytes;
using sorvel::testing::WriteFileBytes;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

QStringList ReadLines(const std::filesystem::path& path) {
  File file;
  EXPECT_TRUE(file.OpenFile(Q(path), File::kInput));
  QStringList lines;
  for (int guard = 0; guard < 1000 && !file.Eof(); ++guard) lines.append(file.Gets());
  return lines;
}

TEST(FileTest, LinesEndAtCrLfCrOrLfAndDecodeUtf8OrCp932) {
  sorvel::testing::ScratchDir dir;
  struct Case {
    std::string bytes;
    QStringList lines;
  };
  const Case cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"last line", {"last line"}},
      {"", {}},
      {"\xEF\xBB\xBF漢字\r\n", {"漢字"}},
      {"\x8A\xBF\x8E\x9A\r\n\x5C\x7E\r\n", {"漢字", "\\~"}},  // CP932
      {"\xB1\xB2\r\n", {"ｱｲ"}},                                // CP932 half-width katakana
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "t.txt", c.bytes);
    EXPECT_EQ(ReadLines(dir / "t.txt"), c.lines) << c.bytes;
  }
}

TEST(FileTest, WritesUtf8WithCrLfAndAppends) {
  sorvel::testing::ScratchDir dir;
  File file;
  ASSERT_TRUE(file.OpenFile(Q(dir / "out.txt"), File::kOutput));
  EXPECT_EQ(file.Name(), Q(dir / "out.txt"));
  EXPECT_GT(file.FileNo(), 0);
  EXPECT_TRUE(file.Puts("媒体"));
  EXPECT_TRUE(file.Puts(""));
  EXPECT_TRUE(file.CloseFile());
  EXPECT_FALSE(file.CloseFile());
  EXPECT_EQ(file.Name(), "");
  ASSERT_TRUE(file.OpenFile(Q(dir / "out.txt"), File::kAppend));
  EXPECT_TRUE(file.Puts("x"));
  file.CloseFile();
  EXPECT_EQ(ReadFileBytes(dir / "out.txt"), "媒体\r\n\r\nx\r\n");
  ASSERT_TRUE(file.OpenFile(Q(dir / "out.txt"), File::kOutput));  // output empties
  file.CloseFile();
  EXPECT_EQ(ReadFileBytes(dir / "out.txt"), "");
}

TEST(FileTest, BadModesAndMissingFilesOpenNothing) {
  sorvel::testing::ScratchDir dir;
  File file;
  EXPECT_FALSE(file.OpenFile(Q(dir / "x"), 3));
  EXPECT_EQ(file.Name(), "");
  EXPECT_EQ(file.FileNo(), 0);
  EXPECT_FALSE(file.OpenFile(Q(dir / "missing"), File::kInput));
  EXPECT_FALSE(file.OpenFile(Q(dir.path()), File::kInput));  // a folder
  EXPECT_EQ(file.Gets(), "");
  EXPECT_FALSE(file.Puts("x"));
  EXPECT_TRUE(file.Eof());
}

// Runs `check` without the right to write files of others: as an ordinary
// user directly, as root in a child process that became the user nobody.
bool RunUnprivileged(const std::function<bool()>& check) {
  if (geteuid() != 0) return check();
  pid_t child = fork();
  if (child == 0) {
    bool ok = setgid(65534) == 0 && setuid(65534) == 0 && check();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(FileTest, BinaryModeReadsAFileItCannotWrite) {
  sorvel::testing::ScratchDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  WriteFileBytes(dir / "ro.cdt", "pack");
  std::filesystem::permissions(dir / "ro.cdt", std::filesystem::perms(0444));
  const QString path = Q(dir / "ro.cdt");
  EXPECT_TRUE(RunUnprivileged([&] {
    File file;
    return file.OpenFile(path, File::kBinary) && file.ReadData(4) == QByteArray("pack") && !file.WriteData("x");
  }));
}

TEST(FileTest, TextInputTakesRegularFilesOfBoundedSize) {
  sorvel::testing::ScratchDir dir;
  WriteFileBytes(dir / "huge.txt", "");
  std::filesystem::resize_file(dir / "huge.txt", File::kMaxTextFileSize + 1);  // sparse
  File file;
  EXPECT_FALSE(file.OpenFile(Q(dir / "huge.txt"), File::kInput));
  EXPECT_FALSE(file.OpenFile("/dev/zero", File::kInput));
  EXPECT_FALSE(file.OpenFile("/dev/null", File::kOutput));
}

TEST(FileTest, ReplacingContentsKeepsPermissionsAndFollowsLinks) {
  sorvel::testing::ScratchDir dir;
  WriteFileBytes(dir / "real.txt", "old");
  std::filesystem::permissions(dir / "real.txt", std::filesystem::perms(0640));
  std::filesystem::create_symlink(dir / "real.txt", dir / "link.txt");
  EXPECT_TRUE(ReplaceFileContents(Q(dir / "link.txt"), "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ReadFileBytes(dir / "real.txt"), "new");
  EXPECT_EQ(std::filesystem::status(dir / "real.txt").permissions(), std::filesystem::perms(0640));
  EXPECT_TRUE(ReplaceFileContents(Q(dir / "fresh.txt"), ""));
  EXPECT_EQ(ReadFileBytes(dir / "fresh.txt"), "");
  EXPECT_FALSE(ReplaceFileContents(Q(dir.path()), "x"));  // a folder
  EXPECT_FALSE(ReplaceFileContents(Q(dir / "missing" / "f"), "x"));
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries += !e.is_symlink() && e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(entries, 2u);  // real.txt, fresh.txt: no temporary left behind (the link is not regular)
}

// A replaced file lends its permission bits only to its own user's new file,
// never set-ID bits: another user's 6777 file gives the default mode.
TEST(FileTest, ReplacingContentsBorrowsNoOtherUsersModeNorSetIdBits) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own a file for another user";
  sorvel::testing::ScratchDir dir;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    mode_t expected;
  };
  for (const Case& c : {Case{"mine", 0, 06750, 0750}, Case{"theirs", 65534, 06777, 0666 & ~mask}}) {
    WriteFileBytes(dir / c.name, "old");
    ASSERT_EQ(::chown((dir / c.name).c_str(), c.owner, c.owner), 0);
    ASSERT_EQ(::chmod((dir / c.name).c_str(), c.mode), 0);
    ASSERT_TRUE(ReplaceFileContents(Q(dir / c.name), "new")) << c.name;
    struct stat st {};
    ASSERT_EQ(::stat((dir / c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << c.name;
  }
}

// Another user's link in a shared sticky folder is not followed: the file it
// names is left alone (the kernel's protected-link rule); this user's link
// there is.
TEST(FileTest, ReplacingContentsFollowsNoOtherUsersLinkInAStickyFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own a link for another user";
  struct Case {
    uid_t owner;
    bool followed;
  };
  for (const Case& c : {Case{65534, false}, Case{0, true}}) {
    sorvel::testing::ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    std::filesystem::create_directory(dir / "shared");
    ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
    WriteFileBytes(dir / "settings.ini", "old");
    std::filesystem::create_symlink(dir / "settings.ini", dir / "shared" / "s.ini");
    ASSERT_EQ(::lchown((dir / "shared" / "s.ini").c_str(), c.owner, c.owner), 0);
    EXPECT_EQ(ReplaceFileContents(Q(dir / "shared" / "s.ini"), "new"), c.followed) << c.owner;
    EXPECT_EQ(ReadFileBytes(dir / "settings.ini"), c.followed ? "new" : "old") << c.owner;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "shared" / "s.ini"));
  }
}

TEST(FileTest, FullDiskMakesPutsFail) {
  sorvel::testing::ScratchDir dir;
  File file;
  ASSERT_TRUE(file.OpenFile(Q(dir / "full.txt"), File::kOutput));
  sorvel::testing::FileSizeLimit full(4);
  EXPECT_FALSE(file.Puts("no room"));
}

TEST(FileTest, BinaryPositionsReadsAndWrites) {
  sorvel::testing::ScratchDir dir;
  WriteFileBytes(dir / "b.bin", "abcdef");
  File file;
  ASSERT_TRUE(file.OpenFile(Q(dir / "b.bin"), File::kBinary));
  EXPECT_TRUE(file.IsBinary());
  EXPECT_EQ(file.BytePosition(), 1);
  EXPECT_EQ(file.Length(), 6);
  EXPECT_EQ(file.ReadData(2), QByteArray("ab"));
  EXPECT_EQ(file.BytePosition(), 3);
  EXPECT_TRUE(file.ReadData(0).isEmpty());
  EXPECT_EQ(file.BytePosition(), 3);

  struct Seek {
    int64_t position;
    int mode;
    bool ok;
    int64_t byte_position;
  };
  const Seek seeks[] = {
      {0, File::kFromEnd, true, 7}, {-1, File::kFromEnd, true, 6}, {1, File::kFromEnd, false, 6},
      {0, File::kFromStart, true, 1}, {-1, File::kFromStart, false, 1}, {2, File::kFromCurrent, true, 3},
      {5, 9, true, 3},
  };
  for (const Seek& s : seeks) {
    EXPECT_EQ(file.SeekFile(s.position, s.mode), s.ok) << s.position << "/" << s.mode;
    EXPECT_EQ(file.BytePosition(), s.byte_position) << s.position << "/" << s.mode;
  }
  file.SeekFile(0, File::kFromEnd);
  EXPECT_TRUE(file.Eof());
  EXPECT_EQ(file.Getc(), 0);
  file.SeekFile(4, File::kFromStart);
  EXPECT_EQ(file.ReadData(4), QByteArray("ef\0\0", 4));  // past the end reads 0
  file.SeekFile(6, File::kFromStart);
  EXPECT_TRUE(file.WriteData("gh"));
  EXPECT_TRUE(file.Putc('i'));
  EXPECT_EQ(file.BytePosition(), 10);
  file.SeekFile(0, File::kFromStart);
  EXPECT_EQ(file.Getc(), 'a');
  file.CloseFile();
  EXPECT_EQ(ReadFileBytes(dir / "b.bin"), "abcdefghi");
}

// Tell in binary mode: the offset after the last read or write, which a seek
// alone does not move; 0 after opening and when no file is open.
TEST(FileTest, BinaryTellFollowsReadsAndWrites) {
  sorvel::testing::ScratchDir dir;
  WriteFileBytes(dir / "t.bin", "0123456789");
  File file;
  EXPECT_EQ(file.Tell(), 0);
  ASSERT_TRUE(file.OpenFile(Q(dir / "t.bin"), File::kBinary));
  struct Step {
    const char* what;
    std::function<void()> act;
    int64_t tell;
  };
  const Step steps[] = {
      {"opened", [] {}, 0},
      {"read 4", [&] { file.ReadData(4); }, 4},
      {"read 3 more", [&] { file.ReadData(3); }, 7},
      {"failed read of 0", [&] { file.ReadData(0); }, 7},
      {"seek alone", [&] { file.SeekFile(2, File::kFromStart); }, 7},
      {"read after the seek", [&] { file.Getc(); }, 3},
      {"read past the end", [&] {
         file.SeekFile(8, File::kFromStart);
         file.ReadData(5);
       }, 13},
      {"write", [&] {
         file.SeekFile(1, File::kFromStart);
         file.WriteData("ab");
       }, 3},
      {"put one byte", [&] { file.Putc('c'); }, 4},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(file.Tell(), step.tell) << step.what;
  }
  file.CloseFile();
  EXPECT_EQ(file.Tell(), 0);
  // A new open starts again at 0.
  ASSERT_TRUE(file.OpenFile(Q(dir / "t.bin"), File::kBinary));
  EXPECT_EQ(file.Tell(), 0);
  EXPECT_EQ(ReadFileBytes(dir / "t.bin"), "0abc456789");
}

}  // namespace
}  // namespace sorvel
