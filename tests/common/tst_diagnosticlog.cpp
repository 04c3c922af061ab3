#include "common/diagnosticlog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <system_error>

using namespace Qt::Literals::StringLiterals;

class TestDiagnosticLog : public QObject
{
    Q_OBJECT

private slots:
    void redaction_data();
    void redaction();
    void identifiers();
    void staysWithinBounds();
    void hostileFiles();
};

void TestDiagnosticLog::redaction_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("engine line kept")
        << u"FATAL[0000] start service: listen 127.0.0.1:1080: address in use"_s
        << u"FATAL[0000] start service: listen 127.0.0.1:1080: address in use"_s;
    QTest::newRow("profile link with credentials")
        << u"bad outbound vless://3f1c9a2e-1b2c-4d5e-8f90-a1b2c3d4e5f6@host:443?pbk=x#n ok"_s
        << u"bad outbound [link] ok"_s;
    QTest::newRow("user id") << u"user 3F1C9A2E-1B2C-4D5E-8F90-A1B2C3D4E5F6 refused"_s
                             << u"user [uuid] refused"_s;
    QTest::newRow("e-mail masked") << u"account dana@example.com locked"_s
                                   << u"account d\u2022\u2022\u2022@example.com locked"_s;
    QTest::newRow("credential values") << u"password=hunter2 \"token\": \"abc\" key: k1"_s
                                       << u"password=[hidden] \"token\": [hidden] key: [hidden]"_s;
    QTest::newRow("token-like run")
        << u"Bearer eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiIxIn0.sig"_s << u"Bearer [hidden]"_s;
    QTest::newRow("control characters") << u"a\u001b[31mb\nc"_s << u"a [31mb c"_s;
}

void TestDiagnosticLog::redaction()
{
    QFETCH(QString, text);
    QTEST(LogText::redacted(text).text(), "expected");
    QVERIFY(LogText::redacted(QString(5000, u'a') + u' ').text().size() <= LogText::maximumLength);
}

void TestDiagnosticLog::identifiers()
{
    QCOMPARE(LogText::identifier(u"de-fra-1"_s).text(), u"de-fra-1"_s);
    QCOMPARE(LogText::identifier(u"/v1/devices/7"_s).text(), u"/v1/devices/7"_s);
    QCOMPARE(LogText::identifier(QString()).text(), u"-"_s);
    // A token, a password with a space and an address are not words.
    QCOMPARE(LogText::identifier(u"9f8e7d6c5b4a39281706f5e4d3c2b1a0"_s).text(), u"[hidden]"_s);
    QCOMPARE(LogText::identifier(u"my secret"_s).text(), u"[hidden]"_s);
    // A line break would start a line of its own in the log.
    QCOMPARE(LogText::identifier(u"de-fra-1\n"_s).text(), u"[hidden]"_s);
    QCOMPARE(LogText::identifier(u"dana@example.com"_s).text(), u"[hidden]"_s);
}

void TestDiagnosticLog::staysWithinBounds()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(u"client.log"_s);
    {
        DiagnosticLog log(path);
        for (int event = 0; event < 100000; ++event) {
            log.write(DiagnosticLog::Level::Info, "tunnel.state",
                      {{"state", "Connected"}, {"attempt", event}});
        }
    }
    const QStringList files = QDir(directory.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files, (QStringList{u"client.log"_s, u"client.log.1"_s, u"client.log.2"_s}));
    for (const QString &file : files) {
        QVERIFY(QFileInfo(directory.filePath(file)).size() <= DiagnosticLog::Limits().maximumBytes);
    }
    const QStringList last = DiagnosticLog::tail(path, 500);
    QCOMPARE(last.size(), 500);
    QVERIFY2(last.constLast().endsWith(u" info  tunnel.state state=Connected attempt=99999"_s),
             qPrintable(last.constLast()));
    QVERIFY(last.constFirst().endsWith(u"attempt=99500"_s));
}

void TestDiagnosticLog::hostileFiles()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(u"client.log"_s);
    const DiagnosticLog::Limits limits{4096, 3};

    // A symbolic link at the log's path is taken away, not written through. Windows lets only
    // privileged accounts make one; where none can be made, there is none to refuse.
    const QString target = directory.filePath(u"elsewhere.txt"_s);
    QFile elsewhere(target);
    QVERIFY(elsewhere.open(QIODevice::WriteOnly) && elsewhere.write("keep\n") == 5);
    elsewhere.close();
    std::error_code refused;
    std::filesystem::create_symlink(std::filesystem::path(target.toStdU16String()),
                                    std::filesystem::path(path.toStdU16String()), refused);
    if (!refused) {
        QCOMPARE(DiagnosticLog::tail(path, 10), QStringList());
        DiagnosticLog(path, limits).write(DiagnosticLog::Level::Info, "client.start");
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(elsewhere.open(QIODevice::ReadOnly));
        QCOMPARE(elsewhere.readAll(), QByteArray("keep\n"));
        elsewhere.close();
    }

    // A 2 GiB file (sparse) is rotated away unread; the report reads only its end.
    QFile huge(path);
    QVERIFY(huge.open(QIODevice::WriteOnly | QIODevice::Truncate) && huge.write("EARLY\n") == 6);
    QVERIFY(huge.resize(2LL * 1024 * 1024 * 1024));
    QVERIFY(huge.seek(huge.size()) && huge.write("\n\xff\xfe not UTF-8\n") > 0);
    huge.close();
    DiagnosticLog(path, limits)
        .write(DiagnosticLog::Level::Warning, "catalogue.failed", {{"status", 503}});
    QVERIFY(QFileInfo(path).size() < limits.maximumBytes);
    const QStringList last = DiagnosticLog::tail(path, 500);
    QCOMPARE(last.size(), 2);
    QCOMPARE(last.first(), u"\ufffd\ufffd not UTF-8"_s);
    QVERIFY(last.last().endsWith(u"warn  catalogue.failed status=503"_s));
}

QTEST_GUILESS_MAIN(TestDiagnosticLog)
#include "tst_diagnosticlog.moc"
