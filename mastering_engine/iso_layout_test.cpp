#include "mastering_engine/iso_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mastering_engine/iso_image_stream.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint32_t Be32(const uint8_t* p) { return p[3] | p[2] << 8 | p[1] << 16 | static_cast<uint32_t>(p[0]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[1] | p[0] << 8); }

// A both-endian 32-bit field: the value little-endian, then big-endian.
uint32_t Both32(const uint8_t* p) {
  EXPECT_EQ(Le32(p), Be32(p + 4));
  return Le32(p);
}
uint16_t Both16(const uint8_t* p) {
  EXPECT_EQ(Le16(p), Be16(p + 2));
  return Le16(p);
}

const uint8_t* Sector(const DataTrackLayout& l, uint32_t lba) { return l.head.data() + size_t{lba} * 2048; }

struct Record {
  uint32_t offset;  // within the extent
  uint8_t length;
  uint32_t extent;
  uint32_t size;
  uint8_t flags;
  std::string id;
  const uint8_t* date;
};

// The records of one directory extent, checking that none crosses a sector.
std::vector<Record> ReadRecords(const DataTrackLayout& l, uint32_t lba, uint32_t bytes) {
  std::vector<Record> out;
  const uint8_t* base = Sector(l, lba);
  uint32_t pos = 0;
  while (pos < bytes) {
    uint8_t len = base[pos];
    if (len == 0) {
      pos = (pos / 2048 + 1) * 2048;
      continue;
    }
    EXPECT_LE(pos % 2048 + len, 2048u) << "record crosses a sector at " << pos;
    Record r{pos, len, Both32(base + pos + 2), Both32(base + pos + 10), base[pos + 25],
             std::string(reinterpret_cast<const char*>(base + pos + 33), base[pos + 32]), base + pos + 18};
    EXPECT_EQ(len, 33 + r.id.size() + (r.id.size() % 2 == 0 ? 1 : 0));
    EXPECT_EQ(Both16(base + pos + 28), 1);
    out.push_back(r);
    pos += len;
  }
  return out;
}

uint32_t Build(IsoImageStream& s, const std::string& label = "LABEL") { return s.BuildDataTrack(label); }

struct GoldenCase {
  int variant;
  uint32_t term, l_path, m_path, svd_l, svd_m, dir_start, svd_dir, data_start;
};

std::ostream& operator<<(std::ostream& os, const GoldenCase& c) { return os << "variant " << c.variant; }

class EmptyRootLayout : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(EmptyRootLayout, PlacesEverythingAtTheGoldenAddresses) {
  const GoldenCase& g = GetParam();
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(g.variant));
  ASSERT_EQ(Build(s), 300u);
  const DataTrackLayout& l = s.Layout();
  EXPECT_EQ(l.primary_l_path, g.l_path);
  EXPECT_EQ(l.primary_m_path, g.m_path);
  EXPECT_EQ(l.primary_path_size, 10u);
  EXPECT_EQ(l.primary_dir_start, g.dir_start);
  EXPECT_EQ(l.joliet_l_path, g.svd_l);
  EXPECT_EQ(l.joliet_m_path, g.svd_m);
  EXPECT_EQ(l.joliet_dir_start, g.svd_dir);
  EXPECT_EQ(l.data_start, g.data_start);
  EXPECT_EQ(s.DataTrackLength(), g.data_start);
  ASSERT_EQ(l.head.size(), size_t{g.data_start} * 2048);
  for (size_t i = 0; i < 16 * 2048; ++i) ASSERT_EQ(l.head[i], 0) << i;
  EXPECT_EQ(Sector(l, 16)[0], 1);
  EXPECT_EQ(Sector(l, g.term)[0], 255);
  EXPECT_EQ(std::memcmp(Sector(l, g.term) + 1, "CD001\x01", 6), 0);
  // Root only: length 1, extent, parent 1, identifier 0, pad.
  const uint8_t* lp = Sector(l, g.l_path);
  EXPECT_EQ(lp[0], 1);
  EXPECT_EQ(Le32(lp + 2), g.dir_start);
  EXPECT_EQ(Le16(lp + 6), 1);
  const uint8_t* mp = Sector(l, g.m_path);
  EXPECT_EQ(Be32(mp + 2), g.dir_start);
  EXPECT_EQ(Be16(mp + 6), 1);
  auto records = ReadRecords(l, g.dir_start, 2048);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].id, std::string(1, '\0'));
  EXPECT_EQ(records[1].id, std::string(1, '\1'));
  for (const Record& r : records) {
    EXPECT_EQ(r.length, 34);
    EXPECT_EQ(r.extent, g.dir_start);
    EXPECT_EQ(r.size, 2048u);
    EXPECT_EQ(r.flags, 2);
  }
  if (g.svd_l != 0) {
    EXPECT_EQ(Sector(l, 17)[0], 2);
    EXPECT_EQ(Le32(Sector(l, g.svd_l) + 2), g.svd_dir);
    EXPECT_EQ(ReadRecords(l, g.svd_dir, 2048)[0].extent, g.svd_dir);
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, EmptyRootLayout,
                         ::testing::Values(GoldenCase{0, 17, 18, 19, 0, 0, 20, 0, 21},
                                           GoldenCase{4, 17, 18, 19, 0, 0, 20, 0, 21},
                                           GoldenCase{16, 18, 19, 20, 21, 22, 23, 24, 25},
                                           GoldenCase{17, 18, 19, 20, 21, 22, 23, 24, 25}));

