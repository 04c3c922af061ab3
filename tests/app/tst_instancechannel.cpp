#include "app/instancechannel.h"

#include "support/testhome.h"

#include <QFile>
#include <QLocalSocket>
#include <QTest>
#include <QThread>

#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Connects to the socket at `path` as a plain POSIX client; true when the connection was made.
bool connectsAt(const QString &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(),
                std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1));
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return connected;
}

} // namespace

class TestInstanceChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneClientAnswers();
    void messages_data();
    void messages();
    void staleSocketIsTakenOver();
    void otherAccountIsRefused();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestInstanceChannel::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
}

void TestInstanceChannel::oneClientAnswers()
{
    InstanceChannel first(u"test-one"_s);
    QVERIFY(first.claim());
    QStringList seen;
    connect(&first, &InstanceChannel::received, this,
            [&seen](const QStringList &arguments, const InstanceChannel::Reply &reply) {
                seen = arguments;
                reply({3, u"Not connected"_s});
            });
    InstanceChannel second(u"test-one"_s);
    QVERIFY(!second.claim());

    std::optional<InstanceChannel::Answer> answer;
    // The sender blocks; the serving side answers from this event loop, so it runs in a thread.
    std::unique_ptr<QThread> sender(QThread::create(
        [&] { answer = InstanceChannel::send(first.name(), {u"--status"_s}, 5000); }));
    sender->start();
    QTRY_VERIFY(sender->isFinished());
    QVERIFY(answer.has_value());
    QCOMPARE(answer->code, 3);
    QCOMPARE(answer->text, u"Not connected"_s);
    QCOMPARE(seen, QStringList{u"--status"_s});
    QVERIFY(!InstanceChannel::send(InstanceChannel(u"test-none"_s).name(), {}, 500));
}

void TestInstanceChannel::messages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("obeyed");

    QTest::newRow("arguments") << QByteArray(R"({"arguments":["--hidden"]})"
                                             "\n")
                               << true;
    QTest::newRow("not JSON") << QByteArray("--hidden\n") << false;
    QTest::newRow("a number among the arguments") << QByteArray(R"({"arguments":[1]})"
                                                                "\n")
                                                  << false;
    QTest::newRow("another member") << QByteArray(R"({"arguments":[],"run":"x"})"
                                                  "\n")
                                    << false;
    QTest::newRow("larger than 64 KiB")
        << QByteArray(R"({"arguments":[")") + QByteArray(70000, 'a') + "\"]}\n"
        << false;
    QTest::newRow("endless line") << QByteArray(70000, '{') << false;
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
    // Either answered and closed, or dropped and closed.
    QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(received, obeyed ? 1 : 0);
    QCOMPARE(socket.readAll().startsWith(R"({"code":0)"), obeyed);
    // The channel still serves the next start.
    QVERIFY(!InstanceChannel(u"test-messages"_s).claim());
}

void TestInstanceChannel::staleSocketIsTakenOver()
{
    const QString path = InstanceChannel(u"test-stale"_s).name();
    {
        // What a crashed client leaves: a bound socket file nobody listens on.
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                     sizeof address.sun_path - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
    }
    QVERIFY(QFile::exists(path));
    InstanceChannel channel(u"test-stale"_s);
    QVERIFY(channel.claim());
    QVERIFY(connectsAt(path));
}

void TestInstanceChannel::otherAccountIsRefused()
{
    if (geteuid() != 0) {
        QSKIP("needs root to act as another account");
    }
    InstanceChannel channel(u"test-account"_s);
    QVERIFY(channel.claim());
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        _exit(setgid(65534) == 0 && setuid(65534) == 0 && !connectsAt(channel.name()) ? 0 : 1);
    }
    int status = -1;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY(connectsAt(channel.name()));
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
