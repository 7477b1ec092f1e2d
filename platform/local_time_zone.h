// The program's local time zone, read once.
#pragma once

namespace sorvel::platform {

// With TZ unset the C library takes the zone from /etc/localtime and checks
// that file again at every local time conversion (Qt's date and time classes
// make one per value they convert: about half of a big project's load).
// Naming the same file in TZ (":/etc/localtime") gives the same zone, read
// once. A TZ already set, even an empty one, is kept. Call it at the start of
// main, before any thread exists: it changes the environment.
void PinLocalTimeZone();

}  // namespace sorvel::platform
