#include "gui/foundation/regular_file.h"

#include <string>

#include "gui/foundation/host_path.h"

namespace sorvel {

int OpenRegularFile(const QString& path, int flags, FileProblem* problem) {
  return platform::OpenRegularFile(HostBytesOf(path).toStdString(), flags, problem);
}

int OpenOutputFile(const QString& path, int flags, FileProblem* problem) {
  // The same rule as for reading: a FIFO named as an output would block the
  // open until some reader came, and a device or folder is no file to write.
  return platform::OpenRegularFile(HostBytesOf(path).toStdString(), flags, problem);
}

bool ReadRegularFile(const QString& path, int64_t max_bytes, QByteArray* contents, FileProblem* problem) {
  std::string bytes;
  const bool read = platform::ReadRegularFile(HostBytesOf(path).toStdString(), max_bytes, &bytes, problem);
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
