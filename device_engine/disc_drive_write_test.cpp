// Write passes against the emulated drive: whole images in every CD write mode
// and on every writable DVD, BD and HD DVD medium, compared byte for byte
// after export and after a read pass; the written CDs judged by cdrdao,
// cd-info and bchunk; refusals (a recorded rewritable disc left as it was),
// a write-once burn cut by killing the writer, gap filling, block writing
// and the waits.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "device_engine/disc_drive.h"
#include "device_engine/write_test_rig.h"
#include "testing/manual_clock.h"

namespace sorvel::write_test {
namespace {

// A medium's name as a test name: "dvd+rw" gives "dvdPrw".
std::string MediumTestName(std::string name) {
  for (char& ch : name) {
    if (ch == '-') ch = '_';
    if (ch == '+') ch = 'P';
  }
  return name;
}

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
                      CdModeCase{"SaoRaw", CCC_SAO_RAW, CSD_MAINCHANNEL, 0, false, false, false},
                      CdModeCase{"SaoRaw96", CCC_SAO_RAW96, CSD_SECTORONLY, 0, false, true, false},
                      CdModeCase{"SaoRawAudio", CCC_SAO_RAW, CSD_MAINCHANNEL, 0, false, false, false, false},
                      CdModeCase{"SaoRaw96Audio", CCC_SAO_RAW96, CSD_SECTORONLY, 0, false, true, false, false},
                      CdModeCase{"Raw16", CCC_DAO_RAW16, CSD_SECTORONLY, 0, true, true, false},
                      CdModeCase{"Raw96", CCC_DAO_RAW96, CSD_MAINCHANNEL, 0, true, true, true},
                      CdModeCase{"Raw96SubchannelRepaired", CCC_DAO_RAW96, CSD_MAINSUBCHANNEL, CDD_COLLECTSUBPQ, true,
                                 true, true}),
    [](const ::testing::TestParamInfo<CdModeCase>& info) { return std::string(info.param.name); });


// ---------------------------------------------------------------------------
// Two sessions in one raw pass

// Session 1: Mode 1 data 0..299; session 2 after the lead-out, the next
// lead-in and a pregap: Mode 1 data 11700..11999.
constexpr int32_t kSession2Start = 300 + 6750 + 4500 + 150;
constexpr int32_t kSession2Last = kSession2Start + 299;

std::array<uint8_t, 2352> TwoSessionSector(int32_t lba) {
  uint8_t user[2048];
  for (size_t i = 0; i < sizeof user; ++i) user[i] = static_cast<uint8_t>(lba * 7 + i * 3 + (i >> 8));
  std::array<uint8_t, 2352> s{};
  emu::BuildMode1Sector(lba, user, s.data());
  return s;
}

TocStructure TwoSessionToc() {
  TocStructure toc;
  toc.AddTrack({1, 1, 1, TCF_DATATRACK, SMC_MODE1, 0, 299});
  toc.AddTrack({2, 2, 1, TCF_DATATRACK, SMC_MODE1, kSession2Start, kSession2Last});
  return toc;
}

struct SessionCase {
  const char* name;
  int32_t mode;
  int raw_pass_session_limit;  // the drive's fault: 0 keeps every session
  int sessions;                // what the disc records
};

class TwoSessionRawTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(TwoSessionRawTest, DiscRecordsTheSessionsOfTheLeadIns) {
  const SessionCase& c = GetParam();
  emu::DriveFaults faults;
  faults.raw_pass_session_limit = c.raw_pass_session_limit;
  WriteRig rig("cd-r", faults);
  ASSERT_TRUE(rig.opened());
  const TocStructure toc = TwoSessionToc();
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(c.mode, 0, toc), CBR_OK);
  for (const auto& [first, last] : {std::pair{0, 299}, std::pair{kSession2Start, kSession2Last}}) {
    for (int32_t lba = first; lba <= last; ++lba) {
      const auto sector = TwoSessionSector(lba);
      ASSERT_TRUE(drive.WriteLBA(CSD_MAINCHANNEL, sector.data(), lba)) << lba;
    }
  }
  ASSERT_TRUE(drive.WriteEnd(false));

  // The drive's own answers: sessions in READ TOC format 1 and READ DISC
  // INFORMATION, the last track's session in READ TRACK INFORMATION.
  emu::SoftMmcDrive* soft = rig.soft();
  ASSERT_NE(soft, nullptr);
  Bytes answer(48);
  const uint8_t session_toc[10] = {0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0};
  ASSERT_EQ(soft->Exec(session_toc, 10, answer.data(), 12, false, 30, nullptr), 0);
  EXPECT_EQ(answer[3], c.sessions);
  ASSERT_EQ(soft->Exec(std::array<uint8_t, 10>{0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}.data(), 10, answer.data(), 34, false,
                       30, nullptr),
            0);
  EXPECT_EQ(answer[4], c.sessions);
  const uint8_t track2_info[10] = {0x52, 1, 0, 0, 0, 2, 0, 0, 48, 0};
  const int track2_status = soft->Exec(track2_info, 10, answer.data(), 48, false, 30, nullptr);
  if (c.sessions == 2) {
    ASSERT_EQ(track2_status, 0);
    EXPECT_EQ(answer[3], 2);
    EXPECT_EQ(static_cast<int32_t>(answer[8] << 24 | answer[9] << 16 | answer[10] << 8 | answer[11]), kSession2Start);
  } else {
    EXPECT_NE(track2_status, 0);
  }

  // The engine's read pass finds the same, and every sector of both sessions.
  TocStructure read_toc;
  ASSERT_EQ(drive.ReadStart(CCC_RAW96, 0, &read_toc), CBR_OK);
  ASSERT_EQ(read_toc.Count(TST_TOC), c.sessions);
  for (int i = 0; i < c.sessions; ++i) {
    const TOCTrack want = toc.Track(i);
    const TOCTrack got = read_toc.Track(i);
    EXPECT_EQ(got.SessionNo, want.SessionNo) << i;
    EXPECT_EQ(got.TrackNo, want.TrackNo) << i;
    EXPECT_EQ(got.StartLBA, want.StartLBA) << i;
    EXPECT_EQ(got.EndLBA, want.EndLBA) << i;
    for (int32_t lba = want.StartLBA; lba <= want.EndLBA; ++lba) {
      uint8_t sector[2448];
      ASSERT_TRUE(drive.ReadLBA(sector, lba)) << lba;
      ASSERT_EQ(std::memcmp(sector, TwoSessionSector(lba).data(), 2352), 0) << lba;
    }
  }
  EXPECT_TRUE(drive.ReadEnd());

  // cd-info on the exported disc lists the tracks the sessions hold.
  const auto cue = rig.dir() / "out.cue";
  std::string error;
  ASSERT_TRUE(soft->ExportCd(cue.string(), &error)) << error;
  ASSERT_TRUE(testing::RequireTool("cd-info"));
  std::string out;
  EXPECT_EQ(testing::RunCommand("cd-info --no-cddb --no-device-info --cue-file '" + cue.string() + "' 2>&1", &out), 0)
      << out;
  EXPECT_NE(out.find("CD-ROM Track List (1 - " + std::to_string(c.sessions) + ")"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Passes, TwoSessionRawTest,
    ::testing::Values(SessionCase{"Raw16", CCC_DAO_RAW16, 0, 2}, SessionCase{"Raw96", CCC_DAO_RAW96, 0, 2},
                      SessionCase{"Raw96DriveDropsASession", CCC_DAO_RAW96, 1, 1}),
    [](const ::testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// DVD, BD and HD DVD media

void DvdSector(int32_t lba, uint8_t* out) {
  for (size_t i = 0; i < 2048; ++i) out[i] = static_cast<uint8_t>(lba * 11 + i * 3 + (i >> 10) + 1);
}

TocStructure DvdToc(int32_t sectors) {
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, sectors);
  return toc;
}

// Writes an image of `sectors` DvdSector sectors in one whole pass. The
// buffer holds a CD sector's 2,352 bytes, which a CD takes for each sector.
void WriteDvdImage(GatedDrive& drive, int32_t sectors) {
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(sectors)), CBR_OK);
  for (int32_t lba = 0; lba < sectors; ++lba) {
    uint8_t sector[2352] = {};
    DvdSector(lba, sector);
    ASSERT_TRUE(drive.WriteLBA(CSD_SECTORONLY, sector, lba)) << lba;
  }
  ASSERT_TRUE(drive.WriteEnd(false));
}

