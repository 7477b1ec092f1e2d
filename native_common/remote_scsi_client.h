// The pass-through of a drive named "\\host:port\X:": every command goes over
// QRNTP to the drive daemon (or library server) of that host, which runs it on
// its own drive. Host "." opens the drive of this machine through the local
// pass-through instead.
//
// While a remote drive is open the link sends keep-alives at a period below the
// daemon's 3,000 ms silence limit, so a drive left idle (a question on screen)
// stays open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "native_common/qrntp_client.h"
#include "native_common/scsi_pass_through.h"

namespace sorvel {

class RemoteScsiClient : public ScsiPassThrough {
 public:
  // Keep-alive period of an open remote drive.
  static constexpr long kKeepAliveMs = 1000;

  // `local` serves host "." (default: SptiPassThrough through the drive map).
  explicit RemoteScsiClient(std::unique_ptr<ScsiPassThrough> local = nullptr);
  ~RemoteScsiClient() override;
  RemoteScsiClient(const RemoteScsiClient&) = delete;
  RemoteScsiClient& operator=(const RemoteScsiClient&) = delete;

  // Closes and disconnects whatever was open, then opens the drive of
  // "\\host:port\X:" (RemoteDevicePath). False, with nothing open, for a bad
  // path, a host that cannot be reached or a drive the server refuses.
  bool Open(const std::string& path) override;
  // Local: closes the local drive. Remote: calls "Close" and disconnects; a
  // failed call leaves the drive open, except that a link that is already gone
  // only forgets the drive (the server released it with the connection).
  bool Close() override;
  // Remote: result -1 with sense 0xFFFFFF when the call fails, the reply is
  // short or does not hold the data it announces, or the server could not run
  // the command; else the SCSI status, the sense and (reads) the data.
  int32_t ExecCommand(const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length, uint8_t* sense,
                      bool write, uint32_t timeout_seconds) override;

  SenseStatus GetSense() const override;
  void SetSense(SenseStatus value) override;
  bool ClearSense() override;

  // Discovery: the addresses of the hosts that answer at `port` on any of the
  // "|"-separated targets, in order of their answers, collected until
  // `timeout_ms` pass without an answer.
  std::vector<std::string> GetHosts(const std::string& targets, uint16_t port, long timeout_ms);
  // The form of the engine's export: 0 for a port outside 0..65535; else the
  // answering addresses joined by "|" are copied bounded into `buffer` (cut and
  // not terminated when `size` bytes or more) and their length + 1 returned.
  int32_t GetRemoteHosts(const char* targets, int64_t port, char* buffer, int32_t size, int32_t timeout_ms);

  bool local_mode() const { return local_mode_; }
  bool remote_mode() const { return remote_mode_; }
  uint32_t call_id() const { return call_id_; }
  QRNTPClient& transport() { return client_; }

 private:
  void SetSenseBytes(uint8_t key, uint8_t asc, uint8_t ascq);
  int32_t Failed();

  std::unique_ptr<ScsiPassThrough> local_;
  QRNTPClient client_;
  const uint32_t call_id_;
  bool local_mode_ = false;
  bool remote_mode_ = false;
};

}  // namespace sorvel
