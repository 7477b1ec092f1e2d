// The daemon's configuration: the INI file beside the program, with
// [MAIN] LISTENINGPORT and MAXCONNECTION and [DRIVES] "A:".."Z:".
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "drive_daemon/daemon_server.h"
#include "drive_daemon/ini_profile.h"

namespace sorvel {

inline constexpr uint16_t kDefaultListeningPort = 8801;
inline constexpr uint32_t kDefaultMaxConnection = 20;
// MAXCONNECTION is clamped to this, and to what the descriptor limit allows:
// every connection costs a thread and descriptors (socket, drive).
inline constexpr uint32_t kMaxMaxConnection = 1024;

struct DaemonConfig {
  uint16_t listening_port = kDefaultListeningPort;
  uint32_t max_connection = kDefaultMaxConnection;
  std::array<bool, 26> drive_enabled{};  // A..Z
};

// The program's own file, links resolved ("" when it cannot be obtained).
std::string ProgramPath();

// The program path with its extension replaced by ".INI" (appended when the
// file name has none; a dot in a folder name is no extension); "KESTROW.INI"
// when the program path is unknown.
std::string ConfigFilePath(const std::string& program_path);

// Decimal prefix parse: leading white space, a sign, then digits; text
// without digits reads 0; values beyond 64 bits saturate.
long long ParseLeadingInteger(const std::string& text);

// The most connections a process with the soft descriptor limit
// `soft_nofile` may serve: a quarter of it, at most kMaxMaxConnection, at least 1.
uint32_t MaxConnectionCeilingFor(uint64_t soft_nofile);
// The ceiling for this process's soft RLIMIT_NOFILE.
uint32_t MaxConnectionCeiling();

// Applies the defaults and bounds to the values of `profile`; MAXCONNECTION
// (the default too) is clamped to `ceiling`.
DaemonConfig ReadDaemonConfig(const IniProfile& profile, uint32_t ceiling);
DaemonConfig ReadDaemonConfig(const IniProfile& profile);

// Reads the configuration of the program at `program_path`, prints it to
// `out`, enables the configured drives on `server` and starts it.
// False when the server could not listen.
bool ConfigureAndListen(DaemonServer& server, const std::string& program_path, std::ostream& out);

}  // namespace sorvel
