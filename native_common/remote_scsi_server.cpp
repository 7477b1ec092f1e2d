#include "native_common/remote_scsi_server.h"

#include "native_common/remote_scsi_protocol.h"
#include "native_common/spti_pass_through.h"

namespace sorvel {

std::unique_ptr<ScsiPassThrough> MakeLocalPassThrough() { return std::make_unique<SptiPassThrough>(); }

bool RemoteScsiSession::HandleRawRequest(const std::string& function, uint32_t, const std::vector<uint8_t>& input,
                                         std::vector<uint8_t>* output, bool*) {
  return dispatcher_.Dispatch(function, input.data(), input.size(), output);
}

RemoteScsiServer::RemoteScsiServer(PassThroughFactory factory)
    : factory_(factory ? std::move(factory) : PassThroughFactory(MakeLocalPassThrough)),
      server_(std::string(kRemoteScsiSubsystem), this) {}

RemoteScsiServer::~RemoteScsiServer() { server_.Stop(); }

int RemoteScsiServer::SetDriveEnabled(int index, bool enabled) {
  if (index < 0 || index >= 26) return index;
  const DriveLetterMask bit = 1u << index;
  if (enabled) {
    enabled_.fetch_or(bit);
  } else {
    enabled_.fetch_and(~bit);
  }
  return index;
}

std::unique_ptr<QRNTPRequestHandler> RemoteScsiServer::CreateHandler() {
  return std::make_unique<RemoteScsiSession>(factory_(), enabled_.load());
}

}  // namespace sorvel
