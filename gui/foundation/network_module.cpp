#include "gui/foundation/network_module.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cmath>

#include <QStringList>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/string_module.h"

namespace sorvel {
namespace {

class MachineInterfaces final : public LocalInterfaceSource {
 public:
  QList<LocalInterface> Interfaces() override {
    QList<LocalInterface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
      if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
      LocalInterface entry;
      entry.name = QString::fromUtf8(it->ifa_name);
      entry.address = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
      if (it->ifa_netmask != nullptr)
        entry.netmask = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr);
      entry.up = (it->ifa_flags & IFF_UP) != 0;
      entry.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
      entry.point_to_point = (it->ifa_flags & IFF_POINTOPOINT) != 0;
      result.append(entry);
    }
    freeifaddrs(list);
    return result;
  }
};

MachineInterfaces g_machine;
LocalInterfaceSource* g_source = nullptr;

constexpr uint32_t kLoopbackAddress = 0x7F000001;

}  // namespace

LocalInterfaceSource* InstallLocalInterfaceSource(LocalInterfaceSource* source) {
  LocalInterfaceSource* previous = g_source;
  g_source = source;
  return previous;
}

QString GetLocalAddressList() {
  LocalInterfaceSource& source = g_source != nullptr ? *g_source : g_machine;
  QStringList parts;
  for (const LocalInterface& entry : source.Interfaces()) {
    if (!entry.up || entry.address == kLoopbackAddress) continue;
    parts << LongToIPString(static_cast<int32_t>(entry.address))
          << LongToIPString(static_cast<int32_t>(entry.netmask))
          << LongToIPString(static_cast<int32_t>(entry.address | ~entry.netmask));
  }
  return parts.join(QLatin1Char('|'));
}

List<QString> GetScanHostList() {
  List<QString> targets;
  const QStringList local = GetLocalAddressList().split(QLatin1Char('|'), Qt::SkipEmptyParts);
  for (qsizetype i = 2; i < local.size(); i += 3) targets.AddNew(local[i]);
  ApplicationSetting* settings = AcquireSettings();
  for (int i = 1; i < List<QString>::kMaxCount; ++i) {
    const QString address = settings->RemoteIP(i);
    if (address.isEmpty()) break;
    targets.AddNew(address);
  }
  ReleaseSettings();
  return targets;
}

List<QString> FindRemoteServers(const RemoteHostQuery& get_remote_hosts) {
  QStringList targets;
  for (const QString& target : GetScanHostList()) targets << target;
  ApplicationSetting* settings = AcquireSettings();
  const int32_t port = settings->RemotePort();
  const int32_t timeout = std::min(settings->ScanTimeout(), kMaxScanTimeoutMs);
  ReleaseSettings();

  const QString answer = get_remote_hosts(targets.join(QLatin1Char('|')), port, timeout);
  List<QString> hosts;
  for (const QString& piece : answer.split(QLatin1Char('|'))) {
    if (piece.isEmpty()) break;
    if (!IsDottedAddress(piece) || hosts.FindData(piece) != 0) continue;
    hosts.AddNew(piece);
  }
  for (const QString& own : GetLocalAddressList().split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
    const int found = hosts.FindData(own);
    if (found != 0) hosts.Remove(found);
  }
  return hosts;
}

bool IsDottedAddress(const QString& text) {
  const QStringList pieces = text.split(QLatin1Char('.'));
  if (pieces.size() != 4) return false;
  for (const QString& piece : pieces) {
    if (piece.isEmpty() || piece.size() > 3) return false;
    for (QChar c : piece) {
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    }
    if (piece.toInt() > 255) return false;
  }
  return true;
}

QString LongToIPString(int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  return QStringLiteral("%1.%2.%3.%4").arg(v >> 24).arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF);
}

int32_t IPStringToLong(const QString& text) {
  const QStringList pieces = text.split(QLatin1Char('.'));
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t byte = 0;
    if (i < pieces.size()) {
      // The piece's value as numbers are read everywhere in the program
      // ("&HFF", "1E2", blanks between digits), to the nearest integer
      // (halves to even), of which the low 8 bits count.
      const double value = ReadLeadingNumber(pieces[i]);
      if (std::isfinite(value)) {
        double low = std::fmod(std::nearbyint(value), 256.0);
        if (low < 0) low += 256.0;
        byte = static_cast<uint32_t>(low);
      }
    }
    result = (result << 8) | byte;
  }
  return static_cast<int32_t>(result);
}

}  // namespace sorvel
