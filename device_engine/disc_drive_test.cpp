// Read passes of DiscDrive against the emulated drive, with discs loaded from
// CUE/BIN and CCD/IMG/SUB images written here. Every sector the engine hands
// out is compared with what the image holds (main channel from the image
// files, subchannel from the drive's own Q/P generator or the .sub file), and
// the TOC, MCN, ISRC and CD-Text with the image's.
#include "device_engine/disc_drive.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "native_common/ecc_encoder.h"
#include "native_common/msf_time.h"
#include "native_common/spti_pass_through.h"
#include "platform/emulated_device.h"
#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/disc_layout.h"
#include "platform/emulated_drive/drive_hooks.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
namespace emu = platform::emu;

constexpr uint8_t kReadCdOpcode = 0xBE;
constexpr uint8_t kReadCdMsfOpcode = 0xB9;
constexpr uint8_t kRead10Opcode = 0x28;

// ---------------------------------------------------------------------------
// Image fixtures

struct ImageTrack {
  int mode = 0;      // 0 audio, 1 Mode 1
  int index0 = 0;    // frames of INDEX 00 held in the BIN before INDEX 01
  int pregap = 0;    // frames of a PREGAP the drive generates (not in the BIN)
  int length = 120;  // frames from INDEX 01 on
  int session = 1;
  std::string isrc;  // 12 characters or empty
};

ImageTrack Audio(int length, int index0 = 0, int pregap = 0, std::string isrc = {}, int session = 1) {
  ImageTrack t;
  t.length = length;
  t.index0 = index0;
  t.pregap = pregap;
  t.isrc = std::move(isrc);
  t.session = session;
  return t;
}

ImageTrack Mode1(int length, int session = 1, int pregap = 0) {
  ImageTrack t;
  t.mode = 1;
  t.length = length;
  t.session = session;
  t.pregap = pregap;
  return t;
}

struct ImageSpec {
  std::vector<ImageTrack> tracks;
  std::string catalog;
  std::vector<emu::CdTextPack> cdtext;
};

// Deterministic content of file frame `frame`, different for every frame and
// never a sync pattern at its start for audio.
void FillAudio(uint8_t* sector, int frame) {
  for (size_t i = 0; i < kCdMainSize; ++i) sector[i] = static_cast<uint8_t>(frame * 31 + i * 7 + 0x5B + (i >> 8));
}

void FillMode1(uint8_t* sector, int frame, int32_t lba) {
  std::memset(sector, 0, kCdMainSize);
  for (size_t i = 0; i < kUserDataSize; ++i) sector[16 + i] = static_cast<uint8_t>(frame * 17 + i * 3 + (i >> 7));
  EccEncoder().EncodeMode1(sector, lba);
}

std::string CueTime(int frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 4500, frames / 75 % 60, frames % 75);
  return text;
}

void WriteFile(const fs::path& path, const void* data, size_t length) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
  ASSERT_TRUE(out.good()) << path;
}

// An ISO of `sectors` user-data sectors, each different; returns its bytes.
std::vector<uint8_t> WriteDvdImage(const fs::path& path, int32_t sectors) {
  std::vector<uint8_t> iso(static_cast<size_t>(sectors) * kUserDataSize);
  for (size_t i = 0; i < iso.size(); ++i) iso[i] = static_cast<uint8_t>(i * 13 + (i >> 11));
  WriteFile(path, iso.data(), iso.size());
  return iso;
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes "<name>.cue", "<name>.bin" and, with packs, "<name>.cdt". The Mode 1
// headers carry the LBA where the drive places the sector (sessions after the
// first start behind a lead-out of 6,750 sectors, a lead-in of 4,500 and a
// pregap of 150).
fs::path WriteCueImage(const fs::path& dir, const std::string& name, const ImageSpec& spec) {
  std::string cue;
  if (!spec.catalog.empty()) cue += "CATALOG " + spec.catalog + "\r\n";
  if (!spec.cdtext.empty()) {
    std::vector<uint8_t> packs;
    for (const auto& p : spec.cdtext) packs.insert(packs.end(), p.begin(), p.end());
    WriteFile(dir / (name + ".cdt"), packs.data(), packs.size());
    cue += "CDTEXTFILE \"" + name + ".cdt\"\r\n";
  }
  cue += "FILE \"" + name + ".bin\" BINARY\r\n";
  std::vector<uint8_t> bin;
  int frame = 0;
  int32_t lba = 0;
  int session = 1;
  for (size_t t = 0; t < spec.tracks.size(); ++t) {
    const ImageTrack& track = spec.tracks[t];
    if (track.session != session) {
      session = track.session;
      lba += 6750 + 4500 + (track.index0 == 0 && track.pregap == 0 ? 150 : 0);
      cue += "REM SESSION " + std::to_string(session) + "\r\n";
    }
    char line[64];
    std::snprintf(line, sizeof line, "  TRACK %02zu %s\r\n", t + 1, track.mode == 0 ? "AUDIO" : "MODE1/2352");
    cue += line;
    if (!track.isrc.empty()) cue += "    ISRC " + track.isrc + "\r\n";
    if (track.pregap > 0) cue += "    PREGAP " + CueTime(track.pregap) + "\r\n";
    if (track.index0 > 0) cue += "    INDEX 00 " + CueTime(frame) + "\r\n";
    cue += "    INDEX 01 " + CueTime(frame + track.index0) + "\r\n";
    lba += track.pregap;
    for (int i = 0; i < track.index0 + track.length; ++i, ++frame, ++lba) {
      uint8_t sector[kCdMainSize];
      if (track.mode == 0) {
        FillAudio(sector, frame);
      } else {
        FillMode1(sector, frame, lba);
      }
      bin.insert(bin.end(), sector, sector + kCdMainSize);
    }
  }
  WriteFile(dir / (name + ".bin"), bin.data(), bin.size());
  WriteFile(dir / (name + ".cue"), cue.data(), cue.size());
  return dir / (name + ".cue");
}

// CD-Text title packs (type 0x80, block 0) of the disc and each track.
std::vector<emu::CdTextPack> TitlePacks(const std::vector<std::string>& titles) {
  std::string text;
  for (const auto& t : titles) text += t + std::string(1, '\0');
  std::vector<emu::CdTextPack> packs;
  int track = 0;
  size_t consumed = 0;
  for (size_t pos = 0; pos < text.size(); pos += 12) {
    emu::CdTextPack p{};
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>(track);
    p[2] = static_cast<uint8_t>(packs.size());
    p[3] = static_cast<uint8_t>(std::min<size_t>(pos - consumed, 15));
    for (size_t i = 0; i < 12; ++i) p[4 + i] = pos + i < text.size() ? static_cast<uint8_t>(text[pos + i]) : 0;
    for (size_t i = 0; i < 12 && pos + i < text.size(); ++i) {
      if (text[pos + i] == '\0' && pos + i + 1 < text.size()) {
        ++track;
        consumed = pos + i + 1;
      }
    }
    uint16_t crc = emu::Crc16Inverted(p.data(), 16);
    p[16] = static_cast<uint8_t>(crc >> 8);
    p[17] = static_cast<uint8_t>(crc);
    packs.push_back(p);
  }
  return packs;
}

// ---------------------------------------------------------------------------
// The engine on an emulated drive

class TestDrive : public DiscDrive {
 public:
  using DiscDrive::writing_;
};

class EmulatedRig {
 public:
  // Loads `image` as a pressed disc of `medium` and opens the engine on it.
  // `more`: further drive settings, e.g. ",atapi=sff8020".
  bool Open(const std::string& medium, const fs::path& image, const emu::DriveFaults& faults = {},
            const std::string& more = "") {
    std::string settings = "medium=" + medium;
    if (!image.empty()) settings += ",image=" + image.string();
    settings += more;
    fixture_ = std::make_unique<testing::EmulatedDriveFixture>(dir_, settings);
    fixture_->hooks().SetFaults(faults);
    pass_ = std::make_unique<SptiPassThrough>([spec = fixture_->spec()](char, std::string* error) {
      return platform::OpenEmulatedDevice(spec, error);
    });
    drive_.SetPassThrough(pass_.get());
    return drive_.Open("\\\\.\\D:");
  }
  ~EmulatedRig() { drive_.SetPassThrough(nullptr); }

  TestDrive& drive() { return drive_; }
  const fs::path& dir() const { return dir_.path(); }
  emu::SoftMmcDrive* soft() { return fixture_->drive(); }
  emu::DriveHooks& hooks() { return fixture_->hooks(); }
  emu::CdLayout layout() { return soft()->media().layout; }

  // The drive's own sector: main channel (the image's bytes or the generated
  // pregap) and subchannel of `lba` (channel-separated).
  bool Reference(int32_t lba, uint8_t* main, uint8_t* sub) {
    std::string error;
    return soft()->ReadCdSector(lba, main, sub, &error);
  }

  // Opcodes and transfer lengths of the READ commands logged since ClearLog.
  std::vector<std::pair<int32_t, int32_t>> ReadCommands() {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const auto& c : hooks().log()) {
      if (c.opcode() == kReadCdOpcode) {
        out.emplace_back(static_cast<int32_t>(c.cdb[2] << 24 | c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5]),
                         c.cdb[6] << 16 | c.cdb[7] << 8 | c.cdb[8]);
      } else if (c.opcode() == kRead10Opcode) {
        out.emplace_back(static_cast<int32_t>(c.cdb[2] << 24 | c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5]),
                         c.cdb[7] << 8 | c.cdb[8]);
      } else if (c.opcode() == kReadCdMsfOpcode) {
        int32_t from = MsfToLba(c.cdb[3], c.cdb[4], c.cdb[5]);
        out.emplace_back(from, MsfToLba(c.cdb[6], c.cdb[7], c.cdb[8]) - from);
      }
    }
    return out;
  }

 private:
  testing::ScratchDir dir_;
  std::unique_ptr<testing::EmulatedDriveFixture> fixture_;
  std::unique_ptr<SptiPassThrough> pass_;
  TestDrive drive_;
};

