#include "ui/widgets/contentcard.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/refreshbutton.h"

#include <QLabel>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace {

QVariantAnimation *animationOf(QObject &widget)
{
    return widget.findChild<QVariantAnimation *>(QString(), Qt::FindDirectChildrenOnly);
}

// Counts the queued calls a widget receives: each scheduled height update is one.
class QueuedCallCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::MetaCall ? 1 : 0;
        return false;
    }
};

} // namespace

class TestNavigationWidgets : public QObject
{
    Q_OBJECT

private slots:
    void navTint_data();
    void navTint();
    void navHighlight();
    void navIconMotion_data();
    void navIconMotion();
    void refreshSpinAndSettle_data();
    void refreshSpinAndSettle();
    void cardHugsWrappedText();
};

void TestNavigationWidgets::navTint_data()
{
    QTest::addColumn<QColor>("normal");
    QTest::addColumn<QColor>("hover");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("quarter way") << QColor(0, 0, 0) << QColor(255, 255, 255) << 0.25
                                 << QColor(64, 64, 64);
    // Halves go up whichever way the channel moves: neither truncated nor rounded as a step.
    QTest::newRow("halves, brightening")
        << QColor(10, 20, 30, 100) << QColor(13, 25, 31, 201) << 0.5 << QColor(12, 23, 31, 151);
    QTest::newRow("halves, darkening")
        << QColor(13, 25, 31, 201) << QColor(10, 20, 30, 100) << 0.5 << QColor(12, 23, 31, 151);
}

void TestNavigationWidgets::navTint()
{
    QFETCH(QColor, normal);
    QFETCH(QColor, hover);
    QFETCH(double, progress);
    QFETCH(QColor, expected);
    QCOMPARE(NavButton::tintAt(normal, hover, progress).rgba(), expected.rgba());
}

void TestNavigationWidgets::navHighlight()
{
    NavButton button;
    QVariantAnimation *animation = animationOf(button);
    button.setActive(true);
    QCOMPARE(animation->duration(), 420);
    animation->setCurrentTime(210);
    QCOMPARE(button.progress(), 0.5);
    animation->setCurrentTime(420);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(button.progress(), 1.0);

    // Re-activating the current page does not replay the highlight.
    button.setActive(true);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);

    // Leaving a page mid-highlight drops it at once and leaves nothing running.
    button.setActive(false);
    button.setActive(true);
    animation->setCurrentTime(300);
    button.setActive(false);
    QCOMPARE(button.progress(), 0.0);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
}

void TestNavigationWidgets::navIconMotion_data()
{
    QTest::addColumn<QString>("icon");
    QTest::addColumn<double>("progress");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("lift");

    const double swollen = 1.0 + 0.16 * std::numbers::sqrt2 / 2.0;
    QTest::newRow("globe swings") << u"globe"_s << 0.25 << 13.5 << swollen << 0.0;
    QTest::newRow("globe swings back") << u"globe"_s << 0.75 << -4.5 << swollen << 0.0;
    QTest::newRow("globe settles") << u"globe"_s << 1.0 << 0.0 << 1.0 << 0.0;
    QTest::newRow("gear turns back") << u"settings-2"_s << 0.25 << -9.0 << swollen << 0.0;
    QTest::newRow("person hops") << u"user-round"_s << 0.5 << 0.0 << 1.16 << -2.5;
    QTest::newRow("others only swell") << u"external-link"_s << 0.25 << 0.0 << swollen << 0.0;
}

void TestNavigationWidgets::navIconMotion()
{
    QFETCH(QString, icon);
    QFETCH(double, progress);
    QFETCH(double, degrees);
    QFETCH(double, scale);
    QFETCH(double, lift);

    const QTransform transform = NavButton::iconTransform(icon, progress);
    const QPointF centre = transform.map(QPointF(0, 0));
    const double turned = std::atan2(transform.m12(), transform.m11()) * 180 / std::numbers::pi;
    QVERIFY(std::abs(turned - degrees) < 1e-6);
    QVERIFY(std::abs(std::hypot(transform.m11(), transform.m12()) - scale) < 1e-6);
    QVERIFY(std::abs(centre.x()) < 1e-6 && std::abs(centre.y() - lift) < 1e-6);
}

void TestNavigationWidgets::refreshSpinAndSettle_data()
{
    QTest::addColumn<int>("spunMs");
    QTest::addColumn<int>("settleMs");

    QTest::newRow("nearly upright takes the minimum") << 826 << 200;
    QTest::newRow("a quarter turn in") << 212 << 638;
    QTest::newRow("half a turn in") << 425 << 425;
    QTest::newRow("not yet turned") << 0 << 850;
}

void TestNavigationWidgets::refreshSpinAndSettle()
{
    QFETCH(int, spunMs);
    QFETCH(int, settleMs);

    RefreshButton button;
    QVariantAnimation *animation = animationOf(button);
    button.setSpinning(true);
    QCOMPARE(animation->loopCount(), -1);
    QCOMPARE(animation->duration(), 850);
    // Into the third turn, and asking again neither restarts nor moves it.
    animation->setCurrentTime(2 * 850 + spunMs);
    const double angle = button.angle();
    QCOMPARE(angle, 360.0 * spunMs / 850);
    button.setSpinning(true);
    QCOMPARE(animation->currentLoopTime(), spunMs);

    button.setSpinning(false);
    QCOMPARE(animation->duration(), settleMs);
    QCOMPARE(animation->loopCount(), 1);
    QCOMPARE(animation->easingCurve().type(), QEasingCurve::OutCubic);
    // The turn completes from where the icon is, not from upright.
    QCOMPARE(button.angle(), angle);
    animation->setCurrentTime(settleMs);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(button.angle(), 0.0);
    button.setSpinning(false);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
}

void TestNavigationWidgets::cardHugsWrappedText()
{
    QWidget window;
    window.resize(700, 700);
    auto *card = new ContentCard(&window);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(u"The connection could not be started because the service did not "
                             "answer in time. Check that no other VPN client holds the network "
                             "adapter, then try again."_s);
    label->setWordWrap(true);
    layout->addWidget(label);
    card->resize(600, 10);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(card->height(), label->heightForWidth(600));
    const int wideHeight = card->height();

    QueuedCallCounter updates;
    card->installEventFilter(&updates);
    for (int step = 0; step < 10; ++step) {
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(card, &request);
        card->resize(400 - step * 20, card->height());
    }
    // Nothing moves within the burst; the next turn of the event loop settles it once.
    QCOMPARE(card->height(), wideHeight);
    QCoreApplication::processEvents();
    QCOMPARE(updates.count, 1);
    QCOMPARE(card->height(), label->heightForWidth(220));
    QVERIFY(card->height() > wideHeight);
    QCOMPARE(card->minimumHeight(), card->maximumHeight());
}

QTEST_MAIN(TestNavigationWidgets)
#include "tst_navigationwidgets.moc"
