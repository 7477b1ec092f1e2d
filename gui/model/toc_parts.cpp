#include "gui/model/toc_parts.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <span>

#include "gui/model/engine_text.h"

namespace sorvel {
namespace {

constexpr int32_t kMcnBytes = 13;
constexpr int32_t kIsrcBytes = 12;

constexpr TocPartShape kShapes[kTocPartCount] = {
    {13, 256, 3330, 3330},  // track entries
    {11, 128, 1410, 1410},  // raw TOC entries
    {0, 1, kMcnBytes, kMcnBytes + 1},
    {kIsrcBytes, 100, 1202, 1202},
    {18, 512, 9218, 9218},  // CD-Text packs
};

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

void PutLe32(uint8_t* p, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Entries of a counted part that the copied bytes really hold.
int32_t EntryCount(const TocPartShape& shape, const QByteArray& buffer, int32_t copied) {
  if (copied < 2) return 0;
  const auto* p = reinterpret_cast<const uint8_t*>(buffer.constData());
  const int32_t stated = p[0] | p[1] << 8;
  const int32_t held = (std::min(copied, shape.read_size) - 2) / shape.entry_size;
  return std::min({stated, shape.capacity, held});
}

int ListCount(const TOCInformation& toc, int32_t part) {
  switch (part) {
    case 0: return toc.TOCCount();
    case 1: return toc.RawTOCCount();
    case 3: return toc.ISRCCount();
    case 4: return toc.CDTextCount();
    default: return 0;
  }
}

// Starts a counted part's buffer with `count` (at most its capacity).
int32_t BeginCounted(QByteArray& buffer, const TocPartShape& shape, int count) {
  const int32_t n = std::clamp(count, 0, shape.capacity);
  buffer.fill('\0', shape.write_size);
  buffer[0] = static_cast<char>(n & 0xFF);
  buffer[1] = static_cast<char>(n >> 8);
  return n;
}

}  // namespace

const TocPartShape& TocPart(int32_t part) { return kShapes[std::clamp(part, 0, kTocPartCount - 1)]; }

std::unique_ptr<TOCInformation> ReadTocParts(const TocPartReader& read) {
  auto toc = std::make_unique<TOCInformation>();
  QByteArray buffer;
  auto fetch = [&](int32_t part) {
    buffer.fill('\0', kShapes[part].read_size);
    return read(part, buffer.data(), kShapes[part].read_size);
  };
  auto bytes = [&] { return reinterpret_cast<const uint8_t*>(buffer.constData()); };

  if (int32_t copied = fetch(0); copied > 0) {
    const int32_t n = EntryCount(kShapes[0], buffer, copied);
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* e = bytes() + 2 + i * kShapes[0].entry_size;
      toc->TOCAdd(e[0], e[1], e[2], e[3], e[4], Le32(e + 5), Le32(e + 9));
    }
  }
  if (int32_t copied = fetch(1); copied > 0) {
    const int32_t n = EntryCount(kShapes[1], buffer, copied);
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* e = bytes() + 2 + i * kShapes[1].entry_size;
      toc->RawTOCAdd(e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], e[8], e[9], e[10]);
    }
  }
  if (int32_t copied = fetch(2); copied > 0) {
    const char* mcn = buffer.constData();
    toc->MCN(mcn[0] == 0 || mcn[1] == 0 ? QString() : TextFromBuffer(mcn, kMcnBytes));
  }
  if (int32_t copied = fetch(3); copied > 0) {
    const int32_t n = EntryCount(kShapes[3], buffer, copied);
    for (int32_t i = 0; i < n; ++i) {
      const char* e = buffer.constData() + 2 + i * kIsrcBytes;
      toc->ISRCAdd(e[0] == 0 ? QString() : CodeFromBytes(e, strnlen(e, kIsrcBytes)));
    }
  }
  if (int32_t copied = fetch(4); copied > 0) {
    const int32_t n = EntryCount(kShapes[4], buffer, copied);
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* e = bytes() + 2 + i * kShapes[4].entry_size;
      toc->CDTextAdd(e[0], e[1], e[2], e[3], std::span<const uint8_t>(e + 4, 12), std::span<const uint8_t>(e + 16, 2));
    }
  }
  return toc;
}

