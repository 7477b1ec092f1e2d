#include "platform/emulated_drive/image_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_probe.h"
#include "testing/test_paths.h"

namespace sorvel::platform::emu {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void WriteSectors(const fs::path& path, int count, bool audio, int32_t first_lba) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    auto s = sorvel::testing::FixtureSector(audio, first_lba + i);
    out.write(reinterpret_cast<const char*>(s.data()), s.size());
  }
}

class ImageLoaderTest : public ::testing::Test {
 protected:
  sorvel::testing::ScratchDir dir_;
};

TEST_F(ImageLoaderTest, CueWithPregapIndexesAndSessions) {
  WriteSectors(dir_ / "a.bin", 1000, true, 0);
  WriteText(dir_ / "a.cue",
            "REM a comment\r\n"
            "FILE \"a.bin\" BINARY\r\n"
            "  TRACK 01 AUDIO\r\n"
            "    INDEX 01 00:00:00\r\n"
            "    INDEX 02 00:01:00\r\n"
            "  TRACK 02 AUDIO\r\n"
            "    PREGAP 00:01:00\r\n"
            "    INDEX 01 00:04:00\r\n"
            "REM SESSION 02\r\n"
            "  TRACK 03 AUDIO\r\n"
            "    INDEX 01 00:10:00\r\n");
  MediaState state;
  std::string error;
  ASSERT_TRUE(LoadDiscImage((dir_ / "a.cue").string(), 0x08, &state, &error)) << error;
  const auto& l = state.layout;
  ASSERT_EQ(l.tracks.size(), 3u);
  EXPECT_EQ(l.tracks[0].pregap_start, -150);
  ASSERT_EQ(l.tracks[0].index_starts.size(), 1u);
  EXPECT_EQ(l.tracks[0].index_starts[0], 75);
  // PREGAP is generated: the track's data moves back by 75 frames.
  EXPECT_EQ(l.tracks[1].start, 375);
  EXPECT_EQ(l.tracks[1].pregap_start, 300);
  ASSERT_EQ(l.sessions.size(), 2u);
  EXPECT_EQ(l.sessions[0].leadout, 750 + 75);
  EXPECT_EQ(l.tracks[2].session, 2);
  EXPECT_EQ(l.tracks[2].start, 825 + 6750 + 4500 + 150);
  EXPECT_EQ(l.sessions[1].leadout, l.tracks[2].start + 250);
}

