#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// Keys the test puts into the test store before the run, to see whether the run cleared it.
constexpr auto seededKey = "seededBeforeRun";

} // namespace

// Runs the built client program in its smoke-test mode, in a private home directory.
class TestSmokeRun : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

void TestSmokeRun::run_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("store");
    QTest::addColumn<QString>("screenshot");
    QTest::addColumn<bool>("storeCleared");
    QTest::addColumn<QString>("theme");
    QTest::addColumn<QString>("websiteCapture");

    QTest::newRow("plain") << QStringList{u"--smoke-test"_s} << u"SmokeTest"_s << u"smoke.png"_s
                           << false << QString() << QString();
    QTest::newRow("preview profile")
        << QStringList{u"--preview-profile"_s, u"--smoke-test"_s} << u"SmokeTest"_s
        << u"smoke-profile.png"_s << false << QString() << QString();
    QTest::newRow("preview guided tour")
        << QStringList{u"--smoke-test"_s, u"--preview-guided-tour"_s} << u"SmokeTest"_s
        << u"smoke-profile.png"_s << false << QString() << QString();
    QTest::newRow("empty website shot keeps the store")
        << QStringList{u"--smoke-test"_s, u"--website-shot="_s} << u"SmokeTest"_s << u"smoke.png"_s
        << false << QString() << QString();
    QTest::newRow("light website shot")
        << QStringList{u"--smoke-test"_s, u"--website-shot=home-light"_s,
                       u"--capture-directory=@shots"_s}
        << u"WebsiteAssets"_s << u"smoke.png"_s << true << u"light"_s
        << u"shots/app-home-light.png"_s;
    QTest::newRow("capital L is not light")
        << QStringList{u"--smoke-test"_s, u"--website-shot=home-Light"_s} << u"WebsiteAssets"_s
        << u"smoke.png"_s << true << u"dark"_s << QString();
}

void TestSmokeRun::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, store);
    QFETCH(QString, screenshot);
    QFETCH(bool, storeCleared);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString config = home.filePath(u"config"_s);
    const QString data = home.filePath(u"data"_s);
    for (QString &argument : arguments) {
        argument.replace(u'@', home.path() + u'/');
    }
    QVERIFY(QDir().mkpath(home.filePath(u"shots"_s)));

    const QString storePath = config + u"/SolvikVPNTests/"_s + store + u".conf"_s;
    QVERIFY(QDir().mkpath(QFileInfo(storePath).path()));
    {
        QFile seeded(storePath);
        QVERIFY(seeded.open(QIODevice::WriteOnly));
        seeded.write("[General]\n" + QByteArray(seededKey) + "=kept\n");
    }

    const QString executable = QStringLiteral(SOLVIKVPN_EXECUTABLE);
    const QString screenshotPath = QFileInfo(executable).path() + u'/' + screenshot;
    QFile::remove(screenshotPath);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home.path());
    environment.insert(u"XDG_CONFIG_HOME"_s, config);
    environment.insert(u"XDG_DATA_HOME"_s, data);
    environment.insert(u"XDG_CACHE_HOME"_s, home.filePath(u"cache"_s));
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);

    QProcess client;
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer elapsed;
    elapsed.start();
    client.start(executable, arguments);
    QVERIFY2(client.waitForFinished(30000), "the smoke run did not quit by itself");
    const qint64 took = elapsed.elapsed();

    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), 0);
    QVERIFY2(took >= 1000 && took <= 10000, qPrintable(u"ran for %1 ms"_s.arg(took)));

    const QImage image(screenshotPath);
    QFile::remove(screenshotPath);
    QVERIFY2(!image.isNull(), qPrintable(screenshotPath));
    QCOMPARE(image.size(), QSize(1180, 780));

    // A smoke run never touches the normal run's settings or data.
    QVERIFY(!QFileInfo::exists(config + u"/SolvikVPN"_s));
    QVERIFY(!QFileInfo::exists(data + u"/SolvikVPN"_s));

#ifdef _WIN32
    if (storeCleared) {
        QSKIP("On Windows the client's store is the registry, not the file this test seeds");
    }
#endif
    const QSettings after(storePath, QSettings::IniFormat);
    QCOMPARE(after.contains(QLatin1StringView(seededKey)), !storeCleared);
    QTEST(after.value(u"theme"_s).toString(), "theme");
    if (storeCleared) {
        QCOMPARE(after.value(u"accent"_s).toString(), u"#87d6c2"_s);
        QCOMPARE(after.value(u"guidedTourSeen"_s).toBool(), true);
    }

    QFETCH(QString, websiteCapture);
    if (!websiteCapture.isEmpty()) {
        QCOMPARE(QImage(home.filePath(websiteCapture)).size(), QSize(1180, 780));
    }
}

QTEST_GUILESS_MAIN(TestSmokeRun)
#include "tst_smokerun.moc"
