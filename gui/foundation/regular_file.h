// The program's one rule for opening files it did not write itself (images,
// side files, sheets, CD-Text files, playlists, audio, project and settings
// files), with the paths the GUI holds: the platform's rule (opened without
// blocking, the descriptor checked to be a regular file, text files bounded),
// and the user's text for a file refused.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "platform/regular_file.h"

namespace sorvel {

using platform::FileProblem;

// The platform's OpenRegularFile for `path` (encoded as the file system
// spells it).
int OpenRegularFile(const QString& path, int flags, FileProblem* problem = nullptr);

// Opens a file the program writes (`flags` without O_RDONLY) by the same
// rule: opened without blocking and taken only as a regular file, so a FIFO,
// device or folder in its place is refused at once (kNotRegular).
int OpenOutputFile(const QString& path, int flags, FileProblem* problem = nullptr);

// The whole of a regular file of at most `max_bytes`.
bool ReadRegularFile(const QString& path, int64_t max_bytes, QByteArray* contents, FileProblem* problem = nullptr);

// What the user is told of a file refused: "ファイル PATH は通常のファイルでは
// ありません。" and the like; "" for no problem.
QString FileProblemText(const QString& path, const FileProblem& problem);

}  // namespace sorvel