// The TOC entries a read pass gives for `layout` under `flags`: an index-0
// entry for a pregap found by the search (tracks after the first, in the same
// session unless the first pregaps are searched too), then the track.
std::vector<TOCTrack> ExpectedToc(const emu::CdLayout& layout, int32_t flags) {
  const bool search = (flags & CDD_NOPREGAP) == 0;
  const bool first_pregaps = (flags & CDD_FIRSTPREGAP) != 0;
  std::vector<TOCTrack> out;
  for (size_t i = 0; i < layout.tracks.size(); ++i) {
    const emu::CdTrack& t = layout.tracks[i];
    if ((flags & CDD_FIRSTSESSIONONLY) != 0 && t.session > 1) break;
    const auto mode = static_cast<uint8_t>(t.mode);
    if (i > 0 && search && (t.session == layout.tracks[i - 1].session || first_pregaps) && t.pregap_start < t.start) {
      out.push_back({static_cast<uint8_t>(t.session), static_cast<uint8_t>(t.number), 0, t.control, mode,
                     t.pregap_start, t.start - 1});
    }
    out.push_back({static_cast<uint8_t>(t.session), static_cast<uint8_t>(t.number), 1, t.control, mode, t.start,
                   t.end - 1});
  }
  // An entry runs up to the next entry of its session, the last one to the lead-out.
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i + 1].SessionNo == out[i].SessionNo) out[i].EndLBA = out[i + 1].StartLBA - 1;
  }
  return out;
}

std::vector<TOCTrack> TocEntries(const TocStructure& toc) {
  std::vector<TOCTrack> out;
  for (int i = 0; i < toc.Count(TST_TOC); ++i) out.push_back(toc.Track(i));
  return out;
}

std::string Describe(const std::vector<TOCTrack>& entries) {
  std::string s;
  for (const auto& e : entries) {
    char line[96];
    std::snprintf(line, sizeof line, "[s%d t%d i%d f%X m%d %d..%d] ", e.SessionNo, e.TrackNo, e.IndexNo, e.Flags,
                  e.SectorMode, e.StartLBA, e.EndLBA);
    s += line;
  }
  return s;
}

int PBits(const uint8_t* p) {
  int bits = 0;
  for (int i = 0; i < 12; ++i) bits += std::popcount(p[i]);
  return bits;
}

// What a read command puts in the caller's subchannel area for a drive
// subchannel `sub`: P to W as they are, or for the formatted Q form P all set
// or clear (by the drive's P bit) and R to W clear.
std::array<uint8_t, 96> SubchannelForm(int32_t command, const uint8_t* sub) {
  std::array<uint8_t, 96> out{};
  if (command == CCC_RAW96) {
    std::memcpy(out.data(), sub, 96);
  } else {
    std::memset(out.data(), PBits(sub) > 48 ? 0xFF : 0x00, 12);
    std::memcpy(out.data() + 12, sub + 12, 12);
  }
  return out;
}

struct SweepResult {
  std::vector<int32_t> failed;
  int compared = 0;
};

// Reads every LBA of the pass and compares each good buffer with the drive's
// sector (subchannel of lba + shift, with the CRC of `bad_q` LBAs broken as
// the drive breaks it). Buffers are exactly as large as the command needs.
SweepResult Sweep(EmulatedRig& rig, int32_t command, int shift = 0,
                  const std::vector<std::pair<int32_t, int32_t>>& bad_q = {}) {
  SweepResult r;
  DiscDrive& drive = rig.drive();
  const size_t size = DiscDrive::ReadSectorSize(MFT_CD, command);
  for (int32_t lba = drive.GetFirstLBA(); lba <= drive.GetLastLBA(); ++lba) {
    std::vector<uint8_t> buffer(size);
    if (!drive.ReadLBA(buffer.data(), lba)) {
      r.failed.push_back(lba);
      continue;
    }
    uint8_t main[kCdMainSize], sub[96], unused[kCdMainSize];
    EXPECT_TRUE(rig.Reference(lba, main, unused)) << lba;
    EXPECT_TRUE(rig.Reference(lba + shift, unused, sub)) << lba;
    for (const auto& [from, to] : bad_q) {
      if (lba >= from && lba <= to) {
        sub[22] ^= 0x5A;
        sub[23] ^= 0xA5;
      }
    }
    EXPECT_EQ(0, std::memcmp(buffer.data(), main, kCdMainSize)) << "main channel of LBA " << lba;
    if (command != CCC_RAW) {
      const auto expected = SubchannelForm(command, sub);
      EXPECT_EQ(0, std::memcmp(buffer.data() + kCdMainSize, expected.data(), 96)) << "subchannel of LBA " << lba;
    }
    ++r.compared;
  }
  return r;
}

