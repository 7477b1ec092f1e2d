#include "testing/gui/mastering_bus_client.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "gui/jobs/mastering_service.h"

namespace sorvel::testing {
namespace {

const QString kBusName = QString::fromLatin1(kMasteringBusName);

}  // namespace

BusClient::BusClient(PrivateBus& bus, const QString& name) : connection_(bus.Connect(name)), name_(name) {}

QDBusMessage BusClient::Call(const QString& path, const QString& interface, const QString& method,
                             const QVariantList& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(kBusName, path, interface, method);
  message.setArguments(arguments);
  return connection_.call(message, QDBus::Block, kBusCallTimeoutMs);
}

QDBusMessage BusClient::Member(const QString& path, const QString& method, const QVariantList& arguments) {
  return Call(path, QString::fromLatin1(kMasteringInterface), method, arguments);
}

QString BusClient::Create() {
  const QDBusMessage reply = Call(QString::fromLatin1(kMasteringFactoryPath),
                                  QString::fromLatin1(kMasteringFactoryInterface), QStringLiteral("Create"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) return QString();
  const QString path = reply.arguments().first().value<QDBusObjectPath>().path();
  connection_.connect(kBusName, path, QString::fromLatin1(kMasteringInterface), QStringLiteral("Progress"), this,
                      SLOT(OnProgress(int, int)));
  return path;
}

QDBusMessage BusClient::Release(const QString& path) {
  return Call(QString::fromLatin1(kMasteringFactoryPath), QString::fromLatin1(kMasteringFactoryInterface),
              QStringLiteral("Release"), {QVariant::fromValue(QDBusObjectPath(path))});
}

QDBusMessage BusClient::CallRunning(const QString& path, const QString& method, const QVariantList& arguments) {
  QDBusPendingCallWatcher watcher(Send(path, method, arguments));
  QEventLoop loop;
  QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(kBusCallTimeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  // Signals sent before the reply may still wait in the queue.
  QCoreApplication::processEvents();
  return watcher.reply();
}

QDBusPendingCall BusClient::Send(const QString& path, const QString& method, const QVariantList& arguments) {
  QDBusMessage message =
      QDBusMessage::createMethodCall(kBusName, path, QString::fromLatin1(kMasteringInterface), method);
  message.setArguments(arguments);
  return connection_.asyncCall(message, kBusCallTimeoutMs);
}

void BusClient::Leave() { QDBusConnection::disconnectFromBus(name_); }

void BusClient::OnProgress(int value, int total) {
  progress.emplace_back(value, total);
  if (on_progress) on_progress(value, total);
}

QString ErrorOf(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ErrorMessage) return QStringLiteral("no error");
  return reply.errorName() + QStringLiteral(" ") + reply.errorMessage();
}

bool BoolOf(const QDBusMessage& reply) {
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().first().toBool();
}

bool NameGone(PrivateBus& bus, const QString& name) {
  QDBusConnection watch = bus.Connect(QStringLiteral("name-watch"));
  QDeadlineTimer deadline(60000);
  while (!deadline.hasExpired()) {
    if (!watch.interface()->isServiceRegistered(name)) return true;
    QThread::msleep(20);
  }
  return false;
}

}  // namespace sorvel::testing
