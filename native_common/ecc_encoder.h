// Builds CD-ROM sectors (ECMA-130): sync, BCD header, EDC and the
// Reed-Solomon product code (P and Q parity) for Mode 1 and Mode 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvel {

class EccEncoder {
 public:
  static constexpr size_t kSectorSize = 2352;

  EccEncoder() = default;

  // `sector` is 2,352 bytes with the user data at 16..2063. Writes sync, header
  // (mode 1), EDC over 0..2063 at 2064, eight zero bytes, P and Q parity.
  void EncodeMode1(uint8_t* sector, int32_t lba) const;

  // Sync and header (mode 2) only: 2,336 bytes of data from 16 stay as they are.
  void EncodeMode2Header(uint8_t* sector, int32_t lba) const;

  // Chooses by the subheader at 16..23: differing copies give a header-only
  // sector; else submode bit 0x20 selects Form 2, otherwise Form 1.
  void EncodeMode2(uint8_t* sector, int32_t lba) const;

  // Form 1: user data at 24..2071, EDC over 16..2071 at 2072, P and Q parity
  // computed with a zero header (so they do not depend on the address).
  void EncodeMode2Form1(uint8_t* sector, int32_t lba) const;

  // Form 2: user data at 24..2347, EDC over 16..2347 at 2348, no parity.
  void EncodeMode2Form2(uint8_t* sector, int32_t lba) const;

  // ECMA-130 EDC (CRC-32 0x8001801B processed least significant bit first,
  // initial value 0, no inversion); `edc` continues a running value.
  static uint32_t ComputeEdc(const uint8_t* data, size_t length, uint32_t edc = 0);

  // P parity over 12..2075 into 2076..2247, Q parity over 12..2247 into 2248..2351.
  static void ComputeParity(uint8_t* sector);

 private:
  static void WriteSync(uint8_t* sector);
  static void WriteHeader(uint8_t* sector, int32_t lba, uint8_t mode);
  static void StoreEdc(uint8_t* out, uint32_t edc);
};

}  // namespace sorvel
