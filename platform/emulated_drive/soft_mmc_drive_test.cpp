// Command-by-command tests of the emulated drive, with command blocks built
// here from the MMC layouts.
#include "platform/emulated_drive/soft_mmc_drive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>
#include <atomic>

#include "platform/emulated_device.h"
#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::platform::emu {
namespace {

using Bytes = std::vector<uint8_t>;

struct Answer {
  int status = -1;
  uint8_t key = 0, asc = 0, ascq = 0;
  Bytes data;
  uint32_t sense_key_asc() const { return (uint32_t{key} << 16) | (uint32_t{asc} << 8) | ascq; }
};

uint32_t Be32(const Bytes& d, size_t at) {
  return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
}
uint16_t Be16(const Bytes& d, size_t at) { return static_cast<uint16_t>((d[at] << 8) | d[at + 1]); }

Bytes Cdb10(uint8_t op, uint8_t b1 = 0, uint32_t lba = 0, uint16_t length = 0, uint8_t b6 = 0, uint8_t b9 = 0) {
  return {op, b1, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
          static_cast<uint8_t>(lba), b6, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), b9};
}

// The descriptors of a raw TOC answer by point.
std::map<uint8_t, const uint8_t*> RawTocPoints(const Answer& raw) {
  std::map<uint8_t, const uint8_t*> points;
  size_t n = (Be16(raw.data, 0) - 2) / 11;
  for (size_t i = 0; i < n; ++i) points[raw.data[4 + 11 * i + 3]] = &raw.data[4 + 11 * i];
  return points;
}

Bytes ReadCdCdb(int32_t lba, uint32_t count, uint8_t b9, uint8_t sub, uint8_t type = 0) {
  uint32_t u = static_cast<uint32_t>(lba);
  return {0xBE, static_cast<uint8_t>(type << 2), static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u), static_cast<uint8_t>(count >> 16),
          static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), b9, sub, 0};
}

class Drive {
 public:
  explicit Drive(const std::string& entry) {
    std::string error;
    device_ = OpenEmulatedDevice(entry, &error);
    EXPECT_TRUE(device_) << error;
    path_ = entry.substr(0, entry.find(','));
  }
  bool ok() const { return device_ != nullptr; }
  Answer In(const Bytes& cdb, size_t length) {
    Answer a;
    a.data.assign(length, 0);
    Run(cdb, a.data.data(), length, false, &a);
    return a;
  }
  Answer Out(const Bytes& cdb, Bytes data) {
    Answer a;
    Run(cdb, data.data(), data.size(), true, &a);
    return a;
  }
  Answer None(const Bytes& cdb) {
    Answer a;
    Run(cdb, nullptr, 0, false, &a);
    return a;
  }
  SoftMmcDrive* soft() { return FindOpenDrive(path_); }
  void Close() { device_.reset(); }

 private:
  void Run(const Bytes& cdb, void* data, size_t length, bool write, Answer* a) {
    ScsiRequest r;
    r.cdb = cdb.data();
    r.cdb_length = cdb.size();
    r.data = data;
    r.data_length = length;
    r.write = write;
    ScsiResult result = device_->Execute(r);
    EXPECT_TRUE(result.transferred);
    a->status = result.status;
    if (result.status != 0) {
      EXPECT_EQ(result.sense[0] & 0x7F, 0x70);
      a->key = result.sense[2] & 0x0F;
      a->asc = result.sense[12];
      a->ascq = result.sense[13];
    }
  }
  std::unique_ptr<ScsiDevice> device_;
  std::string path_;
};

class SoftMmcDriveTest : public ::testing::Test {
 protected:
  std::string Spec(const std::string& settings) {
    std::string path = (dir_ / ("drive" + std::to_string(++count_))).string();
    return settings.empty() ? path : path + "," + settings;
  }
  sorvel::testing::ScratchDir dir_;
  int count_ = 0;
};

TEST_F(SoftMmcDriveTest, InquiryLayout) {
  Drive d(Spec("medium=cd-r,vendor=ACME,product=Burner 9000"));
  Answer a = d.In({0x12, 0, 0, 0, 100, 0}, 100);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.data[0], 0x05);
  EXPECT_EQ(a.data[1] & 0x80, 0x80);
  EXPECT_GE(a.data[4] + 5, 36);
  EXPECT_EQ(std::string(a.data.begin() + 8, a.data.begin() + 16), "ACME    ");
  EXPECT_EQ(std::string(a.data.begin() + 16, a.data.begin() + 32), "Burner 9000     ");
  EXPECT_EQ(d.In({0x12, 1, 0x80, 0, 100, 0}, 100).sense_key_asc(), 0x052400u);
}

TEST_F(SoftMmcDriveTest, SpecErrors) {
  std::string error;
  EXPECT_FALSE(OpenEmulatedDevice(Spec("medium=floppy"), &error));
  EXPECT_NE(error.find("floppy"), std::string::npos);
  EXPECT_FALSE(OpenEmulatedDevice(Spec("colour=red"), &error));
  EXPECT_FALSE(OpenEmulatedDevice(Spec("medium=cd-rom"), &error));  // pressed disc without image
  EXPECT_FALSE(OpenEmulatedDevice(Spec("image=/nonexistent/x.iso"), &error));
  EXPECT_FALSE(OpenEmulatedDevice("", &error));
}

TEST_F(SoftMmcDriveTest, OneHolderAtATime) {
  std::string entry = Spec("medium=dvd-r");
  Drive first(entry);
  std::string error;
  EXPECT_FALSE(OpenEmulatedDevice(entry, &error));
  EXPECT_NE(error.find("held"), std::string::npos);
  first.Close();
  EXPECT_TRUE(OpenEmulatedDevice(entry, &error)) << error;
}

TEST_F(SoftMmcDriveTest, TrayLockAndReadiness) {
  Drive d(Spec("medium=cd-r"));
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(d.None({0x1E, 0, 0, 0, 1, 0}).status, 0);  // prevent removal
  EXPECT_EQ(d.None({0x1B, 0, 0, 0, 2, 0}).sense_key_asc(), 0x055302u);
  EXPECT_EQ(d.None({0x1E, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(d.None({0x1B, 0, 0, 0, 2, 0}).status, 0);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).sense_key_asc(), 0x023A02u);
  Answer config = d.In({0x46, 1, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
  EXPECT_EQ(Be16(config.data, 6), 0);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.becoming_ready_polls = 2; });
  EXPECT_EQ(d.None({0x1B, 0, 0, 0, 3, 0}).status, 0);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).sense_key_asc(), 0x020401u);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).sense_key_asc(), 0x020401u);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).status, 0);
  d.soft()->RemoveDisc();
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).sense_key_asc(), 0x023A00u);
  EXPECT_EQ(d.None({0x01, 0, 0, 0, 0, 0}).status, 0);  // REZERO UNIT
}

TEST_F(SoftMmcDriveTest, CommandLogRecordsEveryCommand) {
  Drive d(Spec("medium=dvd+r"));
  d.soft()->hooks().ClearLog();
  d.None({0x00, 0, 0, 0, 0, 0});
  d.In(Cdb10(0x51, 0, 0, 256), 256);
  d.None({0xFF, 0, 0, 0, 0, 0});
  auto log = d.soft()->hooks().log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].opcode(), 0x00);
  EXPECT_EQ(log[0].direction, DataDirection::kNone);
  EXPECT_EQ(log[1].cdb, Cdb10(0x51, 0, 0, 256));
  EXPECT_EQ(log[1].direction, DataDirection::kIn);
  EXPECT_EQ(log[1].length, 256u);
  EXPECT_EQ(log[1].timeout_seconds, 180u);
  EXPECT_EQ(log[2].status, 2);
  EXPECT_EQ(log[2].sense_key, 5);
  EXPECT_EQ(log[2].asc, 0x20);
}

