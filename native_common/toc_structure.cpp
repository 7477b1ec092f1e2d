#include "native_common/toc_structure.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace sorvel {

namespace {

void StoreInt32(uint8_t* out, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
  out[2] = static_cast<uint8_t>(v >> 16);
  out[3] = static_cast<uint8_t>(v >> 24);
}

int32_t LoadInt32(const uint8_t* in) {
  return static_cast<int32_t>(uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 |
                              uint32_t{in[3]} << 24);
}

int LoadCount(const uint8_t* in) { return static_cast<int16_t>(static_cast<uint16_t>(in[0] | in[1] << 8)); }

void StoreCount(uint8_t* out, int count) {
  out[0] = static_cast<uint8_t>(count);
  out[1] = static_cast<uint8_t>(count >> 8);
}

[[noreturn]] void ThrowOutOfRange() { throw std::out_of_range("out of range"); }

}  // namespace

void TOCTrack::Store(uint8_t* out) const {
  out[0] = SessionNo;
  out[1] = TrackNo;
  out[2] = IndexNo;
  out[3] = Flags;
  out[4] = SectorMode;
  StoreInt32(out + 5, StartLBA);
  StoreInt32(out + 9, EndLBA);
}

TOCTrack TOCTrack::Load(const uint8_t* in) {
  TOCTrack t;
  t.SessionNo = in[0];
  t.TrackNo = in[1];
  t.IndexNo = in[2];
  t.Flags = in[3];
  t.SectorMode = in[4];
  t.StartLBA = LoadInt32(in + 5);
  t.EndLBA = LoadInt32(in + 9);
  return t;
}

void TOCRawTrack::Store(uint8_t* out) const {
  const uint8_t fields[kSize] = {SessionNo, AdrControl, Track, Point, Minute, Second,
                                 Frame,     Zero,       PMinute, PSecond, PFrame};
  std::memcpy(out, fields, kSize);
}

TOCRawTrack TOCRawTrack::Load(const uint8_t* in) {
  TOCRawTrack r;
  r.SessionNo = in[0];
  r.AdrControl = in[1];
  r.Track = in[2];
  r.Point = in[3];
  r.Minute = in[4];
  r.Second = in[5];
  r.Frame = in[6];
  r.Zero = in[7];
  r.PMinute = in[8];
  r.PSecond = in[9];
  r.PFrame = in[10];
  return r;
}

void TOCCDText::Store(uint8_t* out) const {
  out[0] = PacketType;
  out[1] = TrackNo;
  out[2] = PacketNo;
  out[3] = Flags;
  std::memcpy(out + 4, Data.data(), Data.size());
  std::memcpy(out + 16, Crc.data(), Crc.size());
}

TOCCDText TOCCDText::Load(const uint8_t* in) {
  TOCCDText p;
  p.PacketType = in[0];
  p.TrackNo = in[1];
  p.PacketNo = in[2];
  p.Flags = in[3];
  std::memcpy(p.Data.data(), in + 4, p.Data.size());
  std::memcpy(p.Crc.data(), in + 16, p.Crc.size());
  return p;
}

void TocStructure::Clear() { *this = TocStructure(); }

TocStructure::PartShape TocStructure::Shape(int32_t part) {
  switch (part) {
    case TST_TOC:
      return {TOCTrack::kSize, kTrackCapacity, kTrackPartSize};
    case TST_RAWTOC:
      return {TOCRawTrack::kSize, kRawTrackCapacity, kRawTrackPartSize};
    case TST_ISRC:
      return {kIsrcSize, kIsrcCapacity, kIsrcPartSize};
    case TST_CDTEXT:
      return {TOCCDText::kSize, kCdTextCapacity, kCdTextPartSize};
    default:
      return {0, 0, 0};
  }
}

const uint8_t* TocStructure::CountedPart(int32_t part) const {
  switch (part) {
    case TST_TOC:
      return tracks_.data();
    case TST_RAWTOC:
      return raw_tracks_.data();
    case TST_ISRC:
      return isrcs_.data();
    case TST_CDTEXT:
      return cd_texts_.data();
    default:
      return nullptr;
  }
}

uint8_t* TocStructure::CountedPart(int32_t part) {
  return const_cast<uint8_t*>(std::as_const(*this).CountedPart(part));
}

const uint8_t* TocStructure::Entry(int32_t part, int index) const {
  const uint8_t* bytes = CountedPart(part);
  const PartShape shape = Shape(part);
  if (bytes == nullptr || index < 0 || index >= shape.capacity) ThrowOutOfRange();
  return bytes + 2 + static_cast<size_t>(index) * shape.entry_size;
}

uint8_t* TocStructure::Entry(int32_t part, int index) {
  return const_cast<uint8_t*>(std::as_const(*this).Entry(part, index));
}

int TocStructure::Count(int32_t part) const {
  const uint8_t* bytes = CountedPart(part);
  return bytes == nullptr ? 0 : LoadCount(bytes);
}

