#include "locations/servercatalogue.h"
#include "locations/serverlocation.h"
#include "support/testhome.h"
#include "ui/pages/connectionpage.h"
#include "ui/widgets/refreshbutton.h"
#include "ui/widgets/servertree.h"
#include "windowfixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTreeWidgetItem>
#include <QUrlQuery>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

// A connect or switch asks the development backend for a profile and waits for the scripted
// adapter; under the sanitizers on a busy two-core machine a switch took more than 10 s.
constexpr int tunnelTimeoutMs = 30000;

// The connection page of the real window against the development backend: the catalogue in the
// tree, the search, the selection and what the Connect button does in each state.
class TestConnectionPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void catalogueFillsTheTree();
    void loadsEndWhereThePagesSay_data();
    void loadsEndWhereThePagesSay();
    void failedPageKeepsTheCatalogue();
    void searchShowsMatchingRows();
    void connectSwitchAndDisconnect();
    void freeAccountLosingItsServer_data();
    void freeAccountLosingItsServer();

private:
    ConnectionPage *page() const { return m_fixture->window->connectionPage(); }
    ServerCatalogue &catalogue() const { return m_fixture->window->services().catalogue(); }
    VpnController &controller() const { return m_fixture->window->services().controller(); }
    void start(const DevBackendOptions &options = {});
    QTreeWidgetItem *group(const QString &country) const;

    TestHome m_home;
    std::unique_ptr<WindowFixture> m_fixture;
};

void TestConnectionPage::initTestCase()
{
    QVERIFY(m_home.isValid());
}

void TestConnectionPage::cleanup()
{
    m_fixture.reset();
}

void TestConnectionPage::start(const DevBackendOptions &options)
{
    m_fixture = std::make_unique<WindowFixture>(options);
    QVERIFY(m_fixture->isValid());
    QVERIFY(m_fixture->signIn());
    QTRY_VERIFY_WITH_TIMEOUT(!catalogue().servers().isEmpty() && !catalogue().isLoading(), 10000);
}

QTreeWidgetItem *TestConnectionPage::group(const QString &country) const
{
    const QList<QTreeWidgetItem *> found = page()->tree()->findItems(country, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.constFirst();
}

void TestConnectionPage::catalogueFillsTheTree()
{
    start(); // 45 usable servers over 15 countries, three pages, two unusable records
    QCOMPARE(catalogue().servers().size(), 45);
    QCOMPARE(m_fixture->backend.requestCount(u"GET /servers"_s), 3);
    ServerTree *tree = page()->tree();
    QCOMPARE(tree->topLevelItemCount(), 15);
    QCOMPARE(page()->locationCount()->text(), u"15"_s);
    QStringList names;
    for (int index = 0; index < tree->topLevelItemCount(); ++index) {
        QTreeWidgetItem *country = tree->topLevelItem(index);
        names.append(country->text(0));
        QCOMPARE(country->data(0, ServerTree::ServerCountRole).toString(), u"3"_s);
        QCOMPARE(country->childCount(), 3);
        // Location fields come with the records; no lookup ran.
        QCOMPARE(country->toolTip(0),
                 u"Country inferred from the server name; location is approximate"_s);
        QCOMPARE(country->data(0, ServerTree::CountryCodeRole).toString().size(), 2);
    }
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(names, sorted);
    QTreeWidgetItem *server = tree->topLevelItem(0)->child(0);
    const QString endpoint = server->data(0, ServerTree::EndpointRole).toString();
    QVERIFY(QTextDocumentFragment::fromHtml(server->toolTip(0)).toPlainText().startsWith(endpoint));
}

void TestConnectionPage::loadsEndWhereThePagesSay_data()
{
    QTest::addColumn<int>("servers");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("kept");

    QTest::newRow("a short first page ends it") << 19 << 1 << 19;
    QTest::newRow("a full page asks for the next") << 20 << 2 << 20;
    QTest::newRow("page 100 ends it whatever it holds") << 2010 << 100 << 2000;
}

void TestConnectionPage::loadsEndWhereThePagesSay()
{
    QFETCH(int, servers);
    QFETCH(int, pages);
    QFETCH(int, kept);

    DevBackendOptions options;
    options.servers = servers;
    options.unusableServers = false;
    start(options);
    // Pages by number: a page refused for an expired token and sent again counts once.
    QSet<int> asked;
    for (const HttpRequest &request : m_fixture->backend.requests(u"GET /servers"_s)) {
        asked.insert(request.query().queryItemValue(u"page"_s).toInt());
    }
    QCOMPARE(asked.size(), pages);
    QCOMPARE(*std::max_element(asked.cbegin(), asked.cend()), pages);
    QCOMPARE(catalogue().servers().size(), kept);
}

void TestConnectionPage::failedPageKeepsTheCatalogue()
{
    start();
    const QList<api::ServerRecord> before = catalogue().servers();
    const int groups = page()->tree()->topLevelItemCount();
    page()->selectServer(before.at(4).id);
    // The second page of the next load fails.
    m_fixture->backend.setFault(u"GET /servers"_s,
                                DevBackendFault::withStatus(500, {}, 1).afterRequests(1));
    page()->refreshButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(page()->locationCount()->text(), u"Error"_s, 10000);
    QCOMPARE(catalogue().servers(), before);
    QCOMPARE(page()->tree()->topLevelItemCount(), groups);
    QCOMPARE(page()->selectedServerId(), before.at(4).id);
    QVERIFY(page()->messageLabel()->isVisible());
    // While it ran, the tree and quick connect kept working on the old catalogue.
    QVERIFY(!catalogue().isLoading());

    // The next load succeeds: its failure's message goes.
    m_fixture->backend.clearFaults();
    page()->refreshButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        page()->locationCount()->text() != u"Error"_s && !catalogue().isLoading(), 10000);
    QVERIFY(page()->messageLabel()->text().isEmpty());

    // A sign-out forgets the choice: the next account starts from its own.
    m_fixture->window->services().session().clear();
    QVERIFY(m_fixture->signIn());
    QCOMPARE(page()->selectedServerId(), QString());
}

