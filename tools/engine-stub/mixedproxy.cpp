#include "mixedproxy.h"

#include "common/secretwipe.h"
#include "enginelog.h"
#include "proxyconnection.h"

using namespace Qt::Literals::StringLiterals;

MixedProxy::MixedProxy(const engineconfig::MixedInbound &inbound, EngineLog *log, QObject *parent)
    : QObject(parent)
    , m_inbound(inbound)
    , m_log(log)
{
    connect(&m_server, &QTcpServer::newConnection, this, &MixedProxy::acceptPending);
}

MixedProxy::~MixedProxy()
{
    for (engineconfig::ProxyUser &user : m_inbound.users)
        secretwipe::wipe(user.password);
}

bool MixedProxy::listen(QString *error)
{
    if (m_server.listen(m_inbound.listen, m_inbound.port)) {
        m_log->write(EngineLog::Level::Info,
                     u"inbound/mixed["_s + m_inbound.tag + u"]: tcp server started at "_s +
                         m_inbound.listen.toString() + u':' + QString::number(m_inbound.port));
        return true;
    }
    *error = u"start inbound/mixed["_s + m_inbound.tag + u"]: listen tcp "_s +
             m_inbound.listen.toString() + u':' + QString::number(m_inbound.port) + u": "_s +
             m_server.errorString().toLower();
    return false;
}

void MixedProxy::acceptPending()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString logPrefix = u"["_s + QString::number(m_nextConnectionId++) +
                                  u"] inbound/mixed["_s + m_inbound.tag + u"]: "_s;
        new ProxyConnection(socket, m_inbound.users, m_log, logPrefix, this);
        emit accepted();
    }
}
