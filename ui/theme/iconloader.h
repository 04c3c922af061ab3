#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// Tinted icons from the resources. ":/icons/<name>.svg" strokes with "currentColor", which is
// replaced by `colour` (as # and six lower-case hexadecimal digits) before rendering at twice
// `size` for dense screens (see TintedIconEngine); the disabled mode is drawn at 40 % opacity.
// "brand-logo" is the brand mark, ":/app/solvik-vpn-mark.svg", in its own colours. Each (name,
// colour, size) is rendered once per process and then served from a cache; a missing file gives an
// empty icon, not cached.
QIcon loadIcon(const QString &name, const QColor &colour, int size);

// How many icons the cache holds (tests watch it).
qsizetype cachedIconCount();
