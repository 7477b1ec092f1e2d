#include "device_engine/drive_engine.h"

#include <cstring>

namespace sorvel {

namespace {

constexpr int32_t kPlusRw = 0x1A;
constexpr int32_t kPlusRwDualLayer = 0x2A;
constexpr int32_t kBdRe = 0x43;
constexpr int32_t kFormatPlusRw = 0x26;
constexpr int32_t kFormatBdRe = 0x30;

}  // namespace

DriveEngine::DriveEngine() {
  // Always there: a write pass being given up gives up its worker's waiting command.
  remote_.SetWaitCallback(&DriveEngine::AskWaitCallback, this);
}

void DriveEngine::SetWaitCallback(RemoteScsiClient::WaitCallback callback, void* context) {
  std::unique_lock lock(wait_mutex_);
  wait_callback_ = callback;
  wait_context_ = context;
  const uint64_t set = ++wait_generation_;
  wait_ended_.wait(lock, [&] { return waits_running_.empty() || waits_running_.begin()->first >= set; });
}

bool DriveEngine::CallerWaitGivesUp() {
  cache_calling_back_ = std::this_thread::get_id();
  const bool give_up = AskCallersCallback() != 0;
  cache_calling_back_ = std::thread::id();
  return give_up;
}

int32_t DriveEngine::AskWaitCallback(void* context) {
  auto* engine = static_cast<DriveEngine*>(context);
  // Only the worker sends commands while it runs: the one waiting now is its
  // own, and the pass it writes for is being given up.
  if (engine->IsWorkerRunning() && engine->abort_requested()) return 1;
  return engine->AskCallersCallback();
}

int32_t DriveEngine::AskCallersCallback() {
  RemoteScsiClient::WaitCallback callback;
  void* callback_context;
  uint64_t generation;
  {
    std::lock_guard lock(wait_mutex_);
    callback = wait_callback_;
    callback_context = wait_context_;
    generation = wait_generation_;
    if (callback == nullptr) return 0;
    ++waits_running_[generation];
  }
  int32_t answer = 0;
  try {
    answer = callback(callback_context);
  } catch (...) {
  }
  {
    std::lock_guard lock(wait_mutex_);
    if (--waits_running_[generation] == 0) waits_running_.erase(generation);
  }
  wait_ended_.notify_all();
  return answer;
}

DriveEngine::~DriveEngine() {
  Terminate();
  // The members the callback uses go before the pass-through.
  remote_.SetWaitCallback(nullptr, nullptr);
}

void DriveEngine::Terminate() {
  EndPassForDeviceChange();
  SetPassThrough(nullptr);
  remote_.Close();
}

void DriveEngine::EndPassForDeviceChange() {
  if (IsWorkerRunning() || IsWriting()) StopAndAbandonPass();
}

bool DriveEngine::OpenLocal(int32_t index) {
  if (index < 0 || index >= kDriveCount) return false;
  std::string path = "\\\\.\\";
  path += static_cast<char>('A' + index);
  path += ':';
  SelectPassThrough(false);
  return Open(path);
}

bool DriveEngine::OpenRemote(const std::string& name) {
  SelectPassThrough(true);
  return Open(name);
}

bool DriveEngine::Close() {
  EndPassForDeviceChange();
  return CachedDiscDrive::Close();
}

void DriveEngine::SelectPassThrough(bool remote) {
  EndPassForDeviceChange();
  SetPassThrough(remote ? &remote_ : nullptr);
}

int32_t DriveEngine::GetRemoteHosts(const char* targets, int64_t port, char* buffer, int32_t size,
                                    int32_t timeout_ms) {
  return remote_.GetRemoteHosts(targets != nullptr ? targets : "", port, buffer, size, timeout_ms);
}

bool DriveEngine::Erase(bool quick) {
  const int32_t profile = GetMediaType();
  if (profile == kPlusRw || profile == kPlusRwDualLayer) return FormatUnit(kFormatPlusRw);
  if (profile == kBdRe) return FormatUnit(kFormatBdRe);
  return CachedDiscDrive::Erase(quick);
}

int32_t DriveEngine::ClearTOCStructure() {
  toc_parts_.Clear();
  return 0;
}

int32_t DriveEngine::GetTOCStructure(int32_t part, void* buffer, int32_t size) {
  // An open read pass holds what was read from the disc, MCN and ISRCs included.
  if (IsReading()) CopySessionToc(&toc_parts_);
  if (buffer == nullptr || size <= 0) return 0;
  return toc_parts_.GetPart(part, buffer, size);
}

int32_t DriveEngine::SetTOCStructure(int32_t part, const void* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return 0;
  return toc_parts_.SetPart(part, buffer, size);
}

bool DriveEngine::MakeSingleTrackToc(int32_t mode, int32_t length) {
  if (mode < SMC_AUDIO || mode > SMC_MODE2) return false;
  return toc_parts_.MakeSingleTrackToc(static_cast<uint8_t>(mode), length);
}

int32_t DriveEngine::ReadStart(int32_t read_command, int32_t flags) {
  return DiscDrive::ReadStart(read_command, flags, &toc_parts_);
}

int32_t DriveEngine::WriteStart(int32_t write_command, int32_t flags) {
  return CachedDiscDrive::WriteStart(write_command, flags, toc_parts_);
}

bool DriveEngine::CheckWriteMode(int32_t write_command, bool test_write, int32_t family) {
  return SetWriteParameters(write_command, true, test_write, family);
}

}  // namespace sorvel
