// Fuzz target: the QRNTP packet reader over an arbitrary byte stream, with
// and without a receive filter. Every read must end inside the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "native_common/qrntp_link.h"

namespace {

class XorFilter : public sorvel::PacketFilter {
 public:
  void SetSeed(const uint8_t* seed, size_t length) override { key_ = length > 0 ? seed[0] : 0; }
  void Transform(const uint8_t* source, uint8_t* destination, size_t length) override {
    for (size_t i = 0; i < length; ++i) destination[i] = source[i] ^ key_;
  }
  std::unique_ptr<PacketFilter> Clone() const override { return std::make_unique<XorFilter>(*this); }

 private:
  uint8_t key_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  XorFilter filter;
  const sorvel::PacketFilter* receive_filter = (data[0] & 1) ? &filter : nullptr;
  size_t position = 1;
  auto receive = [&](uint8_t* buffer, size_t length) {
    if (size - position < length) return false;
    std::memcpy(buffer, data + position, length);
    position += length;
    return true;
  };
  sorvel::QRNTPLink::Packet packet;
  for (int i = 0; i < 64; ++i) {
    auto result = sorvel::QRNTPLink::ReadFrom(receive, "REMOTESCSI", receive_filter, &packet);
    if (result != sorvel::QRNTPLink::ReadResult::kOwn && result != sorvel::QRNTPLink::ReadResult::kForeign) break;
    if (packet.body.size() > sorvel::kQrntpMaxBody) __builtin_trap();
  }
  return 0;
}
