// TOC, sector reads and the write commands of MmcDrive against the emulated drive.
#include <gtest/gtest.h>

#include <cstring>

#include "device_engine/mmc_drive.h"
#include "device_engine/mmc_drive_test_support.h"
#include "testing/manual_clock.h"

namespace sorvel {
namespace {

using platform::emu::DataDirection;
using platform::emu::DriveFaults;

TOCTrack Entry(uint8_t track, uint8_t index, uint8_t flags, uint8_t mode, int32_t start, int32_t end) {
  TOCTrack t;
  t.SessionNo = 1;
  t.TrackNo = track;
  t.IndexNo = index;
  t.Flags = flags;
  t.SectorMode = mode;
  t.StartLBA = start;
  t.EndLBA = end;
  return t;
}

std::vector<TOCTrack> Tracks(const TocStructure& toc) {
  std::vector<TOCTrack> out;
  for (int i = 0; i < toc.Count(TST_TOC); ++i) out.push_back(toc.Track(i));
  return out;
}

std::string Describe(const std::vector<TOCTrack>& tracks) {
  std::string s;
  for (const TOCTrack& t : tracks) {
    s += std::to_string(t.SessionNo) + "/" + std::to_string(t.TrackNo) + "." + std::to_string(t.IndexNo) + " f" +
         std::to_string(t.Flags) + " m" + std::to_string(t.SectorMode) + " " + std::to_string(t.StartLBA) + ".." +
         std::to_string(t.EndLBA) + "\n";
  }
  return s;
}

std::vector<TOCTrack> ExpectedCdToc(const CdImage& image, int32_t track2_pregap = 150) {
  std::vector<TOCTrack> t = {Entry(1, 1, 4, 1, 0, 299)};
  if (track2_pregap > 0) t.push_back(Entry(2, 0, 0, 0, 450 - track2_pregap, 449));
  t.push_back(Entry(2, 1, 0, 0, 450, 1049));
  if (image.pregap3 > 0) t.push_back(Entry(3, 0, 0, 0, 1050, image.track3_start() - 1));
  t.push_back(Entry(3, 1, 0, 0, image.track3_start(), image.lead_out() - 1));
  if (track2_pregap != 150) t[0].EndLBA = 450 - track2_pregap - 1;
  return t;
}

struct PregapCase {
  int32_t pregap;
  int shift;
};

class MmcDrivePregapSearch : public ::testing::TestWithParam<PregapCase> {};

TEST_P(MmcDrivePregapSearch, RawTocFindsEveryPregap) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), GetParam().pregap);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();
  int shift = GetParam().shift;
  d.emu.hooks().UpdateFaults([shift](DriveFaults& f) { f.q_shift = shift; });
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, true, true));
  EXPECT_EQ(Describe(Tracks(toc)), Describe(ExpectedCdToc(image)));
  EXPECT_EQ(d.emu.Commands(0x43).front().cdb, Bytes({0x43, 2, 2, 0, 0, 0, 0, 0x05, 0x84, 0x80}));
  EXPECT_GT(toc.Count(TST_RAWTOC), 5);
}

INSTANTIATE_TEST_SUITE_P(Pregaps, MmcDrivePregapSearch,
                         ::testing::Values(PregapCase{0, 0}, PregapCase{150, 0}, PregapCase{151, 0},
                                           PregapCase{300, 0}, PregapCase{0, -2}, PregapCase{150, -2},
                                           PregapCase{151, -2}, PregapCase{300, -2}, PregapCase{0, 2},
                                           PregapCase{150, 2}, PregapCase{151, 2}, PregapCase{300, 2}),
                         [](const auto& info) {
                           return "gap" + std::to_string(info.param.pregap) + "_shift" +
                                  (info.param.shift < 0 ? "m" : "p") + std::to_string(std::abs(info.param.shift));
                         });

