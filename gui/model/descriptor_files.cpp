#include "gui/model/descriptor_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QFile>
#include <QFileInfo>
#include <span>

#include "gui/foundation/disk_module.h"
#include "gui/foundation/file.h"
#include "gui/foundation/file_io.h"
#include "gui/foundation/file_paths.h"

namespace sorvel {

bool ReadTextLines(const QString& path, QStringList* lines) {
  File file;
  if (!file.OpenFile(path, File::kInput, platform::kMaxSheetFileBytes)) return false;
  lines->clear();
  while (!file.Eof()) *lines << file.Gets();
  file.CloseFile();
  return true;
}

bool ReplaceBinaryFile(const QString& path, const QByteArray& bytes) {
  return ReplaceFileContents(path, bytes, FileFlush::kToPageCache);
}

FileProblem OutputPathProblem(const QString& path) {
  struct stat st {};
  const QByteArray native = QFile::encodeName(path);
  if (::stat(native.constData(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return FileProblem{FileProblem::kNotRegular, 0};
    // A write-protected descriptor is kept, for root too.
    if ((st.st_mode & 0222) == 0 || ::access(native.constData(), W_OK) != 0) {
      return FileProblem{FileProblem::kCannotOpen, EACCES};
    }
  }
  // The file is written beside itself and renamed: its folder must take new files.
  if (::access(QFile::encodeName(FolderOfPath(path)).constData(), W_OK | X_OK) != 0) {
    return FileProblem{FileProblem::kCannotOpen, errno};
  }
  return {};
}

bool ReadBinaryFile(const QString& path, QByteArray* bytes, qsizetype max_bytes) {
  FileIO file;
  if (!file.OpenFile(path, kGenericRead, kOpenExisting, kFileShareRead)) return false;
  const int64_t size = file.GetSize();
  if (size < 0 || size > max_bytes) return false;
  bytes->resize(static_cast<qsizetype>(size));
  const std::span<uint8_t> buffer(reinterpret_cast<uint8_t*>(bytes->data()), static_cast<size_t>(size));
  const int32_t read = buffer.empty() ? 0 : file.ReadFile(buffer);
  bytes->resize(read);
  return true;
}

int64_t FileSizeOfPath(const QString& path) { return GetFileSize64(path); }

QString FileNameOfPath(const QString& path) { return GetFileNamePart(path); }

bool IsSheetFileName(const QString& path) {
  for (const QChar c : FileNameOfPath(path)) {
    if (c == u'"' || c.category() == QChar::Other_Control) return false;
  }
  return true;
}

QString SheetFileNameText(const QString& path) {
  return QStringLiteral("ファイル %1 の名前はCUEシートに記述できません。").arg(path);
}

QString FolderOfPath(const QString& path) { return GetDirectoryPart(QFileInfo(path).absoluteFilePath()); }

QString ResolveAgainstFolder(const QString& name, const QString& folder) {
  QString path = name;
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return GetFullPath(path, folder);
}

}  // namespace sorvel
