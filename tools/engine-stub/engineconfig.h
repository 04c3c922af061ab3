#pragma once

#include "enginelog.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

// The strict decode of the engine configuration. Like the engine it refuses unknown members at
// every level; beyond the engine it also demands every member the client writes and the values
// the tunnel relies on, so a fault in the client's configuration builder fails here first.
namespace engineconfig {

struct ProxyUser
{
    QString username;
    QString password;
};

struct MixedInbound
{
    QString tag;
    QHostAddress listen;
    quint16 port = 0;
    QList<ProxyUser> users;
};

struct Document
{
    EngineLog::Level logLevel = EngineLog::Level::Info;
    bool logDisabled = false;
    QString tunTag;
    QString tunInterface;
    int tunMtu = 0;
    QList<MixedInbound> mixedInbounds;
};

// False with the engine's diagnostic text in `error` when the engine would refuse `bytes`.
// `source` names the input in messages ("stdin").
bool decode(const QByteArray &bytes, const QString &source, Document *document, QString *error);

} // namespace engineconfig
