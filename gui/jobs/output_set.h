// OutputSet: the files one job writes, put in place whole. Each output is
// written under a temporary name of this set's own beside its target (made
// with O_EXCL, so no other job or process shares it), and the set is renamed
// over its targets only when every file was written; a failed or stopped job
// removes only its own temporaries. So the job never deletes or truncates a
// file it did not make: an earlier result, another instance's files and the
// previous complete set survive any failure.
//
// Every hidden name the set makes (a temporary, or a second name of a file it
// replaces) is marked: "." name ".sorvel~" kind "~" host "~" process id "~"
// and eight random letters, kind "new" for a temporary and "old" for an
// earlier file kept to put back. A temporary of this host whose process is
// gone, owned by this user, is debris of a job that ended without cleaning
// up (killed, crashed, a power cut): a new set into a name removes such
// temporaries of that name, and such a job's second names of the file that
// stands at the name (hard links of it). Nothing else is ever swept: a
// user's own hidden files, the temporaries of live jobs (of this host, or of
// any job on another host sharing the folder) and kept earlier files stay. The set takes no lock
// of its own on its temporaries: the only lock on one is its writer's.
//
// A temporary takes the permission bits of the file it replaces only when
// that file belongs to this user, never its set-ID or sticky bits; otherwise
// the user's default.
//
// A target is refused before anything is written when something other than
// a regular file stands at its name (a FIFO, device or folder: the open would
// block or write elsewhere), or when it is a write-protected file: the user
// protected the earlier result, so it is kept rather than renamed over. So is
// another user's file in a sticky folder, which this user may not rename over.
// A symbolic link at a name the set writes is kept and its file replaced;
// one at a name of the earlier set that this set does not write is removed,
// its file left alone. Another user's link in a shared sticky folder is
// refused, as the kernel's protected-link rule would refuse to follow it.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "gui/foundation/regular_file.h"

namespace sorvel {

class OutputSet {
 public:
  enum class Mode {
    kReplace,  // the set replaces what stands at its targets
    kNew,      // a target that exists by the commit is never replaced: the commit fails
  };

  explicit OutputSet(Mode mode = Mode::kReplace) : mode_(mode) {}
  // Removes the temporaries of a set not committed.
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Takes `target` into the set and creates the empty temporary file the job
  // writes it under; its path, or "" when the target is refused or the
  // temporary cannot be made (ProblemText tells the user why).
  QString Add(const QString& target);
  // A file of the previous set that this set replaces but may not write (a
  // ".sub" of an earlier read with subchannel, a ".cdt" of a disc with
  // CD-Text): checked as Add checks, and removed at the commit unless a
  // temporary of the set is renamed over it, so that no side file of another
  // disc is left beside the new ones. Such files belong to an earlier set
  // only when its principal file (the first target the set took, the image)
  // exists at the commit: otherwise they are the user's and stay. False when
  // refused.
  bool Replace(const QString& target);
  // The temporary of `target` is not needed after all (the job found it need
  // not write that file): it is removed and the target is handled as Replace.
  void Drop(const QString& target);
  // The temporary `target` is written under; "" when it has none.
  QString TemporaryOf(const QString& target) const;
  // `text` with each temporary of the set named by its target, for messages
  // of code that wrote a temporary: the user is told of the files they named.
  QString ShownText(QString text) const;

  // Flushes every temporary to the disk, renames each over its target and
  // removes the replaced files that the set does not write, then flushes the
  // folders. The flush runs on a thread of its own while the calling thread
  // lets its window system work; `slow_flush` is called when it takes long
  // (so that the job can say the files are being written out). Commits of
  // sets into one folder are serialised between the jobs of a process, and
  // between processes where the folder can be locked.
  //
  // A set that puts one file in place does it by one rename. A set of
  // several files first keeps each file it replaces under a second name to
  // put it back by: a hard link, or where the file system has none (exFAT,
  // vfat, some FUSE file systems) the file itself renamed aside; a file
  // removed is renamed aside. On failure the targets already renamed are put
  // back as they were and the temporaries are removed, and ProblemText tells
  // why. An earlier file that could not be put back keeps its second name,
  // which ProblemText names; no other hidden name of the commit is left.
  bool Commit(const std::function<void()>& slow_flush = {});
  // Removes every temporary of this set; the targets are left as they are.
  void Discard();

  // What the user is told of the last refusal: "ファイル PATH は通常のファイル
  // ではありません。" for a FIFO, device or folder, else "ファイル PATH が開けません。".
  const QString& ProblemText() const { return problem_text_; }
  const FileProblem& Problem() const { return problem_; }

  // Tests: the file system calls a commit makes, to make them fail as some
  // file systems do (null restores the system's own).
  struct FileSystemCalls {
    int (*link)(const char* from, const char* to);
    int (*rename)(const char* from, const char* to);
    int (*rename_noreplace)(const char* from, const char* to);
    int (*lock_folder)(int fd);
    int (*flush)(int fd);
  };
  static void SetFileSystemCallsForTesting(const FileSystemCalls* calls);

 private:
  struct Member {
    QString shown;   // the target as the caller named it
    QString target;  // the file replaced: a symbolic link's file
    QString temporary;
    int fd = -1;  // the temporary, open
  };

  Member* Find(const QString& shown);
  // Closes the temporary of `member` and removes it when it still has one.
  static void RemoveTemporary(Member& member);
  // `renamed_over`: a temporary is to be renamed over the target, so this
  // user must be allowed to (the sticky folder rule).
  bool Check(const QString& shown, QString* target, bool renamed_over);
  void Refuse(const QString& shown, FileProblem problem);
  // Flushes the temporaries (see Commit); false with the problem set.
  bool Flush(const std::function<void()>& slow_flush);

  Mode mode_;
  std::vector<Member> members_;
  FileProblem problem_;
  QString problem_text_;
};

}  // namespace sorvel
