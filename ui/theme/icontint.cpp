#include "ui/theme/icontint.h"

#include "ui/theme/iconloader.h"
#include "ui/theme/themepalette.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>

using namespace Qt::Literals::StringLiterals;

namespace icontint {

namespace {

constexpr char nameProperty[] = "solvikvpnIcon";
constexpr char sizeProperty[] = "solvikvpnIconSize";

QColor tintFor(const QString &name, const ThemePalette &palette)
{
    if (name == u"shield"_s) {
        return palette.accent;
    }
    if (name == u"power"_s) {
        return palette.onAccentIcon;
    }
    return palette.mutedIcon;
}

void show(QObject *target, const QString &name, int size, const ThemePalette &palette)
{
    const QIcon icon = loadIcon(name, tintFor(name, palette), size);
    if (auto *button = qobject_cast<QAbstractButton *>(target)) {
        button->setIcon(icon);
    } else if (auto *label = qobject_cast<QLabel *>(target)) {
        label->setPixmap(icon.pixmap(size, size));
    } else if (auto *action = qobject_cast<QAction *>(target)) {
        action->setIcon(icon);
    }
}

} // namespace

void setIcon(QObject *target, const QString &name, int size, const ThemePalette &palette)
{
    target->setProperty(nameProperty, name);
    target->setProperty(sizeProperty, size);
    show(target, name, size, palette);
}

QString iconName(const QObject *target)
{
    return target->property(nameProperty).toString();
}

int iconSize(const QObject *target)
{
    return target->property(sizeProperty).toInt();
}

void retint(const QObject *root, const ThemePalette &palette)
{
    const QList<QObject *> objects = root->findChildren<QObject *>();
    for (QObject *object : objects) {
        const QString name = iconName(object);
        if (!name.isEmpty()) {
            show(object, name, iconSize(object), palette);
        }
    }
}

} // namespace icontint
