#include "gui/foundation/find_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool HasWildcard(const QString& pattern) { return pattern.contains(u'*') || pattern.contains(u'?'); }

}  // namespace

bool MatchesWildcard(const QString& pattern, const QString& name) {
  if (pattern == QLatin1String("*.*")) return true;
  return Match(pattern, name);
}

bool ListHostFolder(int folder_fd, std::vector<HostFolderEntry>* entries) {
  entries->clear();
  // Read straight from the descriptor: no second descriptor is needed, which
  // a walk that runs short of them could not get.
  if (::lseek(folder_fd, 0, SEEK_SET) < 0) return false;
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(folder_fd, buffer, sizeof buffer);
    if (got < 0) {
      entries->clear();
      return false;
    }
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      entries->push_back({QByteArray(entry->d_name), entry->d_type});
      at += entry->d_reclen;
    }
  }
  std::sort(entries->begin(), entries->end(),
            [](const HostFolderEntry& a, const HostFolderEntry& b) { return a.name < b.name; });
  return true;
}

QString FindFile::FindFirst(const QString& mask) {
  names_.clear();
  natives_.clear();
  next_ = 0;
  qsizetype cut = std::max(mask.lastIndexOf(u'/'), mask.lastIndexOf(u'\\'));
  QString folder = cut < 0 ? QStringLiteral(".") : cut == 0 ? QStringLiteral("/") : mask.left(cut);
  QString pattern = mask.mid(cut + 1);
  if (pattern.isEmpty()) return QString();
  const QByteArray native_folder = QFile::encodeName(folder);
  if (!HasWildcard(pattern)) {
    // Only the entry of that very name can match: ask for it alone. No
    // listing holds a name with a zero byte.
    const QByteArray name = QFile::encodeName(pattern);
    struct stat st {};
    if (name.contains('\0') || ::lstat((native_folder + '/' + name).constData(), &st) != 0) return QString();
    names_.append(pattern);
    natives_.push_back(name);
    return FindNext();
  }
  const int fd = ::open(native_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return QString();
  std::vector<HostFolderEntry> entries;
  ListHostFolder(fd, &entries);
  ::close(fd);
  for (HostFolderEntry& entry : entries) {
    QString name = QFile::decodeName(entry.name);
    if (!MatchesWildcard(pattern, name)) continue;
    names_.append(std::move(name));
    natives_.push_back(std::move(entry.name));
  }
  return FindNext();
}

QString FindFile::FindNext() {
  if (next_ >= names_.size()) {
    names_.clear();
    natives_.clear();
    next_ = 0;
    return QString();
  }
  return names_[next_++];
}

QByteArray FindFile::NativeName() const {
  return next_ > 0 && next_ <= static_cast<qsizetype>(natives_.size()) ? natives_[static_cast<size_t>(next_ - 1)]
                                                                        : QByteArray();
}

}  // namespace sorvel
