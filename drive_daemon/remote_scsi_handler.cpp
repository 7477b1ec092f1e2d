#include "drive_daemon/remote_scsi_handler.h"

#include "native_common/remote_scsi_protocol.h"

namespace sorvel {

DaemonRemoteScsiServer::DaemonRemoteScsiServer(PassThroughFactory factory)
    : DaemonTransport(std::string(kRemoteScsiSubsystem)),
      factory_(factory ? std::move(factory) : PassThroughFactory(MakeLocalPassThrough)) {}

// Sessions call CreateHandler: they end before the members go away.
DaemonRemoteScsiServer::~DaemonRemoteScsiServer() { DaemonTransport::Stop(); }

void DaemonRemoteScsiServer::SetDriveEnabled(int index, bool enabled) {
  if (index < 0 || index >= 26) return;
  const DriveLetterMask bit = 1u << index;
  if (enabled) {
    enabled_.fetch_or(bit);
  } else {
    enabled_.fetch_and(~bit);
  }
}

std::unique_ptr<DaemonRequestHandler> DaemonRemoteScsiServer::CreateHandler() {
  return std::make_unique<RemoteScsiHandler>(factory_(), enabled_.load());
}

}  // namespace sorvel
