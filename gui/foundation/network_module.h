// The machine's IPv4 interfaces and the dotted-text form of addresses, for the
// discovery of remote drive services.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

#include "gui/foundation/list.h"

namespace sorvel {

struct LocalInterface {
  QString name;
  uint32_t address = 0;  // host byte order: 192.168.0.1 is 0xC0A80001
  uint32_t netmask = 0;
  bool up = true;
  bool loopback = false;
  bool point_to_point = false;
};

// Where the interface list comes from: the machine (getifaddrs) unless a test
// installs another source.
class LocalInterfaceSource {
 public:
  virtual ~LocalInterfaceSource() = default;
  virtual QList<LocalInterface> Interfaces() = 0;
};

// Installs `source` (not owned); null restores the machine's list. Returns the previous one.
LocalInterfaceSource* InstallLocalInterfaceSource(LocalInterfaceSource* source);

// For every IPv4 interface that is up, except the one address 127.0.0.1: its
// address, net mask and broadcast address (address OR NOT mask), all joined by "|".
QString GetLocalAddressList();

// Discovery targets: the broadcast address of each local interface, in
// interface order, then the configured RemoteIP(1), RemoteIP(2), ... up to the
// first empty one, as stored.
List<QString> GetScanHostList();

// The longest a discovery may wait, whatever the settings say.
inline constexpr int32_t kMaxScanTimeoutMs = 30000;

// Sends discovery to GetScanHostList's targets on RemotePort through
// `get_remote_hosts` (targets joined by "|", port, time-out in ms), and lists
// the answering hosts in answer order: each once, only well-formed dotted
// addresses (a cut last one is dropped), none of this machine's own.
using RemoteHostQuery = std::function<QString(const QString& targets, int32_t port, int32_t timeout_ms)>;
List<QString> FindRemoteServers(const RemoteHostQuery& get_remote_hosts);

// True for four decimal numbers 0 to 255 joined by ".".
bool IsDottedAddress(const QString& text);

// "a.b.c.d" of a 32-bit value, most significant byte first.
QString LongToIPString(int32_t value);

// The first four "."-separated pieces, each the leading signed decimal number
// of the piece (blanks before it skipped) taken modulo 256, most significant
// first. Missing pieces count as 0; pieces after the fourth are ignored.
int32_t IPStringToLong(const QString& text);

}  // namespace sorvel
