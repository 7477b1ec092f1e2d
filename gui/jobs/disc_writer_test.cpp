#include "gui/jobs/disc_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "gui/jobs/disc_reader.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/job_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fake_forms.h"

namespace sorvel {
namespace {

using testing::DrivesRig;
using testing::JobRecorder;
using testing::JobRig;
using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::UserDataOfRawImage;

// Reads the disc in `device` back into `<base>.img` (CD) or `<base>.iso`.
bool ReadBack(Trelin& device, const std::filesystem::path& base) {
  DiscReader reader;
  return reader.StartReadCompatible(device, Q(base));
}

// Reads the pressed disc in the rig's first drive raw, with its 96-byte
// subchannel and first pregap, into "<base>.img", ".sub", ".pre" and ".tsn".
void ReadRawWithSideFiles(DrivesRig& rig, const std::filesystem::path& base) {
  rig.ChangeSettings([](DeviceSetting& s) {
    s.CDReadCommand = CCC_RAW96;
    s.ReadFirstPregap = true;
  }, 0);
  ASSERT_TRUE(ReadBack(rig.device(0), base));
}

TEST(DiscWriterTest, SectorHeaderAddresses) {
  QByteArray sector(2352, '\0');
  EXPECT_EQ(DiscWriter::SectorHeaderLBA(sector), 0);  // no sync
  const char sync[12] = {0, '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', 0};
  std::copy(sync, sync + 12, sector.begin());
  const struct {
    uint8_t m, s, f;
    int32_t lba;
  } cases[] = {{0x00, 0x02, 0x00, 0}, {0x00, 0x02, 0x49, 49}, {0x01, 0x00, 0x00, 4350}, {0x79, 0x59, 0x74, 359849}};
  for (const auto& c : cases) {
    sector[12] = static_cast<char>(c.m);
    sector[13] = static_cast<char>(c.s);
    sector[14] = static_cast<char>(c.f);
    EXPECT_EQ(DiscWriter::SectorHeaderLBA(sector), c.lba);
  }
}

class IsoWriteTest : public ::testing::TestWithParam<const char*> {};

// An ISO made by xorriso, written with verification and read back.
TEST_P(IsoWriteTest, WrittenVerifiedAndReadBackEqual) {
  ASSERT_TRUE(testing::RequireTool("xorriso"));
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "tree" / "sub");
  testing::WriteFileBytes(dir.path() / "tree" / "a.txt", std::string(70000, 'a'));
  testing::WriteFileBytes(dir.path() / "tree" / "sub" / "b.bin", std::string(3000, '\x7F'));
  const std::filesystem::path iso = dir.path() / "Made.ISO";  // the extension is taken without regard to case
  ASSERT_EQ(testing::RunCommand("xorriso -as mkisofs -quiet -J -o '" + iso.string() + "' '" +
                                (dir.path() / "tree").string() + "' 2>&1"),
            0);
  JobRig rig(dir, std::string("medium=") + GetParam());
  ASSERT_TRUE(rig.opened());
  testing::FakeForms forms;
  forms.QueueIsReadyResult(true);
  DiscWriter writer;
  DiscVerifier verifier;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteCompatible(rig.device(), Q(iso), &verifier)) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:TOCを設定しました。"));
  const bool cd = std::string(GetParam()) == "cd-r";
  EXPECT_EQ(events.Has("0:CDの書き込みを開始します。"), cd);
  EXPECT_EQ(events.Has("0:DVD/BD/HDDVDの書き込みを開始します。"), !cd);
  EXPECT_TRUE(events.WithPrefix("0:書き込みコマンドに").isEmpty() == !cd);
  JobRecorder checks(verifier);
  EXPECT_TRUE(verifier.StartVerify(rig.device(), writer.LastTOC())) << checks.lines.join("\n").toStdString();
  EXPECT_TRUE(checks.Has("0:ディスクは正常です。"));

  ASSERT_TRUE(ReadBack(rig.device(), dir.path() / "back"));
  const std::string source = ReadFileBytes(iso);
  if (cd) {
    EXPECT_TRUE(UserDataOfRawImage(ReadFileBytes(dir.path() / "back.img")) == source);
  } else {
    EXPECT_TRUE(ReadFileBytes(dir.path() / "back.iso") == source);
  }
}

