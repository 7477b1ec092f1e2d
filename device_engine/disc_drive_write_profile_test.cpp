// A write pass whose drive changes its answer about the medium after the pass
// started (a drive that changes its mind, or something in the path rewriting
// GET CONFIGURATION): the pass keeps the block length it started with, and no
// WRITE carries a byte the caller did not hand over.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_engine/cached_disc_drive.h"
#include "native_common/spti_pass_through.h"
#include "platform/emulated_device.h"
#include "platform/emulated_drive/drive_hooks.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace emu = platform::emu;

constexpr uint8_t kWrite10 = 0x2A;

struct SentWrite {
  int32_t lba = 0;
  int32_t count = 0;
  std::vector<uint8_t> data;
};

// The emulated drive, with a copy of every WRITE(10) that reached it.
class RecordingDevice : public platform::ScsiDevice {
 public:
  RecordingDevice(std::unique_ptr<platform::ScsiDevice> inner, std::vector<SentWrite>* writes, std::mutex* mutex)
      : inner_(std::move(inner)), writes_(writes), mutex_(mutex) {}
  platform::ScsiResult Execute(const platform::ScsiRequest& q) override {
    if (q.cdb_length >= 10 && q.cdb[0] == kWrite10) {
      SentWrite w;
      w.lba = static_cast<int32_t>(uint32_t{q.cdb[2]} << 24 | uint32_t{q.cdb[3]} << 16 | uint32_t{q.cdb[4]} << 8 |
                                   q.cdb[5]);
      w.count = q.cdb[7] << 8 | q.cdb[8];
      const auto* bytes = static_cast<const uint8_t*>(q.data);
      if (bytes != nullptr) w.data.assign(bytes, bytes + q.data_length);
      std::lock_guard<std::mutex> lock(*mutex_);
      writes_->push_back(std::move(w));
    }
    return inner_->Execute(q);
  }

 private:
  std::unique_ptr<platform::ScsiDevice> inner_;
  std::vector<SentWrite>* writes_;
  std::mutex* mutex_;
};

void CallerSector(int32_t lba, uint8_t* out) {
  for (size_t i = 0; i < 2048; ++i) out[i] = static_cast<uint8_t>(lba * 7 + i * 5 + (i >> 8) + 3);
}

struct ProfileCase {
  const char* name;
  const char* medium;
  uint16_t changed_profile;
  int answers_before_change;
  bool cached;
};

class ChangedProfileTest : public ::testing::TestWithParam<ProfileCase> {
 protected:
  void SetUp() override {
    const ProfileCase& c = GetParam();
    state_ = (dir_.path() / "drive.state").string();
    emu::DriveFaults faults;
    faults.changed_profile = c.changed_profile;
    faults.answers_before_profile_change = c.answers_before_change;
    emu::HooksFor(state_)->SetFaults({});
    const std::string spec = state_ + ",medium=" + c.medium;
    pass_ = std::make_unique<SptiPassThrough>([this, spec](char, std::string* error) -> std::unique_ptr<platform::ScsiDevice> {
      auto inner = platform::OpenEmulatedDevice(spec, error);
      if (!inner) return nullptr;
      return std::make_unique<RecordingDevice>(std::move(inner), &writes_, &mutex_);
    });
    drive_.SetPassThrough(pass_.get());
    ASSERT_TRUE(drive_.Open("E:"));
    if (!c.cached) drive_.SetWriteCacheBufferSize(0);
    // Counted from here: the answers the write pass itself asks for.
    emu::HooksFor(state_)->SetFaults(faults);
  }
  void TearDown() override {
    drive_.WriteFlush(true);
    if (drive_.IsWriting()) drive_.WriteEnd(true);
    drive_.SetPassThrough(nullptr);
  }

  testing::ScratchDir dir_;
  std::string state_;
  std::mutex mutex_;
  std::vector<SentWrite> writes_;
  std::unique_ptr<SptiPassThrough> pass_;
  CachedDiscDrive drive_;
};

