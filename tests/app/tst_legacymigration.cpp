#include "app/legacymigration.h"
#include "common/protectedstore.h"
#include "settings/settingskeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

using Files = QMap<QString, QByteArray>;

const QString holdLockSwitch = u"--hold-lock="_s;

void writeFiles(const QString &directory, const Files &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = directory + u'/' + it.key();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(it.value()), it.value().size());
    }
}

// The protected files directly inside `directory`, by name.
Files dpapiFiles(const QString &directory)
{
    Files result;
    const QFileInfoList entries =
        QDir(directory).entryInfoList({u"*.dpapi"_s}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly)) {
            result.insert(entry.fileName(), file.readAll());
        }
    }
    return result;
}

QString genericData()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString firstSource()
{
    return genericData() + u"/Zelvane/Zelvane"_s;
}

QString secondSource()
{
    return genericData() + u"/Zelvane"_s;
}

QString markerPath()
{
    return protectedstore::dataDirectory() + u"/legacy-storage-migrated"_s;
}

// Run as a child of the test: holds the migration lock until its standard input closes, so the
// lock belongs to another live process as it would with a second client.
int holdLock(const QString &path)
{
    QLockFile lock(path);
    if (!lock.lock()) {
        return 2;
    }
    std::fputs("locked\n", stdout);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
}

} // namespace

class TestLegacyMigration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void migratesFiles_data();
    void migratesFiles();
    void skipsEntriesThatAreNotRegularProtectedFiles();
    void secondStartDoesNotReadSources();
    void failures_data();
    void failures();
    void lockHeldByAnotherProcess();

    void migratesSettings();
    void settingsMigrationRunsOnce();

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_configDirectory;
};

void TestLegacyMigration::initTestCase()
{
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"LegacyMigration"_s);
}

void TestLegacyMigration::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->filePath(u"data"_s)));
    m_configDirectory = m_home->filePath(u"config"_s);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_configDirectory);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_configDirectory);
}

void TestLegacyMigration::migratesFiles_data()
{
    QTest::addColumn<Files>("current");
    QTest::addColumn<Files>("first");
    QTest::addColumn<Files>("second");
    QTest::addColumn<Files>("expected");

    QTest::newRow("no earlier product") << Files{} << Files{} << Files{} << Files{};
    QTest::newRow("files of both layouts")
        << Files{} << Files{{u"session.dpapi"_s, "s1"}} << Files{{u"installation.dpapi"_s, "i2"}}
        << Files{{u"session.dpapi"_s, "s1"}, {u"installation.dpapi"_s, "i2"}};
    QTest::newRow("current data wins")
        << Files{{u"session.dpapi"_s, "current"}} << Files{{u"session.dpapi"_s, "first"}}
        << Files{{u"session.dpapi"_s, "second"}} << Files{{u"session.dpapi"_s, "current"}};
    QTest::newRow("first source wins")
        << Files{} << Files{{u"installation.dpapi"_s, "first"}}
        << Files{{u"installation.dpapi"_s, "second"}} << Files{{u"installation.dpapi"_s, "first"}};
    QTest::newRow("only protected files directly inside")
        << Files{} << Files{}
        << Files{{u"notes.txt"_s, "text"},
                 {u"profiles/profile.dpapi"_s, "nested"},
                 {u"session.dpapi.bak"_s, "backup"}}
        << Files{};
    QTest::newRow("binary content copied byte for byte")
        << Files{} << Files{{u"blob.dpapi"_s, QByteArray("\0\x01\xff\r\n", 5)}} << Files{}
        << Files{{u"blob.dpapi"_s, QByteArray("\0\x01\xff\r\n", 5)}};
}

void TestLegacyMigration::migratesFiles()
{
    QFETCH(Files, current);
    QFETCH(Files, first);
    QFETCH(Files, second);
    const QString data = protectedstore::dataDirectory();
    writeFiles(data, current);
    writeFiles(firstSource(), first);
    writeFiles(secondSource(), second);

    QString error;
    QVERIFY(legacymigration::migrateDataDirectory(&error));
    QVERIFY(error.isEmpty());
    QTEST(dpapiFiles(data), "expected");

    QFile marker(markerPath());
    QVERIFY(marker.open(QIODevice::ReadOnly));
    QCOMPARE(marker.readAll(), QByteArray("1"));
    // The earlier product's files stay where they were.
    QCOMPARE(dpapiFiles(firstSource()), first);
}

void TestLegacyMigration::skipsEntriesThatAreNotRegularProtectedFiles()
{
    const QString outside = m_home->filePath(u"outside.dpapi"_s);
    writeFiles(m_home->path(), {{u"outside.dpapi"_s, "secret elsewhere"}});
    QVERIFY(QDir().mkpath(firstSource() + u"/folder.dpapi"_s));
    QVERIFY(QFile::link(outside, firstSource() + u"/linked.dpapi"_s));

    const QString target = m_home->filePath(u"target"_s);
    QVERIFY(legacymigration::copyLegacyFiles(firstSource(), target));
    QVERIFY(QDir(target).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                 QDir::System));
}

void TestLegacyMigration::secondStartDoesNotReadSources()
{
    writeFiles(firstSource(), {{u"session.dpapi"_s, "old"}});
    QVERIFY(legacymigration::migrateDataDirectory());

    writeFiles(firstSource(), {{u"late.dpapi"_s, "late"}});
    writeFiles(secondSource(), {{u"later.dpapi"_s, "later"}});
    QString error;
    QVERIFY(legacymigration::migrateDataDirectory(&error));
    QVERIFY(error.isEmpty());
    QCOMPARE(dpapiFiles(protectedstore::dataDirectory()), (Files{{u"session.dpapi"_s, "old"}}));
}

