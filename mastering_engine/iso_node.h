// Entries of the data-area tree. Every name here is UTF-8; the layout converts
// them to CP932 (ISO 9660) or UCS-2 (Joliet) when it writes the disc.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mastering_engine/iso_name.h"
#include "mastering_engine/name_table.h"
#include "platform/source_identity.h"

namespace sorvel {

struct IsoDirectory;

// A time as the exports carry it: a 32-bit time_t. Times beyond its range (a
// host file stamped after 2038-01-19 or before 1901-12-13) are reported as
// its nearest end, never wrapped into an unrelated date.
inline int32_t ExportedTime(int64_t time) {
  if (time > INT32_MAX) return INT32_MAX;
  if (time < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(time);
}

struct IsoNode {
  std::string name;        // first name: the ISO name, or the Joliet name under Joliet variants
  std::string short_name;  // second name: the unique 8.3 name (Joliet variants only)
  std::string source;      // host file; empty for directories and dummy files
  platform::SourceIdentity identity;  // the host file as it was added
  bool is_directory = false;
  uint32_t attributes = 0;  // caller's attribute word; bit value 2 is hidden
  uint64_t size = 0;        // bytes; 0 for directories
  int64_t time = 0;         // time_t
  IsoDirectory* parent = nullptr;           // directory holding this entry (null for the root)
  std::unique_ptr<IsoDirectory> directory;  // contents, for a directory entry

  static constexpr uint32_t kHiddenAttribute = 2;
  bool IsHidden() const { return (attributes & kHiddenAttribute) != 0; }
  bool IsDummy() const { return !is_directory && source.empty(); }
};

// Sizes of one directory that the capacity estimate keeps until the directory changes.
struct IsoDirectorySizes {
  bool valid = false;
  uint32_t primary_sectors = 0;        // extent of its records in the primary tree
  uint32_t supplementary_sectors = 0;  // the same in the Joliet tree
  uint64_t file_sectors = 0;           // data sectors of its files with a source
  uint32_t primary_path_bytes = 0;     // its own path-table record, primary tables
  uint32_t supplementary_path_bytes = 0;
  // Record identifiers of its entries in entry order (primary, Joliet), made
  // once for the sizes and used again when the records are written.
  std::vector<std::string> identifiers[2];
};

// A directory's list: ".", "..", then the entries in ascending byte order of
// their upper-cased first names as written on disc (CP932, or UCS-2 for Joliet).
struct IsoDirectory {
  IsoNode dot;     // "."; its source is the directory's own first name
  IsoNode dotdot;  // ".."
  IsoNode* owner = nullptr;         // the entry that names this directory (the root node for the root)
  IsoDirectory* parent = nullptr;   // the root's parent is the root
  std::map<std::string, std::unique_ptr<IsoNode>, std::less<>> entries;  // key: IsoTree::EntryKey of the first name
  NameTable short_names;  // upper-cased second names, "." and ".." included
  TildeHints name_hints;
  TildeHints short_hints;
  mutable IsoDirectorySizes sizes;
};

}  // namespace sorvel
