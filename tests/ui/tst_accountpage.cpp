#include "locations/servercatalogue.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/signinpage.h"
#include "ui/theme/themepalette.h"
#include "ui/widgets/navbutton.h"
#include "windowfixture.h"

#include <QFrame>
#include <QJsonDocument>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int replyTimeoutMs = 10000;

QByteArray jsonBody(const char *text)
{
    return QJsonDocument::fromJson(text).toJson(QJsonDocument::Compact);
}

} // namespace

// The account page of the real window against the development backend: the plan card, the
// offers, the web ticket, the device list with its two-step removal, and what sign-out leaves.
class TestAccountPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void planCards_data();
    void planCards();
    void offerReplies_data();
    void offerReplies();
    void accessFailure();
    void tierChangeReloadsServers();
    void planRenderBeforeFirstReply();
    void webTickets_data();
    void webTickets();
    void signedOutOpensPricing();
    void devicePages_data();
    void devicePages();
    void devicesFailure();
    void railButtonRefreshesTheAccount();
    void twoStepRemoval();
    void refusedRemovals_data();
    void refusedRemovals();
    void removingThisDevice_data();
    void removingThisDevice();
    void signOutEmptiesThePage();

private:
    AccountPage *page() const { return m_fixture->window->accountPage(); }
    DevBackend &backend() const { return m_fixture->backend; }
    VpnController &controller() const { return m_fixture->window->services().controller(); }
    QString demoEmail() const { return backend().options().demoEmail; }
    // A window watching what it would open in the browser, not yet signed in.
    void create(const DevBackendOptions &options = {});
    // Signs in, opens the account page and waits for the plan and the devices.
    void start(const DevBackendOptions &options = {});
    void openAccount();
    // The row whose name line is `name`, or ends with it when `suffix` is set.
    QFrame *row(const QString &name, bool suffix = false) const;
    QFrame *ownRow() const { return row(u" · This device"_s, true); }

    TestHome m_home;
    std::unique_ptr<WindowFixture> m_fixture;
    QList<QUrl> m_opened;
};

void TestAccountPage::initTestCase()
{
    QVERIFY(m_home.isValid());
}

void TestAccountPage::cleanup()
{
    m_fixture.reset();
    m_opened.clear();
}

void TestAccountPage::create(const DevBackendOptions &options)
{
    m_fixture = std::make_unique<WindowFixture>(options);
    QVERIFY(m_fixture->isValid());
    m_fixture->window->services().setUrlOpener([this](const QUrl &url) {
        m_opened.append(url);
        return true;
    });
}

