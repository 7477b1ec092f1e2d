// Independent readers of CUE sheets (cdrdao, libcdio's cd-info) see what the model holds.
#include <gtest/gtest.h>

#include "gui/model/model_test_util.h"
#include "gui/model/toc_information.h"
#include "mastering_engine/cd_text_builder.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::MakeSizedFile;
using testing::Q;
using testing::ScratchDir;

// Three audio tracks with every flag combination that matters, a pregap, an
// MCN, one ISRC and English CD-Text made by the mastering engine's builder.
void FillDisc(TOCInformation& toc) {
  toc.TOCAdd(1, 1, 1, 2, 0, 0, 749);    // copy permitted
  toc.TOCAdd(1, 2, 0, 1, 0, 750, 899);  // pre-emphasis, 2 s pregap
  toc.TOCAdd(1, 2, 1, 1, 0, 900, 4574);
  toc.TOCAdd(1, 3, 1, 3, 0, 4575, 8999);  // both
  toc.MCN(QStringLiteral("4988001234567"));
  toc.ISRCAdd(QString());
  toc.ISRCAdd(QStringLiteral("JPABC1234567"));

  CdTextBuilder builder;
  const char* titles[] = {"ALBUM TITLE", "SONG ONE", "SONG TWO", "SONG THREE"};
  for (int entry = 0; entry <= 3; ++entry) {
    TrackTextBlock block;
    block.Set(0, 0, titles[entry]);
    block.Set(0, 1, "PERFORMER");
    builder.SetEntry(entry, block);
  }
  ASSERT_TRUE(builder.Build(3));
  const std::vector<uint8_t>& packs = builder.Packs();
  for (size_t at = 0; at + 18 <= packs.size(); at += 18) {
    const uint8_t* p = packs.data() + at;
    toc.CDTextAdd(p[0], p[1], p[2], p[3], std::span<const uint8_t>(p + 4, 12), std::span<const uint8_t>(p + 16, 2));
  }
}

// disc.cue, disc.cdt and an image of 9,000 sectors. cd-info takes the image
// as the sheet's name with ".bin", whatever the FILE line says.
void SaveDisc(const ScratchDir& dir) {
  TOCInformation toc;
  FillDisc(toc);
  MakeSizedFile(dir / "disc.bin", 9000u * 2352);
  ASSERT_TRUE(toc.SaveCUEFile(Q(dir / "disc.cue"), Q(dir / "disc.bin"), Q(dir / "disc.cdt")));
}

