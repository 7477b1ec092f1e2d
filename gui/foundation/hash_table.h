// A map from keys to data kept in ascending key order and searched by halving.
// Entries are numbered from 1 in key order. Texts order by character code
// (letter case matters). Reserved places grow to Count + 100 when needed and
// never shrink.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace sorvel {

template <typename Key = QString, typename Data = QVariant>
class HashTable {
 public:
  void Clear() {
    entries_.clear();  // keeps the reserved places
    Changed();
  }

  // Removes the entry of `key`; false when there is none.
  bool Remove(const Key& key) {
    int p = FindIndex(key);
    if (p <= 0) return false;
    entries_.erase(entries_.begin() + (p - 1));
    Changed();
    return true;
  }

  int Count() const { return static_cast<int>(entries_.size()); }
  // Entry places reserved so far.
  int Capacity() const { return capacity_; }

  // Key and data of entry `index` in key order; an empty value outside 1..Count().
  Key IndexList(int index) const { return InRange(index) ? entries_[static_cast<size_t>(index - 1)].first : Key(); }
  Data DataList(int index) const { return InRange(index) ? entries_[static_cast<size_t>(index - 1)].second : Data(); }

  // The data stored under `key`, nothing when there is none.
  std::optional<Data> GetData(const Key& key) const {
    int p = FindIndex(key);
    if (p <= 0) return std::nullopt;
    return entries_[static_cast<size_t>(p - 1)].second;
  }

  // Stores `data` under `key` (replacing or inserting at its sorted place);
  // nothing (nullopt) removes the key instead.
  void SetData(const Key& key, std::optional<Data> data) {
    if (!data.has_value()) {
      Remove(key);
      return;
    }
    int p = FindIndex(key);
    if (p > 0) {
      entries_[static_cast<size_t>(p - 1)].second = std::move(*data);
    } else {
      if (Count() + 1 > capacity_) {
        capacity_ = Count() + 1 + 100;
        entries_.reserve(static_cast<size_t>(capacity_));
      }
      entries_.insert(entries_.begin() + (-p - 1), {key, std::move(*data)});
    }
    Changed();
  }

  // Raised after Clear, a Remove that removed something, and every SetData with data.
  void SetChangeHandler(std::function<void()> handler) { on_change_ = std::move(handler); }

 private:
  bool InRange(int index) const { return index >= 1 && index <= Count(); }

  // p > 0: found at p; -p: not found, its sorted place is p.
  int FindIndex(const Key& key) const {
    int count = Count();
    if (count == 0) return -1;
    auto key_at = [this](int i) -> const Key& { return entries_[static_cast<size_t>(i - 1)].first; };
    if (key < key_at(1)) return -1;
    if (key_at(count) < key) return -(count + 1);
    int low = 1;
    int high = count;
    do {
      int middle = (low + high) / 2;
      if (key_at(middle) < key) low = middle;
      else if (key < key_at(middle)) high = middle;
      else return middle;
    } while (high - low > 1);
    if (key == key_at(low)) return low;
    if (key == key_at(high)) return high;
    return -high;
  }

  void Changed() {
    if (on_change_) on_change_();
  }

  std::vector<std::pair<Key, Data>> entries_;
  int capacity_ = 0;
  std::function<void()> on_change_;
};

}  // namespace sorvel
