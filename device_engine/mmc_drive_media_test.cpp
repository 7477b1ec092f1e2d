// MmcDrive across media: sector modes, sessions, CD-Text, DVD/BD/HD DVD writing,
// and answers longer than asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "device_engine/mmc_drive.h"
#include "device_engine/mmc_drive_test_support.h"
#include "platform/emulated_device.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_fixture.h"

namespace sorvel {
namespace {

using platform::emu::DriveFaults;

std::vector<TOCTrack> Tracks(const TocStructure& toc) {
  std::vector<TOCTrack> out;
  for (int i = 0; i < toc.Count(TST_TOC); ++i) out.push_back(toc.Track(i));
  return out;
}

TEST(MmcDriveSectorMode, DataTracksAreProbedForTheirMode) {
  {
    testing::ScratchDir dir;
    CdImageOptions options;
    options.data_mode = 2;
    CdImage image = MakeCdImage(dir.path(), 0, options);
    DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
    ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();
    TocStructure toc;
    ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, false, true));
    std::vector<TOCTrack> t = Tracks(toc);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].SectorMode, SMC_MODE2);
    EXPECT_EQ(t[1].SectorMode, SMC_AUDIO);
  }
  {
    testing::ScratchDir dir;
    CdImageOptions options;
    options.bad_sync = true;
    CdImage image = MakeCdImage(dir.path(), 0, options);
    DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
    ASSERT_TRUE(d.opened);
    TocStructure toc;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, false, true));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("不正なデータセクタSync - 00 00 00 00 00 00 00 00 00 00 00 00 \n"), std::string::npos) << out;
    EXPECT_NE(out.find("listing of row level toc\n"), std::string::npos);
    EXPECT_NE(out.find("=== end of row level toc\n"), std::string::npos);
    EXPECT_EQ(Tracks(toc)[0].SectorMode, SMC_MODE1);
  }
  {
    testing::ScratchDir dir;
    CdImage image = MakeCdImage(dir.path(), 0);
    DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
    ASSERT_TRUE(d.opened);
    d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.unreadable = {{0, 0}}; });
    TocStructure toc;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, false, true));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("読めないぞ。\n"), std::string::npos);
    EXPECT_EQ(Tracks(toc)[0].SectorMode, SMC_MODE1);
  }
}

TEST(MmcDriveSessions, SecondSessionOnlyWhenAskedFor) {
  testing::ScratchDir dir;
  CdImageOptions options;
  options.track3_session2 = true;
  CdImage image = MakeCdImage(dir.path(), 0, options);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();

  TocStructure all;
  ASSERT_TRUE(d.drive.ReadRawToc(&all, false, true, true));
  std::vector<TOCTrack> t = Tracks(all);
  ASSERT_EQ(t.size(), 4u);  // 1, 2 (index 0 and 1), 3
  EXPECT_EQ(t[2].SessionNo, 1);
  EXPECT_EQ(t[3].SessionNo, 2);
  EXPECT_EQ(t[3].TrackNo, 3);
  EXPECT_EQ(t[3].IndexNo, 1);
  // Each session ends at its own lead-out.
  int32_t session1_lead_out = 0;
  for (int i = 0; i < all.Count(TST_RAWTOC); ++i) {
    TOCRawTrack r = all.RawTrack(i);
    if (r.SessionNo == 1 && r.Point == 0xA2) session1_lead_out = MsfToLba(r.PMinute, r.PSecond, r.PFrame);
  }
  EXPECT_EQ(t[2].EndLBA, session1_lead_out - 1);
  EXPECT_LT(t[2].EndLBA, t[3].StartLBA);
  EXPECT_EQ(all.SessionEndLBA(2), t[3].EndLBA);

  TocStructure first;
  ASSERT_TRUE(d.drive.ReadRawToc(&first, false, true, false));
  std::vector<TOCTrack> f = Tracks(first);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f.back().EndLBA, session1_lead_out - 1);
  EXPECT_EQ(first.Count(TST_RAWTOC), all.Count(TST_RAWTOC));  // the raw part keeps every descriptor
}

