#include "gui/dialogs/drive_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/hourglass.h"
#include "gui/dialogs/property_parameter_forms.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/disk_module.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/remote_servers.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

const QString kNoDevice = QStringLiteral("未接続または他のプロセスで使用中");
const QString kNotReady = QStringLiteral("準備が出来ていません");
const QString kNoRemoteDrive = QStringLiteral("現在利用可能な遠隔ドライヴは存在しません。");
const QString kDeviceUnavailable = QStringLiteral("指定されているデバイスは、現在利用できない状態になっています。");
constexpr int kStatusInterval = 500;
// How long a command the panel sends of its own (the status poll, the speed
// before a job) waits for a remote drive's answer before it is given up: the
// window does not run meanwhile, and a daemon that went silent (stopped, its
// machine gone from the network) would hold it for the command's whole time-out.
constexpr qint64 kPanelWaitMs = 5000;

// `run` with the remote waits of `device` bounded by kPanelWaitMs, unless a
// job watches them already.
template <typename Run>
auto WithBoundedWait(Trelin& device, Run run) {
  if (device.wait_handler()) return run();
  QElapsedTimer waited;
  waited.start();
  device.SetWaitHandler([&waited] { return waited.elapsed() >= kPanelWaitMs; });
  const auto result = run();
  device.SetWaitHandler({});
  return result;
}
constexpr int kStyleExclamation = 48;
constexpr int kStyleCritical = 16;

}  // namespace

int32_t SpeedItemData(int32_t speed, bool cav) {
  return static_cast<int32_t>(static_cast<uint32_t>(cav ? 0xFFFF0000u : 0u) | (static_cast<uint32_t>(speed) & 0xFFFFu));
}

double OneXRate(int32_t media_family) {
  switch (media_family) {
    case MFT_CDFAMILY: return 176.4;
    case MFT_DVDFAMILY: return 1385.0;
    case MFT_BDFAMILY:
    case MFT_HDDVDFAMILY: return 4500.0;
    default: return 0.0;
  }
}

QString SpeedText(int32_t speed, double one_x_rate) {
  QString times = QString::number(one_x_rate > 0 ? speed / one_x_rate : 0.0, 'f', 1);
  times.remove(QStringLiteral(".0"));
  return times + QStringLiteral("x [") + QString::number(speed) + QStringLiteral("KiB/s]");
}

QString RemoteDevicePath(const QString& host, int32_t port, QChar letter) {
  return QStringLiteral("\\\\") + host + QLatin1Char(':') + QString::number(port) + QLatin1Char('\\') + letter +
         QLatin1Char(':');
}

DrivePanel::DrivePanel(DriveSide side, const QString& form_name, QWidget* parent)
    : QGroupBox(parent), side_(side), form_name_(form_name) {
  BuildControls();
}

DrivePanel::~DrivePanel() {
  timer_->stop();
  if (device_) device_->CloseDevice();
}

