#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <array>

#include "gui/model/model_test_util.h"
#include "gui/model/toc_information.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::CrLf;
using testing::MakeSizedFile;
using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::StatusRecorder;
using testing::WriteFileBytes;

std::string SaveSheet(TOCInformation& toc, const ScratchDir& dir, int32_t sector_size = 2352) {
  EXPECT_TRUE(toc.SaveCUEFile(Q(dir / "disc.cue"), Q(dir / "disc.img"), Q(dir / "disc.cdt"), sector_size));
  return ReadFileBytes(dir / "disc.cue");
}

TEST(CueSheetWriteTest, OneDataTrackGivesThreeLines) {
  ScratchDir dir;
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 999);
  EXPECT_EQ(SaveSheet(toc, dir), CrLf({"FILE \"disc.img\" BINARY", "  TRACK 01 MODE1/2352", "    INDEX 01 00:00:00"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "disc.cdt"));
}

// "DCP" stands for the copy-permitted bit, "PRE" for pre-emphasis of audio.
TEST(CueSheetWriteTest, FlagsLine) {
  struct Case {
    int32_t flags;
    int32_t mode;
    const char* line;  // "" when no FLAGS line is written
  };
  const Case cases[] = {
      {0, 0, ""}, {1, 0, "    FLAGS PRE"}, {2, 0, "    FLAGS DCP"}, {3, 0, "    FLAGS DCP PRE"}, {4, 1, ""},
      {5, 1, ""}, {6, 1, "    FLAGS DCP"}, {7, 2, "    FLAGS DCP"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    TOCInformation toc;
    toc.TOCAdd(1, 1, 1, c.flags, c.mode, 0, 999);
    std::vector<std::string> lines = {
        "FILE \"disc.img\" BINARY",
        c.mode == 0 ? "  TRACK 01 AUDIO" : "  TRACK 01 MODE" + std::to_string(c.mode) + "/2352"};
    if (*c.line) lines.push_back(c.line);
    lines.push_back("    INDEX 01 00:00:00");
    EXPECT_EQ(SaveSheet(toc, dir), CrLf(lines)) << "flags " << c.flags;
  }
}

TOCInformation* FillThreeTrackDisc(TOCInformation& toc) {
  toc.TOCAdd(1, 1, 1, 2, 0, 0, 749);
  toc.TOCAdd(1, 2, 0, 1, 0, 750, 899);
  toc.TOCAdd(1, 2, 1, 1, 0, 900, 4574);
  toc.TOCAdd(1, 3, 1, 0, 0, 4575, 8999);
  toc.MCN(QStringLiteral("4988001234567"));
  toc.ISRCAdd(QString());
  toc.ISRCAdd(QStringLiteral("JPABC1234567"));
  std::array<uint8_t, 12> data{};
  data.fill(0x41);
  const std::array<uint8_t, 2> crc{0x12, 0x34};
  toc.CDTextAdd(0x80, 0, 0, 0, data, crc);
  data.fill(0x42);
  toc.CDTextAdd(0x80, 1, 1, 0, data, crc);
  return &toc;
}

TEST(CueSheetWriteTest, FullSheetAndPackFileAreByteExact) {
  ScratchDir dir;
  TOCInformation toc;
  FillThreeTrackDisc(toc);
  EXPECT_EQ(SaveSheet(toc, dir), CrLf({"CDTEXTFILE \"disc.cdt\"", "CATALOG 4988001234567", "FILE \"disc.img\" BINARY",
                                       "  TRACK 01 AUDIO", "    FLAGS DCP", "    INDEX 01 00:00:00", "  TRACK 02 AUDIO",
                                       "    ISRC JPABC1234567", "    FLAGS PRE", "    INDEX 00 00:10:00",
                                       "    INDEX 01 00:12:00", "  TRACK 03 AUDIO", "    INDEX 01 01:01:00"}));
  std::string packs;
  packs += std::string("\x80\x00\x00\x00", 4) + std::string(12, 'A') + "\x12\x34";
  packs += std::string("\x80\x01\x01\x00", 4) + std::string(12, 'B') + "\x12\x34";
  EXPECT_EQ(ReadFileBytes(dir / "disc.cdt"), packs);
}

TEST(CueSheetWriteTest, PackFileIsReplacedAndNamedOnlyWhenWritten) {
  ScratchDir dir;
  TOCInformation toc;
  FillThreeTrackDisc(toc);
  WriteFileBytes(dir / "disc.cdt", std::string(1000, 'x'));  // longer than the new packs
  SaveSheet(toc, dir);
  EXPECT_EQ(ReadFileBytes(dir / "disc.cdt").size(), 36u);

  // No pack file name: no pack file and no CDTEXTFILE line.
  ASSERT_TRUE(toc.SaveCUEFile(Q(dir / "b.cue"), Q(dir / "disc.img"), QString(), 2352));
  EXPECT_EQ(ReadFileBytes(dir / "b.cue").rfind("CATALOG", 0), 0u);
  // A pack file that cannot be written: the sheet is still written, without the line.
  ASSERT_TRUE(toc.SaveCUEFile(Q(dir / "c.cue"), Q(dir / "disc.img"), Q(dir / "missing" / "c.cdt"), 2352));
  EXPECT_EQ(ReadFileBytes(dir / "c.cue").find("CDTEXTFILE"), std::string::npos);
}

TEST(CueSheetWriteTest, RefusedTocsWriteNothing) {
  struct Case {
    const char* name;
    void (*fill)(TOCInformation&);
  };
  const Case cases[] = {
      {"empty", [](TOCInformation&) {}},
      {"second session",
       [](TOCInformation& t) {
         t.TOCAdd(1, 1, 1, 4, 1, 0, 999);
         t.TOCAdd(2, 2, 1, 4, 1, 12400, 13000);
       }},
      {"before the image", [](TOCInformation& t) { t.TOCAdd(1, 1, 0, 0, 0, -150, -1); }},
      {"unknown sector mode", [](TOCInformation& t) { t.TOCAdd(1, 1, 1, 4, 3, 0, 99); }},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    TOCInformation toc;
    c.fill(toc);
    EXPECT_FALSE(toc.SaveCUEFile(Q(dir / "disc.cue"), Q(dir / "disc.img"), Q(dir / "disc.cdt"))) << c.name;
    EXPECT_FALSE(std::filesystem::exists(dir / "disc.cue")) << c.name;
  }
  // A sheet that cannot be written: no pack file either.
  TOCInformation toc;
  FillThreeTrackDisc(toc);
  ScratchDir dir;
  EXPECT_FALSE(toc.SaveCUEFile(Q(dir / "no" / "disc.cue"), Q(dir / "disc.img"), Q(dir / "disc.cdt")));
  EXPECT_FALSE(std::filesystem::exists(dir / "disc.cdt"));
}

TEST(CueSheetWriteTest, PlainSectorModesNameTheirSize) {
  ScratchDir dir;
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, 4, 2, 0, 99);
  EXPECT_EQ(SaveSheet(toc, dir, 2336),
            CrLf({"FILE \"disc.img\" BINARY", "  TRACK 01 MODE2/2336", "    INDEX 01 00:00:00"}));
}

