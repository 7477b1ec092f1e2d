#include "gui/foundation/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace sorvel {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler's end of the pipe into the loop.
int g_signal_pipe = -1;
// Whether a signal came already: the next one ends the program at once.
volatile sig_atomic_t g_signalled = 0;

void RestoreDefault(int signal_number) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal_number, &action, nullptr);
}

void OnSignal(int signal_number) {
  const int saved = errno;
  if (g_signalled != 0) {
    // Delivered once this handler returns (the signal is blocked in it).
    RestoreDefault(signal_number);
    ::raise(signal_number);
  } else {
    g_signalled = 1;
    const char byte = static_cast<char>(signal_number);
    if (g_signal_pipe >= 0) (void)!::write(g_signal_pipe, &byte, 1);
  }
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
  for (int signal_number : kSignals) {
    // One ignored by whoever started the program (nohup ignores SIGHUP) stays ignored.
    struct sigaction before {};
    if (::sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

void Termination::SetBeforeEnd(std::function<void()> before_end) { before_end_ = std::move(before_end); }

void Termination::SetEndForTesting(std::function<void(int)> end) {
  end_for_testing_ = std::move(end);
  received_ = 0;
  g_signalled = 0;
}

void Termination::Receive(int signal_number) {
  if (received_ != 0) return;
  received_ = signal_number;
  const std::lock_guard lock(mutex_);
  if (jobs_.empty()) EndProgram();
  // A stop may end a job's scope: the list is walked as it was.
  const std::vector<JobScope*> running = jobs_;
  for (JobScope* job : running) {
    if (std::find(jobs_.begin(), jobs_.end(), job) != jobs_.end() && job->stop_) job->stop_();
  }
}

void Termination::EndProgram() {
  // Ends once, when a signal came (a scope closed meanwhile may ask again).
  if (received_ == 0) return;
  {
    const std::lock_guard lock(mutex_);
    if (!jobs_.empty()) return;
  }
  if (before_end_) before_end_();
  if (end_for_testing_) {
    const int signal_number = received_.exchange(0);
    g_signalled = 0;
    end_for_testing_(signal_number);
    return;
  }
  RestoreDefault(received_);
  ::raise(received_);
  std::_Exit(128 + received_);
}

Termination::JobScope::JobScope(std::function<void()> stop) : stop_(std::move(stop)) {
  Termination& termination = Instance();
  const std::lock_guard lock(termination.mutex_);
  termination.jobs_.push_back(this);
}

Termination::JobScope::~JobScope() {
  Termination& termination = Instance();
  bool last = false;
  {
    const std::lock_guard lock(termination.mutex_);
    std::erase(termination.jobs_, this);
    last = termination.received_ != 0 && termination.jobs_.empty();
  }
  if (!last) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    termination.EndProgram();
  } else {
    QMetaObject::invokeMethod(app, [&termination] { termination.EndProgram(); }, Qt::QueuedConnection);
  }
}

}  // namespace sorvel
