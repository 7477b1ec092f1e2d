#include "gui/automation/toc_information_bus.h"

#include <QDBusObjectPath>

#include "gui/automation/toc_records_bus.h"

namespace sorvel {
namespace {

using Self = TOCInformationBusObject;

BusArg Index() { return Arg(QStringLiteral("Index"), QStringLiteral("n")); }
BusArg Byte(const char* name) { return Arg(QLatin1String(name), QStringLiteral("y")); }
BusArg Text(const char* name) { return Arg(QLatin1String(name), QStringLiteral("s")); }
BusArg Long(const char* name, const char* enumeration = "") {
  return Arg(QLatin1String(name), QStringLiteral("i"), QLatin1String(enumeration));
}

// The record object for entry `index` of a list, or the call fails for an
// index outside the list.
template <typename R>
void HandOutEntry(BusCall& call, int16_t index, int count, std::shared_ptr<R> entry,
                  std::shared_ptr<BusObject> (*make)(std::shared_ptr<R>)) {
  if (entry == nullptr) {
    call.Fail(QLatin1String(kInvalidArgsError), QStringLiteral("Index %1 lies outside 1..%2").arg(index).arg(count));
    return;
  }
  call.Reply({QVariant::fromValue(call.HandOutShared(entry.get(), [&] { return make(entry); }))});
}

QVariant Count(int count) { return Int16Value(static_cast<int16_t>(count)); }

// An entry that a full list did not take fails the call.
void Added(BusCall& call, bool added) {
  if (!added) call.Fail(QLatin1String(kLimitsExceededError), QStringLiteral("The list is full"));
}

const BusInterface& Interface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QString::fromLatin1(kTOCInformationInterface);
    i.enumerations = {QStringLiteral("SectorModeConstants"), QStringLiteral("TrackControlFieldConstants")};
    const BusArg ok = Result(QStringLiteral("b"));
    i.Method<Self>(QStringLiteral("Clear"), {}, {}, QString(), [](Self& self, BusCall&) { self.Toc().Clear(); });
    i.Method<Self>(QStringLiteral("TOC"), {Index()}, {Result(QStringLiteral("o"))}, QString(),
                   [](Self& self, BusCall& call) {
                     const int16_t index = call.Int16(0);
                     HandOutEntry(call, index, self.Toc().TOCCount(), self.Toc().SharedTOC(index), &MakeTOCTrackObject);
                   });
    i.Method<Self>(QStringLiteral("TOCAdd"),
                   {Byte("bytSessionNo"), Byte("bytTrackNo"), Byte("bytIndexNo"),
                    Long("udcFlags", "TrackControlFieldConstants"), Long("udcSectorMode", "SectorModeConstants"),
                    Long("lngStartLBA"), Long("lngEndLBA")},
                   {}, QString(), [](Self& self, BusCall& call) {
                     Added(call, self.Toc().TOCAdd(call.Byte(0), call.Byte(1), call.Byte(2), call.Int32(3),
                                                   call.Int32(4), call.Int32(5), call.Int32(6)));
                   });
    i.Method<Self>(QStringLiteral("TOCDelete"), {Index()}, {ok}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().TOCDelete(call.Int16(0))}); });
    i.Method<Self>(QStringLiteral("RawTOC"), {Index()}, {Result(QStringLiteral("o"))}, QString(),
                   [](Self& self, BusCall& call) {
                     const int16_t index = call.Int16(0);
                     HandOutEntry(call, index, self.Toc().RawTOCCount(), self.Toc().SharedRawTOC(index),
                                  &MakeTOCRawTrackObject);
                   });
    i.Method<Self>(QStringLiteral("RawTOCAdd"),
                   {Byte("bytSessionNo"), Byte("bytAdrControl"), Byte("bytTrack"), Byte("bytPoint"), Byte("bytMinute"),
                    Byte("bytSecond"), Byte("bytFrame"), Byte("bytZero"), Byte("bytPMinute"), Byte("bytPSecond"),
                    Byte("bytPFrame")},
                   {}, QString(), [](Self& self, BusCall& call) {
                     Added(call, self.Toc().RawTOCAdd(call.Byte(0), call.Byte(1), call.Byte(2), call.Byte(3),
                                                      call.Byte(4), call.Byte(5), call.Byte(6), call.Byte(7),
                                                      call.Byte(8), call.Byte(9), call.Byte(10)));
                   });
    i.Method<Self>(QStringLiteral("RawTOCDelete"), {Index()}, {ok}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().RawTOCDelete(call.Int16(0))}); });
    i.Method<Self>(QStringLiteral("ISRC"), {Index()}, {Result(QStringLiteral("s"))}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().ISRC(call.Int16(0))}); });
    i.Method<Self>(QStringLiteral("ISRCAdd"), {Text("strISRC")}, {}, QString(),
                   [](Self& self, BusCall& call) { Added(call, self.Toc().ISRCAdd(call.String(0))); });
    i.Method<Self>(QStringLiteral("ISRCDelete"), {Index()}, {ok}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().ISRCDelete(call.Int16(0))}); });
    i.Method<Self>(QStringLiteral("CDText"), {Index()}, {Result(QStringLiteral("o"))}, QString(),
                   [](Self& self, BusCall& call) {
                     const int16_t index = call.Int16(0);
                     HandOutEntry(call, index, self.Toc().CDTextCount(), self.Toc().SharedCDText(index),
                                  &MakeTOCCDTextObject);
                   });
    // Arrays shorter than 12 data or 2 CRC bytes leave the missing bytes 0;
    // bytes beyond them are not read.
    i.Method<Self>(QStringLiteral("CDTextAdd"),
                   {Byte("bytPacketType"), Byte("bytTrackNo"), Byte("bytPacketNo"), Byte("bytFlags"),
                    Arg(QStringLiteral("bytData"), QStringLiteral("ay")),
                    Arg(QStringLiteral("bytCrc"), QStringLiteral("ay"))},
                   {}, QString(), [](Self& self, BusCall& call) {
                     const QByteArray data = call.Bytes(4);
                     const QByteArray crc = call.Bytes(5);
                     const auto bytes = [](const QByteArray& array) {
                       return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(array.constData()),
                                                       static_cast<size_t>(array.size()));
                     };
                     Added(call, self.Toc().CDTextAdd(call.Byte(0), call.Byte(1), call.Byte(2), call.Byte(3),
                                                      bytes(data), bytes(crc)));
                   });
    i.Method<Self>(QStringLiteral("CDTextDelete"), {Index()}, {ok}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().CDTextDelete(call.Int16(0))}); });
    i.Method<Self>(QStringLiteral("SaveCUEFile"),
                   {Text("strFileName"), Text("strImageFileName"), Text("strCDTextFileName"), Long("lngSectorSize")},
                   {ok}, QString(), [](Self& self, BusCall& call) {
                     call.Reply({self.Toc().SaveCUEFile(call.String(0), call.String(1), call.String(2), call.Int32(3))});
                   });
    i.Method<Self>(QStringLiteral("SaveCUEFile"),
                   {Text("strFileName"), Text("strImageFileName"), Text("strCDTextFileName")}, {ok}, QString(),
                   [](Self& self, BusCall& call) {
                     call.Reply({self.Toc().SaveCUEFile(call.String(0), call.String(1), call.String(2))});
                   });
    i.Method<Self>(QStringLiteral("SaveCCDFile"), {Text("strFileName")}, {ok}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().SaveCCDFile(call.String(0))}); });
    i.Method<Self>(QStringLiteral("LoadISOFile"), {Text("strFileName"), Long("lngSectorSize")},
                   {ok, Long("lngSectorSize")}, QString(), [](Self& self, BusCall& call) {
                     int32_t sector_size = call.Int32(1);
                     const bool loaded = self.Toc().LoadISOFile(call.String(0), sector_size);
                     call.Reply({loaded, sector_size});
                   });
    i.Method<Self>(QStringLiteral("LoadCUEFile"),
                   {Text("strFileName"), Text("strImageFileName"), Long("lngSectorSize")},
                   {ok, Text("strImageFileName"), Long("lngSectorSize")}, QString(), [](Self& self, BusCall& call) {
                     QString image = call.String(1);
                     int32_t sector_size = call.Int32(2);
                     const bool loaded = self.Toc().LoadCUEFile(call.String(0), image, sector_size);
                     call.Reply({loaded, image, sector_size});
                   });
    i.Method<Self>(QStringLiteral("LoadCCDFile"), {Text("strFileName")}, {ok}, QString(),
                   [](Self& self, BusCall& call) { call.Reply({self.Toc().LoadCCDFile(call.String(0))}); });
    i.Signal(QStringLiteral("StatusChange"), {Text("strStatus")});
    i.Signal(QStringLiteral("StatusChangeEx"), {Long("lngStatusType"), Text("strStatus")});
    i.Property<Self>(QStringLiteral("TOCCount"), QStringLiteral("n"), QString(), QString(),
                     [](Self& self) { return Count(self.Toc().TOCCount()); });
    i.Property<Self>(QStringLiteral("RawTOCCount"), QStringLiteral("n"), QString(), QString(),
                     [](Self& self) { return Count(self.Toc().RawTOCCount()); });
    i.Property<Self>(
        QStringLiteral("MCN"), QStringLiteral("s"), QString(), QString(),
        [](Self& self) { return QVariant(self.Toc().MCN()); },
        [](Self& self, const QVariant& value) { self.Toc().MCN(value.toString()); });
    i.Property<Self>(QStringLiteral("ISRCCount"), QStringLiteral("n"), QString(), QString(),
                     [](Self& self) { return Count(self.Toc().ISRCCount()); });
    i.Property<Self>(QStringLiteral("CDTextCount"), QStringLiteral("n"), QString(), QString(),
                     [](Self& self) { return Count(self.Toc().CDTextCount()); });
    return i;
  }();
  return kInterface;
}

}  // namespace

const BusClass& TOCInformationBusClass() {
  static const BusClass kClass{QStringLiteral("TOCInformation"), &Interface,
                               [] { return std::make_shared<TOCInformationBusObject>(); }, 0, 0, true};
  return kClass;
}

TOCInformationBusObject::TOCInformationBusObject(std::unique_ptr<TOCInformation> toc)
    : BusObject(TOCInformationBusClass()), toc_(toc != nullptr ? std::move(toc) : std::make_unique<TOCInformation>()) {
  // Direct: the readers run on the object's worker, and their reports go out
  // from there before the reader's answer.
  QObject::connect(
      toc_.get(), &TOCInformation::StatusChangeEx, toc_.get(),
      [this](int32_t type, const QString& text) { Emit(QStringLiteral("StatusChangeEx"), {type, text}); },
      Qt::DirectConnection);
  QObject::connect(
      toc_.get(), &TOCInformation::StatusChange, toc_.get(),
      [this](const QString& text) { Emit(QStringLiteral("StatusChange"), {text}); }, Qt::DirectConnection);
}

}  // namespace sorvel