INSTANTIATE_TEST_SUITE_P(Media, IsoWriteTest, ::testing::Values("dvd+r", "cd-r", "dvd-r", "bd-r"));

class TsnWriteTest : public ::testing::TestWithParam<int32_t> {};

// A pressed disc read into ".img", ".sub", ".pre" and ".tsn", written back in
// each CD write mode to a blank CD-R and read again: the same disc.
TEST_P(TsnWriteTest, ReadImageWrittenInEachModeReadsBackIdentical) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(
      dir.path(), "p", {{false, 0, 400, "", false}, {true, 150, 300, "JPXYZ2600007", false}}, "4900000000001");
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  ReadRawWithSideFiles(rig, dir.path() / "src");
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "src.pre"));
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "src.sub"));

  const int32_t mode = GetParam();
  rig.ChangeSettings([&](DeviceSetting& s) {
    s.CDWriteCommand = mode;
    s.ForceEject = false;
    s.CDReadCommand = CCC_RAW;
  }, 1);
  DiscWriter writer;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "src.tsn"), nullptr))
      << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:サブチャンネルファイルを開きました。"));
  EXPECT_TRUE(events.Has("0:ファーストプリギャップファイルを開きました。"));
  EXPECT_TRUE(events.Has("0:ファーストプリギャップを書き込み中。"));
  ASSERT_TRUE(ReadBack(rig.device(1), dir.path() / "copy"));
  EXPECT_TRUE(ReadFileBytes(dir.path() / "copy.img") == ReadFileBytes(disc.bin));
}

INSTANTIATE_TEST_SUITE_P(WriteModes, TsnWriteTest, ::testing::Values(CCC_SAO, CCC_SAO_RAW, CCC_DAO_RAW16, CCC_DAO_RAW96));

TEST(DiscWriterFailureTest, RefusedNamesInjectedWriteErrorsAndStops) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "f", {{false, 0, 600, "", false}});
  JobRig rig(dir, "medium=cd-r");
  ASSERT_TRUE(rig.opened());
  DiscWriter writer;
  JobRecorder events(writer);

  // Another extension: refused before the drive is touched beyond its settings.
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(disc.bin), nullptr));
  EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 は開けないか、若しくは未対応の形式です。").arg(Q(disc.bin))));
  EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));

  // A WRITE that fails at a chosen sector.
  rig.drive().hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.write_error_lba = 300; });
  events.lines.clear();
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(disc.cue), nullptr));
  const QStringList errors = events.WithPrefix("2:");
  ASSERT_FALSE(errors.isEmpty()) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(errors.last().startsWith("2:セクタ ") && errors.last().endsWith(" の書き込みに失敗しました。"))
      << errors.join("\n").toStdString();
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
  EXPECT_TRUE(events.Has("0:扉を開放しました。"));
}

TEST(DiscWriterFailureTest, StopAndShortImage) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 600, "", false}});
  {
    JobRig rig(dir, "medium=cd-r");
    ASSERT_TRUE(rig.opened());
    DiscWriter writer;
    JobRecorder events(writer);
    QObject::connect(&writer, &DiscJob::Progress, [&](int32_t value, int32_t) {
      if (value == 20) writer.StopWrite();
    });
    EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(disc.cue), nullptr));
    EXPECT_TRUE(events.WithPrefix("2:セクタ ").size() == 1) << events.lines.join("\n").toStdString();
    EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
  }
  // An image cut short of its descriptor: refused before the session starts,
  // the blank stays blank.
  ScratchDir second;
  DrivesRig rig(second, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  ASSERT_TRUE(ReadBack(rig.device(0), second.path() / "short"));
  std::filesystem::resize_file(second.path() / "short.img", 100 * 2352);
  DiscWriter writer;
  JobRecorder events(writer);
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(1), Q(second.path() / "short.tsn"), nullptr));
  EXPECT_TRUE(events.Has(QStringLiteral("2:イメージファイル %1 が途切れています。").arg(Q(second.path() / "short.img"))))
      << events.lines.join("\n").toStdString();
  EXPECT_FALSE(events.Has("0:CDの書き込みを開始します。"));
  EXPECT_TRUE(rig.device(1).IsMediaWritable());
}

