#include "native_common/remote_device_path.h"

#include <vector>

namespace sorvel {

namespace {

char UpperLetter(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return (c >= 'A' && c <= 'Z') ? c : 0;
}

// The port as a decimal number: leading zeros are allowed, the value must be
// 1..65535 (it is bounded as the digits are read, so no length overflows).
std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

std::string LocalDevicePath(char letter) {
  std::string path = "\\\\.\\";
  path.push_back(UpperLetter(letter) ? UpperLetter(letter) : letter);
  path.push_back(':');
  return path;
}

std::optional<RemoteDevicePath> RemoteDevicePath::Parse(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < path.size() && parts.size() < 2) {
    while (i < path.size() && path[i] == '\\') ++i;
    size_t end = i;
    while (end < path.size() && path[end] != '\\') ++end;
    if (end > i) parts.push_back(path.substr(i, end - i));
    i = end;
  }
  if (parts.size() < 2) return std::nullopt;
  RemoteDevicePath result;
  std::string_view host_port = parts[0];
  size_t colon = host_port.find(':');
  result.host = std::string(host_port.substr(0, colon));
  if (result.host.empty()) return std::nullopt;
  // The port of this machine's own drives is not examined.
  if (colon != std::string_view::npos && result.host != ".") {
    std::string_view port_text = host_port.substr(colon + 1);
    if (!port_text.empty()) {
      result.port = ParsePort(port_text);
      if (!result.port) return std::nullopt;
    }
  }
  result.letter = UpperLetter(parts[1][0]);
  if (result.letter == 0) return std::nullopt;
  return result;
}

std::string RemoteDevicePath::ToString() const {
  std::string text(2, '\\');
  text.append(host);
  if (port) text.append(1, ':').append(std::to_string(*port));
  text.push_back('\\');
  text.push_back(letter);
  text.push_back(':');
  return text;
}

std::string RemoteDevicePath::LocalDevicePath() const { return sorvel::LocalDevicePath(letter); }

}  // namespace sorvel
