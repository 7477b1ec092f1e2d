#include "gui/model/trelin.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <cstring>

#include "gui/model/engine_text.h"
#include "gui/model/sense_text.h"
#include "gui/model/toc_parts.h"
#include "platform/toc_extents.h"

namespace sorvel {
namespace {

enum TrelinExport : size_t {
  kGetEngineVersion, kInitialize, kTerminate, kGetRemoteHosts, kOpen, kOpenEx, kClose, kGetDeviceName,
  kClearTOCStructure, kGetTOCStructure, kSetTOCStructure, kGetFirstLBA, kGetLastLBA, kSetBufferingBlockLength,
  kReadStart, kReadLBA, kReadLBADummy, kReadEnd, kWriteStart, kWriteLBA, kWriteFlush, kWriteEnd,
  kGetLastWroteLBA, kLoadTray, kIsReady, kGetMediaType, kGetMediaFamilyType, kLockUnlock, kErase,
  kIsSupportMedia, kIsReadSupport, kIsWriteSupport, kIsDiscEmpty, kResetSense, kSetECCMode, kSetReadSpeed,
  kSetWriteSpeed, kGetWriteSpeed, kCheckWriteMode, kGetSCSIErrorStatus, kSetWriteCacheBufferSize,
  kGetUsedWriteCacheBufferSize, kSetWaitCallback, kTrelinExportCount
};

constexpr std::array<const char*, kTrelinExportCount> kExportNames = {
    "GetEngineVersion", "Initialize", "Terminate", "GetRemoteHosts", "Open", "OpenEx", "Close", "GetDeviceName",
    "ClearTOCStructure", "GetTOCStructure", "SetTOCStructure", "GetFirstLBA", "GetLastLBA",
    "SetBufferingBlockLength", "ReadStart", "ReadLBA", "ReadLBADummy", "ReadEnd", "WriteStart", "WriteLBA",
    "WriteFlush", "WriteEnd", "GetLastWroteLBA", "LoadTray", "IsReady", "GetMediaType", "GetMediaFamilyType",
    "LockUnlock", "Erase", "IsSupportMedia", "IsReadSupport", "IsWriteSupport", "IsDiscEmpty", "ResetSense",
    "SetECCMode", "SetReadSpeed", "SetWriteSpeed", "GetWriteSpeed", "CheckWriteMode", "GetSCSIErrorStatus",
    "SetWriteCacheBufferSize", "GetUsedWriteCacheBufferSize", "SetWaitCallback"};
static_assert(kExportNames.size() == 43);

using IntFn = int32_t(intptr_t);
using IntIntFn = int32_t(intptr_t, int32_t);
using IntIntIntFn = int32_t(intptr_t, int32_t, int32_t);
using PartFn = int32_t(intptr_t, int32_t, void*, int32_t);
using SectorFn = int32_t(intptr_t, void*, int32_t);

constexpr int32_t Truth(bool value) { return value ? 1 : 0; }

constexpr int kDeviceNameSize = 256;
constexpr int kHostListSize = 1024;
// A host list longer than this is not fetched again.
constexpr int kHostListLimit = 1 << 20;
constexpr int kWriteSpeedRoom = 255;
// Drive indexes: A: to Z:.
constexpr int32_t kLastDriveIndex = 25;
constexpr int32_t kLastPort = 65535;

// An LBA some medium can name: from the lead-in's 90:00:00 to the end of the
// largest disc. No other number reaches the engine.
constexpr bool IsAddress(int32_t lba) { return lba >= -45150 && lba <= platform::kAnyDiscBounds.last_lba; }
constexpr int kWriteSpeedEntrySize = 4;

}  // namespace

Trelin::Trelin()
    : EngineBinding("libtrelin.so", kExportNames, kInitialize,
                    QStringLiteral("光盤中継機構－Trelin－が異常若しくは見つかりません。")) {}

namespace {

using WaitCallbackFn = int32_t(intptr_t, int32_t (*)(void*), void*);

int32_t AskWaitHandler(void* context) { return (*static_cast<std::function<bool()>*>(context))() ? 1 : 0; }

}  // namespace

Trelin::~Trelin() {
  if (wait_handler_) SetWaitHandler({});
  CallVoid<void(intptr_t)>(kTerminate, handle_);
}

void Trelin::SetWaitHandler(std::function<bool()> waiting) {
  // The engine lets go of the old handler before it changes.
  Call<WaitCallbackFn>(kSetWaitCallback, 0, handle_, nullptr, nullptr);
  wait_handler_ = std::move(waiting);
  if (wait_handler_) Call<WaitCallbackFn>(kSetWaitCallback, 0, handle_, &AskWaitHandler, &wait_handler_);
}

int32_t Trelin::GetEngineVersion() const {
  auto* version = reinterpret_cast<int32_t (*)()>(library_->Export(kGetEngineVersion));
  return version != nullptr ? version() : 0;
}

QString Trelin::GetRemoteHosts(const QString& broadcast_ips, int32_t port, int32_t timeout_ms) {
  using Fn = int32_t(intptr_t, const char*, int32_t, char*, int32_t, int32_t);
  if (port < 0 || port > kLastPort) return {};
  const QByteArray targets = EngineText(broadcast_ips);
  QByteArray buffer(kHostListSize, '\0');
  int32_t needed = Call<Fn>(kGetRemoteHosts, 0, handle_, targets.constData(), port, buffer.data(),
                            static_cast<int32_t>(buffer.size()), timeout_ms);
  if (needed <= 0) return {};
  // The export answers with the length the whole list needs; a cut list is
  // asked for again with that much room.
  if (needed > buffer.size() && needed <= kHostListLimit) {
    buffer.fill('\0', needed);
    needed = Call<Fn>(kGetRemoteHosts, 0, handle_, targets.constData(), port, buffer.data(),
                      static_cast<int32_t>(buffer.size()), timeout_ms);
    if (needed <= 0) return {};
  }
  QString hosts = TextFromBuffer(buffer.constData(), static_cast<size_t>(buffer.size()));
  // Still cut (the answers changed in between): keep the whole names only.
  if (needed > buffer.size()) hosts.truncate(std::max<qsizetype>(hosts.lastIndexOf(QLatin1Char('|')), 0));
  return hosts;
}

bool Trelin::AfterOpen(bool opened) {
  if (opened) {
    device_name_ = GetDeviceName(DNC_ALL);
    block_length_ = kMaxBlockLength;
  }
  ecc_changed_ = false;
  remote_ = false;
  return opened;
}

bool Trelin::OpenDevice(int32_t drive) {
  if (!device_name_.isEmpty()) CloseDevice();
  const bool letter = drive >= 0 && drive <= kLastDriveIndex;
  return AfterOpen(letter && Call<IntIntFn>(kOpen, 0, handle_, drive) != 0);
}

bool Trelin::OpenDeviceEx(const QString& device_name) {
  if (!device_name_.isEmpty()) CloseDevice();
  const QByteArray name = EngineText(device_name);
  const bool opened =
      AfterOpen(Call<int32_t(intptr_t, const char*)>(kOpenEx, 0, handle_, name.constData()) != 0);
  remote_ = !device_name.contains(QLatin1String("\\\\.\\"));
  return opened;
}

bool Trelin::CloseDevice() {
  if (ecc_changed_) SetECCMode(true, 0);
  SetReadSpeed(-1, false);
  SetWriteSpeed(-1, false);
  ResetSense();
  ecc_changed_ = false;
  remote_ = false;
  const bool closed = Call<IntFn>(kClose, 0, handle_) != 0;
  if (closed) device_name_.clear();
  return closed;
}

QString Trelin::GetDeviceName(int32_t name_type) {
  char buffer[kDeviceNameSize] = {};
  if (Call<int32_t(intptr_t, int32_t, char*, int32_t)>(kGetDeviceName, 0, handle_, name_type, buffer,
                                                      kDeviceNameSize) == 0) {
    return {};
  }
  return TextFromBuffer(buffer, sizeof buffer);
}

void Trelin::ClearTOCStructure() { Call<IntFn>(kClearTOCStructure, 0, handle_); }

std::unique_ptr<TOCInformation> Trelin::GetTOCStructure() {
  return ReadTocParts([this](int32_t part, void* buffer, int32_t size) {
    return Call<PartFn>(kGetTOCStructure, 0, handle_, part, buffer, size);
  });
}

bool Trelin::SetTOCStructure(const TOCInformation& toc) {
  // A list the engine's parts cannot hold whole is refused; the engine's TOC
  // is emptied all the same, so no earlier TOC is written in its place.
  ClearTOCStructure();
  return WriteTocParts(toc, [this](int32_t part, const void* buffer, int32_t size) {
    Call<int32_t(intptr_t, int32_t, const void*, int32_t)>(kSetTOCStructure, 0, handle_, part, buffer, size);
  });
}

int32_t Trelin::GetTOCStructureRaw(int32_t part, QByteArray& data, int32_t size) {
  size = std::clamp<int32_t>(size, 0, static_cast<int32_t>(data.size()));
  if (size == 0) return 0;
  return Call<PartFn>(kGetTOCStructure, 0, handle_, part, data.data(), size);
}

int32_t Trelin::SetTOCStructureRaw(int32_t part, const QByteArray& data, int32_t size) {
  size = std::clamp<int32_t>(size, 0, static_cast<int32_t>(data.size()));
  if (size == 0) return 0;
  return Call<int32_t(intptr_t, int32_t, const void*, int32_t)>(kSetTOCStructure, 0, handle_, part,
                                                               data.constData(), size);
}

int32_t Trelin::GetFirstLBA() { return Call<IntFn>(kGetFirstLBA, 0, handle_); }

int32_t Trelin::GetLastLBA() { return Call<IntFn>(kGetLastLBA, 0, handle_); }

void Trelin::SetBufferingBlockLength(int32_t block_length) {
  block_length_ = std::clamp<int32_t>(block_length, 1, kMaxBlockLength);
  CallVoid<void(intptr_t, int32_t)>(kSetBufferingBlockLength, handle_, block_length_);
}

int32_t Trelin::ReadStart(int32_t read_command, int32_t read_flag) {
  return Call<IntIntIntFn>(kReadStart, CBR_UNKNOWNMEDIA, handle_, read_command, read_flag);
}

bool Trelin::ReadLBA(QByteArray& data, int32_t lba) {
  if (data.size() < kSectorBufferSize) return false;
  return ReadLBA(reinterpret_cast<uint8_t*>(data.data()), lba);
}

bool Trelin::ReadLBADummy(QByteArray& data, int32_t lba) {
  if (data.size() < kSectorBufferSize) return false;
  return ReadLBADummy(reinterpret_cast<uint8_t*>(data.data()), lba);
}

bool Trelin::ReadLBA(uint8_t* data, int32_t lba) {
  if (data == nullptr || !IsAddress(lba)) return false;
  return Call<SectorFn>(kReadLBA, 0, handle_, data, lba) != 0;
}

bool Trelin::ReadLBADummy(uint8_t* data, int32_t lba) {
  if (data == nullptr || !IsAddress(lba)) return false;
  return Call<SectorFn>(kReadLBADummy, 0, handle_, data, lba) != 0;
}

bool Trelin::ReadEnd() { return Call<IntFn>(kReadEnd, 0, handle_) != 0; }

int32_t Trelin::WriteStart(int32_t write_command, int32_t write_flag) {
  return Call<IntIntIntFn>(kWriteStart, CBR_UNKNOWNMEDIA, handle_, write_command, write_flag);
}

bool Trelin::WriteLBA(int32_t data_type, const QByteArray& data, int32_t lba) {
  if (!IsAddress(lba)) return false;
  const char* bytes = data.constData();
  if (data.size() < kSectorBufferSize) {
    padded_.fill('\0', kSectorBufferSize);
    std::memcpy(padded_.data(), data.constData(), static_cast<size_t>(data.size()));
    bytes = padded_.constData();
  }
  return Call<int32_t(intptr_t, int32_t, const void*, int32_t)>(kWriteLBA, 0, handle_, data_type, bytes, lba) != 0;
}

bool Trelin::WriteEnd(bool abort) { return Call<IntIntFn>(kWriteEnd, 0, handle_, Truth(abort)) != 0; }

bool Trelin::WriteFlush(bool abort) { return Call<IntIntFn>(kWriteFlush, 0, handle_, Truth(abort)) != 0; }

int32_t Trelin::GetLastWroteLBA() { return Call<IntFn>(kGetLastWroteLBA, 0, handle_); }

bool Trelin::LoadTray(bool load) { return Call<IntIntFn>(kLoadTray, 0, handle_, Truth(load)) != 0; }

bool Trelin::IsReady() { return Call<IntFn>(kIsReady, 0, handle_) != 0; }

int32_t Trelin::GetMediaType() { return Call<IntFn>(kGetMediaType, 0, handle_); }

int32_t Trelin::GetMediaFamilyType() { return Call<IntFn>(kGetMediaFamilyType, 0, handle_); }

bool Trelin::LockUnlock(bool lock) { return Call<IntIntFn>(kLockUnlock, 0, handle_, Truth(lock)) != 0; }

bool Trelin::EraseMedia(bool quickly) { return Call<IntIntFn>(kErase, 0, handle_, Truth(quickly)) != 0; }

bool Trelin::IsSupportMedia(int32_t media_type) {
  return Call<IntIntFn>(kIsSupportMedia, 0, handle_, media_type) != 0;
}

bool Trelin::IsReadSupport(int32_t media_family) {
  return Call<IntIntFn>(kIsReadSupport, 0, handle_, media_family) != 0;
}

bool Trelin::IsWriteSupport(int32_t media_family) {
  return Call<IntIntFn>(kIsWriteSupport, 0, handle_, media_family) != 0;
}

bool Trelin::IsDiscEmpty() { return Call<IntFn>(kIsDiscEmpty, 0, handle_) != 0; }

void Trelin::ResetSense() { Call<IntFn>(kResetSense, 0, handle_); }

bool Trelin::SetECCMode(bool enabled, int32_t retry_count) {
  const bool done = Call<IntIntIntFn>(kSetECCMode, 0, handle_, Truth(enabled), retry_count) != 0;
  if (done) ecc_changed_ = true;
  return done;
}

bool Trelin::SetReadSpeed(int32_t speed, bool cav) {
  return Call<IntIntIntFn>(kSetReadSpeed, 0, handle_, speed > 0 ? speed : -1, Truth(cav)) != 0;
}

bool Trelin::SetWriteSpeed(int32_t speed, bool cav) {
  return Call<IntIntIntFn>(kSetWriteSpeed, 0, handle_, speed > 0 ? speed : -1, Truth(cav)) != 0;
}

std::unique_ptr<TLNSpeeds> Trelin::ReadSpeedList(int32_t media_family, int32_t media_type) {
  static constexpr int32_t kCd[] = {8467, 7056, 5645, 4234, 3528, 2822, 2117, 1764, 1411, 706, 352, 176};
  static constexpr int32_t kDvdRam[] = {22160, 16620, 11080, 8310, 6925, 4155, 2770};
  static constexpr int32_t kDvdPlus[] = {22160, 16620, 11080, 8310, 5540, 3324};
  static constexpr int32_t kDvd[] = {22160, 16620, 11080, 8310, 5540, 2770, 1385};
  static constexpr int32_t kBd[] = {4500, 6750, 9000, 18000, 27000, 36000};
  auto speeds = std::make_unique<TLNSpeeds>();
  std::span<const int32_t> list;
  if (media_family == MFT_CDFAMILY || media_family == MFT_UNKNOWN) {
    list = kCd;
  } else if (media_family == MFT_DVDFAMILY) {
    if (media_type == 18) list = kDvdRam;
    else if (media_type == 26 || media_type == 27 || media_type == 42 || media_type == 43) list = kDvdPlus;
    else list = kDvd;
  } else if (media_family == MFT_BDFAMILY || media_family == MFT_HDDVDFAMILY) {
    list = kBd;
  }
  for (int32_t speed : list) speeds->Add(false, speed);
  return speeds;
}

std::unique_ptr<TLNSpeeds> Trelin::GetReadSpeed() {
  const int32_t family = GetMediaFamilyType();
  return ReadSpeedList(family, family == MFT_DVDFAMILY ? GetMediaType() : 0);
}

std::unique_ptr<TLNSpeeds> Trelin::GetWriteSpeed() {
  uint8_t entries[kWriteSpeedRoom * kWriteSpeedEntrySize] = {};
  const int32_t count = std::min(
      Call<int32_t(intptr_t, void*, int32_t)>(kGetWriteSpeed, 0, handle_, entries, kWriteSpeedRoom),
      kWriteSpeedRoom);
  if (count < 1) return GetReadSpeed();
  auto speeds = std::make_unique<TLNSpeeds>();
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* e = entries + i * kWriteSpeedEntrySize;
    speeds->Add(e[1] != 0, e[2] | e[3] << 8);
  }
  return speeds;
}

