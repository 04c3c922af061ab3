#pragma once

#include "ui/theme/themepalette.h"

#include <QString>

// The one application stylesheet, made from the palette.
namespace stylesheet {

// The stylesheet with its colours written as palette tokens ("@card", "@mutedText", ...).
QString tokenTemplate();

// `tokenTemplate` with every token replaced by the palette's value: a colour as # and six
// lower-case hexadecimal digits, "@dropdownArrow" by the theme's arrow file name.
QString themed(const QString &tokenTemplate, const ThemePalette &palette);

} // namespace stylesheet