ImageSpec AudioDisc() {
  ImageSpec spec;
  spec.catalog = "4901234567894";
  spec.tracks = {Audio(130, 0, 0, "JPABC0100001"), Audio(140, 150, 0, "USXYZ9912345"), Audio(110)};
  spec.cdtext = TitlePacks({"DISC", "ONE", "TWO", "THREE"});
  return spec;
}

// ---------------------------------------------------------------------------
// Audio disc: TOC, MCN, ISRC, CD-Text and every sector in each read command

class AudioDiscRead : public ::testing::TestWithParam<int32_t> {};

TEST_P(AudioDiscRead, EverySectorMatchesTheImage) {
  const int32_t command = GetParam();
  EmulatedRig rig;
  const ImageSpec spec = AudioDisc();
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "audio", spec)));
  TocStructure out;
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(command, 0, &out));
  const emu::CdLayout layout = rig.layout();
  const auto expected = ExpectedToc(layout, 0);
  EXPECT_EQ(Describe(expected), Describe(TocEntries(out)));
  EXPECT_EQ(0, rig.drive().GetFirstLBA());
  EXPECT_EQ(layout.LastLeadout() - 1, rig.drive().GetLastLBA());
  // Track 2's pregap was found by its Q.
  ASSERT_EQ(4u, expected.size());
  EXPECT_EQ(0, expected[1].IndexNo);

  // CD-Text packs as the image holds them.
  ASSERT_EQ(static_cast<int>(spec.cdtext.size()), out.Count(TST_CDTEXT));
  for (size_t i = 0; i < spec.cdtext.size(); ++i) {
    uint8_t bytes[18];
    out.CdText(static_cast<int>(i)).Store(bytes);
    EXPECT_EQ(0, std::memcmp(bytes, spec.cdtext[i].data(), 18)) << "pack " << i;
  }

  // The drive's sectors are the BIN's frames (one file, no generated pregap
  // after the first), so the sweep below compares with the image itself.
  const std::vector<uint8_t> bin = ReadWholeFile(rig.dir() / "audio.bin");
  ASSERT_EQ(static_cast<size_t>(layout.LastLeadout()) * kCdMainSize, bin.size());
  for (int32_t lba = 0; lba < layout.LastLeadout(); lba += 7) {
    uint8_t main[kCdMainSize], sub[96];
    ASSERT_TRUE(rig.Reference(lba, main, sub));
    ASSERT_EQ(0, std::memcmp(main, bin.data() + static_cast<size_t>(lba) * kCdMainSize, kCdMainSize)) << lba;
  }

  const SweepResult r = Sweep(rig, command);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(layout.LastLeadout(), r.compared);

  TocStructure after;
  ASSERT_TRUE(rig.drive().CopySessionToc(&after));
  const McnCode mcn = after.Mcn();
  const IsrcCode isrc1 = after.Isrc(0), isrc2 = after.Isrc(1), isrc3 = after.Isrc(2);
  if (command == CCC_RAW) {
    // No subchannel comes back, so nothing is collected.
    EXPECT_EQ(McnCode{}, mcn);
    EXPECT_EQ(0, after.Count(TST_ISRC));
  } else {
    EXPECT_EQ(spec.catalog, std::string(mcn.data(), mcn.size()));
    EXPECT_EQ(2, after.Count(TST_ISRC));
    EXPECT_EQ("JPABC0100001", std::string(isrc1.data(), isrc1.size()));
    EXPECT_EQ("USXYZ9912345", std::string(isrc2.data(), isrc2.size()));
    EXPECT_EQ(IsrcCode{}, isrc3);
    // The TOC is the one read at the start, whatever was collected.
    EXPECT_EQ(Describe(expected), Describe(TocEntries(after)));
  }
  EXPECT_TRUE(rig.drive().ReadEnd());
  EXPECT_FALSE(rig.drive().CopySessionToc(&after));
  EXPECT_EQ(0, rig.drive().GetLastLBA());
  EXPECT_FALSE(rig.drive().ReadEnd());
}

TEST(DiscDriveHarvest, IsrcsReadOutOfOrderAreAllKept) {
  EmulatedRig rig;
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "order", AudioDisc())));
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, 0, nullptr));
  std::vector<uint8_t> buffer(kCdSectorWithSubSize);
  // Track 2 first, then track 1: each run holds an ISRC frame of its track.
  for (int32_t lba = 300; lba < 400; ++lba) ASSERT_TRUE(rig.drive().ReadLBA(buffer.data(), lba));
  for (int32_t lba = 0; lba < 100; ++lba) ASSERT_TRUE(rig.drive().ReadLBA(buffer.data(), lba));
  TocStructure toc;
  ASSERT_TRUE(rig.drive().CopySessionToc(&toc));
  ASSERT_EQ(2, toc.Count(TST_ISRC));
  const IsrcCode isrc1 = toc.Isrc(0), isrc2 = toc.Isrc(1);
  EXPECT_EQ("JPABC0100001", std::string(isrc1.data(), isrc1.size()));
  EXPECT_EQ("USXYZ9912345", std::string(isrc2.data(), isrc2.size()));
}

INSTANTIATE_TEST_SUITE_P(Commands, AudioDiscRead, ::testing::Values(CCC_RAW, CCC_RAW16, CCC_RAW96));

// ---------------------------------------------------------------------------
// Data track followed by audio, with and without an explicit INDEX 00, and a
// pregap the drive generates

struct MixedCase {
  const char* name;
  int index0;   // INDEX 00 frames of the audio track in the BIN
  int pregap;   // PREGAP frames of the audio track
  int32_t flags;
};

class MixedDiscRead : public ::testing::TestWithParam<MixedCase> {};

TEST_P(MixedDiscRead, TocAndSectorsMatchTheImage) {
  const MixedCase& c = GetParam();
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Mode1(160), Audio(90, c.index0, c.pregap), Audio(60)};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "mixed", spec)));
  TocStructure out;
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, c.flags, &out));
  const emu::CdLayout layout = rig.layout();
  EXPECT_EQ(Describe(ExpectedToc(layout, c.flags)), Describe(TocEntries(out)));
  EXPECT_EQ(SMC_MODE1, out.Track(0).SectorMode);
  EXPECT_EQ(TCF_DATATRACK, out.Track(0).Flags);
  const SweepResult r = Sweep(rig, CCC_RAW96);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(layout.LastLeadout(), r.compared);
}

INSTANTIATE_TEST_SUITE_P(Pregaps, MixedDiscRead,
                         ::testing::Values(MixedCase{"ExplicitIndex0", 150, 0, 0},
                                           MixedCase{"NoIndex0", 0, 0, 0},
                                           MixedCase{"GeneratedPregap", 0, 150, 0},
                                           MixedCase{"ExplicitIndex0NoSearch", 150, 0, CDD_NOPREGAP}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// First pregap: read from the disc, or made from the first readable sector

TEST(DiscDriveFirstPregap, WholeFirstPregapReadsFromTheDisc) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Audio(100)};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "pregap", spec)));
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, CDD_FIRSTPREGAP, nullptr));
  EXPECT_EQ(-150, rig.drive().GetFirstLBA());
  const SweepResult r = Sweep(rig, CCC_RAW96);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(250, r.compared);
}

struct SynthesisCase {
  const char* name;
  int mode;
  int32_t unreadable_to;  // the first pregap is unreadable from -150 to here
  int32_t command = CCC_RAW96;
};

class DiscDrivePregapSynthesis : public ::testing::TestWithParam<SynthesisCase> {};

