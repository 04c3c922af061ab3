#include "vpntestbed.h"

#include "api/backendcatalogue.h"
#include "api/devicecredentials.h"
#include "api/replyrules.h"
#include "common/protectedstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

std::optional<ApiResult> sendAndWait(ApiClient &client, const QByteArray &method,
                                     const QString &path, const QJsonObject &body,
                                     bool authenticated)
{
    std::optional<ApiResult> outcome;
    client.request(method, path, body, authenticated,
                   [&outcome](const ApiResult &result) { outcome = result; });
    if (!QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 10000))
        return std::nullopt;
    return outcome;
}

VpnTestBed::VpnTestBed(const DevBackendOptions &options)
    : backend(options)
{
    if (backend.listen())
        api.setBaseUrl(backend.baseUrl());
}

bool VpnTestBed::signIn()
{
    const QJsonObject device = api::deviceInfo();
    if (device.isEmpty())
        return false;
    const QJsonObject body{{u"email"_s, backend.options().demoEmail},
                           {u"password"_s, backend.options().demoPassword},
                           {u"device"_s, device}};
    const std::optional<ApiResult> login = sendAndWait(api, "POST", backend::login, body, false);
    if (!login || !login->successful() || !session.acceptTokens(login->body))
        return false;
    loginReply = login->body;
    session.checkProfile();
    return QTest::qWaitFor([this] { return session.authenticated(); }, 10000);
}

std::unique_ptr<VpnController> VpnTestBed::makeController()
{
    auto controller = std::make_unique<VpnController>(api, adapter);
    controller->setHostNameSource([] { return u"test-machine"_s; });
    controller->setAccount(apiUrl(), session.userId(), session.deviceId());
    return controller;
}

bool VpnTestBed::connectUntilStart(VpnController &controller, const QString &serverId)
{
    const qsizetype before = adapter.startedProfiles.size();
    controller.connectVpn(serverId);
    return QTest::qWaitFor(
               [&] { return adapter.startedProfiles.size() > before || !controller.connecting(); },
               10000) &&
           adapter.startedProfiles.size() > before;
}

bool VpnTestBed::connectUntilRunning(VpnController &controller, const QString &serverId)
{
    if (!connectUntilStart(controller, serverId))
        return false;
    adapter.finishStart();
    return controller.running();
}

QString VpnTestBed::apiUrl() const
{
    return backend.baseUrl().toString();
}

QString VpnTestBed::storageKey() const
{
    return VpnController::storageKeyFor(apiUrl(), session.userId(), session.deviceId());
}

QJsonObject VpnTestBed::storedState() const
{
    return QJsonDocument::fromJson(protectedstore::readProtected(storageKey())).object();
}

bool VpnTestBed::writeStoredState(const QJsonObject &local, const QJsonObject &pending) const
{
    const QJsonObject state{{u"local"_s, local}, {u"pendingProfile"_s, pending}};
    return protectedstore::writeProtected(storageKey(),
                                          QJsonDocument(state).toJson(QJsonDocument::Compact));
}

QJsonArray VpnTestBed::servers()
{
    QJsonArray all;
    for (int page = 1;; ++page) {
        const std::optional<ApiResult> reply =
            sendAndWait(api, "GET", backend::serversPage(page), {}, true);
        if (!reply || !reply->successful())
            return all;
        const QJsonArray items = api::pageItems(reply->body);
        for (const QJsonValue &item : items) {
            const QJsonObject record = item.toObject();
            if (record.value(u"enabled"_s).toBool() &&
                record.value(u"protocol"_s).toString() == u"vless-reality")
                all.append(record);
        }
        if (items.size() < backend::pageSize)
            return all;
    }
}

QJsonObject VpnTestBed::server(int index)
{
    return servers().at(index).toObject();
}

QJsonObject fabricatedProfile(const QString &id, const QString &deviceId, const QString &endpoint)
{
    const QString uri = u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@%1"
                        u"?security=reality&type=tcp&encryption=none&sni=www.example.com"
                        u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd"
                        u"&fp=chrome&flow=xtls-rprx-vision"_s.arg(endpoint);
    return QJsonObject{{u"id"_s, id},
                       {u"accountDeviceId"_s, deviceId},
                       {u"revoked"_s, false},
                       {u"active"_s, true},
                       {u"syncStatus"_s, u"synced"_s},
                       {u"connection"_s, QJsonObject{{u"uri"_s, uri}}},
                       {u"tunnelName"_s, u"tnel_0123456789abcdef0123"_s}};
}
