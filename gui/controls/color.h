// Colours as the forms store them: a 32-bit value with red in bits 0-7, green
// in 8-15 and blue in 16-23 (&H00BBGGRR), or, with the top byte &H80, a system
// colour named by its index, looked up in the palette each time it is drawn.
#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace sorvel {

using OleColor = std::uint32_t;

inline constexpr OleColor kSysWindow = 0x80000005;      // window background
inline constexpr OleColor kSysWindowText = 0x80000008;  // window text
inline constexpr OleColor kSysButtonFace = 0x8000000F;
inline constexpr OleColor kSysButtonShadow = 0x80000010;
inline constexpr OleColor kSysGrayText = 0x80000011;
inline constexpr OleColor kSysButtonText = 0x80000012;

constexpr bool IsSystemColor(OleColor color) { return (color >> 24) == 0x80; }

// The colour to draw with now. System colours come from `palette` (05 Base,
// 08 Text, 0F Button, 10 Dark, 11 disabled Text, 12 ButtonText); an index the
// palette has no role for is black. The top byte of a plain colour is ignored.
QColor ResolveColor(OleColor color, const QPalette& palette);
// The same with the application's current palette.
QColor ResolveColor(OleColor color);

// A drawn colour back as &H00BBGGRR.
constexpr OleColor ToOleColor(int red, int green, int blue) {
  return static_cast<OleColor>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
inline OleColor ToOleColor(const QColor& color) { return ToOleColor(color.red(), color.green(), color.blue()); }

}  // namespace sorvel