// Reads sectors 0 to `sectors` - 1 (every `step`th) in a read pass and
// compares them with DvdSector.
void ExpectDvdSectors(GatedDrive& drive, int32_t sectors, int32_t step = 1) {
  TocStructure read_toc;
  ASSERT_EQ(drive.ReadStart(CCC_DATA, 0, &read_toc), CBR_OK);
  for (int32_t lba = 0; lba < sectors; lba += step) {
    uint8_t got[2048], want[2048];
    ASSERT_TRUE(drive.ReadLBA(got, lba)) << lba;
    DvdSector(lba, want);
    ASSERT_EQ(std::memcmp(got, want, 2048), 0) << lba;
  }
  EXPECT_TRUE(drive.ReadEnd());
}

struct DvdCase {
  const char* medium;
  uint8_t prepare_opcode;  // FORMAT UNIT, RESERVE TRACK or 0 (none)
};

class DvdWriteTest : public ::testing::TestWithParam<DvdCase> {};

TEST_P(DvdWriteTest, ImageRoundTripsThroughReadPass) {
  constexpr int32_t kSectors = 600;  // not a whole number of blocks
  WriteRig rig(GetParam().medium);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  WriteDvdImage(drive, kSectors);
  EXPECT_EQ(drive.GetLastWroteLBA(), kSectors - 1);

  for (uint8_t op : {kFormatUnit, kReserveTrack}) {
    EXPECT_EQ(rig.Commands(op).size(), op == GetParam().prepare_opcode ? 1u : 0u) << std::hex << int(op);
  }
  if (GetParam().prepare_opcode == kReserveTrack) {
    const auto reserve = rig.Commands(kReserveTrack).front();
    EXPECT_EQ(reserve.cdb[5] << 24 | reserve.cdb[6] << 16 | reserve.cdb[7] << 8 | reserve.cdb[8], kSectors);
  }
  // Whole blocks of 26 while writing, the rest in one last WRITE.
  const auto writes = rig.Commands(kWrite10);
  ASSERT_EQ(writes.size(), static_cast<size_t>(kSectors / 26 + 1));
  EXPECT_EQ(CdbLba(writes.back()), kSectors / 26 * 26);
  EXPECT_EQ(CdbCount(writes.back()), kSectors % 26);
  EXPECT_EQ(rig.Commands(kSynchronizeCache).size(), 1u);
  EXPECT_EQ(rig.Commands(kCloseTrack).size(), 1u);
  ExpectDvdSectors(drive, kSectors);
}

INSTANTIATE_TEST_SUITE_P(Media, DvdWriteTest,
                         ::testing::Values(DvdCase{"dvd-r", kReserveTrack}, DvdCase{"dvd+r", kReserveTrack},
                                           DvdCase{"dvd-rw", kReserveTrack}, DvdCase{"dvd+rw", kFormatUnit},
                                           DvdCase{"dvd-ram", 0}, DvdCase{"bd-r", kReserveTrack},
                                           DvdCase{"bd-re", kFormatUnit}, DvdCase{"hddvd-r", kReserveTrack}),
                         [](const ::testing::TestParamInfo<DvdCase>& info) { return MediumTestName(info.param.medium); });

// ---------------------------------------------------------------------------
// Start results

struct StartCase {
  const char* name;
  const char* medium;
  int32_t mode;
  int32_t flags;
  int32_t last_lba;  // of a one-track image; below 0: the last possible CD lead-out + this
  int32_t expected;
};

class WriteStartTest : public ::testing::TestWithParam<StartCase> {};

constexpr int32_t kCdLastLeadOut = 359849;   // 79:59:74 on the emulated 80-minute CD-R
constexpr int32_t kDvdRCapacity = 2295104;   // blocks of the emulated DVD-R
constexpr int32_t kTopLba = std::numeric_limits<int32_t>::max();

