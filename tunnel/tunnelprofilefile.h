#pragma once

#include "common/tunnelcontract.h"

#include <QString>

#include <optional>

// What the privileged side learns from a tunnel profile file.
struct TunnelProfileRead
{
    // The path passed every rule of its place and form; "--install" refuses it with 87 otherwise.
    bool accepted = false;
    // Who wrote the file: the account the tunnel error file is left for.
    QString ownerAccount;
    // The validated content; nothing when it cannot be decrypted or breaks a rule (13). The
    // caller wipes it with tunnelcontract::wipeTunnelProfileFile.
    std::optional<tunnelcontract::TunnelProfileFile> content;
};

// The privileged side's only way to read the tunnel profile file of `tunnelName`: opened once,
// judged on the open handle and read from it (platform::readLocalProfileFile; on POSIX it must
// belong to platform::requestingAccount(), or to its folder's owner when the service or root
// itself reads it), then decrypted and
// re-validated in full, for the file crossed the privilege boundary. The encrypted and decrypted
// bytes are wiped. The path is never opened again by whoever called this.
TunnelProfileRead readTunnelProfileFile(const QString &tunnelName, const QString &path);