void TestAccountPage::start(const DevBackendOptions &options)
{
    if (!m_fixture) {
        create(options);
    }
    QVERIFY(m_fixture->signIn());
    openAccount();
    QTRY_VERIFY_WITH_TIMEOUT(page()->offerButton(2)->isEnabled(), replyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(page()->devicesTitle()->text().endsWith(u" / 3"_s), replyTimeoutMs);
}

void TestAccountPage::openAccount()
{
    QTest::mouseClick(m_fixture->window->navigationButton(MainWindow::Account), Qt::LeftButton);
    QCOMPARE(m_fixture->window->pages()->currentIndex(), int(MainWindow::Account));
}

QFrame *TestAccountPage::row(const QString &name, bool suffix) const
{
    const QList<QFrame *> rows = page()->deviceRows();
    for (QFrame *candidate : rows) {
        const QList<QLabel *> labels = candidate->findChildren<QLabel *>();
        if (labels.isEmpty()) {
            continue;
        }
        const QString text = labels.constFirst()->text();
        if (suffix ? text.endsWith(name) : text == name) {
            return candidate;
        }
    }
    return nullptr;
}

void TestAccountPage::planCards_data()
{
    QTest::addColumn<QString>("tier");
    QTest::addColumn<QString>("pill");
    QTest::addColumn<QString>("darkStyle");
    QTest::addColumn<QString>("lightStyle");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("detail"); // a pattern
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QStringList>("buttons");

    // The development backend's paid plan ends 30 days less 7 hours after the account was made.
    QTest::newRow("paid") << u"paid"_s << u"● Plan active"_s << u"color:#87d6c2"_s
                          << u"color:"_s + ThemePalette(true, QColor(u"#87d6c2"_s)).strong.name()
                          << u"29d 17h left"_s << uR"(^Until \d\d\.\d\d\.\d{4} \d\d:\d\d$)"_s
                          << u"29d 17h left"_s
                          << QStringList{u"Current plan"_s, u"3 months of Premium"_s,
                                         u"Best value · 12 months"_s}
                          << QStringList{u"Manage plan"_s, u"Subscribe"_s, u"Subscribe"_s};
    QTest::newRow("free") << u"free"_s << u"Free"_s << QString() << QString() << u"Free plan"_s
                          << u"^No expiry · Free servers included$"_s << u"Free plan"_s
                          << QStringList{u"1 month of Premium"_s, u"3 months of Premium"_s,
                                         u"Best value · 12 months"_s}
                          << QStringList{u"Subscribe"_s, u"Subscribe"_s, u"Subscribe"_s};
}

void TestAccountPage::planCards()
{
    QFETCH(QString, tier);
    QFETCH(QString, pill);
    QFETCH(QString, darkStyle);
    QFETCH(QString, lightStyle);
    QFETCH(QString, time);
    QFETCH(QString, detail);
    QFETCH(QString, summary);
    QFETCH(QStringList, notes);
    QFETCH(QStringList, buttons);

    DevBackendOptions options;
    options.demoTier = tier;
    start(options);
    QCOMPARE(page()->emailLabel()->text(), demoEmail());
    QCOMPARE(page()->planPill()->text(), pill);
    QCOMPARE(page()->planPill()->styleSheet(), darkStyle);
    QCOMPARE(page()->planTimeLabel()->text(), time);
    QVERIFY2(QRegularExpression(detail).match(page()->planDetail()->text()).hasMatch(),
             qPrintable(page()->planDetail()->text()));
    QCOMPARE(m_fixture->window->connectionPage()->planTime()->text(), summary);
    const QStringList prices{u"$4.99"_s, u"$12.99"_s, u"$39.99"_s};
    for (int card = 0; card < 3; ++card) {
        QCOMPARE(page()->offerPrice(card)->text(), prices.at(card));
        QCOMPARE(page()->offerNote(card)->text(), notes.at(card));
        QCOMPARE(page()->offerButton(card)->text(), buttons.at(card));
        QVERIFY(page()->offerButton(card)->isEnabled());
    }
    // The guided tour finds the card by name.
    QCOMPARE(m_fixture->window->findChild<QFrame *>(u"subscriptionCard"_s),
             page()->subscriptionCard());

    // A theme change paints the pill again.
    settings::setTheme(u"light"_s);
    m_fixture->window->applyTheme();
    QCOMPARE(page()->planPill()->styleSheet(), lightStyle);
}

void TestAccountPage::offerReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("prices");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QList<bool>>("enabled");

    QTest::newRow("three months only in euros") << 200 << jsonBody(R"({"data": {"items": [
               {"_id": "a", "enabled": true, "tier": "paid", "days": 30, "currency": "USD",
                "price": 499},
               {"_id": "b", "enabled": true, "tier": "paid", "days": 90, "currency": "EUR",
                "price": 1199},
               {"_id": "c", "enabled": true, "tier": "paid", "days": 365, "currency": "USD",
                "price": 1000}]}})") << QStringList{u"$4.99"_s, u"—"_s, u"$10.00"_s}
                                                << QStringList{u"1 month of Premium"_s,
                                                               u"Currently unavailable"_s,
                                                               u"Best value · 12 months"_s}
                                                << QList<bool>{true, false, true};
    QTest::newRow("failed reply") << 500 << QByteArray() << QStringList{u"—"_s, u"—"_s, u"—"_s}
                                  << QStringList{u"Could not load plans"_s,
                                                 u"Could not load plans"_s,
                                                 u"Could not load plans"_s}
                                  << QList<bool>{false, false, false};
}

