#include "gui/foundation/history_database.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <QList>
#include <memory>

namespace sorvel {
namespace {

const char* const kCreateStatements[] = {
    "CREATE TABLE DISC ([DISCID] LONG PRIMARY KEY,[DATE] DATE,[LABEL] TEXT(32) NULL,[MEMO] TEXT(255) NULL)",
    "CREATE TABLE FILE ([DISCID] LONG,[INDEX] LONG,[NAME] TEXT(255),[SIZE] LONG,[ATTRIBUTE] SHORT,"
    "[TIMESTAMP] DATE,[ORIGINALNAME] TEXT(255) NULL,CONSTRAINT idxID PRIMARY KEY ([DISCID], [INDEX]))",
    "CREATE TABLE TRACK ([DISCID] LONG,[TRACKNO] LONG,[ORIGINALNAME] TEXT(255) NULL,"
    "CONSTRAINT idxID PRIMARY KEY ([DISCID], [TRACKNO]))",
    "CREATE TABLE TRACKTEXT ([DISCID] LONG,[TRACKNO] LONG,[LANGUAGE] LONG,[TITLE] TEXT(255) NULL,"
    "[PERFORMER] TEXT(255) NULL,[SONGWRITER] TEXT(255) NULL,[COMPOSER] TEXT(255) NULL,"
    "[ARRANGER] TEXT(255) NULL,[MESSAGE] TEXT(255) NULL,"
    "CONSTRAINT idxID PRIMARY KEY ([DISCID], [TRACKNO], [LANGUAGE]))",
};

const char* const kTableNames[] = {"DISC", "FILE", "TRACK", "TRACKTEXT"};

constexpr int kBusyTimeoutMs = 5000;
constexpr int kAttributeDirectory = 16;
constexpr int kAttributeFile = 128;
// A layout nests at most this deep; a walk deeper than that is a layout that
// does not move its current directory as asked.
constexpr int kMaxDirectoryDepth = 1024;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Database Open(const QString& path, int flags) {
  sqlite3* raw = nullptr;
  const QByteArray name = QFileInfo(path).absoluteFilePath().toUtf8();
  const int rc = sqlite3_open_v2(name.constData(), &raw, flags, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // Opening is lazy: reading the schema tells a database from any other file.
  if (sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
    return nullptr;
  return db;
}

bool Execute(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool HasTable(sqlite3* db, const char* table) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1", -1, &raw, nullptr) !=
      SQLITE_OK)
    return false;
  Statement statement(raw);
  sqlite3_bind_text(raw, 1, table, -1, SQLITE_STATIC);
  return sqlite3_step(raw) == SQLITE_ROW;
}

QString FormatDate(const QDateTime& time) {
  return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// One prepared INSERT, run once per row with bound values.
class Insert {
 public:
  Insert(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) == SQLITE_OK) statement_.reset(raw);
  }
  bool ok() const { return statement_ != nullptr; }
  Insert& Int(int index, int64_t value) {
    sqlite3_bind_int64(statement_.get(), index, value);
    return *this;
  }
  Insert& Text(int index, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(statement_.get(), index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Insert& Null(int index) {
    sqlite3_bind_null(statement_.get(), index);
    return *this;
  }
  bool Run() {
    if (!ok()) return false;
    const bool done = sqlite3_step(statement_.get()) == SQLITE_DONE;
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
    return done;
  }

 private:
  Statement statement_;
};

QString JoinDataAreaPath(const QString& directory, const QString& name) {
  if (directory.endsWith(QLatin1Char('\\'))) return directory + name;
  return directory + QLatin1Char('\\') + name;
}

class HistoryWriter {
 public:
  HistoryWriter(sqlite3* db, HistoryLayout& layout, int64_t disc_id)
      : layout_(layout),
        disc_id_(disc_id),
        file_(db,
              "INSERT INTO FILE ([DISCID], [INDEX], [NAME], [SIZE], [ATTRIBUTE], [TIMESTAMP], [ORIGINALNAME]) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)") {}

  // Writes the current directory's entries, then walks into each of its
  // subdirectories in order.
  bool WriteFiles(int depth) {
    if (!file_.ok() || depth > kMaxDirectoryDepth) return false;
    const QString current = layout_.GetISOCurrentDirectory();
    QList<QString> directories;
    for (const HistoryFileEntry& entry : layout_.ListCurrentDirectory()) {
      if (entry.name == QLatin1String(".") || entry.name == QLatin1String("..")) continue;
      const bool ok = file_.Int(1, disc_id_)
                          .Int(2, index_)
                          .Text(3, JoinDataAreaPath(current, entry.name))
                          .Int(4, entry.size)
                          .Int(5, entry.is_directory ? kAttributeDirectory : kAttributeFile)
                          .Text(6, FormatDate(entry.time_stamp))
                          .Text(7, entry.original_file_name)
                          .Run();
      ++index_;
      if (!ok) return false;
      if (entry.is_directory) directories.append(entry.name);
    }
    for (const QString& name : directories) {
      // A directory that cannot be entered, or a return that does not come
      // back, ends the walk: the layout is not where the walk thinks it is.
      if (!layout_.ChangeISODirectory(name)) return false;
      if (!WriteFiles(depth + 1)) return false;
      if (!layout_.ChangeISODirectory(QStringLiteral(".."))) return false;
      if (layout_.GetISOCurrentDirectory() != current) return false;
    }
    return true;
  }

 private:
  HistoryLayout& layout_;
  const int64_t disc_id_;
  int64_t index_ = 0;
  Insert file_;
};

bool WriteTracks(sqlite3* db, HistoryLayout& layout, int64_t disc_id) {
  Insert track(db, "INSERT INTO TRACK ([DISCID], [TRACKNO], [ORIGINALNAME]) VALUES (?1, ?2, ?3)");
  Insert text(db,
              "INSERT INTO TRACKTEXT ([DISCID], [TRACKNO], [LANGUAGE], [TITLE], [PERFORMER], [SONGWRITER], "
              "[COMPOSER], [ARRANGER], [MESSAGE]) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  const int count = layout.GetTrackCount();
  for (int number = 1; number <= count; ++number) {
    if (!track.Int(1, disc_id).Int(2, number).Text(3, layout.TrackWaveFileName(number)).Run()) return false;
    for (int language = 0; language <= 1; ++language) {
      const HistoryTrackText texts = layout.TrackText(number, language);
      if (!texts.language_enabled) continue;
      text.Int(1, disc_id).Int(2, number).Int(3, language);
      for (int i = 0; i < 6; ++i) {
        if (texts.enabled[i]) {
          text.Text(4 + i, texts.texts[i]);
        } else {
          text.Null(4 + i);
        }
      }
      if (!text.Run()) return false;
    }
  }
  return true;
}

}  // namespace

bool CreateHistoryDatabase(const QString& path) {
  Database db = Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!db) return false;
  bool all = true;
  for (const char* sql : kCreateStatements) all = Execute(db.get(), sql) && all;
  return all;
}

bool IsHistoryDatabase(const QString& path) {
  if (!QFileInfo(path).isFile()) return false;
  Database db = Open(path, SQLITE_OPEN_READONLY);
  if (!db) return false;
  for (const char* table : kTableNames) {
    if (!HasTable(db.get(), table)) return false;
  }
  return true;
}

bool WriteHistory(const QString& path, HistoryLayout& layout, const QDateTime& time) {
  if (!QFileInfo(path).isFile()) return false;
  Database db = Open(path, SQLITE_OPEN_READWRITE);
  if (!db || !Execute(db.get(), "BEGIN IMMEDIATE")) return false;
  const int64_t disc_id = DateToDiscId(time);
  bool ok = Insert(db.get(), "INSERT INTO DISC ([DISCID], [DATE], [LABEL]) VALUES (?1, ?2, ?3)")
                .Int(1, disc_id)
                .Text(2, FormatDate(time))
                .Text(3, layout.VolumeLabel())
                .Run();
  if (ok) ok = layout.ChangeISODirectory(QStringLiteral("\\"));
  if (ok) ok = HistoryWriter(db.get(), layout, disc_id).WriteFiles(0);
  if (ok) ok = WriteTracks(db.get(), layout, disc_id);
  if (ok) ok = Execute(db.get(), "COMMIT");
  if (!ok) Execute(db.get(), "ROLLBACK");
  return ok;
}

int64_t DateToDiscId(const QDateTime& time) {
  if (!time.isValid()) return 0;
  return time.toSecsSinceEpoch();
}

}  // namespace sorvel
