#include "platform/emulated_drive/cd_codec.h"

#include <cstring>

namespace sorvel::platform::emu {

Msf LbaToMsf(int32_t lba) {
  int32_t frames = lba + 150;
  if (frames < 0) frames += 450000;
  Msf m;
  m.minute = frames / 4500;
  m.second = (frames / 75) % 60;
  m.frame = frames % 75;
  return m;
}

int32_t MsfToLba(int minute, int second, int frame) {
  int32_t frames = minute * 4500 + second * 75 + frame;
  if (minute >= 90) frames -= 450000;
  return frames - 150;
}

Msf FramesToMsf(int32_t frames) {
  if (frames < 0) frames = -frames;
  Msf m;
  m.minute = frames / 4500;
  m.second = (frames / 75) % 60;
  m.frame = frames % 75;
  return m;
}

uint16_t Crc16Inverted(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return static_cast<uint16_t>(~crc);
}

void SetQCrc(uint8_t* q) {
  uint16_t crc = Crc16Inverted(q, 10);
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
}

bool QCrcValid(const uint8_t* q) {
  uint16_t crc = Crc16Inverted(q, 10);
  return q[10] == static_cast<uint8_t>(crc >> 8) && q[11] == static_cast<uint8_t>(crc);
}

const std::array<uint8_t, kRawSectorSize>& ScramblerTable() {
  static const std::array<uint8_t, kRawSectorSize> table = [] {
    std::array<uint8_t, kRawSectorSize> t{};
    // 15-bit shift register x^15 + x + 1, preset to 1, least significant bit first.
    uint16_t reg = 1;
    for (size_t i = 12; i < kRawSectorSize; ++i) {
      uint8_t value = 0;
      for (int bit = 0; bit < 8; ++bit) {
        value |= static_cast<uint8_t>((reg & 1) << bit);
        uint16_t feedback = (reg ^ (reg >> 1)) & 1;
        reg = static_cast<uint16_t>((reg >> 1) | (feedback << 14));
      }
      t[i] = value;
    }
    return t;
  }();
  return table;
}

void ScrambleSector(uint8_t* sector) {
  const auto& table = ScramblerTable();
  for (size_t i = 12; i < kRawSectorSize; ++i) sector[i] ^= table[i];
}

static const uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

bool HasSync(const uint8_t* sector) { return std::memcmp(sector, kSync, 12) == 0; }

void WriteSectorHeader(int32_t lba, uint8_t mode, uint8_t* sector) {
  std::memcpy(sector, kSync, 12);
  Msf m = LbaToMsf(lba);
  sector[12] = ToBcd(m.minute);
  sector[13] = ToBcd(m.second);
  sector[14] = ToBcd(m.frame);
  sector[15] = mode;
}

namespace {

// EDC tables for four bytes a step: table 0 is the byte-wise table of
// (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1), reflected; table k is table
// k - 1 followed by one zero byte.
struct EdcTables {
  uint32_t t[4][256];
};

const EdcTables& Edc() {
  static const EdcTables tables = [] {
    EdcTables e{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t v = i;
      for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0xD8018001u : v >> 1;
      e.t[0][i] = v;
    }
    for (int k = 1; k < 4; ++k) {
      for (uint32_t i = 0; i < 256; ++i) e.t[k][i] = (e.t[k - 1][i] >> 8) ^ e.t[0][e.t[k - 1][i] & 0xFF];
    }
    return e;
  }();
  return tables;
}

}  // namespace

uint32_t ComputeEdc(const uint8_t* data, size_t length) {
  const EdcTables& e = Edc();
  uint32_t edc = 0;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    const uint32_t x = edc ^ (uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 | uint32_t{data[i + 2]} << 16 |
                              uint32_t{data[i + 3]} << 24);
    edc = e.t[3][x & 0xFF] ^ e.t[2][(x >> 8) & 0xFF] ^ e.t[1][(x >> 16) & 0xFF] ^ e.t[0][x >> 24];
  }
  for (; i < length; ++i) edc = (edc >> 8) ^ e.t[0][(edc ^ data[i]) & 0xFF];
  return edc;
}

namespace {

struct GaloisTables {
  uint8_t mul2[256];   // multiplication by alpha in GF(2^8), polynomial 0x11D
  uint8_t div3[256];   // division by (1 + alpha)
};

const GaloisTables& Galois() {
  static const GaloisTables tables = [] {
    GaloisTables t{};
    for (int i = 0; i < 256; ++i) {
      int doubled = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
      t.mul2[i] = static_cast<uint8_t>(doubled);
      t.div3[static_cast<uint8_t>(i ^ doubled)] = static_cast<uint8_t>(i);
    }
    return t;
  }();
  return tables;
}

// Multiplication by alpha of each of the eight bytes of a word.
inline uint64_t TimesAlpha(uint64_t x) {
  const uint64_t high = x & 0x8080808080808080ull;
  return ((x ^ high) << 1) ^ ((high >> 7) * 0x1D);
}

// The RS parity of many codewords at once, one codeword per byte lane: the
// bytes of step m of every codeword are fed together.
template <size_t kLanes>
class ParityLanes {
 public:
  static constexpr size_t kWords = (kLanes + 7) / 8;
  static constexpr size_t kStepBytes = kWords * 8;

