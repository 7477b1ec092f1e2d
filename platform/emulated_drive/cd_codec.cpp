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

uint32_t ComputeEdc(const uint8_t* data, size_t length) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    // (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1), reflected.
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t v = i;
      for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0xD8018001u : v >> 1;
      t[i] = v;
    }
    return t;
  }();
  uint32_t edc = 0;
  for (size_t i = 0; i < length; ++i) edc = (edc >> 8) ^ table[(edc ^ data[i]) & 0xFF];
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

// One family of RS product-code parity (P: 86 columns of 24, Q: 52 diagonals of 43)
// over the 2340 bytes from the header on, as ECMA-130 Annex A lays them out.
void ComputeParity(const uint8_t* src, int major_count, int minor_count, int major_mult, int minor_inc,
                   uint8_t* dest) {
  const GaloisTables& g = Galois();
  int size = major_count * minor_count;
  for (int major = 0; major < major_count; ++major) {
    int index = (major >> 1) * major_mult + (major & 1);
    uint8_t a = 0, b = 0;
    for (int minor = 0; minor < minor_count; ++minor) {
      uint8_t value = src[index];
      index += minor_inc;
      if (index >= size) index -= size;
      a ^= value;
      b ^= value;
      a = g.mul2[a];
    }
    a = g.div3[g.mul2[a] ^ b];
    dest[major] = a;
    dest[major + major_count] = static_cast<uint8_t>(a ^ b);
  }
}

}  // namespace

void FinishMode1Sector(uint8_t* sector) {
  uint32_t edc = ComputeEdc(sector, 2064);
  for (int i = 0; i < 4; ++i) sector[2064 + i] = static_cast<uint8_t>(edc >> (8 * i));
  std::memset(sector + 2068, 0, 8);
  ComputeParity(sector + 12, 86, 24, 2, 86, sector + 2076);
  ComputeParity(sector + 12, 52, 43, 86, 88, sector + 2248);
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
