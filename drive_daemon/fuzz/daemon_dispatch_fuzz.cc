// libFuzzer target: one packet as the daemon's session takes it off the wire
// (header, body, dispatch to the remote SCSI handler, answer), and the same 50
// bytes as a discovery datagram. The drive is a fake that touches every byte
// of each data buffer, so that a wrong length shows under AddressSanitizer.
//
// Input: byte 0 steers: bit 0 opens "\\.\D:" before the packet; bit 1 writes
// the right magic and subsystem into the header; bits 2-3 then choose the
// function ("Open", "Close", "ExecCommand", or the input's own). The rest is
// the stream. Run with -close_fd_mask=1 to silence the drive's close lines.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "drive_daemon/daemon_packet.h"
#include "drive_daemon/fuzz/pattern_device.h"
#include "drive_daemon/remote_scsi_handler.h"
#include "native_common/little_endian.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/spti_pass_through.h"

namespace {

using namespace sorvel;

using fuzz::Check;
using fuzz::PatternDevice;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t steer = data[0];
  const bool open_first = (steer & 1) != 0;
  std::vector<uint8_t> stream(data + 1, data + size);
  if ((steer & 2) != 0 && stream.size() >= kQrntpHeaderSize) {
    SetQrntpName(stream.data() + 2, 6, kQrntpMagic);
    SetQrntpName(stream.data() + 8, kQrntpSubsystemSize, kRemoteScsiSubsystem);
    static const char* const kFunctions[] = {"Open", "Close", "ExecCommand"};
    const int which = (steer >> 2) & 3;
    if (which < 3) SetQrntpName(stream.data() + 18, kDaemonFunctionSize, kFunctions[which]);
  }
  data = stream.data();
  size = stream.size();
  RemoteScsiHandler handler(std::make_unique<SptiPassThrough>([](char, std::string*) {
                              return std::unique_ptr<platform::ScsiDevice>(new PatternDevice);
                            }),
                            1u << 3);
  std::vector<uint8_t> response;
  if (open_first) {
    uint8_t open[kOpenRequestSize] = "\\\\.\\D:";
    Check(handler.Dispatch("Open", open, sizeof open, &response) && response.size() == 4 &&
          GetLe32(response.data()) == 1);
  }
  if (size < kQrntpHeaderSize) return 0;
  uint8_t datagram[kQrntpHeaderSize];
  std::memcpy(datagram, data, sizeof datagram);
  AnswerDiscoveryDatagram(kRemoteScsiSubsystem, datagram, sizeof datagram);

  const DaemonHeader header = DaemonHeader::Decode(data);
  if (ClassifyDaemonHeader(header, kRemoteScsiSubsystem) != DaemonPacketClass::kOwn) return 0;
  const size_t body_length = header.total_length - kQrntpHeaderSize;
  if (size - kQrntpHeaderSize < body_length) return 0;  // the session ends on a short body
  // The body in a buffer of its own size, so that reading past it is caught.
  std::vector<uint8_t> body(data + kQrntpHeaderSize, data + kQrntpHeaderSize + body_length);
  std::vector<uint8_t> answer;
  if (!AnswerDaemonRequest(kRemoteScsiSubsystem, handler, header, body.data(), body.size(), &answer)) return 0;
  Check(answer.size() >= kQrntpHeaderSize && answer.size() <= 65535);
  Check(GetLe16(answer.data()) == answer.size());
  if (header.FunctionName() == "ExecCommand" && answer.size() > kQrntpHeaderSize) {
    const size_t reply_length = answer.size() - kQrntpHeaderSize;
    Check(reply_length >= kExecCommandReplySize);
    const ExecCommandReply reply = ExecCommandReply::Decode(answer.data() + kQrntpHeaderSize);
    Check(reply.data_length >= 0 && reply_length == kExecCommandReplySize + static_cast<size_t>(reply.data_length));
    // Data-in bytes are the drive's pattern, or zero when it never ran.
    for (int32_t i = 0; i < reply.data_length; ++i) {
      const uint8_t b = answer[kQrntpHeaderSize + kExecCommandReplySize + static_cast<size_t>(i)];
      Check(b == static_cast<uint8_t>(0xA5 ^ i) || (reply.result == -1 && b == 0));
    }
  }
  return 0;
}