struct Loaded {
  bool ok = false;
  QString image;
  int32_t sector_size = 0;
  QStringList messages;
};

Loaded LoadSheet(TOCInformation& toc, const std::filesystem::path& sheet) {
  StatusRecorder recorder(toc);
  Loaded result;
  result.ok = toc.LoadCUEFile(Q(sheet), result.image, result.sector_size);
  result.messages = recorder.Texts();
  EXPECT_EQ(recorder.plain, result.messages);
  for (const auto& event : recorder.events) EXPECT_EQ(event.first, 2);
  return result;
}

TEST(CueSheetReadTest, OneDataTrackBesideItsImage) {
  ScratchDir dir;
  WriteFileBytes(dir / "disc.cue",
                 CrLf({"FILE \"disc.img\" BINARY", "  TRACK 01 MODE1/2352", "    INDEX 01 00:00:00"}));
  MakeSizedFile(dir / "disc.img", 2352000);
  TOCInformation toc;
  const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
  ASSERT_TRUE(loaded.ok) << loaded.messages.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(loaded.image, Q(dir / "disc.img"));
  EXPECT_EQ(loaded.sector_size, 2352);
  ASSERT_EQ(toc.TOCCount(), 1);
  const model::TOCTrack* track = toc.TOC(1);
  EXPECT_EQ(track->SessionNo, 1);
  EXPECT_EQ(track->Flags, 4);
  EXPECT_EQ(track->SectorMode, 1);
  EXPECT_EQ(track->StartLBA, 0);
  EXPECT_EQ(track->EndLBA, 999);
}

