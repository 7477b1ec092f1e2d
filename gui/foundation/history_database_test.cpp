#include "gui/foundation/history_database.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QTimeZone>
#include <cstdlib>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

using sorvel::testing::RequireTool;
using sorvel::testing::RunCommand;
using sorvel::testing::ScratchDir;

// A data area held as directory path -> entries, with a current directory.
class FakeLayout final : public HistoryLayout {
 public:
  QString label = QStringLiteral("MY_DISC");
  QMap<QString, QList<HistoryFileEntry>> directories;
  QStringList wave_files;  // per track; "" for the data track
  QMap<QPair<int, int>, HistoryTrackText> texts;
  bool refuse_enter = false;

  QString VolumeLabel() override { return label; }
  bool ChangeISODirectory(const QString& name) override {
    if (name == QLatin1String("\\")) {
      current_ = QStringLiteral("\\");
      return true;
    }
    if (name == QLatin1String("..")) {
      if (current_ == QLatin1String("\\")) return false;
      current_ = current_.left(current_.lastIndexOf(QLatin1Char('\\'), current_.size() - 2) + 1);
      return true;
    }
    if (refuse_enter) return false;
    const QString next = current_ + name + QLatin1Char('\\');
    if (!directories.contains(next)) return false;
    current_ = next;
    return true;
  }
  QString GetISOCurrentDirectory() override { return current_; }
  QList<HistoryFileEntry> ListCurrentDirectory() override { return directories.value(current_); }
  int GetTrackCount() override { return static_cast<int>(wave_files.size()); }
  QString TrackWaveFileName(int track) override { return wave_files.value(track - 1); }
  HistoryTrackText TrackText(int track, int language) override { return texts.value({track, language}); }

 private:
  QString current_ = QStringLiteral("\\");
};

HistoryFileEntry Entry(const char* name, bool dir, int64_t size, const char* source) {
  HistoryFileEntry e;
  e.name = QString::fromUtf8(name);
  e.is_directory = dir;
  e.size = size;
  e.time_stamp = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9));
  e.original_file_name = QString::fromUtf8(source);
  return e;
}

std::string Query(const std::string& db, const std::string& sql) {
  std::string out;
  EXPECT_EQ(RunCommand("sqlite3 -separator '|' -nullvalue NULL '" + db + "' \"" + sql + "\"", &out), 0) << sql;
  return out;
}

class HistoryDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RequireTool("sqlite3"));
    db_ = (scratch_ / "SORVEL.MDB").string();
    layout_.directories[QStringLiteral("\\")] = {Entry("DOCS", true, 0, "/src/docs"),
                                                  Entry("it's.txt", false, 3221225472LL, "/src/it's.txt")};
    layout_.directories[QStringLiteral("\\DOCS\\")] = {Entry("A.TXT", false, 10, "/src/docs/a.txt"),
                                                        Entry("SUB", true, 0, "/src/docs/sub")};
    layout_.directories[QStringLiteral("\\DOCS\\SUB\\")] = {Entry("B.TXT", false, 20, "/src/docs/sub/b.txt")};
    layout_.wave_files = {QString(), QStringLiteral("/music/one.wav")};
    HistoryTrackText english;
    english.language_enabled = true;
    english.enabled[0] = true;
    english.texts[0] = QStringLiteral("Title 'quoted'");
    layout_.texts[{2, 0}] = english;
    HistoryTrackText japanese;
    japanese.language_enabled = true;
    japanese.enabled = {true, true, false, false, false, true};
    japanese.texts = {QStringLiteral("曲名"), QStringLiteral("演奏者"), QString(), QString(), QString(),
                      QStringLiteral("メッセージ")};
    layout_.texts[{2, 1}] = japanese;
  }

  ScratchDir scratch_;
  std::string db_;
  FakeLayout layout_;
};

TEST_F(HistoryDatabaseTest, CreateMakesTheFourTablesOnceAndRefusesOtherFiles) {
  const QString path = QString::fromStdString(db_);
  EXPECT_TRUE(CreateHistoryDatabase(path));
  EXPECT_EQ(Query(db_, ".tables"), "DISC       FILE       TRACK      TRACKTEXT\n");
  EXPECT_TRUE(IsHistoryDatabase(path));
  EXPECT_FALSE(CreateHistoryDatabase(path));  // the tables exist already
  EXPECT_TRUE(IsHistoryDatabase(path));

  const std::string text_file = (scratch_ / "notes.mdb").string();
  const QByteArray content("This is not a database, just some text.\r\n");
  {
    QFile f(QString::fromStdString(text_file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }
  EXPECT_FALSE(CreateHistoryDatabase(QString::fromStdString(text_file)));
  EXPECT_FALSE(IsHistoryDatabase(QString::fromStdString(text_file)));
  QFile f(QString::fromStdString(text_file));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), content);
  EXPECT_FALSE(CreateHistoryDatabase(QString::fromStdString((scratch_ / "missing" / "x.mdb").string())));
}

