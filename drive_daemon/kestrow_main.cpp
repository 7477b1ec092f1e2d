#include "drive_daemon/kestrow_main.h"

#include <strings.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "drive_daemon/daemon_config.h"
#include "drive_daemon/daemon_server.h"
#include "drive_daemon/exit_codes.h"
#include "drive_daemon/kestrow_service.h"
#include "platform/service_manager.h"

namespace sorvel {
namespace {

void PrintUsage(const char* program) {
  std::printf("Quillmarsh Kestrow Daemon\n");
  std::printf("usage %s [/install][/remove][/start][/stop][/standalone]\n", program);
  std::fflush(stdout);
}

int InstallService() {
  const platform::ServiceDefinition definition = KestrowServiceDefinition();
  if (definition.program_path.empty()) return kExitProgramPathUnknown;
  std::unique_ptr<platform::ServiceManager> manager = platform::CreateServiceManager();
  if (!manager) return kExitManagerUnavailable;
  return ExitCodeOf(manager->Install(definition));
}

int RemoveService() {
  std::unique_ptr<platform::ServiceManager> manager = platform::CreateServiceManager();
  if (!manager) return kExitManagerUnavailable;
  return ExitCodeOf(manager->Remove(kServiceName));
}

int ControlService(platform::ServiceControl control) {
  std::unique_ptr<platform::ServiceManager> manager = platform::CreateServiceManager();
  if (!manager) return kExitSuccess;  // "not reached"
  return platform::ControlServiceState(*manager, kServiceName, control) ? kExitControlReached : kExitSuccess;
}

int RunStandalone() {
  std::unique_ptr<DaemonServer> server = CreateDaemonServer();
  if (!ConfigureAndListen(*server, ProgramPath(), std::cout)) {
    std::fprintf(stderr, "Listening failed.\n");
    return kExitListenFailed;
  }
  std::printf("Hit Return key to Quit.\n");
  std::fflush(stdout);
  std::getchar();
  server->Stop();
  return kExitSuccess;
}

}  // namespace

int KestrowMain(int argc, char** argv) {
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "kestrow";
  if (platform::StartedAsService(kServiceName)) {
    int code = ServiceMain();
    PrintUsage(program);
    return code;
  }
  const char* command = argc > 1 ? argv[1] : "";
  if (strcasecmp(command, "/install") == 0) return InstallService();
  if (strcasecmp(command, "/remove") == 0) return RemoveService();
  if (strcasecmp(command, "/start") == 0) return ControlService(platform::ServiceControl::kStart);
  if (strcasecmp(command, "/stop") == 0) return ControlService(platform::ServiceControl::kStop);
  if (strcasecmp(command, "/standalone") == 0) return RunStandalone();
  PrintUsage(program);
  return kExitSuccess;
}

}  // namespace sorvel
