// The real engines through their bindings: a mixed-mode layout built with
// Tazol is written with Trelin to an emulated CD-R and read back identical.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <vector>

#include "gui/model/engine_library.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"
#include "testing/gui/built_engines.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

// A 44.1 kHz 16-bit stereo WAV file of `sectors` CD frames of a known pattern.
void WriteWave(const QString& path, int sectors) {
  const uint32_t data = static_cast<uint32_t>(sectors) * 2352;
  QByteArray bytes;
  auto le = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.append(static_cast<char>(v >> (8 * i)));
  };
  bytes += "RIFF";
  le(36 + data, 4);
  bytes += "WAVEfmt ";
  le(16, 4);
  le(1, 2);
  le(2, 2);
  le(44100, 4);
  le(44100 * 4, 4);
  le(4, 2);
  le(16, 2);
  bytes += "data";
  le(data, 4);
  for (uint32_t i = 0; i < data; ++i) bytes.append(static_cast<char>((i * 7 + (i >> 9)) & 0xFF));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

class EngineRoundTripTest : public ::testing::Test {
 protected:
  QString Path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }

  testing::BuiltEngines engines_;
  testing::ScratchDir dir_;
};

TEST_F(EngineRoundTripTest, LayoutWrittenToAnEmulatedCdReadsBackIdentical) {
  testing::ScopedEnv drives("SORVEL_DRIVES", "E:=emu:" + (dir_ / "cd.state").string() + ",medium=cd-r");

  // The layout: one file in a Joliet data area, then an audio track.
  Tazol tazol;
  EXPECT_GT(tazol.GetEngineVersion(), 0);
  QSignalSpy files(&tazol, &Tazol::ChangeISOFile);
  ASSERT_TRUE(tazol.InitISOFS(16));
  QByteArray content;
  for (int i = 0; i < 150000; ++i) content.append(static_cast<char>(i * 13 + (i >> 11)));
  {
    QFile file(Path("日本語の資料.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  QString name = QStringLiteral("日本語の資料.bin");
  ASSERT_TRUE(tazol.AddISOFile(name, Path("日本語の資料.bin")));
  EXPECT_FALSE(name.isEmpty());
  EXPECT_EQ(files.count(), 2);
  WriteWave(Path("track.wav"), 320);
  ASSERT_TRUE(tazol.AddTrack(Path("track.wav"), 150, 0, 0));
  ASSERT_EQ(tazol.GetTrackCount(), 2);
  EXPECT_EQ(tazol.GetTrackInformation(2)->DataLBA, 320);
  // The entry as the engine lists it.
  bool found = false;
  for (auto entry = tazol.FindISOFirstFile(); entry != nullptr; entry = tazol.FindISONextFile()) {
    if (entry->Name == name) {
      found = true;
      EXPECT_EQ(entry->Size, content.size());
      EXPECT_EQ(entry->OriginalFileName, Path("日本語の資料.bin"));
    }
  }
  EXPECT_TRUE(found);
  tazol.VolumeLabel = QStringLiteral("ROUNDTRIP");
  const int32_t total = tazol.ReadStart();
  ASSERT_GT(total, 320 + 150);
  std::unique_ptr<TOCInformation> layout = tazol.GetTOCStructure();
  ASSERT_GE(layout->TOCCount(), 3);
  EXPECT_EQ(layout->TOC(layout->TOCCount())->EndLBA, total - 1);

  // Written through the device engine binding, sector by sector as the stream gives them.
  Trelin writer;
  ASSERT_TRUE(writer.OpenDevice(4));
  EXPECT_FALSE(writer.device_name().isEmpty());
  ASSERT_TRUE(writer.IsMediaWritable());
  EXPECT_EQ(Trelin::GetMediaTypeName(writer.GetMediaType()), QStringLiteral("CD-R"));
  const int32_t command = writer.GetDefaultCDWriteCommand();
  EXPECT_EQ(command, CCC_DAO_RAW96);  // a local drive: its richest mode
  writer.SetTOCStructure(*layout);
  writer.SetWriteCacheBufferSize(4 * 1024 * 1024);  // bytes: the worker thread writes
  ASSERT_EQ(writer.WriteStart(command, 0), CBR_OK) << writer.GetSCSIErrorDescription().toStdString();
  std::vector<QByteArray> sectors;
  QByteArray sector(Tazol::kSectorSize, '\0');
  for (int32_t lba = 0; lba < total; ++lba) {
    ASSERT_TRUE(tazol.Read(sector, true)) << lba;
    sectors.push_back(sector);
    ASSERT_TRUE(writer.WriteLBA(CSD_MAINCHANNEL, sector, lba)) << lba;
  }
  tazol.ReadEnd();
  ASSERT_TRUE(writer.WriteFlush());
  EXPECT_EQ(writer.GetLastWroteLBA(), total - 1);
  ASSERT_TRUE(writer.WriteEnd());
  EXPECT_FALSE(writer.IsMediaWritable());  // a written CD-R
  ASSERT_TRUE(writer.CloseDevice());

  // Read back with another binding object, the way a copy job would.
  Trelin reader;
  ASSERT_TRUE(reader.OpenDeviceEx(QStringLiteral("\\\\.\\E:")));
  EXPECT_FALSE(reader.remote());
  reader.SetBufferingBlockLength(16);
  ASSERT_EQ(reader.ReadStart(CCC_RAW, 0), CBR_OK) << reader.GetSCSIErrorDescription().toStdString();
  std::unique_ptr<TOCInformation> disc = reader.GetTOCStructure();
  ASSERT_EQ(disc->TOCCount(), layout->TOCCount());
  for (int i = 1; i <= layout->TOCCount(); ++i) {
    EXPECT_EQ(disc->TOC(i)->TrackNo, layout->TOC(i)->TrackNo) << i;
    EXPECT_EQ(disc->TOC(i)->IndexNo, layout->TOC(i)->IndexNo) << i;
    EXPECT_EQ(disc->TOC(i)->SectorMode, layout->TOC(i)->SectorMode) << i;
    EXPECT_EQ(disc->TOC(i)->StartLBA, layout->TOC(i)->StartLBA) << i;
    EXPECT_EQ(disc->TOC(i)->EndLBA, layout->TOC(i)->EndLBA) << i;
  }
  EXPECT_GT(disc->RawTOCCount(), 0);
  QByteArray read(Trelin::kSectorBufferSize, '\0');
  for (int32_t lba = 0; lba < total; ++lba) {
    ASSERT_TRUE(reader.ReadLBA(read, lba)) << lba << " " << reader.GetSCSIErrorDescription().toStdString();
    ASSERT_EQ(read.left(Tazol::kSectorSize), sectors[static_cast<size_t>(lba)]) << lba;
  }
  EXPECT_TRUE(reader.ReadEnd());
  EXPECT_TRUE(reader.CloseDevice());
}

TEST_F(EngineRoundTripTest, SenseOfACommandWithoutADriveAndAnUnknownDriveLetter) {
  testing::ScopedEnv drives("SORVEL_DRIVES", "E:=emu:" + (dir_ / "cd.state").string() + ",medium=cd-r");
  Trelin trelin;
  EXPECT_EQ(trelin.GetSCSIErrorStatus(), 0xFFFFFF);
  EXPECT_EQ(trelin.GetSCSIErrorDescription(),
            QStringLiteral("SCSI Command timeout (Unable to communicate with device)"));
  EXPECT_FALSE(trelin.OpenDevice(5));  // F: is not in the map
  EXPECT_TRUE(trelin.device_name().isEmpty());
  ASSERT_TRUE(trelin.OpenDevice(4));
  EXPECT_EQ(trelin.GetMediaFamilyType(), MFT_CDFAMILY);
  EXPECT_EQ(trelin.GetReadSpeed()->Count(), 12);
  EXPECT_GE(trelin.GetWriteSpeed()->Count(), 1);
  // Reading an empty disc fails with a reason from the drive.
  EXPECT_NE(trelin.ReadStart(CCC_DATA, 0), CBR_OK);
}

}  // namespace
}  // namespace sorvel

namespace sorvel {
namespace {

class RealEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEngineLibraryFolder(QFileInfo(QString::fromStdString(testing::BuiltLibraryPath("libtrelin.so"))).path());
  }
  void TearDown() override { SetEngineLibraryFolder(QString()); }
};

// Every part set through the binding comes back from the engine unchanged.
TEST_F(RealEngineTest, TocPartsRoundTripThroughTheDeviceEngine) {
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 14999);
  toc.TOCAdd(1, 2, 0, 2, 0, 15000, 15149);
  toc.TOCAdd(1, 2, 1, 2, 0, 15150, 359999);
  toc.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(1, 0x10, 0, 0xA1, 0, 0, 0, 0, 2, 0, 0);
  toc.MCN(QStringLiteral("4901234567894"));
  toc.ISRCAdd(QString());
  toc.ISRCAdd(QStringLiteral("JPABC0012345"));
  for (int i = 0; i < 3; ++i) {
    const uint8_t data[12] = {'T', 'I', 'T', 'L', 'E', static_cast<uint8_t>('0' + i), 0, 0, 0, 0, 0, 0};
    const uint8_t crc[2] = {static_cast<uint8_t>(i), 0x5A};
    toc.CDTextAdd(0x80, static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0, data, crc);
  }
  Trelin trelin;
  trelin.SetTOCStructure(toc);
  std::unique_ptr<TOCInformation> back = trelin.GetTOCStructure();
  ASSERT_EQ(back->TOCCount(), 3);
  for (int i = 1; i <= 3; ++i) {
    const model::TOCTrack& a = *toc.TOC(i);
    const model::TOCTrack& b = *back->TOC(i);
    EXPECT_EQ(std::tie(a.SessionNo, a.TrackNo, a.IndexNo, a.Flags, a.SectorMode, a.StartLBA, a.EndLBA),
              std::tie(b.SessionNo, b.TrackNo, b.IndexNo, b.Flags, b.SectorMode, b.StartLBA, b.EndLBA))
        << i;
  }
  ASSERT_EQ(back->RawTOCCount(), 2);
  EXPECT_EQ(back->RawTOC(2)->Point, 0xA1);
  EXPECT_EQ(back->RawTOC(2)->PMinute, 2);
  EXPECT_EQ(back->MCN(), QStringLiteral("4901234567894"));
  ASSERT_EQ(back->ISRCCount(), 2);
  EXPECT_EQ(back->ISRC(1), QStringLiteral("000000000000"));
  EXPECT_EQ(back->ISRC(2), QStringLiteral("JPABC0012345"));
  ASSERT_EQ(back->CDTextCount(), 3);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(back->CDText(i)->Data, toc.CDText(i)->Data) << i;
    EXPECT_EQ(back->CDText(i)->Crc, toc.CDText(i)->Crc) << i;
    EXPECT_EQ(back->CDText(i)->TrackNo, toc.CDText(i)->TrackNo) << i;
  }
  // Cleared, the engine gives an empty model.
  trelin.ClearTOCStructure();
  std::unique_ptr<TOCInformation> cleared = trelin.GetTOCStructure();
  EXPECT_EQ(cleared->TOCCount(), 0);
  EXPECT_EQ(cleared->MCN(), QStringLiteral("0000000000000"));
}

