#include "gui/automation/object_worker.h"

#include <QThreadPool>

namespace sorvel {
namespace {

QThreadPool& Pool() {
  static QThreadPool* pool = [] {
    auto* p = new QThreadPool();
    p->setMaxThreadCount(ObjectWorker::kMaxThreads);
    p->setExpiryTimeout(2000);
    return p;
  }();
  return *pool;
}

// The worker whose task the calling thread runs.
thread_local const ObjectWorker* t_current = nullptr;

}  // namespace

void WorkerGroup::Start(std::shared_ptr<ObjectWorker> worker) {
  {
    std::lock_guard lock(mutex_);
    if (running_ >= kMaxRunning) {
      waiting_.push_back(std::move(worker));
      return;
    }
    ++running_;
  }
  worker->RunOnPool();
}

void WorkerGroup::Finished() {
  std::shared_ptr<ObjectWorker> next;
  {
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) {
      --running_;
      return;
    }
    next = std::move(waiting_.front());
    waiting_.pop_front();
  }
  next->RunOnPool();
}

std::shared_ptr<ObjectWorker> ObjectWorker::Make(std::shared_ptr<WorkerGroup> group) {
  return std::shared_ptr<ObjectWorker>(new ObjectWorker(std::move(group)));
}

void ObjectWorker::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (running_) return;
    running_ = true;
  }
  group_->Start(shared_from_this());
}

void ObjectWorker::RunOnPool() {
  // The pool's task holds the worker until its queue is empty.
  Pool().start([self = shared_from_this()] {
    self->Drain();
    self->group_->Finished();
  });
}

void ObjectWorker::Drain() {
  const ObjectWorker* outer = t_current;
  t_current = this;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) {
        running_ = false;
        break;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // An exception leaving a task would end the process on the pool's
    // thread, and the worker would stay marked running with its queue
    // stuck: the task has ended, the next one runs.
    try {
      task();
    } catch (...) {
    }
  }
  t_current = outer;
}

bool ObjectWorker::OnWorker() const { return t_current == this; }

void ObjectWorker::WaitForAll() { Pool().waitForDone(); }

}  // namespace sorvel
