#include "api/backendcatalogue.h"
#include "api/replyrules.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "ui/clientlog.h"
#include "ui/clientservices.h"
#include "ui/mainwindow.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/settingspage.h"
#include "ui/pages/signinpage.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/navbutton.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// The real window, offscreen, against an in-process development backend and a scripted tunnel
// adapter: typed input, clicks and what the pages show.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void signInWithEnterShowsConnectionPage();
    void refusedSignIns_data();
    void refusedSignIns();
    void createAccountSendsEmptyFields();
    void railWhileSignedOut();
    void keyboardReachesEveryControl();
    void signOutOutcomes_data();
    void signOutOutcomes();
    void quickPageSwitchesLeaveOneOverlay();
    void appearanceChoicesApplyAtOnce();
    void problemReportFromTheSettingsPage();
    void restOfTheWindowFollowsItsFirstFrame();

private:
    void signIn();
    QPushButton *button(QWidget *parent, const QString &text) const
    {
        return WindowFixture::button(parent, text);
    }

    TestHome m_home;
    std::unique_ptr<WindowFixture> m_fixture;
    MainWindow *m_window = nullptr;
    DevBackend *m_backend = nullptr;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_home.isValid());
}

void TestMainWindow::init()
{
    m_fixture = std::make_unique<WindowFixture>();
    QVERIFY(m_fixture->isValid());
    m_window = m_fixture->window.get();
    m_backend = &m_fixture->backend;
}

void TestMainWindow::cleanup()
{
    m_fixture.reset();
}

void TestMainWindow::signIn()
{
    QVERIFY(m_fixture->signIn());
}

void TestMainWindow::signInWithEnterShowsConnectionPage()
{
    signIn();
    QVERIFY(m_window->services().session().authenticated());
    NavButton *connection = m_window->navigationButton(MainWindow::Connection);
    QVERIFY(connection->isActive());
    QVERIFY(!m_window->navigationButton(MainWindow::Settings)->isActive());
    QTRY_COMPARE(m_window->navigationIndicator()->geometry(), connection->geometry());
    QVERIFY(m_window->navigationIndicator()->isVisible());
    // The controller learned the account the window signed in.
    QVERIFY(m_window->services().controller().accountApplied());
    QVERIFY(!m_window->signInPage()->isEnabled() ||
            !m_window->signInPage()->emailEdit()->isEnabled());
}

void TestMainWindow::refusedSignIns_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("requests"); // sign-in requests that reached the backend

    QTest::newRow("wrong password")
        << u"demo@example.com"_s << u"not-the-password"_s << u"Incorrect email or password."_s << 1;
    QTest::newRow("empty password")
        << u"demo@example.com"_s << QString() << u"Incorrect email or password."_s << 0;
    QTest::newRow("blank address")
        << u"   "_s << u"something"_s << u"Incorrect email or password."_s << 0;
}

void TestMainWindow::refusedSignIns()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(int, requests);

    SignInPage *page = m_window->signInPage();
    QTest::keyClicks(page->emailEdit(), email);
    QTest::keyClicks(page->passwordEdit(), password);
    // The eye was on: the answer masks the field again.
    page->passwordEye()->setChecked(true);
    QTest::mouseClick(button(page, u"Sign in"_s), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(page->messageLabel()->text(), message, 10000);
    QVERIFY(page->messageLabel()->isVisible());
    QCOMPARE(m_backend->requestCount(u"POST /auth/login"_s), requests);
    if (requests > 0) {
        QVERIFY(page->passwordEdit()->text().isEmpty());
        QCOMPARE(page->passwordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(!page->passwordEye()->isChecked());
    }
    QVERIFY(page->emailEdit()->isEnabled());
    QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::SignIn));
}

void TestMainWindow::createAccountSendsEmptyFields()
{
    SignInPage *page = m_window->signInPage();
    QTest::mouseClick(button(page, u"Create account"_s), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!page->messageLabel()->text().isEmpty(), 10000);
    QCOMPARE(m_backend->requestCount(u"POST /auth/register"_s), 1);
    // One line of the refusal, never the text of the reply.
    QVERIFY(!page->messageLabel()->text().contains(u'\n'));
    QVERIFY(page->messageLabel()->text().startsWith(u"Something went wrong"_s) ||
            page->messageLabel()->text().startsWith(u"This action"_s));
}

