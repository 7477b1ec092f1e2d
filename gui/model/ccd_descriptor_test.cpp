#include <gtest/gtest.h>

#include <array>

#include "gui/foundation/file_paths.h"
#include "gui/model/model_test_util.h"
#include "gui/model/toc_information.h"
#include "testing/scoped_current_dir.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::CrLf;
using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::StatusRecorder;
using testing::WriteFileBytes;

class FakeDrive : public TOCDescriptorDrive {
 public:
  QString GetDeviceName(int32_t type) override {
    switch (type) {
      case 1:
        return QStringLiteral("EMUVEND ");
      case 2:
        return QStringLiteral(" CDRW-1000  ");
      case 4:
        return QStringLiteral("1.0A");
      default:
        return QString();
    }
  }
  int32_t GetFirstLBA() override { return first_lba; }
  int32_t first_lba = -150;
};

struct Msf {
  uint8_t m, s, f;
};
Msf ToMsf(int32_t lba) {
  const int32_t n = lba + 150;
  return {static_cast<uint8_t>(n / 4500), static_cast<uint8_t>(n / 75 % 60), static_cast<uint8_t>(n % 75)};
}

// The raw descriptors of one session as a drive reports them: A0, A1, A2 and
// one per track (start of index 1).
void AddSessionRaw(TOCInformation& toc, uint8_t session, int first, int last, int32_t lead_out,
                   const std::vector<std::pair<int32_t, uint8_t>>& starts_and_controls) {
  const uint8_t first_control = starts_and_controls.front().second;
  toc.RawTOCAdd(session, 0x10 | first_control, 0, 0xA0, 0, 0, 0, 0, static_cast<uint8_t>(first), 0, 0);
  toc.RawTOCAdd(session, 0x10 | starts_and_controls.back().second, 0, 0xA1, 0, 0, 0, 0, static_cast<uint8_t>(last), 0,
                0);
  const Msf out = ToMsf(lead_out);
  toc.RawTOCAdd(session, 0x10 | first_control, 0, 0xA2, 0, 0, 0, 0, out.m, out.s, out.f);
  for (int t = first; t <= last; ++t) {
    const auto& [start, control] = starts_and_controls[static_cast<size_t>(t - first)];
    const Msf at = ToMsf(start);
    toc.RawTOCAdd(session, static_cast<uint8_t>(0x10 | control), 0, static_cast<uint8_t>(t), 0, 0, 0, 0, at.m, at.s,
                  at.f);
  }
}

// The lines of raw entry section k of session 1 with ADR 1, track 0, address
// 00:00:00 and PFrame 0.
std::vector<std::string> EntryLines(int k, const char* point, const char* control, const char* pmin, const char* psec,
                                    const char* plba) {
  return {"[Entry " + std::to_string(k) + "]",
          "Session=1",
          std::string("Point=") + point,
          "ADR=0x01",
          std::string("Control=") + control,
          "TrackNo=0",
          "AMin=0",
          "ASec=0",
          "AFrame=0",
          "ALBA=-150",
          "Zero=0",
          std::string("PMin=") + pmin,
          std::string("PSec=") + psec,
          "PFrame=0",
          std::string("PLBA=") + plba,
          ""};
}

