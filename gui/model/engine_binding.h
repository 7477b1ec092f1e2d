// What the two engine bindings share: one engine of their library, started
// with the library's Initialize in the constructor (the fatal path when that
// cannot be done), and calls of the other exports through addresses bound at
// their first use. A call whose export cannot be bound, or made on a binding
// without an engine, answers with the failure value its caller gives.
#pragma once

#include <QString>
#include <cstdint>
#include <span>
#include <string>

#include "gui/model/engine_library.h"

namespace sorvel {

class EngineBinding {
 public:
  EngineBinding(const EngineBinding&) = delete;
  EngineBinding& operator=(const EngineBinding&) = delete;

  // The engine handle; 0 when the engine could not be started.
  intptr_t engine_handle() const { return handle_; }

 protected:
  // Starts one engine of `file_name`. `exports` lists the export names in the
  // order of the binding's export indexes; `initialize` is the index of
  // "Initialize". A missing library or Initialize, or a null handle, takes
  // the fatal path with `fatal_message`.
  EngineBinding(const std::string& file_name, std::span<const char* const> exports, size_t initialize,
                const QString& fatal_message);
  ~EngineBinding() = default;

  template <typename F>
  struct Signature;
  template <typename R, typename... P>
  struct Signature<R(P...)> {
    using Result = R;
  };

  // Export `index` with function type F, called as F(args...) when it is
  // bound and the engine runs; `failure` otherwise.
  template <typename F, typename... A>
  typename Signature<F>::Result Call(size_t index, typename Signature<F>::Result failure, A... args) const {
    if (handle_ == 0) return failure;
    auto* function = reinterpret_cast<F*>(library_->Export(index));
    if (function == nullptr) return failure;
    return function(args...);
  }
  // The same for an export without a result.
  template <typename F, typename... A>
  void CallVoid(size_t index, A... args) const {
    if (handle_ == 0) return;
    auto* function = reinterpret_cast<F*>(library_->Export(index));
    if (function != nullptr) function(args...);
  }

  EngineLibrary* library_;
  intptr_t handle_ = 0;
};

}  // namespace sorvel
