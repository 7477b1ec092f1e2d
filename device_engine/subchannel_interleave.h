// Subchannel forms: channel-separated (P bytes 0-11, Q 12-23, then R to W,
// twelve bytes each) and interleaved P-W (one byte per symbol, P in bit 7 down
// to W in bit 0), 96 bytes either way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvel {

constexpr size_t kSubchannelSize = 96;
constexpr size_t kSubchannelChannelSize = 12;

// Output byte k (0..95) collects bit (7 - k mod 8) of byte k / 8 of every
// channel. `channels` and `out` must not overlap.
void SubchannelChannelsToPw(const uint8_t* channels, uint8_t* out);

}  // namespace sorvel
