#include "app/clientstartup.h"

#include "app/applicationfont.h"
#include "app/applicationidentity.h"
#include "app/instancechannel.h"
#include "app/legacymigration.h"
#include "app/startupoptions.h"
#include "platform/console.h"
#include "platform/testswitch.h"
#include "settings/settingskeys.h"
#include "ui/clientcommands.h"
#include "ui/mainwindow.h"
#include "ui/pages/settingspage.h"
#include "ui/previewrun.h"
#include "ui/problemreport.h"
#include "ui/traycontroller.h"
#include "ui/websitecapture.h"
#include "vpn/windowsvless.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int smokeQuitMilliseconds = 1250;
constexpr int smokeCaptureMilliseconds = 1000;
constexpr int tourOfferMilliseconds = 350;
// A command may wait for the session, the server list and then its tunnel.
constexpr int commandAnswerMilliseconds = 150000;
constexpr int showAnswerMilliseconds = 5000;
constexpr int hiddenStartMilliseconds = 15000;
// A client asked to quit first lets a connect or disconnect under way end.
constexpr int quitMilliseconds = 30000;

// Website shots start from a known look, whatever an earlier shot left in the test store.
void seedWebsiteShotSettings(const QString &shot)
{
    settings::clearAll();
    settings::setTheme(shot.contains(settings::lightTheme) ? settings::lightTheme
                                                           : settings::darkTheme);
    settings::setAccent(settings::defaultAccent);
    settings::setGuidedTourSeen(true);
}

int printAnswer(const InstanceChannel::Answer &answer)
{
    if (!answer.text.isEmpty()) {
        std::fprintf(answer.code == ClientCommands::exitDone ? stdout : stderr, "%s\n",
                     qPrintable(answer.text));
    }
    return answer.code;
}

// With no client running, "--connect" and "--disconnect" start one in the tray and hand it the
// command once it serves the channel.
int startHiddenClientFor(const QString &channel, const QStringList &arguments)
{
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), {u"--hidden"_s})) {
        std::fprintf(stderr, "Solvik VPN could not be started.\n");
        return ClientCommands::exitFailed;
    }
    QElapsedTimer waited;
    waited.start();
    while (!waited.hasExpired(hiddenStartMilliseconds)) {
        if (const auto answer =
                InstanceChannel::send(channel, arguments, commandAnswerMilliseconds)) {
            return printAnswer(*answer);
        }
        QThread::msleep(100);
    }
    std::fprintf(stderr, "Solvik VPN started but did not answer.\n");
    return ClientCommands::exitFailed;
}

// "--quit": returns once the account's client has closed its channel, the last thing it does
// before its process ends, so that an installer finds the programs free. The client may end
// before its answer is on the way.
int awaitClientEnd(const QString &channel, const QStringList &arguments)
{
    InstanceChannel::send(channel, arguments, commandAnswerMilliseconds);
    QElapsedTimer waited;
    waited.start();
    while (InstanceChannel::answers(channel)) {
        if (waited.hasExpired(quitMilliseconds)) {
            std::fprintf(stderr, "Solvik VPN did not quit.\n");
            return ClientCommands::exitFailed;
        }
        QThread::msleep(100);
    }
    return ClientCommands::exitDone;
}

// "--problem-report PATH", with the tunnel's state as the client would find it.
int saveProblemReport(const QString &path)
{
    WindowsVless adapter;
    QString error;
    if (!problemreport::save(path, ClientCommands::standaloneStatus(adapter).line, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return ClientCommands::exitFailed;
    }
    std::printf("Problem report saved to %s\n", qPrintable(path));
    return ClientCommands::exitDone;
}

// "--status" with no client running: the tunnel's own state, as the client would find it.
int printStandaloneStatus()
{
    WindowsVless adapter;
    const ClientCommands::Answer answer = ClientCommands::standaloneStatus(adapter);
    return printAnswer({answer.code, answer.line});
}

// A later start's command line, for the running client.
void obey(const QStringList &arguments, MainWindow &window, ClientCommands &commands,
          const InstanceChannel::Reply &reply)
{
    const StartupOptions options = StartupOptions::parse(QStringList{QString()} + arguments);
    const ClientCommands::Reply answer = [reply](int code, const QString &line) {
        reply({code, line});
    };
    if (!options.error.isEmpty()) {
        reply({ClientCommands::exitBadInput, options.error});
        return;
    }
    switch (options.command) {
    case ClientCommand::None:
        if (!options.hidden) {
            window.tray().showWindow();
        }
        reply({ClientCommands::exitDone, QString()});
        return;
    case ClientCommand::Connect:
        commands.connectTo(options.connectTarget, answer);
        return;
    case ClientCommand::Disconnect:
        commands.disconnect(answer);
        return;
    case ClientCommand::Status:
        commands.status(answer);
        return;
    case ClientCommand::Quit:
        reply({ClientCommands::exitDone, QString()});
        window.tray().requestQuit();
        return;
    case ClientCommand::Help:
        reply({ClientCommands::exitDone, StartupOptions::helpText()});
        return;
    case ClientCommand::ProblemReport:
        reply({ClientCommands::exitBadInput, u"Write a problem report without a client."_s});
        return;
    }
}

} // namespace

