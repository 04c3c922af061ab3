#include "ui/problemreport.h"

#include "common/diagnosticlog.h"
#include "common/enginecommand.h"
#include "common/servicelog.h"
#include "settings/settingskeys.h"
#include "ui/clientlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QSaveFile>
#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

namespace problemreport {

namespace {

constexpr int engineVersionTimeoutMs = 2000;

// The engine's own first line ("sing-box version 1.12.0"), through the log's redaction.
QString engineVersion()
{
    QProcess engine;
    engine.start(enginecommand::enginePath(QCoreApplication::applicationDirPath()),
                 enginecommand::versionArguments());
    if (!engine.waitForFinished(engineVersionTimeoutMs)) {
        engine.kill();
        engine.waitForFinished();
        return u"not found or not answering"_s;
    }
    const QString first = QString::fromUtf8(engine.readAllStandardOutput()).section(u'\n', 0, 0);
    return first.isEmpty() ? u"no version given"_s : LogText::redacted(first).text();
}

QString yesNo(bool value)
{
    return value ? u"on"_s : u"off"_s;
}

} // namespace

QString text(const QString &tunnelState)
{
    QString report;
    const auto line = [&report](const QString &name, const QString &value) {
        report += name + u": "_s + value + u'\n';
    };
    report += u"Solvik VPN problem report\n\n"_s;
    line(u"Written"_s, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    line(u"Program"_s, QCoreApplication::applicationVersion());
    line(u"Engine"_s, engineVersion());
    line(u"Qt"_s, QString::fromLatin1(qVersion()));
    line(u"System"_s, QSysInfo::prettyProductName() + u" ("_s + QSysInfo::kernelType() + u' ' +
                          QSysInfo::kernelVersion() + u", "_s + QSysInfo::currentCpuArchitecture() +
                          u')');
    line(u"Tunnel"_s, tunnelState);
    report += u"\nPreferences\n"_s;
    line(u"  Theme"_s, settings::theme());
    line(u"  Accent"_s, settings::accent());
    line(u"  Notifications"_s, yesNo(settings::showNotifications()));
    line(u"  Connect on start"_s, yesNo(settings::connectOnStart()));
    line(u"  Reconnect automatically"_s, yesNo(settings::reconnectAutomatically()));
    line(u"  Block internet if the VPN drops"_s, yesNo(settings::blockIfVpnDrops()));
    line(u"  Allow local network access while blocked"_s, yesNo(settings::allowLocalNetwork()));
    line(u"  Start at sign-in"_s, yesNo(settings::startAtLogin()));
    line(u"  Production backend"_s, yesNo(settings::production()));
    report += u"\nClient log (last %1 lines)\n"_s.arg(logLines);
    report += DiagnosticLog::tail(ClientLog::defaultPath(), logLines).join(u'\n') + u'\n';
    // The service of the tunnel the client last managed.
    const QString tunnel = settings::managedVlessTunnel();
    report += u"\nTunnel service log (last %1 lines)\n"_s.arg(logLines);
    if (!tunnel.isEmpty()) {
        report += ServiceLog::read(tunnel).join(u'\n') + u'\n';
    }
    return report;
}

bool save(const QString &path, const QString &tunnelState, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text(tunnelState).toUtf8()) < 0 ||
        !file.commit()) {
        *error =
            u"The problem report could not be saved to \"%1\": %2"_s.arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace problemreport
