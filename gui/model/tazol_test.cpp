// The mastering engine binding over the stand-in engine library: arguments,
// names written back, the records it decodes and the order of its signals.
#include "gui/model/tazol.h"

#include <gtest/gtest.h>

#include <climits>

#include <QSignalSpy>
#include <QStringList>
#include <QTimeZone>

#include "gui/model/fake_engine/fake_engine_control.h"

namespace sorvel {
namespace {

using testing::FakeEngine;

QByteArray Le32(int32_t v) {
  QByteArray b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(static_cast<uint32_t>(v) >> (8 * i));
  return b;
}

// Records the names of the signals in the order they arrive.
class SignalLog {
 public:
  explicit SignalLog(Tazol& tazol) {
    QObject::connect(&tazol, &Tazol::ChangeISOFile, [this] { names << QStringLiteral("ChangeISOFile"); });
    QObject::connect(&tazol, &Tazol::ChangeISOFileSize, [this] { names << QStringLiteral("ChangeISOFileSize"); });
    QObject::connect(&tazol, &Tazol::ChangeTrack, [this] { names << QStringLiteral("ChangeTrack"); });
  }
  QStringList Take() { return std::exchange(names, {}); }
  QStringList names;
};

class TazolTest : public ::testing::Test {
 protected:
  FakeEngine fake_{"full", "libtazol.so"};
};

const QStringList kData{"ChangeISOFile", "ChangeISOFileSize"};

TEST_F(TazolTest, NamesComeBackAsTheEngineStoredThemAndSignalsFollow) {
  Tazol tazol;
  SignalLog log(tazol);
  EXPECT_EQ(tazol.FileSystem(), 0);
  fake_.SetOutput("GetISONewFileDirectoryName", 0, QByteArray("LONGNAME.TXT;1"));
  QString name = QStringLiteral("長い名前のファイル.txt");
  ASSERT_TRUE(tazol.AddISOFile(name, QStringLiteral("/tmp/源.txt")));
  EXPECT_EQ(name, QStringLiteral("LONGNAME.TXT;1"));
  EXPECT_EQ(log.Take(), kData);
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("AddISOFile 23063 長い名前のファイル.txt|/tmp/源.txt")));
  // A failed add leaves the name and raises nothing.
  fake_.SetResult("AddISOFile", 0);
  name = QStringLiteral("b.txt");
  EXPECT_FALSE(tazol.AddISOFile(name, QStringLiteral("/nope")));
  EXPECT_EQ(name, QStringLiteral("b.txt"));
  EXPECT_TRUE(log.Take().isEmpty());

  const QDateTime when = QDateTime::fromSecsSinceEpoch(1700000000);
  QString dir = QStringLiteral("DIR");
  ASSERT_TRUE(tazol.MakeISODirectory(dir, 2, when));
  EXPECT_EQ(log.Take(), kData);
  QString dummy = QStringLiteral("D");
  ASSERT_TRUE(tazol.AddISODummyFile(dummy, 4096, when));
  EXPECT_EQ(log.Take(), kData);
  QString big = QStringLiteral("BIG");
  ASSERT_TRUE(tazol.AddISODummyFile(big, 0xFFFFFFFFLL, when));
  EXPECT_EQ(log.Take(), kData);
  QString refused = QStringLiteral("R");
  EXPECT_FALSE(tazol.AddISODummyFile(refused, 1LL << 32, when));
  EXPECT_FALSE(tazol.AddISODummyFile(refused, -1, when));
  EXPECT_TRUE(log.Take().isEmpty());
  QString renamed = QStringLiteral("E");
  ASSERT_TRUE(tazol.RenameISOFile(QStringLiteral("D"), renamed));
  EXPECT_EQ(renamed, QStringLiteral("LONGNAME.TXT;1"));
  EXPECT_EQ(log.Take(), kData);
  ASSERT_TRUE(tazol.RemoveISOFile(QStringLiteral("E")));
  EXPECT_EQ(log.Take(), kData);
  ASSERT_TRUE(tazol.ChangeISODirectory(QStringLiteral("\\DIR")));
  EXPECT_EQ(log.Take(), QStringList{"ChangeISOFile"});
  ASSERT_TRUE(tazol.ChangeISOProperties(QStringLiteral("X"), 2, when));
  EXPECT_TRUE(log.Take().isEmpty());
  ASSERT_TRUE(tazol.InitISOFS(17));
  EXPECT_EQ(tazol.FileSystem(), 17);
  EXPECT_EQ(log.Take(), kData);
  fake_.SetResult("InitISOFS", 0);
  EXPECT_FALSE(tazol.InitISOFS(99));
  EXPECT_EQ(tazol.FileSystem(), 17);
  tazol.ClearISO();
  EXPECT_EQ(log.Take(), kData);
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("MakeISODirectory 23063 2 1700000000 DIR")));
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("AddISODummyFile 23063 0 4096 1700000000 D")));
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("AddISODummyFile 23063 0 -1 1700000000 BIG")));
  EXPECT_TRUE(fake_.Calls("AddISODummyFile 23063 0 0").isEmpty());
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("ChangeISOProperties 23063 2 1700000000 X")));
}

