// One step of a server's discovery answerer, shared by the library's server
// and the daemon, which differ only in how they read the query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "native_common/udp_socket.h"

namespace sorvel {

// Takes one header-sized datagram waiting on `socket` (1 ms wait), lets
// `answer` turn it into the reply in place (false: not a query to answer) and
// sends the reply back to the sender. Datagrams of another size are dropped.
void ServeDiscoveryQuery(UdpSocket& socket, const std::function<bool(uint8_t* datagram, size_t length)>& answer);

}  // namespace sorvel