int32_t OverfullTocPart(const TOCInformation& toc) {
  for (int32_t part : {0, 1, 3, 4}) {
    if (ListCount(toc, part) > kShapes[part].capacity) return part;
  }
  return -1;
}

QString TocWriteLimitText(const TOCInformation& toc) {
  if (toc.TOCCount() > kMaxWriteTocEntries) {
    return QStringLiteral("TOCの項目が多すぎます (%1 項目、書き込めるのは %2 項目までです)。")
        .arg(toc.TOCCount())
        .arg(kMaxWriteTocEntries);
  }
  switch (OverfullTocPart(toc)) {
    case 1:
      return QStringLiteral("RawTOCの項目が多すぎます (%1 項目、扱えるのは %2 項目までです)。")
          .arg(toc.RawTOCCount())
          .arg(kShapes[1].capacity);
    case 3:
      return QStringLiteral("ISRCが多すぎます (%1 個、扱えるのは %2 個までです)。")
          .arg(toc.ISRCCount())
          .arg(kShapes[3].capacity);
    case 4:
      return QStringLiteral("CD-TEXTのパックが多すぎます (%1 パック、書き込めるのは %2 パックまでです)。")
          .arg(toc.CDTextCount())
          .arg(kShapes[4].capacity);
    default:
      return {};
  }
}

bool WriteTocParts(const TOCInformation& toc, const TocPartWriter& write) {
  if (OverfullTocPart(toc) >= 0) return false;
  QByteArray buffer;
  auto entry = [&](int32_t part, int32_t i) {
    return reinterpret_cast<uint8_t*>(buffer.data()) + 2 + i * kShapes[part].entry_size;
  };

  int32_t n = BeginCounted(buffer, kShapes[0], toc.TOCCount());
  for (int32_t i = 0; i < n; ++i) {
    const model::TOCTrack& t = *toc.TOC(i + 1);
    uint8_t* e = entry(0, i);
    e[0] = t.SessionNo;
    e[1] = t.TrackNo;
    e[2] = t.IndexNo;
    e[3] = static_cast<uint8_t>(t.Flags);
    e[4] = static_cast<uint8_t>(t.SectorMode);
    PutLe32(e + 5, t.StartLBA);
    PutLe32(e + 9, t.EndLBA);
  }
  write(0, buffer.constData(), kShapes[0].write_size);

  n = BeginCounted(buffer, kShapes[1], toc.RawTOCCount());
  for (int32_t i = 0; i < n; ++i) {
    const model::TOCRawTrack& r = *toc.RawTOC(i + 1);
    const uint8_t fields[11] = {r.SessionNo, r.AdrControl, r.Track,  r.Point,   r.Minute, r.Second,
                                r.Frame,     r.Zero,       r.PMinute, r.PSecond, r.PFrame};
    std::memcpy(entry(1, i), fields, sizeof fields);
  }
  write(1, buffer.constData(), kShapes[1].write_size);

  buffer.fill('\0', kShapes[2].write_size);
  if (toc.MCN() != QLatin1String(TOCInformation::kNoMCN)) CodeToBytes(toc.MCN(), buffer.data(), kMcnBytes);
  write(2, buffer.constData(), kShapes[2].write_size);

  n = BeginCounted(buffer, kShapes[3], toc.ISRCCount());
  for (int32_t i = 0; i < n; ++i) {
    const QString isrc = toc.ISRC(i + 1);
    if (isrc != QLatin1String(TOCInformation::kNoISRC)) {
      CodeToBytes(isrc, reinterpret_cast<char*>(entry(3, i)), kIsrcBytes);
    }
  }
  write(3, buffer.constData(), kShapes[3].write_size);

  n = BeginCounted(buffer, kShapes[4], toc.CDTextCount());
  for (int32_t i = 0; i < n; ++i) {
    const model::TOCCDText& c = *toc.CDText(i + 1);
    uint8_t* e = entry(4, i);
    e[0] = c.PacketType;
    e[1] = c.TrackNo;
    e[2] = c.PacketNo;
    e[3] = c.Flags;
    std::memcpy(e + 4, c.Data.data(), 12);
    std::memcpy(e + 16, c.Crc.data(), 2);
  }
  write(4, buffer.constData(), kShapes[4].write_size);
  return true;
}

}  // namespace sorvel
