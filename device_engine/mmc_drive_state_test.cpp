// Identification, medium and drive state of MmcDrive against the emulated drive.
#include <gtest/gtest.h>

#include <cstring>

#include "device_engine/mmc_drive.h"
#include "device_engine/mmc_drive_test_support.h"

namespace sorvel {
namespace {

using platform::emu::DataDirection;
using platform::emu::DriveFaults;
using platform::emu::PerformanceEntry;

TEST(MmcDriveOpen, IdentifiesTheDriveAndNamesItsParts) {
  DriveOnEmulator d("medium=cd-r,vendor=ACME,product=Burner 9000");
  ASSERT_TRUE(d.opened) << d.emu.pass_through().last_error();
  auto inquiry = d.emu.Commands(0x12);
  ASSERT_EQ(inquiry.size(), 1u);
  EXPECT_EQ(inquiry[0].cdb, Bytes({0x12, 0, 0, 0, 100, 0}));
  EXPECT_EQ(inquiry[0].direction, DataDirection::kIn);
  EXPECT_EQ(inquiry[0].length, 100u);
  EXPECT_EQ(inquiry[0].timeout_seconds, 180u);

  std::string vendor = d.drive.GetDeviceName(DNC_VENDOR);
  std::string product = d.drive.GetDeviceName(DNC_PRODUCT);
  std::string revision = d.drive.GetDeviceName(DNC_REVISION);
  EXPECT_EQ(vendor, "ACME    ");  // kept with its blanks
  EXPECT_EQ(product, "Burner 9000     ");
  EXPECT_EQ(revision.size(), 4u);
  EXPECT_NE(revision.front(), ' ');  // no blank before a part that comes first
  EXPECT_EQ(d.drive.GetDeviceName(3), vendor + " " + product);
  EXPECT_EQ(d.drive.GetDeviceName(5), vendor + " " + revision);
  EXPECT_EQ(d.drive.GetDeviceName(6), product + " " + revision);
  EXPECT_EQ(d.drive.GetDeviceName(7), vendor + " " + product + " " + revision);
  EXPECT_EQ(d.drive.GetDeviceName(0), "");

  EXPECT_TRUE(d.drive.Close());
  EXPECT_EQ(d.drive.GetDeviceName(7), "");  // parts emptied, no blank without text before it
  EXPECT_FALSE(d.drive.Close());
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), kSenseNoDevice);
}

TEST(MmcDriveOpen, UnknownDriveLetterFails) {
  DriveOnEmulator d("medium=cd-r", false);
  EXPECT_FALSE(d.drive.Open("\\\\.\\F:"));
  EXPECT_FALSE(d.drive.Open("/dev/sr0"));
  EXPECT_TRUE(d.emu.Commands().empty());
}

// A disk (peripheral type 0) answers INQUIRY; everything else is refused.
class DiskDevice : public platform::ScsiDevice {
 public:
  platform::ScsiResult Execute(const platform::ScsiRequest& q) override {
    platform::ScsiResult r;
    r.transferred = true;
    if (q.cdb[0] == 0x12 && q.data_length >= 36) {
      auto* out = static_cast<uint8_t*>(q.data);
      std::memset(out, 0, q.data_length);
      out[0] = 0x00;
      out[4] = 31;
      std::memcpy(out + 8, "DISKCO  Plain disk      1.00", 28);
      return r;
    }
    r.status = 2;
    const uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0};
    std::memcpy(r.sense, sense, sizeof sense);
    r.sense_length = sizeof sense;
    return r;
  }
};

TEST(MmcDriveOpen, DeviceThatIsNotAnOpticalDriveIsClosedAgain) {
  SptiPassThrough disk([](char, std::string*) { return std::make_unique<DiskDevice>(); });
  MmcDrive drive;
  drive.SetPassThrough(&disk);
  EXPECT_FALSE(drive.Open("D:"));
  EXPECT_FALSE(disk.IsOpen());
  EXPECT_EQ(drive.GetDeviceName(7), "");
  drive.SetPassThrough(nullptr);
}