TEST_F(HistoryDatabaseTest, WriteRecordsDiscFilesTracksAndTexts) {
  const QString path = QString::fromStdString(db_);
  ASSERT_TRUE(CreateHistoryDatabase(path));
  layout_.label = QStringLiteral("O'NEIL");
  const QDateTime when(QDate(2026, 12, 8), QTime(23, 30, 5));
  ASSERT_TRUE(WriteHistory(path, layout_, when));

  EXPECT_EQ(Query(db_, "SELECT DISCID, DATE, LABEL, MEMO FROM DISC"),
            std::to_string(when.toSecsSinceEpoch()) + "|2026-12-08 23:30:05|O'NEIL|NULL\n");
  EXPECT_EQ(Query(db_, "SELECT [INDEX], NAME, SIZE, ATTRIBUTE, TIMESTAMP, ORIGINALNAME FROM FILE ORDER BY [INDEX]"),
            "0|\\DOCS|0|16|2024-05-06 07:08:09|/src/docs\n"
            "1|\\it's.txt|3221225472|128|2024-05-06 07:08:09|/src/it's.txt\n"
            "2|\\DOCS\\A.TXT|10|128|2024-05-06 07:08:09|/src/docs/a.txt\n"
            "3|\\DOCS\\SUB|0|16|2024-05-06 07:08:09|/src/docs/sub\n"
            "4|\\DOCS\\SUB\\B.TXT|20|128|2024-05-06 07:08:09|/src/docs/sub/b.txt\n");
  EXPECT_EQ(Query(db_, "SELECT TRACKNO, ORIGINALNAME FROM TRACK ORDER BY TRACKNO"), "1|\n2|/music/one.wav\n");
  EXPECT_EQ(Query(db_, "SELECT * FROM TRACKTEXT ORDER BY LANGUAGE"),
            std::to_string(when.toSecsSinceEpoch()) + "|2|0|Title 'quoted'|NULL|NULL|NULL|NULL|NULL\n" +
                std::to_string(when.toSecsSinceEpoch()) + "|2|1|曲名|演奏者|NULL|NULL|NULL|メッセージ\n");
  EXPECT_EQ(Query(db_, "PRAGMA integrity_check"), "ok\n");

  // The same second again collides on the key: nothing of the second disc stays.
  EXPECT_FALSE(WriteHistory(path, layout_, when));
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM FILE"), "5\n");
  EXPECT_TRUE(WriteHistory(path, layout_, when.addSecs(1)));
  EXPECT_EQ(Query(db_, "SELECT count(*) FROM DISC"), "2\n");
}

TEST_F(HistoryDatabaseTest, FailuresLeaveNothingAndNeverCreateFiles) {
  const QString path = QString::fromStdString(db_);
  const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5));
  EXPECT_FALSE(WriteHistory(path, layout_, when));  // no file: not created
  EXPECT_FALSE(QFile::exists(path));

  ASSERT_TRUE(CreateHistoryDatabase(path));
  layout_.refuse_enter = true;  // a directory that cannot be entered ends the walk
  EXPECT_FALSE(WriteHistory(path, layout_, when));
  EXPECT_EQ(Query(db_, "SELECT (SELECT count(*) FROM DISC) + (SELECT count(*) FROM FILE)"), "0\n");

  // A file that is not a database is refused and not changed.
  const QString text = QString::fromStdString((scratch_ / "t.mdb").string());
  QFile f(text);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("plain text\n");
  f.close();
  EXPECT_FALSE(WriteHistory(text, layout_, when));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("plain text\n"));
}

TEST(DateToDiscIdTest, SecondsFromTheEpochInTheMachinesZone) {
  const QDateTime tokyo(QDate(1970, 1, 2), QTime(9, 0, 0), QTimeZone("Asia/Tokyo"));
  EXPECT_EQ(DateToDiscId(tokyo), 86400);
  const QDateTime utc(QDate(2038, 1, 19), QTime(3, 14, 8), QTimeZone::utc());
  EXPECT_EQ(DateToDiscId(utc), 2147483648LL);  // past the 32-bit range
  EXPECT_EQ(DateToDiscId(QDateTime()), 0);
}

}  // namespace
}  // namespace sorvel
