// The check of a layout's sources before a burn, with the real engine: what
// each data file was when it was added, recorded from the caller's stat or
// from one of the binding's own, against what it is now.
#include "gui/jobs/layout_sources.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QString>
#include <cstdio>
#include <filesystem>
#include <string>

#include "gui/model/tazol.h"
#include "testing/file_bytes.h"
#include "testing/gui/built_engines.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }
QByteArray B(const std::filesystem::path& path) { return QByteArray::fromStdString(path.string()); }

// A file of `size` bytes dated long ago: a write now moves its time on any clock.
void WriteOld(const std::filesystem::path& path, size_t size, char fill) {
  testing::WriteFileBytes(path, std::string(size, fill));
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class LayoutSourcesTest : public ::testing::Test {
 protected:
  // Adds `path` as `name`, recorded from a stat the caller took (as the main
  // window's walk and a project's lines do) or by the binding itself.
  void Add(const std::filesystem::path& path, const char* name, bool caller_stat) {
    QString entry = QString::fromLatin1(name);
    if (caller_stat) {
      struct stat status {};
      ASSERT_EQ(::stat(path.c_str(), &status), 0);
      ASSERT_TRUE(image_.AddISOFile(entry, B(path), &status));
    } else {
      ASSERT_TRUE(image_.AddISOFile(entry, B(path)));
    }
  }
  QString Changed(const std::filesystem::path& path) const {
    return QStringLiteral("ファイル ") + Q(path) + QStringLiteral(" は追加した時から変更されています。");
  }

  testing::BuiltEngines engines_;
  testing::ScratchDir dir_;
  Tazol image_;
};

TEST_F(LayoutSourcesTest, DataFilesAreComparedWithWhatTheyWereWhenAdded) {
  const std::filesystem::path a = dir_ / "a.bin";
  const std::filesystem::path other = dir_ / "other.bin";
  const struct {
    const char* name;
    bool caller_stat;
    bool twice;     // the path added again under a second name
    int change;     // 0 none, 1 rewritten in place (same size), 2 replaced by another file of the same size
    bool changed_between;  // rewritten between the two adds
  } cases[] = {
      {"caller's stat, unchanged", true, false, 0, false},
      {"own stat, unchanged", false, false, 0, false},
      {"caller's stat, rewritten", true, false, 1, false},
      {"own stat, rewritten", false, false, 1, false},
      {"caller's stat, replaced", true, false, 2, false},
      {"own stat, replaced", false, false, 2, false},
      {"added twice, unchanged", true, true, 0, false},
      {"added twice, rewritten after", false, true, 1, false},
      // The first entry was laid out from the file as it was before.
      {"added twice, rewritten between", true, true, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(image_.InitISOFS(4));
    WriteOld(a, 5000, 'a');
    Add(a, "A.BIN", c.caller_stat);
    if (c.changed_between) testing::WriteFileBytes(a, std::string(5000, 'b'));
    if (c.twice) Add(a, "B.BIN", !c.caller_stat);
    if (c.change == 1) testing::WriteFileBytes(a, std::string(5000, 'c'));
    if (c.change == 2) {
      WriteOld(other, 5000, 'a');
      std::filesystem::rename(other, a);
    }
    EXPECT_EQ(ChangedLayoutSource(image_), c.change != 0 || c.changed_between ? Changed(a) : QString());
  }
}

// "f<i>" (the host file) or "F<i>" (its entry).
std::string Numbered(char first, int i) {
  char name[16];
  std::snprintf(name, sizeof name, "%c%d", first, i);
  return name;
}

// Files added after a check are found by the next one.
TEST_F(LayoutSourcesTest, FilesAddedAfterACheckAreChecked) {
  ASSERT_TRUE(image_.InitISOFS(4));
  for (int i = 0; i < 50; ++i) WriteOld(dir_ / Numbered('f', i), static_cast<size_t>(i % 7), 'x');
  for (int i = 0; i < 25; ++i) Add(dir_ / Numbered('f', i), Numbered('F', i).c_str(), i % 2 == 0);
  EXPECT_EQ(ChangedLayoutSource(image_), QString());
  for (int i = 25; i < 50; ++i) Add(dir_ / Numbered('f', i), Numbered('F', i).c_str(), i % 2 == 0);
  EXPECT_EQ(ChangedLayoutSource(image_), QString());
  testing::WriteFileBytes(dir_ / "f40", std::string(40 % 7, 'y'));
  EXPECT_EQ(ChangedLayoutSource(image_), Changed(dir_ / "f40"));
  // Emptied, the data area forgets what was added.
  image_.ClearISO();
  EXPECT_TRUE(image_.AddedFileIdentities(B(dir_ / "f40"), 40 % 7).isEmpty());
}

}  // namespace
}  // namespace sorvel