TEST(CcdWriteTest, ThreeRawEntriesAndOneAudioTrackByteExact) {
  ScratchDir dir;
  TOCInformation toc;
  toc.RawTOCAdd(1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(1, 0x10, 0, 0xA1, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(1, 0x10, 0, 0xA2, 0, 0, 0, 0, 0, 15, 0);
  toc.TOCAdd(1, 1, 1, 0, 0, 0, 974);
  ASSERT_TRUE(toc.SaveCCDFile(Q(dir / "disc.ccd")));
  std::vector<std::string> lines = {
      "[CloneCD]",      "Version=3", "", "[Disc]", "TocEntries=3", "Sessions=1", "DataTracksScrambled=0",
      "CDTextLength=0", ""};
  for (const auto& part :
       {EntryLines(0, "0xA0", "0x00", "1", "0", "4350"), EntryLines(1, "0xA1", "0x00", "1", "0", "4350"),
        EntryLines(2, "0xA2", "0x00", "0", "15", "975")}) {
    lines.insert(lines.end(), part.begin(), part.end());
  }
  for (const char* line : {"[Session 1]", "PreGapMode=0", "PreGapSubC=0", "", "[Track 1]", "MODE=0", "INDEX 1=0", ""}) {
    lines.push_back(line);
  }
  EXPECT_EQ(ReadFileBytes(dir / "disc.ccd"), CrLf(lines));
}

TEST(CcdWriteTest, HexFieldsOfARawEntry) {
  ScratchDir dir;
  TOCInformation toc;
  toc.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 32, 0);
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 99);
  ASSERT_TRUE(toc.SaveCCDFile(Q(dir / "disc.ccd")));
  const std::string text = ReadFileBytes(dir / "disc.ccd");
  EXPECT_NE(text.find("Point=0xA0\r\nADR=0x01\r\nControl=0x04\r\n"), std::string::npos) << text;
  TOCInformation back;
  back.LoadCCDFile(Q(dir / "disc.ccd"));
  ASSERT_EQ(back.RawTOCCount(), 1);
  EXPECT_EQ(back.RawTOC(1)->AdrControl, 0x14);
  EXPECT_EQ(back.RawTOC(1)->PSecond, 32);
}

TEST(CcdWriteTest, DriveBoundFlavourAndFirstPregapMarks) {
  TOCInformation toc;
  AddSessionRaw(toc, 1, 1, 1, 1000, {{0, 4}});
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 999);
  struct Case {
    int32_t first_lba;
    bool flag;
    bool marks;
  };
  for (const Case& c : {Case{-150, true, true}, Case{-150, false, false}, Case{0, true, false}}) {
    ScratchDir dir;
    FakeDrive drive;
    drive.first_lba = c.first_lba;
    ASSERT_TRUE(toc.SaveCCDFileEx(Q(dir / "disc.tsn"), &drive, c.flag));
    const std::string text = ReadFileBytes(dir / "disc.tsn");
    const std::string head = CrLf({"[Tessarine]", "Version=2", "", "[ReadDrive]", "Vendor=EMUVEND", "Product=CDRW-1000",
                                   "Revision=1.0A", "", "[Disc]"});
    EXPECT_EQ(text.substr(0, head.size()), head);
    const std::string marks = "[Disc]\r\nPregapAnalyze=1\r\nPregapDelta=0\r\nTocEntries=4\r\n";
    EXPECT_EQ(text.find(marks) != std::string::npos, c.marks) << text;
    EXPECT_EQ(text.find("CloneCD"), std::string::npos);
  }
}

