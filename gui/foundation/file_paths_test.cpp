#include "gui/foundation/file_paths.h"

#include <gtest/gtest.h>

#include "testing/scoped_env.h"

namespace sorvel {
namespace {

TEST(FilePathsTest, SplitPathTakesTheExtensionFromTheNameOnly) {
  struct Case {
    QString path, dir, name, ext;
  };
  const Case cases[] = {
      {"/a/b.txt", "/a/", "b", ".txt"},
      {"file", "", "file", ""},
      {"/a.b/c", "/a.b/", "c", ""},
      {"/a/.cfg", "/a/", "", ".cfg"},
      {"name.", "", "name", "."},
      {"a.b.c", "", "a.b", ".c"},
      {"\\A\\B\\", "\\A\\B\\", "", ""},
      {"\\A\\x.wav", "\\A\\", "x", ".wav"},
      {"/dir.x/file", "/dir.x/", "file", ""},
      {"/", "/", "", ""},
      {"", "", "", ""},
      {"C:x.iso", "", "C:x", ".iso"},
  };
  for (const Case& c : cases) {
    QString drive = "junk", dir, name, ext;
    SplitPath(c.path, &drive, &dir, &name, &ext);
    EXPECT_EQ(drive, "");
    EXPECT_EQ(dir, c.dir) << c.path.toStdString();
    EXPECT_EQ(name, c.name) << c.path.toStdString();
    EXPECT_EQ(ext, c.ext) << c.path.toStdString();
    EXPECT_EQ(drive + dir + name + ext, c.path);
    EXPECT_EQ(GetDirectoryPart(c.path), c.dir);
    EXPECT_EQ(RemoveExtension(c.path), c.dir + c.name);
    EXPECT_EQ(GetExtension(c.path), c.ext);
    EXPECT_EQ(GetFileNamePart(c.path), c.name + c.ext);
  }
}

TEST(FilePathsTest, FullPathsPutRelativePathsBelowTheBase) {
  struct Case {
    QString path, base, expected;
  };
  const Case cases[] = {
      {"x.ini", "/prog", "/prog/x.ini"},
      {"sub/x", "/prog/", "/prog/sub/x"},
      {"/x", "/prog", "/x"},
      {"../x", "/prog", "/prog/../x"},
      {"", "/prog", "/prog/"},
      {"x", "/", "/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(GetFullPath(c.path, c.base), c.expected) << c.path.toStdString();
  SetProgramPathForTesting("/opt/sorvel/bin/sorvel");
  EXPECT_EQ(GetFullPath("a.iso"), "/opt/sorvel/bin/a.iso");
  EXPECT_EQ(ProgramFolder(), "/opt/sorvel/bin");
  EXPECT_EQ(ProgramBaseName(), "sorvel");
  SetProgramPathForTesting(QString());
  EXPECT_FALSE(ProgramFolder().isEmpty());
  EXPECT_EQ(ProgramBaseName(), "gui_foundation_tests");
}

TEST(FilePathsTest, SettingsFileLiesBesideAWritableProgramElseInTheConfigFolder) {
  sorvel::testing::ScopedEnv home("HOME", "/home/u");
  SetProgramPathForTesting("/tmp/sorvel");
  EXPECT_EQ(SettingsFilePath(), "/tmp/sorvel.INI");
  SetProgramPathForTesting("/nonexistent/sorvel");  // not writable
  struct Case {
    std::optional<std::string> config;
    QString expected;
  };
  const Case cases[] = {
      {"/home/u/cfg", "/home/u/cfg/sorvel/sorvel.INI"},
      {"relative", "/home/u/.config/sorvel/sorvel.INI"},
      {std::nullopt, "/home/u/.config/sorvel/sorvel.INI"},
      {"/cfg/", "/cfg/sorvel/sorvel.INI"},
  };
  for (const Case& c : cases) {
    sorvel::testing::ScopedEnv config("XDG_CONFIG_HOME", c.config);
    EXPECT_EQ(SettingsFilePath(), c.expected);
  }
  SetProgramPathForTesting(QString());
}

TEST(FilePathsTest, SanitizeFileNameReplacesForbiddenAndExtraCharacters) {
  EXPECT_EQ(SanitizeFileName("My disc: 1/2", " "), "My_disc__1_2");
  EXPECT_EQ(SanitizeFileName("a\"*:/;<>?\\|b", ""), "a__________b");
  EXPECT_EQ(SanitizeFileName("曲名 一", " "), "曲名_一");
  EXPECT_EQ(SanitizeFileName("", " "), "");
}

}  // namespace
}  // namespace sorvel
