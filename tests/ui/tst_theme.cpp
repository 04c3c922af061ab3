#include "ui/theme/iconloader.h"
#include "ui/theme/icontint.h"
#include "ui/theme/stylesheet.h"
#include "ui/theme/themepalette.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <tuple>

using namespace Qt::Literals::StringLiterals;

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void styleSheets_data();
    void styleSheets();
    void everyTokenIsResolved();
    void contrast_data();
    void contrast();
    void iconsFollowTheTheme_data();
    void iconsFollowTheTheme();
    void iconsAreTintedAndCached();
};

void TestTheme::styleSheets_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QString>("accent");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    // Blends worked out by hand from the integer formula, channel by channel:
    // dark mint:  (0x12·82 + 0x87·18)/100 = 39, (0x19·82 + 0xd6·18)/100 = 59,
    //             (0x1f·82 + 0xc2·18)/100 = 60  -> #273b3c;
    // light blue: (0xf4·85 + 0x7a·15)/100 = 225, (0xf6·85 + 0xae·15)/100 = 235,
    //             (0xf7·85 + 0xff·15)/100 = 248 -> #e1ebf8.
    QTest::newRow("dark, default accent")
        << false << u"#87d6c2"_s
        << QStringList{u"QMainWindow, QWidget#shell, QDialog { background: #12191f; }"_s,
                       u"QFrame#navIndicator { background: #87d6c2;"_s,
                       u"QLabel#logo { background: #273b3c;"_s,
                       u"QPushButton#primary { background: #87d6c2;"_s,
                       u"image: url(:/icons/dropdown-arrow.svg)"_s,
                       u"color: #ff8989"_s}
        << QStringList{u"dropdown-arrow-light"_s, u"#2c403c"_s, u"#f4f6f7"_s};
    QTest::newRow("dark, rose") << false << u"#ff91ad"_s
                                << QStringList{u"QPushButton#primary { background: #ff91ad;"_s,
                                               u"selection-background-color: #ff91ad"_s,
                                               u"color: #ff8989"_s}
                                << QStringList{u"#87d6c2"_s, u"#4e9584"_s, u"#112b26"_s};
    QTest::newRow("light, blue")
        << true << u"#7aaeff"_s
        << QStringList{u"QMainWindow, QWidget#shell, QDialog { background: #f4f6f7; }"_s,
                       u"QFrame#navIndicator { background: #577cb5;"_s,
                       u"image: url(:/icons/dropdown-arrow-light.svg)"_s,
                       u"QWidget { font-size: 14px; color: #263239; }"_s,
                       u"QPushButton#primary { background: #7aaeff;"_s,
                       u"color: #b42318"_s,
                       u"QToolTip { color: #e6e9f4; background: #25304a;"_s}
        << QStringList{u"#12191f"_s, u"#202b32"_s, u"url(:/icons/dropdown-arrow.svg)"_s};
    QTest::newRow("light, default accent")
        << true << u"#87d6c2"_s
        << QStringList{u"QFrame#card, QFrame#connectionCard"_s, u"background: #ffffff"_s,
                       u"QPushButton:disabled { background: #e2e7e9; border: 0; color: #849196; }"_s}
        << QStringList{u"#9aacae"_s, u"#d8e2e3"_s};
}

void TestTheme::styleSheets()
{
    QFETCH(bool, light);
    QFETCH(QString, accent);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    const QString text =
        stylesheet::themed(stylesheet::tokenTemplate(), ThemePalette(light, accent));
    for (const QString &part : std::as_const(present)) {
        QVERIFY2(text.contains(part), qPrintable(part));
    }
    for (const QString &part : std::as_const(absent)) {
        QVERIFY2(!text.contains(part), qPrintable(part));
    }
}

void TestTheme::everyTokenIsResolved()
{
    for (const bool light : {false, true}) {
        const QString text =
            stylesheet::themed(stylesheet::tokenTemplate(), ThemePalette(light, Qt::red));
        QVERIFY2(!text.contains(u'@'), qPrintable(text.mid(text.indexOf(u'@'), 20)));
    }
}

using Token = std::function<QColor(const ThemePalette &)>;

