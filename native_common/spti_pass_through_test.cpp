#include "native_common/spti_pass_through.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

// A device that records every request and answers from a script.
struct Recorder {
  struct Seen {
    std::vector<uint8_t> cdb;
    size_t data_length;
    bool write;
    uint32_t timeout;
  };
  std::vector<Seen> seen;
  std::vector<platform::ScsiResult> answers;  // used in order; then good
  int opened = 0;
  std::vector<char> letters;
};

class RecordingDevice : public platform::ScsiDevice {
 public:
  explicit RecordingDevice(Recorder* r) : r_(r) {}
  platform::ScsiResult Execute(const platform::ScsiRequest& q) override {
    r_->seen.push_back({std::vector<uint8_t>(q.cdb, q.cdb + q.cdb_length), q.data_length, q.write, q.timeout_seconds});
    if (r_->seen.size() <= r_->answers.size()) return r_->answers[r_->seen.size() - 1];
    platform::ScsiResult good;
    good.transferred = true;
    return good;
  }

 private:
  Recorder* r_;
};

SptiPassThrough::DeviceOpener OpenerFor(Recorder* r) {
  return [r](char letter, std::string*) -> std::unique_ptr<platform::ScsiDevice> {
    r->letters.push_back(letter);
    ++r->opened;
    return std::make_unique<RecordingDevice>(r);
  };
}

platform::ScsiResult CheckCondition(std::vector<uint8_t> sense) {
  platform::ScsiResult r;
  r.transferred = true;
  r.status = 2;
  std::memcpy(r.sense, sense.data(), sense.size());
  r.sense_length = sense.size();
  return r;
}

TEST(SptiPassThrough, SenseBeforeAndAfterOpen) {
  Recorder rec;
  SptiPassThrough p(OpenerFor(&rec));
  EXPECT_EQ(p.GetSense(), kSenseNoDevice);
  p.SetSense(0x052400);
  EXPECT_EQ(p.GetSense(), kSenseNoDevice);
  ASSERT_TRUE(p.Open("\\\\.\\e:"));
  EXPECT_EQ(rec.letters, std::vector<char>{'E'});
  EXPECT_EQ(p.GetSense(), 0);
  p.SetSense(0x023A00);
  EXPECT_EQ(p.GetSense(), 0x023A00);
  EXPECT_FALSE(p.ClearSense());
  EXPECT_EQ(p.GetSense(), 0);
}

TEST(SptiPassThrough, RefusesNamesThatAreNotDrives) {
  Recorder rec;
  SptiPassThrough p(OpenerFor(&rec));
  for (const char* name : {"/dev/sr0", "\\\\.\\CdRom0", "", "D", "emu:/tmp/x"}) {
    EXPECT_FALSE(p.Open(name)) << name;
    EXPECT_FALSE(p.last_error().empty());
  }
  EXPECT_EQ(rec.opened, 0);
  EXPECT_TRUE(p.Open("D:"));
}

TEST(SptiPassThrough, FailedOpenLeavesItClosed) {
  SptiPassThrough p([](char, std::string* error) -> std::unique_ptr<platform::ScsiDevice> {
    *error = "busy";
    return nullptr;
  });
  EXPECT_FALSE(p.Open("\\\\.\\D:"));
  EXPECT_EQ(p.last_error(), "busy");
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(p.GetSense(), kSenseNoDevice);
}

TEST(SptiPassThrough, ClosedCommandFailsAndKeepsSense) {
  Recorder rec;
  SptiPassThrough p(OpenerFor(&rec));
  const uint8_t tur[6] = {};
  EXPECT_EQ(p.ExecCommand(tur, 6, nullptr, 0, nullptr, false, 180), -1);
  EXPECT_EQ(p.GetSense(), kSenseNoDevice);
  EXPECT_FALSE(p.Close());
  EXPECT_TRUE(rec.seen.empty());
}

TEST(SptiPassThrough, CommandsMapStatusAndSense) {
  Recorder rec;
  rec.answers.push_back(CheckCondition({0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x01}));
  rec.answers.push_back(CheckCondition({0x72, 0x05, 0x24, 0x00}));
  platform::ScsiResult failed;  // never reached the drive
  rec.answers.push_back(failed);
  SptiPassThrough p(OpenerFor(&rec));
  ASSERT_TRUE(p.Open("D:"));
  const uint8_t tur[6] = {};
  uint8_t sense[kSenseBufferSize];
  std::memset(sense, 0xAA, sizeof sense);
  EXPECT_EQ(p.ExecCommand(tur, 6, nullptr, 0, sense, false, 180), 2);
  EXPECT_EQ(p.GetSense(), 0x023A01);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[13], 0x01);
  EXPECT_EQ(sense[14], 0);  // the rest of the caller's 32 bytes is cleared
  EXPECT_EQ(sense[31], 0);
  EXPECT_EQ(p.ExecCommand(tur, 6, nullptr, 0, nullptr, false, 180), 2);
  EXPECT_EQ(p.GetSense(), 0x052400);
  EXPECT_EQ(p.ExecCommand(tur, 6, nullptr, 0, nullptr, false, 180), -1);
  EXPECT_EQ(p.GetSense(), 0xFFFFFF);
  EXPECT_EQ(p.ExecCommand(tur, 6, nullptr, 0, nullptr, false, 180), 0);
  EXPECT_EQ(p.GetSense(), 0);  // a good command leaves no sense
  // Malformed requests never reach the drive.
  size_t before = rec.seen.size();
  EXPECT_EQ(p.ExecCommand(nullptr, 6, nullptr, 0, nullptr, false, 180), -1);
  EXPECT_EQ(p.ExecCommand(tur, 17, nullptr, 0, nullptr, false, 180), -1);
  EXPECT_EQ(p.ExecCommand(tur, 6, nullptr, 16, nullptr, false, 180), -1);
  EXPECT_EQ(p.GetSense(), 0xFFFFFF);
  EXPECT_EQ(rec.seen.size(), before);
}

