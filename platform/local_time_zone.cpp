#include "platform/local_time_zone.h"

#include <cstdlib>
#include <ctime>

namespace sorvel::platform {

void PinLocalTimeZone() {
  if (std::getenv("TZ") != nullptr) return;
  if (setenv("TZ", ":/etc/localtime", 0) != 0) return;
  tzset();
}

}  // namespace sorvel::platform
