// A set of sockets to wait on together (poll-based, so descriptor numbers above
// 1,024 work). Up to kCapacity sockets are watched for reading and as many for
// writing.
#pragma once

#include <poll.h>

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace sorvel {

class SocketSet {
 public:
  static constexpr size_t kCapacity = 10240;

  void Clear();

  // Watches `handle` for reading and/or writing. Ignored for a negative handle,
  // a handle already present or a full set; returns whether it was added.
  bool Add(int handle, bool read = true, bool write = true);
  bool Remove(int handle);
  bool Contains(int handle) const { return index_.count(handle) != 0; }
  size_t size() const { return fds_.size(); }

  // Waits up to `ms` (0 or less: no limit) until any watched socket is ready;
  // the number of ready sockets, 0 on time-out, -1 on error (or an empty set
  // with no limit, which would never end).
  int Wait(long ms);

  // Readiness found by the last Wait. End of stream and errors count as
  // readable (a receive then reports them).
  bool IsReadable(int handle) const;
  bool IsWritable(int handle) const;

 private:
  std::vector<pollfd> fds_;
  std::unordered_map<int, size_t> index_;
  size_t readers_ = 0;
  size_t writers_ = 0;
};

}  // namespace sorvel
