// Writing CDs through raw command blocks: SAO with a cue sheet (checked by
// independent tools after export), raw with a lead-in the test builds, and
// persistence across processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>

#include "platform/emulated_device.h"
#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/disc_layout.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/cd_image_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::platform::emu {
namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
  int status = -1;
  uint32_t sense = 0;
};

class Host {
 public:
  explicit Host(const std::string& entry) : path_(entry.substr(0, entry.find(','))) {
    std::string error;
    device_ = OpenEmulatedDevice(entry, &error);
    EXPECT_TRUE(device_) << error;
  }
  Result Run(const Bytes& cdb, uint8_t* data = nullptr, size_t length = 0, bool write = false) {
    ScsiRequest r;
    r.cdb = cdb.data();
    r.cdb_length = cdb.size();
    r.data = data;
    r.data_length = length;
    r.write = write;
    ScsiResult s = device_->Execute(r);
    Result out;
    out.status = s.status;
    if (s.status) out.sense = (uint32_t{static_cast<uint8_t>(s.sense[2] & 0x0F)} << 16) | (s.sense[12] << 8) | s.sense[13];
    return out;
  }
  Result Out(const Bytes& cdb, Bytes data) { return Run(cdb, data.data(), data.size(), true); }
  Bytes In(const Bytes& cdb, size_t length, Result* result = nullptr) {
    Bytes data(length);
    Result r = Run(cdb, data.data(), length, false);
    EXPECT_EQ(r.status, 0) << std::hex << "sense " << r.sense << " for opcode " << int(cdb[0]);
    if (result) *result = r;
    return data;
  }
  SoftMmcDrive* soft() { return FindOpenDrive(path_); }
  void Close() { device_.reset(); }

 private:
  std::string path_;
  std::unique_ptr<ScsiDevice> device_;
};

Bytes Cdb10(uint8_t op, uint32_t lba, uint16_t length, uint8_t b1 = 0, uint8_t b6 = 0) {
  return {op, b1, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
          static_cast<uint8_t>(lba), b6, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0};
}

uint32_t Be32(const Bytes& d, size_t at) {
  return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
}

void SelectWriteMode(Host& host, uint8_t write_type, uint8_t block_type) {
  Bytes page(8 + 0x38, 0);
  page[8] = 0x05;
  page[9] = 0x36;
  page[10] = write_type;
  page[12] = block_type;
  page[23] = 150;
  Bytes cdb = {0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(page.size()), 0};
  ASSERT_EQ(host.Out(cdb, page).status, 0);
}