TEST(CcdWriteTest, DriveBoundDescriptorByteExact) {
  ScratchDir dir;
  TOCInformation toc;
  toc.TOCAdd(1, 1, 0, 6, 1, -150, -1);
  toc.TOCAdd(1, 1, 1, 6, 1, 0, 2999);
  AddSessionRaw(toc, 1, 1, 1, 3000, {{0, 6}});
  toc.MCN(QStringLiteral("4988001234567"));
  toc.ISRCAdd(QStringLiteral("JPABC1234567"));
  std::array<uint8_t, 12> data{};
  data.fill(0x20);
  toc.CDTextAdd(0x8F, 0, 0x1F, 0, data, {});
  FakeDrive drive;
  ASSERT_TRUE(toc.SaveCCDFileEx(Q(dir / "disc.tsn"), &drive, true));
  std::vector<std::string> lines = {"[Tessarine]",
                                    "Version=2",
                                    "",
                                    "[ReadDrive]",
                                    "Vendor=EMUVEND",
                                    "Product=CDRW-1000",
                                    "Revision=1.0A",
                                    "",
                                    "[Disc]",
                                    "PregapAnalyze=1",
                                    "PregapDelta=0",
                                    "TocEntries=4",
                                    "Sessions=1",
                                    "DataTracksScrambled=0",
                                    "CDTextLength=18",
                                    "CATALOG=4988001234567",
                                    "",
                                    "[CDText]",
                                    "Entries=1",
                                    "Entry 0=8F 00 1F 00 20 20 20 20 20 20 20 20 20 20 20 20",
                                    ""};
  for (const auto& part :
       {EntryLines(0, "0xA0", "0x06", "1", "0", "4350"), EntryLines(1, "0xA1", "0x06", "1", "0", "4350"),
        EntryLines(2, "0xA2", "0x06", "0", "42", "3000"), EntryLines(3, "0x01", "0x06", "0", "2", "0")}) {
    lines.insert(lines.end(), part.begin(), part.end());
  }
  for (const char* line : {"[Session 1]", "PreGapMode=1", "PreGapSubC=0", "", "[Track 1]", "ISRC=JPABC1234567",
                           "MODE=1", "INDEX 0=-150", "INDEX 1=0", ""}) {
    lines.push_back(line);
  }
  EXPECT_EQ(ReadFileBytes(dir / "disc.tsn"), CrLf(lines));
}

TEST(CcdWriteTest, NothingWrittenWithoutTrackOrRawEntries) {
  ScratchDir dir;
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 99);
  EXPECT_FALSE(toc.SaveCCDFile(Q(dir / "a.ccd")));
  TOCInformation raw_only;
  raw_only.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  EXPECT_FALSE(raw_only.SaveCCDFile(Q(dir / "b.ccd")));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.ccd"));
  EXPECT_FALSE(std::filesystem::exists(dir / "b.ccd"));
}

// Session 1: audio tracks 1-2; session 2 (after 11,400 sectors of gap): data track 3.
void FillTwoSessionDisc(TOCInformation& toc) {
  toc.TOCAdd(1, 1, 1, 3, 0, 0, 4499);
  toc.TOCAdd(1, 2, 0, 1, 0, 4500, 4649);
  toc.TOCAdd(1, 2, 1, 1, 0, 4650, 8999);
  toc.TOCAdd(2, 3, 0, 6, 1, 20000, 20149);
  toc.TOCAdd(2, 3, 1, 6, 1, 20150, 29999);
  AddSessionRaw(toc, 1, 1, 2, 9000, {{0, 3}, {4650, 1}});
  AddSessionRaw(toc, 2, 3, 3, 30000, {{20150, 6}});
  toc.ISRCAdd(QStringLiteral("JPABC0000001"));
  toc.ISRCAdd(QString());
  toc.MCN(QStringLiteral("4988001234567"));
  std::array<uint8_t, 12> data{};
  data.fill(0x61);
  toc.CDTextAdd(0x80, 0, 0, 0, data, {});
  toc.CDTextAdd(0x81, 1, 1, 0x0F, data, {});
}

