#include "gui/automation/object_worker.h"

#include <QThreadPool>
#include <future>

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

std::shared_ptr<ObjectWorker> ObjectWorker::Make() { return std::shared_ptr<ObjectWorker>(new ObjectWorker()); }

void ObjectWorker::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (running_) return;
    running_ = true;
  }
  // The pool's task holds the worker until its queue is empty.
  Pool().start([self = shared_from_this()] { self->Drain(); });
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
    task();
  }
  t_current = outer;
}

void ObjectWorker::RunAndWait(const std::function<void()>& task) {
  if (OnWorker()) {
    task();
    return;
  }
  std::promise<void> done;
  Post([&] {
    task();
    done.set_value();
  });
  done.get_future().wait();
}

bool ObjectWorker::OnWorker() const { return t_current == this; }

void ObjectWorker::WaitForAll() { Pool().waitForDone(); }

}  // namespace sorvel
