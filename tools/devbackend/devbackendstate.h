#pragma once

#include "devbackendoptions.h"
#include "devrecords.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QUrlQuery>

#include <functional>
#include <optional>

// One reply of the development backend: HTTP status and JSON body (object or array).
struct DevReply
{
    int status = 200;
    QJsonValue body;
};

// Who sent an authenticated request.
struct DevCaller
{
    QString accountId;
    QString deviceId;
    QByteArray tokenDigest;
};

// The backend's in-memory state and the behaviour of every request, free of HTTP details: the
// routes of DevBackend parse the request, call one operation and send what it returns.
class DevBackendState
{
public:
    explicit DevBackendState(const DevBackendOptions &options);

    // Accounts and sessions.
    DevReply registerAccount(const QJsonObject &body);
    DevReply verifyEmail(const QJsonObject &body);
    DevReply resendVerification(const QJsonObject &body);
    DevReply forgotPassword(const QJsonObject &body);
    DevReply resetPassword(const QJsonObject &body);
    DevReply login(const QJsonObject &body);
    DevReply refresh(const QJsonObject &body);
    DevReply logout(const DevCaller &caller);
    // The caller behind an "Authorization" header, or the 401 reply to send.
    std::optional<DevCaller> authenticate(const QByteArray &authorization, DevReply *refusal);
    DevReply me(const DevCaller &caller) const;
    DevReply webTicket(const DevCaller &caller);
    DevReply devices(const DevCaller &caller, const QUrlQuery &query) const;
    DevReply deleteDevice(const DevCaller &caller, const QString &deviceId);

    // Plans, servers and VPN profiles.
    DevReply access(const DevCaller &caller) const;
    DevReply plans(const QUrlQuery &query) const;
    DevReply servers(const QUrlQuery &query) const;
    DevReply profiles(const DevCaller &caller, const QUrlQuery &query) const;
    DevReply createProfile(const DevCaller &caller, const QJsonObject &body);
    DevReply profile(const DevCaller &caller, const QString &profileId) const;
    DevReply deleteProfile(const DevCaller &caller, const QString &profileId);

    // Controls and inspection for tests and the executable.
    bool addAccount(const QString &email, const QString &password, bool verified,
                    const QString &tier);
    void setAccountTier(const QString &email, const QString &tier,
                        const QString &subscriptionStatus);
    QString addDevice(const QString &email, const QString &name, const QString &platform);
    void expireAccessTokens();
    void revokeProfiles(const QString &deviceId);
    void requireMigration(const QString &deviceId);
    void setServerEnabled(const QString &serverId, bool enabled);
    QStringList serverIds() const;
    int accountCount() const { return int(m_accounts.size()); }
    int deviceCount(const QString &email) const;
    int profileCount(const QString &deviceId) const;
    QString deviceIdOf(const QString &email, const QString &installationId) const;
    QString verificationToken(const QString &email) const
    {
        return m_verificationByEmail.value(email.toLower());
    }
    QString resetToken(const QString &email) const { return m_resetByEmail.value(email.toLower()); }

    std::function<void(const QString &email, const QString &token)> onVerificationToken;
    std::function<void(const QString &email, const QString &token)> onResetToken;

    static DevReply error(int status, const QString &code, const QString &message);

private:
    DevReply object(int status, const QJsonObject &body) const;
    DevReply page(const QJsonArray &all, const QUrlQuery &query) const;
    QJsonValue deviceIdValue(const QString &deviceId) const;
    QString newDeviceId();
    QJsonObject issueTokens(const QString &accountId, const QString &deviceId);
    void endDeviceSessions(const QString &deviceId);
    void issueVerificationToken(const QString &email);
    DevAccount *accountByEmail(const QString &email);
    const DevAccount *accountById(const QString &accountId) const;
    QString effectiveTier(const DevAccount &account) const;
    QJsonObject profileJson(const DevProfile &profile) const;
    const DevServer *usableServer(const QString &serverId) const;

    DevBackendOptions m_options;
    QList<DevAccount> m_accounts;
    QList<DevDevice> m_devices;
    QList<DevServer> m_servers;
    QList<DevProfile> m_profiles;
    QHash<QByteArray, DevAccessGrant> m_accessGrants;   // by SHA-256 of the access token
    QHash<QByteArray, DevRefreshGrant> m_refreshGrants; // by SHA-256 of the refresh token
    QHash<QString, QString> m_profileByRequestKey; // device id + "\n" + request key -> profile id
    QHash<QString, QString> m_verificationByEmail;
    QHash<QString, QString> m_resetByEmail;
    qint64 m_nextNumericDeviceId = 1001;
};
