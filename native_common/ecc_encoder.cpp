#include "native_common/ecc_encoder.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "native_common/msf_time.h"

namespace sorvel {

namespace {

constexpr size_t kHeaderOffset = 12;
constexpr size_t kPParityOffset = 2076;
constexpr size_t kQParityOffset = 2248;
constexpr uint8_t kForm2Bit = 0x20;

// EDC tables for eight bytes a step: table 0 is the byte-wise table of the
// reflected polynomial 0xD8018001; table k advances a byte through k more zero bytes.
using EdcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr EdcTables MakeEdcTables() {
  EdcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xD8018001u : c >> 1;
    t[0][i] = c;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
  }
  return t;
}

constexpr EdcTables kEdc = MakeEdcTables();

// GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1 (0x11D): multiplication by x (alpha).
inline uint8_t MulAlpha(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ (-(x >> 7) & 0x1D)); }

// Inverse of multiplication by alpha + 1: entry i ^ 2i holds i.
constexpr std::array<uint8_t, 256> MakeDivAlphaPlus1() {
  std::array<uint8_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t doubled = (i << 1) ^ ((i & 0x80u) ? 0x11Du : 0u);
    t[i ^ doubled] = static_cast<uint8_t>(i);
  }
  return t;
}

constexpr std::array<uint8_t, 256> kDivAlphaPlus1 = MakeDivAlphaPlus1();

// The same multiplication on the eight byte lanes of a 64-bit word.
inline uint64_t MulAlpha8(uint64_t x) {
  return ((x & 0x7F7F7F7F7F7F7F7Full) << 1) ^ (((x >> 7) & 0x0101010101010101ull) * 0x1D);
}

// Horner step of one codeword per byte lane over kWords * 8 lanes:
// a = (a + v) * alpha, b = b + v.
template <size_t kWords>
inline void HornerStep(uint64_t (&a)[kWords], uint64_t (&b)[kWords], const uint8_t* v) {
  for (size_t i = 0; i < kWords; ++i) {
    uint64_t w;
    std::memcpy(&w, v + 8 * i, 8);
    b[i] ^= w;
    a[i] = MulAlpha8(a[i] ^ w);
  }
}

// After the data of each codeword (a = sum v_i * alpha^(k-i), b = sum v_i with
// k data bytes), the two parity bytes p0, p1 that make sum(v) and
// sum(v * alpha^(n-1-i)) of the whole codeword zero: p0 = (a * alpha + b) / (alpha + 1),
// p1 = p0 + b.
template <size_t kLanes, size_t kWords>
inline void StoreParity(const uint64_t (&a)[kWords], const uint64_t (&b)[kWords], uint8_t* out) {
  static_assert(kLanes <= kWords * 8);
  uint8_t a_lanes[kWords * 8];
  uint8_t b_lanes[kWords * 8];
  std::memcpy(a_lanes, a, sizeof a_lanes);
  std::memcpy(b_lanes, b, sizeof b_lanes);
  for (size_t i = 0; i < kLanes; ++i) {
    const uint8_t p0 = kDivAlphaPlus1[MulAlpha(a_lanes[i]) ^ b_lanes[i]];
    out[i] = p0;
    out[kLanes + i] = static_cast<uint8_t>(p0 ^ b_lanes[i]);
  }
}

}  // namespace

namespace {

uint32_t TableEdc(const uint8_t* data, size_t length, uint32_t edc) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint8_t* p = data + i;
    const uint32_t lo = (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24) ^ edc;
    edc = kEdc[7][lo & 0xFFu] ^ kEdc[6][(lo >> 8) & 0xFFu] ^ kEdc[5][(lo >> 16) & 0xFFu] ^ kEdc[4][lo >> 24] ^
          kEdc[3][p[4]] ^ kEdc[2][p[5]] ^ kEdc[1][p[6]] ^ kEdc[0][p[7]];
  }
  for (; i < length; ++i) edc = (edc >> 8) ^ kEdc[0][(edc ^ data[i]) & 0xFFu];
  return edc;
}

#if defined(__x86_64__)
// Carry-less multiplication folds the input 16 bytes a step: the 128 bits
// so far are multiplied forward past the next 16 bytes and added to them,
// which keeps their remainder modulo the polynomial. The constants are
// x^(128+32) and x^(128-32) modulo 0x8001801B, bit-reflected and shifted
// by one for the reflected product. What is left, 16 bytes and the tail,
// goes through the tables.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldedEdc(const uint8_t* data, size_t length, uint32_t edc) {
  const __m128i k = _mm_set_epi64x(0x1D5934102ll, 0x06C90C100ll);
  __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)),
                            _mm_cvtsi32_si128(static_cast<int>(edc)));
  size_t at = 16;
  for (; at + 16 <= length; at += 16) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    x = _mm_xor_si128(_mm_xor_si128(low, high), _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)));
  }
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return TableEdc(data + at, length - at, TableEdc(rest, 16, 0));
}

const bool kHasCarrylessMultiply = [] {
  __builtin_cpu_init();  // this may run before the processor model is read for the program
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}();
#endif

}  // namespace

uint32_t EccEncoder::ComputeEdc(const uint8_t* data, size_t length, uint32_t edc) {
#if defined(__x86_64__)
  if (length >= 64 && kHasCarrylessMultiply) return FoldedEdc(data, length, edc);
#endif
  return TableEdc(data, length, edc);
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
  // The 2,236 bytes from the header are a matrix of 26 rows by 43 16-bit words
  // (rows 24 and 25 being the P parity); the even and odd bytes of a word belong
  // to separate codewords, so a row is 86 byte lanes. The lane arrays are padded
  // to whole 64-bit words; the extra lanes compute nothing that is stored.
  const uint8_t* matrix = sector + kHeaderOffset;

  // P: each of the 86 byte columns over rows 0..23 (stride 86), parity into rows
  // 24, 25. The padding lanes of the last row read P parity bytes, still inside
  // the sector.
  {
    uint64_t a[12] = {};
    uint64_t b[12] = {};
    for (size_t row = 0; row < 24; ++row) HornerStep(a, b, matrix + row * 86);
    StoreParity<86>(a, b, sector + kPParityOffset);
  }

  // Q: diagonal d (0..25) takes the word of row (d + c) mod 26 in column c for
  // c = 0..42 (word index 44c + 43d modulo 1,118). Step c gathers column c in
  // diagonal order, four words to a 64-bit lane word assembled in registers
  // (a gather through memory would cost a store per word and stall the wide
  // loads that follow).
  {
    static constexpr std::array<uint16_t, 52> kRowOffset = [] {
      std::array<uint16_t, 52> t{};
      for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint16_t>((i % 26) * 86);
      return t;
    }();
    uint64_t a[7] = {};
    uint64_t b[7] = {};
    for (size_t c = 0; c < 43; ++c) {
      const uint8_t* column = matrix + 2 * c;
      const uint16_t* rows = kRowOffset.data() + c % 26;
      uint64_t step[7];
      for (size_t w = 0; w < 7; ++w) {
        uint64_t x = 0;
        for (size_t k = 0; k < 4 && 4 * w + k < 26; ++k) {
          uint16_t word;
          std::memcpy(&word, column + rows[4 * w + k], 2);
          x |= uint64_t{word} << (16 * k);
        }
        step[w] = x;
      }
      HornerStep(a, b, reinterpret_cast<const uint8_t*>(step));
    }
    StoreParity<52>(a, b, sector + kQParityOffset);
  }
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
