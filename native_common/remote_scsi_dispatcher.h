// The server side of one REMOTESCSI connection: runs "Open", "Close" and
// "ExecCommand" requests on a local pass-through and builds their replies.
// Used by the library's server sessions and by the drive daemon alike.
//
// Nothing from the wire is trusted: the "Open" path must equal "\\.\X:" of an
// enabled letter exactly; an "ExecCommand" block must carry a CDB of 1 to 16
// bytes, lengths that fit the packet and the transfer limit, at most one data
// direction and a positive time-out. Buffers are zero-filled per command, so a
// reply never carries bytes of an earlier command or connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "native_common/scsi_pass_through.h"

namespace sorvel {

// Drive letters A..Z as bits 0..25.
using DriveLetterMask = uint32_t;
constexpr DriveLetterMask kAllDriveLetters = (1u << 26) - 1;

class RemoteScsiDispatcher {
 public:
  // `enabled` is fixed for the connection's life.
  RemoteScsiDispatcher(std::unique_ptr<ScsiPassThrough> pass_through, DriveLetterMask enabled);
  // Closes the drive this connection holds.
  ~RemoteScsiDispatcher();
  RemoteScsiDispatcher(const RemoteScsiDispatcher&) = delete;
  RemoteScsiDispatcher& operator=(const RemoteScsiDispatcher&) = delete;

  // Runs one request; false (response empty) for an unknown function or an
  // "Open" body shorter than its block. A short "ExecCommand" block or missing
  // data-out bytes give an empty response (handled); bad fields give a reply
  // with result -1, sense bytes 0xFF and no data.
  bool Dispatch(std::string_view function, const uint8_t* request, size_t length, std::vector<uint8_t>* response);

  // "\\.\X:" of every enabled letter in order, joined without separator.
  std::string AllowedPaths() const;
  // Whether the zero-terminated path within the first `size` bytes of `field`
  // names an enabled drive exactly; false when there is no terminator.
  bool IsAllowed(const uint8_t* field, size_t size) const;

  ScsiPassThrough& pass_through() { return *pass_through_; }

 private:
  void Open(const uint8_t* request, std::vector<uint8_t>* response);
  void ExecCommand(const uint8_t* request, size_t length, std::vector<uint8_t>* response);

  std::unique_ptr<ScsiPassThrough> pass_through_;
  DriveLetterMask enabled_;
  std::vector<uint8_t> buffer_;  // data buffer, reused; zero-filled before every command
};

}  // namespace sorvel