// One 8-byte cue sheet entry with binary MSF of `lba`.
void AddCue(Bytes* sheet, uint8_t ctl_adr, uint8_t tno, uint8_t index, uint8_t form, int32_t lba) {
  int32_t frames = lba + 150;
  sheet->insert(sheet->end(), {ctl_adr, tno, index, form, 0, static_cast<uint8_t>(frames / 4500),
                               static_cast<uint8_t>((frames / 75) % 60), static_cast<uint8_t>(frames % 75)});
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CdWriteTest : public ::testing::Test {
 protected:
  sorvel::testing::ScratchDir dir_;
};

// Track 1: Mode 1 data from an ISO; track 2: audio with a pregap, ISRC and
// copy permission; track 3: audio. MCN on the disc.
struct SaoDisc {
  Bytes iso;
  int32_t data_sectors = 0;
  int32_t track2_pregap = 0, track2 = 0, track3 = 0, leadout = 0;
  Bytes sheet;
  Bytes Sector(int32_t lba) const {
    uint8_t s[2352];
    if (lba < 0) {
      BuildMode1Sector(lba, nullptr, s);
    } else if (lba < data_sectors) {
      BuildMode1Sector(lba, iso.data() + static_cast<size_t>(lba) * 2048, s);
    } else {
      auto a = sorvel::testing::FixtureSector(true, lba);
      std::memcpy(s, a.data(), 2352);
    }
    return Bytes(s, s + 2352);
  }
};

SaoDisc MakeSaoDisc(const std::filesystem::path& dir) {
  SaoDisc d;
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + "\n";
  auto iso_path = sorvel::testing::MakeIsoImage(dir, "data", {{"readme.txt", text}});
  d.iso = ReadFile(iso_path);
  d.iso.resize(std::max<size_t>(d.iso.size(), 300 * 2048), 0);
  d.data_sectors = static_cast<int32_t>(d.iso.size() / 2048);
  d.track2_pregap = d.data_sectors;
  d.track2 = d.track2_pregap + 150;
  d.track3 = d.track2 + 400;
  d.leadout = d.track3 + 300;
  AddCue(&d.sheet, 0x41, 0, 0, 0x10, -150);
  d.sheet.insert(d.sheet.end(), {0x02, '4', '9', '0', '1', '2', '3', '4', 0x02, '5', '6', '7', '8', '9', '4', 0});
  AddCue(&d.sheet, 0x41, 1, 0, 0x10, -150);
  AddCue(&d.sheet, 0x41, 1, 1, 0x10, 0);
  d.sheet.insert(d.sheet.end(), {0x03, 2, 'J', 'P', 'A', 'B', 'C', '0', 0x03, 2, '5', '1', '2', '3', '4', '5'});
  AddCue(&d.sheet, 0x21, 2, 0, 0x00, d.track2_pregap);
  AddCue(&d.sheet, 0x21, 2, 1, 0x00, d.track2);
  AddCue(&d.sheet, 0x01, 3, 1, 0x00, d.track3);
  AddCue(&d.sheet, 0x01, 0xAA, 1, 0x00, d.leadout);
  return d;
}

void WriteSao(Host& host, const SaoDisc& d) {
  SelectWriteMode(host, 2, 0);
  Bytes cdb = {0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(d.sheet.size()), 0};
  ASSERT_EQ(host.Out(cdb, d.sheet).status, 0);
  // Not at -150: refused.
  EXPECT_EQ(host.Out(Cdb10(0x2A, 0, 1), Bytes(2352)).sense, 0x052102u);
  for (int32_t lba = -150; lba < d.leadout; lba += 32) {
    int32_t count = std::min(32, d.leadout - lba);
    Bytes data;
    for (int32_t i = 0; i < count; ++i) {
      Bytes s = d.Sector(lba + i);
      data.insert(data.end(), s.begin(), s.end());
    }
    if (lba == -150) {
      Bytes wrong(data.begin(), data.end() - 16);
      EXPECT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), static_cast<uint16_t>(count)), wrong).sense, 0x056400u);
    }
    ASSERT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), static_cast<uint16_t>(count)), data).status, 0) << lba;
  }
  ASSERT_EQ(host.Run({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
}

TEST_F(CdWriteTest, CueSheetValidation) {
  Host host((dir_ / "drive").string() + ",medium=cd-r");
  SelectWriteMode(host, 2, 0);
  auto send = [&](const Bytes& sheet) {
    Bytes cdb = {0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(sheet.size()), 0};
    return host.Out(cdb, sheet).sense;
  };
  auto base = [](int32_t index1, uint8_t leadout_tno = 0xAA) {
    Bytes s;
    AddCue(&s, 0x01, 0, 0, 0x00, -150);
    AddCue(&s, 0x01, 1, 0, 0x00, -150);
    AddCue(&s, 0x01, 1, 1, 0x00, index1);
    AddCue(&s, 0x01, leadout_tno, 1, 0x00, 1000);
    return s;
  };
  EXPECT_EQ(send(base(0)), 0u);
  EXPECT_EQ(send(base(-1)), 0x052600u);       // index 1 before 00:02:00
  EXPECT_EQ(send(base(0, 2)), 0x052600u);     // no lead-out
  Bytes odd = base(0);
  odd.pop_back();
  EXPECT_EQ(send(odd), 0x052600u);            // not whole entries
  Bytes backwards = base(0);
  AddCue(&backwards, 0x01, 0xAA, 1, 0x00, 900);
  EXPECT_EQ(send(backwards), 0x052600u);      // two lead-outs, time going back
  Bytes adr = base(0);
  adr[8] = 0x05;
  EXPECT_EQ(send(adr), 0x052600u);            // ADR 5 is no cue sheet entry
  Bytes leadin = base(0);
  leadin[1] = 1;
  EXPECT_EQ(send(leadin), 0x052600u);         // first entry is not the lead-in
  Bytes too_long = base(0);
  too_long[too_long.size() - 3] = 81;         // lead-out beyond the medium
  EXPECT_EQ(send(too_long), 0x052600u);
  Bytes form = base(0);
  form[8 + 3] = 0x80;
  EXPECT_EQ(send(form), 0x052600u);           // bad data form
}

TEST_F(CdWriteTest, SaoDiscExportedAndReadByIndependentTools) {
  SaoDisc disc = MakeSaoDisc(dir_.path());
  ASSERT_GT(disc.data_sectors, 0);
  Host host((dir_ / "drive").string() + ",medium=cd-r");
  WriteSao(host, disc);
  // What the drive now reports.
  Bytes toc = host.In(Cdb10(0x43, 0, 1028, 0, 1), 1028);
  EXPECT_EQ(toc[3], 3);
  EXPECT_EQ(toc[4 + 1], 0x14);
  EXPECT_EQ(toc[12 + 1], 0x12);
  EXPECT_EQ(Be32(toc, 12 + 4), static_cast<uint32_t>(disc.track2));
  EXPECT_EQ(Be32(toc, 28 + 4), static_cast<uint32_t>(disc.leadout));
  Bytes info = host.In(Cdb10(0x51, 0, 256), 256);
  EXPECT_EQ(info[2] & 3, 2);
  EXPECT_EQ(info[16], 0xFF);
  Bytes user = host.In(Cdb10(0x28, 16, 1), 2048);
  EXPECT_EQ(std::memcmp(user.data(), disc.iso.data() + 16 * 2048, 2048), 0);
  Bytes raw = host.In({0xBE, 0, 0, 0, static_cast<uint8_t>(disc.track2_pregap >> 8),
                       static_cast<uint8_t>(disc.track2_pregap), 0, 0, 1, 0xF8, 2, 0},
                      2368);
  EXPECT_EQ(raw[2352 + 1], 0x02);
  EXPECT_EQ(raw[2352 + 2], 0x00);
  EXPECT_EQ(raw[2352 + 15], 0x80);
  EXPECT_TRUE(QCrcValid(raw.data() + 2352));

  auto cue = dir_ / "out.cue";
  std::string error;
  ASSERT_TRUE(host.soft()->ExportCd(cue.string(), &error)) << error;
  std::string cue_text(reinterpret_cast<const char*>(ReadFile(cue).data()), ReadFile(cue).size());
  EXPECT_NE(cue_text.find("CATALOG 4901234567894"), std::string::npos);
  EXPECT_NE(cue_text.find("ISRC JPABC0512345"), std::string::npos);
  EXPECT_NE(cue_text.find("FLAGS DCP"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "out.sub"), static_cast<uintmax_t>(disc.leadout) * 96);

  ASSERT_TRUE(sorvel::testing::RequireTool("cdrdao"));
  std::string out;
  EXPECT_EQ(sorvel::testing::RunCommand("cd '" + dir_.path().string() + "' && cdrdao show-toc out.cue 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("TRACK  1  Mode MODE1_RAW"), std::string::npos) << out;
  EXPECT_NE(out.find("TRACK  3  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("ISRC JP ABC 05 12345"), std::string::npos) << out;
  EXPECT_NE(out.find("CATALOG NUMBER: 4901234567894"), std::string::npos) << out;
  EXPECT_NE(out.find("COPY PERMITTED"), std::string::npos) << out;
  EXPECT_NE(out.find("PREGAP 00:02:00(   150)"), std::string::npos) << out;
  char expected_start[64];
  std::snprintf(expected_start, sizeof expected_start, "START  %02d:%02d:%02d(%6d)", disc.track2 / 4500,
                (disc.track2 / 75) % 60, disc.track2 % 75, disc.track2);
  EXPECT_NE(out.find(expected_start), std::string::npos) << out;

  ASSERT_TRUE(sorvel::testing::RequireTool("cd-info"));
  out.clear();
  EXPECT_EQ(sorvel::testing::RunCommand("cd-info --no-cddb --no-device-info --cue-file '" + cue.string() + "' 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("CD-ROM Track List (1 - 3)"), std::string::npos) << out;
  char line[64];
  std::snprintf(line, sizeof line, "%06d audio", disc.track2);
  EXPECT_NE(out.find(line), std::string::npos) << out;
  EXPECT_NE(out.find("ISO 9660"), std::string::npos) << out;

  ASSERT_TRUE(sorvel::testing::RequireTool("bchunk"));
  out.clear();
  EXPECT_EQ(sorvel::testing::RunCommand("cd '" + dir_.path().string() + "' && bchunk -w out.bin out.cue part 2>&1", &out), 0) << out;
  Bytes iso_back = ReadFile(dir_ / "part01.iso");
  EXPECT_TRUE(iso_back == disc.iso) << iso_back.size() << " vs " << disc.iso.size();
  Bytes wav = ReadFile(dir_ / "part03.wav");
  ASSERT_EQ(wav.size(), 44u + 300 * 2352);
  for (int32_t i = 0; i < 300; i += 37) {
    auto s = sorvel::testing::FixtureSector(true, disc.track3 + i);
    EXPECT_EQ(std::memcmp(wav.data() + 44 + static_cast<size_t>(i) * 2352, s.data(), 2352), 0) << i;
  }
}

// A raw pass switched to session-at-once midway has no cue sheet to write
// against: the write is a sequence error, never a read of a missing layout.
TEST_F(CdWriteTest, SessionAtOnceWriteAfterARawStartIsASequenceError) {
  Host host((dir_ / "drive").string() + ",medium=cd-r");
  SelectWriteMode(host, 3, 3);
  host.Out(Cdb10(0x2A, 0, 1), Bytes(2448));
  SelectWriteMode(host, 2, 0);
  EXPECT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(-150), 1), Bytes(2352)).sense, 0x052C00u);
}

TEST_F(CdWriteTest, BlankMakesCdRwWritableAgain) {
  SaoDisc disc = MakeSaoDisc(dir_.path());
  Host host((dir_ / "drive").string() + ",medium=cd-rw");
  WriteSao(host, disc);
  EXPECT_EQ(host.Out(Cdb10(0x2A, 0xFFFFFF6A, 1), Bytes(2352)).sense, 0x052102u);  // complete
  ASSERT_EQ(host.Run({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  Bytes info = host.In(Cdb10(0x51, 0, 256), 256);
  EXPECT_EQ(info[2] & 3, 0);
  EXPECT_EQ(host.Run(Cdb10(0x43, 0, 1028, 0, 1), Bytes(1028).data(), 1028).sense, 0x052400u);
  WriteSao(host, disc);
  Bytes toc = host.In(Cdb10(0x43, 0, 1028, 0, 1), 1028);
  EXPECT_EQ(toc[3], 3);
}

// A session-at-once pass the host leaves halfway, in this process with a
// SYNCHRONIZE CACHE or by ending without one: the disc the drive holds
// afterwards has an incomplete session, no TOC, and is not blank. What the
// pass wrote reads as a medium error, the first sector it never wrote as
// blank. No new pass starts on it; a CD-RW takes one once blanked.
struct CutPassCase {
  const char* medium;
  bool synchronized;
};

class CutPassTest : public CdWriteTest, public ::testing::WithParamInterface<CutPassCase> {};

INSTANTIATE_TEST_SUITE_P(Media, CutPassTest,
                         ::testing::Values(CutPassCase{"cd-r", false}, CutPassCase{"cd-rw", false},
                                           CutPassCase{"cd-r", true}, CutPassCase{"cd-rw", true}),
                         [](const auto& info) {
                           return std::string(std::string(info.param.medium) == "cd-r" ? "CdR" : "CdRw") +
                                  (info.param.synchronized ? "Synchronized" : "Left");
                         });

TEST_P(CutPassTest, LeavesADiscThatIsNeitherBlankNorWhole) {
  const bool rewritable = std::string(GetParam().medium) == "cd-rw";
  constexpr int32_t kWrittenEnd = 160;  // the pass stops here, halfway to its lead-out
  SaoDisc disc = MakeSaoDisc(dir_.path());
  const std::string entry = (dir_ / "drive").string() + ",medium=" + GetParam().medium;
  {
    Host host(entry);
    SelectWriteMode(host, 2, 0);
    Bytes cdb = {0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(disc.sheet.size()), 0};
    ASSERT_EQ(host.Out(cdb, disc.sheet).status, 0);
    for (int32_t lba = -150; lba < kWrittenEnd; lba += 31) {
      const int32_t count = std::min(31, kWrittenEnd - lba);
      Bytes data;
      for (int32_t i = 0; i < count; ++i) {
        Bytes s = disc.Sector(lba + i);
        data.insert(data.end(), s.begin(), s.end());
      }
      ASSERT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), static_cast<uint16_t>(count)), data).status, 0);
    }
    if (GetParam().synchronized) {
      EXPECT_EQ(host.Run({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
      EXPECT_EQ(host.Run({0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}).status, 0);
    }
  }
  Host host(entry);
  Bytes info = host.In(Cdb10(0x51, 0, 256), 256);
  EXPECT_EQ(info[2] & 0x0F, 0x05);  // an incomplete session on an incomplete disc
  Bytes toc(1028);
  EXPECT_EQ(host.Run(Cdb10(0x43, 0, 1028, 0, 1), toc.data(), toc.size()).sense, 0x052400u);
  Bytes sector(2352);
  EXPECT_EQ(host.Run({0xBE, 0, 0, 0, 0, 100, 0, 0, 1, 0xF8, 0, 0}, sector.data(), sector.size()).sense, 0x031100u);
  EXPECT_EQ(host.Run({0xBE, 0, 0, 0, 0, kWrittenEnd, 0, 0, 1, 0xF8, 0, 0}, sector.data(), sector.size()).sense,
            0x080000u);
  Bytes user(2048);
  EXPECT_EQ(host.Run(Cdb10(0x28, kWrittenEnd, 1), user.data(), user.size()).sense, 0x080000u);
  SelectWriteMode(host, 2, 0);
  Bytes cdb = {0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(disc.sheet.size()), 0};
  EXPECT_EQ(host.Out(cdb, disc.sheet).sense, 0x052C00u);
  SelectWriteMode(host, 3, 3);
  EXPECT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(kFirstLeadInStart), 1), Bytes(2448)).sense, 0x052C00u);
  EXPECT_EQ(host.Run({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense, rewritable ? 0u : 0x053005u);
  if (!rewritable) return;
  EXPECT_EQ(host.In(Cdb10(0x51, 0, 256), 256)[2] & 3, 0);
  WriteSao(host, disc);
  EXPECT_EQ(host.In(Cdb10(0x43, 0, 1028, 0, 1), 1028)[3], 3);
}

// The raw write: lead-in, program area and lead-out built here from the Red
// Book layout (not through the drive's own generator).
struct RawTrack {
  int number;
  uint8_t control;
  int32_t pregap, start, end;
};

void BcdMsf(uint8_t* out, int32_t frames) {
  out[0] = ToBcd(frames / 4500);
  out[1] = ToBcd((frames / 75) % 60);
  out[2] = ToBcd(frames % 75);
}

Bytes RawSub(const uint8_t* q12, bool p, const uint8_t* rw_symbols) {
  uint8_t separate[96] = {};
  if (p) std::memset(separate, 0xFF, 12);
  std::memcpy(separate + 12, q12, 12);
  uint8_t interleaved[96];
  InterleaveSubchannel(separate, interleaved);
  if (rw_symbols) {
    for (int i = 0; i < 96; ++i) interleaved[i] = static_cast<uint8_t>((interleaved[i] & 0xC0) | rw_symbols[i]);
  }
  return Bytes(interleaved, interleaved + 96);
}

Bytes PqSub(const uint8_t* q12, bool p) {
  Bytes out(q12, q12 + 12);
  out.insert(out.end(), {0, 0, 0, static_cast<uint8_t>(p ? 0x80 : 0)});
  return out;
}

// A raw pass of two tracks, the second a data track after a pregap of
// `pregap` sectors; `cut`: the pass stops there, before its lead-out.
struct RawCase {
  uint8_t block_type;
  int32_t pregap;
  int32_t cut;
};

class RawWriteTest : public CdWriteTest, public ::testing::WithParamInterface<RawCase> {};

INSTANTIATE_TEST_SUITE_P(Passes, RawWriteTest,
                         ::testing::Values(RawCase{1, 150, 0}, RawCase{3, 150, 0}, RawCase{3, 4600, 0},
                                           RawCase{1, 150, 400}),
                         [](const auto& info) {
                           return "Type" + std::to_string(info.param.block_type) + "Pregap" +
                                  std::to_string(info.param.pregap) +
                                  (info.param.cut ? "CutAt" + std::to_string(info.param.cut) : std::string());
                         });

TEST_P(RawWriteTest, DecodesTocAndCdTextFromTheLeadIn) {
  const uint8_t block_type = GetParam().block_type;
  const bool pq16 = block_type == 1;
  const size_t sector_size = pq16 ? 2368 : 2448;
  Host host((dir_ / "drive").string() + ",medium=cd-r");
  SelectWriteMode(host, 3, block_type);
  Bytes info = host.In(Cdb10(0x51, 0, 256), 256);
  int32_t leadin = MsfToLba(info[17], info[18], info[19]);
  ASSERT_EQ(leadin, -11634);
  const int32_t track2 = 300 + GetParam().pregap;
  std::vector<RawTrack> tracks = {{1, 0x0, -150, 0, 300}, {2, 0x4, 300, track2, track2 + 300}};
  const int32_t leadout = track2 + 300;
  const int32_t written_end = GetParam().cut ? GetParam().cut : leadout + 150;
  auto packs = sorvel::testing::MakeTitlePacks({"Raw Disc", "Song", "Data"});
  // Lead-in pointers: 01, 02, A0, A1, A2, each three times.
  std::vector<std::array<uint8_t, 12>> pointers;
  for (const auto& t : tracks) {
    std::array<uint8_t, 12> q{};
    q[0] = static_cast<uint8_t>((t.control << 4) | 1);
    q[2] = ToBcd(t.number);
    BcdMsf(&q[7], t.start + 150);
    pointers.push_back(q);
  }
  std::array<uint8_t, 12> a0{}, a1{}, a2{};
  a0[0] = 0x01; a0[2] = 0xA0; a0[7] = 0x01; a0[8] = 0x00;
  a1[0] = 0x41; a1[2] = 0xA1; a1[7] = 0x02;
  a2[0] = 0x41; a2[2] = 0xA2; BcdMsf(&a2[7], leadout + 150);
  pointers.insert(pointers.end(), {a0, a1, a2});
  auto write_run = [&](int32_t first, const std::vector<Bytes>& sectors) {
    for (size_t i = 0; i < sectors.size(); i += 27) {
      size_t n = std::min<size_t>(27, sectors.size() - i);
      Bytes data;
      for (size_t k = 0; k < n; ++k) data.insert(data.end(), sectors[i + k].begin(), sectors[i + k].end());
      int32_t lba = first + static_cast<int32_t>(i);
      ASSERT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), static_cast<uint16_t>(n)), data).status, 0) << lba;
    }
  };
  // Not at the lead-in start: refused.
  EXPECT_EQ(host.Out(Cdb10(0x2A, 0xFFFFFF6A, 1), Bytes(sector_size)).sense, 0x052102u);
  std::vector<Bytes> sectors;
  for (int32_t lba = leadin; lba < -150; ++lba) {
    int32_t i = lba - leadin;
    uint8_t q[12];
    std::memcpy(q, pointers[static_cast<size_t>(i / 3) % pointers.size()].data(), 12);
    BcdMsf(q + 3, i);
    SetQCrc(q);
    uint8_t pack_bytes[72], symbols[96];
    for (int k = 0; k < 4; ++k) std::memcpy(pack_bytes + 18 * k, packs[(static_cast<size_t>(i) * 4 + k) % packs.size()].data(), 18);
    PacksToRwSymbols(pack_bytes, symbols);
    Bytes s(2352, 0);
    Bytes sub = pq16 ? PqSub(q, false) : RawSub(q, false, symbols);
    s.insert(s.end(), sub.begin(), sub.end());
    sectors.push_back(std::move(s));
  }
  write_run(leadin, sectors);
  sectors.clear();
  std::map<int32_t, Bytes> logical;
  for (int32_t lba = -150; lba < written_end; ++lba) {
    uint8_t q[12] = {};
    bool p = false;
    Bytes main(2352, 0);
    if (lba >= leadout) {
      q[0] = 0x41;
      q[1] = 0xAA;
      q[2] = 0x01;
      BcdMsf(q + 3, lba - leadout);
    } else {
      const RawTrack& t = lba < tracks[1].pregap ? tracks[0] : tracks[1];
      q[0] = static_cast<uint8_t>((t.control << 4) | 1);
      q[1] = ToBcd(t.number);
      q[2] = lba < t.start ? 0 : 1;
      p = lba < t.start;
      BcdMsf(q + 3, lba < t.start ? t.start - lba : lba - t.start);
      if (t.control & 0x4) {
        uint8_t user[2048];
        for (int k = 0; k < 2048; ++k) user[k] = static_cast<uint8_t>(lba * 5 + k);
        BuildMode1Sector(lba, user, main.data());
        logical[lba] = main;
        ScrambleSector(main.data());
      } else if (lba >= 0) {
        auto a = sorvel::testing::FixtureSector(true, lba);
        main.assign(a.begin(), a.end());
        logical[lba] = main;
      }
    }
    BcdMsf(q + 7, lba + 150);
    SetQCrc(q);
    Bytes sub = pq16 ? PqSub(q, p) : RawSub(q, p, nullptr);
    main.insert(main.end(), sub.begin(), sub.end());
    sectors.push_back(std::move(main));
  }
  write_run(-150, sectors);
  ASSERT_EQ(host.Run({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  if (GetParam().cut) {
    // No session closed: no TOC, no sector of the pass readable, no new pass.
    EXPECT_EQ(host.In(Cdb10(0x51, 0, 256), 256)[2] & 0x0F, 0x05);
    Bytes none(1028);
    EXPECT_EQ(host.Run(Cdb10(0x43, 0, 1028, 0, 1), none.data(), none.size()).sense, 0x052400u);
    Bytes sector(2352);
    const uint32_t first_unwritten = static_cast<uint32_t>(written_end);
    EXPECT_EQ(host.Run({0xBE, 0, 0, 0, 0, 10, 0, 0, 1, 0xF8, 0, 0}, sector.data(), sector.size()).sense, 0x031100u);
    EXPECT_EQ(host.Run({0xBE, 0, 0, 0, static_cast<uint8_t>(first_unwritten >> 8), static_cast<uint8_t>(first_unwritten),
                        0, 0, 1, 0xF8, 0, 0},
                       sector.data(), sector.size())
                  .sense,
              0x080000u);
    EXPECT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(leadin), 1), Bytes(sector_size)).sense, 0x052C00u);
    return;
  }
  // Every pregap is recorded as long as the pass wrote it.
  const MediaState media = host.soft()->media();
  const CdTrack* second = media.layout.Track(2);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->pregap_start, 300);
  EXPECT_EQ(second->start, track2);

  Bytes toc = host.In(Cdb10(0x43, 0, 1028, 0, 1), 1028);
  EXPECT_EQ(toc[2], 1);
  EXPECT_EQ(toc[3], 2);
  EXPECT_EQ(toc[4 + 1], 0x10);
  EXPECT_EQ(toc[12 + 1], 0x14);
  EXPECT_EQ(Be32(toc, 12 + 4), static_cast<uint32_t>(track2));
  EXPECT_EQ(Be32(toc, 20 + 4), static_cast<uint32_t>(leadout));
  if (pq16) {
    // Without R-W there is no CD-Text.
    Bytes none(9216);
    EXPECT_EQ(host.Run({0x43, 0, 5, 0, 0, 0, 0, 0x24, 0x00, 0}, none.data(), none.size()).sense, 0x052400u);
  } else {
    Bytes text = host.In({0x43, 0, 5, 0, 0, 0, 0, 0x24, 0x00, 0}, 9216);
    ASSERT_EQ(((text[0] << 8) | text[1]), static_cast<int>(2 + 18 * packs.size()));
    for (size_t i = 0; i < packs.size(); ++i) EXPECT_EQ(std::memcmp(text.data() + 4 + 18 * i, packs[i].data(), 18), 0);
  }
  Bytes full = host.In({0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0}, 1412);
  bool a2_ok = false;
  for (size_t i = 4; i + 11 <= 4u + ((full[0] << 8) | full[1]) - 2; i += 11) {
    if (full[i + 3] == 0xA2) a2_ok = MsfToLba(full[i + 8], full[i + 9], full[i + 10]) == leadout;
  }
  EXPECT_TRUE(a2_ok);
  // Data sectors were stored descrambled; the pregap's Q is what was written.
  const uint32_t in_track2 = static_cast<uint32_t>(track2 + 50);
  Bytes sector = host.In({0xBE, 0, 0, 0, static_cast<uint8_t>(in_track2 >> 8), static_cast<uint8_t>(in_track2), 0, 0, 1,
                          0xF8, 2, 0},
                         2368);
  EXPECT_EQ(std::memcmp(sector.data(), logical[static_cast<int32_t>(in_track2)].data(), 2352), 0);
  Bytes pregap = host.In({0xBE, 0, 0, 0, 0x01, 0x90, 0, 0, 1, 0xF8, 2, 0}, 2368);  // LBA 400
  EXPECT_EQ(pregap[2352 + 1], 0x02);
  EXPECT_EQ(pregap[2352 + 2], 0x00);
  Bytes track_info = host.In(Cdb10(0x52, 2, 48, 1), 48);
  EXPECT_EQ(Be32(track_info, 8), static_cast<uint32_t>(track2));
  EXPECT_EQ(track_info[6] & 0x0F, 1);
}

TEST_F(CdWriteTest, WrittenDiscSurvivesIntoAnotherProcess) {
  std::string path = (dir_ / "shared").string();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child writes a DVD+R and ends; any failure becomes its exit code.
    std::string error;
    auto device = OpenEmulatedDevice(path + ",medium=dvd+r", &error);
    if (!device) _exit(2);
    Bytes data(8 * 2048);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
    Bytes cdb = Cdb10(0x2A, 0, 8);
    ScsiRequest r;
    r.cdb = cdb.data();
    r.cdb_length = cdb.size();
    r.data = data.data();
    r.data_length = data.size();
    r.write = true;
    if (device->Execute(r).status != 0) _exit(3);
    Bytes sync = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ScsiRequest s;
    s.cdb = sync.data();
    s.cdb_length = sync.size();
    if (device->Execute(s).status != 0) _exit(4);
    device.reset();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  Host host(path + ",medium=cd-r");  // settings no longer apply: the state file is the disc
  Bytes config = host.In({0x46, 1, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
  EXPECT_EQ(config[7], 0x1B);
  Bytes back = host.In(Cdb10(0x28, 0, 8), 8 * 2048);
  for (size_t i = 0; i < back.size(); i += 997) EXPECT_EQ(back[i], static_cast<uint8_t>(i * 31));
  Bytes track = host.In(Cdb10(0x52, 1, 48, 0), 48);
  EXPECT_EQ(Be32(track, 12), 8u);  // next writable address
}

TEST_F(CdWriteTest, SaoDiscSurvivesReopening) {
  SaoDisc disc = MakeSaoDisc(dir_.path());
  std::string entry = (dir_ / "drive").string() + ",medium=cd-r";
  {
    Host host(entry);
    WriteSao(host, disc);
    host.Run({0x1E, 0, 0, 0, 1, 0});
  }
  Host host(entry);
  Bytes toc = host.In(Cdb10(0x43, 0, 1028, 0, 1), 1028);
  EXPECT_EQ(toc[3], 3);
  EXPECT_EQ(host.Run({0x1B, 0, 0, 0, 2, 0}).sense, 0x055302u);  // still locked
  Bytes sector = host.In({0xBE, 0, 0, 0, 0, 20, 0, 0, 1, 0xF8, 0, 0}, 2352);
  EXPECT_EQ(sector, disc.Sector(20));
}

TEST_F(CdWriteTest, MultiSessionSaoWithCdTextInTheLeadIn) {
  Host host((dir_ / "drive").string() + ",medium=cd-r");
  // Session 1: one audio track, CD-Text in the lead-in, the disc left open.
  Bytes page(8 + 0x38, 0);
  page[8] = 0x05;
  page[9] = 0x36;
  page[10] = 0x02;
  page[11] = 0xC0;  // next session allowed
  Bytes cdb = {0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(page.size()), 0};
  ASSERT_EQ(host.Out(cdb, page).status, 0);
  Bytes sheet;
  AddCue(&sheet, 0x01, 0, 0, 0x41, -150);  // lead-in with raw P-W from the host
  AddCue(&sheet, 0x01, 1, 0, 0x00, -150);
  AddCue(&sheet, 0x01, 1, 1, 0x00, 0);
  AddCue(&sheet, 0x01, 0xAA, 1, 0x00, 300);
  ASSERT_EQ(host.Out({0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(sheet.size()), 0}, sheet).status, 0);
  auto packs = sorvel::testing::MakeTitlePacks({"Two Sessions", "Opening"});
  int32_t leadin = -11634;
  for (int32_t lba = leadin; lba < -150; lba += 50) {
    int32_t n = std::min(50, -150 - lba);
    Bytes data;
    for (int32_t i = 0; i < n; ++i) {
      int32_t frame = lba + i - leadin;
      uint8_t bytes[72], symbols[96], q[12] = {};
      for (int k = 0; k < 4; ++k) std::memcpy(bytes + 18 * k, packs[(static_cast<size_t>(frame) * 4 + k) % packs.size()].data(), 18);
      PacksToRwSymbols(bytes, symbols);
      Bytes sector(2352, 0);
      Bytes sub = RawSub(q, false, symbols);
      sector.insert(sector.end(), sub.begin(), sub.end());
      data.insert(data.end(), sector.begin(), sector.end());
    }
    ASSERT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), static_cast<uint16_t>(n)), data).status, 0) << lba;
  }
  for (int32_t lba = -150; lba < 300; lba += 50) {
    Bytes data;
    for (int32_t i = 0; i < 50; ++i) {
      auto s = sorvel::testing::FixtureSector(true, lba + i);
      data.insert(data.end(), s.begin(), s.end());
    }
    ASSERT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), 50), data).status, 0) << lba;
  }
  ASSERT_EQ(host.Run({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  Bytes info = host.In(Cdb10(0x51, 0, 256), 256);
  EXPECT_EQ(info[2] & 3, 1);
  EXPECT_EQ(info[4], 2);
  EXPECT_EQ(info[5], 2);
  int32_t next_leadin = MsfToLba(info[17], info[18], info[19]);
  EXPECT_EQ(next_leadin, 300 + 6750);
  // Session 2 starts after the lead-out, the next lead-in and a pregap.
  int32_t start2 = 300 + 6750 + 4500 + 150;
  Bytes ti = host.In(Cdb10(0x52, 0xFF, 48, 1), 48);
  EXPECT_EQ(Be32(ti, 8), static_cast<uint32_t>(start2));
  page[11] = 0x00;
  ASSERT_EQ(host.Out(cdb, page).status, 0);
  sheet.clear();
  AddCue(&sheet, 0x41, 0, 0, 0x10, start2 - 150);
  AddCue(&sheet, 0x41, 2, 0, 0x10, start2 - 150);
  AddCue(&sheet, 0x41, 2, 1, 0x10, start2);
  AddCue(&sheet, 0x41, 0xAA, 1, 0x10, start2 + 300);
  ASSERT_EQ(host.Out({0x5D, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(sheet.size()), 0}, sheet).status, 0);
  for (int32_t lba = start2 - 150; lba < start2 + 300; lba += 50) {
    Bytes data;
    for (int32_t i = 0; i < 50; ++i) {
      auto s = sorvel::testing::FixtureSector(false, lba + i);
      data.insert(data.end(), s.begin(), s.end());
    }
    ASSERT_EQ(host.Out(Cdb10(0x2A, static_cast<uint32_t>(lba), 50), data).status, 0) << lba;
  }
  ASSERT_EQ(host.Run({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).status, 0);
  info = host.In(Cdb10(0x51, 0, 256), 256);
  EXPECT_EQ(info[2] & 3, 2);
  Bytes session_info = host.In({0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0}, 12);
  EXPECT_EQ(session_info[3], 2);
  EXPECT_EQ(session_info[6], 2);
  EXPECT_EQ(Be32(session_info, 8), static_cast<uint32_t>(start2));
  Bytes raw = host.In({0x43, 0, 2, 0, 0, 0, 1, 0x05, 0x84, 0}, 1412);
  std::map<uint8_t, int> count;
  bool b0_ok = false;
  for (size_t i = 4; i + 11 <= 2u + ((raw[0] << 8) | raw[1]); i += 11) {
    ++count[raw[i + 3]];
    if (raw[i + 3] == 0xB0 && raw[i] == 1) b0_ok = MsfToLba(raw[i + 4], raw[i + 5], raw[i + 6]) == start2 - 150;
  }
  EXPECT_EQ(count[0xA0], 2);
  EXPECT_EQ(count[0xC0], 1);
  EXPECT_TRUE(b0_ok);
  Bytes text = host.In({0x43, 0, 5, 0, 0, 0, 0, 0x24, 0x00, 0}, 9216);
  EXPECT_EQ(((text[0] << 8) | text[1]), static_cast<int>(2 + 18 * packs.size()));
  Bytes data = host.In(Cdb10(0x28, static_cast<uint32_t>(start2 + 10), 1), 2048);
  auto expected = sorvel::testing::FixtureSector(false, start2 + 10);
  EXPECT_EQ(std::memcmp(data.data(), expected.data() + 16, 2048), 0);
}

}  // namespace
}  // namespace sorvel::platform::emu
