// The kestrow program's command line.
#pragma once

namespace sorvel {

// "/install", "/remove", "/start", "/stop", "/standalone" (any letter case),
// else the usage text; started by a service manager, it runs the service.
// Returns the exit code (see drive_daemon/exit_codes.h).
int KestrowMain(int argc, char** argv);

}  // namespace sorvel
