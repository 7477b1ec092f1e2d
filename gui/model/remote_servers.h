// Remote drive services found through a device engine's discovery.
#pragma once

#include <QString>

#include "gui/foundation/list.h"

namespace sorvel {

class Trelin;

// The hosts that answered discovery sent through `device`, without duplicates
// and without this machine's own addresses.
List<QString> FindRemoteServers(Trelin& device);

}  // namespace sorvel
