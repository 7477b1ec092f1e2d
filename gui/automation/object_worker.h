// The worker of automation objects: runs the calls on an object, and on the
// objects handed out by its calls (a TOC's records, a drive's speed lists),
// one after another in the order they came, on a thread of the server's pool.
// A call that waits on a drive, the network or a file then holds up only its
// own object's calls, never the bus thread and the other clients; and the
// model objects behind one worker are only ever used by one thread at a time.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace sorvel {

class ObjectWorker : public std::enable_shared_from_this<ObjectWorker> {
 public:
  // Threads the server's workers run on at most; a worker beyond them waits
  // for one to come free.
  static constexpr int kMaxThreads = 256;

  static std::shared_ptr<ObjectWorker> Make();
  ObjectWorker(const ObjectWorker&) = delete;
  ObjectWorker& operator=(const ObjectWorker&) = delete;

  // Queues `task` after the worker's earlier ones.
  void Post(std::function<void()> task);
  // Runs `task` on this worker and waits for it to end; at once when called
  // on the worker itself.
  void RunAndWait(const std::function<void()>& task);
  // Whether the calling thread is running a task of this worker.
  bool OnWorker() const;

  // Waits until no worker of the process has a task left.
  static void WaitForAll();

 private:
  ObjectWorker() = default;
  void Drain();

  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool running_ = false;
};

}  // namespace sorvel
