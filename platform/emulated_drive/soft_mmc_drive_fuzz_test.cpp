// Hostile command blocks against the emulated drive: random CDBs (fixed seed,
// bounded count) on drives in several states. The drive must answer every one
// with GOOD or CHECK CONDITION and sense, never write past the data length it
// was given, and leave a state file the next process can open.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/cd_image_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::platform::emu {
namespace {

constexpr uint8_t kOpcodes[] = {0x00, 0x01, 0x03, 0x04, 0x12, 0x1B, 0x1E, 0x23, 0x25, 0x28, 0x2A, 0x35, 0x43, 0x46,
                                0x51, 0x52, 0x53, 0x54, 0x55, 0x5A, 0x5B, 0x5D, 0xA1, 0xAC, 0xB9, 0xBB, 0xBE, 0x4A,
                                0xAD, 0xFF};
constexpr size_t kLengths[] = {0, 1, 4, 7, 8, 12, 18, 36, 255, 2040, 2048, 2352, 2368, 2448, 4096, 4896, 9216};
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

struct Setup {
  const char* name;
  std::string settings;  // after the state path; "@cue" is replaced by a CUE image
  bool faults = false;   // arm the injectable faults as well
};

class SoftMmcDriveFuzz : public ::testing::TestWithParam<Setup> {};

// A random value that favours the edges hostile hosts pick.
uint32_t Edgy(std::mt19937& rng) {
  static const uint32_t edges[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000,
                                   0xFFFFFFFF, 0xFFFFFF6A /* -150 */, 0xFFFFD28E /* lead-in */, 300, 449999};
  if (rng() % 3 == 0) return edges[rng() % std::size(edges)];
  return static_cast<uint32_t>(rng());
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST_P(SoftMmcDriveFuzz, RandomCommandBlocksStayInBounds) {
  sorvel::testing::ScratchDir dir;
  std::string settings = GetParam().settings;
  if (settings.find("@cue") != std::string::npos) {
    auto fixture = sorvel::testing::MakeCueImage(dir.path(), "disc", {{true, 0, 60, "", false}, {false, 150, 40, "", false}});
    settings.replace(settings.find("@cue"), 4, fixture.cue.string());
  }
  DriveSettings s;
  std::string error;
  ASSERT_TRUE(ParseDriveSpec((dir.path() / "drive").string() + "," + settings, &s, &error)) << error;
  auto drive = SoftMmcDrive::Open(s, &error);
  ASSERT_TRUE(drive) << error;
  if (GetParam().faults) {
    DriveFaults f;
    f.unreadable = {{10, 20}, {-5000, -4000}};
    f.q_crc_errors = {{0, 400}};
    f.p_noise_period = 7;
    f.q_shift = -3;
    f.write_error_lba = 100;
    f.long_write_in_progress = 5;
    f.not_ready_after_sync = 2;
    f.becoming_ready_polls = 2;
    f.reverse_raw_toc = true;
    f.missing_bufe = true;
    f.strict_mode_select = true;
    f.performance = std::vector<PerformanceEntry>(80, PerformanceEntry{0, 1000, 7056, 7056});
    f.page_2a_write_speeds = std::vector<uint16_t>(70, 7056);
    drive->hooks().SetFaults(f);
  }

  std::mt19937 rng(20261208);
  for (int n = 0; n < 2500; ++n) {
    uint8_t cdb[16] = {};
    uint8_t op = kOpcodes[rng() % std::size(kOpcodes)];
    size_t cdb_length = op < 0x20 ? 6 : (op < 0x60 ? 10 : (op < 0xC0 ? 12 : 16));
    if (rng() % 16 == 0) cdb_length = rng() % 17;
    for (auto& b : cdb) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
    cdb[0] = op;
    if (rng() % 2) Put32(cdb + 2, Edgy(rng));
    if (rng() % 2) {
      uint32_t v = Edgy(rng);
      cdb[6] = static_cast<uint8_t>(v >> 16);
      cdb[7] = static_cast<uint8_t>(v >> 8);
      cdb[8] = static_cast<uint8_t>(v);
    }
    size_t length = kLengths[rng() % std::size(kLengths)];
    bool write = rng() % 3 == 0;
    // The buffer is exactly `length` bytes plus a guard the drive must not touch.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[length + kGuard]);
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(rng());
    std::memset(buffer.get() + length, kGuardByte, kGuard);
    uint8_t sense[32 + kGuard];
    std::memset(sense, kGuardByte, sizeof sense);
    int status = drive->Exec(cdb, cdb_length, length ? buffer.get() : nullptr, length, write, 180, sense);
    SCOPED_TRACE("command " + std::to_string(n) + " opcode " + std::to_string(op));
    ASSERT_TRUE(status == 0 || status == 2) << status;
    if (status == 2) {
      ASSERT_NE(sense[2] & 0x0F, 0);
    }
    for (size_t i = 0; i < kGuard; ++i) {
      ASSERT_EQ(buffer[length + i], kGuardByte) << "data written past the buffer at +" << i;
      ASSERT_EQ(sense[32 + i], kGuardByte) << "sense written past 32 bytes";
    }
  }
  ASSERT_TRUE(drive->Persist(&error)) << error;
  drive.reset();
  // The next process finds a state it can load.
  auto again = SoftMmcDrive::Open(s, &error);
  EXPECT_TRUE(again) << error;
}

INSTANTIATE_TEST_SUITE_P(Media, SoftMmcDriveFuzz,
                         ::testing::Values(Setup{"BlankCdR", "medium=cd-r"}, Setup{"BlankCdRw", "medium=cd-rw"},
                                           Setup{"PressedCd", "image=@cue"},
                                           Setup{"PressedCdWithFaults", "image=@cue", true},
                                           Setup{"BlankCdRWithFaults", "medium=cd-r", true}, Setup{"NoMedium", "medium=none"},
                                           Setup{"DvdMinusR", "medium=dvd-r"}, Setup{"DvdPlusRw", "medium=dvd+rw"},
                                           Setup{"BdRe", "medium=bd-re"}, Setup{"HdDvdR", "medium=hddvd-r"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A command without a command block, or one longer than any SCSI command, is
// refused with sense and logged without reading past what was given.
TEST(SoftMmcDriveCdb, MissingOrOversizedCommandBlock) {
  sorvel::testing::ScratchDir dir;
  DriveSettings s;
  s.state_path = (dir.path() / "drive").string();
  std::string error;
  auto drive = SoftMmcDrive::Open(s, &error);
  ASSERT_TRUE(drive) << error;
  uint8_t sense[32];
  EXPECT_EQ(drive->Exec(nullptr, 6, nullptr, 0, false, 180, sense), 2);
  EXPECT_EQ(sense[12], 0x20);
  EXPECT_EQ(drive->Exec(nullptr, 0, nullptr, 0, false, 180, sense), 2);
  uint8_t long_cdb[260] = {0x00};
  EXPECT_EQ(drive->Exec(long_cdb, sizeof long_cdb, nullptr, 0, false, 180, sense), 2);
  EXPECT_EQ(sense[12], 0x24);
  auto log = drive->hooks().log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(log[0].cdb.empty());
  EXPECT_EQ(log[2].cdb.size(), 16u);
}

}  // namespace
}  // namespace sorvel::platform::emu
