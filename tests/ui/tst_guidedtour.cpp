#include "settings/settingskeys.h"
#include "support/pixelcheck.h"
#include "support/testhome.h"
#include "ui/guidedtour.h"
#include "ui/mainwindow.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/signinpage.h"
#include "ui/widgets/guidedtouroverlay.h"
#include "ui/widgets/servertree.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Every step: the page it shows and its title.
struct ExpectedStep
{
    int page;
    QString title;
};

const QList<ExpectedStep> expectedSteps = {
    {MainWindow::Connection, u"Choose a location"_s}, {MainWindow::Connection, u"Quick connect"_s},
    {MainWindow::Connection, u"Connect"_s},           {MainWindow::Connection, u"Your account"_s},
    {MainWindow::Account, u"Subscription details"_s}, {MainWindow::Account, u"App settings"_s},
    {MainWindow::Settings, u"Make it yours"_s},
};

constexpr int edgeGap = 18;

QString labelText(QWidget *overlay, const QString &name)
{
    const auto *label = overlay->findChild<QLabel *>(name);
    return label ? label->text() : QString();
}

QRect bubbleGeometry(QWidget *overlay)
{
    return overlay->findChild<QFrame *>(u"tourBubble"_s)->geometry();
}

// The bubble keeps its distance from every edge of the overlay.
bool insideWithGap(const QRect &bubble, const QSize &area)
{
    return bubble.left() >= edgeGap && bubble.top() >= edgeGap &&
           bubble.x() + bubble.width() <= area.width() - edgeGap &&
           bubble.y() + bubble.height() <= area.height() - edgeGap;
}

QColor dimmed(const QColor &colour)
{
    const auto dim = [](int channel) { return channel * (255 - 155) / 255; };
    return QColor(dim(colour.red()), dim(colour.green()), dim(colour.blue()));
}

} // namespace

// The guided tour in the real window, offscreen, against the in-process development backend.
class TestGuidedTour : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstStartOffer_data();
    void firstStartOffer();
    void stepBeforeSignInThenStepsAfterSignIn();
    void walkThroughEveryStep();
    void endingsAreRemembered_data();
    void endingsAreRemembered();
    void signedOutShowsNoStep_data();
    void signedOutShowsNoStep();
    void bubbleStaysInsideNarrowWindow();
    void missingTargetEndsTour_data();
    void missingTargetEndsTour();
    void dimmingAndOutline_data();
    void dimmingAndOutline();

private:
    GuidedTour &tour() { return m_window->guidedTour(); }
    GuidedTourOverlay *overlay() { return tour().overlay(); }
    bool showsStep(int step)
    {
        return overlay() && overlay()->isVisible() &&
               labelText(overlay(), u"tourProgress"_s) == u"%1 of 7"_s.arg(step);
    }
    void clickOverlayButton(const QString &name)
    {
        QTest::mouseClick(overlay()->findChild<QPushButton *>(name), Qt::LeftButton);
    }
    void startStepsSignedIn()
    {
        QVERIFY(m_fixture->signIn());
        m_window->showWelcomeGuide();
        QTRY_VERIFY(showsStep(1));
    }

    TestHome m_home;
    std::unique_ptr<WindowFixture> m_fixture;
    MainWindow *m_window = nullptr;
};

void TestGuidedTour::initTestCase()
{
    QVERIFY(m_home.isValid());
}

void TestGuidedTour::init()
{
    m_fixture = std::make_unique<WindowFixture>();
    QVERIFY(m_fixture->isValid());
    m_window = m_fixture->window.get();
}

void TestGuidedTour::cleanup()
{
    m_fixture.reset();
}

void TestGuidedTour::firstStartOffer_data()
{
    QTest::addColumn<bool>("seen");
    QTest::newRow("first start") << false;
    QTest::newRow("tour already seen") << true;
}

void TestGuidedTour::firstStartOffer()
{
    QFETCH(bool, seen);
    settings::setGuidedTourSeen(seen);
    m_window->maybeOfferTour();
    QCOMPARE(m_window->signInPage()->quickGuideCard()->isVisible(), !seen);
    QCOMPARE(tour().tourPending(), !seen);
    QVERIFY(!overlay());
}

