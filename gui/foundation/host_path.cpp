#include "gui/foundation/host_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QUrl>
#include <vector>

#include "gui/foundation/find_file.h"

namespace sorvel {
namespace {

bool Exists(const QByteArray& path) {
  struct stat status {};
  return ::lstat(path.constData(), &status) == 0;
}

// The entry of the folder `folder` whose name Qt shows as `text`; empty when none.
QByteArray EntryShownAs(const QByteArray& folder, const QString& text) {
  const int fd = ::open(folder.isEmpty() ? "/" : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  std::vector<HostFolderEntry> entries;
  const bool listed = ListHostFolder(fd, &entries);
  ::close(fd);
  if (!listed) return {};
  for (const HostFolderEntry& entry : entries)
    if (QFile::decodeName(entry.name) == text) return entry.name;
  return {};
}

}  // namespace

QByteArray HostPathOf(const QString& path) {
  const QByteArray direct = QFile::encodeName(path);
  if (direct.isEmpty() || Exists(direct) || !path.startsWith(u'/')) return direct;
  QByteArray resolved;
  for (const QString& level : path.split(u'/', Qt::SkipEmptyParts)) {
    QByteArray name = QFile::encodeName(level);
    if (!Exists(resolved + '/' + name)) {
      const QByteArray shown = EntryShownAs(resolved, level);
      if (shown.isEmpty()) return direct;
      name = shown;
    }
    resolved += '/' + name;
  }
  return resolved.isEmpty() ? direct : resolved;
}

QByteArray HostBytesOf(const QString& path) {
  if (!path.contains(QChar(QChar::ReplacementCharacter))) return QFile::encodeName(path);
  return HostPathOf(path);
}

QByteArray HostPathOfUrl(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  // The encoded form keeps "%FF" where the decoded one has U+FFFD.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

}  // namespace sorvel
