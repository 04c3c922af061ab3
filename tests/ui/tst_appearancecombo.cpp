#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "ui/widgets/appearancechoicedelegate.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/appearancepopup.h"

#include <QApplication>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QVariantAnimation>

#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

// What the user does in the open list.
using Gesture = void (*)(QListView *list);

Q_DECLARE_METATYPE(Gesture)

namespace {

constexpr QSize comboSize{200, 40};

AppearancePopup *popupOf(AppearanceCombo &combo)
{
    return combo.findChild<AppearancePopup *>(u"appearancePopup"_s);
}

QListView *listOf(AppearanceCombo &combo)
{
    return combo.findChild<QListView *>(u"appearanceOptions"_s);
}

QVariantAnimation *openAnimationOf(AppearanceCombo &combo)
{
    return combo.findChild<QVariantAnimation *>(QString(), Qt::FindDirectChildrenOnly);
}

QRect availableScreen()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

void fill(AppearanceCombo &combo, int count)
{
    for (int item = 0; item < count; ++item) {
        combo.addItem(u"Choice %1"_s.arg(item), item);
    }
}

void placeAndShow(AppearanceCombo &combo, const QPoint &position)
{
    // No frame, so the combo's own corner lands on `position`.
    combo.setWindowFlag(Qt::FramelessWindowHint);
    combo.resize(comboSize);
    combo.move(position);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
}

// Opens the popup and runs its unfolding to the end.
void openFully(AppearanceCombo &combo)
{
    combo.showPopup();
    QVariantAnimation *animation = openAnimationOf(combo);
    animation->setCurrentTime(animation->duration());
}

// `base` under `tint` painted at `alpha`.
QColor over(const QColor &base, const QColor &tint, int alpha)
{
    const auto channel = [alpha](int below, int above) {
        return below + (above - below) * alpha / 255;
    };
    return QColor(channel(base.red(), tint.red()), channel(base.green(), tint.green()),
                  channel(base.blue(), tint.blue()));
}

bool near(const QColor &actual, const QColor &expected)
{
    constexpr int tolerance = 3;
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

} // namespace

class TestAppearanceCombo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void popupHeight_data();
    void popupHeight();
    void placement_data();
    void placement();
    void choosing_data();
    void choosing();
    void clickOutsideCloses();
    void followsStoredAppearance_data();
    void followsStoredAppearance();
    void choiceFill_data();
    void choiceFill();

private:
    TestHome m_home;
};

void TestAppearanceCombo::initTestCase()
{
    QVERIFY(m_home.isValid());
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"AppearanceCombo"_s);
}

void TestAppearanceCombo::init()
{
    settings::clearAll();
}

void TestAppearanceCombo::popupHeight_data()
{
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("height");
    QTest::addColumn<Qt::ScrollBarPolicy>("scrollBar");
    QTest::addColumn<bool>("scrolls");

    QTest::newRow("five accents") << 5 << 212 << Qt::ScrollBarAlwaysOff << false;
    QTest::newRow("six fill the list") << 6 << 252 << Qt::ScrollBarAlwaysOff << false;
    QTest::newRow("seven scroll") << 7 << 252 << Qt::ScrollBarAsNeeded << true;
}

void TestAppearanceCombo::popupHeight()
{
    QFETCH(int, items);
    QFETCH(int, height);
    QFETCH(Qt::ScrollBarPolicy, scrollBar);
    QFETCH(bool, scrolls);

    AppearanceCombo combo;
    fill(combo, items);
    placeAndShow(combo, availableScreen().topLeft() + QPoint(40, 40));
    openFully(combo);

    QCOMPARE(popupOf(combo)->height(), height);
    QListView *list = listOf(combo);
    QCOMPARE(list->verticalScrollBarPolicy(), scrollBar);
    QTRY_COMPARE(list->verticalScrollBar()->isVisible(), scrolls);
}