// Nothing reached the drive's medium: no lock, no write, the blank still blank.
void ExpectDriveUntouched(DrivesRig& rig, size_t drive, const QStringList& lines) {
  EXPECT_TRUE(rig.drive(drive).Commands(0x1E).empty()) << lines.join("\n").toStdString();  // PREVENT ALLOW MEDIUM REMOVAL
  EXPECT_TRUE(rig.drive(drive).Commands(0x2A).empty());                                 // WRITE (10)
  EXPECT_TRUE(rig.drive(drive).Commands(0xAA).empty());                                 // WRITE (12)
  EXPECT_TRUE(rig.device(drive).IsMediaWritable());
}

std::string FixtureImage(int32_t first_lba, int count, bool audio) {
  std::string bytes;
  for (int32_t lba = first_lba; lba < first_lba + count; ++lba) {
    const auto sector = testing::FixtureSector(audio, lba);
    bytes.append(reinterpret_cast<const char*>(sector.data()), sector.size());
  }
  return bytes;
}

// Descriptors that no disc can have are refused with their reader's text
// before the drive is touched: the ".ccd" whose track starts past its
// lead-out (once written "successfully" with nothing of the image on the
// disc), tracks out of order, a lead-out at 0, and a CUE time beyond 32 bits.
TEST(DiscWriterDescriptorTest, TocsNoDiscCanHaveNeverReachTheDrive) {
  ScratchDir dir;
  TOCInformation toc;
  // Two data tracks, 0-199 and 200-399, and the lead-out at 00:07:25.
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 199);
  toc.TOCAdd(1, 2, 1, 4, 1, 200, 399);
  toc.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(1, 0x14, 0, 0xA1, 0, 0, 0, 0, 2, 0, 0);
  toc.RawTOCAdd(1, 0x14, 0, 0xA2, 0, 0, 0, 0, 0, 7, 25);
  toc.RawTOCAdd(1, 0x14, 0, 0x01, 0, 0, 0, 0, 0, 2, 0);
  toc.RawTOCAdd(1, 0x14, 0, 0x02, 0, 0, 0, 0, 0, 4, 50);
  ASSERT_TRUE(toc.SaveCCDFile(Q(dir.path() / "base.ccd")));
  const std::string ccd = ReadFileBytes(dir.path() / "base.ccd");
  const std::string image = FixtureImage(0, 400, false);
  struct Case {
    const char* name;
    std::string extension;
    std::string document;
    const char* message;
  };
  auto edited = [&ccd](std::vector<std::pair<std::string, std::string>> edits) {
    std::string text = ccd;
    for (const auto& [from, to] : edits) {
      const size_t at = text.find(from);
      EXPECT_NE(at, std::string::npos) << from;
      if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
  };
  const std::string track1 = "[Track 1]\r\nMODE=1\r\nINDEX 1=0\r\n";
  const std::string track2 = "[Track 2]\r\nMODE=1\r\nINDEX 1=200\r\n";
  const Case cases[] = {
      {"past", ".ccd", edited({{track1, "[Track 1]\r\nMODE=1\r\nINDEX 1=1000000000\r\n"}, {track2, ""},
                               {"PMin=2\r\n", "PMin=1\r\n"}}),
       "2:CCDFileError: Invalid value : [Track 1] INDEX 1=1000000000"},
      {"order", ".ccd",
       edited({{track1, "[Track 1]\r\nMODE=1\r\nINDEX 1=300\r\n"}, {track2, "[Track 2]\r\nMODE=1\r\nINDEX 1=0\r\n"}}),
       "2:CCDFileError: Invalid value : [Track 2] INDEX 1=0"},
      {"zero", ".ccd", edited({{"PMin=0\r\nPSec=7\r\nPFrame=25\r\n", "PMin=0\r\nPSec=0\r\nPFrame=0\r\n"}}),
       "2:CCDFileError: Invalid lead-out : [Entry 2] 00:00:00"},
      {"wide", ".cue", "FILE \"wide.img\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 477219:00:00\r\n",
       "2:CUEFileError: Invalid index :     INDEX 01 477219:00:00"},
  };
  JobRig rig(dir, "medium=cd-r");
  ASSERT_TRUE(rig.opened());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path descriptor = dir.path() / (std::string(c.name) + c.extension);
    testing::WriteFileBytes(descriptor, c.document);
    testing::WriteFileBytes(dir.path() / (std::string(c.name) + ".img"), image);
    rig.drive().hooks().ClearLog();
    DiscWriter writer;
    JobRecorder events(writer);
    EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(descriptor), nullptr));
    EXPECT_TRUE(events.Has(QString::fromUtf8(c.message))) << events.lines.join("\n").toStdString();
    EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 は開けないか、若しくは未対応の形式です。").arg(Q(descriptor))));
    EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
    ExpectDriveUntouched(rig, 0, events.lines);
  }
}

