#pragma once

#include "devrecords.h"

#include <QJsonArray>
#include <QList>
#include <QString>

// Generated identifiers, secrets and the demo catalogue of the development backend.
namespace DevSeed {

// `count` usable servers spread round-robin over `countries` countries (at most the table's 16),
// plus, when asked, one disabled server and one of another protocol. Endpoints use documentation
// addresses (203.0.113.0/24, 198.51.100.0/24, 2001:db8::/32) and names under ".test".
QList<DevServer> servers(int count, int countries, bool unusable);
// Plan offers in cents: free, 30/90/365-day paid plans in USD and one EUR offer the client ignores.
QJsonArray plans();
QString freePlanId();
QString monthlyPlanId();

// URL-safe Base64 without padding of `bytes` random bytes (43 characters for 32 bytes).
QString randomToken(int bytes = 32);
// prefix + 24 lower-case hexadecimal digits, e.g. "usr_5f2c...".
QString randomId(const QString &prefix);
QString randomUuid();
// 2 to 16 hexadecimal digits (1 to 8 random bytes).
QString randomShortId();
QByteArray sha256(const QByteArray &bytes);

// vless://uuid@endpoint?security=reality&type=tcp&encryption=none&sni=..&pbk=..&sid=..&fp=..&flow=..#name
QString vlessLink(const DevServer &server, const DevProfile &profile);

} // namespace DevSeed