void TestAppearanceCombo::placement_data()
{
    QTest::addColumn<QPoint>("comboAt");
    QTest::addColumn<QRect>("target");
    QTest::addColumn<bool>("upward");

    const QRect screen = availableScreen();
    const QPoint high = screen.topLeft() + QPoint(40, 40);
    QTest::newRow("room below") << high
                                << QRect(high + QPoint(0, comboSize.height() + 6), QSize(200, 212))
                                << false;
    const QPoint low(screen.left() + 40, screen.bottom() - 60);
    QTest::newRow("near the bottom opens upwards")
        << low << QRect(low - QPoint(0, 6 + 212), QSize(200, 212)) << true;
    const QPoint right(screen.right() - 100, screen.top() + 40);
    QTest::newRow("kept inside the right edge")
        << right
        << QRect(QPoint(screen.right() + 1 - 200, right.y() + comboSize.height() + 6),
                 QSize(200, 212))
        << false;
}

void TestAppearanceCombo::placement()
{
    QFETCH(QPoint, comboAt);
    QFETCH(QRect, target);
    QFETCH(bool, upward);

    AppearanceCombo combo;
    fill(combo, 5);
    placeAndShow(combo, comboAt);
    QCOMPARE(combo.screen()->availableGeometry(), availableScreen());
    QCOMPARE(combo.mapToGlobal(QPoint(0, 0)), comboAt);

    combo.showPopup();
    AppearancePopup *popup = popupOf(combo);
    QVariantAnimation *animation = openAnimationOf(combo);
    QVERIFY(popup->isVisible());
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QCOMPARE(animation->duration(), 180);
    QCOMPARE(animation->easingCurve().type(), QEasingCurve::OutCubic);

    // It unfolds from a 12 px strip on the combo's side, that edge staying put.
    const auto anchoredEdge = [upward](const QRect &rect) {
        return upward ? rect.bottom() : rect.top();
    };
    QCOMPARE(popup->height(), 12);
    QCOMPARE(anchoredEdge(popup->geometry()), anchoredEdge(target));
    animation->setCurrentTime(90);
    QCOMPARE(popup->height(), 187);
    QCOMPARE(anchoredEdge(popup->geometry()), anchoredEdge(target));

    animation->setCurrentTime(180);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(popup->geometry(), target);
}

