// A table of (name, 32-bit value) pairs kept in byte order of the names, with
// logarithmic look-ups; a directory keeps its second (8.3) names in one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sorvel {

class NameTable {
 public:
  // False (and no change) when the name is already present.
  bool Add(std::string_view name, uint32_t value = 0);
  bool Remove(std::string_view name);
  bool Contains(std::string_view name) const { return !SortsLast(name) && entries_.find(name) != entries_.end(); }
  std::optional<uint32_t> Find(std::string_view name) const;
  size_t Count() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

  // Names in ascending byte order.
  const std::map<std::string, uint32_t, std::less<>>& Entries() const { return entries_; }

 private:
  // Names added in ascending order (a folder listed in order) cost no search.
  bool SortsLast(std::string_view name) const {
    return entries_.empty() || std::string_view(entries_.rbegin()->first) < name;
  }

  std::map<std::string, uint32_t, std::less<>> entries_;
};

}  // namespace sorvel
