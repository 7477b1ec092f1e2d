// The automation server on the session bus: the bus name "SORVEL.Mastering",
// under "/SORVEL" a factory per creatable class of the type library
// ("/SORVEL/Trelin", interface "SORVEL.Trelin.Factory": Create, Release) and
// the objects clients made or received ("/SORVEL/Trelin/7", interface
// "SORVEL.Trelin"). Every path below "/SORVEL" is served here: calls are
// dispatched by member name and signature, Introspect answers the XML of the
// interface descriptions, and properties go through
// org.freedesktop.DBus.Properties.
//
// An object belongs to the connection that created or received it; any other
// connection gets the unknown-object error for its path, as for a made-up one.
// A connection holds at most kMaxObjectsPerConnection objects, fewer of a
// heavy class (BusClass's limits). Its objects end
// when it releases them or leaves the bus; one still inside a call (a burn)
// ends when that call returns. Release answers once its object has ended.
// The server gives up its bus name before its objects end.
//
// Calls on an object run on its worker (object_worker.h), in their order,
// and are answered from there when they end: the bus thread only dispatches,
// so a call that waits on a drive, the network or a file holds up no other
// client. The tables of objects below are shared with the workers under a lock.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "gui/automation/bus_object.h"

namespace sorvel {

inline constexpr char kAutomationBusName[] = "SORVEL.Mastering";
inline constexpr char kAutomationRootPath[] = "/SORVEL";

class AutomationService : public QDBusVirtualObject {
  Q_OBJECT

 public:
  static constexpr int kMaxObjectsPerConnection = 4096;

  // Serves `classes` (all of the type library by default) on `bus`.
  explicit AutomationService(QDBusConnection bus, std::vector<const BusClass*> classes = {},
                             QObject* parent = nullptr);
  ~AutomationService() override;

  // Registers "/SORVEL" and takes the bus name; false when either fails.
  bool Publish();
  QDBusConnection& Bus() { return bus_; }
  int ObjectCount() const;

  // The factory path of a class, the interface name of its factory.
  static QString FactoryPath(const QString& class_name);
  static QString FactoryInterfaceName(const QString& class_name);
  // The interface of the factory of a creatable class.
  static std::unique_ptr<BusInterface> FactoryInterface(const BusClass& bus_class);
  // The interface files to install (file name, introspection document with
  // that one interface): each class's interface and its factory's.
  static std::vector<std::pair<QString, QString>> InterfaceFiles(const std::vector<const BusClass*>& classes);
  // The whole introspection document of a path as a client sees it.
  QString IntrospectionOf(const BusObject& object) const;

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private slots:
  void NameOwnerChanged(const QString& name, const QString& old_owner, const QString& new_owner);

 private:
  friend class BusCall;
  friend class BusObject;
  class Factory;

  // The object at `path` as `caller` may reach it: a factory, or one of the
  // caller's own objects; null otherwise.
  std::shared_ptr<BusObject> Find(const QString& path, const QString& caller) const;
  bool HasRoomFor(BusCall& call, const BusClass& bus_class);
  QDBusObjectPath Adopt(BusCall& call, std::shared_ptr<BusObject> object, const void* shared_key,
                        std::shared_ptr<ObjectWorker> worker);
  QString SharedPath(const QString& owner, const void* key) const;
  // Ends the object at `path`; `after` runs when it has ended, on its worker
  // (at once when there is no such object).
  void End(const QString& path, std::function<void()> after = {});
  void ClientLeft(const QString& client);
  void Emit(const BusObject& object, const QString& signal, const QVariantList& args);
  void Dispatch(const std::shared_ptr<BusObject>& object, const QDBusMessage& message);
  void Run(BusObject& object, const BusMethod& method, const QDBusMessage& message);
  void Send(const QDBusMessage& message, const QDBusMessage& answer);

  QDBusConnection bus_;
  // Guards the tables below (the factories are made once and never change).
  mutable std::recursive_mutex mutex_;
  std::vector<std::shared_ptr<BusObject>> factories_;
  QHash<QString, std::shared_ptr<BusObject>> objects_;
  QHash<QString, QSet<QString>> owned_;
  std::map<std::pair<QString, const void*>, QString> shared_;
  // Objects of each limited class, per owner and in all.
  std::map<std::pair<QString, const BusClass*>, int> class_owned_;
  std::map<const BusClass*, int> class_total_;
  // The worker group of each client with objects.
  QHash<QString, std::weak_ptr<WorkerGroup>> groups_;
  quint64 next_id_ = 1;
  bool published_ = false;
};

// Every class of the type library on the bus.
std::vector<const BusClass*> AutomationClasses();

}  // namespace sorvel
