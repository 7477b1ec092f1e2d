// A real kestrow run in the console (/standalone) for one test: a copy of the
// built program in a scratch folder with its own configuration beside it,
// serving the drives of a drive map on a free loopback port. Stopped (Return,
// then a kill if needed) when the object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sorvel::testing {

class KestrowStandalone {
 public:
  // `drive_map` is the daemon's SORVEL_DRIVES ("D:=emu:/path,medium=cd-r;...");
  // `enabled_letters` the drives its [DRIVES] section enables ("DE").
  KestrowStandalone(const std::filesystem::path& folder, const std::string& drive_map,
                    const std::string& enabled_letters, int max_connections = 8);
  ~KestrowStandalone();
  KestrowStandalone(const KestrowStandalone&) = delete;
  KestrowStandalone& operator=(const KestrowStandalone&) = delete;

  // Starts the daemon and waits (bounded) until it listens on its port (it is
  // started again on another port when that was taken meanwhile).
  bool Start();
  // Stops it as a user would (Return), killing it when it does not end in time.
  void Stop();
  bool running() const { return pid_ > 0; }
  uint16_t port() const { return port_; }
  // The daemon's process (-1 when not running).
  pid_t pid() const { return pid_; }
  // Stops the daemon's process (SIGSTOP) and waits, bounded, until every thread
  // of it has stopped: kill() returns before that, and a request sent in
  // between could still be answered. True when it stopped.
  bool Suspend();
  // Lets a suspended daemon go on.
  void Resume();

 private:
  enum class LaunchResult { kServing, kPortTaken, kFailed };
  LaunchResult Launch();
  void WriteConfiguration();

  std::filesystem::path program_;
  std::string drive_map_;
  std::string enabled_letters_;
  int max_connections_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
};

// A port of 127.0.0.1 that was free a moment ago (0 when none could be had).
uint16_t FreeLoopbackPort();
// True when a listener on 127.0.0.1:port accepts a connection.
bool LoopbackPortAccepts(uint16_t port);

}  // namespace sorvel::testing
