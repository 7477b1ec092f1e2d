#include "drive_daemon/daemon_config.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/executable_path.h"

namespace sorvel {

std::string ProgramPath() { return platform::ExecutablePath(); }

std::string ConfigFilePath(const std::string& program_path) {
  if (program_path.empty()) return "KESTROW.INI";
  size_t name_start = program_path.rfind('/');
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  size_t dot = program_path.rfind('.');
  // A dot that starts the file name (".kestrow") marks a hidden file, not an extension.
  if (dot == std::string::npos || dot <= name_start) return program_path + ".INI";
  return program_path.substr(0, dot) + ".INI";
}

long long ParseLeadingInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned long long value = 0;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (!negative) return static_cast<long long>(value);
  return value == limit ? LLONG_MIN : -static_cast<long long>(value);
}

uint32_t MaxConnectionCeilingFor(uint64_t soft_nofile) {
  return static_cast<uint32_t>(std::clamp<uint64_t>(soft_nofile / 4, 1, kMaxMaxConnection));
}

uint32_t MaxConnectionCeiling() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return MaxConnectionCeilingFor(0);
  return MaxConnectionCeilingFor(limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : limit.rlim_cur);
}

DaemonConfig ReadDaemonConfig(const IniProfile& profile) { return ReadDaemonConfig(profile, MaxConnectionCeiling()); }

DaemonConfig ReadDaemonConfig(const IniProfile& profile, uint32_t ceiling) {
  DaemonConfig config;
  long long port = ParseLeadingInteger(profile.Get("MAIN", "LISTENINGPORT"));
  if (port >= 1 && port <= 65535) config.listening_port = static_cast<uint16_t>(port);
  long long max_connection = ParseLeadingInteger(profile.Get("MAIN", "MAXCONNECTION"));
  if (max_connection >= 1) config.max_connection = static_cast<uint32_t>(std::min<long long>(max_connection, UINT32_MAX));
  config.max_connection = std::clamp<uint32_t>(config.max_connection, 1, std::max<uint32_t>(ceiling, 1));
  for (int index = 0; index < 26; ++index) {
    std::string value = profile.Get("DRIVES", std::string(1, static_cast<char>('A' + index)) + ":");
    config.drive_enabled[index] = !value.empty() && ParseLeadingInteger(value) != 0;
  }
  return config;
}

bool ConfigureAndListen(DaemonServer& server, const std::string& program_path, std::ostream& out) {
  std::string config_path = ConfigFilePath(program_path);
  if (!program_path.empty()) out << "[" << config_path << "]\n";
  IniProfile profile;
  platform::FileProblem problem;
  // A missing file leaves the defaults; so does one that cannot be read, said here.
  if (!profile.Load(config_path, &problem) && !problem.Missing()) {
    out << platform::DescribeFileProblem(config_path, problem) << "\n";
  }
  DaemonConfig config = ReadDaemonConfig(profile);

  out << "EnabledDrives = ";
  for (int index = 0; index < 26; ++index) {
    if (config.drive_enabled[index]) out << static_cast<char>('A' + index) << ": ";
  }
  out << "\n";
  for (int index = 0; index < 26; ++index) server.SetDriveEnabled(index, config.drive_enabled[index]);

  out << "Start Listening ...\n"
      << "ListeningPort = " << config.listening_port << "\n"
      << "MaxConenction = " << config.max_connection << "\n";
  out.flush();
  return server.Start(config.listening_port, config.max_connection);
}

}  // namespace sorvel