TEST(MmcDriveRawToc, WithoutSearchOrWithFailedSearch) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 151);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);
  TocStructure toc;
  // Without the search only the first track's own pregap is known.
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, false, true));
  std::vector<TOCTrack> expected = {Entry(1, 1, 4, 1, 0, 449), Entry(2, 1, 0, 0, 450, image.track3_start() - 1),
                                    Entry(3, 1, 0, 0, image.track3_start(), image.lead_out() - 1)};
  EXPECT_EQ(Describe(Tracks(toc)), Describe(expected));
  EXPECT_TRUE(d.emu.Commands(0xBE).size() == 1u);  // only the sector mode probe of track 1

  // A search that cannot read: the audio track after the data track gets 150
  // sectors, the audio track after the audio track none.
  d.emu.hooks().UpdateFaults([&](DriveFaults& f) {
    f.unreadable = {{450, 450}, {image.track3_start(), image.track3_start()}};
  });
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, true, true));
  expected = {Entry(1, 1, 4, 1, 0, 299), Entry(2, 0, 0, 0, 300, 449), Entry(2, 1, 0, 0, 450, image.track3_start() - 1),
              Entry(3, 1, 0, 0, image.track3_start(), image.lead_out() - 1)};
  EXPECT_EQ(Describe(Tracks(toc)), Describe(expected));
}

TEST(MmcDriveRawToc, ReorderedDescriptorsGiveTheSameToc) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 150);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.reverse_raw_toc = true; });
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, true, true));
  EXPECT_EQ(Describe(Tracks(toc)), Describe(ExpectedCdToc(image)));
  EXPECT_EQ(toc.Count(TST_CDTEXT), 0);
}

TEST(MmcDriveReadCd, MainChannelAndSubchannelForms) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 150);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);

  std::vector<uint8_t> buffer(3 * kCdSectorWithSubSize);
  ASSERT_TRUE(d.drive.ReadCd(buffer.data(), 448, 3, kReadMain));
  EXPECT_EQ(d.emu.LastCdb(0xBE), Bytes({0xBE, 0, 0, 0, 0x01, 0xC0, 0, 0, 3, 0xF8, 0, 0}));
  EXPECT_EQ(d.emu.Commands(0xBE).back().length, 3u * 2352);
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> expected = image.Sector(448 + i);
    EXPECT_EQ(0, std::memcmp(buffer.data() + i * kCdMainSize, expected.data(), kCdMainSize)) << i;
  }

  // Formatted Q: sector 448 is in track 2's pregap (P set), 450 starts index 1.
  ASSERT_TRUE(d.drive.ReadCd(buffer.data(), 448, 3, kReadMainQ));
  EXPECT_EQ(d.emu.LastCdb(0xBE)[10], 2);
  EXPECT_EQ(d.emu.Commands(0xBE).back().length, 3u * 2368);
  for (int i = 0; i < 3; ++i) {
    const uint8_t* sector = buffer.data() + i * kCdSectorWithSubSize;
    const uint8_t* p = sector + kCdMainSize;
    const uint8_t* q = p + 12;
    std::vector<uint8_t> expected = image.Sector(448 + i);
    EXPECT_EQ(0, std::memcmp(sector, expected.data(), kCdMainSize));
    EXPECT_EQ(q[0] & 0x0F, 1);
    EXPECT_EQ(q[1], 0x02);
    EXPECT_EQ(q[2], i < 2 ? 0 : 1);
    MsfTime absolute = MsfTime::FromLba(448 + i);
    EXPECT_EQ(q[7], ToBcd(absolute.minute));
    EXPECT_EQ(q[8], ToBcd(absolute.second));
    EXPECT_EQ(q[9], ToBcd(absolute.frame));
    uint8_t copy[12];
    std::memcpy(copy, q, 12);
    d.drive.SetSubQCrc(copy);
    EXPECT_EQ(0, std::memcmp(copy, q, 12)) << "Q CRC of sector " << 448 + i;
    EXPECT_EQ(p[0], i < 2 ? 0xFF : 0x00);
    for (int b = 24; b < 96; ++b) ASSERT_EQ(p[b], 0);
  }

  // Raw P-W separated into channels: the same Q and P.
  std::vector<uint8_t> raw(3 * kCdSectorWithSubSize);
  ASSERT_TRUE(d.drive.ReadCd(raw.data(), 448, 3, kReadMainPW));
  EXPECT_EQ(d.emu.LastCdb(0xBE)[10], 1);
  EXPECT_EQ(d.emu.Commands(0xBE).back().length, 3u * 2448);
  for (int i = 0; i < 3; ++i) {
    const uint8_t* a = buffer.data() + i * kCdSectorWithSubSize + kCdMainSize;
    const uint8_t* b = raw.data() + i * kCdSectorWithSubSize + kCdMainSize;
    EXPECT_EQ(0, std::memcmp(a, b, 24)) << i;
  }
}

