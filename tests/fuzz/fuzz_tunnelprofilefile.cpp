// Feeds arbitrary bytes to the service's reading of a decrypted tunnel profile file and checks
// what an accepted file promises the service: a port it may probe, a password of the one
// accepted shape, a profile the engine configuration can be built from.
#include "common/engineconfiguration.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "fuzzrequire.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray plain(reinterpret_cast<const char *>(data), qsizetype(size));
    std::optional<tunnelcontract::TunnelProfileFile> file =
        tunnelcontract::parseTunnelProfileFile(plain);
    secretwipe::wipe(plain);
    if (!file) {
        return 0;
    }
    require(file->proxyPort >= tunnelcontract::minimumProxyPort);
    require(file->proxyPassword.size() == 36);
    for (QChar c : std::as_const(file->proxyPassword)) {
        require((c >= u'a' && c <= u'f') || (c >= u'0' && c <= u'9') || c == u'-');
    }
    // What the client would write for the accepted content reads back to the same values.
    QByteArray again = tunnelcontract::serializeTunnelProfileFile(
        file->profile.uri, file->proxyPort, file->proxyPassword);
    std::optional<tunnelcontract::TunnelProfileFile> reread =
        tunnelcontract::parseTunnelProfileFile(again);
    require(reread && reread->proxyPort == file->proxyPort &&
            reread->proxyPassword == file->proxyPassword &&
            reread->profile.endpoint == file->profile.endpoint);
    QByteArray configuration = buildEngineConfiguration(
        file->profile, file->proxyPort, QLatin1String(engineProbeProxyUser), file->proxyPassword);
    require(!configuration.isEmpty());
    secretwipe::wipe(configuration);
    secretwipe::wipe(again);
    tunnelcontract::wipeTunnelProfileFile(*reread);
    tunnelcontract::wipeTunnelProfileFile(*file);
    return 0;
}
