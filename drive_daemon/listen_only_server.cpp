#include "drive_daemon/listen_only_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace sorvel {

void ListenOnlyServer::SetDriveEnabled(int index, bool enabled) {
  if (index >= 0 && index < 26) enabled_[index] = enabled;
}

bool ListenOnlyServer::Start(uint16_t port, uint32_t max_connection) {
  Stop();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  int backlog = static_cast<int>(std::min<uint32_t>(max_connection, INT_MAX));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void ListenOnlyServer::Stop() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

}  // namespace sorvel
