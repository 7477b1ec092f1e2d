#include "gui/model/descriptor_files.h"

#include <QFile>
#include <QFileInfo>

#include "platform/text_encoding.h"

namespace sorvel {

bool WriteTextLines(const QString& path, const QStringList& lines) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QByteArray bytes;
  for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
  return file.write(bytes) == bytes.size() && file.flush();
}

bool ReadTextLines(const QString& path, QStringList* lines) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray raw = file.readAll();
  const std::string decoded = platform::DecodeTextFile(std::string_view(raw.constData(), raw.size()));
  QString text = QString::fromStdString(decoded);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  lines->clear();
  if (text.isEmpty()) return true;
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  *lines = text.split(QLatin1Char('\n'));
  return true;
}

bool ReplaceBinaryFile(const QString& path, const QByteArray& bytes) {
  QFile::remove(path);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  return file.write(bytes) == bytes.size() && file.flush();
}

bool ReadBinaryFile(const QString& path, QByteArray* bytes, qsizetype max_bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > max_bytes) return false;
  *bytes = file.readAll();
  return true;
}

int64_t FileSizeOfPath(const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return 0;
  return file.size();
}

QString FileNameOfPath(const QString& path) {
  QString p = path;
  p.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FolderOfPath(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return QStringLiteral(".");
  return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString ResolveAgainstFolder(const QString& name, const QString& folder) {
  QString p = name;
  p.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (p.startsWith(QLatin1Char('/'))) return p;
  return folder.endsWith(QLatin1Char('/')) ? folder + p : folder + QLatin1Char('/') + p;
}

}  // namespace sorvel