void DrivePanel::BuildControls() {
  const bool read = side_ == DriveSide::kRead;
  setObjectName(read ? QStringLiteral("fraSend") : QStringLiteral("fraRecv"));
  setTitle(read ? QStringLiteral("読み込み装置(&D)") : QStringLiteral("書き込み装置(&D)"));

  drive_combo_ = new QComboBox(this);
  drive_combo_->setObjectName(read ? QStringLiteral("cboReadDrive") : QStringLiteral("cboWriteDrive"));
  drive_combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  drive_combo_->setMinimumContentsLength(24);
  network_box_ = new QCheckBox(QStringLiteral("ネットワークデバイス"), this);
  network_box_->setObjectName(read ? QStringLiteral("chkReadNetwork") : QStringLiteral("chkWriteNetwork"));
  const QString eject_name = read ? QStringLiteral("cmdReadDriveEject") : QStringLiteral("cmdWriteDriveEject");
  eject_buttons_[0] = new QPushButton(QStringLiteral("排出"), this);
  eject_buttons_[0]->setObjectName(eject_name + QStringLiteral("_0"));
  eject_buttons_[1] = new QPushButton(QStringLiteral("挿入"), this);
  eject_buttons_[1]->setObjectName(eject_name + QStringLiteral("_1"));
  setting_button_ = new QPushButton(QStringLiteral("設定"), this);
  setting_button_->setObjectName(read ? QStringLiteral("cmdReadSetting") : QStringLiteral("cmdWriteSetting"));
  speed_combo_ = new QComboBox(this);
  speed_combo_->setObjectName(read ? QStringLiteral("cboReadSpeed") : QStringLiteral("cboWriteSpeed"));
  speed_combo_->setMinimumContentsLength(16);
  status_label_ = new QLabel(kNoDevice, this);
  status_label_->setObjectName(read ? QStringLiteral("lblSendDriveStatus") : QStringLiteral("lblRecvDriveStatus"));
  timer_ = new QTimer(this);
  timer_->setObjectName(read ? QStringLiteral("tmrSendDevice") : QStringLiteral("tmrRecvDevice"));
  timer_->setInterval(kStatusInterval);

  auto* grid = new QGridLayout(this);
  grid->addWidget(drive_combo_, 0, 0, 1, 4);
  grid->addWidget(network_box_, 0, 4);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {eject_buttons_[0], eject_buttons_[1], setting_button_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  grid->addLayout(buttons, 1, 0, 1, 2);
  grid->addWidget(speed_combo_, 1, 2, 1, 3);
  grid->addWidget(status_label_, 2, 0, 1, 5);
  grid->setColumnStretch(3, 1);

  connect(network_box_, &QCheckBox::clicked, this, [this] {
    emit NetworkClicked();
    if (!routed_) RebuildDriveList();
  });
  connect(drive_combo_, &QComboBox::activated, this, [this] {
    emit DriveActivated();
    if (!routed_) OpenChosenDrive();
  });
  connect(speed_combo_, &QComboBox::activated, this, [this] { RememberSpeed(); });
  connect(eject_buttons_[0], &QPushButton::clicked, this, [this] { EjectOrLoad(0); });
  connect(eject_buttons_[1], &QPushButton::clicked, this, [this] { EjectOrLoad(1); });
  connect(setting_button_, &QPushButton::clicked, this, [this] { ShowParameters(); });
  // While the list is rebuilt (the window runs as remote drives are probed)
  // there is no device for a while: the status line keeps what it showed.
  connect(timer_, &QTimer::timeout, this, [this] {
    if (!busy_) RefreshDriveStatus();
  });

  {
    QSignalBlocker block(speed_combo_);
    speed_combo_->addItem(QStringLiteral("Full Speed"), 0);
  }
  QPalette palette = status_label_->palette();
  palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
  status_label_->setPalette(palette);
  timer_->start();
}

QString DrivePanel::Caption() const { return window() != nullptr ? window()->windowTitle() : QString(); }

bool DrivePanel::Supports(Trelin& probe) const {
  if (side_ == DriveSide::kRead) return probe.IsReadSupport(MFT_CDFAMILY) || probe.IsReadSupport(MFT_DVDFAMILY);
  return probe.IsWriteSupport(MFT_CDFAMILY) || probe.IsWriteSupport(MFT_DVDFAMILY);
}

bool DrivePanel::AddProbedDrive(Trelin& probe, QChar letter, const QString& host, const QString& remote_path) {
  if (!Supports(probe)) return false;
  return AddProbedDrive(true, true, probe.GetDeviceName(DNC_VENDORNAME), letter, host, remote_path);
}

bool DrivePanel::AddProbedDrive(bool reads, bool writes, const QString& name, QChar letter, const QString& host,
                                const QString& remote_path) {
  if (!(side_ == DriveSide::kRead ? reads : writes)) return false;
  QSignalBlocker block(drive_combo_);
  if (remote_path.isEmpty()) {
    drive_combo_->addItem(QLatin1Char('(') + letter + QStringLiteral(":) ") + name, letter.unicode() - u'A');
  } else {
    if (!remote_paths_.AddNew(remote_path)) return false;
    drive_combo_->addItem(QStringLiteral("(\\\\") + host + QLatin1Char('\\') + letter + QStringLiteral(":) ") + name,
                          -remote_paths_.Count());
  }
  return true;
}

namespace {

struct ProbedDrive {
  QChar letter;
  QString host;
  QString path;
  bool reads = false;
  bool writes = false;
  QString name;
};

// Opens every drive letter of every host, kProbeThreads at a time on worker
// threads (a host that answers discovery but not the opens costs a connect
// time-out per letter), while the window is drawn; the drives that opened in
// the order of hosts and letters. `first` is one of the probing objects.
std::vector<ProbedDrive> ProbeRemoteDrives(const List<QString>& hosts, int32_t port, std::unique_ptr<Trelin> first) {
  constexpr int kProbeThreads = 4;  // below a daemon's connection limit
  std::vector<ProbedDrive> drives;
  for (const QString& host : hosts) {
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
      ProbedDrive drive;
      drive.letter = QChar(c);
      drive.host = host;
      drive.path = RemoteDevicePath(host, port, drive.letter);
      drives.push_back(std::move(drive));
    }
  }
  std::vector<char> opened(drives.size(), 0);  // one element per worker write, no shared bits
  // The engines are made here: a missing engine is told on this thread.
  std::vector<std::unique_ptr<Trelin>> probes;
  probes.push_back(std::move(first));
  for (size_t i = 1; i < std::min<size_t>(kProbeThreads, drives.size()); ++i) {
    probes.push_back(std::make_unique<Trelin>());
  }
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable done_changed;
  size_t done = 0;
  std::vector<std::thread> workers;
  for (auto& probe : probes) {
    workers.emplace_back([&, engine = probe.get()] {
      for (size_t i = next++; i < drives.size(); i = next++) {
        ProbedDrive& drive = drives[i];
        if (engine->OpenDeviceEx(drive.path)) {
          drive.reads = engine->IsReadSupport(MFT_CDFAMILY) || engine->IsReadSupport(MFT_DVDFAMILY);
          drive.writes = engine->IsWriteSupport(MFT_CDFAMILY) || engine->IsWriteSupport(MFT_DVDFAMILY);
          drive.name = engine->GetDeviceName(DNC_VENDORNAME);
          engine->CloseDevice();
          opened[i] = 1;
        }
        std::lock_guard lock(mutex);
        ++done;
        done_changed.notify_all();
      }
    });
  }
  for (;;) {
    {
      std::unique_lock lock(mutex);
      if (done_changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return done == drives.size(); })) break;
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  for (std::thread& worker : workers) worker.join();
  std::vector<ProbedDrive> found;
  for (size_t i = 0; i < drives.size(); ++i) {
    if (opened[i]) found.push_back(std::move(drives[i]));
  }
  return found;
}

}  // namespace

