#include "gui/foundation/application_setting.h"

#include <QDir>
#include <mutex>

#include "gui/foundation/file_paths.h"
#include "gui/foundation/string_module.h"

namespace sorvel {
namespace {

struct MediaCapacity {
  const char* name;
  int32_t sectors;
};

// Used when the settings file lists no media types.
constexpr MediaCapacity kDefaultMedia[] = {
    {"CD-R 74分 (650MB)", 333000},      {"CD-R 80分 (700MB)", 359849},   {"DVD±R 4.7GB", 2295104},
    {"DVD±R DL 8.5GB", 4171712},        {"BD-R 25GB", 12219392},         {"BD-R DL 50GB", 24438784},
};

QString IndexedKey(const char* key, int index) { return QString::fromLatin1(key) + QString::number(index); }

// Field `field` (0 or 1) of a media value "name<TAB>capacity": the text before
// the first tab, or the text after it up to a second tab; "" when missing.
// Split here rather than with the process-wide tokenizer, so that reading a
// setting never disturbs a tokenizing loop of the caller.
QString TabField(const QString& value, int field) {
  const qsizetype tab = value.indexOf(u'\t');
  if (field == 0) return tab < 0 ? value : value.left(tab);
  if (tab < 0) return QString();
  const qsizetype next = value.indexOf(u'\t', tab + 1);
  return next < 0 ? value.mid(tab + 1) : value.mid(tab + 1, next - tab - 1);
}

ApplicationSetting* g_settings = nullptr;
int g_user_count = 0;

}  // namespace

ApplicationSetting::ApplicationSetting(const QString& file_path) : file_path_(file_path) {
  if (!ini_.LoadINI(file_path_, &load_problem_) && load_problem_.Missing()) load_problem_ = FileProblem{};
}

ApplicationSetting::~ApplicationSetting() {
  if (changed_) Save();
}

QString ApplicationSetting::Read(const char* key) const { return ini_.SectionKey(QString::fromLatin1(key)); }

void ApplicationSetting::Write(const QString& key, const QString& value) {
  ini_.SetSectionKey(key, QString(), value);
  changed_ = true;
}

int32_t ApplicationSetting::ReadNumber(const char* key, int32_t fallback) const {
  const QString value = Read(key);
  return value.isEmpty() ? fallback : ReadInt32(value);
}

bool ApplicationSetting::ReadFlag(const char* key) const { return TrimSpaces(Read(key)) != QLatin1String("0"); }

QString ApplicationSetting::DiscCapacityName(int index) const {
  if (ini_.SectionKey(QStringLiteral("[DISCCAPACITY]Media1")).isEmpty()) {
    if (index < 1 || index > static_cast<int>(std::size(kDefaultMedia))) return QString();
    return QString::fromUtf8(kDefaultMedia[index - 1].name);
  }
  const QString value = ini_.SectionKey(IndexedKey("[DISCCAPACITY]Media", index));
  if (value.isEmpty()) return QString();
  return TrimSpaces(TabField(value, 0));
}

int32_t ApplicationSetting::DiscCapacity(int index) const {
  if (ini_.SectionKey(QStringLiteral("[DISCCAPACITY]Media1")).isEmpty()) {
    if (index < 1 || index > static_cast<int>(std::size(kDefaultMedia))) return 0;
    return kDefaultMedia[index - 1].sectors;
  }
  const QString value = ini_.SectionKey(IndexedKey("[DISCCAPACITY]Media", index));
  if (value.isEmpty()) return 0;
  return ReadInt32(TabField(value, 1));
}

int32_t ApplicationSetting::ShutdownFailed() const { return ReadNumber("[WRITING]SHUTDOWNFAILED", 0); }
void ApplicationSetting::SetShutdownFailed(int32_t flag) {
  Write(QStringLiteral("[WRITING]SHUTDOWNFAILED"), QString::number(flag));
}

int32_t ApplicationSetting::ShutdownSuccess() const { return ReadNumber("[WRITING]SHUTDOWNSUCCESS", 8); }
void ApplicationSetting::SetShutdownSuccess(int32_t flag) {
  Write(QStringLiteral("[WRITING]SHUTDOWNSUCCESS"), QString::number(flag));
}

bool ApplicationSetting::VerifyCompare() const { return ReadFlag("[WRITING]VERIFYCOMPARE"); }
void ApplicationSetting::SetVerifyCompare(bool on) {
  Write(QStringLiteral("[WRITING]VERIFYCOMPARE"), on ? QStringLiteral("1") : QStringLiteral("0"));
}

bool ApplicationSetting::EjectAfterMessage() const { return ReadFlag("[WRITING]EJECTAFTERMESSAGE"); }
void ApplicationSetting::SetEjectAfterMessage(bool on) {
  Write(QStringLiteral("[WRITING]EJECTAFTERMESSAGE"), on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString ApplicationSetting::PathTemp() const { return TrimSpaces(Read("[PATH]TEMP")); }
void ApplicationSetting::SetPathTemp(const QString& path) { Write(QStringLiteral("[PATH]TEMP"), TrimSpaces(path)); }

QString ApplicationSetting::PathLog() const { return TrimSpaces(Read("[PATH]LOG")); }
void ApplicationSetting::SetPathLog(const QString& path) { Write(QStringLiteral("[PATH]LOG"), TrimSpaces(path)); }

QString ApplicationSetting::PathLogViewer() const { return TrimSpaces(Read("[PATH]LOGVIEWER")); }
void ApplicationSetting::SetPathLogViewer(const QString& path) {
  Write(QStringLiteral("[PATH]LOGVIEWER"), TrimSpaces(path));
}

int32_t ApplicationSetting::RemotePort() const { return ReadNumber("[NETWORK]PORT", kDefaultRemotePort); }
void ApplicationSetting::SetRemotePort(int32_t port) { Write(QStringLiteral("[NETWORK]PORT"), QString::number(port)); }

QString ApplicationSetting::RemoteIP(int index) const { return ini_.SectionKey(IndexedKey("[NETWORK]IP", index)); }
void ApplicationSetting::SetRemoteIP(int index, const QString& server) {
  const QString key = IndexedKey("[NETWORK]IP", index);
  const QString trimmed = TrimSpaces(server);
  if (trimmed.isEmpty()) {
    ini_.Remove(key);
    changed_ = true;
  } else {
    Write(key, trimmed);
  }
}

int32_t ApplicationSetting::ScanTimeout() const {
  int32_t value = ReadNumber("[NETWORK]SCANTIMEOUT", 200);
  return value < 1 ? 200 : value;
}
void ApplicationSetting::SetScanTimeout(int32_t milliseconds) {
  Write(QStringLiteral("[NETWORK]SCANTIMEOUT"), QString::number(milliseconds));
}

bool ApplicationSetting::Save() {
  // A file that is there but was not read is never replaced by the defaults.
  if (!changed_ || load_problem_) return false;
  // The settings folder under the user's configuration folder may not exist yet.
  QDir().mkpath(GetDirectoryPart(file_path_));
  if (!ini_.SaveINI(file_path_)) return false;
  changed_ = false;
  return true;
}

namespace {
// Automation objects are made on the bus thread and end on their workers.
std::mutex g_users_lock;
}  // namespace

ApplicationSetting* AcquireSettings() {
  std::lock_guard lock(g_users_lock);
  if (g_user_count < 1) g_settings = new ApplicationSetting();
  ++g_user_count;
  return g_settings;
}

void ReleaseSettings() {
  std::lock_guard lock(g_users_lock);
  if (g_user_count <= 0) return;  // a release without an acquisition
  if (--g_user_count > 0) return;
  ApplicationSetting* settings = g_settings;
  g_settings = nullptr;
  delete settings;
}

ApplicationSetting* Settings() { return g_settings; }

}  // namespace sorvel
