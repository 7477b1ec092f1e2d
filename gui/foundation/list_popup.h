// A list's items offered for choice in a popup menu.
#pragma once

#include <QPoint>
#include <QString>
#include <QVariant>
#include <optional>
#include <type_traits>

#include "gui/foundation/list.h"
#include "gui/foundation/modal_ui.h"

namespace sorvel {

// The text an item shows in the popup; none for an item without a text form
// (an object), which gets no entry.
std::optional<QString> PopupText(const QVariant& item);
inline std::optional<QString> PopupText(const QString& item) { return item; }
template <typename T>
std::optional<QString> PopupText(const T& item) {
  if constexpr (std::is_arithmetic_v<T>) return QVariant::fromValue(item).toString();
  else return std::nullopt;
}

// Offers the items of `list` in a popup menu at the screen point (x, y), each
// entry numbered as its item; returns the chosen item's number, 0 when the
// menu was dismissed.
template <typename T>
int ShowPopup(const List<T>& list, int x, int y) {
  QList<ModalUi::MenuEntry> entries;
  int number = 0;
  for (const T& item : list) {
    ++number;
    if (std::optional<QString> text = PopupText(item)) entries.append({*text, number});
  }
  return CurrentModalUi().PopupMenu(entries, QPoint(x, y));
}

}  // namespace sorvel