TEST_F(TazolTest, TrackSignalsAndNumbers) {
  Tazol tazol;
  SignalLog log(tazol);
  ASSERT_TRUE(tazol.AddTrack(QStringLiteral("/w/1.wav"), 150, 0, 2));
  EXPECT_EQ(log.Take(), QStringList{"ChangeTrack"});
  fake_.SetResult("ResetTrack", 0);
  EXPECT_FALSE(tazol.ResetTrack(9, QStringLiteral("/w/2.wav"), 0, 0, 0));
  EXPECT_EQ(log.Take(), QStringList{"ChangeTrack"});  // also when it failed
  ASSERT_TRUE(tazol.RemoveTrack(1));
  EXPECT_EQ(log.Take(), QStringList{"ChangeTrack"});
  fake_.SetResult("RemoveTrack", 0);
  EXPECT_FALSE(tazol.RemoveTrack(1));
  EXPECT_TRUE(log.Take().isEmpty());
  tazol.SetEnabledTrackText(true);
  EXPECT_TRUE(tazol.EnabledTrackText());
  tazol.ClearTrack();
  EXPECT_FALSE(tazol.EnabledTrackText());
  EXPECT_EQ(log.Take(), (QStringList{"ChangeISOFile", "ChangeISOFileSize", "ChangeTrack"}));
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("ResetTrack 23063 8 0 0 0 /w/2.wav")));
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("RemoveTrack 23063 0")));
}

// A track number outside 1..99 never reaches the engine (nor the "- 1"
// that makes its index: RemoveTrack(-2147483648) once overflowed there).
TEST_F(TazolTest, TrackNumbersOutsideADiscStopAtTheBinding) {
  Tazol tazol;
  SignalLog log(tazol);
  fake_.Reset();
  for (int32_t track : {INT32_MIN, -1, 0, 100, INT32_MAX}) {
    EXPECT_FALSE(tazol.RemoveTrack(track)) << track;
    EXPECT_TRUE(log.Take().isEmpty());
    EXPECT_FALSE(tazol.ResetTrack(track, QStringLiteral("/w/2.wav"), 0, 0, 0)) << track;
    EXPECT_EQ(log.Take(), QStringList{"ChangeTrack"});  // raised whether or not it succeeded
    EXPECT_EQ(tazol.GetTrackInformation(track), nullptr);
  }
  EXPECT_TRUE(fake_.Calls("RemoveTrack").isEmpty());
  EXPECT_TRUE(fake_.Calls("ResetTrack").isEmpty());
  EXPECT_TRUE(fake_.Calls("GetTrackInformation").isEmpty());
  EXPECT_TRUE(tazol.RemoveTrack(99));
  EXPECT_EQ(fake_.Calls("RemoveTrack"), QStringList{QStringLiteral("RemoveTrack 23063 98")});
}