void ExpectSameEntries(const TOCInformation& a, const TOCInformation& b) {
  ASSERT_EQ(b.TOCCount(), a.TOCCount());
  for (int i = 1; i <= a.TOCCount(); ++i) {
    const model::TOCTrack& x = *a.TOC(i);
    const model::TOCTrack& y = *b.TOC(i);
    EXPECT_EQ(y.SessionNo, x.SessionNo) << i;
    EXPECT_EQ(y.TrackNo, x.TrackNo) << i;
    EXPECT_EQ(y.IndexNo, x.IndexNo) << i;
    EXPECT_EQ(y.Flags, x.Flags) << i;
    EXPECT_EQ(y.SectorMode, x.SectorMode) << i;
    EXPECT_EQ(y.StartLBA, x.StartLBA) << i;
    EXPECT_EQ(y.EndLBA, x.EndLBA) << i;
  }
  ASSERT_EQ(b.RawTOCCount(), a.RawTOCCount());
  for (int i = 1; i <= a.RawTOCCount(); ++i) {
    const model::TOCRawTrack& x = *a.RawTOC(i);
    const model::TOCRawTrack& y = *b.RawTOC(i);
    EXPECT_EQ(std::tie(y.SessionNo, y.AdrControl, y.Track, y.Point, y.Minute, y.Second, y.Frame, y.Zero, y.PMinute,
                       y.PSecond, y.PFrame),
              std::tie(x.SessionNo, x.AdrControl, x.Track, x.Point, x.Minute, x.Second, x.Frame, x.Zero, x.PMinute,
                       x.PSecond, x.PFrame))
        << i;
  }
  EXPECT_EQ(b.MCN(), a.MCN());
  for (int t = 1; t <= 99; ++t) EXPECT_EQ(b.ISRC(t), a.ISRC(t)) << t;
  ASSERT_EQ(b.CDTextCount(), a.CDTextCount());
  for (int k = 1; k <= a.CDTextCount(); ++k) EXPECT_EQ(b.CDText(k)->PackText(), a.CDText(k)->PackText());
}

TEST(CcdRoundTripTest, TwoSessionsWithLaterSessionRelativeIndexes) {
  ScratchDir dir;
  TOCInformation toc;
  FillTwoSessionDisc(toc);
  FakeDrive drive;
  ASSERT_TRUE(toc.SaveCCDFileEx(Q(dir / "disc.tsn"), &drive, true));
  const std::string text = ReadFileBytes(dir / "disc.tsn");
  EXPECT_NE(text.find("[Track 3]\r\nMODE=1\r\nINDEX 0=-150\r\nINDEX 1=0\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Session 2]\r\nPreGapMode=1\r\nPreGapSubC=0\r\n"), std::string::npos);
  EXPECT_NE(text.find("Sessions=2\r\n"), std::string::npos);
  EXPECT_NE(text.find("CDTextLength=36\r\nCATALOG=4988001234567\r\n"), std::string::npos);

  TOCInformation back;
  StatusRecorder recorder(back);
  ASSERT_TRUE(back.LoadCCDFile(Q(dir / "disc.tsn"))) << recorder.Texts().join(QLatin1Char('\n')).toStdString();
  ExpectSameEntries(toc, back);
  // The same document as the other flavour reads the same way.
  ASSERT_TRUE(back.SaveCCDFile(Q(dir / "disc.ccd")));
  TOCInformation again;
  ASSERT_TRUE(again.LoadCCDFile(Q(dir / "disc.ccd")));
  ExpectSameEntries(toc, again);
}

TEST(CcdRoundTripTest, NinetyNineTracksKeepTheirControlFlags) {
  ScratchDir dir;
  TOCInformation toc;
  std::vector<std::pair<int32_t, uint8_t>> starts;
  int32_t lba = 0;
  for (int t = 1; t <= 99; ++t) {
    const uint8_t control = static_cast<uint8_t>(t % 4);  // pre-emphasis and copy bits
    if (t > 1) {
      toc.TOCAdd(1, static_cast<uint8_t>(t), 0, control, 0, lba, lba + 74);
      lba += 75;
    }
    toc.TOCAdd(1, static_cast<uint8_t>(t), 1, control, 0, lba, lba + 224);
    starts.emplace_back(lba, control);
    lba += 225;
    toc.ISRCAdd(t % 7 == 0 ? QStringLiteral("JPXYZ99%1").arg(t, 5, 10, QLatin1Char('0')) : QString());
  }
  AddSessionRaw(toc, 1, 1, 99, lba, starts);
  ASSERT_EQ(toc.RawTOCCount(), 102);
  ASSERT_TRUE(toc.SaveCCDFile(Q(dir / "disc.ccd")));
  TOCInformation back;
  StatusRecorder recorder(back);
  ASSERT_TRUE(back.LoadCCDFile(Q(dir / "disc.ccd"))) << recorder.Texts().join(QLatin1Char('\n')).toStdString();
  ExpectSameEntries(toc, back);
}

