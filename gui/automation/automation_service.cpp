#include "gui/automation/automation_service.h"

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QVariantMap>
#include <shared_mutex>

#include "gui/foundation/automation_host.h"
#include "gui/foundation/termination.h"

namespace sorvel {
namespace {

// The root of every path the server serves.
QString Root() { return QString::fromLatin1(kAutomationRootPath); }

// The standard interfaces every object answers, with handlers that work on
// any object through its interface description.
const BusInterface& IntrospectableInterface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QStringLiteral("org.freedesktop.DBus.Introspectable");
    i.Method<BusObject>(QStringLiteral("Introspect"), {}, {{QStringLiteral("xml_data"), QStringLiteral("s"), {}}},
                        {}, [](BusObject& object, BusCall& call) {
                          call.Reply({call.Service().IntrospectionOf(object)});
                        })
        .OnBusThread();
    return i;
  }();
  return kInterface;
}

const BusInterface& PeerInterface() {
  static const BusInterface kInterface = [] {
    BusInterface i;
    i.name = QStringLiteral("org.freedesktop.DBus.Peer");
    i.Method<BusObject>(QStringLiteral("Ping"), {}, {}, {}, [](BusObject&, BusCall&) {}).OnBusThread();
    i.Method<BusObject>(QStringLiteral("GetMachineId"), {},
                        {{QStringLiteral("machine_uuid"), QStringLiteral("s"), {}}}, {},
                        [](BusObject&, BusCall& call) {
                          call.Reply({QString::fromLatin1(QDBusConnection::localMachineId())});
                        })
        .OnBusThread();
    return i;
  }();
  return kInterface;
}

// The property `call` names by its arguments 0 (interface) and 1 (name); null,
// the call failing, when the object has no such property.
const BusProperty* NamedProperty(BusObject& object, BusCall& call) {
  const QString interface = call.String(0);
  const QString name = call.String(1);
  if (!interface.isEmpty() && interface != object.Interface().name) {
    call.Fail(QLatin1String(kUnknownInterfaceError),
              QStringLiteral("No such interface '%1' at object path '%2'").arg(interface, object.Path()));
    return nullptr;
  }
  const BusProperty* property = object.Interface().FindProperty(name);
  if (property == nullptr) {
    call.Fail(QLatin1String(kUnknownPropertyError),
              QStringLiteral("No such property '%1' in interface '%2'").arg(name, object.Interface().name));
  }
  return property;
}

const BusInterface& PropertiesInterface() {
  static const BusInterface kInterface = [] {
    const BusArg interface_name{QStringLiteral("interface_name"), QStringLiteral("s"), {}};
    const BusArg property_name{QStringLiteral("property_name"), QStringLiteral("s"), {}};
    const BusArg value{QStringLiteral("value"), QStringLiteral("v"), {}};
    BusInterface i;
    i.name = QStringLiteral("org.freedesktop.DBus.Properties");
    i.Method<BusObject>(QStringLiteral("Get"), {interface_name, property_name}, {value}, {},
                        [](BusObject& object, BusCall& call) {
                          const BusProperty* property = NamedProperty(object, call);
                          if (property != nullptr) call.Reply({QVariant::fromValue(QDBusVariant(property->get(object)))});
                        });
    i.Method<BusObject>(QStringLiteral("GetAll"), {interface_name},
                        {{QStringLiteral("properties"), QStringLiteral("a{sv}"), {}}}, {},
                        [](BusObject& object, BusCall& call) {
                          QVariantMap values;
                          const QString interface = call.String(0);
                          if (interface.isEmpty() || interface == object.Interface().name) {
                            for (const BusProperty& property : object.Interface().properties) {
                              values.insert(property.name, property.get(object));
                            }
                          }
                          call.Reply({values});
                        });
    i.Method<BusObject>(QStringLiteral("Set"), {interface_name, property_name, value}, {}, {},
                        [](BusObject& object, BusCall& call) {
                          const BusProperty* property = NamedProperty(object, call);
                          if (property == nullptr) return;
                          if (!property->set) {
                            call.Fail(QLatin1String(kPropertyReadOnlyError),
                                      QStringLiteral("The property '%1' is read-only").arg(property->name));
                            return;
                          }
                          const QVariant given = call.Message().arguments().value(2).value<QDBusVariant>().variant();
                          if (DBusTypeOf(given) != property->type) {
                            call.Fail(QLatin1String(kInvalidArgsError),
                                      QStringLiteral("The property '%1' takes a value of type '%2', not '%3'")
                                          .arg(property->name, property->type, DBusTypeOf(given)));
                            return;
                          }
                          property->set(object, given);
                        });
    return i;
  }();
  return kInterface;
}

