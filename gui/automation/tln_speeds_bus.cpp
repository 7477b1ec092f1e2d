#include "gui/automation/tln_speeds_bus.h"

namespace sorvel {
namespace {

const BusInterface& SpeedsInterface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QString::fromLatin1(kTLNSpeedsInterface);
    i.doc = QStringLiteral("MMC速度コレクション");
    i.annotations.emplace_back(QStringLiteral("SORVEL.DefaultMember"), QStringLiteral("Items"));
    i.Method<TLNSpeedsBusObject>(
        QStringLiteral("Items"), {Arg(QStringLiteral("Index"), QStringLiteral("n"))}, {Result(QStringLiteral("o"))},
        QStringLiteral("アイテムの参照"), [](TLNSpeedsBusObject& self, BusCall& call) {
          const int16_t index = call.Int16(0);
          std::shared_ptr<TLNSpeed> entry = self.Speeds().SharedItem(index);
          if (entry == nullptr) {
            call.Fail(QLatin1String(kInvalidArgsError), QStringLiteral("Index %1 lies outside 1..%2")
                                                            .arg(index)
                                                            .arg(self.Speeds().Count()));
            return;
          }
          call.Reply({QVariant::fromValue(
              call.HandOutShared(entry.get(), [entry] { return std::make_shared<TLNSpeedBusObject>(entry); }))});
        });
    i.Method<TLNSpeedsBusObject>(QStringLiteral("Clear"), {}, {}, QStringLiteral("全てのアイテムを削除"),
                                 [](TLNSpeedsBusObject& self, BusCall&) { self.Speeds().Clear(); });
    i.Method<TLNSpeedsBusObject>(QStringLiteral("Delete"), {Arg(QStringLiteral("Index"), QStringLiteral("n"))},
                                 {Result(QStringLiteral("b"))}, QStringLiteral("アイテムの削除"),
                                 [](TLNSpeedsBusObject& self, BusCall& call) {
                                   call.Reply({self.Speeds().Delete(call.Int16(0))});
                                 });
    i.Method<TLNSpeedsBusObject>(
        QStringLiteral("Add"),
        {Arg(QStringLiteral("blnCAV"), QStringLiteral("b")), Arg(QStringLiteral("wSpeed"), QStringLiteral("i"))}, {},
        QString(),
        [](TLNSpeedsBusObject& self, BusCall& call) { self.Speeds().Add(call.Bool(0), call.Int32(1)); });
    i.Property<TLNSpeedsBusObject>(QStringLiteral("Count"), QStringLiteral("n"), QString(), QStringLiteral("アイテム数"),
                                   [](TLNSpeedsBusObject& self) {
                                     return Int16Value(static_cast<int16_t>(self.Speeds().Count()));
                                   });
    return i;
  }();
  return kInterface;
}

const BusInterface& SpeedInterface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QString::fromLatin1(kTLNSpeedInterface);
    i.doc = QStringLiteral("MMC速度エントリ");
    i.Property<TLNSpeedBusObject>(
        QStringLiteral("CAV"), QStringLiteral("b"), QString(), QStringLiteral("回転速度(True:CAV/False:CLV)"),
        [](TLNSpeedBusObject& self) { return QVariant(self.Speed().CAV); },
        [](TLNSpeedBusObject& self, const QVariant& value) { self.Speed().CAV = value.toBool(); });
    i.Property<TLNSpeedBusObject>(
        QStringLiteral("Speed"), QStringLiteral("i"), QString(), QString(),
        [](TLNSpeedBusObject& self) { return QVariant(self.Speed().Speed); },
        [](TLNSpeedBusObject& self, const QVariant& value) { self.Speed().Speed = value.toInt(); });
    return i;
  }();
  return kInterface;
}

}  // namespace

const BusClass& TLNSpeedsBusClass() {
  static const BusClass kClass{QStringLiteral("TLNSpeeds"), &SpeedsInterface, {}};
  return kClass;
}

const BusClass& TLNSpeedBusClass() {
  static const BusClass kClass{QStringLiteral("TLNSpeed"), &SpeedInterface, {}};
  return kClass;
}

TLNSpeedsBusObject::TLNSpeedsBusObject(std::unique_ptr<TLNSpeeds> speeds)
    : BusObject(TLNSpeedsBusClass()), speeds_(speeds != nullptr ? std::move(speeds) : std::make_unique<TLNSpeeds>()) {}

TLNSpeedBusObject::TLNSpeedBusObject(std::shared_ptr<TLNSpeed> speed)
    : BusObject(TLNSpeedBusClass()), speed_(std::move(speed)) {}

}  // namespace sorvel
