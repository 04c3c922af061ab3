#include "locations/servercatalogue.h"
#include "platform/traymenu.h"
#include "support/testhome.h"
#include "ui/pages/connectionpage.h"
#include "ui/traycontroller.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString waitText = u"Please wait for the connection operation to finish."_s;

// Answers every question box that opens while it lives and records what each one asked.
class BoxAnswerer : public QObject
{
public:
    struct Question
    {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    BoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::answerOpenBox);
        m_timer.start(5);
    }

    QMessageBox::StandardButton answer = QMessageBox::No;
    QList<Question> questions;

private:
    void answerOpenBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            return;
        }
        questions.append({box->windowTitle(), box->text(), box->standardButtons(),
                          box->standardButton(box->defaultButton())});
        box->button(answer)->click();
    }

    QTimer m_timer;
};

} // namespace

// The tray icon and the window's close button on the real window, with a scripted adapter: the
// desktop's tray and the application's quit are played by the test.
class TestTrayClose : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void closeWithTrayOnlyHides_data();
    void closeWithTrayOnlyHides();
    void closeWithoutTray_data();
    void closeWithoutTray();
    void quitWhileConnectingWaitsForTheController();
    void quitWhileConnectedQuitsAtOnce();
    void activationReasons_data();
    void activationReasons();
    void toolkitMenuCommands_data();
    void toolkitMenuCommands();

private:
    enum class Vpn
    {
        Idle,
        Connecting,
        Connected,
        Disconnecting
    };

    MainWindow *window() const { return m_fixture->window.get(); }
    TrayController &tray() const { return m_fixture->window->tray(); }
    VpnController &controller() const { return m_fixture->window->services().controller(); }
    qsizetype stopCalls() const { return m_fixture->adapter->calls.filter(u"stop "_s).size(); }
    // The real window, signed in with the catalogue loaded; `trayAvailable` plays the desktop.
    bool start(bool trayAvailable);
    bool bringTo(Vpn state);
    // Opens the icon's menu as a right click does and picks the entry `text`, or presses Escape
    // for an empty text. Returns the menu's lines, "-" for a separator.
    QStringList chooseFromMenu(const QString &text);

    TestHome m_home;
    std::unique_ptr<WindowFixture> m_fixture;
    std::unique_ptr<BoxAnswerer> m_answerer;
    bool m_trayAvailable = false;
    int m_quits = 0;
};

void TestTrayClose::initTestCase()
{
    QVERIFY(m_home.isValid());
}

void TestTrayClose::cleanup()
{
    m_answerer.reset();
    m_fixture.reset();
}

bool TestTrayClose::start(bool trayAvailable)
{
    m_trayAvailable = trayAvailable;
    m_quits = 0;
    m_answerer = std::make_unique<BoxAnswerer>();
    m_fixture = std::make_unique<WindowFixture>();
    if (!m_fixture->isValid()) {
        return false;
    }
    tray().setDesktop({[this] { return m_trayAvailable; }, [this] { ++m_quits; }, {}});
    const ServerCatalogue &catalogue = window()->services().catalogue();
    return m_fixture->signIn() &&
           QTest::qWaitFor([&] { return !catalogue.servers().isEmpty() && !catalogue.isLoading(); },
                           10000);
}

bool TestTrayClose::bringTo(Vpn state)
{
    FakeTunnelAdapter &adapter = *m_fixture->adapter;
    if (state == Vpn::Idle) {
        return true;
    }
    adapter.completion = state == Vpn::Connecting ? FakeTunnelAdapter::Completion::Manual
                                                  : FakeTunnelAdapter::Completion::Succeed;
    window()->connectionPage()->quickConnectButton()->click();
    if (state == Vpn::Connecting) {
        return QTest::qWaitFor([&] { return adapter.isBusy() && controller().connecting(); },
                               10000);
    }
    if (!QTest::qWaitFor(
            [&] { return controller().running() && !controller().busy() && !adapter.isBusy(); },
            10000)) {
        return false;
    }
    if (state == Vpn::Disconnecting) {
        adapter.completion = FakeTunnelAdapter::Completion::Manual;
        window()->connectionPage()->connectButton()->click();
        return controller().disconnecting() && adapter.isBusy();
    }
    return true;
}

