#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The development backend's in-memory records. Secrets (passwords, device tokens, session tokens)
// are kept only as salted or plain SHA-256 digests, so nothing in memory can be replayed.

struct DevAccount
{
    QString id;
    QString email;
    QByteArray passwordSalt;
    QByteArray passwordHash;
    bool verified = false;
    QString tier = QStringLiteral("free");
    QString subscriptionStatus = QStringLiteral("none");
    QDateTime subscriptionEndsAt;
    QDateTime createdAt;
};

struct DevDevice
{
    QString id;
    QString accountId;
    QString installationId;
    QByteArray deviceTokenHash;
    QString name;
    QString platform;
    QString kind;
    QString appVersion;
    QDateTime createdAt;
    QDateTime lastSeenAt;
};

struct DevServer
{
    QString id;
    QString name;
    QString host;
    int port = 443;
    bool enabled = true;
    QString protocol = QStringLiteral("vless-reality");
    QString tier = QStringLiteral("paid");
    QString countryCode;
    QString country;
    QString city;
    QString publicKey;  // REALITY public key of the server
    QString serverName; // camouflage SNI

    QString endpoint() const
    {
        const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
        return shown + u':' + QString::number(port);
    }
};

struct DevProfile
{
    QString id;
    QString accountId;
    QString deviceId;
    QString serverId;
    QString name;
    QString requestKey;
    QString uuid;
    QString shortId;
    bool revoked = false;
    bool migrationRequired = false;
    bool active = true;
    QDateTime createdAt;
};

struct DevAccessGrant
{
    QString accountId;
    QString deviceId;
    QDateTime expiresAt;
};

struct DevRefreshGrant
{
    QString accountId;
    QString deviceId;
    bool used = false;
};