TEST_P(WriteStartTest, GivesItsResultCode) {
  const StartCase& c = GetParam();
  // Pressed media hold a small image.
  testing::ScratchDir images;
  std::string medium = c.medium;
  if (medium == "cd-rom" || medium == "dvd-rom") {
    const auto iso = images / "pressed.iso";
    std::ofstream(iso, std::ios::binary) << std::string(300 * 2048, '\x11');
    medium += ",image=" + iso.string();
  }
  WriteRig rig(medium);
  ASSERT_TRUE(rig.opened());
  TocStructure toc;
  if (c.last_lba == kTopLba) {
    // Sectors 0 to the top of the 32-bit range: one more than a length can count.
    TOCTrack track;
    track.SessionNo = 1;
    track.TrackNo = 1;
    track.IndexNo = 1;
    track.Flags = TCF_DATATRACK;
    track.SectorMode = SMC_MODE1;
    track.EndLBA = kTopLba;
    ASSERT_TRUE(toc.AddTrack(track));
  } else {
    toc.MakeSingleTrackToc(SMC_MODE1, c.last_lba + 1);
  }
  rig.hooks().ClearLog();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(rig.drive().WriteStart(c.mode, c.flags, toc), c.expected);
  const std::string out = ::testing::internal::GetCapturedStdout();
  // The size refusal's line states what was compared: where the medium ends
  // and where the image would end, both the first LBA past it. Once it read
  // "(1500 < 1500)" for an image one sector too long.
  const std::string refusal = "error: イメージサイズがメディアより大きい。 (";
  long long medium_end = 0, image_end = 0;
  const size_t at = out.find(refusal);
  if (at != std::string::npos &&
      std::sscanf(out.c_str() + at + refusal.size(), "%lld < %lld)", &medium_end, &image_end) == 2) {
    EXPECT_LT(medium_end, image_end) << out;
    if (c.mode == CCC_SAO) {
      EXPECT_EQ(image_end, static_cast<long long>(c.last_lba) + 1) << out;
    }
  } else {
    EXPECT_EQ(std::string(c.name).find("OneSectorTooMany"), std::string::npos) << out;
  }
  EXPECT_EQ(rig.drive().IsWriting(), c.expected == CBR_OK);
  if (c.expected == CBR_OK) {
    EXPECT_TRUE(rig.drive().WriteEnd(true));
  } else {
    // A refused start sends no sector.
    EXPECT_TRUE(rig.Commands(kWrite10).empty());
    EXPECT_FALSE(rig.drive().WriteLBA(CSD_GENERATED, nullptr, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Results, WriteStartTest,
    ::testing::Values(StartCase{"CdRom", "cd-rom", CCC_SAO, 0, 1000, CBR_UNKNOWNMEDIA},
                      StartCase{"DvdRom", "dvd-rom", CCC_SAO, 0, 1000, CBR_UNKNOWNMEDIA},
                      StartCase{"NoMedium", "none", CCC_SAO, 0, 1000, CBR_UNKNOWNMEDIA},
                      StartCase{"Mode1OnDvdPlusR", "dvd+r", CCC_SAO_RAW, 0, 1000, CBR_IGNOREWRITECOMMAND},
                      StartCase{"UnknownCdMode", "cd-r", 5, 0, 1000, CBR_IGNOREWRITECOMMAND},
                      // The last LBA must lie below the last possible lead-out.
                      StartCase{"CdLastFits", "cd-r", CCC_SAO, 0, kCdLastLeadOut - 1, CBR_OK},
                      StartCase{"CdOneSectorTooMany", "cd-r", CCC_SAO, 0, kCdLastLeadOut, CBR_OVERCAPACITY},
                      StartCase{"CdOverburnIgnoredInSao", "cd-r", CCC_SAO_RAW96, CDD_OVERBURN, kCdLastLeadOut + 10,
                                CBR_OVERCAPACITY},
                      StartCase{"CdOverburnRaw96", "cd-r", CCC_DAO_RAW96, CDD_OVERBURN, kCdLastLeadOut + 10, CBR_OK},
                      StartCase{"CdRaw16WithoutOverburn", "cd-r", CCC_DAO_RAW16, 0, kCdLastLeadOut - 100,
                                CBR_OVERCAPACITY},
                      StartCase{"DvdLastFits", "dvd-r", CCC_SAO, 0, kDvdRCapacity - 1, CBR_OK},
                      StartCase{"DvdOneSectorTooMany", "dvd-r", CCC_SAO, 0, kDvdRCapacity, CBR_OVERCAPACITY},
                      // An image ending at the last 32-bit LBA: its lead-out lies beyond any address.
                      StartCase{"CdTopLbaRaw16", "cd-r", CCC_DAO_RAW16, 0, kTopLba, CBR_OVERCAPACITY},
                      StartCase{"CdTopLbaRaw96Overburn", "cd-r", CCC_DAO_RAW96, CDD_OVERBURN, kTopLba,
                                CBR_OVERCAPACITY},
                      StartCase{"CdTopLbaSao", "cd-r", CCC_SAO, 0, kTopLba, CBR_OVERCAPACITY},
                      StartCase{"DvdTopLba", "dvd-r", CCC_SAO, 0, kTopLba, CBR_OVERCAPACITY}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

TEST(WriteStartTest, RecordedCdRIsNotEmptyAndCdRwIsErasedFirst) {
  for (const char* medium : {"cd-r", "cd-rw"}) {
    WriteRig rig(medium);
    ASSERT_TRUE(rig.opened());
    TocStructure toc;
    toc.MakeSingleTrackToc(SMC_MODE1, 300);
    ASSERT_EQ(rig.drive().WriteStart(CCC_SAO, 0, toc), CBR_OK);
    ASSERT_TRUE(rig.drive().WriteEnd(false));
    rig.hooks().ClearLog();
    const bool rewritable = std::string(medium) == "cd-rw";
    EXPECT_EQ(rig.drive().WriteStart(CCC_SAO, 0, toc), rewritable ? CBR_OK : CBR_NOTEMPTY) << medium;
    EXPECT_EQ(rig.Commands(kBlank).size(), rewritable ? 1u : 0u) << medium;
    if (rewritable) {
      EXPECT_TRUE(rig.drive().WriteEnd(false));
    }
  }
}

// A recorded rewritable disc and an image that does not fit what the disc
// will hold once formatted or erased: refused before the drive formats or
// erases anything, the disc as it was; one sector less fits and is prepared.
struct RecordedCase {
  const char* name;
  const char* medium;
  int32_t capacity;         // sectors the medium holds once prepared
  uint8_t prepare_opcode;   // what the start sends before writing
};

class RecordedDiscStartTest : public ::testing::TestWithParam<RecordedCase> {};

TEST_P(RecordedDiscStartTest, TooLargeImageLeavesTheDiscAsItWas) {
  const RecordedCase& c = GetParam();
  constexpr int32_t kRecorded = 300;
  WriteRig rig(c.medium);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  WriteDvdImage(drive, kRecorded);
  const auto data_path = rig.dir() / "drive.state.data";
  const Bytes before = ReadFile(data_path);
  ASSERT_FALSE(before.empty());
  ASSERT_FALSE(drive.IsDiscEmpty());

  rig.hooks().ClearLog();
  EXPECT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(c.capacity + 1)), CBR_OVERCAPACITY);
  for (uint8_t op : {kFormatUnit, kBlank, kReserveTrack, kSendCueSheet, kWrite10}) {
    EXPECT_TRUE(rig.Commands(op).empty()) << std::hex << int(op);
  }
  EXPECT_EQ(ReadFile(data_path), before);
  EXPECT_FALSE(drive.IsDiscEmpty());
  // The recorded sectors still read back (a CD's through its own read pass).
  if (drive.GetMediaFamilyType() != MFT_CD) ExpectDvdSectors(drive, kRecorded, 7);

  rig.hooks().ClearLog();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(c.capacity)), CBR_OK);
  EXPECT_EQ(rig.Commands(c.prepare_opcode).size(), 1u);
  EXPECT_TRUE(drive.WriteEnd(true));
}

INSTANTIATE_TEST_SUITE_P(
    Media, RecordedDiscStartTest,
    ::testing::Values(RecordedCase{"DvdPlusRw", "dvd+rw", 2295104, kFormatUnit},
                      RecordedCase{"DvdMinusRw", "dvd-rw", 2295104, kBlank},
                      RecordedCase{"BdRe", "bd-re", 11826176, kFormatUnit},
                      // SAO writes up to the image's last LBA; the lead-out may start right after it.
                      RecordedCase{"CdRw", "cd-rw", kCdLastLeadOut, kBlank}),
    [](const ::testing::TestParamInfo<RecordedCase>& info) { return std::string(info.param.name); });

// A session-at-once pass sends one cue sheet and closes one session: an
// image of two sessions is refused before anything reaches the medium, the
// blank left blank and a recorded CD-RW left as it was (not blanked).
struct SessionAtOnceCase {
  const char* name;
  int32_t mode;
  const char* medium;
  bool recorded;
};

class TwoSessionAtOnceTest : public ::testing::TestWithParam<SessionAtOnceCase> {};

TEST_P(TwoSessionAtOnceTest, RefusedBeforeTheMediumIsTouched) {
  const SessionAtOnceCase& c = GetParam();
  WriteRig rig(c.medium);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  if (c.recorded) WriteDvdImage(drive, 300);
  const auto data_path = rig.dir() / "drive.state.data";
  const Bytes before = ReadFile(data_path);
  ASSERT_EQ(drive.IsDiscEmpty(), !c.recorded);

  rig.hooks().ClearLog();
  EXPECT_EQ(drive.WriteStart(c.mode, 0, TwoSessionToc()), CBR_IGNOREWRITECOMMAND);
  for (uint8_t op : {kBlank, kFormatUnit, kSendOpc, kReserveTrack, kSendCueSheet, kWrite10, kCloseTrack}) {
    EXPECT_TRUE(rig.Commands(op).empty()) << std::hex << int(op);
  }
  EXPECT_EQ(ReadFile(data_path), before);
  EXPECT_EQ(drive.IsDiscEmpty(), !c.recorded);

  // The same drive and medium take the image's first session alone.
  TocStructure first;
  first.AddTrack(TwoSessionToc().Track(0));
  ASSERT_EQ(drive.WriteStart(c.mode, 0, first), CBR_OK);
  EXPECT_TRUE(drive.WriteEnd(true));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TwoSessionAtOnceTest,
    ::testing::Values(SessionAtOnceCase{"SaoBlankCdR", CCC_SAO, "cd-r", false},
                      SessionAtOnceCase{"SaoRawBlankCdR", CCC_SAO_RAW, "cd-r", false},
                      SessionAtOnceCase{"SaoRaw96BlankCdR", CCC_SAO_RAW96, "cd-r", false},
                      SessionAtOnceCase{"SaoRecordedCdRw", CCC_SAO, "cd-rw", true},
                      SessionAtOnceCase{"SaoRawRecordedCdRw", CCC_SAO_RAW, "cd-rw", true},
                      SessionAtOnceCase{"SaoRaw96RecordedCdRw", CCC_SAO_RAW96, "cd-rw", true}),
    [](const ::testing::TestParamInfo<SessionAtOnceCase>& info) { return std::string(info.param.name); });

// A recorded CD-RW is measured by its ATIP before it is blanked: the
// formatted capacity the drive reports (that of packet writing) refuses
// nothing, and a drive without an ATIP blanks first and checks after.
struct CdRwStartCase {
  const char* name;
  bool atip_missing;
  uint32_t format_capacity;  // the drive's READ FORMAT CAPACITIES figure; 0: its own
  int32_t sectors;           // of the image
  int32_t result;
  size_t blanks;             // BLANK commands the start sends
};

class CdRwStartTest : public ::testing::TestWithParam<CdRwStartCase> {};

TEST_P(CdRwStartTest, RecordedDiscMeasuredByItsAtip) {
  const CdRwStartCase& c = GetParam();
  constexpr int32_t kRecorded = 300;
  emu::DriveFaults faults;
  faults.atip_missing = c.atip_missing;
  if (c.format_capacity != 0) faults.format_capacity_blocks = c.format_capacity;
  WriteRig rig("cd-rw", faults);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  WriteDvdImage(drive, kRecorded);
  const auto data_path = rig.dir() / "drive.state.data";
  const Bytes before = ReadFile(data_path);
  ASSERT_FALSE(before.empty());

  rig.hooks().ClearLog();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(c.sectors)), c.result);
  EXPECT_EQ(rig.Commands(kBlank).size(), c.blanks);
  if (c.result != CBR_OK) {
    EXPECT_TRUE(rig.Commands(kSendCueSheet).empty());
    EXPECT_TRUE(rig.Commands(kWrite10).empty());
    if (c.blanks == 0) {
      EXPECT_EQ(ReadFile(data_path), before);
      EXPECT_FALSE(drive.IsDiscEmpty());
    }
    return;
  }
  // Accepted: the whole image is written over the blanked disc.
  for (int32_t lba = 0; lba < c.sectors; ++lba) {
    uint8_t sector[2352] = {};  // a CD takes 2,352 bytes a sector
    DvdSector(lba, sector);
    sector[0] ^= 0x5A;  // differs from what the disc held before
    ASSERT_TRUE(drive.WriteLBA(CSD_SECTORONLY, sector, lba)) << lba;
  }
  ASSERT_TRUE(drive.WriteEnd(false));
  for (int32_t lba = 0; lba < c.sectors; lba += 37) {
    uint8_t main[2352], sub[96], want[2048];
    std::string error;
    ASSERT_TRUE(rig.soft()->ReadCdSector(lba, main, sub, &error)) << lba << " " << error;
    DvdSector(lba, want);
    want[0] ^= 0x5A;
    EXPECT_EQ(std::memcmp(main + 16, want, 2048), 0) << lba;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Atip, CdRwStartTest,
    ::testing::Values(
        // Fits the disc, not the packet-written capacity the drive reports.
        CdRwStartCase{"FitsBeyondFormattedCapacity", false, 200, 300, CBR_OK, 1},
        // The last LBA on the ATIP's last possible lead-out start.
        CdRwStartCase{"OneSectorPastAtipLeadOut", false, 0, kCdLastLeadOut + 1, CBR_OVERCAPACITY, 0},
        // No ATIP: no guess before blanking; the blank disc's own figure decides.
        CdRwStartCase{"NoAtipBlanksThenRefuses", true, 0, kCdLastLeadOut + 1, CBR_OVERCAPACITY, 1},
        CdRwStartCase{"NoAtipBlanksAndWrites", true, 200, 300, CBR_OK, 1}),
    [](const ::testing::TestParamInfo<CdRwStartCase>& info) { return std::string(info.param.name); });

