#include "app/applicationidentity.h"
#include "app/startupoptions.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestStartupOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void startsHidden_data();
    void startsHidden();
    void captureDirectory_data();
    void captureDirectory();
    void identity_data();
    void identity();
    void commands_data();
    void commands();
};

void TestStartupOptions::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("smokeTest");
    QTest::addColumn<QString>("websiteShot");
    QTest::addColumn<QString>("captureDirectory");
    QTest::addColumn<bool>("previewMode");
    QTest::addColumn<int>("runKind");

    const auto normal = int(RunKind::Normal);
    const auto smoke = int(RunKind::SmokeTest);
    const auto website = int(RunKind::WebsiteAssets);
    const QString none;

    QTest::newRow("no arguments") << QStringList{u"solvikvpn"_s} << false << none << none << false
                                  << normal;
    QTest::newRow("smoke test first")
        << QStringList{u"solvikvpn"_s, u"--smoke-test"_s} << true << none << none << false << smoke;
    QTest::newRow("smoke test twice, not first")
        << QStringList{u"solvikvpn"_s, u"--other"_s, u"--smoke-test"_s, u"--smoke-test"_s} << true
        << none << none << false << smoke;
    QTest::newRow("other letter case is not the switch")
        << QStringList{u"solvikvpn"_s, u"--Smoke-Test"_s} << false << none << none << false
        << normal;
    QTest::newRow("switch with a suffix is not the switch")
        << QStringList{u"solvikvpn"_s, u"--smoke-tests"_s} << false << none << none << false
        << normal;
    QTest::newRow("program path is not an option")
        << QStringList{u"--smoke-test"_s} << false << none << none << false << normal;
    QTest::newRow("website shot selects website assets")
        << QStringList{u"solvikvpn"_s, u"--smoke-test"_s, u"--website-shot=home-light"_s} << true
        << u"home-light"_s << none << false << website;
    QTest::newRow("last website shot and capture directory win")
        << QStringList{u"solvikvpn"_s,
                       u"--website-shot=home"_s,
                       u"--capture-directory=/a"_s,
                       u"--smoke-test"_s,
                       u"--website-shot=account"_s,
                       u"--capture-directory=/b=c"_s}
        << true << u"account"_s << u"/b=c"_s << false << website;
    QTest::newRow("empty website shot keeps smoke test")
        << QStringList{u"solvikvpn"_s, u"--smoke-test"_s, u"--website-shot=home"_s,
                       u"--website-shot="_s}
        << true << none << none << false << smoke;
    QTest::newRow("website shot without smoke test is a normal run")
        << QStringList{u"solvikvpn"_s, u"--website-shot=home"_s} << false << u"home"_s << none
        << false << normal;
    QTest::newRow("prefix in other letter case is ignored")
        << QStringList{u"solvikvpn"_s, u"--smoke-test"_s, u"--Website-Shot=home"_s} << true << none
        << none << false << smoke;
    QTest::newRow("preview profile")
        << QStringList{u"solvikvpn"_s, u"--preview-profile"_s, u"--smoke-test"_s} << true << none
        << none << true << smoke;
    QTest::newRow("preview guided tour")
        << QStringList{u"solvikvpn"_s, u"--smoke-test"_s, u"--preview-guided-tour"_s} << true
        << none << none << true << smoke;
    QTest::newRow("preview without smoke test has no effect")
        << QStringList{u"solvikvpn"_s, u"--preview-profile"_s} << false << none << none << false
        << normal;
    QTest::newRow("preview switch must be exact")
        << QStringList{u"solvikvpn"_s, u"--smoke-test"_s, u"--preview-profile=1"_s} << true << none
        << none << false << smoke;
}

void TestStartupOptions::parse()
{
    QFETCH(QStringList, arguments);
    const StartupOptions options = StartupOptions::parse(arguments);
    QTEST(options.smokeTest, "smokeTest");
    QTEST(options.websiteShot, "websiteShot");
    QTEST(options.captureDirectory, "captureDirectory");
    QTEST(options.previewMode(), "previewMode");
    QTEST(int(options.runKind()), "runKind");
}

void TestStartupOptions::startsHidden_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("trayAvailable");
    QTest::addColumn<bool>("hidden");

    const QString program = u"solvikvpn"_s;
    QTest::newRow("hidden with a tray") << QStringList{program, u"--hidden"_s} << true << true;
    QTest::newRow("hidden without a tray shows the window")
        << QStringList{program, u"--hidden"_s} << false << false;
    QTest::newRow("no switch") << QStringList{program} << true << false;
    QTest::newRow("other letter case is not the switch")
        << QStringList{program, u"--Hidden"_s} << true << false;
    QTest::newRow("switch must be exact") << QStringList{program, u"--hidden=1"_s} << true << false;
    QTest::newRow("ignored in smoke runs")
        << QStringList{program, u"--hidden"_s, u"--smoke-test"_s} << true << false;
}

