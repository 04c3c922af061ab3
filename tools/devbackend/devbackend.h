#pragma once

// A development backend speaking the whole request catalogue of the service's HTTP JSON API with
// real in-memory state, for tests and for running the client locally.
//
// Usage in a test:
//     DevBackendOptions options;
//     options.accessTokenLifetimeSeconds = 1;
//     DevBackend backend(options);
//     QVERIFY(backend.listen());                    // 127.0.0.1, ephemeral port
//     client.setBaseUrl(backend.baseUrl());         // "http://127.0.0.1:<port>"
//     backend.setFault(u"POST /vpn-profiles"_s, DevBackendFault::drop(2, true));
//
// Routes in faults and counters are "METHOD /path" without the query; a path with an id is
// written with the id, e.g. "GET /vpn-profiles/vp_..." or generically "GET /vpn-profiles/*".
//
// A test that runs the executable as another process uses the development routes instead:
// - POST "/__dev/faults" with {"route": "POST /vpn-profiles", "kind": "drop", "count": 2,
//   "afterHandling": true} (the JSON form of DevBackendFault);
// - DELETE "/__dev/faults";
// - GET "/__dev/mail?email=..." answers the last {"verificationToken", "resetToken"} issued;
// - POST "/__dev/expire-access-tokens".
// Replies are JSON; errors are {"error": {"code", "message"}}; objects sit inside "data" unless
// DevBackendOptions::wrapInData is off; pages are {"items", "page", "limit", "total"}.
// GET "/generate_204" answers 204 without a body or a token, so the tunnel program's
// connectivity check can ask this backend instead of the internet.

#include "devbackendfault.h"
#include "devbackendoptions.h"
#include "devbackendstate.h"
#include "httpserver.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class DevBackend : public QObject
{
    Q_OBJECT
public:
    explicit DevBackend(const DevBackendOptions &options = {}, QObject *parent = nullptr);
    ~DevBackend() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;
    QUrl baseUrl() const;
    QString errorString() const;

    const DevBackendOptions &options() const { return m_options; }

    // Fault injection; a later setFault on the same route replaces the earlier one.
    void setFault(const QString &route, const DevBackendFault &fault);
    void clearFaults();

    // Inspection for tests.
    // "*" as the last path segment matches any id.
    QList<HttpRequest> requests(const QString &route) const;
    int requestCount(const QString &route) const;
    int accountCount() const;
    int deviceCount(const QString &email) const;
    int profileCount(const QString &deviceId) const;
    QString deviceIdOf(const QString &email, const QString &installationId) const;
    // The last verification / reset token issued to that address; empty when none.
    QString verificationToken(const QString &email) const;
    QString resetToken(const QString &email) const;

    // Make every access token issued so far expire at once.
    void expireAccessTokens();
    // Create an account directly (verified or not); false when the address is taken.
    bool addAccount(const QString &email, const QString &password, bool verified = true,
                    const QString &tier = QStringLiteral("free"));
    // Change an account's plan as the payment side would.
    void setAccountTier(const QString &email, const QString &tier,
                        const QString &subscriptionStatus);
    // Register a device to an account as another installation would, past the device limit (as a
    // limit lowered later leaves them); its id, or empty for an unknown address.
    QString addDevice(const QString &email, const QString &name,
                      const QString &platform = QStringLiteral("Windows"));
    // Mark a device's profiles revoked or needing migration, as a server change would.
    void revokeProfiles(const QString &deviceId);
    void requireMigration(const QString &deviceId);
    // Make a server disabled or enabled, as maintenance would.
    void setServerEnabled(const QString &serverId, bool enabled);
    QStringList serverIds() const;

signals:
    // Tokens for actions a user completes from an e-mail; the executable prints them.
    void verificationTokenIssued(const QString &email, const QString &token);
    void resetTokenIssued(const QString &email, const QString &token);

private:
    void handle(const HttpRequest &request, const HttpResponderPtr &responder);
    DevReply dispatch(const HttpRequest &request);
    DevReply handleDevRoute(const HttpRequest &request);
    std::optional<DevBackendFault> takeFault(const QString &route);
    void sendFaulted(const DevBackendFault &fault, const DevReply &reply,
                     const HttpResponderPtr &responder);

    DevBackendOptions m_options;
    HttpServer *m_server = nullptr;
    std::unique_ptr<DevBackendState> m_state;
    QList<QPair<QString, DevBackendFault>> m_faults;
};
