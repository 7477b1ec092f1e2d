#include "native_common/discovery_query.h"

#include <cstdio>
#include <string>

#include "native_common/qrntp_packet.h"

namespace sorvel {

void ServeDiscoveryQuery(UdpSocket& socket, const std::function<bool(uint8_t* datagram, size_t length)>& answer) {
  if (!socket.IsOpen()) return;
  uint8_t datagram[kQrntpHeaderSize];
  std::string address;
  uint16_t port = 0;
  if (socket.ReceiveFrom(&address, &port, datagram, sizeof datagram, 1) != static_cast<int>(sizeof datagram)) {
    return;
  }
  std::printf("QRNTPServer::RecvFrom(%s, %u)\n", address.c_str(), port);
  std::fflush(stdout);
  if (!answer(datagram, sizeof datagram)) return;
  std::printf("QRNTPServer::SendTo(%s, %u)\n", address.c_str(), port);
  std::fflush(stdout);
  socket.SendTo(address, port, datagram, sizeof datagram);
}

}  // namespace sorvel
