// The mastering history: an SQLite database with the tables DISC, FILE, TRACK
// and TRACKTEXT, one disc row (with its files, tracks and texts) per written layout.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

#include "gui/foundation/history_layout.h"

namespace sorvel {

// Creates the database (or opens an existing one) and creates the four
// tables. True only when every table was created: an existing history, which
// holds them already, gives false but gains the tables it lacked. A file that
// is not a database is refused and left untouched.
bool CreateHistoryDatabase(const QString& path);

// True when `path` is an SQLite database holding the four history tables.
bool IsHistoryDatabase(const QString& path);

// Adds one disc written at `time`: the disc row, a row per entry of the data
// area (a directory's own entries before those of its subdirectories), a row
// per track and one per enabled CD-Text language. All or nothing: on any
// failure nothing is kept and the result is false. The file must exist.
bool WriteHistory(const QString& path, HistoryLayout& layout, const QDateTime& time);

// The disc key: seconds from 1970-01-01 00:00:00 UTC to `time` (read in the
// machine's time zone), the same second as the local 09:00:00 base on a
// Japanese machine.
int64_t DateToDiscId(const QDateTime& time);

}  // namespace sorvel
