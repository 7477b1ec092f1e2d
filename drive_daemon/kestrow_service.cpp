#include "drive_daemon/kestrow_service.h"

#include <signal.h>

#include <iostream>

#include "drive_daemon/daemon_config.h"
#include "drive_daemon/exit_codes.h"
#include "platform/service_manager.h"

namespace sorvel {

platform::ServiceDefinition KestrowServiceDefinition() {
  return {kServiceName, kServiceDisplayName, ProgramPath()};
}

int RunService(platform::ServiceStateMachine& machine, DaemonServer& server, const std::string& program_path,
               std::ostream& out, const std::function<void()>& wait_for_stop) {
  machine.BeginStart(kStartWaitHintMs);
  if (!ConfigureAndListen(server, program_path, out)) {
    out << "Listening failed; the service stops.\n" << std::flush;
    machine.StartFailed(kExitListenFailed);
    return kExitListenFailed;
  }
  machine.StartSucceeded();
  wait_for_stop();
  machine.Control(platform::kServiceControlStop);
  machine.Checkpoint(kStopWaitHintMs);
  server.Stop();
  machine.Stopped();
  return kExitSuccess;
}

int ServiceMain() {
  // Blocked before any thread starts, so that every thread inherits the mask
  // and the stop signal is only ever taken by sigwait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::unique_ptr<platform::ServiceStatusSink> sink = platform::CreateServiceStatusSink(kServiceName);
  platform::ServiceStateMachine machine(sink.get());
  std::unique_ptr<DaemonServer> server = CreateDaemonServer();
  return RunService(machine, *server, ProgramPath(), std::cout, [&stop_signals] {
    int signal_number = 0;
    while (sigwait(&stop_signals, &signal_number) != 0) {
    }
  });
}

}  // namespace sorvel