int clientstartup::run(QApplication &application, const QStringList &arguments)
{
    // Numbers and dates format the same on every machine.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    identity::apply(RunKind::Normal);

    const StartupOptions options = StartupOptions::parse(arguments);
    if (options.command != ClientCommand::None || !options.error.isEmpty()) {
        platform::attachParentConsole();
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(options.error));
        return ClientCommands::exitBadInput;
    }
    if (options.command == ClientCommand::Help) {
        std::printf("%s", qPrintable(StartupOptions::helpText()));
        return ClientCommands::exitDone;
    }
    if (options.command == ClientCommand::ProblemReport) {
        return saveProblemReport(options.problemReportPath);
    }
    std::unique_ptr<InstanceChannel> channel;
    if (options.usesInstance()) {
        channel = std::make_unique<InstanceChannel>(InstanceChannel::accountChannelId());
        const QStringList forwarded = arguments.mid(1);
        const int timeout = options.command == ClientCommand::None ? showAnswerMilliseconds
                                                                   : commandAnswerMilliseconds;
        if (options.command == ClientCommand::Quit) {
            return awaitClientEnd(channel->name(), forwarded);
        }
        if (const auto answer = InstanceChannel::send(channel->name(), forwarded, timeout)) {
            return printAnswer(*answer);
        }
        switch (options.command) {
        case ClientCommand::Status:
            return printStandaloneStatus();
        case ClientCommand::Connect:
        case ClientCommand::Disconnect:
            return startHiddenClientFor(channel->name(), forwarded);
        case ClientCommand::None:
        case ClientCommand::Help:
        case ClientCommand::Quit:
        case ClientCommand::ProblemReport:
            break;
        }
        if (!channel->claim()) {
            // Another start won the race meanwhile: it shows the window.
            const auto answer = InstanceChannel::send(channel->name(), forwarded, timeout);
            return answer ? printAnswer(*answer) : ClientCommands::exitFailed;
        }
    }
    // Only a start that shows something needs the font; the machine's font list is read meanwhile.
    applicationfont::install();
    QString captureDirectory;
    if (options.websiteCapture()) {
        // Refused before anything is written, the test store's reset included.
        QString error;
        captureDirectory =
            StartupOptions::resolveCaptureDirectory(options.captureDirectory, &error);
        if (captureDirectory.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    if (!options.smokeTest) {
        QString error;
        if (!legacymigration::migrateDataDirectory(&error)) {
            QMessageBox::critical(nullptr, QStringLiteral("Solvik VPN"), error, QMessageBox::Ok);
            return 1;
        }
        legacymigration::migrateSettings();
    } else {
        identity::apply(options.runKind());
        if (options.runKind() == RunKind::WebsiteAssets) {
            seedWebsiteShotSettings(options.websiteShot);
        }
        // Armed once the event loop runs, so the quit is counted from its start.
        QTimer::singleShot(0, &application, [&application] {
            QTimer::singleShot(smokeQuitMilliseconds, &application, &QCoreApplication::quit);
        });
    }

    // Smoke, preview and capture runs reach nothing outside: no lookups, no measurements. Tests
    // of normal runs ask for the same.
    const bool lookups =
        !options.smokeTest && !platform::testSwitch(platform::TestSwitch::NoLookups);
    MainWindow window(nullptr, lookups ? ClientServices::Lookups::Enabled
                                       : ClientServices::Lookups::Disabled);
    if (options.smokeTest) {
        window.setSystemChangesAllowed(false);
    }
    if (!options.startsHidden(QSystemTrayIcon::isSystemTrayAvailable())) {
        window.show();
    }
    ClientCommands commands(window.services(),
                            [&window]() -> ConnectionPage & { return *window.connectionPage(); });
    if (channel) {
        QObject::connect(channel.get(), &InstanceChannel::received, &window,
                         [&window, &commands](const QStringList &arguments,
                                              const InstanceChannel::Reply &reply) {
                             obey(arguments, window, commands, reply);
                         });
    }

    bool captureSaved = true;
    std::unique_ptr<PreviewRun> preview;
    std::unique_ptr<WebsiteCapture> websiteCapture;
    if (!options.smokeTest) {
        if (!settings::guidedTourSeen()) {
            QTimer::singleShot(tourOfferMilliseconds, &window, &MainWindow::maybeOfferTour);
        }
    } else {
        // Not even a stored session may reach the backend from a test identity.
        window.services().api().setOffline(true);
        if (options.websiteCapture()) {
            websiteCapture =
                std::make_unique<WebsiteCapture>(window, options.websiteShot, captureDirectory);
            if (!websiteCapture->start()) {
                std::fprintf(stderr, "Unknown website shot. Use home, account, account-free or "
                                     "settings, each optionally followed by -light.\n");
                return 1;
            }
        } else if (options.previewMode()) {
            preview = std::make_unique<PreviewRun>(window, arguments,
                                                   QCoreApplication::applicationDirPath());
            preview->start();
        }
        const QString path = QCoreApplication::applicationDirPath() +
                             (options.previewMode() ? QStringLiteral("/smoke-profile.png")
                                                    : QStringLiteral("/smoke.png"));
        QTimer::singleShot(smokeCaptureMilliseconds, &window, [&window, &captureSaved, path] {
            captureSaved = window.grab().save(path, "PNG");
        });
    }

    const int exitCode = application.exec();
    // A smoke run whose screenshots are missing has not shown that the window renders.
    const bool allSaved = captureSaved && (!preview || preview->capturesSaved()) &&
                          (!websiteCapture || websiteCapture->finished());
    return allSaved ? exitCode : 1;
}
