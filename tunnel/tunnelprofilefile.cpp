#include "tunnel/tunnelprofilefile.h"

#include "common/protectedstore.h"
#include "common/secretwipe.h"

std::optional<tunnelcontract::TunnelProfileFile> readTunnelProfileFile(const QString &path)
{
    QByteArray plain = protectedstore::readProtectedFile(path);
    std::optional<tunnelcontract::TunnelProfileFile> file =
        tunnelcontract::parseTunnelProfileFile(plain);
    secretwipe::wipe(plain);
    return file;
}
