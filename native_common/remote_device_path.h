// The name of a drive that a remote drive daemon serves: "\\host:port\X:",
// host "." meaning this machine (the port is then not needed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

struct RemoteDevicePath {
  std::string host;
  std::optional<uint16_t> port;  // absent when the path names none
  char letter = 0;               // upper case 'A'..'Z'

  // Splits at backslashes (a run counts as one separator; the first two parts
  // are used), then the first part at its first colon into host and port.
  // Nothing for a path without a host or drive part, a drive part that does
  // not start with a letter, or a port that is not a decimal number 1..65535
  // (a missing port is allowed here; remote use needs one; the port of host
  // "." is not examined).
  static std::optional<RemoteDevicePath> Parse(std::string_view path);

  // "\\host:port\X:" ("\\host\X:" without a port).
  std::string ToString() const;
  // "\\.\X:", the local device path of the drive on its own machine.
  std::string LocalDevicePath() const;
  bool IsLocal() const { return host == "."; }
};

// "\\.\X:" for `letter` (taken in upper case).
std::string LocalDevicePath(char letter);

}  // namespace sorvel
