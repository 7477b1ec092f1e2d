// A restartable thread whose body is the virtual Run(). A derived class whose
// Run uses its own members must call Join() in its destructor, before those
// members go away; the base destructor joins only as a last resort.
#pragma once

#include <thread>

namespace sorvel {

class ThreadBase {
 public:
  ThreadBase() = default;
  virtual ~ThreadBase();
  ThreadBase(const ThreadBase&) = delete;
  ThreadBase& operator=(const ThreadBase&) = delete;

  // Waits for an earlier thread of this object (without limit), then starts a
  // new one running Run() and yields the processor once. False when the thread
  // could not be created. Start and Join must not run concurrently.
  bool Start();

  // Waits for the thread without limit and forgets it.
  void Join();

  // A thread was started and not yet joined (whether or not it still runs).
  bool IsStarted() const { return thread_.joinable(); }

 protected:
  // The thread body; the default does nothing. Exceptions are caught and end
  // the thread.
  virtual void Run() {}

 private:
  std::thread thread_;
};

}  // namespace sorvel
