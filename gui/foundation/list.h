// An ordered list numbered from 1. Items are values; an object is held by
// reference by storing a shared pointer. Every position is checked: reads
// outside 1..Count() give nothing, writes and removals there do nothing.
#pragma once

#include <QVariant>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace sorvel {

template <typename T = QVariant>
class List {
 public:
  // The most items a list holds; AddNew beyond it does nothing and returns false.
  static constexpr int kMaxCount = 32767;

  void Clear() {
    items_.clear();
    Changed();
  }

  bool AddNew(T value) {
    if (Count() >= kMaxCount) return false;
    items_.push_back(std::move(value));
    Changed();
    return true;
  }

  // Removes item `index` (later items move down). False when out of range;
  // the change event is raised either way.
  bool Remove(int index) {
    bool inside = index >= 1 && index <= Count();
    if (inside) items_.erase(items_.begin() + (index - 1));
    Changed();
    return inside;
  }

  // Number of the first item equal to `value`, 0 when there is none.
  int FindData(const T& value) const {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i] == value) return static_cast<int>(i + 1);
    }
    return 0;
  }

  int Count() const { return static_cast<int>(items_.size()); }

  // Item `index`, nothing outside 1..Count().
  std::optional<T> Item(int index) const {
    if (index < 1 || index > Count()) return std::nullopt;
    return items_[static_cast<size_t>(index - 1)];
  }

  // Replaces item `index`; does nothing outside 1..Count(). No change event.
  bool SetItem(int index, T value) {
    if (index < 1 || index > Count()) return false;
    items_[static_cast<size_t>(index - 1)] = std::move(value);
    return true;
  }

  // Raised after Clear, AddNew and Remove.
  void SetChangeHandler(std::function<void()> handler) { on_change_ = std::move(handler); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  void Changed() {
    if (on_change_) on_change_();
  }

  std::vector<T> items_;
  std::function<void()> on_change_;
};

}  // namespace sorvel