TEST(IsoLayout, PrimaryAndSupplementaryDescriptorsByteForByte) {
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(16));
  ASSERT_TRUE(s.AddISODummyFile("x", 0, 0, 0));
  std::time_t before = std::time(nullptr);
  ASSERT_EQ(Build(s, "ラベル Disc"), 300u);
  std::time_t after = std::time(nullptr);
  const DataTrackLayout& l = s.Layout();
  const uint8_t* p = Sector(l, 16);
  EXPECT_EQ(std::memcmp(p, "\x01" "CD001" "\x01\x00", 8), 0);
  for (int i = 8; i < 40; ++i) EXPECT_EQ(p[i], ' ') << i;
  std::string label = NameToCp932("ラベル Disc");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 40), label.size()), label);
  for (size_t i = 40 + label.size(); i < 72; ++i) EXPECT_EQ(p[i], ' ') << i;
  for (int i = 72; i < 80; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(Both32(p + 80), 300u);
  for (int i = 88; i < 120; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(Both16(p + 120), 1);
  EXPECT_EQ(Both16(p + 124), 1);
  EXPECT_EQ(Both16(p + 128), 2048);
  EXPECT_EQ(Both32(p + 132), 10u);
  EXPECT_EQ(Le32(p + 140), 19u);
  EXPECT_EQ(Le32(p + 144), 0u);
  EXPECT_EQ(Be32(p + 148), 20u);
  EXPECT_EQ(Le32(p + 152), 0u);
  EXPECT_EQ(p[156], 34);
  EXPECT_EQ(Both32(p + 158), 23u);
  EXPECT_EQ(Both32(p + 166), 2048u);
  EXPECT_EQ(p[181], 2);
  EXPECT_EQ(p[188], 1);
  EXPECT_EQ(p[189], 0);
  std::string preparer = "IMAGE MASTERING ENGINE -TAZOL- VERSION 1.4.4";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 446), preparer.size()), preparer);
  for (size_t i = 446 + preparer.size(); i < 574; ++i) EXPECT_EQ(p[i], ' ');
  for (int i : {190, 318, 574, 702, 739, 776}) EXPECT_EQ(p[i], ' ') << i;
  // Creation and modification: 16 digits of local time and the real offset from UTC.
  std::string created(reinterpret_cast<const char*>(p + 813), 16);
  std::tm tm{};
  localtime_r(&before, &tm);
  char digits[17];
  std::strftime(digits, sizeof digits, "%Y%m%d%H%M%S", &tm);
  if (before == after) {
    EXPECT_EQ(created, std::string(digits) + "00");
  }
  EXPECT_EQ(static_cast<int8_t>(p[829]), tm.tm_gmtoff / 900);
  EXPECT_EQ(std::memcmp(p + 830, p + 813, 17), 0);
  EXPECT_EQ(std::memcmp(p + 847, "0000000000000000\0", 17), 0);
  EXPECT_EQ(std::memcmp(p + 864, "0000000000000000\0", 17), 0);
  EXPECT_EQ(p[881], 1);
  for (int i = 882; i < 2048; ++i) ASSERT_EQ(p[i], 0) << i;
  // The root record carries the descriptor's date with the real offset too.
  EXPECT_EQ(static_cast<int8_t>(p[156 + 24]), tm.tm_gmtoff / 900);

  const uint8_t* q = Sector(l, 17);
  EXPECT_EQ(std::memcmp(q, "\x02" "CD001" "\x01\x00", 8), 0);
  for (int i = 8; i < 40; i += 2) EXPECT_TRUE(q[i] == 0 && q[i + 1] == ' ') << i;
  std::string ucs = NameToUcs2Be("ラベル Disc");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(q + 40), ucs.size()), ucs);
  for (size_t i = 40 + ucs.size(); i < 72; i += 2) EXPECT_TRUE(q[i] == 0 && q[i + 1] == ' ');
  EXPECT_EQ(std::memcmp(q + 88, "%/E", 3), 0);
  for (int i = 91; i < 120; ++i) EXPECT_EQ(q[i], 0);
  EXPECT_EQ(Both32(q + 80), 300u);
  EXPECT_EQ(Le32(q + 140), 21u);
  EXPECT_EQ(Be32(q + 148), 22u);
  EXPECT_EQ(Both32(q + 158), 24u);
  for (int off : {190, 318, 446, 574}) {
    for (int i = off; i < off + 128; i += 2) ASSERT_TRUE(q[i] == 0 && q[i + 1] == ' ') << i;
  }
  for (int off : {702, 739, 776}) {
    for (int i = off; i < off + 36; i += 2) ASSERT_TRUE(q[i] == 0 && q[i + 1] == ' ') << i;
    EXPECT_EQ(q[off + 36], 0);
  }
  EXPECT_EQ(std::memcmp(q + 813, p + 813, 17), 0);
  EXPECT_EQ(q[881], 1);
}

