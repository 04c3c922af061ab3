#pragma once

#include <QString>
#include <QUrl>

// Which backend addresses the client may talk to, so that tokens and passwords never travel to a
// host or over a scheme the configuration does not allow.
namespace api {

// The backend base URL of the released service; the window stores it when no address is set.
QString productionBaseUrl();

// A base URL without path, query, fragment or user information: any HTTPS host; plain HTTP only
// to the loopback names and the production host, and never when `production` is set.
bool isAllowedApiUrl(const QUrl &url, bool production);

struct ApiConfiguration
{
    QString baseUrl;
    bool production = false;
};

// The backend address for this run, from the settings "apiUrl" and "production". An empty address
// or the development one ("http://127.0.0.1:3000") becomes the production address, which is
// stored back together with "production" = false, so a build never keeps talking to a developer's
// machine.
ApiConfiguration loadApiConfiguration();

} // namespace api
