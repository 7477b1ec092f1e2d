#include "gui/jobs/layout_sources.h"

#include <QFileInfo>
#include <QList>
#include <QSignalBlocker>

#include "gui/model/tazol.h"

namespace sorvel {
namespace {

const QString kRoot = QStringLiteral("\\");

// Only the file's metadata is read: opening a FIFO would wait for a writer.
QString ChangedSource(const QString& path, int64_t recorded_size) {
  const QFileInfo info(path);
  if (!info.isFile()) return QStringLiteral("ファイル %1 が見つからないか、通常のファイルではありません。").arg(path);
  if (recorded_size >= 0 && info.size() < recorded_size) {
    return QStringLiteral("ファイル %1 は追加した時より小さくなっています。").arg(path);
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
      problem = ChangedSource(entry.OriginalFileName, entry.Size);
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
    if (data && !data->WaveFileName.isEmpty()) problem = ChangedSource(data->WaveFileName, -1);
  }
  return problem;
}

}  // namespace sorvel
