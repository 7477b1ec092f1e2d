#pragma once

#include <cstdint>

namespace sorvel {

// Sleeps on the process clock (a test's manual clock just advances); a
// non-positive time returns at once.
void Sleep(int32_t milliseconds);

}  // namespace sorvel