void DrivePanel::ListDrives(const QList<DrivePanel*>& sides) {
  QList<DrivePanel*> local;
  QList<DrivePanel*> remote;
  for (DrivePanel* side : sides) {
    side->ClearRemotePaths();
    (side->network_box_->isChecked() ? remote : local).append(side);
  }
  auto probe = std::make_unique<Trelin>();
  if (!local.isEmpty()) {
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
      const QChar letter(c);
      if (GetPathDriveType(QString(letter) + QStringLiteral(":\\")) != kDriveCdRom) continue;
      if (!probe->OpenDevice(c - u'A')) continue;
      for (DrivePanel* side : local) side->AddProbedDrive(*probe, letter);
      probe->CloseDevice();
    }
  }
  if (!remote.isEmpty()) {
    const List<QString> hosts = FindRemoteServers(*probe);
    const int32_t port = Settings() != nullptr ? Settings()->RemotePort() : kDefaultRemotePort;
    for (const ProbedDrive& drive : ProbeRemoteDrives(hosts, port, std::move(probe))) {
      for (DrivePanel* side : remote) {
        side->AddProbedDrive(drive.reads, drive.writes, drive.name, drive.letter, drive.host, drive.path);
      }
    }
  }
}

void DrivePanel::RebuildDriveList() {
  if (busy_) return;
  busy_ = true;
  std::optional<HourglassCursor> wait(std::in_place);
  if (device_) {
    if (hooks_.device_closing) hooks_.device_closing();
    device_->CloseDevice();
    device_.reset();
  }
  const int old_count = drive_combo_->count();
  const QString old_text = drive_combo_->currentText();
  ListDrives({this});

  if (network_box_->isChecked() && drive_combo_->count() <= old_count) {
    // Nothing remote: the old list stays and its drive is opened again.
    OpenChosenDrive();
    wait.reset();  // the normal pointer over the message
    CenterMessageBox(window(), kNoRemoteDrive, kStyleExclamation, Caption());
    network_box_->setChecked(false);
  } else if (DropOldItems(old_count, keep_drive_text_ ? old_text : QString())) {
    OpenChosenDrive();
  } else {
    RefreshDriveStatus();
  }
  busy_ = false;
}

