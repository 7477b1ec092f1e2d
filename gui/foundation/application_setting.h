// The program-wide settings over the settings INI file. One object per
// process, shared through a user count (AcquireSettings / ReleaseSettings);
// every property write marks the settings changed, Save writes the file, and
// the object's destruction saves a change still unsaved.
#pragma once

#include <QString>
#include <cstdint>

#include "gui/foundation/file_paths.h"
#include "gui/foundation/super_ini.h"

namespace sorvel {

// Port of the remote drive services when the settings name none.
inline constexpr int32_t kDefaultRemotePort = 8801;

class ApplicationSetting {
 public:
  // Loads `file_path`; a missing or unreadable file leaves every setting at its default.
  explicit ApplicationSetting(const QString& file_path = SettingsFilePath());
  ~ApplicationSetting();
  ApplicationSetting(const ApplicationSetting&) = delete;
  ApplicationSetting& operator=(const ApplicationSetting&) = delete;

  // Media type `index` (from 1): its display name and its capacity in 2,048-byte
  // sectors, "" and 0 past the end of the list. Without any "[DISCCAPACITY]Media1"
  // in the file, the usual CD, DVD and BD capacities are listed.
  QString DiscCapacityName(int index) const;
  int32_t DiscCapacity(int index) const;

  // Power actions after a failed and a successful long job (codes of the
  // power routines: 0 nothing, 8 power off, 0x4000 hibernate, 0x8000 standby);
  // absent or empty read 0 and 8.
  int32_t ShutdownFailed() const;
  void SetShutdownFailed(int32_t flag);
  int32_t ShutdownSuccess() const;
  void SetShutdownSuccess(int32_t flag);
  bool VerifyCompare() const;
  void SetVerifyCompare(bool on);
  bool EjectAfterMessage() const;
  void SetEjectAfterMessage(bool on);
  QString PathTemp() const;
  void SetPathTemp(const QString& path);
  QString PathLog() const;
  void SetPathLog(const QString& path);
  QString PathLogViewer() const;
  void SetPathLogViewer(const QString& path);
  int32_t RemotePort() const;
  void SetRemotePort(int32_t port);
  // Extra host address `index` (from 1), "" when absent. Writing a blank text removes the key.
  QString RemoteIP(int index) const;
  void SetRemoteIP(int index, const QString& server);
  // Discovery time-out in milliseconds; below 1 or absent reads 200.
  int32_t ScanTimeout() const;
  void SetScanTimeout(int32_t milliseconds);

  // Writes the settings file when a setting changed. True when written; false
  // when nothing had changed, the file was not read (LoadProblem) or writing
  // failed (the change then stays pending).
  bool Save();
  bool IsChanged() const { return changed_; }
  const QString& FilePath() const { return file_path_; }
  // Why the settings file, which exists, was not read (not a regular file,
  // larger than 16 MiB, unreadable); no problem when it was read or is
  // missing. Such a file is never written over.
  const FileProblem& LoadProblem() const { return load_problem_; }

 private:
  QString Read(const char* key) const;
  void Write(const QString& key, const QString& value);
  int32_t ReadNumber(const char* key, int32_t fallback) const;
  bool ReadFlag(const char* key) const;

  SuperINI ini_;
  QString file_path_;
  FileProblem load_problem_;
  bool changed_ = false;
};

// The process-wide settings object: created at the first acquisition, destroyed
// (saving a pending change) at the release that brings the user count to 0.
ApplicationSetting* AcquireSettings();
void ReleaseSettings();
// The object while acquired, else null.
ApplicationSetting* Settings();

}  // namespace sorvel