TEST(MmcDriveReadCd, NegativeAddressesUseMsfAndBadTypesSendNothing) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 0);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);
  std::vector<uint8_t> buffer(2 * kCdSectorWithSubSize);
  d.drive.ReadCd(buffer.data(), -150, 1, kReadMain);
  EXPECT_EQ(d.emu.LastCdb(0xB9), Bytes({0xB9, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0}));
  d.drive.ReadCd(buffer.data(), -2, 2, kReadMainQ);
  EXPECT_EQ(d.emu.LastCdb(0xB9), Bytes({0xB9, 0, 0, 0, 1, 73, 0, 2, 0, 0xF8, 2, 0}));
  size_t before = d.emu.Commands().size();
  EXPECT_FALSE(d.drive.ReadCd(buffer.data(), 0, 1, 4));
  EXPECT_FALSE(d.drive.ReadCd(buffer.data(), 0, 1, 0));
  EXPECT_EQ(d.emu.Commands().size(), before);
}

TEST(MmcDriveReadCd, UnreadableSectorFails) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 0);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.unreadable = {{20, 20}}; });
  std::vector<uint8_t> buffer(4 * kCdMainSize);
  EXPECT_FALSE(d.drive.ReadCd(buffer.data(), 18, 4, kReadMain));
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x031100);
  EXPECT_TRUE(d.drive.ReadCd(buffer.data(), 21, 4, kReadMain));
}

TEST(MmcDriveDvd, TocCapacityAndRead10) {
  testing::ScratchDir dir;
  auto iso = MakeDataImage(dir.path(), 64);
  DriveOnEmulator d("medium=dvd-rom,image=" + iso.string());
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();
  EXPECT_EQ(d.drive.ReadCapacity(), 64);
  EXPECT_EQ(d.emu.LastCdb(0x25), Bytes({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadToc(&toc));
  EXPECT_EQ(d.emu.LastCdb(0x43), Bytes({0x43, 0, 0, 0, 0, 0, 1, 0x04, 0x04, 0}));
  EXPECT_EQ(Describe(Tracks(toc)), Describe({Entry(1, 1, 4, 1, 0, 63)}));

  std::vector<uint8_t> buffer(3 * 2048);
  ASSERT_TRUE(d.drive.Read10(buffer.data(), 10, 3));
  EXPECT_EQ(d.emu.LastCdb(0x28), Bytes({0x28, 0, 0, 0, 0, 10, 0, 0, 3, 0}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(0, std::memcmp(buffer.data() + i * 2048, DataSector(10 + i).data(), 2048)) << i;
  }
  std::memset(buffer.data(), 0x55, buffer.size());
  EXPECT_FALSE(d.drive.Read10(buffer.data(), 63, 2));  // past the end
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x052100);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[2 * 2048 - 1], 0);
  EXPECT_EQ(buffer[2 * 2048], 0x55);  // nothing past the two sectors asked for
}

TEST(MmcDriveToc, CdTocFromFormatZero) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 0);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadToc(&toc));
  EXPECT_EQ(Describe(Tracks(toc)),
            Describe({Entry(1, 1, 4, 1, 0, 449), Entry(2, 1, 0, 1, 450, 1049),
                      Entry(3, 1, 0, 1, 1050, image.lead_out() - 1)}));
}

TEST(MmcDriveWrite, WriteBeforeParametersSendsNothing) {
  DriveOnEmulator d("medium=dvd-r");
  ASSERT_TRUE(d.opened);
  std::vector<uint8_t> data(2048);
  size_t before = d.emu.Commands().size();
  EXPECT_EQ(d.drive.GetBlockLength(), 0);
  EXPECT_FALSE(d.drive.Write10(data.data(), 0, 1));
  EXPECT_EQ(d.emu.Commands().size(), before);
}

struct ModeCase {
  int32_t mode;
  int32_t family;
  const char* medium;
  int32_t block_length;
  uint8_t write_type;
  uint8_t byte3;
  uint8_t data_block_type;
};

class MmcDriveWriteParameters : public ::testing::TestWithParam<ModeCase> {};