TEST(CueSheetReadTest, FlagsAndModes) {
  struct Case {
    const char* mode;
    const char* flags_line;  // nullptr: no FLAGS line
    int32_t flags;
    int32_t sector_mode;
    int32_t sector_size;
  };
  const Case cases[] = {
      {"AUDIO", nullptr, 0, 0, 2352},
      {"AUDIO", "FLAGS DCP", 2, 0, 2352},
      {"AUDIO", "FLAGS PRE", 1, 0, 2352},
      {"AUDIO", "FLAGS DCP PRE", 3, 0, 2352},
      {"AUDIO", "FLAGS 4CH PRE", 1, 0, 2352},
      {"MODE1/2352", nullptr, 4, 1, 2352},
      {"MODE1/2352", "FLAGS DCP", 6, 1, 2352},
      {"MODE2/2352", "FLAGS DCP", 6, 2, 2352},
      {"MODE1/2048", "FLAGS DCP PRE", 4, 1, 2048},
      {"MODE2/2336", nullptr, 4, 2, 2336},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::vector<std::string> lines = {"FILE \"disc.img\" BINARY", std::string("  TRACK 01 ") + c.mode};
    if (c.flags_line) lines.push_back(std::string("    ") + c.flags_line);
    lines.push_back("    INDEX 01 00:00:00");
    WriteFileBytes(dir / "disc.cue", CrLf(lines));
    MakeSizedFile(dir / "disc.img", static_cast<uintmax_t>(c.sector_size) * 100);
    TOCInformation toc;
    const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
    ASSERT_TRUE(loaded.ok) << c.mode;
    EXPECT_EQ(loaded.sector_size, c.sector_size) << c.mode;
    ASSERT_EQ(toc.TOCCount(), 1);
    EXPECT_EQ(toc.TOC(1)->Flags, c.flags) << c.mode << " " << (c.flags_line ? c.flags_line : "-");
    EXPECT_EQ(toc.TOC(1)->SectorMode, c.sector_mode) << c.mode;
    EXPECT_EQ(toc.TOC(1)->EndLBA, 99) << c.mode;
  }
}

TEST(CueSheetReadTest, IsrcOfALaterTrackPadsTheEarlierOnes) {
  ScratchDir dir;
  WriteFileBytes(dir / "disc.cue", CrLf({"FILE \"disc.img\" BINARY", "  TRACK 01 AUDIO", "    INDEX 01 00:00:00",
                                         "  TRACK 03 AUDIO", "    ISRC JPABC9900001", "    INDEX 01 00:10:00"}));
  MakeSizedFile(dir / "disc.img", 2352 * 1000);
  TOCInformation toc;
  ASSERT_TRUE(LoadSheet(toc, dir / "disc.cue").ok);
  ASSERT_EQ(toc.ISRCCount(), 3);
  EXPECT_EQ(toc.ISRC(1), QStringLiteral("000000000000"));
  EXPECT_EQ(toc.ISRC(2), QStringLiteral("000000000000"));
  EXPECT_EQ(toc.ISRC(3), QStringLiteral("JPABC9900001"));
  EXPECT_EQ(toc.TOC(1)->EndLBA, 749);
  EXPECT_EQ(toc.TOC(2)->EndLBA, 999);
}

