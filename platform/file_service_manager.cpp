#include "platform/file_service_manager.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

extern char** environ;

namespace sorvel::platform {
namespace {

using KeyValues = std::map<std::string, std::string>;

struct StatusRecord {
  ServiceStatus status;
  long pid = 0;
  unsigned long long start_time = 0;
};

ServiceError ErrnoToServiceError(int error) {
  if (error == EACCES || error == EPERM || error == EROFS) return ServiceError::kAccessDenied;
  return ServiceError::kFailed;
}

std::optional<KeyValues> ReadKeyValues(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  KeyValues values;
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

unsigned long long ToNumber(const KeyValues& values, const std::string& key) {
  auto it = values.find(key);
  if (it == values.end()) return 0;
  return std::strtoull(it->second.c_str(), nullptr, 10);
}

// Writes `text` to `path` through a temporary file and a rename, so that a
// reader sees the old or the new content, never a part.
bool WriteAtomically(const std::filesystem::path& path, const std::string& text) {
  std::string temp = path.string();
  temp.append(".").append(std::to_string(getpid())).append(".tmp");
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

// Field 22 of /proc/PID/stat (start time in clock ticks since boot) and the
// process state letter; nothing when the process does not exist.
std::optional<unsigned long long> ProcessStartTime(long pid, char* state_out = nullptr) {
  if (pid <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  size_t paren = text.rfind(')');
  if (paren == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(paren + 1));
  std::string field;
  // Fields after the command: 3 state ... 22 start time.
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> field)) return std::nullopt;
    if (index == 3 && state_out != nullptr) *state_out = field.empty() ? '?' : field[0];
  }
  return std::strtoull(field.c_str(), nullptr, 10);
}

bool ProcessAlive(long pid, unsigned long long start_time) {
  char state = '?';
  std::optional<unsigned long long> started = ProcessStartTime(pid, &state);
  return started && *started == start_time && state != 'Z' && state != 'X';
}

std::string StatusText(const ServiceStatus& status, long pid, unsigned long long start_time) {
  std::ostringstream text;
  text << "state=" << static_cast<uint32_t>(status.state) << "\n"
       << "pid=" << pid << "\n"
       << "start_time=" << start_time << "\n"
       << "controls_accepted=" << status.controls_accepted << "\n"
       << "check_point=" << status.check_point << "\n"
       << "wait_hint=" << status.wait_hint_ms << "\n"
       << "win32_exit_code=" << status.win32_exit_code << "\n"
       << "service_exit_code=" << status.service_exit_code << "\n";
  return text.str();
}

std::optional<StatusRecord> ReadStatus(const std::filesystem::path& path) {
  std::optional<KeyValues> values = ReadKeyValues(path);
  if (!values) return std::nullopt;
  StatusRecord record;
  unsigned long long state = ToNumber(*values, "state");
  if (state < 1 || state > 4) state = static_cast<unsigned long long>(ServiceState::kStopped);
  record.status.state = static_cast<ServiceState>(state);
  record.status.controls_accepted = static_cast<uint32_t>(ToNumber(*values, "controls_accepted"));
  record.status.check_point = static_cast<uint32_t>(ToNumber(*values, "check_point"));
  record.status.wait_hint_ms = static_cast<uint32_t>(ToNumber(*values, "wait_hint"));
  record.status.win32_exit_code = static_cast<uint32_t>(ToNumber(*values, "win32_exit_code"));
  record.status.service_exit_code = static_cast<uint32_t>(ToNumber(*values, "service_exit_code"));
  record.pid = static_cast<long>(ToNumber(*values, "pid"));
  record.start_time = ToNumber(*values, "start_time");
  return record;
}

// Serialises the operations of every manager on one folder.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& dir) {
    fd_ = open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = errno;
        break;
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  int error() const { return error_; }
  // The error of taking the lock for a command on an existing service: a
  // missing folder means the service does not exist.
  ServiceError ServiceLookupError() const {
    if (error_ == 0) return ServiceError::kNone;
    return error_ == ENOENT ? ServiceError::kNotFound : ErrnoToServiceError(error_);
  }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Messages of the launch channel: the service's pid (from the intermediate
// process) or the errno of a failed fork or exec.
struct LaunchMessage {
  int32_t kind;  // 1 pid, 2 errno
  int32_t value;
};

void WriteMessage(int fd, int32_t kind, int32_t value) {
  LaunchMessage message{kind, value};
  ssize_t ignored = write(fd, &message, sizeof message);
  (void)ignored;
}

bool ReadMessage(int fd, LaunchMessage* message) {
  size_t got = 0;
  auto* bytes = reinterpret_cast<char*>(message);
  while (got < sizeof *message) {
    ssize_t n = read(fd, bytes + got, sizeof *message - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// Only async-signal-safe calls from here on: the child of a fork.
void MarkDescriptorsCloseOnExec(int from) {
  if (syscall(SYS_close_range, from, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  rlimit limit{};
  int last = 4096;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536) last = static_cast<int>(limit.rlim_cur);
  for (int fd = from; fd < last; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void RunServiceChild(int info_fd, int go_fd, int null_fd, int log_fd, char** argv,
                                  char** envp) {
  dup2(null_fd, STDIN_FILENO);
  dup2(log_fd, STDOUT_FILENO);
  dup2(log_fd, STDERR_FILENO);
  MarkDescriptorsCloseOnExec(3);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) {
    sigaction(signal_number, &defaults, nullptr);
  }
  if (chdir("/") != 0) _exit(127);
  char go = 0;
  ssize_t n;
  do {
    n = read(go_fd, &go, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) _exit(127);  // the starter gave up
  execve(argv[0], argv, envp);
  WriteMessage(info_fd, 2, errno);
  _exit(127);
}

}  // namespace

FileServiceManager::FileServiceManager(std::filesystem::path dir) : dir_(std::move(dir)) {}

ServiceError FileServiceManager::Install(const ServiceDefinition& definition) {
  if (!IsValidServiceName(definition.name) || definition.program_path.empty() ||
      definition.program_path.front() != '/' ||
      definition.program_path.find('\n') != std::string::npos ||
      definition.display_name.find('\n') != std::string::npos) {
    return ServiceError::kFailed;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  FolderLock lock(dir_);
  if (lock.error() != 0) return ErrnoToServiceError(lock.error());
  std::filesystem::path record = dir_ / (definition.name + ".service");
  int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? ServiceError::kExists : ErrnoToServiceError(errno);
  std::string text = "name=" + definition.name + "\ndisplay_name=" + definition.display_name +
                     "\nprogram=" + definition.program_path + "\n";
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = close(fd) == 0 && ok;
  if (!ok) {
    unlink(record.c_str());
    return ServiceError::kFailed;
  }
  unlink((dir_ / (definition.name + ".status")).c_str());
  return ServiceError::kNone;
}

ServiceError FileServiceManager::Remove(const std::string& name) {
  if (!IsValidServiceName(name)) return ServiceError::kNotFound;
  FolderLock lock(dir_);
  if (ServiceError error = lock.ServiceLookupError(); error != ServiceError::kNone) return error;
  ServiceState state = ServiceState::kStopped;
  ServiceError error = QueryLocked(name, &state);
  if (error != ServiceError::kNone) return error;
  if (state != ServiceState::kStopped) return ServiceError::kRunning;
  if (unlink((dir_ / (name + ".service")).c_str()) != 0) {
    return errno == ENOENT ? ServiceError::kNotFound : ErrnoToServiceError(errno);
  }
  unlink((dir_ / (name + ".status")).c_str());
  return ServiceError::kNone;
}

ServiceError FileServiceManager::Query(const std::string& name, ServiceState* state) {
  if (!IsValidServiceName(name)) return ServiceError::kNotFound;
  FolderLock lock(dir_);
  if (ServiceError error = lock.ServiceLookupError(); error != ServiceError::kNone) return error;
  return QueryLocked(name, state);
}

ServiceError FileServiceManager::QueryLocked(const std::string& name, ServiceState* state) {
  std::error_code ec;
  if (!std::filesystem::exists(dir_ / (name + ".service"), ec)) return ServiceError::kNotFound;
  std::optional<StatusRecord> status = ReadStatus(dir_ / (name + ".status"));
  *state = ServiceState::kStopped;
  if (status && status->status.state != ServiceState::kStopped &&
      ProcessAlive(status->pid, status->start_time)) {
    *state = status->status.state;
  }
  return ServiceError::kNone;
}

int FileServiceManager::RunningPid(const std::string& name) {
  if (!IsValidServiceName(name)) return 0;
  std::optional<StatusRecord> status = ReadStatus(dir_ / (name + ".status"));
  if (!status || status->status.state == ServiceState::kStopped ||
      !ProcessAlive(status->pid, status->start_time)) {
    return 0;
  }
  return static_cast<int>(status->pid);
}

ServiceError FileServiceManager::Start(const std::string& name) {
  if (!IsValidServiceName(name)) return ServiceError::kNotFound;
  FolderLock lock(dir_);
  if (ServiceError error = lock.ServiceLookupError(); error != ServiceError::kNone) return error;
  ServiceState state = ServiceState::kStopped;
  ServiceError error = QueryLocked(name, &state);
  if (error != ServiceError::kNone) return error;
  if (state != ServiceState::kStopped) return ServiceError::kAlreadyRunning;
  std::optional<KeyValues> record = ReadKeyValues(dir_ / (name + ".service"));
  if (!record || (*record)["program"].empty()) return ServiceError::kFailed;
  return Launch(name, (*record)["program"]);
}

ServiceError FileServiceManager::Launch(const std::string& name, const std::string& program) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::absolute(dir_, ec);
  if (ec) return ServiceError::kFailed;

  // Everything the child needs is prepared before the fork.
  std::vector<std::string> env_strings;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    if (text.starts_with("SORVEL_SERVICE_") || text.starts_with("NOTIFY_SOCKET=")) continue;
    env_strings.emplace_back(text);
  }
  env_strings.push_back("SORVEL_SERVICE_NAME=" + name);
  env_strings.push_back("SORVEL_SERVICE_BACKEND=file");
  env_strings.push_back("SORVEL_SERVICE_DIR=" + dir.string());
  std::vector<char*> envp;
  for (std::string& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program_copy = program;
  char* argv[] = {program_copy.data(), nullptr};

  std::filesystem::path log_path = dir / (name + ".log");
  int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log_fd < 0) return ErrnoToServiceError(errno);
  int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  int info[2] = {-1, -1};
  int go[2] = {-1, -1};
  if (null_fd < 0 || pipe2(info, O_CLOEXEC) != 0 ||
      socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, go) != 0) {
    for (int fd : {log_fd, null_fd, info[0], info[1], go[0], go[1]}) {
      if (fd >= 0) close(fd);
    }
    return ServiceError::kFailed;
  }

  pid_t intermediate = fork();
  if (intermediate == 0) {
    // Detach into a new session and let the intermediate process end at once,
    // so that the service is nobody's child to reap.
    close(info[0]);
    close(go[0]);
    setsid();
    pid_t service = fork();
    if (service == 0) RunServiceChild(info[1], go[1], null_fd, log_fd, argv, envp.data());
    if (service < 0) {
      WriteMessage(info[1], 2, errno);
      _exit(1);
    }
    WriteMessage(info[1], 1, static_cast<int32_t>(service));
    _exit(0);
  }
  close(info[1]);
  close(go[1]);
  close(log_fd);
  close(null_fd);
  ServiceError result = ServiceError::kFailed;
  if (intermediate > 0) {
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    LaunchMessage message{};
    if (ReadMessage(info[0], &message) && message.kind == 1) {
      long pid = message.value;
      std::optional<unsigned long long> start_time = ProcessStartTime(pid);
      ServiceStatus pending;
      pending.state = ServiceState::kStartPending;
      pending.wait_hint_ms = 1000;
      bool recorded = start_time && WriteAtomically(dir / (name + ".status"),
                                                    StatusText(pending, pid, *start_time));
      char byte = 1;
      // The child waits for this byte; without it (status not written) it ends.
      if (recorded && send(go[0], &byte, 1, MSG_NOSIGNAL) == 1) {
        close(go[0]);
        go[0] = -1;
        // End of file: the exec succeeded; a message: it failed.
        result = ReadMessage(info[0], &message) ? ServiceError::kFailed : ServiceError::kNone;
      }
      if (result != ServiceError::kNone) {
        ServiceStatus stopped;
        stopped.win32_exit_code = kServiceSpecificError;
        stopped.service_exit_code = 127;
        WriteAtomically(dir / (name + ".status"), StatusText(stopped, 0, 0));
      }
    }
  }
  close(info[0]);
  if (go[0] >= 0) close(go[0]);
  return result;
}

ServiceError FileServiceManager::Stop(const std::string& name) {
  if (!IsValidServiceName(name)) return ServiceError::kNotFound;
  FolderLock lock(dir_);
  if (ServiceError error = lock.ServiceLookupError(); error != ServiceError::kNone) return error;
  std::error_code ec;
  if (!std::filesystem::exists(dir_ / (name + ".service"), ec)) return ServiceError::kNotFound;
  std::optional<StatusRecord> status = ReadStatus(dir_ / (name + ".status"));
  if (!status || status->status.state == ServiceState::kStopped ||
      !ProcessAlive(status->pid, status->start_time)) {
    return ServiceError::kNotActive;
  }
  if (kill(static_cast<pid_t>(status->pid), SIGTERM) != 0) return ErrnoToServiceError(errno);
  return ServiceError::kNone;
}

void FileStatusSink::Report(const ServiceStatus& status) {
  long pid = getpid();
  std::optional<unsigned long long> start_time = ProcessStartTime(pid);
  WriteAtomically(dir_ / (name_ + ".status"), StatusText(status, pid, start_time.value_or(0)));
}

}  // namespace sorvel::platform