TEST_F(ImageLoaderTest, BadCueSheets) {
  WriteSectors(dir_ / "b.bin", 10, true, 0);
  struct Case {
    const char* text;
    const char* why;
  } cases[] = {
      {"  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n", "TRACK before FILE"},
      {"FILE \"b.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n", "no INDEX 01"},
      {"FILE \"b.bin\" BINARY\r\n  TRACK 01 MODE3/2352\r\n    INDEX 01 00:00:00\r\n", "mode"},
      {"FILE \"b.bin\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n", "BINARY"},
      {"FILE \"b.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:99\r\n", "INDEX"},
      {"FILE \"missing.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n", "missing.bin"},
      {"CATALOG 12\r\nFILE \"b.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n", "CATALOG"},
      {"FILE \"b.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n  TRACK 03 AUDIO\r\n    INDEX 01 00:00:05\r\n", "ascend"},
  };
  for (const auto& c : cases) {
    WriteText(dir_ / "b.cue", c.text);
    MediaState state;
    std::string error;
    EXPECT_FALSE(LoadDiscImage((dir_ / "b.cue").string(), 0x08, &state, &error)) << c.text;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
  MediaState state;
  std::string error;
  EXPECT_FALSE(LoadDiscImage((dir_ / "b.bin").string(), 0x08, &state, &error));
  EXPECT_FALSE(LoadDiscImage((dir_ / "b.cue").string(), 0x10, &state, &error));  // a CD on a DVD
}

// A CloneCD image whose subchannel (with a deliberately odd Q) is returned as stored.
TEST_F(ImageLoaderTest, CcdReturnsItsOwnSubchannel) {
  const int sectors = 600;
  WriteSectors(dir_ / "c.img", sectors, true, 0);
  {
    std::ofstream sub(dir_ / "c.sub", std::ios::binary);
    for (int i = 0; i < sectors; ++i) {
      uint8_t s[96] = {};
      s[12] = 0x01;
      s[13] = i < 300 ? 0x01 : 0x02;
      s[14] = 0x01;
      s[20] = static_cast<uint8_t>(i);  // not what a generator would put there
      SetQCrc(s + 12);
      sub.write(reinterpret_cast<const char*>(s), 96);
    }
  }
  WriteText(dir_ / "c.ccd",
            "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=5\r\nSessions=1\r\nCATALOG=4901234567894\r\n"
            "[Session 1]\r\nPreGapMode=0\r\n"
            "[Entry 0]\r\nSession=1\r\nPoint=0xa0\r\nADR=0x01\r\nControl=0x00\r\nPMin=1\r\nPSec=0\r\nPLBA=0\r\n"
            "[Entry 1]\r\nSession=1\r\nPoint=0xa1\r\nADR=0x01\r\nControl=0x00\r\nPMin=2\r\nPLBA=0\r\n"
            "[Entry 2]\r\nSession=1\r\nPoint=0xa2\r\nADR=0x01\r\nControl=0x00\r\nPLBA=600\r\n"
            "[Entry 3]\r\nSession=1\r\nPoint=0x01\r\nADR=0x01\r\nControl=0x00\r\nPLBA=0\r\n"
            "[Entry 4]\r\nSession=1\r\nPoint=0x02\r\nADR=0x01\r\nControl=0x02\r\nPLBA=300\r\n"
            "[TRACK 1]\r\nMODE=0\r\nINDEX 1=0\r\n[TRACK 2]\r\nMODE=0\r\nINDEX 0=250\r\nINDEX 1=300\r\n");
  DriveSettings settings;
  settings.state_path = (dir_ / "drive").string();
  settings.image = (dir_ / "c.ccd").string();
  std::string error;
  auto drive = SoftMmcDrive::Open(settings, &error);
  ASSERT_TRUE(drive) << error;
  MediaState media = drive->media();
  EXPECT_EQ(media.profile, 0x08);
  ASSERT_EQ(media.layout.tracks.size(), 2u);
  EXPECT_EQ(media.layout.tracks[1].pregap_start, 250);
  EXPECT_EQ(media.layout.tracks[1].control, 0x2);
  EXPECT_EQ(media.layout.mcn, "4901234567894");
  uint8_t cdb[12] = {0xBE, 0, 0, 0, 0x01, 0x2C, 0, 0, 1, 0xF8, 1, 0};  // LBA 300, raw P-W
  uint8_t out[2352 + 96], sense[32];
  ASSERT_EQ(drive->Exec(cdb, 12, out, sizeof out, false, 180, sense), 0);
  auto main = sorvel::testing::FixtureSector(true, 300);
  EXPECT_EQ(std::memcmp(out, main.data(), 2352), 0);
  uint8_t separate[96];
  DeinterleaveSubchannel(out + 2352, separate);
  EXPECT_EQ(separate[12 + 1], 0x02);
  EXPECT_EQ(separate[12 + 8], static_cast<uint8_t>(300));
  uint8_t toc_cdb[10] = {0x43, 0, 0, 0, 0, 0, 1, 0x04, 0x04, 0};
  uint8_t toc[1028];
  ASSERT_EQ(drive->Exec(toc_cdb, 10, toc, sizeof toc, false, 180, sense), 0);
  EXPECT_EQ(toc[3], 2);
  EXPECT_EQ(toc[12 + 1], 0x12);
}

TEST(DriveSpecTest, Parsing) {
  DriveSettings s;
  std::string error;
  ASSERT_TRUE(ParseDriveSpec("/tmp/x.state,medium=bd-re,vendor=ACME,product=BD 1", &s, &error)) << error;
  EXPECT_EQ(s.state_path, "/tmp/x.state");
  EXPECT_EQ(s.medium, "bd-re");
  EXPECT_EQ(s.vendor, "ACME");
  EXPECT_EQ(s.product, "BD 1");
  EXPECT_TRUE(ParseDriveSpec("p,medium=0x15", &s, &error));
  EXPECT_FALSE(ParseDriveSpec("p,medium=0x99", &s, &error));
  EXPECT_FALSE(s.sff8020);
  ASSERT_TRUE(ParseDriveSpec("p,atapi=sff8020", &s, &error)) << error;
  EXPECT_TRUE(s.sff8020);
  ASSERT_TRUE(ParseDriveSpec("p,atapi=mmc", &s, &error)) << error;
  EXPECT_FALSE(s.sff8020);
  EXPECT_FALSE(ParseDriveSpec("p,atapi=scsi", &s, &error));
  EXPECT_FALSE(ParseDriveSpec("p,image", &s, &error));
  EXPECT_FALSE(ParseDriveSpec(",medium=cd-r", &s, &error));
  // Faults a user can give to reproduce what a test shows.
  ASSERT_TRUE(ParseDriveSpec("p,unreadable=-150--1+1000-1349,write_error=300", &s, &error)) << error;
  EXPECT_EQ(s.unreadable, (std::vector<std::pair<int32_t, int32_t>>{{-150, -1}, {1000, 1349}}));
  EXPECT_EQ(s.write_error_lba, 300);
  for (const char* bad : {"p,unreadable=5", "p,unreadable=9-5", "p,unreadable=1-2+", "p,unreadable=a-b",
                          "p,write_error=x", "p,write_error=99999999999"}) {
    EXPECT_FALSE(ParseDriveSpec(bad, &s, &error)) << bad;
  }
}

TEST(MediaStateTest, SerializationRoundTripAndDamage) {
  MediaState s;
  s.profile = 0x09;
  s.locked = true;
  s.status = DiscStatus::kComplete;
  s.vendor = "A B";
  CdTrack t;
  t.number = 1;
  t.control = 4;
  t.mode = 1;
  t.pregap_start = -150;
  t.end = 100;
  t.index_starts = {10, 20};
  t.isrc = "JPABC0512345";
  s.layout.tracks = {t};
  s.layout.sessions = {CdSession{1, 1, 1, 100, 0x20}};
  s.layout.mcn = "4901234567894";
  CdTextPack p{};
  p[0] = 0x80;
  s.layout.cdtext = {p};
  SectorExtent e;
  e.count = 100;
  e.path = "/some path/a.bin";
  e.sub_path = "/x.sub";
  s.extents = {e};
  MediaState back;
  std::string error;
  ASSERT_TRUE(ParseState(SerializeState(s), &back, &error)) << error;
  EXPECT_EQ(SerializeState(back), SerializeState(s));
  EXPECT_EQ(back.layout.tracks[0].index_starts.size(), 2u);
  EXPECT_EQ(back.extents[0].path, "/some path/a.bin");
  EXPECT_FALSE(ParseState("garbage\n", &back, &error));
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\nstatus 7\n", &back, &error));
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\ncdtext 12\n", &back, &error));
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\nextent\t1\t2\n", &back, &error));
  // A TOC whose sessions and tracks do not belong together.
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\nprofile 9\nstatus 1\nsession 1 1 1 600 0\n", &back, &error));
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\nprofile 9\nstatus 2\ntrack 1 1 0 0 -150 0 600 - 0\n", &back, &error));
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\nprofile 9\nstatus 2\nsession 1 1 1 600 0\n"
                          "track 1 2 0 0 -150 0 600 - 0\n", &back, &error));
  EXPECT_FALSE(ParseState("sorvel-emulated-drive 1\nprofile 9\nstatus 2\nsession 1 1 1 600 0\n"
                          "track 0 1 0 0 -150 0 600 - 0\n", &back, &error));
}


