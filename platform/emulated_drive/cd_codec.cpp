#include "platform/emulated_drive/cd_codec.h"

#include <cstring>

#include "native_common/crc_calculator.h"
#include "native_common/ecc_encoder.h"

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
  thread_local CrcCalculator crc = [] {
    CrcCalculator c;
    c.Setup(0, false, 0, true);
    return c;
  }();
  crc.Start();
  crc.Update(data, length);
  return static_cast<uint16_t>(crc.Result());
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

uint32_t ComputeEdc(const uint8_t* data, size_t length) { return EccEncoder::ComputeEdc(data, length); }

void FinishMode1Sector(uint8_t* sector) {
  const uint32_t edc = EccEncoder::ComputeEdc(sector, 2064);
  for (int i = 0; i < 4; ++i) sector[2064 + i] = static_cast<uint8_t>(edc >> (8 * i));
  std::memset(sector + 2068, 0, 8);
  EccEncoder::ComputeParity(sector);
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
