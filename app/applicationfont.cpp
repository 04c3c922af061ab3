#include "app/applicationfont.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QToolTip>

namespace applicationfont {

void install()
{
    // One variable font, or on Windows the static weights of the same family.
    QStringList families;
    const QDir fonts(QStringLiteral(":/fonts"));
    for (const QString &name : fonts.entryList(QDir::Files, QDir::Name)) {
        const int id = QFontDatabase::addApplicationFont(fonts.filePath(name));
        if (id >= 0 && families.isEmpty())
            families = QFontDatabase::applicationFontFamilies(id);
    }

    QFont font(families.isEmpty() ? QStringLiteral("Segoe UI") : families.first());
    font.setPixelSize(14);
    // Grey-scale antialiasing without hinting keeps the variable font's shapes identical on every
    // screen, which the hand-tuned layouts rely on.
    font.setStyleStrategy(
        QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);

    QFont toolTipFont(font);
    toolTipFont.setPixelSize(13);
    toolTipFont.setWeight(QFont::Normal);
    QToolTip::setFont(toolTipFont);
}

} // namespace applicationfont