void TestAccountPage::offerReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, prices);
    QFETCH(QStringList, notes);
    QFETCH(QList<bool>, enabled);

    create();
    backend().setFault(u"GET /plans"_s, DevBackendFault::withStatus(status, body));
    QVERIFY(m_fixture->signIn());
    QTRY_COMPARE_WITH_TIMEOUT(page()->offerNote(1)->text(), notes.at(1), replyTimeoutMs);
    for (int card = 0; card < 3; ++card) {
        QCOMPARE(page()->offerPrice(card)->text(), prices.at(card));
        QCOMPARE(page()->offerNote(card)->text(), notes.at(card));
        QCOMPARE(page()->offerButton(card)->isEnabled(), enabled.at(card));
    }
}

void TestAccountPage::accessFailure()
{
    create();
    backend().setFault(u"GET /access/me"_s, DevBackendFault::withStatus(500));
    QVERIFY(m_fixture->signIn());
    QTRY_COMPARE_WITH_TIMEOUT(page()->planPill()->text(), u"Could not refresh your plan"_s,
                              replyTimeoutMs);
    // Reported on the page on top.
    QCOMPARE(m_fixture->window->connectionPage()->messageLabel()->text(),
             u"Something went wrong on our side. Please try again later."_s);
    QCOMPARE(page()->planTimeLabel()->text(), u"—"_s);
    QCOMPARE(backend().requestCount(u"GET /plans"_s), 0);
}

void TestAccountPage::tierChangeReloadsServers()
{
    start();
    ServerCatalogue &catalogue = m_fixture->window->services().catalogue();
    QTRY_VERIFY_WITH_TIMEOUT(!catalogue.isLoading() && !catalogue.servers().isEmpty(),
                             replyTimeoutMs);
    const int loads = backend().requestCount(u"GET /servers"_s);
    QPushButton *refresh = WindowFixture::button(page(), u"Refresh plan"_s);

    backend().setAccountTier(demoEmail(), u"free"_s, u"none"_s);
    QTest::mouseClick(refresh, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(page()->planPill()->text(), u"Free"_s, replyTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!catalogue.isLoading() &&
                                 backend().requestCount(u"GET /servers"_s) > loads,
                             replyTimeoutMs);

    // The same tier and plan again: the catalogue stays as it is.
    const int reloaded = backend().requestCount(u"GET /servers"_s);
    const int offers = backend().requestCount(u"GET /plans"_s);
    QTest::mouseClick(refresh, Qt::LeftButton);
    // One handler of the access reply asks for the offers and decides on a reload: once the
    // backend has seen the one, the other has been made.
    QTRY_COMPARE_WITH_TIMEOUT(backend().requestCount(u"GET /plans"_s), offers + 1, replyTimeoutMs);
    QVERIFY(!catalogue.isLoading());
    QCOMPARE(backend().requestCount(u"GET /servers"_s), reloaded);
}

void TestAccountPage::planRenderBeforeFirstReply()
{
    create();
    backend().setFault(u"GET /access/me"_s, DevBackendFault::delay(1500));
    page()->setPlanRenderInterval(50);
    QVERIFY(!page()->isPlanRenderActive());
    QVERIFY(m_fixture->signIn());
    QVERIFY(page()->isPlanRenderActive());
    // Signed in, the timer asks again for the access information at each turn.
    QTRY_VERIFY_WITH_TIMEOUT(backend().requestCount(u"GET /access/me"_s) >= 3, replyTimeoutMs);
    page()->setPlanRenderInterval(AccountPage::planRenderIntervalMs);
    // Re-rendered several times without an access record: still asking, never "inactive".
    QCOMPARE(page()->planPill()->text(), u"Checking your plan…"_s);
    QCOMPARE(page()->planTimeLabel()->text(), u"—"_s);
    QCOMPARE(m_fixture->window->connectionPage()->planTime()->text(), u"Checking…"_s);

    QTRY_COMPARE_WITH_TIMEOUT(page()->planPill()->text(), u"● Plan active"_s, replyTimeoutMs);
    QCOMPARE(m_fixture->window->connectionPage()->planTime()->text(),
             page()->planTimeLabel()->text());
}

void TestAccountPage::webTickets_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("status"); // 0: the backend's own ticket
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("fragment"); // a pattern; empty: nothing opens

    QTest::newRow("a period's card")
        << u"3 Months"_s << 0 << QByteArray() << u"^token=[A-Za-z0-9_-]{43}&period=quarterly$"_s;
    QTest::newRow("the plans link") << u"View plans and subscribe"_s << 0 << QByteArray()
                                    << u"^token=[A-Za-z0-9_-]{43}&period=$"_s;
    QTest::newRow("a short ticket")
        << u"3 Months"_s << 201 << jsonBody(R"({"data": {"token": "abc", "expiresIn": 60}})")
        << QString();
    QTest::newRow("a ticket that is no text")
        << u"3 Months"_s << 201 << jsonBody(R"({"data": {"token": 12345}})") << QString();
    QTest::newRow("a refused request")
        << u"View plans and subscribe"_s << 500 << QByteArray() << QString();
}

