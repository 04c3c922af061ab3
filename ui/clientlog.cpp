#include "ui/clientlog.h"

#include "api/apiclient.h"
#include "api/session.h"
#include "common/protectedstore.h"
#include "locations/servercatalogue.h"
#include "vpn/tunneladapter.h"
#include "vpn/vpncontroller.h"

#include <QCoreApplication>
#include <QMetaEnum>
#include <QSysInfo>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

ClientLog::ClientLog(ApiClient &api, Session &session, ServerCatalogue &catalogue,
                     TunnelAdapter &adapter, VpnController &controller, QObject *parent)
    : QObject(parent)
    , m_log(defaultPath())
    , m_controller(controller)
    , m_logged(ConnectionState::Phase::Unknown)
{
    m_log.write(DiagnosticLog::Level::Info, "client.start",
                {{"version", LogText::identifier(QCoreApplication::applicationVersion())},
                 {"qt", LogText::identifier(QString::fromLatin1(qVersion()))},
                 {"os", LogText::identifier(QSysInfo::productType())},
                 {"osVersion", LogText::identifier(QSysInfo::productVersion())}});
    connect(&session, &Session::changed, this, [this](bool authenticated) {
        m_log.write(DiagnosticLog::Level::Info,
                    authenticated ? LogText("session.signedIn") : LogText("session.signedOut"));
    });
    connect(&api, &ApiClient::requestFailed, this,
            [this](const QByteArray &method, const QString &path, int status,
                   const QString &errorCode) {
                m_log.write(DiagnosticLog::Level::Warning, "backend.failed",
                            {{"method", LogText::identifier(QString::fromLatin1(method))},
                             {"path", LogText::identifier(path)},
                             {"status", status},
                             {"code", LogText::identifier(errorCode)}});
            });
    connect(&catalogue, &ServerCatalogue::loaded, this, [this, &catalogue] {
        m_log.write(DiagnosticLog::Level::Info, "catalogue.loaded",
                    {{"servers", catalogue.servers().size()}});
    });
    connect(&catalogue, &ServerCatalogue::loadFailed, this, [this](int status, bool cancelled) {
        m_log.write(DiagnosticLog::Level::Warning, "catalogue.failed",
                    {{"status", status}, {"cancelled", cancelled ? 1 : 0}});
    });
    connect(&adapter, &TunnelAdapter::engineChecked, this, [this](bool passed) {
        m_log.write(passed ? DiagnosticLog::Level::Info : DiagnosticLog::Level::Error,
                    "engine.check", {{"passed", passed ? 1 : 0}});
    });
    connect(&adapter, &TunnelAdapter::helperFinished, this, [this](bool install, quint32 code) {
        m_log.write(code == 0 ? DiagnosticLog::Level::Info : DiagnosticLog::Level::Error,
                    install ? LogText("helper.install") : LogText("helper.stop"),
                    {{"exitCode", qint64(code)}});
    });
    connect(&controller, &VpnController::changed, this, &ClientLog::logState);
    connect(&controller, &VpnController::startFailed, this,
            [this](const QString &message) { logFailure("tunnel.startFailed", message); });
    connect(&controller, &VpnController::connectFailed, this,
            [this](const QString &message) { logFailure("tunnel.connectFailed", message); });
    connect(&controller, &VpnController::stoppedUnexpectedly, this,
            [this](const QString &message) { logFailure("tunnel.stopped", message); });
    connect(&controller, &VpnController::error, this,
            [this](const QString &message) { logFailure("tunnel.error", message); });
}

QString ClientLog::defaultPath()
{
    return protectedstore::dataDirectory() + u"/solvikvpn.log"_s;
}

void ClientLog::logState()
{
    const ConnectionState state = m_controller.state();
    if (state.phase == m_logged.phase && state.serverId == m_logged.serverId &&
        state.attempt == m_logged.attempt)
        return;
    m_logged = state;
    const QList<api::ServerRecord> &servers = m_controller.servers();
    const auto server =
        std::find_if(servers.cbegin(), servers.cend(), [&state](const api::ServerRecord &record) {
            return record.id == state.serverId;
        });
    const QString phase = QString::fromLatin1(
        QMetaEnum::fromType<ConnectionState::Phase>().valueToKey(int(state.phase)));
    m_log.write(DiagnosticLog::Level::Info, "tunnel.state",
                {{"state", LogText::identifier(phase)},
                 {"server", LogText::identifier(state.serverId)},
                 {"country",
                  LogText::identifier(server == servers.cend() ? QString() : server->countryCode)},
                 {"attempt", state.attempt}});
}

void ClientLog::settingChanged(const QString &key, const QString &value)
{
    m_log.write(DiagnosticLog::Level::Info, "settings.changed",
                {{"name", LogText::identifier(key)}, {"value", LogText::identifier(value)}});
}

void ClientLog::logFailure(const LogText &event, const QString &message)
{
    m_log.write(DiagnosticLog::Level::Error, event, {{"reason", LogText::redacted(message)}});
}