// Texts cross as UTF-8; one that fills the engine's copy is cut on a whole character.
TEST_F(RealEngineTest, TrackTextsCrossAsUtf8AndCutOnWholeCharacters) {
  Tazol tazol;
  testing::ScratchDir dir;
  const QString wave = QString::fromStdString((dir / "a.wav").string());
  WriteWave(wave, 300);
  ASSERT_TRUE(tazol.AddTrack(wave, 150, 0, 0));
  tazol.SetTrackText(1, 1, 0, QStringLiteral("夜明けの歌"));
  EXPECT_EQ(tazol.GetTrackText(1, 1, 0), QStringLiteral("夜明けの歌"));
  EXPECT_TRUE(tazol.GetTrackTextEnabled(1, 0));
  EXPECT_FALSE(tazol.GetTrackTextEnabled(0, 0));
  const QString longer = QString(1023, QLatin1Char('a')) + QStringLiteral("光光");
  tazol.SetTrackText(0, 1, 5, longer);
  const QString back = tazol.GetTrackText(0, 1, 5);
  EXPECT_EQ(back, QString(1023, QLatin1Char('a')));  // 1,023 bytes and the first of three
  EXPECT_FALSE(back.contains(QChar::ReplacementCharacter));
  tazol.SetTrackTextEnabled(1, 0, false);
  EXPECT_EQ(tazol.GetTrackText(1, 1, 0), QString());
  EXPECT_EQ(tazol.GetISOCurrentDirectory(), QStringLiteral("\\"));
  EXPECT_TRUE(tazol.IsISOEmpty());
}

}  // namespace
}  // namespace sorvel