void TestAccountPage::webTickets()
{
    QFETCH(QString, button);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, fragment);

    start();
    if (status != 0) {
        backend().setFault(u"POST /auth/web-ticket"_s, DevBackendFault::withStatus(status, body));
    }
    QPushButton *clicked =
        button == u"3 Months"_s ? page()->offerButton(1) : WindowFixture::button(page(), button);
    QTest::mouseClick(clicked, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(backend().requestCount(u"POST /auth/web-ticket"_s), 1,
                              replyTimeoutMs);
    if (fragment.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(page()->messageLabel()->text(),
                                  u"Could not open subscription plans. Please try again."_s,
                                  replyTimeoutMs);
        QVERIFY(page()->messageLabel()->isVisible());
        QVERIFY(m_opened.isEmpty());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, replyTimeoutMs);
    const QUrl opened = m_opened.constFirst();
    QCOMPARE(opened.adjusted(QUrl::RemoveFragment).toString(),
             u"http://127.0.0.1:3000/app-sign-in"_s);
    QVERIFY(!opened.hasQuery());
    QVERIFY2(QRegularExpression(fragment).match(opened.fragment(QUrl::FullyEncoded)).hasMatch(),
             qPrintable(opened.toString()));
    QVERIFY(page()->messageLabel()->isHidden());
}

void TestAccountPage::signedOutOpensPricing()
{
    create();
    page()->openSubscriptionPlans(u"monthly"_s);
    QCOMPARE(m_opened, QList<QUrl>{QUrl(u"http://127.0.0.1:3000/pricing"_s)});
    QCOMPARE(backend().requestCount(u"POST /auth/web-ticket"_s), 0);
}

void TestAccountPage::devicePages_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("pages");

    QTest::newRow("19 fit on one page") << 19 << 1;
    QTest::newRow("a full page asks for the next") << 20 << 2;
}

