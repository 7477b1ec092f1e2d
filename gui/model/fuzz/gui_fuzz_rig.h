// What the GUI fuzz targets share besides testing/fuzz_support.h: a
// QApplication on the offscreen platform, the engine libraries from the
// build's bin folder, the settings file, the per-user store and the temporary
// folder in the scratch folder of the run, no power backend (nothing reaches
// logind), message boxes answered as cancelled, a timer that closes every
// modal dialog a member opens, fixture files and integer arguments.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QDialog>
#include <QFileInfo>
#include <QTimer>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "gui/foundation/file_paths.h"
#include "gui/foundation/power_backend.h"
#include "gui/foundation/wave_header.h"
#include "gui/model/engine_library.h"
#include "testing/fuzz_support.h"

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

// A 44,100 Hz 16-bit stereo WAV file of `sectors` CD sectors of silence.
inline std::string WaveBytes(int sectors) {
  const uint32_t data = static_cast<uint32_t>(sectors) * 2352;
  const std::optional<WaveHeader> header = MakeWaveHeader(data, 44100, 16, true);
  if (!header) std::abort();
  return std::string(header->data(), header->size()) + std::string(data, '\0');
}

// An integer argument as a client may give one: small, at either end of the
// range, or anything.
inline int32_t AnyInt(FuzzedDataProvider& input, int32_t low, int32_t high) {
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return input.ConsumeIntegralInRange<int32_t>(low, high);
    case 1: return INT32_MIN;
    case 2: return INT32_MAX;
    default: return input.ConsumeIntegral<int32_t>();
  }
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
