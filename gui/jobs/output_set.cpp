#include "gui/jobs/output_set.h"

#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "gui/foundation/file.h"
#include "gui/jobs/message_pump.h"

namespace sorvel {
namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QByteArray FolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return QByteArrayLiteral(".");
  if (slash == 0) return QByteArrayLiteral("/");
  return path.left(slash);
}

int SystemLink(const char* from, const char* to) { return ::link(from, to); }
int SystemRename(const char* from, const char* to) { return ::rename(from, to); }
int SystemRenameNoReplace(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}
int SystemLockFolder(int fd) {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  return rc;
}
int SystemFlush(int fd) { return ::fdatasync(fd); }
constexpr OutputSet::FileSystemCalls kSystemCalls{SystemLink, SystemRename, SystemRenameNoReplace, SystemLockFolder,
                                                  SystemFlush};
const OutputSet::FileSystemCalls* g_calls = &kSystemCalls;

// A flush that lasts longer than this is told to the job: an image still
// being written out (small files take far less, also on a busy disk).
constexpr int kSlowFlushMs = 2000;

// Renames `from` to the name `to` that nothing may stand at. Where the file
// system refuses RENAME_NOREPLACE (NFS, FUSE, older kernels: EINVAL), a hard
// link is taken instead (it fails on an existing name as well); where there
// are no hard links either, the name is checked and then renamed to.
bool RenameToNewName(const char* from, const char* to) {
  if (g_calls->rename_noreplace(from, to) == 0) return true;
  if (errno != EINVAL) return false;
  if (g_calls->link(from, to) == 0) {
    ::unlink(from);
    return true;
  }
  if (errno == EEXIST) return false;
  struct stat st {};
  if (::lstat(to, &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return errno == ENOENT && g_calls->rename(from, to) == 0;
}

// Whether this user may put a file in place of the existing `target` (its
// stat in `st`): in a sticky folder only the file's owner, the folder's owner
// or root may rename over it. Refused up front, since the commit would
// otherwise fail only after giving the file a second name that this user
// could then not remove.
bool MayRenameOver(const QByteArray& target, const struct stat& st) {
  struct stat dir {};
  if (::stat(FolderOf(target).constData(), &dir) != 0 || (dir.st_mode & S_ISVTX) == 0) return true;
  const uid_t user = FileSystemUser();
  return user == 0 || st.st_uid == user || dir.st_uid == user;
}

// Removes the temporaries of `target` that this host's jobs left when they
// ended without cleaning up: this user's regular files whose process is gone.
// A live process of another user (EPERM) holds its file as well. An earlier
// file's second name left so goes only when it is a hard link of the very
// file at the target's name (nothing is lost with it); one that may be the
// only name of an earlier file stays, and where no file stands at the
// target's name (the job was killed between renaming the earlier file aside
// and putting its own in place) it takes that name back.
void RemoveStaleTemporaries(const QByteArray& target) {
  const QByteArray folder = FolderOf(target);
  const QByteArray temporary = MarkedNamePrefix(target, kNewFileMark);
  const QByteArray kept = MarkedNamePrefix(target, kOldFileMark);
  struct stat at_target {};
  bool target_exists = ::lstat(target.constData(), &at_target) == 0;
  DIR* dir = ::opendir(folder.constData());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    const pid_t maker = std::max(MarkedNameMaker(name, temporary), MarkedNameMaker(name, kept));
    if (maker == 0 || ::kill(maker, 0) == 0 || errno != ESRCH) continue;
    const QByteArray path = folder + '/' + name;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != FileSystemUser()) continue;
    if (name.startsWith(kept) && !target_exists) {
      if (RenameToNewName(path.constData(), target.constData())) {
        target_exists = ::lstat(target.constData(), &at_target) == 0;
      }
      continue;
    }
    if (name.startsWith(kept) && !(st.st_dev == at_target.st_dev && st.st_ino == at_target.st_ino)) continue;
    ::unlink(path.constData());
  }
  ::closedir(dir);
}