TEST(CueSheetReadTest, FailuresReportOneMessageAndLeaveTheModelEmpty) {
  const std::string head = "FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
  struct Case {
    std::string sheet;
    const char* message;
  };
  const Case cases[] = {
      {head + "FILE \"b.img\" BINARY\r\n", "CUEFileError: イメージファイルは複数指定できません"},
      // REM lines and blank lines are keywords the reader does not know,
      // wherever they stand; the message carries the line as read.
      {"REM made by hand\r\n" + head, "CUEFileError: Unknown keyword : REM made by hand"},
      {"REM\r\n" + head, "CUEFileError: Unknown keyword : REM"},
      {head + "    REM COMMENT \"take 2\"\r\n", "CUEFileError: Unknown keyword :     REM COMMENT \"take 2\""},
      {"REMARK made by hand\r\n" + head, "CUEFileError: Unknown keyword : REMARK made by hand"},
      {"rem made by hand\r\n" + head, "CUEFileError: Unknown keyword : rem made by hand"},
      {head + "\r\n", "CUEFileError: Unknown keyword : "},
      {"\r\n" + head, "CUEFileError: Unknown keyword : "},
      {"FILE \"disc.img\" BINARY\r\n\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n",
       "CUEFileError: Unknown keyword : "},
      {head + "  \r\n", "CUEFileError: Unknown keyword :   "},
      {"FILE \"disc.img\" BINARY\n\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "CUEFileError: Unknown keyword : "},
      {head + "  track 02 AUDIO\r\n", "CUEFileError: Unknown keyword :   track 02 AUDIO"},
      {"FILE \"disc.wav\" WAVE\r\n", "CUEFileError: BINARY形式以外未サポート"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 CDG\r\n    INDEX 01 00:00:00\r\n",
       "CUEFileError: Unknown track mode : CDG"},
      {"FILE \"disc.img\" BINARY\r\n    INDEX 01 00:00:00\r\n", "CUEFileError: Unknown track mode : "},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 00 AUDIO\r\n", "CUEFileError: Invalid track number :   TRACK 00 AUDIO"},
      {head + "  TRACK 100 AUDIO\r\n", "CUEFileError: Invalid track number :   TRACK 100 AUDIO"},
      {head + "  TRACK 01 AUDIO\r\n", "CUEFileError: Invalid track number :   TRACK 01 AUDIO"},
      {head + "  TRACK xx AUDIO\r\n", "CUEFileError: Invalid track number :   TRACK xx AUDIO"},
      {head + "    INDEX 100 00:10:00\r\n", "CUEFileError: Invalid index :     INDEX 100 00:10:00"},
      {head + "    INDEX 02 00:60:00\r\n", "CUEFileError: Invalid index :     INDEX 02 00:60:00"},
      {head + "    INDEX 02 00:00:75\r\n", "CUEFileError: Invalid index :     INDEX 02 00:00:75"},
      {head + "    INDEX 02 00:00:00\r\n", "CUEFileError: Invalid index :     INDEX 02 00:00:00"},
      {head + "    INDEX 02 0:0\r\n", "CUEFileError: Invalid index :     INDEX 02 0:0"},
      // Times whose frame count does not fit in 32 bits, or beyond what a CD
      // (or, for 2,048-byte sectors, any disc) can address.
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 477219:00:00\r\n",
       "CUEFileError: Invalid index :     INDEX 01 477219:00:00"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 477219:00:00\r\n",
       "CUEFileError: Invalid index :     INDEX 01 477219:00:00"},
      {head + "    INDEX 02 120:00:00\r\n", "CUEFileError: Invalid index :     INDEX 02 120:00:00"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 20000:00:00\r\n",
       "CUEFileError: Invalid index :     INDEX 01 20000:00:00"},
      // Indexes out of order, and a track that never reaches index 1.
      {head + "    INDEX 03 00:01:00\r\n    INDEX 02 00:02:00\r\n", "CUEFileError: Invalid index :     INDEX 02 00:02:00"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 00 00:00:00\r\n  TRACK 02 AUDIO\r\n"
       "    INDEX 01 00:02:00\r\n",
       "CUEFileError: Invalid index :     INDEX 01 00:02:00"},
      {"ISRC JPABC9900001\r\n" + head, "CUEFileError: Misplaced ISRC : ISRC JPABC9900001"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    ISRC JPABC9900001\r\n    ISRC JPABC9900002\r\n",
       "CUEFileError: Misplaced ISRC :     ISRC JPABC9900002"},
      {head + "    INDEX 02 00:20:00\r\n", "CUEFileError: 最終LBAが不正"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n    INDEX 02 00:01:00\r\n",
       "CUEFileError: 非RAWセクタトラックが混在しています。"},
      {"FILE \"disc.img\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n"
       "    INDEX 01 00:01:00\r\n",
       "CUEFileError: 非RAWセクタトラックが混在しています。"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    WriteFileBytes(dir / "disc.cue", c.sheet);
    MakeSizedFile(dir / "disc.img", 2352 * 1000);  // 00:13:25 of audio
    TOCInformation toc;
    const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
    EXPECT_FALSE(loaded.ok) << c.sheet;
    EXPECT_EQ(loaded.messages, QStringList{QString::fromUtf8(c.message)}) << c.sheet;
    EXPECT_EQ(toc.TOCCount() + toc.ISRCCount() + toc.CDTextCount(), 0) << c.sheet;
    EXPECT_EQ(toc.MCN(), QStringLiteral("0000000000000"));
  }
}

// A raw image may run to 99:59:74 (LBA 449,849), the last address a CD has.
TEST(CueSheetReadTest, RawImageEndsWhereACdEnds) {
  ScratchDir dir;
  WriteFileBytes(dir / "disc.cue", "FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n");
  for (const auto& [sectors, ok] : {std::pair<uintmax_t, bool>{449850, true}, {449851, false}}) {
    MakeSizedFile(dir / "disc.img", 2352 * sectors);
    TOCInformation toc;
    const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
    EXPECT_EQ(loaded.ok, ok) << sectors;
    if (ok) {
      ASSERT_EQ(toc.TOCCount(), 1);
      EXPECT_EQ(toc.TOC(1)->EndLBA, 449849);
    } else {
      EXPECT_EQ(loaded.messages, QStringList{QStringLiteral("CUEFileError: 最終LBAが不正")});
    }
  }
}

TEST(CueSheetReadTest, ImageAndPackFileProblems) {
  ScratchDir dir;
  const std::string body = "FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
  WriteFileBytes(dir / "a.cue", body);
  TOCInformation toc;
  Loaded loaded = LoadSheet(toc, dir / "a.cue");
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.messages,
            QStringList{QStringLiteral("CUEFileError: イメージファイルが開けません - ") + Q(dir / "disc.img")});

  MakeSizedFile(dir / "disc.img", 2352 * 10);
  WriteFileBytes(dir / "b.cue", "CDTEXTFILE \"none.cdt\"\r\nCATALOG 1234\r\n" + body);
  loaded = LoadSheet(toc, dir / "b.cue");
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.messages,
            QStringList{QStringLiteral("CUEFileError: CDTextファイルが開けません - ") + Q(dir / "none.cdt")});
  EXPECT_EQ(toc.MCN(), QStringLiteral("0000000000000"));

  // A pack file far beyond eight blocks is refused instead of read whole.
  MakeSizedFile(dir / "huge.cdt", 64u << 20);
  WriteFileBytes(dir / "c.cue", "CDTEXTFILE \"huge.cdt\"\r\n" + body);
  EXPECT_FALSE(LoadSheet(toc, dir / "c.cue").ok);

  // An unreadable sheet returns false without a message.
  loaded = LoadSheet(toc, dir / "missing.cue");
  EXPECT_FALSE(loaded.ok);
  EXPECT_TRUE(loaded.messages.isEmpty());
}

