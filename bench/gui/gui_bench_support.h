// What the benchmarks of the GUI program's libraries share: the engines built
// next to them. Their main (gui_bench_main.cpp) runs them with a Qt
// application object.
#pragma once

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "gui/model/engine_library.h"

namespace sorvel::bench {

// The engine bindings load the libraries of this build (build/bin, beside
// the benchmark's own build/bench).
inline void UseBuiltEngines() {
  char exe[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  SetEngineLibraryFolder(
      QFileInfo(QString::fromLocal8Bit(exe, n > 0 ? static_cast<int>(n) : 0)).dir().absoluteFilePath("../bin"));
}

}  // namespace sorvel::bench
