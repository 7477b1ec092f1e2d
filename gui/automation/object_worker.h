// The worker of automation objects: runs the calls on an object, and on the
// objects handed out by its calls (a TOC's records, a drive's speed lists),
// one after another in the order they came, on a thread of the server's pool.
// A call that waits on a drive, the network or a file then holds up only its
// own object's calls, never the bus thread and the other clients; and the
// model objects behind one worker are only ever used by one thread at a time.
//
// No task ever waits for another worker: a call that reads an object of
// another worker (a TOC handed to a drive) takes that object's model under
// the other worker's model lock, or answers that it is busy (ModelMutex).
//
// The workers of one client form a group that runs on at most
// WorkerGroup::kMaxRunning threads at once: a client whose calls all wait
// (on FIFOs, on daemons that never answer) queues its own further calls, and
// leaves the pool's threads to the other clients.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace sorvel {

class ObjectWorker;

class WorkerGroup {
 public:
  static constexpr int kMaxRunning = 32;

 private:
  friend class ObjectWorker;
  // Runs `worker`'s queue now, or when one of the group's threads is free.
  void Start(std::shared_ptr<ObjectWorker> worker);
  // A worker's queue has run empty: the next waiting one takes its thread.
  void Finished();

  std::mutex mutex_;
  int running_ = 0;
  std::deque<std::shared_ptr<ObjectWorker>> waiting_;
};

class ObjectWorker : public std::enable_shared_from_this<ObjectWorker> {
 public:
  // Threads the server's workers run on at most.
  static constexpr int kMaxThreads = 1024;

  static std::shared_ptr<ObjectWorker> Make(std::shared_ptr<WorkerGroup> group);
  ObjectWorker(const ObjectWorker&) = delete;
  ObjectWorker& operator=(const ObjectWorker&) = delete;

  // Queues `task` after the worker's earlier ones. A task that throws has
  // ended; the worker goes on with the next.
  void Post(std::function<void()> task);
  // Whether the calling thread is running a task of this worker.
  bool OnWorker() const;
  // Held exclusively by the calls on the objects of this worker whose model
  // other workers read (a TOC and its records) while they run; a call of
  // another worker reads such a model under it, shared, taken only when free.
  std::shared_mutex& ModelMutex() { return model_mutex_; }

  // Waits until no worker of the process has a task left.
  static void WaitForAll();

 private:
  friend class WorkerGroup;
  explicit ObjectWorker(std::shared_ptr<WorkerGroup> group) : group_(std::move(group)) {}
  void RunOnPool();
  // Runs the queued tasks until none is left.
  void Drain();

  std::shared_ptr<WorkerGroup> group_;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool running_ = false;
  std::shared_mutex model_mutex_;
};

}  // namespace sorvel
