// Red Book / ECMA-130 building blocks of the emulated drive: MSF and BCD,
// the Q and CD-Text CRC, the sector scrambler, Mode 1/2 sector EDC/ECC and
// the P-W subchannel layouts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sorvel::platform::emu {

constexpr size_t kRawSectorSize = 2352;
constexpr size_t kSubchannelSize = 96;
constexpr size_t kUserDataSize = 2048;

constexpr uint8_t ToBcd(int value) { return static_cast<uint8_t>(((value / 10) << 4) | (value % 10)); }
constexpr int FromBcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }
constexpr bool IsBcd(uint8_t value) { return (value >> 4) < 10 && (value & 0x0F) < 10; }

struct Msf {
  int minute = 0;
  int second = 0;
  int frame = 0;
};

// LBA -> MSF of the absolute time (LBA 0 is 00:02:00); negative LBAs wrap to
// minutes 90-99 as in the lead-in.
Msf LbaToMsf(int32_t lba);
// Absolute MSF -> LBA; minutes of 90 and above are negative addresses.
int32_t MsfToLba(int minute, int second, int frame);
// A plain time span (no 150-frame offset), used for relative Q times.
Msf FramesToMsf(int32_t frames);

// CRC-16 with polynomial 0x1021, initial value 0, result inverted: the Q
// subchannel and CD-Text pack check word.
uint16_t Crc16Inverted(const uint8_t* data, size_t length);

// Sets bytes 10-11 of a 12-byte Q frame to its check word.
void SetQCrc(uint8_t* q);
bool QCrcValid(const uint8_t* q);

// The ECMA-130 scrambler sequence for bytes 12-2351 of a sector.
const std::array<uint8_t, kRawSectorSize>& ScramblerTable();
// XORs bytes 12-2351 with the scrambler sequence (scrambling and descrambling are the same).
void ScrambleSector(uint8_t* sector);

bool HasSync(const uint8_t* sector);
// Builds a complete Mode 1 sector at `lba` around 2048 bytes of user data
// (zeros when `user_data` is null).
void BuildMode1Sector(int32_t lba, const uint8_t* user_data, uint8_t* sector);
// Sync, header and user data of that sector only: bytes 2064-2351 (EDC, zero
// and parity) are left as they are.
void BuildMode1SectorWithoutCodes(int32_t lba, const uint8_t* user_data, uint8_t* sector);
// Builds a Mode 2 (formless) sector of zeros at `lba` (pregaps of Mode 2 tracks).
void BuildMode2EmptySector(int32_t lba, uint8_t* sector);
// Writes sync and header (mode byte) for `lba`.
void WriteSectorHeader(int32_t lba, uint8_t mode, uint8_t* sector);
// Recomputes EDC and ECC of a Mode 1 sector in place.
void FinishMode1Sector(uint8_t* sector);
uint32_t ComputeEdc(const uint8_t* data, size_t length);

// Subchannel of one frame, channel by channel: P (12 bytes), Q (12 bytes),
// then R to W (12 bytes each), as CloneCD .sub files hold it.
using SubchannelFrame = std::array<uint8_t, kSubchannelSize>;

// Separate channels -> 96 interleaved bytes (bit 7 P, bit 6 Q, bits 5-0 R-W).
void InterleaveSubchannel(const uint8_t* separate, uint8_t* interleaved);
void DeinterleaveSubchannel(const uint8_t* interleaved, uint8_t* separate);

// The 96 six-bit R-W symbols of a frame, from interleaved subchannel.
void ExtractRwSymbols(const uint8_t* interleaved, uint8_t* symbols);
// Four 18-byte CD-Text packs <-> 96 six-bit symbols (24 symbols a pack).
void PacksToRwSymbols(const uint8_t* packs72, uint8_t* symbols96);
void RwSymbolsToPacks(const uint8_t* symbols96, uint8_t* packs72);

}  // namespace sorvel::platform::emu
