// Every integer argument of the engine bindings at the ends of its range,
// through the real engines and emulated drives: no value a client (an
// automation client on the bus included) can pass reaches arithmetic that
// overflows. Run under the sanitizer build, an overflow ends the test.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <climits>
#include <cstdint>
#include <vector>

#include "gui/foundation/wave_header.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/built_engines.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

const std::vector<int32_t> kLimits = {INT32_MIN, INT32_MIN + 1, -2, -1, 0, 100, INT32_MAX - 1, INT32_MAX};

class BindingArgumentsTest : public ::testing::Test {
 protected:
  QString Path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }

  testing::BuiltEngines engines_;
  testing::ScratchDir dir_;
};

TEST_F(BindingArgumentsTest, TazolMembersAtTheLimits) {
  const auto header = MakeWaveHeader(300 * 2352, 44100, 16, true);
  ASSERT_TRUE(header.has_value());
  testing::WriteFileBytes(dir_ / "one.wav", std::string(header->data(), WaveHeader::size()) + std::string(300 * 2352, '\x11'));
  Tazol tazol;
  ASSERT_TRUE(tazol.AddTrack(Path("one.wav"), 150, 0, 0));
  for (int32_t v : kLimits) {
    SCOPED_TRACE(v);
    tazol.InitISOFS(v);
    if (v != 0 && v != 100) {
      EXPECT_FALSE(tazol.AddTrack(Path("one.wav"), v, 0, 0));
      EXPECT_FALSE(tazol.AddTrack(Path("one.wav"), 0, v, 0));
    }
    tazol.AddTrack(Path("one.wav"), 0, 0, v);
    tazol.ResetTrack(v, Path("one.wav"), 150, 0, 0);
    tazol.ResetTrack(1, Path("one.wav"), v, v, v);
    if (v < 1 || v > 99) {
      EXPECT_FALSE(tazol.RemoveTrack(v));
      EXPECT_EQ(tazol.GetTrackInformation(v), nullptr);
    }
    tazol.SetTrackText(v, v, v, QStringLiteral("text"));
    tazol.SetTrackText(v, 0, 0, QStringLiteral("text"));
    tazol.GetTrackText(v, v, v);
    tazol.GetTrackText(0, v, 0);
    tazol.GetTrackText(0, 0, v);
    tazol.SetTrackTextEnabled(v, v, false);
    tazol.GetTrackTextEnabled(v, v);
    tazol.SetTrackTextEx(v, v, ISOTrackText());
    tazol.GetTrackTextEx(v, v);
    EXPECT_TRUE(Tazol::TimeToDate(v).isValid());
  }
  for (int16_t attribute : {int16_t{INT16_MIN}, int16_t{-1}, int16_t{INT16_MAX}}) {
    QString name = QStringLiteral("dir%1").arg(attribute);
    tazol.MakeISODirectory(name, attribute, QDateTime::currentDateTime());
    tazol.ChangeISOProperties(name, attribute, QDateTime::fromSecsSinceEpoch(INT64_C(1) << 40));
  }
  for (int64_t size : {INT64_MIN, int64_t{-1}, int64_t{UINT32_MAX} + 1, INT64_MAX}) {
    QString name = QStringLiteral("dummy");
    EXPECT_FALSE(tazol.AddISODummyFile(name, size, QDateTime::currentDateTime()));
  }
  EXPECT_GE(tazol.GetTrackCount(), 1);
}

TEST_F(BindingArgumentsTest, TrelinMembersAtTheLimitsInEveryState) {
  const testing::CueFixture disc = testing::MakeCueImage(dir_.path(), "p", {{false, 0, 300, "", false}});
  testing::ScopedEnv drives("SORVEL_DRIVES", "E:=emu:" + (dir_ / "pressed.state").string() + ",image=" +
                                                 disc.cue.string() + ";F:=emu:" + (dir_ / "blank.state").string() +
                                                 ",medium=cd-r");
  QByteArray buffer(Trelin::kSectorBufferSize, '\0');
  // Members that take a number and touch the drive or the pass it runs.
  auto every_member = [&buffer](Trelin& drive, int32_t v) {
    drive.GetDeviceName(v);
    drive.SetBufferingBlockLength(v);
    drive.ReadLBA(buffer, v);
    drive.ReadLBADummy(buffer, v);
    drive.WriteLBA(CSD_MAINCHANNEL, buffer, v);
    drive.WriteLBA(v, buffer, 0);
    drive.IsSupportMedia(v);
    drive.IsReadSupport(v);
    drive.IsWriteSupport(v);
    drive.SetECCMode(true, v);
    drive.SetReadSpeed(v, false);
    drive.SetWriteSpeed(v, true);
    drive.CheckWriteMode(v, false, MFT_CDFAMILY);
    drive.CheckWriteMode(CCC_SAO, true, v);
    QByteArray part(64, '\0');
    drive.GetTOCStructureRaw(v, part, 64);
    drive.GetTOCStructureRaw(0, part, v);
    drive.SetTOCStructureRaw(v, part, 64);
    drive.SetTOCStructureRaw(0, part, v);
    Trelin::GetMediaTypeName(v);
  };
  Trelin closed;
  for (int32_t v : kLimits) {
    SCOPED_TRACE(v);
    every_member(closed, v);
    closed.ReadStart(v, v);
    closed.WriteStart(v, v);
    closed.SetWriteCacheBufferSize(v);
    EXPECT_TRUE(closed.GetRemoteHosts(QStringLiteral("127.0.0.1"), v == 100 ? 70000 : v, 0).isEmpty());
    closed.OpenDevice(v);
    closed.CloseDevice();
  }

  Trelin reader;
  ASSERT_TRUE(reader.OpenDevice(4));
  for (int32_t v : kLimits) {
    SCOPED_TRACE(v);
    every_member(reader, v);
    reader.ReadStart(v, v);
    reader.ReadEnd();
  }
  ASSERT_EQ(reader.ReadStart(CCC_RAW96, 0), CBR_OK);
  for (int32_t v : kLimits) {
    SCOPED_TRACE(v);
    every_member(reader, v);
  }
  EXPECT_TRUE(reader.ReadLBA(buffer, 0));
  reader.ReadEnd();

  Trelin writer;
  ASSERT_TRUE(writer.OpenDevice(5));
  ASSERT_TRUE(reader.OpenDevice(4));
  ASSERT_EQ(reader.ReadStart(CCC_RAW96, 0), CBR_OK);
  std::unique_ptr<TOCInformation> toc = reader.GetTOCStructure();
  reader.ReadEnd();
  writer.SetTOCStructure(*toc);
  for (int32_t v : kLimits) {
    SCOPED_TRACE(v);
    writer.SetWriteCacheBufferSize(v);
  }
  writer.SetWriteCacheBufferSize(1 << 20);
  ASSERT_EQ(writer.WriteStart(CCC_DAO_RAW96, 0), CBR_OK) << writer.GetSCSIErrorDescription().toStdString();
  for (int32_t v : kLimits) {
    SCOPED_TRACE(v);
    every_member(writer, v);
  }
  writer.WriteFlush(true);
  writer.WriteEnd(true);
  EXPECT_TRUE(writer.CloseDevice());
}

}  // namespace
}  // namespace sorvel
