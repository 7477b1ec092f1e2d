#include "gui/model/toc_information.h"

#include <QStringList>
#include <climits>

namespace sorvel {

namespace {

template <typename T>
T* At(const List<std::shared_ptr<T>>& list, int index) {
  return list.Item(index).value_or(nullptr).get();
}

// The first `length` characters of `text`, padded on the right with "0".
QString PaddedWithZeros(const QString& text, int length) {
  return text.left(length).leftJustified(length, QLatin1Char('0'));
}

// A field of decimal digits only; no value when empty, not decimal or too long.
std::optional<int64_t> DecimalField(const QString& text, int max_digits) {
  if (text.isEmpty() || text.size() > max_digits) return std::nullopt;
  int64_t value = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value;
}

}  // namespace

TOCInformation::TOCInformation(QObject* parent) : QObject(parent) { Clear(); }

TOCInformation::~TOCInformation() = default;

void TOCInformation::Clear() {
  tracks_.Clear();
  raw_.Clear();
  isrc_.Clear();
  packs_.Clear();
  mcn_ = QString::fromLatin1(kNoMCN);
}

model::TOCTrack* TOCInformation::TOC(int Index) { return At(tracks_, Index); }
const model::TOCTrack* TOCInformation::TOC(int Index) const { return const_cast<TOCInformation*>(this)->TOC(Index); }

bool TOCInformation::TOCAdd(uint8_t bytSessionNo, uint8_t bytTrackNo, uint8_t bytIndexNo, int32_t udcFlags,
                            int32_t udcSectorMode, int32_t lngStartLBA, int32_t lngEndLBA) {
  auto entry = std::make_shared<model::TOCTrack>();
  entry->SessionNo = bytSessionNo;
  entry->TrackNo = bytTrackNo;
  entry->IndexNo = bytIndexNo;
  entry->Flags = udcFlags;
  entry->SectorMode = udcSectorMode;
  entry->StartLBA = lngStartLBA;
  entry->EndLBA = lngEndLBA;
  return tracks_.AddNew(std::move(entry));
}

bool TOCInformation::TOCDelete(int Index) { return tracks_.Remove(Index); }

model::TOCRawTrack* TOCInformation::RawTOC(int Index) { return At(raw_, Index); }
const model::TOCRawTrack* TOCInformation::RawTOC(int Index) const {
  return const_cast<TOCInformation*>(this)->RawTOC(Index);
}

bool TOCInformation::RawTOCAdd(uint8_t bytSessionNo, uint8_t bytAdrControl, uint8_t bytTrack, uint8_t bytPoint,
                               uint8_t bytMinute, uint8_t bytSecond, uint8_t bytFrame, uint8_t bytZero,
                               uint8_t bytPMinute, uint8_t bytPSecond, uint8_t bytPFrame) {
  return raw_.AddNew(std::make_shared<model::TOCRawTrack>(model::TOCRawTrack{bytSessionNo, bytAdrControl, bytTrack, bytPoint,
                                                                      bytMinute, bytSecond, bytFrame, bytZero,
                                                                      bytPMinute, bytPSecond, bytPFrame}));
}

bool TOCInformation::RawTOCDelete(int Index) { return raw_.Remove(Index); }

void TOCInformation::MCN(const QString& text) { mcn_ = PaddedWithZeros(text, 13); }

QString TOCInformation::ISRC(int Index) const {
  if (Index < 1 || Index > ISRCCount()) return QString::fromLatin1(kNoISRC);
  return *isrc_.Item(Index);
}

bool TOCInformation::ISRCAdd(const QString& strISRC) { return isrc_.AddNew(PaddedWithZeros(strISRC, 12)); }

bool TOCInformation::ISRCDelete(int Index) { return isrc_.Remove(Index); }

model::TOCCDText* TOCInformation::CDText(int Index) { return At(packs_, Index); }
const model::TOCCDText* TOCInformation::CDText(int Index) const {
  return const_cast<TOCInformation*>(this)->CDText(Index);
}

bool TOCInformation::CDTextAdd(uint8_t bytPacketType, uint8_t bytTrackNo, uint8_t bytPacketNo, uint8_t bytFlags,
                               std::span<const uint8_t> bytData, std::span<const uint8_t> bytCrc) {
  auto pack = std::make_shared<model::TOCCDText>();
  pack->PacketType = bytPacketType;
  pack->TrackNo = bytTrackNo;
  pack->PacketNo = bytPacketNo;
  pack->Flags = bytFlags;
  for (size_t i = 0; i < pack->Data.size() && i < bytData.size(); ++i) pack->Data[i] = bytData[i];
  for (size_t i = 0; i < pack->Crc.size() && i < bytCrc.size(); ++i) pack->Crc[i] = bytCrc[i];
  return packs_.AddNew(std::move(pack));
}

bool TOCInformation::CDTextDelete(int Index) { return packs_.Remove(Index); }

void TOCInformation::RaiseStatus(int32_t lngStatusType, const QString& strStatus) {
  emit StatusChangeEx(lngStatusType, strStatus);
  emit StatusChange(strStatus);
}

QString TOCInformation::ByteToHexText(uint8_t value) {
  return QStringLiteral("0x") + QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

uint8_t TOCInformation::HexTextToByte(const QString& text) {
  const QString t = text.trimmed().toLower();
  if (t.size() <= 3 || !t.startsWith(QLatin1String("0x"))) return 0;
  const int high = model::HexDigitValue(t[2]);
  const int low = model::HexDigitValue(t[3]);
  if (high < 0 || low < 0) return 0;
  return static_cast<uint8_t>(high * 16 + low);
}

std::optional<int32_t> TOCInformation::MSFToLBA(const QString& text) {
  const QStringList fields = text.split(QLatin1Char(':'));
  if (fields.size() != 3) return std::nullopt;
  // Six digits of minutes keep the product inside 64 bits.
  const auto minutes = DecimalField(fields[0], 6);
  const auto seconds = DecimalField(fields[1], 2);
  const auto frames = DecimalField(fields[2], 2);
  if (!minutes || !seconds || !frames || *seconds >= 60 || *frames >= 75) return std::nullopt;
  const int64_t lba = MSFToLBA(*minutes, *seconds, *frames);
  // The sheet readers keep the frame count (LBA + 150) as a 32-bit start.
  if (lba + 150 > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(lba);
}

std::vector<platform::TocExtent> TOCInformation::TrackExtents() const {
  std::vector<platform::TocExtent> extents;
  extents.reserve(static_cast<size_t>(TOCCount()));
  for (const auto& entry : tracks_) {
    extents.push_back({entry->SessionNo, entry->TrackNo, entry->IndexNo, entry->StartLBA, entry->EndLBA});
  }
  return extents;
}

platform::TocCheck TOCInformation::CheckTrackExtents(const platform::TocBounds& bounds) const {
  return platform::CheckTocExtents(TrackExtents(), bounds);
}

}  // namespace sorvel