void TestGuidedTour::stepBeforeSignInThenStepsAfterSignIn()
{
    m_window->maybeOfferTour();
    SignInPage *page = m_window->signInPage();
    QTest::mouseClick(WindowFixture::button(page, u"Take the tour"_s), Qt::LeftButton);
    QVERIFY(!page->quickGuideCard()->isVisible());
    QVERIFY(overlay() && overlay()->isVisible());
    QCOMPARE(labelText(overlay(), u"tourTitle"_s), u"Sign in to begin"_s);
    QCOMPARE(labelText(overlay(), u"tourProgress"_s), u"Before the tour"_s);
    QCOMPARE(overlay()->findChild<QPushButton *>(u"tourNext"_s)->text(), u"Continue to sign in"_s);
    // The cut-out surrounds the sign-in form.
    const QRect fields(page->emailEdit()->mapTo(m_window, QPoint(0, 0)),
                       page->passwordEdit()->mapTo(m_window, QPoint(0, 0)));
    QVERIFY(overlay()->highlight().contains(fields));

    clickOverlayButton(u"tourNext"_s);
    QVERIFY(!overlay());
    QVERIFY(tour().tourPending());
    QVERIFY(!settings::guidedTourSeen());

    // Counted from the sign-in request: the wait begins only once the session confirms it.
    QElapsedTimer sinceSignIn;
    sinceSignIn.start();
    QVERIFY(m_fixture->signIn());
    QTRY_VERIFY(showsStep(1));
    QVERIFY2(sinceSignIn.elapsed() >= 445, qPrintable(QString::number(sinceSignIn.elapsed())));
    QCOMPARE(labelText(overlay(), u"tourTitle"_s), u"Choose a location"_s);
    QVERIFY(!tour().tourPending());
}

void TestGuidedTour::walkThroughEveryStep()
{
    startStepsSignedIn();
    for (int index = 0; index < expectedSteps.size(); ++index) {
        const ExpectedStep &step = expectedSteps.at(index);
        QVERIFY(showsStep(index + 1));
        QCOMPARE(m_window->pages()->currentIndex(), step.page);
        QCOMPARE(labelText(overlay(), u"tourTitle"_s), step.title);
        // The description hugs its wrapped lines, whatever the previous step needed.
        const auto *description = overlay()->findChild<QLabel *>(u"tourDescription"_s);
        const QFontMetrics metrics(description->font());
        const QRect lines = metrics.boundingRect(0, 0, description->width(), 2000, Qt::TextWordWrap,
                                                 description->text());
        QVERIFY(!description->text().isEmpty());
        QCOMPARE(description->height(), std::max(lines.height(), metrics.height()));
        const bool last = index + 1 == expectedSteps.size();
        QCOMPARE(overlay()->findChild<QPushButton *>(u"tourNext"_s)->text(),
                 last ? u"Finish"_s : u"Next"_s);
        QVERIFY(!overlay()->highlight().isEmpty());

        QElapsedTimer sinceClick;
        sinceClick.start();
        clickOverlayButton(u"tourNext"_s);
        if (last) {
            break;
        }
        const int nextPage = expectedSteps.at(index + 1).page;
        QCOMPARE(m_window->pages()->currentIndex(), nextPage);
        if (nextPage == step.page) {
            QVERIFY(showsStep(index + 2));
            continue;
        }
        // The bubble waits for the page transition to finish.
        QVERIFY(!overlay()->isVisible());
        QTRY_VERIFY(showsStep(index + 2));
        QVERIFY2(sinceClick.elapsed() >= 405, qPrintable(QString::number(sinceClick.elapsed())));
    }
    QVERIFY(!overlay());
    QVERIFY(settings::guidedTourSeen());
    QVERIFY(!tour().tourPending());
}

void TestGuidedTour::endingsAreRemembered_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("skip before sign-in") << u"skip before sign-in"_s;
    QTest::newRow("skip at the third step") << u"skip at step 3"_s;
    QTest::newRow("dismiss the quick guide") << u"dismiss"_s;
}

