#include "app/applicationfont.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QToolTip>

namespace applicationfont {

void install()
{
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/InterVariable.ttf"));
    const QStringList families =
        id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();

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
