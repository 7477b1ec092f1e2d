#include "gui/foundation/find_file.h"

#include <gtest/gtest.h>

#include <fstream>

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