  // `step` holds one byte of each codeword, lane by lane.
  void Feed(const uint8_t* step) {
    for (size_t w = 0; w < kWords; ++w) {
      uint64_t v;
      std::memcpy(&v, step + 8 * w, 8);
      b_[w] ^= v;
      a_[w] = TimesAlpha(a_[w] ^ v);
    }
  }
  // The two parity bytes of each codeword: the first at dest[lane], the
  // second at dest[lane + kLanes].
  void Store(uint8_t* dest) const {
    const GaloisTables& g = Galois();
    uint8_t a[kWords * 8], b[kWords * 8];
    std::memcpy(a, a_, sizeof a);
    std::memcpy(b, b_, sizeof b);
    for (size_t lane = 0; lane < kLanes; ++lane) {
      const uint8_t p = g.div3[g.mul2[a[lane]] ^ b[lane]];
      dest[lane] = p;
      dest[lane + kLanes] = static_cast<uint8_t>(p ^ b[lane]);
    }
  }

 private:
  uint64_t a_[kWords] = {};
  uint64_t b_[kWords] = {};
};

// The product code over the 2,340 bytes from the header on, as ECMA-130
// Annex A lays it out. P: 86 codewords (columns) of 24 bytes, byte m of
// column c at 86m + c, so step m is one row of 86 bytes. Q: 52 codewords
// (diagonals) of 43 bytes, byte m of diagonal 2k + j at (86k + 88m) mod
// 2,236 + j, P parity included.
void ComputeParityP(const uint8_t* src, uint8_t* dest) {
  ParityLanes<86> p;
  uint8_t step[ParityLanes<86>::kStepBytes] = {};
  for (size_t m = 0; m < 24; ++m) {
    std::memcpy(step, src + 86 * m, 86);
    p.Feed(step);
  }
  p.Store(dest);
}

void ComputeParityQ(const uint8_t* src, uint8_t* dest) {
  ParityLanes<52> q;
  uint8_t step[ParityLanes<52>::kStepBytes] = {};
  for (size_t m = 0; m < 43; ++m) {
    for (size_t k = 0; k < 26; ++k) {
      const size_t at = (86 * k + 88 * m) % 2236;
      step[2 * k] = src[at];
      step[2 * k + 1] = src[at + 1];
    }
    q.Feed(step);
  }
  q.Store(dest);
}

}  // namespace

void FinishMode1Sector(uint8_t* sector) {
  uint32_t edc = ComputeEdc(sector, 2064);
  for (int i = 0; i < 4; ++i) sector[2064 + i] = static_cast<uint8_t>(edc >> (8 * i));
  std::memset(sector + 2068, 0, 8);
  ComputeParityP(sector + 12, sector + 2076);
  ComputeParityQ(sector + 12, sector + 2248);
}

void BuildMode1SectorWithoutCodes(int32_t lba, const uint8_t* user_data, uint8_t* sector) {
  WriteSectorHeader(lba, 1, sector);
  if (user_data) {
    std::memcpy(sector + 16, user_data, kUserDataSize);
  } else {
    std::memset(sector + 16, 0, kUserDataSize);
  }
}

void BuildMode1Sector(int32_t lba, const uint8_t* user_data, uint8_t* sector) {
  BuildMode1SectorWithoutCodes(lba, user_data, sector);
  FinishMode1Sector(sector);
}

void BuildMode2EmptySector(int32_t lba, uint8_t* sector) {
  WriteSectorHeader(lba, 2, sector);
  std::memset(sector + 16, 0, kRawSectorSize - 16);
}

void InterleaveSubchannel(const uint8_t* separate, uint8_t* interleaved) {
  for (int i = 0; i < 96; ++i) {
    uint8_t value = 0;
    for (int channel = 0; channel < 8; ++channel) {
      uint8_t bit = (separate[channel * 12 + i / 8] >> (7 - i % 8)) & 1;
      value |= static_cast<uint8_t>(bit << (7 - channel));
    }
    interleaved[i] = value;
  }
}

void DeinterleaveSubchannel(const uint8_t* interleaved, uint8_t* separate) {
  std::memset(separate, 0, 96);
  for (int i = 0; i < 96; ++i) {
    for (int channel = 0; channel < 8; ++channel) {
      uint8_t bit = (interleaved[i] >> (7 - channel)) & 1;
      separate[channel * 12 + i / 8] |= static_cast<uint8_t>(bit << (7 - i % 8));
    }
  }
}

void ExtractRwSymbols(const uint8_t* interleaved, uint8_t* symbols) {
  for (int i = 0; i < 96; ++i) symbols[i] = interleaved[i] & 0x3F;
}

void PacksToRwSymbols(const uint8_t* packs72, uint8_t* symbols96) {
  // Every 3 bytes (24 bits) become 4 six-bit symbols, most significant first.
  for (int group = 0; group < 24; ++group) {
    uint32_t bits = (uint32_t{packs72[group * 3]} << 16) | (uint32_t{packs72[group * 3 + 1]} << 8) | packs72[group * 3 + 2];
    for (int k = 0; k < 4; ++k) symbols96[group * 4 + k] = static_cast<uint8_t>((bits >> (18 - 6 * k)) & 0x3F);
  }
}

void RwSymbolsToPacks(const uint8_t* symbols96, uint8_t* packs72) {
  for (int group = 0; group < 24; ++group) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) bits = (bits << 6) | (symbols96[group * 4 + k] & 0x3F);
    packs72[group * 3] = static_cast<uint8_t>(bits >> 16);
    packs72[group * 3 + 1] = static_cast<uint8_t>(bits >> 8);
    packs72[group * 3 + 2] = static_cast<uint8_t>(bits);
  }
}

}  // namespace sorvel::platform::emu