QStringList TestTrayClose::chooseFromMenu(const QString &text)
{
    QStringList lines;
    // Runs inside the menu's own loop, once the menu is up.
    QTimer::singleShot(0, this, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        QAction *pick = nullptr;
        for (QAction *action : menu->actions()) {
            lines.append(action->isSeparator() ? u"-"_s : action->text());
            if (!action->isSeparator() && action->text() == text) {
                pick = action;
            }
        }
        if (pick) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(pick).center());
        } else {
            QTest::keyClick(menu, Qt::Key_Escape);
        }
    });
    emit tray().trayIcon()->activated(QSystemTrayIcon::Context);
    return lines;
}

void TestTrayClose::closeWithTrayOnlyHides_data()
{
    QTest::addColumn<Vpn>("state");
    QTest::newRow("idle") << Vpn::Idle;
    QTest::newRow("connected") << Vpn::Connected;
    QTest::newRow("connecting") << Vpn::Connecting;
}

void TestTrayClose::closeWithTrayOnlyHides()
{
    QFETCH(Vpn, state);
    QVERIFY(start(true));
    QVERIFY(bringTo(state));
    QSystemTrayIcon *icon = tray().trayIcon();
    QVERIFY(icon->isVisible());
    QVERIFY(icon->toolTip().startsWith(u"Solvik VPN \u00b7 "_s));
    QVERIFY(!icon->icon().isNull());

    QVERIFY(!window()->close());
    QVERIFY(!window()->isVisible());
    QVERIFY(icon->isVisible());
    QVERIFY(m_answerer->questions.isEmpty());
    QVERIFY(window()->connectionPage()->messageLabel()->text().isEmpty());
    QCOMPARE(m_quits, 0);
    QCOMPARE(controller().running(), state == Vpn::Connected);
    QCOMPARE(stopCalls(), 0);

    // Still reachable from the tray.
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window()->isVisible());
}

void TestTrayClose::closeWithoutTray_data()
{
    QTest::addColumn<Vpn>("state");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("message");
    QTest::newRow("idle closes") << Vpn::Idle << QMessageBox::No << false << true << QString();
    QTest::newRow("connecting waits")
        << Vpn::Connecting << QMessageBox::Yes << false << false << waitText;
    QTest::newRow("disconnecting waits")
        << Vpn::Disconnecting << QMessageBox::Yes << false << false << waitText;
    QTest::newRow("connected, No keeps the window")
        << Vpn::Connected << QMessageBox::No << true << false << QString();
    QTest::newRow("connected, Yes closes")
        << Vpn::Connected << QMessageBox::Yes << true << true << QString();
}

void TestTrayClose::closeWithoutTray()
{
    QFETCH(Vpn, state);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, asks);
    QFETCH(bool, closes);
    QFETCH(QString, message);
    QVERIFY(start(false));
    QVERIFY(bringTo(state));
    QVERIFY(!tray().trayIcon()->isVisible());
    const qsizetype stopsBefore = stopCalls();
    const bool runningBefore = controller().running();
    m_answerer->answer = answer;

    QCOMPARE(window()->close(), closes);
    QCOMPARE(window()->isVisible(), !closes);
    QCOMPARE(window()->connectionPage()->messageLabel()->text(), message);
    if (asks) {
        QCOMPARE(m_answerer->questions.size(), 1);
        const BoxAnswerer::Question &question = m_answerer->questions.constFirst();
        QCOMPARE(question.title, u"Close Solvik VPN?"_s);
        QCOMPARE(question.text, u"The VPN service will keep running after you close this window. "
                                u"Close anyway?"_s);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.defaultButton, QMessageBox::No);
    } else {
        QVERIFY(m_answerer->questions.isEmpty());
    }
    // Closing is never quitting, and never stops the tunnel.
    QCOMPARE(m_quits, 0);
    QCOMPARE(stopCalls(), stopsBefore);
    QCOMPARE(controller().running(), runningBefore);
}

