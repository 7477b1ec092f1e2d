#include "native_common/ecc_encoder.h"
#include "native_common/msf_time.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace sorvel {
namespace {

using Sector = std::array<uint8_t, EccEncoder::kSectorSize>;

// --- Independent reference arithmetic (no tables) ---------------------------

// GF(2^8) product with the field polynomial x^8 + x^4 + x^3 + x^2 + 1.
uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t p = 0;
  while (b) {
    if (b & 1) p ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1D : 0));
    b >>= 1;
  }
  return p;
}

uint8_t GfPow(uint8_t base, int n) {
  uint8_t r = 1;
  for (int i = 0; i < n; ++i) r = GfMul(r, base);
  return r;
}

// Syndromes s0 = sum v_i and s1 = sum v_i * alpha^(n-1-i) of one codeword.
std::pair<uint8_t, uint8_t> Syndromes(const std::vector<uint8_t>& v) {
  uint8_t s0 = 0, s1 = 0;
  const int n = static_cast<int>(v.size());
  for (int i = 0; i < n; ++i) {
    s0 ^= v[i];
    s1 ^= GfMul(v[i], GfPow(2, n - 1 - i));
  }
  return {s0, s1};
}

// The bytes from the header on, as 16-bit words: word w = bytes 12 + 2w (h = 0)
// and 13 + 2w (h = 1). 1,032 data words, 86 P words, 52 Q words.
uint8_t WordByte(const Sector& s, int word, int h) { return s[12 + 2 * word + h]; }

// P codewords: 43 word columns x 2 bytes, 26 words each (24 data + 2 parity), stride 43 words.
std::vector<uint8_t> PCodeword(const Sector& s, int column, int h) {
  std::vector<uint8_t> v;
  for (int row = 0; row < 26; ++row) v.push_back(WordByte(s, 43 * row + column, h));
  return v;
}

// Q codewords: 26 diagonals x 2 bytes, word (44 * m + 43 * n) mod 1118 for m = 0..42,
// then the parity words 1118 + n and 1144 + n.
std::vector<uint8_t> QCodeword(const Sector& s, int diagonal, int h) {
  std::vector<uint8_t> v;
  for (int m = 0; m < 43; ++m) v.push_back(WordByte(s, (44 * m + 43 * diagonal) % 1118, h));
  v.push_back(WordByte(s, 1118 + diagonal, h));
  v.push_back(WordByte(s, 1144 + diagonal, h));
  return v;
}

int NonZeroSyndromes(const Sector& s) {
  int bad = 0;
  for (int h = 0; h < 2; ++h) {
    for (int c = 0; c < 43; ++c) {
      auto [s0, s1] = Syndromes(PCodeword(s, c, h));
      bad += (s0 != 0 || s1 != 0);
    }
    for (int d = 0; d < 26; ++d) {
      auto [s0, s1] = Syndromes(QCodeword(s, d, h));
      bad += (s0 != 0 || s1 != 0);
    }
  }
  return bad;
}

// EDC bit by bit: x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1, least significant bit first.
uint32_t BitwiseEdc(const uint8_t* data, size_t length) {
  uint32_t r = 0;
  for (size_t i = 0; i < length; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const uint32_t in = (data[i] >> bit) & 1u;
      const uint32_t fb = (r ^ in) & 1u;
      r = (r >> 1) ^ (fb ? 0xD8018001u : 0u);
    }
  }
  return r;
}

uint32_t LoadLe32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

Sector RandomSector(std::mt19937& rng) {
  Sector s;
  for (auto& b : s) b = static_cast<uint8_t>(rng());
  return s;
}

const uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// --- Tests -------------------------------------------------------------------

TEST(EccEncoderTest, EdcCheckValue) {
  const char* text = "123456789";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  EXPECT_EQ(EccEncoder::ComputeEdc(bytes, 9), 0x6EC2EDC4u);
  EXPECT_EQ(BitwiseEdc(bytes, 9), 0x6EC2EDC4u);
  // A running value continues across pieces.
  EXPECT_EQ(EccEncoder::ComputeEdc(bytes + 4, 5, EccEncoder::ComputeEdc(bytes, 4)), 0x6EC2EDC4u);
}

TEST(EccEncoderTest, EdcMatchesBitwiseDefinition) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<uint8_t> data(rng() % 2400);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    EXPECT_EQ(EccEncoder::ComputeEdc(data.data(), data.size()), BitwiseEdc(data.data(), data.size()));
  }
  // Every length across the 16-byte steps of long inputs, from an odd
  // address, continuing a running value.
  std::vector<uint8_t> data(2400);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t length = 0; length <= 200; ++length) {
    const uint8_t* p = data.data() + 1;
    EXPECT_EQ(EccEncoder::ComputeEdc(p, length), BitwiseEdc(p, length)) << length;
    const size_t head = length / 3;
    EXPECT_EQ(EccEncoder::ComputeEdc(p + head, length - head, EccEncoder::ComputeEdc(p, head)),
              BitwiseEdc(p, length))
        << length;
  }
  for (size_t length : {2056, 2064, 2332}) {
    EXPECT_EQ(EccEncoder::ComputeEdc(data.data() + 3, length), BitwiseEdc(data.data() + 3, length)) << length;
  }
}

