// Mastering on the bus ("SORVEL.Mastering", factory "/SORVEL/Mastering"): the
// class's members as methods (AddFile, AddTrack, ShowBurnDialog and StartBurn
// also without their defaulted trailing arguments), VolumeLabel as a property
// and Progress as a signal. An error the class raises becomes the D-Bus error
// "SORVEL.Mastering.Error.E<code>" (e.g. ...E80040001) whose message is the
// error's text.
#pragma once

#include <cstdint>
#include <memory>

#include "gui/automation/bus_object.h"
#include "gui/jobs/mastering.h"

namespace sorvel {

inline constexpr char kMasteringInterface[] = "SORVEL.Mastering";

// The D-Bus error name of an error number of the class.
QString MasteringErrorName(uint32_t number);

const BusClass& MasteringBusClass();

class MasteringBusObject : public BusObject {
 public:
  MasteringBusObject();
  Mastering& Layout() { return *mastering_; }

 private:
  std::unique_ptr<Mastering> mastering_;
};

}  // namespace sorvel
