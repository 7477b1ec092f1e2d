// The machine's IPv4 interfaces and the dotted-text form of addresses, for the
// discovery of remote drive services.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

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

// "a.b.c.d" of a 32-bit value, most significant byte first.
QString LongToIPString(int32_t value);

// The first four "."-separated pieces, each the leading signed decimal number
// of the piece (blanks before it skipped) taken modulo 256, most significant
// first. Missing pieces count as 0; pieces after the fourth are ignored.
int32_t IPStringToLong(const QString& text);

}  // namespace sorvel
