// Enumerates the directory entries whose names match a mask: a folder, a
// separator ("/" or "\") and a name pattern with the wildcards "*" and "?"
// ("*.*" matches every name). Names only, sorted by their bytes; "." and ".."
// come like any other name when the pattern matches them. A pattern without
// wildcards can only name itself, so it is answered by one status query of
// that entry instead of a listing of the folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace sorvel {

class FindFile {
 public:
  // Starts a new search (dropping one still open); the first name, "" when
  // nothing matches (no search stays open then).
  QString FindFirst(const QString& mask);
  // The next name; "" at the end (the search is then closed) or when no search is open.
  QString FindNext();
  // The host's bytes of the name FindFirst or FindNext returned last, which
  // open the entry where the name is not UTF-8; empty when none was returned.
  QByteArray NativeName() const;

 private:
  QStringList names_;
  std::vector<QByteArray> natives_;
  qsizetype next_ = 0;
};

// True when `name` matches `pattern` ("*" any run, "?" one character, "*.*" everything).
bool MatchesWildcard(const QString& pattern, const QString& name);

// One entry of a host folder: its name's bytes and the kind the listing
// tells (a DT_ value of <dirent.h>; DT_UNKNOWN where the file system does not say).
struct HostFolderEntry {
  QByteArray name;
  unsigned char type = 0;
};

// Every entry of the open host folder `folder_fd` ("." and ".." included),
// sorted by the names' bytes, read from its start through the descriptor
// itself (which stays open, at the end of the folder). False (and `entries`
// empty) when the folder cannot be read.
bool ListHostFolder(int folder_fd, std::vector<HostFolderEntry>* entries);

}  // namespace sorvel
