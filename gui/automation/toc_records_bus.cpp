#include "gui/automation/toc_records_bus.h"

#include <array>

namespace sorvel {
namespace {

template <typename R>
void ByteProperty(BusInterface& i, const char* name, uint8_t R::*field) {
  i.Property<TOCRecordBusObject<R>>(
      QLatin1String(name), QStringLiteral("y"), QString(), QString(),
      [field](TOCRecordBusObject<R>& self) { return ByteValue(self.Record().*field); },
      [field](TOCRecordBusObject<R>& self, const QVariant& value) { self.Record().*field = value.value<uchar>(); });
}

template <typename R>
void LongProperty(BusInterface& i, const char* name, int32_t R::*field, const char* enumeration = "") {
  i.Property<TOCRecordBusObject<R>>(
      QLatin1String(name), QStringLiteral("i"), QLatin1String(enumeration), QString(),
      [field](TOCRecordBusObject<R>& self) { return QVariant(self.Record().*field); },
      [field](TOCRecordBusObject<R>& self, const QVariant& value) { self.Record().*field = value.toInt(); });
}

const BusInterface& TrackInterface() {
  static const BusInterface kInterface = [] {
    using model::TOCTrack;
    BusInterface i;
    i.name = QString::fromLatin1(kTOCTrackInterface);
    i.enumerations = {QStringLiteral("SectorModeConstants"), QStringLiteral("TrackControlFieldConstants")};
    ByteProperty(i, "SessionNo", &TOCTrack::SessionNo);
    ByteProperty(i, "TrackNo", &TOCTrack::TrackNo);
    ByteProperty(i, "IndexNo", &TOCTrack::IndexNo);
    LongProperty(i, "Flags", &TOCTrack::Flags, "TrackControlFieldConstants");
    LongProperty(i, "SectorMode", &TOCTrack::SectorMode, "SectorModeConstants");
    LongProperty(i, "StartLBA", &TOCTrack::StartLBA);
    LongProperty(i, "EndLBA", &TOCTrack::EndLBA);
    return i;
  }();
  return kInterface;
}

const BusInterface& RawTrackInterface() {
  static const BusInterface kInterface = [] {
    using model::TOCRawTrack;
    BusInterface i;
    i.name = QString::fromLatin1(kTOCRawTrackInterface);
    ByteProperty(i, "SessionNo", &TOCRawTrack::SessionNo);
    ByteProperty(i, "AdrControl", &TOCRawTrack::AdrControl);
    ByteProperty(i, "Track", &TOCRawTrack::Track);
    ByteProperty(i, "Point", &TOCRawTrack::Point);
    ByteProperty(i, "Minute", &TOCRawTrack::Minute);
    ByteProperty(i, "Second", &TOCRawTrack::Second);
    ByteProperty(i, "Frame", &TOCRawTrack::Frame);
    ByteProperty(i, "Zero", &TOCRawTrack::Zero);
    ByteProperty(i, "PMinute", &TOCRawTrack::PMinute);
    ByteProperty(i, "PSecond", &TOCRawTrack::PSecond);
    ByteProperty(i, "PFrame", &TOCRawTrack::PFrame);
    i.Property<TOCRawTrackBusObject>(QStringLiteral("LBA"), QStringLiteral("i"), QString(), QString(),
                                     [](TOCRawTrackBusObject& self) { return QVariant(self.Record().LBA()); });
    i.Property<TOCRawTrackBusObject>(QStringLiteral("PLBA"), QStringLiteral("i"), QString(), QString(),
                                     [](TOCRawTrackBusObject& self) { return QVariant(self.Record().PLBA()); });
    return i;
  }();
  return kInterface;
}

// An indexed byte property of a pack (Data or Crc): the let form (index and
// value) first, then the get form. An index outside the array fails the call.
template <size_t N>
void IndexedByte(BusInterface& i, const char* name, std::array<uint8_t, N> model::TOCCDText::*field) {
  const auto element = [field](TOCCDTextBusObject& self, BusCall& call) -> uint8_t* {
    const int16_t index = call.Int16(0);
    if (index < 0 || index >= static_cast<int>(N)) {
      call.Fail(QLatin1String(kInvalidArgsError), QStringLiteral("Index %1 lies outside 0..%2").arg(index).arg(N - 1));
      return nullptr;
    }
    return &(self.Record().*field)[static_cast<size_t>(index)];
  };
  const BusArg index = Arg(QStringLiteral("Index"), QStringLiteral("n"));
  i.Method<TOCCDTextBusObject>(QLatin1String(name), {index, Arg(QStringLiteral("Value"), QStringLiteral("y"))}, {},
                               QString(), [element](TOCCDTextBusObject& self, BusCall& call) {
                                 if (uint8_t* byte = element(self, call)) *byte = call.Byte(1);
                               });
  i.Method<TOCCDTextBusObject>(QLatin1String(name), {index}, {Result(QStringLiteral("y"))}, QString(),
                               [element](TOCCDTextBusObject& self, BusCall& call) {
                                 if (uint8_t* byte = element(self, call)) call.Reply({ByteValue(*byte)});
                               });
}

const BusInterface& CDTextInterface() {
  static const BusInterface kInterface = [] {
    using model::TOCCDText;
    BusInterface i;
    i.name = QString::fromLatin1(kTOCCDTextInterface);
    IndexedByte(i, "Data", &TOCCDText::Data);
    IndexedByte(i, "Crc", &TOCCDText::Crc);
    ByteProperty(i, "PacketType", &TOCCDText::PacketType);
    ByteProperty(i, "TrackNo", &TOCCDText::TrackNo);
    ByteProperty(i, "PacketNo", &TOCCDText::PacketNo);
    ByteProperty(i, "Flags", &TOCCDText::Flags);
    return i;
  }();
  return kInterface;
}

}  // namespace

const BusClass& TOCTrackBusClass() {
  // A record changes an entry of the TOC that handed it out.
  static const BusClass kClass{QStringLiteral("TOCTrack"), &TrackInterface, [] { return MakeTOCTrackObject(nullptr); },
                               0, 0, true};
  return kClass;
}

const BusClass& TOCRawTrackBusClass() {
  static const BusClass kClass{QStringLiteral("TOCRawTrack"), &RawTrackInterface,
                               [] { return MakeTOCRawTrackObject(nullptr); }, 0, 0, true};
  return kClass;
}

const BusClass& TOCCDTextBusClass() {
  static const BusClass kClass{QStringLiteral("TOCCDText"), &CDTextInterface,
                               [] { return MakeTOCCDTextObject(nullptr); }, 0, 0, true};
  return kClass;
}

std::shared_ptr<BusObject> MakeTOCTrackObject(std::shared_ptr<model::TOCTrack> record) {
  return std::make_shared<TOCTrackBusObject>(TOCTrackBusClass(), std::move(record));
}

std::shared_ptr<BusObject> MakeTOCRawTrackObject(std::shared_ptr<model::TOCRawTrack> record) {
  return std::make_shared<TOCRawTrackBusObject>(TOCRawTrackBusClass(), std::move(record));
}

std::shared_ptr<BusObject> MakeTOCCDTextObject(std::shared_ptr<model::TOCCDText> record) {
  return std::make_shared<TOCCDTextBusObject>(TOCCDTextBusClass(), std::move(record));
}

}  // namespace sorvel
