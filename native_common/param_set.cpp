#include "native_common/param_set.h"

#include <cstring>

#include "native_common/little_endian.h"

namespace sorvel {

ParamSet operator+(const ParamSet& a, const ParamSet& b) {
  ParamSet joined(a);
  for (const ParamSet::Entry& e : b.entries_) joined.Set(e.name, e.type, e.value.data(), e.value.size());
  return joined;
}

ParamSet::Entry* ParamSet::FindEntry(const std::string& name) {
  for (Entry& e : entries_) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

const ParamSet::Entry* ParamSet::Find(const std::string& name) const {
  return const_cast<ParamSet*>(this)->FindEntry(name);
}

bool ParamSet::Set(const std::string& name, uint8_t type, const void* bytes, size_t length) {
  if (name.empty() || name.size() > 0x7FFF || length > 0x7FFFFFFF) return false;
  const auto* p = static_cast<const uint8_t*>(bytes);
  Entry* e = FindEntry(name);
  if (e == nullptr) {
    entries_.push_back(Entry{name, type, {}});
    e = &entries_.back();
  }
  e->type = type;
  e->value.assign(p, p + (p != nullptr ? length : 0));
  modified_ = true;
  return true;
}

bool ParamSet::SetString(const std::string& name, const std::string& text) {
  return Set(name, kText, text.data(), text.size());
}

bool ParamSet::SetBinary(const std::string& name, const std::vector<uint8_t>& bytes) {
  return Set(name, kBinary, bytes.data(), bytes.size());
}

bool ParamSet::SetInt64(const std::string& name, Int64Value value) {
  uint8_t bytes[8];
  PutLe32(bytes, value.Low());
  PutLe32(bytes + 4, static_cast<uint32_t>(value.High()));
  return Set(name, kInt64, bytes, sizeof bytes);
}

bool ParamSet::SetTime(const std::string& name, DateTime value) {
  uint8_t bytes[4];
  PutLe32(bytes, value.Raw());
  return Set(name, kDateTime, bytes, sizeof bytes);
}

uint8_t ParamSet::GetType(const std::string& name) const {
  const Entry* e = Find(name);
  return e ? e->type : 0;
}

bool ParamSet::GetAt(size_t index, std::string* name, uint8_t* type) const {
  if (index >= entries_.size()) return false;
  if (name) *name = entries_[index].name;
  if (type) *type = entries_[index].type;
  return true;
}

std::string ParamSet::GetString(const std::string& name, const std::string& fallback) const {
  const Entry* e = Find(name);
  if (e == nullptr || e->type != kText) return fallback;
  return std::string(e->value.begin(), e->value.end());
}

std::vector<uint8_t> ParamSet::GetBinary(const std::string& name, const std::vector<uint8_t>& fallback) const {
  const Entry* e = Find(name);
  if (e == nullptr || e->type != kBinary) return fallback;
  return e->value;
}

Int64Value ParamSet::GetInt64(const std::string& name, Int64Value fallback) const {
  const Entry* e = Find(name);
  if (e == nullptr || e->type != kInt64 || e->value.size() != 8) return fallback;
  return Int64Value(static_cast<int32_t>(GetLe32(e->value.data() + 4)), GetLe32(e->value.data()));
}

DateTime ParamSet::GetTime(const std::string& name, DateTime fallback) const {
  const Entry* e = Find(name);
  if (e == nullptr || e->type != kDateTime || e->value.size() != 4) return fallback;
  return DateTime(GetLe32(e->value.data()));
}

bool ParamSet::Remove(const std::string& name) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->name == name) {
      entries_.erase(it);
      modified_ = true;
      return true;
    }
  }
  return false;
}

void ParamSet::Clear() {
  if (!entries_.empty()) modified_ = true;
  entries_.clear();
}

void ParamSet::Serialize(std::vector<uint8_t>* out) {
  for (const Entry& e : entries_) {
    size_t at = out->size();
    out->resize(at + 2 + e.name.size() + 1 + 4 + e.value.size());
    uint8_t* p = out->data() + at;
    PutLe16(p, static_cast<uint16_t>(e.name.size()));
    std::memcpy(p + 2, e.name.data(), e.name.size());
    p += 2 + e.name.size();
    p[0] = e.type;
    PutLe32(p + 1, static_cast<uint32_t>(e.value.size()));
    if (!e.value.empty()) std::memcpy(p + 5, e.value.data(), e.value.size());
  }
  modified_ = false;
}

std::vector<uint8_t> ParamSet::Serialize() {
  std::vector<uint8_t> out;
  Serialize(&out);
  return out;
}

void ParamSet::Deserialize(const uint8_t* data, size_t length) {
  entries_.clear();
  size_t pos = 0;
  while (data != nullptr && length - pos >= 2) {
    auto name_length = static_cast<int16_t>(GetLe16(data + pos));
    if (name_length <= 0) break;
    size_t n = static_cast<size_t>(name_length);
    if (length - pos - 2 < n + 1 + 4) break;
    const uint8_t* name = data + pos + 2;
    uint8_t type = name[n];
    auto value_length = static_cast<int32_t>(GetLe32(name + n + 1));
    if (value_length < 0) break;
    size_t v = static_cast<size_t>(value_length);
    size_t value_at = pos + 2 + n + 5;
    if (length - value_at < v) break;
    Set(std::string(reinterpret_cast<const char*>(name), n), type, data + value_at, v);
    pos = value_at + v;
  }
  modified_ = false;
}

}  // namespace sorvel
