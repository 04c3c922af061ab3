#include "vpn/windowsvless.h"

#include "common/enginecommand.h"
#include "common/engineconfiguration.h"
#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "common/tunnelstatus.h"
#include "platform/servicecontrol.h"
#include "settings/settingskeys.h"
#include "vpn/engineerrormessage.h"
#include "vpn/processendnotifier.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QUuid>

using namespace Qt::Literals::StringLiterals;

namespace {

// Where the system cannot tell the helper's end (see ProcessEndNotifier), and otherwise a slow
// second look in case its word is lost.
constexpr int helperPollIntervalMs = 200;
constexpr int helperSafetyPollIntervalMs = 1000;

QString permissionMessage(std::uint32_t error)
{
    return u"Windows permission was declined or the VPN helper could not start (error %1)."_s.arg(
        error);
}

// What the Service Control Manager says about the tunnel's service.
ConnectionState::Phase servicePhase(const QString &tunnelName)
{
    platform::ServiceManager manager(platform::ManagerAccess::Connect);
    if (!manager.isOpen()) {
        return ConnectionState::Phase::Unknown;
    }
    platform::ServiceHandle service = manager.openService(
        tunnelcontract::serviceName(tunnelName).toStdString(), platform::ServiceQueryStatus);
    if (!service.isOpen()) {
        return ConnectionState::Phase::NotConnected;
    }
    platform::ServiceStatus status;
    const bool running =
        service.query(status) == 0 && status.state == platform::ServiceState::Running;
    return running ? ConnectionState::Phase::Connected : ConnectionState::Phase::NotConnected;
}

// The service's own word on its tunnel. The record is untrusted: anything unreadable, too large
// or malformed counts as no record.
std::optional<TunnelStatus> recordedStatus(const QString &tunnelName)
{
    QByteArray bytes =
        protectedstore::readProtectedFile(tunnelcontract::tunnelStatusPath(tunnelName));
    const std::optional<TunnelStatus> status = TunnelStatus::parse(bytes);
    secretwipe::wipe(bytes);
    return status;
}

// Reconnecting with the attempt while the service brings the engine back, else Connected for a
// running service. A stopped one that left its block up reads as Blocked; one that gave up
// without a block as NotConnected, which the controller takes for a stop nobody asked for.
ConnectionState tunnelState(const QString &tunnelName)
{
    const ConnectionState::Phase phase = servicePhase(tunnelName);
    if (phase == ConnectionState::Phase::Unknown) {
        return ConnectionState{phase};
    }
    const std::optional<TunnelStatus> status = recordedStatus(tunnelName);
    ConnectionState state{phase};
    if (phase == ConnectionState::Phase::Connected && status &&
        status->state == TunnelStatus::State::Reconnecting) {
        state.phase = ConnectionState::Phase::Reconnecting;
        state.attempt = status->attempt;
    } else if (phase == ConnectionState::Phase::NotConnected && status &&
               status->state == TunnelStatus::State::Blocked) {
        state.phase = ConnectionState::Phase::Blocked;
    }
    return state;
}

} // namespace

WindowsVless::WindowsVless(QObject *parent)
    : TunnelAdapter(parent)
{
    m_checkDeadline.setSingleShot(true);
    connect(&m_checkDeadline, &QTimer::timeout, this, [this] {
        if (m_check) {
            engineCheckEnded(m_check, false);
        }
    });
    connect(&m_helperWatch, &QTimer::timeout, this, &WindowsVless::watchHelper);
}

WindowsVless::~WindowsVless()
{
    secretwipe::wipe(m_configuration);
    // A check still running, or killed and not yet reaped, ends here, before its object goes;
    // its last signals must not reach a half-destroyed adapter.
    const QList<QProcess *> checks = findChildren<QProcess *>();
    for (QProcess *process : checks) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
    }
}

void WindowsVless::setApplicationDirectory(const QString &directory)
{
    m_applicationDirectory = directory;
}

void WindowsVless::setEngineCheckTimeout(int milliseconds)
{
    m_engineCheckTimeoutMs = milliseconds;
}

