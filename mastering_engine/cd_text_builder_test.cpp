#include "mastering_engine/cd_text_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "mastering_engine/wave_test_files.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pack(const CdTextBuilder& b, int i) {
  auto begin = b.Packs().begin() + i * CdTextBuilder::kPackSize;
  return Bytes(begin, begin + CdTextBuilder::kPackSize);
}

Bytes Head(const Bytes& pack, size_t n) { return Bytes(pack.begin(), pack.begin() + static_cast<long>(n)); }

// Every pack's CRC, computed bit by bit here: CRC-16 0x1021, initial 0, inverted, high byte first.
void ExpectCrcs(const CdTextBuilder& b) {
  for (int i = 0; i < b.PackCount(); ++i) {
    Bytes p = Pack(b, i);
    uint32_t crc = 0;
    for (int k = 0; k < 16; ++k) {
      for (int bit = 7; bit >= 0; --bit) {
        uint32_t in = (p[static_cast<size_t>(k)] >> bit) & 1;
        uint32_t top = (crc >> 15) & 1;
        crc = (crc << 1) & 0xFFFF;
        if (in ^ top) crc ^= 0x1021;
      }
    }
    crc = ~crc & 0xFFFF;
    EXPECT_EQ(p[16], crc >> 8) << "pack " << i;
    EXPECT_EQ(p[17], crc & 0xFF) << "pack " << i;
  }
}

