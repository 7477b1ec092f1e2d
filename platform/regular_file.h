// Opening files that the program did not write itself: disc images and their
// side files, sheets, CD-Text files, playlists, audio files, project and
// settings files, the drive map and the emulated drive's files. A FIFO in
// place of such a file would block the open (or every read) for good, and a
// device such as /dev/zero would never end; so the path is opened without
// blocking, the descriptor itself is checked to be a regular file, and only
// then is it switched back to blocking I/O. Text files read whole are bounded.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace sorvel::platform {

// Bounds of the text files read whole.
inline constexpr int64_t kMaxSettingsFileBytes = int64_t{16} << 20;  // settings, drives.conf, daemon INI
inline constexpr int64_t kMaxSheetFileBytes = int64_t{16} << 20;     // CUE, CCD and TSN descriptors
inline constexpr int64_t kMaxPlaylistFileBytes = int64_t{64} << 20;  // M3U playlists

// Why a file was not opened or read.
struct FileProblem {
  enum Kind : uint8_t {
    kNone = 0,
    kCannotOpen,  // the open failed; error_number tells why
    kNotRegular,  // a directory, FIFO, socket or device
    kTooLarge,    // more bytes than the reader takes
    kCannotRead,  // a read failed; error_number tells why
  };
  Kind kind = kNone;
  int error_number = 0;

  explicit operator bool() const { return kind != kNone; }
  // The path does not exist (nor does a link's target): the usual case of
  // an optional file, which callers may treat as no file at all.
  bool Missing() const;
};

// "cannot open PATH: REASON", "PATH is not a regular file", "PATH is larger
// than N bytes", "cannot read PATH: REASON"; "" for no problem.
std::string DescribeFileProblem(const std::string& path, const FileProblem& problem);

// Opens `path` with `flags` (access mode, and O_CREAT, O_EXCL, O_TRUNC,
// O_APPEND as wanted; close-on-exec is always added) and `create_mode` for a
// file it creates. Anything but a regular file is refused without reading or
// writing a byte; a path that names one already is not even opened. The
// descriptor returned reads and writes in blocking mode; -1 on refusal, with
// `problem` telling why.
int OpenRegularFile(const std::string& path, int flags, FileProblem* problem = nullptr, mode_t create_mode = 0666);

// Reads the file behind `fd` from its start: at most `max_bytes`, refused as
// kTooLarge when it holds more (a file growing while it is read included).
bool ReadWholeFile(int fd, int64_t max_bytes, std::string* contents, FileProblem* problem = nullptr);

// Opens for reading a path that the caller found to be a regular file a
// moment ago (a mastering source, looked at when it was added): the path is
// not looked at again before the open, and the descriptor is left
// non-blocking, which reads of a regular file ignore. Anything but a regular
// file in its place since is refused as OpenRegularFile refuses it, with the
// same problems; only a device put there is opened (and closed) first.
// `status`, when given, receives the stat of the descriptor that the check
// took, so the caller needs no stat of its own.
int OpenFoundRegularFile(const std::string& path, FileProblem* problem = nullptr, struct stat* status = nullptr);

// OpenRegularFile for reading, then ReadWholeFile.
bool ReadRegularFile(const std::string& path, int64_t max_bytes, std::string* contents,
                     FileProblem* problem = nullptr);

}  // namespace sorvel::platform
