#include "app/instancechannel.h"

#include "support/testhome.h"

#include <QFile>
#include <QLocalSocket>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A plain POSIX socket at `path`: bound only (what a crashed client leaves), or connected.
bool useSocketAt(const QString &path, bool bindOnly)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                 sizeof address.sun_path - 1);
    const auto *target = reinterpret_cast<sockaddr *>(&address);
    const bool done = fd >= 0 && (bindOnly ? ::bind(fd, target, sizeof address)
                                           : ::connect(fd, target, sizeof address)) == 0;
    ::close(fd);
    return done;
}

} // namespace

class TestInstanceChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void messages_data();
    void messages();
    void staleSocketIsTakenOver();
    void otherAccountIsRefused();

private:
    TestHome m_home;
};

void TestInstanceChannel::messages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("obeyed");

    QTest::newRow("arguments") << QByteArray("{\"arguments\":[\"--hidden\"]}\n") << true;
    QTest::newRow("not JSON") << QByteArray("--hidden\n") << false;
    QTest::newRow("a number among them") << QByteArray("{\"arguments\":[1]}\n") << false;
    QTest::newRow("another member") << QByteArray("{\"arguments\":[],\"run\":1}\n") << false;
    QTest::newRow("larger than 64 KiB") << "{\"arguments\":[\"" + QByteArray(70000, 'a') + "\"]}\n"
                                        << false;
    QTest::newRow("a line without end") << QByteArray(70000, '{') << false;
}

void TestInstanceChannel::messages()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, obeyed);
    InstanceChannel channel(u"test-messages"_s);
    QVERIFY(channel.claim());
    int received = 0;
    connect(&channel, &InstanceChannel::received, this,
            [&received](const QStringList &, const InstanceChannel::Reply &reply) {
                ++received;
                reply({0, QString()});
            });
    QLocalSocket socket;
    socket.connectToServer(channel.name());
    QVERIFY(socket.waitForConnected(1000));
    socket.write(message);
    // Answered and closed, or dropped and closed.
    QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(received, obeyed ? 1 : 0);
    QCOMPARE(socket.readAll().startsWith("{\"code\":0"), obeyed);
    // Still the one client for the next start.
    QVERIFY(!InstanceChannel(u"test-messages"_s).claim());
}

void TestInstanceChannel::staleSocketIsTakenOver()
{
    const QString path = InstanceChannel(u"test-stale"_s).name();
    QVERIFY(useSocketAt(path, true) && QFile::exists(path));
    InstanceChannel channel(u"test-stale"_s);
    QVERIFY(channel.claim());
    QVERIFY(useSocketAt(path, false));
}

void TestInstanceChannel::otherAccountIsRefused()
{
    if (geteuid() != 0) {
        QSKIP("needs root to act as another account");
    }
    InstanceChannel channel(u"test-account"_s);
    QVERIFY(channel.claim());
    const pid_t child = fork();
    if (child == 0) {
        _exit(setgid(65534) == 0 && setuid(65534) == 0 && !useSocketAt(channel.name(), false));
    }
    int status = -1;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    QVERIFY(useSocketAt(channel.name(), false));
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