void TestGuidedTour::endingsAreRemembered()
{
    QFETCH(QString, ending);
    SignInPage *page = m_window->signInPage();
    m_window->maybeOfferTour();
    if (ending == u"dismiss"_s) {
        QPushButton *dismiss = nullptr;
        const QList<QPushButton *> buttons = page->findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (button->accessibleName() == u"Dismiss quick guide"_s) {
                dismiss = button;
            }
        }
        QVERIFY(dismiss);
        QTest::mouseClick(dismiss, Qt::LeftButton);
    } else if (ending == u"skip before sign-in"_s) {
        QTest::mouseClick(WindowFixture::button(page, u"Take the tour"_s), Qt::LeftButton);
        clickOverlayButton(u"tourSkip"_s);
    } else {
        tour().setDelays({10, 10});
        QVERIFY(m_fixture->signIn());
        QTRY_VERIFY(showsStep(1));
        clickOverlayButton(u"tourNext"_s);
        clickOverlayButton(u"tourNext"_s);
        QVERIFY(showsStep(3));
        clickOverlayButton(u"tourSkip"_s);
    }
    QVERIFY(!overlay());
    QVERIFY(settings::guidedTourSeen());
    QVERIFY(!tour().tourPending());
    QVERIFY(!page->quickGuideCard()->isVisible());

    // The next start offers nothing.
    m_window->maybeOfferTour();
    QVERIFY(!tour().tourPending());
    QVERIFY(!page->quickGuideCard()->isVisible());
}

void TestGuidedTour::signedOutShowsNoStep_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("while a step shows") << u"step"_s;
    QTest::newRow("while waiting for a page") << u"page wait"_s;
    QTest::newRow("before the steps begin") << u"sign-in wait"_s;
    QTest::newRow("step asked for while signed out") << u"signed out"_s;
}

void TestGuidedTour::signedOutShowsNoStep()
{
    QFETCH(QString, moment);
    tour().setDelays({100, 100});
    if (moment == u"step"_s) {
        startStepsSignedIn();
        m_window->services().session().clear();
    } else if (moment == u"page wait"_s) {
        startStepsSignedIn();
        for (int step = 1; step <= 4; ++step) {
            clickOverlayButton(u"tourNext"_s);
        }
        QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::Account));
        m_window->services().session().clear();
    } else if (moment == u"sign-in wait"_s) {
        m_window->maybeOfferTour();
        tour().setDelays({100, 600});
        QVERIFY(m_fixture->signIn());
        m_window->services().session().clear();
    } else {
        tour().displayGuidedTourStep();
    }
    QVERIFY(!overlay());
    QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::SignIn));
    // Whatever was waiting comes and goes without a step or a page switch.
    QTest::qWait(moment == u"sign-in wait"_s ? 800 : 250);
    QVERIFY(!overlay());
    QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::SignIn));
    QVERIFY(m_window->signInPage()->messageLabel()->text().isEmpty());
    QVERIFY(!settings::guidedTourSeen());
    // A tour that had not begun begins at the next sign-in.
    QCOMPARE(tour().tourPending(), moment == u"sign-in wait"_s);
}

void TestGuidedTour::bubbleStaysInsideNarrowWindow()
{
    tour().setDelays({10, 10});
    m_window->resize(850, 600);
    QCOMPARE(m_window->size(), QSize(850, 600));
    const auto checkBubble = [this](const QString &what) {
        const QRect bubble = bubbleGeometry(overlay());
        QVERIFY2(bubble.width() >= 280, qPrintable(what));
        QCOMPARE(bubble.width(), 390);
        QVERIFY2(insideWithGap(bubble, overlay()->size()), qPrintable(what));
        QCOMPARE(overlay()->geometry(), m_window->rect());
    };

    m_window->showWelcomeGuide();
    checkBubble(u"before sign-in"_s);
    clickOverlayButton(u"tourNext"_s);
    startStepsSignedIn();
    for (int step = 1; step <= expectedSteps.size(); ++step) {
        QTRY_VERIFY(showsStep(step));
        checkBubble(u"step %1"_s.arg(step));
        if (step == expectedSteps.size()) {
            break;
        }
        clickOverlayButton(u"tourNext"_s);
    }
    // Growing and shrinking the window moves the overlay and the bubble along.
    m_window->resize(1180, 780);
    checkBubble(u"grown"_s);
    m_window->resize(850, 600);
    checkBubble(u"shrunk again"_s);

    // Narrower than any window can be: the bubble keeps its least width and the left gap.
    QWidget narrow;
    narrow.resize(300, 500);
    QWidget target(&narrow);
    target.setGeometry(240, 40, 50, 30);
    narrow.show();
    GuidedTourOverlay standalone(&narrow);
    standalone.setStep(&target, u"Title"_s, u"Some words."_s, u"1 of 1"_s, u"Finish"_s, {}, {},
                       QColor(0x87, 0xd6, 0xc2), false);
    const QRect bubble = bubbleGeometry(&standalone);
    QCOMPARE(bubble.width(), 280);
    QCOMPARE(bubble.left(), edgeGap);
    // Below the cut-out, which ends at 40 + 30 + 7.
    QCOMPARE(bubble.top(), 77 + edgeGap);
}

