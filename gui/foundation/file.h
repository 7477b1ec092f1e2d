// One open file read or written line by line (text modes) or byte by byte
// (binary mode). Text is written as UTF-8 with CR LF line ends; reading takes
// UTF-8 (with or without BOM) and falls back to CP932 when the file is not
// valid UTF-8, and ends a line at CR LF, CR or a lone LF. Every failure is a
// result (false, "", 0); nothing is thrown.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "gui/foundation/regular_file.h"

namespace sorvel {

class File {
 public:
  enum Mode : int {
    kInput = 0,    // read text; the file must exist
    kOutput = 1,   // write text; created or emptied
    kAppend = 2,   // write text at the end; created when missing
    kBinary = 16,  // read and write bytes; created when missing; read-only when it cannot be written
  };
  enum SeekMode : int { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };
  // Text input takes regular files up to this size (or the caller's smaller bound).
  static constexpr int64_t kMaxTextFileSize = int64_t{256} << 20;

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `file_name` in `mode` (closing a file still open). Any other mode
  // opens nothing and returns false. Input and binary modes open regular
  // files only (the program's rule for files it did not write); input takes
  // at most `max_input_bytes`.
  bool OpenFile(const QString& file_name, int mode, int64_t max_input_bytes = kMaxTextFileSize);
  // Why the last OpenFile failed.
  const FileProblem& OpenProblem() const { return problem_; }
  bool CloseFile();

  // Zero-based offset of the next byte: in binary mode the offset after the
  // last read or write (a SeekFile alone moves only BytePosition).
  int64_t Tell() const;
  // Writes the line and CR LF; false when any byte could not be written.
  bool Puts(const QString& line);
  // The next line without its line end; "" at the end of the file or on failure.
  QString Gets();
  // Text modes move the file position to origin + position; binary mode moves
  // BytePosition to origin + position + 1 and refuses a result below 1 or
  // beyond length + 1. An unknown seek mode moves nothing and returns true.
  bool SeekFile(int64_t position, int seek_mode);

  // Binary mode: `size` bytes at BytePosition (bytes past the end read as 0),
  // and BytePosition moves on by `size`. Empty for size <= 0 or on failure.
  QByteArray ReadData(int64_t size);
  bool WriteData(const QByteArray& data);
  uint8_t Getc();
  bool Putc(uint8_t byte);

  bool Eof() const;
  int64_t Length() const;
  // A number above 0 while a file is open, 0 otherwise.
  int FileNo() const { return fd_ < 0 ? 0 : fd_ + 1; }
  const QString& Name() const { return name_; }
  int64_t BytePosition() const { return byte_position_; }
  bool IsBinary() const { return is_binary_; }

 private:
  bool WriteAll(const char* data, int64_t size);

  int fd_ = -1;
  int mode_ = kInput;
  int64_t byte_position_ = 0;
  bool is_binary_ = false;
  int64_t binary_io_end_ = 0;  // binary mode: offset after the last read or write
  QString name_;
  // Input mode: the whole file, read at open, and the offset of the next line.
  QByteArray input_;
  int64_t input_position_ = 0;
  bool input_is_utf8_ = true;
  FileProblem problem_;
};

// The bytes a text file holds for `lines`: UTF-8, each line ended by CR LF.
QByteArray EncodeTextLines(const QStringList& lines);

// Whether a replaced file reaches the disk before the rename: settings and
// projects do, so that a crash leaves the old or the new file whole. Image
// descriptors do not: they are no safer than the unflushed image beside
// them, and a flush costs a device cache flush (a tenth of a second on some
// disks) per file.
enum class FileFlush { kToDisk, kToPageCache };

// Replaces the file at `path` (the file a symbolic link names) by `bytes`:
// writes a temporary file beside it, checks every write, flushes it to disk
// unless told otherwise, then renames it over the old file, with the
// permissions of ReplacementMode. False on any failure, and the old file is
// then left as it was. A file held by HoldWrittenFile (a job's temporary) is
// written in place instead, so that it stays the file its job holds.
bool ReplaceFileContents(const QString& path, const QByteArray& bytes, FileFlush flush = FileFlush::kToDisk);

// Hidden names beside a file being replaced, marked so that no user's name
// is taken for one: "." name ".sorvel~" kind "~" host "~" process id "~" and
// eight random letters (the name cut so that the whole stays within 255
// bytes). MarkedNamePrefix is what every such name of `target` and `kind`
// starts with (the folder left out). TakeMarkedName tries such names beside
// `target` until `make` takes one (true) or fails for another reason than
// the name being taken: the name, or "" with errno in `error_number`.
// MarkedNameMaker tells the process that made `entry` (a name in the
// folder), when it starts with `prefix` and was made on this host; else 0.
// The kinds: a temporary being written, and an earlier file kept to put back.
inline constexpr char kNewFileMark[] = "new";
inline constexpr char kOldFileMark[] = "old";
QByteArray MarkedNamePrefix(const QByteArray& target, const char* kind);
QByteArray TakeMarkedName(const QByteArray& target, const char* kind, int* error_number,
                          const std::function<bool(const char*)>& make);
pid_t MarkedNameMaker(const QByteArray& entry, const QByteArray& prefix);

// The user the kernel checks file access by (the file system user id).
uid_t FileSystemUser();

// The file an output name stands for, in `path` (as the file system spells
// it): a symbolic link there is followed to the file it names, but only where
// the kernel's protected-link rule would let this user follow it: a link in a
// sticky folder that others may write (such as /tmp) that belongs neither to
// this user nor to the folder's owner is refused (false, EACCES in
// `error_number`), so that another user's link cannot turn a write into a
// shared folder onto a file of this user's elsewhere. Also false, with the
// cause, when a link does not resolve.
bool ResolveOutputName(QByteArray* path, int* error_number);

// The permissions a new file gets that replaces the file `old` stands for
// (null: none): the old file's read, write and execute bits when it belonged
// to this user, never its set-ID or sticky bits; the user's default (0666
// less the umask) for a file of another user or none.
mode_t ReplacementMode(const struct stat* old);

// Marks the open file `fd` as held by a job that writes it (and unmarks it):
// ReplaceFileContents then writes that file in place.
void HoldWrittenFile(int fd);
void ReleaseWrittenFile(int fd);

}  // namespace sorvel
