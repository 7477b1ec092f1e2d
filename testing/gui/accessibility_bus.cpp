#include "testing/gui/accessibility_bus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QThread>

namespace sorvel::testing {
namespace {

constexpr char kA11yService[] = "org.a11y.Bus";
constexpr char kA11yPath[] = "/org/a11y/bus";
constexpr char kAccessible[] = "org.a11y.atspi.Accessible";
constexpr char kRootPath[] = "/org/a11y/atspi/accessible/root";
constexpr int kCallTimeoutMs = 5000;
constexpr int kMostVisited = 10000;

}  // namespace

// "org.a11y.Bus" at /org/a11y/bus: GetAddress names the private bus itself;
// the org.a11y.Status properties say that accessibility is on.
class AccessibilityBus::BusObject : public QDBusVirtualObject {
 public:
  explicit BusObject(QString address) : address_(std::move(address)) {}

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    QVariant answer;
    if (message.interface() == QLatin1String(kA11yService) && message.member() == QLatin1String("GetAddress")) {
      answer = address_;
    } else if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") &&
               message.member() == QLatin1String("Get")) {
      answer = QVariant::fromValue(QDBusVariant(true));  // IsEnabled, ScreenReaderEnabled
    } else {
      return false;
    }
    connection.send(message.createReply(answer));
    return true;
  }
  QString introspect(const QString&) const override { return QString(); }

 private:
  QString address_;
};

AccessibilityBus::AccessibilityBus(PrivateBus& bus)
    : bus_object_(std::make_unique<BusObject>(bus.address())),
      owner_(bus.Connect(QStringLiteral("a11y-bus-owner"))),
      reader_(bus.Connect(QStringLiteral("a11y-reader"))) {
  ok_ = owner_.isConnected() && reader_.isConnected() &&
        owner_.registerVirtualObject(QLatin1String(kA11yPath), bus_object_.get()) &&
        owner_.registerService(QLatin1String(kA11yService));
}

AccessibilityBus::~AccessibilityBus() {
  owner_.unregisterService(QLatin1String(kA11yService));
  owner_.unregisterObject(QLatin1String(kA11yPath));
}

QDBusMessage AccessibilityBus::CallOn(const AccessibleObject& object, const QString& interface, const QString& method,
                                      const QVariantList& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
  message.setArguments(arguments);
  return reader_.call(message, QDBus::Block, kCallTimeoutMs);
}

AccessibleObject AccessibilityBus::RootOf(qint64 pid) {
  QDBusConnectionInterface* bus = reader_.interface();
  if (bus == nullptr) return {};
  const QStringList names = bus->registeredServiceNames().value();
  for (const QString& name : names) {
    if (!name.startsWith(u':') || bus->servicePid(name).value() != pid) continue;
    // The program's connections: the one that publishes the tree has a root.
    const AccessibleObject root{name, QLatin1String(kRootPath)};
    if (CallOn(root, QLatin1String(kAccessible), QStringLiteral("GetRoleName")).type() == QDBusMessage::ReplyMessage)
      return root;
  }
  return {};
}

QString AccessibilityBus::Name(const AccessibleObject& object) {
  const QDBusMessage reply = CallOn(object, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                    {QLatin1String(kAccessible), QStringLiteral("Name")});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return QString();
  return reply.arguments().first().value<QDBusVariant>().variant().toString();
}

QString AccessibilityBus::Role(const AccessibleObject& object) {
  const QDBusMessage reply = CallOn(object, QLatin1String(kAccessible), QStringLiteral("GetRoleName"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return QString();
  return reply.arguments().first().toString();
}

std::vector<AccessibleObject> AccessibilityBus::Children(const AccessibleObject& object) {
  std::vector<AccessibleObject> children;
  const QDBusMessage reply = CallOn(object, QLatin1String(kAccessible), QStringLiteral("GetChildren"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return children;
  // a(so): the connection and the path of each child.
  const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    AccessibleObject child;
    QDBusObjectPath path;
    list.beginStructure();
    list >> child.service >> path;
    list.endStructure();
    child.path = path.path();
    children.push_back(child);
  }
  list.endArray();
  return children;
}

AccessibleObject AccessibilityBus::Find(const AccessibleObject& root, const QString& role,
                                        const std::function<bool(const QString&)>& match) {
  std::vector<AccessibleObject> pending{root};
  for (int visited = 0; !pending.empty() && visited < kMostVisited; ++visited) {
    const AccessibleObject object = pending.back();
    pending.pop_back();
    if (Role(object) == role && match(Name(object))) return object;
    std::vector<AccessibleObject> children = Children(object);
    // Reversed onto the stack, so that the first child is looked at first.
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
  return {};
}

QDBusPendingCall AccessibilityBus::Press(const AccessibleObject& object) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      object.service, object.path, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"));
  message.setArguments({0});
  return reader_.asyncCall(message, 600000);
}

bool AccessibilityBus::WaitFor(const std::function<bool()>& done, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return true;
}

}  // namespace sorvel::testing