void TestTrayClose::quitWhileConnectingWaitsForTheController()
{
    if (platform::hasNativeTrayMenu()) {
        QSKIP("The system's own tray menu is shown here, not the toolkit's this test drives");
    }
    QVERIFY(start(true));
    QVERIFY(bringTo(Vpn::Connecting));

    chooseFromMenu(u"Quit"_s);
    QTRY_VERIFY(tray().quitRequested());
    QTest::qWait(20);
    QCOMPARE(m_quits, 0);
    QVERIFY(tray().trayIcon()->isVisible());
    // Quitting, but not yet: the close button neither hides nor closes.
    QVERIFY(!window()->close());
    QVERIFY(window()->isVisible());
    QCOMPARE(m_quits, 0);

    m_fixture->adapter->finishStart();
    QTRY_COMPARE(m_quits, 1);
    QVERIFY(!tray().trayIcon()->isVisible());
    QVERIFY(controller().running());
    QTest::qWait(20);
    QCOMPARE(m_quits, 1);
    QVERIFY(m_answerer->questions.isEmpty());
    QCOMPARE(stopCalls(), 0);
}

void TestTrayClose::quitWhileConnectedQuitsAtOnce()
{
    // Without a tray, where closing while connected would ask.
    QVERIFY(start(false));
    QVERIFY(bringTo(Vpn::Connected));

    tray().requestQuit();
    QCOMPARE(m_quits, 1);
    QVERIFY(!tray().trayIcon()->isVisible());
    // The window closing on the way out asks nothing either.
    QVERIFY(window()->close());
    QCOMPARE(m_quits, 2);
    QVERIFY(m_answerer->questions.isEmpty());
    QVERIFY(controller().running());
    QCOMPARE(stopCalls(), 0);
}

void TestTrayClose::activationReasons_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("shows");
    QTest::newRow("click on the hidden window") << QSystemTrayIcon::Trigger << false << true;
    QTest::newRow("double click on the minimised window")
        << QSystemTrayIcon::DoubleClick << true << true;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << true << false;
}

void TestTrayClose::activationReasons()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, minimised);
    QFETCH(bool, shows);
    QVERIFY(start(true));
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    if (minimised) {
        window()->showMinimized();
    } else {
        QVERIFY(!window()->close());
    }

    emit tray().trayIcon()->activated(reason);
    if (shows) {
        QVERIFY(window()->isVisible());
        QVERIFY(!window()->isMinimized());
        QTRY_VERIFY(window()->isActiveWindow());
    } else {
        QCOMPARE(window()->isMinimized(), minimised);
        QCOMPARE(window()->isVisible(), minimised);
        QVERIFY(other.isActiveWindow());
    }
}

void TestTrayClose::toolkitMenuCommands_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<int>("guides");
    QTest::addColumn<int>("quits");
    QTest::newRow("open") << u"Open Solvik VPN"_s << true << 0 << 0;
    QTest::newRow("quick guide") << u"Quick guide"_s << true << 1 << 0;
    QTest::newRow("quit") << u"Quit"_s << false << 0 << 1;
    QTest::newRow("nothing chosen") << QString() << false << 0 << 0;
    QTest::newRow("connect") << u"Connect"_s << false << 0 << 0;
}

void TestTrayClose::toolkitMenuCommands()
{
    if (platform::hasNativeTrayMenu()) {
        QSKIP("The system's own tray menu is shown here, not the toolkit's this test drives");
    }
    QFETCH(QString, choice);
    QFETCH(bool, shows);
    QFETCH(int, guides);
    QFETCH(int, quits);
    QVERIFY(start(true));
    QVERIFY(!window()->close());
    QSignalSpy guide(&tray(), &TrayController::quickGuideRequested);
    QSignalSpy connects(&tray(), &TrayController::connectRequested);

    const QStringList lines = chooseFromMenu(choice);
    QCOMPARE(lines, QStringList(
                        {u"Open Solvik VPN"_s, u"Quick guide"_s, u"Connect"_s, u"-"_s, u"Quit"_s}));
    QCOMPARE(connects.size(), choice == u"Connect"_s ? 1 : 0);
    QCOMPARE(window()->isVisible(), shows);
    QCOMPARE(guide.size(), guides);
    // Quit runs only after the menu's loop has returned.
    QCOMPARE(m_quits, 0);
    QTRY_COMPARE(m_quits, quits);
    QTest::qWait(20);
    QCOMPARE(m_quits, quits);
    QCOMPARE(tray().quitRequested(), quits > 0);
    QCOMPARE(tray().trayIcon()->isVisible(), quits == 0);
}

QTEST_MAIN(TestTrayClose)
#include "tst_trayclose.moc"
