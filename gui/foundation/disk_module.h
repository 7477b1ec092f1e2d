// Queries and changes of host files and folders, temporary names, and the
// drive type of a drive letter. None shows a message; failures are results.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace sorvel {

// Attribute bits reported by GetFileAttributesByFind.
inline constexpr int32_t kFileAttributeReadOnly = 0x01;
inline constexpr int32_t kFileAttributeHidden = 0x02;  // name begins with "."
inline constexpr int32_t kFileAttributeDirectory = 0x10;
inline constexpr int32_t kFileAttributeArchive = 0x20;  // every file that is not a folder

// Drive types of GetPathDriveType.
inline constexpr int32_t kDriveNoRootDir = 1;
inline constexpr int32_t kDriveCdRom = 5;

// Creation, last-write and last-access times (local time) of the first entry
// matching `path` (wildcards allowed in the name). False, outputs unchanged,
// when nothing matches. Where the file system keeps no creation time, the
// last-write time stands in for it.
bool GetFileTimes(const QString& path, QDateTime* created, QDateTime* modified, QDateTime* accessed);

// Attribute bits of the first entry matching `path`, -1 when nothing matches.
int32_t GetFileAttributesByFind(const QString& path);

// Size of the file, 0 when it cannot be opened for reading.
int64_t GetFileSize64(const QString& path);

// 0 when the file opens for reading and exclusively for appending, 1 when it
// cannot be opened for reading (missing, not a regular file), 2 when only reading works
// (no write permission, or another opener holds it).
int CheckFileAccess(const QString& path);

// Creates every folder level of `path`. 0 when the last level was created,
// else the error number of the last level (EEXIST when it existed already).
int MakeDirectories(const QString& path);

// 2: the temporary folder ($TMPDIR, else /tmp). 0 and 1 (the system's own
// folders) and any other number: "".
QString GetSpecialFolderPath(int folder);

// The drive type of the drive letter that begins `path`: kDriveCdRom when the
// drive map names a device for it, else kDriveNoRootDir.
int32_t GetPathDriveType(const QString& path);

// PathTemp of the settings when set, else the system's temporary folder.
QString GetTempDirectory();

// The temporary folder, "/" and 8 random letters "A" to "Z", followed by
// `suffix`; letters are drawn again while any entry of the folder begins with
// them. Nothing is created. "" only when no free name was found.
QString MakeTempFileName(const QString& suffix);

// Deletes every regular file in the path's folder whose name begins with the
// path's name part without its extension (a literal prefix). Refuses an empty
// name part; failures are ignored; folders are never touched.
void DeleteFilesByPrefix(const QString& path);

}  // namespace sorvel
