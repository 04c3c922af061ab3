#include "vpn/connectionstate.h"

using namespace Qt::Literals::StringLiterals;

QString ConnectionState::statusText() const
{
    switch (phase) {
    case Phase::Unknown:
        return u"VPN status unknown"_s;
    case Phase::Connecting:
        return u"Connecting\u2026"_s;
    case Phase::Reconnecting:
        return attempt > 0 ? u"Reconnecting\u2026 (attempt %1)"_s.arg(attempt)
                           : u"Reconnecting\u2026"_s;
    case Phase::Connected:
        return u"Connected \u00b7 VLESS + REALITY"_s;
    case Phase::Disconnecting:
        return u"Disconnecting\u2026"_s;
    case Phase::Blocked:
        return u"Blocked: the VPN dropped. Internet access is held until you reconnect or "
               u"disconnect."_s;
    case Phase::NotConnected:
        break;
    }
    return u"Not connected"_s;
}