TEST_P(DiscDrivePregapSynthesis, MadeFromTheFirstReadableSector) {
  const SynthesisCase& c = GetParam();
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {c.mode == 0 ? Audio(100) : Mode1(100)};
  emu::DriveFaults faults;
  faults.unreadable = {{-150, c.unreadable_to}};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "synth", spec), faults));
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(c.command, CDD_FIRSTPREGAP, nullptr));
  const int32_t first = c.unreadable_to + 1;
  EXPECT_EQ(first, rig.drive().GetFirstLBA());

  uint8_t first_main[kCdMainSize], first_sub[96];
  ASSERT_TRUE(rig.Reference(first, first_main, first_sub));
  for (int32_t lba : {-150, -149, -75, first - 1}) {
    std::vector<uint8_t> buffer(DiscDrive::ReadSectorSize(MFT_CD, c.command));
    ASSERT_TRUE(rig.drive().ReadLBA(buffer.data(), lba)) << lba;
    if (c.mode == 0) {
      EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + kCdMainSize, [](uint8_t b) { return b == 0; }));
    } else {
      // The first readable sector's user data re-encoded at the asked address.
      uint8_t expected[kCdMainSize];
      std::memcpy(expected, first_main, kCdMainSize);
      EccEncoder().EncodeMode1(expected, lba);
      EXPECT_EQ(0, std::memcmp(buffer.data(), expected, kCdMainSize)) << lba;
      const MsfTime header = MsfTime::FromLba(lba);
      EXPECT_EQ(ToBcd(header.minute), buffer[12]);
      EXPECT_EQ(ToBcd(header.second), buffer[13]);
      EXPECT_EQ(ToBcd(header.frame), buffer[14]);
    }
    if (c.command == CCC_RAW) continue;
    // Q: the first readable sector's, relative time further from the track,
    // absolute time of the asked address, a valid CRC.
    const uint8_t* q = buffer.data() + kCdMainSize + 12;
    const int32_t distance = first - lba;
    const int32_t first_relative =
        FromBcd(first_sub[12 + 3]) * 4500 + FromBcd(first_sub[12 + 4]) * 75 + FromBcd(first_sub[12 + 5]);
    EXPECT_EQ(first_relative + distance, FromBcd(q[3]) * 4500 + FromBcd(q[4]) * 75 + FromBcd(q[5])) << lba;
    EXPECT_EQ(lba, MsfToLba(FromBcd(q[7]), FromBcd(q[8]), FromBcd(q[9]))) << lba;
    EXPECT_EQ(first_sub[12], q[0]);
    EXPECT_EQ(first_sub[13], q[1]);
    EXPECT_TRUE(emu::QCrcValid(q)) << lba;
  }
  std::vector<uint8_t> buffer(kCdSectorWithSubSize);
  EXPECT_FALSE(rig.drive().ReadLBA(buffer.data(), -151));
}

INSTANTIATE_TEST_SUITE_P(Tracks, DiscDrivePregapSynthesis,
                         ::testing::Values(SynthesisCase{"AudioNothingReadable", 0, -1},
                                           SynthesisCase{"Mode1NothingReadable", 1, -1},
                                           SynthesisCase{"AudioPartlyReadable", 0, -100},
                                           SynthesisCase{"Mode1MainChannelOnly", 1, -1, CCC_RAW}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Two sessions

TEST(DiscDriveSessions, TwoSessionsAndTheGapBetweenThem) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Audio(100), Audio(80, 150), Mode1(70, 2)};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "multi", spec)));
  const emu::CdLayout layout = rig.layout();
  ASSERT_EQ(2u, layout.sessions.size());

  for (int32_t flags : {int32_t{0}, int32_t{CDD_FIRSTPREGAP}, int32_t{CDD_FIRSTSESSIONONLY}}) {
    TocStructure out;
    ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, flags, &out)) << flags;
    EXPECT_EQ(Describe(ExpectedToc(layout, flags)), Describe(TocEntries(out))) << flags;
    const int32_t last = flags == CDD_FIRSTSESSIONONLY ? layout.sessions[0].leadout - 1 : layout.LastLeadout() - 1;
    EXPECT_EQ(last, rig.drive().GetLastLBA()) << flags;
  }

  // Every readable sector matches; only the second lead-in fails.
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, 0, nullptr));
  const SweepResult r = Sweep(rig, CCC_RAW96);
  const int32_t leadin_start = layout.sessions[0].leadout + 6750;
  ASSERT_EQ(4500u, r.failed.size());
  EXPECT_EQ(leadin_start, r.failed.front());
  EXPECT_EQ(leadin_start + 4499, r.failed.back());
  EXPECT_EQ(layout.LastLeadout() - 4500, r.compared);
  // The lead-out's TNO AA never becomes the current track.
  EXPECT_EQ(3, rig.drive().current_track());
}

// ---------------------------------------------------------------------------
// Unreadable sectors and their dummies

// Q bytes 0-9 the drive generates for `lba` (its own generator).
std::array<uint8_t, 12> DriveQ(const emu::CdLayout& layout, int32_t lba) {
  uint8_t sub[96];
  emu::GenerateSubchannel(layout, lba, sub);
  std::array<uint8_t, 12> q;
  std::memcpy(q.data(), sub + 12, 12);
  return q;
}

std::array<uint8_t, 12> BufferQ(const std::vector<uint8_t>& buffer) {
  std::array<uint8_t, 12> q;
  std::memcpy(q.data(), buffer.data() + kCdMainSize + 12, 12);
  return q;
}

TEST(DiscDriveUnreadable, DummySectorsReplaceTheBadRanges) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Mode1(120), Audio(100, 150), Audio(80)};
  emu::DriveFaults faults;
  faults.unreadable = {{50, 57}, {200, 203}, {420, 421}};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "bad", spec), faults));
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, 0, nullptr));
  const emu::CdLayout layout = rig.layout();
  const SweepResult r = Sweep(rig, CCC_RAW96);
  std::vector<int32_t> expected_failed;
  for (const auto& [from, to] : faults.unreadable) {
    for (int32_t lba = from; lba <= to; ++lba) expected_failed.push_back(lba);
  }
  EXPECT_EQ(expected_failed, r.failed);
  EXPECT_EQ(layout.LastLeadout() - static_cast<int>(expected_failed.size()), r.compared);

  for (int32_t lba : expected_failed) {
    std::vector<uint8_t> buffer(kCdSectorWithSubSize, 0x5C);
    ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), lba)) << lba;
    uint8_t main[kCdMainSize], sub[96];
    ASSERT_TRUE(rig.Reference(lba, main, sub));
    if (layout.TrackAt(lba)->IsData()) {
      // Sync and header of the address, the rest marked unreadable.
      EXPECT_EQ(0, std::memcmp(buffer.data(), main, 16)) << lba;
      EXPECT_TRUE(std::all_of(buffer.begin() + 16, buffer.begin() + kCdMainSize, [](uint8_t b) { return b == 0xAA; }));
    } else {
      EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + kCdMainSize, [](uint8_t b) { return b == 0; }));
    }
    // The engine's own Q generator agrees with the drive's.
    EXPECT_EQ(DriveQ(layout, lba), BufferQ(buffer)) << lba;
  }
  // A main-channel-only pass makes a main-channel-only dummy.
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW, 0, nullptr));
  std::vector<uint8_t> buffer(kCdMainSize);
  EXPECT_FALSE(rig.drive().ReadLBA(buffer.data(), 420));
  EXPECT_TRUE(rig.drive().ReadLBADummy(buffer.data(), 420));
}