// Hostile CUE and CCD files: each either loads into a disc the drive can
// answer for, or is refused with a reason; nothing crashes or overflows.
class HostileImageTest : public ImageLoaderTest {
 protected:
  // Loads `image` and, when it loads, asks the drive for its TOC, disc and
  // track information and sectors around every track boundary (ProbeDrive).
  bool LoadAndProbe(const fs::path& image, std::string* error) {
    MediaState state;
    if (!LoadDiscImage(image.string(), 0x08, &state, error)) return false;
    DriveSettings settings;
    settings.state_path = (dir_ / ("drive" + std::to_string(++drives_))).string();
    settings.image = image.string();
    auto drive = SoftMmcDrive::Open(settings, error);
    if (!drive) return false;
    EXPECT_EQ(sorvel::testing::ProbeDrive(*drive), 0);
    return true;
  }
  int drives_ = 0;
};

TEST_F(HostileImageTest, CueSheets) {
  WriteSectors(dir_ / "h.bin", 20, true, 0);
  {
    // A BIN cut short in its last sector.
    std::ofstream cut(dir_ / "cut.bin", std::ios::binary);
    std::vector<char> bytes(2352 * 3 + 100, 0);
    cut.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  struct Case {
    const char* text;
    bool loads;
  } cases[] = {
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 99999999:00:00\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 2147483647:59:74\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 -1:00:00\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  PREGAP 99999999:00:00\n  INDEX 01 00:00:00\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n  PREGAP 150:00:00\n"
       "  INDEX 01 00:00:10\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 00 00:00:00\n  INDEX 01 00:00:05\n  INDEX 07 00:00:06\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:30\n", false},
      // An index past the end of its track's data.
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n  INDEX 02 00:00:25\n", false},
      {"FILE \"cut.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", true},
      {"FILE \"cut.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:03\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\nREM SESSION 2147483647\n TRACK 02 AUDIO\n"
       "  INDEX 01 00:00:10\n", true},
      {"FILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\nREM SESSION 99\n TRACK 02 AUDIO\n"
       "  INDEX 01 00:00:10\n", true},
      {"CDTEXTFILE \"none.cdt\"\nFILE \"h.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", false},
      {"FILE \"h.bin\" BINARY\n TRACK 99 AUDIO\n  INDEX 01 00:00:00\n", true},
      {"FILE \"h.bin\"\n", false},
      {"\xEF\xBB\xBF\"\"\"\n\x01\x02\xFF garbage\n", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteText(dir_ / "h.cue", c.text);
    std::string error;
    bool loaded = LoadAndProbe(dir_ / "h.cue", &error);
    EXPECT_EQ(loaded, c.loads) << error;
    if (!loaded) {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST_F(HostileImageTest, CloneCdFiles) {
  const int sectors = 40;
  WriteSectors(dir_ / "k.img", sectors, true, 0);
  {
    std::ofstream sub(dir_ / "k.sub", std::ios::binary);
    std::vector<char> zeros(96 * sectors, 0);
    sub.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  auto entry = [](int n, const std::string& point, const std::string& plba, const std::string& extra = "") {
    return "[Entry " + std::to_string(n) + "]\nSession=1\nPoint=" + point + "\nADR=1\nControl=0\nPLBA=" + plba +
           "\n" + extra;
  };
  auto ccd = [&](const std::string& a2, const std::string& t1, const std::string& t2, const std::string& tracks) {
    return "[CloneCD]\nVersion=3\n" + entry(0, "0xa0", "0", "PMin=1\n") + entry(1, "0xa1", "0", "PMin=2\n") +
           entry(2, "0xa2", a2) + entry(3, "0x01", t1) + entry(4, "0x02", t2) + tracks;
  };
  struct Case {
    std::string text;
    bool loads;
  } cases[] = {
      {ccd("40", "0", "20", ""), true},
      // A lead-out past the end of the image.
      {ccd("41", "0", "20", ""), false},
      {ccd("40", "0", "20", "[TRACK 2]\nINDEX 0=25\nINDEX 1=20\n"), false},
      {ccd("40", "0", "20", "[TRACK 1]\nINDEX 1=0\nINDEX 2=40\n"), false},
      {ccd("99999999999", "0", "20", ""), false},
      {ccd("-2147483648", "0", "20", ""), false},
      {ccd("40", "0", "4000000", ""), false},
      {ccd("40", "30", "20", ""), false},
      {ccd("40", "0", "-500000", ""), false},
      {ccd("40", "0", "20", "[TRACK 2]\nINDEX 0=-999999999\nINDEX 1=20\n"), false},
      {ccd("40", "0", "20", "[TRACK 2]\nINDEX 1=20\nINDEX 2=99999999999\n"), false},
      {ccd("40", "0", "20", "[TRACK 2]\nMODE=77\n"), false},
      {"[CloneCD]\n[Entry 0]\nPoint=0x01\nPLBA=0\n", false},
      {"garbage\x01\x02", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteText(dir_ / "k.ccd", c.text);
    std::string error;
    bool loaded = LoadAndProbe(dir_ / "k.ccd", &error);
    EXPECT_EQ(loaded, c.loads) << error;
  }
  fs::remove(dir_ / "k.sub");
  WriteText(dir_ / "k.ccd", cases[0].text);
  std::string error;
  EXPECT_FALSE(LoadAndProbe(dir_ / "k.ccd", &error));
  EXPECT_NE(error.find("k.sub"), std::string::npos) << error;
}

// An ISO no medium of the drive's kind holds: 449,851 sectors (one past
// 99:59:74) for a CD, 62,500,865 for anything else.
TEST_F(ImageLoaderTest, IsoLargerThanTheMediumIsRefused) {
  const struct {
    uint16_t profile;
    uintmax_t sectors;
    bool loads;
  } cases[] = {{0x08, 449850, true}, {0x08, 449851, false}, {0x40, 62500864, true}, {0x40, 62500865, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sectors);
    WriteText(dir_ / "big.iso", "");
    fs::resize_file(dir_ / "big.iso", c.sectors * 2048);
    MediaState state;
    std::string error;
    EXPECT_EQ(LoadDiscImage((dir_ / "big.iso").string(), c.profile, &state, &error), c.loads) << error;
    if (c.loads) {
      EXPECT_EQ(state.capacity, static_cast<int64_t>(c.sectors));
    } else {
      EXPECT_NE(error.find("more sectors than the medium"), std::string::npos) << error;
    }
  }
}

}  // namespace
}  // namespace sorvel::platform::emu