TEST_F(TazolTest, TrackRecordsAreDecodedOnlyForExistingTracks) {
  Tazol tazol;
  fake_.SetResult("GetTrackCount", 2);
  QByteArray record = QByteArray("/music/曲.wav") ;
  record += QByteArray(1024 - record.size(), '\0');
  record += Le32(150) + Le32(75) + Le32(2) + Le32(4575);
  fake_.SetOutput("GetTrackInformation", 1, record);
  fake_.Reset();
  fake_.SetResult("GetTrackCount", 2);
  fake_.SetOutput("GetTrackInformation", 1, record);
  EXPECT_EQ(tazol.GetTrackInformation(0), nullptr);
  EXPECT_EQ(tazol.GetTrackInformation(3), nullptr);
  EXPECT_TRUE(fake_.Calls("GetTrackInformation").isEmpty());
  auto track = tazol.GetTrackInformation(2);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(fake_.Calls("GetTrackInformation"), QStringList{"GetTrackInformation 23063 1"});
  EXPECT_EQ(track->WaveFileName, QStringLiteral("/music/曲.wav"));
  EXPECT_EQ(track->PregapLBA, 150);
  EXPECT_EQ(track->PostgapLBA, 75);
  EXPECT_EQ(track->TrackControlFlag, 2);
  EXPECT_EQ(track->DataLBA, 4575);
  EXPECT_EQ(track->PregapMSF(), QStringLiteral("00:02:00"));
  EXPECT_EQ(track->DataMSF(), QStringLiteral("01:01:00"));
  EXPECT_EQ(SectorsToMSF(0), QStringLiteral("00:00:00"));
  EXPECT_EQ(SectorsToMSF(100 * 4500 + 74), QStringLiteral("100:00:74"));
}

TEST_F(TazolTest, FindRecordsAreDecoded) {
  QByteArray record = QByteArray("README.TXT;1");
  record += QByteArray(1024 - record.size(), '\0');
  QByteArray source(1024, 'p');  // fills its field: no terminator
  record += source;
  QByteArray large = record + Le32(0) + Le32(static_cast<int32_t>(0xC0000000u)) + Le32(0) + Le32(0);
  record += Le32(0x10002) + Le32(123456) + Le32(0) + Le32(1);
  // A host path that is not UTF-8 comes back byte for byte beside its text.
  QByteArray odd = QByteArray("_.TXT;1") + QByteArray(1024 - 7, '\0') + QByteArray("/tmp/\xFF.txt");
  odd += QByteArray(2048 - odd.size(), '\0') + Le32(0) + Le32(1) + Le32(0) + Le32(0);
  fake_.SetOutput("FindISOFile", 0, record);
  fake_.SetOutput("FindISOFile", 1, large);
  fake_.SetOutput("FindISOFile", 2, odd);
  Tazol tazol;
  auto first = tazol.FindISOFirstFile();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Name, QStringLiteral("README.TXT;1"));
  EXPECT_EQ(first->OriginalFileName, QString(1024, QLatin1Char('p')));
  EXPECT_EQ(first->SourcePath, QByteArray(1024, 'p'));
  EXPECT_EQ(first->FileAttribute, 2);
  EXPECT_EQ(first->Size, 123456);
  EXPECT_EQ(first->TimeStamp, QDateTime::fromSecsSinceEpoch(0));
  EXPECT_TRUE(first->IsDirectory);
  auto next = tazol.FindISONextFile();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->Size, 3LL << 30);  // 3 GiB: unsigned, not negative
  EXPECT_FALSE(next->IsDirectory);
  auto third = tazol.FindISONextFile();
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->SourcePath, QByteArray("/tmp/\xFF.txt"));
  EXPECT_EQ(third->OriginalFileName, QString::fromUtf8("/tmp/\xFF.txt"));
  EXPECT_EQ(tazol.FindISONextFile(), nullptr);
}