// Burns `sent` sectors of a `sectors`-sector image on the drive at `state`
// in a child process, then kills it there. Fails when the child did not get
// that far.
void BurnAndKill(const std::string& state, const char* medium, int32_t mode, int32_t sectors, int32_t sent) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child burns and stops halfway; any failure becomes its exit code.
    ::close(ready[0]);
    const std::string spec = state + ",medium=" + medium;
    SptiPassThrough pass([spec](char, std::string* error) { return platform::OpenEmulatedDevice(spec, error); });
    CachedDiscDrive drive;
    drive.SetPassThrough(&pass);
    if (!drive.Open("\\\\.\\E:")) ::_exit(2);
    drive.SetWriteCacheBufferSize(0);
    if (drive.WriteStart(mode, 0, DvdToc(sectors)) != CBR_OK) ::_exit(3);
    for (int32_t lba = 0; lba < sent; ++lba) {
      uint8_t sector[2352] = {};  // a CD takes 2,352 bytes a sector
      DvdSector(lba, sector);
      if (!drive.WriteLBA(CSD_SECTORONLY, sector, lba)) ::_exit(4);
    }
    const char byte = 1;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(5);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  pollfd waiting{ready[0], POLLIN, 0};
  char byte = 0;
  const bool halfway = ::poll(&waiting, 1, 60000) == 1 && ::read(ready[0], &byte, 1) == 1;
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(ready[0]);
  ASSERT_TRUE(halfway) << "child ended with " << status;
}

