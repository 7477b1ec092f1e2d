#include <gtest/gtest.h>

#include <fstream>

#include "gui/model/model_test_util.h"
#include "gui/model/toc_information.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::MakeSizedFile;
using testing::Q;
using testing::ScratchDir;
using testing::StatusRecorder;
using testing::WriteFileBytes;

TEST(PlainImageTest, SectorSizeFromTheLength) {
  const std::string sync = std::string(1, '\0') + std::string(10, '\xFF') + std::string(1, '\0');
  struct Case {
    uintmax_t size;
    bool synced;
    int32_t sector_size;
    int32_t sector_mode;
    int32_t end_lba;
  };
  const Case cases[] = {
      {2048000, false, 2048, 1, 999},
      {2352000, false, 2352, 1, 999},
      {301056, false, 2048, 1, 146},
      {301056, true, 2352, 1, 127},
      {2336 * 10, false, 2336, 2, 9},
      {2048, true, 2048, 1, 0},
      {2048ull * 2000000, false, 2048, 1, 1999999},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    MakeSizedFile(dir / "disc.iso", c.size);
    if (c.synced) {
      std::fstream f(dir / "disc.iso", std::ios::in | std::ios::out | std::ios::binary);
      f.write(sync.data(), static_cast<std::streamsize>(sync.size()));
    }
    TOCInformation toc;
    toc.TOCAdd(1, 5, 1, 0, 0, 0, 0);
    StatusRecorder recorder(toc);
    int32_t sector_size = -1;
    ASSERT_TRUE(toc.LoadISOFile(Q(dir / "disc.iso"), sector_size)) << c.size;
    EXPECT_EQ(sector_size, c.sector_size) << c.size;
    ASSERT_EQ(toc.TOCCount(), 1);
    const model::TOCTrack& t = *toc.TOC(1);
    EXPECT_EQ(std::tie(t.SessionNo, t.TrackNo, t.IndexNo, t.Flags, t.SectorMode, t.StartLBA, t.EndLBA),
              std::make_tuple(uint8_t{1}, uint8_t{1}, uint8_t{1}, 4, c.sector_mode, 0, c.end_lba))
        << c.size;
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].first, 0);
    EXPECT_EQ(recorder.events[0].second,
              QStringLiteral("セクタサイズは %1, セクタ数は %2 です。").arg(c.sector_size).arg(c.end_lba + 1));
  }
}

TEST(PlainImageTest, UnfitLengthsFailAndKeepTheModel) {
  for (uintmax_t size : {uintmax_t{1000}, uintmax_t{0}, uintmax_t{2353}}) {
    ScratchDir dir;
    MakeSizedFile(dir / "disc.iso", size);
    TOCInformation toc;
    toc.TOCAdd(1, 5, 1, 0, 0, 0, 0);
    StatusRecorder recorder(toc);
    int32_t sector_size = -1;
    EXPECT_FALSE(toc.LoadISOFile(Q(dir / "disc.iso"), sector_size)) << size;
    EXPECT_EQ(sector_size, 0);
    EXPECT_EQ(recorder.Texts(), QStringList{QStringLiteral("セクタサイズ判定に失敗")});
    EXPECT_EQ(recorder.events[0].first, 2);
    EXPECT_EQ(toc.TOCCount(), 1);
  }
  ScratchDir dir;
  TOCInformation toc;
  StatusRecorder recorder(toc);
  int32_t sector_size = 77;
  EXPECT_FALSE(toc.LoadISOFile(Q(dir / "missing.iso"), sector_size));
  EXPECT_TRUE(recorder.events.empty());
}

// Raw and Mode 2 sectors end where a CD ends (LBA 449,849); 2,048-byte ones
// where the largest disc does (62,500,864 sectors).
TEST(PlainImageTest, ImagesNoMediumHoldsAreRefused) {
  struct Case {
    int32_t sector_size;
    uintmax_t sectors;
    bool fits;
  };
  const Case cases[] = {
      {2352, 449850, true},   {2352, 449851, false},   {2336, 449850, true},
      {2336, 449851, false},  {2048, 62500864, true},  {2048, 62500865, false},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    MakeSizedFile(dir / "disc.iso", c.sectors * static_cast<uintmax_t>(c.sector_size));
    TOCInformation toc;
    StatusRecorder recorder(toc);
    int32_t sector_size = -1;
    EXPECT_EQ(toc.LoadISOFile(Q(dir / "disc.iso"), sector_size), c.fits) << c.sector_size << " " << c.sectors;
    if (c.fits) {
      EXPECT_EQ(sector_size, c.sector_size);
      ASSERT_EQ(toc.TOCCount(), 1);
      EXPECT_EQ(toc.TOC(1)->EndLBA, static_cast<int32_t>(c.sectors - 1));
    } else {
      EXPECT_EQ(sector_size, 0);
      EXPECT_EQ(recorder.Texts(),
                QStringList{QStringLiteral("セクタ数 %1 はどの媒体にも収まりません。").arg(c.sectors)});
      EXPECT_EQ(toc.TOCCount(), 0);
    }
  }
}

}  // namespace
}  // namespace sorvel
