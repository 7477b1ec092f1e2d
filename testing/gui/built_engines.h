// The engine bindings load the engines built beside the tests while an object
// of this class lives, and the default ones again afterwards.
#pragma once

#include <QFileInfo>
#include <QString>

#include "gui/model/engine_library.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

class BuiltEngines {
 public:
  BuiltEngines() { SetEngineLibraryFolder(QFileInfo(QString::fromStdString(BuiltLibraryPath("libtrelin.so"))).path()); }
  ~BuiltEngines() { SetEngineLibraryFolder(QString()); }
  BuiltEngines(const BuiltEngines&) = delete;
  BuiltEngines& operator=(const BuiltEngines&) = delete;
};

}  // namespace sorvel::testing