// The log is a ring: past its capacity each command replaces the oldest, so
// memory stays flat however many commands arrive.
TEST_F(SoftMmcDriveTest, CommandLogKeepsTheLatestCommandsInOrder) {
  Drive d(Spec("medium=dvd+r"));
  DriveHooks& hooks = d.soft()->hooks();
  EXPECT_EQ(hooks.log_capacity(), DriveHooks::kDefaultLogCapacity);
  for (size_t capacity : {size_t{1}, size_t{5}, size_t{64}}) {
    hooks.SetLogCapacity(capacity);
    EXPECT_TRUE(hooks.log().empty());
    for (uint32_t i = 0; i < 3 * capacity + 2; ++i) d.In(Cdb10(0x51, 0, 0, static_cast<uint16_t>(i + 1)), 256);
    const auto log = hooks.log();
    ASSERT_EQ(log.size(), capacity);
    // The last `capacity` commands, oldest first.
    for (size_t k = 0; k < capacity; ++k) EXPECT_EQ(log[k].length, 256u) << k;
    for (size_t k = 0; k < capacity; ++k) {
      EXPECT_EQ(static_cast<size_t>(Be16(log[k].cdb, 7)), 3 * capacity + 2 - capacity + k + 1) << capacity << " " << k;
    }
  }
  hooks.SetLogCapacity(0);  // at least one
  d.None({0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(hooks.log().size(), 1u);
  hooks.SetLogCapacity(DriveHooks::kDefaultLogCapacity);
  for (int i = 0; i < 20000; ++i) d.None({0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(hooks.log().size(), DriveHooks::kDefaultLogCapacity);
}

TEST_F(SoftMmcDriveTest, FixtureArmsFaultsBeforeTheDriveOpens) {
  sorvel::testing::EmulatedDriveFixture fixture(dir_, "medium=bd-r");
  EXPECT_EQ(fixture.device().rfind("emu:", 0), 0u);
  EXPECT_EQ(fixture.drive(), nullptr);
  fixture.hooks().UpdateFaults([](DriveFaults& f) { f.refused_opcodes = {0x54}; });
  fixture.hooks().ClearLog();
  Drive d(fixture.spec());
  EXPECT_EQ(fixture.drive(), d.soft());
  EXPECT_EQ(d.None({0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}).sense_key_asc(), 0x052000u);
  EXPECT_EQ(fixture.hooks().log().size(), 1u);
  d.Close();
  EXPECT_EQ(fixture.drive(), nullptr);
}

TEST_F(SoftMmcDriveTest, GetConfiguration) {
  Drive d(Spec("medium=dvd+rw"));
  Answer rt1 = d.In({0x46, 1, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
  ASSERT_EQ(rt1.status, 0);
  EXPECT_EQ(Be16(rt1.data, 6), 0x1A);
  Answer rt2 = d.In({0x46, 2, 0, 0, 0, 0, 0, 0x04, 0x00, 0}, 1024);
  ASSERT_EQ(rt2.status, 0);
  uint32_t length = Be32(rt2.data, 0);
  EXPECT_LT(length, 256u);
  EXPECT_EQ(Be16(rt2.data, 8), 0x0000);  // profile list feature
  size_t count = rt2.data[11] / 4;
  EXPECT_EQ(length, 4 + 4 + 4 * count);
  bool current = false;
  for (size_t i = 0; i < count; ++i) {
    if (Be16(rt2.data, 12 + 4 * i) == 0x1A) current = rt2.data[12 + 4 * i + 2] & 1;
  }
  EXPECT_TRUE(current);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.get_configuration_missing = true; });
  EXPECT_EQ(d.In({0x46, 1, 0, 0, 0, 0, 0, 0, 8, 0}, 8).sense_key_asc(), 0x052000u);
}

TEST_F(SoftMmcDriveTest, IsoOnDvdRom) {
  std::string content(5000, 'x');
  auto iso = sorvel::testing::MakeIsoImage(dir_.path(), "disc", {{"a.txt", content}});
  ASSERT_FALSE(iso.empty());
  Drive d(Spec("image=" + iso.string()));
  Answer cap = d.In(Cdb10(0x25), 8);
  ASSERT_EQ(cap.status, 0);
  uint32_t sectors = static_cast<uint32_t>(std::filesystem::file_size(iso) / 2048);
  EXPECT_EQ(Be32(cap.data, 0), sectors - 1);
  EXPECT_EQ(Be32(cap.data, 4), 2048u);
  EXPECT_EQ(Be16(d.In({0x46, 1, 0, 0, 0, 0, 0, 0, 8, 0}, 8).data, 6), 0x10);
  Answer read = d.In(Cdb10(0x28, 0, 0, static_cast<uint16_t>(sectors)), sectors * 2048);
  ASSERT_EQ(read.status, 0);
  std::ifstream in(iso, std::ios::binary);
  Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(read.data, file);
  EXPECT_EQ(d.In(Cdb10(0x28, 0, sectors - 1, 2), 4096).sense_key_asc(), 0x052100u);
  Answer toc = d.In(Cdb10(0x43, 0, 0, 1028, 1), 1028);
  ASSERT_EQ(toc.status, 0);
  EXPECT_EQ(toc.data[2], 1);
  EXPECT_EQ(toc.data[3], 1);
  EXPECT_EQ(toc.data[4 + 8 + 2], 0xAA);
  EXPECT_EQ(Be32(toc.data, 4 + 8 + 4), sectors);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.unreadable = {{17, 18}}; });
  EXPECT_EQ(d.In(Cdb10(0x28, 0, 16, 4), 8192).sense_key_asc(), 0x031100u);
  // A pressed disc refuses writing.
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 1), Bytes(2048)).sense_key_asc(), 0x072700u);
}

TEST_F(SoftMmcDriveTest, IsoOnCdRomReadsAsMode1) {
  auto iso = sorvel::testing::MakeIsoImage(dir_.path(), "cd", {{"b.txt", "hello"}});
  ASSERT_FALSE(iso.empty());
  Drive d(Spec("medium=cd-rom,image=" + iso.string()));
  Answer raw = d.In(ReadCdCdb(16, 1, 0xF8, 0), 2352);
  ASSERT_EQ(raw.status, 0);
  std::ifstream in(iso, std::ios::binary);
  Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint8_t expected[2352];
  BuildMode1Sector(16, file.data() + 16 * 2048, expected);
  EXPECT_EQ(std::memcmp(raw.data.data(), expected, 2352), 0);
  Answer user = d.In(ReadCdCdb(16, 1, 0x10, 0, 2), 2048);  // user data only, Mode 1 expected
  ASSERT_EQ(user.status, 0);
  EXPECT_EQ(std::memcmp(user.data.data(), file.data() + 16 * 2048, 2048), 0);
  EXPECT_EQ(d.In(ReadCdCdb(16, 1, 0x10, 0, 1), 2048).sense_key_asc(), 0x056400u);  // not CD-DA
  Answer read10 = d.In(Cdb10(0x28, 0, 16, 1), 2048);
  EXPECT_EQ(std::memcmp(read10.data.data(), file.data() + 16 * 2048, 2048), 0);
}

