// The descriptor readers open by the one rule: a sheet, CD-Text file or
// image that is a FIFO, a link to /dev/zero, a folder or a sheet beyond
// 16 MiB is refused at once, never waited on or read without end.
#include "gui/model/descriptor_files.h"

#include <gtest/gtest.h>

#include "gui/model/model_test_util.h"
#include "gui/model/toc_information.h"
#include "platform/regular_file.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::Q;
using testing::StandIn;
using testing::StandInFile;

const char kCue[] = "FILE \"disc.img\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
// Loads the descriptor `name` of the folder; the status texts it raised.
bool Load(const std::filesystem::path& dir, const std::string& name, QStringList* texts) {
  TOCInformation toc;
  testing::StatusRecorder recorder(toc);
  QString image;
  int32_t sector_size = 0;
  const QString path = Q(dir / name);
  bool loaded = false;
  if (name.ends_with(".cue")) loaded = toc.LoadCUEFile(path, image, sector_size);
  if (name.ends_with(".ccd")) loaded = toc.LoadCCDFile(path);
  if (name.ends_with(".iso")) loaded = toc.LoadISOFile(path, sector_size);
  *texts = recorder.Texts();
  return loaded;
}

struct DescriptorCase {
  const char* descriptor;  // the file loaded
  const char* replaced;    // the file a stand-in takes the place of
  StandIn stand_in;
};

