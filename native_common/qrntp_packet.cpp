#include "native_common/qrntp_packet.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "native_common/little_endian.h"

namespace sorvel {

void SetQrntpName(uint8_t* field, size_t size, std::string_view name) {
  std::memset(field, 0, size);
  std::memcpy(field, name.data(), name.size() < size ? name.size() : size);
}

bool QrntpNameIs(const uint8_t* field, size_t size, std::string_view name) {
  for (size_t i = 0; i < size; ++i) {
    uint8_t want = i < name.size() ? static_cast<uint8_t>(name[i]) : 0;
    if (field[i] != want) return false;
    if (want == 0) return true;
  }
  return true;
}

namespace {

std::string FieldText(const uint8_t* field, size_t size) {
  size_t n = 0;
  while (n < size && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

}  // namespace

QRNTPHeader QRNTPHeader::Make(std::string_view subsystem, std::string_view function, uint8_t kind, uint32_t call_id) {
  QRNTPHeader h;
  SetQrntpName(h.magic, sizeof h.magic, kQrntpMagic);
  h.SetSubsystem(subsystem);
  h.SetFunction(function);
  h.kind = kind;
  h.call_id = call_id;
  return h;
}

void QRNTPHeader::Encode(uint8_t out[kQrntpHeaderSize]) const {
  PutLe16(out + 0, total_length);
  std::memcpy(out + 2, magic, 6);
  std::memcpy(out + 8, subsystem, kQrntpSubsystemSize);
  std::memcpy(out + 18, function, kQrntpFunctionSize);
  out[33] = kind;
  PutLe32(out + 34, call_id);
  PutLe32(out + 38, seed1);
  PutLe32(out + 42, seed2);
  PutLe32(out + 46, reserved);
}

QRNTPHeader QRNTPHeader::Decode(const uint8_t in[kQrntpHeaderSize]) {
  QRNTPHeader h;
  h.total_length = GetLe16(in + 0);
  std::memcpy(h.magic, in + 2, 6);
  std::memcpy(h.subsystem, in + 8, kQrntpSubsystemSize);
  std::memcpy(h.function, in + 18, kQrntpFunctionSize);
  h.kind = in[33];
  h.call_id = GetLe32(in + 34);
  h.seed1 = GetLe32(in + 38);
  h.seed2 = GetLe32(in + 42);
  h.reserved = GetLe32(in + 46);
  return h;
}

void QRNTPHeader::SetSubsystem(std::string_view name) { SetQrntpName(subsystem, sizeof subsystem, name); }
void QRNTPHeader::SetFunction(std::string_view name) { SetQrntpName(function, sizeof function, name); }
bool QRNTPHeader::MagicMatches() const { return QrntpNameIs(magic, sizeof magic, kQrntpMagic); }
bool QRNTPHeader::SubsystemIs(std::string_view name) const { return QrntpNameIs(subsystem, sizeof subsystem, name); }
bool QRNTPHeader::FunctionIs(std::string_view name) const { return QrntpNameIs(function, sizeof function, name); }
std::string QRNTPHeader::SubsystemName() const { return FieldText(subsystem, sizeof subsystem); }
std::string QRNTPHeader::FunctionName() const { return FieldText(function, sizeof function); }

void PacketRandom::Seed(uint32_t seed) {
  uint32_t s = seed;
  for (uint32_t i = 0; i < 4; ++i) {
    s = (s ^ (s >> 30)) * 1812433253u + i + 1;
    state_[i] = s;
  }
}

void PacketRandom::SetState(const uint32_t state[4]) { std::memcpy(state_, state, sizeof state_); }

uint32_t PacketRandom::Draw() {
  uint32_t x = state_[0];
  uint32_t t = x ^ (x << 11);
  state_[0] = state_[1];
  state_[1] = state_[2];
  state_[2] = state_[3];
  uint32_t w = state_[3];
  state_[3] = w ^ (w >> 19) ^ t ^ (t >> 8);
  return state_[3];
}

std::pair<uint32_t, uint32_t> PacketRandom::NextPair() {
  uint32_t words[2];
  for (uint32_t& word : words) {
    // An all-zero state would only ever give zeros; reseed it rather than loop.
    if ((state_[0] | state_[1] | state_[2] | state_[3]) == 0) Seed(static_cast<uint32_t>(std::time(nullptr)));
    while ((word = Draw()) == 0) {
      std::printf("dwRandom == 0 | dwSeed128 = %X-%X-%X-%X\n", state_[0], state_[1], state_[2], state_[3]);
      std::fflush(stdout);
    }
  }
  return {words[0], words[1]};
}

std::pair<uint32_t, uint32_t> NextPacketRandom() {
  static std::mutex mutex;
  static PacketRandom random;
  static bool seeded = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!seeded) {
    random.Seed(static_cast<uint32_t>(std::time(nullptr)));
    seeded = true;
  }
  return random.NextPair();
}

bool BuildQrntpPacket(const QRNTPHeader& header, const uint8_t* body, size_t body_length, PacketFilter* send_filter,
                      std::vector<uint8_t>* packet) {
  if (body_length > kQrntpMaxBody) return false;
  const auto seeds = NextPacketRandom();
  QRNTPHeader h = header;
  h.total_length = static_cast<uint16_t>(kQrntpHeaderSize + body_length);
  h.seed1 = 0;
  h.seed2 = 0;
  packet->resize(h.total_length);
  h.Encode(packet->data());
  if (body_length > 0) std::memcpy(packet->data() + kQrntpHeaderSize, body, body_length);
  if (send_filter != nullptr) {
    uint8_t seed[8];
    PutLe32(seed, seeds.first);
    PutLe32(seed + 4, seeds.second);
    send_filter->SetSeed(seed, sizeof seed);
    send_filter->Transform(packet->data(), packet->data(), packet->size());
    std::memcpy(packet->data() + 38, seed, sizeof seed);
  }
  return true;
}

std::string FormatQrntpLogLine(const QRNTPLogEntry& e) {
  const char* level = e.level <= 0 ? "情報" : e.level == 1 ? "警告" : "異常";
  char head[64];
  std::snprintf(head, sizeof head, "%05X ", e.code);
  return std::string(level) + " From(" + e.peer_host + ":" + std::to_string(e.peer_port) + ") To(" + e.local_host +
         ":" + std::to_string(e.local_port) + ")\t" + head + e.category + "@" + e.message + "\n";
}

void QRNTPLogSink::OnLog(const QRNTPLogEntry& entry) {
  std::string line = FormatQrntpLogLine(entry);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

namespace qrntp_log {

std::string DropText(const QRNTPHeader& h) {
  return "DROP(" + FieldText(h.subsystem, sizeof h.subsystem) + FieldText(h.function, sizeof h.function) + ")";
}

std::string BadPacketText(int where) { return "不正なパケットを受信しました(" + std::to_string(where) + ")"; }

std::string NoFunctionText(const QRNTPHeader& h) {
  return "関数 '" + FieldText(h.function, sizeof h.function) + "' が見つかりません。";
}

std::string SilenceText(long ms, int where) {
  return std::to_string(ms) + "ms間、生存確認が到達しませんでした。(" + std::to_string(where) + ")";
}

}  // namespace qrntp_log
}  // namespace sorvel
