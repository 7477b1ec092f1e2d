// User-data answers of the emulated drive against its whole-sector answers:
// for every kind of sector a CD can hold (Mode 1 from a 2,048-byte image and
// from a raw image, generated Mode 1 and Mode 2 pregaps, Mode 2 Form 1 and
// Form 2, audio) READ(10) and every field selection of READ CD give exactly
// the bytes of the full sector that READ CD 0xF8 gives, and the full sector
// carries its EDC and parity as an independent encoder computes them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "native_common/ecc_encoder.h"
#include "platform/emulated_device.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/test_paths.h"

namespace sorvel::platform::emu {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Disc layout of the image below (LBAs).
constexpr int32_t kMode1ImageStart = 0;      // MODE1/2048, 20 sectors
constexpr int32_t kMode1RawPregap = 20;      // generated, 10 sectors
constexpr int32_t kMode1RawStart = 30;       // MODE1/2352, 20 sectors
constexpr int32_t kMode2Pregap = 50;         // generated, 10 sectors
constexpr int32_t kMode2Start = 60;          // MODE2/2352, Form 1 and Form 2 alternating, 20 sectors
constexpr int32_t kAudioStart = 80;          // AUDIO, 20 sectors
constexpr int32_t kLeadout = 100;

uint8_t Pattern(int32_t lba, size_t i) { return static_cast<uint8_t>(lba * 31 + i * 7 + (i >> 8) + 1); }

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The image files and their CUE sheet; the raw sectors are made with the
// device engine's encoder, which the drive does not use.
fs::path MakeImage(const fs::path& dir) {
  const EccEncoder ecc;
  Bytes iso, mode1, mode2, audio;
  for (int32_t lba = kMode1ImageStart; lba < kMode1RawPregap; ++lba) {
    for (size_t i = 0; i < 2048; ++i) iso.push_back(Pattern(lba, i));
  }
  for (int32_t lba = kMode1RawStart; lba < kMode2Pregap; ++lba) {
    uint8_t sector[2352] = {};
    for (size_t i = 0; i < 2048; ++i) sector[16 + i] = Pattern(lba, i);
    ecc.EncodeMode1(sector, lba);
    mode1.insert(mode1.end(), sector, sector + 2352);
  }
  for (int32_t lba = kMode2Start; lba < kAudioStart; ++lba) {
    uint8_t sector[2352] = {};
    const bool form2 = lba % 2 != 0;
    const uint8_t subheader[4] = {0, 1, static_cast<uint8_t>(form2 ? 0x20 : 0x08), 0};
    std::memcpy(sector + 16, subheader, 4);
    std::memcpy(sector + 20, subheader, 4);
    for (size_t i = 0; i < (form2 ? 2324u : 2048u); ++i) sector[24 + i] = Pattern(lba, i);
    ecc.EncodeMode2(sector, lba);
    mode2.insert(mode2.end(), sector, sector + 2352);
  }
  for (int32_t lba = kAudioStart; lba < kLeadout; ++lba) {
    for (size_t i = 0; i < 2352; ++i) audio.push_back(Pattern(lba, i));
  }
  WriteFile(dir / "m1.iso", iso);
  WriteFile(dir / "m1.bin", mode1);
  WriteFile(dir / "m2.bin", mode2);
  WriteFile(dir / "au.bin", audio);
  const fs::path cue = dir / "kinds.cue";
  std::ofstream(cue) << "FILE \"m1.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
                        "FILE \"m1.bin\" BINARY\n  TRACK 02 MODE1/2352\n    PREGAP 00:00:10\n    INDEX 01 00:00:00\n"
                        "FILE \"m2.bin\" BINARY\n  TRACK 03 MODE2/2352\n    PREGAP 00:00:10\n    INDEX 01 00:00:00\n"
                        "FILE \"au.bin\" BINARY\n  TRACK 04 AUDIO\n    INDEX 01 00:00:00\n";
  return cue;
}

struct Answer {
  int status = -1;
  uint32_t sense = 0;  // key, ASC, ASCQ
  Bytes data;
};

class UserDataReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path cue = MakeImage(dir_.path());
    std::string error;
    device_ = OpenEmulatedDevice((dir_ / "drive").string() + ",image=" + cue.string(), &error);
    ASSERT_TRUE(device_) << error;
  }

  Answer Run(const Bytes& cdb, size_t length) {
    Answer a;
    a.data.assign(length, 0);
    ScsiRequest r;
    r.cdb = cdb.data();
    r.cdb_length = cdb.size();
    r.data = a.data.data();
    r.data_length = length;
    const ScsiResult result = device_->Execute(r);
    a.status = result.status;
    if (result.status != 0) a.sense = (uint32_t{result.sense[2] & 0x0Fu} << 16) | (result.sense[12] << 8) | result.sense[13];
    return a;
  }
  Answer ReadCd(int32_t lba, uint32_t count, uint8_t fields, uint8_t sub, size_t length) {
    const auto u = static_cast<uint32_t>(lba);
    return Run({0xBE, 0, static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                static_cast<uint8_t>(u), static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 8),
                static_cast<uint8_t>(count), fields, sub, 0},
               length);
  }
  Answer Read10(int32_t lba, uint16_t count) {
    const auto u = static_cast<uint32_t>(lba);
    return Run({0x28, 0, static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                static_cast<uint8_t>(u), 0, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), 0},
               size_t{count} * 2048);
  }

  sorvel::testing::ScratchDir dir_;
  std::unique_ptr<ScsiDevice> device_;
};