// Writes `descriptor` to the blank in the rig's first drive, with every
// sector recorded for the verification that follows and finds the disc sound.
void WriteVerified(JobRig& rig, const std::filesystem::path& descriptor) {
  testing::FakeForms forms;
  forms.QueueIsReadyResult(true);
  DiscWriter writer;
  DiscVerifier verifier;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteCompatible(rig.device(), Q(descriptor), &verifier))
      << events.lines.join("\n").toStdString();
  JobRecorder checks(verifier);
  EXPECT_TRUE(verifier.StartVerify(rig.device(), writer.LastTOC())) << checks.lines.join("\n").toStdString();
  EXPECT_TRUE(checks.Has("0:ディスクは正常です。"));
}

// A first track whose INDEX 01 lies after the image's start ("INDEX 01
// 00:02:00" without an "INDEX 00", a ".ccd" "INDEX 1=150" without "INDEX 0")
// has the image's first 150 sectors as its pregap: every image sector is
// written, and verified, at the address the sheet gives it. (Once image
// sector 0 landed at LBA 150, the last 150 sectors were lost, and the
// verification found the disc sound.)
TEST(DiscWriterDescriptorTest, FirstIndexAfterTheImageStartKeepsEverySectorInPlace) {
  ASSERT_TRUE(testing::RequireTool("cdrdao"));
  constexpr int kSectors = 600;
  const struct {
    const char* name;
    bool audio;
    bool ccd;
  } cases[] = {{"cue audio", true, false}, {"cue mode 1", false, false}, {"ccd mode 1", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string image = FixtureImage(0, kSectors, c.audio);
    testing::WriteFileBytes(dir.path() / "late.img", image);
    std::filesystem::path descriptor = dir.path() / "late.cue";
    if (c.ccd) {
      TOCInformation toc;
      toc.TOCAdd(1, 1, 1, 4, 1, 150, kSectors - 1);
      toc.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
      toc.RawTOCAdd(1, 0x14, 0, 0xA1, 0, 0, 0, 0, 1, 0, 0);
      toc.RawTOCAdd(1, 0x14, 0, 0xA2, 0, 0, 0, 0, 0, 10, 0);
      toc.RawTOCAdd(1, 0x14, 0, 0x01, 0, 0, 0, 0, 0, 4, 0);
      descriptor = dir.path() / "late.ccd";
      ASSERT_TRUE(toc.SaveCCDFile(Q(descriptor)));
      const std::string text = ReadFileBytes(descriptor);
      ASSERT_NE(text.find("INDEX 1=150"), std::string::npos) << text;
      ASSERT_EQ(text.find("INDEX 0="), std::string::npos) << text;
    } else {
      testing::WriteFileBytes(descriptor, std::string("FILE \"late.img\" BINARY\r\n  TRACK 01 ") +
                                              (c.audio ? "AUDIO" : "MODE1/2352") + "\r\n    INDEX 01 00:02:00\r\n");
    }
    JobRig rig(dir, "medium=cd-r");
    ASSERT_TRUE(rig.opened());
    ASSERT_NO_FATAL_FAILURE(WriteVerified(rig, descriptor));

    // Track 1 starts where the sheet put it, and each LBA holds the image's sector of that number.
    const auto disc = rig.device().GetTOCStructure();
    QStringList entries;
    for (int i = 1; i <= disc->TOCCount(); ++i) {
      const model::TOCTrack* e = disc->TOC(i);
      entries << QStringLiteral("%1.%2 %3-%4").arg(e->TrackNo).arg(e->IndexNo).arg(e->StartLBA).arg(e->EndLBA);
    }
    EXPECT_EQ(entries, QStringList({QStringLiteral("1.0 0-149"), QStringLiteral("1.1 150-%1").arg(kSectors - 1)}));
    // cdrdao reads the disc's TOC, as a sheet of the image, as the image's
    // first 150 sectors recorded as track 1's pregap.
    ASSERT_TRUE(disc->SaveCUEFile(Q(dir.path() / "disc.cue"), Q(dir.path() / "late.img"), QString(), 2352));
    std::string shown;
    ASSERT_EQ(testing::RunCommand("cd '" + dir.path().string() + "' && cdrdao show-toc disc.cue 2>&1", &shown), 0)
        << shown;
    EXPECT_NE(shown.find("PREGAP 00:02:00(   150)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("START  00:02:00(   150)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("END    00:08:00(   600)"), std::string::npos) << shown;
    ASSERT_EQ(rig.device().ReadStart(CCC_RAW, 0), CBR_OK);
    QByteArray sector(Trelin::kSectorBufferSize, '\0');
    int wrong = 0;
    for (int32_t lba = 0; lba < kSectors; ++lba) {
      ASSERT_TRUE(rig.device().ReadLBA(sector, lba)) << lba;
      if (sector.left(2352).toStdString() != image.substr(static_cast<size_t>(lba) * 2352, 2352)) {
        if (wrong++ == 0) ADD_FAILURE() << "first wrong sector at LBA " << lba;
      }
    }
    EXPECT_EQ(wrong, 0);
    rig.device().ReadEnd();
  }
}

// The same sheet of 2,048-byte sectors to a DVD: the image read back is the image.
TEST(DiscWriterDescriptorTest, FirstIndexAfterTheImageStartOnADvdKeepsEverySectorInPlace) {
  ScratchDir dir;
  std::string image;
  for (int k = 0; k < 600; ++k) image += std::string(2048, static_cast<char>(k * 7 + 1)).replace(0, 4, std::to_string(1000 + k));
  testing::WriteFileBytes(dir.path() / "late.iso", image);
  testing::WriteFileBytes(dir.path() / "late.cue",
                          "FILE \"late.iso\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:02:00\r\n");
  JobRig rig(dir, "medium=dvd-r");
  ASSERT_TRUE(rig.opened());
  ASSERT_NO_FATAL_FAILURE(WriteVerified(rig, dir.path() / "late.cue"));
  ASSERT_TRUE(ReadBack(rig.device(), dir.path() / "back"));
  EXPECT_TRUE(ReadFileBytes(dir.path() / "back.iso") == image);
}

// A sheet with more entries or CD-Text packs than a write takes is refused
// whole before the tray is locked: 99 tracks of three indexes (296 entries,
// once written with tracks 68-99 missing from the disc's TOC) and a
// CDTEXTFILE of 2,048 packs (once written as its first 512).
TEST(DiscWriterDescriptorTest, SheetsBeyondTheWriteLimitsNeverReachTheDrive) {
  ScratchDir dir;
  constexpr int kSectorsPerIndex = 10;
  std::string many = "FILE \"many.img\" BINARY\r\n";
  int entries = 0;
  auto time = [](int frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 4500, frames / 75 % 60, frames % 75);
    return std::string(text);
  };
  for (int track = 1; track <= 99; ++track) {
    char line[32];
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\r\n", track);
    many += line;
    for (int index = track == 1 ? 1 : 0; index <= 2; ++index) {
      std::snprintf(line, sizeof line, "    INDEX %02d ", index);
      many += line + time(entries++ * kSectorsPerIndex) + "\r\n";
    }
  }
  ASSERT_EQ(entries, 296);
  testing::WriteFileBytes(dir.path() / "many.cue", many);
  testing::WriteFileBytes(dir.path() / "many.img", FixtureImage(0, entries * kSectorsPerIndex, true));

  std::string packs;
  for (int i = 0; i < 2048; ++i) packs += std::string(1, '\x80') + std::string(17, static_cast<char>(i));
  testing::WriteFileBytes(dir.path() / "texts.cdt", packs);
  testing::WriteFileBytes(dir.path() / "texts.cue",
                          "CDTEXTFILE \"texts.cdt\"\r\nFILE \"texts.img\" BINARY\r\n  TRACK 01 AUDIO\r\n"
                          "    INDEX 01 00:00:00\r\n");
  testing::WriteFileBytes(dir.path() / "texts.img", FixtureImage(0, 300, true));

  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {"many.cue", "2:TOCの項目が多すぎます (296 項目、書き込めるのは 200 項目までです)。"},
      {"texts.cue", "2:CD-TEXTのパックが多すぎます (2048 パック、書き込めるのは 512 パックまでです)。"},
  };
  JobRig rig(dir, "medium=cd-r");
  ASSERT_TRUE(rig.opened());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.drive().hooks().ClearLog();
    DiscWriter writer;
    JobRecorder events(writer);
    EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(dir.path() / c.name), nullptr));
    EXPECT_TRUE(events.Has(QString::fromUtf8(c.message))) << events.lines.join("\n").toStdString();
    EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
    ExpectDriveUntouched(rig, 0, events.lines);
  }
}