class LoadedCueTest : public SoftMmcDriveTest {
 protected:
  void SetUp() override {
    packs_ = sorvel::testing::MakeTitlePacks({"Album", "First", "Second"});
    fixture_ = sorvel::testing::MakeCueImage(
        dir_.path(), "album",
        {{false, 0, 400, "", false}, {true, 150, 300, "JPABC0512345", true}, {true, 75, 200, "", false}},
        "4901234567894", packs_);
  }
  std::vector<std::array<uint8_t, 18>> packs_;
  sorvel::testing::CueFixture fixture_;
};

TEST_F(LoadedCueTest, ReadCdMatchesTheImageWithValidQ) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  std::ifstream in(fixture_.bin, std::ios::binary);
  Bytes bin((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int32_t sectors = static_cast<int32_t>(bin.size() / 2352);
  ASSERT_EQ(sectors, fixture_.leadout);
  bool saw_mcn = false, saw_isrc = false, saw_pregap_p = false;
  for (int32_t lba = 0; lba < sectors; lba += 25) {
    uint32_t count = static_cast<uint32_t>(std::min(25, sectors - lba));
    Answer a = d.In(ReadCdCdb(lba, count, 0xF8, 2), count * (2352 + 16));
    ASSERT_EQ(a.status, 0) << lba;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* s = a.data.data() + i * 2368;
      ASSERT_EQ(std::memcmp(s, bin.data() + static_cast<size_t>(lba + i) * 2352, 2352), 0) << "LBA " << lba + i;
      const uint8_t* q = s + 2352;
      ASSERT_TRUE(QCrcValid(q)) << "LBA " << lba + i;
      EXPECT_EQ(q[12] | q[13] | q[14], 0);
      int adr = q[0] & 0x0F;
      if (adr == 2) saw_mcn = true;
      if (adr == 3) saw_isrc = true;
      if (adr == 1) {
        int track = FromBcd(q[1]);
        int32_t at = lba + static_cast<int32_t>(i);
        int expected_track = at < 400 ? 1 : (at < 850 ? 2 : 3);
        EXPECT_EQ(track, expected_track) << at;
        Msf m = LbaToMsf(at);
        EXPECT_EQ(q[7], ToBcd(m.minute));
        EXPECT_EQ(q[8], ToBcd(m.second));
        EXPECT_EQ(q[9], ToBcd(m.frame));
        bool pregap = (at >= 400 && at < 550) || (at >= 850 && at < 925);
        EXPECT_EQ(q[2] == 0, pregap) << at;
        EXPECT_EQ((q[15] & 0x80) != 0, pregap) << at;
        if (pregap) saw_pregap_p = true;
      }
    }
  }
  EXPECT_TRUE(saw_mcn);
  EXPECT_TRUE(saw_isrc);
  EXPECT_TRUE(saw_pregap_p);
  // Raw P-W: Q deinterleaved from it equals the formatted Q.
  Answer raw = d.In(ReadCdCdb(600, 1, 0xF8, 1), 2352 + 96);
  Answer fmt = d.In(ReadCdCdb(600, 1, 0xF8, 2), 2352 + 16);
  uint8_t separate[96];
  DeinterleaveSubchannel(raw.data.data() + 2352, separate);
  EXPECT_EQ(std::memcmp(separate + 12, fmt.data.data() + 2352, 12), 0);
  // READ CD MSF of the first pregap (LBA -150 .. -149).
  Answer msf = d.In({0xB9, 0, 0, 0, 0, 0, 0, 0, 2, 0xF8, 2, 0}, 2 * 2368);
  ASSERT_EQ(msf.status, 0);
  EXPECT_EQ(msf.data[2352 + 1], 0x01);
  EXPECT_EQ(msf.data[2352 + 2], 0x00);
  // Audio is 2352 bytes whatever the field selection asks.
  Answer audio = d.In(ReadCdCdb(600, 1, 0x10, 0), 2352);
  EXPECT_EQ(std::memcmp(audio.data.data(), bin.data() + 600 * 2352, 2352), 0);
  EXPECT_EQ(d.In(ReadCdCdb(sectors, 1, 0xF8, 0), 2352).sense_key_asc(), 0x052100u);
  // READ(10) of an audio track is refused.
  EXPECT_EQ(d.In(Cdb10(0x28, 0, 600, 1), 2048).sense_key_asc(), 0x056400u);
}

// READ CD that selects no field of a sector with content: the command ends
// good with no data, with or without a buffer.
TEST_F(LoadedCueTest, ReadCdWithoutFieldsGivesNoData) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  for (int32_t lba : {0, 16, 500, 900}) {
    Answer none = d.None(ReadCdCdb(lba, 3, 0x00, 0));
    EXPECT_EQ(none.status, 0) << lba;
    Answer buffered = d.In(ReadCdCdb(lba, 3, 0x00, 0), 64);
    EXPECT_EQ(buffered.status, 0) << lba;
    EXPECT_EQ(buffered.data, Bytes(64, 0)) << lba;
  }
  // With a subchannel only, every sector gives its 16 bytes of Q.
  EXPECT_EQ(d.In(ReadCdCdb(10, 2, 0x00, 2), 32).status, 0);
}

TEST_F(LoadedCueTest, ReadTocFormats) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  Answer toc = d.In(Cdb10(0x43, 0, 0, 1028, 1), 1028);
  ASSERT_EQ(toc.status, 0);
  EXPECT_EQ(Be16(toc.data, 0), 2 + 4 * 8);
  EXPECT_EQ(toc.data[2], 1);
  EXPECT_EQ(toc.data[3], 3);
  EXPECT_EQ(toc.data[4 + 1], 0x14);
  EXPECT_EQ(toc.data[12 + 1], 0x12);  // audio, copy permitted
  EXPECT_EQ(Be32(toc.data, 12 + 4), 550u);
  EXPECT_EQ(Be32(toc.data, 20 + 4), 925u);
  EXPECT_EQ(toc.data[28 + 2], 0xAA);
  EXPECT_EQ(Be32(toc.data, 28 + 4), static_cast<uint32_t>(fixture_.leadout));
  Answer msf = d.In(Cdb10(0x43, 2, 0, 1028, 2), 1028);
  EXPECT_EQ(msf.data[4 + 2], 2);  // starts at track 2: 550 + 150 = 00:09:25
  EXPECT_EQ(msf.data[4 + 5], 0);
  EXPECT_EQ(msf.data[4 + 6], 9);
  EXPECT_EQ(msf.data[4 + 7], 25);
  EXPECT_EQ(d.In(Cdb10(0x43, 0, 0, 1028, 4), 1028).sense_key_asc(), 0x052400u);
  // A pressed disc has no ATIP.
  EXPECT_EQ(d.In({0x43, 2, 4, 0, 0, 0, 0, 0, 28, 0}, 28).sense_key_asc(), 0x052400u);

  Answer raw = d.In({0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0}, 1412);
  ASSERT_EQ(raw.status, 0);
  size_t n = (Be16(raw.data, 0) - 2) / 11;
  ASSERT_EQ(n, 6u);
  auto points = RawTocPoints(raw);
  EXPECT_EQ(points[0xA0][8], 1);
  EXPECT_EQ(points[0xA0][9], 0x00);
  EXPECT_EQ(points[0xA1][8], 3);
  EXPECT_EQ(points[0xA0][1], 0x14);
  Msf leadout = LbaToMsf(fixture_.leadout);
  EXPECT_EQ(points[0xA2][8], leadout.minute);
  EXPECT_EQ(points[0xA2][9], leadout.second);
  EXPECT_EQ(points[0xA2][10], leadout.frame);
  EXPECT_EQ(points[2][1], 0x12);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.reverse_raw_toc = true; });
  Answer reversed = d.In({0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0}, 1412);
  EXPECT_EQ(reversed.data[4 + 3], raw.data[4 + 11 * (n - 1) + 3]);

  // Track information by LBA: a pregap belongs to the track it leads into.
  Answer ti = d.In(Cdb10(0x52, 0, 450, 48), 48);
  ASSERT_EQ(ti.status, 0);
  EXPECT_EQ(ti.data[2], 2);
  EXPECT_EQ(Be32(ti.data, 8), 550u);
  EXPECT_EQ(Be32(ti.data, 24), 300u);
  EXPECT_EQ(ti.data[5] & 0x0F, 0x2);
  EXPECT_EQ(d.In(Cdb10(0x52, 1, 4, 48), 48).sense_key_asc(), 0x052400u);

  Answer text = d.In({0x43, 0, 5, 0, 0, 0, 0, 0x24, 0x00, 0}, 9216);
  ASSERT_EQ(text.status, 0);
  ASSERT_EQ(Be16(text.data, 0), 2 + 18 * packs_.size());
  for (size_t i = 0; i < packs_.size(); ++i) {
    EXPECT_EQ(std::memcmp(text.data.data() + 4 + 18 * i, packs_[i].data(), 18), 0);
  }
}