// A descriptor named without a folder is the user's file in the current
// folder, in either flavour, never one beside the program; an empty name
// names no file (and never the program's settings file).
TEST(CcdRoundTripTest, RelativeNamesStayInTheCurrentFolder) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "program");
  std::filesystem::create_directories(dir / "images");
  SetProgramPathForTesting(Q(dir / "program" / "sorvel"));
  const std::string settings = "[PATH]\r\nTEMP=/tmp\r\n";
  WriteFileBytes(dir / "program" / "sorvel.INI", settings);
  TOCInformation toc;
  FillTwoSessionDisc(toc);
  FakeDrive drive;
  {
    testing::ScopedCurrentDir here(dir / "images");
    EXPECT_TRUE(toc.SaveCCDFile(QStringLiteral("disc.ccd")));
    EXPECT_TRUE(toc.SaveCCDFileEx(QStringLiteral("disc.tsn"), &drive, true));
    for (const char* name : {"disc.ccd", "disc.tsn"}) {
      TOCInformation back;
      EXPECT_TRUE(back.LoadCCDFile(QString::fromLatin1(name))) << name;
      ExpectSameEntries(toc, back);
    }
    EXPECT_FALSE(toc.SaveCCDFile(QString()));
    TOCInformation none;
    EXPECT_FALSE(none.LoadCCDFile(QString()));
  }
  SetProgramPathForTesting(QString());
  EXPECT_TRUE(std::filesystem::exists(dir / "images" / "disc.ccd"));
  EXPECT_TRUE(std::filesystem::exists(dir / "images" / "disc.tsn"));
  EXPECT_FALSE(std::filesystem::exists(dir / "program" / "disc.ccd"));
  EXPECT_FALSE(std::filesystem::exists(dir / "program" / "disc.tsn"));
  EXPECT_EQ(ReadFileBytes(dir / "program" / "sorvel.INI"), settings);
  EXPECT_NE(ReadFileBytes(dir / "images" / "disc.tsn").find("[Tessarine]"), std::string::npos);
}

TEST(CcdReadTest, ChecksReportInOrderAndKeepTheModel) {
  ScratchDir dir;
  TOCInformation good;
  FillTwoSessionDisc(good);
  ASSERT_TRUE(good.SaveCCDFile(Q(dir / "good.ccd")));
  const std::string text = ReadFileBytes(dir / "good.ccd");
  auto replaced = [&text](const std::string& from, const std::string& to) {
    std::string copy = text;
    const size_t at = copy.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return copy.replace(at, from.size(), to);
  };
  struct Case {
    std::string document;
    const char* message;
    int tracks;
  };
  const Case cases[] = {
      {replaced("DataTracksScrambled=0", "DataTracksScrambled=1"), "スクランブル化されたイメージには対応していません。",
       5},
      {replaced("TocEntries=9", "TocEntries=10"), "RawTOC情報の数が不正です。", 5},
      {replaced("TocEntries=9\r\n", ""), "RawTOC情報の数が不正です。", 5},
      {replaced("[CDText]\r\nEntries=2", "[CDText]\r\nEntries=3"), "CD-TEXT情報の数が不正です。", 5},
      {replaced("Sessions=2", "Sessions=1"), "セッション数が不正です。", 5},
      {replaced("[Track 1]\r\nISRC=JPABC0000001\r\nMODE=0", "[Track 1]\r\nISRC=JPABC0000001\r\nmode="),
       "TOC情報が見つかりません。", 0},
      {replaced("[Entry 0]\r\nSession=1", "[Entry 0]\r\nSession="), "RawTOC情報が見つかりません。", 5},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "bad.ccd", c.document);
    TOCInformation toc;
    StatusRecorder recorder(toc);
    EXPECT_FALSE(toc.LoadCCDFile(Q(dir / "bad.ccd"))) << c.message;
    EXPECT_EQ(recorder.Texts(), QStringList{QString::fromUtf8(c.message)});
    EXPECT_EQ(toc.TOCCount(), c.tracks) << c.message;
  }
  TOCInformation toc;
  StatusRecorder recorder(toc);
  EXPECT_FALSE(toc.LoadCCDFile(Q(dir / "missing.ccd")));
  EXPECT_TRUE(recorder.events.empty());
}

