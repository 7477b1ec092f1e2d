#include "gui/jobs/output_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "gui/foundation/file.h"

namespace sorvel {
namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QByteArray FolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return QByteArrayLiteral(".");
  if (slash == 0) return QByteArrayLiteral("/");
  return path.left(slash);
}

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kRandomLetters = 8;

// The target's name as its hidden names carry it: cut so that a hidden name
// stays within a name's 255 bytes however long the target's own is.
QByteArray HiddenStem(const QByteArray& target) { return target.mid(target.lastIndexOf('/') + 1).left(200); }

// Whether `entry` is a hidden name of a target whose stem is `stem`:
// "." stem "." and the random letters.
bool IsHiddenNameOf(const QByteArray& entry, const QByteArray& stem) {
  if (entry.size() != stem.size() + 2 + kRandomLetters || entry[0] != '.' || entry.mid(1, stem.size()) != stem ||
      entry[stem.size() + 1] != '.') {
    return false;
  }
  for (char c : entry.right(kRandomLetters)) {
    if (std::find(std::begin(kLetters), std::end(kLetters) - 1, c) == std::end(kLetters) - 1) return false;
  }
  return true;
}

// Tries hidden names beside `target` until `make` takes one (true) or fails
// for another reason than the name being taken. The name, or "" with errno
// in `error_number`.
QByteArray TakeHiddenName(const QByteArray& target, int* error_number, const std::function<bool(const char*)>& make) {
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray prefix = target.left(slash + 1) + '.' + HiddenStem(target) + '.';
  for (int attempt = 0; attempt < 100; ++attempt) {
    QByteArray name = prefix;
    for (int i = 0; i < kRandomLetters; ++i) {
      name += kLetters[QRandomGenerator::global()->bounded(int{sizeof kLetters} - 1)];
    }
    if (make(name.constData())) return name;
    if (errno != EEXIST) break;
  }
  *error_number = errno;
  return {};
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

// Removes the hidden temporaries of `target` that no live set holds: a set
// holds a lock of its own kind (an open file description lock, apart from
// the flock of the file's writers) on each of its temporaries while it
// lives, so one without it was left by a job that ended without cleaning up.
void RemoveStaleTemporaries(const QByteArray& target) {
  const QByteArray folder = FolderOf(target);
  const QByteArray stem = HiddenStem(target);
  DIR* dir = ::opendir(folder.constData());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (!IsHiddenNameOf(name, stem)) continue;
    const QByteArray path = folder + '/' + name;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held {}, named {};
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::fcntl(fd, F_OFD_GETLK, &probe) == 0 &&
        probe.l_type == F_UNLCK && ::lstat(path.constData(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      ::unlink(path.constData());
    }
    ::close(fd);
  }
  ::closedir(dir);
}

// Holds the commit lock of the folders of a set: an exclusive flock on each
// folder, taken in name order so that two sets never wait on each other.
// Temporaries are made and stale ones removed under the same lock, so a
// temporary is never seen between its making and its locking.
class FolderLocks {
 public:
  explicit FolderLocks(std::vector<QByteArray> folders) {
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const QByteArray& folder : folders) {
      const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) continue;  // the renames will tell
      while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
      }
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
  const FolderLocks lock({FolderOf(native)});
  RemoveStaleTemporaries(native);
  int fd = -1;
  int error_number = 0;
  const QByteArray temporary = TakeHiddenName(native, &error_number, [&fd](const char* name) {
    fd = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd >= 0;
  });
  if (temporary.isEmpty()) {
    Refuse(target, FileProblem{FileProblem::kCannotOpen, error_number});
    return {};
  }
  struct stat st {};
  const bool replaces = ::stat(native.constData(), &st) == 0;
  struct flock live {};
  live.l_type = F_WRLCK;
  live.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &live) != 0 || ::fchmod(fd, ReplacementMode(replaces ? &st : nullptr)) != 0) {
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
  {
    const QByteArray native = Native(resolved);
    const FolderLocks lock({FolderOf(native)});
    RemoveStaleTemporaries(native);
  }
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

bool OutputSet::Commit() {
  // The data reach the disk before a rename can put a file in place, so a
  // power cut never leaves a replaced file empty or short.
  for (const Member& member : members_) {
    if (member.fd >= 0 && ::fdatasync(member.fd) != 0) {
      Refuse(member.shown, FileProblem{FileProblem::kCannotOpen, errno});
      Discard();
      return false;
    }
  }
  std::vector<QByteArray> folders;
  for (const Member& member : members_) folders.push_back(FolderOf(Native(member.target)));
  const FolderLocks lock(std::move(folders));

  struct Step {
    QByteArray target, temporary;
    QByteArray backup;  // a second name of the file replaced
    QByteArray aside;   // where a file removed waits for the end of the commit
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
  // Every file that goes is moved aside and every file replaced gets a
  // second name before anything is put in place: a file that cannot go, or
  // one that could not be put back, fails the commit here.
  for (size_t i = 0; ok && i < steps.size(); ++i) {
    Step& step = steps[i];
    if (!step.existed) continue;
    int error_number = 0;
    if (step.temporary.isEmpty()) {
      step.aside = TakeHiddenName(step.target, &error_number, [&step](const char* name) {
        return ::renameat2(AT_FDCWD, step.target.constData(), AT_FDCWD, name, RENAME_NOREPLACE) == 0;
      });
      ok = !step.aside.isEmpty();
    } else {
      step.backup = TakeHiddenName(step.target, &error_number,
                                   [&step](const char* name) { return ::link(step.target.constData(), name) == 0; });
      ok = !step.backup.isEmpty();
    }
    if (!ok) Refuse(members_[i].shown, FileProblem{FileProblem::kCannotOpen, error_number});
  }
  for (size_t i = 0; ok && i < steps.size(); ++i) {
    Step& step = steps[i];
    if (step.temporary.isEmpty()) continue;
    const int rc = mode_ == Mode::kNew
                       ? ::renameat2(AT_FDCWD, step.temporary.constData(), AT_FDCWD, step.target.constData(),
                                     RENAME_NOREPLACE)
                       : ::rename(step.temporary.constData(), step.target.constData());
    if (rc != 0) {
      Refuse(members_[i].shown, FileProblem{FileProblem::kCannotOpen, errno});
      ok = false;
    } else {
      step.renamed = true;
    }
  }
  if (!ok) {
    // Put back in the reverse order; a second name is dropped only once its
    // file is back at its own.
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
      if (step->renamed && !step->backup.isEmpty()) {
        if (::rename(step->backup.constData(), step->target.constData()) == 0) step->backup.clear();
      } else if (step->renamed && !step->existed) {
        ::unlink(step->target.constData());
      }
      if (!step->aside.isEmpty() && ::rename(step->aside.constData(), step->target.constData()) == 0) {
        step->aside.clear();
      }
    }
  }
  lock.Sync();
  for (Step& step : steps) {
    if (!step.backup.isEmpty()) ::unlink(step.backup.constData());
    if (ok && !step.aside.isEmpty()) ::unlink(step.aside.constData());
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
  }
  return ok;
}

}  // namespace sorvel
