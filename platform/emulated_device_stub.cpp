// Placeholder until the emulated drive lands: every emulated drive fails to open.
#include "platform/emulated_device.h"

namespace sorvel::platform {

std::unique_ptr<ScsiDevice> OpenEmulatedDevice(const std::string&, std::string* error) {
  if (error) *error = "emulated drives are not available";
  return nullptr;
}

}  // namespace sorvel::platform
