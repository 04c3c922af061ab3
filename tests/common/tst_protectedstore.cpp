#include "common/protectedstore.h"
#include "platform/protectedfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestProtectedStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dataDirectoryIsCreatedWithParents();
    void roundTripByName_data();
    void roundTripByName();
    void removeProtected();
    void unsafeNamesAreRefused_data();
    void unsafeNamesAreRefused();
    void pathBasedMachineScope();

private:
    QTemporaryDir m_root;
    QString m_expectedData;
};

void TestProtectedStore::initTestCase()
{
    QVERIFY(m_root.isValid());
    // Everything this suite writes, the user key included, stays inside the temporary root.
    qputenv("HOME", m_root.path().toUtf8());
    qputenv("XDG_DATA_HOME", (m_root.path() + u"/data"_s).toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_root.path() + u"/config"_s).toUtf8());
    QCoreApplication::setOrganizationName(u"SolvikVPN"_s);
    QCoreApplication::setApplicationName(u"SolvikVPN"_s);
    m_expectedData = m_root.path() + u"/data/SolvikVPN/SolvikVPN"_s;
}

void TestProtectedStore::dataDirectoryIsCreatedWithParents()
{
    QVERIFY(!QFileInfo::exists(m_root.path() + u"/data"_s));
    QCOMPARE(protectedstore::dataDirectory(), m_expectedData);
    QVERIFY(QFileInfo(m_expectedData).isDir());

    // Removed behind our back, it comes back on the next name-based operation.
    QVERIFY(QDir(m_root.path() + u"/data"_s).removeRecursively());
    QVERIFY(protectedstore::writeProtected(u"session"_s, "{}"));
    QVERIFY(QFileInfo::exists(m_expectedData + u"/session.dpapi"_s));
}

void TestProtectedStore::roundTripByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("session") << u"session"_s
                             << QByteArray(R"({"accessToken":"a","refreshToken":"r"})");
    QTest::newRow("installation") << u"installation"_s
                                  << QByteArray(R"({"deviceId":"d","deviceSecret":"s"})");
    QTest::newRow("per-account name") << u"vpn-state-3f2a.b_c"_s << QByteArray("{\"x\":1}");
    QTest::newRow("empty content") << u"empty"_s << QByteArray();
    QTest::newRow("binary with zeros") << u"binary"_s << QByteArray("\0\1\0\377", 4);
}

void TestProtectedStore::roundTripByName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QVERIFY(protectedstore::writeProtected(name, bytes));
    const QString path = m_expectedData + u'/' + name + u".dpapi"_s;
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(!QFileInfo::exists(path + u".tmp"_s));
    QCOMPARE(QFileInfo(path).permissions(),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QVERIFY(protectedstore::readProtected(name) == bytes);
    QVERIFY(protectedstore::readProtectedFile(path) == bytes);

    // A second write replaces the first.
    QVERIFY(protectedstore::writeProtected(name, bytes + "!"));
    QVERIFY(protectedstore::readProtected(name) == bytes + "!");
}

void TestProtectedStore::removeProtected()
{
    QVERIFY(protectedstore::removeProtected(u"never-written"_s));
    QVERIFY(protectedstore::readProtected(u"never-written"_s).isEmpty());

    QVERIFY(protectedstore::writeProtected(u"doomed"_s, "x"));
    QVERIFY(protectedstore::removeProtected(u"doomed"_s));
    QVERIFY(!QFileInfo::exists(m_expectedData + u"/doomed.dpapi"_s));
    QVERIFY(protectedstore::removeProtected(u"doomed"_s));

    // Something that cannot be deleted as a file is reported as a failed deletion.
    QVERIFY(QDir(m_expectedData).mkpath(u"stuck.dpapi/inner"_s));
    QVERIFY(!protectedstore::removeProtected(u"stuck"_s));
}

void TestProtectedStore::unsafeNamesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("parent directory") << u"../escaped"_s;
    QTest::newRow("sub directory") << u"sub/name"_s;
    QTest::newRow("backslash") << u"..\\escaped"_s;
    QTest::newRow("embedded NUL") << (u"session"_s + QChar(u'\0') + u"x"_s);
}

void TestProtectedStore::unsafeNamesAreRefused()
{
    QFETCH(QString, name);
    QVERIFY(!protectedstore::writeProtected(name, "x"));
    QVERIFY(protectedstore::readProtected(name).isEmpty());
    QVERIFY(!protectedstore::removeProtected(name));
    QVERIFY(!QFileInfo::exists(m_expectedData + u"/../escaped.dpapi"_s));
    QVERIFY(!QFileInfo::exists(m_expectedData + u"/session.dpapi"_s) ||
            protectedstore::readProtected(u"session"_s) != "x");
}

void TestProtectedStore::pathBasedMachineScope()
{
    QTemporaryDir tunnelDir;
    QVERIFY(tunnelDir.isValid());
    const QString profile = tunnelDir.filePath(u"tnel_00112233445566778899.profile"_s);
    const QString error = tunnelDir.filePath(u"tnel_00112233445566778899.error"_s);
    const QByteArray content = R"({"uri":"vless://u@h:443","proxyPort":20000})";

    QVERIFY(protectedstore::writeMachineProtectedFile(profile, u"tnel_00112233445566778899"_s,
                                                      content, QString()));
    QVERIFY(protectedstore::readProtectedFile(profile) == content);

    // Left for a reader: this account here.
    const QString reader = QString::fromStdString(platform::currentAccountId());
    QVERIFY(protectedstore::writeMachineProtectedFile(error, u"tnel_00112233445566778899"_s,
                                                      "{\"error\":\"e\"}", reader));
    QCOMPARE(protectedstore::readProtectedFile(error), QByteArray("{\"error\":\"e\"}"));

    QVERIFY(!protectedstore::writeMachineProtectedFile(error, u"t"_s, "new", u"nobody"_s));
    QVERIFY(!QFileInfo::exists(error + u".tmp"_s));
    QCOMPARE(protectedstore::readProtectedFile(error), QByteArray("{\"error\":\"e\"}"));
    QVERIFY(protectedstore::readProtectedFile(tunnelDir.filePath(u"missing"_s)).isEmpty());
}

QTEST_GUILESS_MAIN(TestProtectedStore)
#include "tst_protectedstore.moc"
