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

// The web application where plans are bought; a development backend pairs with the one running on
// this machine.
inline QUrl webApplication(bool production)
{
    return QUrl(production ? QStringLiteral("https://app.solvikvpn.com")
                           : QStringLiteral("http://127.0.0.1:3000"));
}

inline QUrl pricingPage(bool production)
{
    return webApplication(production).resolved(QUrl(QStringLiteral("/pricing")));
}

// Takes a web ticket in its fragment and signs the browser in.
inline QUrl webSignInPage(bool production)
{
    return webApplication(production).resolved(QUrl(QStringLiteral("/app-sign-in")));
}

} // namespace productlinks