// Holds the commit lock of the folders of a set: the process's own lock, so
// that the jobs of this process never mix, and an exclusive flock on each
// folder, taken in name order so that two sets never wait on each other,
// for other processes. Where a folder cannot be locked (NFS answers EBADF to
// a flock on a folder, some FUSE file systems ENOSYS), the commit goes on
// serialised within this process only: refusing it would make the folder
// unusable, and each set's names are its own either way.
class FolderLocks {
 public:
  explicit FolderLocks(std::vector<QByteArray> folders) : process_lock_(ProcessLock()) {
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const QByteArray& folder : folders) {
      const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) continue;  // the renames will tell
      // Where it fails (see above), the process lock alone serialises.
      g_calls->lock_folder(fd);
      fds_.push_back(fd);
    }
  }
  ~FolderLocks() {
    for (int fd : fds_) ::close(fd);
  }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

  // Flushes the folders' entries (renames, links, removals) to the disk.
  void Sync() const {
    for (int fd : fds_) ::fsync(fd);
  }

 private:
  static std::recursive_mutex& ProcessLock() {
    static std::recursive_mutex lock;
    return lock;
  }

  std::lock_guard<std::recursive_mutex> process_lock_;
  std::vector<int> fds_;
};

}  // namespace

OutputSet::~OutputSet() { Discard(); }

OutputSet::Member* OutputSet::Find(const QString& shown) {
  for (Member& member : members_) {
    if (member.shown == shown) return &member;
  }
  return nullptr;
}

void OutputSet::RemoveTemporary(Member& member) {
  if (!member.temporary.isEmpty()) ::unlink(Native(member.temporary).constData());
  if (member.fd >= 0) {
    ReleaseWrittenFile(member.fd);
    ::close(member.fd);
  }
  member.fd = -1;
  member.temporary.clear();
}

void OutputSet::Refuse(const QString& shown, FileProblem problem) {
  problem_ = problem;
  problem_text_ = problem.kind == FileProblem::kNotRegular
                      ? FileProblemText(shown, problem)
                      : QStringLiteral("ファイル %1 が開けません。").arg(shown);
}