void TestGuidedTour::missingTargetEndsTour_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("hidden locations") << 1;
    QTest::newRow("hidden quick connect") << 2;
    QTest::newRow("hidden subscription card") << 5;
}

void TestGuidedTour::missingTargetEndsTour()
{
    QFETCH(int, step);
    tour().setDelays({10, 10});
    QVERIFY(m_fixture->signIn());
    ConnectionPage *connection = m_window->connectionPage();
    switch (step) {
    case 1:
        connection->tree()->hide();
        break;
    case 2:
        connection->quickConnectButton()->hide();
        break;
    default:
        m_window->accountPage()->subscriptionCard()->hide();
    }
    m_window->showWelcomeGuide();
    for (int shown = 1; shown < step; ++shown) {
        QTRY_VERIFY(showsStep(shown));
        clickOverlayButton(u"tourNext"_s);
    }
    QTRY_VERIFY(settings::guidedTourSeen());
    QVERIFY(!overlay());
    QCOMPARE(m_window->pages()->currentIndex(), expectedSteps.at(step - 1).page);
}

void TestGuidedTour::dimmingAndOutline_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QColor>("bubbleBackground");
    QTest::newRow("dark") << false << QColor(0x20, 0x2b, 0x32);
    QTest::newRow("light") << true << QColor(0xff, 0xff, 0xff);
}

void TestGuidedTour::dimmingAndOutline()
{
    QFETCH(bool, light);
    QFETCH(QColor, bubbleBackground);
    const QColor accent(0xff, 0x91, 0xad);
    settings::setTheme(light ? settings::lightTheme : settings::darkTheme);
    settings::setAccent(accent.name());
    m_window->applyTheme();
    tour().setDelays({10, 10});
    startStepsSignedIn();
    clickOverlayButton(u"tourNext"_s);
    QVERIFY(showsStep(2));
    QPushButton *quick = m_window->connectionPage()->quickConnectButton();
    const QRect target(quick->mapTo(m_window, QPoint(0, 0)), quick->size());
    const QRect cutOut = target.adjusted(-7, -7, 7, 7);
    QCOMPARE(overlay()->highlight(), cutOut);

    overlay()->hide();
    const QImage plain = m_window->grab().toImage();
    overlay()->show();
    const QImage image = m_window->grab().toImage();

    // Far from the cut-out and the bubble: the rail, dimmed.
    const QPoint rail(4, m_window->height() / 2);
    QVERIFY(pixelcheck::near(image.pixelColor(rail), dimmed(plain.pixelColor(rail)), 3));
    // Inside the cut-out, beside the button: untouched.
    const QPoint inside(target.left() - 3, target.center().y());
    QVERIFY(pixelcheck::near(image.pixelColor(inside), plain.pixelColor(inside), 2));
    // The accent outline on the cut-out's top and left edges.
    QVERIFY(pixelcheck::anyPixelNear(image, QRect(cutOut.center().x(), cutOut.top() - 2, 1, 4),
                                     accent, 8));
    QVERIFY(pixelcheck::anyPixelNear(image, QRect(cutOut.left() - 2, cutOut.center().y(), 4, 1),
                                     accent, 8));
    // The bubble in the theme's colours, with the accent on its next button.
    const QRect bubble = bubbleGeometry(overlay());
    QVERIFY(pixelcheck::near(image.pixelColor(bubble.center().x(), bubble.top() + 6),
                             bubbleBackground, 2));
    const auto *next = overlay()->findChild<QPushButton *>(u"tourNext"_s);
    const QPoint nextLeft = next->mapTo(m_window, QPoint(4, next->height() / 2));
    QVERIFY(pixelcheck::near(image.pixelColor(nextLeft), accent, 2));
}

QTEST_MAIN(TestGuidedTour)
#include "tst_guidedtour.moc"
