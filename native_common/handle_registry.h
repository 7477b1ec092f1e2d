// The handles a library's exports have issued: each names one live object.
// A handle that was never issued, or was withdrawn already, finds nothing, so
// an export given one touches no memory. (Withdrawing a handle while another
// thread still runs a call on it remains the caller's fault.)
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace sorvel {

template <typename T>
class HandleRegistry {
 public:
  // Objects still registered when the registry goes away (at exit, or when
  // the library is unloaded) are left alone: destroying them then could reach
  // other objects already gone.
  ~HandleRegistry() = default;

  // The handle of `object` (0 for none).
  intptr_t Issue(std::unique_ptr<T> object) {
    if (!object) return 0;
    const auto handle = reinterpret_cast<intptr_t>(object.get());
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.emplace(handle, object.release());
    return handle;
  }
  // The object of an issued handle; null for any other value.
  T* Find(intptr_t handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second;
  }
  // Takes the handle out of the set and hands its object over; null when the
  // handle was not issued.
  std::unique_ptr<T> Withdraw(intptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    std::unique_ptr<T> object(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<intptr_t, T*> objects_;  // owned, see the destructor
};

}  // namespace sorvel
