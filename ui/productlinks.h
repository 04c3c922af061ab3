#pragma once

#include <QString>
#include <QUrl>

// The product's web addresses, named once.
namespace productlinks {

inline QUrl website()
{
    return QUrl(QStringLiteral("https://solvikvpn.com"));
}

// Shown beside the website button and under the sign-in form.
inline QString websiteHost()
{
    return website().host();
}

} // namespace productlinks
