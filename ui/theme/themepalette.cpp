#include "ui/theme/themepalette.h"

#include "settings/settingskeys.h"

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

ThemePalette ThemePalette::fromSettings()
{
    return ThemePalette(settings::isLightTheme(), QColor(settings::accent()));
}

QList<std::pair<QString, QString>> ThemePalette::accentChoices()
{
    return {{u"Mint"_s, u"#87d6c2"_s},
            {u"Blue"_s, u"#7aaeff"_s},
            {u"Violet"_s, u"#b49aff"_s},
            {u"Rose"_s, u"#ff91ad"_s},
            {u"Orange"_s, u"#ffb36b"_s}};
}

double ThemePalette::contrastRatio(const QColor &first, const QColor &second)
{
    const auto luminance = [](const QColor &colour) {
        const auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
               0.0722 * channel(colour.blueF());
    };
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor ThemePalette::darkenedFor(const QColor &colour, const QColor &against, double ratio)
{
    QColor result = colour;
    while (contrastRatio(result, against) < ratio && result.value() > 0) {
        result = result.darker(105);
    }
    return result;
}

ThemePalette::ThemePalette()
    : ThemePalette(false, QColor(settings::defaultAccent))
{}

ThemePalette::ThemePalette(bool isLight, const QColor &accentColour)
    : light(isLight)
    , accent(accentColour)
{
    // Each token's dark value, then its light one; alpha only where given (0xAARRGGBB).
    const auto pick = [isLight](QRgb dark, QRgb bright) { return QColor(isLight ? bright : dark); };
    const auto pickAlpha = [isLight](QRgb dark, QRgb bright) {
        return QColor::fromRgba(isLight ? bright : dark);
    };

    accentHover = accent.lighter(112);
    strong = isLight ? accent.darker(145) : accent.lighter(125);
    onAccent = accent.darker(240);
    onAccentIcon = accent.darker(isLight ? 240 : 300);
    accentText = isLight ? accent.darker(145) : accent;

    background = pick(0x12191f, 0xf4f6f7);
    rail = pick(0x151c22, 0xe9edef);
    sidebar = pick(0x1a2229, 0xeef1f2);
    card = pick(0x202b32, 0xffffff);
    footer = pick(0x1b252c, 0xe9edef);
    field = pick(0x252f37, 0xe6ebed);
    fieldFocus = pick(0x2c3841, 0xdce3e5);
    button = pick(0x27323a, 0xe6ebed);
    buttonHover = pick(0x334149, 0xdce3e5);
    buttonDisabled = pick(0x2c3448, 0xe2e7e9);
    // Accent text on the light theme is darkened until it reads on its darkest background, the
    // fields; text on an accent fill until it reads on the accent.
    accentHover = accent.lighter(112);
    strong = isLight ? darkenedFor(accent.darker(145), field, 4.5) : accent.lighter(125);
    accentText = isLight ? strong : accent;
    onAccent = darkenedFor(accent.darker(240), accent, 4.5);
    onAccentIcon = darkenedFor(accent.darker(isLight ? 240 : 300), accent, 4.5);
    scrollHandle = pick(0x414a64, 0xc3cdd0);
    popup = pick(0x252f37, 0xffffff);
    toolTip = pick(0x25304a, 0x25304a);

    text = pick(0xd8e2e3, 0x263239);
    heading = pick(0xeff3f1, 0x263239);
    brandText = pick(0xeef0fa, 0x263239);
    fieldText = pick(0xedf0f8, 0x263239);
    figureText = pick(0xd9eee7, 0x263239);
    planText = pick(0xe1ebe8, 0x263239);
    buttonText = pick(0xd4ddec, 0x263239);
    buttonDisabledText = pick(0x69758e, 0x849196);
    secondaryText = pick(0xc5ced3, 0x35434a);
    mutedText = pick(0xa2b0b4, 0x56646a);
    microText = pick(0x91a2a6, 0x56646a);
    toolTipText = pick(0xe6e9f4, 0xe6e9f4);
    danger = pick(0xff8989, 0xb42318);
    planInactive = pick(0x8f99ab, 0x56646a);

    mutedIcon = pick(0x9aacae, 0x56646a);
    // The accent itself on the dark rail; on the light one darkened until it stands out, with
    // a white icon.
    navIndicator = isLight ? darkenedFor(accent, rail, 3.5) : accent;
    navIconActive = isLight ? QColor(Qt::white) : onAccentIcon;
    switchTrack = pick(0x3a4851, 0xd3dbde);
    tourDim = pickAlpha(0x9b000000, 0x9b000000);
    badgeRing = pick(0x12191f, 0x12191f);

    QColor mapButton = card;
    mapButton.setAlpha(225);
    map = {.sea = background,
           .glow = pick(0x1e3035, 0xe9f0f0),
           .land = pick(0x27363d, 0xdbe3e5),
           .fade = pickAlpha(0xe6101725, 0xbef4f6f7),
           .dot = pick(0x23314b, 0xffffff),
           .dotOutline = pick(0x8f9bb6, 0x8f9bb6),
           .you = pick(0x82c8ff, 0x287bc1),
           .youRing = pick(0x12191f, 0xffffff),
           .label = card,
           .labelText = pick(0xedf0f7, 0x263239),
           .button = mapButton,
           .buttonText = pick(0xd8e2e3, 0x34434a)};
    rows = {.card = field,
            .globe = pick(0x9daab4, 0x56646a),
            .idleDot = pick(0x829699, 0x7f8c91),
            .connectedDot = pick(0x39c985, 0x39c985),
            .text = secondaryText,
            .count = pick(0x91a3a7, 0x56646a),
            .latency = pick(0xa4b2ba, 0x56646a)};
    chart = {.panel = card,
             .title = secondaryText,
             .muted = mutedText,
             .download = accentText,
             .upload = pick(0xb5c5ec, 0x536ea7)};

    const int backgroundShare = isLight ? 85 : 82;
    const auto blend = [&](int back, int front) {
        return (back * backgroundShare + front * (100 - backgroundShare)) / 100;
    };
    mix = QColor(blend(background.red(), accent.red()), blend(background.green(), accent.green()),
                 blend(background.blue(), accent.blue()), 255);
}
