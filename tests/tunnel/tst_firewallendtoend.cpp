#include "common/engineconfiguration.h"
#include "common/tunnelcontract.h"
#include "support/privatenetwork.h"
#include "tools/devbackend/httpserver.h"

#include "tunnelfixture.h"

#include <QDir>
#include <QNetworkProxy>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr char insideAddress[] = "10.77.0.2";
constexpr char outsideAddress[] = "10.77.0.1";
constexpr quint16 echoPort = 7777;
// Where the direct attempts go while the engine is down; the outside counts what arrives there.
constexpr quint16 countedPort = 7778;

// The stand-in for the internet, in the forked child: an echo server on the outside address.
[[noreturn]] void serveEcho(int ready, int go)
{
    char byte = 0;
    if (!enterPrivateNetwork() || write(ready, "r", 1) != 1 || read(go, &byte, 1) != 1)
        _exit(1);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(echoPort);
    inet_pton(AF_INET, outsideAddress, &address.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0)
        _exit(1);
    for (;;) {
        const int connection = accept(listener, nullptr, nullptr);
        char buffer[64];
        const ssize_t got = connection >= 0 ? read(connection, buffer, sizeof buffer) : -1;
        if (got > 0)
            (void)!write(connection, buffer, size_t(got));
        close(connection);
    }
}

int run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
               ? process.exitCode()
               : -1;
}

// A direct connection attempt to the counted port, which nothing answers.
void knock()
{
    QTcpSocket socket;
    socket.connectToHost(QString::fromLatin1(outsideAddress), countedPort);
    socket.waitForConnected(200);
}

// Whether "ping" comes back from the echo server, directly or through the engine's proxy.
bool echoes(const QNetworkProxy &proxy = QNetworkProxy(QNetworkProxy::NoProxy))
{
    QTcpSocket socket;
    socket.setProxy(proxy);
    socket.connectToHost(QString::fromLatin1(outsideAddress), echoPort);
    if (!socket.waitForConnected(700) || socket.write("ping") != 4)
        return false;
    return socket.waitForReadyRead(700) && socket.readAll() == "ping";
}

} // namespace

// The block on a real nftables, in network namespaces the test makes: this process and the
// tunnel it starts live inside, joined by a veth pair to an outside namespace whose echo server
// stands for the internet and whose counter sees every packet that leaves the inside.
class TestFirewallEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void blockHoldsUntilTheUserStops();

private:
    int outside(const QStringList &command, const QByteArray &input = {}) const;
    int leakedPackets() const;
    bool hasTable() const;
    QNetworkProxy engineProxy() const;
    int install();

    pid_t m_outside = -1;
    quint16 m_proxyPort = 0;
    HttpServer m_checkPage;
    std::unique_ptr<TunnelFixture> m_fixture;
    QString m_runLog;
};

void TestFirewallEndToEnd::initTestCase()
{
    QFile mounts(u"/proc/self/mountinfo"_s);
    if (!mounts.open(QIODevice::ReadOnly) || !mounts.readAll().contains(" - cgroup2 ")) {
        QSKIP("needs the unified control-group hierarchy, which tells the engine's traffic apart");
    }
    if (geteuid() != 0 || run(u"nft"_s, {u"--version"_s}) != 0 || run(u"ip"_s, {u"-V"_s}) != 0 ||
        !enterPrivateNetwork()) {
        QSKIP("needs root, nft and ip for network namespaces of its own");
    }
    int ready[2];
    int go[2];
    QVERIFY(pipe(ready) == 0 && pipe(go) == 0);
    m_outside = fork();
    if (m_outside == 0)
        serveEcho(ready[1], go[0]);
    char byte = 0;
    QCOMPARE(read(ready[0], &byte, 1), ssize_t(1));
    const QString pid = QString::number(m_outside);
    QCOMPARE(run(u"ip"_s, {u"link"_s, u"add"_s, u"vin"_s, u"type"_s, u"veth"_s, u"peer"_s,
                           u"name"_s, u"vout"_s, u"netns"_s, pid}),
             0);
    QCOMPARE(run(u"ip"_s, {u"addr"_s, u"add"_s, QLatin1String(insideAddress) + u"/24"_s, u"dev"_s,
                           u"vin"_s}),
             0);
    QCOMPARE(run(u"ip"_s, {u"link"_s, u"set"_s, u"vin"_s, u"up"_s}), 0);
    QCOMPARE(outside({u"ip"_s, u"addr"_s, u"add"_s, QLatin1String(outsideAddress) + u"/24"_s,
                      u"dev"_s, u"vout"_s}),
             0);
    QCOMPARE(outside({u"ip"_s, u"link"_s, u"set"_s, u"vout"_s, u"up"_s}), 0);
    QCOMPARE(outside({u"nft"_s, u"-f"_s, u"-"_s},
                     "table ip probe {\ncounter leaked {}\nchain in {\ntype filter hook prerouting "
                     "priority -300;\nip saddr "_ba +
                         insideAddress + " tcp dport " + QByteArray::number(countedPort) +
                         " counter name leaked\n}\n}\n"),
             0);
    QCOMPARE(write(go[1], "g", 1), ssize_t(1));
    QTRY_VERIFY(echoes());

    m_checkPage.setHandler([](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->send(204, QByteArray(), QByteArray());
    });
    QVERIFY(m_checkPage.listen(QHostAddress::LocalHost));
    m_fixture = std::make_unique<TunnelFixture>();
    m_runLog = m_fixture->applicationDirectory() + u"/runs.log"_s;
    m_proxyPort = TunnelFixture::freePort();
    QVERIFY(m_fixture->isValid() && m_fixture->writeProfile(m_proxyPort));
}