bool OutputSet::Check(const QString& shown, QString* target, bool renamed_over) {
  QByteArray native = Native(shown);
  if (native.isEmpty() || native.contains('\0')) {
    Refuse(shown, FileProblem{FileProblem::kCannotOpen, ENOENT});
    return false;
  }
  int error_number = 0;
  if (!ResolveOutputName(&native, &error_number)) {
    Refuse(shown, FileProblem{FileProblem::kCannotOpen, error_number});
    return false;
  }
  struct stat st {};
  if (::stat(native.constData(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      Refuse(shown, FileProblem{FileProblem::kNotRegular, 0});
      return false;
    }
    // Protected by its permissions (which bind root too) or not writable by this user.
    if ((st.st_mode & 0222) == 0 || ::access(native.constData(), W_OK) != 0) {
      Refuse(shown, FileProblem{FileProblem::kCannotOpen, EACCES});
      return false;
    }
    if (renamed_over && !MayRenameOver(native, st)) {
      Refuse(shown, FileProblem{FileProblem::kCannotOpen, EPERM});
      return false;
    }
  } else if (errno != ENOENT) {
    Refuse(shown, FileProblem{FileProblem::kCannotOpen, errno});
    return false;
  }
  *target = QFile::decodeName(native);
  return true;
}

QString OutputSet::Add(const QString& target) {
  if (Member* member = Find(target); member && !member->temporary.isEmpty()) return member->temporary;
  QString resolved;
  if (!Check(target, &resolved, true)) return {};
  const QByteArray native = Native(resolved);
  RemoveStaleTemporaries(native);
  int fd = -1;
  int error_number = 0;
  const QByteArray temporary = TakeMarkedName(native, kNewFileMark, &error_number, [&fd](const char* name) {
    fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd >= 0;
  });
  if (temporary.isEmpty()) {
    Refuse(target, FileProblem{FileProblem::kCannotOpen, error_number});
    return {};
  }
  struct stat st {};
  const bool replaces = ::stat(native.constData(), &st) == 0;
  if (::fchmod(fd, ReplacementMode(replaces ? &st : nullptr)) != 0) {
    error_number = errno;
    ::unlink(temporary.constData());
    ::close(fd);
    Refuse(target, FileProblem{FileProblem::kCannotOpen, error_number});
    return {};
  }
  HoldWrittenFile(fd);
  Member* member = Find(target);
  if (member == nullptr) {
    members_.push_back(Member{target, resolved, QString()});
    member = &members_.back();
  }
  member->target = resolved;
  member->temporary = QFile::decodeName(temporary);
  member->fd = fd;
  return member->temporary;
}

bool OutputSet::Replace(const QString& target) {
  if (Find(target) != nullptr) return true;
  QString resolved;
  if (!Check(target, &resolved, false)) return false;
  RemoveStaleTemporaries(Native(resolved));
  members_.push_back(Member{target, resolved, QString()});
  return true;
}

void OutputSet::Drop(const QString& target) {
  if (Member* member = Find(target)) RemoveTemporary(*member);
}

QString OutputSet::TemporaryOf(const QString& target) const {
  for (const Member& member : members_) {
    if (member.shown == target) return member.temporary;
  }
  return {};
}

QString OutputSet::ShownText(QString text) const {
  for (const Member& member : members_) {
    if (!member.temporary.isEmpty()) text.replace(member.temporary, member.shown);
  }
  return text;
}

void OutputSet::Discard() {
  for (Member& member : members_) RemoveTemporary(member);
  members_.clear();
}

void OutputSet::SetFileSystemCallsForTesting(const FileSystemCalls* calls) {
  g_calls = calls != nullptr ? calls : &kSystemCalls;
}

bool OutputSet::Flush(const std::function<void()>& slow_flush) {
  // The data reach the disk before a rename can put a file in place, so a
  // power cut never leaves a replaced file empty or short. A flush of a large
  // image takes long on a slow disk: it runs on a thread of its own, and the
  // window system keeps working meanwhile.
  std::vector<int> fds;
  for (const Member& member : members_) fds.push_back(member.fd);
  std::promise<std::pair<size_t, int>> failure;  // the member that failed and its errno
  std::future<std::pair<size_t, int>> flushed = failure.get_future();
  std::thread flusher([&fds, &failure] {
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i] >= 0 && g_calls->flush(fds[i]) != 0) {
        failure.set_value({i, errno});
        return;
      }
    }
    failure.set_value({fds.size(), 0});
  });
  QElapsedTimer elapsed;
  elapsed.start();
  bool told = false;
  while (flushed.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    if (!told && slow_flush && elapsed.elapsed() >= kSlowFlushMs) {
      told = true;
      slow_flush();
    }
    PumpMessages();
  }
  flusher.join();
  const auto [failed, error_number] = flushed.get();
  if (failed == fds.size()) return true;
  Refuse(members_[failed].shown, FileProblem{FileProblem::kCannotOpen, error_number});
  return false;
}

