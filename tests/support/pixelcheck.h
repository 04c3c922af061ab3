#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <cstdlib>

// Self-drawn widgets are checked at a few telling pixels, each within a small tolerance, because
// antialiasing and font rendering differ between machines.
namespace pixelcheck {

// Every channel of `actual` is within `tolerance` of `expected`'s.
inline bool near(const QColor &actual, const QColor &expected, int tolerance)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// Some pixel of `area` is near `colour`.
inline bool anyPixelNear(const QImage &image, const QRect &area, const QColor &colour,
                         int tolerance)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (near(image.pixelColor(x, y), colour, tolerance)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace pixelcheck
