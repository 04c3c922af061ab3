#include "common/engineconfiguration.h"
#include "handwrittenengineconfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray password(handwrittenProbePassword);
// The engine's command lines as the programs run it.
const QStringList checkArguments{u"check"_s, u"-c"_s, u"stdin"_s};
const QStringList runArguments{u"run"_s, u"-c"_s, u"stdin"_s, u"--disable-color"_s};

QByteArray withDnsMode(quint16 port)
{
    return handwrittenEngineConfiguration(port).replace(R"("mtu":1400,)",
                                                        R"("mtu":1400,"dns_mode":"hijack",)");
}

// The flood pattern recomputed from its description: 16-byte lines holding the 15-digit offset
// of their first byte and a newline.
QByteArray floodTail(qint64 total, qint64 count)
{
    QByteArray bytes;
    for (qint64 i = total - count; i < total; ++i) {
        const qint64 column = i % 16;
        bytes +=
            column == 15 ? '\n' : QByteArray::number(i - column).rightJustified(15, '0').at(column);
    }
    return bytes;
}

QNetworkProxy probeProxy(QNetworkProxy::ProxyType type, quint16 port)
{
    return QNetworkProxy(type, u"127.0.0.1"_s, port, u"solvikvpn"_s, QString::fromLatin1(password));
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The stub as the programs run it: the engine's command line, configuration on standard input.
class Stub
{
public:
    explicit Stub(const QStringList &environment)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &key : env.keys()) {
            if (key.startsWith(u"SOLVIKVPN_STUB_"_s))
                env.remove(key);
        }
        for (const QString &entry : environment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        process.setProcessEnvironment(env);
        process.setProgram(QCoreApplication::applicationDirPath() + u"/sing-box"_s);
    }

    ~Stub()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished();
    }

    void start(const QStringList &arguments, const QByteArray &configuration)
    {
        process.setArguments(arguments);
        process.start();
        QVERIFY(process.waitForStarted());
        process.write(configuration);
        process.closeWriteChannel();
    }

    bool finish(int ms = 10000)
    {
        const bool done = process.waitForFinished(ms);
        collectStderr();
        return done;
    }

    const QByteArray &collectStderr()
    {
        stderrBytes += process.readAllStandardError();
        return stderrBytes;
    }

    void signal(int number) { ::kill(pid_t(process.processId()), number); }

    QProcess process;
    QByteArray stderrBytes;
    quint16 probePort = 0; // where a run's probe inbound listens
};

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor(
               [&] {
                   return socket.state() == QAbstractSocket::ConnectedState ||
                          socket.state() == QAbstractSocket::UnconnectedState;
               },
               2000) &&
           socket.state() == QAbstractSocket::ConnectedState;
}

// A running stub whose probe inbound is up on a free port, its probePort.
std::unique_ptr<Stub> startRun(QStringList environment = {})
{
    environment.append(u"SOLVIKVPN_STUB_NO_TUN=1"_s);
    auto stub = std::make_unique<Stub>(environment);
    stub->probePort = freePort();
    stub->start(runArguments, handwrittenEngineConfiguration(stub->probePort));
    if (!QTest::qWaitFor([&] { return portAccepts(stub->probePort); }, 5000))
        return nullptr;
    return stub;
}

bool connectToLoopback(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

// Loopback servers the proxy forwards to: an echo and an HTTP origin answering 204.
class Origin : public QObject
{
public:
    explicit Origin(bool http)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this, http] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, http] {
                const QByteArray bytes = socket->readAll();
                if (!http) {
                    socket->write(bytes);
                    return;
                }
                received += bytes;
                if (received.contains("\r\n\r\n")) {
                    socket->write("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                }
            });
        });
    }

    quint16 port() const { return server.serverPort(); }

    QTcpServer server;
    QByteArray received;
};

QByteArray socksAuth(const QByteArray &user, const QByteArray &secret)
{
    return QByteArray(1, 0x01) + char(user.size()) + user + char(secret.size()) + secret;
}

QByteArray socksConnect(const QByteArray &ipv4, quint16 port)
{
    return QByteArray("\x05\x01\x00\x01", 4) + ipv4 + char(port >> 8) + char(port & 0xff);
}

