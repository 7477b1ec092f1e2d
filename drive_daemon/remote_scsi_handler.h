// The service Kestrow offers: REMOTESCSI on the daemon's transport. Every
// connection gets a RemoteScsiHandler with its own local pass-through, which
// opens only the enabled drive letters, exclusively, through the drive map.
#pragma once

#include <atomic>
#include <memory>

#include "drive_daemon/daemon_server.h"
#include "drive_daemon/daemon_transport.h"
#include "native_common/remote_scsi_dispatcher.h"
#include "native_common/remote_scsi_server.h"

namespace sorvel {

class RemoteScsiHandler : public DaemonRequestHandler {
 public:
  RemoteScsiHandler(std::unique_ptr<ScsiPassThrough> pass_through, DriveLetterMask enabled)
      : dispatcher_(std::move(pass_through), enabled) {}
  bool Dispatch(std::string_view function, const uint8_t* request, size_t length,
                std::vector<uint8_t>* response) override {
    return dispatcher_.Dispatch(function, request, length, response);
  }
  RemoteScsiDispatcher& dispatcher() { return dispatcher_; }

 private:
  RemoteScsiDispatcher dispatcher_;
};

class DaemonRemoteScsiServer : public DaemonServer, public DaemonTransport {
 public:
  // Drives are opened with `factory`'s pass-throughs (default: the drive map).
  explicit DaemonRemoteScsiServer(PassThroughFactory factory = nullptr);
  ~DaemonRemoteScsiServer() override;

  // All letters start enabled; connections accepted later see a change.
  void SetDriveEnabled(int index, bool enabled) override;
  bool Start(uint16_t port, uint32_t max_connection) override { return DaemonTransport::Start(port, max_connection); }
  void Stop() override { DaemonTransport::Stop(); }
  DriveLetterMask enabled() const { return enabled_; }

 protected:
  std::unique_ptr<DaemonRequestHandler> CreateHandler() override;

 private:
  PassThroughFactory factory_;
  std::atomic<DriveLetterMask> enabled_{kAllDriveLetters};
};

}  // namespace sorvel
