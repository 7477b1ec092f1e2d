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
  // A bus that starts the services of the activation files in
  // `service_directory` (and no others) when a client names them.
  explicit PrivateBus(const QString& service_directory);
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
  // The process of the `index`th service started (from 0).
  QProcess& Service(size_t index) { return *services_.at(index); }

 private:
  void Start(const QStringList& arguments);

  QProcess daemon_;
  QString config_file_;
  QString address_;
  std::vector<std::unique_ptr<QProcess>> services_;
  QStringList connections_;
};

}  // namespace sorvel::testing
