#pragma once

#include "ui/mul_div.h"

#include <QRect>

// Dialog templates are measured in dialog units of their font. For an 8-point dialog font at
// 96 dpi the base units are 6 × 13 pixels, and a dialog unit is a quarter of the base width
// across and an eighth of the base height down.
constexpr int kDialogBaseUnitX = 6;
constexpr int kDialogBaseUnitY = 13;

constexpr int DialogUnitsToPixelsX(int units) {
    return MulDiv(units, kDialogBaseUnitX, 4);
}
constexpr int DialogUnitsToPixelsY(int units) {
    return MulDiv(units, kDialogBaseUnitY, 8);
}

inline QRect DialogUnitsToPixels(int x, int y, int width, int height) {
    return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
                 DialogUnitsToPixelsY(height));
}
