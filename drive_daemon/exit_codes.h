// Exit codes of the kestrow program.
//
// "/install" and "/remove" end with 0 on success and otherwise with the code
// of their failure. Windows error numbers (1060, 1073, ...) do not fit into a
// Linux exit status (0..255), so the failures have codes of their own:
//
//   code  meaning                                    Windows error it stands for
//   ----  -----------------------------------------  ------------------------------------
//     0   success; also "/start", "/stop" failed,    -
//         usage text, "/standalone" ended
//     1   "/start" or "/stop": the service reached   -
//         the asked state (or already was there)
//     2   access denied                              ERROR_ACCESS_DENIED (5)
//     3   the service is already installed           ERROR_SERVICE_EXISTS (1073)
//     4   the service is not installed               ERROR_SERVICE_DOES_NOT_EXIST (1060)
//     5   the service runs and cannot be removed     ERROR_SERVICE_MARKED_FOR_DELETE (1072)
//     6   no service manager is available            ERROR_DATABASE_DOES_NOT_EXIST (1065)
//     7   the program's own path is unknown          ERROR_FILE_NOT_FOUND (2)
//     8   the service manager failed otherwise       -
//     9   the server could not listen on its port    ERROR_SERVICE_SPECIFIC_ERROR (1066);
//         (the service process and "/standalone")    it is also the service-specific code
#pragma once

#include "platform/service_manager.h"

namespace sorvel {

enum KestrowExitCode : int {
  kExitSuccess = 0,
  kExitControlReached = 1,
  kExitAccessDenied = 2,
  kExitServiceExists = 3,
  kExitServiceNotFound = 4,
  kExitServiceRunning = 5,
  kExitManagerUnavailable = 6,
  kExitProgramPathUnknown = 7,
  kExitServiceFailed = 8,
  kExitListenFailed = 9,
};

inline int ExitCodeOf(platform::ServiceError error) {
  using platform::ServiceError;
  switch (error) {
    case ServiceError::kNone: return kExitSuccess;
    case ServiceError::kAccessDenied: return kExitAccessDenied;
    case ServiceError::kExists: return kExitServiceExists;
    case ServiceError::kNotFound: return kExitServiceNotFound;
    case ServiceError::kRunning: return kExitServiceRunning;
    case ServiceError::kManagerUnavailable: return kExitManagerUnavailable;
    case ServiceError::kAlreadyRunning:
    case ServiceError::kNotActive:
    case ServiceError::kFailed: return kExitServiceFailed;
  }
  return kExitServiceFailed;
}

}  // namespace sorvel
