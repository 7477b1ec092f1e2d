#include "gui/jobs/output_set.h"

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
#include <optional>

namespace sorvel {
namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QByteArray FolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return QByteArrayLiteral(".");
  if (slash == 0) return QByteArrayLiteral("/");
  return path.left(slash);
}

// A new file of this set beside `target`, under a hidden name of its own:
// created with O_EXCL, so no other set or process has it, with the
// permissions a new file of the user gets, or `mode` when given. The path,
// or "" with errno in `error_number`.
QByteArray MakeUniqueFile(const QByteArray& target, int* error_number, std::optional<mode_t> mode = std::nullopt) {
  const qsizetype slash = target.lastIndexOf('/');
  // The target's name, cut so that the hidden name stays within a name's
  // 255 bytes however long the target's own is.
  const QByteArray prefix = target.left(slash + 1) + '.' + target.mid(slash + 1).left(200) + '.';
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    QByteArray name = prefix;
    for (int i = 0; i < 8; ++i) name += kLetters[QRandomGenerator::global()->bounded(int{sizeof kLetters} - 1)];
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    if (mode) ::fchmod(fd, *mode);
    ::close(fd);
    return name;
  }
  *error_number = errno;
  return {};
}

// Holds the commit lock of the folders of a set: an exclusive flock on each
// folder, taken in name order so that two sets never wait on each other.
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

void OutputSet::Refuse(const QString& shown, FileProblem problem) {
  problem_ = problem;
  problem_text_ = problem.kind == FileProblem::kNotRegular
                      ? FileProblemText(shown, problem)
                      : QStringLiteral("ファイル %1 が開けません。").arg(shown);
}

bool OutputSet::Check(const QString& shown, QString* target) {
  QByteArray native = Native(shown);
  if (native.isEmpty() || native.contains('\0')) {
    Refuse(shown, FileProblem{FileProblem::kCannotOpen, ENOENT});
    return false;
  }
  struct stat st {};
  if (::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* resolved = ::realpath(native.constData(), nullptr);
    if (resolved == nullptr) {
      Refuse(shown, FileProblem{FileProblem::kCannotOpen, errno});
      return false;
    }
    native = resolved;
    ::free(resolved);
  }
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
  if (!Check(target, &resolved)) return {};
  const QByteArray native = Native(resolved);
  // A file replaced keeps its permissions.
  struct stat st {};
  std::optional<mode_t> mode;
  if (::stat(native.constData(), &st) == 0) mode = st.st_mode & 07777;
  int error_number = 0;
  const QByteArray temporary = MakeUniqueFile(native, &error_number, mode);
  if (temporary.isEmpty()) {
    Refuse(target, FileProblem{FileProblem::kCannotOpen, error_number});
    return {};
  }
  Member* member = Find(target);
  if (member == nullptr) {
    members_.push_back(Member{target, resolved, QString()});
    member = &members_.back();
  }
  member->target = resolved;
  member->temporary = QFile::decodeName(temporary);
  return member->temporary;
}

bool OutputSet::Replace(const QString& target) {
  if (Find(target) != nullptr) return true;
  QString resolved;
  if (!Check(target, &resolved)) return false;
  members_.push_back(Member{target, resolved, QString()});
  return true;
}

void OutputSet::Drop(const QString& target) {
  Member* member = Find(target);
  if (member == nullptr || member->temporary.isEmpty()) return;
  ::unlink(Native(member->temporary).constData());
  member->temporary.clear();
}

QString OutputSet::TemporaryOf(const QString& target) const {
  for (const Member& member : members_) {
    if (member.shown == target) return member.temporary;
  }
  return {};
}

void OutputSet::Discard() {
  for (Member& member : members_) {
    if (!member.temporary.isEmpty()) ::unlink(Native(member.temporary).constData());
  }
  members_.clear();
}

bool OutputSet::Commit() {
  std::vector<QByteArray> folders;
  for (const Member& member : members_) folders.push_back(FolderOf(Native(member.target)));
  const FolderLocks lock(std::move(folders));

  struct Step {
    QByteArray target, temporary, backup;
    bool existed = false;
    bool renamed = false;
  };
  std::vector<Step> steps;
  bool ok = true;
  for (const Member& member : members_) {
    // A file of the earlier set that this one does not write goes by its
    // name: a symbolic link there is removed, not the file it names.
    Step step{Native(member.temporary.isEmpty() ? member.shown : member.target), Native(member.temporary), {}};
    struct stat st {};
    step.existed = ::lstat(step.target.constData(), &st) == 0;
    steps.push_back(step);
    // The world may have changed while the job ran: checked again.
    QString resolved;
    if (ok && step.existed && mode_ == Mode::kReplace && !Check(member.shown, &resolved)) ok = false;
    if (ok && step.existed && mode_ == Mode::kNew && !step.temporary.isEmpty()) {
      Refuse(member.shown, FileProblem{FileProblem::kCannotOpen, EEXIST});
      ok = false;
    }
  }
  // A hard link to each file replaced, so a failed commit can put it back.
  for (Step& step : steps) {
    if (!ok || !step.existed) continue;
    int error_number = 0;
    QByteArray backup = MakeUniqueFile(step.target, &error_number);
    if (backup.isEmpty()) continue;
    ::unlink(backup.constData());
    if (::link(step.target.constData(), backup.constData()) == 0) step.backup = backup;
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
  for (Step& step : steps) {
    if (ok && step.temporary.isEmpty() && step.existed) {
      ::unlink(step.target.constData());  // a side file of the previous set this set does not write
    } else if (!ok && step.renamed) {
      if (!step.backup.isEmpty()) {
        ::rename(step.backup.constData(), step.target.constData());
        step.backup.clear();
      } else if (!step.existed) {
        ::unlink(step.target.constData());
      }
    } else if (!ok && !step.temporary.isEmpty()) {
      ::unlink(step.temporary.constData());
    }
    if (!step.backup.isEmpty()) ::unlink(step.backup.constData());
  }
  members_.clear();
  if (ok) {
    problem_ = FileProblem{};
    problem_text_.clear();
  }
  return ok;
}

}  // namespace sorvel