TEST(MmcDriveSessions, FirstPregapOfALaterSessionIsSearchedOnlyWhenAsked) {
  testing::ScratchDir dir;
  CdImageOptions options;
  options.track3_session2 = true;
  CdImage image = MakeCdImage(dir.path(), 150, options);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, true, true));
  std::vector<TOCTrack> t = Tracks(toc);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[3].TrackNo, 3);
  EXPECT_EQ(t[3].IndexNo, 1);
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, true, true, true));
  t = Tracks(toc);
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[3].TrackNo, 3);
  EXPECT_EQ(t[3].IndexNo, 0);
  EXPECT_EQ(t[3].SessionNo, 2);
  EXPECT_EQ(t[3].EndLBA - t[3].StartLBA + 1, 150);
  EXPECT_EQ(t[3].EndLBA + 1, t[4].StartLBA);
}

TEST(MmcDriveCdText, PacksReachTheToc) {
  testing::ScratchDir dir;
  auto packs = testing::MakeTitlePacks({"Disc Title", "First Song", "Second Song"});
  ASSERT_FALSE(packs.empty());
  std::vector<testing::FixtureTrack> tracks(2);
  testing::CueFixture fixture = testing::MakeCueImage(dir.path(), "text", tracks, "", packs);
  DriveOnEmulator d("medium=cd-rom,image=" + fixture.cue.string());
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();

  std::vector<uint8_t> buffer(kCdTextMaxBytes, 0xEE);
  int32_t bytes = d.drive.ReadCdText(buffer.data(), kCdTextMaxBytes);
  ASSERT_EQ(bytes, static_cast<int32_t>(packs.size() * 18));
  std::vector<uint8_t> cdb = d.emu.LastCdb(0x43);
  ASSERT_EQ(cdb.size(), 10u);
  EXPECT_EQ(cdb[2], 5);
  EXPECT_EQ(cdb[7] << 8 | cdb[8], 4 + kCdTextMaxBytes);  // room for the header and 512 packs
  for (size_t i = 0; i < packs.size(); ++i) {
    EXPECT_EQ(0, std::memcmp(buffer.data() + i * 18, packs[i].data(), 18)) << i;
  }
  EXPECT_EQ(buffer[bytes], 0xEE);
  EXPECT_EQ(d.drive.ReadCdText(buffer.data(), 20), 20);  // cut to the caller's length

  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, true, true));
  ASSERT_EQ(toc.Count(TST_CDTEXT), static_cast<int>(packs.size()));
  uint8_t pack[18];
  toc.CdText(0).Store(pack);
  EXPECT_EQ(0, std::memcmp(pack, packs[0].data(), 18));
}

struct WriteMediumCase {
  const char* medium;
  int32_t format_type;  // -1: no formatting; else FORMAT UNIT first
  bool reserve;         // sequential media reserve their track
};

class MmcDriveSequentialMedia : public ::testing::TestWithParam<WriteMediumCase> {};

