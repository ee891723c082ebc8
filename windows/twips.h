// Twips, the unit of the window layouts: 1440 to the inch, so 15 to a pixel at 96 dpi.
// Positions and sizes are given in twips and turned into pixels with the screen's logical
// dpi, so the layout keeps its proportions on a screen with larger text.
#pragma once

#include <cmath>

namespace torvan {

inline constexpr int kTwipsPerInch = 1440;
// The toolbars' images: 24 pixels at 96 dpi.
inline constexpr int kIconTwips = 360;

inline int TwipsToPixels(int twips, int dpi) {
  return int(std::lround(double(twips) * dpi / kTwipsPerInch));
}

inline int PixelsToTwips(int pixels, int dpi) {
  return int(std::lround(double(pixels) * kTwipsPerInch / dpi));
}

}  // namespace torvan