TEST(IsoLayout, LongLabelsAreCutAtACharacterBoundary) {
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(16));
  std::string label(1, 'A');
  for (int i = 0; i < 20; ++i) label += "日";  // 1 + 40 CP932 bytes
  ASSERT_GT(Build(s, label), 0u);
  const uint8_t* p = Sector(s.Layout(), 16);
  std::string cp = NameToCp932(label).substr(0, 31);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 40), 31), cp);
  EXPECT_EQ(p[71], ' ');
  const uint8_t* q = Sector(s.Layout(), 17);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(q + 40), 32), NameToUcs2Be(label).substr(0, 32));
}

TEST(IsoLayout, OneEmptyDirectory) {
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(0));
  ASSERT_TRUE(s.MakeISODirectory("sub", 0, 0));
  ASSERT_EQ(Build(s), 300u);
  const DataTrackLayout& l = s.Layout();
  EXPECT_EQ(l.primary_l_path, 18u);
  EXPECT_EQ(l.primary_m_path, 19u);
  EXPECT_EQ(l.primary_dir_start, 20u);
  EXPECT_EQ(l.data_start, 22u);
  EXPECT_EQ(s.DataTrackLength(), 22u);
  EXPECT_EQ(l.primary_path_size, 10u + 12u);
  const uint8_t expected_l[] = {1, 0, 20, 0, 0, 0, 1, 0, 0, 0, 3, 0, 21, 0, 0, 0, 1, 0, 'S', 'U', 'B', 0};
  const uint8_t expected_m[] = {1, 0, 0, 0, 0, 20, 0, 1, 0, 0, 3, 0, 0, 0, 0, 21, 0, 1, 'S', 'U', 'B', 0};
  EXPECT_EQ(std::memcmp(Sector(l, 18), expected_l, sizeof expected_l), 0);
  EXPECT_EQ(std::memcmp(Sector(l, 19), expected_m, sizeof expected_m), 0);
  auto root = ReadRecords(l, 20, 2048);
  ASSERT_EQ(root.size(), 3u);
  EXPECT_EQ(root[2].id, "SUB");
  EXPECT_EQ(root[2].extent, 21u);
  EXPECT_EQ(root[2].flags, 2);
  auto sub = ReadRecords(l, 21, 2048);
  ASSERT_EQ(sub.size(), 2u);
  EXPECT_EQ(sub[0].extent, 21u);
  EXPECT_EQ(sub[1].extent, 20u);
}

