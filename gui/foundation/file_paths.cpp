#include "gui/foundation/file_paths.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>

#include "platform/executable_path.h"

namespace sorvel {
namespace {

QString g_program_override;

bool IsSeparator(QChar c) { return c == u'/' || c == u'\\'; }

QString ProgramFile() {
  if (!g_program_override.isEmpty()) return g_program_override;
  return QFile::decodeName(platform::ExecutablePath().c_str());
}

}  // namespace

void SplitPath(const QString& path, QString* drive, QString* dir, QString* name, QString* ext) {
  qsizetype cut = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
  QString rest = path.mid(cut + 1);
  qsizetype dot = rest.lastIndexOf(u'.');
  if (drive) drive->clear();
  if (dir) *dir = path.left(cut + 1);
  if (name) *name = dot < 0 ? rest : rest.left(dot);
  if (ext) *ext = dot < 0 ? QString() : rest.mid(dot);
}

QString GetDirectoryPart(const QString& path) {
  QString dir;
  SplitPath(path, nullptr, &dir, nullptr, nullptr);
  return dir;
}

QString RemoveExtension(const QString& path) {
  QString dir, name;
  SplitPath(path, nullptr, &dir, &name, nullptr);
  return dir + name;
}

QString GetExtension(const QString& path) {
  QString ext;
  SplitPath(path, nullptr, nullptr, nullptr, &ext);
  return ext;
}

QString GetFileNamePart(const QString& path) {
  QString name, ext;
  SplitPath(path, nullptr, nullptr, &name, &ext);
  return name + ext;
}

QString GetFullPath(const QString& path, const QString& base_directory) {
  if (!path.isEmpty() && IsSeparator(path[0])) return path;
  QString base = base_directory.isEmpty() ? ProgramFolder() : base_directory;
  if (base.isEmpty() || !IsSeparator(base.back())) base.append(u'/');
  return base + path;
}

QString SanitizeFileName(const QString& name, const QString& extra) {
  static const QString kForbidden = QStringLiteral("\"*:/;<>?\\|");
  QString out = name;
  for (QChar& c : out) {
    if (kForbidden.contains(c) || extra.contains(c)) c = u'_';
  }
  return out;
}

QString ProgramFolder() {
  QString file = ProgramFile();
  qsizetype cut = file.lastIndexOf(u'/');
  if (cut < 0) return QDir::currentPath();
  return cut == 0 ? QStringLiteral("/") : file.left(cut);
}

QString ProgramBaseName() {
  QString name = ProgramFile().section(u'/', -1);
  qsizetype dot = name.lastIndexOf(u'.');
  return dot > 0 ? name.left(dot) : name;
}

QString SettingsFilePath() {
  const QString file_name = ProgramBaseName() + QStringLiteral(".INI");
  const QString folder = ProgramFolder();
  if (::access(QFile::encodeName(folder).constData(), W_OK) == 0) return GetFullPath(file_name, folder);
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !config.startsWith(u'/')) config = GetFullPath(QStringLiteral(".config"), QDir::homePath());
  while (config.size() > 1 && config.endsWith(u'/')) config.chop(1);
  return config + QStringLiteral("/sorvel/") + file_name;
}

void SetProgramPathForTesting(const QString& program_file) { g_program_override = program_file; }

}  // namespace sorvel