TEST(EccEncoderTest, ZeroMode1SectorAtLbaZero) {
  Sector s{};
  EccEncoder().EncodeMode1(s.data(), 0);
  EXPECT_EQ(std::memcmp(s.data(), kSync, 12), 0);
  const uint8_t header[4] = {0x00, 0x02, 0x00, 0x01};
  EXPECT_EQ(std::memcmp(s.data() + 12, header, 4), 0);
  const uint8_t edc[4] = {0xC5, 0x13, 0x68, 0x2B};
  EXPECT_EQ(std::memcmp(s.data() + 2064, edc, 4), 0);
  EXPECT_EQ(LoadLe32(s.data() + 2064), BitwiseEdc(s.data(), 2064));
  for (int i = 2068; i < 2076; ++i) EXPECT_EQ(s[i], 0) << i;
  EXPECT_EQ(NonZeroSyndromes(s), 0);
}

struct LbaCase {
  int32_t lba;
  uint8_t m, s, f;  // BCD header
};

class Mode1Test : public ::testing::TestWithParam<LbaCase> {};

TEST_P(Mode1Test, RandomDataEncodesToValidSector) {
  const LbaCase& c = GetParam();
  std::mt19937 rng(static_cast<uint32_t>(c.lba) * 31u + 1u);
  Sector s = RandomSector(rng);
  const Sector before = s;
  EccEncoder().EncodeMode1(s.data(), c.lba);

  EXPECT_EQ(std::memcmp(s.data(), kSync, 12), 0);
  EXPECT_EQ(s[12], c.m);
  EXPECT_EQ(s[13], c.s);
  EXPECT_EQ(s[14], c.f);
  EXPECT_EQ(s[15], 1);
  EXPECT_EQ(std::memcmp(s.data() + 16, before.data() + 16, 2048), 0) << "user data changed";
  EXPECT_EQ(LoadLe32(s.data() + 2064), BitwiseEdc(s.data(), 2064));
  for (int i = 2068; i < 2076; ++i) ASSERT_EQ(s[i], 0) << i;
  EXPECT_EQ(NonZeroSyndromes(s), 0);

  // Any single corrupted byte of the protected area breaks a codeword.
  for (int k = 0; k < 20; ++k) {
    Sector bad = s;
    const size_t pos = 12 + rng() % (EccEncoder::kSectorSize - 12);
    bad[pos] ^= static_cast<uint8_t>(1 + rng() % 255);
    EXPECT_GT(NonZeroSyndromes(bad), 0) << "byte " << pos;
  }
}

INSTANTIATE_TEST_SUITE_P(Lbas, Mode1Test,
                         ::testing::Values(LbaCase{0, 0x00, 0x02, 0x00}, LbaCase{16, 0x00, 0x02, 0x16},
                                           LbaCase{-150, 0x00, 0x00, 0x00}, LbaCase{-151, 0x99, 0x59, 0x74},
                                           LbaCase{4350, 0x01, 0x00, 0x00}, LbaCase{333000, 0x74, 0x02, 0x00},
                                           LbaCase{404849, 0x89, 0x59, 0x74}));

TEST(EccEncoderTest, Mode2HeaderOnlyWhenSubheaderCopiesDiffer) {
  std::mt19937 rng(3);
  Sector s = RandomSector(rng);
  s[16] = 1;
  s[20] = 2;
  const Sector before = s;
  EccEncoder().EncodeMode2(s.data(), 1000);
  EXPECT_EQ(std::memcmp(s.data(), kSync, 12), 0);
  const uint8_t header[4] = {0x00, 0x15, 0x25, 0x02};  // LBA 1000 = 00:15:25
  EXPECT_EQ(std::memcmp(s.data() + 12, header, 4), 0);
  EXPECT_EQ(std::memcmp(s.data() + 16, before.data() + 16, 2336), 0);

  Sector h = before;
  EccEncoder().EncodeMode2Header(h.data(), 1000);
  EXPECT_EQ(h, s);
}

