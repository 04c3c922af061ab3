#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "ui/widgets/appearancechoicedelegate.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/appearancepopup.h"

#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

// What the user does while the list unfolds.
using Gesture = void (*)(QListView *list);

Q_DECLARE_METATYPE(Gesture)

namespace {

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

void fill(AppearanceCombo &combo, int count)
{
    for (int item = 0; item < count; ++item) {
        combo.addItem(u"Choice %1"_s.arg(item), item);
    }
}

// A frameless 200 × 40 combo window whose corner lands exactly on `position`, opened.
void showAndOpen(AppearanceCombo &combo, const QPoint &position)
{
    combo.setWindowFlag(Qt::FramelessWindowHint);
    combo.setGeometry(QRect(position, QSize(200, 40)));
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    combo.showPopup();
}

// `tint` painted at `alpha` over `base`, compared with `actual` within a small tolerance.
bool blendsTo(const QColor &actual, const QColor &base, const QColor &tint, int alpha)
{
    const auto near = [alpha](int actual, int below, int above) {
        return std::abs(actual - (below + (above - below) * alpha / 255)) <= 3;
    };
    return near(actual.red(), base.red(), tint.red()) &&
           near(actual.green(), base.green(), tint.green()) &&
           near(actual.blue(), base.blue(), tint.blue());
}

} // namespace

class TestAppearanceCombo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unfolding_data();
    void unfolding();
    void closing_data();
    void closing();
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

void TestAppearanceCombo::unfolding_data()
{
    QTest::addColumn<int>("items");
    QTest::addColumn<QPoint>("comboAt");
    QTest::addColumn<QRect>("target");
    QTest::addColumn<bool>("upward");
    QTest::addColumn<int>("halfTimeHeight");
    QTest::addColumn<bool>("scrolls");

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint high = screen.topLeft() + QPoint(40, 40);
    const QPoint low(screen.left() + 40, screen.bottom() - 60);
    const QPoint right(screen.right() - 100, screen.top() + 40);
    const QPoint below(0, 40 + 6);
    QTest::newRow("five accents below")
        << 5 << high << QRect(high + below, QSize(200, 212)) << false << 187 << false;
    QTest::newRow("six fill the list")
        << 6 << high << QRect(high + below, QSize(200, 252)) << false << 222 << false;
    QTest::newRow("seven scroll") << 7 << high << QRect(high + below, QSize(200, 252)) << false
                                  << 222 << true;
    QTest::newRow("near the bottom opens upwards")
        << 5 << low << QRect(low - QPoint(0, 6 + 212), QSize(200, 212)) << true << 187 << false;
    QTest::newRow("kept inside the right edge")
        << 5 << right << QRect(QPoint(screen.right() + 1 - 200, right.y()) + below, QSize(200, 212))
        << false << 187 << false;
}

