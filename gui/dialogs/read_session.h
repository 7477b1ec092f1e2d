// The read session that the analyse and rip dialogs open on their drive: the
// drive's settings reloaded, its buffering and speed set, and a session
// started with the read command and flags of the media family.
#pragma once

#include <cstdint>

namespace sorvel {

class DeviceSetting;
class DrivePanel;
class Trelin;

struct ReadSessionStart {
  int32_t family = 0;   // GetMediaFamilyType
  bool started = false; // a session was asked for (CD, DVD, BD, HD DVD)
  int32_t result = -1;  // ReadStart's result when started
};

// Ends an open session, reloads `setting` for `device`, sets the buffering
// length and the panel's chosen speed, then starts a session: CD with error
// correction as set and the CD command and flags, DVD, BD and HD DVD with the
// DVD command and no flags, any other family none.
ReadSessionStart StartReadSession(Trelin& device, DeviceSetting& setting, DrivePanel& panel);

}  // namespace sorvel
