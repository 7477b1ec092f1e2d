#include "gui/foundation/find_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

QStringList FindAll(const QString& mask) {
  FindFile find;
  QStringList names;
  for (QString name = find.FindFirst(mask); !name.isEmpty(); name = find.FindNext()) names.append(name);
  EXPECT_EQ(find.FindNext(), "");
  return names;
}

TEST(FindFileTest, MasksSelectNamesInByteOrder) {
  sorvel::testing::ScratchDir dir;
  for (const char* name : {"b.wav", "a.wav", "c.mp3", "noext", ".hidden", "曲.wav"})
    std::ofstream(dir / name) << "x";
  std::filesystem::create_directory(dir / "sub.dir");
  const QString base = Q(dir.path());
  struct Case {
    QString mask;
    QStringList names;
  };
  const Case cases[] = {
      {base + "/*.wav", {"a.wav", "b.wav", "曲.wav"}},
      {base + "/*.*", {".", "..", ".hidden", "a.wav", "b.wav", "c.mp3", "noext", "sub.dir", "曲.wav"}},
      {base + "/*", {".", "..", ".hidden", "a.wav", "b.wav", "c.mp3", "noext", "sub.dir", "曲.wav"}},
      {base + "/?.wav", {"a.wav", "b.wav", "曲.wav"}},
      {base + "/noext", {"noext"}},
      {base + "\\*.mp3", {"c.mp3"}},
      {base + "/*.none", {}},
      {base + "/", {}},
      {base + "/missing/*", {}},
      {base + "/*a*", {"a.wav", "b.wav", "曲.wav"}},
  };
  for (const Case& c : cases) EXPECT_EQ(FindAll(c.mask), c.names) << c.mask.toStdString();
}

// Each name comes with its bytes, which open it where it is not UTF-8; a
// name without wildcards is looked up alone, so only an entry of exactly
// those bytes answers it.
TEST(FindFileTest, NamesComeWithTheirBytesAndLiteralNamesAnswerAlone) {
  sorvel::testing::ScratchDir dir;
  for (const char* name : {"a.txt", "\xFF.txt"}) std::ofstream(dir / name) << "x";
  std::filesystem::create_directory(dir / "sub");
  std::filesystem::create_symlink(dir / "missing", dir / "dangling");
  const QString base = Q(dir.path());
  const QString odd = QString::fromUtf8("\xFF.txt");  // decodes to U+FFFD ".txt"
  struct Case {
    QString mask;
    QStringList names;
    std::vector<QByteArray> natives;
  };
  const Case cases[] = {
      {base + "/*.txt", {"a.txt", odd}, {"a.txt", "\xFF.txt"}},
      {base + "/a.txt", {"a.txt"}, {"a.txt"}},
      {base + "/dangling", {"dangling"}, {"dangling"}},  // listed like any entry
      {base + "/sub/..", {".."}, {".."}},
      {base + "\\sub", {"sub"}, {"sub"}},
      {base + "/" + odd, {}, {}},  // no entry has the bytes of U+FFFD
      {base + "/a.txt" + QChar(0), {}, {}},
      {base + "/a.txt/x", {}, {}},
      {base + "/missing", {}, {}},
  };
  for (const Case& c : cases) {
    FindFile find;
    QStringList names;
    std::vector<QByteArray> natives;
    for (QString name = find.FindFirst(c.mask); !name.isEmpty(); name = find.FindNext()) {
      names << name;
      natives.push_back(find.NativeName());
    }
    EXPECT_EQ(names, c.names) << c.mask.toStdString();
    EXPECT_EQ(natives, c.natives) << c.mask.toStdString();
    EXPECT_TRUE(find.NativeName().isEmpty());
  }
}

TEST(FindFileTest, NextWithoutASearchIsEmpty) {
  FindFile find;
  EXPECT_EQ(find.FindNext(), "");
  EXPECT_EQ(find.FindFirst("/nonexistent-folder/*"), "");
  EXPECT_EQ(find.FindNext(), "");
}

TEST(FindFileTest, WildcardMatching) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*", "", true},        {"*", "abc", true},     {"a*c", "abbbc", true}, {"a*c", "abcd", false},
      {"*.*", "noext", true}, {"*.wav", "x.WAV", false}, {"??", "ab", true},  {"??", "abc", false},
      {"a*b*c", "aXbYbZc", true}, {"*x", "xxxxxxxxxxxxxxxxxxxxxxxy", false},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

}  // namespace
}  // namespace sorvel
