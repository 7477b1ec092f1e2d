// A stand-in engine library for the binding tests: every export records its
// call (name and arguments as text, and the bytes of any buffer it is handed)
// and answers with scripted results and scripted output bytes. Built as
// libtrelin.so (default) or libtazol.so (FAKE_TAZOL); FAKE_NO_INITIALIZE leaves
// Initialize out and FAKE_PARTIAL leaves one later export out.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Call {
  std::string text;
  std::vector<uint8_t> bytes;
};

std::vector<Call> g_calls;
std::map<std::string, int32_t> g_results;
std::map<std::pair<std::string, int32_t>, std::vector<uint8_t>> g_outputs;

constexpr intptr_t kHandle = 0x5A17;
int g_remote_host_calls = 0;

void Record(std::string text, const void* bytes = nullptr, size_t size = 0) {
  Call call{std::move(text), {}};
  if (bytes != nullptr) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    call.bytes.assign(p, p + size);
  }
  g_calls.push_back(std::move(call));
}

template <typename... Args>
std::string Text(const char* name, Args... args) {
  std::string text = name;
  ((text += ' ', text += std::to_string(args)), ...);
  return text;
}

int32_t Result(const char* name, int32_t fallback) {
  auto it = g_results.find(name);
  return it == g_results.end() ? fallback : it->second;
}

// Copies the scripted output of (name, key) into `buffer`, at most `size`
// bytes; returns the bytes copied.
int32_t Output(const char* name, int32_t key, void* buffer, int32_t size) {
  auto it = g_outputs.find({name, key});
  if (it == g_outputs.end() || buffer == nullptr || size <= 0) return 0;
  const size_t n = std::min(it->second.size(), static_cast<size_t>(size));
  std::memcpy(buffer, it->second.data(), n);
  return static_cast<int32_t>(n);
}

// A sector read: the whole size the real export may write, so that a short
// buffer would be overrun and a sanitizer build would catch it.
int32_t FillSector(const char* name, void* buffer, int32_t lba, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(lba + i);
  return Result(name, 1);
}

}  // namespace

// Test access.
FAKE_EXPORT void FakeReset() {
  g_calls.clear();
  g_remote_host_calls = 0;
  g_results.clear();
  g_outputs.clear();
}
FAKE_EXPORT int32_t FakeCallCount() { return static_cast<int32_t>(g_calls.size()); }
FAKE_EXPORT const char* FakeCall(int32_t i) { return g_calls.at(static_cast<size_t>(i)).text.c_str(); }
FAKE_EXPORT int32_t FakeCallBytes(int32_t i, const uint8_t** data) {
  const Call& call = g_calls.at(static_cast<size_t>(i));
  *data = call.bytes.data();
  return static_cast<int32_t>(call.bytes.size());
}
FAKE_EXPORT void FakeSetResult(const char* name, int32_t value) { g_results[name] = value; }
FAKE_EXPORT void FakeSetOutput(const char* name, int32_t key, const void* data, int32_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  g_outputs[{name, key}] = std::vector<uint8_t>(p, p + size);
}

// Exports of both engines.
FAKE_EXPORT int32_t GetEngineVersion() {
  Record("GetEngineVersion");
  return Result("GetEngineVersion", 10203);
}

#ifndef FAKE_NO_INITIALIZE
FAKE_EXPORT intptr_t Initialize() {
  Record("Initialize");
  return Result("Initialize", static_cast<int32_t>(kHandle));
}
#endif

FAKE_EXPORT int32_t GetTOCStructure(intptr_t h, int32_t part, void* buffer, int32_t size) {
  Record(Text("GetTOCStructure", h, part, size));
  const int32_t copied = Output("GetTOCStructure", part, buffer, size);
  return Result(("GetTOCStructure" + std::to_string(part)).c_str(), copied);
}

#ifndef FAKE_TAZOL

