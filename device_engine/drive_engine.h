// The engine object behind the exported functions: one drive at a time
// through the local pass-through or the remote one, the engine TOC that the
// caller exchanges part by part and that the read and write passes use.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "device_engine/cached_disc_drive.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/scsi_pass_through.h"
#include "native_common/toc_structure.h"

namespace sorvel {

class DriveEngine : public CachedDiscDrive {
 public:
  // major × 10000 + minor × 100 + build.
  static constexpr int32_t kVersion = 10600;
  // Drive letters A: to Z:.
  static constexpr int32_t kDriveCount = 26;

  DriveEngine();
  ~DriveEngine() override;

  // Ends the engine's work before it is freed: a running worker is stopped
  // (abort) and an open write pass marked ended without padding, then the
  // drive is closed and the remote link let go.
  void Terminate();

  // Local drive "\\.\X:" with X = 'A' + index; false for an index outside 0..25.
  bool OpenLocal(int32_t index);
  // A drive by name ("\\host:port\X:", host "." for this machine) through
  // the remote pass-through.
  bool OpenRemote(const std::string& name);
  bool Close() override;
  // FormatUnit for DVD+RW (0x26) and BD-RE (0x30), else BLANK.
  bool Erase(bool quick) override;

  int32_t ClearTOCStructure();
  int32_t GetTOCStructure(int32_t part, void* buffer, int32_t size);
  int32_t SetTOCStructure(int32_t part, const void* buffer, int32_t size);
  // Attaches the embedded local pass-through (false) or the remote one (true).
  void SelectPassThrough(bool remote);
  // Host discovery in the form of the export (see the export's description).
  int32_t GetRemoteHosts(const char* targets, int64_t port, char* buffer, int32_t size, int32_t timeout_ms);
  // Asked while a command of a remote drive waits for its answer; non-zero
  // gives the command up (RemoteScsiClient::SetWaitCallback). Asked too while
  // a call of the write cache waits for its worker (CallerWaitGivesUp); there
  // non-zero gives the pass up, and the worker's command that waits then is
  // given up as well, whatever the callback. Returns when
  // no callback set before still runs (on the thread of another command, the
  // write cache's worker): its context may be freed then. Not from inside a
  // callback of the engine (that one would wait for itself).
  void SetWaitCallback(RemoteScsiClient::WaitCallback callback, void* context);
  // A remote drive whose link dropped (a time-out, a command given up) is
  // opened again: done by the exports that start a use of the drive (the
  // ready check, the tray), so that a job's closing commands after a drop
  // fail at once instead of waiting for the host again.
  void ReopenDroppedLink() {
    if (remote_.LinkDropped()) remote_.Reopen();
  }
  // Whether that callback runs on the calling thread, inside a command or a
  // write cache wait of this engine.
  bool CallingBack() const {
    return remote_.CallingBack() || cache_calling_back_.load() == std::this_thread::get_id();
  }
  bool MakeSingleTrackToc(int32_t mode, int32_t length);
  // The read pass with the engine TOC receiving the disc's TOC.
  int32_t ReadStart(int32_t read_command, int32_t flags);
  // The write pass of a copy of the whole engine TOC.
  int32_t WriteStart(int32_t write_command, int32_t flags);
  bool CheckWriteMode(int32_t write_command, bool test_write, int32_t family);

  const TocStructure& engine_toc() const { return toc_parts_; }

  using DiscDrive::ReadStart;
  using CachedDiscDrive::WriteStart;

 private:
  // The drive is about to go away: stop the worker and forget an open pass.
  void EndPassForDeviceChange();
  bool CallerWaitGivesUp() override;

  // The pass-through's wait callback: asks the caller's, counting it as
  // running under the generation of the callback it asks.
  static int32_t AskWaitCallback(void* engine);
  // Asks the caller's callback, counting it as running under the generation
  // of the callback it asks; 0 without one.
  int32_t AskCallersCallback();

  TocStructure toc_parts_;
  RemoteScsiClient remote_;
  std::mutex wait_mutex_;
  std::condition_variable wait_ended_;
  RemoteScsiClient::WaitCallback wait_callback_ = nullptr;
  void* wait_context_ = nullptr;
  // Grows with every SetWaitCallback; the callbacks running, by the
  // generation they were set in.
  uint64_t wait_generation_ = 0;
  std::map<uint64_t, int> waits_running_;
  std::atomic<std::thread::id> cache_calling_back_{};
};

}  // namespace sorvel
