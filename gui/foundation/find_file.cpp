#include "gui/foundation/find_file.h"

#include <dirent.h>

#include <QFile>
#include <algorithm>

namespace sorvel {
namespace {

bool Match(QStringView pattern, QStringView name) {
  // Iterative matcher with one backtracking point for the last "*".
  qsizetype p = 0, n = 0, star = -1, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star >= 0) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(const QString& pattern, const QString& name) {
  if (pattern == QLatin1String("*.*")) return true;
  return Match(pattern, name);
}

QString FindFile::FindFirst(const QString& mask) {
  names_.clear();
  next_ = 0;
  qsizetype cut = std::max(mask.lastIndexOf(u'/'), mask.lastIndexOf(u'\\'));
  QString folder = cut < 0 ? QStringLiteral(".") : cut == 0 ? QStringLiteral("/") : mask.left(cut);
  QString pattern = mask.mid(cut + 1);
  if (pattern.isEmpty()) return QString();
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (dir == nullptr) return QString();
  while (const dirent* entry = ::readdir(dir)) {
    QString name = QFile::decodeName(entry->d_name);
    if (MatchesWildcard(pattern, name)) names_.append(name);
  }
  ::closedir(dir);
  std::sort(names_.begin(), names_.end(),
            [](const QString& a, const QString& b) { return QFile::encodeName(a) < QFile::encodeName(b); });
  return FindNext();
}

QString FindFile::FindNext() {
  if (next_ >= names_.size()) {
    names_.clear();
    next_ = 0;
    return QString();
  }
  return names_[next_++];
}

}  // namespace sorvel
