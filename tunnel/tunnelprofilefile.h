#pragma once

#include "common/tunnelcontract.h"

#include <QString>

#include <optional>

// The privileged side's only way to read a tunnel profile file: decrypt, re-validate every
// member (the file crossed the privilege boundary), wipe the decrypted bytes. Nothing when the
// file is missing, unreadable, not decryptable or fails a rule. The caller wipes the result
// with tunnelcontract::wipeTunnelProfileFile.
std::optional<tunnelcontract::TunnelProfileFile> readTunnelProfileFile(const QString &path);
