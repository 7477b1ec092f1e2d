// A client of the automation service on a private bus: calls the factory and
// the members of its objects and records the Progress signals of the objects
// it created.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>
#include <utility>
#include <vector>

#include "testing/gui/private_bus.h"

namespace sorvel::testing {

// How long one call may take (a burn runs inside one call).
inline constexpr int kBusCallTimeoutMs = 120000;

class BusClient : public QObject {
  Q_OBJECT

 public:
  // A connection of its own to `bus`, named `name` in this process.
  BusClient(PrivateBus& bus, const QString& name);

  QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {});
  // A member of the Mastering interface.
  QDBusMessage Member(const QString& path, const QString& method, const QVariantList& arguments = {});
  // A new object, watched for Progress; "" when the factory did not answer.
  QString Create();
  QDBusMessage Release(const QString& path);
  // A member call whose reply is awaited with the event loop running, so that
  // Progress signals (and `on_progress`) are handled meanwhile.
  QDBusMessage CallRunning(const QString& path, const QString& method, const QVariantList& arguments);
  // Sends a member call without waiting for its reply.
  QDBusPendingCall Send(const QString& path, const QString& method, const QVariantList& arguments = {});
  // Leaves the bus (the service then releases this client's objects).
  void Leave();

  std::vector<std::pair<int, int>> progress;
  std::function<void(int, int)> on_progress;

 public slots:
  void OnProgress(int value, int total);

 private:
  QDBusConnection connection_;
  QString name_;
};

// "no error", or the error's name and message.
QString ErrorOf(const QDBusMessage& reply);
// Whether the reply is a normal one whose first value is true.
bool BoolOf(const QDBusMessage& reply);
// Waits (bounded) until `name` has left `bus`.
bool NameGone(PrivateBus& bus, const QString& name);

}  // namespace sorvel::testing
