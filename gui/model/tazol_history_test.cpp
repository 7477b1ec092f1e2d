#include "gui/model/tazol_history.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include "gui/foundation/history_database.h"
#include "gui/foundation/wave_header.h"
#include "gui/model/engine_library.h"
#include "gui/model/tazol.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::RunCommand;

class TazolHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::RequireTool("sqlite3"));
    SetEngineLibraryFolder(QFileInfo(QString::fromStdString(testing::BuiltLibraryPath("libtazol.so"))).path());
  }
  void TearDown() override { SetEngineLibraryFolder(QString()); }

  QString Path(const std::string& name) const { return QString::fromStdString((dir_ / name).string()); }
  void WriteFile(const std::string& name, const QByteArray& bytes) {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  std::string Query(const std::string& sql) {
    std::string out;
    EXPECT_EQ(RunCommand("sqlite3 -separator '|' -nullvalue NULL '" + (dir_ / "h.mdb").string() + "' \"" + sql + "\"",
                         &out),
              0);
    return out;
  }

  testing::ScratchDir dir_;
};

TEST_F(TazolHistoryTest, LayoutOfTheEngineIsRecordedWithFilesTracksAndTexts) {
  WriteFile("a.txt", "alpha");
  WriteFile("b.txt", "bravo!");
  const auto header = MakeWaveHeader(2352 * 4, 44100, 16, true);
  ASSERT_TRUE(header.has_value());
  WriteFile("song.wav", QByteArray(header->data(), header->size()) + QByteArray(2352 * 4, '\x11'));

  Tazol image;
  ASSERT_TRUE(image.InitISOFS(16));
  image.VolumeLabel = QStringLiteral("DISC'S");
  QString dir = QStringLiteral("DOCS");
  ASSERT_TRUE(image.MakeISODirectory(dir, 0, QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5))));
  ASSERT_TRUE(image.ChangeISODirectory(dir));
  QString a = QStringLiteral("a.txt");
  QString b = QStringLiteral("b.txt");
  ASSERT_TRUE(image.AddISOFile(a, Path("a.txt")));
  ASSERT_TRUE(image.AddISOFile(b, Path("b.txt")));
  ASSERT_TRUE(image.ChangeISODirectory(QStringLiteral("\\")));
  ASSERT_TRUE(image.AddTrack(Path("song.wav"), 150, 0, 0));
  ASSERT_EQ(image.GetTrackCount(), 2);
  image.SetEnabledTrackText(true);
  image.SetTrackText(2, 0, 0, QStringLiteral("Song"));
  image.SetTrackText(2, 1, 0, QStringLiteral("歌"));
  image.SetTrackText(2, 1, 1, QStringLiteral("歌手"));

  const QString db = Path("h.mdb");
  ASSERT_TRUE(CreateHistoryDatabase(db));
  const QDateTime when(QDate(2026, 12, 9), QTime(0, 1, 2));
  ASSERT_TRUE(WriteHistory(db, image, when));

  EXPECT_EQ(Query("SELECT LABEL FROM DISC"), "DISC'S\n");
  EXPECT_EQ(Query("SELECT [INDEX], NAME, ATTRIBUTE, ORIGINALNAME FROM FILE WHERE [INDEX]=0"), "0|\\DOCS|16|\n");
  EXPECT_EQ(Query("SELECT [INDEX], NAME, SIZE, ATTRIBUTE, ORIGINALNAME FROM FILE WHERE [INDEX]>0 ORDER BY [INDEX]"),
            "1|\\DOCS\\" + a.toStdString() + "|5|128|" + Path("a.txt").toStdString() + "\n2|\\DOCS\\" +
                b.toStdString() + "|6|128|" + Path("b.txt").toStdString() + "\n");
  EXPECT_EQ(Query("SELECT TRACKNO, ORIGINALNAME FROM TRACK ORDER BY TRACKNO"),
            "1|\n2|" + Path("song.wav").toStdString() + "\n");
  // Enabling an item enables it on every track: the data track gets its rows too.
  EXPECT_EQ(Query("SELECT TRACKNO, LANGUAGE, TITLE, PERFORMER FROM TRACKTEXT ORDER BY TRACKNO, LANGUAGE"),
            "1|0||NULL\n1|1||\n2|0|Song|NULL\n2|1|歌|歌手\n");
  EXPECT_EQ(Query("PRAGMA integrity_check"), "ok\n");
}

}  // namespace
}  // namespace sorvel
