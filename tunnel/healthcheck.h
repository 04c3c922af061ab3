#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// The last step of an installation: proves the tunnel end to end by fetching a page that
// answers 204 through the engine's loopback probe proxy (SOCKS5 with user and password).
namespace healthcheck {

// Set in the environment, replaces the built-in connectivity-check pages, so tests can answer
// on loopback. Only http and https URLs on a loopback address are honoured; a value that holds
// anything else gives no URL at all, so the check fails rather than reaching out elsewhere.
inline constexpr char urlOverrideVariable[] = "SOLVIKVPN_CONNECTIVITY_CHECK_URLS";

// The pages the check tries, in order: the built-in ones, or those of the override (URLs
// separated by spaces).
QList<QUrl> checkUrls();

// Each page gets one GET with this transfer time-out.
inline constexpr int requestTimeoutMs = 12000;

// Reads the tunnel profile file for the probe proxy's port and password and tries each page in
// order, without following redirects; true at the first that answers 204 without a network
// error. Runs a local event loop on the calling thread while each request is in flight.
bool checkTunnelHealth(const QString &profilePath);

} // namespace healthcheck
