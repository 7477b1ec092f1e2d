#include "gui/automation/bus_object.h"

#include "gui/automation/automation_service.h"
#include "gui/foundation/automation_host.h"

namespace sorvel {

BusObject::BusObject(const BusClass& bus_class) : class_(bus_class), interface_(bus_class.interface()), counted_(true) {
  AutomationObjectCreated();
}

BusObject::BusObject(const BusClass& bus_class, const BusInterface& interface)
    : class_(bus_class), interface_(interface), counted_(false) {}

BusObject::~BusObject() {
  if (counted_) AutomationObjectReleased();
}

void BusObject::Emit(const QString& signal, const QVariantList& args) {
  if (service_ != nullptr) service_->Emit(*this, signal, args);
}

bool BusObject::TryReadModel(const std::function<void()>& read) {
  if (worker_ == nullptr || worker_->OnWorker()) {
    read();
    return true;
  }
  std::shared_lock lock(worker_->ModelMutex(), std::try_to_lock);
  if (!lock.owns_lock()) return false;
  read();
  return true;
}

BusCall::BusCall(AutomationService& service, const QDBusMessage& message, std::shared_ptr<ObjectWorker> worker,
                 const BusObject* target)
    : service_(service),
      message_(message),
      worker_(std::move(worker)),
      target_(target),
      arguments_(message.arguments()),
      caller_(message.service()) {}

// The arguments were checked against the member's signature before the call,
// so each conversion below meets the type it expects.
uint8_t BusCall::Byte(int i) const { return arguments_.value(i).value<uchar>(); }
int16_t BusCall::Int16(int i) const { return arguments_.value(i).value<short>(); }
int32_t BusCall::Int32(int i) const { return arguments_.value(i).toInt(); }
bool BusCall::Bool(int i) const { return arguments_.value(i).toBool(); }
QString BusCall::String(int i) const { return arguments_.value(i).toString(); }
QByteArray BusCall::Bytes(int i) const { return arguments_.value(i).toByteArray(); }
QString BusCall::ObjectPath(int i) const { return arguments_.value(i).value<QDBusObjectPath>().path(); }

void BusCall::Fail(const QString& name, const QString& text) {
  error_name_ = name;
  error_text_ = text;
}

std::shared_ptr<BusObject> BusCall::CallerObject(const QString& path) {
  std::shared_ptr<BusObject> object = service_.Find(path, caller_);
  if (object == nullptr || object->Owner().isEmpty()) {
    Fail(QLatin1String(kUnknownObjectError), QStringLiteral("No such object path '%1'").arg(path));
    return nullptr;
  }
  return object;
}

void BusCall::WrongClass(const QString& path) {
  Fail(QLatin1String(kInvalidArgsError), QStringLiteral("The object '%1' is of another class").arg(path));
}

bool BusCall::HasRoomFor(const BusClass& bus_class) { return service_.HasRoomFor(*this, bus_class); }

QDBusObjectPath BusCall::HandOut(std::shared_ptr<BusObject> object) {
  return service_.Adopt(*this, std::move(object), nullptr, worker_);
}

QDBusObjectPath BusCall::HandOutShared(const void* key, const std::function<std::shared_ptr<BusObject>()>& make) {
  const QString path = service_.SharedPath(caller_, key);
  if (!path.isEmpty()) return QDBusObjectPath(path);
  return service_.Adopt(*this, make(), key, worker_);
}

}  // namespace sorvel
