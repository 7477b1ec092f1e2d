// What the benchmarks of the GUI program's libraries share: the engines built
// next to them. Their main (gui_bench_main.cpp) runs them with a Qt
// application object.
#pragma once

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "gui/jobs/disc_reader.h"
#include "gui/model/engine_library.h"
#include "gui/model/trelin.h"

namespace sorvel::bench {

// The engine bindings load the libraries of this build (build/bin, beside
// the benchmark's own build/bench).
inline void UseBuiltEngines() {
  char exe[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  SetEngineLibraryFolder(
      QFileInfo(QString::fromLocal8Bit(exe, n > 0 ? static_cast<int>(n) : 0)).dir().absoluteFilePath("../bin"));
}

// Drive D: emulated as a `medium` ("cd-rom", "dvd-rom") over a stamped image
// `name` of `sectors` sectors in `root`, opened in `device` with the built
// engines; false when it did not open.
inline bool OpenStampedDisc(Trelin& device, const std::filesystem::path& root, const std::string& name,
                            int32_t sectors, const std::string& medium) {
  const std::filesystem::path iso = MakeStampedImage(root, name, sectors);
  const std::string map = "D:=emu:" + (root / (name + ".state")).string() + ",medium=" + medium +
                          ",image=" + iso.string();
  setenv("SORVEL_DRIVES", map.c_str(), 1);
  UseBuiltEngines();
  return device.OpenDevice(3);
}

// The disc reader's job on `device` into `out`, its events counted as a
// dialog's receiver would take them.
inline bool RunDiscReader(Trelin& device, const QString& out, int64_t* events) {
  DiscReader reader;
  QObject::connect(&reader, &DiscJob::Progress, [events](int32_t, int32_t) { ++*events; });
  QObject::connect(&reader, &DiscJob::StatusChange, [events](int32_t, const QString&) { ++*events; });
  return reader.StartReadCompatible(device, out);
}

// 100 top folders of 100 folders of 10 files of random sizes up to 8 KiB.
inline void WriteTreeOf100000Files(const std::filesystem::path& tree, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<char> content(8192 + 16);
  for (auto& c : content) c = static_cast<char>(random());
  for (int top = 0; top < 100; ++top) {
    for (int d = 0; d < 100; ++d) {
      const std::filesystem::path dir =
          tree / ("top folder " + std::to_string(top)) / ("directory " + std::to_string(d));
      std::filesystem::create_directories(dir);
      for (int f = 0; f < 10; ++f) {
        std::ofstream out(dir / ("document number " + std::to_string(f) + ".txt"), std::ios::binary);
        out.write(content.data() + random() % 16, static_cast<std::streamsize>(random() % 8177));
      }
    }
  }
}

}  // namespace sorvel::bench
