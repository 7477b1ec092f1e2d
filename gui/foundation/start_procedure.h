// The program's start: the command line dispatched to the write-image dialog
// or the main window, and the wait until every window is closed.
#pragma once

#include <QString>
#include <QStringList>

namespace sorvel {

// The one command-line path: the arguments joined with one space, then
// trimmed of spaces, so that `sorvel a b.iso` names the path "a b.iso".
QString CommandLinePath(const QStringList& arguments);

// Dispatches `path` (one pair of surrounding double quotes removed, a relative
// path made absolute against the current folder) on its extension in upper case: ".ISO", ".CUE", ".CCD" and ".TSN" open only the
// write-image dialog; anything else shows the main window, loads a ".WPJ"
// project into it, waits until no window is open and unloads it. Always true.
bool RunCommandLine(const QString& path);

// What the user is told of files read at start that exist but were not read
// (the settings file, drives.conf: not a regular file, too large,
// unreadable); empty when both were read or are missing.
QStringList UnreadableStartFiles();

// The start procedure: returns at once in the automation start mode;
// otherwise holds the shared settings object while RunCommandLine runs, after
// telling the user of UnreadableStartFiles (the program then goes on with
// the defaults).
void Main(const QStringList& arguments);

// Windows of the program that count as open: shown top-level windows and
// dialogs (menus, tool tips and splash screens do not count).
int OpenWindowCount();

// Serves events until no window is open; returns at once when none is.
void WaitWhileWindowsOpen();

}  // namespace sorvel