void TestFirewallEndToEnd::cleanupTestCase()
{
    if (m_fixture)
        m_fixture->runProgram({u"--cleanup-all"_s}, m_fixture->environment());
    if (m_outside > 0) {
        kill(m_outside, SIGKILL);
        waitpid(m_outside, nullptr, 0);
    }
}

int TestFirewallEndToEnd::outside(const QStringList &command, const QByteArray &input) const
{
    return run(u"nsenter"_s,
               QStringList{u"--net=/proc/%1/ns/net"_s.arg(m_outside), u"--"_s} + command, input);
}

int TestFirewallEndToEnd::leakedPackets() const
{
    QProcess process;
    process.start(u"nsenter"_s, {u"--net=/proc/%1/ns/net"_s.arg(m_outside), u"--"_s, u"nft"_s,
                                 u"reset"_s, u"counter"_s, u"ip"_s, u"probe"_s, u"leaked"_s});
    process.waitForFinished(10000);
    const QRegularExpressionMatch packets =
        QRegularExpression(u"packets (\\d+)"_s).match(QString::fromUtf8(process.readAll()));
    return packets.hasMatch() ? packets.captured(1).toInt() : -1;
}

bool TestFirewallEndToEnd::hasTable() const
{
    QProcess process;
    process.start(u"nft"_s, {u"list"_s, u"tables"_s});
    process.waitForFinished(10000);
    return process.readAll().contains("inet solvikvpn");
}

QNetworkProxy TestFirewallEndToEnd::engineProxy() const
{
    return QNetworkProxy(QNetworkProxy::Socks5Proxy, u"127.0.0.1"_s, m_proxyPort,
                         QLatin1String(engineProbeProxyUser), TunnelFixture::proxyPassword);
}

int TestFirewallEndToEnd::install()
{
    QProcessEnvironment environment = m_fixture->environment();
    environment.insert(u"SOLVIKVPN_STUB_NO_TUN"_s, u"1"_s);
    environment.insert(u"SOLVIKVPN_STUB_RUN_LOG"_s, m_runLog);
    environment.insert(u"SOLVIKVPN_STUB_DIAL_ALSO"_s, QLatin1String(outsideAddress));
    environment.insert(QLatin1String(TunnelFixture::checkUrlsVariable),
                       u"http://127.0.0.1:%1/generate_204"_s.arg(m_checkPage.port()));
    return m_fixture->runProgram(
        {u"--install"_s, TunnelFixture::tunnelName, m_fixture->profilePath(), u"--block"_s},
        environment);
}

void TestFirewallEndToEnd::blockHoldsUntilTheUserStops()
{
    // The counter sees a direct attempt while nothing blocks.
    knock();
    QVERIFY(leakedPackets() > 0);

    // Connected: only the engine gets out, and nothing of this process.
    QCOMPARE(install(), 0);
    QVERIFY(hasTable());
    QVERIFY(!echoes());
    QVERIFY(echoes(engineProxy()));

    // The engine killed: until the service has it back, not one packet leaves.
    const QStringList runs = TunnelFixture::logged(m_runLog, u"run "_s);
    QCOMPARE(kill(runs.last().mid(4).toInt(), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        (knock(),
         TunnelFixture::logged(m_runLog, u"run "_s).size() > runs.size() && echoes(engineProxy())),
        15000);
    QCOMPARE(leakedPackets(), 0);
    QVERIFY(!echoes());

    // The user's stop lifts it, and nothing of the product is left.
    QCOMPARE(
        m_fixture->runProgram({u"--stop"_s, TunnelFixture::tunnelName}, m_fixture->environment()),
        0);
    QVERIFY(!hasTable());
    QVERIFY(echoes());

    // A service that dies keeps the block; the clean-up lifts it. Only this test's service:
    // suites running beside it have services of their own.
    QCOMPARE(install(), 0);
    const QStringList processes = QDir(u"/proc"_s).entryList(QDir::Dirs);
    for (const QString &entry : processes) {
        QFile commandLine(u"/proc/%1/cmdline"_s.arg(entry));
        if (!commandLine.open(QIODevice::ReadOnly))
            continue;
        const QByteArray arguments = commandLine.readAll();
        if (arguments.startsWith(QFile::encodeName(m_fixture->programPath()) + '\0') &&
            arguments.contains("--service"))
            QCOMPARE(kill(entry.toInt(), SIGKILL), 0);
    }
    QTRY_VERIFY(!echoes(engineProxy()));
    knock();
    QVERIFY(!echoes());
    QCOMPARE(leakedPackets(), 0);
    QCOMPARE(m_fixture->runProgram({u"--cleanup-all"_s}, m_fixture->environment()), 0);
    QVERIFY(!hasTable());
    QVERIFY(echoes());
}

QTEST_GUILESS_MAIN(TestFirewallEndToEnd)
#include "tst_firewallendtoend.moc"