void TestMainWindow::railWhileSignedOut()
{
    QTest::mouseClick(m_window->navigationButton(MainWindow::Connection), Qt::LeftButton);
    QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::SignIn));
    QVERIFY(!m_window->navigationIndicator()->isVisible());
    QTest::mouseClick(m_window->navigationButton(MainWindow::Settings), Qt::LeftButton);
    QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::SignIn));
    QCOMPARE(m_window->signInPage()->messageLabel()->text(), u"Sign in to change settings."_s);
}

void TestMainWindow::keyboardReachesEveryControl()
{
    SignInPage *page = m_window->signInPage();
    page->quickGuideCard()->show();
    // Every control names itself to assistive technology.
    const QList<QWidget *> controls = m_window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (control->isVisibleTo(m_window) && control->focusPolicy() & Qt::TabFocus) {
            const auto *button = qobject_cast<QPushButton *>(control);
            QVERIFY2(!control->accessibleName().isEmpty() || (button && !button->text().isEmpty()),
                     control->metaObject()->className());
        }
    }
    // Tab walks the page from top to bottom.
    const auto nameOf = [](QWidget *widget) {
        const auto *button = qobject_cast<QPushButton *>(widget);
        return button && !button->text().isEmpty() ? button->text() : widget->accessibleName();
    };
    button(page, u"Take the tour"_s)->setFocus();
    QStringList order;
    for (int step = 0; step < 7; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(nameOf(QApplication::focusWidget()));
    }
    QCOMPARE(order, (QStringList{u"Email"_s, u"Password"_s, u"Sign in"_s, u"Create account"_s,
                                 u"Verify email"_s, u"Forgot password?"_s, u"Connection"_s}));
}

void TestMainWindow::signOutOutcomes_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("logoutStatus"); // 0: the backend answers normally
    QTest::addColumn<bool>("signedOut");

    QTest::newRow("signed out") << false << 0 << true;
    QTest::newRow("session already unknown to the backend") << false << 401 << true;
    QTest::newRow("refused while connected") << true << 0 << false;
}

void TestMainWindow::signOutOutcomes()
{
    QFETCH(bool, connected);
    QFETCH(int, logoutStatus);
    QFETCH(bool, signedOut);

    signIn();
    VpnController &controller = m_window->services().controller();
    if (connected) {
        const QString serverId = m_backend->serverIds().constFirst();
        controller.connectVpn(serverId);
        QTRY_VERIFY_WITH_TIMEOUT(controller.running(), 10000);
    }
    if (logoutStatus != 0) {
        m_backend->setFault(u"POST /auth/logout"_s, DevBackendFault::withStatus(logoutStatus));
    }
    m_window->showPage(MainWindow::Account);
    QPushButton *signOut = button(m_window->accountPage(), u"Sign out"_s);
    QTRY_VERIFY(signOut->isVisible());
    const QPoint signOutAt = signOut->mapTo(m_window, QPoint(0, 0));
    m_window->logout();
    if (signedOut) {
        QTRY_COMPARE_WITH_TIMEOUT(m_window->pages()->currentIndex(), int(MainWindow::SignIn),
                                  10000);
        QVERIFY(!m_window->services().session().authenticated());
        QVERIFY(m_window->signInPage()->emailEdit()->isEnabled());
        QVERIFY(!m_window->navigationIndicator()->isVisible());
        // The log says so, without the address.
        const QString log = DiagnosticLog::tail(ClientLog::defaultPath(), 20).join(u'\n');
        QVERIFY(log.contains(u" info  session.signedOut"_s));
        QVERIFY(!log.contains(u"@example.com"_s));
    } else {
        QVERIFY(m_window->services().session().authenticated());
        QCOMPARE(m_backend->requestCount(u"POST /auth/logout"_s), 0);
        // Said beside the button, which stays under the pointer, until the tunnel is down.
        QLabel *message = m_window->accountPage()->footerMessage();
        QTRY_VERIFY(message->isVisible());
        QCOMPARE(message->text(), u"Disconnect the VPN first."_s);
        QCOMPARE(signOut->mapTo(m_window, QPoint(0, 0)), signOutAt);
        controller.disconnectVpn();
        QTRY_VERIFY_WITH_TIMEOUT(message->isHidden(), 10000);
    }
}