// The CRC is the one of MMC Annex J (register preset 0, result inverted), the same
// form as the Q subchannel CRC: 0x7560 for the first pack here. A register preset
// to 0xFFFF would give 0x1F6A, which readers that check the CRC reject.
TEST(CdTextBuilder, DiscTitleAbcGivesTheFourKnownPacks) {
  CdTextBuilder b;
  TrackTextBlock disc;
  disc.Set(0, 0, "ABC");
  b.SetEntry(0, disc);
  ASSERT_TRUE(b.Build(1));
  ASSERT_EQ(b.PackCount(), 4);
  EXPECT_EQ(Pack(b, 0), (Bytes{0x80, 0, 0, 0, 'A', 'B', 'C', 0, ' ', 0, 0, 0, 0, 0, 0, 0, 0x75, 0x60}));
  EXPECT_EQ(Head(Pack(b, 1), 16), (Bytes{0x8F, 0, 1, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Head(Pack(b, 2), 16), (Bytes{0x8F, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0}));
  EXPECT_EQ(Head(Pack(b, 3), 16), (Bytes{0x8F, 2, 3, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}));
  ExpectCrcs(b);
}

TEST(CdTextBuilder, NoTextGivesNoPacks) {
  CdTextBuilder b;
  b.SetEntry(0, TrackTextBlock{});
  EXPECT_FALSE(b.Build(3));
  EXPECT_EQ(b.PackCount(), 0);
}

TEST(CdTextBuilder, JapaneseBlockAloneIsBlockZeroWithDoubleByteFlags) {
  CdTextBuilder b;
  TrackTextBlock track;
  track.Set(1, 1, "歌手");  // performer of track 1
  b.SetEntry(1, track);
  ASSERT_TRUE(b.Build(1));
  // Stream: disc blank 81 40 00 00, then "歌手" in CP932 (89 CC 8E E8) 00 00 = 12 bytes.
  ASSERT_EQ(b.PackCount(), 4);
  EXPECT_EQ(Head(Pack(b, 0), 16),
            (Bytes{0x81, 0, 0, 0x80, 0x81, 0x40, 0, 0, 0x89, 0xCC, 0x8E, 0xE8, 0, 0, 0, 0}));
  for (int i = 0; i < b.PackCount(); ++i) EXPECT_EQ(Pack(b, i)[3] & 0xF0, 0x80) << i;
  Bytes size0 = Pack(b, 1);
  EXPECT_EQ(size0[4], 0x80);        // character code
  EXPECT_EQ(size0[8 + 1], 1);       // one performer pack
  EXPECT_EQ(Pack(b, 3)[8], 0x69);   // language code in the first slot
  EXPECT_EQ(Pack(b, 3)[9], 0x00);
  ExpectCrcs(b);
}

TEST(CdTextBuilder, BothBlocksNumberAndListEachOther) {
  CdTextBuilder b;
  TrackTextBlock disc;
  disc.Set(0, 0, "Album");
  disc.Set(1, 0, "アルバム");
  b.SetEntry(0, disc);
  ASSERT_TRUE(b.Build(2));
  // Block 0: "Album\0 \0 \0" = 10 bytes -> 1 pack + 3 size packs.
  // Block 1: 8 + 2 + 2+2 + 2+2 = 18 bytes -> 2 packs + 3 size packs.
  ASSERT_EQ(b.PackCount(), 9);
  EXPECT_EQ(Pack(b, 4)[2], 0);            // block 1 restarts its sequence
  EXPECT_EQ(Pack(b, 4)[3], 0x80 | 0x10);  // double-byte, block number 1
  for (int block_start : {0, 4}) {
    int second_size_pack = block_start + (block_start == 0 ? 2 : 3);
    Bytes p = Pack(b, second_size_pack);
    EXPECT_EQ(p[0], 0x8F);
    EXPECT_EQ(p[1], 1);
    EXPECT_EQ(p[12], 3);  // last sequence number of block 0
    EXPECT_EQ(p[13], 4);  // of block 1
    Bytes q = Pack(b, second_size_pack + 1);
    EXPECT_EQ(q[8], 0x09);
    EXPECT_EQ(q[9], 0x69);
  }
  ExpectCrcs(b);
}

TEST(CdTextBuilder, CharacterPositionOfAPackStartingInsideALongTitle) {
  CdTextBuilder b;
  TrackTextBlock disc, track;
  disc.Set(0, 0, "Disc!");
  track.Set(0, 0, "ABCDEFGHIJKLMNOPQRST");
  b.SetEntry(0, disc);
  b.SetEntry(1, track);
  ASSERT_TRUE(b.Build(1));
  // "Disc!\0" (6) + 20 characters: pack 1 starts at byte 6 of track 1's title, pack 2 at byte 18.
  Bytes p1 = Pack(b, 1), p2 = Pack(b, 2);
  EXPECT_EQ(p1[1], 1);
  EXPECT_EQ(p1[3], 6);
  EXPECT_EQ(p2[1], 1);
  EXPECT_EQ(p2[3], 15);
  EXPECT_EQ(p2[4], 'S');
}

TEST(CdTextBuilder, EnglishTextIsLatin1) {
  CdTextBuilder b;
  TrackTextBlock disc;
  disc.Set(0, 0, "Caf\xC3\xA9 \xE6\xAD\x8C");  // "Café 歌": é fits, the kanji does not
  b.SetEntry(0, disc);
  ASSERT_TRUE(b.Build(0));
  Bytes p = Pack(b, 0);
  EXPECT_EQ(Bytes(p.begin() + 4, p.begin() + 11), (Bytes{'C', 'a', 'f', 0xE9, ' ', '?', 0}));
}

TEST(CdTextBuilder, BlockOverflowingTheSequenceByteIsLeftOut) {
  CdTextBuilder b;
  TrackTextBlock disc;
  disc.Set(0, 5, std::string(254 * 12, 'x'));  // 255 message packs + 3 size packs
  disc.Set(1, 0, "題");
  b.SetEntry(0, disc);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(b.Build(1));
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("more than 256"), std::string::npos) << out;
  // Only the Japanese block remains, numbered 0.
  for (int i = 0; i < b.PackCount(); ++i) EXPECT_EQ(Pack(b, i)[3] & 0xF0, 0x80);
  EXPECT_EQ(b.PackCount(), 4);

  // Exactly 256 packs in one block still fit: 253 text packs + 3.
  CdTextBuilder fit;
  TrackTextBlock full;
  full.Set(0, 5, std::string(253 * 12 - 4, 'y'));  // + "\0" + " \0" for track 1 + "\0"... = 253 packs
  fit.SetEntry(0, full);
  ASSERT_TRUE(fit.Build(1));
  EXPECT_EQ(fit.PackCount(), 256);
  EXPECT_EQ(Pack(fit, 255)[2], 255);
  ExpectCrcs(fit);
}

// The count a burn checks before it starts is the count the builder makes:
// texts of both blocks, empty entries, characters a block's code lacks, a
// Japanese block needing 651 packs and blocks at the limit and one past it.
TEST(CdTextBuilder, PacksOfABlockAreCountedAsBuilt) {
  struct Case {
    const char* name;
    int tracks;
    std::map<std::pair<int, int>, std::string> texts;  // (entry, kind) -> text, both blocks
    int block;                                        // whose texts `texts` are
    int packs;                                        // 0 when not known beforehand
  };
  const std::string kanji = "\xE6\xAD\x8C";  // 歌, two bytes in CP932
  auto repeat = [](const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += text;
    return out;
  };
  const Case cases[] = {
      {"english title", 1, {{{0, 0}, "ABC"}}, 0, 4},
      {"english with gaps", 5, {{{0, 0}, "Disc"}, {{3, 0}, "Caf\xC3\xA9 \xE6\xAD\x8C"}, {{5, 4}, "x"}}, 0, 0},
      {"japanese titles", 12, {{{0, 0}, repeat(kanji, 7)}, {{1, 1}, "ab"}, {{12, 5}, repeat(kanji, 40)}}, 1, 0},
      // 3,885 characters of 2 bytes, the terminator and track 1's blank with
      // its terminator: 7,776 bytes, 648 packs, and the 3 size packs.
      {"japanese 651", 1, {{{0, 0}, repeat(kanji, 3885)}}, 1, 651},
      {"english at the limit", 1, {{{0, 5}, std::string(253 * 12 - 4, 'y')}}, 0, 256},
      {"english one past", 1, {{{0, 5}, std::string(253 * 12 - 2, 'y')}}, 0, 257},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CdTextBuilder b;
    std::vector<TrackTextBlock> entries(static_cast<size_t>(c.tracks) + 1);
    for (const auto& [where, text] : c.texts) entries[static_cast<size_t>(where.first)].Set(c.block, where.second, text);
    for (size_t e = 0; e < entries.size(); ++e) b.SetEntry(static_cast<int>(e), entries[e]);
    const int counted = platform::CdTextPacksOfBlock(c.block, c.tracks, [&](int entry, int kind) {
      return entries[static_cast<size_t>(entry)].Get(c.block, kind);
    });
    if (c.packs != 0) {
      EXPECT_EQ(counted, c.packs);
    }
    ::testing::internal::CaptureStdout();
    const bool built = b.Build(c.tracks);
    const std::string out = ::testing::internal::GetCapturedStdout();
    if (counted <= CdTextBuilder::kMaxPacksPerBlock) {
      ASSERT_TRUE(built);
      EXPECT_EQ(b.PackCount(), counted);
    } else {
      EXPECT_FALSE(built);
      EXPECT_NE(out.find("needs " + std::to_string(counted) + " packs"), std::string::npos) << out;
    }
    // The other block has no text.
    EXPECT_EQ(platform::CdTextPacksOfBlock(1 - c.block, c.tracks,
                                           [&](int entry, int kind) { return entries[static_cast<size_t>(entry)].Get(1 - c.block, kind); }),
              0);
  }
}

// cdrskin decodes a pack file of ours into the texts we set.
TEST(CdTextBuilder, CdrskinReadsOurPackFile) {
  if (!testing::RequireTool("cdrskin")) return;
  CdTextBuilder b;
  TrackTextBlock disc, t1, t2;
  disc.Set(0, 0, "Our Album");
  disc.Set(0, 1, "The Band");
  t1.Set(0, 0, "First Song");
  t1.Set(0, 2, "Writer One");
  t2.Set(0, 0, "Second Song");
  t2.Set(0, 5, "A message");
  b.SetEntry(0, disc);
  b.SetEntry(1, t1);
  b.SetEntry(2, t2);
  ASSERT_TRUE(b.Build(2));
  ExpectCrcs(b);
  testing::ScratchDir dir;
  std::string file;
  uint32_t length = static_cast<uint32_t>(b.Packs().size() + 2);
  file.push_back(static_cast<char>(length >> 8));
  file.push_back(static_cast<char>(length));
  file.append(2, '\0');
  file.append(b.Packs().begin(), b.Packs().end());
  testing::WriteFile(dir / "text.cdt", file);
  std::string out;
  ASSERT_EQ(testing::RunCommand("cdrskin textfile_to_v07t=" + (dir / "text.cdt").string() + " 2>&1", &out), 0) << out;
  // "Key   = value" lines, the padding before "=" dropped.
  std::map<std::string, std::string> sheet;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    key.erase(key.find_last_not_of(' ') + 1);
    sheet[key] = line.substr(eq + 3);
  }
  EXPECT_EQ(sheet["Text Code"], "8859");
  EXPECT_EQ(sheet["Language Code"], "English");
  EXPECT_EQ(sheet["Album Title"], "Our Album");
  EXPECT_EQ(sheet["Artist Name"], "The Band");
  EXPECT_EQ(sheet["Last Track Number"], "2");
  EXPECT_EQ(sheet["Track 01 Title"], "First Song");
  EXPECT_EQ(sheet["Track 01 Songwriter"], "Writer One");
  EXPECT_EQ(sheet["Track 02 Title"], "Second Song");
  EXPECT_EQ(sheet["Track 02 Message"], "A message");
}

}  // namespace
}  // namespace sorvel
