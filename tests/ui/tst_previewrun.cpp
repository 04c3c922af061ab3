#include "settings/settingskeys.h"
#include "support/faketunneladapter.h"
#include "support/testhome.h"
#include "ui/mainwindow.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/signinpage.h"
#include "ui/previewrun.h"
#include "ui/websitecapture.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/servertree.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList pngFiles(const QString &directory)
{
    QStringList names = QDir(directory).entryList({u"*.png"_s}, QDir::Files);
    names.sort();
    return names;
}

} // namespace

// The preview and capture runs: the sample account on show, the switches' effects and pictures,
// and never a connection to the backend or a call into the tunnel service, whatever is clicked.
class TestPreviewRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void tourStep_data();
    void tourStep();
    void switches_data();
    void switches();
    void previewReachesNothing();
    void websiteShots_data();
    void websiteShots();

private:
    // A window whose backend address is a loopback listener that counts connections.
    void makeWindow();
    bool waitForCaptures(const QString &directory, int count);

    TestHome m_home;
    QTcpServer m_backend;
    int m_backendConnections = 0;
    FakeTunnelAdapter *m_adapter = nullptr;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QTemporaryDir> m_captures;
};

void TestPreviewRun::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(m_backend.listen(QHostAddress::LocalHost));
    connect(&m_backend, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_backend.nextPendingConnection()) {
            ++m_backendConnections;
            socket->deleteLater();
        }
    });
}

void TestPreviewRun::init()
{
    m_captures = std::make_unique<QTemporaryDir>();
    QVERIFY(m_captures->isValid());
}

void TestPreviewRun::cleanup()
{
    m_window.reset();
    QCOMPARE(m_backendConnections, 0);
}

void TestPreviewRun::makeWindow()
{
    settings::clearAll();
    settings::setApiUrl(u"http://127.0.0.1:%1"_s.arg(m_backend.serverPort()));
    settings::setProduction(false);
    auto adapter = std::make_unique<FakeTunnelAdapter>();
    m_adapter = adapter.get();
    m_window = std::make_unique<MainWindow>(std::move(adapter), ClientServices::Lookups::Disabled);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

bool TestPreviewRun::waitForCaptures(const QString &directory, int count)
{
    return QTest::qWaitFor([&] { return pngFiles(directory).size() >= count; }, 3000);
}

void TestPreviewRun::tourStep_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("step");
    QTest::newRow("absent") << QStringList{u"--preview-guided-tour"_s} << 1;
    QTest::newRow("third") << QStringList{u"--preview-tour-step=3"_s} << 3;
    QTest::newRow("last") << QStringList{u"--preview-tour-step=7"_s} << 7;
    QTest::newRow("zero") << QStringList{u"--preview-tour-step=0"_s} << 1;
    QTest::newRow("past the end") << QStringList{u"--preview-tour-step=8"_s} << 1;
    QTest::newRow("negative") << QStringList{u"--preview-tour-step=-2"_s} << 1;
    QTest::newRow("not a number") << QStringList{u"--preview-tour-step=two"_s} << 1;
    QTest::newRow("empty") << QStringList{u"--preview-tour-step="_s} << 1;
    QTest::newRow("last one wins")
        << QStringList{u"--preview-tour-step=2"_s, u"--preview-tour-step=5"_s} << 5;
}

void TestPreviewRun::tourStep()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, step);
    QCOMPARE(PreviewRun::tourStep(arguments), step);
}

void TestPreviewRun::switches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("selected");

    QTest::newRow("profile") << QStringList{u"--preview-profile"_s} << int(MainWindow::Connection)
                             << u"preview-nl"_s;
    QTest::newRow("latency") << QStringList{u"--preview-latency"_s} << int(MainWindow::Connection)
                             << u"preview-de"_s;
    QTest::newRow("other") << QStringList{u"--preview-other"_s} << int(MainWindow::Connection)
                           << u"preview-other"_s;
    QTest::newRow("free account") << QStringList{u"--preview-free"_s, u"--preview-account"_s}
                                  << int(MainWindow::Account) << u"preview-nl"_s;
    QTest::newRow("login error") << QStringList{u"--preview-login-error"_s}
                                 << int(MainWindow::SignIn) << u"preview-nl"_s;
    QTest::newRow("connected dot") << QStringList{u"--preview-connected-dot"_s}
                                   << int(MainWindow::Connection) << u"preview-nl"_s;
}

