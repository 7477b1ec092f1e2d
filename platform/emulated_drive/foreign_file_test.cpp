// The emulated drive's state file and the image files it loads and reads
// are taken only as regular files: a FIFO, a link to /dev/zero, a folder or
// a file beyond its bound in their place fails the open with the path named,
// and never blocks or grows without end.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/emulated_device.h"
#include "platform/emulated_drive/media_state.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "platform/regular_file.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel::platform::emu {
namespace {

namespace fs = std::filesystem;
using sorvel::testing::StandIn;
using sorvel::testing::StandInFile;
using sorvel::testing::WriteFileBytes;

void WriteSectors(const fs::path& path, int count) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    auto s = sorvel::testing::FixtureSector(true, i);
    out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
  }
}

constexpr int kSectors = 40;

// A pressed CD from a CUE sheet with a CD-Text file, or from a CCD with its
// .img and .sub; `replaced` is then put in place of one of its files.
struct ForeignCase {
  const char* image;     // the sheet the drive is given
  const char* replaced;  // the file taken away
  StandIn stand_in;
  int64_t bound;         // the size bound of that file, for StandIn::kOversize
};

std::string CaseName(const ForeignCase& c) {
  std::string name = std::string(c.replaced) + "_" + sorvel::testing::StandInName(c.stand_in);
  for (char& ch : name) ch = ch == '.' ? '_' : ch;
  return name;
}

class EmulatedDriveForeignFile : public ::testing::TestWithParam<ForeignCase> {
 protected:
  void SetUp() override {
    WriteSectors(dir_ / "a.bin", kSectors);
    WriteSectors(dir_ / "a.img", kSectors);
    WriteFileBytes(dir_ / "a.sub", std::string(96 * kSectors, '\0'));
    std::string pack(18, '\0');
    pack[0] = static_cast<char>(0x80);
    WriteFileBytes(dir_ / "a.cdt", pack);
    WriteFileBytes(dir_ / "a.cue", "CDTEXTFILE \"a.cdt\"\nFILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    WriteFileBytes(dir_ / "a.ccd",
                   "[CloneCD]\nVersion=3\n"
                   "[Entry 0]\nSession=1\nPoint=0xa0\nADR=1\nControl=0\nPMin=1\nPLBA=0\n"
                   "[Entry 1]\nSession=1\nPoint=0xa1\nADR=1\nControl=0\nPMin=1\nPLBA=0\n"
                   "[Entry 2]\nSession=1\nPoint=0xa2\nADR=1\nControl=0\nPLBA=40\n"
                   "[Entry 3]\nSession=1\nPoint=0x01\nADR=1\nControl=0\nPLBA=0\n");
  }
  sorvel::testing::ScratchDir dir_;
};

TEST_P(EmulatedDriveForeignFile, RefusesTheDiscAndNamesTheFile) {
  const ForeignCase& c = GetParam();
  const std::string entry = (dir_ / "drive").string() + ",medium=cd-rom,image=" + (dir_ / c.image).string();
  std::string error;
  // The intact disc loads.
  ASSERT_TRUE(OpenEmulatedDevice(entry, &error)) << error;
  fs::remove(dir_ / "drive");
  fs::remove(dir_ / c.replaced);
  std::string contents;
  if (c.stand_in == StandIn::kOversize) contents = "FILE";
  StandInFile stand_in(dir_ / c.replaced, c.stand_in, contents, c.bound);
  EXPECT_FALSE(OpenEmulatedDevice(entry, &error));
  EXPECT_FALSE(stand_in.Blocked());
  EXPECT_NE(error.find((dir_ / c.replaced).string()), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir_ / "drive"));  // no state is left of a disc that did not load
}

constexpr int64_t kCdTextBound = 64 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Files, EmulatedDriveForeignFile,
    ::testing::Values(ForeignCase{"a.cue", "a.cue", StandIn::kFifo, 0},
                      ForeignCase{"a.cue", "a.cue", StandIn::kZeroDevice, 0},
                      ForeignCase{"a.cue", "a.cue", StandIn::kOversize, kMaxSheetFileBytes},
                      ForeignCase{"a.cue", "a.cdt", StandIn::kFifo, 0},
                      ForeignCase{"a.cue", "a.cdt", StandIn::kZeroDevice, 0},
                      ForeignCase{"a.cue", "a.cdt", StandIn::kFolder, 0},
                      ForeignCase{"a.cue", "a.cdt", StandIn::kOversize, kCdTextBound},
                      ForeignCase{"a.cue", "a.bin", StandIn::kFifo, 0},
                      ForeignCase{"a.cue", "a.bin", StandIn::kZeroDevice, 0},
                      ForeignCase{"a.ccd", "a.ccd", StandIn::kFifo, 0},
                      ForeignCase{"a.ccd", "a.ccd", StandIn::kOversize, kMaxSheetFileBytes},
                      ForeignCase{"a.ccd", "a.img", StandIn::kFifo, 0},
                      ForeignCase{"a.ccd", "a.sub", StandIn::kFifo, 0},
                      ForeignCase{"a.ccd", "a.sub", StandIn::kZeroDevice, 0}),
    [](const auto& info) { return CaseName(info.param); });

class EmulatedDriveStateFile : public ::testing::TestWithParam<StandIn> {};

TEST_P(EmulatedDriveStateFile, IsARegularFileOfBoundedSize) {
  sorvel::testing::ScratchDir dir;
  const fs::path state = dir / "drive";
  StandInFile stand_in(state, GetParam(), "sorvel-emulated-drive 1\n", kMaxStateFileBytes);
  std::string error;
  EXPECT_FALSE(OpenEmulatedDevice(state.string() + ",medium=cd-r", &error));
  EXPECT_FALSE(stand_in.Blocked());
  EXPECT_NE(error.find(state.string()), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(StandIns, EmulatedDriveStateFile,
                         ::testing::Values(StandIn::kFifo, StandIn::kZeroDevice, StandIn::kFolder,
                                           StandIn::kOversize),
                         [](const auto& info) { return std::string(sorvel::testing::StandInName(info.param)); });

// An image file that becomes a FIFO after the disc was loaded: the read fails
// as a medium error instead of waiting for a writer.
TEST(EmulatedDriveImageFile, SwappedForAFifoFailsTheRead) {
  sorvel::testing::ScratchDir dir;
  WriteSectors(dir / "a.bin", kSectors);
  WriteFileBytes(dir / "a.cue", "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
  const std::string entry = (dir / "drive").string() + ",medium=cd-rom,image=" + (dir / "a.cue").string();
  std::string error;
  auto device = OpenEmulatedDevice(entry, &error);
  ASSERT_TRUE(device) << error;
  fs::remove(dir / "a.bin");
  StandInFile fifo(dir / "a.bin", StandIn::kFifo);
  uint8_t cdb[12] = {0xBE, 0, 0, 0, 0, 5, 0, 0, 1, 0xF8, 0, 0};  // READ CD, LBA 5
  uint8_t sector[2352];
  ScsiRequest request;
  request.cdb = cdb;
  request.cdb_length = sizeof cdb;
  request.data = sector;
  request.data_length = sizeof sector;
  const ScsiResult result = device->Execute(request);
  EXPECT_NE(result.status, 0);
  EXPECT_FALSE(fifo.Blocked());
}

}  // namespace
}  // namespace sorvel::platform::emu