void WindowsVless::start(const QString &tunnelName, const TunnelProfile &profile)
{
    if (m_busy) {
        return;
    }
    const QString directory = applicationDirectory();
    if (!tunnelcontract::isValidTunnelName(tunnelName) ||
        !QFileInfo(tunnelcontract::helperPath(directory)).isFile() ||
        !QFileInfo(enginecommand::enginePath(directory)).isFile()) {
        emit failed(u"The bundled VPN engine is missing. Reinstall Solvik VPN."_s);
        return;
    }
    quint16 proxyPort = 0;
    {
        // The engine binds this port itself later; the listener only asks the system for one.
        QTcpServer listener;
        if (!listener.listen(QHostAddress::LocalHost, 0)) {
            emit failed(u"Could not reserve a local VPN health-check port."_s);
            return;
        }
        proxyPort = listener.serverPort();
    }
    QString password = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_tunnelName = tunnelName;
    QByteArray plain = tunnelcontract::serializeTunnelProfileFile(profile.uri, proxyPort, password);
    const bool written =
        protectedstore::writeMachineProtectedFile(profilePath(), tunnelName, plain, QString());
    secretwipe::wipe(plain);
    if (!written) {
        secretwipe::wipe(password);
        emit failed(u"Could not save the encrypted VLESS profile."_s);
        return;
    }
    m_command = HelperCommand::Install;
    setBusy(true);
    startEngineCheck(profile, proxyPort, password);
}

void WindowsVless::stop(const QString &tunnelName)
{
    if (m_busy || !tunnelcontract::isValidTunnelName(tunnelName)) {
        return;
    }
    m_tunnelName = tunnelName;
    setBusy(true);
    runHelper(HelperCommand::Stop);
}

void WindowsVless::refresh(const QString &tunnelName)
{
    if (m_busy || !tunnelcontract::isValidTunnelName(tunnelName)) {
        return;
    }
    emit stateChanged(tunnelState(tunnelName));
}

QString WindowsVless::applicationDirectory() const
{
    return m_applicationDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                            : m_applicationDirectory;
}

QString WindowsVless::profilePath() const
{
    return tunnelcontract::tunnelProfilePath(protectedstore::dataDirectory(), m_tunnelName);
}

void WindowsVless::setBusy(bool busy)
{
    m_busy = busy;
    emit busyChanged(busy);
}

void WindowsVless::finishWithFailure(const QString &message)
{
    setBusy(false);
    emit failed(message);
}

void WindowsVless::startEngineCheck(const TunnelProfile &profile, quint16 proxyPort,
                                    QString &password)
{
    m_configuration =
        buildEngineConfiguration(profile, proxyPort, QLatin1String(engineProbeProxyUser), password);
    secretwipe::wipe(password);

    auto *process = new QProcess(this);
    m_check = process;
    process->setProgram(
        QDir::toNativeSeparators(enginecommand::enginePath(applicationDirectory())));
    process->setArguments(enginecommand::checkArguments());
    connect(process, &QProcess::started, this, [this, process] {
        if (m_check != process) {
            return;
        }
        process->write(m_configuration);
        secretwipe::wipe(m_configuration);
        process->closeWriteChannel();
    });
    connect(process, &QProcess::finished, this,
            [this, process](int exitCode, QProcess::ExitStatus status) {
                engineCheckEnded(process, status == QProcess::NormalExit && exitCode == 0);
            });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        // An engine that stopped reading early gives its verdict when it exits.
        if (error != QProcess::WriteError) {
            engineCheckEnded(process, false);
        }
    });
    m_checkDeadline.start(m_engineCheckTimeoutMs);
    process->start();
}

void WindowsVless::engineCheckEnded(QProcess *process, bool success)
{
    // Finish, error and deadline may all arrive for one check; only the first counts.
    if (m_check != process) {
        return;
    }
    m_check = nullptr;
    m_checkDeadline.stop();
    process->disconnect(this);
    secretwipe::wipe(m_configuration);
    QByteArray diagnostics = process->readAllStandardError();
    QByteArray output = process->readAllStandardOutput();
    const QString message = engineErrorMessage(diagnostics);
    secretwipe::wipe(diagnostics);
    secretwipe::wipe(output);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
    } else {
        // Released once the kill has been reaped, not while it still runs.
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
        process->kill();
    }

    emit engineChecked(success);
    if (!success) {
        finishWithFailure(message.isEmpty() ? u"The VPN engine rejected the server profile. Update "
                                              u"Solvik VPN or contact support."_s
                                            : message);
        return;
    }
    // The helper clears a leftover error file: its folder is closed to this account.
    runHelper(HelperCommand::Install);
}