TEST(SptiPassThrough, WriteDirectionAndTimeoutReachTheDevice) {
  Recorder rec;
  SptiPassThrough p(OpenerFor(&rec));
  ASSERT_TRUE(p.Open("D:"));
  const uint8_t reserve[10] = {0x53, 0, 0, 0, 0, 0, 0, 0x10, 0, 0};
  EXPECT_EQ(p.ExecCommand(reserve, 10, nullptr, 0, nullptr, true, 3600), 0);
  ASSERT_EQ(rec.seen.size(), 1u);
  EXPECT_TRUE(rec.seen[0].write);
  EXPECT_EQ(rec.seen[0].data_length, 0u);
  EXPECT_EQ(rec.seen[0].timeout, 3600u);
  EXPECT_EQ(rec.seen[0].cdb, std::vector<uint8_t>(reserve, reserve + 10));
}

TEST(SptiPassThrough, CloseSynchronizesAndAllowsRemoval) {
  Recorder rec;
  SptiPassThrough p(OpenerFor(&rec));
  ASSERT_TRUE(p.Open("D:"));
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(p.Close());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Syncro cache ret = 00\n");
  ASSERT_EQ(rec.seen.size(), 2u);
  EXPECT_EQ(rec.seen[0].cdb, (std::vector<uint8_t>{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(rec.seen[0].write);
  EXPECT_EQ(rec.seen[0].timeout, 1800u);
  EXPECT_EQ(rec.seen[1].cdb, (std::vector<uint8_t>{0x1E, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rec.seen[1].timeout, 180u);
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(p.GetSense(), kSenseNoDevice);
  EXPECT_FALSE(p.Close());
  EXPECT_EQ(rec.seen.size(), 2u);
}

TEST(SptiPassThrough, ReopenClosesFirstAndDestructorCloses) {
  Recorder rec;
  rec.answers.push_back(CheckCondition({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00}));
  {
    SptiPassThrough p(OpenerFor(&rec));
    ASSERT_TRUE(p.Open("D:"));
    const uint8_t tur[6] = {};
    p.ExecCommand(tur, 6, nullptr, 0, nullptr, false, 180);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(p.Open("E:"));
    EXPECT_EQ(p.GetSense(), 0);  // cleared by the new open
    EXPECT_EQ(rec.seen.size(), 3u);  // TUR, sync, allow
    p.SetSense(0);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Syncro cache ret = 00\nSyncro cache ret = 00\n");
  EXPECT_EQ(rec.seen.size(), 5u);
  EXPECT_EQ(rec.letters, (std::vector<char>{'D', 'E'}));
}

TEST(SptiPassThrough, TransferFailureOnSyncIsPrinted) {
  Recorder rec;
  rec.answers.push_back(platform::ScsiResult{});
  SptiPassThrough p(OpenerFor(&rec));
  ASSERT_TRUE(p.Open("D:"));
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(p.Close());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Syncro cache ret = FFFFFFFF\n");
}

TEST(SptiPassThrough, DefaultOpenerUsesTheDriveMap) {
  const char* saved = std::getenv("SORVEL_DRIVES");
  std::string keep = saved ? saved : "";
  setenv("SORVEL_DRIVES", "D:=/nonexistent/sr0", 1);
  SptiPassThrough p;
  EXPECT_FALSE(p.Open("\\\\.\\D:"));
  EXPECT_NE(p.last_error().find("/nonexistent/sr0"), std::string::npos) << p.last_error();
  EXPECT_FALSE(p.Open("\\\\.\\E:"));
  EXPECT_NE(p.last_error().find("not in the drive map"), std::string::npos) << p.last_error();
  if (saved) setenv("SORVEL_DRIVES", keep.c_str(), 1); else unsetenv("SORVEL_DRIVES");
}

TEST(SptiPassThrough, OpensAnEmulatedDriveNamedBySorvelDrives) {
  sorvel::testing::ScratchDir dir;
  const char* saved = std::getenv("SORVEL_DRIVES");
  std::string keep = saved ? saved : "";
  std::string entry = "G:=emu:" + (dir / "drive.state").string() + ",medium=cd-r";
  setenv("SORVEL_DRIVES", entry.c_str(), 1);
  {
    SptiPassThrough p;
    ASSERT_TRUE(p.Open("\\\\.\\g:")) << p.last_error();
    uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t answer[36] = {};
    EXPECT_EQ(p.ExecCommand(inquiry, 6, answer, sizeof answer, nullptr, false, 180), 0);
    EXPECT_EQ(answer[0] & 0x1F, 5);
    uint8_t read_cd_text[10] = {0x43, 0, 5, 0, 0, 0, 0, 0x01, 0x00, 0};
    uint8_t sense[kSenseBufferSize] = {};
    uint8_t packs[256];
    EXPECT_EQ(p.ExecCommand(read_cd_text, 10, packs, sizeof packs, sense, false, 180), 2);  // no CD-Text
    EXPECT_EQ(sense[0] & 0x7F, 0x70);
    EXPECT_EQ(p.GetSense(), MakeSenseStatus(sense[2] & 0x0F, sense[12], sense[13]));
    EXPECT_EQ(SenseKeyOf(p.GetSense()), 5);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(p.Close());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Syncro cache ret = 00\n");
  }
  if (saved) setenv("SORVEL_DRIVES", keep.c_str(), 1); else unsetenv("SORVEL_DRIVES");
}

}  // namespace
}  // namespace sorvel