TEST(CueSheetToolsTest, CdrdaoShowTocReadsOurSheet) {
  if (!testing::RequireTool("cdrdao")) return;
  ScratchDir dir;
  SaveDisc(dir);
  std::string out;
  ASSERT_EQ(testing::RunCommand("cd " + dir.path().string() + " && cdrdao show-toc disc.cue 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("CATALOG NUMBER: 4988001234567"), std::string::npos) << out;
  // One block per track: its flags, pregap, start and end (exclusive) in sectors.
  std::vector<std::string> blocks;
  for (size_t at = out.find("\nTRACK "); at != std::string::npos;) {
    const size_t next = out.find("\nTRACK ", at + 1);
    blocks.push_back(out.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  ASSERT_EQ(blocks.size(), 3u) << out;
  auto has = [](const std::string& block, const std::string& text) { return block.find(text) != std::string::npos; };
  EXPECT_TRUE(has(blocks[0], "COPY PERMITTED") && has(blocks[0], "NO PRE-EMPHASIS")) << blocks[0];
  EXPECT_TRUE(has(blocks[0], "START  00:00:00(     0)") && has(blocks[0], "END    00:10:00(   750)")) << blocks[0];
  EXPECT_TRUE(has(blocks[1], "COPY NOT PERMITTED") && has(blocks[1], "\n          PRE-EMPHASIS")) << blocks[1];
  EXPECT_TRUE(has(blocks[1], "ISRC JP ABC 12 34567")) << blocks[1];
  EXPECT_TRUE(has(blocks[1], "PREGAP 00:02:00(   150)") && has(blocks[1], "START  00:12:00(   900)")) << blocks[1];
  EXPECT_TRUE(has(blocks[1], "END    01:01:00(  4575)")) << blocks[1];
  EXPECT_TRUE(has(blocks[2], "COPY PERMITTED") && has(blocks[2], "\n          PRE-EMPHASIS")) << blocks[2];
  EXPECT_TRUE(has(blocks[2], "START  01:01:00(  4575)") && has(blocks[2], "END    02:00:00(  9000)")) << blocks[2];
  EXPECT_FALSE(has(blocks[0], "ISRC") || has(blocks[2], "ISRC"));
}

TEST(CueSheetToolsTest, CdInfoReadsTracksMcnAndCdTextFile) {
  if (!testing::RequireTool("cd-info")) return;
  ScratchDir dir;
  SaveDisc(dir);
  std::string out;
  testing::RunCommand("cd " + dir.path().string() + " && cd-info --no-device-info --no-cddb -c disc.cue 2>&1", &out);
  EXPECT_EQ(out.find("WARN"), std::string::npos) << out;
  EXPECT_NE(out.find("Media Catalog Number (MCN): 4988001234567"), std::string::npos) << out;
  // Track, start as MSF and LSN, copy permitted, pre-emphasis.
  EXPECT_NE(out.find("  1: 00:02:00  000000 audio  false  yes   2        no"), std::string::npos) << out;
  EXPECT_NE(out.find("  2: 00:14:00  000900 audio  false  no    2        yes"), std::string::npos) << out;
  EXPECT_NE(out.find("  3: 01:03:00  004575 audio  false  yes   2        yes"), std::string::npos) << out;
  EXPECT_NE(out.find("170: 02:02:00  009000 leadout"), std::string::npos) << out;
  for (const char* title : {"ALBUM TITLE", "SONG ONE", "SONG TWO", "SONG THREE"}) {
    EXPECT_NE(out.find(std::string("TITLE: ") + title), std::string::npos) << title << "\n" << out;
  }
}

// A sheet cdrdao's toc2cue writes from a TOC file: its copy flags read as ours.
TEST(CueSheetToolsTest, SheetOfToc2cueReadsWithCdrdaosFlags) {
  if (!testing::RequireTool("toc2cue")) return;
  ScratchDir dir;
  testing::WriteFileBytes(dir / "disc.toc",
                          "CD_DA\n"
                          "TRACK AUDIO\nCOPY\nFILE \"disc.bin\" 0 00:10:00\n"
                          "TRACK AUDIO\nFILE \"disc.bin\" 00:10:00 00:30:00\nSTART 00:02:00\n"
                          "TRACK AUDIO\nCOPY\nFILE \"disc.bin\" 00:40:00 00:10:00\n");
  MakeSizedFile(dir / "disc.bin", 3750u * 2352);
  std::string out;
  ASSERT_EQ(testing::RunCommand("cd " + dir.path().string() + " && toc2cue disc.toc disc.cue 2>&1", &out), 0) << out;
  TOCInformation toc;
  QString image;
  int32_t sector_size = 0;
  ASSERT_TRUE(toc.LoadCUEFile(Q(dir / "disc.cue"), image, sector_size));
  ASSERT_EQ(toc.TOCCount(), 4);
  const int32_t flags[] = {2, 0, 0, 2};
  const int32_t starts[] = {0, 750, 900, 3000};
  const int32_t ends[] = {749, 899, 2999, 3749};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(toc.TOC(i + 1)->Flags, flags[i]) << i;
    EXPECT_EQ(toc.TOC(i + 1)->StartLBA, starts[i]) << i;
    EXPECT_EQ(toc.TOC(i + 1)->EndLBA, ends[i]) << i;
  }
}

}  // namespace
}  // namespace sorvel