// Sends each message and waits for the reply bytes that follow it.
QList<QByteArray> exchange(quint16 port, const QList<QByteArray> &messages, int replyLength,
                           bool *closed)
{
    QTcpSocket socket;
    QList<QByteArray> replies;
    if (!connectToLoopback(socket, port))
        return replies;
    for (const QByteArray &message : messages) {
        socket.write(message);
        // A short reply shows up as a mismatch in the comparison of the caller.
        [[maybe_unused]] const bool complete = QTest::qWaitFor(
            [&] {
                return socket.bytesAvailable() >= replyLength ||
                       socket.state() != QAbstractSocket::ConnectedState;
            },
            3000);
        replies.append(socket.read(replyLength));
    }
    *closed =
        QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 3000);
    return replies;
}

} // namespace

class TestEngineStub : public QObject
{
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("configuration");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("diagnostics");
        const QByteArray good = handwrittenEngineConfiguration(20808);
        const QByteArray diagnostic =
            "connection: open connection to 203.0.113.7:443 using outbound/vless[proxy]: "
            "reality verification failed";
        QTest::newRow("accepted") << checkArguments << QStringList() << good << 0 << QByteArray();
        QTest::newRow("dns_mode refused")
            << checkArguments << QStringList() << withDnsMode(20808) << 1
            << QByteArray("FATAL[0000] decode config at stdin: inbounds[0].dns_mode: json: unknown "
                          "field \"dns_mode\"\n");
        QTest::newRow("no input")
            << checkArguments << QStringList() << QByteArray() << 1
            << QByteArray("FATAL[0000] decode config at stdin: unexpected end of JSON input\n");
        QTest::newRow("unknown command")
            << QStringList{u"merge"_s} << QStringList() << good << 1
            << QByteArray("Error: unknown command \"merge\" for \"sing-box\"\n");
        QTest::newRow("exit code") << checkArguments << QStringList{u"SOLVIKVPN_STUB_EXIT_CODE=7"_s}
                                   << good << 7 << QByteArray();
        QTest::newRow("diagnostic")
            << checkArguments
            << QStringList{u"SOLVIKVPN_STUB_DIAGNOSTIC="_s + QString::fromUtf8(diagnostic)} << good
            << 1 << "FATAL[0000] " + diagnostic + '\n';
        QTest::newRow("diagnostic for check and run")
            << checkArguments
            << QStringList{u"SOLVIKVPN_STUB_DIAGNOSTIC=boom"_s, u"SOLVIKVPN_STUB_FAIL=check,run"_s}
            << good << 1 << QByteArray("FATAL[0000] boom\n");
        QTest::newRow("diagnostic for run only")
            << checkArguments
            << QStringList{u"SOLVIKVPN_STUB_DIAGNOSTIC=boom"_s, u"SOLVIKVPN_STUB_FAIL=run"_s}
            << good << 0 << QByteArray();
        QTest::newRow("silent refusal")
            << checkArguments << QStringList{u"SOLVIKVPN_STUB_SILENT=1"_s} << withDnsMode(20808)
            << 1 << QByteArray();
        QTest::newRow("run refuses what check refuses")
            << runArguments << QStringList() << withDnsMode(20808) << 1
            << QByteArray("FATAL[0000] decode config at stdin: inbounds[0].dns_mode: json: unknown "
                          "field \"dns_mode\"\n");
        QTest::newRow("run with a diagnostic")
            << runArguments << QStringList{u"SOLVIKVPN_STUB_DIAGNOSTIC=start service: boom"_s}
            << good << 1 << QByteArray("FATAL[0000] start service: boom\n");
    }

    void check()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, configuration);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, diagnostics);
        Stub stub(environment);
        stub.start(arguments, configuration);
        QVERIFY(stub.finish());
        QCOMPARE(stub.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(stub.process.exitCode(), exitCode);
        QCOMPARE(stub.stderrBytes, diagnostics);
        QCOMPARE(stub.process.readAllStandardOutput(), QByteArray());
    }

    void checkAcceptsTheBuildersConfiguration_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("IPv4") << u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443"
                                 "?security=reality&type=tcp&encryption=none&sni=www.example.com"
                                 "&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123ABCD"
                                 "&fp=chrome&flow=xtls-rprx-vision"_s;
        QTest::newRow("IPv6") << u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@[2001:db8::1]:8443"
                                 "?security=reality&type=tcp&encryption=none&sni=cdn.example.org"
                                 "&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=ab"
                                 "&fp=qq&flow=xtls-rprx-vision"_s;
    }

    void checkAcceptsTheBuildersConfiguration()
    {
        QFETCH(QString, link);
        const std::optional<TunnelProfile> profile =
            parseTunnelProfile(QJsonObject{{u"uri"_s, link}});
        QVERIFY(profile.has_value());
        Stub stub({});
        stub.start(checkArguments, buildEngineConfiguration(*profile, 20808, u"solvikvpn"_s,
                                                            QString::fromLatin1(password)));
        QVERIFY(stub.finish());
        QCOMPARE(stub.stderrBytes, QByteArray());
        QCOMPARE(stub.process.exitCode(), 0);
    }

    void hangingCheckNeverEnds()
    {
        Stub stub({u"SOLVIKVPN_STUB_HANG_CHECK=1"_s});
        stub.start(checkArguments, handwrittenEngineConfiguration(20808));
        QVERIFY(!stub.finish(500));
        stub.process.kill();
        QVERIFY(stub.finish());
        QCOMPARE(stub.process.exitStatus(), QProcess::CrashExit);
    }

    void floodLeavesARecognisableTail_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("check") << checkArguments;
        QTest::newRow("run") << runArguments;
    }

    void floodLeavesARecognisableTail()
    {
        QFETCH(QStringList, arguments);
        const quint16 port = freePort();
        Stub stub({u"SOLVIKVPN_STUB_FLOOD_BYTES=102400"_s, u"SOLVIKVPN_STUB_NO_TUN=1"_s});
        stub.start(arguments, handwrittenEngineConfiguration(port));
        if (arguments.first() == u"run"_s) {
            QVERIFY(QTest::qWaitFor([&] { return portAccepts(port); }, 5000));
            QTRY_VERIFY(stub.collectStderr().size() >= 102400);
            stub.signal(SIGINT);
        }
        QVERIFY(stub.finish());
        QCOMPARE(stub.process.exitCode(), 0);
        QVERIFY(stub.stderrBytes.size() >= 102400);
        QVERIFY(stub.stderrBytes.right(32768) == floodTail(102400, 32768));
        // Only the adapter warning of "run" precedes the flood at the "warn" level.
        QVERIFY(stub.stderrBytes.size() - 102400 < 200);
    }

    void breakEndsRun_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void breakEndsRun()
    {
        QFETCH(int, signalNumber);
        const std::unique_ptr<Stub> stub = startRun();
        QVERIFY(stub);
        stub->signal(signalNumber);
        QVERIFY(stub->finish());
        QCOMPARE(stub->process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(stub->process.exitCode(), 0);
    }

    void ignoredBreakNeedsKill()
    {
        const std::unique_ptr<Stub> stub = startRun({u"SOLVIKVPN_STUB_IGNORE_BREAK=1"_s});
        QVERIFY(stub);
        stub->signal(SIGINT);
        stub->signal(SIGTERM);
        QVERIFY(!stub->finish(500));
        QVERIFY(portAccepts(stub->probePort));
        stub->signal(SIGKILL);
        QVERIFY(stub->finish());
        QCOMPARE(stub->process.exitStatus(), QProcess::CrashExit);
    }

    void noPortModeKeepsThePortClosed()
    {
        const quint16 port = freePort();
        Stub stub({u"SOLVIKVPN_STUB_NO_PORT=1"_s, u"SOLVIKVPN_STUB_NO_TUN=1"_s});
        stub.start(runArguments, handwrittenEngineConfiguration(port));
        QVERIFY(!stub.finish(700));
        QVERIFY(!portAccepts(port));
        stub.signal(SIGINT);
        QVERIFY(stub.finish());
        QCOMPARE(stub.process.exitCode(), 0);
    }

    void busyPortIsFatal()
    {
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        Stub stub({u"SOLVIKVPN_STUB_NO_TUN=1"_s});
        stub.start(runArguments, handwrittenEngineConfiguration(occupant.serverPort()));
        QVERIFY(stub.finish());
        QCOMPARE(stub.process.exitCode(), 1);
        const QByteArray expected =
            "FATAL[0000] start service: start inbound/mixed[probe]: listen tcp 127.0.0.1:" +
            QByteArray::number(occupant.serverPort()) + ": ";
        QVERIFY2(stub.stderrBytes.contains(expected), stub.stderrBytes.constData());
    }

    // As root with /dev/net/tun the adapter appears; elsewhere a warning says it is missing.
    void runNeverFailsForTheAdapter()
    {
        const quint16 port = freePort();
        Stub stub({});
        stub.start(runArguments, handwrittenEngineConfiguration(port));
        QVERIFY(QTest::qWaitFor([&] { return portAccepts(port); }, 5000));
        const bool adapter = QFile::exists(u"/sys/class/net/SolvikVPN"_s);
        stub.signal(SIGINT);
        QVERIFY(stub.finish());
        QCOMPARE(stub.process.exitCode(), 0);
        QVERIFY(adapter ||
                stub.stderrBytes.contains(
                    "WARN[0000] inbound/tun[tun-in]: running without the SolvikVPN adapter"));
    }

    void socksForwardsWithTheRightCredentials()
    {
        const std::unique_ptr<Stub> stub = startRun();
        QVERIFY(stub);
        Origin echo(false);
        QTcpSocket socket;
        socket.setProxy(probeProxy(QNetworkProxy::Socks5Proxy, stub->probePort));
        socket.connectToHost(QHostAddress::LocalHost, echo.port());
        QTRY_COMPARE(socket.state(), QAbstractSocket::ConnectedState);
        socket.write("ping through the probe");
        QTRY_COMPARE(socket.bytesAvailable(), qint64(22));
        QCOMPARE(socket.readAll(), QByteArray("ping through the probe"));
    }

    // An eager client sends greeting, credentials and request in one write.
    void socksPipelinedHandshake()
    {
        const std::unique_ptr<Stub> stub = startRun();
        QVERIFY(stub);
        Origin echo(false);
        QTcpSocket socket;
        QVERIFY(connectToLoopback(socket, stub->probePort));
        socket.write(QByteArray("\x05\x01\x02", 3) + socksAuth("solvikvpn", password) +
                     socksConnect(QByteArray("\x7f\x00\x00\x01", 4), echo.port()) + "early");
        QTRY_VERIFY(socket.bytesAvailable() >= 14 + 5);
        const QByteArray replies = socket.readAll();
        QCOMPARE(replies.left(6), QByteArray("\x05\x02\x01\x00\x05\x00", 6));
        QCOMPARE(replies.mid(14), QByteArray("early"));
    }

    void socksRefusals_data()
    {
        QTest::addColumn<QList<QByteArray>>("messages");
        QTest::addColumn<QList<QByteArray>>("replies");
        const QByteArray userPassword("\x05\x01\x02", 3);
        const QByteArray chosen("\x05\x02", 2);
        const QByteArray authOk("\x01\x00", 2);
        const quint16 closedPort = freePort();
        QTest::newRow("no password method") << QList<QByteArray>{QByteArray("\x05\x01\x00", 3)}
                                            << QList<QByteArray>{QByteArray("\x05\xff", 2)};
        QTest::newRow("wrong password")
            << QList<QByteArray>{userPassword,
                                 socksAuth("solvikvpn", "0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e36")}
            << QList<QByteArray>{chosen, QByteArray("\x01\x01", 2)};
        QTest::newRow("wrong user")
            << QList<QByteArray>{userPassword, socksAuth("solvik", password)}
            << QList<QByteArray>{chosen, QByteArray("\x01\x01", 2)};
        QTest::newRow("remote target")
            << QList<QByteArray>{userPassword, socksAuth("solvikvpn", password),
                                 socksConnect(QByteArray("\xcb\x00\x71\x07", 4), 443)}
            << QList<QByteArray>{chosen, authOk, QByteArray("\x05\x02", 2)};
        QTest::newRow("closed loopback port")
            << QList<QByteArray>{userPassword, socksAuth("solvikvpn", password),
                                 socksConnect(QByteArray("\x7f\x00\x00\x01", 4), closedPort)}
            << QList<QByteArray>{chosen, authOk, QByteArray("\x05\x05", 2)};
        QTest::newRow("bind command")
            << QList<QByteArray>{userPassword, socksAuth("solvikvpn", password),
                                 QByteArray("\x05\x02\x00\x01\x7f\x00\x00\x01\x00\x50", 10)}
            << QList<QByteArray>{chosen, authOk, QByteArray("\x05\x07", 2)};
    }

    void socksRefusals()
    {
        QFETCH(QList<QByteArray>, messages);
        QFETCH(QList<QByteArray>, replies);
        const std::unique_ptr<Stub> stub = startRun();
        QVERIFY(stub);
        bool closed = false;
        QCOMPARE(exchange(stub->probePort, messages, 2, &closed), replies);
        QVERIFY(closed);
    }

    void httpProxyGetReachesTheOrigin()
    {
        const std::unique_ptr<Stub> stub = startRun();
        QVERIFY(stub);
        Origin origin(true);
        QNetworkAccessManager manager;
        manager.setProxy(probeProxy(QNetworkProxy::HttpProxy, stub->probePort));
        QNetworkRequest request(
            QUrl(u"http://127.0.0.1:%1/generate_204?probe=1"_s.arg(origin.port())));
        QNetworkReply *reply = manager.get(request);
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 5000);
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 204);
        // The origin sees an origin-form request and never the proxy credentials.
        QVERIFY(origin.received.startsWith("GET /generate_204?probe=1 HTTP/1.1\r\n"));
        QVERIFY(!origin.received.toLower().contains("proxy-authorization"));
        reply->deleteLater();
    }

    void httpProxyExchanges_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<bool>("tunnels");
        const QByteArray basic =
            "Proxy-Authorization: Basic " + ("solvikvpn:" + password).toBase64() + "\r\n";
        QTest::newRow("no credentials")
            << QByteArray("GET http://127.0.0.1:ORIGIN/ HTTP/1.1\r\nHost: x\r\n\r\n")
            << QByteArray("HTTP/1.1 407 Proxy Authentication Required") << false;
        QTest::newRow("wrong credentials")
            << "CONNECT 127.0.0.1:ORIGIN HTTP/1.1\r\nProxy-Authorization: Basic " +
                   QByteArray("solvikvpn:guess").toBase64() + "\r\n\r\n"
            << QByteArray("HTTP/1.1 407 Proxy Authentication Required") << false;
        QTest::newRow("connect") << "CONNECT 127.0.0.1:ORIGIN HTTP/1.1\r\n" + basic + "\r\n"
                                 << QByteArray("HTTP/1.1 200 Connection established") << true;
        QTest::newRow("connect to a remote host")
            << "CONNECT 203.0.113.7:443 HTTP/1.1\r\n" + basic + "\r\n"
            << QByteArray("HTTP/1.1 502 Bad Gateway") << false;
        QTest::newRow("relative target") << "GET / HTTP/1.1\r\n" + basic + "\r\n"
                                         << QByteArray("HTTP/1.1 400 Bad Request") << false;
    }

    void httpProxyExchanges()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        QFETCH(bool, tunnels);
        const std::unique_ptr<Stub> stub = startRun();
        QVERIFY(stub);
        Origin echo(false);
        QTcpSocket socket;
        QVERIFY(connectToLoopback(socket, stub->probePort));
        socket.write(request.replace("ORIGIN", QByteArray::number(echo.port())));
        QTRY_VERIFY(socket.canReadLine());
        QCOMPARE(socket.readLine().trimmed(), statusLine);
        if (!tunnels) {
            QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
            return;
        }
        QTRY_VERIFY(socket.canReadLine());
        QCOMPARE(socket.readLine(), QByteArray("\r\n"));
        socket.write("echo me");
        QTRY_VERIFY(socket.bytesAvailable() >= 7);
        QCOMPARE(socket.readAll(), QByteArray("echo me"));
    }
};

QTEST_GUILESS_MAIN(TestEngineStub)
#include "tst_enginestub.moc"
