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

const QString wrappedText = u"The connection could not be started because the service did not "
                            "answer in time. Check that no other VPN client holds the network "
                            "adapter, then try again."_s;

// Counts the queued calls delivered to a widget: each scheduled height update is one.
class QueuedCallCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall) {
            ++count;
        }
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
    void refreshSpin();
    void refreshSettle_data();
    void refreshSettle();
    void cardHugsWrappedText();
    void cardCoalescesHeightUpdates();
};

void TestNavigationWidgets::navTint_data()
{
    QTest::addColumn<QColor>("normal");
    QTest::addColumn<QColor>("hover");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QColor>("expected");

    const QColor muted(0x9a, 0xac, 0xae);
    const QColor bright(0xd0, 0xe8, 0xeb);
    QTest::newRow("inactive") << muted << bright << 0.0 << muted;
    QTest::newRow("fully highlighted") << muted << bright << 1.0 << bright;
    QTest::newRow("quarter way") << QColor(0, 0, 0) << QColor(255, 255, 255) << 0.25
                                 << QColor(64, 64, 64);
    // Halves round up whichever way the channel moves: neither truncated nor rounded as a step.
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

    const QColor tint = NavButton::tintAt(normal, hover, progress);
    QCOMPARE(tint.rgba(), expected.rgba());
}

void TestNavigationWidgets::navHighlight()
{
    NavButton button;
    QVariantAnimation *animation = animationOf(button);
    QVERIFY(animation);

    button.setActive(true);
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QCOMPARE(animation->duration(), 420);
    QCOMPARE(button.progress(), 0.0);
    animation->setCurrentTime(210);
    QCOMPARE(button.progress(), 0.5);
    animation->setCurrentTime(420);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(button.progress(), 1.0);

    // Re-activating the current page does not replay the highlight.
    button.setActive(true);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(button.progress(), 1.0);

    button.setActive(false);
    QCOMPARE(button.progress(), 0.0);

    // Leaving a page mid-highlight drops it at once and leaves nothing running.
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

    const double quarterSwell = 1.0 + 0.16 * std::numbers::sqrt2 / 2.0;
    QTest::newRow("at rest") << u"globe"_s << 0.0 << 0.0 << 1.0 << 0.0;
    QTest::newRow("globe swings") << u"globe"_s << 0.25 << 13.5 << quarterSwell << 0.0;
    QTest::newRow("globe swings back") << u"globe"_s << 0.75 << -4.5 << quarterSwell << 0.0;
    QTest::newRow("globe settles") << u"globe"_s << 1.0 << 0.0 << 1.0 << 0.0;
    QTest::newRow("gear turns back") << u"settings-2"_s << 0.25 << -9.0 << quarterSwell << 0.0;
    QTest::newRow("person hops") << u"user-round"_s << 0.5 << 0.0 << 1.16 << -2.5;
    QTest::newRow("other icons only swell")
        << u"external-link"_s << 0.25 << 0.0 << quarterSwell << 0.0;
}

void TestNavigationWidgets::navIconMotion()
{
    QFETCH(QString, icon);
    QFETCH(double, progress);
    QFETCH(double, degrees);
    QFETCH(double, scale);
    QFETCH(double, lift);

    const QTransform transform = NavButton::iconTransform(icon, progress);
    const double tolerance = 1e-6;
    QVERIFY(std::abs(std::atan2(transform.m12(), transform.m11()) * 180.0 / std::numbers::pi -
                     degrees) < tolerance);
    QVERIFY(std::abs(std::hypot(transform.m11(), transform.m12()) - scale) < tolerance);
    const QPointF centre = transform.map(QPointF(0, 0));
    QVERIFY(std::abs(centre.x()) < tolerance);
    QVERIFY(std::abs(centre.y() - lift) < tolerance);
}

void TestNavigationWidgets::refreshSpin()
{
    RefreshButton button;
    QVariantAnimation *animation = animationOf(button);
    QVERIFY(animation);

    button.setSpinning(true);
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QCOMPARE(animation->loopCount(), -1);
    QCOMPARE(animation->duration(), 850);
    QCOMPARE(animation->easingCurve().type(), QEasingCurve::Linear);
    // Half way through the third turn.
    animation->setCurrentTime(2 * 850 + 425);
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QCOMPARE(button.angle(), 180.0);

    // Asking again neither restarts the turn nor moves the icon.
    button.setSpinning(true);
    QCOMPARE(animation->currentLoopTime(), 425);
    QCOMPARE(button.angle(), 180.0);
}

void TestNavigationWidgets::refreshSettle_data()
{
    QTest::addColumn<int>("spunMs");
    QTest::addColumn<int>("settleMs");

    QTest::newRow("nearly upright takes the minimum") << 826 << 200;
    QTest::newRow("a quarter turn in") << 212 << 638;
    QTest::newRow("half a turn in") << 425 << 425;
    QTest::newRow("not yet turned") << 0 << 850;
}

void TestNavigationWidgets::refreshSettle()
{
    QFETCH(int, spunMs);
    QFETCH(int, settleMs);

    RefreshButton button;
    QVariantAnimation *animation = animationOf(button);
    button.setSpinning(true);
    animation->setCurrentTime(spunMs);
    const double angle = button.angle();

    button.setSpinning(false);
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QCOMPARE(animation->duration(), settleMs);
    QCOMPARE(animation->loopCount(), 1);
    QCOMPARE(animation->easingCurve().type(), QEasingCurve::OutCubic);
    // The turn completes from where the icon was, not from upright.
    QCOMPARE(button.angle(), angle);
    QCOMPARE(animation->endValue().toDouble(), 360.0);

    animation->setCurrentTime(settleMs);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
    QCOMPARE(button.angle(), 0.0);
    button.setSpinning(false);
    QCOMPARE(animation->state(), QAbstractAnimation::Stopped);
}

void TestNavigationWidgets::cardHugsWrappedText()
{
    ContentCard card;
    auto *layout = new QVBoxLayout(&card);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(wrappedText);
    label->setWordWrap(true);
    layout->addWidget(label);
    card.resize(600, 10);
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));
    QTRY_COMPARE(card.height(), label->heightForWidth(600));
    const int wideHeight = card.height();

    card.resize(200, wideHeight);
    QTRY_COMPARE(card.height(), label->heightForWidth(200));
    QVERIFY(card.height() > wideHeight);
    QCOMPARE(card.minimumHeight(), card.maximumHeight());
}

void TestNavigationWidgets::cardCoalescesHeightUpdates()
{
    QWidget host;
    host.resize(700, 700);
    auto *card = new ContentCard(&host);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(wrappedText);
    label->setWordWrap(true);
    layout->addWidget(label);
    card->resize(600, 10);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QTRY_COMPARE(card->height(), label->heightForWidth(600));
    const int wideHeight = card->height();

    QueuedCallCounter counter;
    card->installEventFilter(&counter);
    for (int step = 0; step < 10; ++step) {
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(card, &request);
        card->resize(400 - step * 20, card->height());
    }
    // Nothing moves within the burst; the next turn of the event loop settles it once.
    QCOMPARE(card->height(), wideHeight);
    QCoreApplication::processEvents();
    QCOMPARE(counter.count, 1);
    QCOMPARE(card->height(), label->heightForWidth(220));
}

QTEST_MAIN(TestNavigationWidgets)
#include "tst_navigationwidgets.moc"