bool OutputSet::Commit(const std::function<void()>& slow_flush) {
  if (!Flush(slow_flush)) {
    Discard();
    return false;
  }
  std::vector<QByteArray> folders;
  for (const Member& member : members_) folders.push_back(FolderOf(Native(member.target)));
  const FolderLocks lock(std::move(folders));

  struct Step {
    QByteArray target, temporary;
    QByteArray kept;     // the earlier file's second name until the commit ends
    bool linked = false;  // `kept` is a hard link: the earlier file is still at its name
    bool existed = false;
    bool renamed = false;
  };
  std::vector<Step> steps;
  bool ok = true;
  // The files the set does not write belong to an earlier set only when that
  // set's principal file is there.
  struct stat st {};
  const bool earlier_set = !members_.empty() && ::lstat(Native(members_.front().shown).constData(), &st) == 0;
  for (const Member& member : members_) {
    // A file of the earlier set that this one does not write goes by its
    // name: a symbolic link there is removed, not the file it names.
    Step step;
    step.target = Native(member.temporary.isEmpty() ? member.shown : member.target);
    step.temporary = Native(member.temporary);
    step.existed = ::lstat(step.target.constData(), &st) == 0 && (earlier_set || !step.temporary.isEmpty());
    steps.push_back(step);
    // The world may have changed while the job ran: checked again.
    QString resolved;
    if (ok && step.existed && mode_ == Mode::kReplace && !Check(member.shown, &resolved, !step.temporary.isEmpty())) {
      ok = false;
    }
    if (ok && step.existed && mode_ == Mode::kNew && !step.temporary.isEmpty()) {
      Refuse(member.shown, FileProblem{FileProblem::kCannotOpen, EEXIST});
      ok = false;
    }
  }
  // One file put in place needs no way back: its rename is atomic.
  const bool one_rename = std::count_if(steps.begin(), steps.end(), [](const Step& step) {
                            return step.existed || !step.temporary.isEmpty();
                          }) == 1 &&
                          std::none_of(steps.begin(), steps.end(),
                                       [](const Step& step) { return step.existed && step.temporary.isEmpty(); });
  // Otherwise every earlier file is kept under a second name before anything
  // is put in place: a hard link where the file system has them, else the
  // file renamed aside (also a file that goes). One that can be given
  // neither fails the commit here.
  for (size_t i = 0; ok && !one_rename && i < steps.size(); ++i) {
    Step& step = steps[i];
    if (!step.existed) continue;
    int error_number = 0;
    if (!step.temporary.isEmpty()) {
      step.kept = TakeMarkedName(step.target, kOldFileMark, &error_number,
                                 [&step](const char* name) { return g_calls->link(step.target.constData(), name) == 0; });
      step.linked = !step.kept.isEmpty();
    }
    if (step.kept.isEmpty()) {
      step.kept = TakeMarkedName(step.target, kOldFileMark, &error_number, [&step](const char* name) {
        return RenameToNewName(step.target.constData(), name);
      });
    }
    ok = !step.kept.isEmpty();
    if (!ok) Refuse(members_[i].shown, FileProblem{FileProblem::kCannotOpen, error_number});
  }
  for (size_t i = 0; ok && i < steps.size(); ++i) {
    Step& step = steps[i];
    if (step.temporary.isEmpty()) continue;
    const bool renamed = mode_ == Mode::kNew ? RenameToNewName(step.temporary.constData(), step.target.constData())
                                             : g_calls->rename(step.temporary.constData(), step.target.constData()) == 0;
    if (!renamed) {
      Refuse(members_[i].shown, FileProblem{FileProblem::kCannotOpen, errno});
      ok = false;
    } else {
      step.renamed = true;
    }
  }
  if (!ok) {
    // Put back in the reverse order. A second name is dropped only once its
    // file is back at its own name (or never left it).
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
      if (step->kept.isEmpty()) {
        if (step->renamed) ::unlink(step->target.constData());  // new, where nothing stood
      } else if (step->renamed || !step->linked) {
        if (g_calls->rename(step->kept.constData(), step->target.constData()) == 0) step->kept.clear();
      } else if (::unlink(step->kept.constData()) == 0) {
        step->kept.clear();
      }
    }
  }
  lock.Sync();
  QStringList kept;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].kept.isEmpty()) continue;
    if (ok) {
      ::unlink(steps[i].kept.constData());
    } else {
      kept << QStringLiteral("ファイル %1 の元の内容は %2 に残されています。")
                  .arg(members_[i].shown, QFile::decodeName(steps[i].kept));
    }
  }
  for (Member& member : members_) {
    if (ok) member.temporary.clear();  // renamed into place
    RemoveTemporary(member);
  }
  members_.clear();
  lock.Sync();
  if (ok) {
    problem_ = FileProblem{};
    problem_text_.clear();
  } else if (!kept.isEmpty()) {
    problem_text_ += kept.join(QString());
  }
  return ok;
}

}  // namespace sorvel
