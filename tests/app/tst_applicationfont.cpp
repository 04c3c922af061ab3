#include "app/applicationfont.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QRawFont>
#include <QTest>
#include <QToolTip>

using namespace Qt::Literals::StringLiterals;

class TestApplicationFont : public QObject
{
    Q_OBJECT

private slots:
    void installsBundledFont();
};

void TestApplicationFont::installsBundledFont()
{
    // The font must come from the program's own resources, not from the machine.
    QVERIFY(!QDir(u":/fonts"_s).isEmpty());
    applicationfont::install();

    const QFont font = QApplication::font();
    QVERIFY2(font.family().startsWith(u"Inter"_s), qPrintable(font.family()));
    QCOMPARE(font.pixelSize(), 14);
    QCOMPARE(font.styleStrategy(),
             QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    QCOMPARE(font.hintingPreference(), QFont::PreferNoHinting);

    // Regular text draws with a bundled face, even where the machine has a font of that family.
    QList<QByteArray> bundledHeads;
    for (const QString &name : QDir(u":/fonts"_s).entryList(QDir::Files)) {
        QFile file(u":/fonts/"_s + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        bundledHeads.append(QRawFont(file.readAll(), 14).fontTable("head"));
    }
    QVERIFY(bundledHeads.contains(QRawFont::fromFont(font).fontTable("head")));

    const QFont toolTip = QToolTip::font();
    QCOMPARE(toolTip.family(), font.family());
    QCOMPARE(toolTip.pixelSize(), 13);
    QCOMPARE(toolTip.weight(), QFont::Normal);
    QCOMPARE(toolTip.styleStrategy(), font.styleStrategy());
    QCOMPARE(toolTip.hintingPreference(), QFont::PreferNoHinting);

    // Headings and buttons draw bold: Windows' GDI drew a variable font at its default weight.
    QFont bold(font);
    bold.setWeight(QFont::Bold);
    const QString heading = u"Welcome back."_s;
    QVERIFY2(QFontMetrics(bold).horizontalAdvance(heading) >
                 QFontMetrics(font).horizontalAdvance(heading),
             "bold draws as wide as regular");
}

QTEST_MAIN(TestApplicationFont)
#include "tst_applicationfont.moc"
