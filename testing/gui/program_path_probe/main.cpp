// Stands in for an installed program in the tests of the program-folder
// lookup: each line that arrives on standard input is answered with where
// the GUI and the daemon find the program's file, folder, settings file,
// engine libraries and configuration file, and which program the daemon's
// systemd unit would start, then "end". Ends with its input.
#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "drive_daemon/daemon_config.h"
#include "drive_daemon/kestrow_service.h"
#include "gui/foundation/file_paths.h"
#include "gui/model/engine_library.h"
#include "platform/executable_path.h"
#include "platform/systemd_service_manager.h"

int main(int argc, char** argv) {
  // Like the program, with an application object (Qt's own path lookups).
  QCoreApplication app(argc, argv);
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    std::printf("program=%s\n", sorvel::platform::ExecutablePath().c_str());
    std::printf("folder=%s\n", sorvel::ProgramFolder().toUtf8().constData());
    std::printf("base=%s\n", sorvel::ProgramBaseName().toUtf8().constData());
    std::printf("settings=%s\n", sorvel::SettingsFilePath().toUtf8().constData());
    std::printf("engines=%s\n", sorvel::EngineLibraryFolder().toUtf8().constData());
    std::printf("daemon_config=%s\n", sorvel::ConfigFilePath(sorvel::ProgramPath()).c_str());
    std::istringstream unit(sorvel::platform::SystemdUnitText(sorvel::KestrowServiceDefinition()));
    for (std::string unit_line; std::getline(unit, unit_line);) {
      if (unit_line.rfind("ExecStart=", 0) == 0) std::printf("daemon_unit_%s\n", unit_line.c_str());
    }
    std::printf("end\n");
    std::fflush(stdout);
  }
  return 0;
}
