// Mastering on the bus ("SORVEL.Mastering", factory "/SORVEL/Mastering"): the
// class's members as methods (AddFile, AddTrack, ShowBurnDialog and StartBurn
// also without their defaulted trailing arguments), VolumeLabel as a property
// and Progress as a signal. An error the class raises becomes the D-Bus error
// "SORVEL.Mastering.Error.E<code>" (e.g. ...E80040001) whose message is the
// error's text. The members run on the object's worker, StartBurn's burn
// included (its Progress is sent from there); StopBurn is answered on the bus
// thread at once, and ShowBurnDialog shows its dialog on the GUI thread while
// the worker waits, or fails at once when the server has no display.
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
  // Closes a burn dialog left open by a client that has gone.
  void Abandoned() override;
  // Stops a burn that runs (as StopBurn does).
  void Stop() override;

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