FAKE_EXPORT void Terminate(intptr_t h) { Record(Text("Terminate", h)); }

FAKE_EXPORT int32_t GetRemoteHosts(intptr_t h, const char* targets, int32_t port, char* buffer, int32_t size,
                                   int32_t timeout) {
  Record(Text("GetRemoteHosts", h, port, size, timeout) + " " + targets);
  Output("GetRemoteHosts", 0, buffer, size);
  // "GetRemoteHosts#2": the answer of every call after the first.
  if (g_results.count("GetRemoteHosts#2") != 0 && g_remote_host_calls++ > 0) return g_results["GetRemoteHosts#2"];
  return Result("GetRemoteHosts", 0);
}

#define FAKE_INT(name, fallback)                 \
  FAKE_EXPORT int32_t name(intptr_t h) {         \
    Record(Text(#name, h));                      \
    return Result(#name, fallback);              \
  }
#define FAKE_INT1(name, fallback)                \
  FAKE_EXPORT int32_t name(intptr_t h, int32_t a) { \
    Record(Text(#name, h, a));                   \
    return Result(#name, fallback);              \
  }
#define FAKE_INT2(name, fallback)                           \
  FAKE_EXPORT int32_t name(intptr_t h, int32_t a, int32_t b) { \
    Record(Text(#name, h, a, b));                           \
    return Result(#name, fallback);                         \
  }

FAKE_INT1(Open, 1)
FAKE_EXPORT int32_t OpenEx(intptr_t h, const char* name) {
  Record(Text("OpenEx", h) + " " + name);
  return Result("OpenEx", 1);
}
FAKE_INT(Close, 1)
FAKE_EXPORT int32_t GetDeviceName(intptr_t h, int32_t flags, char* buffer, int32_t size) {
  Record(Text("GetDeviceName", h, flags, size));
  Output("GetDeviceName", flags, buffer, size);
  return Result("GetDeviceName", 1);
}
FAKE_INT(ClearTOCStructure, 0)
FAKE_EXPORT int32_t SetTOCStructure(intptr_t h, int32_t part, const void* buffer, int32_t size) {
  Record(Text("SetTOCStructure", h, part, size), buffer, static_cast<size_t>(size));
  return Result("SetTOCStructure", size);
}
FAKE_INT(GetFirstLBA, -150)
FAKE_INT(GetLastLBA, 359849)
FAKE_EXPORT void SetBufferingBlockLength(intptr_t h, int32_t sectors) {
  Record(Text("SetBufferingBlockLength", h, sectors));
}
FAKE_INT2(ReadStart, 0)
FAKE_EXPORT int32_t ReadLBA(intptr_t h, void* buffer, int32_t lba) {
  Record(Text("ReadLBA", h, lba));
  return FillSector("ReadLBA", buffer, lba, 2448);
}
FAKE_EXPORT int32_t ReadLBADummy(intptr_t h, void* buffer, int32_t lba) {
  Record(Text("ReadLBADummy", h, lba));
  return FillSector("ReadLBADummy", buffer, lba, 2448);
}
FAKE_INT(ReadEnd, 1)
FAKE_INT2(WriteStart, 0)
FAKE_EXPORT int32_t WriteLBA(intptr_t h, int32_t type, const void* buffer, int32_t lba) {
  Record(Text("WriteLBA", h, type, lba), buffer, 2448);
  return Result("WriteLBA", 1);
}
FAKE_INT1(WriteFlush, 1)
FAKE_INT1(WriteEnd, 1)
#ifndef FAKE_PARTIAL
FAKE_INT(GetLastWroteLBA, 1234)
#endif
FAKE_INT1(LoadTray, 1)
FAKE_INT(IsReady, 1)
FAKE_INT(GetMediaType, 9)
FAKE_INT(GetMediaFamilyType, 1)
FAKE_INT1(LockUnlock, 1)
FAKE_INT1(Erase, 1)
FAKE_INT1(IsSupportMedia, 1)
FAKE_INT1(IsReadSupport, 1)
FAKE_INT1(IsWriteSupport, 1)
FAKE_INT(IsDiscEmpty, 1)
FAKE_INT(ResetSense, 1)
FAKE_INT2(SetECCMode, 1)
FAKE_INT2(SetReadSpeed, 1)
FAKE_INT2(SetWriteSpeed, 1)
FAKE_EXPORT int32_t GetWriteSpeed(intptr_t h, void* entries, int32_t room) {
  Record(Text("GetWriteSpeed", h, room));
  const int32_t copied = Output("GetWriteSpeed", 0, entries, room * 4);
  return Result("GetWriteSpeed", copied / 4);
}
FAKE_EXPORT int32_t CheckWriteMode(intptr_t h, int32_t command, int32_t test, int32_t family) {
  Record(Text("CheckWriteMode", h, command, test, family));
  return Result(("CheckWriteMode" + std::to_string(command)).c_str(), 0);
}
FAKE_INT(GetSCSIErrorStatus, 0)
FAKE_INT1(SetWriteCacheBufferSize, 0)
FAKE_INT(GetUsedWriteCacheBufferSize, 4912)

#else  // FAKE_TAZOL

namespace {
std::string Str(const char* text) { return text == nullptr ? std::string("(null)") : std::string(text); }
}  // namespace

FAKE_EXPORT int32_t Terminate(intptr_t h) {
  Record(Text("Terminate", h));
  return 0;
}
FAKE_EXPORT int32_t InitISOFS(intptr_t h, int32_t variant) {
  Record(Text("InitISOFS", h, variant));
  return Result("InitISOFS", 1);
}
FAKE_EXPORT int32_t ClearISO(intptr_t h) {
  Record(Text("ClearISO", h));
  return 0;
}
FAKE_EXPORT int32_t IsISOEmpty(intptr_t h) {
  Record(Text("IsISOEmpty", h));
  return Result("IsISOEmpty", 1);
}
FAKE_EXPORT int32_t AddISOFile(intptr_t h, const char* name, const char* source) {
  Record(Text("AddISOFile", h) + " " + Str(name) + "|" + Str(source));
  return Result("AddISOFile", 1);
}
FAKE_EXPORT int32_t AddISODummyFile(intptr_t h, const char* name, int32_t attributes, int32_t size, int32_t time) {
  Record(Text("AddISODummyFile", h, attributes, size, time) + " " + Str(name));
  return Result("AddISODummyFile", 1);
}
FAKE_EXPORT int32_t MakeISODirectory(intptr_t h, const char* name, int32_t attributes, int32_t time) {
  Record(Text("MakeISODirectory", h, attributes, time) + " " + Str(name));
  return Result("MakeISODirectory", 1);
}
FAKE_EXPORT int32_t GetISONewFileDirectoryName(intptr_t h, char* buffer, int32_t size) {
  Record(Text("GetISONewFileDirectoryName", h, size));
  Output("GetISONewFileDirectoryName", 0, buffer, size);
  return 0;
}
FAKE_EXPORT int32_t ChangeISODirectory(intptr_t h, const char* path) {
  Record(Text("ChangeISODirectory", h) + " " + Str(path));
  return Result("ChangeISODirectory", 1);
}
FAKE_EXPORT int32_t RemoveISOFile(intptr_t h, const char* name) {
  Record(Text("RemoveISOFile", h) + " " + Str(name));
  return Result("RemoveISOFile", 1);
}
FAKE_EXPORT int32_t RenameISOFile(intptr_t h, const char* name, const char* new_name) {
  Record(Text("RenameISOFile", h) + " " + Str(name) + "|" + Str(new_name));
  return Result("RenameISOFile", 1);
}
FAKE_EXPORT int32_t ChangeISOProperties(intptr_t h, const char* name, int32_t attributes, int32_t time) {
  Record(Text("ChangeISOProperties", h, attributes, time) + " " + Str(name));
  return Result("ChangeISOProperties", 1);
}
FAKE_EXPORT int32_t GetISOCurrentDirectory(intptr_t h, char* buffer, int32_t size) {
  Record(Text("GetISOCurrentDirectory", h, size));
  Output("GetISOCurrentDirectory", 0, buffer, size);
  return 0;
}
// Each call hands out the next scripted record (keys 0, 1, ...); false after them.
FAKE_EXPORT int32_t FindISOFirstFile(intptr_t h, void* record) {
  Record(Text("FindISOFirstFile", h));
  FakeSetResult("find-next", 1);
  return Output("FindISOFile", 0, record, 2064) > 0 ? 1 : 0;
}
FAKE_EXPORT int32_t FindISONextFile(intptr_t h, void* record) {
  Record(Text("FindISONextFile", h));
  const int32_t next = Result("find-next", 1);
  FakeSetResult("find-next", next + 1);
  return Output("FindISOFile", next, record, 2064) > 0 ? 1 : 0;
}
FAKE_EXPORT int32_t ClearTrack(intptr_t h) {
  Record(Text("ClearTrack", h));
  return 0;
}
FAKE_EXPORT int32_t AddTrack(intptr_t h, const char* path, int32_t pregap, int32_t postgap, int32_t control) {
  Record(Text("AddTrack", h, pregap, postgap, control) + " " + Str(path));
  return Result("AddTrack", 1);
}
FAKE_EXPORT int32_t ResetTrack(intptr_t h, int32_t index, const char* path, int32_t pregap, int32_t postgap,
                               int32_t control) {
  Record(Text("ResetTrack", h, index, pregap, postgap, control) + " " + Str(path));
  return Result("ResetTrack", 1);
}
FAKE_EXPORT int32_t RemoveTrack(intptr_t h, int32_t index) {
  Record(Text("RemoveTrack", h, index));
  return Result("RemoveTrack", 1);
}
#ifndef FAKE_PARTIAL
FAKE_EXPORT int32_t GetTrackCount(intptr_t h) {
  Record(Text("GetTrackCount", h));
  return Result("GetTrackCount", 0);
}
#endif
FAKE_EXPORT int32_t GetTrackInformation(intptr_t h, int32_t index, void* record) {
  Record(Text("GetTrackInformation", h, index));
  Output("GetTrackInformation", index, record, 1040);
  return 0;
}
FAKE_EXPORT int32_t ReadStart(intptr_t h, const char* label) {
  Record(Text("ReadStart", h) + " " + Str(label));
  return Result("ReadStart", 300);
}
FAKE_EXPORT int32_t Read(intptr_t h, uint8_t* buffer, int32_t raw) {
  Record(Text("Read", h, raw));
  return FillSector("Read", buffer, 7, 2352);
}
FAKE_EXPORT int32_t ReadEnd(intptr_t h) {
  Record(Text("ReadEnd", h));
  return 0;
}
FAKE_EXPORT int32_t EnabledTrackText(intptr_t h, int32_t on) {
  Record(Text("EnabledTrackText", h, on));
  return Result("EnabledTrackText", on);
}
FAKE_EXPORT int32_t SetTrackText(intptr_t h, int32_t track, int32_t block, int32_t kind, const char* text) {
  Record(Text("SetTrackText", h, track, block, kind) + " " + Str(text));
  return 0;
}
// Output key: track * 100 + block * 10 + kind.
FAKE_EXPORT int32_t GetTrackText(intptr_t h, int32_t track, int32_t block, int32_t kind, char* buffer,
                                 int32_t size) {
  Record(Text("GetTrackText", h, track, block, kind, size));
  Output("GetTrackText", track * 100 + block * 10 + kind, buffer, size);
  return 0;
}

#endif  // FAKE_TAZOL