QString StandardInterfacesXml() {
  static const QString kXml = InterfaceXml(IntrospectableInterface(), 2) + InterfaceXml(PeerInterface(), 2) +
                              InterfaceXml(PropertiesInterface(), 2);
  return kXml;
}

}  // namespace

// A factory: Create makes an object of its class for the caller; Release ends
// any object of the caller.
class AutomationService::Factory : public BusObject {
 public:
  Factory(const BusClass& bus_class, std::unique_ptr<BusInterface> interface)
      : BusObject(bus_class, *interface), interface_(std::move(interface)) {}

 private:
  std::unique_ptr<BusInterface> interface_;
};

AutomationService::AutomationService(QDBusConnection bus, std::vector<const BusClass*> classes, QObject* parent)
    : QDBusVirtualObject(parent), bus_(std::move(bus)) {
  if (classes.empty()) classes = AutomationClasses();
  for (const BusClass* bus_class : classes) {
    if (!bus_class->create) continue;
    std::unique_ptr<BusInterface> interface = FactoryInterface(*bus_class);
    auto factory = std::make_shared<Factory>(*bus_class, std::move(interface));
    factory->service_ = this;
    factory->path_ = FactoryPath(bus_class->name);
    factories_.push_back(std::move(factory));
  }
  // Before the program ends by a signal, the answers sent meanwhile (a burn
  // stopped by it) leave: a call to the bus itself returns only after every
  // message sent before it has reached the bus.
  Termination::Instance().SetBeforeEnd([bus = bus_] {
    QDBusConnection(bus).call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                             QStringLiteral("/org/freedesktop/DBus"),
                                                             QStringLiteral("org.freedesktop.DBus"),
                                                             QStringLiteral("GetId")),
                              QDBus::Block, 5000);
  });
}

std::unique_ptr<BusInterface> AutomationService::FactoryInterface(const BusClass& bus_class) {
  auto interface = std::make_unique<BusInterface>();
  interface->name = FactoryInterfaceName(bus_class.name);
  interface->doc =
      QStringLiteral("Makes %1 objects for the calling connection and ends its objects.").arg(bus_class.name);
  interface->Method<BusObject>(
      QStringLiteral("Create"), {}, {Arg(QStringLiteral("Object"), QStringLiteral("o"))},
      QStringLiteral("A new %1 object of the calling connection: its path.").arg(bus_class.name),
      [&bus_class](BusObject&, BusCall& call) {
        if (call.HasRoomFor(bus_class)) call.Reply({QVariant::fromValue(call.HandOut(bus_class.create()))});
      });
  interface->Method<BusObject>(
      QStringLiteral("Release"), {Arg(QStringLiteral("Object"), QStringLiteral("o"))}, {Result(QStringLiteral("b"))},
      QStringLiteral("Ends an object of the calling connection, of any class (one still inside a call ends when "
                     "that call returns); False for a path that names no object."),
      [](BusObject&, BusCall& call) {
        AutomationService& service = call.Service();
        const QString path = call.ObjectPath(0);
        std::lock_guard lock(service.mutex_);
        const auto found = service.objects_.constFind(path);
        if (found == service.objects_.constEnd()) {
          call.Reply({false});
          return;
        }
        if ((*found)->Owner() != call.Caller()) {
          call.Fail(QLatin1String(kAccessDeniedError), QStringLiteral("the object belongs to another client"));
          return;
        }
        // Answered when the object has ended on its worker (a drive it held
        // closed), so that the next open of that drive by anyone succeeds.
        call.Defer();
        AutomationCallStarted();
        service.End(path, [&service, message = call.Message()] {
          service.Send(message, message.createReply(QVariantList{true}));
          AutomationCallEnded();
        });
      });
  return interface;
}

std::vector<std::pair<QString, QString>> AutomationService::InterfaceFiles(const std::vector<const BusClass*>& classes) {
  std::vector<std::pair<QString, QString>> files;
  for (const BusClass* bus_class : classes) {
    const BusInterface& interface = bus_class->interface();
    files.emplace_back(interface.name + QStringLiteral(".xml"), NodeXml({InterfaceXml(interface, 2)}));
    if (!bus_class->create) continue;
    const std::unique_ptr<BusInterface> factory = FactoryInterface(*bus_class);
    files.emplace_back(factory->name + QStringLiteral(".xml"), NodeXml({InterfaceXml(*factory, 2)}));
  }
  return files;
}