// A write-once disc whose burn was cut before the end of its reserved track
// (the writing process killed, or the pass stopped and the session closed
// by the host) holds no closed session: it is neither blank nor complete,
// takes no further burn, and no sector of the cut pass reads: those sent as
// a medium error, the first one never written as blank.
struct CutBurnCase {
  const char* medium;
  bool killed;  // else stopped in this process, with a CLOSE SESSION
};

class CutBurnTest : public ::testing::TestWithParam<CutBurnCase> {};

TEST_P(CutBurnTest, LeavesADiscThatIsNeitherBlankNorWhole) {
  const CutBurnCase& c = GetParam();
  constexpr int32_t kImage = 2000;
  constexpr int32_t kSent = 26 * 4;  // whole blocks: all of them reach the drive
  testing::ScratchDir dir;
  const std::string state = (dir / "drive.state").string();
  if (c.killed) {
    BurnAndKill(state, c.medium, CCC_SAO, kImage, kSent);
    if (HasFatalFailure()) return;
  }
  WriteRig rig(c.medium, {}, state);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  if (!c.killed) {
    drive.SetWriteCacheBufferSize(0);
    ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(kImage)), CBR_OK);
    for (int32_t lba = 0; lba < kSent; ++lba) {
      uint8_t sector[2048];
      DvdSector(lba, sector);
      ASSERT_TRUE(drive.WriteLBA(CSD_SECTORONLY, sector, lba));
    }
    EXPECT_FALSE(drive.CloseSession());
    EXPECT_TRUE(drive.WriteEnd(true));
  }
  EXPECT_FALSE(drive.IsDiscEmpty());
  EXPECT_EQ(rig.soft()->media().status, emu::DiscStatus::kAppendable);
  uint8_t track[48] = {};
  ASSERT_TRUE(drive.ReadTrackInformation(track, 1, sizeof track));
  EXPECT_EQ(track[6] & 0x40, 0);  // not blank
  EXPECT_EQ(track[7] & 0x01, 0);  // and no longer writable
  EXPECT_EQ(track[28] << 24 | track[29] << 16 | track[30] << 8 | track[31], kSent - 1);  // last recorded
  rig.hooks().ClearLog();
  EXPECT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(kImage)), CBR_NOTEMPTY);
  EXPECT_TRUE(rig.Commands(kReserveTrack).empty());
  EXPECT_TRUE(rig.Commands(kWrite10).empty());
  // No TOC: the read pass sees one track of the reservation, none of it readable.
  TocStructure read_toc;
  ASSERT_EQ(drive.ReadStart(CCC_DATA, 0, &read_toc), CBR_OK);
  EXPECT_EQ(drive.GetLastLBA(), kImage - 1);
  uint8_t got[2048];
  EXPECT_FALSE(drive.ReadLBA(got, 0));
  EXPECT_EQ(drive.GetSCSIErrorStatus(), 0x031100);
  EXPECT_FALSE(drive.ReadLBA(got, kSent));
  EXPECT_EQ(drive.GetSCSIErrorStatus(), 0x080000);
  EXPECT_TRUE(drive.ReadEnd());
}

INSTANTIATE_TEST_SUITE_P(WriteOnceMedia, CutBurnTest,
                         ::testing::Values(CutBurnCase{"dvd-r", true}, CutBurnCase{"dvd+r", true},
                                           CutBurnCase{"bd-r", true}, CutBurnCase{"hddvd-r", true},
                                           CutBurnCase{"dvd-r", false}, CutBurnCase{"bd-r", false}),
                         [](const ::testing::TestParamInfo<CutBurnCase>& info) {
                           return MediumTestName(info.param.medium) + (info.param.killed ? "_killed" : "_stopped");
                         });

