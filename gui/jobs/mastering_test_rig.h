// Shared pieces of the Mastering tests: host files to lay out, WAV tracks, an
// emulated drive mapped as D: for the engines of this process and of a server
// started from it, and a listing of the layout's data area.
#pragma once

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>

#include "gui/foundation/wave_header.h"
#include "gui/model/engine_library.h"
#include "gui/model/model_test_util.h"
#include "gui/model/tazol.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/user_settings_folder.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// The samples of a 44.1 kHz 16-bit stereo track of `sectors` CD frames, a
// pattern that `seed` makes distinct per track.
inline std::string TrackSamples(int sectors, int seed) {
  std::string samples(static_cast<size_t>(sectors) * 2352, '\0');
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<char>((i * 7 + (i >> 9) + seed * 31) & 0xFF);
  return samples;
}

inline void WriteTrack(const std::filesystem::path& path, const std::string& samples) {
  const auto header = MakeWaveHeader(static_cast<uint32_t>(samples.size()), 44100, 16, true);
  ASSERT_TRUE(header.has_value());
  WriteFileBytes(path, std::string(header->data(), WaveHeader::size()) + samples);
}

// The entries of a data-area directory ("" the root, else "\"-separated
// levels below it): names, directories with a trailing "/", without "."
// and "..". Leaves the
// current directory at the root.
inline QStringList ListLayout(Tazol& layout, const QString& directory = QString()) {
  QStringList names;
  layout.ChangeISODirectory(QStringLiteral("\\"));
  for (const QString& level : directory.split(u'\\', Qt::SkipEmptyParts)) {
    if (!layout.ChangeISODirectory(level)) {
      layout.ChangeISODirectory(QStringLiteral("\\"));
      return {QStringLiteral("<missing ") + level + QStringLiteral(">")};
    }
  }
  for (auto entry = layout.FindISOFirstFile(); entry != nullptr; entry = layout.FindISONextFile()) {
    if (entry->Name == QLatin1String(".") || entry->Name == QLatin1String("..")) continue;
    names << entry->Name + (entry->IsDirectory ? QStringLiteral("/") : QString());
  }
  layout.ChangeISODirectory(QStringLiteral("\\"));
  names.sort();
  return names;
}

// One emulated drive as D: (SORVEL_DRIVES, inherited by started programs),
// the per-user settings in the scratch folder, the built engines.
class MasteringDriveRig {
 public:
  MasteringDriveRig(const ScratchDir& dir, const std::string& settings)
      : drive_(dir, settings, "burner"),
        drives_("SORVEL_DRIVES", "D:=" + drive_.device()),
        config_("XDG_CONFIG_HOME", (dir.path() / "config").string()),
        user_settings_(dir.path() / "config") {
    SetEngineLibraryFolder(QFileInfo(Q(BuiltLibraryPath("libtrelin.so"))).path());
  }
  ~MasteringDriveRig() { SetEngineLibraryFolder(QString()); }
  const EmulatedDriveFixture& drive() const { return drive_; }

 private:
  EmulatedDriveFixture drive_;
  ScopedEnv drives_;
  ScopedEnv config_;
  UserSettingsFolder user_settings_;
};

}  // namespace sorvel::testing