TEST(CcdReadTest, HandEditedDocumentsStillRead) {
  ScratchDir dir;
  TOCInformation good;
  FillTwoSessionDisc(good);
  ASSERT_TRUE(good.SaveCCDFile(Q(dir / "good.ccd")));
  const std::string text = ReadFileBytes(dir / "good.ccd");
  std::string lf_only;
  for (char c : text) {
    if (c != '\r') lf_only += c;
  }
  std::string upper = text;
  for (const char* from : {"[Track 1]", "[Track 2]", "[Track 3]"}) {
    std::string to = from;
    to.replace(1, 5, "TRACK");
    upper.replace(upper.find(from), to.size(), to);
  }
  std::string lower_hex = text;
  for (size_t at = lower_hex.find("=0xA"); at != std::string::npos; at = lower_hex.find("=0xA", at + 1)) {
    lower_hex[at + 2] = 'X';
    lower_hex[at + 3] = 'a';
  }
  for (const std::string& document : {lf_only, upper, lower_hex}) {
    WriteFileBytes(dir / "edited.ccd", document);
    TOCInformation toc;
    StatusRecorder recorder(toc);
    ASSERT_TRUE(toc.LoadCCDFile(Q(dir / "edited.ccd"))) << recorder.Texts().join(QLatin1Char('\n')).toStdString();
    ExpectSameEntries(good, toc);
  }
}

TEST(CcdReadTest, MalformedValuesFailClearly) {
  ScratchDir dir;
  TOCInformation good;
  FillTwoSessionDisc(good);
  ASSERT_TRUE(good.SaveCCDFile(Q(dir / "good.ccd")));
  const std::string text = ReadFileBytes(dir / "good.ccd");
  const std::pair<const char*, const char*> edits[] = {
      {"PMin=0", "PMin=256"},
      {"PMin=0", "PMin=-1"},
      {"AMin=0", "AMin=99999999999999999999"},
      {"TrackNo=0", "TrackNo=x"},
      {"MODE=0", "MODE=7"},
      {"INDEX 1=0", "INDEX 1=4294967296"},
      {"INDEX 1=0", "INDEX 1=zero"},
      {"Entry 0=80 00", "Entry 0=80 0G"},
      {"Entry 0=80 00", "Entry 0=80 00 00"},
  };
  for (const auto& [from, to] : edits) {
    std::string document = text;
    const size_t at = document.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    document.replace(at, std::strlen(from), to);
    WriteFileBytes(dir / "bad.ccd", document);
    TOCInformation toc;
    StatusRecorder recorder(toc);
    EXPECT_FALSE(toc.LoadCCDFile(Q(dir / "bad.ccd"))) << to;
    ASSERT_EQ(recorder.events.size(), 1u) << to;
    EXPECT_TRUE(recorder.events[0].second.startsWith(QStringLiteral("CCDFileError: Invalid value : ["))) << to;
    EXPECT_EQ(toc.TOCCount() + toc.RawTOCCount(), 0) << to;
  }
}

