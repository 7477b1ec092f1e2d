#include "gui/foundation/disk_module.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <string>
#include <vector>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_io.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/find_file.h"
#include "platform/drive_map.h"

namespace sorvel {
namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

// The full path of the first entry that matches `path`, "" when none.
QString FirstMatch(const QString& path) {
  FindFile find;
  QString name = find.FindFirst(path);
  if (name.isEmpty()) return QString();
  return GetDirectoryPart(path) + name;
}

// True when an entry of `folder` has a name that begins with `prefix`.
bool AnyEntryBeginsWith(const QString& folder, const QByteArray& prefix) {
  DIR* dir = ::opendir(Native(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string_view(entry->d_name).starts_with(std::string_view(prefix.constData(), prefix.size()))) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

}  // namespace

bool GetFileTimes(const QString& path, QDateTime* created, QDateTime* modified, QDateTime* accessed) {
  QString match = FirstMatch(path);
  if (match.isEmpty()) return false;
  QFileInfo info(match);
  if (!info.exists()) return false;
  QDateTime birth = info.birthTime();
  if (modified) *modified = info.lastModified();
  if (created) *created = birth.isValid() ? birth : info.lastModified();
  if (accessed) *accessed = info.lastRead();
  return true;
}

int32_t GetFileAttributesByFind(const QString& path) {
  QString match = FirstMatch(path);
  if (match.isEmpty()) return -1;
  struct stat st {};
  if (::stat(Native(match).constData(), &st) != 0 && ::lstat(Native(match).constData(), &st) != 0) return -1;
  int32_t bits = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
  if ((st.st_mode & S_IWUSR) == 0) bits |= kFileAttributeReadOnly;
  QString name = GetFileNamePart(match);
  if (name.startsWith(u'.') && name != QLatin1String(".") && name != QLatin1String("..")) {
    bits |= kFileAttributeHidden;
  }
  return bits;
}

int64_t GetFileSize64(const QString& path) {
  FileIO file;
  if (!file.OpenFile(path, kGenericRead, kOpenExisting, kFileShareRead)) return 0;
  return file.GetSize();
}

int CheckFileAccess(const QString& path) {
  int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return 1;
  ::close(fd);
  fd = OpenRegularFile(path, O_WRONLY | O_APPEND);
  if (fd < 0) return 2;
  int rc = ::flock(fd, LOCK_EX | LOCK_NB);
  ::close(fd);
  return rc == 0 ? 0 : 2;
}

int MakeDirectories(const QString& path) {
  const QStringList pieces = path.split(u'/', Qt::SkipEmptyParts);
  if (pieces.isEmpty()) return ENOENT;
  QString level = path.startsWith(u'/') ? QStringLiteral("/") : QString();
  int last = 0;
  for (const QString& piece : pieces) {
    level += piece + u'/';
    last = ::mkdir(Native(level).constData(), 0777) == 0 ? 0 : errno;
  }
  return last;
}

QString GetSpecialFolderPath(int folder) {
  if (folder != 2) return QString();
  QString temp = QDir::tempPath();
  while (temp.size() > 1 && temp.endsWith(u'/')) temp.chop(1);
  return temp;
}

int32_t GetPathDriveType(const QString& path) {
  if (path.isEmpty()) return kDriveNoRootDir;
  QChar letter = path[0].toUpper();
  if (letter < u'A' || letter > u'Z') return kDriveNoRootDir;
  const platform::DriveMap map = platform::DriveMap::Load();
  return map.Find(static_cast<char>(letter.unicode())) != nullptr ? kDriveCdRom : kDriveNoRootDir;
}

QString GetTempDirectory() {
  ApplicationSetting* settings = Settings();
  if (settings != nullptr && !settings->PathTemp().isEmpty()) return settings->PathTemp();
  return GetSpecialFolderPath(2);
}

QString MakeTempFileName(const QString& suffix) {
  const QString folder = GetTempDirectory();
  // The process-wide generator is seeded once from the system's entropy.
  QRandomGenerator* random = QRandomGenerator::global();
  for (int attempt = 0; attempt < 100000; ++attempt) {
    QString letters;
    for (int i = 0; i < 8; ++i) letters.append(QChar(u'A' + random->bounded(26)));
    QString candidate = GetFullPath(letters, folder);
    if (!AnyEntryBeginsWith(GetDirectoryPart(candidate), Native(letters))) return candidate + suffix;
  }
  return QString();
}

void DeleteFilesByPrefix(const QString& path) {
  QString dir, name;
  SplitPath(path, nullptr, &dir, &name, nullptr);
  if (name.isEmpty()) return;
  const QByteArray prefix = Native(name);
  const QString folder = dir.isEmpty() ? QStringLiteral("./") : dir;
  DIR* d = ::opendir(Native(folder).constData());
  if (d == nullptr) return;
  std::vector<QByteArray> doomed;
  while (const dirent* entry = ::readdir(d)) {
    std::string_view entry_name(entry->d_name);
    if (entry_name.starts_with(std::string_view(prefix.constData(), prefix.size()))) {
      doomed.push_back(Native(folder) + QByteArray(entry->d_name));
    }
  }
  ::closedir(d);
  for (const QByteArray& full : doomed) {
    struct stat st {};
    if (::lstat(full.constData(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(full.constData());
  }
}

}  // namespace sorvel
