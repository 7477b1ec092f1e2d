// File access as another user, for tests that run as root: for the scope,
// the calling thread's file system identity (and so the permission checks,
// the sticky folder rule included, and the owner of the files it makes) is
// that of user and group 65534. Only this thread changes: the rest of the
// process keeps root's.
#pragma once

#include <sys/fsuid.h>
#include <sys/types.h>
#include <unistd.h>

namespace sorvel::testing {

inline constexpr uid_t kOtherUser = 65534;

class AsOtherUser {
 public:
  AsOtherUser() {
    ::setfsgid(kOtherUser);
    ::setfsuid(kOtherUser);
  }
  ~AsOtherUser() {
    ::setfsuid(::geteuid());
    ::setfsgid(::getegid());
  }
  AsOtherUser(const AsOtherUser&) = delete;
  AsOtherUser& operator=(const AsOtherUser&) = delete;
  // Whether the change takes: it needs root, and the user mapped (a user
  // namespace may lack it).
  static bool Possible() {
    if (::geteuid() != 0) return false;
    ::setfsuid(kOtherUser);
    const bool took = ::setfsuid(static_cast<uid_t>(-1)) == static_cast<int>(kOtherUser);
    ::setfsuid(::geteuid());
    return took;
  }
};

}  // namespace sorvel::testing
