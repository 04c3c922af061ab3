#pragma once

#include <QColor>
#include <QList>
#include <QString>

#include <utility>

// Every colour of the window, named by what it paints, for one theme and accent. The style sheet
// is made from these tokens and the self-painted widgets read them; no colour is written
// anywhere else.
struct ThemePalette
{
    // From "theme" ("light" exactly selects the light theme) and "accent".
    static ThemePalette fromSettings();
    // The accents the settings offer: (display name, stored value).
    static QList<std::pair<QString, QString>> accentChoices();
    // The contrast ratio of two opaque colours by their relative luminance, from 1 to 21.
    static double contrastRatio(const QColor &first, const QColor &second);
    // `colour`, darkened step by step until it reaches `ratio` against `against` (or black).
    static QColor darkenedFor(const QColor &colour, const QColor &against, double ratio);
    // The dark theme with the default accent: the look before any setting is read.
    ThemePalette();
    ThemePalette(bool light, const QColor &accent);

    bool light = false;

    QColor accent;
    QColor accentHover; // a primary button under the pointer
    // Accent marks on the page: the plan pill, a hovered link, the focus ring.
    QColor strong;
    // Per channel the integer quotient (background × 82 + accent × 18) / 100, or with 85 and 15
    // in the light theme: the accent faintly over the background (logo tile, navigation
    // indicator, highlighted list choice).
    QColor mix;
    QColor onAccent;     // text and knobs on an accent fill
    QColor onAccentIcon; // the power icon on the accent button; the tour's accent button text
    QColor accentText;   // the accent as text or line on a card: active plan, download curve

    QColor background; // window and dialogs
    QColor rail;
    QColor sidebar;
    QColor card;
    QColor footer;
    QColor field; // line edits, combo boxes, the search field, quick connect
    QColor fieldFocus;
    QColor button;
    QColor buttonHover;
    QColor buttonDisabled;
    QColor scrollHandle;
    QColor popup; // the appearance choosers' drop-down panel
    QColor toolTip;

    QColor text;
    QColor heading;
    QColor brandText;
    QColor fieldText;
    QColor figureText; // large figures: time left, prices
    QColor planText;
    QColor buttonText;
    QColor buttonDisabledText;
    QColor secondaryText; // quick connect, location rows, the chart's title
    QColor mutedText;
    QColor microText;
    QColor toolTipText;
    QColor danger;
    QColor planInactive;

    QColor mutedIcon;     // icons and link buttons
    QColor navIndicator;  // the open page's pill on the rail, 3 : 1 against the rail
    QColor navIconActive; // the open page's icon, on its pill
    QColor switchTrack;   // a switch that is off
    QColor tourDim;       // over everything but the guided tour's cut-out
    QColor badgeRing;     // around the tray icon's connected badge, on any taskbar

    struct Map
    {
        QColor sea;
        QColor glow;
        QColor land;
        QColor fade; // the top edge, under the page heading
        QColor dot;
        QColor dotOutline;
        QColor you;
        QColor youRing;
        QColor label;
        QColor labelText;
        QColor button;
        QColor buttonText;
    } map;

    // The locations tree's rows.
    struct Rows
    {
        QColor card;
        QColor globe;
        QColor idleDot;
        QColor connectedDot;
        QColor text;
        QColor count; // server count and chevron
        QColor latency;
    } rows;

    struct Chart
    {
        QColor panel;
        QColor title;
        QColor muted; // the period and the grid lines
        QColor download;
        QColor upload;
    } chart;
};
