// MmcDrive logic that needs no drive: the media families and the Q CRC.
#include "device_engine/mmc_drive.h"

#include <gtest/gtest.h>

#include <utility>

namespace sorvel {
namespace {

TEST(MmcDriveMedia, FamilyTable) {
  const std::pair<int32_t, int32_t> table[] = {{0x08, 1}, {0x0A, 1}, {0x0B, 0}, {0x10, 2}, {0x18, 2}, {0x19, 0},
                                               {0x1A, 2}, {0x1B, 2}, {0x2A, 2}, {0x2B, 2}, {0x40, 3}, {0x41, 3},
                                               {0x43, 3}, {0x44, 0}, {0x50, 4}, {0x53, 4}, {0x58, 4}, {0x5A, 4},
                                               {0x59, 0}, {0x00, 0}, {0xFFFF, 0}};
  for (auto [profile, family] : table) EXPECT_EQ(MmcDrive::MediaFamilyOf(profile), family) << profile;
}

TEST(MmcDriveQ, SubchannelCrc) {
  MmcDrive drive;
  // Q of track 1 index 1 at relative 00:00:00, absolute 00:02:00.
  uint8_t q[12] = {0x41, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0, 0};
  uint16_t crc = drive.SetSubQCrc(q);
  EXPECT_EQ(q[10], crc >> 8);
  EXPECT_EQ(q[11], crc & 0xFF);
  // CRC-16/CCITT (0x1021, initial 0) of the ten bytes, inverted: the Red Book Q check.
  uint16_t reg = 0;
  for (int i = 0; i < 10; ++i) {
    reg ^= static_cast<uint16_t>(q[i] << 8);
    for (int b = 0; b < 8; ++b) reg = static_cast<uint16_t>(reg & 0x8000 ? (reg << 1) ^ 0x1021 : reg << 1);
  }
  EXPECT_EQ(crc, static_cast<uint16_t>(~reg));
}

}  // namespace
}  // namespace sorvel
