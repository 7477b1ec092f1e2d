#include "gui/controls/color.h"

#include <QGuiApplication>

namespace sorvel {

QColor ResolveColor(OleColor color, const QPalette& palette) {
  if (IsSystemColor(color)) {
    switch (color & 0xFFFFFF) {
      case 0x05:
        return palette.color(QPalette::Active, QPalette::Base);
      case 0x08:
        return palette.color(QPalette::Active, QPalette::Text);
      case 0x0F:
        return palette.color(QPalette::Active, QPalette::Button);
      case 0x10:
        return palette.color(QPalette::Active, QPalette::Dark);
      case 0x11:
        return palette.color(QPalette::Disabled, QPalette::Text);
      case 0x12:
        return palette.color(QPalette::Active, QPalette::ButtonText);
      default:
        return QColor(0, 0, 0);
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

QColor ResolveColor(OleColor color) { return ResolveColor(color, QGuiApplication::palette()); }

}  // namespace sorvel
