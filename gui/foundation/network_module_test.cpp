#include "gui/foundation/network_module.h"

#include <gtest/gtest.h>

#include "testing/gui/fixed_interfaces.h"

namespace sorvel {
namespace {

using testing::FixedInterfaces;

uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

LocalInterface Interface(const char* name, uint32_t address, int prefix, bool up = true, bool loopback = false,
                         bool p2p = false) {
  LocalInterface entry;
  entry.name = QString::fromLatin1(name);
  entry.address = address;
  entry.netmask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
  entry.up = up;
  entry.loopback = loopback;
  entry.point_to_point = p2p;
  return entry;
}

TEST(NetworkModuleTest, LocalAddressListTriplesOfUsableInterfaces) {
  struct Case {
    const char* what;
    QList<LocalInterface> interfaces;
    const char* expected;
  };
  const Case cases[] = {
      {"loopback and one LAN", {Interface("lo", Ip(127, 0, 0, 1), 8, true, true), Interface("eth0", Ip(192, 168, 1, 10), 24)},
       "192.168.1.10|255.255.255.0|192.168.1.255"},
      {"only 127.0.0.1 is skipped", {Interface("lo", Ip(127, 0, 0, 2), 8, true, true)}, "127.0.0.2|255.0.0.0|127.255.255.255"},
      {"down interface skipped", {Interface("eth1", Ip(10, 0, 0, 5), 8, false)}, ""},
      {"two interfaces in order, /8 and /32",
       {Interface("eth0", Ip(10, 1, 2, 3), 8), Interface("tun0", Ip(172, 16, 0, 9), 32, true, false, true)},
       "10.1.2.3|255.0.0.0|10.255.255.255|172.16.0.9|255.255.255.255|172.16.0.9"},
      {"/30 point-to-point", {Interface("ppp0", Ip(192, 0, 2, 5), 30, true, false, true)},
       "192.0.2.5|255.255.255.252|192.0.2.7"},
      {"none", {}, ""},
  };
  for (const Case& c : cases) {
    FixedInterfaces source(c.interfaces);
    EXPECT_EQ(GetLocalAddressList(), QString::fromLatin1(c.expected)) << c.what;
  }
}

TEST(NetworkModuleTest, DottedTextConversions) {
  EXPECT_EQ(LongToIPString(static_cast<int32_t>(0xC0A80001)), "192.168.0.1");
  EXPECT_EQ(LongToIPString(-1), "255.255.255.255");
  EXPECT_EQ(LongToIPString(0), "0.0.0.0");
  struct Case {
    const char* text;
    uint32_t value;
  };
  const Case cases[] = {
      {"192.168.0.1", 0xC0A80001}, {"300.1.1.1", 0x2C010101},    {"10.0.0.1.5", 0x0A000001},
      {"192.168.001.010", 0xC0A8010A}, {" 1. 2.3.4", 0x01020304}, {"1.2.3", 0x01020300},
      {"", 0},                      {"-1.0.0.0", 0xFF000000},
      // The number is read as a double: 99999999999999999999 is 1E20, whose low 8 bits are 0.
      {"99999999999999999999.0.0.1", 0x00000001},
      {"abc.1.2.3", 0x00010203},
      // Each piece is read as every number of the program: hexadecimal and
      // octal forms, exponents, blanks anywhere, nearest integer with halves to even.
      {"&HC0.&HA8.&O1.&h0A", 0xC0A8010A}, {"1 9 2.1 6 8.0.1", 0xC0A80001}, {"1E2.2D1.0.0", 0x64140000},
      {"15E-1.25E-1.35E-1.-15E-1", 0x020204FE}, {"&HFFFF.&H1F4.0.0", 0xFFF40000}, {"12abc.7x.1e.2", 0x0C070102},
      {"1E400.0.0.1", 0x00000001},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(IPStringToLong(QString::fromLatin1(c.text))), c.value) << c.text;
  }
  for (uint32_t v : {0u, 1u, 0x7F000001u, 0xC0A80164u, 0xFFFFFFFFu}) {
    EXPECT_EQ(static_cast<uint32_t>(IPStringToLong(LongToIPString(static_cast<int32_t>(v)))), v);
  }
}

}  // namespace
}  // namespace sorvel
