#include "ui/theme/themepalette.h"

#include "settings/settingskeys.h"

ThemePalette ThemePalette::fromSettings()
{
    return ThemePalette(settings::isLightTheme(), QColor(settings::accent()));
}

ThemePalette::ThemePalette(bool isLight, const QColor &accentColour)
    : light(isLight)
    , accent(accentColour)
    , background(isLight ? QColor(0xf4, 0xf6, 0xf7) : QColor(0x12, 0x19, 0x1f))
    , strong(isLight ? accentColour.darker(145) : accentColour.lighter(125))
    , mutedIcon(isLight ? QColor(0x65, 0x74, 0x7a) : QColor(0x9a, 0xac, 0xae))
{
    const int backgroundShare = isLight ? 85 : 82;
    const auto blend = [&](int back, int front) {
        return (back * backgroundShare + front * (100 - backgroundShare)) / 100;
    };
    mix = QColor(blend(background.red(), accent.red()), blend(background.green(), accent.green()),
                 blend(background.blue(), accent.blue()), 255);
}
