// A stand-in for the sing-box engine, for tests only. It honours the engine's command line
// ("check -c stdin", "run -c stdin --disable-color", "version"), decodes the configuration
// strictly, serves the probe inbound and ends on SIGINT/SIGTERM. Failure modes: see stubmodes.h and
// README.md.
#include "enginecommands.h"
#include "enginelog.h"
#include "stubmodes.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

struct CommandLine
{
    QString command;
    QString config = u"config.json"_s;
    QString error;
};

// The engine's command line: one command and the global flags, in any order.
CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"-c"_s || argument == u"--config"_s) {
            if (i + 1 < arguments.size())
                line.config = arguments.at(++i);
            else
                line.error = u"flag needs an argument: "_s + argument;
        } else if (argument == u"--disable-color"_s) {
            continue;
        } else if (argument.startsWith(u'-')) {
            line.error = u"unknown flag: "_s + argument;
        } else if (line.command.isEmpty() &&
                   (argument == u"check"_s || argument == u"run"_s || argument == u"version"_s)) {
            line.command = argument;
        } else {
            line.error = u"unknown command \""_s + argument + u"\" for \"sing-box\""_s;
        }
    }
    if (line.error.isEmpty() && line.command.isEmpty())
        line.error = u"a command is required: check, run or version"_s;
    return line;
}

bool readConfiguration(const QString &config, QByteArray *bytes)
{
    QFile file(config);
    const bool opened = config == u"stdin"_s ? file.open(stdin, QIODevice::ReadOnly)
                                             : file.open(QIODevice::ReadOnly);
    if (!opened)
        return false;
    *bytes = file.readAll();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const StubModes modes = StubModes::fromEnvironment();
    if (modes.exitCode)
        return *modes.exitCode;
    EngineLog log(modes.silent);
    const CommandLine line = parseCommandLine(QCoreApplication::arguments().mid(1));
    if (!line.error.isEmpty()) {
        log.writeRaw("Error: " + line.error.toUtf8() + '\n');
        return 1;
    }
    if (line.command == u"version"_s) {
        std::fputs("sing-box version 1.12.0 (engine stub)\n", stdout);
        return 0;
    }
    QByteArray configuration;
    if (!readConfiguration(line.config, &configuration)) {
        log.write(EngineLog::Level::Fatal, u"read config at "_s + line.config + u": open "_s +
                                               line.config + u": no such file or directory"_s);
        return 1;
    }
    if (line.command == u"check"_s && modes.hangCheck) {
        for (;;) {
#ifdef _WIN32
            Sleep(INFINITE);
#else
            ::pause();
#endif
        }
    }
    if (line.command == u"check"_s)
        return enginecommands::check(configuration, line.config, modes, log);
    return enginecommands::run(configuration, line.config, modes, log);
}
