// Positions and sizes of the forms are in twips (1/1440 inch); the widgets
// work in pixels. Twips per pixel = 1440 / the logical DPI of the widget's screen.
#pragma once

#include <QWidget>
#include <cmath>

namespace sorvel {

inline double TwipsPerPixelX(const QWidget* widget) { return 1440.0 / widget->logicalDpiX(); }
inline double TwipsPerPixelY(const QWidget* widget) { return 1440.0 / widget->logicalDpiY(); }

// Whole pixels, kept far inside the int range so that absurd stored sizes
// cannot overflow geometry arithmetic.
inline int PixelsFromTwips(double twips, double twips_per_pixel) {
  double pixels = twips / twips_per_pixel;
  if (!(pixels > -1e8)) return -100000000;  // also NaN
  if (pixels > 1e8) return 100000000;
  return static_cast<int>(std::lround(pixels));
}
inline int TwipsToPixelsX(const QWidget* widget, double twips) {
  return PixelsFromTwips(twips, TwipsPerPixelX(widget));
}
inline int TwipsToPixelsY(const QWidget* widget, double twips) {
  return PixelsFromTwips(twips, TwipsPerPixelY(widget));
}
inline double PixelsToTwipsX(const QWidget* widget, double pixels) { return pixels * TwipsPerPixelX(widget); }
inline double PixelsToTwipsY(const QWidget* widget, double pixels) { return pixels * TwipsPerPixelY(widget); }

}  // namespace sorvel
