#pragma once

#include <QByteArray>
#include <QString>

// Overwrites Qt buffers that held secrets (links, passwords, engine configuration, decrypted
// bytes) with zeros and empties them. A buffer still shared with another copy is detached
// first, so only this copy is zeroed: every holder wipes its own.
namespace secretwipe {

void wipe(QByteArray &bytes);
void wipe(QString &text);

} // namespace secretwipe
