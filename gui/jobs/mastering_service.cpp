#include "gui/jobs/mastering_service.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

#include "gui/jobs/mastering.h"

namespace sorvel {

QString MasteringErrorName(uint32_t number) {
  return QStringLiteral("SORVEL.Mastering.Error.E") + QString::number(number, 16).toUpper().rightJustified(8, u'0');
}

MasteringObject::MasteringObject(MasteringService& service, QString owner, QString path)
    : service_(service), owner_(std::move(owner)), path_(std::move(path)), mastering_(std::make_unique<Mastering>()) {
  connect(mastering_.get(), &Mastering::Progress, this,
          [this](int32_t value, int32_t total) { emit Progress(value, total); });
  connect(mastering_.get(), &Mastering::BurnEnded, this, [this] {
    if (release_pending_) deleteLater();
  });
}

MasteringObject::~MasteringObject() {
  service_.Forget(path_);
  service_.Bus().unregisterObject(path_);
}

void MasteringObject::Release() {
  if (mastering_->Burning()) {
    release_pending_ = true;
  } else {
    deleteLater();
  }
}

// Runs a member of the class; an error it raises becomes the call's D-Bus error.
template <typename Call>
auto MasteringObject::Raising(Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const MasteringError& error) {
    if (calledFromDBus()) sendErrorReply(MasteringErrorName(error.Number()), error.Description());
    return decltype(call())();
  }
}

QString MasteringObject::VolumeLabel() const { return mastering_->VolumeLabel(); }
void MasteringObject::SetVolumeLabel(const QString& label) { mastering_->SetVolumeLabel(label); }
bool MasteringObject::InitISOFS(int FileSystemType) { return mastering_->InitISOFS(FileSystemType); }
void MasteringObject::ClearISO() { mastering_->ClearISO(); }
bool MasteringObject::IsISOEmpty() { return mastering_->IsISOEmpty(); }

bool MasteringObject::AddFile(const QString& FileName, const QString& DirectoryName) {
  return Raising([&] { return mastering_->AddFile(FileName, DirectoryName); });
}

void MasteringObject::ClearTrack() { mastering_->ClearTrack(); }

bool MasteringObject::AddTrack(const QString& TrackFileName, int PregapLength, int PostgapLength,
                               int TrackControlFlag) {
  return mastering_->AddTrack(TrackFileName, PregapLength, PostgapLength, TrackControlFlag);
}

bool MasteringObject::RemoveTrack(int TrackNo) { return mastering_->RemoveTrack(TrackNo); }
int MasteringObject::GetTrackCount() { return mastering_->GetTrackCount(); }

int MasteringObject::ShowBurnDialog(int hWnd, const QString& Title, const QString& DriveName) {
  return mastering_->ShowBurnDialog(hWnd, Title, DriveName);
}

bool MasteringObject::StartBurn(const QString& DriveName, bool EjectAfterBurn) {
  return Raising([&] { return mastering_->StartBurn(DriveName, EjectAfterBurn); });
}

bool MasteringObject::StopBurn() { return mastering_->StopBurn(); }
bool MasteringObject::IsReady(const QString& DriveName) { return mastering_->IsReady(DriveName); }
bool MasteringObject::IsDiscWritable(const QString& DriveName) { return mastering_->IsDiscWritable(DriveName); }

MasteringService::MasteringService(QDBusConnection bus, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      clients_(new QDBusServiceWatcher(QString(), bus_, QDBusServiceWatcher::WatchForUnregistration, this)) {
  connect(clients_, &QDBusServiceWatcher::serviceUnregistered, this, &MasteringService::ClientLeft);
}

MasteringService::~MasteringService() {
  // Objects still alive go with the service (the program is ending).
  const auto objects = objects_;
  for (const auto& object : objects) delete object.data();
  bus_.unregisterObject(QString::fromLatin1(kMasteringFactoryPath));
  bus_.unregisterService(QString::fromLatin1(kMasteringBusName));
}

bool MasteringService::Publish() {
  if (!bus_.isConnected()) return false;
  if (!bus_.registerObject(QString::fromLatin1(kMasteringFactoryPath), this, QDBusConnection::ExportAllSlots))
    return false;
  return bus_.registerService(QString::fromLatin1(kMasteringBusName));
}

QDBusObjectPath MasteringService::Create() {
  const QString owner = calledFromDBus() ? message().service() : QString();
  const QString path = QStringLiteral("%1/%2").arg(QLatin1String(kMasteringFactoryPath)).arg(next_id_++);
  auto* object = new MasteringObject(*this, owner, path);
  if (!bus_.registerObject(path, object,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                               QDBusConnection::ExportAllProperties)) {
    delete object;
    if (calledFromDBus()) sendErrorReply(QDBusError::Failed, QStringLiteral("object could not be registered"));
    return QDBusObjectPath();
  }
  objects_.insert(path, object);
  if (!owner.isEmpty() && !clients_->watchedServices().contains(owner)) clients_->addWatchedService(owner);
  return QDBusObjectPath(path);
}

bool MasteringService::Release(const QDBusObjectPath& Object) {
  const auto found = objects_.constFind(Object.path());
  if (found == objects_.constEnd() || found->isNull()) return false;
  if (calledFromDBus() && (*found)->Owner() != message().service()) {
    sendErrorReply(QDBusError::AccessDenied, QStringLiteral("the object belongs to another client"));
    return false;
  }
  (*found)->Release();
  return true;
}

void MasteringService::Forget(const QString& path) { objects_.remove(path); }

void MasteringService::ClientLeft(const QString& client) {
  clients_->removeWatchedService(client);
  const auto objects = objects_;
  for (const auto& object : objects) {
    if (!object.isNull() && object->Owner() == client) object->Release();
  }
}

}  // namespace sorvel
