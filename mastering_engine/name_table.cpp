#include "mastering_engine/name_table.h"

namespace sorvel {

bool NameTable::Add(std::string_view name, uint32_t value) {
  if (SortsLast(name)) {
    entries_.emplace_hint(entries_.end(), std::string(name), value);
    return true;
  }
  return entries_.emplace(std::string(name), value).second;
}

bool NameTable::Remove(std::string_view name) {
  auto it = entries_.find(name);
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

std::optional<uint32_t> NameTable::Find(std::string_view name) const {
  auto it = entries_.find(name);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

}  // namespace sorvel