// Where a sector's fields lie in its 2,352 bytes.
struct Fields {
  bool audio = false;
  size_t subheader = 0;  // bytes of the Mode 2 subheader (8 on an XA disc)
  size_t user_begin = 16, user_end = 2064;
};

Fields FieldsOf(int32_t lba, const uint8_t* raw) {
  Fields f;
  if (lba >= kAudioStart) {
    f.audio = true;
    return f;
  }
  if (raw[15] == 2) {  // every Mode 2 sector of this (XA) disc
    const bool form2 = (raw[18] & 0x20) != 0;
    f.subheader = 8;
    f.user_begin = 24;
    f.user_end = form2 ? 2348 : 2072;
  }
  return f;
}

// The bytes a field selection gives of a data sector, cut from the whole sector.
Bytes Select(const Fields& f, const uint8_t* raw, uint8_t fields) {
  Bytes out;
  if (f.audio) return Bytes(raw, raw + 2352);
  if (fields & 0x80) out.insert(out.end(), raw, raw + 12);
  if (fields & 0x20) out.insert(out.end(), raw + 12, raw + 16);
  if ((fields & 0x40) && f.subheader > 0) out.insert(out.end(), raw + 16, raw + 24);
  if (fields & 0x10) out.insert(out.end(), raw + f.user_begin, raw + f.user_end);
  if (fields & 0x08) out.insert(out.end(), raw + f.user_end, raw + 2352);
  return out;
}

TEST_F(UserDataReadTest, EveryFieldSelectionIsACutOfTheWholeSector) {
  const EccEncoder ecc;
  int mode1 = 0, mode2_generated = 0, form1 = 0, form2 = 0, audio = 0;
  for (int32_t lba = -150; lba < kLeadout; ++lba) {
    const Answer whole = ReadCd(lba, 1, 0xF8, 0, 2352);
    ASSERT_EQ(whole.status, 0) << lba;
    const uint8_t* raw = whole.data.data();
    const Fields f = FieldsOf(lba, raw);

    // The whole sector still carries its codes: the independent encoder
    // agrees with every byte the drive built.
    if (!f.audio) {
      uint8_t expected[2352];
      std::memcpy(expected, raw, 2352);
      if (raw[15] == 1) {
        ecc.EncodeMode1(expected, lba);
        ++mode1;
      } else if (lba < kMode2Start) {
        ecc.EncodeMode2Header(expected, lba);
        EXPECT_EQ(Bytes(raw + 16, raw + 2352), Bytes(2336, 0)) << lba;
        ++mode2_generated;
      } else {
        ecc.EncodeMode2(expected, lba);
        ++((raw[18] & 0x20) ? form2 : form1);
      }
      ASSERT_EQ(Bytes(raw, raw + 2352), Bytes(expected, expected + 2352)) << "LBA " << lba;
    } else {
      ++audio;
    }

    for (uint8_t fields : {0x10, 0x18, 0x30, 0x50, 0x70, 0xB0, 0xF0, 0x78, 0x08, 0x20, 0x80}) {
      const Bytes want = Select(f, raw, fields);
      const Answer part = ReadCd(lba, 1, fields, 0, 2352);
      ASSERT_EQ(part.status, 0) << lba << " fields " << int{fields};
      ASSERT_EQ(Bytes(part.data.begin(), part.data.begin() + static_cast<std::ptrdiff_t>(want.size())), want)
          << "LBA " << lba << " fields " << int{fields};
    }
    // With the subchannel after them, the same bytes and the same Q.
    const Answer with_q = ReadCd(lba, 1, 0x10, 2, 2352 + 16);
    const Answer whole_q = ReadCd(lba, 1, 0xF8, 2, 2352 + 16);
    const Bytes user = Select(f, raw, 0x10);
    ASSERT_EQ(Bytes(with_q.data.begin(), with_q.data.begin() + static_cast<std::ptrdiff_t>(user.size())), user) << lba;
    EXPECT_EQ(Bytes(with_q.data.begin() + static_cast<std::ptrdiff_t>(user.size()),
                    with_q.data.begin() + static_cast<std::ptrdiff_t>(user.size() + 16)),
              Bytes(whole_q.data.begin() + 2352, whole_q.data.end()))
        << lba;

    if (lba < 0) continue;
    const Answer read10 = Read10(lba, 1);
    if (f.audio) {
      EXPECT_EQ(read10.sense, 0x056400u) << lba;
    } else {
      ASSERT_EQ(read10.status, 0) << lba;
      EXPECT_EQ(read10.data, Bytes(raw + f.user_begin, raw + f.user_begin + 2048)) << "LBA " << lba;
    }
  }
  // First pregap and pregap generated, image of 2,048-byte sectors, raw image.
  EXPECT_EQ(mode1, 150 + 10 + 20 + 20);
  EXPECT_EQ(mode2_generated, 10);
  EXPECT_EQ(form1, 10);
  EXPECT_EQ(form2, 10);
  EXPECT_EQ(audio, 20);
}

