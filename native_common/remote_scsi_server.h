// The library's REMOTESCSI server: a QRNTP server whose sessions run the
// remote calls on local drives, one RemoteScsiSession (with its own local
// pass-through) per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "native_common/qrntp_server.h"
#include "native_common/remote_scsi_dispatcher.h"

namespace sorvel {

// A new local pass-through for one connection.
using PassThroughFactory = std::function<std::unique_ptr<ScsiPassThrough>()>;

// The default factory: SptiPassThrough through the process's drive map.
std::unique_ptr<ScsiPassThrough> MakeLocalPassThrough();

// The request handler of one connection.
class RemoteScsiSession : public QRNTPRequestHandler {
 public:
  RemoteScsiSession(std::unique_ptr<ScsiPassThrough> pass_through, DriveLetterMask enabled)
      : dispatcher_(std::move(pass_through), enabled) {}

  bool HandleRawRequest(const std::string& function, uint32_t call_id, const std::vector<uint8_t>& input,
                        std::vector<uint8_t>* output, bool* close_after) override;

  RemoteScsiDispatcher& dispatcher() { return dispatcher_; }

 private:
  RemoteScsiDispatcher dispatcher_;
};

class RemoteScsiServer : public QRNTPServerEvents {
 public:
  explicit RemoteScsiServer(PassThroughFactory factory = nullptr);
  ~RemoteScsiServer() override;

  // Index 0 = A .. 25 = Z; other indices are ignored. Returns the index.
  // Connections accepted later see the change; existing ones do not.
  int SetDriveEnabled(int index, bool enabled);
  DriveLetterMask enabled() const { return enabled_; }

  bool Start(uint16_t port) { return server_.Start(port); }
  void Stop() { server_.Stop(); }
  QRNTPServer& server() { return server_; }

  std::unique_ptr<QRNTPRequestHandler> CreateHandler() override;

 private:
  PassThroughFactory factory_;
  std::atomic<DriveLetterMask> enabled_{kAllDriveLetters};
  QRNTPServer server_;  // last: stopped before the rest goes away
};

}  // namespace sorvel
