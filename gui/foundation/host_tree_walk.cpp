#include "gui/foundation/host_tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>
#include <vector>

#include "gui/foundation/find_file.h"
#include "platform/text_encoding.h"

namespace sorvel {
namespace {

// Folder descriptors the walk keeps open at most: a quarter of the process's
// limit, so that the program's other files never run short because of it.
size_t MaxOpenFolders() {
  rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
  return std::clamp<size_t>(static_cast<size_t>(limit.rlim_cur) / 4, 4, 4096);
}

bool IsDotOrDotDot(const QByteArray& name) {
  return name.size() <= 2 && (name == "." || name == "..");
}

class Walk {
 public:
  explicit Walk(HostTreeVisitor& visitor) : visitor_(visitor), max_open_(MaxOpenFolders()) {}
  ~Walk() {
    for (Folder& folder : stack_) Close(folder);
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  void Run(const QByteArray& path, const QByteArray& name) {
    Probe probe = Look(AT_FDCWD, path, DT_UNKNOWN, -1);
    if (!probe.folder) {
      visitor_.File(path, name, probe.stated ? &probe.status : nullptr);
      return;
    }
    Push(path, name, probe);
    while (!stack_.empty()) Step();
  }

 private:
  struct Folder {
    QByteArray name;
    size_t path_length = 0;  // of path_ while this folder is the deepest
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<HostFolderEntry> entries;
    size_t next = 0;
    // Entries from this index on never need the folder's descriptor.
    size_t needs_fd_until = 0;
  };
  struct Probe {
    bool folder = false;
    bool unreadable = false;  // a folder that failed to open for want of something but permission
    int fd = -1;              // the folder opened for reading; -1 when it cannot be read
    bool stated = false;      // `status` holds a stat of the entry
    struct stat status {};
  };

  // The next entry of the deepest folder, or the end of that folder.
  void Step() {
    Folder& top = stack_.back();
    if (top.next >= top.entries.size()) {
      Close(top);
      on_path_.erase({top.device, top.inode});
      stack_.pop_back();
      if (!stack_.empty()) path_.truncate(static_cast<qsizetype>(stack_.back().path_length));
      visitor_.LeaveFolder();
      return;
    }
    HostFolderEntry entry = std::move(top.entries[top.next++]);
    if (IsDotOrDotDot(entry.name)) return;
    QByteArray path = path_ + '/' + entry.name;
    if (entry.type == DT_REG) {
      visitor_.File(path, entry.name, nullptr);
      return;
    }
    const size_t depth = stack_.size() - 1;
    const int folder_fd = FolderFd(depth);
    // Without the folder's descriptor (it could not be opened again) the path serves.
    Probe probe = folder_fd >= 0 ? Look(folder_fd, entry.name, entry.type, folder_fd)
                                 : Look(AT_FDCWD, path, entry.type, -1);
    Folder& folder = stack_[depth];
    if (folder.next >= folder.needs_fd_until) Close(folder);
    if (!probe.folder) {
      visitor_.File(path, entry.name, probe.stated ? &probe.status : nullptr);
      return;
    }
    Push(path, std::move(entry.name), probe);
  }

  // What `name` below `base_fd` is; a folder comes opened when it can be read.
  Probe Look(int base_fd, const QByteArray& name, unsigned char type, int keep_fd) {
    Probe probe;
    if (type == DT_REG) return probe;
    // An entry the listing does not call a folder (a link, or any entry where
    // the file system does not say) is looked at once: a file then costs one
    // status query instead of a failed open and a query.
    if (type != DT_DIR) {
      probe.stated = ::fstatat(base_fd, name.constData(), &probe.status, 0) == 0;
      if (!probe.stated || !S_ISDIR(probe.status.st_mode)) return probe;
    }
    probe.fd = OpenFolder(base_fd, name.constData(), keep_fd);
    if (probe.fd >= 0) {
      if (::fstat(probe.fd, &probe.status) == 0 && S_ISDIR(probe.status.st_mode)) {
        probe.folder = true;
        return probe;
      }
      ::close(probe.fd);
      probe.fd = -1;
      probe.stated = false;
      return probe;
    }
    // Not a folder, or one that cannot be read (its status still tells).
    const int error = errno;
    probe.stated = ::fstatat(base_fd, name.constData(), &probe.status, 0) == 0;
    probe.folder = probe.stated && S_ISDIR(probe.status.st_mode);
    probe.unreadable = probe.folder && error != EACCES && error != EPERM;
    return probe;
  }

  void Push(const QByteArray& path, QByteArray name, Probe& probe) {
    const std::pair<dev_t, ino_t> identity{probe.status.st_dev, probe.status.st_ino};
    const bool loop = on_path_.count(identity) != 0;
    std::vector<HostFolderEntry> entries;
    const bool listed = !loop && (probe.fd < 0 || ListHostFolder(probe.fd, &entries));
    if (loop || !listed || probe.unreadable) {
      if (probe.fd >= 0) ::close(probe.fd);
      if (loop) {
        visitor_.Loop(path, name);
      } else {
        visitor_.Unreadable(path, name);
      }
      return;
    }
    Folder folder;
    folder.fd = probe.fd;
    probe.fd = -1;
    folder.device = identity.first;
    folder.inode = identity.second;
    folder.entries = std::move(entries);
    if (folder.fd >= 0) ++open_;
    for (size_t i = folder.entries.size(); i > 0; --i) {
      const HostFolderEntry& entry = folder.entries[i - 1];
      if (entry.type != DT_REG && !IsDotOrDotDot(entry.name)) {
        folder.needs_fd_until = i;
        break;
      }
    }
    if (folder.needs_fd_until == 0) Close(folder);
    const size_t parent_length = static_cast<size_t>(path_.size());
    path_ = path;
    folder.path_length = static_cast<size_t>(path_.size());
    folder.name = std::move(name);
    // Entered only once its own descriptor is held by the walk: a throwing
    // visitor leaves nothing open.
    stack_.push_back(std::move(folder));
    on_path_.insert(identity);
    if (!visitor_.EnterFolder(path_, stack_.back().name, probe.status)) {
      Close(stack_.back());
      on_path_.erase(identity);
      stack_.pop_back();
      path_.truncate(static_cast<qsizetype>(parent_length));
      return;
    }
    while (open_ > max_open_ && CloseShallowest(-1)) {
    }
  }

  // The descriptor of the folder at `depth`, opened again (from the nearest
  // open folder above it, or by its path) when it was closed to save
  // descriptors; -1 when that fails or the folder is no longer the same.
  int FolderFd(size_t depth) {
    if (stack_[depth].fd >= 0) return stack_[depth].fd;
    if (stack_[depth].entries.empty()) return -1;
    size_t from = depth;
    if (stack_[depth].path_length >= PATH_MAX) {
      while (from > 0 && stack_[from - 1].fd < 0) --from;
    }
    for (size_t level = from; level <= depth; ++level) {
      Folder& folder = stack_[level];
      const bool by_path = level == from && (level == 0 || stack_[level - 1].fd < 0);
      const int base = by_path ? AT_FDCWD : stack_[level - 1].fd;
      const QByteArray path = path_.left(static_cast<qsizetype>(folder.path_length));
      folder.fd = OpenFolder(base, by_path ? path.constData() : folder.name.constData(), base);
      if (folder.fd < 0) return -1;
      ++open_;
      struct stat status {};
      if (::fstat(folder.fd, &status) != 0 || status.st_dev != folder.device || status.st_ino != folder.inode) {
        Close(folder);
        return -1;
      }
      // A folder above the wanted one stays open only while it has entries that need it.
      if (level > from && stack_[level - 1].next >= stack_[level - 1].needs_fd_until) Close(stack_[level - 1]);
    }
    return stack_[depth].fd;
  }

  // openat of a folder for reading; when the process runs out of
  // descriptors, the walk's own ones (but `keep_fd`) are given back first.
  int OpenFolder(int base_fd, const char* name, int keep_fd) {
    for (;;) {
      const int fd = ::openat(base_fd, name, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || !CloseShallowest(keep_fd)) return fd;
    }
  }

  // Closes the open descriptor of the shallowest folder but `keep_fd`; false when none is left.
  bool CloseShallowest(int keep_fd) {
    for (size_t i = 0; i < stack_.size(); ++i) {
      if (stack_[i].fd >= 0 && stack_[i].fd != keep_fd) {
        Close(stack_[i]);
        return true;
      }
    }
    return false;
  }

  void Close(Folder& folder) {
    if (folder.fd < 0) return;
    ::close(folder.fd);
    folder.fd = -1;
    --open_;
  }

  HostTreeVisitor& visitor_;
  const size_t max_open_;
  size_t open_ = 0;
  std::vector<Folder> stack_;
  // The path of the deepest folder; each folder on the stack is a prefix of it.
  QByteArray path_;
  std::set<std::pair<dev_t, ino_t>> on_path_;
};

}  // namespace

void WalkHostTree(const QByteArray& path, const QByteArray& name, HostTreeVisitor& visitor) {
  Walk(visitor).Run(path, name);
}

QString HostNameText(const QByteArray& bytes) {
  return QString::fromStdString(platform::HostNameToUtf8(std::string_view(bytes.constData(), bytes.size())));
}

}  // namespace sorvel