// Names of a FIFO or a directory are refused without opening them: opening a
// FIFO for reading would wait for a writer forever.
TEST(CueSheetReadTest, SpecialFilesAreNeverOpened) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder.img");
  MakeSizedFile(dir / "disc.img", 2352 * 10);
  const std::string body = "  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
  struct Case {
    std::string sheet;
    QString message;
  };
  const Case cases[] = {
      {"FILE \"fifo\" BINARY\r\n" + body,
       QStringLiteral("CUEFileError: イメージファイルが開けません - ") + Q(dir / "fifo")},
      {"FILE \"folder.img\" BINARY\r\n" + body,
       QStringLiteral("CUEFileError: イメージファイルが開けません - ") + Q(dir / "folder.img")},
      {"CDTEXTFILE \"fifo\"\r\nFILE \"disc.img\" BINARY\r\n" + body,
       QStringLiteral("CUEFileError: CDTextファイルが開けません - ") + Q(dir / "fifo")},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "disc.cue", c.sheet);
    TOCInformation toc;
    const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.messages, QStringList{c.message});
  }
  TOCInformation toc;
  QString image;
  int32_t size = 0;
  EXPECT_FALSE(toc.LoadCUEFile(Q(dir / "fifo"), image, size));
  EXPECT_FALSE(toc.LoadCCDFile(Q(dir / "fifo")));
  EXPECT_FALSE(toc.LoadISOFile(Q(dir / "fifo"), size));
}

