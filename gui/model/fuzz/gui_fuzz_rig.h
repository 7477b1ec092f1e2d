// What the GUI fuzz targets share: a QApplication on the offscreen platform,
// the engine libraries from the build's bin folder, the settings file, the
// per-user store and the temporary folder in a scratch folder of the run, no
// power backend (nothing reaches logind), message boxes answered as
// cancelled, and a timer that closes every modal dialog a member opens.
#pragma once

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QDialog>
#include <QFileInfo>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "gui/foundation/file_paths.h"
#include "gui/foundation/power_backend.h"
#include "gui/model/engine_library.h"

namespace sorvel::fuzz {

class NoPowerBackend final : public PowerBackend {
 public:
  bool AcquireInhibitor(const QString&, const QString&) override { return false; }
  void ReleaseInhibitor() override {}
  bool Suspend() override { return false; }
  bool Hibernate() override { return false; }
  bool PowerOff() override { return false; }
  bool Reboot() override { return false; }
};

// A fresh folder of this run, memory-backed when possible: settings and
// project saves are flushed to disk.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::string pattern = std::string(base) + "/sorvel-gui-fuzz-XXXXXX";
      if (mkdtemp(pattern.data()) != nullptr) return pattern;
    }
    std::abort();
  }();
  return folder;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Fixtures the targets' inputs may name: written under `folder` once (each
// by a rename, so that runs beside each other never see half a file).
inline void WriteFixture(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/" + name;
  if (std::filesystem::exists(path)) return;
  const std::string temporary = path + "." + std::to_string(::getpid());
  WriteFile(temporary, bytes);
  std::filesystem::rename(temporary, path);
}

// A 44,100 Hz 16-bit stereo WAV file of `sectors` CD sectors.
inline std::string WaveBytes(int sectors) {
  const uint32_t data = static_cast<uint32_t>(sectors) * 2352;
  std::string bytes = "RIFF";
  auto u32 = [&bytes](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto u16 = [&bytes](uint16_t v) {
    bytes.push_back(static_cast<char>(v));
    bytes.push_back(static_cast<char>(v >> 8));
  };
  u32(36 + data);
  bytes += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(44100 * 4);
  u16(4);
  u16(16);
  bytes += "data";
  u32(data);
  for (uint32_t i = 0; i < data; ++i) bytes.push_back(static_cast<char>(i * 13));
  return bytes;
}

// Once per run, before the first input.
inline void StartOffscreenApplication() {
  const std::string scratch = ScratchFolder();
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);
  setenv("TMPDIR", scratch.c_str(), 1);
  static int argc = 1;
  static char name[] = "sorvel-fuzz";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
  static NoPowerBackend power;
  InstallPowerBackend(&power);
  SetProgramPathForTesting(QString::fromStdString(scratch + "/sorvel"));
  WriteFile(scratch + "/sorvel.INI", "[PATH]\r\nTEMP=" + scratch + "\r\n");
  // The engines lie in the bin folder beside the fuzz targets' folder.
  const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  SetEngineLibraryFolder(QFileInfo(self).dir().absoluteFilePath(QStringLiteral("../bin")));
  // Any modal dialog a member opens is closed at once.
  static QTimer closer;
  closer.setInterval(1);
  QObject::connect(&closer, &QTimer::timeout, [] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
  });
  closer.start();
}

}  // namespace sorvel::fuzz
