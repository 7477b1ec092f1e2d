#include "native_common/thread_base.h"

#include <system_error>

namespace sorvel {

ThreadBase::~ThreadBase() { Join(); }

bool ThreadBase::Start() {
  Join();
  try {
    thread_ = std::thread([this] {
      try {
        Run();
      } catch (...) {
        // Nothing escapes a thread body: an exception ends only this thread.
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  std::this_thread::yield();
  return true;
}

void ThreadBase::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  if (thread_.joinable()) thread_.detach();
}

}  // namespace sorvel
