#include "gui/jobs/layout_sources.h"

#include <sys/stat.h>

#include <QFile>
#include <QList>
#include <QSignalBlocker>

#include "gui/foundation/host_path.h"
#include "gui/model/tazol.h"

namespace sorvel {
namespace {

const QString kRoot = QStringLiteral("\\");

// Only the file's metadata is read: opening a FIFO would wait for a writer.
// The host path is taken as bytes, since a name that is not UTF-8 does not
// survive a round trip through text.
QString ChangedSource(const QString& name, const QByteArray& host_path, int64_t recorded_size) {
  struct stat info {};
  const QByteArray path = host_path.isEmpty() ? HostBytesOf(name) : host_path;
  if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return QStringLiteral("ファイル %1 が見つからないか、通常のファイルではありません。").arg(name);
  }
  if (recorded_size >= 0 && info.st_size < recorded_size) {
    return QStringLiteral("ファイル %1 は追加した時より小さくなっています。").arg(name);
  }
  return {};
}

// The data files below the current directory, depth first; the directory is
// the same again when the walk returns.
QString ChangedDataFile(Tazol& image) {
  QList<ISOFindFile> entries;
  for (auto entry = image.FindISOFirstFile(); entry; entry = image.FindISONextFile()) {
    if (entry->Name != QLatin1String(".") && entry->Name != QLatin1String("..")) entries.append(*entry);
  }
  for (const ISOFindFile& entry : entries) {
    QString problem;
    if (entry.IsDirectory) {
      if (!image.ChangeISODirectory(entry.Name)) continue;
      problem = ChangedDataFile(image);
      image.ChangeISODirectory(QStringLiteral(".."));
    } else if (!entry.OriginalFileName.isEmpty()) {  // a dummy entry has no source
      problem = ChangedSource(entry.OriginalFileName, entry.SourcePath, entry.Size);
    }
    if (!problem.isEmpty()) return problem;
  }
  return {};
}

}  // namespace

QString ChangedLayoutSource(Tazol& image) {
  const QSignalBlocker quiet(&image);
  const QString home = image.GetISOCurrentDirectory();
  QString problem;
  if (image.ChangeISODirectory(kRoot)) problem = ChangedDataFile(image);
  image.ChangeISODirectory(home);
  for (int32_t track = 1; problem.isEmpty() && track <= image.GetTrackCount(); ++track) {
    const auto data = image.GetTrackInformation(track);
    if (data && !data->WaveFileName.isEmpty()) {
      problem = ChangedSource(data->WaveFileName, {}, image.RecordedWaveSize(data->WaveFileName));
    }
  }
  return problem;
}

}  // namespace sorvel