// A random-writable disc is written over whole: after a first image, a
// second and larger one fits and reads back.
class RewrittenRandomMediumTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RewrittenRandomMediumTest, TakesASecondLargerImage) {
  WriteRig rig(GetParam());
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  WriteDvdImage(drive, 300);
  if (HasFatalFailure()) return;
  WriteDvdImage(drive, 2000);
  if (HasFatalFailure()) return;
  ExpectDvdSectors(drive, 2000, 13);
}

INSTANTIATE_TEST_SUITE_P(Media, RewrittenRandomMediumTest, ::testing::Values("dvd-ram", "0x52"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "dvd-ram" ? "DvdRam" : "HdDvdRam";
                         });

// A disc written and read back in one process, its tray then opened, reads
// the same in the next process once its tray is closed again.
class TrayOpenAcrossProcessesTest : public ::testing::TestWithParam<const char*> {};

TEST_P(TrayOpenAcrossProcessesTest, DiscReadsWholeInTheNextProcess) {
  constexpr int32_t kImage = 700;
  testing::ScratchDir dir;
  const std::string state = (dir / "drive.state").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 0;
    {
      WriteRig rig(GetParam(), {}, state);
      if (!rig.opened()) ::_exit(2);
      WriteDvdImage(rig.drive(), kImage);
      ExpectDvdSectors(rig.drive(), kImage, 7);
      if (::testing::Test::HasFailure()) code = 3;
      if (!rig.drive().LoadTray(false)) code = 4;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  WriteRig rig(GetParam(), {}, state);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_TRUE(drive.LoadTray(true));
  ASSERT_TRUE(drive.IsReady());
  EXPECT_EQ(drive.GetMediaType(), rig.soft()->media().profile);
  EXPECT_FALSE(drive.IsDiscEmpty());
  ExpectDvdSectors(drive, kImage);
  TocStructure toc;
  ASSERT_EQ(drive.ReadStart(CCC_DATA, 0, &toc), CBR_OK);
  EXPECT_EQ(drive.GetLastLBA(), kImage - 1);
  EXPECT_TRUE(drive.ReadEnd());
}

INSTANTIATE_TEST_SUITE_P(Media, TrayOpenAcrossProcessesTest, ::testing::Values("bd-r", "dvd+r", "dvd-ram", "hddvd-r"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return MediumTestName(info.param); });

// A disc-at-once CD burn writes the disc from its lead-in on: killed
// halfway, it leaves a disc that is no longer blank. A CD-R refuses a second
// burn untouched; a CD-RW is blanked for it.
struct CutCdCase {
  const char* name;
  const char* medium;
  int32_t mode;
  int32_t second_start;
  size_t blanks;
};

class CutCdBurnTest : public ::testing::TestWithParam<CutCdCase> {};

TEST_P(CutCdBurnTest, KilledBurnLeavesADiscThatIsNotBlank) {
  const CutCdCase& c = GetParam();
  constexpr int32_t kImage = 2000;
  constexpr int32_t kSent = 26 * 4;
  testing::ScratchDir dir;
  const std::string state = (dir / "drive.state").string();
  BurnAndKill(state, c.medium, c.mode, kImage, kSent);
  if (HasFatalFailure()) return;

  WriteRig rig(c.medium, {}, state);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  EXPECT_FALSE(drive.IsDiscEmpty());
  EXPECT_EQ(rig.soft()->media().status, emu::DiscStatus::kAppendable);
  // The killed process's last WRITE reached the state: the pass ends where it stopped.
  const emu::MediaState media = rig.soft()->media();
  EXPECT_TRUE(media.open_pass);
  EXPECT_GT(media.pass_end, media.pass_start);
  if (c.mode == CCC_SAO) {
    EXPECT_GE(media.pass_end, 0);  // past the first pregap
  }
  const auto data_path = dir / "drive.state.data";
  const Bytes before = ReadFile(data_path);
  ASSERT_FALSE(before.empty());
  rig.hooks().ClearLog();
  ASSERT_EQ(drive.WriteStart(c.mode, 0, DvdToc(kImage)), c.second_start);
  EXPECT_EQ(rig.Commands(kBlank).size(), c.blanks);
  if (c.second_start != CBR_OK) {
    EXPECT_TRUE(rig.Commands(kSendCueSheet).empty());
    EXPECT_TRUE(rig.Commands(kWrite10).empty());
    EXPECT_EQ(ReadFile(data_path), before);
    return;
  }
  EXPECT_TRUE(drive.WriteEnd(true));
}

INSTANTIATE_TEST_SUITE_P(
    Media, CutCdBurnTest,
    ::testing::Values(CutCdCase{"CdRSessionAtOnce", "cd-r", CCC_SAO, CBR_NOTEMPTY, 0},
                      CutCdCase{"CdRRaw96", "cd-r", CCC_DAO_RAW96, CBR_NOTEMPTY, 0},
                      CutCdCase{"CdRwSessionAtOnce", "cd-rw", CCC_SAO, CBR_OK, 1},
                      CutCdCase{"CdRwRaw16", "cd-rw", CCC_DAO_RAW16, CBR_OK, 1}),
    [](const ::testing::TestParamInfo<CutCdCase>& info) { return std::string(info.param.name); });

TEST(WriteStartTest, SecondStartWhileWritingIsAlreadyRunning) {
  WriteRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  ASSERT_EQ(rig.drive().WriteStart(CCC_SAO, 0, DvdToc(100)), CBR_OK);
  rig.hooks().ClearLog();
  EXPECT_EQ(rig.drive().WriteStart(CCC_SAO, 0, DvdToc(100)), CBR_ALREADYRUNNING);
  EXPECT_TRUE(rig.hooks().log().empty());
  EXPECT_EQ(rig.drive().ReadStart(CCC_DATA, 0, nullptr), CBR_ALREADYRUNNING);
  EXPECT_TRUE(rig.drive().WriteEnd(false));
}

// ---------------------------------------------------------------------------
// Sector handling (no cache: the calls reach the pass directly)

class UncachedWrite : public ::testing::Test {
 protected:
  void Start(const char* medium, int32_t mode, const TocStructure& toc) {
    rig_ = std::make_unique<WriteRig>(medium);
    ASSERT_TRUE(rig_->opened());
    drive().SetWriteCacheBufferSize(0);
    ASSERT_EQ(drive().WriteStart(mode, 0, toc), CBR_OK);
    rig_->hooks().ClearLog();
  }
  GatedDrive& drive() { return rig_->drive(); }
  WriteRig& rig() { return *rig_; }
  bool WriteDvd(int32_t lba) {
    uint8_t sector[2048];
    DvdSector(lba, sector);
    return drive().WriteLBA(CSD_SECTORONLY, sector, lba);
  }
  void ExpectDvdContent(int32_t sectors, const std::vector<int32_t>& zero_lbas) {
    ASSERT_EQ(drive().ReadStart(CCC_DATA, 0, nullptr), CBR_OK);
    for (int32_t lba = 0; lba < sectors; ++lba) {
      uint8_t got[2048], want[2048] = {};
      ASSERT_TRUE(drive().ReadLBA(got, lba)) << lba;
      if (std::find(zero_lbas.begin(), zero_lbas.end(), lba) == zero_lbas.end()) DvdSector(lba, want);
      ASSERT_EQ(std::memcmp(got, want, 2048), 0) << lba;
    }
    drive().ReadEnd();
  }

  std::unique_ptr<WriteRig> rig_;
};

TEST_F(UncachedWrite, GapIsFilledWithGeneratedSectors) {
  Start("dvd-r", CCC_SAO, DvdToc(30));
  for (int32_t lba = 0; lba < 7; ++lba) ASSERT_TRUE(WriteDvd(lba));
  EXPECT_EQ(drive().current_lba(), 7);
  ASSERT_TRUE(WriteDvd(10));
  EXPECT_EQ(drive().current_lba(), 11);
  // Sectors go out in order: 0..6, three generated, then 10.
  EXPECT_EQ(drive().fifo_bytes(), 11 * 2048);
  for (int32_t lba = 11; lba < 30; ++lba) ASSERT_TRUE(WriteDvd(lba));
  ASSERT_TRUE(drive().WriteEnd(false));
  ExpectDvdContent(30, {7, 8, 9});
}

TEST_F(UncachedWrite, BlocksOf26AndTheRestAtTheEnd) {
  Start("dvd-r", CCC_SAO, DvdToc(30));
  for (int32_t lba = 0; lba < 30; ++lba) ASSERT_TRUE(WriteDvd(lba));
  auto writes = rig().Commands(kWrite10);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(CdbLba(writes[0]), 0);
  EXPECT_EQ(CdbCount(writes[0]), 26);
  ASSERT_TRUE(drive().WriteEnd(false));
  writes = rig().Commands(kWrite10);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(CdbLba(writes[1]), 26);
  EXPECT_EQ(CdbCount(writes[1]), 4);
}

TEST_F(UncachedWrite, EndWritesTheOneMissingLastSector) {
  Start("dvd-r", CCC_SAO, DvdToc(30));
  for (int32_t lba = 0; lba < 29; ++lba) ASSERT_TRUE(WriteDvd(lba));
  ASSERT_TRUE(drive().WriteEnd(false));
  const auto writes = rig().Commands(kWrite10);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(CdbLba(writes[1]) + CdbCount(writes[1]), 30);
  ExpectDvdContent(30, {29});
}

TEST_F(UncachedWrite, DvdRefusesSectorsPastTheLastAndUnreadableMarks) {
  Start("dvd-r", CCC_SAO, DvdToc(10));
  EXPECT_FALSE(drive().WriteLBA(CSD_ERRORDATA, nullptr, 0));
  EXPECT_FALSE(drive().WriteLBA(3, nullptr, 0));  // no such data type
  for (int32_t lba = 0; lba < 10; ++lba) ASSERT_TRUE(WriteDvd(lba));
  // LBA 10 is one past the last sector of a 10-sector image.
  EXPECT_FALSE(WriteDvd(10));
  EXPECT_FALSE(WriteDvd(5));  // behind the write position
  EXPECT_TRUE(drive().WriteEnd(false));
  EXPECT_FALSE(drive().WriteEnd(false));  // no pass any more
}

TEST_F(UncachedWrite, RawPositionMovesBackOnlyOverQueuedSectors) {
  CdImage image;
  Start("cd-r", CCC_DAO_RAW96, image.toc);
  // Write up to LBA 49 (the lead-in before it is generated).
  for (int32_t lba = 0; lba < 50; ++lba) {
    Bytes wrong(2448, 0x5A);
    ASSERT_TRUE(drive().WriteLBA(CSD_MAINCHANNEL, lba < 45 ? image.Payload(CSD_MAINCHANNEL, lba).data() : wrong.data(), lba));
  }
  const int32_t sent_up_to = drive().fifo_lba();
  ASSERT_LE(sent_up_to, 45);
  ASSERT_GT(sent_up_to, 20);
  // Back to 45: the queued 45..49 are dropped and written again correctly.
  ASSERT_TRUE(drive().WriteLBA(CSD_MAINCHANNEL, image.Payload(CSD_MAINCHANNEL, 45).data(), 45));
  EXPECT_EQ(drive().current_lba(), 46);
  EXPECT_EQ(drive().fifo_bytes(), (46 - sent_up_to) * 2448);
  // Behind what the drive already has: refused.
  EXPECT_FALSE(drive().WriteLBA(CSD_MAINCHANNEL, image.Payload(CSD_MAINCHANNEL, 0).data(), sent_up_to - 1));
  for (int32_t lba = 46; lba <= CdImage::kLastLba; ++lba) {
    ASSERT_TRUE(drive().WriteLBA(CSD_MAINCHANNEL, image.Payload(CSD_MAINCHANNEL, lba).data(), lba));
  }
  ASSERT_TRUE(drive().WriteEnd(false));
  for (int32_t lba : {44, 45, 46, 49, 50}) {
    uint8_t main[2352], sub[96];
    std::string error;
    ASSERT_TRUE(rig().soft()->ReadCdSector(lba, main, sub, &error)) << error;
    EXPECT_EQ(std::memcmp(main, image.Expected(lba).data(), 2352), 0) << lba;
  }
}

TEST_F(UncachedWrite, SessionAtOnceNeverMovesBack) {
  CdImage image;
  Start("cd-r", CCC_SAO, image.toc);
  for (int32_t lba = 0; lba < 10; ++lba) ASSERT_TRUE(drive().WriteLBA(CSD_SECTORONLY, image.Payload(0, lba).data(), lba));
  EXPECT_FALSE(drive().WriteLBA(CSD_SECTORONLY, image.Payload(0, 5).data(), 5));
  EXPECT_TRUE(drive().WriteEnd(true));
}

TEST_F(UncachedWrite, UnreadableMarkOnCd) {
  CdImage image;
  Start("cd-r", CCC_SAO, image.toc);
  ASSERT_TRUE(drive().WriteLBA(CSD_ERRORDATA, nullptr, 5));   // data position
  ASSERT_TRUE(drive().WriteLBA(CSD_ERRORDATA, nullptr, 700)); // audio position
  // Past the image's last LBA nothing is taken (and no gap filled up to it).
  EXPECT_FALSE(drive().WriteLBA(CSD_GENERATED, nullptr, CdImage::kLastLba + 1));
  EXPECT_EQ(drive().current_lba(), 701);
  ASSERT_TRUE(drive().WriteEnd(false));
  uint8_t main[2352], sub[96];
  std::string error;
  ASSERT_TRUE(rig().soft()->ReadCdSector(5, main, sub, &error)) << error;
  EXPECT_EQ(main[15], 1);  // still a Mode 1 header
  EXPECT_TRUE(std::all_of(main + 16, main + 2352, [](uint8_t b) { return b == 0xAA; }));
  ASSERT_TRUE(rig().soft()->ReadCdSector(700, main, sub, &error)) << error;
  EXPECT_TRUE(std::all_of(main, main + 2352, [](uint8_t b) { return b == 0; }));
}

// ---------------------------------------------------------------------------
// Drive trouble

TEST(WriteFaultTest, LongWriteInProgressIsRetried) {
  emu::DriveFaults faults;
  faults.long_write_in_progress = 3;
  WriteRig rig("dvd-r", faults);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(52)), CBR_OK);
  for (int32_t lba = 0; lba < 52; ++lba) {
    uint8_t sector[2048];
    DvdSector(lba, sector);
    ASSERT_TRUE(drive.WriteLBA(CSD_SECTORONLY, sector, lba));
  }
  ASSERT_TRUE(drive.WriteEnd(false));
  EXPECT_EQ(rig.Commands(kWrite10).size(), 2u + 3u);
}

