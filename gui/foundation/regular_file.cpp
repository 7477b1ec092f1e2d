#include "gui/foundation/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <string>

namespace sorvel {

int OpenRegularFile(const QString& path, int flags, FileProblem* problem) {
  return platform::OpenRegularFile(QFile::encodeName(path).toStdString(), flags, problem);
}

int OpenOutputFile(const QString& path, int flags, FileProblem* problem) {
  if (problem) *problem = FileProblem{};
  const QByteArray native = QFile::encodeName(path);
  // A NUL byte would cut the name short and write another file.
  if (native.contains('\0')) {
    if (problem) *problem = FileProblem{FileProblem::kCannotOpen, ENOENT};
    return -1;
  }
  const int fd = ::open(native.constData(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (problem) *problem = FileProblem{FileProblem::kCannotOpen, errno};
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    if (problem) *problem = FileProblem{FileProblem::kNotRegular};
    return -1;
  }
  return fd;
}

bool ReadRegularFile(const QString& path, int64_t max_bytes, QByteArray* contents, FileProblem* problem) {
  std::string bytes;
  const bool read = platform::ReadRegularFile(QFile::encodeName(path).toStdString(), max_bytes, &bytes, problem);
  *contents = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return read;
}

QString FileProblemText(const QString& path, const FileProblem& problem) {
  switch (problem.kind) {
    case FileProblem::kNone: return QString();
    case FileProblem::kCannotOpen:
      if (problem.Missing()) return QStringLiteral("ファイル %1 は見つかりません。").arg(path);
      return QStringLiteral("ファイル %1 が開けません。").arg(path);
    case FileProblem::kNotRegular: return QStringLiteral("ファイル %1 は通常のファイルではありません。").arg(path);
    case FileProblem::kTooLarge: return QStringLiteral("ファイル %1 は大きすぎます。").arg(path);
    case FileProblem::kCannotRead: return QStringLiteral("ファイル %1 が読み込めません。").arg(path);
  }
  return QString();
}

}  // namespace sorvel
