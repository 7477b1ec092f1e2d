// The QRNTP packet: a 50-byte header (little-endian, encoded field by field)
// followed by up to 65,485 body bytes, the per-packet random pair, the packet
// filter hook and the log entry of the transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvel {

constexpr size_t kQrntpHeaderSize = 50;
constexpr size_t kQrntpMaxBody = 65535 - kQrntpHeaderSize;  // 65,485
constexpr size_t kQrntpSubsystemSize = 10;
constexpr size_t kQrntpFunctionSize = 15;

constexpr std::string_view kQrntpMagic = "QRNTP.";
constexpr std::string_view kQrntpOneWaySubsystem = "SUBSYSTEM.";
constexpr std::string_view kQrntpKeepAlive = "KEEPALIVE";
constexpr std::string_view kQrntpGetHostName = "GetHostName";
constexpr std::string_view kQrntpLetHostName = "LetHostName";

enum QrntpKind : uint8_t { kQrntpOneWay = 0, kQrntpRequest = 1, kQrntpResponse = 2 };

struct QRNTPHeader {
  uint16_t total_length = kQrntpHeaderSize;
  uint8_t magic[6] = {};
  uint8_t subsystem[kQrntpSubsystemSize] = {};
  uint8_t function[kQrntpFunctionSize] = {};
  uint8_t kind = 0;
  uint32_t call_id = 0;
  uint32_t seed1 = 0;
  uint32_t seed2 = 0;
  uint32_t reserved = 0;

  // A cleared header with magic, subsystem, function, kind and call id set.
  static QRNTPHeader Make(std::string_view subsystem, std::string_view function, uint8_t kind, uint32_t call_id);

  void Encode(uint8_t out[kQrntpHeaderSize]) const;
  static QRNTPHeader Decode(const uint8_t in[kQrntpHeaderSize]);

  // Names are copied bounded: shorter names are zero-padded, longer ones cut.
  void SetSubsystem(std::string_view name);
  void SetFunction(std::string_view name);

  // Bounded comparisons that stop at the first zero byte.
  bool MagicMatches() const;
  bool SubsystemIs(std::string_view name) const;
  bool FunctionIs(std::string_view name) const;

  // The names up to their first zero byte.
  std::string SubsystemName() const;
  std::string FunctionName() const;

  // Body bytes announced by TotalLength; meaningful only when LengthValid().
  size_t BodyLength() const { return LengthValid() ? total_length - kQrntpHeaderSize : 0; }
  bool LengthValid() const { return total_length >= kQrntpHeaderSize; }
};

// Copies `name` into a field of `size` bytes (cut or zero-padded).
void SetQrntpName(uint8_t* field, size_t size, std::string_view name);
// Whether the field equals `name` under a bounded comparison of `size` bytes
// that stops at the first zero byte.
bool QrntpNameIs(const uint8_t* field, size_t size, std::string_view name);

// Transformation of packet bytes on the wire. A link owns at most one send and
// one receive filter and works on a clone of it for every packet.
class PacketFilter {
 public:
  virtual ~PacketFilter() = default;
  virtual void SetSeed(const uint8_t* seed, size_t length) = 0;
  // In place when source == destination.
  virtual void Transform(const uint8_t* source, uint8_t* destination, size_t length) = 0;
  virtual std::unique_ptr<PacketFilter> Clone() const = 0;
};

// The process-wide xorshift128 generator of the per-packet random pair.
class PacketRandom {
 public:
  // Seeds the four state words from `seed` by the initialisation rule.
  void Seed(uint32_t seed);
  void SetState(const uint32_t state[4]);
  // One xorshift128 draw (may be zero).
  uint32_t Draw();
  // Two non-zero words; a zero draw is reported on standard output and redrawn.
  std::pair<uint32_t, uint32_t> NextPair();

 private:
  uint32_t state_[4] = {};
};

// The next pair of the process-wide generator (seeded from the time on first
// use); safe from any thread.
std::pair<uint32_t, uint32_t> NextPacketRandom();

// Builds the bytes of one TCP packet: header, then the body; with a send filter
// the whole packet is transformed with the random pair as seed and the pair is
// then written in plain at offsets 38 and 42. A random pair is drawn for every
// packet. False (nothing built) when the body exceeds kQrntpMaxBody.
bool BuildQrntpPacket(const QRNTPHeader& header, const uint8_t* body, size_t body_length, PacketFilter* send_filter,
                      std::vector<uint8_t>* packet);

// One event of the transport's log hook.
struct QRNTPLogEntry {
  int level = 0;  // 0 information, 1 warning, 2 error
  std::string peer_host;
  uint16_t peer_port = 0;
  std::string local_host;
  uint16_t local_port = 0;
  std::string category = "QRNTP";
  uint32_t code = 0;
  std::string message;
};

// The default log line: "%s From(%s:%u) To(%s:%u)\t%05X %s@%s\n".
std::string FormatQrntpLogLine(const QRNTPLogEntry& entry);

// Receiver of the transport's log events; the default prints the line to
// standard output and flushes it.
class QRNTPLogSink {
 public:
  virtual ~QRNTPLogSink() = default;
  virtual void OnLog(const QRNTPLogEntry& entry);
};

// Log codes and messages of the transport.
namespace qrntp_log {
constexpr uint32_t kConnection = 0x00001;
constexpr uint32_t kDisconnected = 0x00002;
constexpr uint32_t kDrop = 0x01001;
constexpr uint32_t kBadPacket = 0x10001;
constexpr uint32_t kNoFunction = 0x20001;
constexpr uint32_t kLinkFailure = 0x30002;
constexpr const char* kConnectedText = "コネクションを確立しました。";
constexpr const char* kAcceptedText = "コネクションを受け付けました。";
constexpr const char* kDisconnectedText = "コネクションを切断しました。";
constexpr const char* kCallFailedText = "関数の呼び出しに失敗しました。";
constexpr const char* kKeepAliveFailedText = "生存確認の送出に失敗しました。";
// "DROP(%.*s%.*s)" with the subsystem and function fields of `header`.
std::string DropText(const QRNTPHeader& header);
// "不正なパケットを受信しました(n)".
std::string BadPacketText(int where);
// "関数 '%.*s' が見つかりません。" with the function field of `header`.
std::string NoFunctionText(const QRNTPHeader& header);
// "%ldms間、生存確認が到達しませんでした。(n)".
std::string SilenceText(long ms, int where);
}  // namespace qrntp_log

}  // namespace sorvel
