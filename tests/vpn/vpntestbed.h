#pragma once

#include "api/apiclient.h"
#include "api/session.h"
#include "support/faketunneladapter.h"
#include "tools/devbackend/devbackend.h"
#include "vpn/vpncontroller.h"

#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>

// A client signed in to an in-process development backend on 127.0.0.1, a scripted tunnel
// adapter and controllers bound to both. The suite owns the TestHome that holds the files.
class VpnTestBed
{
public:
    explicit VpnTestBed(const DevBackendOptions &options = {});

    // Signs in with this installation's device credentials; false when any step fails.
    bool signIn();
    // A controller as the window builds it, with the signed-in account applied.
    std::unique_ptr<VpnController> makeController();
    // Connects and waits until the adapter is asked to start; false on failure or time-out.
    bool connectUntilStart(VpnController &controller, const QString &serverId);
    // connectUntilStart, then the adapter reports the tunnel up.
    bool connectUntilRunning(VpnController &controller, const QString &serverId);

    QString apiUrl() const;
    QString storageKey() const;
    // {"local", "pendingProfile"} as stored on disk.
    QJsonObject storedState() const;
    bool writeStoredState(const QJsonObject &local, const QJsonObject &pending) const;
    // The first usable server's record as the catalogue lists it.
    QJsonObject server(int index);
    QJsonArray servers();

    DevBackend backend;
    // The sign-in's reply, tokens included, for suites that look for them where they must not be.
    QJsonObject loginReply;
    ApiClient api;
    Session session{api};
    FakeTunnelAdapter adapter;
};

// Sends one request and waits for its result; nothing on time-out.
std::optional<ApiResult> sendAndWait(ApiClient &client, const QByteArray &method,
                                     const QString &path, const QJsonObject &body,
                                     bool authenticated);

// A profile record bound to `deviceId` with a valid connection to `endpoint`.
QJsonObject fabricatedProfile(const QString &id, const QString &deviceId, const QString &endpoint);