TEST_P(MmcDriveSequentialMedia, WriteAndReadBack) {
  const WriteMediumCase& c = GetParam();
  DriveOnEmulator d(std::string("medium=") + c.medium);
  ASSERT_TRUE(d.opened);
  if (c.format_type >= 0) {
    ASSERT_TRUE(d.drive.FormatUnit(c.format_type));
  }
  ASSERT_TRUE(d.drive.SetWriteParameters(0, true, false, 0)) << std::hex << d.drive.GetSCSIErrorStatus();
  EXPECT_EQ(d.drive.GetBlockLength(), 2048);
  constexpr int32_t kSectors = 30;
  if (c.reserve) {
    ASSERT_TRUE(d.drive.ReserveTrack(kSectors));
  }
  std::vector<uint8_t> data(kSectors * 2048);
  for (int32_t lba = 0; lba < kSectors; ++lba) {
    std::vector<uint8_t> s = DataSector(lba);
    std::copy(s.begin(), s.end(), data.begin() + lba * 2048);
  }
  ASSERT_TRUE(d.drive.Write10(data.data(), 0, 26));
  ASSERT_TRUE(d.drive.Write10(data.data() + 26 * 2048, 26, kSectors - 26));
  EXPECT_TRUE(d.drive.SynchronizeCache());
  for (int i = 0; i < 50 && !d.drive.IsReady(); ++i) {
  }
  if (c.reserve) d.drive.CloseSession();
  std::vector<uint8_t> back(kSectors * 2048);
  ASSERT_TRUE(d.drive.Read10(back.data(), 0, kSectors));
  EXPECT_EQ(back, data);
  if (c.reserve) {
    EXPECT_EQ(d.drive.ReadCapacity(), kSectors);
    TocStructure toc;
    ASSERT_TRUE(d.drive.ReadToc(&toc));
    ASSERT_EQ(toc.Count(TST_TOC), 1);
    EXPECT_EQ(toc.Track(0).StartLBA, 0);
    EXPECT_EQ(toc.Track(0).EndLBA, kSectors - 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Media, MmcDriveSequentialMedia,
                         ::testing::Values(WriteMediumCase{"dvd-r", -1, true}, WriteMediumCase{"dvd+r", -1, true},
                                           WriteMediumCase{"dvd+r-dl", -1, true}, WriteMediumCase{"bd-r", -1, true},
                                           WriteMediumCase{"hddvd-r", -1, true},
                                           WriteMediumCase{"dvd+rw", 0x26, false},
                                           WriteMediumCase{"bd-re", 0x30, false},
                                           WriteMediumCase{"dvd-ram", -1, false}),
                         [](const auto& info) {
                           std::string name = info.param.medium;
                           for (char& ch : name) {
                             if (ch == '+') ch = 'p';
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

class MmcDrivePressedMedia : public ::testing::TestWithParam<const char*> {};

TEST_P(MmcDrivePressedMedia, OneTrackTocAndCapacity) {
  testing::ScratchDir dir;
  auto iso = MakeDataImage(dir.path(), 48);
  DriveOnEmulator d(std::string("medium=") + GetParam() + ",image=" + iso.string());
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();
  EXPECT_FALSE(d.drive.IsDiscEmpty());
  EXPECT_EQ(d.drive.ReadCapacity(), 48);
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadToc(&toc));
  ASSERT_EQ(toc.Count(TST_TOC), 1);
  EXPECT_EQ(toc.Track(0).Flags, TCF_DATATRACK);
  EXPECT_EQ(toc.Track(0).EndLBA, 47);
  std::vector<uint8_t> sector(2048);
  ASSERT_TRUE(d.drive.Read10(sector.data(), 47, 1));
  EXPECT_EQ(sector, DataSector(47));
}

INSTANTIATE_TEST_SUITE_P(Media, MmcDrivePressedMedia, ::testing::Values("dvd-rom", "bd-rom", "hddvd-rom"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

// The emulated drive, with its answers changed after the fact: a drive that
// claims more data than it was asked for.
using Tamper = std::function<void(const platform::ScsiRequest&, uint8_t* data)>;

class TamperedDevice : public platform::ScsiDevice {
 public:
  TamperedDevice(std::unique_ptr<platform::ScsiDevice> inner, Tamper tamper)
      : inner_(std::move(inner)), tamper_(std::move(tamper)) {}
  platform::ScsiResult Execute(const platform::ScsiRequest& q) override {
    platform::ScsiResult r = inner_->Execute(q);
    if (r.transferred && r.status == 0 && !q.write && q.data_length > 0) {
      tamper_(q, static_cast<uint8_t*>(q.data));
    }
    return r;
  }

 private:
  std::unique_ptr<platform::ScsiDevice> inner_;
  Tamper tamper_;
};

struct TamperedDrive {
  TamperedDrive(const std::string& settings, Tamper tamper)
      : fixture(dir, settings),
        pass([this, tamper](char, std::string* error) -> std::unique_ptr<platform::ScsiDevice> {
          auto inner = platform::OpenEmulatedDevice(fixture.spec(), error);
          if (!inner) return nullptr;
          return std::make_unique<TamperedDevice>(std::move(inner), tamper);
        }) {
    drive.SetPassThrough(&pass);
    opened = drive.Open("D:");
  }
  ~TamperedDrive() { drive.SetPassThrough(nullptr); }

  testing::ScratchDir dir;
  testing::EmulatedDriveFixture fixture;
  SptiPassThrough pass;
  MmcDrive drive;
  bool opened = false;
};

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// The ATIP of a recordable CD: the lead-in start and the last possible
// lead-out start, or nothing when the drive does not give them.
struct AtipCase {
  const char* name;
  const char* settings;  // "{image}" stands for a recorded CD's cue sheet
  bool atip_missing;
  std::function<void(uint8_t*)> tamper;  // on the ATIP answer
  bool known;
};

void PrintTo(const AtipCase& c, std::ostream* out) { *out << c.name; }

class MmcDriveAtip : public ::testing::TestWithParam<AtipCase> {};

TEST_P(MmcDriveAtip, TimesOrNothing) {
  const AtipCase& c = GetParam();
  testing::ScratchDir images;
  std::string settings = c.settings;
  const size_t image_at = settings.find("{image}");
  if (image_at != std::string::npos) settings.replace(image_at, 7, MakeCdImage(images.path(), 0).cue.string());
  const auto tamper = c.tamper;
  TamperedDrive t(settings, [tamper](const platform::ScsiRequest& q, uint8_t* data) {
    if (tamper && q.cdb[0] == 0x43 && q.cdb[2] == 4) tamper(data);
  });
  ASSERT_TRUE(t.opened);
  t.fixture.hooks().UpdateFaults([&](DriveFaults& f) { f.atip_missing = c.atip_missing; });
  AtipTimes times;
  times.lead_in_start = times.last_lead_out_start = 12345;
  EXPECT_EQ(t.drive.ReadAtip(&times), c.known);
  EXPECT_EQ(t.fixture.hooks().log().back().cdb, Bytes({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 28, 0}));
  if (c.known) {
    EXPECT_EQ(times.lead_in_start, -11634);        // 97:26:66
    EXPECT_EQ(times.last_lead_out_start, 359849);  // 79:59:74
  } else {
    EXPECT_EQ(times.lead_in_start, 12345);
    EXPECT_EQ(times.last_lead_out_start, 12345);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Media, MmcDriveAtip,
    ::testing::Values(
        AtipCase{"BlankCdR", "medium=cd-r", false, nullptr, true},
        AtipCase{"BlankCdRw", "medium=cd-rw", false, nullptr, true},
        AtipCase{"PressedCd", "medium=cd-rom,image={image}", false, nullptr, false},
        AtipCase{"DvdRw", "medium=dvd-rw", false, nullptr, false},
        AtipCase{"Refused", "medium=cd-rw", true, nullptr, false},
        // An older drive takes the format from byte 9 and answers the TOC.
        AtipCase{"TocInstead", "medium=cd-rw,image={image},atapi=sff8020", false, nullptr, false},
        AtipCase{"EndsBeforeTheLeadOut", "medium=cd-rw", false, [](uint8_t* a) { a[1] = 12; }, false},
        AtipCase{"ReachesTheLeadOutFrame", "medium=cd-rw", false, [](uint8_t* a) { a[1] = 13; }, true},
        AtipCase{"FixedBitClear", "medium=cd-rw", false, [](uint8_t* a) { a[6] &= 0x7F; }, false},
        AtipCase{"FrameOutOfRange", "medium=cd-rw", false, [](uint8_t* a) { a[14] = 75; }, false},
        AtipCase{"LeadOutInLeadInTime", "medium=cd-rw", false, [](uint8_t* a) { a[12] = 95; }, false},
        AtipCase{"LeadInInProgramTime", "medium=cd-rw", false, [](uint8_t* a) { a[8] = 20; }, false},
        AtipCase{"MinuteBeyondTheClock", "medium=cd-rw", false, [](uint8_t* a) { a[8] = 100; }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MmcDriveClamping, RawTocClaimingMoreDescriptorsThanFit) {
  testing::ScratchDir images;
  CdImage image = MakeCdImage(images.path(), 150);
  TamperedDrive t("medium=cd-rom,image=" + image.cue.string(), [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x43 && q.cdb[2] == 2) {
      // Repeat the session's descriptors up to the end of the buffer and claim even more.
      size_t real = (static_cast<size_t>(data[0] << 8 | data[1]) - 2) / 11;
      for (size_t i = real; 4 + (i + 1) * 11 <= q.data_length; ++i) {
        std::memcpy(data + 4 + i * 11, data + 4 + (i % real) * 11, 11);
      }
      Put16(data, 0xFFFF);
    }
  });
  ASSERT_TRUE(t.opened);
  TocStructure toc;
  ASSERT_TRUE(t.drive.ReadRawToc(&toc, false, false, true));
  EXPECT_EQ(toc.Count(TST_RAWTOC), 128);
  std::vector<TOCTrack> tracks = Tracks(toc);
  ASSERT_GE(tracks.size(), 3u);
  EXPECT_EQ(tracks.front().TrackNo, 1);
  EXPECT_EQ(tracks.back().EndLBA, image.lead_out() - 1);
}

// Answers of another format than asked for: the older ATAPI drive given the
// command blocks a plain MMC engine sends (format in byte 2 only, raw TOC
// without the MSF bit), and an MMC drive asked for the raw TOC in place of
// the TOC. Each is a failed read, never a parsed TOC.
class RewrittenCdbDevice : public platform::ScsiDevice {
 public:
  RewrittenCdbDevice(std::unique_ptr<platform::ScsiDevice> inner, std::function<void(uint8_t*)> rewrite)
      : inner_(std::move(inner)), rewrite_(std::move(rewrite)) {}
  platform::ScsiResult Execute(const platform::ScsiRequest& q) override {
    std::vector<uint8_t> cdb(q.cdb, q.cdb + q.cdb_length);
    rewrite_(cdb.data());
    platform::ScsiRequest changed = q;
    changed.cdb = cdb.data();
    return inner_->Execute(changed);
  }

 private:
  std::unique_ptr<platform::ScsiDevice> inner_;
  std::function<void(uint8_t*)> rewrite_;
};

struct ForeignAnswerCase {
  const char* name;
  const char* atapi;
  std::function<void(uint8_t*)> rewrite;
  int call;  // 0 ReadRawToc, 1 ReadToc, 2 ReadCdText
};

void PrintTo(const ForeignAnswerCase& c, std::ostream* out) { *out << c.name; }

class MmcDriveForeignAnswer : public ::testing::TestWithParam<ForeignAnswerCase> {};

TEST_P(MmcDriveForeignAnswer, IsAFailedRead) {
  const ForeignAnswerCase& c = GetParam();
  testing::ScratchDir images;
  auto packs = testing::MakeTitlePacks({"Disc", "Song"});
  testing::CueFixture fixture = testing::MakeCueImage(images.path(), "text", {testing::FixtureTrack{}}, "", packs);
  testing::ScratchDir dir;
  testing::EmulatedDriveFixture emulated(dir, "medium=cd-rom,image=" + fixture.cue.string() + ",atapi=" + c.atapi);
  SptiPassThrough pass([&](char, std::string* error) -> std::unique_ptr<platform::ScsiDevice> {
    auto inner = platform::OpenEmulatedDevice(emulated.spec(), error);
    if (!inner) return nullptr;
    return std::make_unique<RewrittenCdbDevice>(std::move(inner), c.rewrite);
  });
  MmcDrive drive;
  drive.SetPassThrough(&pass);
  ASSERT_TRUE(drive.Open("D:"));
  TocStructure toc;
  if (c.call == 0) {
    EXPECT_FALSE(drive.ReadRawToc(&toc, false, false, true));
  } else if (c.call == 1) {
    EXPECT_FALSE(drive.ReadToc(&toc));
  } else {
    std::vector<uint8_t> buffer(kCdTextMaxBytes);
    EXPECT_EQ(drive.ReadCdText(buffer.data(), kCdTextMaxBytes), 0);
  }
  EXPECT_EQ(toc.Count(TST_TOC), 0);
  EXPECT_EQ(toc.Count(TST_RAWTOC), 0);
  drive.SetPassThrough(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MmcDriveForeignAnswer,
    ::testing::Values(
        ForeignAnswerCase{"TocForRawToc", "sff8020", [](uint8_t* cdb) { if (cdb[0] == 0x43) cdb[9] = 0; }, 0},
        ForeignAnswerCase{"LbaAddressesInRawToc", "sff8020", [](uint8_t* cdb) { if (cdb[0] == 0x43) cdb[1] = 0; }, 0},
        ForeignAnswerCase{"RawTocForToc", "mmc", [](uint8_t* cdb) { if (cdb[0] == 0x43) cdb[2] = 2; }, 1},
        ForeignAnswerCase{"TocForCdText", "sff8020", [](uint8_t*) {}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MmcDriveForeignAnswer, EngineBlocksReadTheOlderDrive) {
  testing::ScratchDir images;
  CdImage image = MakeCdImage(images.path(), 150);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string() + ",atapi=sff8020");
  ASSERT_TRUE(d.opened);
  TocStructure toc;
  ASSERT_TRUE(d.drive.ReadRawToc(&toc, false, false, true));
  std::vector<TOCTrack> tracks = Tracks(toc);
  ASSERT_GE(tracks.size(), 3u);
  EXPECT_EQ(tracks.front().StartLBA, 0);
  EXPECT_EQ(tracks.back().EndLBA, image.lead_out() - 1);
}

TEST(MmcDriveClamping, TocWhoseFirstTrackIsNotOne) {
  testing::ScratchDir images;
  auto iso = MakeDataImage(images.path(), 20);
  TamperedDrive t("medium=dvd-rom,image=" + iso.string(), [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x43 && q.cdb[2] == 0) {
      data[2] = 3;  // first track 3, last track 3
      data[3] = 3;
      data[4 + 2] = 3;
    }
  });
  ASSERT_TRUE(t.opened);
  TocStructure toc;
  ASSERT_TRUE(t.drive.ReadToc(&toc));
  ASSERT_EQ(toc.Count(TST_TOC), 1);
  EXPECT_EQ(toc.Track(0).TrackNo, 3);
  EXPECT_EQ(toc.Track(0).StartLBA, 0);
  EXPECT_EQ(toc.Track(0).EndLBA, 19);
}

TEST(MmcDriveClamping, TocClaimingTracksBeyondItsAnswer) {
  testing::ScratchDir images;
  auto iso = MakeDataImage(images.path(), 20);
  TamperedDrive t("medium=dvd-rom,image=" + iso.string(), [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x43 && q.cdb[2] == 0) {
      data[2] = 1;
      data[3] = 0xFF;  // 255 tracks would need 2,044 bytes
      Put16(data, 0xFFFF);
    }
  });
  ASSERT_TRUE(t.opened);
  TocStructure toc;
  // No disc has a track 255, and the descriptors after the first are not
  // numbered 2, 3, ...: not a TOC.
  EXPECT_FALSE(t.drive.ReadToc(&toc));
}

TEST(MmcDriveClamping, CdTextLongerThanItsBuffer) {
  testing::ScratchDir images;
  auto packs = testing::MakeTitlePacks({"Disc", "Song"});
  testing::CueFixture fixture = testing::MakeCueImage(images.path(), "text", {testing::FixtureTrack{}}, "", packs);
  uint32_t claim = 0;
  TamperedDrive t("medium=cd-rom,image=" + fixture.cue.string(), [&claim](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x43 && q.cdb[2] == 5 && claim != 0) {
      Put16(data, claim);
      // Packs up to the claimed length: the first pack again and again.
      for (size_t at = 4 + 18; at + 18 <= std::min<size_t>(q.data_length, claim + 2); at += 18) {
        std::memcpy(data + at, data + 4, 18);
      }
    }
  });
  ASSERT_TRUE(t.opened);
  std::vector<uint8_t> buffer(kCdTextMaxBytes);
  claim = 0xFFFF;
  EXPECT_EQ(t.drive.ReadCdText(buffer.data(), kCdTextMaxBytes), 0);
  claim = 2 + kCdTextMaxBytes;  // exactly 512 packs
  EXPECT_EQ(t.drive.ReadCdText(buffer.data(), kCdTextMaxBytes), kCdTextMaxBytes);
  claim = 2;
  EXPECT_EQ(t.drive.ReadCdText(buffer.data(), kCdTextMaxBytes), 0);
}

TEST(MmcDriveClamping, ModePagesAndListsClaimingMore) {
  TamperedDrive t("medium=cd-r", [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x5A && (q.cdb[2] & 0x3F) == 0x2A) {
      data[8 + 1] = 0xFF;         // page length past the answer
      Put16(data + 8 + 30, 0xFFFF);  // and a speed count past the page
    }
    if (q.cdb[0] == 0xAC) {
      // Distinct write speeds up to the end of the buffer, and a length claiming more.
      for (size_t i = 0; 8 + (i + 1) * 16 <= q.data_length; ++i) Put16(data + 8 + i * 16 + 14, 1000 + i);
      Put16(data, 0xFFFF);
      Put16(data + 2, 0xFFFF);
    }
    if (q.cdb[0] == 0x46 && q.cdb[1] == 2) {
      Put16(data, 0xFFFF);
      Put16(data + 2, 0xFFFF);
    }
    if (q.cdb[0] == 0x23) data[3] = 0xFF;
  });
  ASSERT_TRUE(t.opened);
  std::vector<WriteSpeedEntry> entries(300);
  int32_t n = t.drive.GetWriteSpeed(entries.data(), 300);
  EXPECT_EQ(n, 63);  // clamped to the descriptors the buffer holds
  EXPECT_FALSE(t.drive.IsSupportMedia(0x7777));
  EXPECT_TRUE(t.drive.IsSupportMedia(0x09));
  EXPECT_FALSE(t.drive.FormatUnit(0x3F));
}

TEST(MmcDriveClamping, ModePageSpeedListClaimingMore) {
  TamperedDrive t("medium=cd-r", [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x5A && (q.cdb[2] & 0x3F) == 0x2A) {
      Put16(data, 0xFFFF);           // mode data length past the buffer
      data[8 + 1] = 0xFF;            // page length past the buffer
      Put16(data + 8 + 30, 0xFFFF);  // speed count past the page
    }
  });
  ASSERT_TRUE(t.opened);
  std::vector<WriteSpeedEntry> entries(300);
  // The page's list is read when GET PERFORMANCE yields nothing.
  t.fixture.hooks().UpdateFaults([](DriveFaults& f) {
    f.refused_opcodes = {0xAC};
  });
  int32_t n = t.drive.GetWriteSpeed(entries.data(), 300);
  EXPECT_EQ(n, (264 - 8 - 32) / 4);  // the descriptors that fit the 264-byte answer
}

TEST(MmcDriveClamping, BlockDescriptorsPushingThePageOutOfTheAnswer) {
  TamperedDrive t("medium=cd-r", [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x5A) Put16(data + 6, 0x0400);
  });
  ASSERT_TRUE(t.opened);
  EXPECT_FALSE(t.drive.IsReadSupport(1));
  EXPECT_FALSE(t.drive.ResetSense());
  EXPECT_FALSE(t.drive.SetWriteParameters(1, true, false, 1));
  EXPECT_EQ(t.drive.GetBlockLength(), 0);
}

TEST(MmcDriveClamping, PageHeaderAtTheEndOfTheAnswer) {
  // Block descriptors leave room for the page's code and length bytes only.
  TamperedDrive t("medium=cd-r", [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x5A && q.data_length == 264) {
      Put16(data + 6, 254);
      data[262] = static_cast<uint8_t>(q.cdb[2] & 0x3F);
      data[263] = 0x20;
    }
  });
  ASSERT_TRUE(t.opened);
  EXPECT_FALSE(t.drive.IsReadSupport(kSupportCd));
  EXPECT_FALSE(t.drive.IsReadSupport(kSupportDvd));
  EXPECT_FALSE(t.drive.IsWriteSupport(kSupportCd));
  EXPECT_FALSE(t.drive.SetECCMode(false, 3));
  EXPECT_FALSE(t.drive.SetWriteParameters(1, true, false, 1));
}

TEST(MmcDriveCapabilities, ReadAndWriteFlagsNeedEveryFamilyAskedFor) {
  // A CD-only drive: CD read and write bits, no DVD bits.
  TamperedDrive t("medium=cd-r", [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x5A && (q.cdb[2] & 0x3F) == 0x2A) {
      size_t page = 8 + (data[6] << 8 | data[7]);
      data[page + 2] = 0x03;
      data[page + 3] = 0x03;
    }
  });
  ASSERT_TRUE(t.opened);
  EXPECT_TRUE(t.drive.IsReadSupport(0));
  EXPECT_TRUE(t.drive.IsReadSupport(kSupportCd));
  EXPECT_FALSE(t.drive.IsReadSupport(kSupportDvd));
  EXPECT_FALSE(t.drive.IsReadSupport(kSupportCd | kSupportDvd));
  EXPECT_TRUE(t.drive.IsWriteSupport(kSupportCd));
  EXPECT_FALSE(t.drive.IsWriteSupport(kSupportDvd));
  EXPECT_FALSE(t.drive.IsWriteSupport(kSupportCd | kSupportDvd));
}

TEST(MmcDriveModePages, ModeSelectCarriesTheBlockDescriptor) {
  // A drive that puts an 8-byte block descriptor before the page.
  TamperedDrive t("medium=cd-r", [](const platform::ScsiRequest& q, uint8_t* data) {
    if (q.cdb[0] == 0x5A && q.data_length >= 24) {
      std::memmove(data + 16, data + 8, q.data_length - 16);
      std::memset(data + 8, 0, 8);
      Put16(data + 6, 8);
      Put16(data, (data[0] << 8 | data[1]) + 8);
    }
  });
  ASSERT_TRUE(t.opened);
  platform::emu::DriveHooks& hooks = t.fixture.hooks();
  hooks.ClearLog();
  EXPECT_TRUE(t.drive.ResetSense());
  std::vector<uint8_t> select;
  for (const auto& c : hooks.log()) {
    if (c.opcode() == 0x55) select = c.cdb;
  }
  ASSERT_EQ(select.size(), 10u);
  EXPECT_EQ(select[7] << 8 | select[8], 8 + 8 + 2 + 0x36);
  EXPECT_TRUE(t.drive.SetWriteParameters(4, true, false, 0));
  EXPECT_EQ(t.drive.GetBlockLength(), 2448);
}

}  // namespace
}  // namespace sorvel
