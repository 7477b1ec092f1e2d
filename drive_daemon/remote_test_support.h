// Helpers of the remote drive tests: emulated drives behind a drive map, the
// daemon's server on a loopback port, and MMC command blocks.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive_daemon/remote_scsi_handler.h"
#include "native_common/spti_pass_through.h"
#include "platform/drive_map.h"
#include "testing/loopback_address.h"

namespace sorvel::remote_test {

using Bytes = std::vector<uint8_t>;

using sorvel::testing::LoopbackAddress;

// A port of 127.0.0.1 that was free a moment ago (0 when none could be had).
inline uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr = LoopbackAddress(0);
  socklen_t length = sizeof addr;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

// Connects to 127.0.0.1:port; true when a listener accepted the connection.
inline bool Connects(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr = LoopbackAddress(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// A local pass-through that opens drives through `map_text` ("X:=DEVICE;...").
inline std::unique_ptr<ScsiPassThrough> MapPassThrough(const std::string& map_text) {
  platform::DriveMap map = platform::DriveMap::Parse(map_text, ';');
  return std::make_unique<SptiPassThrough>(
      [map](char letter, std::string* error) { return platform::OpenMappedDrive(letter, map, error); });
}

inline PassThroughFactory MapFactory(const std::string& map_text) {
  return [map_text] { return MapPassThrough(map_text); };
}

inline Bytes Cdb10(uint8_t op, uint32_t lba = 0, uint16_t length = 0, uint8_t b1 = 0, uint8_t b9 = 0) {
  return {op,
          b1,
          static_cast<uint8_t>(lba >> 24),
          static_cast<uint8_t>(lba >> 16),
          static_cast<uint8_t>(lba >> 8),
          static_cast<uint8_t>(lba),
          0,
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length),
          b9};
}

inline Bytes ReadCdCdb(int32_t lba, uint32_t count, uint8_t b9 = 0xF8, uint8_t sub = 0) {
  const uint32_t u = static_cast<uint32_t>(lba);
  return {0xBE,
          0,
          static_cast<uint8_t>(u >> 24),
          static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 8),
          static_cast<uint8_t>(u),
          static_cast<uint8_t>(count >> 16),
          static_cast<uint8_t>(count >> 8),
          static_cast<uint8_t>(count),
          b9,
          sub,
          0};
}

inline Bytes InquiryCdb(uint8_t length) { return {0x12, 0, 0, 0, length, 0}; }

// Everything a command leaves behind: status, sense (32 bytes and the stored
// key/ASC/ASCQ) and the data buffer.
struct Outcome {
  int32_t status = 0;
  SenseStatus sense_status = 0;
  Bytes sense;
  Bytes data;
  bool operator==(const Outcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << "status " << o.status << " sense " << std::hex << o.sense_status << std::dec << " data "
             << o.data.size() << " bytes";
}

// Runs one command; `data` is the data-out block when `write`, else its size
// gives the data-in length (the buffer starts zeroed).
inline Outcome Exec(ScsiPassThrough& p, const Bytes& cdb, Bytes data, bool write, uint32_t timeout = 180) {
  Outcome o;
  o.sense.assign(kSenseBufferSize, 0);
  o.status = p.ExecCommand(cdb.data(), static_cast<int>(cdb.size()), data.empty() ? nullptr : data.data(),
                           static_cast<uint32_t>(data.size()), o.sense.data(), write, timeout);
  o.sense_status = p.GetSense();
  if (!write) o.data = std::move(data);
  return o;
}

inline Outcome In(ScsiPassThrough& p, const Bytes& cdb, size_t length) { return Exec(p, cdb, Bytes(length, 0), false); }

}  // namespace sorvel::remote_test
