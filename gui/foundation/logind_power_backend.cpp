#include "gui/foundation/logind_power_backend.h"

#include <unistd.h>

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QVariant>

namespace sorvel {
namespace {

constexpr char kService[] = "org.freedesktop.login1";
constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kInterface[] = "org.freedesktop.login1.Manager";
constexpr int kCallTimeoutMs = 10000;

}  // namespace

LogindPowerBackend::LogindPowerBackend(QDBusConnection connection) : connection_(std::move(connection)) {}

LogindPowerBackend::~LogindPowerBackend() { ReleaseInhibitor(); }

bool LogindPowerBackend::AcquireInhibitor(const QString& what, const QString& why) {
  if (inhibitor_fd_ >= 0) return true;
  if (!connection_.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
  call << what << QStringLiteral("Sorvel") << why << QStringLiteral("block");
  QDBusReply<QDBusUnixFileDescriptor> reply = connection_.call(call, QDBus::Block, kCallTimeoutMs);
  if (!reply.isValid() || !reply.value().isValid()) return false;
  // The descriptor of the reply closes with it: keep a copy for as long as the
  // inhibitor is to hold.
  inhibitor_fd_ = dup(reply.value().fileDescriptor());
  return inhibitor_fd_ >= 0;
}

void LogindPowerBackend::ReleaseInhibitor() {
  if (inhibitor_fd_ >= 0) {
    close(inhibitor_fd_);
    inhibitor_fd_ = -1;
  }
}

bool LogindPowerBackend::CallAction(const char* method) {
  if (!connection_.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QString::fromLatin1(method));
  call << false;  // not interactive: polkit refuses rather than asking
  QDBusMessage reply = connection_.call(call, QDBus::Block, kCallTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

bool LogindPowerBackend::Suspend() { return CallAction("Suspend"); }
bool LogindPowerBackend::Hibernate() { return CallAction("Hibernate"); }
bool LogindPowerBackend::PowerOff() { return CallAction("PowerOff"); }
bool LogindPowerBackend::Reboot() { return CallAction("Reboot"); }

}  // namespace sorvel
