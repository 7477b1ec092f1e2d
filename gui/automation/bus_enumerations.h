// The thirteen public enumerations as the automation server publishes them:
// names, members and values in the order of the type library, and the help
// string of each (the device engine's eleven carry one, and each of their
// members has its own name as its help string; the two mastering ones carry
// none).
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace sorvel {

struct BusEnumerationMember {
  const char* name;
  int32_t value;
};

struct BusEnumeration {
  const char* name;
  QString doc;
  std::vector<BusEnumerationMember> members;
};

const std::vector<BusEnumeration>& BusEnumerations();
// The enumeration of that name; null when there is none.
const BusEnumeration* FindBusEnumeration(const QString& name);

}  // namespace sorvel