void TestPreviewRun::switches()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, page);
    QFETCH(QString, selected);

    makeWindow();
    // A preview neither restores a location nor connects.
    settings::setLastServerId(u"preview-jp"_s);
    settings::setConnectOnStart(true);
    PreviewRun preview(*m_window, arguments, m_captures->path());
    preview.start();
    QCOMPARE(m_adapter->calls, QStringList());
    QCOMPARE(m_window->pages()->currentIndex(), page);
    const ConnectionPage *connection = m_window->connectionPage();
    QCOMPARE(connection->selectedServerId(), selected);
    QCOMPARE(m_window->services().catalogue().servers().size(), 10);
    const ServerTree *tree = connection->tree();

    const QString row = QString::fromUtf8(QTest::currentDataTag());
    if (row == u"latency"_s) {
        // The second server, Amsterdam #2, answers in 24 + 7 ms from its documentation address.
        QCOMPARE(m_window->services().latencyProbe().latency(u"preview-nl2"_s), 31);
        QCOMPARE(m_window->services().catalogue().record(u"preview-nl2"_s)->resolvedIp,
                 u"203.0.113.11"_s);
    } else if (row == u"other"_s) {
        QCOMPARE(connection->searchField()->text(), u"Other"_s);
        QVERIFY(tree->currentItem() != nullptr);
        QCOMPARE(tree->currentItem()->text(0), u"Other locations"_s);
        QVERIFY(tree->currentItem()->isExpanded());
    } else if (row == u"free account"_s) {
        QCOMPARE(m_window->accountPage()->planPill()->text(), u"Free"_s);
        QCOMPARE(m_window->accountPage()->deviceRows().size(), 3);
        QVERIFY(waitForCaptures(m_captures->path(), 1));
        QCOMPARE(pngFiles(m_captures->path()), QStringList{u"account-preview.png"_s});
    } else if (row == u"login error"_s) {
        const SignInPage *signIn = m_window->signInPage();
        QCOMPARE(signIn->messageLabel()->text(), u"Incorrect email or password."_s);
        QVERIFY(signIn->emailEdit()->isEnabled());
        QVERIFY(!signIn->passwordEdit()->text().isEmpty());
    } else if (row == u"connected dot"_s) {
        int marked = 0;
        for (int group = 0; group < tree->topLevelItemCount(); ++group) {
            for (int child = 0; child < tree->topLevelItem(group)->childCount(); ++child) {
                const QTreeWidgetItem *server = tree->topLevelItem(group)->child(child);
                if (server->data(0, ServerTree::ConnectedRole).toBool()) {
                    QCOMPARE(server->data(0, ServerTree::ServerIdRole).toString(), u"preview-de"_s);
                    ++marked;
                }
            }
        }
        QCOMPARE(marked, 1);
    } else {
        QCOMPARE(m_window->accountPage()->planPill()->text(), u"\u25cf Plan active"_s);
    }
}

void TestPreviewRun::previewReachesNothing()
{
    makeWindow();
    const QStringList everything = {
        u"--preview-guided-tour"_s,    u"--preview-latency"_s,    u"--preview-connection-error"_s,
        u"--preview-flags"_s,          u"--preview-connecting"_s, u"--preview-traffic"_s,
        u"--preview-settings-popup"_s, u"--preview-expand"_s,     u"--preview-navigation"_s};
    PreviewRun preview(*m_window, everything, m_captures->path());
    preview.start();
    // What a curious user might click while the preview shows: none of it may leave the window.
    ConnectionPage *connection = m_window->connectionPage();
    connection->connectButton()->click();
    connection->quickConnect();
    connection->loadServers();
    m_window->navigationButton(MainWindow::Account)->click();
    m_window->accountPage()->openSubscriptionPlans(u"month"_s);
    m_window->logout();

    QVERIFY(waitForCaptures(m_captures->path(), 4));
    QVERIFY(preview.capturesSaved());
    QCOMPARE(pngFiles(m_captures->path()),
             (QStringList{u"expansion-mid.png"_s, u"guided-tour-preview.png"_s,
                          u"navigation-mid.png"_s, u"smoke-dropdown.png"_s}));
    QCOMPARE(QImage(m_captures->path() + u"/guided-tour-preview.png"_s).size(), m_window->size());
    QCOMPARE(m_adapter->calls, QStringList());
    QCOMPARE(m_window->services().catalogue().servers().size(), 10);
    QCOMPARE(m_window->accountPage()->deviceRows().size(), 3);
}

void TestPreviewRun::websiteShots_data()
{
    QTest::addColumn<QString>("shot");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("home") << u"home"_s
                          << QStringList{u"app-home.png"_s, u"detail-connection.png"_s,
                                         u"detail-locations.png"_s, u"detail-map.png"_s,
                                         u"detail-traffic.png"_s};
    QTest::newRow("home light") << u"home-light"_s << QStringList{u"app-home-light.png"_s};
    QTest::newRow("account") << u"account"_s
                             << QStringList{u"app-account.png"_s, u"detail-devices.png"_s,
                                            u"detail-plan.png"_s};
    QTest::newRow("free, light") << u"account-free-light"_s
                                 << QStringList{u"app-account-free-light.png"_s,
                                                u"detail-plan-free-light.png"_s};
    QTest::newRow("settings") << u"settings"_s
                              << QStringList{u"app-settings.png"_s, u"detail-settings.png"_s};
    QTest::newRow("unknown") << u"pricing"_s << QStringList();
    QTest::newRow("outside the directory") << u"../home"_s << QStringList();
    QTest::newRow("empty") << QString() << QStringList();
}

void TestPreviewRun::websiteShots()
{
    QFETCH(QString, shot);
    QFETCH(QStringList, files);

    makeWindow();
    WebsiteCapture capture(*m_window, shot, m_captures->path());
    QCOMPARE(capture.start(), !files.isEmpty());
    if (files.isEmpty()) {
        QTest::qWait(WebsiteCapture::settleMs + 100);
        QCOMPARE(pngFiles(m_captures->path()), QStringList());
        QCOMPARE(m_window->pages()->currentIndex(), int(MainWindow::SignIn));
        return;
    }
    QVERIFY(QTest::qWaitFor([&] { return capture.finished(); }, 3000));
    QCOMPARE(pngFiles(m_captures->path()), files);
    QCOMPARE(QImage(m_captures->path() + u"/"_s + files.first()).size(), m_window->size());
    const ConnectionPage *connection = m_window->connectionPage();
    if (shot == u"home"_s) {
        QCOMPARE(connection->statusLabel()->text(), u"Connected \u00b7 VLESS + REALITY"_s);
        QCOMPARE(connection->connectedTime()->text(), u"24:18"_s);
        QVERIFY(m_window->services().catalogue().contains(u"site-gb"_s));
    }
    if (shot.startsWith(u"account-free"_s)) {
        QCOMPARE(m_window->accountPage()->planPill()->text(), u"Free"_s);
    }
}

QTEST_MAIN(TestPreviewRun)
#include "tst_previewrun.moc"
