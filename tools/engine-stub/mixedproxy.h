#pragma once

#include "engineconfig.h"

#include <QObject>
#include <QTcpServer>

class EngineLog;

// The probe inbound: a loopback mixed proxy (SOCKS5 and HTTP) that demands one of the configured
// users and forwards each accepted connection directly to its target.
class MixedProxy : public QObject
{
    Q_OBJECT

public:
    MixedProxy(const engineconfig::MixedInbound &inbound, EngineLog *log,
               QObject *parent = nullptr);
    ~MixedProxy() override;

    // False with the reason in `error` when the port cannot be opened.
    bool listen(QString *error);

signals:
    void accepted();

private:
    void acceptPending();

    engineconfig::MixedInbound m_inbound;
    EngineLog *m_log;
    QTcpServer m_server;
    quint64 m_nextConnectionId = 1;
};