TEST(WriteFaultTest, EndlessLongWriteGivesUp) {
  testing::ScopedManualClock clock;
  emu::DriveFaults faults;
  faults.long_write_in_progress = 1 << 30;
  WriteRig rig("dvd-r", faults);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  drive.SetWriteCacheBufferSize(0);
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(26)), CBR_OK);
  bool all_good = true;
  for (int32_t lba = 0; lba < 26; ++lba) {
    uint8_t sector[2048];
    DvdSector(lba, sector);
    all_good = drive.WriteLBA(CSD_SECTORONLY, sector, lba) && all_good;
  }
  EXPECT_FALSE(all_good);
  const size_t attempts = rig.Commands(kWrite10).size();
  EXPECT_GT(attempts, 100u);
  EXPECT_LE(attempts, static_cast<size_t>(MmcDrive::kLongWriteRetryMs / MmcDrive::kLongWriteRetryDelayMs + 1));
  EXPECT_TRUE(drive.WriteEnd(true));
}

TEST(WriteFaultTest, DvdReadyWaitFollowsTheDrive) {
  struct WaitCase {
    int polls;
    uint8_t ascq;
    size_t expected_tur;
  };
  // Still becoming ready (long write, operation in progress): waited for.
  // Any other condition ends the wait at once.
  for (const WaitCase& w : {WaitCase{4, 0x08, 5}, WaitCase{3, 0x07, 4}, WaitCase{50, 0x02, 1}}) {
    testing::ScopedManualClock clock;
    emu::DriveFaults faults;
    faults.not_ready_after_sync = w.polls;
    faults.not_ready_after_sync_ascq = w.ascq;
    WriteRig rig("dvd-r", faults);
    ASSERT_TRUE(rig.opened());
    ASSERT_EQ(rig.drive().WriteStart(CCC_SAO, 0, DvdToc(10)), CBR_OK);
    rig.hooks().ClearLog();
    EXPECT_TRUE(rig.drive().WriteEnd(false));
    EXPECT_EQ(rig.Commands(kTestUnitReady).size(), w.expected_tur) << int(w.ascq);
  }
}