TEST_P(MmcDriveWriteParameters, BuildPageFive) {
  const ModeCase& c = GetParam();
  DriveOnEmulator d(std::string("medium=") + c.medium);
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.strict_mode_select = true; });
  EXPECT_TRUE(d.drive.SetWriteParameters(c.mode, true, false, c.family));
  EXPECT_EQ(d.drive.GetBlockLength(), c.block_length);
  auto sense = d.emu.Commands(0x5A);
  ASSERT_GE(sense.size(), 2u);
  EXPECT_EQ(sense[sense.size() - 2].cdb[2], 0x45);  // changeable values first
  EXPECT_EQ(sense.back().cdb[2], 0x85);             // then defaults
  uint8_t cdb[10] = {0x5A, 0, 0x05, 0, 0, 0, 0, 0x01, 0x08, 0};
  uint8_t page[264] = {};
  ASSERT_EQ(d.emu.pass_through().ExecCommand(cdb, 10, page, sizeof page, nullptr, false, 180), 0);
  size_t at = 8 + (page[6] << 8 | page[7]);
  EXPECT_EQ(page[at + 2], 0x40 | c.write_type);
  EXPECT_EQ(page[at + 3], c.byte3);
  EXPECT_EQ(page[at + 4], c.data_block_type);
}

INSTANTIATE_TEST_SUITE_P(Modes, MmcDriveWriteParameters,
                         ::testing::Values(ModeCase{0, 0, "cd-r", 2352, 2, 0, 8},
                                           ModeCase{0, 1, "cd-rw", 2352, 2, 0, 8},
                                           ModeCase{0, 0, "dvd-r", 2048, 2, 0x24, 8},
                                           ModeCase{0, 3, "bd-r", 2048, 2, 0x24, 8},
                                           ModeCase{1, 0, "cd-r", 2352, 2, 0, 0},
                                           ModeCase{2, 0, "cd-r", 2448, 2, 0, 3},
                                           ModeCase{3, 0, "cd-r", 2368, 3, 0, 1},
                                           ModeCase{4, 0, "cd-r", 2448, 3, 0, 3}));

TEST(MmcDriveWrite, ParameterRefusals) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  EXPECT_FALSE(d.drive.SetWriteParameters(0, true, false, 5));
  EXPECT_EQ(d.drive.GetBlockLength(), 0);
  EXPECT_FALSE(d.drive.SetWriteParameters(5, true, false, 1));
  EXPECT_EQ(d.drive.GetBlockLength(), 0);

  // Without BUFE among the changeable bits, no underrun protection is asked for.
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.missing_bufe = true; });
  EXPECT_TRUE(d.drive.SetWriteParameters(0, true, true, 1));
  uint8_t cdb[10] = {0x5A, 0, 0x05, 0, 0, 0, 0, 0x01, 0x08, 0};
  uint8_t page[264] = {};
  ASSERT_EQ(d.emu.pass_through().ExecCommand(cdb, 10, page, sizeof page, nullptr, false, 180), 0);
  size_t at = 8 + (page[6] << 8 | page[7]);
  EXPECT_EQ(page[at + 2], 0x10 | 2);  // test write, session at once

  // A write type the drive refuses: false, the block length stays set.
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.unsupported_write_modes = {{3, 0xFF}}; });
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(d.drive.SetWriteParameters(4, true, false, 0));
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("mode select error\n"), std::string::npos);
  EXPECT_EQ(d.drive.GetBlockLength(), 2448);
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x052600);
}

