#include "gui/jobs/layout_sources.h"

#include <QList>
#include <QSignalBlocker>
#include <algorithm>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

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

// What the source `name` shows is now (`now`, null where its path names no
// regular file), against each identity it was added with; where none was
// recorded, against the size and time the layout holds for it (`laid_out`:
// what the engine's own stat found when it was added).
QString SourceProblem(const QString& name, const std::optional<SourceIdentity>& now,
                      const QList<SourceIdentity>& added, std::optional<LaidOut> laid_out) {
  if (!now) return QStringLiteral("ファイル %1 が見つからないか、通常のファイルではありません。").arg(name);
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
    SourceIdentity seen = *now;
    seen.modified = platform::FileTime{RecordSeconds(now->modified.seconds), 0};
    SourceIdentity then = seen;
    then.size = laid_out->size;
    then.modified.seconds = laid_out->seconds;
    return problem(platform::CompareSource(then, seen));
  }
  for (const SourceIdentity& identity : added) {
    const QString text = problem(platform::CompareSource(identity, *now));
    if (!text.isEmpty()) return text;
  }
  return {};
}

// A data entry's source, as the check compares it.
struct DataSource {
  QString name;     // the host path as the layout shows it
  QByteArray path;  // the same as the host's bytes
  QList<SourceIdentity> added;
  LaidOut laid_out;
};

// Collects the data files below the current directory, depth first; the
// directory is the same again when the walk returns.
void CollectDataFiles(Tazol& image, std::vector<DataSource>* sources) {
  QList<ISOFindFile> entries;
  for (auto entry = image.FindISOFirstFile(false); entry; entry = image.FindISONextFile(false)) {
    if (entry->Name != QLatin1String(".") && entry->Name != QLatin1String("..")) entries.append(std::move(*entry));
  }
  for (ISOFindFile& entry : entries) {
    if (entry.IsDirectory) {
      if (!image.ChangeISODirectory(entry.Name)) continue;
      CollectDataFiles(image, sources);
      image.ChangeISODirectory(QStringLiteral(".."));
    } else if (!entry.OriginalFileName.isEmpty()) {  // a dummy entry has no source
      QByteArray path = entry.SourcePath.isEmpty() ? HostBytesOf(entry.OriginalFileName) : entry.SourcePath;
      QList<SourceIdentity> added = image.AddedFileIdentities(entry.SourcePath, int64_t{entry.Size});
      sources->push_back(
          DataSource{std::move(entry.OriginalFileName), std::move(path), std::move(added), {entry.Size, entry.Time}});
    }
  }
}

// The first data file, depth first, that is not what it was when added. A
// data file is only stated (opening a FIFO would wait for a writer), and the
// host path is taken as bytes, since a name that is not UTF-8 does not
// survive a round trip through text. A large layout's files are stated by a
// few threads at once: a stat costs a system call, which dominates the check.
QString ChangedDataFile(Tazol& image) {
  std::vector<DataSource> sources;
  CollectDataFiles(image, &sources);
  std::vector<std::optional<SourceIdentity>> now(sources.size());
  auto identify = [&sources, &now](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      SourceIdentity identity;
      if (platform::IdentifyDataSource(sources[i].path.constData(), &identity)) now[i] = identity;
    }
  };
  constexpr size_t kFilesPerThread = 4096;
  const size_t threads = std::min<size_t>({4, std::max(1u, std::thread::hardware_concurrency()),
                                           (sources.size() + kFilesPerThread - 1) / kFilesPerThread});
  if (threads <= 1) {
    identify(0, sources.size());
  } else {
    std::vector<std::thread> helpers;
    const size_t share = (sources.size() + threads - 1) / threads;
    for (size_t t = 1; t < threads; ++t) {
      const size_t begin = std::min(sources.size(), t * share);
      const size_t end = std::min(sources.size(), (t + 1) * share);
      try {
        helpers.emplace_back(identify, begin, end);
      } catch (const std::system_error&) {
        identify(begin, end);  // no thread to be had: this one does it
      }
    }
    identify(0, std::min(sources.size(), share));
    for (std::thread& helper : helpers) helper.join();
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    const QString problem = SourceProblem(sources[i].name, now[i], sources[i].added, sources[i].laid_out);
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
      // A WAV file's chunks are read too.
      SourceIdentity identity;
      std::optional<SourceIdentity> now;
      if (platform::IdentifySource(HostBytesOf(data->WaveFileName).toStdString(), true, &identity)) now = identity;
      problem = SourceProblem(data->WaveFileName, now, added ? QList<SourceIdentity>{*added} : QList<SourceIdentity>{},
                              std::nullopt);
    }
  }
  return problem;
}

}  // namespace sorvel