// A data track shorter than a pregap with an audio track right after it:
// every dummy carries the drive's Q and the sector type the disc has there.
TEST(DiscDriveUnreadable, DummiesOfAShortDataTrackBeforeAudio) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Mode1(100), Audio(90)};
  emu::DriveFaults faults;
  faults.unreadable = {{40, 45}};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "short", spec), faults));
  TocStructure out;
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, 0, &out));
  const emu::CdLayout layout = rig.layout();
  EXPECT_EQ(Describe(ExpectedToc(layout, 0)), Describe(TocEntries(out)));
  std::vector<uint8_t> buffer(kCdSectorWithSubSize);
  EXPECT_FALSE(rig.drive().ReadLBA(buffer.data(), 40));
  for (int32_t lba = 0; lba < layout.LastLeadout() + 10; ++lba) {
    ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), lba)) << lba;
    EXPECT_EQ(DriveQ(layout, lba), BufferQ(buffer)) << lba;
    const emu::CdTrack* track = layout.TrackAt(lba);
    if (track != nullptr && track->IsData()) {
      const MsfTime header = MsfTime::FromLba(lba);
      EXPECT_EQ(ToBcd(header.minute), buffer[12]) << lba;
      EXPECT_EQ(ToBcd(header.second), buffer[13]) << lba;
      EXPECT_EQ(ToBcd(header.frame), buffer[14]) << lba;
      EXPECT_EQ(1, buffer[15]) << lba;
      EXPECT_EQ(0xAA, buffer[16]) << lba;
    } else {
      EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + kCdMainSize, [](uint8_t b) { return b == 0; })) << lba;
    }
  }
}

TEST(DiscDriveUnreadable, DummiesOfEverySessionAndBeyond) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Audio(100), Mode1(70, 2)};
  spec.cdtext = TitlePacks({"TWO SESSIONS", "AUDIO", "DATA"});
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "dummy2", spec)));
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, 0, nullptr));
  const emu::CdLayout layout = rig.layout();
  const int32_t leadout1 = layout.sessions[0].leadout;
  std::vector<uint8_t> buffer(kCdSectorWithSubSize);
  // Session 1's lead-out area.
  ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), leadout1 + 10));
  EXPECT_EQ(DriveQ(layout, leadout1 + 10), BufferQ(buffer));
  // Session 2's lead-in: data sector, lead-in Q with a valid CRC.
  ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), leadout1 + 8000));
  EXPECT_EQ(0xAA, buffer[2000]);
  EXPECT_TRUE(emu::QCrcValid(buffer.data() + kCdMainSize + 12));
  EXPECT_EQ(0, buffer[kCdMainSize + 12 + 1]) << "lead-in TNO";
  const auto rw_is_clear = [&buffer] {
    return std::all_of(buffer.begin() + kCdMainSize + 24, buffer.end(), [](uint8_t b) { return b == 0; });
  };
  EXPECT_FALSE(rw_is_clear()) << "CD-Text in R-W";
  // Session 2's track.
  const int32_t start2 = layout.tracks[1].start;
  ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), start2 + 5));
  EXPECT_EQ(DriveQ(layout, start2 + 5), BufferQ(buffer));
  // Far beyond the last session: its lead-out, no endless session search.
  ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), 400000));
  EXPECT_EQ(0xAA, buffer[kCdMainSize + 12 + 1]);
  // The P-and-Q form has no R-W.
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW16, 0, nullptr));
  ASSERT_TRUE(rig.drive().ReadLBADummy(buffer.data(), leadout1 + 8000));
  EXPECT_TRUE(emu::QCrcValid(buffer.data() + kCdMainSize + 12));
  EXPECT_TRUE(rw_is_clear());
}

// ---------------------------------------------------------------------------
// Corrupted and shifted subchannel

struct SubchannelCase {
  const char* name;
  int shift;
  int32_t flags;
  int32_t command;
};

class DiscDriveSubchannel : public ::testing::TestWithParam<SubchannelCase> {};

TEST_P(DiscDriveSubchannel, CorruptQAndShiftedQ) {
  const SubchannelCase& c = GetParam();
  EmulatedRig rig;
  ImageSpec spec;
  // A data track after audio has a pregap of its own (the drive makes it).
  spec.tracks = {Audio(150), Audio(120, 150), Mode1(100, 1, 150)};
  emu::DriveFaults faults;
  faults.q_shift = c.shift;
  // Inside a track, in the second track's pregap, on its first sector and in
  // the data track's pregap.
  faults.q_crc_errors = {{20, 24}, {200, 204}, {300, 300}, {500, 502}};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "subq", spec), faults));
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(c.command, c.flags, nullptr));
  const emu::CdLayout layout = rig.layout();
  // The pregap search reads Q too and copes with the shift.
  TocStructure toc;
  ASSERT_TRUE(rig.drive().CopySessionToc(&toc));
  EXPECT_EQ(Describe(ExpectedToc(layout, c.flags)), Describe(TocEntries(toc)));
  DiscDrive& drive = rig.drive();
  int corrected = 0;
  for (int32_t lba = 0; lba <= drive.GetLastLBA() - 2; ++lba) {
    std::vector<uint8_t> buffer(kCdSectorWithSubSize);
    ASSERT_TRUE(drive.ReadLBA(buffer.data(), lba)) << lba;
    if (lba > 0) {
      EXPECT_EQ(c.shift, drive.subchannel_offset()) << lba;
    }
    uint8_t main[kCdMainSize], sub[96];
    ASSERT_TRUE(rig.Reference(lba, main, sub));
    EXPECT_EQ(0, std::memcmp(buffer.data(), main, kCdMainSize)) << lba;
    const bool bad = (lba >= 20 && lba <= 24) || (lba >= 200 && lba <= 204) || lba == 300 || (lba >= 500 && lba <= 502);
    const std::array<uint8_t, 12> q = DriveQ(layout, lba + c.shift);
    if (!bad) {
      EXPECT_EQ(q, BufferQ(buffer)) << lba;
    } else if ((c.flags & CDD_COLLECTSUBPQ) != 0) {
      // Regenerated for the shifted position by the engine's own generator.
      EXPECT_EQ(q, BufferQ(buffer)) << lba;
      ++corrected;
    } else {
      std::array<uint8_t, 12> broken = q;
      broken[10] ^= 0x5A;
      broken[11] ^= 0xA5;
      EXPECT_EQ(broken, BufferQ(buffer)) << lba;
    }
  }
  EXPECT_EQ((c.flags & CDD_COLLECTSUBPQ) != 0 ? 14 : 0, corrected);
}

