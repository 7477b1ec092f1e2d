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
  // Passes the class's Progress on as a signal in thousandths of the total:
  // the class reports every sector, and a bus message per sector made a
  // burn several times slower than the write itself.
  void PassProgressOn(int32_t value, int32_t total);

  std::unique_ptr<Mastering> mastering_;
  bool progress_sent_ = false;
  int32_t progress_value_ = 0;
  int32_t progress_total_ = 0;
};

}  // namespace sorvel