TEST(MmcDriveState, TrayLockAndReadiness) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.drive.IsReady());
  EXPECT_EQ(d.emu.LastCdb(0x00), Bytes({0, 0, 0, 0, 0, 0}));

  EXPECT_TRUE(d.drive.LockUnlock(true));
  EXPECT_EQ(d.emu.LastCdb(0x1E), Bytes({0x1E, 0, 0, 0, 1, 0}));
  EXPECT_FALSE(d.drive.LoadTray(false));  // eject prevented
  EXPECT_EQ(d.emu.LastCdb(0x1B), Bytes({0x1B, 0, 0, 0, 2, 0}));
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x055302);
  EXPECT_TRUE(d.drive.LockUnlock(false));
  EXPECT_EQ(d.emu.LastCdb(0x1E), Bytes({0x1E, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(d.drive.LoadTray(false));
  EXPECT_FALSE(d.drive.IsReady());
  EXPECT_EQ(SenseKeyOf(d.drive.GetSCSIErrorStatus()), 2);
  EXPECT_EQ(SenseAscOf(d.drive.GetSCSIErrorStatus()), 0x3A);
  EXPECT_FALSE(d.drive.ClearSense());
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0);
  EXPECT_TRUE(d.drive.LoadTray(true));
  EXPECT_EQ(d.emu.LastCdb(0x1B), Bytes({0x1B, 0, 0, 0, 3, 0}));
  for (int i = 0; i < 5 && !d.drive.IsReady(); ++i) {
  }
  EXPECT_TRUE(d.drive.IsReady());
  d.drive.Rewind();
  EXPECT_EQ(d.emu.LastCdb(0x01), Bytes({0x01, 0, 0, 0, 0, 0}));
}

struct MediaCase {
  const char* medium;
  int32_t profile;
  int32_t family;
};

class MmcDriveMedia : public ::testing::TestWithParam<MediaCase> {};

TEST_P(MmcDriveMedia, ReportsProfileAndFamily) {
  testing::ScratchDir dir;
  std::string medium = GetParam().medium;
  std::string settings = "medium=" + medium;
  // Pressed media come with their disc.
  if (medium == "cd-rom") settings += ",image=" + MakeCdImage(dir.path(), 0).cue.string();
  if (medium.find("-rom") != std::string::npos && medium != "cd-rom") {
    settings += ",image=" + MakeDataImage(dir.path(), 32).string();
  }
  DriveOnEmulator d(settings);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.drive.GetMediaType(), GetParam().profile);
  EXPECT_EQ(d.emu.LastCdb(0x46), Bytes({0x46, 1, 0, 0, 0, 0, 0, 0, 8, 0}));
  EXPECT_EQ(d.emu.Commands(0x46).back().length, 8u);
  EXPECT_EQ(d.drive.GetMediaFamilyType(), GetParam().family);
}

INSTANTIATE_TEST_SUITE_P(
    Media, MmcDriveMedia,
    ::testing::Values(MediaCase{"cd-rom", 0x08, 1}, MediaCase{"cd-r", 0x09, 1}, MediaCase{"cd-rw", 0x0A, 1},
                      MediaCase{"dvd-rom", 0x10, 2}, MediaCase{"dvd-r", 0x11, 2}, MediaCase{"dvd-ram", 0x12, 2},
                      MediaCase{"dvd-rw", 0x14, 2}, MediaCase{"dvd+rw", 0x1A, 2}, MediaCase{"dvd+r", 0x1B, 2},
                      MediaCase{"dvd+r-dl", 0x2B, 2}, MediaCase{"bd-rom", 0x40, 3}, MediaCase{"bd-r", 0x41, 3},
                      MediaCase{"bd-re", 0x43, 3}, MediaCase{"hddvd-rom", 0x50, 4},
                      MediaCase{"hddvd-r", 0x51, 4}, MediaCase{"none", 0x00, 0}),
    [](const auto& info) {
      std::string name = info.param.medium;
      for (char& c : name) {
        if (c == '-' || c == '+') c = '_';
      }
      return name + (std::string(info.param.medium).find('+') != std::string::npos ? "_plus" : "");
    });

TEST(MmcDriveMedia, DriveWithoutGetConfigurationCountsAsCdRom) {
  DriveOnEmulator d("medium=dvd-r");
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.get_configuration_missing = true; });
  EXPECT_EQ(d.drive.GetMediaType(), 8);
  EXPECT_EQ(d.drive.GetMediaFamilyType(), 1);
  EXPECT_EQ(d.drive.GetSCSIErrorStatus(), 0x052000);
}