// A raw image read with its ".sub" and ".pre": each file cut short is refused
// before the tray is locked.
TEST(DiscWriterDescriptorTest, SideFilesCutShortNeverReachTheDrive) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "p", {{false, 0, 400, "", false}});
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  ReadRawWithSideFiles(rig, dir.path() / "src");
  const struct {
    const char* extension;
    uintmax_t size;
    const char* message;
  } cases[] = {
      {".img", 399 * 2352, "2:イメージファイル %1 が途切れています。"},
      {".sub", 399 * 96, "2:サブチャンネルファイル %1 が途切れています。"},
      {".pre", 149 * 2352, "2:ファーストプリギャップファイル %1 が途切れています。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    for (const char* extension : {".img", ".sub", ".pre", ".tsn"}) {
      std::filesystem::copy_file(dir.path() / (std::string("src") + extension),
                                 dir.path() / (std::string("cut") + extension),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    std::filesystem::resize_file(dir.path() / (std::string("cut") + c.extension), c.size);
    rig.drive(1).hooks().ClearLog();
    DiscWriter writer;
    JobRecorder events(writer);
    EXPECT_FALSE(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "cut.tsn"), nullptr));
    const QString cut = Q(dir.path() / (std::string("cut") + c.extension));
    EXPECT_TRUE(events.Has(QString::fromUtf8(c.message).arg(cut))) << events.lines.join("\n").toStdString();
    EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));
    ExpectDriveUntouched(rig, 1, events.lines);
  }
}

