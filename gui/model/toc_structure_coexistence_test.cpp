// The binding code converts the engines' fixed-layout TOC records into the
// model: both sets of declarations compile side by side in one unit and stay
// distinct types.
#include <gtest/gtest.h>

#include <type_traits>

#include "gui/model/toc_information.h"
#include "native_common/toc_structure.h"

namespace sorvel {
namespace {

static_assert(!std::is_same_v<TOCTrack, model::TOCTrack>);
static_assert(!std::is_same_v<TOCRawTrack, model::TOCRawTrack>);
static_assert(!std::is_same_v<TOCCDText, model::TOCCDText>);

TEST(TocStructureCoexistenceTest, EngineEntryBecomesModelEntry) {
  TOCTrack engine;
  engine.SessionNo = 1;
  engine.TrackNo = 2;
  engine.IndexNo = 1;
  engine.Flags = TCF_DATATRACK;
  engine.SectorMode = SMC_MODE1;
  engine.StartLBA = 150;
  engine.EndLBA = 999;
  TOCInformation toc;
  toc.TOCAdd(engine.SessionNo, engine.TrackNo, engine.IndexNo, engine.Flags, engine.SectorMode, engine.StartLBA,
             engine.EndLBA);
  EXPECT_EQ(toc.TOC(1)->StartMSF(), QStringLiteral("00:04:00"));
  EXPECT_EQ(toc.TOC(1)->Flags, 4);
}

}  // namespace
}  // namespace sorvel
