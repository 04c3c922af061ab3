#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// A validated VLESS link over TCP secured with REALITY: the only shape of connection the
// client hands to the engine.
struct TunnelProfile
{
    QString uri;      // the link as received
    QString endpoint; // host:port, IPv6 hosts in brackets
    QString host;     // IP literal (IPv6 without brackets) or DNS name
    QString uuid;
    QString serverName;
    QString publicKey;
    QString shortId;
    QString fingerprint;
    QString flow;
    int port = 0;
};

// Reads the member "uri" of a profile's "connection" object and accepts it only when every
// rule holds. Pure: no I/O, no logging, no shared state.
std::optional<TunnelProfile> parseTunnelProfile(const QJsonObject &connection);

// Zeroes every text field; the link and the user id are credentials.
void wipeTunnelProfile(TunnelProfile &profile);
