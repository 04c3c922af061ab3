#include "tunnel/tunnelprofilefile.h"

#include "common/secretwipe.h"
#include "platform/crypto.h"
#include "platform/processenvironment.h"
#include "platform/profilepath.h"
#include "platform/protectedfile.h"

TunnelProfileRead readTunnelProfileFile(const QString &tunnelName, const QString &path)
{
    TunnelProfileRead read;
    std::vector<std::uint8_t> blob;
    std::string owner;
    if (!tunnelcontract::isValidTunnelName(tunnelName) ||
        !platform::readLocalProfileFile(
            path.toStdString(), tunnelcontract::tunnelProfileFileName(tunnelName).toStdString(),
            platform::requestingAccount(), blob, owner)) {
        return read;
    }
    read.accepted = true;
    read.ownerAccount = QString::fromStdString(owner);
    std::vector<std::uint8_t> decrypted = platform::unprotectBlob(blob);
    platform::secureZero(blob);
    QByteArray plain(reinterpret_cast<const char *>(decrypted.data()), qsizetype(decrypted.size()));
    platform::secureZero(decrypted);
    read.content = tunnelcontract::parseTunnelProfileFile(plain);
    secretwipe::wipe(plain);
    return read;
}