void TestLegacyMigration::failures_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message");

    QTest::newRow("marker cannot be written")
        << u"marker"_s << u"Could not finish transferring your settings. Please retry."_s;
    QTest::newRow("data directory cannot be created")
        << u"data"_s << u"Could not create the Solvik VPN data directory."_s;
    QTest::newRow("target directory cannot be created")
        << u"target"_s << u"Could not create the Solvik VPN data directory."_s;
    QTest::newRow("file cannot be copied")
        << u"copy"_s
        << u"Could not transfer your saved device credentials. Close the app and retry; your "
           u"existing data has been kept."_s;
}

void TestLegacyMigration::failures()
{
    QFETCH(QString, situation);
    writeFiles(firstSource(), {{u"session.dpapi"_s, "old"}});

    QString error;
    bool result = true;
    if (situation == u"marker"_s) {
        // A directory in the marker's place is not a marker and cannot be written as one.
        QVERIFY(QDir().mkpath(markerPath()));
        result = legacymigration::migrateDataDirectory(&error);
        // The files were copied; the next start only has to write the marker.
        QCOMPARE(dpapiFiles(protectedstore::dataDirectory()), (Files{{u"session.dpapi"_s, "old"}}));
    } else if (situation == u"data"_s) {
        writeFiles(m_home->path(), {{u"blocked"_s, "a file, not a directory"}});
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->filePath(u"blocked/data"_s)));
        result = legacymigration::migrateDataDirectory(&error);
    } else if (situation == u"target"_s) {
        writeFiles(m_home->path(), {{u"blocked"_s, "a file, not a directory"}});
        result = legacymigration::copyLegacyFiles(firstSource(),
                                                  m_home->filePath(u"blocked/target"_s), &error);
    } else {
        // Even an administrator cannot create files in the kernel's process directory.
        if (!QFileInfo(u"/proc/self"_s).isDir()) {
            QSKIP("needs /proc to provoke a failing copy");
        }
        result = legacymigration::copyLegacyFiles(firstSource(), u"/proc/self"_s, &error);
    }
    QVERIFY(!result);
    QTEST(error, "message");
}

void TestLegacyMigration::lockHeldByAnotherProcess()
{
    const QString data = protectedstore::dataDirectory();
    writeFiles(data, {{u"legacy-storage-migrated"_s, "1"}});

    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {holdLockSwitch + data + u"/brand-migration.lock"_s});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine(), QByteArray("locked\n"));

    QElapsedTimer elapsed;
    elapsed.start();
    QString error;
    const bool migrated = legacymigration::migrateDataDirectory(&error);
    const qint64 waited = elapsed.elapsed();

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);

    QVERIFY(!migrated);
    QCOMPARE(error, u"Close other Solvik VPN windows and retry the update."_s);
    QVERIFY2(waited >= 4900, qPrintable(u"gave up after %1 ms"_s.arg(waited)));

    // Once the other process is gone the marker is trusted again.
    QVERIFY(legacymigration::migrateDataDirectory());
}

void TestLegacyMigration::migratesSettings()
{
    {
        QSettings earlier(u"Zelvane"_s, u"Zelvane"_s);
        earlier.setValue(u"theme"_s, u"light"_s);
        earlier.setValue(u"accent"_s, u"#f2a65a"_s);
        earlier.setValue(u"geoIpCache/203.0.113.7/city"_s, u"Amsterdam"_s);
        earlier.setValue(u"myGeoLocation/latitude"_s, 50.45);
        earlier.setValue(u"deep/er/key"_s, 7);
    }
    settings::setTheme(u"dark"_s);

    legacymigration::migrateSettings();

    QSettings current;
    QCOMPARE(current.value(u"theme"_s).toString(), u"dark"_s);
    QCOMPARE(current.value(u"accent"_s).toString(), u"#f2a65a"_s);
    QCOMPARE(settings::geoIpCache(u"203.0.113.7"_s).city, u"Amsterdam"_s);
    QCOMPARE(settings::myGeoLocation().latitude, 50.45);
    QCOMPARE(current.value(u"deep/er/key"_s).toInt(), 7);
    QVERIFY(settings::legacySettingsMigrated());

    // Flushed to disk, not only held in memory.
    QFile file(current.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("legacySettingsMigrated=true"));
}

void TestLegacyMigration::settingsMigrationRunsOnce()
{
    int opened = 0;
    const legacymigration::SettingsOpener opener = [&opened, this] {
        ++opened;
        return std::make_unique<QSettings>(m_configDirectory + u"/earlier.ini"_s,
                                           QSettings::IniFormat);
    };
    {
        QSettings earlier(m_configDirectory + u"/earlier.ini"_s, QSettings::IniFormat);
        earlier.setValue(u"apiUrl"_s, u"https://first.example"_s);
    }

    legacymigration::migrateSettings(opener);
    QCOMPARE(opened, 1);
    QCOMPARE(settings::apiUrl(), u"https://first.example"_s);

    // A key removed after the first migration is not brought back by a later start.
    QSettings().remove(u"apiUrl"_s);
    legacymigration::migrateSettings(opener);
    QCOMPARE(opened, 1);
    QVERIFY(settings::apiUrl().isEmpty());
}

int main(int argc, char *argv[])
{
    if (argc == 2 && QString::fromLocal8Bit(argv[1]).startsWith(holdLockSwitch)) {
        return holdLock(QString::fromLocal8Bit(argv[1]).mid(holdLockSwitch.size()));
    }
    QCoreApplication application(argc, argv);
    TestLegacyMigration test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_legacymigration.moc"