// An older ATAPI drive (atapi=sff8020): the READ TOC format comes from bits
// 7-6 of byte 9 alone, raw TOC points carry LBAs unless the MSF bit is set,
// and READ CD sends user data or whole sectors, never subchannel.
TEST_F(LoadedCueTest, OlderAtapiCommandSet) {
  const Bytes raw_msf_cdb = {0x43, 0x02, 2, 0, 0, 0, 1, 0x05, 0x84, 0x80};
  Drive mmc(Spec("image=" + fixture_.cue.string()));
  Answer raw_msf = mmc.In(raw_msf_cdb, 1412);
  Answer sector = mmc.In(ReadCdCdb(600, 1, 0xF8, 0), 2352);
  Answer user = mmc.In(ReadCdCdb(10, 1, 0x10, 0), 2048);
  ASSERT_EQ(raw_msf.status, 0);

  Drive d(Spec("image=" + fixture_.cue.string() + ",atapi=sff8020"));
  Answer by_byte2 = d.In({0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0}, 1412);
  ASSERT_EQ(by_byte2.status, 0);
  EXPECT_EQ(Be16(by_byte2.data, 0), 2 + 4 * 8);  // the format-0 TOC
  EXPECT_EQ(d.In(raw_msf_cdb, 1412).data, raw_msf.data);
  Answer raw_lba = d.In({0x43, 0, 0, 0, 0, 0, 1, 0x05, 0x84, 0x80}, 1412);
  ASSERT_EQ(raw_lba.status, 0);
  ASSERT_EQ((Be16(raw_lba.data, 0) - 2) / 11, 6);
  auto points = RawTocPoints(raw_lba);
  auto lba_of = [](const uint8_t* d) { return static_cast<int32_t>(d[7] << 24 | d[8] << 16 | d[9] << 8 | d[10]); };
  EXPECT_EQ(lba_of(points[1]), 0);
  EXPECT_EQ(lba_of(points[2]), 550);
  EXPECT_EQ(lba_of(points[3]), 925);
  EXPECT_EQ(lba_of(points[0xA2]), fixture_.leadout);
  EXPECT_EQ(points[0xA0][8], 1);  // A0 and A1 keep their track numbers
  EXPECT_EQ(points[0xA1][8], 3);
  // Format 5 has no byte-9 form: the format-0 TOC again.
  Answer text = d.In({0x43, 0, 5, 0, 0, 0, 0, 0x24, 0x00, 0}, 9216);
  ASSERT_EQ(text.status, 0);
  EXPECT_EQ(Be16(text.data, 0), 2 + 4 * 8);

  // Whole sectors whatever subchannel is selected, user data, nothing else.
  Answer with_q = d.In(ReadCdCdb(600, 1, 0xF8, 2), 2368);
  ASSERT_EQ(with_q.status, 0);
  EXPECT_TRUE(Bytes(with_q.data.begin(), with_q.data.begin() + 2352) == sector.data);
  EXPECT_TRUE(Bytes(with_q.data.begin() + 2352, with_q.data.end()) == Bytes(16, 0));
  EXPECT_EQ(d.In(ReadCdCdb(10, 1, 0x10, 1), 2048).data, user.data);
  EXPECT_EQ(d.In(ReadCdCdb(10, 1, 0xB8, 0), 2352).sense_key_asc(), 0x052400u);
  // No sector type check: an audio sector read as Mode 1 comes back.
  EXPECT_EQ(d.In(ReadCdCdb(600, 1, 0xF8, 0, 2), 2352).data, sector.data);
}

TEST_F(LoadedCueTest, SubchannelFaults) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  Answer plain = d.In(ReadCdCdb(100, 5, 0xF8, 2), 5 * 2368);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) {
    f.q_shift = 2;
    f.q_crc_errors = {{101, 101}};
  });
  Answer shifted = d.In(ReadCdCdb(100, 3, 0xF8, 2), 3 * 2368);
  EXPECT_EQ(std::memcmp(shifted.data.data() + 2352, plain.data.data() + 2 * 2368 + 2352, 16), 0);
  EXPECT_EQ(std::memcmp(shifted.data.data(), plain.data.data(), 2352), 0);  // main channel unshifted
  EXPECT_FALSE(QCrcValid(shifted.data.data() + 2368 + 2352));
  d.soft()->hooks().SetFaults({});
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.q_crc_zeroed = true; f.p_noise_period = 1; });
  Answer zeroed = d.In(ReadCdCdb(100, 1, 0xF8, 2), 2368);
  EXPECT_EQ(zeroed.data[2352 + 10], 0);
  EXPECT_EQ(zeroed.data[2352 + 11], 0);
  EXPECT_EQ(zeroed.data[2352 + 15], 0x80);  // P flipped in the track body
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.unreadable = {{102, 102}}; });
  Answer bad = d.In(ReadCdCdb(100, 5, 0xF8, 0), 5 * 2352);
  EXPECT_EQ(bad.sense_key_asc(), 0x031100u);
}

TEST_F(LoadedCueTest, ExportOfALoadedDiscReproducesTheImage) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  auto cue = dir_ / "copy.cue";
  std::string error;
  ASSERT_TRUE(d.soft()->ExportCd(cue.string(), &error)) << error;
  auto read = [](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  EXPECT_TRUE(read(dir_ / "copy.bin") == read(fixture_.bin));
  EXPECT_TRUE(read(dir_ / "copy.cdt") == read(dir_ / "album.cdt"));
  // The exported sheet loads into the same TOC.
  Drive again(Spec("image=" + cue.string()));
  Bytes cdb = {0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0};
  EXPECT_EQ(again.In(cdb, 1412).data, d.In(cdb, 1412).data);
  // The .sub holds what READ CD returns, channel after channel.
  Bytes sub = read(dir_ / "copy.sub");
  Answer raw = d.In(ReadCdCdb(560, 1, 0x00, 1), 96);
  uint8_t separate[96];
  DeinterleaveSubchannel(raw.data.data(), separate);
  EXPECT_EQ(std::memcmp(separate, sub.data() + 560 * 96, 96), 0);
}

TEST_F(LoadedCueTest, NegativeQShift) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  Answer plain = d.In(ReadCdCdb(100, 1, 0x00, 2), 16);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.q_shift = -2; });
  Answer shifted = d.In(ReadCdCdb(102, 1, 0x00, 2), 16);
  EXPECT_EQ(shifted.data, plain.data);
}

