#include "devicecredentials.h"

#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "platform/crypto.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUuid>

#include <array>
#include <cstdint>

namespace api {

namespace {

const QString recordName = QStringLiteral("installation");
const QLatin1String installationIdKey("installationId");
const QLatin1String deviceTokenKey("deviceToken");

void report(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

// 32 random bytes as unpadded URL-safe Base64: 43 characters.
bool newDeviceToken(QString *token)
{
    std::array<std::uint8_t, 32> buffer{};
    if (!platform::randomBytes(buffer.data(), buffer.size()))
        return false;
    QByteArray raw(reinterpret_cast<const char *>(buffer.data()),
                   static_cast<qsizetype>(buffer.size()));
    platform::secureZero(buffer.data(), buffer.size());
    QByteArray encoded =
        raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    *token = QString::fromLatin1(encoded);
    secretwipe::wipe(raw);
    secretwipe::wipe(encoded);
    return true;
}

} // namespace

bool isValidCredentialRecord(const QJsonObject &record)
{
    static const QRegularExpression installationId(QStringLiteral(
        "^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-4[0-9a-fA-F]{3}-[89abAB][0-9a-fA-F]{3}-[0-9a-fA-F]{12}$"));
    static const QRegularExpression deviceToken(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
    return installationId.match(record.value(installationIdKey).toString()).hasMatch() &&
           deviceToken.match(record.value(deviceTokenKey).toString()).hasMatch();
}

QString devicePlatform()
{
    const QString kernel = QSysInfo::kernelType();
    if (kernel == QStringLiteral("winnt")) {
        return QStringLiteral("windows");
    }
    return kernel == QStringLiteral("darwin") ? QStringLiteral("macos") : kernel;
}

QString deviceName(const QString &hostName)
{
    constexpr int maximumLength = 80;
    QString name = hostName.trimmed();
    if (name.size() > maximumLength) {
        // Never split a surrogate pair: half a character would not survive UTF-8.
        const bool splitsPair = name.at(maximumLength - 1).isHighSurrogate();
        name.truncate(splitsPair ? maximumLength - 1 : maximumLength);
    }
    return name.isEmpty() ? QStringLiteral("Windows PC") : name;
}

QJsonObject deviceObject(const QJsonObject &record, const QString &hostName,
                         const QString &appVersion)
{
    QJsonObject device{
        {installationIdKey, record.value(installationIdKey).toString()},
        {deviceTokenKey, record.value(deviceTokenKey).toString()},
        {QStringLiteral("name"), deviceName(hostName)},
        {QStringLiteral("platform"), devicePlatform()},
        {QStringLiteral("kind"), QStringLiteral("computer")},
    };
    if (!appVersion.isEmpty())
        device.insert(QStringLiteral("appVersion"), appVersion.left(40));
    return device;
}

QJsonObject deviceInfo(QString *error, int lockWaitMs)
{
    const QString directory = protectedstore::dataDirectory();
    // Serialises creation across processes: a second window waits, then reads what the first
    // one created.
    QLockFile lock(directory + QStringLiteral("/installation.lock"));
    if (!lock.tryLock(lockWaitMs)) {
        report(error, QStringLiteral("Could not open this device's credentials. Close other "
                                     "Solvik VPN windows and retry."));
        return {};
    }

    const bool existed = QFileInfo::exists(directory + QStringLiteral("/installation.dpapi"));
    QByteArray stored = protectedstore::readProtected(recordName);
    QJsonObject record = QJsonDocument::fromJson(stored).object();
    secretwipe::wipe(stored);

    if (!existed) {
        QString token;
        if (!newDeviceToken(&token)) {
            report(error, QStringLiteral(
                              "Windows could not create secure device credentials. Please retry."));
            return {};
        }
        record = QJsonObject{
            {installationIdKey, QUuid::createUuid().toString(QUuid::WithoutBraces)},
            {deviceTokenKey, token},
        };
        secretwipe::wipe(token);
        QByteArray bytes = QJsonDocument(record).toJson(QJsonDocument::Compact);
        const bool written = protectedstore::writeProtected(recordName, bytes);
        secretwipe::wipe(bytes);
        if (!written) {
            report(error, QStringLiteral("Could not securely save this device. Sign-in was not "
                                         "sent; please retry."));
            return {};
        }
    }

    if (!isValidCredentialRecord(record)) {
        report(error, QStringLiteral("Saved device credentials could not be read. Contact support "
                                     "before registering a replacement device."));
        return {};
    }
    return deviceObject(record, QSysInfo::machineHostName(),
                        QCoreApplication::applicationVersion());
}

} // namespace api
