#include "gui/foundation/list_popup.h"

#include <QMetaType>

namespace sorvel {

std::optional<QString> PopupText(const QVariant& item) {
  if (!item.isValid()) return QString();
  // Objects are held as pointers; they have no text of their own.
  if (item.metaType().flags() & (QMetaType::PointerToQObject | QMetaType::IsPointer | QMetaType::SharedPointerToQObject))
    return std::nullopt;
  if (!item.canConvert<QString>()) return std::nullopt;
  return item.toString();
}

}  // namespace sorvel
