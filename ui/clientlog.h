#pragma once

#include "common/diagnosticlog.h"
#include "vpn/connectionstate.h"

#include <QObject>
#include <QString>

class ApiClient;
class ServerCatalogue;
class Session;
class TunnelAdapter;
class VpnController;

// The client's diagnostic log, "solvikvpn.log" in its data folder: the start, sign-in and
// sign-out (no address, no token), backend requests that failed, catalogue loads, the
// connection's changes with the server's id and country, the engine's checks, the tunnel
// helper's exit codes, the connection's failures and changed preferences. Messages from outside
// pass the log's redaction.
class ClientLog : public QObject
{
    Q_OBJECT

public:
    ClientLog(ApiClient &api, Session &session, ServerCatalogue &catalogue, TunnelAdapter &adapter,
              VpnController &controller, QObject *parent = nullptr);

    // The client log of the current application identity.
    static QString defaultPath();
    DiagnosticLog &log() { return m_log; }
    // A preference the user changed: its settings key and its new value.
    void settingChanged(const QString &key, const QString &value);

private:
    void logState();
    void logFailure(const LogText &event, const QString &message);

    DiagnosticLog m_log;
    VpnController &m_controller;
    ConnectionState m_logged;
};
