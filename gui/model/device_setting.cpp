#include "gui/model/device_setting.h"

#include <QFile>
#include <QSettings>
#include <algorithm>
#include <limits>
#include <optional>

#include "gui/model/public_enumerations.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

std::optional<int64_t> ToInteger(const QVariant& value, int64_t low, int64_t high) {
  bool ok = false;
  const qlonglong number = value.toString().trimmed().toLongLong(&ok);
  if (!ok || number < low || number > high) return std::nullopt;
  return number;
}

std::optional<bool> ToTruth(const QVariant& value) {
  const QString text = value.toString().trimmed();
  if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
  if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
  bool ok = false;
  const double number = text.toDouble(&ok);
  if (!ok) return std::nullopt;
  return number != 0;
}

constexpr int64_t kShortMin = std::numeric_limits<int16_t>::min();
constexpr int64_t kShortMax = std::numeric_limits<int16_t>::max();
constexpr int64_t kLongMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kLongMax = std::numeric_limits<int32_t>::max();

}  // namespace

DeviceSetting::DeviceSetting(QSettings* store) : store_(store) { Clear(); }

DeviceSetting::~DeviceSetting() = default;

QSettings& DeviceSetting::store() const {
  if (store_ != nullptr) return *store_;
  auto* self = const_cast<DeviceSetting*>(this);
  if (!self->own_store_) {
    // $XDG_CONFIG_HOME/sorvel/user-settings.ini, beside the drive map and
    // apart from the application's own settings file.
    self->own_store_ = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                   QStringLiteral("sorvel"), QStringLiteral("user-settings"));
  }
  return *self->own_store_;
}

void DeviceSetting::Clear() {
  ReadBlockLength = 26;
  CDReadCommand = 2;
  DVDReadCommand = 0;
  ReadFirstPregap = false;
  IgnoreError = false;
  RetryCount = 0;
  BurstErrorSkip = false;
  SkipUnit = 100;
  OnlyFirstSession = false;
  UnableToAnalizePregap = false;
  CollectSubPQRead = false;
  WriteBlockLength = 26;
  CDWriteCommand = 0;
  DVDWriteCommand = 0;
  ErrorFirstPregap = false;
  WriteCacheBufferRate = 10;
  OverBurn = false;
  OPCOff = false;
  CollectSubPQWrite = true;
  VerifyPassFrom = -2;
  VerifyPassTo = 0;
  ForceEject = true;
  section_.clear();
}

QString DeviceSetting::SectionName(const QString& device_name) {
  QString name = device_name;
  name.replace(QLatin1Char('%'), QLatin1String("%25"));
  name.replace(QLatin1Char('/'), QLatin1String("%2F"));
  name.replace(QLatin1Char('\\'), QLatin1String("%5C"));
  return name;
}

void DeviceSetting::LoadSetting(Trelin& device) {
  Clear();
  section_ = device.GetDeviceName(DNC_ALL);
  QSettings& s = store();
  s.beginGroup(SectionName(section_));
  auto integer = [&](const char* key, int32_t& field, int32_t fallback, int64_t low, int64_t high) {
    if (auto v = ToInteger(s.value(QLatin1String(key), fallback), low, high)) field = static_cast<int32_t>(*v);
  };
  auto truth = [&](const char* key, bool& field, bool fallback) {
    if (auto v = ToTruth(s.value(QLatin1String(key), fallback ? "True" : "False"))) field = *v;
  };
  integer("ReadBlockLength", ReadBlockLength, 26, kShortMin, kShortMax);
  integer("CDReadCommand", CDReadCommand, 2, kLongMin, kLongMax);
  integer("DVDReadCommand", DVDReadCommand, 0, kLongMin, kLongMax);
  truth("ReadFirstPregap", ReadFirstPregap, false);
  truth("IgnoreError", IgnoreError, false);
  integer("RetryCount", RetryCount, 0, kShortMin, kShortMax);
  truth("BurstErrorSkip", BurstErrorSkip, false);
  integer("SkipUnit", SkipUnit, 100, kShortMin, kShortMax);
  truth("OnlyFirstSession", OnlyFirstSession, false);
  truth("UnableToAnalizePregap", UnableToAnalizePregap, false);
  truth("CollectSubPQRead", CollectSubPQRead, false);
  integer("WriteBlockLength", WriteBlockLength, 26, kShortMin, kShortMax);
  const int32_t best = device.GetDefaultCDWriteCommand();
  integer("CDWriteCommand", CDWriteCommand, best, kLongMin, kLongMax);
  integer("DVDWriteCommand", DVDWriteCommand, 0, kLongMin, kLongMax);
  truth("ErrorFirstPregap", ErrorFirstPregap, false);
  integer("WriteCacheBufferRate", WriteCacheBufferRate, 10, kLongMin, kLongMax);
  truth("OverBurn", OverBurn, false);
  truth("OPCOff", OPCOff, false);
  truth("CollectSubPQWrite", CollectSubPQWrite, true);
  integer("VerifyPassFrom", VerifyPassFrom, -2, kLongMin, kLongMax);
  integer("VerifyPassTo", VerifyPassTo, 0, kLongMin, kLongMax);
  truth("ForceEject", ForceEject, true);
  s.endGroup();
  // Values a job would misuse: a skip that never advances, a retry count the
  // drive cannot take, a cache of more than all free memory.
  SkipUnit = std::max(SkipUnit, 1);
  RetryCount = std::clamp(RetryCount, 0, 255);
  WriteCacheBufferRate = std::clamp(WriteCacheBufferRate, 0, 100);
}