void TestMainWindow::quickPageSwitchesLeaveOneOverlay()
{
    signIn();
    const auto overlays = [this] {
        int count = 0;
        const QList<QLabel *> labels =
            m_window->pages()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
        for (QLabel *label : labels) {
            count += label->graphicsEffect() != nullptr;
        }
        return count;
    };
    m_window->showPage(MainWindow::Account);
    QTRY_COMPARE(overlays(), 0);
    QWidget *stack = m_window->pages();
    const QImage shown = m_window->grab(QRect(stack->mapTo(m_window, QPoint(0, 0)), stack->size()))
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    m_window->showPage(MainWindow::Settings);
    // The fading picture is the page exactly as it was on screen, with no veil of its own.
    const QList<QLabel *> labels = stack->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(labels.constLast()->pixmap().toImage().convertToFormat(QImage::Format_RGB32), shown);
    m_window->showPage(MainWindow::Connection);
    QCOMPARE(overlays(), 1);
    QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::Connection));
    QTRY_COMPARE_WITH_TIMEOUT(overlays(), 0, 2000);
}

void TestMainWindow::appearanceChoicesApplyAtOnce()
{
    SettingsPage *page = m_window->settingsPage();
    const QString before = m_window->styleSheet();
    page->themeChooser()->setCurrentIndex(page->themeChooser()->findData(u"light"_s));
    page->accentChooser()->setCurrentIndex(page->accentChooser()->findData(u"#ff91ad"_s));
    QCOMPARE(settings::theme(), u"light"_s);
    QCOMPARE(settings::accent(), u"#ff91ad"_s);
    QVERIFY(m_window->styleSheet() != before);
    QVERIFY(m_window->styleSheet().contains(u"background: #f4f6f7"_s));
    QVERIFY(m_window->styleSheet().contains(u"#ff91ad"_s));

    // A stored accent that is none of the choices shows no item, and building the page stores
    // nothing.
    settings::setAccent(u"#123456"_s);
    SettingsPage fresh;
    QCOMPARE(fresh.accentChooser()->currentIndex(), -1);
    QCOMPARE(fresh.themeChooser()->currentData().toString(), u"light"_s);
    QCOMPARE(settings::accent(), u"#123456"_s);
}

void TestMainWindow::problemReportFromTheSettingsPage()
{
    SettingsPage *page = m_window->settingsPage();
    page->themeChooser()->setCurrentIndex(page->themeChooser()->findData(u"light"_s));
    QTemporaryDir directory;
    QString chosen = directory.filePath(u"report.txt"_s);
    page->setReportPathChooser([&chosen](QWidget *) { return chosen; });
    page->problemReportButton()->click();
    QFile report(chosen);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    QVERIFY(text.startsWith("Solvik VPN problem report\n"));
    QVERIFY(text.contains("  Theme: light\n"));
    QVERIFY(text.contains(" settings.changed name=theme value=light"));
    QVERIFY(page->messageLabel()->isHidden());

    // A folder that is not there: the page says so and nothing is left behind.
    chosen = directory.filePath(u"missing/report.txt"_s);
    page->problemReportButton()->click();
    QVERIFY(page->messageLabel()->isVisibleTo(page));
    QVERIFY(page->messageLabel()->text().startsWith(u"The problem report could not be saved"_s));
    QCOMPARE(QDir(directory.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{u"report.txt"_s});
}

// The signed-out window is drawn with its sign-in page alone; the other pages and the window icon
// follow the first frame, a window never shown gets them once the client runs, and asking for a
// page builds them at once.
void TestMainWindow::restOfTheWindowFollowsItsFirstFrame()
{
    QTRY_COMPARE(m_window->pages()->count(), 4);
    QVERIFY(!m_window->windowIcon().isNull());

    const auto window = [] {
        return std::make_unique<MainWindow>(std::make_unique<FakeTunnelAdapter>(),
                                            ClientServices::Lookups::Disabled);
    };
    const auto shown = window();
    shown->show();
    QCOMPARE(shown->pages()->count(), 1);
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
    QTRY_COMPARE(shown->pages()->count(), 4);

    const auto hidden = window();
    QTRY_COMPARE(hidden->pages()->count(), 4);

    const auto asked = window();
    QVERIFY(asked->settingsPage());
    QCOMPARE(asked->pages()->count(), 4);
    QCOMPARE(asked->pages()->widget(MainWindow::Settings), asked->settingsPage());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
