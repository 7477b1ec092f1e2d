// The automation service on the session bus: the bus name "SORVEL.Mastering",
// a factory object that creates and releases Mastering objects for clients,
// and one bus object per Mastering object with the class's members as
// methods, VolumeLabel as a property and Progress as a signal. An error the
// class raises becomes the D-Bus error "SORVEL.Mastering.Error.E<code>"
// (e.g. ...E80040001) whose message is the error's text.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

namespace sorvel {

class Mastering;
class MasteringService;

inline constexpr char kMasteringBusName[] = "SORVEL.Mastering";
inline constexpr char kMasteringFactoryPath[] = "/SORVEL/Mastering";
inline constexpr char kMasteringFactoryInterface[] = "SORVEL.Mastering.Factory";
inline constexpr char kMasteringInterface[] = "SORVEL.Mastering";

// The D-Bus error name of an error number of the class.
QString MasteringErrorName(uint32_t number);

// One Mastering object on the bus, owned by the client that created it.
class MasteringObject : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "SORVEL.Mastering")
  Q_PROPERTY(QString VolumeLabel READ VolumeLabel WRITE SetVolumeLabel)

 public:
  MasteringObject(MasteringService& service, QString owner, QString path);
  ~MasteringObject() override;

  QString VolumeLabel() const;
  void SetVolumeLabel(const QString& label);

 public slots:
  bool InitISOFS(int FileSystemType);
  void ClearISO();
  bool IsISOEmpty();
  bool AddFile(const QString& FileName, const QString& DirectoryName);
  void ClearTrack();
  bool AddTrack(const QString& TrackFileName, int PregapLength, int PostgapLength, int TrackControlFlag);
  bool RemoveTrack(int TrackNo);
  int GetTrackCount();
  int ShowBurnDialog(int hWnd, const QString& Title, const QString& DriveName);
  bool StartBurn(const QString& DriveName, bool EjectAfterBurn);
  bool StopBurn();
  bool IsReady(const QString& DriveName);
  bool IsDiscWritable(const QString& DriveName);

 signals:
  void Progress(int Value, int Total);

 public:
  const QString& Owner() const { return owner_; }
  const QString& Path() const { return path_; }
  // Releases the object now, or when its running burn has ended.
  void Release();

 private:
  template <typename Call>
  auto Raising(Call&& call) -> decltype(call());

  MasteringService& service_;
  QString owner_;
  QString path_;
  std::unique_ptr<Mastering> mastering_;
  bool release_pending_ = false;
};

// The factory on the bus and the registry of the objects it made.
class MasteringService : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "SORVEL.Mastering.Factory")

 public:
  explicit MasteringService(QDBusConnection bus, QObject* parent = nullptr);
  ~MasteringService() override;

  // Registers the factory and takes the bus name; false when either fails.
  bool Publish();
  QDBusConnection& Bus() { return bus_; }
  int ObjectCount() const { return static_cast<int>(objects_.size()); }

 public slots:
  // A new Mastering object for the calling client: its object path.
  QDBusObjectPath Create();
  // Releases an object the caller created (after its running burn).
  bool Release(const QDBusObjectPath& Object);

 private:
  friend class MasteringObject;
  void Forget(const QString& path);
  void ClientLeft(const QString& client);

  QDBusConnection bus_;
  QDBusServiceWatcher* clients_;
  QMap<QString, QPointer<MasteringObject>> objects_;
  quint64 next_id_ = 1;
};

}  // namespace sorvel
