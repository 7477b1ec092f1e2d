// Write passes against the emulated drive: whole images in every CD write mode
// and on every writable DVD, BD and HD DVD medium, compared byte for byte
// after export and after a read pass; the written CDs judged by cdrdao,
// cd-info and bchunk; refusals, gap filling, block writing and the waits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_engine/disc_drive.h"
#include "device_engine/write_test_rig.h"
#include "testing/manual_clock.h"

namespace sorvel::write_test {
namespace {

// ---------------------------------------------------------------------------
// CD images in every write mode

struct CdModeCase {
  const char* name;
  int32_t mode;
  int32_t type;       // data type handed over
  int32_t flags;
  bool codes_in_cue;   // MCN and ISRC reach the disc's TOC (and the exported cue sheet)
  bool codes_in_q;     // MCN and ISRC reach the disc's Q
  bool carries_text;   // CD-Text reaches the lead-in
  bool data_track = true;
};

class CdWriteModeTest : public ::testing::TestWithParam<CdModeCase> {};

// Writes the image from LBA 0 (the pregap and, in raw modes, the lead-in are
// generated), through the cache.
void WriteCdImage(WriteRig& rig, const CdImage& image, const CdModeCase& c) {
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(c.mode, c.flags, image.toc), CBR_OK);
  for (int32_t lba = 0; lba <= CdImage::kLastLba; ++lba) {
    Bytes payload = image.Payload(c.type, lba);
    ASSERT_TRUE(drive.WriteLBA(c.type, payload.data(), lba)) << lba;
  }
  ASSERT_TRUE(drive.WriteEnd(false));
  EXPECT_EQ(drive.GetLastWroteLBA(), CdImage::kLastLba);
}

TEST_P(CdWriteModeTest, ImageRoundTripsThroughExportAndReadPass) {
  const CdModeCase& c = GetParam();
  WriteRig rig("cd-r");
  ASSERT_TRUE(rig.opened());
  CdImage image(c.data_track);
  WriteCdImage(rig, image, c);
  if (HasFatalFailure()) return;

  // The first WRITE starts where the mode starts: -150 for session at once,
  // the lead-in for raw.
  auto writes = rig.Commands(kWrite10);
  ASSERT_FALSE(writes.empty());
  const int32_t first = CdbLba(writes.front());
  if (c.mode >= CCC_DAO_RAW16) {
    EXPECT_LT(first, -150);
  } else {
    EXPECT_EQ(first, -150);
  }
  EXPECT_EQ(rig.Commands(kSendCueSheet).size(), c.mode >= CCC_DAO_RAW16 ? 0u : 1u);

  // Export and compare every sector.
  const auto cue = rig.dir() / "out.cue";
  std::string error;
  ASSERT_TRUE(rig.soft()->ExportCd(cue.string(), &error)) << error;
  Bytes bin = ReadFile(rig.dir() / "out.bin");
  ASSERT_EQ(bin.size(), static_cast<size_t>(CdImage::kLastLba + 1) * 2352);
  int mismatches = 0;
  for (int32_t lba = 0; lba <= CdImage::kLastLba; ++lba) {
    const auto expected = image.Expected(lba);
    if (std::memcmp(bin.data() + static_cast<size_t>(lba) * 2352, expected.data(), 2352) != 0 && ++mismatches < 5) {
      ADD_FAILURE() << "exported sector " << lba << " differs";
    }
  }
  EXPECT_EQ(mismatches, 0);
  const std::string cue_text(reinterpret_cast<const char*>(ReadFile(cue).data()), ReadFile(cue).size());
  EXPECT_NE(cue_text.find(c.data_track ? "TRACK 01 MODE1/2352" : "TRACK 01 AUDIO"), std::string::npos) << cue_text;
  EXPECT_NE(cue_text.find("TRACK 02 AUDIO"), std::string::npos) << cue_text;
  EXPECT_NE(cue_text.find("FLAGS DCP"), std::string::npos) << cue_text;
  EXPECT_EQ(cue_text.find("CATALOG 4901234567894") != std::string::npos, c.codes_in_cue) << cue_text;
  EXPECT_EQ(cue_text.find("ISRC JPABC0512345") != std::string::npos, c.codes_in_cue) << cue_text;
  if (c.carries_text) {
    Bytes cdt = ReadFile(rig.dir() / "out.cdt");
    ASSERT_EQ(cdt.size(), image.packs.size() * 18);
    for (size_t i = 0; i < image.packs.size(); ++i) {
      uint8_t bytes[18];
      image.packs[i].Store(bytes);
      EXPECT_EQ(std::memcmp(cdt.data() + i * 18, bytes, 18), 0) << "pack " << i;
    }
  }

  // Read back through a read pass of the same drive.
  DiscDrive& drive = rig.drive();
  TocStructure read_toc;
  ASSERT_EQ(drive.ReadStart(CCC_RAW96, 0, &read_toc), CBR_OK);
  ASSERT_EQ(read_toc.Count(TST_TOC), image.toc.Count(TST_TOC));
  for (int i = 0; i < image.toc.Count(TST_TOC); ++i) {
    const TOCTrack want = image.toc.Track(i);
    const TOCTrack got = read_toc.Track(i);
    EXPECT_EQ(got.TrackNo, want.TrackNo) << i;
    EXPECT_EQ(got.IndexNo, want.IndexNo) << i;
    EXPECT_EQ(got.StartLBA, want.StartLBA) << i;
    EXPECT_EQ(got.EndLBA, want.EndLBA) << i;
    EXPECT_EQ(got.SectorMode, want.SectorMode) << i;
    EXPECT_EQ(got.Flags & (TCF_DATATRACK | TCF_COPYPERMITTED), want.Flags) << i;
  }
  mismatches = 0;
  for (int32_t lba = 0; lba <= CdImage::kLastLba; ++lba) {
    uint8_t sector[2448];
    ASSERT_TRUE(drive.ReadLBA(sector, lba)) << lba;
    const auto expected = image.Expected(lba);
    if (std::memcmp(sector, expected.data(), 2352) != 0 && ++mismatches < 5) ADD_FAILURE() << "read sector " << lba;
  }
  EXPECT_EQ(mismatches, 0);
  // The codes the read pass collected from Q.
  ASSERT_TRUE(drive.CopySessionToc(&read_toc));
  const McnCode mcn = read_toc.Mcn();
  const IsrcCode isrc = read_toc.Isrc(1);
  EXPECT_EQ(std::string(mcn.data(), 13) == CdImage::kMcn, c.codes_in_q) << std::string(mcn.data(), 13);
  EXPECT_EQ(std::string(isrc.data(), 12) == CdImage::kIsrc, c.codes_in_q) << std::string(isrc.data(), 12);
  EXPECT_TRUE(drive.ReadEnd());

  // Independent tools on the exported image.
  ASSERT_TRUE(testing::RequireTool("cdrdao"));
  std::string out;
  const std::string in_dir = "cd '" + rig.dir().string() + "' && ";
  EXPECT_EQ(testing::RunCommand(in_dir + "cdrdao show-toc out.cue 2>&1", &out), 0) << out;
  EXPECT_NE(out.find(c.data_track ? "TRACK  1  Mode MODE1_RAW" : "TRACK  1  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("TRACK  2  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("TRACK  3  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("PREGAP 00:02:00(   150)"), std::string::npos) << out;
  EXPECT_NE(out.find("START  00:06:00(   450)"), std::string::npos) << out;
  if (c.codes_in_cue) {
    EXPECT_NE(out.find("CATALOG NUMBER: 4901234567894"), std::string::npos) << out;
    EXPECT_NE(out.find("ISRC JP ABC 05 12345"), std::string::npos) << out;
  }
  ASSERT_TRUE(testing::RequireTool("cd-info"));
  out.clear();
  EXPECT_EQ(testing::RunCommand("cd-info --no-cddb --no-device-info --cue-file '" + cue.string() + "' 2>&1", &out), 0)
      << out;
  EXPECT_NE(out.find("CD-ROM Track List (1 - 3)"), std::string::npos) << out;
  EXPECT_NE(out.find("000450 audio"), std::string::npos) << out;
  ASSERT_TRUE(testing::RequireTool("bchunk"));
  out.clear();
  EXPECT_EQ(testing::RunCommand(in_dir + "bchunk -w out.bin out.cue part 2>&1", &out), 0) << out;
  if (c.data_track) {
    Bytes iso = ReadFile(rig.dir() / "part01.iso");
    ASSERT_EQ(iso.size(), static_cast<size_t>(CdImage::kDataEnd) * 2048);
    for (int32_t lba = 0; lba < CdImage::kDataEnd; ++lba) {
      uint8_t user[2048];
      CdImage::UserData(lba, user);
      ASSERT_EQ(std::memcmp(iso.data() + static_cast<size_t>(lba) * 2048, user, 2048), 0) << lba;
    }
  }
  Bytes wav = ReadFile(rig.dir() / "part03.wav");
  ASSERT_EQ(wav.size(), 44u + static_cast<size_t>(CdImage::kLastLba + 1 - CdImage::kTrack3) * 2352);
  for (int32_t lba = CdImage::kTrack3; lba <= CdImage::kLastLba; ++lba) {
    const auto expected = image.Expected(lba);
    ASSERT_EQ(std::memcmp(wav.data() + 44 + static_cast<size_t>(lba - CdImage::kTrack3) * 2352, expected.data(), 2352), 0)
        << lba;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CdWriteModeTest,
    ::testing::Values(CdModeCase{"SaoUserData", CCC_SAO, CSD_SECTORONLY, 0, false, false, false},
                      CdModeCase{"SaoMainChannel", CCC_SAO, CSD_MAINCHANNEL, CDD_OPCOFF, false, false, false},
                      // The emulated drive takes no data track in the raw
                      // session-at-once forms (data form 0x00 with the data
                      // control bit), so these carry audio only.
                      CdModeCase{"SaoRawAudio", CCC_SAO_RAW, CSD_MAINCHANNEL, 0, false, false, false, false},
                      CdModeCase{"SaoRaw96Audio", CCC_SAO_RAW96, CSD_SECTORONLY, 0, false, true, false, false},
                      CdModeCase{"Raw16", CCC_DAO_RAW16, CSD_SECTORONLY, 0, true, true, false},
                      CdModeCase{"Raw96", CCC_DAO_RAW96, CSD_MAINCHANNEL, 0, true, true, true},
                      CdModeCase{"Raw96SubchannelRepaired", CCC_DAO_RAW96, CSD_MAINSUBCHANNEL, CDD_COLLECTSUBPQ, true,
                                 true, true}),
    [](const ::testing::TestParamInfo<CdModeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvel::write_test
