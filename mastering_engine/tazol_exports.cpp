// The library's C interface: every export takes the engine handle first and
// calls one operation of the engine. Strings are UTF-8; nothing throws across.
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "mastering_engine/iso_node.h"
#include "mastering_engine/mastering_engine.h"
#include "native_common/handle_registry.h"

#define TAZOL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using sorvel::IsoFindEntry;
using sorvel::MasteringEngine;

constexpr size_t kFindRecordSize = 2064;
constexpr size_t kFindNameSize = 1024;

// The engines issued and not yet terminated.
sorvel::HandleRegistry<MasteringEngine>& Engines() {
  static sorvel::HandleRegistry<MasteringEngine> engines;
  return engines;
}

// Every use lies inside Guard, so a handle that was never issued (or was
// terminated) becomes the export's failure value.
MasteringEngine* Engine(intptr_t handle) {
  MasteringEngine* engine = Engines().Find(handle);
  if (engine == nullptr) throw std::invalid_argument("unknown engine handle");
  return engine;
}

// Bounded copy: a string that fills the buffer is not terminated; a shorter one is zero-padded.
void CopyOut(const std::string& text, char* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return;
  size_t n = std::min(text.size(), static_cast<size_t>(size));
  std::memcpy(buffer, text.data(), n);
  std::memset(buffer + n, 0, static_cast<size_t>(size) - n);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// IsoFindRecord: Name[1024], SourcePath[1024], then Attributes, Size, Time and
// IsDirectory as little-endian 32-bit values at 2048, 2052, 2056 and 2060.
void PackFindRecord(const IsoFindEntry& entry, void* record) {
  auto* p = static_cast<uint8_t*>(record);
  std::memset(p, 0, kFindRecordSize);
  CopyOut(entry.name, reinterpret_cast<char*>(p), kFindNameSize);
  CopyOut(entry.source, reinterpret_cast<char*>(p + kFindNameSize), kFindNameSize);
  PutLe32(p + 2048, entry.attributes);
  PutLe32(p + 2052, entry.size);
  PutLe32(p + 2056, static_cast<uint32_t>(sorvel::ExportedTime(entry.time)));
  PutLe32(p + 2060, entry.is_directory ? 1 : 0);
}

template <typename F>
int32_t Guard(F&& f) {
  try {
    return f();
  } catch (...) {
    return 0;
  }
}

// One step of a find enumeration into the caller's record, untouched on false.
int32_t FindStep(intptr_t h, void* record, bool (MasteringEngine::*step)(IsoFindEntry*)) {
  if (record == nullptr) return 0;
  return Guard([&] {
    IsoFindEntry entry;
    if (!(Engine(h)->*step)(&entry)) return 0;
    PackFindRecord(entry, record);
    return 1;
  });
}

}  // namespace

TAZOL_EXPORT int32_t GetEngineVersion() { return MasteringEngine::kVersion; }

TAZOL_EXPORT intptr_t Initialize() {
  try {
    return Engines().Issue(std::make_unique<MasteringEngine>());
  } catch (...) {
    return 0;
  }
}

TAZOL_EXPORT int32_t Terminate(intptr_t h) {
  try {
    Engines().Withdraw(h);
  } catch (...) {
  }
  return 0;
}

TAZOL_EXPORT int32_t InitISOFS(intptr_t h, int32_t variant) {
  return Guard([&] { return Engine(h)->InitISOFS(variant) ? 1 : 0; });
}

TAZOL_EXPORT int32_t ClearISO(intptr_t h) {
  return Guard([&] {
    Engine(h)->ClearISO();
    return 0;
  });
}

TAZOL_EXPORT int32_t IsISOEmpty(intptr_t h) {
  return Guard([&] { return Engine(h)->IsISOEmpty() ? 1 : 0; });
}

TAZOL_EXPORT int32_t AddISOFile(intptr_t h, const char* name, const char* source_path) {
  if (name == nullptr || source_path == nullptr) return 0;
  return Guard([&] { return Engine(h)->AddISOFile(name, source_path) ? 1 : 0; });
}

TAZOL_EXPORT int32_t AddISODummyFile(intptr_t h, const char* name, int32_t attributes, int32_t size, int32_t time) {
  if (name == nullptr) return 0;
  return Guard([&] {
    return Engine(h)->AddISODummyFile(name, static_cast<uint32_t>(attributes), static_cast<uint32_t>(size), time) ? 1
                                                                                                                  : 0;
  });
}

TAZOL_EXPORT int32_t MakeISODirectory(intptr_t h, const char* name, int32_t attributes, int32_t time) {
  if (name == nullptr) return 0;
  return Guard([&] { return Engine(h)->MakeISODirectory(name, static_cast<uint32_t>(attributes) & 0xFFFF, time) ? 1 : 0; });
}

TAZOL_EXPORT int32_t GetISONewFileDirectoryName(intptr_t h, char* buffer, int32_t size) {
  return Guard([&] {
    CopyOut(Engine(h)->GetISONewFileDirectoryName(), buffer, size);
    return 0;
  });
}

TAZOL_EXPORT int32_t ChangeISODirectory(intptr_t h, const char* path) {
  if (path == nullptr) return 0;
  return Guard([&] { return Engine(h)->ChangeISODirectory(path) ? 1 : 0; });
}

TAZOL_EXPORT int32_t RemoveISOFile(intptr_t h, const char* name) {
  if (name == nullptr) return 0;
  return Guard([&] { return Engine(h)->RemoveISOFile(name) ? 1 : 0; });
}

