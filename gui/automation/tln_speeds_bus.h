// The drive speed lists on the bus: TLNSpeeds (interface "SORVEL.TLNSpeeds")
// and its entries TLNSpeed ("SORVEL.TLNSpeed"). Clients receive them from
// Trelin's GetReadSpeed and GetWriteSpeed and cannot create them. Items, the
// list's default member, answers the entry's object; asked twice for one
// entry it answers the same object.
#pragma once

#include <memory>

#include "gui/automation/bus_object.h"
#include "gui/model/tln_speeds.h"

namespace sorvel {

inline constexpr char kTLNSpeedsInterface[] = "SORVEL.TLNSpeeds";
inline constexpr char kTLNSpeedInterface[] = "SORVEL.TLNSpeed";

const BusClass& TLNSpeedsBusClass();
const BusClass& TLNSpeedBusClass();

class TLNSpeedsBusObject : public BusObject {
 public:
  explicit TLNSpeedsBusObject(std::unique_ptr<TLNSpeeds> speeds);
  TLNSpeeds& Speeds() { return *speeds_; }

 private:
  std::unique_ptr<TLNSpeeds> speeds_;
};

class TLNSpeedBusObject : public BusObject {
 public:
  explicit TLNSpeedBusObject(std::shared_ptr<TLNSpeed> speed);
  TLNSpeed& Speed() { return *speed_; }

 private:
  std::shared_ptr<TLNSpeed> speed_;
};

}  // namespace sorvel
