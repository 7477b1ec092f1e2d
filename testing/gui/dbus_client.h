// A D-Bus client for tests of services on a private bus: calls (blocking, or
// with the event loop running so that signals and a service living in this
// process are served meanwhile), properties, introspection and the signals
// sent to it.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <vector>

#include "testing/gui/private_bus.h"

namespace sorvel::testing {

class DBusClient : public QObject {
  Q_OBJECT

 public:
  static constexpr int kCallTimeoutMs = 120000;

  // A connection of its own named `name`, calling `service`.
  DBusClient(PrivateBus& bus, const QString& name, const QString& service = QStringLiteral("SORVEL.Mastering"));

  QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {});
  // The same with the event loop running until the answer arrives.
  QDBusMessage CallRunning(const QString& path, const QString& interface, const QString& method,
                           const QVariantList& arguments = {});
  // Sends a call without waiting for its answer.
  QDBusPendingCall Send(const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments = {});

  // A new object of the class from its factory ("/SORVEL/<class>"); empty
  // when Create failed. `running`: waits with the event loop running.
  QString Create(const QString& class_name, bool running = false);
  QDBusMessage Release(const QString& class_name, const QString& path);
  QVariant Get(const QString& path, const QString& interface, const QString& property);
  QDBusMessage Set(const QString& path, const QString& interface, const QString& property, const QVariant& value);
  QString Introspect(const QString& path);

  // Records the signals `member` of `interface` sent from `path` to this client.
  void Watch(const QString& path, const QString& interface, const QString& member);
  std::vector<QDBusMessage> received;
  std::function<void(const QDBusMessage&)> on_signal;

  QString UniqueName() const { return connection_.baseService(); }
  QDBusConnection& connection() { return connection_; }
  // Closes the connection: the bus sees the client leave. The client makes
  // no calls after it.
  void Leave();

 public slots:
  void OnSignal(const QDBusMessage& message);

 private:
  QDBusConnection connection_;
  QString name_;
  QString service_;
};

// "name text" of an error answer, "no error" for any other.
QString ErrorOf(const QDBusMessage& reply);
// The first value of an answer as a truth value; false for an error.
bool BoolOf(const QDBusMessage& reply);
// Value `i` of an answer; invalid for an error or a missing value.
QVariant ValueOf(const QDBusMessage& reply, int i = 0);
// The object path an answer holds at `i`; empty for an error.
QString PathOf(const QDBusMessage& reply, int i = 0);
// Arguments typed as the bus carries them: n, y and o.
QVariant Int16Arg(int value);
QVariant ByteArg(int value);
QVariant PathArg(const QString& path);
// Waits (bounded) until `name` has left the bus.
bool NameGone(PrivateBus& bus, const QString& name, int timeout_ms = 60000);
// The process id of the connection that owns `name` on the bus; 0 when unknown.
qint64 OwnerProcessId(PrivateBus& bus, const QString& name);

}  // namespace sorvel::testing
