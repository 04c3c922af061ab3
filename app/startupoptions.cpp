#include "app/startupoptions.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Switch
{
    QLatin1StringView name;
    QLatin1StringView help;
};

// The preview switches of smoke runs, which show one state of the window each.
constexpr std::array previewSwitches{
    Switch{"--preview-profile"_L1, "show the sample account"_L1},
    Switch{"--preview-guided-tour"_L1, "show the guided tour"_L1},
    Switch{"--preview-tour-step=N"_L1, "start the tour at step N"_L1},
    Switch{"--preview-tour-moved"_L1, "move the window during the tour"_L1},
    Switch{"--preview-free"_L1, "a free account"_L1},
    Switch{"--preview-latency"_L1, "sample latencies"_L1},
    Switch{"--preview-connection-error"_L1, "a connection error"_L1},
    Switch{"--preview-compact"_L1, "the compact window"_L1},
    Switch{"--preview-flags"_L1, "every flag"_L1},
    Switch{"--preview-connecting"_L1, "a connect under way"_L1},
    Switch{"--preview-connected-dot"_L1, "the connected marker"_L1},
    Switch{"--preview-traffic"_L1, "the traffic chart"_L1},
    Switch{"--preview-tray-quit"_L1, "quit from the tray"_L1},
    Switch{"--preview-settings-popup"_L1, "a settings drop-down"_L1},
    Switch{"--preview-other"_L1, "the other locations"_L1},
    Switch{"--preview-hover"_L1, "a hovered location"_L1},
    Switch{"--preview-expand"_L1, "an opened location group"_L1},
    Switch{"--preview-account"_L1, "the account page"_L1},
    Switch{"--preview-login-error"_L1, "a sign-in error"_L1},
    Switch{"--preview-transition"_L1, "a page transition"_L1},
    Switch{"--preview-navigation"_L1, "every page"_L1},
};

bool isPreviewSwitch(const QString &argument)
{
    return std::any_of(previewSwitches.begin(), previewSwitches.end(), [&](const Switch &entry) {
        return entry.name.endsWith("=N"_L1) ? argument.startsWith(entry.name.chopped(1))
                                            : argument == entry.name;
    });
}

// A server id as the backend gives them, or a two-letter country code.
bool isConnectTarget(const QString &text)
{
    static const QRegularExpression pattern(u"^[A-Za-z0-9_-]{1,64}$"_s);
    return pattern.match(text).hasMatch();
}

} // namespace

StartupOptions StartupOptions::parse(const QStringList &arguments)
{
    static const QString websiteShotPrefix = u"--website-shot="_s;
    static const QString captureDirectoryPrefix = u"--capture-directory="_s;

    StartupOptions options;
    const auto setCommand = [&options](ClientCommand command, const QString &argument) {
        if (options.command != ClientCommand::None && options.error.isEmpty()) {
            options.error = u"Give one command at a time; \"%1\" is one too many."_s.arg(argument);
        }
        options.command = command;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"--smoke-test"_s) {
            options.smokeTest = true;
        } else if (argument.startsWith(websiteShotPrefix)) {
            options.websiteShot = argument.mid(websiteShotPrefix.size());
        } else if (argument.startsWith(captureDirectoryPrefix)) {
            options.captureDirectory = argument.mid(captureDirectoryPrefix.size());
        } else if (isPreviewSwitch(argument)) {
            options.previewProfile = options.previewProfile || argument == u"--preview-profile"_s;
            options.previewGuidedTour =
                options.previewGuidedTour || argument == u"--preview-guided-tour"_s;
        } else if (argument == u"--hidden"_s) {
            options.hidden = true;
        } else if (argument == u"--connect"_s) {
            setCommand(ClientCommand::Connect, argument);
            if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(u'-')) {
                options.connectTarget = arguments.at(++i);
                if (!isConnectTarget(options.connectTarget) && options.error.isEmpty()) {
                    options.error = u"\"%1\" is not a server id or a country code."_s.arg(
                        options.connectTarget.left(80));
                }
            }
        } else if (argument == u"--disconnect"_s) {
            setCommand(ClientCommand::Disconnect, argument);
        } else if (argument == u"--status"_s) {
            setCommand(ClientCommand::Status, argument);
        } else if (argument == u"--quit"_s) {
            setCommand(ClientCommand::Quit, argument);
        } else if (argument == u"--problem-report"_s) {
            setCommand(ClientCommand::ProblemReport, argument);
            if (i + 1 < arguments.size()) {
                options.problemReportPath = arguments.at(++i);
            } else if (options.error.isEmpty()) {
                options.error = u"Name the file after \"--problem-report\"."_s;
            }
        } else if (argument == u"--help"_s || argument == u"-h"_s) {
            setCommand(ClientCommand::Help, argument);
        } else if (options.error.isEmpty()) {
            options.error =
                u"Unknown option \"%1\". Run \"solvikvpn --help\" for the options."_s.arg(
                    argument.left(80));
        }
    }
    return options;
}

QString StartupOptions::helpText()
{
    QString text =
        u"Usage: solvikvpn [option]\n\n"
        u"  --connect [SERVER_ID | COUNTRY_CODE]\n"
        u"                        connect: to that server, to the best server of that\n"
        u"                        country, else to the remembered location or by\n"
        u"                        quick connect\n"
        u"  --disconnect          end the connection\n"
        u"  --status              print the connection's state; exit code 0 when\n"
        u"                        connected, 3 when not, 4 when signed out, 1 on error\n"
        u"  --quit                end the running client (an installer asks this before\n"
        u"                        it replaces the programs)\n"
        u"  --problem-report PATH write a problem report for support to PATH\n"
        u"  --hidden              start in the notification area\n"
        u"  --help                show this list\n\n"
        u"For checks of the window (a smoke run quits by itself):\n"
        u"  --smoke-test          show the window briefly and save smoke.png\n"
        u"  --website-shot=NAME   with --capture-directory=DIR: save a website image\n"_s;
    for (const Switch &entry : previewSwitches) {
        text += u"  %1%2\n"_s.arg(QString(entry.name).leftJustified(22), QString(entry.help));
    }
    return text;
}

RunKind StartupOptions::runKind() const
{
    if (!smokeTest) {
        return RunKind::Normal;
    }
    return websiteShot.isEmpty() ? RunKind::SmokeTest : RunKind::WebsiteAssets;
}

bool StartupOptions::previewMode() const
{
    return smokeTest && (previewProfile || previewGuidedTour);
}

bool StartupOptions::websiteCapture() const
{
    return smokeTest && !websiteShot.isEmpty() && !captureDirectory.isEmpty();
}

QString StartupOptions::resolveCaptureDirectory(const QString &directory, QString *error)
{
    // ".." is taken out of the text before anything is looked up, so it never climbs out of a link.
    const QFileInfo given(QDir::cleanPath(QFileInfo(directory).absoluteFilePath()));
    // A junction redirects like a link.
    if (given.isSymLink() || given.isJunction()) {
        *error = u"The capture directory \"%1\" is a symbolic link. Give the directory it "
                 u"points to instead."_s.arg(directory);
        return {};
    }
    const QString resolved = given.isDir() ? given.canonicalFilePath() : QString();
    if (resolved.isEmpty()) {
        *error = u"The capture directory \"%1\" is not an existing directory."_s.arg(directory);
    }
    return resolved;
}

bool StartupOptions::startsHidden(bool trayAvailable) const
{
    return hidden && !smokeTest && trayAvailable;
}