bool DrivePanel::DropOldItems(int old_count, const QString& text) {
  QSignalBlocker block(drive_combo_);
  for (int i = std::min(old_count, drive_combo_->count()) - 1; i >= 0; --i) drive_combo_->removeItem(i);
  const int kept = text.isEmpty() ? -1 : drive_combo_->findText(text, Qt::MatchExactly);
  drive_combo_->setCurrentIndex(kept >= 0 ? kept : (drive_combo_->count() > 0 ? 0 : -1));
  return drive_combo_->currentIndex() >= 0;
}

std::shared_ptr<Trelin> DrivePanel::OpenSelected() const {
  const int index = drive_combo_->currentIndex();
  if (index < 0) return nullptr;
  const int32_t data = drive_combo_->itemData(index).toInt();
  auto device = std::make_shared<Trelin>();
  bool opened = false;
  if (data >= 0) {
    opened = device->OpenDevice(data);
  } else if (std::optional<QString> path = remote_paths_.Item(-data)) {
    opened = device->OpenDeviceEx(*path);
  }
  return opened ? device : nullptr;
}

void DrivePanel::SetDevice(std::shared_ptr<Trelin> device, bool close_old) {
  if (device_ && close_old && device_ != device) device_->CloseDevice();
  device_ = std::move(device);
}

void DrivePanel::OpenChosenDrive() {
  HourglassCursor wait;
  if (device_) {
    if (hooks_.device_closing) hooks_.device_closing();
    SetDevice(nullptr, true);
  }
  if (drive_combo_->currentIndex() >= 0) {
    if (hooks_.drive_opening) hooks_.drive_opening();
    device_ = OpenSelected();
  }
  if (hooks_.device_opened) hooks_.device_opened();
  RefreshDriveStatus();
  if (hooks_.drive_changed) hooks_.drive_changed();
}

void DrivePanel::RefreshDriveStatus() {
  QString text;
  bool ready = false;
  QPalette palette = status_label_->palette();
  if (!device_) {
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    text = kNoDevice;
  } else {
    palette.setColor(QPalette::WindowText, QApplication::palette(status_label_).color(QPalette::WindowText));
    ready = WithBoundedWait(*device_, [this] { return device_->IsReady(); });
    text = ready ? QStringLiteral("覚悟完了 (") + Trelin::GetMediaTypeName(device_->GetMediaType()) + QLatin1Char(')')
                 : kNotReady;
  }
  status_label_->setPalette(palette);
  if (status_label_->text() != text) status_label_->setText(text);

  QString key = text;
  if (key_from_device_name_) {
    if (device_) key += device_->GetDeviceName(DNC_ALL);
    status_label_->setProperty("Tag", key);
  } else {
    key += drive_combo_->currentText();
  }
  if (key != status_key_ || speed_combo_->count() == 0) {
    status_key_ = key;
    FillSpeedList();
  }
  if (hooks_.status_refreshed) hooks_.status_refreshed(device_ != nullptr, ready);
}

QString DrivePanel::SpeedKey(int32_t family) const {
  if (family == MFT_CDFAMILY) return speed_combo_->objectName() + QStringLiteral("CD");
  if (family >= MFT_DVDFAMILY && family <= MFT_HDDVDFAMILY) return speed_combo_->objectName() + QStringLiteral("DVD");
  return QString();
}

