#include "gui/jobs/layout_sources.h"

#include <QList>
#include <QSignalBlocker>
#include <algorithm>
#include <limits>
#include <optional>

#include "gui/foundation/host_path.h"
#include "gui/model/tazol.h"
#include "platform/source_identity.h"

namespace sorvel {
namespace {

using platform::SourceChange;
using platform::SourceIdentity;

const QString kRoot = QStringLiteral("\\");

// What the layout holds for a data entry: its size, and its time in the
// seconds of the engine's 32-bit time_t.
struct LaidOut {
  int64_t size = 0;
  int64_t seconds = 0;
};

// A file time's seconds as the engine's records carry them: cut to the
// 32-bit time_t's range, as the engine cuts them.
int64_t RecordSeconds(int64_t seconds) {
  return std::clamp<int64_t>(seconds, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
}

// What `host_path` (the source `name` shows) is now, against each identity it
// was added with; where none was recorded, against the size and time the
// layout holds for it (`laid_out`: what the engine's own stat found when it
// was added). A data file is only stated (opening a FIFO would wait for a
// writer); a WAV file's chunks are read too. The host path is taken as
// bytes, since a name that is not UTF-8 does not survive a round trip
// through text.
QString ChangedSource(const QString& name, const QByteArray& host_path, bool wave,
                      const QList<SourceIdentity>& added, std::optional<LaidOut> laid_out = std::nullopt) {
  SourceIdentity now;
  if (!(wave ? platform::IdentifySource(host_path.toStdString(), true, &now)
             : platform::IdentifyDataSource(host_path.constData(), &now))) {
    return QStringLiteral("ファイル %1 が見つからないか、通常のファイルではありません。").arg(name);
  }
  auto problem = [&name](SourceChange change) {
    switch (change) {
      case SourceChange::kShrunk:
        return QStringLiteral("ファイル %1 は追加した時より小さくなっています。").arg(name);
      case SourceChange::kChanged:
        return QStringLiteral("ファイル %1 は追加した時から変更されています。").arg(name);
      case SourceChange::kNone:
        break;
    }
    return QString();
  };
  if (added.isEmpty() && laid_out) {
    // Compared as far as the layout tells: the size, and the time to the second.
    SourceIdentity seen = now;
    seen.modified = platform::FileTime{RecordSeconds(now.modified.seconds), 0};
    SourceIdentity then = seen;
    then.size = laid_out->size;
    then.modified.seconds = laid_out->seconds;
    return problem(platform::CompareSource(then, seen));
  }
  for (const SourceIdentity& identity : added) {
    const QString text = problem(platform::CompareSource(identity, now));
    if (!text.isEmpty()) return text;
  }
  return {};
}

// The data files below the current directory, depth first; the directory is
// the same again when the walk returns.
QString ChangedDataFile(Tazol& image) {
  QList<ISOFindFile> entries;
  for (auto entry = image.FindISOFirstFile(false); entry; entry = image.FindISONextFile(false)) {
    if (entry->Name != QLatin1String(".") && entry->Name != QLatin1String("..")) entries.append(*entry);
  }
  for (const ISOFindFile& entry : entries) {
    QString problem;
    if (entry.IsDirectory) {
      if (!image.ChangeISODirectory(entry.Name)) continue;
      problem = ChangedDataFile(image);
      image.ChangeISODirectory(QStringLiteral(".."));
    } else if (!entry.OriginalFileName.isEmpty()) {  // a dummy entry has no source
      const QByteArray path = entry.SourcePath.isEmpty() ? HostBytesOf(entry.OriginalFileName) : entry.SourcePath;
      problem = ChangedSource(entry.OriginalFileName, path, false,
                              image.AddedFileIdentities(entry.SourcePath, int64_t{entry.Size}),
                              LaidOut{entry.Size, entry.Time});
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
      const auto added = image.AddedWaveIdentity(track);
      problem = ChangedSource(data->WaveFileName, HostBytesOf(data->WaveFileName), true,
                              added ? QList<SourceIdentity>{*added} : QList<SourceIdentity>{});
    }
  }
  return problem;
}

}  // namespace sorvel
