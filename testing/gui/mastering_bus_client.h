// A client of the automation server's Mastering objects on a private bus:
// calls the factory and the members of its objects and records the Progress
// signals of the objects it created.
#pragma once

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QString>
#include <QVariantList>
#include <functional>
#include <utility>
#include <vector>

#include "testing/gui/dbus_client.h"
#include "testing/gui/private_bus.h"

namespace sorvel::testing {

// How long one call may take (a burn runs inside one call).
inline constexpr int kBusCallTimeoutMs = DBusClient::kCallTimeoutMs;

class BusClient : public DBusClient {
 public:
  // A connection of its own to `bus`, named `name` in this process.
  BusClient(PrivateBus& bus, const QString& name);

  using DBusClient::Call;
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

  std::vector<std::pair<int, int>> progress;
  std::function<void(int, int)> on_progress;
};

}  // namespace sorvel::testing