// The header address of a raw data sector moves the write: back over a
// sector the image holds twice, the disc is whole; forward, addresses are
// left unwritten and the write fails as it ends instead of passing.
TEST(DiscWriterDescriptorTest, WriteEndsWithExactlyTheSectorsOfTheToc) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "p", {{false, 0, 400, "", false}});
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r", "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  ReadRawWithSideFiles(rig, dir.path() / "src");
  const std::string img = ReadFileBytes(dir.path() / "src.img");
  const std::string sub = ReadFileBytes(dir.path() / "src.sub");
  const std::string tsn = ReadFileBytes(dir.path() / "src.tsn");
  ASSERT_EQ(img.size(), 400u * 2352);

  // Sector 100 twice in the image (and its subchannel twice beside it).
  testing::WriteFileBytes(dir.path() / "twice.img", img.substr(0, 101 * 2352) + img.substr(100 * 2352));
  testing::WriteFileBytes(dir.path() / "twice.sub", sub.substr(0, 101 * 96) + sub.substr(100 * 96));
  testing::WriteFileBytes(dir.path() / "twice.tsn", tsn);
  // Sector 100 claiming to be sector 105 (00:03:30).
  std::string forward = img;
  forward[100 * 2352 + 12] = 0x00;
  forward[100 * 2352 + 13] = 0x03;
  forward[100 * 2352 + 14] = 0x30;
  testing::WriteFileBytes(dir.path() / "ahead.img", forward);
  testing::WriteFileBytes(dir.path() / "ahead.sub", sub);
  testing::WriteFileBytes(dir.path() / "ahead.tsn", tsn);

  for (size_t i : {size_t{1}, size_t{2}}) {
    rig.ChangeSettings([](DeviceSetting& s) {
      s.CDWriteCommand = CCC_DAO_RAW96;
      s.CDReadCommand = CCC_RAW;
    }, i);
  }
  {
    DiscWriter writer;
    JobRecorder events(writer);
    ASSERT_TRUE(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "twice.tsn"), nullptr))
        << events.lines.join("\n").toStdString();
    EXPECT_TRUE(events.Has("1:重複セクタによる差し戻し 101 to 100"));
    ASSERT_TRUE(ReadBack(rig.device(1), dir.path() / "back"));
    EXPECT_TRUE(ReadFileBytes(dir.path() / "back.img") == img);
  }
  DiscWriter writer;
  JobRecorder events(writer);
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(2), Q(dir.path() / "ahead.tsn"), nullptr));
  EXPECT_TRUE(events.Has("1:重複セクタによる差し戻し 100 to 105"));
  const int64_t sectors = writer.LastTOC()->SectorCount();
  EXPECT_TRUE(events.Has(QStringLiteral("2:書き込んだセクタ数 %1 がTOCのセクタ数 %2 と一致しません。").arg(sectors - 5).arg(sectors)))
      << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
}