INSTANTIATE_TEST_SUITE_P(
    Shifts, DiscDriveSubchannel,
    ::testing::Values(SubchannelCase{"NoShift", 0, 0, CCC_RAW96}, SubchannelCase{"NoShiftCorrected", 0, CDD_COLLECTSUBPQ, CCC_RAW96},
                      SubchannelCase{"MinusTwo", -2, 0, CCC_RAW96},
                      SubchannelCase{"MinusTwoCorrected", -2, CDD_COLLECTSUBPQ, CCC_RAW96},
                      SubchannelCase{"PlusTwo", 2, 0, CCC_RAW16},
                      SubchannelCase{"PlusTwoCorrected", 2, CDD_COLLECTSUBPQ, CCC_RAW16}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// CloneCD image with a subchannel file: P and Q as the image holds them

// Two audio tracks of 200 and 150 sectors (the second with a 150-sector
// pregap inside the first's run), MCN and an ISRC on track 2. The .sub starts
// as the drive's own generated subchannel and `edit` changes it.
struct CcdImage {
  fs::path ccd;
  emu::CdLayout layout;
  std::vector<uint8_t> sub;  // 96 bytes a sector, channel-separated
};

CcdImage WriteCcdImage(const fs::path& dir, const std::function<void(std::vector<uint8_t>&)>& edit) {
  CcdImage image;
  emu::CdLayout& layout = image.layout;
  emu::CdTrack t1;
  t1.number = 1;
  t1.pregap_start = -150;
  t1.start = 0;
  emu::CdTrack t2;
  t2.number = 2;
  t2.pregap_start = 50;
  t2.start = 200;
  t2.isrc = "GBAAA0000777";
  layout.tracks = {t1, t2};
  emu::CdSession session;
  session.first_track = 1;
  session.last_track = 2;
  session.leadout = 350;
  layout.sessions = {session};
  layout.mcn = "0123456789012";
  layout.FixTrackEnds();

  std::vector<uint8_t> img;
  image.sub.resize(static_cast<size_t>(session.leadout) * 96);
  for (int32_t lba = 0; lba < session.leadout; ++lba) {
    uint8_t sector[kCdMainSize];
    FillAudio(sector, lba);
    img.insert(img.end(), sector, sector + kCdMainSize);
    emu::GenerateSubchannel(layout, lba, image.sub.data() + static_cast<size_t>(lba) * 96);
  }
  edit(image.sub);
  WriteFile(dir / "clone.img", img.data(), img.size());
  WriteFile(dir / "clone.sub", image.sub.data(), image.sub.size());
  const std::string ccd =
      "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=5\r\nSessions=1\r\nCATALOG=0123456789012\r\n"
      "[Entry 0]\r\nSession=1\r\nPoint=0xa0\r\nADR=0x01\r\nControl=0x00\r\nPMin=1\r\nPSec=0\r\nPFrame=0\r\n"
      "[Entry 1]\r\nSession=1\r\nPoint=0xa1\r\nADR=0x01\r\nControl=0x00\r\nPMin=2\r\nPSec=0\r\nPFrame=0\r\n"
      "[Entry 2]\r\nSession=1\r\nPoint=0xa2\r\nADR=0x01\r\nControl=0x00\r\nPMin=0\r\nPSec=6\r\nPFrame=50\r\nPLBA=350\r\n"
      "[Entry 3]\r\nSession=1\r\nPoint=0x01\r\nADR=0x01\r\nControl=0x00\r\nPMin=0\r\nPSec=2\r\nPFrame=0\r\nPLBA=0\r\n"
      "[Entry 4]\r\nSession=1\r\nPoint=0x02\r\nADR=0x01\r\nControl=0x00\r\nPMin=0\r\nPSec=4\r\nPFrame=50\r\nPLBA=200\r\n"
      "[TRACK 1]\r\nMODE=0\r\nINDEX 1=0\r\n"
      "[TRACK 2]\r\nMODE=0\r\nINDEX 0=50\r\nINDEX 1=200\r\nISRC=GBAAA0000777\r\n";
  WriteFile(dir / "clone.ccd", ccd.data(), ccd.size());
  image.ccd = dir / "clone.ccd";
  return image;
}

void SetPBits(uint8_t* p, int bits) {
  std::memset(p, 0, 12);
  for (int i = 0; i < bits; ++i) p[(i * 7) % 12] |= static_cast<uint8_t>(0x80 >> ((i * 7) / 12 % 8));
}

void SetQ(uint8_t* q, std::initializer_list<uint8_t> first10) {
  std::copy(first10.begin(), first10.end(), q);
  emu::SetQCrc(q);
}

class DiscDriveCcd : public ::testing::TestWithParam<int32_t> {};

TEST_P(DiscDriveCcd, PartialPNoiseAndForeignQ) {
  const int32_t flags = GetParam();
  const bool collect = (flags & CDD_COLLECTSUBPQ) != 0;
  EmulatedRig rig;
  // P with 50, 47, 48 and 96 bits set; in track 1 a lead-out Q (TNO AA) and a
  // lead-in Q (TNO 0) followed by an ISRC frame; a Q with a wrong CRC.
  const CcdImage image = WriteCcdImage(rig.dir(), [](std::vector<uint8_t>& sub) {
    SetPBits(sub.data() + 10 * 96, 50);
    SetPBits(sub.data() + 11 * 96, 47);
    SetPBits(sub.data() + 12 * 96, 48);
    SetPBits(sub.data() + 13 * 96, 96);
    SetQ(sub.data() + 30 * 96 + 12, {0x01, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x30});
    SetQ(sub.data() + 31 * 96 + 12, {0x01, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00, 0x00});
    uint8_t* isrc = sub.data() + 32 * 96 + 12;
    std::memset(isrc, 0, 12);
    isrc[0] = 0x03;
    ASSERT_TRUE(emu::EncodeIsrcQ("JPZZZ1234567", isrc + 1));
    emu::SetQCrc(isrc);
    sub[40 * 96 + 22] ^= 0xFF;
  });
  ASSERT_TRUE(rig.Open("cd-rom", image.ccd));
  TocStructure out;
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW96, flags, &out));
  EXPECT_EQ(Describe(ExpectedToc(image.layout, flags)), Describe(TocEntries(out)));

  for (int32_t lba = 0; lba < 350; ++lba) {
    std::vector<uint8_t> buffer(kCdSectorWithSubSize);
    ASSERT_TRUE(rig.drive().ReadLBA(buffer.data(), lba)) << lba;
    uint8_t main[kCdMainSize];
    FillAudio(main, lba);
    EXPECT_EQ(0, std::memcmp(buffer.data(), main, kCdMainSize)) << lba;
    std::array<uint8_t, 96> expected;
    std::memcpy(expected.data(), image.sub.data() + static_cast<size_t>(lba) * 96, 96);
    if (collect) {
      const int bits = PBits(expected.data());
      if (bits != 0 && bits != 96) std::memset(expected.data(), bits >= 48 ? 0xFF : 0x00, 12);
      if (lba == 40) {
        const auto q = DriveQ(image.layout, lba);
        std::memcpy(expected.data() + 12, q.data(), 12);
      }
    }
    EXPECT_EQ(0, std::memcmp(buffer.data() + kCdMainSize, expected.data(), 96)) << lba;
    if (lba == 30 || lba == 31) {
      EXPECT_EQ(1, rig.drive().current_track()) << lba;
    }
  }
  TocStructure after;
  ASSERT_TRUE(rig.drive().CopySessionToc(&after));
  const McnCode mcn = after.Mcn();
  EXPECT_EQ("0123456789012", std::string(mcn.data(), mcn.size()));
  // The ISRC frame after the lead-out Q belongs to track 1, the track being read.
  ASSERT_EQ(2, after.Count(TST_ISRC));
  const IsrcCode isrc1 = after.Isrc(0), isrc2 = after.Isrc(1);
  EXPECT_EQ("JPZZZ1234567", std::string(isrc1.data(), isrc1.size()));
  EXPECT_EQ("GBAAA0000777", std::string(isrc2.data(), isrc2.size()));
}

INSTANTIATE_TEST_SUITE_P(Flags, DiscDriveCcd, ::testing::Values(int32_t{0}, int32_t{CDD_COLLECTSUBPQ}));

