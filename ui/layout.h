#pragma once

#include <QRect>

namespace pricelookup {

// Layouts are designed in twips; 15 twips make one logical pixel at 96 dpi,
// and Qt scales logical pixels for high-density screens.
constexpr int Twips(int twips) {
    return twips / 15;
}
constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}

} // namespace pricelookup
