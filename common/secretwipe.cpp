#include "common/secretwipe.h"

#include "platform/crypto.h"

namespace secretwipe {

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty()) {
        platform::secureZero(bytes.data(), static_cast<std::size_t>(bytes.size()));
    }
    bytes.clear();
}

void wipe(QString &text)
{
    if (!text.isEmpty()) {
        platform::secureZero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    }
    text.clear();
}

} // namespace secretwipe