TEST(MmcDriveMedia, ProfileListAndCapabilities) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.drive.IsSupportMedia(0x09));
  EXPECT_EQ(d.emu.LastCdb(0x46), Bytes({0x46, 2, 0, 0, 0, 0, 0, 0x04, 0x00, 0}));
  EXPECT_TRUE(d.drive.IsSupportMedia(0x41));
  EXPECT_FALSE(d.drive.IsSupportMedia(0x77));
  for (int flags = 0; flags <= 3; ++flags) {
    EXPECT_TRUE(d.drive.IsReadSupport(flags)) << flags;
    EXPECT_TRUE(d.drive.IsWriteSupport(flags)) << flags;
  }
  EXPECT_EQ(d.emu.LastCdb(0x5A), Bytes({0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0x08, 0}));
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.refused_opcodes = {0x5A}; });
  EXPECT_FALSE(d.drive.IsReadSupport(0));
  EXPECT_FALSE(d.drive.IsWriteSupport(1));
}

TEST(MmcDriveMedia, BlankDiscInformation) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.drive.IsDiscEmpty());
  EXPECT_EQ(d.emu.LastCdb(0x51), Bytes({0x51, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0}));
  int32_t lead_in = d.drive.GetLeadInStart();
  EXPECT_LT(lead_in, -150);  // a lead-in time of minute 90 and above
  EXPECT_GT(lead_in, -45150);
  int32_t lead_out = d.drive.GetLastLeadOut();
  EXPECT_GT(lead_out, 300000);
  EXPECT_LT(lead_out, 404850);
}

TEST(MmcDriveMedia, RecordedDiscHasNoLeadInStart) {
  testing::ScratchDir dir;
  CdImage image = MakeCdImage(dir.path(), 0);
  DriveOnEmulator d("medium=cd-rom,image=" + image.cue.string());
  ASSERT_TRUE(d.opened);
  EXPECT_FALSE(d.drive.IsDiscEmpty());
  EXPECT_EQ(d.drive.GetLeadInStart(), 0);
  EXPECT_EQ(d.drive.GetLastLeadOut(), 0);
}

TEST(MmcDriveSpeed, SetCdSpeedBlocks) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.drive.SetReadSpeed(1764, false));
  EXPECT_EQ(d.emu.LastCdb(0xBB), Bytes({0xBB, 0, 0x06, 0xE4, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(d.drive.SetWriteSpeed(7056, true));
  EXPECT_EQ(d.emu.LastCdb(0xBB), Bytes({0xBB, 1, 0xFF, 0xFF, 0x1B, 0x90, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(d.drive.SetReadSpeed(-1, false));  // out of range: maximum
  EXPECT_EQ(d.emu.LastCdb(0xBB), Bytes({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
}

PerformanceEntry Perf(uint8_t wrc, uint32_t speed) {
  PerformanceEntry e;
  e.wrc = wrc;
  e.end_lba = 359999;
  e.read_speed = speed;
  e.write_speed = speed;
  return e;
}

TEST(MmcDriveSpeed, WriteSpeedsFromGetPerformanceMergeEqualNeighbours) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) {
    f.performance = std::vector<PerformanceEntry>{Perf(1, 7056), Perf(0, 7056), Perf(0, 5645)};
  });
  WriteSpeedEntry entries[8] = {};
  ASSERT_EQ(d.drive.GetWriteSpeed(entries, 8), 2);
  EXPECT_EQ(entries[0].speed, 7056);
  EXPECT_EQ(entries[0].rotation, 1);  // CAV; the equal speed after it took the next slot only
  EXPECT_EQ(entries[1].speed, 5645);
  EXPECT_EQ(entries[1].rotation, 0);
  std::vector<uint8_t> cdb = d.emu.LastCdb(0xAC);
  ASSERT_EQ(cdb.size(), 12u);
  EXPECT_EQ(cdb[10], 3);
  EXPECT_EQ(d.emu.Commands(0xAC).back().length, 1024u);
}

TEST(MmcDriveSpeed, GetPerformanceWithMoreDescriptorsThanTheBufferHolds) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) {
    std::vector<PerformanceEntry> many;
    for (uint32_t i = 0; i < 100; ++i) many.push_back(Perf(0, 10000 - i * 10));
    f.performance = many;
  });
  std::vector<WriteSpeedEntry> entries(200);
  int32_t n = d.drive.GetWriteSpeed(entries.data(), 200);
  std::vector<uint8_t> cdb = d.emu.LastCdb(0xAC);
  ASSERT_EQ(cdb.size(), 12u);
  EXPECT_EQ(cdb[8] << 8 | cdb[9], 63);  // no more than the 1,024-byte buffer holds
  EXPECT_EQ(n, 63);
  EXPECT_EQ(entries[62].speed, 10000 - 620);
  WriteSpeedEntry small[3];
  std::memset(small, 0xCC, sizeof small);
  EXPECT_EQ(d.drive.GetWriteSpeed(small, 2), 2);
  EXPECT_EQ(small[1].speed, 9990);
  EXPECT_EQ(small[2].speed, 0xCCCC);  // past the room: untouched
}

TEST(MmcDriveSpeed, WriteSpeedsFromModePageWhenGetPerformanceFails) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) {
    f.refused_opcodes = {0xAC};
    f.page_2a_write_speeds = std::vector<uint16_t>{7056, 5645, 4234, 2822, 1411};
  });
  WriteSpeedEntry entries[8];
  std::memset(entries, 0xCC, sizeof entries);
  ASSERT_EQ(d.drive.GetWriteSpeed(entries, 8), 5);
  EXPECT_EQ(entries[0].speed, 7056);
  EXPECT_EQ(entries[4].speed, 1411);
  EXPECT_EQ(entries[5].speed, 0);  // the caller's room is cleared first
  std::memset(entries, 0xCC, sizeof entries);
  EXPECT_EQ(d.drive.GetWriteSpeed(entries, 3), 3);  // the count of entries filled
  EXPECT_EQ(entries[2].speed, 4234);
  EXPECT_EQ(entries[3].speed, 0xCCCC);
}

