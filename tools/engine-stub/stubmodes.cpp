#include "stubmodes.h"

#include <QStringList>
#include <QtGlobal>

namespace {

bool flag(const char *name)
{
    return qEnvironmentVariable(name) == QLatin1String("1");
}

} // namespace

StubModes StubModes::fromEnvironment()
{
    StubModes modes;
    bool ok = false;
    const int code = qEnvironmentVariable("SOLVIKVPN_STUB_EXIT_CODE").toInt(&ok);
    if (ok && code >= 0 && code <= 255)
        modes.exitCode = code;
    modes.diagnostic = qEnvironmentVariable("SOLVIKVPN_STUB_DIAGNOSTIC");
    if (qEnvironmentVariableIsSet("SOLVIKVPN_STUB_FAIL")) {
        const QStringList commands =
            qEnvironmentVariable("SOLVIKVPN_STUB_FAIL").split(QLatin1Char(','), Qt::SkipEmptyParts);
        modes.diagnosticForCheck = commands.contains(QLatin1String("check"));
        modes.diagnosticForRun = commands.contains(QLatin1String("run"));
    }
    const qint64 flood = qEnvironmentVariable("SOLVIKVPN_STUB_FLOOD_BYTES").toLongLong(&ok);
    if (ok && flood > 0)
        modes.floodBytes = flood;
    modes.ignoreBreak = flag("SOLVIKVPN_STUB_IGNORE_BREAK");
    modes.noPort = flag("SOLVIKVPN_STUB_NO_PORT");
    modes.noTun = flag("SOLVIKVPN_STUB_NO_TUN");
    modes.silent = flag("SOLVIKVPN_STUB_SILENT");
    modes.hangCheck = flag("SOLVIKVPN_STUB_HANG_CHECK");
    const int escape = qEnvironmentVariable("SOLVIKVPN_STUB_ESCAPE_SECONDS").toInt(&ok);
    if (ok && escape > 0 && escape <= 600)
        modes.escapeSeconds = escape;
    modes.runLog = qEnvironmentVariable("SOLVIKVPN_STUB_RUN_LOG");
    const int runs = qEnvironmentVariable("SOLVIKVPN_STUB_GOOD_RUNS").toInt(&ok);
    if (ok && runs >= 0)
        modes.goodRuns = runs;
    const int port = qEnvironmentVariable("SOLVIKVPN_STUB_PORT_SECONDS").toInt(&ok);
    if (ok && port > 0 && port <= 600)
        modes.portSeconds = port;
    return modes;
}

QString StubModes::diagnosticFor(const QString &command) const
{
    const bool applies = command == QLatin1String("check") ? diagnosticForCheck : diagnosticForRun;
    return applies ? diagnostic : QString();
}