TEST_P(ChangedProfileTest, PassKeepsItsBlocksAndSendsOnlyTheCallersBytes) {
  constexpr int32_t kSectors = 70;  // two whole blocks of 26 and a rest
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, kSectors);
  const int32_t started = drive_.WriteStart(CCC_SAO, 0, toc);
  if (started == CBR_OK) {
    for (int32_t lba = 0; lba < kSectors; ++lba) {
      uint8_t sector[2048];
      CallerSector(lba, sector);
      ASSERT_TRUE(drive_.WriteLBA(CSD_SECTORONLY, sector, lba)) << lba;
    }
    EXPECT_TRUE(drive_.WriteEnd(false));
  }

  std::lock_guard<std::mutex> lock(mutex_);
  if (started != CBR_OK) {
    EXPECT_TRUE(writes_.empty());
    return;
  }
  int32_t next = 0;
  for (const SentWrite& w : writes_) {
    EXPECT_EQ(w.lba, next);
    ASSERT_EQ(w.data.size(), static_cast<size_t>(w.count) * 2048) << "WRITE at " << w.lba;
    for (int32_t i = 0; i < w.count; ++i) {
      uint8_t want[2048];
      CallerSector(w.lba + i, want);
      ASSERT_EQ(std::memcmp(w.data.data() + static_cast<size_t>(i) * 2048, want, 2048), 0) << w.lba + i;
    }
    next = w.lba + w.count;
  }
  EXPECT_EQ(next, kSectors);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ChangedProfileTest,
    ::testing::Values(ProfileCase{"RamSecondAnswerSaysCdR", "dvd-ram", 0x09, 1, false},
                      ProfileCase{"RamThirdAnswerSaysCdR", "dvd-ram", 0x09, 2, false},
                      ProfileCase{"RamThirdAnswerSaysCdRCached", "dvd-ram", 0x09, 2, true},
                      ProfileCase{"RamFourthAnswerSaysCdRw", "dvd-ram", 0x0A, 3, true},
                      ProfileCase{"DvdRThirdAnswerSaysCdR", "dvd-r", 0x09, 2, true},
                      ProfileCase{"BdReLaterAnswerSaysCdRw", "bd-re", 0x0A, 5, false}),
    [](const ::testing::TestParamInfo<ProfileCase>& info) { return std::string(info.param.name); });

// Callers size their sector buffers by the medium family: while a pass is
// open that is the pass's, whatever the drive answers now, so a buffer of
// the size the family gives is what the pass takes (a CD pass reads 2,352
// bytes per sector only; a DVD-R answer would have said 2,048). After the
// pass the drive is asked again.
TEST(WritePassFamilyTest, IsThePassesWhileTheDriveChangesItsAnswer) {
  struct Case {
    const char* medium;
    uint16_t changed_profile;
    int32_t family, changed_family;
  } const cases[] = {{"cd-r", 0x11, MFT_CD, MFT_DVD}, {"dvd-r", 0x09, MFT_DVD, MFT_CD}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.medium);
    testing::ScratchDir dir;
    const std::string state = (dir.path() / "drive.state").string();
    emu::HooksFor(state)->SetFaults({});
    SptiPassThrough pass([spec = state + ",medium=" + c.medium](char, std::string* error) {
      return platform::OpenEmulatedDevice(spec, error);
    });
    CachedDiscDrive drive;
    drive.SetPassThrough(&pass);
    ASSERT_TRUE(drive.Open("E:"));
    emu::DriveFaults faults;
    faults.changed_profile = c.changed_profile;
    faults.answers_before_profile_change = 1;  // the start's own answer
    emu::HooksFor(state)->SetFaults(faults);
    TocStructure toc;
    toc.MakeSingleTrackToc(SMC_MODE1, 10);
    ASSERT_EQ(drive.WriteStart(CCC_SAO, 0, toc), CBR_OK);
    for (int32_t lba = 0; lba < 10; ++lba) {
      const int32_t family = drive.GetMediaFamilyType();
      EXPECT_EQ(family, c.family) << lba;
      // Exactly as large as the family says: an overrun shows under the sanitizers.
      std::vector<uint8_t> exact(static_cast<size_t>(DiscDrive::WriteDataSize(family, CSD_SECTORONLY)), 0x5A);
      ASSERT_TRUE(drive.WriteLBA(CSD_SECTORONLY, exact.data(), lba)) << lba;
    }
    EXPECT_TRUE(drive.WriteEnd(false));
    EXPECT_EQ(drive.GetMediaFamilyType(), c.changed_family);
    drive.SetPassThrough(nullptr);
  }
}

// A drive that cannot say what medium it holds gets no write pass.
TEST(WriteStartQueryTest, RefusedGetConfigurationFailsTheStart) {
  testing::ScratchDir dir;
  const std::string state = (dir.path() / "drive.state").string();
  emu::HooksFor(state)->SetFaults({});
  SptiPassThrough pass([spec = state + ",medium=dvd-ram"](char, std::string* error) {
    return platform::OpenEmulatedDevice(spec, error);
  });
  CachedDiscDrive drive;
  drive.SetPassThrough(&pass);
  ASSERT_TRUE(drive.Open("E:"));
  emu::HooksFor(state)->UpdateFaults([](emu::DriveFaults& f) { f.get_configuration_missing = true; });
  emu::HooksFor(state)->ClearLog();
  TocStructure toc;
  toc.MakeSingleTrackToc(SMC_MODE1, 10);
  EXPECT_EQ(drive.WriteStart(CCC_SAO, 0, toc), CBR_UNKNOWNMEDIA);
  EXPECT_FALSE(drive.IsWriting());
  for (const auto& c : emu::HooksFor(state)->log()) EXPECT_NE(c.opcode(), kWrite10);
  drive.SetPassThrough(nullptr);
}

}  // namespace
}  // namespace sorvel
