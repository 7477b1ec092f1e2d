// An ordered list of named, typed values with a byte serialisation; the
// argument and result block of calls in named-value form.
//
// Serialised entry (little-endian): int16 name length (> 0), the name, uint8
// type, int32 value length (>= 0), the value bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "native_common/date_time.h"
#include "native_common/int64_value.h"

namespace sorvel {

class ParamSet {
 public:
  enum Type : uint8_t { kText = 1, kBinary = 3, kInt64 = 11, kDateTime = 128 };

  struct Entry {
    std::string name;
    uint8_t type = 0;
    std::vector<uint8_t> value;
  };

  ParamSet() = default;
  ParamSet(const ParamSet&) = default;
  ParamSet& operator=(const ParamSet&) = default;

  // The entries of `a`, then those of `b`; an entry of `b` whose name is
  // already present replaces that value and type in place.
  friend ParamSet operator+(const ParamSet& a, const ParamSet& b);

  // Replaces the type and value of the entry `name`, or appends a new entry.
  // False (nothing changed) for a name that cannot be serialised: empty or
  // longer than 32,767 bytes, or a value longer than 2^31 - 1 bytes.
  bool Set(const std::string& name, uint8_t type, const void* bytes, size_t length);
  bool SetString(const std::string& name, const std::string& text);
  bool SetBinary(const std::string& name, const std::vector<uint8_t>& bytes);
  // 8 bytes: the low 32-bit half, then the high half.
  bool SetInt64(const std::string& name, Int64Value value);
  // 4 bytes: the date-time's 32-bit seconds since 1970.
  bool SetTime(const std::string& name, DateTime value);

  // The entry of that name, or nullptr.
  const Entry* Find(const std::string& name) const;
  // The type code of the entry, 0 when missing.
  uint8_t GetType(const std::string& name) const;
  // Name and type of the entry at a 0-based position; false past the end.
  bool GetAt(size_t index, std::string* name, uint8_t* type) const;

  // Typed getters: the value when the entry exists with the getter's type and a
  // value of that type's exact length, else `fallback`.
  std::string GetString(const std::string& name, const std::string& fallback = std::string()) const;
  std::vector<uint8_t> GetBinary(const std::string& name, const std::vector<uint8_t>& fallback = {}) const;
  Int64Value GetInt64(const std::string& name, Int64Value fallback = Int64Value()) const;
  DateTime GetTime(const std::string& name, DateTime fallback = DateTime()) const;

  bool Remove(const std::string& name);
  void Clear();
  bool IsEmpty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  bool modified() const { return modified_; }

  // Appends the serialised entries to `out` and clears the modified flag.
  void Serialize(std::vector<uint8_t>* out);
  std::vector<uint8_t> Serialize();

  // Replaces the list with the entries of `data`. Parsing stops at a cut entry,
  // a name length of 0 or less, or a value length that is negative or larger
  // than what remains; every complete entry before that point is kept (a
  // repeated name replaces the earlier value). Clears the modified flag.
  void Deserialize(const uint8_t* data, size_t length);
  void Deserialize(const std::vector<uint8_t>& data) { Deserialize(data.data(), data.size()); }

 private:
  Entry* FindEntry(const std::string& name);

  std::vector<Entry> entries_;
  bool modified_ = false;
};

}  // namespace sorvel
