#include "gui/model/engine_binding.h"

namespace sorvel {

EngineBinding::EngineBinding(const std::string& file_name, std::span<const char* const> exports, size_t initialize,
                             const QString& fatal_message)
    : library_(&EngineLibrary::For(file_name, exports)) {
  auto* start = reinterpret_cast<intptr_t (*)()>(library_->Export(initialize));
  if (start != nullptr) handle_ = start();
  if (handle_ == 0) EngineFatalError(fatal_message);
}

}  // namespace sorvel
