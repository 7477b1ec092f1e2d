// Loads a pressed disc into a media state from an ISO image, a CUE sheet with
// its BIN files, or a CloneCD descriptor (.ccd) with its .img and .sub. The
// image files are referenced, not copied.
#pragma once

#include <string>

#include "platform/emulated_drive/media_state.h"

namespace sorvel::platform::emu {

// Fills `state` (layout, extents, capacity, status) for a disc of `profile`
// from `image_path`; the format follows the extension (.iso, .cue, .ccd).
bool LoadDiscImage(const std::string& image_path, uint16_t profile, MediaState* state, std::string* error);

}  // namespace sorvel::platform::emu