namespace {

Token token(QColor ThemePalette::*member)
{
    return [member](const ThemePalette &palette) { return palette.*member; };
}

} // namespace

void TestTheme::contrast_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QString>("accent");
    QTest::addColumn<Token>("foreground");
    QTest::addColumn<Token>("background");
    QTest::addColumn<double>("minimum");

    using P = ThemePalette;
    // What each colour is drawn on: 4.5 : 1 for text, 3 : 1 for large text and for marks.
    const std::tuple<const char *, Token, Token, double> pairs[] = {
        {"text on background", token(&P::text), token(&P::background), 4.5},
        {"text on card", token(&P::text), token(&P::card), 4.5},
        {"heading on background", token(&P::heading), token(&P::background), 4.5},
        {"field text", token(&P::fieldText), token(&P::fieldFocus), 4.5},
        {"button text", token(&P::buttonText), token(&P::buttonHover), 4.5},
        {"muted text on background", token(&P::mutedText), token(&P::background), 4.5},
        {"muted text on sidebar", token(&P::mutedText), token(&P::sidebar), 4.5},
        {"micro text on card", token(&P::microText), token(&P::card), 4.5},
        {"micro text on sidebar", token(&P::microText), token(&P::sidebar), 4.5},
        {"error on background", token(&P::danger), token(&P::background), 4.5},
        {"error on card", token(&P::danger), token(&P::card), 4.5},
        {"inactive plan", token(&P::planInactive), token(&P::sidebar), 4.5},
        {"plan pill", token(&P::strong), token(&P::sidebar), 4.5},
        {"accent text on card", token(&P::accentText), token(&P::card), 4.5},
        {"accent button text", token(&P::onAccent), token(&P::accent), 4.5},
        {"tour button text", token(&P::onAccentIcon), token(&P::accent), 4.5},
        {"tool tip", token(&P::toolTipText), token(&P::toolTip), 4.5},
        {"time left (27 px)", token(&P::figureText), token(&P::card), 3.0},
        {"rail indicator", token(&P::navIndicator), token(&P::rail), 3.0},
        {"open page's icon", token(&P::navIconActive), token(&P::navIndicator), 3.0},
        {"other pages' icons", token(&P::mutedIcon), token(&P::rail), 3.0},
        {"row text", [](const P &p) { return p.rows.text; }, token(&P::field), 4.5},
        {"row count", [](const P &p) { return p.rows.count; }, token(&P::field), 4.5},
        {"row latency", [](const P &p) { return p.rows.latency; }, token(&P::field), 4.5},
        {"chart period", [](const P &p) { return p.chart.muted; }, token(&P::card), 4.5},
        {"map label", [](const P &p) { return p.map.labelText; }, token(&P::card), 4.5},
    };
    for (const bool light : {false, true}) {
        for (const auto &[accentName, accent] : ThemePalette::accentChoices()) {
            for (const auto &[name, foreground, background, minimum] : pairs) {
                QTest::addRow("%s, %s, %s", light ? "light" : "dark", qPrintable(accentName), name)
                    << light << accent << foreground << background << minimum;
            }
        }
    }
}

void TestTheme::contrast()
{
    QFETCH(bool, light);
    QFETCH(QString, accent);
    QFETCH(Token, foreground);
    QFETCH(Token, background);
    QFETCH(double, minimum);
    const ThemePalette palette(light, QColor(accent));
    const double ratio = ThemePalette::contrastRatio(foreground(palette), background(palette));
    qInfo("%s on %s: %.2f : 1", qPrintable(foreground(palette).name()),
          qPrintable(background(palette).name()), ratio);
    QVERIFY2(ratio >= minimum, qPrintable(QString::number(ratio, 'f', 2)));
}

void TestTheme::iconsFollowTheTheme_data()
{
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QColor>("tint");

    const ThemePalette rose(true, QColor(u"#ff91ad"_s));
    QTest::newRow("shield in the accent") << u"shield"_s << rose.accent;
    QTest::newRow("power as a mark on the accent") << u"power"_s << rose.onAccentIcon;
    QTest::newRow("any other muted") << u"search"_s << rose.mutedIcon;
}

