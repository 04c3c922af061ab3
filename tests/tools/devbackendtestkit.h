#pragma once

#include "synchttpclient.h"
#include "tools/devbackend/devbackendoptions.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Shared steps of the development backend suites: a fresh device, a sign-in, reply readers.
namespace DevBackendTestKit {

struct Device
{
    Device();
    QString installationId;
    QString deviceToken;
    QJsonObject json() const;
};

struct Tokens
{
    int status = 0;
    QByteArray access;
    QByteArray refresh;
    QString deviceId;
    QJsonObject body;
};

Tokens tokensOf(const SyncHttpClient::Result &result);
Tokens login(SyncHttpClient &client, const QString &email, const QString &password,
             const Device &device);
QString errorCode(const SyncHttpClient::Result &result);
QJsonArray items(const SyncHttpClient::Result &result);
// Signs the demo account in on a new device and sends its access token from now on.
Tokens signInDemo(SyncHttpClient &client, const DevBackendOptions &options);
QJsonObject profileBody(const QString &requestKey, const QString &serverId = {});

} // namespace DevBackendTestKit