// A document that reads as a TOC no disc can have: tracks out of order, a
// start past the lead-out or beyond what a CD addresses, a lead-out at 0 or
// missing. It fails with the first problem named; the model stays as read.
TEST(CcdReadTest, TocsNoDiscCanHaveAreRefused) {
  ScratchDir dir;
  TOCInformation good;
  // Two audio tracks, 0-199 and 200-399, and the lead-out at 00:07:25.
  good.TOCAdd(1, 1, 1, 0, 0, 0, 199);
  good.TOCAdd(1, 2, 1, 0, 0, 200, 399);
  AddSessionRaw(good, 1, 1, 2, 400, {{0, 0}, {200, 0}});
  ASSERT_TRUE(good.SaveCCDFile(Q(dir / "good.ccd")));
  const std::string text = ReadFileBytes(dir / "good.ccd");
  {
    TOCInformation back;
    ASSERT_TRUE(back.LoadCCDFile(Q(dir / "good.ccd")));
    ExpectSameEntries(good, back);
  }
  const std::string track1 = "[Track 1]\r\nMODE=0\r\nINDEX 1=0\r\n";
  const std::string track2 = "[Track 2]\r\nMODE=0\r\nINDEX 1=200\r\n";
  const std::string lead_out = "PMin=0\r\nPSec=7\r\nPFrame=25\r\n";
  struct Case {
    std::vector<std::pair<std::string, std::string>> edits;
    const char* message;
  };
  const Case cases[] = {
      {{{track1, "[Track 1]\r\nMODE=0\r\nINDEX 1=1000000000\r\n"}},
       "CCDFileError: Invalid value : [Track 1] INDEX 1=1000000000"},
      {{{track1, "[Track 1]\r\nMODE=0\r\nINDEX 1=300\r\n"}, {track2, "[Track 2]\r\nMODE=0\r\nINDEX 1=0\r\n"}},
       "CCDFileError: Invalid value : [Track 2] INDEX 1=0"},
      {{{track2, "[Track 2]\r\nMODE=0\r\nINDEX 0=250\r\nINDEX 1=200\r\n"}},
       "CCDFileError: Invalid value : [Track 2] INDEX 1=200"},
      {{{track1, "[Track 1]\r\nMODE=0\r\nINDEX 1=0\r\nINDEX 2=-100\r\n"}},
       "CCDFileError: Invalid value : [Track 1] INDEX 2=-100"},
      {{{track1, "[Track 1]\r\nMODE=0\r\nINDEX 0=-151\r\nINDEX 1=0\r\n"}},
       "CCDFileError: Invalid value : [Track 1] INDEX 0=-151"},
      {{{lead_out, "PMin=0\r\nPSec=0\r\nPFrame=0\r\n"}}, "CCDFileError: Invalid lead-out : [Entry 2] 00:00:00"},
      {{{lead_out, "PMin=0\r\nPSec=4\r\nPFrame=50\r\n"}}, "CCDFileError: Invalid lead-out : [Entry 2] 00:04:50"},
      {{{lead_out, "PMin=120\r\nPSec=7\r\nPFrame=25\r\n"}}, "CCDFileError: Invalid lead-out : [Entry 2] 120:07:25"},
      {{{"Point=0xA2", "Point=0xB0"}}, "CCDFileError: Missing lead-out : Session 1"},
  };
  for (const Case& c : cases) {
    std::string document = text;
    for (const auto& [from, to] : c.edits) {
      const size_t at = document.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      document.replace(at, from.size(), to);
    }
    WriteFileBytes(dir / "bad.ccd", document);
    TOCInformation toc;
    StatusRecorder recorder(toc);
    EXPECT_FALSE(toc.LoadCCDFile(Q(dir / "bad.ccd"))) << c.message;
    EXPECT_EQ(recorder.Texts(), QStringList{QString::fromUtf8(c.message)});
    EXPECT_GT(toc.TOCCount(), 0) << c.message;
  }
}

