// Decoding of the sense data a drive returns with CHECK CONDITION.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvel::platform {

struct SenseCode {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};

// Key, ASC and ASCQ of fixed-format (response code 0x70/0x71) or
// descriptor-format (0x72/0x73) sense data. Fields beyond `length` and any
// other response code read as 0, so no sense data gives 0/0/0.
SenseCode DecodeSense(const uint8_t* sense, size_t length);

}  // namespace sorvel::platform
