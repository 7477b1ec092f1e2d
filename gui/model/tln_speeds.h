// Drive speed lists that the device engine binding returns: entries in the
// order they were added, indexed from 1.
#pragma once

#include <cstdint>
#include <memory>

#include "gui/foundation/list.h"

namespace sorvel {

struct TLNSpeed {
  bool CAV = false;   // true: constant angular velocity; false: constant linear velocity
  int32_t Speed = 0;  // kB/s of 1,000 bytes a second
};

class TLNSpeeds {
 public:
  // The entry at `Index` (1..Count), the stored object itself; null outside.
  TLNSpeed* Items(int Index);
  const TLNSpeed* Items(int Index) const;
  TLNSpeed* operator()(int Index) { return Items(Index); }
  // The same entry shared, for a holder that may outlive the list; null outside.
  std::shared_ptr<TLNSpeed> SharedItem(int Index) const { return items_.Item(Index).value_or(nullptr); }
  int Count() const { return items_.Count(); }
  void Clear() { items_.Clear(); }
  // Removes the entry at `Index`; later entries move down one place.
  bool Delete(int Index);
  void Add(bool blnCAV, int32_t wSpeed);

 private:
  List<std::shared_ptr<TLNSpeed>> items_;
};

}  // namespace sorvel