void DrivePanel::FillSpeedList() {
  const int32_t family = device_ ? device_->GetMediaFamilyType() : 0;
  const double rate = OneXRate(family);
  QSignalBlocker block(speed_combo_);
  speed_combo_->clear();
  speed_combo_->addItem(QStringLiteral("Full Speed"), 0);
  if (device_ && rate > 0) {
    std::unique_ptr<TLNSpeeds> speeds =
        side_ == DriveSide::kRead ? device_->GetReadSpeed() : device_->GetWriteSpeed();
    for (int i = 1; speeds && i <= speeds->Count(); ++i) {
      const TLNSpeed* s = speeds->Items(i);
      speed_combo_->addItem(SpeedText(s->Speed, rate), SpeedItemData(s->Speed, s->CAV));
    }
  }
  int chosen = -1;
  if (device_) {
    const QString key = SpeedKey(family);
    if (!key.isEmpty()) {
      const QString stored = GetDialogSetting(form_name_, key);
      if (!stored.isEmpty()) chosen = speed_combo_->findText(stored, Qt::MatchExactly);
    }
  }
  speed_combo_->setCurrentIndex(chosen >= 0 ? chosen : 0);
}

void DrivePanel::RememberSpeed() {
  if (!device_) return;
  const QString key = SpeedKey(device_->GetMediaFamilyType());
  if (!key.isEmpty()) SaveDialogSetting(form_name_, key, speed_combo_->currentText());
}

void DrivePanel::EjectOrLoad(int index) {
  HourglassCursor wait;
  if (device_) device_->LoadTray(index != 0);
}

void DrivePanel::ShowParameters() {
  if (!device_) {
    CenterMessageBox(window(), kDeviceUnavailable, kStyleCritical, Caption());
    return;
  }
  // The dialog may outlive a drive change; it keeps its own reference.
  std::shared_ptr<Trelin> device = device_;
  if (side_ == DriveSide::kRead) {
    PropertyReadParameterForm form(window());
    form.ShowOpen(*device);
  } else {
    PropertyWriteParameterForm form(window());
    form.ShowOpen(*device);
  }
}

void DrivePanel::Load() {
  RebuildDriveList();
  const QString stored = GetDialogSetting(form_name_, drive_combo_->objectName());
  const int index = stored.isEmpty() ? -1 : drive_combo_->findText(stored, Qt::MatchExactly);
  if (index >= 0 && index != drive_combo_->currentIndex()) {
    {
      QSignalBlocker block(drive_combo_);
      drive_combo_->setCurrentIndex(index);
    }
    OpenChosenDrive();
  } else if (drive_combo_->currentIndex() < 0 && drive_combo_->count() > 0) {
    {
      QSignalBlocker block(drive_combo_);
      drive_combo_->setCurrentIndex(0);
    }
    OpenChosenDrive();
  }
}

void DrivePanel::Unload() {
  timer_->stop();
  SaveDialogSetting(form_name_, drive_combo_->objectName(), drive_combo_->currentText());
  if (device_) {
    if (hooks_.device_closing) hooks_.device_closing();
    SetDevice(nullptr, true);
  }
  remote_paths_.Clear();
}

void DrivePanel::SetJobRunning(bool running) {
  setEnabled(!running);
  if (running) {
    timer_->stop();
  } else {
    timer_->start();
  }
}

int32_t DrivePanel::ChosenSpeed() const {
  return speed_combo_->currentIndex() < 0 ? 0 : SpeedOfItemData(speed_combo_->currentData().toInt());
}

bool DrivePanel::ChosenCav() const {
  return speed_combo_->currentIndex() >= 0 && CavOfItemData(speed_combo_->currentData().toInt());
}

bool DrivePanel::ApplySpeed() {
  if (!device_) return false;
  if (speed_combo_->currentIndex() < 0) return true;
  return WithBoundedWait(*device_, [this] {
    return side_ == DriveSide::kRead ? device_->SetReadSpeed(ChosenSpeed(), ChosenCav())
                                     : device_->SetWriteSpeed(ChosenSpeed(), ChosenCav());
  });
}

}  // namespace sorvel
