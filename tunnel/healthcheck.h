#pragma once

#include "common/tunnelcontract.h"

#include <QList>
#include <QUrl>

// The last step of an installation, and of every start of the engine again by the service:
// proves the tunnel end to end by fetching a page that answers 204 through the engine's loopback
// probe proxy (SOCKS5 with user and password).
namespace healthcheck {

// The pages the check tries, in order: the built-in ones or, in test builds, those of the test
// switch SOLVIKVPN_CONNECTIVITY_CHECK_URLS (URLs separated by spaces), so tests can answer on
// loopback. Only http and https URLs on a loopback address are honoured there; a value that
// holds anything else gives no URL at all, so the check fails rather than reaching elsewhere.
QList<QUrl> checkUrls();

// Each page gets one GET with this transfer time-out.
inline constexpr int requestTimeoutMs = 12000;
// How often a check on a thread of its own looks whether the thread was asked to end.
inline constexpr int interruptionPollMs = 20;

// Goes through the probe proxy of the profile file the install or the service read (its port and
// password) and tries each page in order, without following redirects; true at the first that
// answers 204 without a network error. Runs a local event loop on the calling thread while each
// request is in flight; false at once when the thread is asked to end (QThread's interruption).
bool checkTunnelHealth(const tunnelcontract::TunnelProfileFile &profile);

} // namespace healthcheck
