#include "common/tunnelcontract.h"

#include "common/secretwipe.h"
#include "platform/systemfolder.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace tunnelcontract {

namespace {

const QString connectionKey = u"connection"_s;
const QString uriKey = u"uri"_s;
const QString proxyPortKey = u"proxyPort"_s;
const QString proxyPasswordKey = u"proxyPassword"_s;

// Anchored on the whole text: "$" alone would let a trailing line feed through.
bool isValidProxyPassword(const QString &password)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(u"^[a-f0-9-]{36}$"_s));
    return pattern.match(password).hasMatch();
}

// A JSON number that is a whole port in the service's range; anything else reads as 0.
quint16 proxyPortOf(const QJsonValue &value)
{
    if (!value.isDouble()) {
        return 0;
    }
    const double number = value.toDouble();
    if (number != std::floor(number) || number < minimumProxyPort || number > maximumProxyPort) {
        return 0;
    }
    return static_cast<quint16>(number);
}

bool hasExactlyKeys(const QJsonObject &object, const QStringList &keys)
{
    // QJsonObject::keys() is sorted, so the expected list is given sorted too.
    return object.keys() == keys;
}

// A file the service writes about a tunnel, in the folder only administrators can change.
QString serviceFilePath(const QString &tunnelName, const QString &suffix)
{
    return QDir::fromNativeSeparators(QString::fromStdString(platform::tunnelErrorDirectory())) +
           u'/' + tunnelProfileFileName(tunnelName) + suffix;
}

} // namespace

bool isValidTunnelName(const QString &name)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QLatin1String(tunnelNamePattern)));
    return pattern.match(name).hasMatch();
}

QString serviceName(const QString &tunnelName)
{
    return u"SolvikVPN$"_s + tunnelName;
}

QString serviceDisplayName(const QString &tunnelName)
{
    return u"Solvik VPN VLESS Tunnel ("_s + tunnelName + u')';
}

QString helperPath(const QString &applicationDirectory)
{
    return applicationDirectory + u"/solvikvpn-tunnel"_s + QLatin1String(SOLVIKVPN_EXE_SUFFIX);
}

QString tunnelProfileFileName(const QString &tunnelName)
{
    return tunnelName + u".vless.dpapi"_s;
}

QString tunnelProfilePath(const QString &dataDirectory, const QString &tunnelName)
{
    return dataDirectory + u'/' + tunnelProfileFileName(tunnelName);
}

QString tunnelErrorPath(const QString &tunnelName)
{
    return serviceFilePath(tunnelName, u".error.dpapi"_s);
}

QString tunnelStatusPath(const QString &tunnelName)
{
    return serviceFilePath(tunnelName, u".status.dpapi"_s);
}

QString tunnelLogPath(const QString &tunnelName)
{
    return serviceFilePath(tunnelName, u".log.dpapi"_s);
}

QStringList optionSwitches(const TunnelOptions &options)
{
    QStringList switches;
    if (!options.reconnect) {
        switches.append(QLatin1String(noReconnectSwitch));
    }
    if (options.block) {
        switches.append(QLatin1String(blockSwitch));
        if (options.allowLocalNetwork) {
            switches.append(QLatin1String(allowLocalNetworkSwitch));
        }
    }
    return switches;
}

QString optionArguments(const TunnelOptions &options)
{
    QString arguments;
    for (const QString &option : optionSwitches(options)) {
        arguments += u' ' + option;
    }
    return arguments;
}

QString installArguments(const QString &tunnelName, const QString &profilePath,
                         const TunnelOptions &options)
{
    return u"--install "_s + tunnelName + u" \""_s + QDir::toNativeSeparators(profilePath) + u'"' +
           optionArguments(options);
}

QString stopArguments(const QString &tunnelName)
{
    return u"--stop %1"_s.arg(tunnelName);
}

QList<QUrl> connectivityCheckUrls()
{
    return {QUrl(u"https://www.gstatic.com/generate_204"_s),
            QUrl(u"https://cp.cloudflare.com/generate_204"_s)};
}

QByteArray serializeTunnelProfileFile(const QString &uri, quint16 proxyPort,
                                      const QString &proxyPassword)
{
    const QJsonObject file{
        {connectionKey, QJsonObject{{uriKey, uri}}},
        {proxyPortKey, int(proxyPort)},
        {proxyPasswordKey, proxyPassword},
    };
    return QJsonDocument(file).toJson(QJsonDocument::Compact);
}

std::optional<TunnelProfileFile> parseTunnelProfileFile(const QByteArray &plain)
{
    const QJsonDocument document = QJsonDocument::fromJson(plain);
    if (!document.isObject()) {
        return std::nullopt;
    }
    // The client writes exactly these members; anything else did not come from it.
    const QJsonObject object = document.object();
    const QJsonObject connection = object.value(connectionKey).toObject();
    if (!hasExactlyKeys(object, {connectionKey, proxyPasswordKey, proxyPortKey}) ||
        !hasExactlyKeys(connection, {uriKey})) {
        return std::nullopt;
    }
    TunnelProfileFile file;
    file.proxyPort = proxyPortOf(object.value(proxyPortKey));
    file.proxyPassword = object.value(proxyPasswordKey).toString();
    std::optional<TunnelProfile> profile = parseTunnelProfile(connection);
    if (!profile || file.proxyPort == 0 || !isValidProxyPassword(file.proxyPassword)) {
        if (profile) {
            wipeTunnelProfile(*profile);
        }
        wipeTunnelProfileFile(file);
        return std::nullopt;
    }
    file.profile = std::move(*profile);
    return file;
}

void wipeTunnelProfileFile(TunnelProfileFile &file)
{
    wipeTunnelProfile(file.profile);
    secretwipe::wipe(file.proxyPassword);
    file.proxyPort = 0;
}

} // namespace tunnelcontract
