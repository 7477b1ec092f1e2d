// Loading of the engine libraries (libtrelin.so, libtazol.so): dlopen with
// RTLD_NOW | RTLD_LOCAL from the program's own folder first, then from the
// default library path; every export looked up on the library's own handle,
// by name, at its first use. Both libraries export functions of the same
// names, so neither is ever linked directly nor opened globally.
#pragma once

#include <QString>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace sorvel {

class EngineLibrary {
 public:
  // `file_name` is the bare file name ("libtrelin.so"); `exports` the names
  // the binding may call, addressed by their index.
  EngineLibrary(std::string file_name, std::span<const char* const> exports);
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  // The library registered for `file_name` in the current search folder: one
  // object per resolved file for the life of the process (a library once
  // loaded is never unloaded, so bound addresses stay valid).
  static EngineLibrary& For(const std::string& file_name, std::span<const char* const> exports);

  // Loads the library when it is not loaded yet; false when it cannot be.
  bool Load();
  bool loaded() const { return handle_.load() != nullptr; }
  // The address of export `index`, looked up at its first use; null when the
  // library cannot be loaded or lacks the export.
  void* Export(size_t index);
  const char* ExportName(size_t index) const { return names_[index]; }
  // Why the last load or lookup failed (dlerror's text).
  QString error() const;
  const std::string& path() const { return path_; }

 private:
  std::string file_name_;
  std::string path_;  // where it was found; empty while not loaded
  std::span<const char* const> names_;
  std::unique_ptr<std::atomic<void*>[]> bound_;
  std::atomic<void*> handle_{nullptr};
  mutable std::mutex mutex_;
  QString error_;
};

// The folder searched before the default library path: the program's own
// folder. A test may choose another folder, which is then the only place
// searched (empty restores the default).
void SetEngineLibraryFolder(const QString& folder);
QString EngineLibraryFolder();

// The fatal path of a binding that cannot start its engine: shows `message`
// as a critical box titled with the product name, writes it to standard
// error, then ends the program at once (no further events, no unloading).
// Tests replace the end with a hook that returns; the binding then stays
// without an engine and every member answers with its failure value.
void EngineFatalError(const QString& message);
// Returns the previous hook; an empty function restores the immediate end.
std::function<void()> SetEngineFatalEnd(std::function<void()> end);

// The title of the program's message boxes.
QString ProductName();

}  // namespace sorvel