bool TocStructure::SetCount(int32_t part, int count) {
  uint8_t* bytes = CountedPart(part);
  if (bytes == nullptr) return false;
  StoreCount(bytes, std::clamp(count, 0, Shape(part).capacity));
  return true;
}

int32_t TocStructure::GetPart(int32_t part, void* buffer, int32_t size) const {
  if (buffer == nullptr) return 0;
  if (part == TST_MCN) {
    size = std::min<int32_t>(size, static_cast<int32_t>(kMcnSize));
    if (size < 1) return 0;
    std::memcpy(buffer, mcn_.data(), static_cast<size_t>(size));
    return size;
  }
  const uint8_t* bytes = CountedPart(part);
  if (bytes == nullptr) return 0;
  const int32_t used = 2 + LoadCount(bytes) * static_cast<int32_t>(Shape(part).entry_size);
  size = std::min(size, used);
  if (size < 3) return 0;
  std::memcpy(buffer, bytes, static_cast<size_t>(size));
  return size;
}

int32_t TocStructure::SetPart(int32_t part, const void* buffer, int32_t size) {
  if (buffer == nullptr) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  if (part == TST_MCN) {
    if (size < static_cast<int32_t>(kMcnSize) + 1) return 0;
    std::memcpy(mcn_.data(), in, kMcnSize);
    return static_cast<int32_t>(kMcnSize);
  }
  uint8_t* bytes = CountedPart(part);
  if (bytes == nullptr || size < 3) return 0;
  const PartShape shape = Shape(part);
  size = std::min(size, shape.max_size);
  std::memcpy(bytes + 2, in + 2, static_cast<size_t>(size - 2));
  // A count beyond the capacity or beyond the entries supplied is cut down.
  const int covered = (size - 2) / static_cast<int>(shape.entry_size);
  StoreCount(bytes, std::clamp(LoadCount(in), 0, std::min(shape.capacity, covered)));
  return size;
}

TOCTrack TocStructure::Track(int index) const { return TOCTrack::Load(Entry(TST_TOC, index)); }
void TocStructure::SetTrack(int index, const TOCTrack& track) { track.Store(Entry(TST_TOC, index)); }
bool TocStructure::AddTrack(const TOCTrack& track) {
  const int n = Count(TST_TOC);
  if (n >= kTrackCapacity) return false;
  SetTrack(n, track);
  return SetCount(TST_TOC, n + 1);
}

TOCRawTrack TocStructure::RawTrack(int index) const { return TOCRawTrack::Load(Entry(TST_RAWTOC, index)); }
void TocStructure::SetRawTrack(int index, const TOCRawTrack& raw) { raw.Store(Entry(TST_RAWTOC, index)); }
bool TocStructure::AddRawTrack(const TOCRawTrack& raw) {
  const int n = Count(TST_RAWTOC);
  if (n >= kRawTrackCapacity) return false;
  SetRawTrack(n, raw);
  return SetCount(TST_RAWTOC, n + 1);
}

IsrcCode TocStructure::Isrc(int index) const {
  IsrcCode code;
  std::memcpy(code.data(), Entry(TST_ISRC, index), kIsrcSize);
  return code;
}
void TocStructure::SetIsrc(int index, const IsrcCode& isrc) {
  std::memcpy(Entry(TST_ISRC, index), isrc.data(), kIsrcSize);
}

TOCCDText TocStructure::CdText(int index) const { return TOCCDText::Load(Entry(TST_CDTEXT, index)); }
void TocStructure::SetCdText(int index, const TOCCDText& pack) { pack.Store(Entry(TST_CDTEXT, index)); }
bool TocStructure::AddCdText(const TOCCDText& pack) {
  const int n = Count(TST_CDTEXT);
  if (n >= kCdTextCapacity) return false;
  SetCdText(n, pack);
  return SetCount(TST_CDTEXT, n + 1);
}

McnCode TocStructure::Mcn() const {
  McnCode code;
  std::memcpy(code.data(), mcn_.data(), kMcnSize);
  return code;
}
void TocStructure::SetMcn(const McnCode& mcn) { std::memcpy(mcn_.data(), mcn.data(), kMcnSize); }

int TocStructure::LastSession() const {
  const int n = Count(TST_TOC);
  return n == 0 ? 0 : Track(n - 1).SessionNo;
}

int32_t TocStructure::SessionEndLBA(int session) const {
  for (int i = Count(TST_TOC) - 1; i >= 0; --i) {
    const TOCTrack t = Track(i);
    if (t.SessionNo == session) return t.EndLBA;
  }
  return 0;
}

bool TocStructure::MakeSingleTrackToc(uint8_t mode, int32_t length) {
  if (length <= 0) return false;
  Clear();
  TOCTrack t;
  t.SessionNo = 1;
  t.TrackNo = 1;
  t.IndexNo = 1;
  t.Flags = mode != SMC_AUDIO ? TCF_DATATRACK : 0;
  t.SectorMode = mode;
  t.StartLBA = 0;
  t.EndLBA = length - 1;
  return AddTrack(t);
}

}  // namespace sorvel