AutomationService::~AutomationService() {
  // The name goes first: a client calling it from now on starts a new
  // server, where while the paths were gone it met an unknown object.
  if (published_) bus_.unregisterService(QString::fromLatin1(kAutomationBusName));
  // Objects still alive end with the service (the program is ending).
  QStringList clients;
  {
    std::lock_guard lock(mutex_);
    clients = owned_.keys();
  }
  for (const QString& client : clients) ClientLeft(client);
  // Calls still running, and the objects ending on their workers, finish
  // before the service they answer through goes.
  ObjectWorker::WaitForAll();
  if (published_) {
    bus_.unregisterObject(Root(), QDBusConnection::UnregisterTree);
    bus_.disconnect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                    SLOT(NameOwnerChanged(QString, QString, QString)));
  }
}

bool AutomationService::Publish() {
  if (!bus_.isConnected()) return false;
  // Every departure on the bus, watched from before the first call, so that
  // a client leaving right after a call is never missed.
  if (!bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                    SLOT(NameOwnerChanged(QString, QString, QString)))) {
    return false;
  }
  if (!bus_.registerVirtualObject(Root(), this, QDBusConnection::SubPath)) return false;
  published_ = true;
  return bus_.registerService(QString::fromLatin1(kAutomationBusName));
}

QString AutomationService::FactoryPath(const QString& class_name) { return Root() + u'/' + class_name; }

QString AutomationService::FactoryInterfaceName(const QString& class_name) {
  return QStringLiteral("SORVEL.") + class_name + QStringLiteral(".Factory");
}

QString AutomationService::IntrospectionOf(const BusObject& object) const {
  return NodeXml({StandardInterfacesXml() + InterfaceXml(object.Interface(), 2)});
}

QString AutomationService::introspect(const QString&) const { return QString(); }

int AutomationService::ObjectCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(objects_.size());
}

std::shared_ptr<BusObject> AutomationService::Find(const QString& path, const QString& caller) const {
  for (const auto& factory : factories_) {
    if (factory->Path() == path) return factory;
  }
  std::lock_guard lock(mutex_);
  std::shared_ptr<BusObject> object = objects_.value(path);
  if (object == nullptr || object->Owner() != caller) return nullptr;
  return object;
}

bool AutomationService::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  const QString path = message.path();
  if (path == Root()) {
    if (message.member() == QLatin1String("Introspect") && message.signature().isEmpty() &&
        (message.interface().isEmpty() || message.interface() == IntrospectableInterface().name)) {
      QStringList children;
      for (const auto& factory : factories_) children << factory->Class().name;
      Send(message, message.createReply(NodeXml({InterfaceXml(IntrospectableInterface(), 2)}, children)));
    } else {
      Send(message, message.createErrorReply(QLatin1String(kUnknownMethodError),
                                             QStringLiteral("No such method '%1' at object path '%2'")
                                                 .arg(message.member(), path)));
    }
    return true;
  }
  // Held here, the object outlives the call even when the call ends it.
  const std::shared_ptr<BusObject> object = Find(path, message.service());
  if (object == nullptr) {
    Send(message, message.createErrorReply(QLatin1String(kUnknownObjectError),
                                           QStringLiteral("No such object path '%1'").arg(path)));
    return true;
  }
  Dispatch(object, message);
  return true;
}

