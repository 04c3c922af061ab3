#include "app/applicationfont.h"

#include "platform/systemfonts.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QResource>
#include <QToolTip>

namespace applicationfont {

void install()
{
    // One variable font, or on Windows the static weights of the same family.
    QStringList families;
    platform::waitForSystemFonts();
    // The machine's fonts are listed first, as reading a font from a path would: the bundled
    // faces are then registered after them and win over a font of the same family and style.
    QFontDatabase::families();
    const QDir fonts(QStringLiteral(":/fonts"));
    for (const QString &name : fonts.entryList(QDir::Files, QDir::Name)) {
        // Registered where the resource lies (an uncompressed resource's data is not copied):
        // read from its path, the font would be copied once here and once more for every face
        // the font engine opens.
        const int id = QFontDatabase::addApplicationFontFromData(
            QResource(fonts.filePath(name)).uncompressedData());
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
