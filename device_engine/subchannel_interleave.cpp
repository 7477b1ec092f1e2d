#include "device_engine/subchannel_interleave.h"

namespace sorvel {

void SubchannelChannelsToPw(const uint8_t* channels, uint8_t* out) {
  for (size_t k = 0; k < kSubchannelSize; ++k) {
    const size_t byte = k / 8;
    const int shift = 7 - static_cast<int>(k % 8);
    uint8_t symbol = 0;
    for (size_t channel = 0; channel < 8; ++channel) {
      const uint8_t bit = (channels[channel * kSubchannelChannelSize + byte] >> shift) & 1u;
      symbol = static_cast<uint8_t>(symbol | bit << (7 - channel));
    }
    out[k] = symbol;
  }
}

}  // namespace sorvel
