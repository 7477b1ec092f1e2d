// The daemon's configuration reader: a table of "[SECTION]KEY" -> value,
// sorted by key in byte order and case-sensitive.
//
// Load reads lines of at most 255 characters (a longer line is cut there and
// its rest skipped), each ended at CR LF, CR or LF; lines of 3 characters
// or fewer are ignored; "[NAME]" starts section NAME; any other line is split
// at its first "=" and kept when key and value are both non-empty. Keys and
// values are kept as they stand, spaces included; a key set again with the
// same bytes replaces its value, one in another case is another key.
#pragma once

#include <map>
#include <string>

#include "platform/regular_file.h"

namespace sorvel {

class IniProfile {
 public:
  static constexpr size_t kMaxLineLength = 255;

  // False when the file cannot be opened or read (anything but a regular
  // file of at most 16 MiB), with `problem` telling why; the table is then
  // unchanged.
  bool Load(const std::string& path, platform::FileProblem* problem = nullptr);
  // Entries in key order, one "[SECTION]" header per section, CR LF line ends.
  bool Save(const std::string& path) const;

  // The value, or "" when there is none.
  std::string Get(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  // Removes one entry, or every entry of the section when `key` is empty.
  void Remove(const std::string& section, const std::string& key);
  void Clear() { entries_.clear(); }
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  static std::string FullKey(const std::string& section, const std::string& key) {
    return "[" + section + "]" + key;
  }

  // Indexed by the full key; std::string orders its bytes as unsigned values.
  std::map<std::string, Entry> entries_;
};

}  // namespace sorvel
