// The exported functions of libtrelin.so: each takes the engine handle first
// (except GetEngineVersion and Initialize) and forwards to one operation of the
// DriveEngine. Truth values come back as 0 or 1; nothing is thrown across.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "device_engine/drive_engine.h"
#include "native_common/handle_registry.h"

#define TRELIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using sorvel::DriveEngine;

// The engines issued and not yet terminated.
sorvel::HandleRegistry<DriveEngine>& Engines() {
  static sorvel::HandleRegistry<DriveEngine> engines;
  return engines;
}

int32_t Truth(bool value) { return value ? 1 : 0; }

// Runs `body` on the engine of `handle`; `failure` when the handle was not
// issued (or was terminated), when the engine's wait callback is running on
// this thread (a command of the engine is still open), or anything is thrown.
template <typename Result, typename Body>
Result Guarded(intptr_t handle, Result failure, Body&& body) noexcept {
  DriveEngine* engine = nullptr;
  try {
    engine = Engines().Find(handle);
  } catch (...) {
    return failure;
  }
  if (engine == nullptr || engine->CallingBack()) return failure;
  try {
    return body(*engine);
  } catch (...) {
    return failure;
  }
}

}  // namespace

TRELIN_EXPORT int32_t GetEngineVersion() { return DriveEngine::kVersion; }

TRELIN_EXPORT intptr_t Initialize() {
  try {
    return Engines().Issue(std::make_unique<DriveEngine>());
  } catch (...) {
    return 0;
  }
}

TRELIN_EXPORT void Terminate(intptr_t h) {
  try {
    // Not from inside the engine's own wait callback: its command is still open.
    DriveEngine* running = Engines().Find(h);
    if (running == nullptr || running->CallingBack()) return;
    std::unique_ptr<DriveEngine> engine = Engines().Withdraw(h);
    if (engine == nullptr) return;
    engine->Terminate();
  } catch (...) {
  }
}

TRELIN_EXPORT int32_t GetRemoteHosts(intptr_t h, const char* targets, int32_t port, char* buffer, int32_t size,
                                     int32_t timeout) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetRemoteHosts(targets, port, buffer, size, timeout); });
}

// While a command of a remote drive waits for its answer, `callback` is
// called with `context` about every 100 ms on the thread that issued the
// command; a non-zero answer gives the command up as a dropped link would.
// It is called the same way while a call of the write cache (WriteLBA waiting
// for room, WriteFlush, WriteEnd) waits for the cache's worker; there a
// non-zero answer gives the write pass up as WriteFlush(1) would.
// A null callback removes it. 1 when set. Returns only when no callback set
// before still runs (on the write cache's worker, whose command waits), so
// that the old context may be freed; meanwhile the other exports answer as
// ever, those made from inside a callback their failure value, and this one
// made from inside a callback answers 0 at once, changing nothing.
TRELIN_EXPORT int32_t SetWaitCallback(intptr_t h, int32_t (*callback)(void* context), void* context) {
  return Guarded(h, 0, [&](DriveEngine& e) {
    e.SetWaitCallback(callback, context);
    return 1;
  });
}

TRELIN_EXPORT int32_t Open(intptr_t h, int32_t index) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.OpenLocal(index)); });
}

TRELIN_EXPORT int32_t OpenEx(intptr_t h, const char* name) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(name != nullptr && e.OpenRemote(name)); });
}

TRELIN_EXPORT int32_t Close(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.Close()); });
}

TRELIN_EXPORT int32_t GetDeviceName(intptr_t h, int32_t flags, char* buffer, int32_t size) {
  return Guarded(h, 0, [&](DriveEngine& e) {
    const std::string name = e.GetDeviceName(flags);
    // The text and its terminating zero must fit; otherwise the buffer is untouched.
    if (buffer == nullptr || size <= 0 || name.size() >= static_cast<size_t>(size)) return 0;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return 1;
  });
}

TRELIN_EXPORT int32_t ClearTOCStructure(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.ClearTOCStructure(); });
}

TRELIN_EXPORT int32_t GetTOCStructure(intptr_t h, int32_t part, void* buffer, int32_t size) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetTOCStructure(part, buffer, size); });
}

TRELIN_EXPORT int32_t SetTOCStructure(intptr_t h, int32_t part, const void* buffer, int32_t size) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.SetTOCStructure(part, buffer, size); });
}

TRELIN_EXPORT int32_t GetFirstLBA(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetFirstLBA(); });
}

TRELIN_EXPORT int32_t GetLastLBA(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetLastLBA(); });
}

TRELIN_EXPORT void SetBufferingBlockLength(intptr_t h, int32_t sectors) {
  Guarded(h, 0, [&](DriveEngine& e) {
    e.SetBufferingBlockLength(sectors);
    return 0;
  });
}

TRELIN_EXPORT int32_t ReadStart(intptr_t h, int32_t read_command, int32_t flags) {
  return Guarded(h, static_cast<int32_t>(sorvel::CBR_UNKNOWNMEDIA),
                 [&](DriveEngine& e) { return e.ReadStart(read_command, flags); });
}

