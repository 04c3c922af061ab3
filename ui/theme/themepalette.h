#pragma once

#include <QColor>

// The colours the whole window derives from the two appearance settings.
struct ThemePalette
{
    // From "theme" ("light" exactly selects the light theme) and "accent".
    static ThemePalette fromSettings();
    ThemePalette(bool light, const QColor &accent);

    bool light = false;
    QColor accent;
    QColor background; // "#12191f" dark, "#f4f6f7" light
    // Per channel the integer quotient (background × 82 + accent × 18) / 100, or with 85 and 15
    // in the light theme: the accent faintly over the background.
    QColor mix;
    QColor strong;    // the accent lightened 125 (dark) or darkened 145 (light)
    QColor mutedIcon; // "#9aacae" dark, "#65747a" light
};
