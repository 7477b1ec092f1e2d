#include "testing/gui/private_bus.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>

namespace sorvel::testing {

PrivateBus::PrivateBus() {
  daemon_.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
  if (!daemon_.waitForStarted(10000)) {
    ADD_FAILURE() << "dbus-daemon could not be started (see README set-up)";
    return;
  }
  QDeadlineTimer deadline(10000);
  QByteArray line;
  while (!deadline.hasExpired() && !line.contains('\n')) {
    daemon_.waitForReadyRead(100);
    line += daemon_.readAllStandardOutput();
  }
  address_ = QString::fromUtf8(line).trimmed();
  if (address_.isEmpty()) ADD_FAILURE() << "dbus-daemon printed no address";
}

PrivateBus::~PrivateBus() {
  for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
  for (auto& service : services_) {
    service->terminate();
    if (!service->waitForFinished(5000)) {
      service->kill();
      service->waitForFinished(5000);
    }
  }
  daemon_.terminate();
  if (!daemon_.waitForFinished(5000)) {
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
}

QDBusConnection PrivateBus::Connect(const QString& name) {
  connections_.append(name);
  return QDBusConnection::connectToBus(address_, name);
}

bool PrivateBus::StartService(const QString& program, const QStringList& arguments, const QString& service) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
  process->setProcessEnvironment(env);
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->start(program, arguments);
  if (!process->waitForStarted(10000)) return false;
  services_.push_back(std::move(process));
  QDBusConnection watcher = Connect(QStringLiteral("private-bus-watcher-%1").arg(services_.size()));
  QDeadlineTimer deadline(10000);
  while (!deadline.hasExpired()) {
    if (watcher.interface() != nullptr && watcher.interface()->isServiceRegistered(service)) return true;
    QThread::msleep(20);
  }
  return false;
}

}  // namespace sorvel::testing
