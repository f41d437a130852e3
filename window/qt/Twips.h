#pragma once

#include <QtGlobal>

// The window's layout is given in twips, 1/1440 inch: 15 twips make one pixel at
// 96 dots per inch. Each length is converted on its own, rounded to the nearest pixel.
inline int TwipsToPixels(int twips, qreal dotsPerInch) {
    return qRound(twips * dotsPerInch / 1440.0);
}
