#include "gui/foundation/super_ini.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

#include "gui/foundation/file_paths.h"
#include "testing/file_bytes.h"
#include "testing/scoped_current_dir.h"
#include "testing/test_paths.h"

// Every fsync of this test program, counted before the kernel's own call (the
// program's definition takes the place of the C library's for the libraries
// too).
std::atomic<int> g_fsync_calls{0};
extern "C" int fsync(int fd) {
  ++g_fsync_calls;
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace sorvel {
namespace {

using sorvel::testing::ReadFileBytes;
using sorvel::testing::WriteFileBytes;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class SuperIniTest : public ::testing::Test {
 protected:
  // Loads `text` (lines joined with CR LF) and saves it again; the saved bytes.
  std::string RoundTrip(const std::string& text) {
    WriteFileBytes(dir_ / "in.ini", text);
    EXPECT_TRUE(ini_.LoadINI(Q(dir_ / "in.ini")));
    EXPECT_TRUE(ini_.SaveINI(Q(dir_ / "out.ini")));
    return ReadFileBytes(dir_ / "out.ini");
  }

  sorvel::testing::ScratchDir dir_;
  SuperINI ini_;
};

TEST_F(SuperIniTest, LoadingKeepsWhatTheFormatHoldsAndSavesItByteExact) {
  struct Case {
    const char* name;
    std::string in, out;
  };
  const Case cases[] = {
      {"plain", "[PATH]\r\nTEMP=C:\\Tmp\r\n", "[PATH]\r\nTEMP=C:\\Tmp\r\n\r\n"},
      {"case duplicates stay", "[PATH]\r\nTEMP=a\r\ntemp=b\r\n", "[PATH]\r\nTEMP=a\r\ntemp=b\r\n\r\n"},
      {"repeat takes last value", "[SE]\nKK=1\nKK=2\n", "[SE]\r\nKK=2\r\n\r\n"},
      {"sections merge", "[SE]\nA1=1\n[TT]\nB1=2\n[SE]\nC1=3\n", "[SE]\r\nA1=1\r\nC1=3\r\n\r\n[TT]\r\nB1=2\r\n\r\n"},
      {"keys before a section dropped", "K1=1\n[SE]\nK2=2\n", "[SE]\r\nK2=2\r\n\r\n"},
      {"blanks trimmed, value kept", "[SE]\r\n  KEY = value  \r\n", "[SE]\r\nKEY= value\r\n\r\n"},
      {"short lines ignored", "[AB]\nK=V\nK=VV\n[A]\nX1=1\n", "[AB]\r\nK=VV\r\nX1=1\r\n\r\n"},
      {"comments are keys", "[SE]\n; note\n;c=1\n\nA12=\n==xx\n", "[SE]\r\n;c=1\r\nA12=\r\n\r\n"},
      {"section line with =", "[A=B]\n", "[A=B]\r\n[A=B]\r\n\r\n"},
      {"section without keys not kept", "[EE]\n[FF]\nFF=1\n", "[FF]\r\nFF=1\r\n\r\n"},
      {"empty document", "", ""},
      {"cp932 text", "[SE]\r\nK1=\x8A\xBF\x8E\x9A\r\n", "[SE]\r\nK1=漢字\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundTrip(c.in), c.out) << c.name;
}

TEST_F(SuperIniTest, ReadsWritesAndRemovalsIgnoreLetterCaseAndKeepTheStoredSpelling) {
  RoundTrip("[PATH]\r\nTEMP=C:\\Tmp\r\ntemp=D:\\x\r\n[network]\r\nport=1\r\n");
  EXPECT_EQ(ini_.SectionKey("[PATH]TEMP"), "C:\\Tmp");
  EXPECT_EQ(ini_.SectionKey("path", "temp"), "C:\\Tmp");
  EXPECT_EQ(ini_.SectionKey(" [NETWORK]PORT "), "1");
  EXPECT_EQ(ini_.SectionKey("[NETWORK]"), "");
  EXPECT_EQ(ini_.SectionKey("NETWORK", ""), "");
  ini_.SetSectionKey("[NETWORK]PORT", "", "8801");
  EXPECT_EQ(ini_.SectionKey("network", "port"), "8801");
  ini_.SetSectionKey("Path", "TEMP", "E:\\y");
  ini_.SetSectionKey("[NETWORK]", "", "ignored");
  EXPECT_EQ(ini_.SectionKey("[PATH]TEMP"), "E:\\y");
  ini_.SetSectionKey("path", "new", "n");
  ini_.SetSectionKey("OTHER", "K", "v");
  EXPECT_EQ(ini_.Count(), 5);
  EXPECT_EQ(ini_.ToLines(), QStringList({"[PATH]", "TEMP=E:\\y", "temp=D:\\x", "new=n", "", "[network]", "port=8801",
                                         "", "[OTHER]", "K=v", ""}));
  EXPECT_TRUE(ini_.Remove("[path]TEMP"));
  EXPECT_EQ(ini_.SectionKey("[PATH]TEMP"), "D:\\x");  // the next match shows through
  EXPECT_FALSE(ini_.Remove("[PATH]missing"));
  EXPECT_FALSE(ini_.Remove("[PATH]"));
}

TEST_F(SuperIniTest, RemovingMovesTheLastKeyIntoThePlace) {
  ini_.SetSectionKey("S", "A", "1");
  ini_.SetSectionKey("S", "B", "2");
  ini_.SetSectionKey("S", "C", "3");
  EXPECT_TRUE(ini_.Remove("S", "A"));
  EXPECT_EQ(ini_.ToLines(), QStringList({"[S]", "C=3", "B=2", ""}));
  EXPECT_TRUE(ini_.Remove("S", "B"));
  EXPECT_TRUE(ini_.Remove("S", "C"));
  EXPECT_EQ(ini_.ToLines(), QStringList({"[S]", ""}));
  ini_.SetSectionKey("S", "C", "4");  // removed keys can come back
  EXPECT_EQ(ini_.SectionKey("S", "C"), "4");
  EXPECT_EQ(ini_.Count(), 1);
}

TEST_F(SuperIniTest, CursorWalksEveryKeyInDocumentOrder) {
  RoundTrip("[AA]\nK1=1\nK2=2\n[EE]\n[BB]\nK3=3\n");
  EXPECT_EQ(ini_.Count(), 3);
  QStringList seen;
  for (bool ok = ini_.MoveFirst(); !ini_.Eof(); ok = ini_.MoveNext()) {
    EXPECT_TRUE(ok);
    seen.append(ini_.Section() + "/" + ini_.Key() + "=" + ini_.Value());
  }
  EXPECT_EQ(seen, QStringList({"AA/K1=1", "AA/K2=2", "BB/K3=3"}));
  EXPECT_FALSE(ini_.MoveNext());
  EXPECT_EQ(ini_.Key(), "");
  EXPECT_TRUE(ini_.MoveLast());
  EXPECT_EQ(ini_.Key(), "K3");
  ini_.Clear();
  EXPECT_FALSE(ini_.MoveFirst());
  EXPECT_TRUE(ini_.Eof());
  EXPECT_EQ(ini_.Count(), 0);
}

TEST_F(SuperIniTest, MissingFileAndUnwritableTargetAreFailures) {
  ini_.SetSectionKey("S", "K", "v");
  EXPECT_FALSE(ini_.LoadINI(Q(dir_ / "missing.ini")));
  EXPECT_EQ(ini_.Count(), 0);
  ini_.SetSectionKey("S", "K", "v");
  EXPECT_FALSE(ini_.SaveINI(Q(dir_ / "no" / "such" / "folder.ini")));
  std::filesystem::create_directory(dir_ / "adir");
  EXPECT_FALSE(ini_.SaveINI(Q(dir_ / "adir")));
}

TEST_F(SuperIniTest, NamesWithoutAFolderLieBesideTheSettingsFile) {
  SetProgramPathForTesting(Q(dir_ / "sorvel"));
  EXPECT_EQ(SuperINI::ResolveFileName(""), Q(dir_ / "sorvel.INI"));
  EXPECT_EQ(SuperINI::ResolveFileName("  "), Q(dir_ / "sorvel.INI"));
  EXPECT_EQ(SuperINI::ResolveFileName("other.ini"), Q(dir_ / "other.ini"));
  EXPECT_EQ(SuperINI::ResolveFileName("/abs/x.ccd"), "/abs/x.ccd");
  ini_.SetSectionKey("[MAIN]KEY", "", "v");
  EXPECT_TRUE(ini_.SaveINI(""));
  EXPECT_EQ(ReadFileBytes(dir_ / "sorvel.INI"), "[MAIN]\r\nKEY=v\r\n\r\n");
  SuperINI again;
  EXPECT_TRUE(again.LoadINI(""));
  EXPECT_EQ(again.SectionKey("[main]key"), "v");
  SetProgramPathForTesting(QString());
}

// Documents the user names are read and written where the name says, a
// relative name in the current folder; only the settings files' names are
// taken to lie beside the program.
TEST_F(SuperIniTest, UserDocumentsStayWhereTheirNameSays) {
  std::filesystem::create_directories(dir_ / "program");
  std::filesystem::create_directories(dir_ / "here");
  SetProgramPathForTesting(Q(dir_ / "program" / "sorvel"));
  WriteFileBytes(dir_ / "program" / "sorvel.INI", "[MAIN]\r\nKEY=settings\r\n");
  ini_.SetSectionKey("Disc", "TocEntries", "3");
  {
    sorvel::testing::ScopedCurrentDir here(dir_ / "here");
    EXPECT_TRUE(ini_.SaveFile("disc.ccd"));
    SuperINI back;
    EXPECT_TRUE(back.LoadFile("disc.ccd"));
    EXPECT_EQ(back.SectionKey("[DISC]TOCENTRIES"), "3");
    // An empty or missing name opens nothing: never the settings file.
    EXPECT_FALSE(back.LoadFile(""));
    EXPECT_EQ(back.Count(), 0);
    EXPECT_FALSE(ini_.SaveFile(""));
    EXPECT_FALSE(back.LoadFile("sorvel.INI"));
    // The settings files keep their rule.
    EXPECT_TRUE(back.LoadINI(""));
    EXPECT_EQ(back.SectionKey("[MAIN]KEY"), "settings");
  }
  SetProgramPathForTesting(QString());
  EXPECT_EQ(ReadFileBytes(dir_ / "here" / "disc.ccd"), "[Disc]\r\nTocEntries=3\r\n\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "program" / "disc.ccd"));
  EXPECT_EQ(ReadFileBytes(dir_ / "program" / "sorvel.INI"), "[MAIN]\r\nKEY=settings\r\n");
}

// The settings file reaches the disk before it replaces the old one; an image
// descriptor is written as the image beside it, to the page cache only.
TEST_F(SuperIniTest, SettingsAreFlushedToDiskAndDescriptorsAreNot) {
  ini_.SetSectionKey("MAIN", "KEY", "1");
  struct Case {
    const char* name;
    bool settings;
    int flushes;
  };
  for (const Case& c : {Case{"s.INI", true, 1}, Case{"disc.ccd", false, 0}, Case{"disc.ccd", false, 0}}) {
    const int before = g_fsync_calls;
    EXPECT_TRUE(c.settings ? ini_.SaveINI(Q(dir_ / c.name)) : ini_.SaveFile(Q(dir_ / c.name)));
    EXPECT_EQ(g_fsync_calls - before, c.flushes) << c.name;
    EXPECT_EQ(ReadFileBytes(dir_ / c.name), "[MAIN]\r\nKEY=1\r\n\r\n") << c.name;
  }
}

TEST_F(SuperIniTest, ManyKeysLoadQuickly) {
  std::string text = "[BIG]\r\n";
  for (int i = 0; i < 100000; ++i) text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  const std::string saved = RoundTrip(text);
  EXPECT_EQ(ini_.Count(), 100000);
  EXPECT_EQ(saved, text + "\r\n");
  EXPECT_EQ(ini_.SectionKey("[big]key99999"), "99999");
}

}  // namespace
}  // namespace sorvel