void TestTheme::iconsFollowTheTheme()
{
    QFETCH(QString, icon);
    QFETCH(QColor, tint);

    // Given in the dark theme, then the light rose look: each kind of holder shows the new tint.
    QWidget root;
    auto *button = new QPushButton(&root);
    auto *label = new QLabel(&root);
    auto *action = new QAction(&root);
    for (QObject *holder : std::initializer_list<QObject *>{button, label, action}) {
        icontint::setIcon(holder, icon, 18, ThemePalette());
    }
    icontint::retint(&root, ThemePalette(true, QColor(u"#ff91ad"_s)));
    const QIcon expected = loadIcon(icon, tint, 18);
    QCOMPARE(button->icon().cacheKey(), expected.cacheKey());
    QCOMPARE(action->icon().cacheKey(), expected.cacheKey());
    QCOMPARE(label->pixmap().toImage(), expected.pixmap(18, 18).toImage());
    QCOMPARE(icontint::iconName(label), icon);
}

void TestTheme::iconsAreTintedAndCached()
{
    const qsizetype before = cachedIconCount();
    const QIcon first = loadIcon(u"globe"_s, QColor(0xff, 0x00, 0x00), 22);
    QVERIFY(!first.isNull());
    QCOMPARE(cachedIconCount(), before + 1);
    QCOMPARE(loadIcon(u"globe"_s, QColor(0xff, 0x00, 0x00), 22).cacheKey(), first.cacheKey());
    QCOMPARE(cachedIconCount(), before + 1);
    // Another tint or size is another icon.
    QVERIFY(loadIcon(u"globe"_s, QColor(0x00, 0x00, 0xff), 22).cacheKey() != first.cacheKey());
    QVERIFY(loadIcon(u"no-such-icon"_s, Qt::red, 22).isNull());
    QCOMPARE(cachedIconCount(), before + 2);

    // Rendered at twice the size, in the tint asked for; disabled at 40 % opacity.
    const QImage normal = first.pixmap(QSize(22, 22), 2.0).toImage();
    QCOMPARE(normal.size(), QSize(44, 44));
    int inked = 0;
    for (int y = 0; y < normal.height(); ++y) {
        for (int x = 0; x < normal.width(); ++x) {
            const QColor pixel = normal.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++inked;
                QCOMPARE(pixel.rgb(), QColor(0xff, 0x00, 0x00).rgb());
            }
        }
    }
    QVERIFY(inked > 20);
    for (const QIcon::Mode mode : {QIcon::Active, QIcon::Selected}) {
        QCOMPARE(first.pixmap(QSize(22, 22), 2.0, mode).toImage(), normal);
    }
    // Painted into a rectangle, the icon draws the picture it gives for that size; asked for
    // more than it holds, it gives what it holds.
    QImage painted(22, 22, QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    QPainter painter(&painted);
    first.paint(&painter, painted.rect());
    painter.end();
    QCOMPARE(painted, first.pixmap(QSize(22, 22), 1.0).toImage());
    QCOMPARE(first.actualSize(QSize(64, 64)), QSize(44, 44));
    QCOMPARE(first.actualSize(QSize(16, 16)), QSize(16, 16));
    // The brand mark keeps its own colour whatever the tint.
    const QImage brand =
        loadIcon(u"brand-logo"_s, Qt::red, 25).pixmap(QSize(25, 25), 2.0).toImage();
    QCOMPARE(brand.pixelColor(25, 15).rgb(), QColor(0x87, 0xd6, 0xc2).rgb());
    // A single stroke, so no overlap adds up: 40 % of full opacity is 102.
    const QImage disabled =
        loadIcon(u"minus"_s, Qt::red, 22).pixmap(QSize(22, 22), 2.0, QIcon::Disabled).toImage();
    int maximumAlpha = 0;
    for (int y = 0; y < disabled.height(); ++y) {
        for (int x = 0; x < disabled.width(); ++x) {
            maximumAlpha = std::max(maximumAlpha, disabled.pixelColor(x, y).alpha());
        }
    }
    QVERIFY2(maximumAlpha >= 100 && maximumAlpha <= 104, qPrintable(QString::number(maximumAlpha)));
}

QTEST_MAIN(TestTheme)
#include "tst_theme.moc"
