// A private D-Bus bus daemon for one test, so that services a test stands in
// for (logind, the automation service) never meet the machine's buses.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <memory>
#include <vector>

namespace sorvel::testing {

class PrivateBus {
 public:
  PrivateBus();  // starts dbus-daemon with the session configuration
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool ok() const { return !address_.isEmpty(); }
  const QString& address() const { return address_; }
  // A connection of this process to the bus (one per name).
  QDBusConnection Connect(const QString& name);

  // Starts `program` with the bus as its session bus; waits (bounded) until
  // `service` is owned on the bus. The process is ended with the bus.
  bool StartService(const QString& program, const QStringList& arguments, const QString& service);

 private:
  QProcess daemon_;
  QString address_;
  std::vector<std::unique_ptr<QProcess>> services_;
  QStringList connections_;
};

}  // namespace sorvel::testing
