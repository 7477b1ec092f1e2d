// The objects of the automation server and one call on them. An object
// belongs to the client connection that created or received it: only that
// connection reaches it, its signals go to that connection only, and it ends
// when the client releases it or leaves the bus.
#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QString>
#include <QVariantList>
#include <cstdint>
#include <functional>
#include <memory>

#include "gui/automation/bus_interface.h"
#include "gui/automation/object_worker.h"

namespace sorvel {

class AutomationService;
class BusObject;

// A class of the type library on the bus: its objects live at
// "/SORVEL/<name>/<number>"; a creatable class has a factory at "/SORVEL/<name>".
struct BusClass {
  QString name;
  const BusInterface& (*interface)();
  // Makes the object of a client's Create; empty for a class that clients
  // only receive from members of other objects.
  std::function<std::shared_ptr<BusObject>()> create;
  // For a class whose objects are heavy (each Trelin runs a drive engine with
  // a thread of its own): at most this many per connection and in the whole
  // server; 0 for no limit beyond the connection's object limit.
  int per_connection_limit = 0;
  int server_limit = 0;
  // Objects whose model calls of other objects read (a TOC handed to a
  // drive, the records that change its entries): their calls run under
  // their worker's model lock (ObjectWorker::ModelMutex).
  bool model_read_by_others = false;
};

class BusObject {
 public:
  explicit BusObject(const BusClass& bus_class);
  virtual ~BusObject();
  BusObject(const BusObject&) = delete;
  BusObject& operator=(const BusObject&) = delete;

  const BusClass& Class() const { return class_; }
  const BusInterface& Interface() const { return interface_; }
  // The unique bus name of the owning connection; empty for the factories.
  const QString& Owner() const { return owner_; }
  const QString& Path() const { return path_; }

  // Runs `read`, which reads this object's model, for a call on another
  // object (an object argument): at once on this object's worker; from
  // another worker under this one's model lock, shared, when no call of this
  // object runs. False, nothing read, when one runs: a worker never waits
  // for another (two drives reading each other's TOCs would wait forever).
  bool TryReadModel(const std::function<void()>& read);

 protected:
  // A factory: reachable by every client, not counted as a live object.
  BusObject(const BusClass& bus_class, const BusInterface& interface);
  // Sends a signal of the object's interface to its owner (from any thread).
  void Emit(const QString& signal, const QVariantList& args);
  // Called on the bus thread when the object is released or its client has
  // left, before the object ends on its worker (after a call still running
  // there): ends what runs on the bus thread for the client.
  virtual void Abandoned() {}
  // Called on its worker when the object has ended, after its last call:
  // gives up what it holds for its client (a drive it opened). Release
  // answers after it.
  virtual void Ended() {}
  // Called on the GUI thread when a terminating signal came while a call of
  // the object runs on its worker: stops what it does as the object's own
  // stop does, so that the call ends and is answered before the program ends.
  virtual void Stop() {}

 private:
  friend class AutomationService;
  const BusClass& class_;
  const BusInterface& interface_;
  bool counted_;
  AutomationService* service_ = nullptr;
  QString owner_;
  QString path_;
  const void* shared_key_ = nullptr;
  // Runs the object's calls; shared with the objects its calls hand out.
  std::shared_ptr<ObjectWorker> worker_;
  // Released, or its client gone (under the service's lock): a call still
  // queued for it runs, but hands out nothing more.
  bool ended_ = false;
};

// One method call: its arguments (already checked against the member's
// signature), and its outcome, the results or an error. Objects it hands out
// run their calls on the same worker as the object called.
class BusCall {
 public:
  // A call on `target` running on `worker` (null: on the bus thread).
  BusCall(AutomationService& service, const QDBusMessage& message, std::shared_ptr<ObjectWorker> worker = nullptr,
          const BusObject* target = nullptr);

  const QDBusMessage& Message() const { return message_; }
  const QString& Caller() const { return caller_; }
  AutomationService& Service() const { return service_; }
  const BusObject* Target() const { return target_; }

  uint8_t Byte(int i) const;
  int16_t Int16(int i) const;
  int32_t Int32(int i) const;
  bool Bool(int i) const;
  QString String(int i) const;
  QByteArray Bytes(int i) const;
  QString ObjectPath(int i) const;

  void Reply(QVariantList values) { results_ = std::move(values); }
  // The handler answers later itself (Release, when its object has ended).
  void Defer() { deferred_ = true; }
  bool Deferred() const { return deferred_; }
  void Fail(const QString& name, const QString& text);
  bool Failed() const { return !error_name_.isEmpty(); }
  const QVariantList& Results() const { return results_; }
  const QString& ErrorName() const { return error_name_; }
  const QString& ErrorText() const { return error_text_; }

  // The caller's object of class T named by argument i; null, the call
  // failing, for a path that names no object of the caller or one of another class.
  template <typename T>
  std::shared_ptr<T> ObjectArgument(int i) {
    std::shared_ptr<BusObject> object = CallerObject(ObjectPath(i));
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (object != nullptr && typed == nullptr) WrongClass(ObjectPath(i));
    return typed;
  }
  // Whether the caller may receive one more object of `bus_class`; false,
  // the call failing, when its connection (or the server, for a heavy class)
  // holds all it may. Asked before a costly object is made.
  bool HasRoomFor(const BusClass& bus_class);
  // Hands `object` to the caller as an object of its connection: its path,
  // or "/" with the call failing when there is no room for it.
  QDBusObjectPath HandOut(std::shared_ptr<BusObject> object);
  // The same for an object standing for a record that `key` identifies: the
  // caller's object for that record when it has one already, else a new one
  // from `make`.
  QDBusObjectPath HandOutShared(const void* key, const std::function<std::shared_ptr<BusObject>()>& make);

 private:
  std::shared_ptr<BusObject> CallerObject(const QString& path);
  void WrongClass(const QString& path);

  AutomationService& service_;
  const QDBusMessage& message_;
  std::shared_ptr<ObjectWorker> worker_;
  const BusObject* target_;
  const QVariantList arguments_;
  QString caller_;
  QVariantList results_;
  QString error_name_;
  QString error_text_;
  bool deferred_ = false;
};

// D-Bus error names the server answers with.
inline constexpr char kUnknownObjectError[] = "org.freedesktop.DBus.Error.UnknownObject";
inline constexpr char kUnknownMethodError[] = "org.freedesktop.DBus.Error.UnknownMethod";
inline constexpr char kUnknownInterfaceError[] = "org.freedesktop.DBus.Error.UnknownInterface";
inline constexpr char kUnknownPropertyError[] = "org.freedesktop.DBus.Error.UnknownProperty";
inline constexpr char kPropertyReadOnlyError[] = "org.freedesktop.DBus.Error.PropertyReadOnly";
inline constexpr char kInvalidArgsError[] = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr char kLimitsExceededError[] = "org.freedesktop.DBus.Error.LimitsExceeded";
inline constexpr char kAccessDeniedError[] = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr char kFailedError[] = "org.freedesktop.DBus.Error.Failed";
inline constexpr char kNotSupportedError[] = "org.freedesktop.DBus.Error.NotSupported";
// An object argument is inside a call of its own: the call may be made again.
inline constexpr char kBusyError[] = "SORVEL.Error.Busy";

}  // namespace sorvel
