#include "gui/foundation/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cstdlib>

namespace sorvel {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler's end of the pipe into the loop.
int g_signal_pipe = -1;

void OnSignal(int signal_number) {
  const int saved = errno;
  const char byte = static_cast<char>(signal_number);
  if (g_signal_pipe >= 0) (void)!::write(g_signal_pipe, &byte, 1);
  errno = saved;
}

}  // namespace

Termination& Termination::Instance() {
  static Termination* instance = new Termination;
  return *instance;
}

void Termination::Install() {
  int fds[2];
  if (g_signal_pipe >= 0 || ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  g_signal_pipe = fds[1];
  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this, fd = fds[0]] {
    char bytes[16];
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n > 0) Receive(bytes[0]);
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : kSignals) ::sigaction(signal_number, &action, nullptr);
}

void Termination::Receive(int signal_number) {
  if (received_ != 0) return;
  received_ = signal_number;
  if (jobs_.empty()) EndProgram();
  // A stop may end a job's scope: the list is walked as it was.
  const std::vector<JobScope*> running = jobs_;
  for (JobScope* job : running) {
    if (std::find(jobs_.begin(), jobs_.end(), job) != jobs_.end() && job->stop_) job->stop_();
  }
}

void Termination::EndProgram() const {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(received_, &action, nullptr);
  ::raise(received_);
  std::_Exit(128 + received_);
}

Termination::JobScope::JobScope(std::function<void()> stop) : stop_(std::move(stop)) {
  Instance().jobs_.push_back(this);
}

Termination::JobScope::~JobScope() {
  Termination& termination = Instance();
  std::erase(termination.jobs_, this);
  if (termination.received_ != 0 && termination.jobs_.empty()) termination.EndProgram();
}

}  // namespace sorvel