TEST(MmcDriveWrite, DvdSequentialWriteReadsBack) {
  DriveOnEmulator d("medium=dvd-r");
  ASSERT_TRUE(d.opened);
  int32_t free_blocks = d.drive.GetWritableSize();
  EXPECT_GT(free_blocks, 1000);
  EXPECT_EQ(d.emu.LastCdb(0x52), Bytes({0x52, 0, 0, 0, 0, 1, 0, 0x08, 0x00, 0}));
  ASSERT_TRUE(d.drive.SetWriteParameters(0, true, false, 0));
  ASSERT_TRUE(d.drive.ReserveTrack(40));
  EXPECT_EQ(d.emu.LastCdb(0x53), Bytes({0x53, 0, 0, 0, 0, 0, 0, 0, 40, 0}));
  EXPECT_EQ(d.emu.Commands(0x53).back().direction, DataDirection::kNone);

  std::vector<uint8_t> data(40 * 2048);
  for (int32_t lba = 0; lba < 40; ++lba) {
    std::vector<uint8_t> s = DataSector(lba);
    std::copy(s.begin(), s.end(), data.begin() + lba * 2048);
  }
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.long_write_in_progress = 3; });
  ASSERT_TRUE(d.drive.Write10(data.data(), 0, 26));
  auto writes = d.emu.Commands(0x2A);
  ASSERT_EQ(writes.size(), 4u);  // three long-write answers, then the write
  EXPECT_EQ(writes.back().cdb, Bytes({0x2A, 0, 0, 0, 0, 0, 0, 0, 26, 0}));
  EXPECT_EQ(writes.back().direction, DataDirection::kOut);
  EXPECT_EQ(writes.back().length, 26u * 2048);
  ASSERT_TRUE(d.drive.Write10(data.data() + 26 * 2048, 26, 14));
  EXPECT_FALSE(d.drive.Write10(data.data(), 3, 1));  // not the next writable address
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x052102);

  EXPECT_TRUE(d.drive.SynchronizeCache());
  EXPECT_EQ(d.emu.LastCdb(0x35), Bytes({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(d.emu.Commands(0x35).back().timeout_seconds, 1800u);
  for (int i = 0; i < 50 && !d.drive.IsReady(); ++i) {
  }
  d.drive.CloseSession();
  EXPECT_EQ(d.emu.LastCdb(0x5B), Bytes({0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}));

  EXPECT_EQ(d.drive.ReadCapacity(), 40);
  std::vector<uint8_t> back(40 * 2048);
  ASSERT_TRUE(d.drive.Read10(back.data(), 0, 40));
  EXPECT_EQ(back, data);
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadToc(&toc));
  EXPECT_EQ(Describe(Tracks(toc)), Describe({Entry(1, 1, 4, 1, 0, 39)}));
}

TEST(MmcDriveWrite, LongWriteRetryGivesUp) {
  testing::ScopedManualClock clock;
  DriveOnEmulator d("medium=dvd-r");
  ASSERT_TRUE(d.opened);
  ASSERT_TRUE(d.drive.SetWriteParameters(0, true, false, 0));
  ASSERT_TRUE(d.drive.ReserveTrack(16));
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.long_write_in_progress = 1000000; });
  std::vector<uint8_t> data(2048);
  EXPECT_FALSE(d.drive.Write10(data.data(), 0, 1));
  size_t sent = d.emu.Commands(0x2A).size();
  EXPECT_GE(sent, static_cast<size_t>(MmcDrive::kLongWriteRetryMs / MmcDrive::kLongWriteRetryDelayMs));
  EXPECT_LE(sent, static_cast<size_t>(MmcDrive::kLongWriteRetryMs / MmcDrive::kLongWriteRetryDelayMs) + 2);
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x020408);
}

// An MMC cue sheet of one audio track of `sectors` sectors after a 2-second pregap.
std::vector<uint8_t> AudioCueSheet(int32_t sectors) {
  MsfTime end = MsfTime::FromLba(sectors);
  return {0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,   // lead-in
          0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // track 1 index 0 at 00:00:00
          0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,   // track 1 index 1 at 00:02:00
          0x01, 0xAA, 0x01, 0x01, 0x00, end.minute, end.second, end.frame};  // lead-out
}

