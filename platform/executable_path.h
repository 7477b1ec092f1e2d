// The running program's own file, as the kernel knows it (/proc/self/exe):
// every symbolic link resolved, so a program started through a link
// (<prefix>/bin/sorvel -> ../lib/sorvel/sorvel) finds the folder of its real
// file, where its libraries and its INI file lie.
#pragma once

#include <string>

namespace sorvel::platform {

// The absolute path of the program file; "" when it cannot be read. A file
// replaced or removed while the program runs (a reinstall) still gives the
// path the program was started from: the kernel's " (deleted)" mark that
// then follows the name is not part of it.
std::string ExecutablePath();

// The folder of ExecutablePath(), without a trailing "/" ("/" for a program
// in the root); "" when the path is unknown.
std::string ExecutableFolder();

}  // namespace sorvel::platform
