#include "native_common/remote_scsi_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "native_common/remote_device_path.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/spti_pass_through.h"
#include "platform/scsi_sense.h"

namespace sorvel {

namespace {

uint32_t NextCallId() {
  static std::atomic<uint32_t> next{1};
  uint32_t id = next.fetch_add(1);
  return id == 0 ? next.fetch_add(1) : id;
}

}  // namespace

RemoteScsiClient::RemoteScsiClient(std::unique_ptr<ScsiPassThrough> local)
    : local_(local ? std::move(local) : std::make_unique<SptiPassThrough>()),
      client_(std::string(kRemoteScsiSubsystem)),
      call_id_(NextCallId()) {
  TransportSettings settings = client_.settings();
  settings.keep_alive_start_ms = kKeepAliveMs;
  settings.keep_alive_ceiling_ms = kKeepAliveMs;
  client_.SetSettings(settings);
  client_.SetKeepAlive(true);
  client_.SetCallWait(true, [this] { return AskWaitCallback(); }, kGiveUpGraceMs);
}

void RemoteScsiClient::SetWaitCallback(WaitCallback callback, void* context) {
  std::lock_guard<std::mutex> lock(wait_callback_mutex_);
  wait_callback_ = callback;
  wait_context_ = context;
}

bool RemoteScsiClient::AskWaitCallback() {
  WaitCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> lock(wait_callback_mutex_);
    callback = wait_callback_;
    context = wait_context_;
  }
  if (callback == nullptr) return false;
  // One command waits at a time (the link is held), so one callback runs at a time.
  calling_back_ = std::this_thread::get_id();
  const bool give_up = callback(context) != 0;
  calling_back_ = std::thread::id();
  return give_up;
}

RemoteScsiClient::~RemoteScsiClient() {
  Close();
  client_.Disconnect();
  client_.Stop();
}

void RemoteScsiClient::SetSenseBytes(uint8_t key, uint8_t asc, uint8_t ascq) {
  key_ = key;
  asc_ = asc;
  ascq_ = ascq;
}

int32_t RemoteScsiClient::Failed() {
  SetSenseBytes(0xFF, 0xFF, 0xFF);
  return -1;
}

bool RemoteScsiClient::Open(const std::string& path) {
  Close();
  // Whatever the close did, the next connection starts from none.
  client_.Disconnect();
  local_mode_ = remote_mode_ = false;
  is_open_ = false;
  SetSenseBytes(0, 0, 0);
  std::optional<RemoteDevicePath> parsed = RemoteDevicePath::Parse(path);
  if (!parsed) return false;
  if (parsed->IsLocal()) {
    if (!local_->Open(parsed->LocalDevicePath())) return false;
    local_mode_ = is_open_ = true;
    return true;
  }
  if (!parsed->port) return false;
  host_ = parsed->host;
  port_ = *parsed->port;
  device_ = parsed->LocalDevicePath();
  unreached_at_.reset();
  if (Link(TransportSettings().call_timeout_ms) != LinkResult::kLinked) return false;
  remote_mode_ = is_open_ = true;
  return true;
}

RemoteScsiClient::LinkResult RemoteScsiClient::Link(long answer_ms) {
  if (!client_.Connect(host_, port_)) return LinkResult::kFailed;
  uint8_t request[kOpenRequestSize] = {};
  std::memcpy(request, device_.data(), std::min(device_.size(), sizeof request));
  client_.SetCallTimeout(answer_ms);
  int32_t opened = 0;
  const bool answered = client_.CallFunction(kRemoteScsiOpen, call_id_, request, sizeof request, &opened);
  if (answered && opened != 0) return LinkResult::kLinked;
  client_.Disconnect();
  return answered ? LinkResult::kRefused : LinkResult::kFailed;
}

bool RemoteScsiClient::LinkDropped() const { return remote_mode_ && !client_.IsConnected(); }

bool RemoteScsiClient::Reopen() {
  if (!remote_mode_) return false;
  if (client_.IsConnected()) return true;
  const auto now = platform::GetClock().Now();
  if (unreached_at_ && !MsPassed(*unreached_at_, now, kReopenPauseMs)) return false;
  unreached_at_.reset();
  // The host releases the drive of a dropped link once it notices the drop.
  constexpr int kAttempts = 5;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    switch (Link(kReopenAnswerMs)) {
      case LinkResult::kLinked:
        SetSenseBytes(0, 0, 0);
        return true;
      case LinkResult::kRefused:
        continue;
      case LinkResult::kFailed:
        unreached_at_ = platform::GetClock().Now();
        return false;
    }
  }
  // Refused every time: the host answers but keeps the drive (or no longer
  // has it); asking again at once would only wait out another round.
  unreached_at_ = platform::GetClock().Now();
  return false;
}