void TestConnectionPage::searchShowsMatchingRows()
{
    start();
    ServerTree *tree = page()->tree();
    const api::ServerRecord target = catalogue().servers().at(4);
    // Users type whatever they know of a server: its country, city, name or address.
    for (const QString &query :
         {target.country.left(3), target.city, target.name, serverAddress(target)}) {
        page()->searchField()->setText(query);
        int shown = 0;
        bool targetShown = false;
        for (int index = 0; index < tree->topLevelItemCount(); ++index) {
            QTreeWidgetItem *country = tree->topLevelItem(index);
            for (int child = 0; !country->isHidden() && child < country->childCount(); ++child) {
                QTreeWidgetItem *row = country->child(child);
                shown += row->isHidden() ? 0 : 1;
                targetShown = targetShown || (!row->isHidden() &&
                                              row->data(0, ServerTree::ServerIdRole) == target.id);
            }
        }
        QVERIFY2(targetShown && shown < catalogue().servers().size(), qPrintable(query));
    }
    page()->searchField()->clear();
    for (int index = 0; index < tree->topLevelItemCount(); ++index) {
        QVERIFY(!tree->topLevelItem(index)->isHidden());
    }
}

void TestConnectionPage::connectSwitchAndDisconnect()
{
    start();
    const QString first = catalogue().servers().at(0).id;
    const QString second = catalogue().servers().at(1).id;
    QPushButton *button = page()->connectButton();

    page()->selectServer(first);
    QCOMPARE(page()->locationTitle()->text(), catalogue().record(first)->country);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(controller().running(), tunnelTimeoutMs);
    QCOMPARE(controller().currentServerId(), first);
    QTRY_COMPARE(button->text(), u"Disconnect"_s);
    QVERIFY(page()->connectedTime()->isVisible());
    QVERIFY(page()->connectedTime()->text().startsWith(u"Connected \u00b7 00:0"_s));

    // Another server selected: the button switches rather than disconnects.
    page()->selectServer(second);
    QCOMPARE(button->text(), u"Switch server"_s);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(controller().running() && controller().currentServerId() == second,
                             tunnelTimeoutMs);
    QTRY_COMPARE(button->text(), u"Disconnect"_s);

    // Offered a switch, the user can still just stop.
    page()->selectServer(first);
    QVERIFY(page()->disconnectButton()->isVisible());
    QTest::mouseClick(page()->disconnectButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!controller().running() && !controller().busy(), tunnelTimeoutMs);
    QVERIFY(!page()->disconnectButton()->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(controller().running(), tunnelTimeoutMs);

    // Nothing selected while connected: the button disconnects.
    page()->selectServer(QString());
    QCOMPARE(page()->locationTitle()->text(), u"Quick connect"_s);
    QCOMPARE(button->text(), u"Disconnect"_s);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!controller().running() && !controller().busy(), tunnelTimeoutMs);
    QCOMPARE(button->text(), u"Connect"_s);
    QVERIFY(!page()->connectedTime()->isVisible());

    // Quick connect picks a server of the catalogue and selects it.
    QTest::mouseClick(page()->quickConnectButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(controller().running(), tunnelTimeoutMs);
    QVERIFY(catalogue().contains(page()->selectedServerId()));
}

void TestConnectionPage::freeAccountLosingItsServer_data()
{
    QTest::addColumn<bool>("freeServersLeft");
    QTest::newRow("switches to the first free server") << true;
    QTest::newRow("disconnects when none is left") << false;
}

void TestConnectionPage::freeAccountLosingItsServer()
{
    QFETCH(bool, freeServersLeft);

    start();
    // A paid server of the catalogue, connected; then the account becomes free and the server
    // goes away.
    QString paid;
    for (const api::ServerRecord &server : catalogue().servers()) {
        if (server.tier != u"free"_s) {
            paid = server.id;
            break;
        }
    }
    page()->selectServer(paid);
    QTest::mouseClick(page()->connectButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(controller().running(), tunnelTimeoutMs);
    page()->setAccessTier(u"free"_s);
    m_fixture->backend.setServerEnabled(paid, false);
    QString fallback;
    for (const api::ServerRecord &server : catalogue().servers()) {
        const QString id = server.id;
        if (server.tier == u"free"_s) {
            if (fallback.isEmpty() && freeServersLeft) {
                fallback = id;
            } else if (!freeServersLeft) {
                m_fixture->backend.setServerEnabled(id, false);
            }
        }
    }
    page()->refreshButton()->click();
    if (freeServersLeft) {
        QTRY_VERIFY_WITH_TIMEOUT(
            controller().running() && controller().currentServerId() == fallback, tunnelTimeoutMs);
        QCOMPARE(page()->selectedServerId(), fallback);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!controller().running() && !controller().busy(), tunnelTimeoutMs);
    // The message outlives the stop it caused.
    QCOMPARE(page()->messageLabel()->text(),
             u"Paid access ended. No Free servers are currently available."_s);
    QVERIFY(page()->messageLabel()->isVisible());
}

QTEST_MAIN(TestConnectionPage)
#include "tst_connectionpage.moc"
