// Enumerates the directory entries whose names match a mask: a folder, a
// separator ("/" or "\") and a name pattern with the wildcards "*" and "?"
// ("*.*" matches every name). Names only, sorted by their bytes; "." and ".."
// come like any other name when the pattern matches them.
#pragma once

#include <QString>
#include <QStringList>

namespace sorvel {

class FindFile {
 public:
  // Starts a new search (dropping one still open); the first name, "" when
  // nothing matches (no search stays open then).
  QString FindFirst(const QString& mask);
  // The next name; "" at the end (the search is then closed) or when no search is open.
  QString FindNext();

 private:
  QStringList names_;
  qsizetype next_ = 0;
};

// True when `name` matches `pattern` ("*" any run, "?" one character, "*.*" everything).
bool MatchesWildcard(const QString& pattern, const QString& name);

}  // namespace sorvel