void DeviceSetting::SaveSetting() {
  if (section_.isEmpty()) return;
  QSettings& s = store();
  s.beginGroup(SectionName(section_));
  auto number = [&](const char* key, int32_t value) { s.setValue(QLatin1String(key), QString::number(value)); };
  auto truth = [&](const char* key, bool value) {
    s.setValue(QLatin1String(key), value ? QStringLiteral("True") : QStringLiteral("False"));
  };
  number("ReadBlockLength", ReadBlockLength);
  number("CDReadCommand", CDReadCommand);
  number("DVDReadCommand", DVDReadCommand);
  truth("ReadFirstPregap", ReadFirstPregap);
  truth("IgnoreError", IgnoreError);
  number("RetryCount", RetryCount);
  truth("BurstErrorSkip", BurstErrorSkip);
  number("SkipUnit", SkipUnit);
  truth("OnlyFirstSession", OnlyFirstSession);
  truth("UnableToAnalizePregap", UnableToAnalizePregap);
  truth("CollectSubPQRead", CollectSubPQRead);
  number("WriteBlockLength", WriteBlockLength);
  number("CDWriteCommand", CDWriteCommand);
  number("DVDWriteCommand", DVDWriteCommand);
  truth("ErrorFirstPregap", ErrorFirstPregap);
  number("WriteCacheBufferRate", WriteCacheBufferRate);
  truth("OverBurn", OverBurn);
  truth("OPCOff", OPCOff);
  truth("CollectSubPQWrite", CollectSubPQWrite);
  // Keys of an earlier layout of the store.
  s.remove(QStringLiteral("CollectSubQWrite"));
  number("VerifyPassFrom", VerifyPassFrom);
  number("VerifyPassTo", VerifyPassTo);
  truth("ForceEject", ForceEject);
  s.remove(QStringLiteral("CollectSubQRead"));
  s.remove(QStringLiteral("WriteCacheBufferSize"));
  s.endGroup();
  s.sync();
}

int32_t DeviceSetting::CDReadFlags() const {
  int32_t flags = 0;
  if (ReadFirstPregap) flags |= CDD_FIRSTPREGAP;
  if (OnlyFirstSession) flags |= CDD_FIRSTSESSIONONLY;
  if (UnableToAnalizePregap) flags |= CDD_NOPREGAP;
  if (CollectSubPQRead) flags |= CDD_COLLECTSUBPQ;
  return flags;
}

QString DeviceSetting::CDReadCommandName() const {
  switch (CDReadCommand) {
    case 1: return QStringLiteral("RAW");
    case 2: return QStringLiteral("RAW+SUB16");
    case 3: return QStringLiteral("RAW+SUB96");
    default: return {};
  }
}

QString DeviceSetting::CDWriteCommandName() const {
  switch (CDWriteCommand) {
    case 0: return QStringLiteral("SAO");
    case 1: return QStringLiteral("SAO RAW");
    case 3: return QStringLiteral("DAO RAW+SUB16");
    case 4: return QStringLiteral("DAO RAW+SUB96");
    default: return {};
  }
}

int32_t DeviceSetting::CacheSizeFor(int64_t free_bytes, int32_t rate) {
  if (rate < 1) return 0;
  const int64_t bytes = std::clamp<int64_t>(free_bytes, 0, std::numeric_limits<int32_t>::max());
  const int64_t mib = bytes / 1024 / 1024;
  return static_cast<int32_t>(std::max<int64_t>(mib * std::min(rate, 100) / 100, 5));
}

int32_t DeviceSetting::WriteCacheBufferSize() const { return CacheSizeFor(AvailableMemory(), WriteCacheBufferRate); }

int64_t DeviceSetting::AvailableMemory(const QString& meminfo_path) {
  QFile file(meminfo_path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  // "MemAvailable:   12345678 kB". Files of /proc report no size, so the
  // lines are read until one comes back empty.
  for (int lines = 0; lines < 256; ++lines) {
    const QByteArray line = file.readLine(256);
    if (line.isEmpty()) break;
    if (!line.startsWith("MemAvailable:")) continue;
    const QList<QByteArray> fields = line.mid(13).simplified().split(' ');
    bool ok = false;
    const qlonglong kib = fields.value(0).toLongLong(&ok);
    if (!ok || kib < 0 || kib > (std::numeric_limits<int64_t>::max() >> 10)) return 0;
    return static_cast<int64_t>(kib) * 1024;
  }
  return 0;
}

}  // namespace sorvel
