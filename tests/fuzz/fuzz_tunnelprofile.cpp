// Feeds arbitrary bytes to the link validator, both as the text of "uri" and as a whole JSON
// document, and checks what an accepted profile promises to the rest of the system.
#include "common/engineconfiguration.h"
#include "common/tunnelprofile.h"
#include "fuzzrequire.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>

using namespace Qt::Literals::StringLiterals;

namespace {

void checkAccepted(const TunnelProfile &profile)
{
    require(profile.uri.size() <= 8192);
    require(profile.port >= 1 && profile.port <= 65535);
    require(profile.flow == u"xtls-rprx-vision");
    require(profile.endpoint.endsWith(u':' + QString::number(profile.port)));
    require(profile.publicKey.size() == 43);
    require(profile.shortId.size() >= 2 && profile.shortId.size() <= 16);
    for (const QString &field : {profile.host, profile.uuid, profile.serverName, profile.shortId}) {
        for (QChar c : field) {
            require(c.unicode() > 0x20 && c.unicode() < 0x7f);
        }
    }
    // The same link must give the same profile: the client and the service validate it apart.
    const std::optional<TunnelProfile> again =
        parseTunnelProfile(QJsonObject{{u"uri"_s, profile.uri}});
    require(again && again->endpoint == profile.endpoint && again->uuid == profile.uuid);

    const QByteArray document = buildEngineConfiguration(profile, 20808, u"solvikvpn"_s,
                                                         u"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35"_s);
    require(QJsonDocument::fromJson(document).isObject());
}

void check(const QJsonObject &connection)
{
    if (const std::optional<TunnelProfile> profile = parseTunnelProfile(connection)) {
        checkAccepted(*profile);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    check(QJsonObject{{u"uri"_s, QString::fromUtf8(bytes)}});
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (document.isObject()) {
        check(document.object());
    }
    return 0;
}
