// The program's end at SIGTERM, SIGINT or SIGHUP (a logout, `kill`, Ctrl+C):
// the signal is taken into the window system's loop of the GUI thread, a job
// running then is stopped as its window's stop does (so it removes its
// temporaries and releases its drive), and once no job runs the program ends
// as the signal would have ended it.
#pragma once

#include <QObject>
#include <functional>
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

  // For its life, a job that runs: `stop` is called when a signal comes, and
  // the program ends when the last such scope closes after one came.
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
  // Ends the process by the signal received, its default action restored.
  [[noreturn]] void EndProgram() const;

  int received_ = 0;
  std::vector<JobScope*> jobs_;
};

}  // namespace sorvel