TEST(WriteFaultTest, DvdReadyWaitIsBounded) {
  testing::ScopedManualClock clock;
  emu::DriveFaults faults;
  faults.not_ready_after_sync = 1 << 30;
  faults.not_ready_after_sync_ascq = 0x08;
  WriteRig rig("dvd-r", faults);
  ASSERT_TRUE(rig.opened());
  ASSERT_EQ(rig.drive().WriteStart(CCC_SAO, 0, DvdToc(10)), CBR_OK);
  rig.hooks().ClearLog();
  const auto started = clock.clock().Now();
  rig.drive().WriteEnd(false);
  EXPECT_GE(clock.clock().Now() - started, std::chrono::milliseconds(DiscDrive::kReadyWaitMs));
  EXPECT_LE(rig.Commands(kTestUnitReady).size(),
            static_cast<size_t>(DiscDrive::kReadyWaitMs / DiscDrive::kReadyPollMs + 1));
  EXPECT_FALSE(rig.drive().IsWriting());
}

TEST(WriteFaultTest, FailedWriteFailsTheRestOfTheCachedPass) {
  emu::DriveFaults faults;
  faults.write_error_lba = 100;
  WriteRig rig("dvd-r", faults);
  ASSERT_TRUE(rig.opened());
  GatedDrive& drive = rig.drive();
  ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, DvdToc(400)), CBR_OK);
  int32_t first_refused = -1;
  for (int32_t lba = 0; lba < 400; ++lba) {
    uint8_t sector[2048];
    DvdSector(lba, sector);
    if (!drive.WriteLBA(CSD_SECTORONLY, sector, lba)) {
      if (first_refused < 0) first_refused = lba;
    } else {
      // Once refused, never good again in this pass.
      ASSERT_LT(first_refused, 0) << lba;
    }
  }
  EXPECT_FALSE(drive.WriteFlush(false));
  // The worker's last command was the WRITE that failed (3/0C/00).
  EXPECT_EQ(drive.GetSCSIErrorStatus(), 0x030C00);
  EXPECT_FALSE(drive.WriteEnd(false));
  EXPECT_FALSE(drive.IsWriting());
  // The last sector taken in before the block holding LBA 100 failed.
  EXPECT_EQ(drive.GetLastWroteLBA(), 102);
  // Nothing was sent past the block that failed, and the hole was not padded over.
  for (const auto& w : rig.Commands(kWrite10)) EXPECT_LE(CdbLba(w), 100) << CdbLba(w);
}

}  // namespace
}  // namespace sorvel::write_test
