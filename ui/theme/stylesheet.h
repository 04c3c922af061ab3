#pragma once

#include "ui/theme/themepalette.h"

#include <QString>

// The one application stylesheet. It is written for the dark theme with the default accent;
// every other look is made from it by plain text replacement of its colours.
namespace stylesheet {

QString darkTemplate();

// `darkTemplate` with the palette's accent colours and, for the light theme, the light arrow
// file and the light counterpart of every dark colour.
QString themed(const QString &darkTemplate, const ThemePalette &palette);

} // namespace stylesheet
