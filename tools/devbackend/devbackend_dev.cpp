#include "devbackend.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

// Controls for tests in this process, and the "/__dev/" routes for tests that run the backend as
// a separate process. Both only exist in this development tool.

DevReply DevBackend::handleDevRoute(const HttpRequest &request)
{
    const QString route = request.route();
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    if (route == u"POST /__dev/faults") {
        const QString target = body.value(u"route").toString();
        if (!target.contains(u' '))
            return DevBackendState::error(400, u"INVALID_FAULT"_s,
                                          u"\"route\" must look like \"POST /vpn-profiles\"."_s);
        QString error;
        const std::optional<DevBackendFault> fault = DevBackendFault::fromJson(body, &error);
        if (!fault)
            return DevBackendState::error(400, u"INVALID_FAULT"_s, error);
        setFault(target, *fault);
        return {200, QJsonObject{{u"route"_s, target}, {u"set"_s, true}}};
    }
    if (route == u"DELETE /__dev/faults") {
        clearFaults();
        return {200, QJsonObject{{u"cleared"_s, true}}};
    }
    if (route == u"GET /__dev/mail") {
        const QString email = request.query().queryItemValue(u"email"_s, QUrl::FullyDecoded);
        return {200, QJsonObject{{u"verificationToken"_s, verificationToken(email)},
                                 {u"resetToken"_s, resetToken(email)}}};
    }
    if (route == u"POST /__dev/expire-access-tokens") {
        expireAccessTokens();
        return {200, QJsonObject{{u"expired"_s, true}}};
    }
    return DevBackendState::error(404, u"NOT_FOUND"_s, u"No such route."_s);
}

int DevBackend::accountCount() const
{
    return m_state->accountCount();
}

int DevBackend::deviceCount(const QString &email) const
{
    return m_state->deviceCount(email);
}

int DevBackend::profileCount(const QString &deviceId) const
{
    return m_state->profileCount(deviceId);
}

QString DevBackend::deviceIdOf(const QString &email, const QString &installationId) const
{
    return m_state->deviceIdOf(email, installationId);
}

QString DevBackend::verificationToken(const QString &email) const
{
    return m_state->verificationToken(email);
}

QString DevBackend::resetToken(const QString &email) const
{
    return m_state->resetToken(email);
}

void DevBackend::expireAccessTokens()
{
    m_state->expireAccessTokens();
}

bool DevBackend::addAccount(const QString &email, const QString &password, bool verified,
                            const QString &tier)
{
    return m_state->addAccount(email, password, verified, tier);
}

void DevBackend::setAccountTier(const QString &email, const QString &tier,
                                const QString &subscriptionStatus)
{
    m_state->setAccountTier(email, tier, subscriptionStatus);
}

QString DevBackend::addDevice(const QString &email, const QString &name, const QString &platform)
{
    return m_state->addDevice(email, name, platform);
}

void DevBackend::revokeProfiles(const QString &deviceId)
{
    m_state->revokeProfiles(deviceId);
}

void DevBackend::requireMigration(const QString &deviceId)
{
    m_state->requireMigration(deviceId);
}

void DevBackend::setServerEnabled(const QString &serverId, bool enabled)
{
    m_state->setServerEnabled(serverId, enabled);
}

QStringList DevBackend::serverIds() const
{
    return m_state->serverIds();
}
