#include "testing/gui/dbus_client.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace sorvel::testing {

DBusClient::DBusClient(PrivateBus& bus, const QString& name, const QString& service)
    : connection_(bus.Connect(name)), name_(name), service_(service) {}

QDBusMessage DBusClient::Call(const QString& path, const QString& interface, const QString& method,
                             const QVariantList& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(service_, path, interface, method);
  message.setArguments(arguments);
  return connection_.call(message, QDBus::Block, kCallTimeoutMs);
}

QDBusMessage DBusClient::CallRunning(const QString& path, const QString& interface, const QString& method,
                                    const QVariantList& arguments) {
  QDBusPendingCallWatcher watcher(Send(path, interface, method, arguments));
  QEventLoop loop;
  QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(kCallTimeoutMs, &loop, &QEventLoop::quit);
  if (!watcher.isFinished()) loop.exec();
  // Signals sent before the answer may still wait in the queue.
  QCoreApplication::processEvents();
  return watcher.reply();
}

QDBusPendingCall DBusClient::Send(const QString& path, const QString& interface, const QString& method,
                                 const QVariantList& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(service_, path, interface, method);
  message.setArguments(arguments);
  return connection_.asyncCall(message, kCallTimeoutMs);
}

QString DBusClient::Create(const QString& class_name, bool running) {
  const QString path = QStringLiteral("/SORVEL/") + class_name;
  const QString interface = QStringLiteral("SORVEL.") + class_name + QStringLiteral(".Factory");
  const QDBusMessage reply = running ? CallRunning(path, interface, QStringLiteral("Create"))
                                     : Call(path, interface, QStringLiteral("Create"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) return QString();
  return reply.arguments().first().value<QDBusObjectPath>().path();
}

QDBusMessage DBusClient::Release(const QString& class_name, const QString& path) {
  return Call(QStringLiteral("/SORVEL/") + class_name, QStringLiteral("SORVEL.") + class_name + QStringLiteral(".Factory"),
              QStringLiteral("Release"), {QVariant::fromValue(QDBusObjectPath(path))});
}

QVariant DBusClient::Get(const QString& path, const QString& interface, const QString& property) {
  const QDBusMessage reply =
      Call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {interface, property});
  return ValueOf(reply).value<QDBusVariant>().variant();
}

QDBusMessage DBusClient::Set(const QString& path, const QString& interface, const QString& property,
                            const QVariant& value) {
  return Call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
              {interface, property, QVariant::fromValue(QDBusVariant(value))});
}

QString DBusClient::Introspect(const QString& path) {
  return ValueOf(Call(path, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect")))
      .toString();
}

void DBusClient::Watch(const QString& path, const QString& interface, const QString& member) {
  connection_.connect(service_, path, interface, member, this, SLOT(OnSignal(QDBusMessage)));
}

void DBusClient::OnSignal(const QDBusMessage& message) {
  received.push_back(message);
  if (on_signal) on_signal(message);
}

void DBusClient::Leave() {
  // The connection closes when no QDBusConnection refers to it any more.
  connection_ = QDBusConnection(QStringLiteral("left"));
  QDBusConnection::disconnectFromBus(name_);
}

QString ErrorOf(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ErrorMessage) return QStringLiteral("no error");
  return reply.errorName() + QStringLiteral(" ") + reply.errorMessage();
}

bool BoolOf(const QDBusMessage& reply) { return ValueOf(reply).toBool(); }

QVariant ValueOf(const QDBusMessage& reply, int i) {
  if (reply.type() != QDBusMessage::ReplyMessage) return QVariant();
  return reply.arguments().value(i);
}

QString PathOf(const QDBusMessage& reply, int i) { return ValueOf(reply, i).value<QDBusObjectPath>().path(); }
QVariant Int16Arg(int value) { return QVariant::fromValue<short>(static_cast<short>(value)); }
QVariant ByteArg(int value) { return QVariant::fromValue<uchar>(static_cast<uchar>(value)); }
QVariant PathArg(const QString& path) { return QVariant::fromValue(QDBusObjectPath(path)); }

bool NameGone(PrivateBus& bus, const QString& name, int timeout_ms) {
  QDBusConnection watch = bus.Connect(QStringLiteral("name-watch"));
  QDeadlineTimer deadline(timeout_ms);
  while (!deadline.hasExpired()) {
    if (!watch.interface()->isServiceRegistered(name)) return true;
    QThread::msleep(20);
  }
  return false;
}

qint64 OwnerProcessId(PrivateBus& bus, const QString& name) {
  QDBusConnection watch = bus.Connect(QStringLiteral("pid-query"));
  const QDBusReply<uint> pid = watch.interface()->servicePid(name);
  return pid.isValid() ? pid.value() : 0;
}

}  // namespace sorvel::testing
