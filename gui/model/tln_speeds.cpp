#include "gui/model/tln_speeds.h"

namespace sorvel {

TLNSpeed* TLNSpeeds::Items(int Index) { return items_.Item(Index).value_or(nullptr).get(); }

const TLNSpeed* TLNSpeeds::Items(int Index) const { return const_cast<TLNSpeeds*>(this)->Items(Index); }

bool TLNSpeeds::Delete(int Index) { return items_.Remove(Index); }

void TLNSpeeds::Add(bool blnCAV, int32_t wSpeed) {
  auto entry = std::make_shared<TLNSpeed>();
  entry->CAV = blnCAV;
  entry->Speed = wSpeed;
  items_.AddNew(std::move(entry));
}

}  // namespace sorvel