void TestAppearanceCombo::unfolding()
{
    QFETCH(int, items);
    QFETCH(QPoint, comboAt);
    QFETCH(QRect, target);
    QFETCH(bool, upward);
    QFETCH(int, halfTimeHeight);
    QFETCH(bool, scrolls);

    AppearanceCombo combo;
    fill(combo, items);
    showAndOpen(combo, comboAt);
    QCOMPARE(combo.screen()->availableGeometry(),
             QGuiApplication::primaryScreen()->availableGeometry());
    AppearancePopup *popup = popupOf(combo);
    QVariantAnimation *animation = openAnimationOf(combo);
    QVERIFY(popup->isVisible());
    QCOMPARE(animation->duration(), 180);

    // From a 12 px strip on the combo's side, that edge staying put; out-cubic, so 87.5 % of the
    // way at half time.
    const auto anchoredEdge = [upward](const QRect &rect) {
        return upward ? rect.bottom() : rect.top();
    };
    QCOMPARE(popup->height(), 12);
    QCOMPARE(anchoredEdge(popup->geometry()), anchoredEdge(target));
    animation->setCurrentTime(90);
    QCOMPARE(popup->height(), halfTimeHeight);
    QCOMPARE(anchoredEdge(popup->geometry()), anchoredEdge(target));
    animation->setCurrentTime(180);
    QCOMPARE(popup->geometry(), target);

    QListView *list = listOf(combo);
    QCOMPARE(list->verticalScrollBarPolicy(),
             scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    QTRY_COMPARE(list->verticalScrollBar()->isVisible(), scrolls);
}

void TestAppearanceCombo::closing_data()
{
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<bool>("backToCombo");

    QTest::newRow("Escape keeps the choice") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Escape);
    }) << 1 << true;
    QTest::newRow("Space") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Space);
    }) << 2 << true;
    QTest::newRow("Return") << Gesture([](QListView *list) {
        QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
    }) << 0 << true;
    QTest::newRow("Enter") << Gesture([](QListView *list) { QTest::keyClick(list, Qt::Key_Enter); })
                           << 1 << true;
    QTest::newRow("click on a choice") << Gesture([](QListView *list) {
        const QRect item = list->visualRect(list->model()->index(3, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    }) << 3 << true;
    // Through the window system, which hands a press outside to the open popup.
    QTest::newRow("click outside") << Gesture([](QListView *list) {
        QTest::mouseClick(list->window()->windowHandle(), Qt::LeftButton, {}, QPoint(-20, -20));
    }) << 1 << false;
}

void TestAppearanceCombo::closing()
{
    QFETCH(Gesture, gesture);
    QFETCH(int, chosen);
    QFETCH(bool, backToCombo);

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *search = new QLineEdit;
    layout->addWidget(search);
    auto *combo = new AppearanceCombo;
    layout->addWidget(combo);
    fill(*combo, 5);
    combo->setCurrentIndex(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // Opened while another field has the focus, so handing it back is visible.
    search->setFocus();
    QSignalSpy changes(combo, &QComboBox::currentIndexChanged);
    combo->showPopup();
    QVariantAnimation *animation = openAnimationOf(*combo);
    animation->setCurrentTime(90);

    gesture(listOf(*combo));
    QTRY_VERIFY(!popupOf(*combo)->isVisible());
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(combo->currentIndex(), chosen);
    QCOMPARE(changes.size(), chosen == 1 ? 0 : 1);
    QCOMPARE(window.focusWidget() == combo, backToCombo);
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
    // Stored after the combo exists: the popup reads them as it opens.
    settings::setTheme(theme);
    settings::setAccent(accent);
    showAndOpen(combo, QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    openAnimationOf(combo)->setCurrentTime(180);

    AppearancePopup *popup = popupOf(combo);
    QListView *list = listOf(combo);
    const QImage image = popup->grab().toImage();
    // Right of the text, in the middle of the row.
    const auto sample = [&](int row) {
        const QRect item = list->visualRect(list->model()->index(row, 0));
        return image.pixelColor(list->viewport()->mapTo(popup, item.center() + QPoint(80, 0)));
    };
    QVERIFY(blendsTo(image.pixelColor(popup->width() / 2, 2), rim, rim, 0));
    QVERIFY(blendsTo(sample(0), rim, QColor(accent), 40));
    QVERIFY(blendsTo(sample(2), rim, rim, 0));
}

void TestAppearanceCombo::choiceFill_data()
{
    QTest::addColumn<QStyle::State>("state");
    QTest::addColumn<int>("alpha");

    QTest::newRow("selected") << QStyle::State(QStyle::State_Selected | QStyle::State_MouseOver)
                              << 40;
    QTest::newRow("hovered") << QStyle::State(QStyle::State_MouseOver) << 22;
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
    QStyleOptionViewItem option;
    QCOMPARE(delegate.sizeHint(option, model.index(0, 0)), QSize(160, 40));

    QImage image(160, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    option.rect = image.rect();
    option.state = QStyle::State_Enabled | state;
    QPainter painter(&image);
    delegate.paint(&painter, option, model.index(0, 0));
    painter.end();
    QVERIFY(blendsTo(image.pixelColor(140, 20), background, accent, alpha));
}

QTEST_MAIN(TestAppearanceCombo)
#include "tst_appearancecombo.moc"