TEST(IsoLayout, PathTableOrdersByLevelThenDepthFirst) {
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(4));
  // \A\A1, \A\A2\DEEP, \B\B1
  ASSERT_TRUE(s.MakeISODirectory("A", 0, 0));
  ASSERT_TRUE(s.MakeISODirectory("B", 0, 0));
  ASSERT_TRUE(s.ChangeISODirectory("\\A"));
  ASSERT_TRUE(s.MakeISODirectory("A1", 0, 0));
  ASSERT_TRUE(s.MakeISODirectory("A2", 0, 0));
  ASSERT_TRUE(s.ChangeISODirectory("A2"));
  ASSERT_TRUE(s.MakeISODirectory("DEEP", 0, 0));
  ASSERT_TRUE(s.ChangeISODirectory("\\B"));
  ASSERT_TRUE(s.MakeISODirectory("B1", 0, 0));
  ASSERT_GT(Build(s), 0u);
  const DataTrackLayout& l = s.Layout();
  // Extents in depth-first order: root 20 (tables at 18, 19), A 21, A1 22, A2 23, DEEP 24, B 25, B1 26.
  struct Row {
    std::string id;
    uint32_t extent;
    uint16_t parent;
  };
  const std::vector<Row> expected = {{std::string(1, '\0'), 20, 1}, {"A", 21, 1},  {"B", 25, 1},  {"A1", 22, 2},
                                     {"A2", 23, 2},                 {"B1", 26, 3}, {"DEEP", 24, 5}};
  const uint8_t* p = Sector(l, l.primary_l_path);
  for (const Row& row : expected) {
    ASSERT_EQ(p[0], row.id.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 8), p[0]), row.id);
    EXPECT_EQ(Le32(p + 2), row.extent) << row.id;
    EXPECT_EQ(Le16(p + 6), row.parent) << row.id;
    p += 8 + p[0] + (p[0] % 2);
  }
  EXPECT_EQ(l.data_start, 27u);
}

TEST(IsoLayout, FilesDummiesAndHiddenFlags) {
  testing::ScratchDir dir;
  std::string two = (dir / "two").string();
  std::ofstream(two) << std::string(2049, 'x');
  std::string empty = (dir / "empty").string();
  std::ofstream(empty).flush();
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(0));
  ASSERT_TRUE(s.AddISOFile("a.bin", two));
  ASSERT_TRUE(s.AddISOFile("b.bin", two));
  ASSERT_TRUE(s.AddISOFile("c.bin", empty));
  ASSERT_TRUE(s.AddISODummyFile("d.bin", 2, 123456, 0));
  ASSERT_TRUE(s.MakeISODirectory("hid", 2, 0));
  ASSERT_GT(Build(s), 0u);
  const DataTrackLayout& l = s.Layout();
  uint32_t ds = l.data_start;
  EXPECT_EQ(ds, 22u);
  EXPECT_EQ(l.file_sectors, 4u);
  EXPECT_EQ(l.volume_size, 300u);
  auto records = ReadRecords(l, 20, 2048);
  ASSERT_EQ(records.size(), 7u);
  struct Want {
    std::string id;
    uint32_t extent, size;
    uint8_t flags;
  };
  const std::vector<Want> want = {{"A.BIN;1", ds, 2049, 0},
                                  {"B.BIN;1", ds + 2, 2049, 0},
                                  {"C.BIN;1", 0, 0, 0},
                                  {"D.BIN;1", kIsoDummyExtent, 123456, 1},
                                  {"HID", 21, 2048, 3}};
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(records[i + 2].id, want[i].id);
    EXPECT_EQ(records[i + 2].extent, want[i].extent) << want[i].id;
    EXPECT_EQ(records[i + 2].size, want[i].size) << want[i].id;
    EXPECT_EQ(records[i + 2].flags, want[i].flags) << want[i].id;
  }
  ASSERT_EQ(l.files.size(), 2u);
  EXPECT_EQ(l.files[1].lba, ds + 2);
  EXPECT_EQ(s.DataTrackLength(), ds + 4);
}

TEST(IsoLayout, LargeDirectoriesPackRecordsPerSector) {
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(4));
  // 34 + 34 + 20 records of 102 bytes (identifier 66 + ";1", pad) = 2108 bytes.
  for (int i = 0; i < 20; ++i) {
    char name[80];
    std::snprintf(name, sizeof name, "%02d%s", i, std::string(64, 'n').c_str());
    ASSERT_TRUE(s.AddISODummyFile(name, 0, 0, 0));
  }
  ASSERT_GT(Build(s), 0u);
  const DataTrackLayout& l = s.Layout();
  auto records = ReadRecords(l, 20, 4096);
  ASSERT_EQ(records.size(), 22u);
  EXPECT_EQ(records[0].size, 4096u);
  EXPECT_EQ(records[20].offset, 68u + 18 * 102);
  EXPECT_EQ(records[21].offset, 2048u);  // did not fit the rest of the first sector
  EXPECT_EQ(l.data_start, 22u);
  // The descriptor's root record agrees with ".".
  EXPECT_EQ(Both32(Sector(l, 16) + 158), 20u);
  EXPECT_EQ(Both32(Sector(l, 16) + 166), 4096u);
}

