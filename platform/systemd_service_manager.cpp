#include "platform/systemd_service_manager.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sorvel::platform {
namespace {

// Unit file values: "%" starts a specifier, "$" a variable in ExecStart.
std::string EscapeSpecifiers(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%') {
      out += "%%";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      out += ' ';  // one line per setting
    } else {
      out += c;
    }
  }
  return out;
}

std::string QuoteExecArgument(const std::string& arg) {
  std::string out = "\"";
  for (char c : EscapeSpecifiers(arg)) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out + "\"";
}

ServiceError ErrnoToServiceError(int error) {
  if (error == EACCES || error == EPERM || error == EROFS) return ServiceError::kAccessDenied;
  if (error == EEXIST) return ServiceError::kExists;
  if (error == ENOENT) return ServiceError::kNotFound;
  return ServiceError::kFailed;
}

ServiceError CommandResult(int rc) {
  if (rc == 0) return ServiceError::kNone;
  return rc < 0 ? ServiceError::kManagerUnavailable : ServiceError::kFailed;
}

bool FileExists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

std::string SystemdUnitName(const std::string& service_name) {
  std::string unit;
  for (char c : service_name) unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return unit + ".service";
}

std::string SystemdUnitText(const ServiceDefinition& definition) {
  std::ostringstream text;
  text << "[Unit]\n"
       << "Description=" << EscapeSpecifiers(definition.display_name) << "\n"
       << "After=network.target\n"
       << "\n"
       << "[Service]\n"
       << "Type=notify\n"
       << "NotifyAccess=main\n"
       << "Environment=SORVEL_SERVICE_NAME=" << definition.name << " SORVEL_SERVICE_BACKEND=systemd\n"
       << "ExecStart=" << QuoteExecArgument(definition.program_path) << "\n"
       << "KillSignal=SIGTERM\n"
       << "\n"
       << "[Install]\n"
       << "WantedBy=multi-user.target\n";
  return text.str();
}

SystemdServiceManager::SystemdServiceManager(CommandRunner runner, std::filesystem::path unit_dir)
    : runner_(std::move(runner)), unit_dir_(std::move(unit_dir)) {}

std::filesystem::path SystemdServiceManager::UnitPath(const std::string& name) const {
  return unit_dir_ / SystemdUnitName(name);
}

int SystemdServiceManager::Systemctl(const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> argv{"systemctl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return runner_(argv, output);
}

ServiceError SystemdServiceManager::Install(const ServiceDefinition& definition) {
  if (!IsValidServiceName(definition.name)) return ServiceError::kFailed;
  std::filesystem::path path = UnitPath(definition.name);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return ErrnoToServiceError(errno);
  std::string text = SystemdUnitText(definition);
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = close(fd) == 0 && written;
  const std::string unit = SystemdUnitName(definition.name);
  int rc = -1;
  if (written) {
    rc = Systemctl({"daemon-reload"});
    if (rc == 0) rc = Systemctl({"enable", unit});
    if (rc == 0) return ServiceError::kNone;
  }
  // Leave nothing half installed.
  unlink(path.c_str());
  if (written && rc >= 0) Systemctl({"daemon-reload"});
  return written && rc < 0 ? ServiceError::kManagerUnavailable : ServiceError::kFailed;
}

ServiceError SystemdServiceManager::Remove(const std::string& name) {
  if (!IsValidServiceName(name) || !FileExists(UnitPath(name))) return ServiceError::kNotFound;
  ServiceState state = ServiceState::kStopped;
  ServiceError error = Query(name, &state);
  if (error != ServiceError::kNone) return error;
  if (state != ServiceState::kStopped) return ServiceError::kRunning;
  error = CommandResult(Systemctl({"disable", SystemdUnitName(name)}));
  if (error != ServiceError::kNone) return error;
  if (unlink(UnitPath(name).c_str()) != 0) return ErrnoToServiceError(errno);
  Systemctl({"daemon-reload"});
  return ServiceError::kNone;
}

ServiceError SystemdServiceManager::Start(const std::string& name) {
  if (!IsValidServiceName(name) || !FileExists(UnitPath(name))) return ServiceError::kNotFound;
  return CommandResult(Systemctl({"start", SystemdUnitName(name)}));
}

ServiceError SystemdServiceManager::Stop(const std::string& name) {
  if (!IsValidServiceName(name) || !FileExists(UnitPath(name))) return ServiceError::kNotFound;
  return CommandResult(Systemctl({"stop", SystemdUnitName(name)}));
}

ServiceError SystemdServiceManager::Query(const std::string& name, ServiceState* state) {
  if (!IsValidServiceName(name) || !FileExists(UnitPath(name))) return ServiceError::kNotFound;
  std::string output;
  // is-active exits non-zero for an inactive unit; its answer is the first word.
  if (Systemctl({"is-active", SystemdUnitName(name)}, &output) < 0) {
    return ServiceError::kManagerUnavailable;
  }
  std::istringstream words(output);
  std::string word;
  words >> word;
  if (word == "active" || word == "reloading") {
    *state = ServiceState::kRunning;
  } else if (word == "activating") {
    *state = ServiceState::kStartPending;
  } else if (word == "deactivating") {
    *state = ServiceState::kStopPending;
  } else if (word == "inactive" || word == "failed") {
    *state = ServiceState::kStopped;
  } else {
    return ServiceError::kFailed;
  }
  return ServiceError::kNone;
}

bool SystemdNotifier::Notify(const std::string& message) {
  if (address_.empty()) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (address_.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, address_.data(), address_.size());
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size());
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent;
  do {
    sent = sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&addr), length);
  } while (sent < 0 && errno == EINTR);
  close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

void SystemdNotifier::Report(const ServiceStatus& status) {
  if (status.state == ServiceState::kRunning) {
    Notify("READY=1");
  } else if (status.state == ServiceState::kStopPending) {
    Notify("STOPPING=1");
  }
}

}  // namespace sorvel::platform