void AutomationService::Dispatch(const std::shared_ptr<BusObject>& held, const QDBusMessage& message) {
  BusObject& object = *held;
  const QString interface = message.interface();
  const QString member = message.member();
  const QString signature = message.signature();
  const BusInterface* interfaces[] = {&IntrospectableInterface(), &PeerInterface(), &PropertiesInterface(),
                                      &object.Interface()};
  const BusMethod* method = nullptr;
  bool interface_known = interface.isEmpty();
  for (const BusInterface* candidate : interfaces) {
    if (!interface.isEmpty() && candidate->name != interface) continue;
    interface_known = true;
    method = candidate->FindMethod(member, signature);
    if (method != nullptr) break;
  }
  if (method == nullptr) {
    if (!interface_known) {
      Send(message, message.createErrorReply(QLatin1String(kUnknownInterfaceError),
                                             QStringLiteral("No such interface '%1' at object path '%2'")
                                                 .arg(interface, object.Path())));
    } else {
      // A member known by name: the error lists the forms it does take, so
      // that a client sees which arguments to give.
      QStringList forms;
      for (const BusInterface* candidate : interfaces) {
        if (!interface.isEmpty() && candidate->name != interface) continue;
        for (const BusMethod& form : candidate->methods) {
          if (form.name == member) forms << member + u'(' + form.InSignature() + u')';
        }
      }
      QString text = QStringLiteral("No such method '%1' in interface '%2' at object path '%3' (signature '%4')")
                         .arg(member, interface, object.Path(), signature);
      if (!forms.isEmpty()) text += QStringLiteral("; its forms: ") + forms.join(QStringLiteral(", "));
      Send(message, message.createErrorReply(QLatin1String(kUnknownMethodError), text));
    }
    return;
  }
  if (object.worker_ == nullptr || method->on_bus_thread) {
    Run(object, *method, message);
    return;
  }
  // Answered from the worker when the call ends; counted meanwhile, so that
  // the server does not end under it.
  message.setDelayedReply(true);
  AutomationCallStarted();
  object.worker_->Post([this, held, method, message] {
    {
      // A terminating signal meanwhile stops the call, and the program
      // ends only once it has been answered.
      const Termination::JobScope running([held] { held->Stop(); });
      Run(*held, *method, message);
    }
    AutomationCallEnded();
  });
}

void AutomationService::Run(BusObject& object, const BusMethod& method, const QDBusMessage& message) {
  BusCall call(*this, message, object.worker_, &object);
  try {
    std::unique_lock<std::shared_mutex> model;
    if (object.Class().model_read_by_others && object.worker_ != nullptr) {
      model = std::unique_lock(object.worker_->ModelMutex());
    }
    method.handler(object, call);
  } catch (const std::exception& error) {
    call.Fail(QLatin1String(kFailedError),
              QStringLiteral("'%1' failed: %2").arg(method.name, QString::fromLocal8Bit(error.what())));
  } catch (...) {
    call.Fail(QLatin1String(kFailedError), QStringLiteral("'%1' failed").arg(method.name));
  }
  if (call.Deferred()) return;
  if (call.Failed()) {
    Send(message, message.createErrorReply(call.ErrorName(), call.ErrorText()));
  } else if (DBusSignatureOf(call.Results()) != method.OutSignature()) {
    // A fault of the server: never answer with values the introspection does not promise.
    Send(message, message.createErrorReply(QLatin1String(kFailedError),
                                           QStringLiteral("The results of '%1' do not match its signature '%2'")
                                               .arg(method.name, method.OutSignature())));
  } else {
    Send(message, message.createReply(call.Results()));
  }
}

void AutomationService::Send(const QDBusMessage& message, const QDBusMessage& answer) {
  if (message.isReplyRequired()) bus_.send(answer);
}

bool AutomationService::HasRoomFor(BusCall& call, const BusClass& bus_class) {
  std::lock_guard lock(mutex_);
  const QString& owner = call.Caller();
  const auto count = [](const auto& counts, const auto& key) {
    const auto found = counts.find(key);
    return found == counts.end() ? 0 : static_cast<int>(found->second);
  };
  const auto owned = owned_.constFind(owner);
  QString refusal;
  if (owned != owned_.constEnd() && owned->size() >= kMaxObjectsPerConnection) {
    refusal = QStringLiteral("A connection holds at most %1 objects of this server; release some first")
                  .arg(kMaxObjectsPerConnection);
  } else if (bus_class.per_connection_limit > 0 &&
             count(class_owned_, std::make_pair(owner, &bus_class)) >= bus_class.per_connection_limit) {
    refusal = QStringLiteral("A connection holds at most %1 %2 objects; release some first")
                  .arg(bus_class.per_connection_limit)
                  .arg(bus_class.name);
  } else if (bus_class.server_limit > 0 && count(class_total_, &bus_class) >= bus_class.server_limit) {
    refusal = QStringLiteral("The server holds at most %1 %2 objects; try again when others have ended")
                  .arg(bus_class.server_limit)
                  .arg(bus_class.name);
  }
  if (refusal.isEmpty()) return true;
  call.Fail(QLatin1String(kLimitsExceededError), refusal);
  return false;
}