TEST(MmcDriveWrite, CdSessionAtOnceWithCueSheet) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  ASSERT_TRUE(d.drive.IsDiscEmpty());
  ASSERT_TRUE(d.drive.SetWriteParameters(1, true, false, 0));
  EXPECT_TRUE(d.drive.PerformOpc());
  EXPECT_EQ(d.emu.LastCdb(0x54), Bytes({0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  std::vector<uint8_t> sheet = AudioCueSheet(300);
  ASSERT_TRUE(d.drive.SendCueSheet(sheet.data(), static_cast<int32_t>(sheet.size())));
  EXPECT_EQ(d.emu.LastCdb(0x5D), Bytes({0x5D, 0, 0, 0, 0, 0, 0, 0, 32, 0}));
  EXPECT_EQ(d.emu.Commands(0x5D).back().direction, DataDirection::kOut);
  std::vector<uint8_t> too_long(kCueSheetMaxBytes + 8);
  EXPECT_FALSE(d.drive.SendCueSheet(too_long.data(), static_cast<int32_t>(too_long.size())));

  std::vector<uint8_t> block(26 * kCdMainSize);
  for (int32_t lba = -150; lba < 300; lba += 26) {
    int32_t count = std::min<int32_t>(26, 300 - lba);
    for (int32_t i = 0; i < count; ++i) {
      std::vector<uint8_t> s = lba + i < 0 ? std::vector<uint8_t>(kCdMainSize, 0) : CdImage::AudioSector(1000 + lba + i);
      std::copy(s.begin(), s.end(), block.begin() + i * kCdMainSize);
    }
    ASSERT_TRUE(d.drive.Write10(block.data(), lba, count)) << lba;
  }
  EXPECT_EQ(d.emu.Commands(0x2A).front().cdb, Bytes({0x2A, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 26, 0}));
  EXPECT_TRUE(d.drive.SynchronizeCache());
  d.drive.CloseSession();

  EXPECT_FALSE(d.drive.IsDiscEmpty());
  EXPECT_EQ(d.drive.GetLeadInStart(), 0);
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, true, true));
  EXPECT_EQ(Describe(Tracks(toc)), Describe({Entry(1, 1, 0, 0, 0, 299)}));
  std::vector<uint8_t> sector(kCdMainSize);
  ASSERT_TRUE(d.drive.ReadCd(sector.data(), 123, 1, kReadMain));
  EXPECT_EQ(sector, CdImage::AudioSector(1123));
}

TEST(MmcDriveErase, BlankAndFormat) {
  {
    DriveOnEmulator d("medium=cd-rw");
    ASSERT_TRUE(d.opened);
    EXPECT_TRUE(d.drive.Erase(true));
    EXPECT_EQ(d.emu.LastCdb(0xA1), Bytes({0xA1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(d.emu.Commands(0xA1).back().timeout_seconds, 180u);
    EXPECT_TRUE(d.drive.Erase(false));
    EXPECT_EQ(d.emu.LastCdb(0xA1), Bytes({0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(d.emu.Commands(0xA1).back().timeout_seconds, 3600u);
  }
  {
    DriveOnEmulator d("medium=cd-r");
    ASSERT_TRUE(d.opened);
    EXPECT_FALSE(d.drive.Erase(true));
    EXPECT_EQ(SenseKeyOf(d.drive.GetSCSIErrorStatus()), 5);
  }
  {
    DriveOnEmulator d("medium=dvd+rw");
    ASSERT_TRUE(d.opened);
    bool formatted = true;
    EXPECT_GT(d.drive.ReadFormatCapacities(&formatted), 0);
    EXPECT_EQ(d.emu.LastCdb(0x23), Bytes({0x23, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0}));
    size_t formats = d.emu.Commands(0x04).size();
    EXPECT_FALSE(d.drive.FormatUnit(0x30));  // not offered for DVD+RW
    EXPECT_EQ(d.emu.Commands(0x04).size(), formats);
    EXPECT_TRUE(d.drive.FormatUnit(0x26));
    auto format = d.emu.Commands(0x04);
    ASSERT_EQ(format.size(), formats + 1);
    EXPECT_EQ(format.back().cdb, Bytes({0x04, 0x11, 0, 0, 0, 0}));
    EXPECT_EQ(format.back().direction, DataDirection::kOut);
    EXPECT_EQ(format.back().length, 12u);
    EXPECT_EQ(format.back().timeout_seconds, 3600u);
    EXPECT_GT(d.drive.ReadFormatCapacities(&formatted), 0);
    EXPECT_TRUE(formatted);
  }
  {
    DriveOnEmulator d("medium=bd-re");
    ASSERT_TRUE(d.opened);
    EXPECT_TRUE(d.drive.FormatUnit(0x30));
  }
}

TEST(MmcDriveTrackInformation, CopiesWhatWasAskedFor) {
  DriveOnEmulator d("medium=dvd-r");
  ASSERT_TRUE(d.opened);
  uint8_t info[40];
  std::memset(info, 0xEE, sizeof info);
  ASSERT_TRUE(d.drive.ReadTrackInformation(info, 1, 36));
  EXPECT_EQ(d.emu.LastCdb(0x52), Bytes({0x52, 1, 0, 0, 0, 1, 0, 0, 36, 0}));
  EXPECT_EQ(info[36], 0xEE);
  EXPECT_EQ(d.drive.ReadCdText(info, 36), 0);  // no CD-Text on this medium
}

}  // namespace
}  // namespace sorvel