bool RemoteScsiClient::Close() {
  if (local_mode_) {
    if (!local_->Close()) return false;
    local_mode_ = is_open_ = false;
    return true;
  }
  if (!remote_mode_) return true;
  if (client_.IsConnected()) {
    int32_t closed = 0;
    if (!client_.CallFunction(kRemoteScsiClose, call_id_, nullptr, 0, &closed)) {
      // A call that failed on a link that is gone cannot fail again later.
      if (client_.IsConnected()) return false;
    } else {
      std::printf("finalize\n");
    }
  }
  remote_mode_ = is_open_ = false;
  client_.Disconnect();
  return true;
}

int32_t RemoteScsiClient::ExecCommand(const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length,
                                      uint8_t* sense, bool write, uint32_t timeout_seconds) {
  if (local_mode_) return local_->ExecCommand(cdb, cdb_length, data, data_length, sense, write, timeout_seconds);
  if (!remote_mode_) return -1;
  if ((data == nullptr && data_length > 0) ||
      data_length > static_cast<uint32_t>(write ? kMaxDataOutLength : kMaxDataInLength)) {
    return Failed();
  }
  ExecCommandRequest block;
  block.timeout_seconds = static_cast<int32_t>(std::min<uint32_t>(timeout_seconds, 0x7FFFFFFF));
  if (cdb != nullptr && cdb_length > 0 && cdb_length <= static_cast<int>(kCdbFieldSize)) {
    block.cdb_length = cdb_length;
    std::memcpy(block.cdb, cdb, static_cast<size_t>(cdb_length));
  }
  const size_t out_length = write ? data_length : 0;
  if (write) {
    block.data_out_length = static_cast<int32_t>(data_length);
  } else {
    block.data_in_length = static_cast<int32_t>(data_length);
  }
  std::vector<uint8_t> request(kExecCommandRequestSize + out_length);
  block.Encode(request.data());
  if (out_length > 0) std::memcpy(request.data() + kExecCommandRequestSize, data, out_length);

  // The call waits as long as the command may run (at least a second), as
  // long as the host is heard from within the link's receive time-out.
  client_.SetCallTimeout(static_cast<long>(std::max<uint32_t>(timeout_seconds, 1)) * 1000);
  std::vector<uint8_t>& response = response_;
  const bool called = client_.CallFunction(kRemoteScsiExecCommand, call_id_, request, &response);
  SetSenseBytes(0xFF, 0xFF, 0xFF);
  if (!called || response.size() < kExecCommandReplySize) return -1;
  const ExecCommandReply reply = ExecCommandReply::Decode(response.data());
  // The reply must hold the data it announces.
  if (reply.data_length < 0 || response.size() - kExecCommandReplySize < static_cast<size_t>(reply.data_length)) {
    return -1;
  }
  if (sense != nullptr) std::memcpy(sense, reply.sense, kSenseBufferSize);
  if (reply.result == -1) return -1;  // the drive is lost on the server: sense stays 0xFFFFFF
  const uint8_t format = reply.sense[0] & 0x7F;
  if (format == 0x72 || format == 0x73) {
    platform::SenseCode code = platform::DecodeSense(reply.sense, sizeof reply.sense);
    SetSenseBytes(code.key, code.asc, code.ascq);
  } else {
    SetSenseBytes(reply.sense[2] & 0x0F, reply.sense[12], reply.sense[13]);
  }
  const size_t n = static_cast<size_t>(reply.data_length);
  if (!write && n > 0 && data_length >= n) std::memcpy(data, response.data() + kExecCommandReplySize, n);
  return reply.result;
}

SenseStatus RemoteScsiClient::GetSense() const {
  if (local_mode_) return local_->GetSense();
  if (remote_mode_) return MakeSenseStatus(key_, asc_, ascq_);
  return kSenseNoDevice;
}

void RemoteScsiClient::SetSense(SenseStatus value) {
  if (local_mode_) {
    local_->SetSense(value);
  } else if (remote_mode_) {
    SetSenseBytes(SenseKeyOf(value), SenseAscOf(value), SenseAscqOf(value));
  }
}

bool RemoteScsiClient::ClearSense() {
  if (local_mode_) return local_->ClearSense();
  SetSenseBytes(0, 0, 0);
  return false;
}

std::vector<std::string> RemoteScsiClient::GetHosts(const std::string& targets, uint16_t port, long timeout_ms) {
  return client_.GetHosts(targets, port, timeout_ms);
}

int32_t RemoteScsiClient::GetRemoteHosts(const char* targets, int64_t port, char* buffer, int32_t size,
                                         int32_t timeout_ms) {
  if (port < 0 || port > 65535) return 0;
  std::string joined;
  for (const std::string& host : GetHosts(targets ? targets : "", static_cast<uint16_t>(port), timeout_ms)) {
    if (!joined.empty()) joined += "|";
    joined += host;
  }
  if (buffer != nullptr && size > 0) {
    const size_t room = static_cast<size_t>(size);
    std::memcpy(buffer, joined.data(), std::min(room, joined.size()));
    if (joined.size() < room) buffer[joined.size()] = '\0';
  }
  return static_cast<int32_t>(joined.size() + 1);
}

}  // namespace sorvel