TEST(IsoLayout, RecordDatesCarryTheRealOffsetOfThatMoment) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  struct Zone {
    const char* tz;
    int8_t winter, summer;
  };
  const Zone zones[] = {{"Asia/Tokyo", 36, 36}, {"America/New_York", -20, -16}, {"UTC", 0, 0}};
  for (const Zone& z : zones) {
    setenv("TZ", z.tz, 1);
    tzset();
    IsoImageStream s;
    ASSERT_TRUE(s.InitISOFS(0));
    const int64_t winter = 1700000000;  // 2023-11-14 22:13:20 UTC
    const int64_t summer = 1690000000;  // 2023-07-22 04:26:40 UTC
    ASSERT_TRUE(s.AddISODummyFile("w", 0, 0, winter));
    ASSERT_TRUE(s.AddISODummyFile("s", 0, 0, summer));
    ASSERT_GT(Build(s), 0u);
    auto records = ReadRecords(s.Layout(), 20, 2048);
    ASSERT_EQ(records.size(), 4u);
    const Record& rs = records[2];
    const Record& rw = records[3];
    EXPECT_EQ(static_cast<int8_t>(rw.date[6]), z.winter) << z.tz;
    EXPECT_EQ(static_cast<int8_t>(rs.date[6]), z.summer) << z.tz;
    std::tm tm{};
    time_t t = winter;
    localtime_r(&t, &tm);
    const uint8_t want[] = {static_cast<uint8_t>(tm.tm_year), static_cast<uint8_t>(tm.tm_mon + 1),
                            static_cast<uint8_t>(tm.tm_mday), static_cast<uint8_t>(tm.tm_hour),
                            static_cast<uint8_t>(tm.tm_min), static_cast<uint8_t>(tm.tm_sec)};
    EXPECT_EQ(std::memcmp(rw.date, want, 6), 0) << z.tz;
    // The root's "." is dated 2000-01-01 00:00:00 local time.
    const uint8_t y2k[] = {100, 1, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(records[0].date, y2k, 6), 0) << z.tz;
  }
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(IsoLayout, ThreeGiBFileKeepsItsTrueSize) {
  testing::ScratchDir dir;
  std::string big = (dir / "big.bin").string();
  std::ofstream(big).flush();
  ASSERT_EQ(truncate(big.c_str(), 3LL << 30), 0);
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(16));
  ASSERT_TRUE(s.AddISOFile("big.bin", big));
  ASSERT_TRUE(s.AddISODummyFile("z", 0, 0, 0));
  uint32_t volume = Build(s);
  const DataTrackLayout& l = s.Layout();
  const uint32_t sectors = (3u << 30) / 2048;
  EXPECT_EQ(l.file_sectors, sectors);
  EXPECT_EQ(volume, l.data_start + sectors + 150);
  EXPECT_EQ(s.DataTrackLength(), l.data_start + sectors);
  for (uint32_t start : {l.primary_dir_start, l.joliet_dir_start}) {
    auto records = ReadRecords(l, start, 2048);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].size, 3u << 30);
    EXPECT_EQ(records[2].extent, l.data_start);
  }
}

TEST(IsoLayout, EstimateAgreesWithTheLayoutAndFollowsChanges) {
  std::mt19937 rng(7);
  for (int variant : {0, 1, 2, 3, 4, 16, 17}) {
    IsoImageStream s;
    ASSERT_TRUE(s.InitISOFS(variant));
    for (int step = 0; step < 400; ++step) {
      std::string name("entry name ");
      name += std::to_string(rng() % 300);
      name.append(rng() % 40, 'q');
      name += ".ext";
      switch (rng() % 8) {
        case 0:
          s.MakeISODirectory(name, 0, 0);
          break;
        case 1:
          s.ChangeISODirectory(rng() % 2 ? "\\" : "..");
          break;
        case 2: {
          const auto& entries = s.Current().entries;
          if (!entries.empty()) {
            auto it = entries.begin();
            std::advance(it, rng() % entries.size());
            if (it->second->is_directory && rng() % 2) {
              s.ChangeISODirectory(it->second->name);
            } else if (rng() % 2) {
              s.RemoveISOFile(std::string(it->second->name));
            } else {
              name += "renamed";
              s.RenameISOFile(std::string(it->second->name), name);
            }
          }
          break;
        }
        default:
          s.AddISODummyFile(name, 0, rng() % 100000, 0);
      }
      if (step % 50 == 49) {
        uint32_t estimate = s.DataTrackLength();
        ASSERT_GT(Build(s), 0u);
        EXPECT_EQ(estimate, s.Layout().data_start + s.Layout().file_sectors) << variant << " " << step;
      }
    }
  }
}

}  // namespace
}  // namespace sorvel
