#include "api/devicecredentials.h"
#include "common/protectedstore.h"
#include "support/testhome.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The system the suite runs on, as the device list names it: the Windows lane runs under Wine.
const QString thisSystem = QSysInfo::kernelType() == QStringLiteral("winnt")
                               ? QStringLiteral("windows")
                               : QStringLiteral("linux");

const QString unreadable = u"Saved device credentials could not be read. Contact support before "
                           u"registering a replacement device."_s;
const QString validId = u"0f8fad5b-d9cb-469f-a165-70867728950e"_s;
const QString validToken = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ-_01234"_s; // 43 characters

QString recordPath()
{
    return protectedstore::dataDirectory() + u"/installation.dpapi"_s;
}

QByteArray rawRecordFile()
{
    QFile file(recordPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray record(const QString &installationId, const QString &deviceToken)
{
    return QJsonDocument(
               QJsonObject{{u"installationId"_s, installationId}, {u"deviceToken"_s, deviceToken}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

class DeviceCredentialsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void createdOnceThenStable();
    void storedRecordValidation_data();
    void storedRecordValidation();
    void deviceObject_data();
    void deviceObject();
    void lockHeldByAnotherProcess();

private:
    std::unique_ptr<TestHome> m_home;
};

void DeviceCredentialsTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QCoreApplication::setApplicationVersion(u"0.8.0"_s);
}

void DeviceCredentialsTest::init()
{
    QVERIFY(protectedstore::removeProtected(u"installation"_s));
}

void DeviceCredentialsTest::createdOnceThenStable()
{
    QString error;
    const QJsonObject first = api::deviceInfo(&error);
    QVERIFY2(!first.isEmpty(), qPrintable(error));
    QVERIFY(error.isEmpty());
    QVERIFY(QFile::exists(recordPath()));
    QVERIFY(api::isValidCredentialRecord(first));
    const QString id = first.value(u"installationId"_s).toString();
    QCOMPARE(id, id.toLower());
    QCOMPARE(id.size(), 36);
    QCOMPARE(first.value(u"platform"_s).toString(), thisSystem);
    QCOMPARE(first.value(u"kind"_s).toString(), u"computer"_s);
    QCOMPARE(first.value(u"appVersion"_s).toString(), u"0.8.0"_s);
    QVERIFY(!first.value(u"name"_s).toString().isEmpty());

    const QByteArray fileBefore = rawRecordFile();
    const QJsonObject second = api::deviceInfo(&error);
    QVERIFY(second == first);
    QCOMPARE(rawRecordFile(), fileBefore); // read, not rewritten
    // The stored record holds exactly the two credentials.
    const QJsonObject stored =
        QJsonDocument::fromJson(protectedstore::readProtected(u"installation"_s)).object();
    QCOMPARE(stored.keys(), (QStringList{u"deviceToken"_s, u"installationId"_s}));
    QVERIFY(stored.value(u"deviceToken"_s) == first.value(u"deviceToken"_s));

    // A fresh installation gets different credentials.
    QVERIFY(protectedstore::removeProtected(u"installation"_s));
    const QJsonObject other = api::deviceInfo(&error);
    QVERIFY(other.value(u"installationId"_s) != first.value(u"installationId"_s));
    QVERIFY(other.value(u"deviceToken"_s) != first.value(u"deviceToken"_s));
}

void DeviceCredentialsTest::storedRecordValidation_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<bool>("valid");
    QTest::newRow("valid") << record(validId, validToken) << true << true;
    QTest::newRow("upper-case id") << record(validId.toUpper(), validToken) << true << true;
    QTest::newRow("token of 42") << record(validId, validToken.left(42)) << true << false;
    QTest::newRow("token of 44") << record(validId, validToken + u'A') << true << false;
    QTest::newRow("token with padding")
        << record(validId, validToken.left(42) + u'=') << true << false;
    QTest::newRow("token with standard base64")
        << record(validId, validToken.left(42) + u'+') << true << false;
    QTest::newRow("version 1 id") << record(u"0f8fad5b-d9cb-169f-a165-70867728950e"_s, validToken)
                                  << true << false;
    QTest::newRow("wrong variant")
        << record(u"0f8fad5b-d9cb-469f-c165-70867728950e"_s, validToken) << true << false;
    QTest::newRow("braced id") << record(u'{' + validId + u'}', validToken) << true << false;
    QTest::newRow("other json") << QByteArray(R"({"id":1})") << true << false;
    QTest::newRow("json array") << QByteArray("[]") << true << false;
    QTest::newRow("empty") << QByteArray() << true << false;
    QTest::newRow("not decryptable") << record(validId, validToken) << false << false;
}

void DeviceCredentialsTest::storedRecordValidation()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, encrypted);
    QFETCH(bool, valid);
    if (encrypted) {
        QVERIFY(protectedstore::writeProtected(u"installation"_s, stored));
    } else {
        QFile file(recordPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stored);
    }
    const QByteArray before = rawRecordFile();

    QString error;
    const QJsonObject device = api::deviceInfo(&error);

    QCOMPARE(device.isEmpty(), !valid);
    QCOMPARE(error, valid ? QString() : unreadable);
    if (valid) {
        QVERIFY(device.value(u"deviceToken"_s).toString() == validToken);
        QCOMPARE(device.value(u"installationId"_s).toString().toLower(), validId);
    }
    // Never replaced: a lost record must not turn this machine into a second device.
    QCOMPARE(rawRecordFile(), before);
}

