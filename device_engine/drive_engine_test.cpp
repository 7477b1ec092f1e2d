// The engine object on the emulated drive: erase by medium, the engine TOC
// against read and write passes, drive selection.
#include "device_engine/drive_engine.h"

#include <gtest/gtest.h>

#include "device_engine/write_test_rig.h"

namespace sorvel::write_test {
namespace {

class EngineRig {
 public:
  explicit EngineRig(const std::string& medium) {
    state_ = (dir_ / "drive.state").string();
    emu::HooksFor(state_)->ClearLog();
    const std::string spec = state_ + ",medium=" + medium;
    pass_ = std::make_unique<SptiPassThrough>(
        [spec](char, std::string* error) { return platform::OpenEmulatedDevice(spec, error); });
    engine_.SetPassThrough(pass_.get());
    opened_ = engine_.Open("\\\\.\\E:");
  }
  ~EngineRig() { engine_.Terminate(); }
  DriveEngine& engine() { return engine_; }
  bool opened() const { return opened_; }
  size_t Count(uint8_t opcode) {
    size_t n = 0;
    for (const auto& c : emu::HooksFor(state_)->log()) n += c.opcode() == opcode;
    return n;
  }

 private:
  testing::ScratchDir dir_;
  std::string state_;
  std::unique_ptr<SptiPassThrough> pass_;
  DriveEngine engine_;
  bool opened_ = false;
};

struct EraseCase {
  const char* medium;
  bool quick;
  uint8_t opcode;  // the command that erases
};

class DriveEngineEraseTest : public ::testing::TestWithParam<EraseCase> {};

TEST_P(DriveEngineEraseTest, FormatsOrBlanksByMedium) {
  EngineRig rig(GetParam().medium);
  ASSERT_TRUE(rig.opened());
  EXPECT_TRUE(rig.engine().Erase(GetParam().quick));
  EXPECT_EQ(rig.Count(kFormatUnit), GetParam().opcode == kFormatUnit ? 1u : 0u);
  EXPECT_EQ(rig.Count(kBlank), GetParam().opcode == kBlank ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Media, DriveEngineEraseTest,
                         ::testing::Values(EraseCase{"bd-re", true, kFormatUnit}, EraseCase{"bd-re", false, kFormatUnit},
                                           EraseCase{"dvd+rw", true, kFormatUnit},
                                           EraseCase{"dvd+rw", false, kFormatUnit}, EraseCase{"cd-rw", true, kBlank},
                                           EraseCase{"dvd-rw", true, kBlank}));

TEST(DriveEngineTest, DriveIndexOutsideTheLettersIsRefused) {
  DriveEngine engine;
  EXPECT_FALSE(engine.OpenLocal(-1));
  EXPECT_FALSE(engine.OpenLocal(26));
  EXPECT_FALSE(engine.OpenLocal(INT32_MIN));
  EXPECT_EQ(engine.GetSCSIErrorStatus(), kSenseNoDevice);
}

TEST(DriveEngineTest, WritePassTakesACopyOfTheEngineToc) {
  EngineRig rig("dvd-r");
  ASSERT_TRUE(rig.opened());
  DriveEngine& engine = rig.engine();
  ASSERT_TRUE(engine.MakeSingleTrackToc(SMC_MODE1, 40));
  EXPECT_FALSE(engine.MakeSingleTrackToc(SMC_MODE1, 0));
  ASSERT_EQ(engine.WriteStart(CCC_SAO, 0), CBR_OK);
  // Later changes of the engine TOC do not reach the running pass.
  engine.ClearTOCStructure();
  EXPECT_EQ(engine.engine_toc().Count(TST_TOC), 0);
  EXPECT_EQ(engine.GetLastLBA(), 39);
  ASSERT_TRUE(engine.WriteEnd(false));
  ASSERT_EQ(engine.ReadStart(CCC_DATA, 0), CBR_OK);
  uint8_t part[64];
  ASSERT_EQ(engine.GetTOCStructure(TST_TOC, part, sizeof part), 2 + 13);
  EXPECT_EQ(TOCTrack::Load(part + 2).EndLBA, 39);
  EXPECT_TRUE(engine.ReadEnd());
  // Closing ends nothing more and leaves the engine TOC.
  EXPECT_TRUE(engine.Close());
  EXPECT_EQ(engine.engine_toc().Count(TST_TOC), 1);
}

TEST(DriveEngineTest, CheckWriteModeProbesThePage) {
  EngineRig rig("cd-r");
  ASSERT_TRUE(rig.opened());
  for (int32_t mode = CCC_SAO; mode <= CCC_DAO_RAW96; ++mode) EXPECT_TRUE(rig.engine().CheckWriteMode(mode, false, 0)) << mode;
  EXPECT_FALSE(rig.engine().CheckWriteMode(7, false, 0));
}

}  // namespace
}  // namespace sorvel::write_test