// ---------------------------------------------------------------------------
// Block reading: read-ahead, the single-sector fall-back, the block length

TEST(DiscDriveBlocks, ReadAheadAndSingleSectorFallBack) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Audio(200)};
  emu::DriveFaults faults;
  faults.unreadable = {{60, 62}};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "blocks", spec), faults));
  DiscDrive& drive = rig.drive();
  drive.SetBufferingBlockLength(27);
  drive.SetBufferingBlockLength(0);
  EXPECT_EQ(26, drive.buffering_block_length());
  ASSERT_EQ(CBR_OK, drive.ReadStart(CCC_RAW16, 0, nullptr));

  rig.hooks().ClearLog();
  std::vector<uint8_t> buffer(kCdSectorWithSubSize);
  std::vector<int32_t> failed;
  for (int32_t lba = 0; lba < 200; ++lba) {
    if (!drive.ReadLBA(buffer.data(), lba)) failed.push_back(lba);
  }
  EXPECT_EQ((std::vector<int32_t>{60, 61, 62}), failed);
  std::vector<std::pair<int32_t, int32_t>> expected;
  // Blocks of 26 up to the block holding the bad sectors.
  for (int32_t lba = 0; lba < 52; lba += 26) expected.emplace_back(lba, 26);
  expected.emplace_back(52, 26);  // fails at 60
  // The rest of that block and the next ones one sector at a time: the failing
  // read and the 25 after it (the bad sectors each fail once more alone).
  for (int32_t lba = 52; lba < 78; ++lba) expected.emplace_back(lba, 1);
  for (int32_t lba = 78; lba < 200; lba += 26) expected.emplace_back(lba, std::min(26, 200 - lba));
  EXPECT_EQ(expected, rig.ReadCommands());

  // The last LBA alone reads one sector; past it nothing is read.
  rig.hooks().ClearLog();
  ASSERT_TRUE(drive.ReadLBA(buffer.data(), 199));
  EXPECT_FALSE(drive.ReadLBA(buffer.data(), 200));
  EXPECT_EQ((std::vector<std::pair<int32_t, int32_t>>{{199, 1}}), rig.ReadCommands());

  // A smaller block length takes effect at the next drive read.
  drive.SetBufferingBlockLength(4);
  rig.hooks().ClearLog();
  for (int32_t lba = 100; lba < 110; ++lba) ASSERT_TRUE(drive.ReadLBA(buffer.data(), lba));
  EXPECT_EQ((std::vector<std::pair<int32_t, int32_t>>{{100, 4}, {104, 4}, {108, 4}}), rig.ReadCommands());
}

// ---------------------------------------------------------------------------
// Start results and passes that cannot run

TEST(DiscDriveStart, ResultCodes) {
  {
    EmulatedRig rig;
    ImageSpec spec;
    spec.tracks = {Audio(100)};
    ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "codes", spec)));
    DiscDrive& drive = rig.drive();
    EXPECT_EQ(CBR_IGNOREREADCOMMAND, drive.ReadStart(CCC_DATA, 0, nullptr));
    EXPECT_EQ(CBR_IGNOREREADCOMMAND, drive.ReadStart(7, 0, nullptr));
    EXPECT_EQ(CBR_IGNOREDATAASSORTMENT, drive.ReadStart(CCC_RAW, 1, nullptr));
    EXPECT_EQ(CBR_IGNOREDATAASSORTMENT, drive.ReadStart(CCC_RAW, 2, nullptr));
    EXPECT_FALSE(drive.IsReading());
    EXPECT_EQ(CBR_OK, drive.ReadStart(CCC_RAW, 0, nullptr));
    // A second start ends the open pass and starts again.
    EXPECT_EQ(CBR_OK, drive.ReadStart(CCC_RAW96, 0, nullptr));
    EXPECT_TRUE(drive.IsReading());
  }
  {
    EmulatedRig rig;
    ASSERT_TRUE(rig.Open("none", {}));
    EXPECT_EQ(CBR_UNKNOWNMEDIA, rig.drive().ReadStart(CCC_RAW, 0, nullptr));
  }
}

TEST(DiscDriveStart, NoReadPassWhileAWritePassIsOpen) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Audio(100)};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "busy", spec)));
  TestDrive& drive = rig.drive();
  drive.writing_ = true;
  rig.hooks().ClearLog();
  TocStructure out;
  out.MakeSingleTrackToc(SMC_MODE1, 5);
  const TocStructure before = out;
  EXPECT_EQ(CBR_ALREADYRUNNING, drive.ReadStart(CCC_RAW96, 0, &out));
  EXPECT_TRUE(rig.hooks().log().empty()) << "no command may reach a drive that is writing";
  EXPECT_EQ(before, out);
  EXPECT_FALSE(drive.IsReading());
  drive.writing_ = false;
  EXPECT_EQ(CBR_OK, drive.ReadStart(CCC_RAW96, 0, &out));
}

TEST(DiscDriveStart, NothingReadsOutsideAPass) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Audio(100)};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "idle", spec)));
  std::vector<uint8_t> buffer(kCdSectorWithSubSize);
  EXPECT_FALSE(rig.drive().ReadLBA(buffer.data(), 0));
  EXPECT_FALSE(rig.drive().ReadLBADummy(buffer.data(), 0));
  TocStructure toc;
  EXPECT_FALSE(rig.drive().CopySessionToc(&toc));
  EXPECT_EQ(0, rig.drive().GetFirstLBA());
}

// ---------------------------------------------------------------------------
// DVD family

TEST(DiscDriveDvd, StartCodesAndUserData) {
  EmulatedRig rig;
  const int32_t sectors = 75;
  const std::vector<uint8_t> iso = WriteDvdImage(rig.dir() / "disc.iso", sectors);
  emu::DriveFaults faults;
  faults.unreadable = {{30, 30}};
  ASSERT_TRUE(rig.Open("dvd-rom", rig.dir() / "disc.iso", faults));
  DiscDrive& drive = rig.drive();
  EXPECT_EQ(CBR_IGNOREREADCOMMAND, drive.ReadStart(CCC_RAW, 0, nullptr));
  EXPECT_EQ(CBR_IGNOREDATAASSORTMENT, drive.ReadStart(CCC_DATA, CDD_FIRSTPREGAP, nullptr));
  TocStructure out;
  ASSERT_EQ(CBR_OK, drive.ReadStart(CCC_DATA, 0, &out));
  ASSERT_EQ(1, out.Count(TST_TOC));
  EXPECT_EQ(0, out.Track(0).StartLBA);
  EXPECT_EQ(sectors - 1, out.Track(0).EndLBA);
  EXPECT_EQ(sectors - 1, drive.GetLastLBA());

  rig.hooks().ClearLog();
  std::vector<int32_t> failed;
  for (int32_t lba = 0; lba < sectors; ++lba) {
    std::vector<uint8_t> buffer(kUserDataSize);
    if (!drive.ReadLBA(buffer.data(), lba)) {
      failed.push_back(lba);
      ASSERT_TRUE(drive.ReadLBADummy(buffer.data(), lba));
      EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xAA; }));
      continue;
    }
    EXPECT_EQ(0, std::memcmp(buffer.data(), iso.data() + static_cast<size_t>(lba) * kUserDataSize, kUserDataSize))
        << lba;
  }
  EXPECT_EQ(std::vector<int32_t>{30}, failed);
  // 0-25, then 26-51 fails at 30 and is read again one sector at a time: the
  // failed call's own single read, then 26 more single reads, then blocks.
  std::vector<std::pair<int32_t, int32_t>> expected = {{0, 26}, {26, 26}, {26, 1}};
  for (int32_t lba = 27; lba < 53; ++lba) expected.emplace_back(lba, 1);
  expected.emplace_back(53, 22);
  EXPECT_EQ(expected, rig.ReadCommands());
  EXPECT_FALSE(drive.ReadLBA(std::vector<uint8_t>(kUserDataSize).data(), -1));
  EXPECT_TRUE(drive.ReadEnd());
  // Outside a pass a DVD dummy sector is still made.
  std::vector<uint8_t> dummy(kUserDataSize);
  EXPECT_TRUE(drive.ReadLBADummy(dummy.data(), 5));
  EXPECT_EQ(0xAA, dummy[2047]);
}