TEST_F(TazolTest, TrackTextSwitchesWorkOverEveryBlock) {
  Tazol tazol;
  fake_.SetResult("GetTrackCount", 3);
  tazol.SetTrackTextEnabled(1, 0, false);
  EXPECT_EQ(fake_.Calls("SetTrackText"),
            (QStringList{"SetTrackText 23063 0 1 0 ", "SetTrackText 23063 1 1 0 ", "SetTrackText 23063 2 1 0 ",
                         "SetTrackText 23063 3 1 0 "}));
  fake_.Reset();
  fake_.SetResult("GetTrackCount", 3);
  tazol.SetTrackTextEnabled(1, 0, true);
  EXPECT_TRUE(fake_.Calls("SetTrackText").isEmpty());
  // Only an English title on track 2: the Japanese title counts as off.
  fake_.SetOutput("GetTrackText", 2 * 100 + 0 * 10 + 0, QByteArray("Song"));
  EXPECT_TRUE(tazol.GetTrackTextEnabled(0, 0));
  EXPECT_FALSE(tazol.GetTrackTextEnabled(1, 0));
  auto text = tazol.GetTrackTextEx(2, 0);
  EXPECT_EQ(text->Title, QStringLiteral("Song"));
  EXPECT_TRUE(text->TitleEnabled);
  EXPECT_FALSE(text->PerformerEnabled);
  EXPECT_TRUE(text->IsHalfWidth());
  EXPECT_TRUE(text->LanguageEnabled());
  text->SetLanguageEnabled(true);
  EXPECT_TRUE(text->TitleEnabled);
  text->SetLanguageEnabled(false);
  EXPECT_FALSE(text->LanguageEnabled());

  // Ex writes the six texts, then switches the items that are off.
  fake_.Reset();
  fake_.SetResult("GetTrackCount", 1);
  ISOTrackText t;
  t.Title = QStringLiteral("題");
  t.TitleEnabled = true;
  tazol.SetTrackTextEx(1, 1, t);
  const QStringList calls = fake_.Calls("SetTrackText");
  ASSERT_EQ(calls.size(), 6 + 5 * 2);
  EXPECT_EQ(calls[0], QStringLiteral("SetTrackText 23063 1 1 0 題"));
  EXPECT_EQ(calls[6], QStringLiteral("SetTrackText 23063 0 1 1 "));
}

TEST(ISOTrackTextTest, HalfWidth) {
  ISOTrackText t;
  EXPECT_FALSE(t.IsHalfWidth());
  t.Title = QStringLiteral("ABC");
  EXPECT_TRUE(t.IsHalfWidth());
  t.Message = QStringLiteral("ｱｲｳ");  // half-width katakana: single bytes in CP932
  EXPECT_TRUE(t.IsHalfWidth());
  t.Composer = QStringLiteral("作");
  EXPECT_FALSE(t.IsHalfWidth());
  ISOTrackText blank;
  blank.Arranger = QStringLiteral("   ");
  EXPECT_FALSE(blank.IsHalfWidth());
}

TEST(TazolTimeTest, EngineTimesAreUnixSecondsInLocalTime) {
  EXPECT_EQ(Tazol::TimeToDate(0), QDateTime::fromSecsSinceEpoch(0));
  EXPECT_EQ(Tazol::TimeToDate(0).timeSpec(), Qt::LocalTime);
  EXPECT_EQ(Tazol::DateToTime(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC)), 1704164645);
  EXPECT_EQ(Tazol::DateToTime(QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::UTC)), INT32_MAX);
  EXPECT_EQ(Tazol::DateToTime(QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC)), INT32_MIN);
  EXPECT_EQ(Tazol::DateToTime(QDateTime(QDate(1965, 1, 1), QTime(0, 0), Qt::UTC)), -157766400);
  EXPECT_EQ(Tazol::TimeToDate(INT32_MAX), QDateTime(QDate(2038, 1, 19), QTime(3, 14, 7), Qt::UTC));
  EXPECT_EQ(Tazol::DateToTime(QDateTime()), 0);
  EXPECT_EQ(Tazol::DateToTime(Tazol::TimeToDate(-86400)), -86400);
}

TEST(TazolPartialLibraryTest, AMissingLaterExportFailsOnlyThatCall) {
  FakeEngine fake("partial", "libtazol.so");
  Tazol tazol;
  EXPECT_EQ(tazol.GetTrackCount(), 0);
  EXPECT_EQ(tazol.GetTrackInformation(1), nullptr);
  EXPECT_TRUE(tazol.IsISOEmpty());
}

}  // namespace
}  // namespace sorvel