TEST_F(LoadedCueTest, CommandsFromSeveralThreads) {
  Drive d(Spec("image=" + fixture_.cue.string()));
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        Answer a = d.In(ReadCdCdb(t * 200 + i, 1, 0xF8, 2), 2368);
        if (a.status != 0 || !QCrcValid(a.data.data() + 2352)) ++failures;
        d.soft()->hooks().UpdateFaults([&](DriveFaults& f) { f.p_noise_period = i % 2; });
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 40; ++i) {
      if (d.soft()->hooks().log().size() > 200) ++failures;
    }
  });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(d.soft()->hooks().log().size(), 120u);
}

TEST_F(SoftMmcDriveTest, DiscAndTrackInformationOfBlankMedia) {
  Drive cd(Spec("medium=cd-r"));
  Answer di = cd.In(Cdb10(0x51, 0, 0, 256), 256);
  ASSERT_EQ(di.status, 0);
  EXPECT_EQ(di.data[2] & 3, 0);
  EXPECT_EQ(di.data[17], 97);
  EXPECT_EQ(di.data[18], 26);
  EXPECT_EQ(di.data[19], 66);
  EXPECT_EQ(di.data[21], 79);
  EXPECT_EQ(di.data[22], 59);
  EXPECT_EQ(di.data[23], 74);
  Answer rw = Drive(Spec("medium=cd-rw")).In(Cdb10(0x51, 0, 0, 256), 256);
  EXPECT_EQ(rw.data[2] & 0x10, 0x10);
  for (const char* medium : {"dvd-r", "dvd-rw", "dvd+r", "bd-r", "hddvd-r"}) {
    Drive d(Spec(std::string("medium=") + medium));
    Answer ti = d.In(Cdb10(0x52, 0, 1, 2048), 2048);
    ASSERT_EQ(ti.status, 0) << medium;
    EXPECT_EQ(Be32(ti.data, 16), Be32(ti.data, 24)) << medium;
    EXPECT_GT(Be32(ti.data, 16), 2000000u) << medium;
    EXPECT_EQ(ti.data[7] & 1, 1) << medium;
  }
}

TEST_F(SoftMmcDriveTest, ModePages) {
  Drive d(Spec("medium=cd-r"));
  Answer p1 = d.In({0x5A, 0, 0x81, 0, 0, 0, 0, 1, 8, 0}, 264);  // changeable page 1
  ASSERT_EQ(p1.status, 0);
  EXPECT_EQ(Be16(p1.data, 6), 0);  // no block descriptor
  EXPECT_EQ(p1.data[8], 0x01);
  EXPECT_EQ(p1.data[9], 0x0A);
  Answer p5c = d.In({0x5A, 0, 0x45, 0, 0, 0, 0, 1, 8, 0}, 264);
  EXPECT_EQ(p5c.data[9], 0x36);
  EXPECT_EQ(p5c.data[10] & 0x40, 0x40);  // BUFE changeable
  Answer p2a = d.In({0x5A, 0, 0x2A, 0, 0, 0, 0, 1, 8, 0}, 264);
  ASSERT_EQ(p2a.status, 0);
  const uint8_t* p = p2a.data.data() + 8;
  uint16_t n = static_cast<uint16_t>((p[30] << 8) | p[31]);
  EXPECT_EQ(p[1], 30 + 4 * n);
  EXPECT_LE(n, 56);
  EXPECT_EQ(p[2] & 0x03, 0x03);
  EXPECT_EQ(p[3] & 0x03, 0x03);
  EXPECT_EQ((p[32 + 2] << 8) | p[32 + 3], 7056);
  EXPECT_EQ(d.In({0x5A, 0, 0xC5, 0, 0, 0, 0, 1, 8, 0}, 264).sense_key_asc(), 0x053900u);
  // SET CD SPEED shows in the current write speed.
  EXPECT_EQ(d.None({0xBB, 0, 0xFF, 0xFF, 0x0B, 0x06, 0, 0, 0, 0, 0, 0}).status, 0);  // 2822 kB/s
  p2a = d.In({0x5A, 0, 0x2A, 0, 0, 0, 0, 1, 8, 0}, 264);
  EXPECT_EQ((p2a.data[8 + 28] << 8) | p2a.data[8 + 29], 2822);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.missing_bufe = true; });
  p5c = d.In({0x5A, 0, 0x45, 0, 0, 0, 0, 1, 8, 0}, 264);
  EXPECT_EQ(p5c.data[10] & 0x40, 0);
}

Bytes ModeSelectPage5(uint8_t write_type, uint8_t block_type, bool test = false, uint8_t byte0 = 0, uint16_t mdl = 0) {
  Bytes d(8 + 0x38, 0);
  d[0] = static_cast<uint8_t>(mdl >> 8);
  d[1] = static_cast<uint8_t>(mdl);
  d[8] = static_cast<uint8_t>(0x05 | byte0);
  d[9] = 0x36;
  d[10] = static_cast<uint8_t>(write_type | (test ? 0x10 : 0));
  d[11] = write_type == 2 || write_type == 3 ? 0x00 : 0x04;
  d[12] = block_type;
  d[23] = 150;
  return d;
}

Bytes ModeSelectCdb(size_t length) {
  return {0x55, 0x10, 0, 0, 0, 0, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0};
}

struct WriteModeCase {
  const char* medium;
  uint8_t write_type;
  uint8_t block_type;
  bool test;
  bool accepted;
};

class WriteModeTest : public SoftMmcDriveTest, public ::testing::WithParamInterface<WriteModeCase> {};

TEST_P(WriteModeTest, ModeSelectChecksWriteTypeAgainstMedium) {
  const auto& c = GetParam();
  Drive d(Spec(std::string("medium=") + c.medium));
  Bytes page = ModeSelectPage5(c.write_type, c.block_type, c.test);
  Answer a = d.Out(ModeSelectCdb(page.size()), page);
  if (c.accepted) {
    EXPECT_EQ(a.status, 0);
    Answer current = d.In({0x5A, 0, 0x05, 0, 0, 0, 0, 1, 8, 0}, 264);
    EXPECT_EQ(current.data[10] & 0x0F, c.write_type);
    EXPECT_EQ(current.data[12] & 0x0F, c.block_type);
  } else {
    EXPECT_EQ(a.sense_key_asc(), 0x052600u);
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, WriteModeTest,
                         ::testing::Values(WriteModeCase{"cd-r", 2, 0, false, true}, WriteModeCase{"cd-r", 2, 3, false, true},
                                           WriteModeCase{"cd-r", 3, 1, false, true}, WriteModeCase{"cd-r", 3, 3, false, true},
                                           WriteModeCase{"cd-r", 3, 8, false, false}, WriteModeCase{"cd-r", 1, 8, true, true},
                                           WriteModeCase{"cd-rw", 4, 8, false, false}, WriteModeCase{"dvd-r", 2, 8, true, true},
                                           WriteModeCase{"dvd-r", 3, 1, false, false}, WriteModeCase{"dvd+r", 0, 8, true, false},
                                           WriteModeCase{"bd-re", 0, 8, false, true}, WriteModeCase{"none", 2, 0, false, true}));

TEST_F(SoftMmcDriveTest, ModeSelectToleranceAndStrictness) {
  Drive d(Spec("medium=cd-r"));
  Bytes sloppy = ModeSelectPage5(2, 0, false, 0x80, 0x3E);
  EXPECT_EQ(d.Out(ModeSelectCdb(sloppy.size()), sloppy).status, 0);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.strict_mode_select = true; });
  EXPECT_EQ(d.Out(ModeSelectCdb(sloppy.size()), sloppy).sense_key_asc(), 0x052600u);
  Bytes clean = ModeSelectPage5(2, 0);
  EXPECT_EQ(d.Out(ModeSelectCdb(clean.size()), clean).status, 0);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.unsupported_write_modes = {{3, 0xFF}}; });
  Bytes raw = ModeSelectPage5(3, 3);
  EXPECT_EQ(d.Out(ModeSelectCdb(raw.size()), raw).sense_key_asc(), 0x052600u);
  Bytes page1 = {0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x0A, 0x04, 0x05, 0, 0, 0, 0, 0x05, 0, 0, 0};
  EXPECT_EQ(d.Out(ModeSelectCdb(page1.size()), page1).status, 0);
  Answer current = d.In({0x5A, 0, 0x01, 0, 0, 0, 0, 1, 8, 0}, 264);
  EXPECT_EQ(current.data[10], 0x04);
  EXPECT_EQ(current.data[11], 0x05);
  Bytes unknown = {0, 0, 0, 0, 0, 0, 0, 0, 0x0E, 0x02, 0, 0};
  EXPECT_EQ(d.Out(ModeSelectCdb(unknown.size()), unknown).sense_key_asc(), 0x052600u);
}

