#include "native_common/socket_set.h"

#include "native_common/socket_support.h"

namespace sorvel {

void SocketSet::Clear() {
  fds_.clear();
  index_.clear();
  readers_ = 0;
  writers_ = 0;
}

bool SocketSet::Add(int handle, bool read, bool write) {
  if (handle < 0 || (!read && !write) || index_.count(handle) != 0) return false;
  if ((read && readers_ >= kCapacity) || (write && writers_ >= kCapacity)) return false;
  pollfd p{};
  p.fd = handle;
  p.events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
  index_[handle] = fds_.size();
  fds_.push_back(p);
  if (read) ++readers_;
  if (write) ++writers_;
  return true;
}

bool SocketSet::Remove(int handle) {
  auto it = index_.find(handle);
  if (it == index_.end()) return false;
  size_t i = it->second;
  if (fds_[i].events & POLLIN) --readers_;
  if (fds_[i].events & POLLOUT) --writers_;
  index_.erase(it);
  if (i + 1 != fds_.size()) {
    fds_[i] = fds_.back();
    index_[fds_[i].fd] = i;
  }
  fds_.pop_back();
  return true;
}

int SocketSet::Wait(long ms) {
  for (pollfd& p : fds_) p.revents = 0;
  const int limit = PollTimeoutMs(ms);
  if (fds_.empty() && limit < 0) return -1;
  return PollRetry(fds_.data(), fds_.size(), ms);
}

bool SocketSet::IsReadable(int handle) const {
  auto it = index_.find(handle);
  if (it == index_.end()) return false;
  const pollfd& p = fds_[it->second];
  return (p.events & POLLIN) && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
}

bool SocketSet::IsWritable(int handle) const {
  auto it = index_.find(handle);
  if (it == index_.end()) return false;
  const pollfd& p = fds_[it->second];
  return (p.events & POLLOUT) && (p.revents & (POLLOUT | POLLHUP | POLLERR | POLLNVAL));
}

}  // namespace sorvel