void WindowsVless::runHelper(HelperCommand command)
{
    m_command = command;
    const bool block = settings::blockIfVpnDrops();
    const QString arguments =
        command == HelperCommand::Install
            ? tunnelcontract::installArguments(m_tunnelName, profilePath(),
                                               {settings::reconnectAutomatically(), block,
                                                block && settings::allowLocalNetwork()})
            : tunnelcontract::stopArguments(m_tunnelName);
    const QString helper =
        QDir::toNativeSeparators(tunnelcontract::helperPath(applicationDirectory()));
    const std::uint32_t error = m_helper.start(helper.toStdString(), arguments.toStdString());
    if (error != platform::winerror::success) {
        finishWithFailure(permissionMessage(error));
        return;
    }
    m_helperEnd = std::make_unique<ProcessEndNotifier>(m_helper.endHandle());
    connect(m_helperEnd.get(), &ProcessEndNotifier::ended, this, &WindowsVless::watchHelper);
    m_helperWatch.start(m_helperEnd->isActive() ? helperSafetyPollIntervalMs
                                                : helperPollIntervalMs);
}

void WindowsVless::watchHelper()
{
    const platform::ElevatedProcess::State state = m_helper.poll();
    if (state == platform::ElevatedProcess::State::Running) {
        return;
    }
    const std::uint32_t exitCode = m_helper.exitCode();
    // The notifier may be the caller: it stops watching the handle closed here at once, and goes
    // once control has left it.
    if (m_helperEnd) {
        m_helperEnd->stop();
        m_helperEnd->disconnect(this);
        m_helperEnd.release()->deleteLater();
    }
    m_helper.close();
    m_helperWatch.stop();
    if (state == platform::ElevatedProcess::State::ElevationRefused) {
        finishWithFailure(permissionMessage(exitCode));
        return;
    }
    helperEnded(exitCode);
}

void WindowsVless::helperEnded(std::uint32_t exitCode)
{
    const bool install = m_command == HelperCommand::Install;
    emit helperFinished(install, exitCode);
    if (exitCode == platform::winerror::success) {
        // The helper removed the error file along with the service.
        if (!install) {
            QFile::remove(profilePath());
        }
        setBusy(false);
        emit stateChanged(ConnectionState{install ? ConnectionState::Phase::Connected
                                                  : ConnectionState::Phase::NotConnected});
        return;
    }
    finishWithFailure(helperFailureMessage(exitCode, install));
}

QString WindowsVless::helperFailureMessage(std::uint32_t exitCode, bool install) const
{
    if (install && exitCode == std::uint32_t(tunnelcontract::exitcode::programFolderNotProtected)) {
        return u"Solvik VPN must be installed in a folder that only administrators can change, "
               u"such as Program Files."_s;
    }
    if (install && exitCode == std::uint32_t(tunnelcontract::exitcode::firewallFailed)) {
        return u"The VPN was not connected: Solvik VPN could not block internet traffic outside "
               u"the VPN on this computer. To connect without that protection, turn off "
               u"\u201cBlock "
               u"internet if the VPN drops\u201d in Settings."_s;
    }
    QString message;
    if (install) {
        QByteArray report =
            protectedstore::readProtectedFile(tunnelcontract::tunnelErrorPath(m_tunnelName));
        message = engineErrorMessage(report);
        secretwipe::wipe(report);
    }
    if (!message.isEmpty()) {
        return message;
    }
    return exitCode == std::uint32_t(tunnelcontract::exitcode::healthCheckFailed)
               ? u"The VPN server did not pass the connection check. Check its "
                 u"VLESS/REALITY settings or choose another server."_s
               : u"The VPN engine could not %1 (Windows error %2). Your profile is saved "
                 u"for retry."_s.arg(install ? u"start"_s : u"stop"_s, QString::number(exitCode));
}