TEST_F(SoftMmcDriveTest, DefaultPagesSelectBackOnAnyMedium) {
  auto iso = sorvel::testing::MakeIsoImage(dir_.path(), "rom", {{"c.txt", "c"}});
  ASSERT_FALSE(iso.empty());
  for (const std::string& settings : std::vector<std::string>{"medium=cd-r", "medium=dvd+rw", "medium=bd-r", "image=" + iso.string()}) {
    Drive d(Spec(settings));
    for (uint8_t page : {0x01, 0x05}) {
      Answer sensed = d.In({0x5A, 0, static_cast<uint8_t>(0x80 | page), 0, 0, 0, 0, 1, 8, 0}, 264);
      ASSERT_EQ(sensed.status, 0);
      size_t length = Be16(sensed.data, 0) + 2u;
      Bytes back(sensed.data.begin(), sensed.data.begin() + static_cast<long>(length));
      EXPECT_EQ(d.Out(ModeSelectCdb(back.size()), back).status, 0) << settings << " page " << int(page);
    }
  }
}

TEST_F(SoftMmcDriveTest, GetPerformanceWriteSpeeds) {
  Drive d(Spec("medium=cd-r"));
  Bytes cdb = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 63, 3, 0};
  Answer a = d.In(cdb, 1024);
  ASSERT_EQ(a.status, 0);
  uint32_t length = Be32(a.data, 0);
  ASSERT_EQ((length - 4) % 16, 0u);
  ASSERT_GT(length, 4u);
  EXPECT_EQ(Be32(a.data, 8 + 12), 7056u);
  std::vector<PerformanceEntry> many;
  for (int i = 0; i < 70; ++i) many.push_back({1, 359849, 7056, static_cast<uint32_t>(i < 2 ? 7056 : 5645)});
  d.soft()->hooks().UpdateFaults([&](DriveFaults& f) { f.performance = many; });
  cdb[8] = 0;
  cdb[9] = 100;
  a = d.In(cdb, 1024);
  EXPECT_EQ(Be32(a.data, 0), 4u + 70 * 16);  // more than fit in 1,024 bytes
  EXPECT_EQ(a.data[8] & 0x18, 0x08);           // WRC
  EXPECT_EQ(Be32(a.data, 8 + 16 + 12), 7056u);  // duplicate
  cdb[10] = 7;
  EXPECT_EQ(d.In(cdb, 1024).sense_key_asc(), 0x052400u);
}

struct RefusalCase {
  const char* name;
  const char* medium;
  Bytes cdb;
  bool out;
  size_t length;
  uint32_t sense;
};

