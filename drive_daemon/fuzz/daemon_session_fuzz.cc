// libFuzzer target: the daemon's session loop over a byte stream, as a peer
// would send it: packets of any form one after another, each dispatched to the
// remote SCSI handler (drive "D:" enabled, the pattern drive behind it) and
// answered. Every answer must be one whole, well-formed packet, and the loop
// must end where the stream ends or turns invalid.
//
// Input: byte 0 steers: bit 0 opens "\\.\D:" before the stream; bit 1 writes
// the right magic and subsystem into every header the stream holds, as far as
// the lengths lead (so that most packets get past the header check). The rest
// is the stream.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "drive_daemon/daemon_session.h"
#include "drive_daemon/fuzz/pattern_device.h"
#include "drive_daemon/remote_scsi_handler.h"
#include "native_common/little_endian.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/spti_pass_through.h"

namespace {

using namespace sorvel;

using fuzz::Check;
using fuzz::PatternDevice;

class MemoryStream : public DaemonStream {
 public:
  MemoryStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReceiveExact(uint8_t* buffer, size_t length, long wait_ms) override {
    Check(wait_ms > 0);
    if (size_ - at_ < length) return false;
    std::memcpy(buffer, data_ + at_, length);
    at_ += length;
    return true;
  }
  void Send(const uint8_t* bytes, size_t length, long) override {
    // One whole packet of this server's form.
    Check(length >= kQrntpHeaderSize && length <= 65535);
    Check(GetLe16(bytes) == length);
    Check(QrntpNameIs(bytes + 2, 6, kQrntpMagic));
    Check(QrntpNameIs(bytes + 8, kQrntpSubsystemSize, kRemoteScsiSubsystem));
    ++answers;
  }
  size_t answers = 0;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The drive layer reports every close on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t steer = data[0];
  std::vector<uint8_t> stream(data + 1, data + size);
  if ((steer & 2) != 0) {
    // Follow the lengths and make each header this server's.
    size_t at = 0;
    while (at + kQrntpHeaderSize <= stream.size()) {
      SetQrntpName(stream.data() + at + 2, 6, kQrntpMagic);
      SetQrntpName(stream.data() + at + 8, kQrntpSubsystemSize, kRemoteScsiSubsystem);
      const size_t length = GetLe16(stream.data() + at);
      if (length < kQrntpHeaderSize) break;
      at += length;
    }
  }
  RemoteScsiHandler handler(std::make_unique<SptiPassThrough>([](char, std::string*) {
                              return std::unique_ptr<platform::ScsiDevice>(new PatternDevice);
                            }),
                            1u << 3);
  if ((steer & 1) != 0) {
    uint8_t open[kOpenRequestSize] = "\\\\.\\D:";
    std::vector<uint8_t> response;
    Check(handler.Dispatch("Open", open, sizeof open, &response) && response.size() == 4 &&
          GetLe32(response.data()) == 1);
  }
  MemoryStream peer(stream.data(), stream.size());
  std::atomic<bool> stop{false};
  const DaemonSessionEnd end = RunDaemonSession(peer, kRemoteScsiSubsystem, handler, stop);
  Check(end != DaemonSessionEnd::kStopped);
  // No more answers than packets the stream could hold.
  Check(peer.answers <= stream.size() / kQrntpHeaderSize);
  return 0;
}