void TestAccountPage::devicePages()
{
    QFETCH(int, devices);
    QFETCH(int, pages);

    start();
    // Past the limit of three, as a limit lowered later leaves an account.
    for (int added = 1; added < devices; ++added) {
        QVERIFY(!backend().addDevice(demoEmail(), u"Device %1"_s.arg(added)).isEmpty());
    }
    const int before = backend().requestCount(u"GET /devices"_s);
    QTest::mouseClick(WindowFixture::button(page(), u"Refresh"_s), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(page()->devicesTitle()->text(), u"Devices · %1 / 3"_s.arg(devices),
                              replyTimeoutMs);
    QCOMPARE(backend().requestCount(u"GET /devices"_s) - before, pages);
    QCOMPARE(page()->deviceRows().size(), devices);
    QVERIFY(ownRow());
    QVERIFY(row(u"Device %1"_s.arg(devices - 1)));
}

void TestAccountPage::devicesFailure()
{
    create();
    backend().setFault(u"GET /devices"_s, DevBackendFault::withStatus(503));
    QVERIFY(m_fixture->signIn());
    QTRY_COMPARE_WITH_TIMEOUT(page()->devicesTitle()->text(), u"Devices · unavailable"_s,
                              replyTimeoutMs);
    QCOMPARE(page()->messageLabel()->text(),
             u"Something went wrong on our side. Please try again later."_s);
    QVERIFY(!page()->messageLabel()->isHidden());
    QVERIFY(page()->deviceRows().isEmpty());
}

void TestAccountPage::railButtonRefreshesTheAccount()
{
    start();
    const int accessRequests = backend().requestCount(u"GET /access/me"_s);
    const int deviceRequests = backend().requestCount(u"GET /devices"_s);
    QTest::mouseClick(m_fixture->window->navigationButton(MainWindow::Connection), Qt::LeftButton);
    QCOMPARE(backend().requestCount(u"GET /access/me"_s), accessRequests);
    openAccount();
    QCOMPARE(page()->devicesTitle()->text(), u"Devices · loading…"_s);
    QTRY_COMPARE_WITH_TIMEOUT(backend().requestCount(u"GET /access/me"_s), accessRequests + 1,
                              replyTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(backend().requestCount(u"GET /devices"_s), deviceRequests + 1,
                              replyTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(page()->devicesTitle()->text(), u"Devices · 1 / 3"_s, replyTimeoutMs);
}

void TestAccountPage::twoStepRemoval()
{
    create();
    QVERIFY(!backend().addDevice(demoEmail(), u"Spare laptop"_s).isEmpty());
    start();
    QCOMPARE(page()->devicesTitle()->text(), u"Devices · 2 / 3"_s);
    QFrame *spare = row(u"Spare laptop"_s);
    QVERIFY(spare);
    QPushButton *remove = WindowFixture::button(spare, u"Remove"_s);
    QPushButton *cancel = WindowFixture::button(spare, u"Cancel"_s);
    QVERIFY(remove && cancel);
    QVERIFY(!cancel->isVisible());

    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(remove->text(), u"Confirm removal"_s);
    QVERIFY(cancel->isVisible());
    QTest::mouseClick(cancel, Qt::LeftButton);
    QCOMPARE(remove->text(), u"Remove"_s);
    QVERIFY(!cancel->isVisible());
    QTest::qWait(50);
    QCOMPARE(backend().requestCount(u"DELETE /devices/*"_s), 0);

    QTest::mouseClick(remove, Qt::LeftButton);
    QTest::mouseClick(remove, Qt::LeftButton);
    QVERIFY(!remove->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(page()->devicesTitle()->text(), u"Devices · 1 / 3"_s, replyTimeoutMs);
    QCOMPARE(backend().requestCount(u"DELETE /devices/*"_s), 1);
    QCOMPARE(backend().deviceCount(demoEmail()), 1);
    QVERIFY(ownRow());
    QVERIFY(page()->messageLabel()->isHidden());
    QVERIFY(m_fixture->window->services().session().authenticated());
}

void TestAccountPage::refusedRemovals_data()
{
    QTest::addColumn<bool>("vpnBusy");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("requests");

    QTest::newRow("while the VPN connects")
        << true << u"Wait for the VPN operation to finish, then try again."_s << 0;
    QTest::newRow("the backend refuses")
        << false << u"Something went wrong on our side. Please try again later."_s << 1;
}

void TestAccountPage::refusedRemovals()
{
    QFETCH(bool, vpnBusy);
    QFETCH(QString, message);
    QFETCH(int, requests);

    create();
    QVERIFY(!backend().addDevice(demoEmail(), u"Spare laptop"_s).isEmpty());
    start();
    if (vpnBusy) {
        m_fixture->adapter->completion = FakeTunnelAdapter::Completion::Manual;
        controller().connectVpn(backend().serverIds().constFirst());
        QTRY_VERIFY_WITH_TIMEOUT(controller().busy(), replyTimeoutMs);
    } else {
        backend().setFault(u"DELETE /devices/*"_s, DevBackendFault::withStatus(500));
    }
    QPointer<QFrame> spare = row(u"Spare laptop"_s);
    QPushButton *remove = WindowFixture::button(spare, u"Remove"_s);
    remove->click();
    remove->click();
    // The busy refusal rebuilds the rows from inside the click: the old row is still there,
    // hidden, until the click is over.
    if (vpnBusy) {
        QVERIFY(spare);
        QVERIFY(spare->isHidden());
    }
    QTRY_COMPARE_WITH_TIMEOUT(page()->messageLabel()->text(), message, replyTimeoutMs);
    QTRY_VERIFY(!spare);
    QCOMPARE(backend().requestCount(u"DELETE /devices/*"_s), requests);
    QCOMPARE(backend().deviceCount(demoEmail()), 2);
    // Fresh rows with the first step again.
    QFrame *again = row(u"Spare laptop"_s);
    QVERIFY(again);
    QPushButton *fresh = WindowFixture::button(again, u"Remove"_s);
    QVERIFY(fresh && fresh->isEnabled());
    QVERIFY(!WindowFixture::button(again, u"Cancel"_s)->isVisible());
}

void TestAccountPage::removingThisDevice_data()
{
    QTest::addColumn<bool>("connected");

    QTest::newRow("connected: the tunnel stops") << true;
    QTest::newRow("disconnected: nothing to stop") << false;
}

void TestAccountPage::removingThisDevice()
{
    QFETCH(bool, connected);

    start();
    controller().connectVpn(backend().serverIds().constFirst());
    QTRY_VERIFY_WITH_TIMEOUT(controller().running(), replyTimeoutMs);
    if (!connected) {
        controller().disconnectVpn();
        QTRY_VERIFY_WITH_TIMEOUT(!controller().running() && !controller().busy(), replyTimeoutMs);
        // The tunnel is still known: stopping it again would ask for elevation for nothing.
        QVERIFY(!controller().managedTunnel().isEmpty());
    }
    m_fixture->adapter->calls.clear();

    QFrame *own = ownRow();
    QVERIFY(own);
    QPushButton *remove = WindowFixture::button(own, u"Remove"_s);
    QTest::mouseClick(remove, Qt::LeftButton);
    QTest::mouseClick(remove, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->window->pages()->currentIndex(), int(MainWindow::SignIn),
                              replyTimeoutMs);
    QVERIFY(!m_fixture->window->services().session().authenticated());
    QCOMPARE(m_fixture->window->signInPage()->messageLabel()->text(),
             u"This device was removed. Sign in to register it again."_s);
    QVERIFY(m_fixture->window->signInPage()->messageLabel()->isVisible());
    QCOMPARE(backend().deviceCount(demoEmail()), 0);
    const QStringList stops = m_fixture->adapter->calls.filter(QRegularExpression(u"^stop "_s));
    QCOMPARE(stops.size(), connected ? 1 : 0);
}

void TestAccountPage::signOutEmptiesThePage()
{
    create();
    QVERIFY(!backend().addDevice(demoEmail(), u"Spare laptop"_s).isEmpty());
    start();
    // Replies still on their way when the session ends must not fill the page again.
    backend().setFault(u"GET /devices"_s, DevBackendFault::delay(300));
    backend().setFault(u"GET /access/me"_s, DevBackendFault::delay(300));
    backend().setFault(u"POST /auth/logout"_s, DevBackendFault::delay(100));
    QTest::mouseClick(WindowFixture::button(page(), u"Refresh"_s), Qt::LeftButton);
    QTest::mouseClick(WindowFixture::button(page(), u"Refresh plan"_s), Qt::LeftButton);
    QPushButton *signOut = WindowFixture::button(page(), u"Sign out"_s);
    QTest::mouseClick(signOut, Qt::LeftButton);
    QTest::mouseClick(signOut, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->window->pages()->currentIndex(), int(MainWindow::SignIn),
                              replyTimeoutMs);
    QTest::qWait(500);
    QCOMPARE(backend().requestCount(u"POST /auth/logout"_s), 1);
    QVERIFY(!page()->isPlanRenderActive());
    QVERIFY(page()->emailLabel()->text().isEmpty());
    QCOMPARE(page()->devicesTitle()->text(), u"Devices"_s);
    QVERIFY(page()->deviceRows().isEmpty());
    QVERIFY(page()->devices().isEmpty());
    QVERIFY(page()->access() == api::AccessRecord());
    QCOMPARE(page()->planPill()->text(), u"Checking your plan…"_s);
    QCOMPARE(page()->planPill()->styleSheet(), QString());
    QCOMPARE(page()->planTimeLabel()->text(), u"—"_s);
    QCOMPARE(m_fixture->window->connectionPage()->planTime()->text(), u"Checking…"_s);
    for (int card = 0; card < 3; ++card) {
        QCOMPARE(page()->offerPrice(card)->text(), u"—"_s);
        QCOMPARE(page()->offerNote(card)->text(), u"Loading price…"_s);
        QVERIFY(!page()->offerButton(card)->isEnabled());
    }
}

QTEST_MAIN(TestAccountPage)
#include "tst_accountpage.moc"
