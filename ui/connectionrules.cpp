#include "ui/connectionrules.h"

#include "locations/serverlocation.h"
#include "vpn/connectionstate.h"

using namespace Qt::Literals::StringLiterals;

namespace {

using Phase = ConnectionState::Phase;

// The button names an operation under way as the status line does.
QString phaseText(Phase phase)
{
    return ConnectionState{phase}.statusText();
}

} // namespace

namespace connectionrules {

namespace {

bool needsSwitch(const CardState &state, const QString &selectedServerId)
{
    return state.running && !selectedServerId.isEmpty() &&
           selectedServerId != state.currentServerId;
}

} // namespace

QString connectButtonText(const CardState &state, const QString &selectedServerId)
{
    if (state.disconnecting) {
        return phaseText(Phase::Disconnecting);
    }
    if (state.connecting || state.busy) {
        return phaseText(Phase::Connecting);
    }
    if (needsSwitch(state, selectedServerId)) {
        return u"Switch server"_s;
    }
    if (state.running) {
        return u"Disconnect"_s;
    }
    return state.blocked ? u"Reconnect"_s : u"Connect"_s;
}

bool separateDisconnectShown(const CardState &state, const QString &selectedServerId)
{
    return (needsSwitch(state, selectedServerId) || state.blocked) && !state.disconnecting &&
           !state.connecting && !state.busy;
}

bool connectButtonEnabled(const CardState &state)
{
    return state.authenticated && !state.connecting && !state.busy && !state.disconnecting;
}

ConnectAction connectAction(const CardState &state, const QString &selectedServerId)
{
    const bool same =
        state.running && (selectedServerId.isEmpty() || selectedServerId == state.currentServerId);
    if (same) {
        return ConnectAction::Disconnect;
    }
    // A reconnect goes back to the server that dropped.
    if (state.blocked && selectedServerId.isEmpty()) {
        return ConnectAction::Connect;
    }
    return selectedServerId.isEmpty() ? ConnectAction::QuickConnect : ConnectAction::Connect;
}

QString connectedTimeText(qint64 seconds)
{
    const qint64 s = std::max<qint64>(seconds, 0);
    const auto padded = [](qint64 value) {
        return u"%1"_s.arg(qlonglong(value), 2, 10, QChar(u'0'));
    };
    if (s < 3600) {
        return u"Connected \u00b7 %1:%2"_s.arg(padded(s / 60), padded(s % 60));
    }
    if (s < 86400) {
        return u"Connected \u00b7 %1h %2m"_s.arg(s / 3600).arg(padded((s / 60) % 60));
    }
    return u"Connected \u00b7 %1d %2h"_s.arg(s / 86400).arg((s / 3600) % 24);
}

LocationTexts locationTexts(const ServerLocation &location, const QString &address)
{
    if (!location.known) {
        return {address, address, u"Location not provided"_s};
    }
    return {location.country, address,
            location.city.isEmpty() ? u"Approximate location"_s
                                    : location.city + u" \u00b7 approximate location"_s};
}

} // namespace connectionrules
