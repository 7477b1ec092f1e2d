// Taking paths apart and putting them together. Host paths are Linux paths
// ("/" separators, no drive part); the data-area paths of the mastering engine
// use "\". Both separators end a folder here, and the extension starts at the
// last "." of the name part only (a dot in a folder name is never one).
#pragma once

#include <QString>

namespace sorvel {

// Splits a path: `drive` (always empty: neither kind of path has one), `dir`
// up to and including the last separator, `name`, and `ext` from the name's
// last "." (dot included). Joining the four gives the path back.
void SplitPath(const QString& path, QString* drive, QString* dir, QString* name, QString* ext);

QString GetDirectoryPart(const QString& path);  // dir
QString RemoveExtension(const QString& path);   // dir & name
QString GetExtension(const QString& path);      // ext, "" when the name has none
QString GetFileNamePart(const QString& path);   // name & ext

// An absolute path: a path that begins with a separator is kept; any other is
// put below `base_directory` (the program's folder when empty). No "." or ".."
// is resolved and the disk is not consulted.
QString GetFullPath(const QString& path, const QString& base_directory = QString());

// Every double quote, "*", ":", "/", ";", "<", ">", "?", "\" and "|" of the
// name, and every character of `extra`, replaced by "_".
QString SanitizeFileName(const QString& name, const QString& extra);

// The folder of the running program (no trailing "/") and its file name
// without extension.
QString ProgramFolder();
QString ProgramBaseName();

// The settings file: the program's name with ".INI", beside the program when
// that folder is writable, else in $XDG_CONFIG_HOME/sorvel/ (~/.config/sorvel/).
QString SettingsFilePath();

// Tests: act as if the program were `program_file` ("" restores the real one).
void SetProgramPathForTesting(const QString& program_file);

}  // namespace sorvel
