#include "platform/scsi_sense.h"

namespace sorvel::platform {

SenseCode DecodeSense(const uint8_t* sense, size_t length) {
  SenseCode code;
  if (sense == nullptr || length == 0) return code;
  auto byte_at = [&](size_t i) -> uint8_t { return i < length ? sense[i] : 0; };
  switch (sense[0] & 0x7F) {
    case 0x70:
    case 0x71:  // fixed format
      code.key = byte_at(2) & 0x0F;
      code.asc = byte_at(12);
      code.ascq = byte_at(13);
      break;
    case 0x72:
    case 0x73:  // descriptor format
      code.key = byte_at(1) & 0x0F;
      code.asc = byte_at(2);
      code.ascq = byte_at(3);
      break;
    default:
      break;
  }
  return code;
}

}  // namespace sorvel::platform
