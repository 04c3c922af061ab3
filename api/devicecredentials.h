#pragma once

#include <QJsonObject>
#include <QString>

// This installation's device credentials: created once on the first sign-in, kept in the protected
// file "installation" and sent with every sign-in as the "device" object.
namespace api {

inline constexpr int deviceLockWaitMs = 5000;

// The "device" object for POST "/auth/login", or an empty object with the user-facing reason in
// `error`. Credentials are never recreated over an existing file: a device that lost them must not
// register silently as a second device. `lockWaitMs` is shortened only by tests.
QJsonObject deviceInfo(QString *error = nullptr, int lockWaitMs = deviceLockWaitMs);

// The system this client runs on, as the account's device list names it: "windows", "macos",
// "linux", or another system's kernel name.
QString devicePlatform();

// The device's display name: the host name trimmed and cut to at most 80 characters without
// splitting a character, "Windows PC" when blank.
QString deviceName(const QString &hostName);
// The "device" object from a validated credential record and the machine's descriptive values.
QJsonObject deviceObject(const QJsonObject &record, const QString &hostName,
                         const QString &appVersion);

// True when both members of a stored record have their exact form.
bool isValidCredentialRecord(const QJsonObject &record);

} // namespace api
