#pragma once

#include "apiresult.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

class ApiClient;
class QTimer;

// The signed-in state: keeps the tokens in the protected file "session" so a restart signs the
// user in again, binds them to this device and confirms the account before the window treats
// the user as signed in.
class Session : public QObject
{
    Q_OBJECT

public:
    static constexpr int refreshIntervalMs = 9 * 60 * 1000;

    explicit Session(ApiClient &api, QObject *parent = nullptr);

    bool acceptTokens(const QJsonObject &reply);
    void checkProfile();
    void clear();
    void restore();
    // Whether a session is stored for restore() to sign in with, without reading its tokens.
    static bool hasStoredSession();
    // Signs in `userId` on `deviceId` for sample data: no token, nothing stored, no renewal.
    void beginPreview(const QString &userId, const QString &deviceId);

    bool authenticated() const { return m_authenticated; }
    QString userId() const { return m_userId; }
    QString deviceId() const { return m_deviceId; }

    bool isRefreshTimerActive() const;
    int refreshTimerInterval() const;
    // Tests shorten the nine-minute renewal.
    void setRefreshTimerInterval(int milliseconds);

signals:
    void changed(bool authenticated);
    void profile(const QJsonObject &profile);
    void error(const QString &text);

private:
    void handleProfile(const ApiResult &result);
    void expire();

    ApiClient &m_api;
    QTimer *m_refreshTimer;
    bool m_authenticated = false;
    QString m_userId;
    QString m_deviceId;
};