TEST(EccEncoderTest, Mode2Form1) {
  std::mt19937 rng(11);
  for (int32_t lba : {0, 150, 22500, -200}) {
    Sector s = RandomSector(rng);
    const uint8_t subheader[4] = {0x01, 0x02, 0x08, 0x00};
    std::memcpy(s.data() + 16, subheader, 4);
    std::memcpy(s.data() + 20, subheader, 4);
    const Sector before = s;
    EccEncoder().EncodeMode2(s.data(), lba);

    const MsfTime msf = MsfTime::FromLba(lba);
    EXPECT_EQ(std::memcmp(s.data(), kSync, 12), 0);
    EXPECT_EQ(s[12], ToBcd(msf.minute));
    EXPECT_EQ(s[13], ToBcd(msf.second));
    EXPECT_EQ(s[14], ToBcd(msf.frame));
    EXPECT_EQ(s[15], 2);
    EXPECT_EQ(std::memcmp(s.data() + 16, before.data() + 16, 2056), 0) << "subheader or data changed";
    EXPECT_EQ(LoadLe32(s.data() + 2072), BitwiseEdc(s.data() + 16, 2056));
    // The parity covers a zero header.
    EXPECT_GT(NonZeroSyndromes(s), 0);
    Sector zero_header = s;
    std::memset(zero_header.data() + 12, 0, 4);
    EXPECT_EQ(NonZeroSyndromes(zero_header), 0) << lba;
    zero_header[100] ^= 0x40;
    EXPECT_GT(NonZeroSyndromes(zero_header), 0);
  }
}

TEST(EccEncoderTest, Mode2Form1ParityDoesNotDependOnTheAddress) {
  std::mt19937 rng(5);
  Sector a = RandomSector(rng);
  std::memset(a.data() + 16, 0, 8);
  Sector b = a;
  EccEncoder encoder;
  encoder.EncodeMode2(a.data(), 0);
  encoder.EncodeMode2(b.data(), 123456);
  EXPECT_NE(std::memcmp(a.data() + 12, b.data() + 12, 3), 0);
  EXPECT_EQ(std::memcmp(a.data() + 16, b.data() + 16, 2352 - 16), 0);
}

TEST(EccEncoderTest, Mode2Form1DirectClearsForm2BitOrZeroesBadSubheader) {
  std::mt19937 rng(9);
  EccEncoder encoder;
  Sector s = RandomSector(rng);
  const uint8_t subheader[4] = {0x00, 0x00, 0x28, 0x00};
  std::memcpy(s.data() + 16, subheader, 4);
  std::memcpy(s.data() + 20, subheader, 4);
  encoder.EncodeMode2Form1(s.data(), 0);
  EXPECT_EQ(s[18], 0x08);
  EXPECT_EQ(s[22], 0x08);

  Sector t = RandomSector(rng);
  t[16] = 1;
  t[20] = 2;
  encoder.EncodeMode2Form1(t.data(), 0);
  for (int i = 16; i < 24; ++i) EXPECT_EQ(t[i], 0) << i;
  EXPECT_EQ(LoadLe32(t.data() + 2072), BitwiseEdc(t.data() + 16, 2056));
  std::memset(t.data() + 12, 0, 4);
  EXPECT_EQ(NonZeroSyndromes(t), 0);
}

TEST(EccEncoderTest, Mode2Form2) {
  std::mt19937 rng(13);
  EccEncoder encoder;
  Sector s = RandomSector(rng);
  const uint8_t subheader[4] = {0x01, 0x01, 0x64, 0x0F};
  std::memcpy(s.data() + 16, subheader, 4);
  std::memcpy(s.data() + 20, subheader, 4);
  const Sector before = s;
  encoder.EncodeMode2(s.data(), 300);
  EXPECT_EQ(std::memcmp(s.data(), kSync, 12), 0);
  const uint8_t header[4] = {0x00, 0x06, 0x00, 0x02};  // LBA 300 = 00:06:00
  EXPECT_EQ(std::memcmp(s.data() + 12, header, 4), 0);
  EXPECT_EQ(std::memcmp(s.data() + 16, before.data() + 16, 2332), 0);
  EXPECT_EQ(LoadLe32(s.data() + 2348), BitwiseEdc(s.data() + 16, 2332));

  // Called directly: the Form-2 bit is set, or a bad subheader is replaced.
  Sector t = RandomSector(rng);
  std::memset(t.data() + 16, 0, 8);
  encoder.EncodeMode2Form2(t.data(), 0);
  EXPECT_EQ(t[18], 0x20);
  EXPECT_EQ(t[22], 0x20);
  Sector u = RandomSector(rng);
  u[16] = 1;
  u[20] = 2;
  encoder.EncodeMode2Form2(u.data(), 0);
  const uint8_t default_subheader[8] = {0, 0, 0x20, 0, 0, 0, 0x20, 0};
  EXPECT_EQ(std::memcmp(u.data() + 16, default_subheader, 8), 0);
  EXPECT_EQ(LoadLe32(u.data() + 2348), BitwiseEdc(u.data() + 16, 2332));
}

TEST(EccEncoderTest, SectorEdcLeavesZeroResidue) {
  // A CRC without inversion over the data followed by its little-endian value is zero.
  std::mt19937 rng(17);
  Sector s = RandomSector(rng);
  EccEncoder().EncodeMode1(s.data(), 777);
  EXPECT_EQ(EccEncoder::ComputeEdc(s.data(), 2068), 0u);
}

}  // namespace
}  // namespace sorvel
