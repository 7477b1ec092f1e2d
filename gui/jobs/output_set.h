// OutputSet: the files one job writes, put in place whole. Each output is
// written under a temporary name of this set's own beside its target (made
// with O_EXCL, so no other job or process shares it), and the set is renamed
// over its targets only when every file was written; a failed or stopped job
// removes only its own temporaries. So the job never deletes or truncates a
// file it did not make: an earlier result, another instance's files and the
// previous complete set survive any failure.
//
// A target is refused before anything is written when something other than
// a regular file stands at its name (a FIFO, device or folder: the open would
// block or write elsewhere), or when it is a write-protected file: the user
// protected the earlier result, so it is kept rather than renamed over.
// A symbolic link at a name the set writes is kept and its file replaced;
// one at a name of the earlier set that this set does not write is removed,
// its file left alone.
#pragma once

#include <QString>
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
  // disc is left beside the new ones. False when refused.
  bool Replace(const QString& target);
  // The temporary of `target` is not needed after all (the job found it need
  // not write that file): it is removed and the target is handled as Replace.
  void Drop(const QString& target);
  // The temporary `target` is written under; "" when it has none.
  QString TemporaryOf(const QString& target) const;

  // Renames every temporary over its target and removes the replaced files
  // that the set does not write. Commits of sets into one folder are
  // serialised between jobs and processes, so concurrent sets never mix. On
  // failure the targets already renamed are put back as they were, the
  // temporaries are removed, and ProblemText tells why.
  bool Commit();
  // Removes every temporary of this set; the targets are left as they are.
  void Discard();

  // What the user is told of the last refusal: "ファイル PATH は通常のファイル
  // ではありません。" for a FIFO, device or folder, else "ファイル PATH が開けません。".
  const QString& ProblemText() const { return problem_text_; }
  const FileProblem& Problem() const { return problem_; }

 private:
  struct Member {
    QString shown;   // the target as the caller named it
    QString target;  // the file replaced: a symbolic link's file
    QString temporary;
  };

  Member* Find(const QString& shown);
  bool Check(const QString& shown, QString* target);
  void Refuse(const QString& shown, FileProblem problem);

  Mode mode_;
  std::vector<Member> members_;
  FileProblem problem_;
  QString problem_text_;
};

}  // namespace sorvel
