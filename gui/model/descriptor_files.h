// File access of the descriptor readers and writers: text sheets, small byte
// files and image sizes, with paths of sheets written elsewhere ("\" or "/")
// resolved against the folder of the sheet that names them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "gui/foundation/regular_file.h"

namespace sorvel {

// Largest ".cdt" pack file read: 8 blocks of 256 packs of 18 bytes.
constexpr qsizetype kMaxPackFileBytes = 8 * 256 * 18;

// The readers open regular files only (a symbolic link to one counts): a FIFO
// or a device named by a descriptor would block or never end.

// Reads the lines of a text sheet of at most 16 MiB (UTF-8 or CP932; CR LF,
// CR or LF ends a line).
bool ReadTextLines(const QString& path, QStringList* lines);
// Replaces the file by the bytes whole (ReplaceFileContents).
bool ReplaceBinaryFile(const QString& path, const QByteArray& bytes);
// Why a descriptor cannot be written at `path`: kNotRegular when a FIFO,
// device or folder stands there (writing would block or go elsewhere),
// kCannotOpen when the file there is write-protected or its folder cannot
// take new files.
FileProblem OutputPathProblem(const QString& path);
// Reads a whole small file; false when it cannot be opened or is larger than `max_bytes`.
bool ReadBinaryFile(const QString& path, QByteArray* bytes, qsizetype max_bytes);
// Size of the file in bytes, 0 when it cannot be opened or is no regular file.
int64_t FileSizeOfPath(const QString& path);

QString FileNameOfPath(const QString& path);
// A CUE sheet names its files in double quotes, one statement a line: a file
// name with a double quote or a control character (a line break, a tab)
// cannot be written into one. `path` is accepted when its file name can.
bool IsSheetFileName(const QString& path);
// What the user is told of a file whose name a sheet cannot hold:
// "ファイル PATH の名前はCUEシートに記述できません。".
QString SheetFileNameText(const QString& path);
// The folder of a path, made absolute against the current folder.
QString FolderOfPath(const QString& path);
// A name from a sheet: "\" taken as a folder separator, a relative name put
// below `folder`, an absolute one kept.
QString ResolveAgainstFolder(const QString& name, const QString& folder);

}  // namespace sorvel
