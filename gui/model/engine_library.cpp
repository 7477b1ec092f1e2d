#include "gui/model/engine_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "gui/foundation/modal_ui.h"
#include "platform/executable_path.h"

namespace sorvel {
namespace {

std::mutex g_registry_mutex;
QString g_folder_override;
std::function<void()> g_fatal_end;

// The folder of the program's real file, also when it was started through a
// link (an installed bin/sorvel) or its file was replaced while it runs.
QString ProgramFolder() { return QFile::decodeName(platform::ExecutableFolder().c_str()); }

QString DlErrorText() {
  const char* text = dlerror();
  return text != nullptr ? QString::fromUtf8(text) : QString();
}

}  // namespace

EngineLibrary::EngineLibrary(std::string file_name, std::span<const char* const> exports)
    : file_name_(std::move(file_name)), names_(exports), bound_(new std::atomic<void*>[exports.size()]) {
  for (size_t i = 0; i < names_.size(); ++i) bound_[i].store(nullptr);
}

// A loaded library stays loaded: addresses handed out must never dangle.
EngineLibrary::~EngineLibrary() = default;

EngineLibrary& EngineLibrary::For(const std::string& file_name, std::span<const char* const> exports) {
  static std::map<std::string, std::unique_ptr<EngineLibrary>> registry;
  // One object per folder, file and export list (the same file may be bound
  // with other lists; dlopen shares the loaded library between them).
  const std::string key = EngineLibraryFolder().toStdString() + '\n' + file_name + '\n' +
                          std::to_string(reinterpret_cast<uintptr_t>(exports.data()));
  std::lock_guard lock(g_registry_mutex);
  auto& slot = registry[key];
  if (!slot) slot = std::make_unique<EngineLibrary>(file_name, exports);
  return *slot;
}

bool EngineLibrary::Load() {
  if (handle_.load() != nullptr) return true;
  std::lock_guard lock(mutex_);
  if (handle_.load() != nullptr) return true;
  // A file in the program's folder is the one meant, even when it is broken;
  // only a missing one sends the search on to the default library path. A
  // folder chosen by a test is the only place searched.
  bool only_folder = false;
  {
    std::lock_guard registry_lock(g_registry_mutex);
    only_folder = !g_folder_override.isEmpty();
  }
  const QString local = QDir(EngineLibraryFolder()).filePath(QString::fromStdString(file_name_));
  const std::string candidate = QFileInfo::exists(local) || only_folder ? local.toStdString() : file_name_;
  dlerror();
  void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error_ = DlErrorText();
    return false;
  }
  path_ = candidate;
  handle_.store(handle);
  return true;
}

void* EngineLibrary::Export(size_t index) {
  if (index >= names_.size()) return nullptr;
  void* address = bound_[index].load(std::memory_order_acquire);
  if (address != nullptr) return address;
  if (!Load()) return nullptr;
  std::lock_guard lock(mutex_);
  dlerror();
  address = dlsym(handle_.load(), names_[index]);
  if (address == nullptr) {
    error_ = DlErrorText();
    return nullptr;
  }
  bound_[index].store(address, std::memory_order_release);
  return address;
}

QString EngineLibrary::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void SetEngineLibraryFolder(const QString& folder) {
  std::lock_guard lock(g_registry_mutex);
  g_folder_override = folder;
}

QString EngineLibraryFolder() {
  {
    std::lock_guard lock(g_registry_mutex);
    if (!g_folder_override.isEmpty()) return g_folder_override;
  }
  return ProgramFolder();
}

QString ProductName() { return QStringLiteral("Sorvel"); }

void EngineFatalError(const QString& message) {
  const QByteArray text = message.toUtf8();
  std::fprintf(stderr, "%s\n", text.constData());
  std::fflush(stderr);
  CurrentModalUi().MessageBox(nullptr, message, 16, ProductName());
  if (g_fatal_end) {
    g_fatal_end();
    return;
  }
  std::fflush(nullptr);
  _exit(EXIT_FAILURE);
}

std::function<void()> SetEngineFatalEnd(std::function<void()> end) {
  std::function<void()> previous = std::move(g_fatal_end);
  g_fatal_end = std::move(end);
  return previous;
}

}  // namespace sorvel
