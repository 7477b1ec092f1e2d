#include "testing/gui/mastering_bus_client.h"

namespace sorvel::testing {
namespace {

const QString kClass = QStringLiteral("Mastering");
const QString kInterface = QStringLiteral("SORVEL.Mastering");

}  // namespace

BusClient::BusClient(PrivateBus& bus, const QString& name) : DBusClient(bus, name) {
  on_signal = [this](const QDBusMessage& message) {
    if (message.member() != QLatin1String("Progress")) return;
    const int value = message.arguments().value(0).toInt();
    const int total = message.arguments().value(1).toInt();
    progress.emplace_back(value, total);
    if (on_progress) on_progress(value, total);
  };
}

QDBusMessage BusClient::Member(const QString& path, const QString& method, const QVariantList& arguments) {
  return Call(path, kInterface, method, arguments);
}

QString BusClient::Create() {
  const QString path = DBusClient::Create(kClass);
  if (!path.isEmpty()) Watch(path, kInterface, QStringLiteral("Progress"));
  return path;
}

QDBusMessage BusClient::Release(const QString& path) { return DBusClient::Release(kClass, path); }

QDBusMessage BusClient::CallRunning(const QString& path, const QString& method, const QVariantList& arguments) {
  return DBusClient::CallRunning(path, kInterface, method, arguments);
}

QDBusPendingCall BusClient::Send(const QString& path, const QString& method, const QVariantList& arguments) {
  return DBusClient::Send(path, kInterface, method, arguments);
}

}  // namespace sorvel::testing
