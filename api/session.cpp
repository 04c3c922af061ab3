#include "session.h"

#include "apiclient.h"
#include "backendcatalogue.h"
#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "failuremessages.h"
#include "replyrules.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTimer>

namespace {

const QString sessionFile = QStringLiteral("session");
const QLatin1String accessTokenKey("accessToken");
const QLatin1String refreshTokenKey("refreshToken");
const QLatin1String deviceIdKey("deviceId");

} // namespace

Session::Session(ApiClient &api, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_refreshTimer(new QTimer(this))
{
    // The client may outlive the session; a handler left behind then refuses the tokens.
    const QPointer<Session> guard(this);
    m_api.setTokenHandler(
        [guard](const QJsonObject &reply) { return guard && guard->acceptTokens(reply); });
    connect(&m_api, &ApiClient::sessionExpired, this, &Session::expire);
    m_refreshTimer->setInterval(refreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, &m_api, &ApiClient::refreshIfNeeded);
}

bool Session::acceptTokens(const QJsonObject &reply)
{
    const QJsonObject tokens = api::unwrapData(reply);
    QString accessToken = tokens.value(accessTokenKey).toString();
    QString refreshToken = tokens.value(refreshTokenKey).toString();
    if (accessToken.isEmpty() || refreshToken.isEmpty()) {
        secretwipe::wipe(accessToken);
        secretwipe::wipe(refreshToken);
        emit error(QStringLiteral("The response is missing session tokens."));
        return false;
    }
    // Refresh replies may leave the device identifier out; the bound one stays.
    const QJsonValue deviceValue = tokens.value(deviceIdKey);
    const QString deviceId = deviceValue.isString() ? deviceValue.toString() : m_deviceId;
    if (deviceId.isEmpty()) {
        secretwipe::wipe(accessToken);
        secretwipe::wipe(refreshToken);
        emit error(QStringLiteral(
            "Please sign in again to register this device with the updated service."));
        return false;
    }

    QByteArray bytes = QJsonDocument(QJsonObject{{accessTokenKey, accessToken},
                                                 {refreshTokenKey, refreshToken},
                                                 {deviceIdKey, deviceId}})
                           .toJson(QJsonDocument::Compact);
    const bool written = protectedstore::writeProtected(sessionFile, bytes);
    secretwipe::wipe(bytes);
    if (!written) {
        secretwipe::wipe(accessToken);
        secretwipe::wipe(refreshToken);
        protectedstore::removeProtected(sessionFile);
        emit error(QStringLiteral("Could not securely save your session. Please sign in again."));
        return false;
    }

    m_deviceId = deviceId;
    m_api.setTokens(accessToken, refreshToken);
    secretwipe::wipe(accessToken);
    secretwipe::wipe(refreshToken);
    m_refreshTimer->start();
    return true;
}

void Session::checkProfile()
{
    const QPointer<Session> guard(this);
    m_api.request(QByteArrayLiteral("GET"), backend::me, QJsonObject(), true,
                  [guard](const ApiResult &result) {
                      if (guard)
                          guard->handleProfile(result);
                  });
}

void Session::handleProfile(const ApiResult &result)
{
    // A cancelled check means a sign-out or account change is already being handled.
    if (result.cancelled)
        return;
    if (!result.successful()) {
        emit error(api::failureMessage(result.status, false));
        return;
    }

    QJsonObject profile = api::unwrapData(result.body);
    const QJsonValue user = profile.value(QLatin1String("user"));
    if (user.isObject())
        profile = api::unwrapData(user.toObject());

    m_userId = api::jsonText(profile.value(QLatin1String("id")));
    if (m_userId.isEmpty()) {
        clear();
        emit error(QStringLiteral(
            "The account response is missing a user ID. Local profiles were not loaded."));
        return;
    }
    const QString current = api::jsonText(profile.value(QLatin1String("currentDeviceId")));
    if (!current.isEmpty() && (m_deviceId.isEmpty() || m_deviceId == current)) {
        m_deviceId = current;
        m_authenticated = true;
        emit changed(true);
        emit this->profile(profile);
        return;
    }
    clear();
    emit error(QStringLiteral("The session is not bound to this device. Please sign in again."));
}

void Session::clear()
{
    m_authenticated = false;
    m_userId.clear();
    m_deviceId.clear();
    m_refreshTimer->stop();
    m_api.clearTokens();
    // With a refresh in flight this re-enters expire(); both runs end signed out.
    m_api.cancelAll();
    protectedstore::removeProtected(sessionFile);
    emit changed(false);
}

void Session::beginPreview(const QString &userId, const QString &deviceId)
{
    m_authenticated = true;
    m_userId = userId;
    m_deviceId = deviceId;
    emit changed(true);
}

bool Session::hasStoredSession()
{
    return protectedstore::protectedExists(sessionFile);
}

void Session::restore()
{
    QByteArray stored = protectedstore::readProtected(sessionFile);
    if (stored.isEmpty())
        return;
    const QJsonObject object = QJsonDocument::fromJson(stored).object();
    secretwipe::wipe(stored);
    // Sessions stored before device binding cannot be trusted to belong to this device.
    if (object.value(deviceIdKey).toString().isEmpty()) {
        clear();
        emit error(QStringLiteral(
            "Solvik VPN was updated. Please sign in again to register this device."));
        return;
    }
    if (acceptTokens(object))
        checkProfile();
}

void Session::expire()
{
    clear();
    emit error(QStringLiteral("Your session is no longer valid. Please sign in again."));
}

bool Session::isRefreshTimerActive() const
{
    return m_refreshTimer->isActive();
}

int Session::refreshTimerInterval() const
{
    return m_refreshTimer->interval();
}

void Session::setRefreshTimerInterval(int milliseconds)
{
    m_refreshTimer->setInterval(milliseconds);
}