// Several sectors a command, across the track boundaries of the data tracks.
TEST_F(UserDataReadTest, BlockReadsMatchSingleSectorReads) {
  const Answer block = Read10(0, kAudioStart);
  ASSERT_EQ(block.status, 0);
  for (int32_t lba = 0; lba < kAudioStart; ++lba) {
    const Answer one = Read10(lba, 1);
    ASSERT_EQ(Bytes(block.data.begin() + lba * 2048, block.data.begin() + (lba + 1) * 2048), one.data) << lba;
  }
  const Answer users = ReadCd(kMode1ImageStart, kMode2Pregap, 0x10, 0, kMode2Pregap * 2048);
  ASSERT_EQ(users.status, 0);
  EXPECT_EQ(Bytes(users.data.begin(), users.data.begin() + kMode2Pregap * 2048),
            Bytes(block.data.begin(), block.data.begin() + kMode2Pregap * 2048));
  // A block that runs into the audio track is refused as a whole.
  EXPECT_EQ(Read10(kAudioStart - 2, 4).sense, 0x056400u);
}

// One READ CD over every kind of sector and image file gives what sector by
// sector reads give, with and without the subchannel; the drive's files are
// read afresh by each command, so an image changed in place between two
// commands is what the next one reads.
TEST_F(UserDataReadTest, WholeDiscReadsMatchSectorReadsAndSeeTheImageAsItIsNow) {
  for (const uint8_t sub : {uint8_t{0}, uint8_t{2}}) {
    const size_t size = sub == 0 ? 2352 : 2352 + 16;
    const Answer whole = ReadCd(0, kLeadout, 0xF8, sub, kLeadout * size);
    ASSERT_EQ(whole.status, 0);
    for (int32_t lba = 0; lba < kLeadout; ++lba) {
      const Answer one = ReadCd(lba, 1, 0xF8, sub, size);
      ASSERT_EQ(one.status, 0) << lba;
      ASSERT_EQ(Bytes(whole.data.begin() + lba * size, whole.data.begin() + (lba + 1) * size), one.data)
          << lba << " " << int{sub};
    }
  }
  const Answer before = Read10(0, 4);
  ASSERT_EQ(before.status, 0);
  {
    std::fstream image(dir_ / "m1.iso", std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(2048 + 100);
    image.write("changed", 7);
  }
  const Answer after = Read10(0, 4);
  ASSERT_EQ(after.status, 0);
  Bytes expected = before.data;
  std::memcpy(expected.data() + 2048 + 100, "changed", 7);
  EXPECT_EQ(after.data, expected);
}

}  // namespace
}  // namespace sorvel::platform::emu
