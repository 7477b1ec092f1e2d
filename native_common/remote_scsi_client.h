// The pass-through of a drive named "\\host:port\X:": every command goes over
// QRNTP to the drive daemon (or library server) of that host, which runs it on
// its own drive. Host "." opens the drive of this machine through the local
// pass-through instead.
//
// While a remote drive is open the link sends keep-alives at a period below the
// daemon's 3,000 ms silence limit, so a drive left idle stays open, also while
// a command waits and its wait callback holds a question on screen. A command
// whose host falls silent ends after the link's receive time-out (30 s),
// however long the command itself may take, once that host has been seen
// sending keep-alives while a command ran (the daemon sends them while busy);
// a host that never sends any is waited for as long as the command's own
// time-out. The owner may give up a command that waits (the wait callback).
// A drive whose link dropped (a time-out, a command given up) stays open in
// name: Reopen connects it again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "native_common/qrntp_client.h"
#include "native_common/scsi_pass_through.h"
#include "platform/clock.h"

namespace sorvel {

class RemoteScsiClient : public ScsiPassThrough {
 public:
  // Keep-alive period of an open remote drive.
  static constexpr long kKeepAliveMs = 1000;
  // A command given up by the wait callback still takes an answer that comes
  // within this long, and the drive stays linked.
  static constexpr long kGiveUpGraceMs = 1000;

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
  // True when a remote drive is open but its link dropped.
  bool LinkDropped() const;
  // Opens the remote drive of the last Open again over a new link when its
  // link dropped (a drive the host still holds for the dropped link is asked
  // for again a few times within about a second); true when the drive is
  // linked. The host must answer within kReopenAnswerMs; after a host that
  // could not be reached, did not answer or refused every try, further tries
  // fail at once for kReopenPauseMs, so that a status poll does not keep
  // waiting on it.
  bool Reopen();
  static constexpr long kReopenAnswerMs = 2000;
  static constexpr long kReopenPauseMs = 5000;
  // Remote: result -1 with sense 0xFFFFFF when the call fails, the reply is
  // short or does not hold the data it announces, or the server could not run
  // the command; else the SCSI status, the sense and (reads) the data.
  int32_t ExecCommand(const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length, uint8_t* sense,
                      bool write, uint32_t timeout_seconds) override;

  // Asked about every QRNTPLink::kWaitSliceMs while a remote command has been
  // waiting that long for its answer, on the thread that issued it; a non-zero
  // answer gives the command up unless its answer comes within kGiveUpGraceMs
  // (then it ends as answered): result -1, the link dropped. The callback may
  // take long (a question on screen): the link is kept meanwhile and an answer
  // that arrives is taken afterwards. nullptr: no callback.
  using WaitCallback = int32_t (*)(void* context);
  void SetWaitCallback(WaitCallback callback, void* context);
  // Whether the wait callback is running on the calling thread: the command it
  // waits for is still open, so the owner must not issue another meanwhile.
  bool CallingBack() const { return calling_back_.load() == std::this_thread::get_id(); }

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

  bool AskWaitCallback();
  // Connects and asks the host to open `device_`; the link stays closed unless linked.
  enum class LinkResult { kLinked, kRefused, kFailed };
  LinkResult Link(long answer_ms);

  std::mutex wait_callback_mutex_;
  WaitCallback wait_callback_ = nullptr;
  void* wait_context_ = nullptr;
  std::atomic<std::thread::id> calling_back_{};
  std::unique_ptr<ScsiPassThrough> local_;
  QRNTPClient client_;
  const uint32_t call_id_;
  bool local_mode_ = false;
  bool remote_mode_ = false;
  std::string host_;    // of the open remote drive
  uint16_t port_ = 0;
  std::string device_;  // its name on the host ("\\.\X:")
  std::vector<uint8_t> response_;  // the last command's answer; its storage serves the next
  std::optional<platform::Clock::TimePoint> unreached_at_;  // the last Reopen that reached no answer or only refusals
};

}  // namespace sorvel
