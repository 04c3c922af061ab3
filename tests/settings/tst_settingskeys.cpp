#include "settings/settingskeys.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// Values as the store hands them back, so defaults and stored values compare alike.
using Reader = QVariant (*)();

Q_DECLARE_METATYPE(Reader)

class TestSettingsKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void defaults_data();
    void defaults();
    void followsApplicationIdentity();
    void storedLayout();
    void connectionStartedAt();

private:
    QTemporaryDir m_config;
};

void TestSettingsKeys::initTestCase()
{
    QVERIFY(m_config.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"SettingsKeys"_s);
}

void TestSettingsKeys::init()
{
    QSettings().clear();
}

void TestSettingsKeys::defaults_data()
{
    QTest::addColumn<Reader>("read");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("theme") << Reader([] { return QVariant(settings::theme()); })
                           << QVariant(u"dark"_s);
    QTest::newRow("light theme") << Reader([] { return QVariant(settings::isLightTheme()); })
                                 << QVariant(false);
    QTest::newRow("accent") << Reader([] { return QVariant(settings::accent()); })
                            << QVariant(u"#87d6c2"_s);
    QTest::newRow("guided tour seen")
        << Reader([] { return QVariant(settings::guidedTourSeen()); }) << QVariant(false);
    QTest::newRow("legacy settings migrated")
        << Reader([] { return QVariant(settings::legacySettingsMigrated()); }) << QVariant(false);
    QTest::newRow("api url") << Reader([] { return QVariant(settings::apiUrl()); })
                             << QVariant(QString());
    QTest::newRow("production") << Reader([] { return QVariant(settings::production()); })
                                << QVariant(false);
    QTest::newRow("managed tunnel")
        << Reader([] { return QVariant(settings::managedVlessTunnel()); }) << QVariant(QString());
    QTest::newRow("connection start absent")
        << Reader([] { return QVariant(settings::connectionStartedAt().isValid()); })
        << QVariant(false);
    QTest::newRow("own location never checked")
        << Reader([] { return QVariant(settings::myGeoLocation().checkedAt); })
        << QVariant(qint64(0));
    QTest::newRow("server location never checked")
        << Reader([] { return QVariant(settings::geoIpCache(u"198.51.100.22"_s).checkedAt); })
        << QVariant(qint64(0));
}

void TestSettingsKeys::defaults()
{
    QFETCH(Reader, read);
    QTEST(read(), "expected");
    // Reading never writes: absent keys stay absent until their owner stores them.
    QVERIFY(QSettings().allKeys().isEmpty());
}

void TestSettingsKeys::followsApplicationIdentity()
{
    settings::setTheme(u"light"_s);
    QVERIFY(settings::isLightTheme());

    QCoreApplication::setApplicationName(u"SettingsKeysOther"_s);
    const bool otherLight = settings::isLightTheme();
    QCoreApplication::setApplicationName(u"SettingsKeys"_s);

    QVERIFY(!otherLight);
    QVERIFY(settings::isLightTheme());
}

void TestSettingsKeys::storedLayout()
{
    settings::setTheme(u"Light"_s);
    QVERIFY(!settings::isLightTheme());

    settings::CachedLocation amsterdam;
    amsterdam.checkedAt = 1'700'000'000'000;
    amsterdam.country = u"Netherlands"_s;
    amsterdam.countryCode = u"NL"_s;
    amsterdam.city = u"Amsterdam"_s;
    amsterdam.latitude = 52.37;
    amsterdam.longitude = 4.89;
    settings::setGeoIpCache(u"203.0.113.7"_s, amsterdam);
    settings::setMyGeoLocation(amsterdam);

    // Other readers (and the earlier product's migrated values) use these exact paths.
    const QSettings store;
    QCOMPARE(store.value(u"geoIpCache/203.0.113.7/checkedAt"_s).toLongLong(), 1'700'000'000'000);
    QCOMPARE(store.value(u"geoIpCache/203.0.113.7/countryCode"_s).toString(), u"NL"_s);
    QCOMPARE(store.value(u"myGeoLocation/longitude"_s).toDouble(), 4.89);

    const settings::CachedLocation read = settings::geoIpCache(u"203.0.113.7"_s);
    QCOMPARE(read.checkedAt, amsterdam.checkedAt);
    QCOMPARE(read.country, amsterdam.country);
    QCOMPARE(read.city, amsterdam.city);
    QCOMPARE(read.latitude, amsterdam.latitude);
    QCOMPARE(settings::geoIpCache(u"203.0.113.8"_s).checkedAt, 0);
}

void TestSettingsKeys::connectionStartedAt()
{
    const QDateTime local(QDate(2024, 5, 1), QTime(12, 30), Qt::OffsetFromUTC, 2 * 3600);
    settings::setConnectionStartedAt(local);
    const QDateTime read = settings::connectionStartedAt();
    QCOMPARE(read.timeSpec(), Qt::UTC);
    QCOMPARE(read, local);
    QCOMPARE(read.time(), QTime(10, 30));

    settings::removeConnectionStartedAt();
    QVERIFY(!settings::connectionStartedAt().isValid());
    QVERIFY(!QSettings().contains(u"connectionStartedAt"_s));
}

QTEST_GUILESS_MAIN(TestSettingsKeys)
#include "tst_settingskeys.moc"
