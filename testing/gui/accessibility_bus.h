// Reads and drives a Qt program's windows from outside, through its
// accessibility interface (AT-SPI over D-Bus), the way a screen reader does.
// The rig answers for "org.a11y.Bus" on a private session bus and names that
// same bus as the accessibility bus: a Qt program started on it under X with
// QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 publishes its windows and widgets there.
// No accessibility daemon of the machine takes part.
#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "testing/gui/private_bus.h"

namespace sorvel::testing {

// One object of a program's accessible tree.
struct AccessibleObject {
  QString service;  // the program's connection on the bus
  QString path;
  bool valid() const { return !service.isEmpty() && !path.isEmpty(); }
};

class AccessibilityBus {
 public:
  explicit AccessibilityBus(PrivateBus& bus);
  ~AccessibilityBus();
  AccessibilityBus(const AccessibilityBus&) = delete;
  AccessibilityBus& operator=(const AccessibilityBus&) = delete;

  bool ok() const { return ok_; }

  // The root (the application object) that process `pid` publishes; invalid
  // while it publishes none.
  AccessibleObject RootOf(qint64 pid);

  QString Name(const AccessibleObject& object);
  QString Role(const AccessibleObject& object);  // AT-SPI role name: "dialog", "label", ...
  std::vector<AccessibleObject> Children(const AccessibleObject& object);

  // The first object below `root` (depth first, at most 10,000 visited) whose
  // role is `role` and whose name satisfies `match`; invalid when none.
  AccessibleObject Find(const AccessibleObject& root, const QString& role,
                        const std::function<bool(const QString&)>& match);

  // Starts the object's first action (a button's press, a menu item's
  // trigger) without waiting for it to end: a menu item that opens a modal
  // dialog answers only when the dialog has closed.
  QDBusPendingCall Press(const AccessibleObject& object);

  // Serves the bus (this process's own answers included) until `done` holds
  // or `timeout_ms` has passed; whether `done` held.
  static bool WaitFor(const std::function<bool()>& done, int timeout_ms);

 private:
  class BusObject;
  QDBusMessage CallOn(const AccessibleObject& object, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});

  std::unique_ptr<BusObject> bus_object_;
  QDBusConnection owner_;
  QDBusConnection reader_;
  bool ok_ = false;
};

}  // namespace sorvel::testing