QDBusObjectPath AutomationService::Adopt(BusCall& call, std::shared_ptr<BusObject> object, const void* shared_key,
                                         std::shared_ptr<ObjectWorker> worker) {
  std::lock_guard lock(mutex_);
  const QString& owner = call.Caller();
  if (object == nullptr || owner.isEmpty()) {
    call.Fail(QLatin1String(kFailedError), QStringLiteral("no object could be made"));
    return QDBusObjectPath(QStringLiteral("/"));
  }
  // A call that was still queued when its object ended (its client gone)
  // hands out nothing: no one would ever release what it made.
  if (call.Target() != nullptr && call.Target()->ended_) {
    call.Fail(QLatin1String(kUnknownObjectError), QStringLiteral("The object '%1' has ended").arg(call.Target()->Path()));
    return QDBusObjectPath(QStringLiteral("/"));
  }
  const BusClass& bus_class = object->Class();
  if (!HasRoomFor(call, bus_class)) return QDBusObjectPath(QStringLiteral("/"));
  const QString path = QStringLiteral("%1/%2/%3").arg(Root(), bus_class.name).arg(next_id_++);
  object->service_ = this;
  object->owner_ = owner;
  object->path_ = path;
  object->shared_key_ = shared_key;
  // An object made by a client's Create gets a worker of its own; one handed
  // out by a call runs on the worker of the object called.
  if (worker == nullptr) {
    std::shared_ptr<WorkerGroup> group = groups_.value(owner).lock();
    if (group == nullptr) {
      group = std::make_shared<WorkerGroup>();
      groups_.insert(owner, group);
    }
    worker = ObjectWorker::Make(std::move(group));
  }
  object->worker_ = std::move(worker);
  objects_.insert(path, std::move(object));
  owned_[owner].insert(path);
  if (shared_key != nullptr) shared_[{owner, shared_key}] = path;
  if (bus_class.per_connection_limit > 0 || bus_class.server_limit > 0) {
    ++class_owned_[{owner, &bus_class}];
    ++class_total_[&bus_class];
  }
  return QDBusObjectPath(path);
}

QString AutomationService::SharedPath(const QString& owner, const void* key) const {
  std::lock_guard lock(mutex_);
  const auto found = shared_.find({owner, key});
  return found == shared_.end() ? QString() : found->second;
}

void AutomationService::End(const QString& path, std::function<void()> after) {
  std::unique_lock lock(mutex_);
  const auto found = objects_.find(path);
  if (found == objects_.end()) {
    lock.unlock();
    if (after) after();
    return;
  }
  std::shared_ptr<BusObject> object = std::move(*found);
  objects_.erase(found);
  object->ended_ = true;
  const auto owned = owned_.find(object->Owner());
  if (owned != owned_.end()) {
    owned->remove(path);
    if (owned->isEmpty()) owned_.erase(owned);
  }
  if (object->shared_key_ != nullptr) shared_.erase({object->Owner(), object->shared_key_});
  const BusClass& bus_class = object->Class();
  if (bus_class.per_connection_limit > 0 || bus_class.server_limit > 0) {
    const auto mine = class_owned_.find({object->Owner(), &bus_class});
    if (mine != class_owned_.end() && --mine->second <= 0) class_owned_.erase(mine);
    --class_total_[&bus_class];
  }
  lock.unlock();
  object->Abandoned();
  // The object ends on its worker, after the calls queued there: its end may
  // send drive commands (a Trelin closing its drive) that must not hold up
  // the bus thread.
  const std::shared_ptr<ObjectWorker> worker = object->worker_;
  worker->Post([object = std::move(object), after = std::move(after)]() mutable {
    try {
      object->Ended();
    } catch (...) {
    }
    object.reset();
    if (after) after();
  });
}

void AutomationService::ClientLeft(const QString& client) {
  // A call of the client's still running on a worker may hand out one more
  // object until the object it runs on has ended: go on until none is left.
  for (;;) {
    QStringList paths;
    {
      std::lock_guard lock(mutex_);
      paths = owned_.value(client).values();
    }
    if (paths.isEmpty()) {
      std::lock_guard lock(mutex_);
      groups_.remove(client);
      return;
    }
    for (const QString& path : paths) End(path);
  }
}

void AutomationService::NameOwnerChanged(const QString& name, const QString&, const QString& new_owner) {
  if (new_owner.isEmpty()) ClientLeft(name);
}

void AutomationService::Emit(const BusObject& object, const QString& signal, const QVariantList& args) {
  {
    std::lock_guard lock(mutex_);
    if (object.Owner().isEmpty() || !objects_.contains(object.Path())) return;
  }
  QDBusMessage message =
      QDBusMessage::createTargetedSignal(object.Owner(), object.Path(), object.Interface().name, signal);
  message.setArguments(args);
  bus_.send(message);
}

}  // namespace sorvel
