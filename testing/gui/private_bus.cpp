#include "testing/gui/private_bus.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QThread>

namespace sorvel::testing {

PrivateBus::PrivateBus() { Start({QStringLiteral("--session")}); }

PrivateBus::PrivateBus(const QString& service_directory) {
  QTemporaryFile config(QDir::tempPath() + QStringLiteral("/sorvel-bus-XXXXXX.conf"));
  config.setAutoRemove(false);
  if (!config.open()) {
    ADD_FAILURE() << "no bus configuration file could be written";
    return;
  }
  config_file_ = config.fileName();
  config.write(QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>session</type>\n"
                   "  <listen>unix:tmpdir=%1</listen>\n"
                   "  <servicedir>%2</servicedir>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n")
                   .arg(QDir::tempPath().toHtmlEscaped(), service_directory.toHtmlEscaped())
                   .toUtf8());
  config.close();
  Start({QStringLiteral("--config-file=") + config_file_});
}

void PrivateBus::Start(const QStringList& arguments) {
  daemon_.start(QStringLiteral("dbus-daemon"),
                arguments + QStringList{QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
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
  if (!config_file_.isEmpty()) QFile::remove(config_file_);
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