void DeviceCredentialsTest::deviceObject_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<QString>("expectedVersion");
    QTest::newRow("plain") << u"desk-1"_s << u"0.8.0"_s << u"desk-1"_s << u"0.8.0"_s;
    QTest::newRow("trimmed") << u"  desk-2\t"_s << u"0.8.0"_s << u"desk-2"_s << u"0.8.0"_s;
    QTest::newRow("100 characters cut to 80")
        << QString(100, u'h') << u"0.8.0"_s << QString(80, u'h') << u"0.8.0"_s;
    QTest::newRow("trimmed before cutting")
        << (u"   "_s + QString(85, u'h')) << u"0.8.0"_s << QString(80, u'h') << u"0.8.0"_s;
    QTest::newRow("only spaces") << u"    "_s << u"0.8.0"_s << u"Windows PC"_s << u"0.8.0"_s;
    QTest::newRow("empty") << QString() << u"0.8.0"_s << u"Windows PC"_s << u"0.8.0"_s;
    QTest::newRow("long version cut to 40")
        << u"pc"_s << QString(50, u'9') << u"pc"_s << QString(40, u'9');
    QTest::newRow("no version") << u"pc"_s << QString() << u"pc"_s << QString();
}

void DeviceCredentialsTest::deviceObject()
{
    QFETCH(QString, host);
    QFETCH(QString, version);
    QFETCH(QString, expectedName);
    QFETCH(QString, expectedVersion);
    const QJsonObject credentials{{u"installationId"_s, validId}, {u"deviceToken"_s, validToken}};

    const QJsonObject device = api::deviceObject(credentials, host, version);

    QCOMPARE(device.value(u"name"_s).toString(), expectedName);
    QCOMPARE(device.contains(u"appVersion"_s), !expectedVersion.isEmpty());
    QCOMPARE(device.value(u"appVersion"_s).toString(), expectedVersion);
    QCOMPARE(device.value(u"installationId"_s).toString(), validId);
    QVERIFY(device.value(u"deviceToken"_s).toString() == validToken);
    QCOMPARE(device.value(u"platform"_s).toString(), thisSystem);
    QCOMPARE(device.value(u"kind"_s).toString(), u"computer"_s);
    QCOMPARE(device.size(), expectedVersion.isEmpty() ? 5 : 6);
}

void DeviceCredentialsTest::lockHeldByAnotherProcess()
{
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + u"/solvikvpn-lockholder"_s,
                 {protectedstore::dataDirectory() + u"/installation.lock"_s});
    QVERIFY2(holder.waitForStarted(), qPrintable(holder.errorString()));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    QString error;
    const QJsonObject device = api::deviceInfo(&error, 300);

    QVERIFY(device.isEmpty());
    QCOMPARE(error, u"Could not open this device's credentials. Close other Solvik VPN windows "
                    u"and retry."_s);
    QVERIFY(!QFile::exists(recordPath()));

    // Once the other process lets go, the same call succeeds.
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);
    QVERIFY(!api::deviceInfo(&error, 300).isEmpty());
}

QTEST_GUILESS_MAIN(DeviceCredentialsTest)
#include "tst_devicecredentials.moc"