// A two-session disc read into ".img", ".sub" and ".ccd" and written back:
// in each raw mode both sessions reach the disc with every sector, and a
// drive that records only the first session fails the job when its TOC is
// read back; a session-at-once mode, which writes one session, is refused
// before anything reaches the blank.
enum class SessionOutcome { kWhole, kDropped, kRefused };

struct SessionWriteCase {
  const char* name;
  int32_t mode;
  int raw_pass_session_limit;
  SessionOutcome outcome;
};

class TwoSessionWriteTest : public ::testing::TestWithParam<SessionWriteCase> {};

TEST_P(TwoSessionWriteTest, CcdOfATwoSessionDiscWrittenBack) {
  const SessionWriteCase& c = GetParam();
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeTwoSessionImage(dir.path(), "two");
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW96; }, 0);
  ASSERT_TRUE(ReadBack(rig.device(0), dir.path() / "src"));
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "src.ccd"));
  rig.ChangeSettings([&](DeviceSetting& s) {
    s.CDWriteCommand = c.mode;
    s.ForceEject = false;
  }, 1);
  rig.drive(1).hooks().UpdateFaults([&](platform::emu::DriveFaults& f) {
    f.raw_pass_session_limit = c.raw_pass_session_limit;
  });
  rig.drive(1).hooks().ClearLog();
  DiscWriter writer;
  JobRecorder events(writer);
  EXPECT_EQ(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "src.ccd"), nullptr),
            c.outcome == SessionOutcome::kWhole)
      << events.lines.join("\n").toStdString();
  EXPECT_EQ(events.WithPrefix("0:Session=2, Track=2, Index=1 From 11700 to").size(),
            c.outcome == SessionOutcome::kRefused ? 0 : 1)
      << events.lines.join("\n").toStdString();
  switch (c.outcome) {
    case SessionOutcome::kWhole:
      EXPECT_EQ(testing::CdDifferences(*rig.drive(0).drive(), *rig.drive(1).drive()), "");
      break;
    case SessionOutcome::kDropped:
      EXPECT_EQ(events.WithPrefix("2:").value(0),
                QStringLiteral("2:ディスクのセッション数 1・トラック数 1 が書き込んだTOCのセッション数 2・トラック数 2 と一致しません。"))
          << events.lines.join("\n").toStdString();
      EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
      break;
    case SessionOutcome::kRefused:
      EXPECT_EQ(events.WithPrefix("2:"), QStringList{"2:指定された書き込みコマンドは利用できません。"})
          << events.lines.join("\n").toStdString();
      EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
      // BLANK, SEND OPC, SEND CUE SHEET, WRITE(10), WRITE(12): none sent.
      for (uint8_t op : {0xA1, 0x54, 0x5D, 0x2A, 0xAA}) EXPECT_TRUE(rig.drive(1).Commands(op).empty()) << int(op);
      EXPECT_TRUE(rig.device(1).IsDiscEmpty());
      EXPECT_TRUE(events.Has("0:扉を開放しました。"));
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TwoSessionWriteTest,
    ::testing::Values(SessionWriteCase{"Raw16", CCC_DAO_RAW16, 0, SessionOutcome::kWhole},
                      SessionWriteCase{"Raw96", CCC_DAO_RAW96, 0, SessionOutcome::kWhole},
                      SessionWriteCase{"Raw96SessionDropped", CCC_DAO_RAW96, 1, SessionOutcome::kDropped},
                      SessionWriteCase{"Sao", CCC_SAO, 0, SessionOutcome::kRefused},
                      SessionWriteCase{"SaoRaw", CCC_SAO_RAW, 0, SessionOutcome::kRefused}),
    [](const ::testing::TestParamInfo<SessionWriteCase>& info) { return info.param.name; });

