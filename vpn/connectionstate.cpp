#include "vpn/connectionstate.h"

using namespace Qt::Literals::StringLiterals;

QString ConnectionState::statusText() const
{
    switch (phase) {
    case Phase::Unknown:
        return u"VPN status unknown"_s;
    case Phase::Connecting:
    // Nothing reports a reconnect yet; until it has words of its own it reads as a connect.
    case Phase::Reconnecting:
        return u"Connecting\u2026"_s;
    case Phase::Connected:
        return u"Connected \u00b7 VLESS + REALITY"_s;
    case Phase::Disconnecting:
        return u"Disconnecting\u2026"_s;
    case Phase::NotConnected:
    // Nothing reports a block yet; no tunnel carries traffic in it.
    case Phase::Blocked:
        break;
    }
    return u"Not connected"_s;
}
