#include "native_common/ecc_encoder.h"

#include <array>
#include <cstring>

#include "native_common/msf_time.h"

namespace sorvel {

namespace {

constexpr size_t kHeaderOffset = 12;
constexpr size_t kPParityOffset = 2076;
constexpr size_t kQParityOffset = 2248;
constexpr uint8_t kForm2Bit = 0x20;

// Byte-wise table of the EDC polynomial in its reflected form.
constexpr std::array<uint32_t, 256> MakeEdcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xD8018001u : c >> 1;
    table[i] = c;
  }
  return table;
}

// GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1: multiplication by x (alpha) and its
// inverse of multiplication by x + 1, which solves for the two parity bytes.
struct GfTables {
  std::array<uint8_t, 256> times_alpha{};
  std::array<uint8_t, 256> div_alpha_plus_1{};
};

constexpr GfTables MakeGfTables() {
  GfTables t;
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t doubled = (i << 1) ^ ((i & 0x80u) ? 0x11Du : 0u);
    t.times_alpha[i] = static_cast<uint8_t>(doubled);
    t.div_alpha_plus_1[i ^ doubled] = static_cast<uint8_t>(i);
  }
  return t;
}

constexpr std::array<uint32_t, 256> kEdcTable = MakeEdcTable();
constexpr GfTables kGf = MakeGfTables();

// One family of RS codewords with two parity bytes over the 2,236 or 2,064
// bytes from the header: codeword `major` takes `minor_count` bytes starting at
// (major / 2) * major_mult + (major & 1), stepping by `minor_inc` modulo `size`.
// The parity p0, p1 makes both sum(v_i) and sum(v_i * alpha^(n-1-i)) zero.
template <size_t kMajorCount, size_t kMinorCount, size_t kMajorMult, size_t kMinorInc>
inline void ComputeRsBlock(const uint8_t* src, uint8_t* dest) {
  constexpr size_t kSize = kMajorCount * kMinorCount;
  for (size_t major = 0; major < kMajorCount; ++major) {
    size_t index = (major >> 1) * kMajorMult + (major & 1);
    uint8_t a = 0;  // Horner sum of the data, times alpha
    uint8_t b = 0;  // plain sum of the data
    for (size_t minor = 0; minor < kMinorCount; ++minor) {
      const uint8_t v = src[index];
      index += kMinorInc;
      if (index >= kSize) index -= kSize;
      a = kGf.times_alpha[a ^ v];
      b ^= v;
    }
    a = kGf.div_alpha_plus_1[kGf.times_alpha[a] ^ b];
    dest[major] = a;
    dest[major + kMajorCount] = static_cast<uint8_t>(a ^ b);
  }
}

}  // namespace

uint32_t EccEncoder::ComputeEdc(const uint8_t* data, size_t length, uint32_t edc) {
  for (size_t i = 0; i < length; ++i) edc = (edc >> 8) ^ kEdcTable[(edc ^ data[i]) & 0xFFu];
  return edc;
}

void EccEncoder::WriteSync(uint8_t* sector) {
  sector[0] = 0x00;
  std::memset(sector + 1, 0xFF, 10);
  sector[11] = 0x00;
}

void EccEncoder::WriteHeader(uint8_t* sector, int32_t lba, uint8_t mode) {
  const MsfTime msf = MsfTime::FromLba(lba);
  sector[12] = ToBcd(msf.minute);
  sector[13] = ToBcd(msf.second);
  sector[14] = ToBcd(msf.frame);
  sector[15] = mode;
}

void EccEncoder::StoreEdc(uint8_t* out, uint32_t edc) {
  out[0] = static_cast<uint8_t>(edc);
  out[1] = static_cast<uint8_t>(edc >> 8);
  out[2] = static_cast<uint8_t>(edc >> 16);
  out[3] = static_cast<uint8_t>(edc >> 24);
}

void EccEncoder::ComputeParity(uint8_t* sector) {
  // P: 86 columns of 24 bytes, a row being 86 bytes.
  ComputeRsBlock<86, 24, 2, 86>(sector + kHeaderOffset, sector + kPParityOffset);
  // Q: 52 diagonals of 43 bytes over the data and P parity, advancing 44 words
  // (88 bytes) per step.
  ComputeRsBlock<52, 43, 86, 88>(sector + kHeaderOffset, sector + kQParityOffset);
}

void EccEncoder::EncodeMode1(uint8_t* sector, int32_t lba) const {
  WriteSync(sector);
  WriteHeader(sector, lba, 1);
  StoreEdc(sector + 2064, ComputeEdc(sector, 2064));
  std::memset(sector + 2068, 0, 8);
  ComputeParity(sector);
}

void EccEncoder::EncodeMode2Header(uint8_t* sector, int32_t lba) const {
  WriteSync(sector);
  WriteHeader(sector, lba, 2);
}

void EccEncoder::EncodeMode2(uint8_t* sector, int32_t lba) const {
  if (std::memcmp(sector + 16, sector + 20, 4) != 0) {
    EncodeMode2Header(sector, lba);
  } else if (sector[18] & kForm2Bit) {
    EncodeMode2Form2(sector, lba);
  } else {
    EncodeMode2Form1(sector, lba);
  }
}

void EccEncoder::EncodeMode2Form1(uint8_t* sector, int32_t lba) const {
  WriteSync(sector);
  std::memset(sector + kHeaderOffset, 0, 4);
  if (std::memcmp(sector + 16, sector + 20, 4) == 0) {
    sector[18] &= static_cast<uint8_t>(~kForm2Bit);
    sector[22] &= static_cast<uint8_t>(~kForm2Bit);
  } else {
    std::memset(sector + 16, 0, 8);
  }
  StoreEdc(sector + 2072, ComputeEdc(sector + 16, 2056));
  ComputeParity(sector);
  WriteHeader(sector, lba, 2);
}

void EccEncoder::EncodeMode2Form2(uint8_t* sector, int32_t lba) const {
  WriteSync(sector);
  WriteHeader(sector, lba, 2);
  if (std::memcmp(sector + 16, sector + 20, 4) == 0) {
    sector[18] |= kForm2Bit;
    sector[22] |= kForm2Bit;
  } else {
    static constexpr uint8_t kDefaultSubheader[8] = {0x00, 0x00, kForm2Bit, 0x00, 0x00, 0x00, kForm2Bit, 0x00};
    std::memcpy(sector + 16, kDefaultSubheader, 8);
  }
  StoreEdc(sector + 2348, ComputeEdc(sector + 16, 2332));
}

}  // namespace sorvel
