#include "testing/kestrow_standalone.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_paths.h"
#include "testing/loopback_address.h"

namespace sorvel::testing {
namespace {

// Waits up to `timeout` for the child to end; true when it did.
bool Reap(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || done < 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Whether process `pid` holds the IPv4 socket listening on `port` (any
// address). A port that accepts connections may be another test's daemon
// that took it first, when both were told the same free port.
bool ListensOn(pid_t pid, uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the column names
  std::vector<std::string> inodes;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    const size_t colon = local.find(':');
    if (colon == std::string::npos || state != "0A") continue;
    if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port) inodes.push_back("socket:[" + inode + "]");
  }
  if (inodes.empty()) return false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code link_ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), link_ec).string();
    for (const std::string& inode : inodes) {
      if (target == inode) return true;
    }
  }
  return false;
}

// Whether process `pid` runs `program` already: between its fork and its
// exec a child still holds every descriptor of this process, another
// daemon's listening socket on the port among them.
bool Runs(pid_t pid, const std::filesystem::path& program) {
  std::error_code ec;
  const std::filesystem::path running = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  if (ec) return false;
  const std::filesystem::path wanted = std::filesystem::weakly_canonical(program, ec);
  return !ec && running == wanted;
}

}  // namespace

uint16_t FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr = LoopbackAddress(0);
  socklen_t length = sizeof addr;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool LoopbackPortAccepts(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr = LoopbackAddress(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

KestrowStandalone::KestrowStandalone(const std::filesystem::path& folder, const std::string& drive_map,
                                     const std::string& enabled_letters, int max_connections)
    : program_(folder / "kestrow"),
      drive_map_(drive_map),
      enabled_letters_(enabled_letters),
      max_connections_(max_connections),
      port_(FreeLoopbackPort()) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(BuiltLibraryPath("kestrow"), program_,
                             std::filesystem::copy_options::overwrite_existing);
  WriteConfiguration();
}

void KestrowStandalone::WriteConfiguration() {
  std::ofstream ini(program_.parent_path() / "kestrow.INI", std::ios::trunc);
  ini << "[MAIN]\r\nLISTENINGPORT=" << port_ << "\r\nMAXCONNECTION=" << max_connections_ << "\r\n[DRIVES]\r\n";
  for (char letter : enabled_letters_) ini << letter << ":=1\r\n";
}

KestrowStandalone::~KestrowStandalone() { Stop(); }

bool KestrowStandalone::Start() {
  if (pid_ > 0) return true;
  // Another test may take the port between the choice and the daemon's
  // listen: then the daemon ends, and it starts again on another port.
  for (int attempt = 0; attempt < 5; ++attempt) {
    switch (Launch()) {
      case LaunchResult::kServing:
        return true;
      case LaunchResult::kPortTaken:
        port_ = FreeLoopbackPort();
        WriteConfiguration();
        continue;
      case LaunchResult::kFailed:
        return false;
    }
  }
  return false;
}

KestrowStandalone::LaunchResult KestrowStandalone::Launch() {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return LaunchResult::kFailed;
  const std::string program = program_.string();
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipe_fds[0], STDIN_FILENO);
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
    setenv("SORVEL_DRIVES", drive_map_.c_str(), 1);
    unsetenv("SORVEL_SERVICE_NAME");
    execl(program.c_str(), program.c_str(), "/standalone", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_fds[0]);
  if (pid_ < 0) {
    close(pipe_fds[1]);
    return LaunchResult::kFailed;
  }
  stdin_fd_ = pipe_fds[1];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    // Serving only when the socket on the port is this daemon's own.
    if (LoopbackPortAccepts(port_) && Runs(pid_, program_) && ListensOn(pid_, port_)) return LaunchResult::kServing;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {  // ended: the port was taken meanwhile
      pid_ = -1;
      close(stdin_fd_);
      stdin_fd_ = -1;
      return LaunchResult::kPortTaken;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return LaunchResult::kFailed;
}

bool KestrowStandalone::Suspend() {
  if (pid_ <= 0 || kill(pid_, SIGSTOP) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (done == pid_) return WIFSTOPPED(status);
    if (done < 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

void KestrowStandalone::Resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

void KestrowStandalone::Stop() {
  if (stdin_fd_ >= 0) {
    (void)!write(stdin_fd_, "\n", 1);
    close(stdin_fd_);
    stdin_fd_ = -1;
  }
  if (pid_ > 0) {
    if (!Reap(pid_, std::chrono::seconds(10))) {
      kill(pid_, SIGKILL);
      Reap(pid_, std::chrono::seconds(5));
    }
    pid_ = -1;
  }
}

}  // namespace sorvel::testing
