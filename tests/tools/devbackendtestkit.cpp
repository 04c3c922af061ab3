#include "devbackendtestkit.h"

#include <QRandomGenerator>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace DevBackendTestKit {

Device::Device()
    : installationId(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QByteArray raw(32, Qt::Uninitialized);
    QRandomGenerator::global()->generate(raw.begin(), raw.end());
    deviceToken = QString::fromLatin1(
        raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QJsonObject Device::json() const
{
    return {{u"installationId"_s, installationId},
            {u"deviceToken"_s, deviceToken},
            {u"name"_s, u"Test PC"_s},
            {u"platform"_s, u"windows"_s},
            {u"kind"_s, u"computer"_s},
            {u"appVersion"_s, u"0.8.0"_s}};
}

Tokens tokensOf(const SyncHttpClient::Result &result)
{
    const QJsonObject data = result.data();
    return {result.status, data.value(u"accessToken").toString().toLatin1(),
            data.value(u"refreshToken").toString().toLatin1(), data.value(u"deviceId").toString(),
            result.json()};
}

Tokens login(SyncHttpClient &client, const QString &email, const QString &password,
             const Device &device)
{
    client.setBearer({});
    return tokensOf(client.sendJson(
        "POST", u"/auth/login"_s,
        {{u"email"_s, email}, {u"password"_s, password}, {u"device"_s, device.json()}}));
}

Tokens signInDemo(SyncHttpClient &client, const DevBackendOptions &options)
{
    const Tokens session = login(client, options.demoEmail, options.demoPassword, Device());
    client.setBearer(session.access);
    return session;
}

QString errorCode(const SyncHttpClient::Result &result)
{
    return result.json().value(u"error").toObject().value(u"code").toString();
}

QJsonArray items(const SyncHttpClient::Result &result)
{
    return result.data().value(u"items").toArray();
}

QJsonObject profileBody(const QString &requestKey, const QString &serverId)
{
    QJsonObject body{{u"name"_s, u"Test PC"_s}, {u"requestKey"_s, requestKey}};
    if (!serverId.isEmpty())
        body.insert(u"serverId"_s, serverId);
    return body;
}

} // namespace DevBackendTestKit