// A written disc whose TOC cannot be read back (READ CD refused, so no read
// pass starts): the write fails, unless the drive's settings say it sees a new
// disc only after a reload; then the verification, which reloads, judges it.
TEST(DiscWriterTocCheckTest, UnreadableTocFailsTheWriteUnlessAReloadIsDue) {
  for (const bool force_eject : {false, true}) {
    SCOPED_TRACE(force_eject);
    ScratchDir dir;
    const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "d", {{false, 0, 300, "", false}});
    JobRig rig(dir, "medium=cd-r");
    ASSERT_TRUE(rig.opened());
    rig.ChangeSettings([&](DeviceSetting& s) { s.ForceEject = force_eject; });
    rig.drive().hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.refused_opcodes = {0xBE}; });
    DiscWriter writer;
    JobRecorder events(writer);
    EXPECT_EQ(writer.StartWriteCompatible(rig.device(), Q(disc.cue), nullptr), force_eject)
        << events.lines.join("\n").toStdString();
    EXPECT_EQ(events.Has("2:書き込んだディスクのTOCが読み込めません。"), !force_eject)
        << events.lines.join("\n").toStdString();
    EXPECT_EQ(events.Has("0:ディスクのTOCは再挿入するまで読めないため、照合しません。"), force_eject);
  }
}

// An image that changes under the write: cut while it is written, the image
// is named as the cause (not the drive); longer than its ".ccd" says, the
// write goes on and the log tells what is left out.
TEST(DiscWriterImageTest, CutImageIsNamedAndTheRestOfALongerImageIsCounted) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "p", {{false, 0, 400, "", false}});
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r", "medium=cd-r", "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  ReadRawWithSideFiles(rig, dir.path() / "src");
  const std::string img = ReadFileBytes(dir.path() / "src.img");
  ASSERT_EQ(img.size(), 400u * 2352);
  const struct {
    const char* name;
    std::string appended;
    std::optional<int32_t> cut_at;  // the LBA whose progress cuts the image to 200 sectors
    const char* line;
  } cases[] = {
      {"cut", "", 100, "2:イメージファイル %1 が途切れています。"},
      {"sectors", std::string(3 * 2352, 'x'), std::nullopt, "1:イメージファイル %1 の末尾 3 セクタはTOCの範囲外のため書き込みません。"},
      {"partial", std::string(2 * 2352 + 100, 'x'), std::nullopt,
       "1:イメージファイル %1 の末尾 4804 バイトはTOCの範囲外のため書き込みません。"},
  };
  size_t target = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path base = dir.path() / c.name;
    for (const char* extension : {".sub", ".pre", ".ccd"}) {
      std::filesystem::copy_file(dir.path() / (std::string("src") + extension), base.string() + extension);
    }
    testing::WriteFileBytes(base.string() + ".img", img + c.appended);
    rig.ChangeSettings([](DeviceSetting& s) { s.ForceEject = false; }, target);
    DiscWriter writer;
    JobRecorder events(writer);
    QObject::connect(&writer, &DiscJob::Progress, [&](int32_t value, int32_t) {
      if (value == c.cut_at) std::filesystem::resize_file(base.string() + ".img", 200 * 2352);
    });
    const bool cut = c.cut_at.has_value();
    EXPECT_EQ(writer.StartWriteCompatible(rig.device(target), Q(base.string() + ".ccd"), nullptr), !cut)
        << events.lines.join("\n").toStdString();
    const QString line = QString::fromUtf8(c.line).arg(Q(base.string() + ".img"));
    EXPECT_TRUE(events.Has(line)) << events.lines.join("\n").toStdString();
    if (cut) {
      // The image is the last error: the drive is not blamed.
      EXPECT_EQ(events.WithPrefix("2:").value(events.WithPrefix("2:").size() - 1), line);
      EXPECT_TRUE(events.WithPrefix("2:セクタ ").isEmpty()) << events.lines.join("\n").toStdString();
    } else {
      EXPECT_TRUE(events.WithPrefix("2:").isEmpty()) << events.lines.join("\n").toStdString();
    }
    ++target;
  }
}

}  // namespace
}  // namespace sorvel