TEST(MmcDriveSpeed, ModePageSpeedListClampedToThePage) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) {
    f.refused_opcodes = {0xAC};
    std::vector<uint16_t> speeds;
    for (uint16_t i = 0; i < 80; ++i) speeds.push_back(static_cast<uint16_t>(20000 - i));
    f.page_2a_write_speeds = speeds;
  });
  std::vector<WriteSpeedEntry> entries(100);
  int32_t n = d.drive.GetWriteSpeed(entries.data(), 100);
  EXPECT_GT(n, 0);
  EXPECT_LE(n, 56);  // what a 264-byte MODE SENSE answer can hold
  for (int32_t i = 0; i < n; ++i) EXPECT_EQ(entries[i].speed, 20000 - i);
}

TEST(MmcDriveModePages, ResetSenseAndEccModeSendWellFormedModeSelect) {
  DriveOnEmulator d("medium=cd-r");
  ASSERT_TRUE(d.opened);
  d.emu.hooks().UpdateFaults([](DriveFaults& f) { f.strict_mode_select = true; });
  EXPECT_TRUE(d.drive.ResetSense());
  EXPECT_EQ(d.emu.LastCdb(0x5A), Bytes({0x5A, 0, 0x85, 0, 0, 0, 0, 0x01, 0x08, 0}));
  std::vector<uint8_t> select = d.emu.LastCdb(0x55);
  ASSERT_EQ(select.size(), 10u);
  EXPECT_EQ(select[1], 0x10);
  EXPECT_EQ(select[7] << 8 | select[8], 8 + 2 + 0x36);
  EXPECT_EQ(d.emu.Commands(0x55).back().direction, DataDirection::kOut);

  EXPECT_TRUE(d.drive.SetECCMode(false, 5));
  EXPECT_EQ(d.emu.LastCdb(0x5A), Bytes({0x5A, 0, 0x81, 0, 0, 0, 0, 0x01, 0x08, 0}));
  // The drive now reports the page as set.
  uint8_t cdb[10] = {0x5A, 0, 0x01, 0, 0, 0, 0, 0x01, 0x08, 0};
  uint8_t page[264] = {};
  ASSERT_EQ(d.emu.pass_through().ExecCommand(cdb, 10, page, sizeof page, nullptr, false, 180), 0);
  size_t at = 8 + (page[6] << 8 | page[7]);
  EXPECT_EQ(page[at] & 0x3F, 0x01);
  EXPECT_EQ(page[at + 2], 0x01);
  EXPECT_EQ(page[at + 3], 5);
  EXPECT_TRUE(d.drive.SetECCMode(true, 0));
  ASSERT_EQ(d.emu.pass_through().ExecCommand(cdb, 10, page, sizeof page, nullptr, false, 180), 0);
  EXPECT_EQ(page[at + 2], 0);
}

}  // namespace
}  // namespace sorvel