void TestStartupOptions::startsHidden()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, trayAvailable);
    QTEST(StartupOptions::parse(arguments).startsHidden(trayAvailable), "hidden");
}

void TestStartupOptions::captureDirectory_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("resolved");
    QTest::newRow("directory") << u"real/"_s << u"/real"_s;
    QTest::newRow("dot-dot taken away before links") << u"link/../real/."_s << u"/real"_s;
    QTest::newRow("link") << u"real/../link"_s << QString();
    QTest::newRow("missing") << u"missing"_s << QString();
}

void TestStartupOptions::captureDirectory()
{
    QFETCH(QString, given);
    QFETCH(QString, resolved);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(u"real"_s) && QDir(root.path()).mkpath(u"elsewhere/real"_s));
    QVERIFY(QFile::link(root.filePath(u"elsewhere/real"_s), root.filePath(u"link"_s)));
    QString error;
    QCOMPARE(StartupOptions::resolveCaptureDirectory(root.filePath(given), &error),
             resolved.isEmpty() ? resolved : QDir(root.path()).canonicalPath() + resolved);
    QCOMPARE(error.isEmpty(), !resolved.isEmpty());
}

void TestStartupOptions::identity_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("organisation");
    QTest::addColumn<QString>("application");

    QTest::newRow("normal") << int(RunKind::Normal) << u"SolvikVPN"_s << u"SolvikVPN"_s;
    QTest::newRow("smoke test") << int(RunKind::SmokeTest) << u"SolvikVPNTests"_s << u"SmokeTest"_s;
    QTest::newRow("website assets")
        << int(RunKind::WebsiteAssets) << u"SolvikVPNTests"_s << u"WebsiteAssets"_s;
}

void TestStartupOptions::identity()
{
    QFETCH(int, kind);
    identity::apply(RunKind(kind));
    QTEST(QCoreApplication::organizationName(), "organisation");
    QTEST(QCoreApplication::applicationName(), "application");
    QCOMPARE(QCoreApplication::applicationVersion(), u"0.8.0"_s);
}

void TestStartupOptions::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("error");

    const QString program = u"solvikvpn"_s;
    const QString none;
    const auto connect = int(ClientCommand::Connect);
    QTest::newRow("plain start") << QStringList{program} << int(ClientCommand::None) << none
                                 << none;
    QTest::newRow("connect by the usual rules")
        << QStringList{program, u"--connect"_s} << connect << none << none;
    QTest::newRow("connect to a country, hidden")
        << QStringList{program, u"--connect"_s, u"de"_s, u"--hidden"_s} << connect << u"de"_s
        << none;
    QTest::newRow("a switch after --connect is not its target")
        << QStringList{program, u"--connect"_s, u"--hidden"_s} << connect << none << none;
    QTest::newRow("every preview switch is known")
        << QStringList{program, u"--smoke-test"_s, u"--preview-tour-step=3"_s,
                       u"--preview-navigation"_s}
        << int(ClientCommand::None) << none << none;
    QTest::newRow("unknown switch")
        << QStringList{program, u"--conect"_s} << int(ClientCommand::None) << none
        << u"Unknown option \"--conect\". Run \"solvikvpn --help\" for the options."_s;
    QTest::newRow("a target with markup")
        << QStringList{program, u"--connect"_s, u"<b>x</b>"_s} << connect << u"<b>x</b>"_s
        << u"\"<b>x</b>\" is not a server id or a country code."_s;
    QTest::newRow("quit") << QStringList{program, u"--quit"_s} << int(ClientCommand::Quit) << none
                          << none;
    QTest::newRow("two commands")
        << QStringList{program, u"--status"_s, u"--disconnect"_s} << int(ClientCommand::Disconnect)
        << none << u"Give one command at a time; \"--disconnect\" is one too many."_s;
}

void TestStartupOptions::commands()
{
    QFETCH(QStringList, arguments);
    const StartupOptions options = StartupOptions::parse(arguments);
    QTEST(int(options.command), "command");
    QTEST(options.connectTarget, "target");
    QTEST(options.error, "error");
    QVERIFY(StartupOptions::helpText().contains(u"--preview-tour-step=N"_s));
}

QTEST_GUILESS_MAIN(TestStartupOptions)
#include "tst_startupoptions.moc"