// A second session that begins before the first one's lead-out.
TEST(CcdReadTest, SessionsThatOverlapAreRefused) {
  ScratchDir dir;
  TOCInformation toc;
  FillTwoSessionDisc(toc);
  ASSERT_TRUE(toc.SaveCCDFile(Q(dir / "two.ccd")));
  std::string text = ReadFileBytes(dir / "two.ccd");
  // Session 1's lead-out from LBA 9000 (02:02:00) to LBA 25000 (05:35:25), past session 2's start at 20000.
  const std::string from = "PMin=2\r\nPSec=2\r\nPFrame=0\r\n";
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, from.size(), "PMin=5\r\nPSec=35\r\nPFrame=25\r\n");
  WriteFileBytes(dir / "two.ccd", text);
  TOCInformation back;
  StatusRecorder recorder(back);
  EXPECT_FALSE(back.LoadCCDFile(Q(dir / "two.ccd")));
  EXPECT_EQ(recorder.Texts(), QStringList{QStringLiteral("CCDFileError: Invalid lead-out : [Entry 2] 05:35:25")});
}

TEST(CcdReadTest, TruncatedAndShuffledDocumentsNeverCrash) {
  ScratchDir dir;
  TOCInformation good;
  FillTwoSessionDisc(good);
  ASSERT_TRUE(good.SaveCCDFile(Q(dir / "good.ccd")));
  const std::string text = ReadFileBytes(dir / "good.ccd");
  for (size_t cut = 0; cut < text.size(); cut += 7) {
    WriteFileBytes(dir / "cut.ccd", text.substr(0, cut));
    TOCInformation toc;
    toc.LoadCCDFile(Q(dir / "cut.ccd"));
    EXPECT_LE(toc.TOCCount(), good.TOCCount());
  }
  // Sections in reverse order, a session number of 0 and a track beyond 99.
  std::string extra = text + "[Track 100]\r\nMODE=0\r\nINDEX 1=5\r\n\r\n[Entry 10]\r\nSession=0\r\n\r\n";
  WriteFileBytes(dir / "extra.ccd", extra);
  TOCInformation toc;
  toc.LoadCCDFile(Q(dir / "extra.ccd"));
  EXPECT_EQ(toc.TOCCount(), good.TOCCount());
}

// Python's configparser reads every descriptor we write.
TEST(CcdToolTest, ConfigParserAcceptsCcdAndTsn) {
  if (!testing::RequireTool("python3")) return;
  ScratchDir dir;
  TOCInformation toc;
  FillTwoSessionDisc(toc);
  FakeDrive drive;
  ASSERT_TRUE(toc.SaveCCDFile(Q(dir / "disc.ccd")));
  ASSERT_TRUE(toc.SaveCCDFileEx(Q(dir / "disc.tsn"), &drive, true));
  const std::string script =
      "import configparser, sys\n"
      "for name in sys.argv[1:]:\n"
      "    c = configparser.ConfigParser(interpolation=None)\n"
      "    c.optionxform = str\n"
      "    with open(name, encoding='utf-8', newline='') as f:\n"
      "        c.read_file(f)\n"
      "    print(name.rsplit('.', 1)[1], ','.join(c.sections()), c['Disc']['TocEntries'],\n"
      "          c['Track 3']['INDEX 0'], c['CDText']['Entry 1'])\n";
  WriteFileBytes(dir / "check.py", script);
  std::string out;
  ASSERT_EQ(testing::RunCommand("python3 " + (dir / "check.py").string() + " " + (dir / "disc.ccd").string() + " " +
                                    (dir / "disc.tsn").string() + " 2>&1",
                                &out),
            0)
      << out;
  const std::string entries = "Entry 0,Entry 1,Entry 2,Entry 3,Entry 4,Entry 5,Entry 6,Entry 7,Entry 8,";
  const std::string tail =
      "Session 1,Track 1,Track 2,Session 2,Track 3 9 -150 81 01 01 0F 61 61 61 61 61 61 61 61 61 61 61 61\n";
  EXPECT_EQ(out, "ccd CloneCD,Disc,CDText," + entries + tail + "tsn Tessarine,ReadDrive,Disc,CDText," + entries + tail);
}

}  // namespace
}  // namespace sorvel
