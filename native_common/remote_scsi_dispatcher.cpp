#include "native_common/remote_scsi_dispatcher.h"

#include <algorithm>
#include <cstring>

#include "native_common/little_endian.h"
#include "native_common/remote_device_path.h"
#include "native_common/remote_scsi_protocol.h"

namespace sorvel {

namespace {

void PutResult(std::vector<uint8_t>* response, int32_t value) {
  response->assign(4, 0);
  PutLe32(response->data(), static_cast<uint32_t>(value));
}

// A reply for a command that never reached the drive.
void PutRefused(std::vector<uint8_t>* response) {
  ExecCommandReply reply;
  reply.result = -1;
  std::memset(reply.sense, 0xFF, sizeof reply.sense);
  reply.data_length = 0;
  response->assign(kExecCommandReplySize, 0);
  reply.Encode(response->data());
}

}  // namespace

RemoteScsiDispatcher::RemoteScsiDispatcher(std::unique_ptr<ScsiPassThrough> pass_through, DriveLetterMask enabled)
    : pass_through_(std::move(pass_through)), enabled_(enabled & kAllDriveLetters) {}

RemoteScsiDispatcher::~RemoteScsiDispatcher() {
  if (pass_through_) pass_through_->Close();
}

std::string RemoteScsiDispatcher::AllowedPaths() const {
  std::string paths;
  for (int i = 0; i < 26; ++i) {
    if (enabled_ & (1u << i)) paths += LocalDevicePath(static_cast<char>('A' + i));
  }
  return paths;
}

bool RemoteScsiDispatcher::IsAllowed(const uint8_t* field, size_t size) const {
  const void* end = std::memchr(field, 0, size);
  if (end == nullptr) return false;
  const std::string_view path(reinterpret_cast<const char*>(field),
                              static_cast<size_t>(static_cast<const uint8_t*>(end) - field));
  // "\\.\X:" with an upper-case letter, nothing more.
  if (path.size() != 6 || path.substr(0, 4) != "\\\\.\\" || path[5] != ':') return false;
  const char letter = path[4];
  if (letter < 'A' || letter > 'Z') return false;
  return (enabled_ & (1u << (letter - 'A'))) != 0;
}

bool RemoteScsiDispatcher::Dispatch(std::string_view function, const uint8_t* request, size_t length,
                                    std::vector<uint8_t>* response) {
  response->clear();
  if (request == nullptr) length = 0;
  if (function == "Open") {
    if (length < kOpenRequestSize) return false;
    Open(request, response);
    return true;
  }
  if (function == "Close") {
    PutResult(response, pass_through_->Close() ? 1 : 0);
    return true;
  }
  if (function == "ExecCommand") {
    ExecCommand(request, length, response);
    return true;
  }
  return false;
}

void RemoteScsiDispatcher::Open(const uint8_t* request, std::vector<uint8_t>* response) {
  if (!IsAllowed(request, kOpenRequestSize)) {
    PutResult(response, 0);
    return;
  }
  const std::string path(reinterpret_cast<const char*>(request));
  PutResult(response, pass_through_->Open(path) ? 1 : 0);
}

void RemoteScsiDispatcher::ExecCommand(const uint8_t* request, size_t length, std::vector<uint8_t>* response) {
  if (length < kExecCommandRequestSize) return;  // incomplete block: empty response
  const ExecCommandRequest block = ExecCommandRequest::Decode(request);
  const size_t carried = length - kExecCommandRequestSize;
  if (block.data_out_length > 0 && static_cast<size_t>(block.data_out_length) > carried) return;  // incomplete data
  const bool valid = block.cdb_length >= 1 && block.cdb_length <= kMaxCdbLength && block.data_in_length >= 0 &&
                     block.data_out_length >= 0 && !(block.data_in_length > 0 && block.data_out_length > 0) &&
                     block.data_in_length <= kMaxDataInLength && block.data_out_length <= kMaxDataOutLength &&
                     block.timeout_seconds >= 1;
  if (!valid) {
    PutRefused(response);
    return;
  }
  const bool write = block.data_in_length < 1;
  const size_t data_length = static_cast<size_t>(write ? block.data_out_length : block.data_in_length);
  // 16 spare bytes to start the data at a 16-byte boundary.
  buffer_.assign(data_length + 16, 0);
  uint8_t* data = buffer_.data();
  data += (16 - reinterpret_cast<uintptr_t>(data) % 16) % 16;
  if (write && data_length > 0) std::memcpy(data, request + kExecCommandRequestSize, data_length);
  ExecCommandReply reply;
  const uint32_t timeout = static_cast<uint32_t>(std::min(block.timeout_seconds, kMaxRemoteTimeoutSeconds));
  reply.result = pass_through_->ExecCommand(block.cdb, block.cdb_length, data_length > 0 ? data : nullptr,
                                            static_cast<uint32_t>(data_length), reply.sense, write, timeout);
  if (reply.result == -1) std::memset(reply.sense, 0xFF, sizeof reply.sense);
  reply.data_length = write ? 0 : block.data_in_length;
  response->assign(kExecCommandReplySize, 0);
  reply.Encode(response->data());
  if (!write) response->insert(response->end(), data, data + data_length);
}

}  // namespace sorvel