bool Trelin::CheckWriteMode(int32_t write_command, bool test_mode, int32_t media_family) {
  using Fn = int32_t(intptr_t, int32_t, int32_t, int32_t);
  return Call<Fn>(kCheckWriteMode, 0, handle_, write_command, Truth(test_mode), media_family) != 0;
}

int32_t Trelin::GetSCSIErrorStatus() { return Call<IntFn>(kGetSCSIErrorStatus, 0, handle_); }

QString Trelin::GetSCSIErrorDescription() { return SenseDescription(GetSCSIErrorStatus()); }

void Trelin::SetWriteCacheBufferSize(int32_t size) { Call<IntIntFn>(kSetWriteCacheBufferSize, 0, handle_, size); }

int32_t Trelin::GetUsedWriteCacheBufferSize() { return Call<IntFn>(kGetUsedWriteCacheBufferSize, 0, handle_); }

QString Trelin::GetMediaTypeName(int32_t media_type) {
  switch (media_type) {
    case 8: return QStringLiteral("CD-ROM");
    case 9: return QStringLiteral("CD-R");
    case 10: return QStringLiteral("CD-RW");
    case 16: return QStringLiteral("DVD-ROM");
    case 17: return QStringLiteral("DVD-R");
    case 18: return QStringLiteral("DVD-RAM");
    case 19: return QStringLiteral("DVD-RW(OW)");
    case 20: return QStringLiteral("DVD-RW");
    case 21: return QStringLiteral("DVD-R DL");
    case 22: return QStringLiteral("DVD-R DL(OW)");
    case 23: return QStringLiteral("DVD-RW DL");
    case 24: return QStringLiteral("DVD-Download");
    case 26: return QStringLiteral("PC-RW");
    case 27: return QStringLiteral("PC-R");
    case 42: return QStringLiteral("PC-RW DL");
    case 43: return QStringLiteral("PC-R DL");
    case 64: return QStringLiteral("BD-ROM");
    case 65: return QStringLiteral("BD-R");
    case 66: return QStringLiteral("BD-R(OW)");
    case 67: return QStringLiteral("BD-RW");
    case 80: return QStringLiteral("HDDVD-ROM");
    case 81: return QStringLiteral("HDDVD-R");
    case 82: return QStringLiteral("HDDVD-RAM");
    case 83: return QStringLiteral("HDDVD-RW");
    case 88: return QStringLiteral("HDDVD-R DL");
    case 90: return QStringLiteral("HDDVD-RW DL");
    default: return QStringLiteral("UNKNOWN MEDIA");
  }
}

int32_t Trelin::GetDefaultCDWriteCommand() {
  std::array<int32_t, 4> candidates = {CCC_SAO, CCC_SAO_RAW, CCC_DAO_RAW16, CCC_DAO_RAW96};
  // A local drive ends on its richest supported mode, a remote one on its
  // leanest (less data on the wire). Every candidate is tried.
  if (remote_) std::reverse(candidates.begin(), candidates.end());
  int32_t chosen = CCC_SAO;
  for (int32_t candidate : candidates) {
    if (CheckWriteMode(candidate, false, MFT_CDFAMILY)) chosen = candidate;
  }
  return chosen;
}

bool Trelin::IsMediaWritable() {
  if (!IsReady()) return false;
  switch (GetMediaType()) {
    case 9: case 17: case 21: case 22: case 27: case 43: case 65: case 66: case 81: case 88:
      return IsDiscEmpty();
    case 10: case 18: case 19: case 20: case 23: case 26: case 42: case 67: case 82: case 83: case 90:
      return true;
    default:
      return false;
  }
}

}  // namespace sorvel