TEST(CueSheetReadTest, EmptySheetLoadsAsEmptyModel) {
  ScratchDir dir;
  WriteFileBytes(dir / "disc.cue", "");
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, 0, 0, 0, 1);
  const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
  EXPECT_TRUE(loaded.ok);
  EXPECT_TRUE(loaded.image.isEmpty());
  EXPECT_EQ(toc.TOCCount(), 0);
  EXPECT_EQ(loaded.sector_size, 2352);
}

TEST(CueSheetReadTest, NamesFromOtherSystemsAndLineEnds) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "sub");
  MakeSizedFile(dir / "sub" / "my disc.bin", 2352 * 10 + 1200);  // a partial last sector is not a sector
  struct Case {
    std::string sheet;
  };
  const Case cases[] = {
      {"FILE \"sub\\my disc.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"},
      {"FILE \"sub/my disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
      {"\xEF\xBB\xBF"
       "FILE \"sub/my disc.bin\" BINARY\r  TRACK 01 AUDIO\r    INDEX 01 00:00:00"},
      {"FILE \"" + (dir / "sub" / "my disc.bin").string() +
       "\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "disc.cue", c.sheet);
    TOCInformation toc;
    const Loaded loaded = LoadSheet(toc, dir / "disc.cue");
    ASSERT_TRUE(loaded.ok) << c.sheet << loaded.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(loaded.image, Q(dir / "sub" / "my disc.bin"));
    ASSERT_EQ(toc.TOCCount(), 1);
    EXPECT_EQ(toc.TOC(1)->EndLBA, 9);
  }
  // An unquoted name without blanks.
  MakeSizedFile(dir / "plain.img", 2352 * 10);
  WriteFileBytes(dir / "plain.cue", "FILE plain.img BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n");
  TOCInformation toc;
  const Loaded loaded = LoadSheet(toc, dir / "plain.cue");
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.image, Q(dir / "plain.img"));
}

// A sheet named without a folder resolves its image in the current folder.
TEST(CueSheetReadTest, SheetInTheCurrentFolder) {
  ScratchDir dir;
  MakeSizedFile(dir / "disc.img", 2352 * 10);
  WriteFileBytes(dir / "disc.cue", "FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n");
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Q(dir.path())));
  TOCInformation toc;
  const Loaded loaded = LoadSheet(toc, "disc.cue");
  QDir::setCurrent(previous);
  ASSERT_TRUE(loaded.ok) << loaded.messages.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(QFileInfo(loaded.image).absoluteFilePath(), Q(dir / "disc.img"));
  EXPECT_EQ(toc.TOC(1)->EndLBA, 9);
}

