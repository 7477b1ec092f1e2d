#include "gui/model/remote_servers.h"

#include "gui/foundation/network_module.h"
#include "gui/model/trelin.h"

namespace sorvel {

List<QString> FindRemoteServers(Trelin& device) {
  return FindRemoteServers([&device](const QString& targets, int32_t port, int32_t timeout_ms) {
    return device.GetRemoteHosts(targets, port, timeout_ms);
  });
}

}  // namespace sorvel
