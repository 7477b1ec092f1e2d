// The program's end at SIGTERM, SIGINT or SIGHUP (a logout, `kill`, Ctrl+C):
// the signal is taken into the window system's loop of the GUI thread, a job
// running then is stopped as its window's stop does (so it removes its
// temporaries and releases its drive), and once no job runs the program ends
// as the signal would have ended it. A second signal ends the program at
// once. A signal that was ignored when the program started (`nohup`) stays
// ignored.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace sorvel {

class Termination : public QObject {
  Q_OBJECT

 public:
  static Termination& Instance();

  // Installs the handlers of the three signals; call once, from the GUI
  // thread, once its application object exists.
  void Install();
  // The signal received; 0 while none was.
  int received() const { return received_; }
  // Called on the GUI thread just before the program ends by the signal
  // (the automation server makes sure its answers have left then).
  void SetBeforeEnd(std::function<void()> before_end);
  // Tests: the program's end calls `end` with the signal instead, and the
  // signal is forgotten then (as when `end` is set or cleared), so that the
  // next one is taken as a first one again.
  void SetEndForTesting(std::function<void(int)> end);

  // For its life, a job that runs, on any thread: `stop` is called (on the
  // GUI thread) when a signal comes, and the program ends when the last such
  // scope closes after one came (on the GUI thread, once it gets its turn,
  // when the scope closed on another).
  class JobScope {
   public:
    explicit JobScope(std::function<void()> stop);
    ~JobScope();
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

   private:
    friend class Termination;
    std::function<void()> stop_;
  };

 private:
  Termination() = default;
  void Receive(int signal_number);
  // Ends the process by the signal received, its default action restored,
  // unless a job started meanwhile.
  void EndProgram();

  std::atomic<int> received_{0};
  std::recursive_mutex mutex_;  // guards jobs_
  std::vector<JobScope*> jobs_;
  std::function<void()> before_end_;
  std::function<void(int)> end_for_testing_;
};

}  // namespace sorvel