TEST(CueSheetRoundTripTest, NinetyNineTracksWithPacksSurvive) {
  ScratchDir dir;
  TOCInformation toc;
  int32_t lba = 0;
  for (int track = 1; track <= 99; ++track) {
    const int32_t flags = track % 4;  // every combination of PRE and DCP
    if (track > 1) {
      toc.TOCAdd(1, static_cast<uint8_t>(track), 0, flags, 0, lba, lba + 149);
      lba += 150;
    }
    toc.TOCAdd(1, static_cast<uint8_t>(track), 1, flags, 0, lba, lba + 299);
    lba += 300;
    toc.ISRCAdd(track % 3 == 0 ? QStringLiteral("JPXYZ99%1").arg(track, 5, 10, QLatin1Char('0')) : QString());
  }
  toc.MCN(QStringLiteral("4988001234567"));
  std::array<uint8_t, 12> data{};
  for (int k = 0; k < 300; ++k) {
    data.fill(static_cast<uint8_t>(k));
    const std::array<uint8_t, 2> crc{static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)};
    toc.CDTextAdd(0x80 + k % 16, static_cast<uint8_t>(k % 100), static_cast<uint8_t>(k), 0, data, crc);
  }
  MakeSizedFile(dir / "disc.img", static_cast<uintmax_t>(lba) * 2352);
  ASSERT_TRUE(toc.SaveCUEFile(Q(dir / "disc.cue"), Q(dir / "disc.img"), Q(dir / "disc.cdt")));

  TOCInformation back;
  const Loaded loaded = LoadSheet(back, dir / "disc.cue");
  ASSERT_TRUE(loaded.ok) << loaded.messages.join(QLatin1Char('\n')).toStdString();
  ASSERT_EQ(back.TOCCount(), toc.TOCCount());
  for (int i = 1; i <= toc.TOCCount(); ++i) {
    const model::TOCTrack* a = toc.TOC(i);
    const model::TOCTrack* b = back.TOC(i);
    EXPECT_EQ(b->SessionNo, a->SessionNo) << i;
    EXPECT_EQ(b->TrackNo, a->TrackNo) << i;
    EXPECT_EQ(b->IndexNo, a->IndexNo) << i;
    EXPECT_EQ(b->Flags, a->Flags) << i;
    EXPECT_EQ(b->SectorMode, a->SectorMode) << i;
    EXPECT_EQ(b->StartLBA, a->StartLBA) << i;
    EXPECT_EQ(b->EndLBA, a->EndLBA) << i;
  }
  EXPECT_EQ(back.MCN(), toc.MCN());
  ASSERT_EQ(back.ISRCCount(), 99);
  for (int track = 1; track <= 99; ++track) EXPECT_EQ(back.ISRC(track), toc.ISRC(track)) << track;
  ASSERT_EQ(back.CDTextCount(), 300);
  for (int k = 1; k <= 300; ++k) {
    EXPECT_EQ(back.CDText(k)->PackText(), toc.CDText(k)->PackText());
    EXPECT_EQ(back.CDText(k)->Crc, toc.CDText(k)->Crc);
  }
  // Saving the loaded model again gives the same sheet.
  const std::string first = ReadFileBytes(dir / "disc.cue");
  ASSERT_TRUE(back.SaveCUEFile(Q(dir / "disc.cue"), Q(dir / "disc.img"), Q(dir / "disc.cdt")));
  EXPECT_EQ(ReadFileBytes(dir / "disc.cue"), first);
}

TEST(CueSheetReadTest, HostileSheetsNeverCrash) {
  ScratchDir dir;
  MakeSizedFile(dir / "disc.img", 2352 * 100);
  const std::string pieces[] = {"FILE",       "\"",
                                "disc.img",   "BINARY",
                                "TRACK",      "99",
                                "AUDIO",      "INDEX",
                                "01",         "99999999:59:74",
                                "-1",         "ISRC",
                                "CATALOG",    "FLAGS",
                                "CDTEXTFILE", " ",
                                "  ",         "\r\n",
                                "\n",         "\r",
                                ":",          "MODE1/2048",
                                "\xFF\xFE",   std::string(1, '\0')};
  uint32_t seed = 12345;
  for (int round = 0; round < 400; ++round) {
    std::string sheet;
    const int count = 1 + round % 40;
    for (int i = 0; i < count; ++i) {
      seed = seed * 1103515245u + 12345u;
      sheet += pieces[(seed >> 16) % std::size(pieces)];
    }
    WriteFileBytes(dir / "h.cue", sheet);
    TOCInformation toc;
    QString image;
    int32_t size = 0;
    const bool ok = toc.LoadCUEFile(Q(dir / "h.cue"), image, size);
    if (!ok) {
      EXPECT_EQ(toc.TOCCount(), 0);
    }
  }
}

}  // namespace
}  // namespace sorvel