class DescriptorForeignFile : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(DescriptorForeignFile, IsRefusedAtOnce) {
  const DescriptorCase& c = GetParam();
  testing::ScratchDir dir;
  testing::MakeSizedFile(dir / "disc.img", 2352 * 10);
  testing::MakeSizedFile(dir / "disc.iso", 2048 * 10);
  testing::WriteFileBytes(dir / "disc.cdt", std::string(18, '\0'));
  testing::WriteFileBytes(dir / "disc.cue", kCue);
  testing::WriteFileBytes(dir / "text.cue", std::string("CDTEXTFILE \"disc.cdt\"\r\n") + kCue);
  TOCInformation ccd;
  ccd.RawTOCAdd(1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  ccd.RawTOCAdd(1, 0x10, 0, 0xA1, 0, 0, 0, 0, 1, 0, 0);
  ccd.RawTOCAdd(1, 0x10, 0, 0xA2, 0, 0, 0, 0, 0, 2, 10);
  ccd.TOCAdd(1, 1, 1, 0, 0, 0, 9);
  ASSERT_TRUE(ccd.SaveCCDFile(Q(dir / "disc.ccd")));
  QStringList texts;
  ASSERT_TRUE(Load(dir.path(), c.descriptor, &texts));

  std::filesystem::remove(dir / c.replaced);
  StandInFile stand_in(dir / c.replaced, c.stand_in, {}, platform::kMaxSheetFileBytes);
  EXPECT_FALSE(Load(dir.path(), c.descriptor, &texts));
  EXPECT_FALSE(stand_in.Blocked());
  if (std::string(c.replaced) == "disc.cdt") {
    EXPECT_EQ(texts, QStringList{QStringLiteral("CUEFileError: CDTextファイルが開けません - ") + Q(dir / c.replaced)});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, DescriptorForeignFile,
    ::testing::Values(DescriptorCase{"disc.cue", "disc.cue", StandIn::kFifo},
                      DescriptorCase{"disc.cue", "disc.cue", StandIn::kZeroDevice},
                      DescriptorCase{"disc.cue", "disc.cue", StandIn::kOversize},
                      DescriptorCase{"text.cue", "disc.cdt", StandIn::kFifo},
                      DescriptorCase{"text.cue", "disc.cdt", StandIn::kZeroDevice},
                      DescriptorCase{"text.cue", "disc.cdt", StandIn::kFolder},
                      DescriptorCase{"disc.ccd", "disc.ccd", StandIn::kFifo},
                      DescriptorCase{"disc.ccd", "disc.ccd", StandIn::kZeroDevice},
                      DescriptorCase{"disc.ccd", "disc.ccd", StandIn::kOversize},
                      DescriptorCase{"disc.iso", "disc.iso", StandIn::kFifo},
                      DescriptorCase{"disc.iso", "disc.iso", StandIn::kZeroDevice}),
    [](const auto& info) {
      std::string name = std::string(info.param.descriptor) + "_" + info.param.replaced + "_" +
                         testing::StandInName(info.param.stand_in);
      for (char& ch : name) ch = ch == '.' ? '_' : ch;
      return name;
    });

// The savers by the same rule: a FIFO, device or folder where a sheet,
// pack file or CCD descriptor is to go is refused at once and told, and left
// as it was; a pack file refused leaves the sheet without its line.
class DescriptorSaveOverForeignFile : public ::testing::TestWithParam<std::tuple<const char*, StandIn>> {};

TEST_P(DescriptorSaveOverForeignFile, IsRefusedAtOnceAndTold) {
  const std::string replaced = std::get<0>(GetParam());
  const StandIn kind = std::get<1>(GetParam());
  testing::ScratchDir dir;
  TOCInformation toc;
  toc.RawTOCAdd(1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(1, 0x10, 0, 0xA1, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(1, 0x10, 0, 0xA2, 0, 0, 0, 0, 0, 2, 10);
  toc.TOCAdd(1, 1, 1, 0, 0, 0, 9);
  const uint8_t text[12] = {'A'};
  toc.CDTextAdd(0x80, 0, 0, 0, text, {});
  testing::StatusRecorder recorder(toc);
  StandInFile stand_in(dir / replaced, kind);
  const QString cue = Q(dir / "disc.cue");
  const QString cdt = Q(dir / "disc.cdt");
  bool saved;
  if (replaced == "disc.ccd") saved = toc.SaveCCDFile(Q(dir / "disc.ccd"));
  else saved = toc.SaveCUEFile(cue, Q(dir / "disc.img"), cdt);
  EXPECT_FALSE(stand_in.Blocked());
  EXPECT_EQ(recorder.Texts(), QStringList{QStringLiteral("ファイル %1 は通常のファイルではありません。").arg(Q(dir / replaced))});
  EXPECT_EQ(recorder.events.at(0).first, 2);
  EXPECT_FALSE(std::filesystem::is_regular_file(dir / replaced));
  if (replaced == "disc.cdt") {
    ASSERT_TRUE(saved);
    EXPECT_EQ(testing::ReadFileBytes(dir / "disc.cue").find("CDTEXTFILE"), std::string::npos);
  } else {
    EXPECT_FALSE(saved);
    EXPECT_FALSE(std::filesystem::exists(dir / "disc.cdt"));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DescriptorSaveOverForeignFile,
                         ::testing::Combine(::testing::Values("disc.cue", "disc.cdt", "disc.ccd"),
                                            ::testing::Values(StandIn::kFifo, StandIn::kZeroDevice, StandIn::kFolder)),
                         [](const auto& info) {
                           std::string name = std::string(std::get<0>(info.param)) + "_" +
                                              testing::StandInName(std::get<1>(info.param));
                           for (char& ch : name) ch = ch == '.' ? '_' : ch;
                           return name;
                         });

// A write-protected sheet or descriptor is kept and told, root or not.
TEST(DescriptorFilesTest, WriteProtectedDescriptorsAreKeptAndTold) {
  testing::ScratchDir dir;
  TOCInformation toc;
  toc.RawTOCAdd(1, 0x10, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.TOCAdd(1, 1, 1, 0, 0, 0, 9);
  for (const char* name : {"disc.cue", "disc.ccd"}) {
    testing::WriteFileBytes(dir / name, "kept");
    std::filesystem::permissions(dir / name, std::filesystem::perms(0444));
    testing::StatusRecorder recorder(toc);
    const bool saved = std::string(name) == "disc.cue" ? toc.SaveCUEFile(Q(dir / name), Q(dir / "disc.img"), QString())
                                                       : toc.SaveCCDFile(Q(dir / name));
    EXPECT_FALSE(saved) << name;
    EXPECT_EQ(recorder.Texts(), QStringList{QStringLiteral("ファイル %1 が開けません。").arg(Q(dir / name))});
    EXPECT_EQ(testing::ReadFileBytes(dir / name), "kept");
  }
}

TEST(DescriptorFilesTest, SizesAndBytesOfRegularFilesOnly) {
  testing::ScratchDir dir;
  testing::MakeSizedFile(dir / "disc.img", 2352 * 3);
  EXPECT_EQ(FileSizeOfPath(Q(dir / "disc.img")), 2352 * 3);
  StandInFile fifo(dir / "fifo.img", StandIn::kFifo);
  EXPECT_EQ(FileSizeOfPath(Q(dir / "fifo.img")), 0);
  QByteArray bytes;
  EXPECT_FALSE(ReadBinaryFile(Q(dir / "fifo.img"), &bytes, 100));
  EXPECT_FALSE(ReadBinaryFile(QStringLiteral("/dev/zero"), &bytes, 100));
  EXPECT_FALSE(fifo.Blocked());
}

}  // namespace
}  // namespace sorvel