void TestAppearanceCombo::choosing_data()
{
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<int>("chosen");

    QTest::newRow("Escape keeps the choice") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Escape);
    }) << 1;
    QTest::newRow("Space") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Space);
    }) << 2;
    QTest::newRow("Return") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
    }) << 3;
    QTest::newRow("Enter") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Enter);
    }) << 0;
    QTest::newRow("click") << Gesture([](QListView *list) {
        const QRect item = list->visualRect(list->model()->index(4, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    }) << 4;
}

void TestAppearanceCombo::choosing()
{
    QFETCH(Gesture, gesture);
    QFETCH(int, chosen);

    AppearanceCombo combo;
    fill(combo, 5);
    combo.setCurrentIndex(1);
    placeAndShow(combo, availableScreen().topLeft() + QPoint(40, 40));
    QSignalSpy changes(&combo, &QComboBox::currentIndexChanged);
    openFully(combo);
    QListView *list = listOf(combo);
    QCOMPARE(list->currentIndex().row(), 1);

    gesture(list);
    QCOMPARE(combo.currentIndex(), chosen);
    QCOMPARE(changes.size(), chosen == 1 ? 0 : 1);
    QVERIFY(!popupOf(combo)->isVisible());
    QCOMPARE(combo.window()->focusWidget(), &combo);
}

void TestAppearanceCombo::clickOutsideCloses()
{
    AppearanceCombo combo;
    fill(combo, 5);
    combo.setCurrentIndex(3);
    placeAndShow(combo, availableScreen().topLeft() + QPoint(40, 40));
    QWidget elsewhere;
    elsewhere.setWindowFlag(Qt::FramelessWindowHint);
    elsewhere.setGeometry(QRect(availableScreen().topLeft() + QPoint(400, 40), QSize(100, 100)));
    elsewhere.show();
    QVERIFY(QTest::qWaitForWindowExposed(&elsewhere));

    combo.showPopup();
    // Through the window system, which hands a press outside to the open popup.
    QTest::mouseClick(elsewhere.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
    QTRY_VERIFY(!popupOf(combo)->isVisible());
    // Closed while still unfolding: nothing is left animating.
    QCOMPARE(openAnimationOf(combo)->state(), QAbstractAnimation::Stopped);
    QCOMPARE(combo.currentIndex(), 3);
}

void TestAppearanceCombo::followsStoredAppearance_data()
{
    QTest::addColumn<QString>("theme");
    QTest::addColumn<QString>("accent");
    QTest::addColumn<QColor>("rim");

    QTest::newRow("dark, mint") << u"dark"_s << u"#87d6c2"_s << QColor(0x25, 0x2f, 0x37);
    QTest::newRow("light, rose") << u"light"_s << u"#ff91ad"_s << QColor(0xff, 0xff, 0xff);
}

void TestAppearanceCombo::followsStoredAppearance()
{
    QFETCH(QString, theme);
    QFETCH(QString, accent);
    QFETCH(QColor, rim);

    AppearanceCombo combo;
    fill(combo, 5);
    placeAndShow(combo, availableScreen().topLeft() + QPoint(40, 40));
    // Stored after the combo exists: the popup reads them when it opens.
    settings::setTheme(theme);
    settings::setAccent(accent);
    openFully(combo);

    AppearancePopup *popup = popupOf(combo);
    QListView *list = listOf(combo);
    const QImage image = popup->grab().toImage();
    const auto sample = [&](int row) {
        const QRect item = list->visualRect(list->model()->index(row, 0));
        // Right of the text, in the middle of the row.
        const QPoint inPopup = list->viewport()->mapTo(popup, item.center() + QPoint(80, 0));
        return image.pixelColor(inPopup);
    };
    const QColor rimColour = image.pixelColor(popup->width() / 2, 2);
    QVERIFY2(near(rimColour, rim), qPrintable(rimColour.name()));
    const QColor selected = sample(0);
    QVERIFY2(near(selected, over(rim, QColor(accent), 40)), qPrintable(selected.name()));
    const QColor plain = sample(2);
    QVERIFY2(near(plain, rim), qPrintable(plain.name()));
}

void TestAppearanceCombo::choiceFill_data()
{
    QTest::addColumn<QStyle::State>("state");
    QTest::addColumn<int>("alpha");

    QTest::newRow("selected") << QStyle::State(QStyle::State_Selected) << 40;
    QTest::newRow("hovered") << QStyle::State(QStyle::State_MouseOver) << 22;
    QTest::newRow("selected and hovered")
        << QStyle::State(QStyle::State_Selected | QStyle::State_MouseOver) << 40;
    QTest::newRow("neither") << QStyle::State(QStyle::State_None) << 0;
}

void TestAppearanceCombo::choiceFill()
{
    QFETCH(QStyle::State, state);
    QFETCH(int, alpha);

    const QColor accent(0x7a, 0xae, 0xff);
    const QColor background(0x25, 0x2f, 0x37);
    AppearanceChoiceDelegate delegate;
    delegate.setAppearance(false, accent);
    QStandardItemModel model;
    model.appendRow(new QStandardItem(u"Blue"_s));
    const QModelIndex index = model.index(0, 0);
    QStyleOptionViewItem option;
    QCOMPARE(delegate.sizeHint(option, index), QSize(160, 40));

    QImage image(160, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    option.rect = image.rect();
    option.state = QStyle::State_Enabled | state;
    {
        QPainter painter(&image);
        delegate.paint(&painter, option, index);
    }
    const QColor fill = image.pixelColor(140, 20);
    QVERIFY2(near(fill, over(background, accent, alpha)), qPrintable(fill.name()));
}

QTEST_MAIN(TestAppearanceCombo)
#include "tst_appearancecombo.moc"