class RefusalTest : public SoftMmcDriveTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, AnswersWithSense) {
  const auto& c = GetParam();
  Drive d(Spec(std::string("medium=") + c.medium));
  Answer a = c.out ? d.Out(c.cdb, Bytes(c.length)) : (c.length ? d.In(c.cdb, c.length) : d.None(c.cdb));
  EXPECT_EQ(a.status, 2);
  EXPECT_EQ(a.sense_key_asc(), c.sense) << std::hex << a.sense_key_asc();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RefusalTest,
    ::testing::Values(
        RefusalCase{"UnknownOpcode", "cd-r", {0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0x052000},
        RefusalCase{"ShortCdb", "cd-r", {0x28, 0, 0}, false, 0, 0x052400},
        RefusalCase{"NoMediumReadToc", "none", Cdb10(0x43, 0, 0, 1028, 1), false, 1028, 0x023A00},
        RefusalCase{"NoMediumCapacity", "none", Cdb10(0x25), false, 8, 0x023A00},
        RefusalCase{"BlankTocIsInvalid", "cd-r", Cdb10(0x43, 0, 0, 1028, 1), false, 1028, 0x052400},
        RefusalCase{"BlankRead", "dvd-r", Cdb10(0x28, 0, 0, 1), false, 2048, 0x052100},
        RefusalCase{"CueSheetNeedsSao", "cd-r", {0x5D, 0, 0, 0, 0, 0, 0, 0, 16, 0}, true, 16, 0x052C00},
        RefusalCase{"CueSheetOnDvd", "dvd-r", {0x5D, 0, 0, 0, 0, 0, 0, 0, 16, 0}, true, 16, 0x053005},
        RefusalCase{"WriteWithoutCueSheet", "cd-r", Cdb10(0x2A, 0, 0xFFFFFF6A, 1), true, 2352, 0x052C00},
        RefusalCase{"DvdWriteNotAtNwa", "dvd-r", Cdb10(0x2A, 0, 16, 1), true, 2048, 0x052102},
        RefusalCase{"BlankWriteOnce", "cd-r", {0xA1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0x053005},
        RefusalCase{"BlankDvdPlusRw", "dvd+rw", {0xA1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0x053005},
        RefusalCase{"BlankTrackType", "cd-rw", {0xA1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0x052400},
        RefusalCase{"ReserveTooLarge", "dvd-r", {0x53, 0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF, 0}, false, 0, 0x052100},
        RefusalCase{"ReserveOnRewritable", "dvd+rw", {0x53, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}, false, 0, 0x053005},
        RefusalCase{"FormatNotOffered", "dvd+rw", {0x04, 0x11, 0, 0, 0, 0}, true, 12, 0x052600},
        RefusalCase{"FormatWrongCdb", "dvd+rw", {0x04, 0x17, 0, 0, 0, 0}, true, 12, 0x052400},
        RefusalCase{"RawTocOnDvd", "dvd+r", {0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0}, false, 1412, 0x052400},
        RefusalCase{"CdTextMissing", "cd-r", {0x43, 0, 5, 0, 0, 0, 0, 0x24, 0, 0}, false, 9216, 0x052400},
        RefusalCase{"ReadCdOnDvd", "dvd-r", ReadCdCdb(0, 1, 0xF8, 0), false, 2352, 0x056400}),
    [](const auto& info) { return std::string(info.param.name); });

// READ TOC format 4: the ATIP of a recordable CD, recorded or blank, in the
// MMC layout: data length 26, bit 7 of bytes 4 and 6 set, unrestricted use
// (byte 5 bit 6), CD-RW in byte 6 bit 6, the lead-in start at bytes 8-10 and
// the last possible lead-out start at bytes 12-14 (binary MSF), the same
// times the blank disc's disc information gives.
struct AtipCase {
  const char* name;
  const char* medium;
  bool recorded;          // a session written before asking
  size_t allocation;
  uint32_t sense;         // 0: answered
  uint8_t disc_type;      // byte 6
};

class AtipTest : public SoftMmcDriveTest, public ::testing::WithParamInterface<AtipCase> {};

TEST_P(AtipTest, ReadTocFormat4) {
  const AtipCase& c = GetParam();
  Drive d(Spec(std::string("medium=") + c.medium));
  const Bytes blank_info = d.In(Cdb10(0x51, 0, 0, 256), 256).data;
  if (c.recorded) {
    // One audio track, 0..299, written session at once.
    const Bytes page = ModeSelectPage5(2, 0);
    ASSERT_EQ(d.Out(ModeSelectCdb(page.size()), page).status, 0);
    const Bytes sheet = {0x01, 0, 0, 0x00, 0, 0, 0, 0, 0x01, 1, 0, 0x00, 0, 0, 0, 0,
                         0x01, 1, 1, 0x00, 0, 0, 2, 0, 0x01, 0xAA, 1, 0x00, 0, 0, 6, 0};
    ASSERT_EQ(d.Out({0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(sheet.size()), 0}, sheet).status, 0);
    for (int32_t lba = -150; lba < 300; lba += 75) {
      ASSERT_EQ(d.Out(Cdb10(0x2A, 0, static_cast<uint32_t>(lba), 75), Bytes(75 * 2352, 0x33)).status, 0) << lba;
    }
    ASSERT_EQ(d.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
    ASSERT_NE(d.In(Cdb10(0x51, 0, 0, 256), 256).data[2] & 3, 0);
  }
  const Bytes cdb = {0x43, 0x02, 0x04, 0, 0, 0, 0, 0, static_cast<uint8_t>(c.allocation), 0};
  Answer a = d.In(cdb, c.allocation);
  if (c.sense != 0) {
    EXPECT_EQ(a.sense_key_asc(), c.sense) << std::hex << a.sense_key_asc();
    return;
  }
  ASSERT_EQ(a.status, 0);
  Bytes want(28, 0);
  want[1] = 26;
  want[4] = 0x80;
  want[5] = 0x40;
  want[6] = c.disc_type;
  want[8] = 97, want[9] = 26, want[10] = 66;   // LBA -11,634
  want[12] = 79, want[13] = 59, want[14] = 74;  // LBA 359,849
  want.resize(c.allocation);
  EXPECT_EQ(a.data, want);
  EXPECT_EQ(Bytes(blank_info.begin() + 17, blank_info.begin() + 20), Bytes({97, 26, 66}));
  EXPECT_EQ(Bytes(blank_info.begin() + 21, blank_info.begin() + 24), Bytes({79, 59, 74}));
}

INSTANTIATE_TEST_SUITE_P(
    Media, AtipTest,
    ::testing::Values(AtipCase{"BlankCdR", "cd-r", false, 28, 0, 0x80},
                      AtipCase{"BlankCdRw", "cd-rw", false, 28, 0, 0xC0},
                      AtipCase{"RecordedCdR", "cd-r", true, 28, 0, 0x80},
                      AtipCase{"RecordedCdRw", "cd-rw", true, 28, 0, 0xC0},
                      AtipCase{"ShortAllocation", "cd-rw", false, 12, 0, 0xC0},
                      AtipCase{"DvdR", "dvd-r", false, 28, 0x052400, 0},
                      AtipCase{"DvdPlusRw", "dvd+rw", false, 28, 0x052400, 0},
                      AtipCase{"BdRe", "bd-re", false, 28, 0x052400, 0},
                      AtipCase{"HdDvdR", "hddvd-r", false, 28, 0x052400, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A drive that reads no ATIP, and one whose formatted capacity is set.
TEST_F(SoftMmcDriveTest, AtipAndFormatCapacityFaults) {
  Drive d(Spec("medium=cd-rw"));
  const Bytes atip_cdb = {0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 28, 0};
  ASSERT_EQ(d.In(atip_cdb, 28).status, 0);
  // A CD-RW's formatted capacity is that of fixed packets of 32 blocks
  // (each 39 on the disc), below the ATIP's 359,849.
  Answer caps = d.In(Cdb10(0x23, 0, 0, 2048), 2048);
  ASSERT_EQ(caps.status, 0);
  EXPECT_EQ(Be32(caps.data, 4), 359849u / 39 * 32);
  EXPECT_EQ(Be32(Drive(Spec("medium=cd-r")).In(Cdb10(0x23, 0, 0, 2048), 2048).data, 4), 359849u);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) {
    f.atip_missing = true;
    f.format_capacity_blocks = 1234;
  });
  EXPECT_EQ(d.In(atip_cdb, 28).sense_key_asc(), 0x052400u);
  EXPECT_EQ(Be32(d.In(Cdb10(0x23, 0, 0, 2048), 2048).data, 4), 1234u);
}

TEST_F(SoftMmcDriveTest, FormatUnitTakesAnOfferedDescriptor) {
  Drive d(Spec("medium=dvd+rw"));
  Answer caps = d.In(Cdb10(0x23, 0, 0, 2048), 2048);
  ASSERT_EQ(caps.status, 0);
  ASSERT_GE(caps.data[3], 16);
  EXPECT_EQ(caps.data[8] & 3, 1);  // unformatted
  EXPECT_EQ(caps.data[12 + 4] >> 2, 0x26);
  Bytes list = {0, 0x80, 0, 8, caps.data[12], caps.data[13], caps.data[14], caps.data[15], caps.data[16], 0, 0, 0};
  EXPECT_EQ(d.Out({0x04, 0x11, 0, 0, 0, 0}, list).status, 0);
  caps = d.In(Cdb10(0x23, 0, 0, 2048), 2048);
  EXPECT_EQ(caps.data[8] & 3, 2);
  // Random writing anywhere on the formatted medium.
  Bytes block(2048, 0x5A);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 1000, 1), block).status, 0);
  Answer back = d.In(Cdb10(0x28, 0, 1000, 1), 2048);
  EXPECT_EQ(back.data, block);
  Drive bd(Spec("medium=bd-re"));
  caps = bd.In(Cdb10(0x23, 0, 0, 2048), 2048);
  int bd30 = 0;
  for (size_t i = 12; i < 4u + caps.data[3]; i += 8) bd30 += (caps.data[i + 4] >> 2) == 0x30;
  EXPECT_GE(bd30, 2);
}

TEST_F(SoftMmcDriveTest, DvdSequentialWriteReserveAndClose) {
  Drive d(Spec("medium=dvd-r"));
  Bytes page = ModeSelectPage5(2, 8);
  ASSERT_EQ(d.Out(ModeSelectCdb(page.size()), page).status, 0);
  Bytes blocks(16 * 2048);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(i / 7);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), blocks).sense_key_asc(), 0x052C00u);  // DAO needs a reservation
  EXPECT_EQ(d.None({0x53, 0, 0, 0, 0, 0, 0, 0, 32, 0}).status, 0);
  EXPECT_EQ(d.None({0x53, 0, 0, 0, 0, 0, 0, 0, 32, 0}).sense_key_asc(), 0x052C00u);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), blocks).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), blocks).sense_key_asc(), 0x052102u);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 16, 16), blocks).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 32, 1), Bytes(2048)).sense_key_asc(), 0x052100u);  // beyond the reservation
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) {
    f.long_write_in_progress = 1;
    f.not_ready_after_sync = 2;
  });
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 32, 1), Bytes(2048)).sense_key_asc(), 0x020408u);
  EXPECT_EQ(d.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).sense_key_asc(), 0x020408u);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).sense_key_asc(), 0x020408u);
  EXPECT_EQ(d.None({0x00, 0, 0, 0, 0, 0}).status, 0);
  Answer di = d.In(Cdb10(0x51, 0, 0, 256), 256);
  EXPECT_EQ(di.data[2] & 3, 1);
  EXPECT_EQ(d.None({0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  di = d.In(Cdb10(0x51, 0, 0, 256), 256);
  EXPECT_EQ(di.data[2] & 3, 2);
  Answer cap = d.In(Cdb10(0x25), 8);
  EXPECT_EQ(Be32(cap.data, 0), 31u);
  Answer back = d.In(Cdb10(0x28, 0, 16, 16), 16 * 2048);
  EXPECT_EQ(back.data, blocks);
  d.soft()->hooks().UpdateFaults([](DriveFaults& f) { f.write_error_lba = 40; });
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 39, 2), Bytes(4096)).sense_key_asc(), 0x030C00u);
}

