#include "gui/model/tln_speeds.h"

namespace sorvel {

TLNSpeed* TLNSpeeds::Items(int Index) {
  if (Index < 1 || Index > Count()) return nullptr;
  return items_[static_cast<size_t>(Index - 1)].get();
}

const TLNSpeed* TLNSpeeds::Items(int Index) const {
  return const_cast<TLNSpeeds*>(this)->Items(Index);
}

bool TLNSpeeds::Delete(int Index) {
  if (Index < 1 || Index > Count()) return false;
  items_.erase(items_.begin() + (Index - 1));
  return true;
}

void TLNSpeeds::Add(bool blnCAV, int32_t wSpeed) {
  auto entry = std::make_unique<TLNSpeed>();
  entry->CAV = blnCAV;
  entry->Speed = wSpeed;
  items_.push_back(std::move(entry));
}

}  // namespace sorvel