TEST(DiscDriveDvd, DummyOfADvdBeforeAnyPass) {
  EmulatedRig rig;
  std::vector<uint8_t> iso(20 * kUserDataSize, 0x11);
  WriteFile(rig.dir() / "disc.iso", iso.data(), iso.size());
  ASSERT_TRUE(rig.Open("dvd-rom", rig.dir() / "disc.iso"));
  std::vector<uint8_t> dummy(kUserDataSize, 0x00);
  EXPECT_TRUE(rig.drive().ReadLBADummy(dummy.data(), 7));
  EXPECT_TRUE(std::all_of(dummy.begin(), dummy.end(), [](uint8_t b) { return b == 0xAA; }));
  EXPECT_FALSE(rig.drive().IsReading());
}

TEST(DiscDriveDvd, UnreadableTocFallsBackToTheCapacity) {
  for (const bool capacity_readable : {true, false}) {
    EmulatedRig rig;
    std::vector<uint8_t> iso(40 * kUserDataSize, 0x11);
    WriteFile(rig.dir() / "disc.iso", iso.data(), iso.size());
    emu::DriveFaults faults;
    faults.refused_opcodes = {0x43};
    if (!capacity_readable) faults.refused_opcodes.insert(0x52);
    ASSERT_TRUE(rig.Open("dvd-rom", rig.dir() / "disc.iso", faults));
    TocStructure out;
    const int32_t result = rig.drive().ReadStart(CCC_DATA, 0, &out);
    if (!capacity_readable) {
      EXPECT_EQ(CBR_TOCREADERROR, result);
      EXPECT_FALSE(rig.drive().IsReading());
      continue;
    }
    ASSERT_EQ(CBR_OK, result);
    ASSERT_EQ(1, out.Count(TST_TOC));
    EXPECT_EQ(SMC_MODE1, out.Track(0).SectorMode);
    EXPECT_EQ(0, out.Track(0).StartLBA);
    EXPECT_EQ(out.Track(0).EndLBA, rig.drive().GetLastLBA());
    EXPECT_EQ(39, rig.drive().GetLastLBA()) << "the track size of the 40-sector disc";
  }
}

// ---------------------------------------------------------------------------
// Both command sets: MMC drives, and older ATAPI drives (SFF-8020i) that take
// the READ TOC format from byte 9 and send no subchannel with READ CD

class DiscDriveCommandSet : public ::testing::TestWithParam<const char*> {
 protected:
  std::string Setting() const { return std::string(",atapi=") + GetParam(); }
  bool Older() const { return std::string(GetParam()) == "sff8020"; }
};

TEST_P(DiscDriveCommandSet, DataAndAudioDiscInWholeSectors) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Mode1(160), Audio(90, 150), Audio(60)};
  spec.cdtext = TitlePacks({"DISC", "ONE", "TWO", "THREE"});
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "mixed", spec), {}, Setting()));
  TocStructure out;
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_RAW, 0, &out));
  // The older drive's pregap search finds no Q; a data track before audio
  // still gives the audio track its 150-sector pregap.
  const emu::CdLayout layout = rig.layout();
  EXPECT_EQ(Describe(ExpectedToc(layout, 0)), Describe(TocEntries(out)));
  EXPECT_EQ(SMC_MODE1, out.Track(0).SectorMode);
  // Its answer to the CD-Text request is a TOC, which gives no packs.
  EXPECT_EQ(Older() ? 0 : static_cast<int>(spec.cdtext.size()), out.Count(TST_CDTEXT));
  const auto tocs = rig.hooks().log();
  std::vector<std::vector<uint8_t>> toc_cdbs;
  for (const auto& c : tocs) {
    if (c.opcode() == 0x43) toc_cdbs.push_back(c.cdb);
  }
  const std::vector<std::vector<uint8_t>> expected_cdbs = {{0x43, 0x02, 2, 0, 0, 0, 0, 0x05, 0x84, 0x80},
                                                           {0x43, 0, 5, 0, 0, 0, 0, 0x24, 0x04, 0}};
  EXPECT_EQ(expected_cdbs, toc_cdbs);
  const SweepResult r = Sweep(rig, CCC_RAW);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(layout.LastLeadout(), r.compared);
  EXPECT_TRUE(rig.drive().ReadEnd());
}

TEST_P(DiscDriveCommandSet, SubchannelReadCommandsNeedADriveThatSendsIt) {
  EmulatedRig rig;
  ImageSpec spec;
  spec.tracks = {Mode1(100)};
  ASSERT_TRUE(rig.Open("cd-rom", WriteCueImage(rig.dir(), "data", spec), {}, Setting()));
  for (const int32_t command : {CCC_RAW16, CCC_RAW96}) {
    const int32_t result = rig.drive().ReadStart(command, 0, nullptr);
    EXPECT_EQ(Older() ? CBR_IGNOREREADCOMMAND : CBR_OK, result) << command;
    if (result != CBR_OK) continue;
    const SweepResult r = Sweep(rig, command);
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(100, r.compared);
    EXPECT_TRUE(rig.drive().ReadEnd());
  }
}

TEST_P(DiscDriveCommandSet, DvdUserData) {
  EmulatedRig rig;
  const int32_t sectors = 60;
  const std::vector<uint8_t> iso = WriteDvdImage(rig.dir() / "disc.iso", sectors);
  // A drive without REZERO, which ending the pass sends: the pass still ends well.
  emu::DriveFaults faults;
  faults.refused_opcodes = {0x01};
  ASSERT_TRUE(rig.Open("dvd-rom", rig.dir() / "disc.iso", faults, Setting()));
  TocStructure out;
  ASSERT_EQ(CBR_OK, rig.drive().ReadStart(CCC_DATA, 0, &out));
  ASSERT_EQ(1, out.Count(TST_TOC));
  EXPECT_EQ(sectors - 1, rig.drive().GetLastLBA());
  std::vector<uint8_t> buffer(kUserDataSize);
  for (int32_t lba = 0; lba < sectors; ++lba) {
    ASSERT_TRUE(rig.drive().ReadLBA(buffer.data(), lba)) << lba;
    ASSERT_EQ(0, std::memcmp(buffer.data(), iso.data() + static_cast<size_t>(lba) * kUserDataSize, kUserDataSize))
        << lba;
  }
  EXPECT_TRUE(rig.drive().ReadEnd());
  EXPECT_EQ(1u, rig.hooks().log().back().opcode());
  EXPECT_EQ(2, rig.hooks().log().back().status);
}

INSTANTIATE_TEST_SUITE_P(Drives, DiscDriveCommandSet, ::testing::Values("mmc", "sff8020"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace sorvel