TAZOL_EXPORT int32_t RenameISOFile(intptr_t h, const char* name, const char* new_name) {
  if (name == nullptr || new_name == nullptr) return 0;
  return Guard([&] { return Engine(h)->RenameISOFile(name, new_name) ? 1 : 0; });
}

TAZOL_EXPORT int32_t ChangeISOProperties(intptr_t h, const char* name, int32_t attributes, int32_t time) {
  if (name == nullptr) return 0;
  return Guard(
      [&] { return Engine(h)->ChangeISOProperties(name, static_cast<uint32_t>(attributes) & 0xFFFF, time) ? 1 : 0; });
}

TAZOL_EXPORT int32_t GetISOCurrentDirectory(intptr_t h, char* buffer, int32_t size) {
  return Guard([&] {
    CopyOut(Engine(h)->GetISOCurrentDirectory(), buffer, size);
    return 0;
  });
}

TAZOL_EXPORT int32_t FindISOFirstFile(intptr_t h, void* record) {
  return FindStep(h, record, &MasteringEngine::FindISOFirstFile);
}

TAZOL_EXPORT int32_t FindISONextFile(intptr_t h, void* record) {
  return FindStep(h, record, &MasteringEngine::FindISONextFile);
}

// Tracks, texts, the disc stream and its TOC.

namespace {

constexpr size_t kTrackRecordSize = 1040;
constexpr size_t kTrackPathSize = 1024;

// TrackInformationRecord: SourcePath[1024], then Pregap, Postgap, Control and
// Length as little-endian 32-bit values at 1024, 1028, 1032 and 1036.
void PackTrackRecord(const sorvel::TrackInfo& info, void* record) {
  auto* p = static_cast<uint8_t*>(record);
  std::memset(p, 0, kTrackRecordSize);
  CopyOut(info.path, reinterpret_cast<char*>(p), kTrackPathSize);
  PutLe32(p + 1024, static_cast<uint32_t>(info.pregap));
  PutLe32(p + 1028, static_cast<uint32_t>(info.postgap));
  PutLe32(p + 1032, static_cast<uint32_t>(info.control));
  PutLe32(p + 1036, static_cast<uint32_t>(info.length));
}

}  // namespace

TAZOL_EXPORT int32_t GetTOCStructure(intptr_t h, int32_t part, void* buffer, int32_t size) {
  return Guard([&] { return Engine(h)->GetTOCStructure(part, buffer, size); });
}

TAZOL_EXPORT int32_t ClearTrack(intptr_t h) {
  return Guard([&] {
    Engine(h)->Tracks().ClearTrack();
    return 0;
  });
}

TAZOL_EXPORT int32_t AddTrack(intptr_t h, const char* wav_path, int32_t pregap, int32_t postgap, int32_t control) {
  if (wav_path == nullptr) return 0;
  return Guard([&] { return Engine(h)->Tracks().AddTrack(wav_path, pregap, postgap, control) ? 1 : 0; });
}

TAZOL_EXPORT int32_t ResetTrack(intptr_t h, int32_t index, const char* wav_path, int32_t pregap, int32_t postgap,
                                int32_t control) {
  if (wav_path == nullptr) return 0;
  return Guard([&] { return Engine(h)->Tracks().ResetTrack(index, wav_path, pregap, postgap, control) ? 1 : 0; });
}

TAZOL_EXPORT int32_t RemoveTrack(intptr_t h, int32_t index) {
  return Guard([&] { return Engine(h)->Tracks().RemoveTrack(index) ? 1 : 0; });
}

TAZOL_EXPORT int32_t GetTrackCount(intptr_t h) {
  return Guard([&] { return Engine(h)->Tracks().GetTrackCount(); });
}

TAZOL_EXPORT int32_t GetTrackInformation(intptr_t h, int32_t index, void* record) {
  if (record == nullptr) return 0;
  return Guard([&] {
    sorvel::TrackInfo info;
    if (Engine(h)->Tracks().GetTrackInformation(index, &info)) PackTrackRecord(info, record);
    return 0;
  });
}

TAZOL_EXPORT int32_t ReadStart(intptr_t h, const char* volume_label) {
  return Guard([&] { return Engine(h)->Tracks().ReadStart(volume_label == nullptr ? "" : volume_label); });
}

TAZOL_EXPORT int32_t Read(intptr_t h, uint8_t* buffer, int32_t raw) {
  if (buffer == nullptr) return 0;
  return Guard([&] { return Engine(h)->Tracks().Read(buffer, raw != 0) ? 1 : 0; });
}

TAZOL_EXPORT int32_t ReadEnd(intptr_t h) {
  return Guard([&] {
    Engine(h)->Tracks().ReadEnd();
    return 0;
  });
}

TAZOL_EXPORT int32_t EnabledTrackText(intptr_t h, int32_t on) {
  return Guard([&] { return Engine(h)->Tracks().EnableTrackText(on != 0) ? 1 : 0; });
}

TAZOL_EXPORT int32_t SetTrackText(intptr_t h, int32_t track, int32_t block, int32_t kind, const char* text) {
  if (text == nullptr) return 0;
  return Guard([&] {
    Engine(h)->Tracks().SetTrackText(track, block, kind, text);
    return 0;
  });
}

TAZOL_EXPORT int32_t GetTrackText(intptr_t h, int32_t track, int32_t block, int32_t kind, char* buffer,
                                  int32_t size) {
  return Guard([&] {
    CopyOut(Engine(h)->Tracks().GetTrackText(track, block, kind), buffer, size);
    return 0;
  });
}
