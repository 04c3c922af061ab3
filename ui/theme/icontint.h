#pragma once

#include <QString>

class QObject;
struct ThemePalette;

// Icons that follow the theme. A button, label or action given an icon here remembers the icon's
// name and size, and `retint` draws it again in the tint of a new palette: the shield in the
// accent, the power icon as a mark on the accent, every other icon muted.
namespace icontint {

// Shows ":/icons/<name>.svg" (or the brand bitmap for "brand-logo") at `size` px on `target`
// in the tint `palette` gives it, and remembers name and size for `retint`.
void setIcon(QObject *target, const QString &name, int size, const ThemePalette &palette);

// What `setIcon` remembered: an empty name and size 0 when it was never called for `target`.
QString iconName(const QObject *target);
int iconSize(const QObject *target);

// Every button, label and action under `root` that has an icon from `setIcon` shows it again in
// its tint for `palette`.
void retint(const QObject *root, const ThemePalette &palette);

} // namespace icontint
