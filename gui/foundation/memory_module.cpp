#include "gui/foundation/memory_module.h"

#include <cstring>

namespace sorvel {

bool CopyMemory(std::span<uint8_t> destination, std::span<const uint8_t> source, size_t length) {
  if (length > destination.size() || length > source.size()) return false;
  if (length > 0) std::memmove(destination.data(), source.data(), length);
  return true;
}

bool ZeroMemory(std::span<uint8_t> destination, size_t length) {
  if (length > destination.size()) return false;
  if (length > 0) std::memset(destination.data(), 0, length);
  return true;
}

bool ZeroByteArray(QByteArray& array, qsizetype length) {
  if (length < 0) return false;
  return ZeroMemory(std::span<uint8_t>(reinterpret_cast<uint8_t*>(array.data()), static_cast<size_t>(array.size())),
                    static_cast<size_t>(length));
}

bool ZeroByteArray(std::vector<uint8_t>& array, size_t length) { return ZeroMemory(array, length); }

}  // namespace sorvel