// A test write runs through the whole track: the drive advances its next
// writable address as it would for a real write, and records nothing.
TEST_F(SoftMmcDriveTest, DvdTestWriteAcceptsSequentialWritesAndRecordsNothing) {
  Drive d(Spec("medium=dvd-r"));
  Bytes page = ModeSelectPage5(0, 8, true);
  ASSERT_EQ(d.Out(ModeSelectCdb(page.size()), page).status, 0);
  Bytes blocks(16 * 2048, 0x5A);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), blocks).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 16, 16), blocks).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 16, 16), blocks).sense_key_asc(), 0x052102u);  // not the next address
  EXPECT_EQ(d.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  Answer di = d.In(Cdb10(0x51, 0, 0, 256), 256);
  EXPECT_EQ(di.data[2] & 3, 0);  // still blank
  Answer ti = d.In(Cdb10(0x52, 0, 1, 48), 48);
  EXPECT_EQ(Be32(ti.data, 12), 0u);  // next writable address
  // The real write that follows starts at the beginning again.
  page = ModeSelectPage5(0, 8, false);
  ASSERT_EQ(d.Out(ModeSelectCdb(page.size()), page).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), blocks).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 16, 16), blocks).status, 0);
}

// The state as the file at `path` holds it now.
MediaState StateOnDisk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  MediaState state;
  std::string error;
  EXPECT_TRUE(ParseState(text, &state, &error)) << error;
  return state;
}

// Every change the drive keeps is in the state file before the next command
// is answered, and each save puts a whole new file in place: one opened
// before it still reads whole, the state it had.
TEST_F(SoftMmcDriveTest, EveryKeptChangeIsInTheStateFileAtOnce) {
  const std::string entry = Spec("medium=dvd-r");
  const std::string path = entry.substr(0, entry.find(','));
  Drive d(entry);
  EXPECT_EQ(d.None({0x1E, 0, 0, 0, 1, 0}).status, 0);
  EXPECT_TRUE(StateOnDisk(path).locked);
  std::ifstream before(path, std::ios::binary);
  EXPECT_EQ(d.None({0x1E, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_FALSE(StateOnDisk(path).locked);
  std::string old_text((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
  MediaState old_state;
  ASSERT_TRUE(ParseState(old_text, &old_state, nullptr));
  EXPECT_TRUE(old_state.locked);
  Bytes page = ModeSelectPage5(2, 8);
  ASSERT_EQ(d.Out(ModeSelectCdb(page.size()), page).status, 0);
  EXPECT_EQ(d.None({0x53, 0, 0, 0, 0, 0, 0, 0, 32, 0}).status, 0);
  EXPECT_EQ(StateOnDisk(path).reserved_size, 32);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), Bytes(16 * 2048, 0x11)).status, 0);
  EXPECT_EQ(StateOnDisk(path).next_writable, 16);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 16, 8), Bytes(8 * 2048, 0x12)).status, 0);
  EXPECT_EQ(StateOnDisk(path).next_writable, 24);
  EXPECT_EQ(StateOnDisk(path).reserved_size, 32);
  EXPECT_EQ(d.None({0x1B, 0, 0, 0, 2, 0}).status, 0);
  EXPECT_TRUE(StateOnDisk(path).tray_open);
  EXPECT_EQ(d.None({0x1B, 0, 0, 0, 3, 0}).status, 0);
  EXPECT_FALSE(StateOnDisk(path).tray_open);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

// A link left at the name of the next state is not followed: the file it
// names keeps its bytes, and the state is saved all the same.
TEST_F(SoftMmcDriveTest, LinkAtTheNextStateNameIsNotFollowed) {
  const std::string entry = Spec("medium=cd-r");
  const std::string path = entry.substr(0, entry.find(','));
  const std::filesystem::path victim = dir_ / "victim";
  { std::ofstream(victim) << "keep me"; }
  std::filesystem::create_symlink(victim, path + ".new");
  Drive d(entry);
  EXPECT_EQ(d.None({0x1E, 0, 0, 0, 1, 0}).status, 0);
  EXPECT_TRUE(StateOnDisk(path).locked);
  std::ifstream in(victim);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "keep me");
}

// The track of a random-writable medium is the whole medium, however much
// of it was written: a second, larger image still fits.
class RandomWritableTest : public SoftMmcDriveTest, public ::testing::WithParamInterface<const char*> {};

INSTANTIATE_TEST_SUITE_P(Media, RandomWritableTest, ::testing::Values("dvd-ram", "0x52"),
                         [](const auto& info) { return std::string(info.param) == "dvd-ram" ? "DvdRam" : "HdDvdRam"; });

TEST_P(RandomWritableTest, TrackInformationGivesTheWholeMediumFree) {
  Drive d(Spec(std::string("medium=") + GetParam()));
  const uint32_t capacity = static_cast<uint32_t>(DefaultCapacity(d.soft()->media().profile));
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), Bytes(16 * 2048, 0x22)).status, 0);
  EXPECT_EQ(d.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  Answer ti = d.In(Cdb10(0x52, 0, 1, 48), 48);  // the track holding LBA 1
  ASSERT_EQ(ti.status, 0);
  EXPECT_EQ(Be32(ti.data, 16), capacity);  // free blocks
  EXPECT_EQ(Be32(ti.data, 24), capacity);  // track size
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 100, 16), Bytes(16 * 2048, 0x33)).status, 0);
  EXPECT_EQ(Be32(d.In(Cdb10(0x52, 0, 1, 48), 48).data, 16), capacity);
}

// A recorded HD DVD-RW is blanked for the next image, as a DVD-RW is.
TEST_F(SoftMmcDriveTest, RecordedHdDvdRwIsBlankedAgain) {
  Drive d(Spec("medium=0x53"));
  Bytes page = ModeSelectPage5(2, 8);
  ASSERT_EQ(d.Out(ModeSelectCdb(page.size()), page).status, 0);
  ASSERT_EQ(d.None({0x53, 0, 0, 0, 0, 0, 0, 0, 16, 0}).status, 0);
  ASSERT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), Bytes(16 * 2048, 0x44)).status, 0);
  ASSERT_EQ(d.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  ASSERT_EQ(d.None({0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(d.In(Cdb10(0x51, 0, 0, 256), 256).data[2] & 3, 2);
  EXPECT_EQ(d.None({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(d.In(Cdb10(0x51, 0, 0, 256), 256).data[2] & 3, 0);
  ASSERT_EQ(d.None({0x53, 0, 0, 0, 0, 0, 0, 0, 16, 0}).status, 0);
  EXPECT_EQ(d.Out(Cdb10(0x2A, 0, 0, 16), Bytes(16 * 2048, 0x55)).status, 0);
}

}  // namespace
}  // namespace sorvel::platform::emu