TRELIN_EXPORT int32_t ReadLBA(intptr_t h, void* buffer, int32_t lba) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.ReadLBA(static_cast<uint8_t*>(buffer), lba)); });
}

TRELIN_EXPORT int32_t ReadLBADummy(intptr_t h, void* buffer, int32_t lba) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.ReadLBADummy(static_cast<uint8_t*>(buffer), lba)); });
}

TRELIN_EXPORT int32_t ReadEnd(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.ReadEnd()); });
}

TRELIN_EXPORT int32_t WriteStart(intptr_t h, int32_t write_command, int32_t flags) {
  return Guarded(h, static_cast<int32_t>(sorvel::CBR_UNKNOWNMEDIA),
                 [&](DriveEngine& e) { return e.WriteStart(write_command, flags); });
}

TRELIN_EXPORT int32_t WriteLBA(intptr_t h, int32_t type, const void* buffer, int32_t lba) {
  return Guarded(h, 0,
                 [&](DriveEngine& e) { return Truth(e.WriteLBA(type, static_cast<const uint8_t*>(buffer), lba)); });
}

TRELIN_EXPORT int32_t WriteFlush(intptr_t h, int32_t abort) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.WriteFlush(abort != 0)); });
}

TRELIN_EXPORT int32_t WriteEnd(intptr_t h, int32_t abort) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.WriteEnd(abort != 0)); });
}

TRELIN_EXPORT int32_t GetLastWroteLBA(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetLastWroteLBA(); });
}

TRELIN_EXPORT int32_t LoadTray(intptr_t h, int32_t load) {
  return Guarded(h, 0, [&](DriveEngine& e) {
    e.ReopenDroppedLink();
    return Truth(e.LoadTray(load != 0));
  });
}

TRELIN_EXPORT int32_t IsReady(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) {
    e.ReopenDroppedLink();
    return Truth(e.IsReady());
  });
}

TRELIN_EXPORT int32_t GetMediaType(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetMediaType(); });
}

TRELIN_EXPORT int32_t GetMediaFamilyType(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetMediaFamilyType(); });
}

TRELIN_EXPORT int32_t LockUnlock(intptr_t h, int32_t lock) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.LockUnlock(lock != 0)); });
}

TRELIN_EXPORT int32_t Erase(intptr_t h, int32_t quick) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.Erase(quick != 0)); });
}

TRELIN_EXPORT int32_t IsSupportMedia(intptr_t h, int32_t profile) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.IsSupportMedia(profile)); });
}

TRELIN_EXPORT int32_t IsReadSupport(intptr_t h, int32_t flags) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.IsReadSupport(flags)); });
}

TRELIN_EXPORT int32_t IsWriteSupport(intptr_t h, int32_t flags) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.IsWriteSupport(flags)); });
}

TRELIN_EXPORT int32_t IsDiscEmpty(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.IsDiscEmpty()); });
}

TRELIN_EXPORT int32_t ResetSense(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.ResetSense()); });
}

TRELIN_EXPORT int32_t SetECCMode(intptr_t h, int32_t enable, int32_t retry_count) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.SetECCMode(enable != 0, retry_count)); });
}

TRELIN_EXPORT int32_t SetReadSpeed(intptr_t h, int32_t speed, int32_t cav) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.SetReadSpeed(speed, cav != 0)); });
}

TRELIN_EXPORT int32_t SetWriteSpeed(intptr_t h, int32_t speed, int32_t cav) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.SetWriteSpeed(speed, cav != 0)); });
}

TRELIN_EXPORT int32_t GetWriteSpeed(intptr_t h, void* entries, int32_t room) {
  return Guarded(h, 0, [&](DriveEngine& e) {
    if (entries == nullptr || room <= 0) return 0;
    return e.GetWriteSpeed(static_cast<sorvel::WriteSpeedEntry*>(entries), room);
  });
}

TRELIN_EXPORT int32_t CheckWriteMode(intptr_t h, int32_t write_command, int32_t test_write, int32_t family) {
  return Guarded(h, 0, [&](DriveEngine& e) { return Truth(e.CheckWriteMode(write_command, test_write != 0, family)); });
}

TRELIN_EXPORT int32_t GetSCSIErrorStatus(intptr_t h) {
  return Guarded(h, static_cast<int32_t>(sorvel::kSenseNoDevice), [&](DriveEngine& e) { return e.GetSCSIErrorStatus(); });
}

TRELIN_EXPORT int32_t SetWriteCacheBufferSize(intptr_t h, int32_t bytes) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.SetWriteCacheBufferSize(bytes); });
}

TRELIN_EXPORT int32_t GetUsedWriteCacheBufferSize(intptr_t h) {
  return Guarded(h, 0, [&](DriveEngine& e) { return e.GetUsedWriteCacheBufferSize(); });
}
