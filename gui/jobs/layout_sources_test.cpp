// The check of a layout's sources before a burn, with the real engine: what
// each data file was when it was added, recorded from the caller's stat or
// from one of the binding's own, or told by the engine's records, against
// what it is now.
#include "gui/jobs/layout_sources.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QString>
#include <cstdio>
#include <filesystem>
#include <optional>
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

// Where what a file was when added comes from: a stat the caller took (as
// the main window's walk and a project's lines do), the binding's own, or the
// engine's alone (as the automation class adds a walked folder's files).
enum class Record { kCaller, kOwn, kEngine };

class LayoutSourcesTest : public ::testing::Test {
 protected:
  void Add(const std::filesystem::path& path, const char* name, Record record) {
    QString entry = QString::fromLatin1(name);
    switch (record) {
      case Record::kCaller: {
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        ASSERT_TRUE(image_.AddISOFile(entry, B(path), &status));
        break;
      }
      case Record::kOwn:
        ASSERT_TRUE(image_.AddISOFile(entry, B(path)));
        break;
      case Record::kEngine:
        ASSERT_TRUE(image_.AddISOFileAsEngineFound(entry, B(path)));
        break;
    }
  }
  void Add(const std::filesystem::path& path, const char* name, bool caller_stat) {
    Add(path, name, caller_stat ? Record::kCaller : Record::kOwn);
  }
  QString Changed(const std::filesystem::path& path) const {
    return QStringLiteral("ファイル ") + Q(path) + QStringLiteral(" は追加した時から変更されています。");
  }
  QString Shrunk(const std::filesystem::path& path) const {
    return QStringLiteral("ファイル ") + Q(path) + QStringLiteral(" は追加した時より小さくなっています。");
  }

  testing::BuiltEngines engines_;
  testing::ScratchDir dir_;
  Tazol image_;
};

TEST_F(LayoutSourcesTest, DataFilesAreComparedWithWhatTheyWereWhenAdded) {
  const std::filesystem::path a = dir_ / "a.bin";
  const std::filesystem::path other = dir_ / "other.bin";
  enum Change { kNone, kRewritten, kReplaced, kShrunk, kRetimed };
  const struct {
    const char* name;
    Record first;
    std::optional<Record> second;  // the path added again under a second name
    Change change;
    bool changed_between;  // rewritten between the two adds
  } cases[] = {
      {"caller's stat, unchanged", Record::kCaller, {}, kNone, false},
      {"own stat, unchanged", Record::kOwn, {}, kNone, false},
      {"engine's stat, unchanged", Record::kEngine, {}, kNone, false},
      {"caller's stat, rewritten", Record::kCaller, {}, kRewritten, false},
      {"own stat, rewritten", Record::kOwn, {}, kRewritten, false},
      {"engine's stat, rewritten", Record::kEngine, {}, kRewritten, false},
      {"caller's stat, replaced", Record::kCaller, {}, kReplaced, false},
      {"own stat, replaced", Record::kOwn, {}, kReplaced, false},
      {"engine's stat, shrunk", Record::kEngine, {}, kShrunk, false},
      // Only its time moved, by whole seconds: the engine's records tell seconds.
      {"engine's stat, time set back", Record::kEngine, {}, kRetimed, false},
      {"added twice, unchanged", Record::kCaller, Record::kOwn, kNone, false},
      {"added twice, rewritten after", Record::kOwn, Record::kCaller, kRewritten, false},
      {"added twice by the engine's stat, rewritten after", Record::kEngine, Record::kEngine, kRewritten, false},
      // The first entry was laid out from the file as it was before.
      {"added twice, rewritten between", Record::kCaller, Record::kOwn, kNone, true},
      {"added twice by the engine's stat, rewritten between", Record::kEngine, Record::kEngine, kNone, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(image_.InitISOFS(4));
    WriteOld(a, 5000, 'a');
    Add(a, "A.BIN", c.first);
    if (c.changed_between) testing::WriteFileBytes(a, std::string(5000, 'b'));
    if (c.second) Add(a, "B.BIN", *c.second);
    switch (c.change) {
      case kNone:
        break;
      case kRewritten:
        testing::WriteFileBytes(a, std::string(5000, 'c'));
        break;
      case kReplaced:
        WriteOld(other, 5000, 'a');
        std::filesystem::rename(other, a);
        break;
      case kShrunk:
        WriteOld(a, 4999, 'a');
        break;
      case kRetimed: {
        const timespec times[2] = {{0, UTIME_OMIT}, {999999999, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
        break;
      }
    }
    const QString expected = c.change == kShrunk ? Shrunk(a)
                             : c.change != kNone || c.changed_between ? Changed(a)
                                                                       : QString();
    EXPECT_EQ(ChangedLayoutSource(image_), expected);
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

// A layout large enough to be stated by several threads names the first
// changed file in its order, whichever thread stated it.
TEST_F(LayoutSourcesTest, ALargeLayoutNamesItsFirstChangedFile) {
  ASSERT_TRUE(image_.InitISOFS(4));
  constexpr int kFiles = 3 * 4096 + 1;
  for (int i = 0; i < kFiles; ++i) {
    WriteOld(dir_ / Numbered('f', i), static_cast<size_t>(i % 3), 'x');
    Add(dir_ / Numbered('f', i), Numbered('F', i).c_str(), i % 3 == 0 ? Record::kEngine : Record::kCaller);
  }
  EXPECT_EQ(ChangedLayoutSource(image_), QString());
  // In the layout's order (of names), F9000 comes after F5001, and F5001 after F12287.
  testing::WriteFileBytes(dir_ / "f9000", "changed");
  EXPECT_EQ(ChangedLayoutSource(image_), Changed(dir_ / "f9000"));
  std::filesystem::remove(dir_ / "f5001");
  EXPECT_EQ(ChangedLayoutSource(image_), QStringLiteral("ファイル ") + Q(dir_ / "f5001") +
                                             QStringLiteral(" が見つからないか、通常のファイルではありません。"));
  testing::WriteFileBytes(dir_ / "f12287", "");
  EXPECT_EQ(ChangedLayoutSource(image_), Shrunk(dir_ / "f12287"));
}

}  // namespace
}  // namespace sorvel
