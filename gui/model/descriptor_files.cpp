#include "gui/model/descriptor_files.h"

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
  FileIO file;
  if (!file.OpenFile(path, kGenericWrite, kCreateAlways)) return false;
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                      static_cast<size_t>(bytes.size()));
  const bool written = data.empty() || file.WriteFile(data) == static_cast<int32_t>(data.size());
  return file.CloseFile() && written;
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

QString FolderOfPath(const QString& path) { return GetDirectoryPart(QFileInfo(path).absoluteFilePath()); }

QString ResolveAgainstFolder(const QString& name, const QString& folder) {
  QString path = name;
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return GetFullPath(path, folder);
}

}  // namespace sorvel
